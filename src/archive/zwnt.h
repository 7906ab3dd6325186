#pragma once
// The engines' platform services: free space and the question when it is
// short, the volume's file-system flags (cached), file attributes, the
// security descriptor (none on Linux), and time conversion.
//
// Linux keeps no Windows security descriptors: the NT test is false, no
// volume reports persistent access-control lists, reading a descriptor
// fails, and so no entry ever gets an "SD" extra field. The one-time set-up
// still exists (it prepares the volume cache), guarded for several threads.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/filetime.h"

namespace archive {

// Bytes free to this user on the file system that holds `path` (any path on
// the volume, or its root). False when the query failed.
bool FreeSpace(const std::string& path, uint64_t* freeBytes);

// The unit in which the volume of `path` gives out room (its block or
// cluster size); 4096 when it cannot be told.
uint64_t BlockSize(const std::string& path);

// True when the volume of `path` has at least `needed` bytes free, or when the
// user, asked through the program's question interface ("Insufficient Disk
// Space?", OK and Cancel), chose to continue.
bool ConfirmSpace(const std::string& path, uint64_t needed);

// The file-system flags of the volume that holds `path` (plat::kFs*); false
// when the volume cannot be queried. The last volume's flags are cached: a
// second path on the same volume does not query it again.
bool VolumeInformation(const std::string& path, uint32_t* flags);
// How many times the volume was actually queried (for tests).
unsigned VolumeQueryCount();
// Forgets the cached volume (for tests).
void ResetVolumeCache();

// Reads the file's security descriptor into `buffer`; always false here.
bool ReadSecurityDescriptor(const std::string& path, std::vector<uint8_t>* buffer);

// The read-only, hidden, system, directory and archive bits of the file, or
// 0x20 (archive) when they cannot be read.
uint32_t Attributes(const std::string& path);

// Whether the platform is of the Windows NT family: false, computed once.
bool IsWindowsNT();

// Seconds since 1970-01-01 00:00 UTC of a file time.
int64_t UnixTime(plat::FileTime ft);

}  // namespace archive
