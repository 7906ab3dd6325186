#include "platform/unnamed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/errors.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/process.h"

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
  void forgetCached() override { inner_->forgetCached(); }
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

constexpr size_t kRandomLength = 6;  // the unique part of a temporary name

// Letters and digits, drawn afresh.
std::string randomText(size_t length) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 gen(std::random_device{}());
  std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
  std::string out;
  for (size_t i = 0; i < length; ++i) out += kChars[pick(gen)];
  return out;
}

bool isAlnum(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

// Errors that say the file system cannot rename without replacing, or link.
bool cannotHere(int err) {
  return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP || err == EPERM;
}

// A name claim holds its placeholder's token and the claimed name; the
// placeholder holds this text with the token.
constexpr size_t kTokenLength = 32;
constexpr FileTime kPlaceholderTime = 119600064000000000;  // 1980-01-01 00:00 UTC
constexpr size_t kMaxClaim = 4096;

bool writeWhole(File& f, const std::string& bytes) {
  size_t put = 0;
  return f.write(bytes.data(), bytes.size(), &put) && put == bytes.size();
}

std::string readSmall(const std::string& path, size_t most) {
  std::unique_ptr<File> f = fileSystem().open(path, Access::Read, Disposition::OpenExisting);
  std::string out;
  if (!f) return out;
  std::string buf(most + 1, '\0');
  size_t got = 0;
  if (f->read(buf.data(), buf.size(), &got)) out.assign(buf.data(), got);
  f->close();
  return out;
}

// A claim left by a run that ended: its placeholder goes when it still holds
// the claim's text or a beginning of it (the run ended while writing it; the
// finished file was never renamed over it), then the claim itself.
void settleClaim(const std::string& folder, const std::string& claimPath) {
  const std::string claim = readSmall(claimPath, kMaxClaim);
  if (claim.size() > kTokenLength + 1 && claim.size() <= kMaxClaim && claim[kTokenLength] == '\n') {
    const std::string token = claim.substr(0, kTokenLength);
    const std::string name = claim.substr(kTokenLength + 1);
    const std::string text = placeholderText(token);
    FileInfo fi;
    if (name != "." && name != ".." && name.find('/') == std::string::npos &&
        name.find('\0') == std::string::npos) {
      const std::string placeholder = joinPath(folder, name);
      if (fileSystem().stat(placeholder, &fi, false) && fi.isRegular && !fi.isSymlink &&
          fi.size <= text.size() && readSmall(placeholder, text.size()) == text.substr(0, fi.size))
        fileSystem().remove(placeholder);
    }
  }
  fileSystem().remove(claimPath);
}

}  // namespace

const char kClaimStart[] = ".brc-claim-";

std::string placeholderText(const std::string& token) {
  return "This file is being written by Carryvale. If it is still here, the run was stopped "
         "before it finished; the next run that writes in this folder removes it.\n" +
         token + "\n";
}

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
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = joinPath(folder, prefix + randomText(kRandomLength));
    if (linkUnnamed(file, candidate)) {
      *path = candidate;
      return true;
    }
    if (lastError() != EEXIST) return false;
  }
  return false;
}

// ---- temporary names ----

std::string temporaryPrefix(const std::string& start) {
  return start + std::to_string(processId()) + "-";
}

bool isTemporaryName(const std::string& name, const TemporaryPattern& pattern, int* pid) {
  const size_t start = pattern.start.size();
  if (name.compare(0, start, pattern.start) != 0) return false;
  size_t i = start;
  long value = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 10)
    value = value * 10 + (name[i++] - '0');
  if (i == start || name[start] == '0' || value > 0x7FFFFFFF) return false;
  const size_t unique = i + 1 + kRandomLength;
  if (i >= name.size() || name[i] != '-' || name.size() < unique ||
      name.size() > unique + pattern.tail)
    return false;
  for (size_t k = i + 1; k < unique; ++k)
    if (!isAlnum(name[k])) return false;
  if (pid) *pid = static_cast<int>(value);
  return true;
}

void removeLeftTemporaries(const std::string& folder, const std::vector<TemporaryPattern>& patterns) {
  FolderEnum dir;
  if (!dir.open(folder)) return;
  const int self = processId();
  std::vector<std::string> claims;
  FindData d;
  while (dir.next(&d, false)) {
    int pid = 0;
    const bool claim = isTemporaryName(d.name, {kClaimStart}, &pid);
    bool ours = claim;
    for (size_t k = 0; k < patterns.size() && !ours; ++k)
      ours = isTemporaryName(d.name, patterns[k], &pid);
    if (!ours) continue;
    // Another run of ours that is still going keeps its file.
    if (pid != self && processRunning(pid)) continue;
    if (!dir.readInfo(&d) || !d.info.isRegular || d.info.isSymlink) continue;
    if (claim)
      claims.push_back(joinPath(folder, d.name));
    else
      fileSystem().remove(joinPath(folder, d.name));
  }
  dir.close();
  for (const std::string& c : claims) settleClaim(folder, c);
}

// ---- what a run learns about its folders ----

RunFolders::RunFolders(const RunFolders& other) {
  std::lock_guard<std::mutex> lock(other.mutex_);
  folders_ = other.folders_;
}

RunFolders& RunFolders::operator=(const RunFolders& other) {
  if (this == &other) return *this;
  std::unordered_map<std::string, Folder> copy;
  {
    std::lock_guard<std::mutex> lock(other.mutex_);
    copy = other.folders_;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  folders_ = std::move(copy);
  return *this;
}

bool RunFolders::firstVisit(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  return folders_.try_emplace(folder).second;
}

NamingWay RunFolders::way(const std::string& folder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = folders_.find(folder);
  return it == folders_.end() ? NamingWay::Unknown : it->second.way;
}

void RunFolders::learn(const std::string& folder, NamingWay way) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_[folder].way = way;
}

bool RunFolders::noUnnamed(const std::string& folder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = folders_.find(folder);
  return it != folders_.end() && it->second.noUnnamed;
}

void RunFolders::learnNoUnnamed(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_[folder].noUnnamed = true;
}

void RunFolders::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_.clear();
}

// ---- the new file ----

bool NewFile::begin(const std::string& folder, const std::string& start, RunFolders* run) {
  rollback();
  path_.clear();
  folder_ = folder.empty() ? std::string(1, '.') : folder;
  start_ = start;
  run_ = run;
  way_ = NamingWay::Unknown;
  if (!run || run->firstVisit(folder_)) removeLeftTemporaries(folder_, {{start}});
  unnamed_ = false;
  if (!run || !run->noUnnamed(folder_)) {
    file_ = createUnnamed(folder_);
    unnamed_ = file_ != nullptr;
    if (!file_ && run) run->learnNoUnnamed(folder_);
  }
  if (!file_) file_ = fileSystem().createTemp(folder_, temporaryPrefix(start), &path_);
  if (!file_) path_.clear();
  raw_ = file_.get();
  return file_ != nullptr;
}

NamingWay NewFile::way() const { return run_ ? run_->way(folder_) : way_; }

void NewFile::learn(NamingWay way) {
  if (run_)
    run_->learn(folder_, way);
  else
    way_ = way;
}

bool NewFile::nameTemporarily() {
  if (!unnamed()) return true;
  return raw_ && linkUnnamedUnique(*raw_, folder_, temporaryPrefix(start_), &path_);
}

// Finds out how the folder names files, on names of our own: the temporary
// file is renamed, without replacing, to another temporary name.
bool NewFile::probe() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string other = joinPath(folder_, temporaryPrefix(start_) + randomText(kRandomLength));
    if (fileSystem().renameNoReplace(path_, other)) {
      path_ = other;
      learn(NamingWay::OneStep);
      return true;
    }
    const int err = lastError();
    if (cannotHere(err)) {
      learn(NamingWay::Claim);
      return true;
    }
    if (err != EEXIST) return false;
  }
  return false;
}

bool NewFile::nameNew(const std::string& target) {
  if (!raw_ && path_.empty()) {
    setLastError(EBADF);
    return false;
  }
  if (unnamed()) {
    if (!linkUnnamed(*raw_, target)) return false;
    unnamed_ = false;
    return true;
  }
  if (way() == NamingWay::Unknown && !probe()) return false;
  if (way() == NamingWay::Claim) return nameByClaim(target);
  if (!fileSystem().renameNoReplace(path_, target)) return false;
  path_.clear();
  return true;
}

bool NewFile::nameByClaim(const std::string& target) {
  FileSystem& fs = fileSystem();
  // A name that is taken is not claimed at all (its claim could outlive a
  // kill and take an empty file that was there).
  FileInfo there;
  if (fs.stat(target, &there, false)) {
    setLastError(EEXIST);
    return false;
  }
  const std::string token = randomText(kTokenLength);
  std::string claimPath;
  std::unique_ptr<File> claim = fs.createTemp(folder_, temporaryPrefix(kClaimStart), &claimPath);
  if (!claim) return false;
  int err = 0;
  const bool recorded = writeWhole(*claim, token + "\n" + fileNamePart(target));
  if (!recorded) err = lastError();
  if (!claim->close() && recorded) err = lastError();
  claim.reset();
  std::unique_ptr<File> placeholder;
  if (!err) {
    // The name is ours from here on: nothing that was there is replaced.
    placeholder = fs.open(target, Access::Write, Disposition::CreateNew);
    if (!placeholder) err = lastError();
  }
  if (placeholder) {
    const bool written = writeWhole(*placeholder, placeholderText(token));
    if (!written) err = lastError();
    // Dated long ago, so that a load never takes it for a changed file.
    placeholder->setTimes(nullptr, &kPlaceholderTime, &kPlaceholderTime);
    if (!placeholder->close() && written) err = lastError();
    placeholder.reset();
    if (!err && !fs.rename(path_, target)) err = lastError();
    if (err) fs.remove(target);
  }
  fs.remove(claimPath);
  if (err) {
    setLastError(err);
    return false;
  }
  path_.clear();
  return true;
}

bool NewFile::replace(const std::string& target) {
  if (!nameTemporarily()) return false;
  if (!fileSystem().rename(path_, target)) return false;
  path_.clear();
  return true;
}

bool NewFile::close() {
  raw_ = nullptr;
  if (!file_) return true;
  const bool ok = file_->close();
  const int err = lastError();
  file_.reset();
  setLastError(err);
  return ok;
}

void NewFile::rollback() {
  raw_ = nullptr;
  if (file_) {
    file_->close();
    file_.reset();
  }
  if (!path_.empty()) {
    fileSystem().remove(path_);
    path_.clear();
  }
  unnamed_ = false;
}

bool writeFileAtomically(const std::string& target, const std::string& bytes, uint32_t mode,
                         const std::string& tempStart) {
  const std::string parent = parentFolder(target);
  NewFile f;
  if (!f.begin(parent.empty() ? std::string(1, '.') : parent, tempStart, nullptr)) return false;
  bool ok = writeWhole(*f.file(), bytes) && f.file()->setMode(mode) && f.file()->sync();
  if (ok && !f.unnamed()) ok = f.close();
  // A new name is taken in one step; an existing file is replaced by a rename.
  if (ok && !f.nameNew(target)) ok = lastError() == EEXIST && f.replace(target);
  if (ok) {
    f.close();
    fileSystem().syncDir(f.folder());
    return true;
  }
  const int err = lastError();
  f.rollback();
  setLastError(err);
  return false;
}

}  // namespace plat
