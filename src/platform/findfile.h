#pragma once
// Enumerating a folder, and looking up one path, as the program's find-first
// and find-next: "." and ".." are reported like any other entry, links are
// reported as links and never followed.

#include <memory>
#include <string>

#include "platform/files.h"

namespace plat {

struct FindData {
  std::string name;  // the entry's name within its folder
  FileInfo info;     // from lstat: a link is reported as a link
};

class FolderEnum {
 public:
  FolderEnum();
  ~FolderEnum();
  FolderEnum(const FolderEnum&) = delete;
  FolderEnum& operator=(const FolderEnum&) = delete;

  // Starts enumerating a folder; false (last error set) when it cannot be read.
  bool open(const std::string& folder);
  // The next entry; false at the end (or on failure, last error set).
  bool next(FindData* out);
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Find-first on one path: its information without following a final link;
// false when it does not exist.
bool findFirst(const std::string& path, FindData* out);

}  // namespace plat
