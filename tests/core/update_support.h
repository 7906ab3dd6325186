#pragma once
// Shared by the update engine's tests: a private environment with a local
// folder and a briefcase, a recording engine, and a file system that wraps
// the real one to inject faults.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/layout.h"
#include "archive/update/update.h"
#include "briefcase/comment.h"
#include "component_env.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/unnamed.h"
#include "zip_reader.h"

namespace utest {

namespace fs = std::filesystem;

using testenv::writeFile;

inline std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

inline std::string textBytes(size_t n, unsigned seed) {
  static const char* words[] = {"briefcase ", "folder ", "entry ", "load ", "the ", "and ",
                                "computer ", "file\n", "date ", "archive "};
  std::mt19937 gen(seed);
  std::string s;
  while (s.size() < n) s += words[gen() % 10];
  s.resize(n);
  return s;
}

inline std::string readAll(const std::string& path) { return testenv::readText(path); }

inline struct timespec mtimeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim;
}

inline void setMtime(const std::string& path, time_t seconds) {
  struct timespec ts[2] = {{seconds, 0}, {seconds, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

// Files in a folder (names only), without descending.
inline std::set<std::string> listFolder(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

// A private home with a local folder "docs" and a briefcase "b.brc" next to it.
class Env {
 public:
  Env() : local(env.root() + "/docs"), container(env.root() + "/box/b.brc"), temp(env.root() + "/tmp") {
    fs::create_directories(local);
    fs::create_directories(env.root() + "/box");
    briefcase::TBriefcaseComment record;
    record.AddEntry(local);
    comment = record.Stored(6);
    int rc = archive::createContainerAtomically(container, comment, nullptr, false);
    if (rc) throw std::runtime_error("cannot create the briefcase");
  }
  std::string file(const std::string& rel, const std::string& content) {
    std::string p = local + "/" + rel;
    writeFile(p, content);
    return p;
  }

  ComponentEnv env;
  std::string local, container, temp;
  std::vector<uint8_t> comment;
};

// An engine set up as the window sets it for a load, recording every callback.
struct Recorder {
  archive::TCompress engine;
  std::vector<std::string> messages, configMessages;
  std::vector<int> total, file;
  int cancelChecks = 0;
  int cancelAtCheck = -1;        // set the flag at this cancel check (0 = the first)
  std::function<void()> onFileProgress;
  int refreshes = 0;

  explicit Recorder(const Env& e, int level = 6) {
    engine.archivePath = e.container;
    engine.level = level;
    engine.update.baseFolder = e.local;
    engine.comment = e.comment;
    auto& cb = engine.callbacks;
    cb.message = [this](const std::string& s) { messages.push_back(s); };
    cb.configMessage = [this](const std::string& s) { configMessages.push_back(s); };
    cb.totalProgress = [this](int p) { total.push_back(p); };
    cb.fileProgress = [this](int p) {
      file.push_back(p);
      if (onFileProgress) onFileProgress();
    };
    cb.cancelCheck = [this](bool& cancel) {
      if (cancelChecks++ == cancelAtCheck) cancel = true;
    };
    cb.configRefresh = [this, &e] {
      ++refreshes;
      engine.comment = e.comment;
    };
  }
  int load(const std::vector<std::string>& paths) {
    engine.update.mode = archive::kModeAdd;
    engine.ClearCancel();
    engine.ClearNames();
    for (const auto& p : paths) engine.AddName(p);
    return archive::Update(engine);
  }
  int remove(const std::vector<std::string>& names) {
    engine.ClearNames();
    for (const auto& n : names) engine.AddName(n);
    archive::PrepareDelete(engine, false);
    int rc = archive::Update(engine);
    engine.update.mode = archive::kModeAdd;
    return rc;
  }
  bool saw(const std::string& text) const {
    for (const auto& m : messages)
      if (m == text) return true;
    for (const auto& m : configMessages)
      if (m == text) return true;
    return false;
  }
  bool sawPart(const std::string& part) const {
    for (const auto& m : messages)
      if (m.find(part) != std::string::npos) return true;
    for (const auto& m : configMessages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
};

// ---- fault injection ----

class FaultFs;

class FaultFile final : public plat::File {
 public:
  FaultFile(FaultFs& fs, std::unique_ptr<plat::File> inner, std::string path, bool output,
            bool writable = true)
      : fs_(fs), inner_(std::move(inner)), path_(std::move(path)), output_(output), writable_(writable) {}
  bool read(void* buf, size_t n, size_t* got) override;
  bool write(const void* buf, size_t n, size_t* put) override;
  bool seek(int64_t d, plat::Origin o, uint64_t* p) override { return inner_->seek(d, o, p); }
  bool size(uint64_t* out) override { return inner_->size(out); }
  bool truncateHere() override { return changing() && inner_->truncateHere(); }
  bool sync() override { return changing() && inner_->sync(); }
  bool lockExclusive() override { return inner_->lockExclusive(); }
  bool info(plat::FileInfo* out) override { return inner_->info(out); }
  bool setTimes(const plat::FileTime* c, const plat::FileTime* a, const plat::FileTime* w) override {
    return changing() && inner_->setTimes(c, a, w);
  }
  bool setMode(uint32_t m) override { return inner_->setMode(m); }
  bool close() override { return inner_->close(); }
  plat::File& inner() { return *inner_; }

 private:
  FaultFs& fs_;
  std::unique_ptr<plat::File> inner_;
  std::string path_;
  bool output_;
  bool writable_;
  uint64_t readSoFar_ = 0;
  inline bool changing();
  bool grown_ = false;
};

class FaultFs final : public plat::FileSystem, public plat::UnnamedFileSupport {
 public:
  plat::FileSystem& real = plat::realFileSystem();

  // open(): fail for this path and access (errno given).
  std::function<int(const std::string& path, plat::Access access)> openError;
  // Bytes that temporary files (and `budgetPath`, when set) may still take;
  // a write beyond it is short, as on a full disk.
  int64_t writeBudget = -1;
  std::string budgetPath;
  // Free space and the block size reported for paths that begin with a prefix.
  std::map<std::string, uint64_t> freeFor, blockFor;
  // Reads of a path: extra bytes after its end (a file that grows), or a cap
  // (a file that shrinks).
  std::map<std::string, std::string> growBy;
  std::map<std::string, uint64_t> shrinkTo;
  bool failRename = false;
  // Called before every write, truncation, sync and time change of a file
  // opened for writing.
  std::function<void()> beforeChange;
  std::function<void(const std::string& from, const std::string& to)> beforeRename, afterRename;
  bool unnamedSupported = true;
  bool renameFlagsSupported = true;  // false: no rename without replacing, no links
  int tempsCreated = 0;
  // A folder as if its disk had been pulled out: every look-up of a path in
  // it fails as for a missing path, every read or write of a file in it
  // with EIO.
  std::string pulled;
  bool isPulled(const std::string& p) const {
    return !pulled.empty() && (p == pulled || p.compare(0, pulled.size() + 1, pulled + "/") == 0);
  }
  bool missing(const std::string& p) const {
    if (!isPulled(p)) return false;
    plat::setLastError(ENOENT);
    return true;
  }

  std::unique_ptr<plat::File> open(const std::string& path, plat::Access access,
                                   plat::Disposition d) override {
    if (missing(path)) return nullptr;
    if (openError) {
      if (int err = openError(path, access)) {
        plat::setLastError(err);
        return nullptr;
      }
    }
    auto f = real.open(path, access, d);
    if (!f) return nullptr;
    bool budget = !budgetPath.empty() && path == budgetPath && access != plat::Access::Read;
    return std::make_unique<FaultFile>(*this, std::move(f), path, budget, access != plat::Access::Read);
  }
  std::unique_ptr<plat::File> createTemp(const std::string& folder, const std::string& prefix,
                                         std::string* path) override {
    if (missing(folder)) return nullptr;
    auto f = real.createTemp(folder, prefix, path);
    if (!f) return nullptr;
    ++tempsCreated;
    return std::make_unique<FaultFile>(*this, std::move(f), *path, true);
  }
  std::unique_ptr<plat::File> createUnnamed(const std::string& folder) override {
    if (missing(folder)) return nullptr;
    if (!unnamedSupported) {
      plat::setLastError(EOPNOTSUPP);
      return nullptr;
    }
    auto f = plat::realCreateUnnamed(folder);
    if (!f) return nullptr;
    ++tempsCreated;
    return std::make_unique<FaultFile>(*this, std::move(f), folder + "/(unnamed)", true);
  }
  bool linkUnnamed(plat::File& file, const std::string& path) override {
    if (missing(path)) return false;
    auto* ff = dynamic_cast<FaultFile*>(&file);
    return plat::realLinkUnnamed(ff ? ff->inner() : file, path);
  }
  bool stat(const std::string& p, plat::FileInfo* out, bool follow) override {
    return !missing(p) && real.stat(p, out, follow);
  }
  bool remove(const std::string& p) override { return !missing(p) && real.remove(p); }
  bool rename(const std::string& from, const std::string& to) override {
    if (missing(from) || missing(to)) return false;
    if (beforeRename) beforeRename(from, to);
    if (failRename) {
      plat::setLastError(EIO);
      return false;
    }
    bool ok = real.rename(from, to);
    if (ok && afterRename) afterRename(from, to);
    return ok;
  }
  bool renameNoReplace(const std::string& from, const std::string& to) override {
    if (!renameFlagsSupported) {
      plat::setLastError(EINVAL);
      return false;
    }
    return !missing(from) && !missing(to) && real.renameNoReplace(from, to);
  }
  bool makeDir(const std::string& p) override { return real.makeDir(p); }
  bool removeDir(const std::string& p) override { return real.removeDir(p); }
  bool setAttributes(const std::string& p, uint32_t a) override { return real.setAttributes(p, a); }
  bool setTimes(const std::string& p, const plat::FileTime* c, const plat::FileTime* a,
                const plat::FileTime* w) override {
    return real.setTimes(p, c, a, w);
  }
  bool syncDir(const std::string& f) override { return real.syncDir(f); }
  bool freeSpace(const std::string& path, uint64_t* out) override {
    for (const auto& [prefix, value] : freeFor)
      if (path.compare(0, prefix.size(), prefix) == 0) {
        *out = value;
        return true;
      }
    return real.freeSpace(path, out);
  }
  bool blockSize(const std::string& path, uint64_t* out) override {
    for (const auto& [prefix, value] : blockFor)
      if (path.compare(0, prefix.size(), prefix) == 0) {
        *out = value;
        return true;
      }
    return real.blockSize(path, out);
  }
};

inline bool FaultFile::read(void* buf, size_t n, size_t* got) {
  if (fs_.isPulled(path_)) {
    *got = 0;
    plat::setLastError(EIO);
    return false;
  }
  auto cap = fs_.shrinkTo.find(path_);
  size_t ask = n;
  if (cap != fs_.shrinkTo.end()) ask = static_cast<size_t>(std::min<uint64_t>(n, cap->second - std::min(cap->second, readSoFar_)));
  if (!inner_->read(buf, ask, got)) return false;
  readSoFar_ += *got;
  auto grow = fs_.growBy.find(path_);
  if (grow != fs_.growBy.end() && !grown_ && *got < n) {
    size_t extra = std::min(n - *got, grow->second.size());
    std::memcpy(static_cast<char*>(buf) + *got, grow->second.data(), extra);
    *got += extra;
    grown_ = true;
  }
  return true;
}

inline bool FaultFile::changing() {
  if (writable_ && fs_.beforeChange) fs_.beforeChange();
  return true;
}

inline bool FaultFile::write(const void* buf, size_t n, size_t* put) {
  changing();
  if (fs_.isPulled(path_)) {
    *put = 0;
    plat::setLastError(EIO);
    return false;
  }
  if (!output_ || fs_.writeBudget < 0) return inner_->write(buf, n, put);
  size_t allowed = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), fs_.writeBudget));
  if (!inner_->write(buf, allowed, put)) return false;
  fs_.writeBudget -= static_cast<int64_t>(*put);
  if (*put < n) plat::setLastError(ENOSPC);
  return true;
}

}  // namespace utest
