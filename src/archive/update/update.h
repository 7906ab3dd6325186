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
// Callbacks used: message (status texts), configMessage (warnings, errors),
// totalProgress, fileProgress, cancelCheck (before each entry and between
// blocks of data), configRefresh (just before the end record is written, so
// the comment holds the current configuration), writeProtected, openFailed.
//
// The container is never edited in place while a better way exists: the new
// archive is written as an unnamed file in the container's own folder,
// synced, named and renamed over the container in one step, and the folder
// is synced. Only when that file system lacks room for the new archive is it
// built in the temporary folder and copied over the container; when that
// copy does not complete, the new archive is kept there, its path is in
// engine.update.keptArchivePath and the result is 57. The container is held
// under an exclusive lock for the whole run; a second run meanwhile finds it
// not openable (open-failed callback, else result 25).

#include <string>

#include "archive/compress.h"

namespace archive {

// One update run. Result: 0; 19 cancelled (the container untouched); 28 a
// file could not be opened and was skipped; 23 a delete on an empty
// container; or the code of the failure that ended the run.
int Update(TCompress& engine);

// Sets delete mode and clears the cancel flag; clears the names when asked.
void PrepareDelete(TCompress& engine, bool clearNames);

// Replaces the container by an empty archive that holds engine.comment as
// its configuration, in one step (a temporary file in the same folder renamed
// over it), under the container's lock. Its date becomes the time of the
// clear. Resets the end record to the empty one. Result: 0; 25 when the
// container is locked by a run; the codes of createContainerAtomically.
int ClearBriefcase(TCompress& engine);

// The entry name of a local name (after the base folder was removed):
// leading '/' and "./" dropped, letter case kept. Names are Linux paths, so
// '\' is an ordinary character and there are no drive letters.
std::string StoredName(const std::string& localName);

}  // namespace archive
