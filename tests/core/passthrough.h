#pragma once
// Bases for the file systems tests install: everything goes to the real file
// system (or to the wrapped file) unless a test overrides it to add a fault.

#include <memory>
#include <string>

#include "platform/files.h"

namespace testenv {

class PassThroughFile : public plat::File {
 public:
  explicit PassThroughFile(std::unique_ptr<plat::File> f) : f_(std::move(f)) {}
  bool read(void* b, size_t n, size_t* got) override { return f_->read(b, n, got); }
  bool readAt(uint64_t at, void* b, size_t n, size_t* got) override {
    return f_->readAt(at, b, n, got);
  }
  bool write(const void* b, size_t n, size_t* put) override { return f_->write(b, n, put); }
  bool seek(int64_t d, plat::Origin o, uint64_t* p) override { return f_->seek(d, o, p); }
  bool size(uint64_t* out) override { return f_->size(out); }
  bool truncateHere() override { return f_->truncateHere(); }
  bool sync() override { return f_->sync(); }
  void forgetCached() override { f_->forgetCached(); }
  bool lockExclusive() override { return f_->lockExclusive(); }
  bool info(plat::FileInfo* out) override { return f_->info(out); }
  bool setTimes(const plat::FileTime* c, const plat::FileTime* a, const plat::FileTime* w) override {
    return f_->setTimes(c, a, w);
  }
  bool setMode(uint32_t m) override { return f_->setMode(m); }
  bool close() override { return f_->close(); }

 private:
  std::unique_ptr<plat::File> f_;
};

class PassThroughFs : public plat::FileSystem {
 public:
  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a,
                                   plat::Disposition d) override {
    return real().open(p, a, d);
  }
  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    return real().createTemp(f, pre, path);
  }
  bool stat(const std::string& p, plat::FileInfo* o, bool l) override { return real().stat(p, o, l); }
  bool remove(const std::string& p) override { return real().remove(p); }
  bool rename(const std::string& a, const std::string& b) override { return real().rename(a, b); }
  bool renameNoReplace(const std::string& a, const std::string& b) override {
    return real().renameNoReplace(a, b);
  }
  bool makeDir(const std::string& p) override { return real().makeDir(p); }
  bool removeDir(const std::string& p) override { return real().removeDir(p); }
  bool setAttributes(const std::string& p, uint32_t a) override { return real().setAttributes(p, a); }
  bool setTimes(const std::string& p, const plat::FileTime* c, const plat::FileTime* a,
                const plat::FileTime* w) override {
    return real().setTimes(p, c, a, w);
  }
  bool syncDir(const std::string& f) override { return real().syncDir(f); }
  bool freeSpace(const std::string& p, uint64_t* o) override { return real().freeSpace(p, o); }
  bool blockSize(const std::string& p, uint64_t* o) override { return real().blockSize(p, o); }

 protected:
  static plat::FileSystem& real() { return plat::realFileSystem(); }
};

}  // namespace testenv
