#pragma once
// The update engine: rewrites the container with local files added or
// refreshed (mode 0) or with entries removed (mode 1), copying every other
// entry unchanged, and Clear, which empties the container but keeps its
// configuration.
//
// A load, as the window or `brc load` drives it:
//   engine.archivePath = the container; engine.update.baseFolder = the local
//   folder (no trailing '/'); engine.ClearCancel(); rebuild engine.comment
//   from the configuration; engine.ClearNames(); engine.AddName(full local
//   path) for each file; rc = Update(engine); engine.update.baseFolder = "".
// A delete: AddName(entry name) for each entry ('/' separators);
//   PrepareDelete(engine, false); rebuild the comment; rc = Update(engine);
//   engine.update.mode = kModeAdd.
// A clear: rebuild the comment; rc = ClearBriefcase(engine).
//
// Every run, a compaction and a clear write the deletions block
// (archive/deletions.h) before the new directory: the rows the container
// carries, or those in engine.deletions when it is set.
//
// Callbacks used: message (status texts), configMessage (warnings, errors),
// totalProgress, fileProgress, cancelCheck (before each entry and between
// blocks of data), configRefresh (just before the end record is written, so
// the comment holds the current configuration), writeProtected, openFailed.
//
// No byte of the container is ever written over. Where it can
// (archive/append.h tells when), a run appends: the new and refreshed
// entries, then a new directory and end record, go after the container's
// end, and a delete writes only a new directory; an append killed half-way
// is cut back by the next open. Otherwise, and once the bytes that the
// directory no longer references pass kCompactPercent of the container, the
// new archive is built whole and replaces the container in one
// rename (archive/replace.h tells how, with symbolic links, hard links, a
// full disk and a container changed by another program meanwhile). When the
// container's file system has no room for the new archive beside the old one
// the run ends with kDiskMayBeFull and the container stays as it was. When the container
// was changed or replaced by someone else during the run, the new archive is
// kept beside it (its path in engine.update.keptArchivePath) and the result
// is 58. The container is held under an exclusive lock for the whole run; a
// second run meanwhile finds it not openable (open-failed callback, else
// result kCreateFailed).
//
// Names are matched by their exact bytes ("Report.txt" and "report.txt" are
// two entries), or by the name an entry is listed by (an entry stored in
// Windows-1252 is found by its decoded name, and refreshed under the name of
// the local file). A file that changes while it is read, or whose path is
// longer than the path bound, is not stored: it is reported by name, its old
// entry stays, and the run ends with kFileNotReadable (engine.update.notLoaded lists them).

#include <string>

#include "archive/compress.h"

namespace archive {

// One update run. Result: 0; 19 cancelled (the container untouched); 28 a
// file could not be opened and was skipped; 23 a delete on an empty
// container; or the code of the failure that ended the run.
int Update(TCompress& engine);

// Sets delete mode and clears the cancel flag; clears the names when asked.
void PrepareDelete(TCompress& engine, bool clearNames);

// Rewrites the container without the bytes that its directory no longer
// references (what appends leave behind), through the same replacement as a
// rewriting load; the container keeps its last-write time, the briefcase
// date. Cancellable (19, the container as it was). engine.update.freedBytes
// tells how many bytes it freed.
int Compact(TCompress& engine);

// Replaces the container by an empty archive that holds engine.comment as
// its configuration, in one step (a temporary file in the same folder renamed
// over it), under the container's lock. Its date becomes the time of the
// clear. Resets the end record to the empty one. Result: 0; 25 when the
// container is locked by a run; 23 when it is missing; 55 when it cannot be
// written; the codes of replaceWithEmpty (archive/replace.h).
int ClearBriefcase(TCompress& engine);

// Takes the container's exclusive lock for the engine and holds it until
// ReleaseLock (or the engine's end), so that an unload and the removal of its
// entries afterwards form one run for every other program: none can start
// on the container in between. The engine's own update runs, clears and
// configuration rewrites meanwhile work under it (the lock carries over to
// the container that replaces the old one). Each first checks that the
// container is still the file that was locked, unchanged (size, last-write
// time), else ends with kInUse and changes nothing; a caller that changes the
// container's date itself calls RefreshLock afterwards. Results: 0; 25
// another run holds the lock; 23 the container is missing; 55 it cannot be
// written.
int HoldLock(TCompress& engine);
void RefreshLock(TCompress& engine);
void ReleaseLock(TCompress& engine);

// The entry name of a local name (after the base folder was removed):
// leading '/' and "./" dropped, letter case kept. Names are Linux paths, so
// '\' is an ordinary character and there are no drive letters.
std::string StoredName(const std::string& localName);

}  // namespace archive
