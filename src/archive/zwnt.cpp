#include "archive/zwnt.h"

#include <mutex>

#include "platform/ask.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/mountinfo.h"

namespace archive {
namespace {

// The process-wide set-up state: created once, the volume cache under a lock.
struct SetUpState {
  std::mutex cacheLock;
  bool backupPrivilege = false;    // no privileges exist to adjust here
  bool securityPrivilege = false;
  std::string cachedRoot;
  bool cacheValid = false;
  uint32_t cachedFlags = 0;
  unsigned queries = 0;
};

std::once_flag setUpOnce;
SetUpState* state = nullptr;

SetUpState& setUp() {
  std::call_once(setUpOnce, [] {
    static SetUpState s;
    state = &s;
  });
  return *state;
}

// The path itself, or its nearest existing folder when it does not exist yet
// (the free space of a file about to be written).
std::string existingPart(const std::string& path) {
  std::string p = path;
  plat::FileInfo fi;
  while (!p.empty() && !plat::fileSystem().stat(p, &fi, true)) {
    std::string up = plat::parentFolder(p);
    if (up == p) break;
    p = up;
  }
  return p.empty() ? path : p;
}

}  // namespace

bool FreeSpace(const std::string& path, uint64_t* freeBytes) {
  return plat::fileSystem().freeSpace(existingPart(path), freeBytes);
}

uint64_t BlockSize(const std::string& path) {
  uint64_t block = 0;
  return plat::fileSystem().blockSize(existingPart(path), &block) ? block : 4096;
}

bool ConfirmSpace(const std::string& path, uint64_t needed) {
  uint64_t freeBytes = 0;
  if (!FreeSpace(path, &freeBytes)) freeBytes = 0;
  if (freeBytes >= needed) return true;
  std::string text = plat::strFormat(
      "Free Disk Space = %s bytes\nUncompressed Files Total %s bytes\nContinue?\n",
      std::to_string(freeBytes).c_str(), std::to_string(needed).c_str());
  return plat::messageBox(text, "Insufficient Disk Space?", plat::btnOkCancel,
                          plat::Icon::Warning) == plat::mrOk;
}

bool VolumeInformation(const std::string& path, uint32_t* flags) {
  SetUpState& s = setUp();
  std::string root = plat::mountRoot(path);
  std::lock_guard<std::mutex> guard(s.cacheLock);
  if (s.cacheValid && s.cachedRoot == root) {
    *flags = s.cachedFlags;
    return true;
  }
  ++s.queries;
  uint32_t f = 0;
  if (root.empty() || !plat::fileSystemFlags(root, &f)) {
    s.cacheValid = false;
    return false;
  }
  s.cachedRoot = root;
  s.cachedFlags = f;
  s.cacheValid = true;
  *flags = f;
  return true;
}

unsigned VolumeQueryCount() {
  SetUpState& s = setUp();
  std::lock_guard<std::mutex> guard(s.cacheLock);
  return s.queries;
}

void ResetVolumeCache() {
  SetUpState& s = setUp();
  std::lock_guard<std::mutex> guard(s.cacheLock);
  s.cacheValid = false;
  s.cachedRoot.clear();
}

bool ReadSecurityDescriptor(const std::string&, std::vector<uint8_t>* buffer) {
  setUp();
  buffer->clear();
  return false;
}

uint32_t Attributes(const std::string& path) {
  uint32_t a = 0;
  if (!plat::fileAttributes(path, &a)) return plat::kAttrArchive;
  return a & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem | plat::kAttrDirectory |
              plat::kAttrArchive);
}

bool IsWindowsNT() {
  static const bool nt = false;
  return nt;
}

int64_t UnixTime(plat::FileTime ft) { return plat::unixTimeFromFileTime(ft); }

}  // namespace archive
