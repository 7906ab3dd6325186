#include "platform/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/mountinfo.h"
#include "platform/paths.h"

namespace plat {
namespace {

bool lstatOf(const std::string& path, struct stat* st) { return ::lstat(path.c_str(), st) == 0; }

// A folder of ours: a real folder (not a link) owned by this user; made with
// mode 0700 when missing.
bool ownFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  return lstatOf(path, &st) && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// A trash folder with its files/ and info/ in place.
bool usableTrash(const std::string& trash) {
  return ownFolder(trash) && ownFolder(trash + "/files") && ownFolder(trash + "/info");
}

// The device of the nearest existing folder of `path`.
bool deviceOf(std::string path, dev_t* dev) {
  struct stat st;
  while (!path.empty()) {
    if (::stat(path.c_str(), &st) == 0) {
      *dev = st.st_dev;
      return true;
    }
    if (path == "/") break;
    std::string parent = parentFolder(path);
    path = parent.empty() ? "/" : parent;
  }
  return false;
}

std::string deletionDate() {
  std::time_t now = std::time(nullptr);
  struct tm lt {};
  localtime_r(&now, &lt);
  char buf[64];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &lt) == 0) return std::string();
  return buf;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file's absolute path with its folder's links resolved (the name itself
// is kept, so a link is trashed as a link).
std::string absoluteOriginal(const std::string& path) {
  std::string folder = parentFolder(path);
  if (folder.empty()) folder = currentFolder();
  char* real = ::realpath(folder.c_str(), nullptr);
  if (!real) return path;
  std::string out = joinPath(real, fileNamePart(path));
  ::free(real);
  return out;
}

// Reserves a name in the trash (its .trashinfo, created exclusively) and
// hands the file in with `put` (link or rename). Tries further names while
// the name is taken in files/.
template <typename Put>
TrashResult intoTrash(const std::string& path, TrashedFile* out, Put put) {
  const std::string trash = trashFolderFor(path);
  if (trash.empty()) return TrashResult::NoTrash;
  const std::string original = absoluteOriginal(path);
  const std::string info =
      "[Trash Info]\nPath=" + trashInfoPath(original) + "\nDeletionDate=" + deletionDate() + "\n";
  const std::string base = fileNamePart(original);
  for (int n = 1; n < 10000; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    const std::string infoPath = trash + "/info/" + name + ".trashinfo";
    int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return TrashResult::Failed;
    }
    bool ok = writeAll(fd, info);
    ok = ::close(fd) == 0 && ok;
    const std::string target = trash + "/files/" + name;
    if (ok && put(target)) {
      if (out) *out = TrashedFile{path, target, infoPath};
      return TrashResult::Done;
    }
    const int err = errno;
    ::unlink(infoPath.c_str());
    if (ok && err == EEXIST) continue;  // a file without its info: take the next name
    setLastError(err);
    return err == EXDEV ? TrashResult::NoTrash : TrashResult::Failed;
  }
  setLastError(EEXIST);
  return TrashResult::Failed;
}

}  // namespace

std::string trashInfoPath(const std::string& absolutePath) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : absolutePath) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string trashFolderFor(const std::string& path) {
  dev_t fileDev;
  const std::string folder = parentFolder(absoluteOriginal(path));
  if (!deviceOf(folder.empty() ? "/" : folder, &fileDev)) return std::string();

  // The home trash, when it lives on the file's file system.
  const std::string home = dataHome() + "/Trash";
  dev_t homeDev;
  if (deviceOf(home, &homeDev) && homeDev == fileDev) {
    if (makePath(dataHome()) && usableTrash(home)) return home;
    return std::string();
  }

  // The file system's own trash at its mount point.
  const std::string top = mountRoot(folder);
  if (top.empty()) return std::string();
  const std::string uid = std::to_string(::getuid());
  const std::string shared = joinPath(top, ".Trash");
  struct stat st;
  if (lstatOf(shared, &st) && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
    const std::string mine = shared + "/" + uid;
    if (usableTrash(mine)) return mine;
  }
  const std::string own = joinPath(top, ".Trash-" + uid);
  dev_t ownDev;
  if (usableTrash(own) && deviceOf(own, &ownDev) && ownDev == fileDev) return own;
  return std::string();
}

namespace {

// Renames `from` to the trash name `to` that its .trashinfo reserved:
// without replacing where the file system can say so, else after looking
// (the reservation keeps every program that follows the trash's rules away
// from the name).
bool renameToFreeName(const std::string& from, const std::string& to) {
  if (renameKeepingTimes(from, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  struct stat st;
  if (lstatOf(to, &st)) {
    errno = EEXIST;
    return false;
  }
  return renameKeepingTimes(from, to, 0) == 0;
}

// A link that fails because the file system (or the file) allows none.
bool noLinksHere(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK;
}

}  // namespace

TrashResult keepInTrash(const std::string& path, TrashedFile* out) {
  bool linkable = true;
  TrashResult r = intoTrash(path, out, [&](const std::string& target) {
    if (::link(path.c_str(), target.c_str()) == 0) return true;
    if (noLinksHere(errno)) linkable = false;
    return false;
  });
  if (r != TrashResult::Failed || linkable) return r;
  r = intoTrash(path, out, [&](const std::string& target) { return renameToFreeName(path, target); });
  if (r == TrashResult::Done && out) out->moved = true;
  return r;
}

bool withdrawFromTrash(const TrashedFile& trashed) {
  struct stat a, b;
  if (!lstatOf(trashed.trashedPath, &a)) return false;
  if (trashed.moved) {
    // Back under its name, only while nothing else has taken it.
    if (lstatOf(trashed.originalPath, &b) || !renameToFreeName(trashed.trashedPath, trashed.originalPath))
      return false;
  } else {
    if (!lstatOf(trashed.originalPath, &b) || a.st_dev != b.st_dev || a.st_ino != b.st_ino) return false;
    ::unlink(trashed.trashedPath.c_str());
  }
  ::unlink(trashed.infoPath.c_str());
  return true;
}

TrashResult moveToTrash(const std::string& path, TrashedFile* out) {
  TrashResult r = intoTrash(path, out, [&](const std::string& target) { return renameToFreeName(path, target); });
  if (r == TrashResult::Done && out) out->moved = true;
  return r;
}

}  // namespace plat
