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
  bool moved = false;        // moved there (keepInTrash), not linked
};

enum class TrashResult {
  Done,
  NoTrash,  // no trash can be used on the file's file system
  Failed,   // the file could not be put there (lastError tells why)
};

// Keeps the regular file `path` in the trash before it is replaced: as a
// second name (a hard link), leaving the file where it is, so that at no
// moment is the old content without a name; where the file cannot be linked
// (file systems without hard links), by moving it there, so that the caller
// then names the new file where nothing is any more (out->moved). Either way
// a kill leaves the old content under its name or in the trash.
TrashResult keepInTrash(const std::string& path, TrashedFile* out = nullptr);

// Takes back a keepInTrash whose replacement did not happen: a linked copy
// (the trashed name and the original still one file) leaves the trash; a
// moved file goes back under its name when that is still free. Its
// .trashinfo goes too. True when it was withdrawn.
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
