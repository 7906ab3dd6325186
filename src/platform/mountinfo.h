#pragma once
// The volume that holds a path: its root (the mount point) and what its file
// system keeps, in the flag values the archive engine asks about.

#include <cstdint>
#include <string>

namespace plat {

// File-system flags.
enum : uint32_t {
  kFsCaseSensitiveSearch = 0x01,
  kFsCasePreservedNames = 0x02,
  kFsUnicodeOnDisk = 0x04,
  kFsPersistentAcls = 0x08,  // never on Linux: no Windows access-control lists are kept
};

// The mount point that holds `path` (the path itself need not exist: its
// nearest existing folder counts). "" when nothing of the path exists.
std::string mountRoot(const std::string& path);

// The flags of the file system mounted at (or holding) `root`; false when it
// cannot be queried.
bool fileSystemFlags(const std::string& root, uint32_t* flags);

}  // namespace plat
