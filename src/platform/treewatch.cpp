#include "platform/treewatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace plat {
namespace {

// Names, sizes, last-write times (IN_ATTRIB also covers a time set with utimes).
constexpr uint32_t kChangeMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB;
constexpr uint32_t kSelfMask = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kWatchMask = kChangeMask | kSelfMask | IN_EXCL_UNLINK | IN_ONLYDIR;

bool isUnder(const std::string& path, const std::string& folder) {
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == '/');
}

}  // namespace

TreeWatch::TreeWatch() { wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

TreeWatch::~TreeWatch() {
  if (notifyFd_ >= 0) ::close(notifyFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool TreeWatch::open(const std::string& folder, int64_t changedSinceNs) {
  if (notifyFd_ >= 0 || wakeFd_ < 0 || folder.empty()) return false;
  notifyFd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (notifyFd_ < 0) return false;
  root_ = stripTrailingSlash(folder);
  // The folder itself may be reached through a symbolic link.
  rootWd_ = ::inotify_add_watch(notifyFd_, root_.c_str(), kWatchMask);
  if (rootWd_ < 0) {
    ::close(notifyFd_);
    notifyFd_ = -1;
    return false;
  }
  folders_[rootWd_] = root_;
  addTree(root_, changedSinceNs);
  return true;
}

bool TreeWatch::changedSince(const std::string& folder, int64_t ns) {
  auto after = [ns](const struct stat& st) {
    return static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec >= ns;
  };
  DIR* d = ::opendir(folder.c_str());
  if (!d) return false;
  struct stat st;
  bool changed = ::fstat(::dirfd(d), &st) == 0 && after(st);
  while (!changed) {
    struct dirent* e = ::readdir(d);
    if (!e) break;
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    changed = ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && after(st);
  }
  ::closedir(d);
  return changed;
}

// Watches every folder below `folder` (which is watched already).
void TreeWatch::addTree(const std::string& folder, int64_t changedSinceNs) {
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    std::string dir = std::move(pending.back());
    pending.pop_back();
    // The folder's watch is in place: what changed in it before is seen here.
    if (changedSinceNs >= 0 && !pending_) pending_ = changedSince(dir, changedSinceNs);
    DIR* d = ::opendir(dir.c_str());
    if (!d) continue;
    while (struct dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      std::string path = joinPath(dir, e->d_name);
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN) {
        struct stat st;
        isDir = ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      if (!isDir) continue;
      int wd = ::inotify_add_watch(notifyFd_, path.c_str(), kWatchMask | IN_DONT_FOLLOW);
      if (wd < 0) continue;  // e.g. out of watches: the rest of the tree still counts
      folders_[wd] = path;
      pending.push_back(std::move(path));
    }
    ::closedir(d);
  }
}

// A folder left the tree: its watches and those below it go.
void TreeWatch::removeTree(const std::string& folder) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->first != rootWd_ && isUnder(it->second, folder)) {
      ::inotify_rm_watch(notifyFd_, it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

bool TreeWatch::readEvents() {
  bool changed = false;
  alignas(struct inotify_event) char buf[16384];
  for (;;) {
    ssize_t n = ::read(notifyFd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: drained
    }
    if (n == 0) break;
    for (char* p = buf; p < buf + n;) {
      auto* ev = reinterpret_cast<struct inotify_event*>(p);
      p += sizeof(struct inotify_event) + ev->len;
      if (ev->mask & IN_Q_OVERFLOW) {
        // Events were lost, new folders among them perhaps: look again.
        changed = true;
        if (!gone_) addTree(root_);
        continue;
      }
      if (gone_) continue;
      auto it = folders_.find(ev->wd);
      if (it == folders_.end()) continue;  // a folder no longer in the tree
      if (ev->wd == rootWd_ && (ev->mask & (kSelfMask | IN_IGNORED))) {
        gone_ = true;
        changed = true;
        continue;
      }
      if (ev->mask & IN_IGNORED) {
        folders_.erase(it);
        continue;
      }
      if (!(ev->mask & kChangeMask)) continue;
      changed = true;
      if ((ev->mask & IN_ISDIR) && ev->len > 0) {
        std::string path = joinPath(it->second, ev->name);
        if (ev->mask & IN_MOVED_FROM) removeTree(path);
        if (ev->mask & (IN_CREATE | IN_MOVED_TO)) {
          int wd = ::inotify_add_watch(notifyFd_, path.c_str(), kWatchMask | IN_DONT_FOLLOW);
          if (wd >= 0) {
            folders_[wd] = path;
            addTree(path);
          }
        }
      }
    }
  }
  return changed;
}

TreeWatch::Result TreeWatch::wait() {
  if (notifyFd_ < 0 || wakeFd_ < 0) return Result::Failed;
  if (pending_) {
    pending_ = false;
    return Result::Changed;
  }
  for (;;) {
    struct pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {notifyFd_, POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Result::Failed;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
      }
      return Result::Woken;
    }
    if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) return Result::Failed;
    if ((fds[1].revents & POLLIN) && readEvents()) return Result::Changed;
    if (gone_) return Result::Failed;
  }
}

void TreeWatch::wake() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace plat
