#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/errors.h"
#include "platform/paths.h"

namespace plat {

int renameKeepingTimes(const std::string& from, const std::string& to, unsigned flags) {
  struct stat before;
  const bool regular = ::lstat(from.c_str(), &before) == 0 && S_ISREG(before.st_mode);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) != 0) return -1;
  struct stat after;
  if (regular && ::lstat(to.c_str(), &after) == 0 && S_ISREG(after.st_mode) &&
      after.st_size == before.st_size &&
      (after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
       after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)) {
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    const int err = errno;
    ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
    errno = err;
  }
  return 0;
}

bool File::readAt(uint64_t, void*, size_t, size_t* got) {
  *got = 0;
  setLastError(ENOTSUP);
  return false;
}

namespace {

bool fail() {
  setLastError(errno);
  return false;
}

FileTime toFileTime(const struct statx_timestamp& t) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(t.tv_sec);
  ts.tv_nsec = static_cast<long>(t.tv_nsec);
  return fileTimeFromTimespec(ts);
}

void fillInfo(const struct statx& sx, const std::string& name, FileInfo* out) {
  out->size = sx.stx_size;
  out->writeTime = toFileTime(sx.stx_mtime);
  out->accessTime = toFileTime(sx.stx_atime);
  out->hasBirthTime = (sx.stx_mask & STATX_BTIME) != 0;
  out->creationTime = out->hasBirthTime ? toFileTime(sx.stx_btime) : out->writeTime;
  out->mode = sx.stx_mode & 07777;
  out->isDirectory = S_ISDIR(sx.stx_mode);
  out->isSymlink = S_ISLNK(sx.stx_mode);
  out->isRegular = S_ISREG(sx.stx_mode);
  out->device = static_cast<uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
  out->inode = sx.stx_ino;
  out->links = sx.stx_nlink;
  uint32_t a = 0;
  if (!(sx.stx_mode & S_IWUSR)) a |= kAttrReadOnly;
  std::string base = fileNamePart(name);
  if (!base.empty() && base[0] == '.' && base != "." && base != "..") a |= kAttrHidden;
  if (out->isDirectory)
    a |= kAttrDirectory;
  else
    a |= kAttrArchive;
  out->attributes = a;
}

timespec toTimespec(const FileTime* ft) {
  if (!ft) {
    timespec ts{};
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  return timespecFromFileTime(*ft);
}

// The access and write times to set, a time not given keeping its value.
// Both are always passed: FUSE file systems of removable disks (exFAT, FAT)
// ignore a write time whose access time is omitted, and would leave the
// time of the last write in place while reporting success.
// `current` reads the file's times (false: the omitted one stays omitted).
template <typename Current>
void timesToSet(const FileTime* access, const FileTime* write, timespec ts[2], Current current) {
  ts[0] = toTimespec(access);
  ts[1] = toTimespec(write);
  if ((access == nullptr) == (write == nullptr)) return;
  struct stat st;
  if (!current(&st)) return;
  if (!access) ts[0] = st.st_atim;
  if (!write) ts[1] = st.st_mtim;
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool read(void* buf, size_t n, size_t* got) override {
    char* p = static_cast<char*>(buf);
    return readAll(n, got, [&](size_t done) { return ::read(fd_, p + done, n - done); });
  }

  bool readAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    char* p = static_cast<char*>(buf);
    return readAll(n, got, [&](size_t done) {
      return ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    });
  }

  bool write(const void* buf, size_t n, size_t* put) override {
    size_t done = 0;
    const char* p = static_cast<const char*>(buf);
    while (done < n) {
      ssize_t r = ::write(fd_, p + done, n - done);
      if (r < 0) {
        if (errno == EINTR) continue;
        *put = done;
        return fail();
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    *put = done;
    if (done < n) setLastError(ENOSPC);
    return true;
  }

  bool seek(int64_t distance, Origin origin, uint64_t* newPos) override {
    int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fd_, static_cast<off_t>(distance), whence);
    if (r < 0) return fail();
    if (newPos) *newPos = static_cast<uint64_t>(r);
    return true;
  }

  bool size(uint64_t* out) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return fail();
    *out = static_cast<uint64_t>(st.st_size);
    return true;
  }

  // Cut only where something lies beyond the position: some drivers refuse
  // ftruncate on a file that already has the size asked for, which is no
  // failure.
  bool truncateHere() override {
    off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    if (pos < 0) return fail();
    struct stat st;
    if (::fstat(fd_, &st) == 0 && st.st_size == pos) return true;
    if (::ftruncate(fd_, pos) == 0) return true;
    const int err = errno;
    if (::fstat(fd_, &st) == 0 && st.st_size == pos) return true;
    setLastError(err);
    return false;
  }

  bool sync() override { return ::fsync(fd_) == 0 || fail(); }

  void forgetCached() override { ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED); }

  bool lockExclusive() override { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0 || fail(); }

  bool info(FileInfo* out) override {
    struct statx sx;
    if (::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return fail();
    fillInfo(sx, path_, out);
    return true;
  }

  bool setTimes(const FileTime*, const FileTime* access, const FileTime* write) override {
    timespec ts[2];
    timesToSet(access, write, ts, [this](struct stat* st) { return ::fstat(fd_, st) == 0; });
    return ::futimens(fd_, ts) == 0 || fail();
  }

  bool setMode(uint32_t mode) override {
    return ::fchmod(fd_, static_cast<mode_t>(mode & 07777)) == 0 || fail();
  }

  bool close() override {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) return fail();
    return true;
  }

 private:
  // Up to n bytes, one piece after another until the end of the file.
  template <typename ReadSome>
  static bool readAll(size_t n, size_t* got, ReadSome readSome) {
    size_t done = 0;
    while (done < n) {
      const ssize_t r = readSome(done);
      if (r < 0) {
        if (errno == EINTR) continue;
        *got = done;
        return fail();
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    *got = done;
    return true;
  }

  int fd_;
  std::string path_;
};

class PosixFileSystem final : public FileSystem {
 public:
  bool threadSafe() const override { return true; }
  std::unique_ptr<File> open(const std::string& path, Access access,
                             Disposition disposition) override {
    int flags = O_CLOEXEC;
    flags |= access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
    switch (disposition) {
      case Disposition::OpenExisting: break;
      case Disposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
      case Disposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
      case Disposition::OpenAlways: flags |= O_CREAT; break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      fail();
      return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      setLastError(EISDIR);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd, path);
  }

  std::unique_ptr<File> createTemp(const std::string& folder, const std::string& prefix,
                                   std::string* path) override {
    std::string pattern = joinPath(folder, prefix + "XXXXXX");
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) {
      fail();
      return nullptr;
    }
    *path = buf.data();
    return std::make_unique<PosixFile>(fd, *path);
  }

  bool stat(const std::string& path, FileInfo* out, bool followLinks) override {
    struct statx sx;
    int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
      return fail();
    fillInfo(sx, path, out);
    return true;
  }

  bool remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 || fail(); }

  bool rename(const std::string& from, const std::string& to) override {
    return renameKeepingTimes(from, to, 0) == 0 || fail();
  }

  bool renameNoReplace(const std::string& from, const std::string& to) override {
    if (renameKeepingTimes(from, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return fail();
    // File systems without the flag: a hard link fails when `to` exists.
    if (::link(from.c_str(), to.c_str()) != 0) return fail();
    ::unlink(from.c_str());
    return true;
  }

  bool makeDir(const std::string& path) override {
    return ::mkdir(path.c_str(), 0777) == 0 || fail();
  }

  bool removeDir(const std::string& path) override { return ::rmdir(path.c_str()) == 0 || fail(); }

  bool setAttributes(const std::string& path, uint32_t attributes) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return fail();
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) {
      mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    } else if (!(mode & S_IWUSR)) {
      // Restore the owner's write bit, and the group's and others' as the umask allows.
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode |= static_cast<mode_t>(S_IWUSR | ((S_IWGRP | S_IWOTH) & ~mask));
    }
    if (mode == (st.st_mode & 07777)) return true;
    return ::chmod(path.c_str(), mode) == 0 || fail();
  }

  bool setTimes(const std::string& path, const FileTime*, const FileTime* access,
                const FileTime* write) override {
    timespec ts[2];
    timesToSet(access, write, ts,
               [&path](struct stat* st) { return ::stat(path.c_str(), st) == 0; });
    return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0 || fail();
  }

  bool syncDir(const std::string& folder) override {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail();
    bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    if (!ok) setLastError(errno);
    ::close(fd);
    return ok;
  }

  bool freeSpace(const std::string& path, uint64_t* out) override {
    struct statvfs sv;
    if (::statvfs(path.c_str(), &sv) != 0) return fail();
    // A file system that reports no blocks at all does not know its size
    // (some user-space drivers leave the whole answer empty): unknown, not full.
    if (sv.f_blocks == 0) {
      setLastError(ENOSYS);
      return false;
    }
    *out = static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize);
    return true;
  }

  bool blockSize(const std::string& path, uint64_t* out) override {
    struct statvfs sv;
    if (::statvfs(path.c_str(), &sv) != 0) return fail();
    *out = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
    return *out != 0;
  }
};

PosixFileSystem realFs;
FileSystem* currentFs = nullptr;

}  // namespace

FileSystem& fileSystem() { return currentFs ? *currentFs : realFs; }
FileSystem& realFileSystem() { return realFs; }
void setFileSystem(FileSystem* fs) { currentFs = fs; }

ScopedFileSystem::ScopedFileSystem(FileSystem* fs) : previous_(currentFs) { currentFs = fs; }
ScopedFileSystem::~ScopedFileSystem() { currentFs = previous_; }

uint32_t defaultFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666u & ~static_cast<uint32_t>(mask);
}

bool fileExists(const std::string& path) {
  FileInfo fi;
  return fileSystem().stat(path, &fi, true) && !fi.isDirectory;
}

bool folderExists(const std::string& path) {
  FileInfo fi;
  return fileSystem().stat(path, &fi, true) && fi.isDirectory;
}

bool fileAttributes(const std::string& path, uint32_t* attributes) {
  FileInfo fi;
  if (!fileSystem().stat(path, &fi, true)) return false;
  *attributes = fi.attributes;
  return true;
}

}  // namespace plat
