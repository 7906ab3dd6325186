#pragma once
// Enumerating a folder, and looking up one path, as the program's find-first
// and find-next: "." and ".." are reported like any other entry, links are
// reported as links and never followed.

#include <memory>
#include <string>

#include "platform/files.h"

namespace plat {

enum class EntryKind { Unknown, File, Directory, Link, Other };

struct FindData {
  std::string name;  // the entry's name within its folder
  EntryKind kind = EntryKind::Unknown;  // from the folder itself, without a stat
  FileInfo info;     // from lstat: a link is reported as a link (see FolderEnum::next)
};

class FolderEnum {
 public:
  FolderEnum();
  ~FolderEnum();
  FolderEnum(const FolderEnum&) = delete;
  FolderEnum& operator=(const FolderEnum&) = delete;

  // Starts enumerating a folder; false (last error set) when it cannot be read.
  bool open(const std::string& folder);
  // The next entry; false at the end (or on failure, last error set). With
  // withInfo false only the name and kind are filled (kind may be Unknown on
  // some file systems); readInfo fills the rest later.
  bool next(FindData* out, bool withInfo = true);
  // Fills out->info (and a known kind) for an entry of this folder.
  bool readInfo(FindData* out);
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Find-first on one path: its information without following a final link;
// false when it does not exist.
bool findFirst(const std::string& path, FindData* out);

}  // namespace plat
