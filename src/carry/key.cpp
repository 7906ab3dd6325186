#include "carry/key.h"

#include <cstdio>

#include "platform/paths.h"

namespace carry {
namespace {

// The volume part: the UUID where the file system has one; else its id from
// statfs with the mount's source (stable while it stays mounted, and for many
// file systems across mounts); else the source alone.
std::string volumePart(const plat::MountIdentity& m) {
  if (!m.uuid.empty()) return "uuid:" + m.uuid;
  if (m.fsid != 0) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(m.fsid));
    return "fs:" + m.fsType + ":" + m.source + ":" + hex;
  }
  return "source:" + m.fsType + ":" + m.source;
}

}  // namespace

std::string briefcaseKey(const std::string& containerPath) {
  return briefcaseKey(containerPath, plat::mountIdentity);
}

std::string briefcaseKey(const std::string& containerPath, const MountLookup& lookup) {
  std::string path = containerPath;
  if (path.empty() || path[0] != '/') path = plat::joinPath(plat::currentFolder(), path);
  path = plat::resolvedPath(path);
  plat::MountIdentity m;
  if (!lookup || !lookup(path, &m) || m.mountPoint.empty()) return "path:" + path;
  // The path below the mount point, seen from the file system's own root.
  std::string below = m.mountPoint == "/" ? path : path.substr(m.mountPoint.size());
  std::string inside = plat::stripTrailingSlash(m.fsRoot.empty() ? "/" : m.fsRoot);
  if (inside == "/") inside.clear();
  return volumePart(m) + "|" + inside + below;
}

}  // namespace carry
