#pragma once
// The extraction side's parameters and per-run state of the engine object,
// with the callbacks only an unload or a listing uses.
//
// A run (listing, unload or test, archive/extract/extract.h) rebuilds the
// entry list from the container's central directory; the caller reads the
// entry list, the totals and the not-all-unloaded flag afterwards.

#include <cstdint>
#include <functional>
#include <string>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/extract/naming.h"
#include "archive/extract/localfile.h"
#include "archive/layout.h"
#include "carry/digest.h"
#include "platform/files.h"
#include "platform/filetime.h"

namespace archive {

// What an unload did with an entry.
enum class UnloadOutcome : uint8_t {
  NotHandled,  // not selected, or the run ended before it
  Unloaded,    // its file was put in place, or its folder exists
  Declined,    // an existing file was not replaced (the user's answer or the policy)
  Skipped,     // refused: a name that cannot be written here, a path beyond the bound, a
               // local file another entry of the run already took (or a later entry of
               // the same name takes), the briefcase itself
  Failed,      // damaged data or a write failure; the local file is as it was
};

// One entry of the central directory, as a run reads it.
struct TExtractEntry {
  TCentralFileHeader central;
  std::string name;            // the stored name bytes of the central header
  std::vector<uint8_t> extra;  // the central extra field
  uint8_t host = 0;            // host system; above kHostLastKnown stored as kHostUnknown
  bool selected = false;       // set by the unload pass for the entries it handles
  UnloadOutcome outcome = UnloadOutcome::NotHandled;  // set by the unload pass
  uint8_t attributes = 0;      // attributes to restore: low byte of the external ones, archive added
  // Read by the unload pass from the entry's local header.
  TLocalFileHeader local;
  std::string localName;
  std::vector<uint8_t> localExtra;

  bool needsZip64 = false;      // a size or the offset needs more than 32 bits
  // The SHA-256 of the file an unload wrote for it, when the run was asked
  // to hash what it writes (TExtractState::digestWritten); set before
  // entryWritten is called.
  carry::Digest content;
  bool hasContent = false;
  std::string leftOut;          // why the unload or test pass left it out, or ""

  // The stored name as text ('/' separators), decoded as archive/namecode.h
  // says (UTF-8 flag, Unicode Path field, code page 437 for MS-DOS hosts,
  // Windows-1252 otherwise).
  std::string displayName() const;
  // A folder entry: its name, as the run maps it, ends with '/' (the
  // Unicode Path field may say so where the stored bytes do not).
  bool isFolder() const {
    const std::string n = displayName();
    return !n.empty() && n.back() == '/';
  }
};

// Answers of the replace-query callback (the answer byte).
enum : uint8_t {
  kAnswerRename = 0,    // the callback put a new full path into the target path
  kAnswerYes = 1,       // replace this file
  kAnswerYesToAll = 2,  // replace this and every later file
  kAnswerNoToAll = 3,   // replace neither this nor any later existing file
  kAnswerNo = 4,        // do not replace this file
};

// Listing modes of a run.
enum : int {
  kModeUnload = 0,
  kModeTest = 1,  // reads and checks every entry, writes nothing
  kModeList = 2,
};

// What this computer's carry record says of an entry and the local file at
// its target.
enum class CarryState : uint8_t {
  Unknown,    // nothing that changes the decision: the policies and the question decide
  Conflict,   // both computers changed the file since it was last carried
  NewerHere,  // the entry is what this computer last carried; the local file changed since
};

struct TExtractCallbacks {
  // Each selected entry of a listing run.
  std::function<void(const TExtractEntry&)> listEntry;
  // An existing file would be replaced and the policies say ask. The callback
  // sets the answer (it keeps its previous value when it does not); for
  // kAnswerRename it puts the new full path into targetPath. Times are UTC
  // file times; sizes are the low 32 bits. Not set: every such file is
  // declined (answer No).
  std::function<void(std::string& targetPath, plat::FileTime existingTime,
                     plat::FileTime entryTime, uint32_t existingSize, uint32_t entrySize,
                     uint8_t& answer)>
      replaceQuery;
  // Each selected entry of a test run, with its result (0: sound).
  std::function<void(const TExtractEntry&, int result)> entryTested;
  // An existing regular file at targetPath is about to be replaced by this
  // entry: the new file is complete and checked, the rename follows at once.
  // The callback says what it did with the old file (archive/extract/
  // localfile.h); KeepIt leaves it in place, and the entry counts as declined.
  std::function<OldFile(const TExtractEntry&, const std::string& targetPath)> beforeReplace;
  // A file was put in place for this entry (under the path given).
  std::function<void(const TExtractEntry&, const std::string& path)> entryWritten;
  // What the carry record says of the entry and the local file found at
  // its target. A conflict is never settled by a policy: where a policy (or
  // Yes to All) would replace the file, the entry is written beside it, at
  // the path conflictCopy gives ("": none could be named; the entry is
  // skipped). A file newer here is never replaced by a policy. Not set:
  // Unknown for every entry.
  std::function<CarryState(const TExtractEntry&, const std::string& target,
                           const plat::FileInfo& found)>
      carryState;
  std::function<std::string(const TExtractEntry&, const std::string& target)> conflictCopy;
};

// A local file an unload could not create or replace, and why (the
// system's text, or the reason the disk refused the name).
struct TNotWritten {
  std::string path;
  std::string why;
};

// Totals of a listing run.
struct TListTotals {
  uint32_t count = 0;
  uint32_t compressed = 0;
  uint32_t uncompressed = 0;
};

struct TExtractState {
  // ---- parameters ----
  std::string targetFolder;  // the local folder an unload writes into
  int listingMode = kModeUnload;
  TExtractCallbacks callbacks;
  // Threads of an unload (0: as a load, archive/update/pdeflate.h's
  // DefaultThreads). With 2 or more, entries are decoded and written on
  // workers; everything the caller sees is the same as with one.
  unsigned threads = 0;
  // The bytes of each file written are hashed as they are written
  // (TExtractEntry::content), so that nobody has to read them again.
  bool digestWritten = false;

  // ---- read by the caller after a run ----
  std::vector<TExtractEntry> entries;  // the central directory in stored order
  TListTotals totals;                  // listing run
  bool notAllUnloaded = false;         // an entry was declined or skipped (see outcome)
  uint32_t filesWritten = 0;           // files put in place by the last unload
  std::vector<TNotWritten> notWritten;  // files the last unload could not create or replace
  // The answer byte: written by the replace-query callback, kept from one
  // question to the next (and from one run to the next).
  uint8_t answer = 0;

  // ---- per-run state ----
  bool allEntries = false;
  int64_t realEnd = 0;          // where the end record was found
  int64_t expectedEnd = 0;      // directory offset + size as the record states them
  int64_t startAdjustment = 0;  // bytes to add to every stored offset
  uint32_t centralOffset = 0;   // the directory offset in use (repaired when it was 0)
  std::string targetPrefix;     // the prepared target folder with a trailing '/'
  bool created = false;         // the current mapping created a folder
  std::unordered_set<std::string> checkedFolders;  // folders found sound in this run
  std::vector<std::string> entryFolders;  // folders created for the current entry
  // Local files the run has given to an entry (written or declined), by path
  // and by file (device, inode): no second entry may have them. A path may
  // have another spelling on a file system that ignores letter case, so the
  // paths are also kept by their loose key (archive/extract/naming.h).
  std::unordered_set<std::string> claimedPaths;
  std::unordered_multimap<std::string, std::string> claimedLoose;
  std::set<std::pair<uint64_t, uint64_t>> claimedFiles;
  FolderNames folderNames;  // how the folders written in treat names
  std::pair<uint64_t, uint64_t> container{0, 0};  // the briefcase's file (device, inode)
  plat::RunFolders folders;  // folders cleared of a killed run's leftovers, and how they name files
  bool diskFull = false;  // the current entry met a full disk: the pass ends
};

}  // namespace archive
