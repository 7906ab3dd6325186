#include "brc/progress.h"

#include <algorithm>
#include <iostream>

#include "archive/compress.h"
#include "platform/terminal.h"

namespace brc {
namespace {

std::string trimLineEnds(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  while (!s.empty() && (s.front() == '\n' || s.front() == '\r')) s.erase(s.begin());
  return s;
}

}  // namespace

Progress::Progress() : Progress(plat::stderrIsTerminal()) {}
Progress::Progress(bool terminal) : terminal_(terminal) {}
Progress::~Progress() { finish(); }

void Progress::attach(archive::TCompress& engine) {
  plat::installInterruptFlag();
  engine.callbacks.message = [this](const std::string& s) { status(s); };
  engine.callbacks.configMessage = [this](const std::string& s) { warning(s); };
  engine.callbacks.totalProgress = [this](int p) { total(p); };
  engine.callbacks.fileProgress = [this](int p) { file(p); };
  engine.callbacks.cancelCheck = [](bool& cancel) {
    if (plat::interruptRequested()) cancel = true;
  };
}

void Progress::status(const std::string& text) {
  status_ = trimLineEnds(text);
  if (terminal_) {
    draw();
  } else if (!status_.empty()) {
    std::cerr << (status_ + "\n");
  }
}

void Progress::warning(const std::string& text) {
  std::string t = trimLineEnds(text);
  if (t.empty()) return;
  if (terminal_) clearLine();
  std::cerr << (t + "\n");
  if (terminal_ && drawn_) {
    shownPercent_ = -1;
    draw();
  }
}

void Progress::total(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == 0) previous_ = current_ = 0;
  previous_ = current_;
  current_ = percent;
  file_ = 0;
  if (terminal_) draw();
}

void Progress::file(int percent) {
  file_ = std::clamp(percent, 0, 100);
  if (terminal_) draw();
}

int Progress::percent() const { return previous_ + file_ * (current_ - previous_) / 100; }

void Progress::draw() {
  int pct = percent();
  if (pct == shownPercent_ && status_ == shownStatus_) return;
  shownPercent_ = pct;
  shownStatus_ = status_;
  const int columns = std::max(20, plat::terminalColumns() - 1);
  const int barWidth = 20;
  int filled = pct * barWidth / 100;
  std::string line = "[";
  line.append(filled, '#').append(barWidth - filled, '-').append("] ");
  std::string num = std::to_string(pct) + "%";
  line += std::string(4 - std::min<size_t>(4, num.size()), ' ') + num + "  " + status_;
  if (static_cast<int>(line.size()) > columns) {
    size_t cut = static_cast<size_t>(columns);
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
  }
  std::cerr << "\r" << line << "\x1b[K" << std::flush;
  drawn_ = true;
}

void Progress::clearLine() {
  if (drawn_) std::cerr << "\r\x1b[K" << std::flush;
}

void Progress::finish() {
  if (terminal_ && drawn_) {
    clearLine();
    drawn_ = false;
  }
}

}  // namespace brc
