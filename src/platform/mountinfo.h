#pragma once
// The volume that holds a path: its root (the mount point) and what its file
// system keeps, in the flag values the archive engine asks about.

#include <cstdint>
#include <string>
#include <vector>

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

// One line of /proc/self/mountinfo, its paths unescaped.
struct MountEntry {
  std::string majorMinor;  // the device, "major:minor"
  std::string root;        // the folder of the file system mounted there
  std::string mountPoint;
  std::string type;        // "ext4", "vfat", "fuseblk", ...
  std::string source;      // "/dev/sdb1", "tmpfs", a FUSE source
};

// This process's mount table, in the order of mounting (a later mount at the
// same point covers the earlier ones).
std::vector<MountEntry> mountTable();

// Whether `path` is `root` or below it (both absolute and normalised).
bool withinFolder(const std::string& path, const std::string& root);

// What names the file system that holds a path, so that a key made of it
// survives the file system being mounted somewhere else.
struct MountIdentity {
  std::string mountPoint;  // where it is mounted now
  std::string fsRoot;      // the folder of the file system seen there: "/" unless a bind mount
  std::string uuid;        // its name in /dev/disk/by-uuid; "" when it has none
  std::string source;      // the mount's source ("/dev/sdb1", "tmpfs", a FUSE source)
  std::string fsType;      // "ext4", "vfat", "fuseblk", ...
  uint64_t fsid = 0;       // statfs's file-system id; 0 when it gives none
};

// The identity of the file system that holds `path` (an absolute path whose
// links are resolved; its nearest existing folder counts), from
// /proc/self/mountinfo and /dev/disk/by-uuid. False when nothing is found.
bool mountIdentity(const std::string& path, MountIdentity* out);

}  // namespace plat
