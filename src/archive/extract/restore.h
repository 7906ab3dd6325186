#pragma once
// The platform-facing half of the extraction engine: turning an entry's
// stored name into a path under the target folder (creating the folders on
// the way), working out the entry's times, and restoring the attributes and
// times of a file just written. Messages go to the engine's message callback.
//
// Paths below the target folder are never followed through a symbolic link:
// a folder on the way that is a link counts as "exists but is not directory".
// The target folder itself is taken as the user configured it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/extract/state.h"
#include "platform/files.h"

namespace archive {

class TCompress;

// The longest path written, and the longest folder path checked.
constexpr size_t kMaxPath = 259;
constexpr size_t kMaxFolderPath = 257;

// Results of mapName.
enum : int {
  kMapOk = 0,
  kMapSkip = 2,          // a folder entry whose folder existed
  kMapFailed = 3,
  kMapTooLong = 4,
  kMapNameRefused = 5,   // a folder on the way has a name the disk does not accept
  kMapNoMemory = 10,
  kMapFolderCreated = 77,  // a folder entry whose folder was created
};

// An entry's name (or a full path the user gave) turned into the local path
// it is written to, as text only: nothing is looked at or created.
//
// A name keeps every character Linux can hold in a file name, those that
// Windows forbids and a ";N" suffix included; control characters are
// dropped, "." and empty levels are left out. A stored name that is
// absolute, has a drive prefix, a ".." level, or names nothing is refused
// (kMapFailed); a path whose folders are longer than kMaxFolderPath or
// whose file is longer than kMaxPath characters is refused (kMapTooLong),
// never cut.
struct MappedPath {
  int result = kMapOk;
  bool folderEntry = false;          // the name ends with '/': only its folders are made
  std::string path;                  // the file to write (a folder entry: its folder)
  std::vector<std::string> folders;  // the folders on the way below the start, outermost first
  std::string tooLong;               // with kMapTooLong: the path beyond the bound
};
MappedPath mapPath(const std::string& prefix, const std::string& name, bool renamed);

// The names (as the lists show them) that cannot be written under `folder`
// because their path would be longer than the bound, in the order given;
// all of them when the folder itself is too long. A caller checks a local
// folder with it before it starts an unload.
std::vector<std::string> namesBeyondPathBound(const std::string& folder,
                                              const std::vector<std::string>& names);

// Sets the target-folder prefix: the folder without a trailing '/', whose
// last level is created (failure ignored), followed by '/'. Returns 0, or
// kMapTooLong (nothing created) when the folder is longer than a folder
// may be: it cannot hold any file.
int prepareTargetFolder(TCompress& c, const std::string& folder);

// Maps the name in *target (the entry's name, or after a Rename the full
// path the user gave) to the path to write, with mapPath, and only then
// creates the folders on the way; the result goes back into *target. A folder whose name the disk refuses is told with
// the reason and added to c.extract.notWritten. `entry` names the entry in messages, which go
// to `message`. Folders it creates are added to c.extract.entryFolders.
int mapName(TCompress& c, const std::function<void(const std::string&)>& message,
            const TExtractEntry& entry, std::string* target, bool renamed);

// Removes the folders created for the current entry (c.extract.entryFolders),
// innermost first, when they are still empty: the entry was not written.
void removeEntryFolders(TCompress& c);

// The times an entry carries, as UTC file times.
enum : unsigned { kTimeModification = 1, kTimeAccess = 2, kTimeCreation = 4 };
struct EntryTimes {
  unsigned known = 0;
  plat::FileTime modification = 0, access = 0, creation = 0;
};

// The times of an entry from its extra field ("UT" extended timestamp, the
// old Unix block) and its DOS stamp: the extra field's times when they hold a
// modification time, else the DOS stamp read as local time, as modification
// and access time. `message`, when set, receives the conversion failures.
EntryTimes entryTimes(const std::vector<uint8_t>& extra, uint16_t dosDate, uint16_t dosTime,
                      const std::function<void(const std::string&)>& message = nullptr);

// The modification time of an entry as the lists show it and as an unload
// compares it with an existing file (0 when the DOS stamp is not a date):
// from the central header's extra field and stamp.
plat::FileTime entryTime(const TExtractEntry& entry);

// Restores the attributes of a file just written (on its open stream, before
// it is closed): `mode` is the permission the file should have; read-only
// among the entry's attributes clears its write bits.
void restoreAttributes(TCompress& c, plat::File& file, const TExtractEntry& entry, uint32_t mode);

// Restores the times of a file just written, on its open stream after its
// last write (a creation time cannot be set on Linux and is skipped).
void restoreTimes(TCompress& c, plat::File& file, const TExtractEntry& entry);

// The same, sending their messages to `message` (a worker keeps them for the
// calling thread).
void restoreAttributes(const std::function<void(const std::string&)>& message, plat::File& file,
                       const TExtractEntry& entry, uint32_t mode);
void restoreTimes(const std::function<void(const std::string&)>& message, plat::File& file,
                  const TExtractEntry& entry);

}  // namespace archive
