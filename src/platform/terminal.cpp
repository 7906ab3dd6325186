#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
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
