#include "platform/volumes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/mountinfo.h"

namespace plat {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRootsVariable = "CARRYVALE_REMOVABLE_ROOTS";

// An absolute, lexically normal form without a trailing '/' (except for "/").
std::string normalPath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  if (ec) p = fs::path(path);
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// The same with the symbolic links of its existing part resolved.
std::string resolvedPath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(normalPath(path)), ec);
  if (ec) return normalPath(path);
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string readFirstLine(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  return line;
}

// Whether the block device numbered "major:minor" is removable; a partition
// asks the disk it belongs to.
bool blockDeviceRemovable(const std::string& majorMinor) {
  std::error_code ec;
  const fs::path dev = fs::canonical(fs::path("/sys/dev/block") / majorMinor, ec);
  if (ec) return false;
  fs::path disk = dev;
  if (fs::exists(dev / "partition", ec)) disk = dev.parent_path();
  return readFirstLine(disk / "removable") == "1";
}

std::vector<std::string> mountedRemovableRoots() {
  std::vector<std::string> roots;
  for (const MountEntry& m : mountTable()) {
    const bool underMedia =
        withinFolder(m.mountPoint, "/media") || withinFolder(m.mountPoint, "/run/media");
    if (m.mountPoint == "/media" || m.mountPoint == "/run/media") continue;
    if (underMedia || blockDeviceRemovable(m.majorMinor)) roots.push_back(m.mountPoint);
  }
  return roots;
}

}  // namespace

std::vector<std::string> removableRoots() {
  const char* list = std::getenv(kRootsVariable);
  if (!list) return mountedRemovableRoots();
  std::vector<std::string> roots;
  std::string text = list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    const std::string folder = text.substr(start, end - start);
    if (!folder.empty()) roots.push_back(normalPath(folder));
    start = end + 1;
  }
  return roots;
}

bool isOnRemovableDrive(const std::string& path) {
  if (path.empty()) return false;
  const std::string plain = normalPath(path);
  const std::string resolved = resolvedPath(path);
  for (const std::string& root : removableRoots()) {
    const std::string resolvedRoot = resolvedPath(root);
    for (const std::string& r : {root, resolvedRoot})
      if (withinFolder(plain, r) || withinFolder(resolved, r)) return true;
  }
  if (!std::getenv(kRootsVariable)) {
    for (const char* media : {"/media", "/run/media"})
      if (withinFolder(plain, media) || withinFolder(resolved, media)) return true;
  }
  return false;
}

}  // namespace plat
