#pragma once
// Undoing the last unload of a briefcase on this computer, for both front
// ends: every file it replaced comes back from the trash, every file it made
// goes to the trash, and every entry its removal took from the briefcase is
// loaded back from the file it wrote (which still holds those bytes) before
// that file goes. A file changed since the unload is never undone over: it
// stays, and is named. The undo is journalled beside the carry record, so
// that an undo killed half-way is finished by the next one; it is possible
// until the next load or unload of the briefcase into this folder.

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace archive {
class TCompress;
}

namespace app {

// Why the last unload of the briefcase into `localFolder` cannot be undone
// ("" when it can): the hint a disabled Undo Unload shows.
std::string WhyNoUndo(const std::string& briefcasePath, const std::string& localFolder);

struct UndoRequest {
  std::string localFolder;
  // Rebuilds the configuration record into the engine's comment, for the
  // run that loads entries back.
  std::function<void()> storeConfiguration;
  // How long to wait for another run to let go of the briefcase.
  std::chrono::milliseconds lockWait{0};
};

enum class UndoOutcome {
  Undone,         // everything was put back (some files may have stayed: UndoResult::kept)
  NothingToUndo,  // no unload to undo (WhyNoUndo tells why)
  FolderMissing,  // the local folder is not there
  BriefcaseBusy,  // another run holds the briefcase
  Failed,         // the entries could not be loaded back: no file was touched
  Incomplete,     // a file could not be put back; a second undo goes on
};

struct UndoResult {
  int code = 0;  // the result code (0, or the engine's or the file system's)
  UndoOutcome outcome = UndoOutcome::NothingToUndo;
  std::vector<std::string> restored;  // files back from the trash (relative paths)
  std::vector<std::string> trashed;   // files the unload made, now in the trash
  std::vector<std::string> reloaded;  // entries back in the briefcase
  // Files that stay as they are, and why (changed since the unload, ...).
  std::vector<std::pair<std::string, std::string>> kept;
  std::string reason;  // NothingToUndo, Failed, Incomplete: why
  std::string carryWarning;
};

UndoResult UndoUnload(archive::TCompress& engine, const UndoRequest& request);

// The lines that report an undo: what it put back, and each file it kept.
std::vector<std::string> UndoReport(const UndoResult& result);

}  // namespace app
