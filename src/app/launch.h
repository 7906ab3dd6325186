#pragma once
// What the desktop program does before it opens a window: answering --help
// and --version on the terminal (no display needed), and one clear line
// instead of the toolkit's report when no window system can be reached.

#include <optional>
#include <string>

// The text of --help.
std::string CommandLineHelp();

// --help (-h) or --version among the arguments: prints the answer and gives
// the exit status 0; otherwise nothing.
std::optional<int> AnswerInfoOptions(int argc, char** argv);

// When no window system is named (no DISPLAY, no WAYLAND_DISPLAY, no
// QT_QPA_PLATFORM such as "offscreen"): prints one line saying so and gives
// the exit status 1; otherwise nothing.
std::optional<int> RefuseWithoutDisplay();

// Held while the application object connects to the window system: when
// that fails, prints one line naming the cause and ends the process with
// status 1. Other messages of that moment are passed on when it ends.
class DisplayFailureGuard {
 public:
  DisplayFailureGuard();
  ~DisplayFailureGuard();
  DisplayFailureGuard(const DisplayFailureGuard&) = delete;
  DisplayFailureGuard& operator=(const DisplayFailureGuard&) = delete;
};
