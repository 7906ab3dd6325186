#pragma once
// Unnamed files: a file created in a folder without a name (it disappears by
// itself when the process ends before it is named), and the step that gives
// it a name once its content is complete. The update engine builds a new
// container this way, so that a run that is killed leaves no stray file in
// the user's folder.
//
// The real file system provides them where the kernel and the file system
// can (ext4, xfs, btrfs, tmpfs...); on others (FAT) createUnnamed fails and
// callers fall back to a named temporary file. A FileSystem installed by a
// test offers them by also deriving from UnnamedFileSupport; one that does
// not behaves like a file system without unnamed files.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"

namespace plat {

class UnnamedFileSupport {
 public:
  virtual ~UnnamedFileSupport() = default;
  virtual std::unique_ptr<File> createUnnamed(const std::string& folder) = 0;
  virtual bool linkUnnamed(File& file, const std::string& path) = 0;
};

// A new unnamed file in `folder`, open for reading and writing, through the
// current file system; null (last error set) when none can be made there.
std::unique_ptr<File> createUnnamed(const std::string& folder);

// Names a file made by createUnnamed; fails with EEXIST when `path` exists.
bool linkUnnamed(File& file, const std::string& path);

// Names it "<folder>/<prefix>XXXXXX" with a fresh unique suffix; *path
// receives the name.
bool linkUnnamedUnique(File& file, const std::string& folder, const std::string& prefix,
                       std::string* path);

// Starts writing the given range of a file made by createUnnamed to the disk
// without waiting, so that the sync at the end has less left to do. Does
// nothing for other files.
void startWriteback(File& file, uint64_t offset, uint64_t length);

// Copies `length` bytes of the regular file at `fromPath`, from `fromOffset`,
// into a file made by createUnnamed at its current position (which moves on),
// inside the kernel. `fromPath` must still be the file `expected` describes
// (same device and inode). The count copied, which is 0 when `to` is another
// kind of file or the kernel cannot copy between them: the caller copies the
// rest itself.
uint64_t copyIntoUnnamed(File& to, const std::string& fromPath, const FileInfo& expected,
                         uint64_t fromOffset, uint64_t length);

// Puts a small file's whole contents under `target` so that a kill at any
// moment leaves the old file or the new one and nothing else: written
// unnamed in the target's folder and named in one step when nothing is
// there, else named with the hidden `tempPrefix` and six characters just
// before it is renamed over the old file. Where the file system has no
// unnamed files, a named temporary file takes its place. The data is synced
// first. False (last error set): the target is as it was.
bool writeFileAtomically(const std::string& target, const std::string& bytes, uint32_t mode,
                         const std::string& tempPrefix);

// The real file system's versions, for test wrappers.
std::unique_ptr<File> realCreateUnnamed(const std::string& folder);
bool realLinkUnnamed(File& file, const std::string& path);

}  // namespace plat
