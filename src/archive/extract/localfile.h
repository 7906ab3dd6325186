#pragma once
// Putting one local file in place so that a run stopped at any moment (an
// error, a full disk, a kill) leaves the old file or the new one under its
// name, never a part of either, and nothing else in the user's folder that
// the next run there does not remove (platform/unnamed.h's NewFile does the
// naming, on every file system):
//
//   begin    - a new file in the target's own folder: unnamed where the file
//              system allows it (it vanishes with the process), else under a
//              temporary name of our own;
//   file     - the caller writes the data and sets its mode and times;
//   commit   - makes it durable when it replaces a file, and gives it the
//              target's name: a new file takes a free name without ever
//              replacing one that appeared meanwhile; a file that replaces
//              another (or a link) is named as a temporary file first and
//              then renamed over the old one;
//   rollback - removes the new file; the old one stays as it was.
// A step that keeps the old file (a copy in the trash) is commit's
// beforeReplace, just before the rename. It either keeps the old file under
// its name (a link in the trash: the rename then replaces it), or moves it
// away (into the trash, where the file system has no links: the new file
// then takes the free name, and a kill in between leaves the old file in the
// trash and the new one a leftover), or asks that it stay.
//
// Temporary names are our unload temporaries (archive/leftovers.h): before a
// folder is first written in a run, what a killed run left there is removed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/unnamed.h"

namespace archive {

// What the step before a replacement did with the old file.
enum class OldFile {
  Stays,      // still under its name: the new file is renamed over it
  MovedAway,  // no longer there: the new file takes the free name
  KeepIt,     // not to be replaced: the new file is dropped
};

class LocalFileWriter {
 public:
  LocalFileWriter() = default;
  LocalFileWriter(const LocalFileWriter&) = delete;
  LocalFileWriter& operator=(const LocalFileWriter&) = delete;

  // Starts the new file for `target`. `run` holds what the run learnt about
  // its folders (each cleared of leftovers once per run). False (last error
  // set) when no file can be made in the target's folder.
  bool begin(const std::string& target, plat::RunFolders* run);
  // What begin does first with `run`: clears the target's folder of
  // leftovers once per run (for a caller that begins on another thread).
  static void sweep(const std::string& target, plat::RunFolders* run);
  plat::File* file() { return out_.file(); }

  // Puts the file in place; `existing` says whether something is at the
  // target now (it is replaced; a link is replaced itself, never written
  // through), `durable` whether the data must be on the disk first. On
  // success *written receives the file's identity. False (last error set):
  // the target is as it was and the new file is gone; ECANCELED when
  // `beforeReplace` asked that the old file stay.
  // `beforeReplace`, when set, runs just before an existing file is replaced.
  bool commit(bool existing, bool durable, plat::FileInfo* written,
              const std::function<OldFile()>& beforeReplace = nullptr);

  void rollback() { out_.rollback(); }

 private:
  static std::string folderOf(const std::string& target);
  std::string target_;
  plat::NewFile out_;
};

}  // namespace archive
