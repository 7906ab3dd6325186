#include "platform/unnamed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/errors.h"
#include "platform/paths.h"

namespace plat {
namespace {

// The file as the rest of the program sees it (a regular file of the real
// file system, reopened through /proc), plus the descriptor that linkat needs.
class UnnamedFile final : public File {
 public:
  UnnamedFile(std::unique_ptr<File> inner, int fd) : inner_(std::move(inner)), fd_(fd) {}
  ~UnnamedFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool read(void* b, size_t n, size_t* got) override { return inner_->read(b, n, got); }
  bool readAt(uint64_t at, void* b, size_t n, size_t* got) override {
    return inner_->readAt(at, b, n, got);
  }
  bool write(const void* b, size_t n, size_t* put) override { return inner_->write(b, n, put); }
  bool seek(int64_t d, Origin o, uint64_t* p) override { return inner_->seek(d, o, p); }
  bool size(uint64_t* out) override { return inner_->size(out); }
  bool truncateHere() override { return inner_->truncateHere(); }
  bool sync() override { return inner_->sync(); }
  bool lockExclusive() override { return inner_->lockExclusive(); }
  bool info(FileInfo* out) override { return inner_->info(out); }
  bool setTimes(const FileTime* c, const FileTime* a, const FileTime* w) override {
    return inner_->setTimes(c, a, w);
  }
  bool setMode(uint32_t mode) override { return inner_->setMode(mode); }
  bool close() override {
    bool ok = inner_->close();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return ok;
  }

  uint64_t copyFrom(int in, uint64_t fromOffset, uint64_t length) {
    uint64_t pos = 0;
    if (fd_ < 0 || !inner_->seek(0, Origin::Current, &pos)) return 0;
    loff_t inOff = static_cast<loff_t>(fromOffset), outOff = static_cast<loff_t>(pos);
    uint64_t done = 0;
    while (done < length) {
      ssize_t n = ::copy_file_range(in, &inOff, fd_, &outOff, length - done, 0);
      if (n <= 0) break;
      done += static_cast<uint64_t>(n);
    }
    inner_->seek(static_cast<int64_t>(pos + done), Origin::Begin, nullptr);
    return done;
  }

  void writeback(uint64_t offset, uint64_t length) {
    if (fd_ >= 0)
      ::sync_file_range(fd_, static_cast<off64_t>(offset), static_cast<off64_t>(length),
                        SYNC_FILE_RANGE_WRITE);
  }

  bool link(const std::string& path) {
    if (fd_ < 0) {
      setLastError(EBADF);
      return false;
    }
    std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    int err = errno;
    if (err == ENOENT && ::linkat(fd_, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return true;
    setLastError(err);
    return false;
  }

 private:
  std::unique_ptr<File> inner_;
  int fd_;
};

}  // namespace

std::unique_ptr<File> realCreateUnnamed(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) {
    setLastError(errno);
    return nullptr;
  }
  // The same file through the ordinary file layer: the /proc link of an
  // unnamed file opens it like any other.
  std::unique_ptr<File> inner = realFileSystem().open(
      "/proc/self/fd/" + std::to_string(fd), Access::ReadWrite, Disposition::OpenExisting);
  if (!inner) {
    int err = lastError();
    ::close(fd);
    setLastError(err);
    return nullptr;
  }
  return std::make_unique<UnnamedFile>(std::move(inner), fd);
}

bool realLinkUnnamed(File& file, const std::string& path) {
  auto* u = dynamic_cast<UnnamedFile*>(&file);
  if (!u) {
    setLastError(EINVAL);
    return false;
  }
  return u->link(path);
}

std::unique_ptr<File> createUnnamed(const std::string& folder) {
  FileSystem& fs = fileSystem();
  if (auto* s = dynamic_cast<UnnamedFileSupport*>(&fs)) return s->createUnnamed(folder);
  if (&fs == &realFileSystem()) return realCreateUnnamed(folder);
  setLastError(EOPNOTSUPP);
  return nullptr;
}

bool linkUnnamed(File& file, const std::string& path) {
  FileSystem& fs = fileSystem();
  if (auto* s = dynamic_cast<UnnamedFileSupport*>(&fs)) return s->linkUnnamed(file, path);
  if (&fs == &realFileSystem()) return realLinkUnnamed(file, path);
  setLastError(EOPNOTSUPP);
  return false;
}

void startWriteback(File& file, uint64_t offset, uint64_t length) {
  if (auto* u = dynamic_cast<UnnamedFile*>(&file)) u->writeback(offset, length);
}

uint64_t copyIntoUnnamed(File& to, const std::string& fromPath, const FileInfo& expected,
                         uint64_t fromOffset, uint64_t length) {
  auto* u = dynamic_cast<UnnamedFile*>(&to);
  if (!u) return 0;
  int in = ::open(fromPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return 0;
  struct stat st;
  uint64_t done = 0;
  if (::fstat(in, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_ino) == expected.inode) {
    // The device number as the file layer states it (either packing).
    const uint64_t dev = static_cast<uint64_t>(st.st_dev);
    const uint64_t split = (static_cast<uint64_t>(major(st.st_dev)) << 32) | minor(st.st_dev);
    if (expected.device == dev || expected.device == split)
      done = u->copyFrom(in, fromOffset, length);
  }
  ::close(in);
  return done;
}

bool linkUnnamedUnique(File& file, const std::string& folder, const std::string& prefix,
                       std::string* path) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::mt19937 gen(rd());
  std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += kChars[pick(gen)];
    std::string candidate = joinPath(folder, name);
    if (linkUnnamed(file, candidate)) {
      *path = candidate;
      return true;
    }
    if (lastError() != EEXIST) return false;
  }
  return false;
}

bool writeFileAtomically(const std::string& target, const std::string& bytes, uint32_t mode,
                         const std::string& tempPrefix) {
  FileSystem& fs = fileSystem();
  const std::string parent = parentFolder(target);
  const std::string folder = parent.empty() ? std::string(1, '.') : parent;
  std::string temp;
  std::unique_ptr<File> f = createUnnamed(folder);
  const bool unnamed = f != nullptr;
  if (!f) f = fs.createTemp(folder, tempPrefix, &temp);
  if (!f) return false;
  size_t put = 0;
  bool ok = f->write(bytes.data(), bytes.size(), &put) && put == bytes.size() && f->setMode(mode) &&
            f->sync();
  if (ok && unnamed) {
    // A new name is taken in one step; an existing file is replaced by a rename.
    if (linkUnnamed(*f, target)) {
      f->close();
      fs.syncDir(folder);
      return true;
    }
    ok = lastError() == EEXIST && linkUnnamedUnique(*f, folder, tempPrefix, &temp);
  }
  int err = lastError();
  if (!f->close()) ok = false;
  if (ok && fs.rename(temp, target)) {
    fs.syncDir(folder);
    return true;
  }
  if (ok) err = lastError();
  if (!temp.empty()) fs.remove(temp);
  setLastError(err);
  return false;
}

}  // namespace plat
