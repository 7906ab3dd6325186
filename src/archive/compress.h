#pragma once
// The archive engine object. One exists per open briefcase; the update engine
// (adding, replacing and deleting entries) and the extraction engine (listing
// and unloading) both work on it. It carries the container's path, the
// compression level, the end record with the configuration comment, and the
// callbacks through which a run talks to the window or the terminal.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/aes.h"
#include "archive/deletions.h"
#include "archive/extract/state.h"
#include "archive/layout.h"
#include "archive/update/state.h"

namespace archive {

// Callbacks of a run; each is skipped when not set.
struct TCompressCallbacks {
  // Progress texts ("Starting...", "Adding %s...") and some warnings.
  std::function<void(const std::string&)> message;
  // Warnings and error reports.
  std::function<void(const std::string&)> configMessage;
  // Percent 0-100 of the whole run, and of the current entry or copy.
  std::function<void(int)> totalProgress;
  std::function<void(int)> fileProgress;
  // Called before each entry; setting the flag cancels the run.
  std::function<void(bool& cancel)> cancelCheck;
  // Called just before the end record is written, so that the comment holds
  // the current configuration.
  std::function<void()> configRefresh;
  // The container cannot be written / opened; setting abort ends the run.
  std::function<void(const std::string& path, bool& abort)> writeProtected;
  std::function<void(bool& abort)> openFailed;
};

class TCompress {
 public:
  TCompress();
  virtual ~TCompress();

  // ---- parameters shared by both engines ----
  std::string archivePath;         // the container file
  int level = 6;                   // 0 stores every entry; 1-9 deflate
  std::vector<std::string> names;  // the names to add, replace, delete or unload
  bool cancelled = false;          // the cancel flag, set through cancelCheck
  TCompressCallbacks callbacks;

  void ClearNames() { names.clear(); }
  // Appends a name; returns the new count.
  size_t AddName(const std::string& name) {
    names.push_back(name);
    return names.size();
  }
  void ClearCancel() { cancelled = false; }

  // ---- each engine's own parameters and run state ----
  TUpdateState update;
  TExtractState extract;

  // ---- the end record and its comment (the configuration text) ----
  TEndCentralRecord endRecord;
  std::vector<uint8_t> comment;

  // ---- the deletions the container carries (archive/deletions.h) ----
  // Unset: an update run, a compaction or a clear keeps the rows that the
  // container carries. Set: the next of them writes exactly these rows
  // (sorted by path first; an empty list writes no block) and, once the
  // container holds them, resets the field. Rows that cannot be written
  // fail that run with kBadParameters before anything is written. A
  // configuration save always keeps the rows the container carries.
  std::optional<std::vector<DeletionRow>> deletions;

  // ---- encryption (archive/aes.h) ----
  // Set: every entry an update run writes from a local file is encrypted
  // with it (entries copied keep their bytes), and the unload and the test
  // decrypt encrypted entries with it. Unset: new entries are plain, and
  // encrypted ones are left out. Held in memory only, wiped when it goes.
  std::optional<aes::Password> password;
  // Set: the next update run, compaction or clear carries this password
  // check (archive/deletions.h) and, once the container holds it, resets the
  // field; unset: they carry the container's.
  std::optional<PasswordCheck> newPasswordCheck;

  // Creates the 22-byte empty container at archivePath (replacing a file
  // there) and resets the end record to the empty one. False when the file
  // cannot be created.
  bool createEmpty();

  // Opens the container for reading and loads its end record and comment,
  // after undoing an interrupted append (appendUndone then tells, so that the
  // front end says so once). Result: an engine code (0, 13, 23 when it
  // cannot be opened, 30, 12 ...).
  int readEndRecord();
  bool appendUndone = false;

  // Writes the current comment into the container: a new directory and end
  // record after its end where it can be appended to, else its end record
  // in place (through the held lock, when the engine holds one: HoldLock).
  int rewriteComment();

  // Sends a text to the message or the configuration-message callback.
  void sendMessage(const std::string& text) const;
  void sendConfigMessage(const std::string& text) const;
};

}  // namespace archive
