#pragma once
// File access for the whole program. The engines never call the system
// directly: they open files through the current FileSystem, which tests
// replace to inject failures (a short write, a disk that fills up, a file
// that cannot be opened, a rename that fails).
//
// Every failing call returns false (or null) and records the system's error
// number as the last error (platform/errors.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/filetime.h"

namespace plat {

// File attributes, with the values the archive stores.
enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
};

struct FileInfo {
  uint64_t size = 0;
  FileTime creationTime = 0;  // the birth time where the file system keeps one, else mtime
  bool hasBirthTime = false;  // creationTime is the file system's birth time
  FileTime accessTime = 0;
  FileTime writeTime = 0;
  uint32_t attributes = 0;  // kAttr* as derived from the mode and the name
  uint32_t mode = 0;        // permission bits
  bool isDirectory = false;
  bool isSymlink = false;   // only when asked not to follow links
  bool isRegular = false;
  uint64_t device = 0;      // the file system it lives on
  uint64_t inode = 0;
  uint64_t links = 1;       // names (hard links) the file has
};

enum class Access { Read, Write, ReadWrite };

enum class Disposition {
  OpenExisting,  // fails when missing
  CreateAlways,  // creates or truncates
  CreateNew,     // fails when it exists
  OpenAlways,    // opens, or creates when missing
};

enum class Origin { Begin, Current, End };

// An open file. Positions are 64-bit; the archive layer enforces its own 32-bit bounds.
class File {
 public:
  virtual ~File() = default;

  // Reads up to n bytes; *got receives the count (0 at end of file).
  virtual bool read(void* buf, size_t n, size_t* got) = 0;
  // Reads up to n bytes at `offset` without moving the file's position, so
  // that another thread may read the same file at the same time. A file that
  // cannot do this fails (ENOTSUP); the real file system's files can.
  virtual bool readAt(uint64_t offset, void* buf, size_t n, size_t* got);
  // Writes n bytes (retrying partial writes); *put receives the count written.
  virtual bool write(const void* buf, size_t n, size_t* put) = 0;
  virtual bool seek(int64_t distance, Origin origin, uint64_t* newPos) = 0;
  virtual bool size(uint64_t* out) = 0;
  // Cuts the file at the current position.
  virtual bool truncateHere() = 0;
  virtual bool sync() = 0;
  // Drops what the system keeps of the file's contents in memory, so that
  // the next read asks the disk (after a sync: to check what it kept).
  virtual void forgetCached() {}
  // An exclusive advisory lock, not waiting; fails with a sharing violation when held.
  virtual bool lockExclusive() = 0;
  virtual bool info(FileInfo* out) = 0;
  // Sets the times given (null leaves one as it is); a creation time cannot be set and is ignored.
  virtual bool setTimes(const FileTime* creation, const FileTime* access, const FileTime* write) = 0;
  // Sets the permission bits (e.g. to give a new temporary file the mode of
  // the file it replaces).
  virtual bool setMode(uint32_t mode) = 0;
  virtual bool close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual std::unique_ptr<File> open(const std::string& path, Access access,
                                     Disposition disposition) = 0;
  // A new file with a unique name "<folder>/<prefix>XXXXXX", opened for reading and writing.
  virtual std::unique_ptr<File> createTemp(const std::string& folder, const std::string& prefix,
                                           std::string* path) = 0;
  // Information on a path; links are followed unless followLinks is false.
  virtual bool stat(const std::string& path, FileInfo* out, bool followLinks) = 0;
  virtual bool remove(const std::string& path) = 0;
  // Replaces `to` atomically when it exists (same file system only).
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  // Renames only when `to` does not exist (fails with EEXIST otherwise).
  virtual bool renameNoReplace(const std::string& from, const std::string& to) = 0;
  virtual bool makeDir(const std::string& path) = 0;
  virtual bool removeDir(const std::string& path) = 0;
  // Only read-only takes effect: it clears or restores the write bits.
  virtual bool setAttributes(const std::string& path, uint32_t attributes) = 0;
  virtual bool setTimes(const std::string& path, const FileTime* creation, const FileTime* access,
                        const FileTime* write) = 0;
  // Makes a rename or creation in this folder durable.
  virtual bool syncDir(const std::string& folder) = 0;
  // Bytes free to this user on the file system that holds the path; false
  // when it cannot be told (also when the file system reports no size at all).
  virtual bool freeSpace(const std::string& path, uint64_t* out) = 0;
  // The unit in which that file system gives out room: a file of n bytes
  // takes n rounded up to it, a folder at least one. False when unknown.
  virtual bool blockSize(const std::string& path, uint64_t* out) {
    (void)path, (void)out;
    return false;
  }
  // Whether it may be used from several threads at once (the real one may).
  virtual bool threadSafe() const { return false; }
};

// The file system in force (the real one unless a test installed another).
FileSystem& fileSystem();
// The real file system, for wrappers that add faults to it.
FileSystem& realFileSystem();
void setFileSystem(FileSystem* fs);  // nullptr: the real one

class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem* fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// The permission bits a newly created file gets (0666 less the umask).
uint32_t defaultFileMode();

// Shorthands over fileSystem().
// ::renameat2 with these flags (0: a plain rename), after which the file
// has the times it had: some drivers (the user-space FAT one) stamp a
// renamed file with the current time, and a file's time is what the
// briefcase date and the candidates are made of. 0, or -1 with errno as the
// rename left it.
int renameKeepingTimes(const std::string& from, const std::string& to, unsigned flags);

bool fileExists(const std::string& path);  // a regular file (links followed)
bool folderExists(const std::string& path);
// The attributes of a path, or false when it cannot be read.
bool fileAttributes(const std::string& path, uint32_t* attributes);

}  // namespace plat
