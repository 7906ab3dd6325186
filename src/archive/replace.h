#pragma once
// Replacing a container without ever putting its only copy at risk: the one
// routine behind a load, a delete, a clear and the creation of a briefcase.
//
// A container is reached by the path the user gave, which may lead through
// symbolic links: the file that is read, locked and replaced is the one the
// links lead to, in its own folder, so a link stays a link and keeps showing
// the briefcase. A container with more than one name (hard links) is not
// replaced at all: a new file under one name would leave the others with the
// old contents, and rewriting it in place could destroy it if the run were
// killed; the run is refused with kMoveFailed and a message that says why.
//
// The steps:
//   ContainerLock::acquire   opens the container for reading and writing (the
//                            write test) and takes its exclusive lock; the
//                            lock is kept to the end (across runs, when the
//                            engine holds it: HoldLock in update.h).
//   ContainerReplacement::begin     the new file, unnamed, beside the container
//                            when its file system has room for the largest the
//                            new archive can become, else in the temporary folder.
//   ContainerReplacement::commit    the new archive put in the container's place
//                            in one rename, after checking that the path still
//                            names the file that was read, unchanged (device,
//                            inode, size, last-write time). Otherwise the new
//                            archive is kept beside the container under a name
//                            of its own, and the run fails. A new archive built
//                            in the temporary folder is first copied beside the
//                            container; when that file system has no room for
//                            it the run fails with kDiskMayBeFull and says how much room is
//                            needed. The container is never overwritten in place.
//   ContainerReplacement::rollback  (or destruction) drops the new file.
// The new container is locked before it is renamed into place, so the lock
// carries over to it without a gap.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "platform/files.h"
#include "platform/unnamed.h"

namespace archive {

// What a run read: the file, and its size and last-write time then.
struct ContainerIdentity {
  uint64_t device = 0, inode = 0, size = 0;
  plat::FileTime writeTime = 0;
  static ContainerIdentity of(const plat::FileInfo& fi) {
    return ContainerIdentity{fi.device, fi.inode, fi.size, fi.writeTime};
  }
  bool operator==(const ContainerIdentity&) const = default;
};

class ContainerLock {
 public:
  enum class Status { Locked, Missing, Denied, Busy, Failed };

  ContainerLock() = default;
  ContainerLock(const ContainerLock&) = delete;
  ContainerLock& operator=(const ContainerLock&) = delete;

  // Resolves the links of `path`, opens the file for reading and writing
  // and locks it. Busy: another run holds the lock. Denied: the file cannot
  // be written. Missing: not there. Failed: any other reason (last error set).
  Status acquire(const std::string& path);
  bool held() const { return file_ != nullptr; }
  void release();

  const std::string& path() const { return path_; }          // as given
  const std::string& realPath() const { return realPath_; }  // the file the links lead to
  const ContainerIdentity& identity() const { return identity_; }
  uint32_t mode() const { return mode_; }
  uint64_t names() const { return names_; }  // hard links of the container
  // The locked file, open for reading and writing (null when not held).
  JNormFile* file() const { return file_.get(); }

  // True when the real path still names the locked file and its size and
  // last-write time are those recorded.
  bool unchanged() const;
  // Records the file's size and time again after a change of this program's own.
  void refresh();
  // After a replacement: the new container, in place and already locked.
  void adopt(std::unique_ptr<JNormFile> file);

 private:
  std::unique_ptr<JNormFile> file_;
  std::string path_, realPath_;
  ContainerIdentity identity_;
  uint32_t mode_ = 0;
  uint64_t names_ = 1;
};

class ContainerReplacement {
 public:
  // Progress of a copy, in percent.
  using Progress = std::function<void(int)>;

  explicit ContainerReplacement(ContainerLock& lock) : lock_(lock) {}
  ~ContainerReplacement() { rollback(); }
  ContainerReplacement(const ContainerReplacement&) = delete;
  ContainerReplacement& operator=(const ContainerReplacement&) = delete;

  // Makes the new file (given the container's permissions). `room`: the most
  // the new archive can take. Results: 0 with *out set; 57 for a container
  // with more than one name; 20 when no file can be made. *message says why.
  int begin(uint64_t room, bool mayBuildElsewhere, std::unique_ptr<JNormFile>* out,
            std::string* message);
  // The folder the new file is in.
  const std::string& folder() const { return folder_; }

  // Puts the complete new archive (`size` bytes) in the container's place and
  // hands the new container, locked, to the lock. Results: 0; 29 no room
  // beside the container (the message says how much is needed); 58 the
  // container was changed or replaced by someone else meanwhile (the new
  // archive is kept: keptPath()); 24 or 57 when it could not be written or
  // renamed. On failure the container is as it was, and `configMessage`
  // has received "Error %d while replacing file" with the code; *message is
  // the run's context text.
  int commit(std::unique_ptr<JNormFile> out, uint64_t size, const MessageSink& configMessage,
             const Progress& progress, std::string* message);
  // Drops a new file that was not committed.
  void rollback();

  // Where the new archive was kept when the container changed meanwhile ("" otherwise).
  const std::string& keptPath() const { return kept_; }

 private:
  bool keepAside();

  ContainerLock& lock_;
  std::unique_ptr<plat::NewFile> new_;  // the new archive, until it is in place
  std::string folder_;                  // where it is
  bool nearContainer_ = false;
  std::string kept_;
};

// Creates an empty container holding `comment` as its configuration at
// `path`, in one step, with the write time given (when not null): over the
// existing container when `replace` is true (under its lock, links resolved,
// as a replacement above; created when there is none), else only when
// nothing is there. A failure at any
// point leaves `path` as it was and no temporary file behind. Results: 0;
// 25 when the file cannot be created or the container is locked; 29 or 24
// when it cannot be written; 57 when it cannot be moved into place (for
// !replace: also when `path` exists) or has several names; 58 changed meanwhile.
// `head` (deletionsHead in archive/deletions.h) goes before the end record
// of a new container.
int createContainerAtomically(const std::string& path, const std::vector<uint8_t>& comment,
                              const plat::FileTime* writeTime, bool replace,
                              const std::vector<uint8_t>& head = {});

// The same replacement for a container whose lock is already held; `head`
// (deletionsHead in archive/deletions.h) goes before the end record.
int replaceWithEmpty(ContainerLock& lock, const std::vector<uint8_t>& comment,
                     const plat::FileTime* writeTime, const MessageSink& configMessage,
                     const std::vector<uint8_t>& head = {});

// `a` and `b` name the same file: one path, links to one file, one file
// (device and inode), or two spellings of one name in a folder that ignores
// letter case (where FAT drivers give each spelling its own inode number).
bool isSameContainer(const std::string& a, const std::string& b);

// Copies the container at `source` to `target` (Save As): the same bytes,
// permissions and last-write time (the briefcase date), complete under a
// temporary name first and then named in one step, so that a failure at any
// point leaves both paths as they were and no temporary file behind. The
// source is locked for the copy. A file at `target` is replaced only with
// `replace` (under its lock, links resolved, as a replacement above), and
// never when it is the source itself (another name of the same file).
// Results: 0; 23 the source cannot be read; 25 the source or the target is
// locked by another run, or the target cannot be created; 55 the target
// cannot be written; 57 the target exists (!replace), is the source, is a
// folder, has several names or cannot be named; 58 the source changed
// during the copy; 24 or 29 the copy could not be written. *message says why.
int copyContainer(const std::string& source, const std::string& target, bool replace,
                  std::string* message);

// Rewrites the configuration comment of the container in place (only the
// end record's comment changes, so every name of the container sees it) and
// cuts the file after it where it was longer. The new comment is written
// through the handle that holds the lock; then what the disk kept is read
// back (the new comment and the bytes before it) and compared: where it
// differs, the old bytes are written back and the sink receives "The
// configuration could not be saved: the disk did not keep what was
// written". With `lock` (a held lock) it works on the locked file and
// records its new size and time; else it takes the lock itself. Results:
// 0; 23 when the container cannot be opened or is locked; the end-record
// search's code (the sink receives "Configuration not found"); 24 when the
// write, the cut or the check fails.
int rewriteComment(const std::string& path, const std::vector<uint8_t>& comment,
                   const MessageSink& configMessage, ContainerLock* lock = nullptr);

}  // namespace archive
