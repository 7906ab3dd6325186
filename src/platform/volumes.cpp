#include "platform/volumes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

bool within(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  if (root == "/") return true;
  if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

// Mount points in /proc/self/mountinfo write space, tab, newline and '\' as
// '\' and three octal digits.
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
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point options [optional fields] - type source ...
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint;
    if (!(fields >> id >> parent >> majorMinor >> root >> mountPoint)) continue;
    mountPoint = unescapeMountField(mountPoint);
    const bool underMedia = within(mountPoint, "/media") || within(mountPoint, "/run/media");
    if (mountPoint == "/media" || mountPoint == "/run/media") continue;
    if (underMedia || blockDeviceRemovable(majorMinor)) roots.push_back(mountPoint);
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
      if (within(plain, r) || within(resolved, r)) return true;
  }
  if (!std::getenv(kRootsVariable)) {
    for (const char* media : {"/media", "/run/media"})
      if (within(plain, media) || within(resolved, media)) return true;
  }
  return false;
}

}  // namespace plat
