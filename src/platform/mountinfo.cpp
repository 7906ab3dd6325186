#include "platform/mountinfo.h"

#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/paths.h"

namespace plat {
namespace {

// Magic numbers of the FAT family, whose names ignore case.
constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kNtfsMagic = 0x5346544e;

}  // namespace

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
