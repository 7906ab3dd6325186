#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iostream>

namespace plat {
namespace {
volatile sig_atomic_t interrupted = 0;
void onSignal(int) { interrupted = 1; }
}  // namespace

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int terminalColumns() {
  struct winsize ws {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

bool readLine(std::string* out) { return static_cast<bool>(std::getline(std::cin, *out)); }

bool readSecretLine(const std::string& prompt, std::string* out) {
  constexpr size_t kMaxLine = 4096;
  out->clear();
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  termios before{};
  const bool isTerminal = tcgetattr(tty, &before) == 0;
  if (isTerminal) {
    termios quiet = before;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  bool ok = ::write(tty, prompt.data(), prompt.size()) == static_cast<ssize_t>(prompt.size());
  // A byte at a time: nothing after the line is taken.
  while (ok) {
    char c = 0;
    const ssize_t n = ::read(tty, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = n == 0 && !out->empty();
    if (n <= 0 || c == '\n') break;
    if (out->size() == kMaxLine)
      ok = false;
    else
      out->push_back(c);
  }
  if (isTerminal) tcsetattr(tty, TCSAFLUSH, &before);
  ::close(tty);
  if (!out->empty() && out->back() == '\r') out->pop_back();
  if (!ok) {
    std::fill(out->begin(), out->end(), '\0');
    out->clear();
  }
  return ok;
}

void installInterruptFlag() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);  // the terminal closed
}

bool interruptRequested() { return interrupted != 0; }
void clearInterrupt() { interrupted = 0; }

}  // namespace plat
