#pragma once
// Progress of an engine run on standard error. On a terminal: one line that
// is redrawn in place, "[#####-----]  42%  Adding docs/a.txt...", with
// warnings printed above it. Otherwise every status text and warning is a
// plain line of its own, without percentages.
//
// Use: brc::Progress p; p.attach(engine); rc = Run(engine); p.finish();
// attach wires the engine's message, configuration-message, total-progress,
// file-progress and cancel-check callbacks; Ctrl+C (or SIGTERM) then sets the
// engine's cancel flag at its next check.

#include <string>

namespace archive {
class TCompress;
}

namespace brc {

class Progress {
 public:
  Progress();  // a bar when standard error is a terminal
  explicit Progress(bool terminal);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void attach(archive::TCompress& engine);

  // The current status text ("Adding x...").
  void status(const std::string& text);
  // A warning or error report: a line of its own.
  void warning(const std::string& text);
  // The whole run's percentage as the engine reports it (the value before
  // the current entry's work), and the current entry's percentage.
  void total(int percent);
  void file(int percent);
  // The overall percentage shown: the previous total plus the current
  // entry's share.
  int percent() const;
  // Clears the bar (on a terminal); further output starts on a clean line.
  void finish();

 private:
  void draw();
  void clearLine();

  bool terminal_;
  std::string status_;
  int previous_ = 0, current_ = 0, file_ = 0;
  int shownPercent_ = -1;
  std::string shownStatus_;
  bool drawn_ = false;
};

}  // namespace brc
