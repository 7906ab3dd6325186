#pragma once
// A file system that treats names below one folder as sticks do: letter
// case is kept but not told apart, a trailing dot or space is dropped, some
// characters and device names are refused, and a file has another number
// under each spelling of its name (as the exFAT driver reports it). Paths
// are mapped onto the real files below the folder, so the bytes on disk can
// be checked as usual. Each part can be switched off.

#include <cerrno>
#include <dirent.h>
#include <functional>
#include <string>

#include "passthrough.h"
#include "platform/errors.h"

namespace testenv {

class StickFs final : public PassThroughFs {
 public:
  struct Rules {
    bool foldsCase = true;
    bool dropsTrailing = true;      // "a." and "a " are "a"
    std::string refused = ":*?\"<>|";  // refused with ENOENT, as exfat-fuse does
    bool refusesDeviceNames = true;  // nul, con... refused with EINVAL
  };
  StickFs(std::string root, Rules rules) : root_(std::move(root)), rules_(std::move(rules)) {}

  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a,
                                   plat::Disposition d) override {
    const std::string real = map(p);
    if (a != plat::Access::Read && d != plat::Disposition::OpenExisting && refuses(p))
      return nullptr;
    return real_().open(real, a, d);
  }
  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    return real_().createTemp(map(f), pre, path);
  }
  bool stat(const std::string& p, plat::FileInfo* o, bool l) override {
    const std::string real = map(p);
    if (!real_().stat(real, o, l)) return false;
    if (real != p) o->inode ^= std::hash<std::string>()(p) | 1;  // another number per spelling
    return true;
  }
  bool remove(const std::string& p) override { return real_().remove(map(p)); }
  bool rename(const std::string& a, const std::string& b) override {
    return !refuses(b) && real_().rename(map(a), map(b));
  }
  bool renameNoReplace(const std::string& a, const std::string& b) override {
    return !refuses(b) && real_().renameNoReplace(map(a), map(b));
  }
  bool makeDir(const std::string& p) override { return !refuses(p) && real_().makeDir(map(p)); }
  bool removeDir(const std::string& p) override { return real_().removeDir(map(p)); }
  bool setAttributes(const std::string& p, uint32_t a) override {
    return real_().setAttributes(map(p), a);
  }
  bool setTimes(const std::string& p, const plat::FileTime* c, const plat::FileTime* a,
                const plat::FileTime* w) override {
    return real_().setTimes(map(p), c, a, w);
  }
  bool syncDir(const std::string& f) override { return real_().syncDir(map(f)); }
  bool threadSafe() const override { return true; }  // keeps no state of its own

 private:
  static plat::FileSystem& real_() { return plat::realFileSystem(); }

  std::string stripped(std::string name) const {
    if (rules_.dropsTrailing)
      while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    return name;
  }
  // Names the folder takes for one have one key (letters folded as ASCII).
  std::string key(const std::string& name) const {
    std::string k = stripped(name);
    if (rules_.foldsCase)
      for (char& ch : k)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    return k;
  }

  // The real path of a path below the root: each level spelled as its
  // folder holds it, where the folder holds it under another spelling.
  std::string map(const std::string& p) const {
    if (p.compare(0, root_.size() + 1, root_ + "/") != 0) return p;
    std::string out = root_;
    size_t start = root_.size() + 1;
    for (;;) {
      const size_t slash = p.find('/', start);
      const std::string level = p.substr(start, slash == std::string::npos ? slash : slash - start);
      out += "/" + spelled(out, level);
      if (slash == std::string::npos) return out;
      start = slash + 1;
    }
  }

  std::string spelled(const std::string& folder, const std::string& level) const {
    std::string other;
    if (DIR* d = ::opendir(folder.c_str())) {
      const std::string k = key(level);
      while (dirent* e = ::readdir(d)) {
        if (level == e->d_name) {
          other = level;
          break;
        }
        if (other.empty() && key(e->d_name) == k) other = e->d_name;
      }
      ::closedir(d);
    }
    return other.empty() ? stripped(level) : other;
  }

  // Whether the last level of a path below the root is a name this disk refuses.
  bool refuses(const std::string& p) const {
    if (p.compare(0, root_.size() + 1, root_ + "/") != 0) return false;
    const std::string name = p.substr(p.rfind('/') + 1);
    for (char ch : name) {
      if (rules_.refused.find(ch) != std::string::npos || static_cast<unsigned char>(ch) < 32) {
        plat::setLastError(ENOENT);
        return true;
      }
    }
    std::string stem = name.substr(0, name.find('.'));
    for (char& ch : stem)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (rules_.refusesDeviceNames && (stem == "NUL" || stem == "CON" || stem == "AUX")) {
      plat::setLastError(EINVAL);
      return true;
    }
    return false;
  }

  std::string root_;
  Rules rules_;
};

}  // namespace testenv
