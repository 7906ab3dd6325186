#pragma once
// The desktop's trash (the freedesktop.org layout), so that a file the
// program replaces or deletes can be restored from any file manager.
//
// A file goes into the trash of its own file system: the home trash
// ($XDG_DATA_HOME/Trash, default ~/.local/share/Trash) when it lives on the
// same file system, else $topdir/.Trash/$uid (when $topdir/.Trash is a real
// folder with the sticky bit) or $topdir/.Trash-$uid, $topdir being the
// mount point. Each trashed file gets a unique name in files/ and, reserved
// first (created exclusively), info/NAME.trashinfo with its original absolute
// path (percent-encoded) and the deletion date in local time. Nothing is
// synced file by file: a caller that trashed files syncs their file system
// once when it is done.

#include <string>

namespace plat {

// Where a trashed file went.
struct TrashedFile {
  std::string originalPath;  // where the file was
  std::string trashedPath;   // the file's path inside the trash's files/
  std::string infoPath;      // its .trashinfo
};

enum class TrashResult {
  Done,
  NoTrash,  // no trash can be used on the file's file system
  Failed,   // the file could not be put there (lastError tells why)
};

// Puts a second name for the regular file `path` into the trash (a hard
// link), leaving the file where it is. The caller then renames the new file
// over `path`: at no moment is the old content without a name.
TrashResult linkIntoTrash(const std::string& path, TrashedFile* out = nullptr);

// Takes back a linkIntoTrash whose replacement did not happen: when the
// trashed name and the original are still one file, the trash's name and
// its .trashinfo are removed. True when it was withdrawn.
bool withdrawFromTrash(const TrashedFile& trashed);

// Moves `path` (a file, a link or a folder) into the trash.
TrashResult moveToTrash(const std::string& path, TrashedFile* out = nullptr);

// The trash folder (holding files/ and info/) that would take `path`, made
// when missing; "" when none can be used.
std::string trashFolderFor(const std::string& path);

// The Path= value of a .trashinfo: every byte outside the unreserved URI
// characters and '/' as %XX.
std::string trashInfoPath(const std::string& absolutePath);

}  // namespace plat
