#include "platform/mountinfo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/errors.h"
#include "platform/paths.h"

namespace plat {
namespace {

// Magic numbers of the FAT family, whose names ignore case.
constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kNtfsMagic = 0x5346544e;

// Paths in /proc/self/mountinfo write space, tab, newline and '\' as '\'
// and three octal digits.
std::string unescapeMountField(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const std::string oct = s.substr(i + 1, 3);
      if (oct.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(oct, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// The name in /dev/disk/by-uuid of the block device `dev`, or of the device
// file `source` (a FUSE mount names its device only as its source).
std::string uuidOf(dev_t dev, const std::string& source) {
  const std::string folder = "/dev/disk/by-uuid";
  DIR* d = ::opendir(folder.c_str());
  if (!d) return std::string();
  const std::string sourceReal = source.rfind("/dev/", 0) == 0 ? resolvedPath(source) : "";
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string link = folder + "/" + e->d_name;
    struct stat st;
    if (::stat(link.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    if (st.st_rdev == dev || (!sourceReal.empty() && resolvedPath(link) == sourceReal)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace

std::vector<MountEntry> mountTable() {
  std::vector<MountEntry> table;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  // id parent major:minor root mount-point options [optional fields] - type source ...
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, options, word;
    MountEntry m;
    if (!(fields >> id >> parent >> m.majorMinor >> m.root >> m.mountPoint >> options)) continue;
    while (fields >> word && word != "-") {}
    fields >> m.type >> m.source;
    m.root = unescapeMountField(m.root);
    m.mountPoint = unescapeMountField(m.mountPoint);
    m.source = unescapeMountField(m.source);
    table.push_back(std::move(m));
  }
  return table;
}

bool withinFolder(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  if (root == "/") return true;
  if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

bool mountIdentity(const std::string& path, MountIdentity* out) {
  std::string p = path;
  struct stat st;
  while (::stat(p.c_str(), &st) != 0) {
    if (p == "/" || p.empty()) {
      setLastError(errno);
      return false;
    }
    p = parentFolder(p);
    if (p.empty()) p.push_back('/');
  }
  bool found = false, bestMatchesDevice = false;
  MountIdentity best;
  for (const MountEntry& m : mountTable()) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(m.majorMinor.c_str(), "%u:%u", &major, &minor) != 2) continue;
    if (!withinFolder(path, m.mountPoint)) continue;
    // A mount of the path's own device beats others (some file systems give
    // subvolumes devices of their own); then the deepest mount point, and of
    // equal ones the last mounted (it covers the others).
    const bool matchesDevice = makedev(major, minor) == st.st_dev;
    if (found && bestMatchesDevice && !matchesDevice) continue;
    if (found && matchesDevice == bestMatchesDevice && m.mountPoint.size() < best.mountPoint.size())
      continue;
    bestMatchesDevice = matchesDevice;
    best.mountPoint = m.mountPoint;
    best.fsRoot = m.root;
    best.fsType = m.type;
    best.source = m.source;
    found = true;
  }
  if (!found) return false;
  best.uuid = uuidOf(st.st_dev, best.source);
  struct statfs sf;
  if (::statfs(p.c_str(), &sf) == 0) {
    uint64_t fsid = 0;
    static_assert(sizeof sf.f_fsid <= sizeof fsid);
    std::memcpy(&fsid, &sf.f_fsid, sizeof sf.f_fsid);
    best.fsid = fsid;
  }
  *out = best;
  return true;
}

std::string mountRoot(const std::string& path) {
  std::string p = path.empty() ? currentFolder() : path;
  if (p[0] != '/') p = joinPath(currentFolder(), p);
  p = stripTrailingSlash(p);
  struct stat st;
  while (::stat(p.c_str(), &st) != 0) {
    if (p == "/") {
      setLastError(errno);
      return std::string();
    }
    p = parentFolder(p);
    if (p.empty()) p.push_back('/');
  }
  const dev_t dev = st.st_dev;
  while (p != "/") {
    std::string up = parentFolder(p);
    if (up.empty()) up.push_back('/');
    struct stat ust;
    if (::stat(up.c_str(), &ust) != 0 || ust.st_dev != dev) break;
    p = up;
  }
  return p;
}

bool fileSystemFlags(const std::string& root, uint32_t* flags) {
  struct statfs sf;
  if (::statfs(root.empty() ? "." : root.c_str(), &sf) != 0) {
    setLastError(errno);
    return false;
  }
  const long type = static_cast<long>(sf.f_type);
  if (type == kMsdosMagic || type == kExfatMagic)
    *flags = kFsCasePreservedNames | kFsUnicodeOnDisk;
  else if (type == kNtfsMagic)
    *flags = kFsCaseSensitiveSearch | kFsCasePreservedNames | kFsUnicodeOnDisk;
  else
    *flags = kFsCaseSensitiveSearch | kFsCasePreservedNames;
  return true;
}

}  // namespace plat
