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
#include <mutex>
#include <string>
#include <vector>
#include <unordered_map>

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

// ---- temporary names of ours ----
//
// A file being written has, where it has a name at all, the hidden name
// "<start><process id>-XXXXXX" (six letters or digits). Before a run writes in
// a folder it removes such files of processes that no longer run (a file of
// this very process's id is a leftover too: only one run of a kind writes at
// a time in a process). No other program uses the pattern, so a user's file is
// never taken for one; links and folders are never touched.

// One kind of temporary name: its start, and how many characters at most
// may follow the six (a probe's tried spelling).
struct TemporaryPattern {
  TemporaryPattern(std::string s, size_t t = 0) : start(std::move(s)), tail(t) {}
  TemporaryPattern(const char* s) : start(s) {}
  std::string start;
  size_t tail = 0;
};

// The start of this process's temporary names that begin with `start`.
std::string temporaryPrefix(const std::string& start);
// Whether a file name is one of our temporary names of that pattern, and of
// which process.
bool isTemporaryName(const std::string& name, const TemporaryPattern& pattern, int* pid);
// Removes from `folder` the temporary files of these patterns whose process
// no longer runs, and settles the name claims such processes left there
// (see NewFile::nameNew). One look through the folder.
void removeLeftTemporaries(const std::string& folder, const std::vector<TemporaryPattern>& patterns);
// The start of a name claim's file. A claim holds a 32-character token, a
// line feed and the claimed name; the name meanwhile holds
// placeholderText(token).
extern const char kClaimStart[];
std::string placeholderText(const std::string& token);

// ---- naming a finished file without replacing another ----

// How a folder's file system lets a finished file take a name that must be
// free: in one step (renameNoReplace, which is a rename with that flag or a
// hard link), or, where it can do neither, by claiming the name first (below).
enum class NamingWay { Unknown, OneStep, Claim };

// What a run has learnt about the folders it writes in: each is cleared of
// what killed runs left there the first time the run writes in it, and how a
// new file is named there is found out once, by trying it on names of our
// own, never from the file system's type. May be used from several threads.
class RunFolders {
 public:
  RunFolders() = default;
  RunFolders(const RunFolders& other);
  RunFolders& operator=(const RunFolders& other);

  // True the first time a folder is visited (the caller clears it then).
  bool firstVisit(const std::string& folder);
  NamingWay way(const std::string& folder) const;
  void learn(const std::string& folder, NamingWay way);
  // Whether unnamed files were found not to work there.
  bool noUnnamed(const std::string& folder) const;
  void learnNoUnnamed(const std::string& folder);
  void clear();

 private:
  struct Folder {
    NamingWay way = NamingWay::Unknown;
    bool noUnnamed = false;
  };
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Folder> folders_;
};

// A new file written in a folder and then given its name, so that a run
// stopped at any moment (an error, a full disk, a kill) leaves under that
// name the old file or the new one, and in the folder nothing a later run
// does not recognise and remove. The one way every new file of the program
// gets its name: containers, local files of an unload, shortcuts.
//
//   begin          the file, unnamed where the file system allows (it vanishes
//                  with the process), else under a temporary name of ours;
//   nameNew        gives it a name where nothing is, never replacing a file
//                  that appeared meanwhile: linked there (unnamed), renamed
//                  without replacing, or, where the file system can do
//                  neither (no hard links and no rename flags, as on FAT and
//                  exFAT through their user-space drivers), by a claim: a
//                  claim file of ours records the name, the name is created
//                  exclusively holding a placeholder text, and the finished
//                  file is renamed over it. A kill leaves at most the claim,
//                  the placeholder and the temporary file; the next run in
//                  the folder removes all three (a placeholder only while it
//                  still holds its claim's text, or a beginning of it);
//   replace        renames it over an existing file in one step;
//   rollback       drops it.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { rollback(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Makes the file in `folder`, its temporary names beginning with `start`.
  // With `run`, the folder is cleared of leftovers of `start` (and of name
  // claims) the first time the run writes there, and what is found out about
  // it is kept for the run; without, it is cleared now. False (last error
  // set) when no file can be made there.
  bool begin(const std::string& folder, const std::string& start, RunFolders* run);
  File* file() const { return raw_; }
  // Hands the open file over: the caller keeps it open for as long as it is
  // still to be named (and closes it itself).
  std::unique_ptr<File> release() { return std::move(file_); }
  const std::string& folder() const { return folder_; }
  bool unnamed() const { return unnamed_ && path_.empty(); }
  // Its temporary name ("" while unnamed and once named).
  const std::string& path() const { return path_; }

  // Gives the finished file the name `target` (in the same folder) only
  // when nothing is there: false with EEXIST when something is; on any
  // failure the file stays as it was, unnamed or under its temporary name.
  bool nameNew(const std::string& target);
  // Gives an unnamed file a temporary name of ours (nothing to do for a
  // named one).
  bool nameTemporarily();
  // Renames the file over `target` in one step (named temporarily first).
  bool replace(const std::string& target);
  // Closes the file when it is still open; false (last error set) when
  // closing fails.
  bool close();
  // Closes the file and removes its temporary name.
  void rollback();

 private:
  bool probe();
  bool nameByClaim(const std::string& target);
  NamingWay way() const;
  void learn(NamingWay way);

  std::unique_ptr<File> file_;  // while not handed over
  File* raw_ = nullptr;          // the file, also once handed over
  std::string folder_, start_, path_;
  bool unnamed_ = false;
  RunFolders* run_ = nullptr;
  NamingWay way_ = NamingWay::Unknown;  // without a run
};

// Puts a small file's whole contents under `target` (replacing what is
// there) so that a kill at any moment leaves the old file or the new one and
// nothing a later call does not remove: a NewFile in the target's folder,
// synced, then named or renamed over the old file. False (last error set):
// the target is as it was.
bool writeFileAtomically(const std::string& target, const std::string& bytes, uint32_t mode,
                         const std::string& tempStart);

// The real file system's versions, for test wrappers.
std::unique_ptr<File> realCreateUnnamed(const std::string& folder);
bool realLinkUnnamed(File& file, const std::string& path);

}  // namespace plat
