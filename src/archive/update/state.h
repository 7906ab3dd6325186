#pragma once
// The update side's parameters and per-run state of the engine object.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/deletions.h"
#include "archive/layout.h"
#include "archive/replace.h"

namespace archive {

// Modes of an update run.
enum : uint8_t { kModeAdd = 0, kModeDelete = 1 };

// A local file that is not yet in the container.
struct TFItem {
  std::string localPath;   // as given in the names list
  std::string storedName;  // the entry name it gets
  uint64_t size = 0;       // from the lookup before the run
};
using TFList = std::vector<TFItem>;

struct TUpdateState {
  // ---- parameters ----
  uint8_t mode = kModeAdd;   // 0 add/replace (load), 1 delete
  std::string baseFolder;    // a name that starts with it has it removed before it is stored
  int extraFieldsOn = 1;     // the "UT" block is always written

  // Bounds of the container format: at most 65,535 entries and 4 GB. A run
  // whose new container would pass them is refused and the old one stays.
  // (Tests lower them.)
  uint32_t maxEntries = 0xffff;
  uint64_t maxArchiveSize = 0xffffffffULL;
  // Threads that deflate; 0: DefaultThreads(). A speed setting only: the
  // archive is the same byte for byte whatever the number.
  unsigned threads = 0;

  // The run rewrites the container even where it could append to it (a
  // compaction, or a comparison); keepDate gives the new container the old
  // one's last-write time (a compaction changes no entry).
  bool rewrite = false;
  bool keepDate = false;

  // ---- per-run state ----
  int8_t method = -1;               // -1 deflate (level 1-9), 0 store (level 0)
  std::string noCompressSuffixes;   // ".z:.zip:.arj:.zoo:.arc:.lzh", none at level 9
  TZList entries;                   // the container's entries, then the new ones
  std::vector<std::string> sources;  // per entry: the local file a replaced entry is read from
  std::vector<std::string> renamed;  // per entry: the name a replaced entry is written under
  TFList newFiles;                  // local files not yet in the container
  std::unique_ptr<JNormFile> input;   // the container, open for reading for the whole run
  std::unique_ptr<JNormFile> output;  // the new archive being written
  uint64_t outputOffset = 0;        // bytes written to the output so far
  bool skippedFiles = false;        // a file could not be opened (kFileNotReadable)
  bool busy = false;                // another run held the container's lock (kCreateFailed)
  std::string gone;                 // kGone: what is no longer there (the briefcase,
                                    // its folder or disk, or the local folder)
  std::vector<std::string> unmatched;  // delete mode: names without an entry

  // The deletions the container carried when the run read it (a damaged
  // block is told through configMessage and not kept), and the block the
  // run writes before the new directory.
  FoundDeletions carried;
  std::vector<uint8_t> deletionBlock;

  bool appended = false;     // the run appended to the container (else it rewrote it)
  uint64_t freedBytes = 0;   // how much smaller the container became

  // After a run that found the container changed by another program before
  // it could replace it: the path of the new archive, kept beside the
  // container so that nothing is lost ("" otherwise).
  std::string keptArchivePath;
  // The local files that were not loaded (not opened, changed while they
  // were read, or with a path too long); each was reported by name.
  std::vector<std::string> notLoaded;
  // The encrypted entries the run wrote, by name: the CRC-32 of the bytes
  // read from the file, which their headers do not hold.
  std::unordered_map<std::string, uint32_t> fileCrcs;

  // The container's lock while the engine holds it across runs (HoldLock).
  std::unique_ptr<ContainerLock> heldLock;

  void releaseRun() {
    entries.clear();
    entries.items.shrink_to_fit();
    sources.clear();
    renamed.clear();
    newFiles.clear();
    input.reset();
    output.reset();
  }
};

}  // namespace archive
