#pragma once
// Putting one local file in place so that a run stopped at any moment (an
// error, a full disk, a kill) leaves the old file or the new one under its
// name, never a part of either, and nothing else in the user's folder.
//
//   begin    - a new file in the target's own folder: unnamed where the file
//              system allows it (it vanishes with the process), else under a
//              temporary name of our own (see below);
//   file     - the caller writes the data and sets its mode and times;
//   commit   - makes it durable when it replaces a file, and gives it the
//              target's name: a new file takes the name in one step; a file
//              that replaces another (or a link) is named as a temporary file
//              first and then renamed over the old one;
//   rollback - removes the new file; the old one stays as it was.
// A step that keeps the old file (a copy in the trash) is commit's
// beforeReplace, just before the rename: a kill there must still leave the
// old file under its name, so such a step copies or links it, never moves it.
//
// Temporary names are our unload temporaries (archive/leftovers.h): before a
// folder is first written in a run, what a killed run left there under such
// a name is removed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/files.h"

namespace archive {

class LocalFileWriter {
 public:
  LocalFileWriter() = default;
  ~LocalFileWriter() { rollback(); }
  LocalFileWriter(const LocalFileWriter&) = delete;
  LocalFileWriter& operator=(const LocalFileWriter&) = delete;

  // Starts the new file for `target`. `swept` holds the folders already
  // cleared of leftovers in this run. False (last error set) when no file
  // can be made in the target's folder.
  bool begin(const std::string& target, std::unordered_set<std::string>* swept);
  // What begin does first with `swept`: clears the target's folder of
  // leftovers once per run (for a caller that begins on another thread).
  static void sweep(const std::string& target, std::unordered_set<std::string>* swept);
  plat::File* file() { return out_.get(); }

  // Puts the file in place; `existing` says whether something is at the
  // target now (it is replaced; a link is replaced itself, never written
  // through), `durable` whether the data must be on the disk first. On
  // success *written receives the file's identity. False (last error set):
  // the target is as it was and the new file is gone.
  // `beforeReplace`, when set, runs just before an existing file is replaced.
  bool commit(bool existing, bool durable, plat::FileInfo* written,
              const std::function<void()>& beforeReplace = nullptr);

  void rollback();

 private:
  static std::string folderOf(const std::string& target);
  std::string target_;
  std::string folder_;
  std::string tempPath_;  // the new file's temporary name, when it has one
  std::unique_ptr<plat::File> out_;
  bool unnamed_ = false;
};

}  // namespace archive
