#pragma once
// Opening a briefcase on this computer, the one way both the window and
// `brc` do it: the container's end record and configuration record read
// into the engine and a record, and this computer's local folder taken from
// the record or given. Nothing is said to the user here: each front end
// words the outcome its own way (a question in the window, an error line in
// `brc`). The scan rules for the local folder come from app::RulesFor.

#include <functional>
#include <optional>
#include <string>

#include "archive/compress.h"
#include "archive/errors.h"
#include "briefcase/comment.h"

namespace briefcase {

// A local folder given by the user instead of the record's.
struct FolderOverride {
  std::string folder;  // a full path without a trailing '/'
  // Set: the folder becomes this computer's in the record (every entry of
  // this computer, or a new entry when it has none); it must exist. Unset:
  // the open only looks at it and the record keeps its own.
  bool adopt = true;
};

struct OpenRequest {
  std::optional<FolderOverride> folder;
  // Asked when the container's end record cannot be read, with the engine's
  // code: true reads it again (the comment of the failed attempt is dropped).
  // Unset: the open ends at the first failure.
  std::function<bool(int code)> retryRead;
};

// Where this computer's local folder stands after an open.
enum class LocalFolderState {
  Known,         // the record (or the override) names a folder that exists
  None,          // the record has no folder for this computer
  Missing,       // the folder named is not there (renamed, deleted, not mounted)
  OverrideGone,  // the folder to adopt does not exist (the record is unchanged)
  TableFull,     // the folder to adopt found no place in the record's table
};

struct OpenedBriefcase {
  // kOk; the engine's code when the end record was not read; kInvalidComment
  // when the configuration record is not one this program reads.
  int code = archive::kOk;
  bool endRecordRead = false;  // false: `code` is the end record's
  bool hasRecord = false;      // the container carries a record (else the record is new)
  std::string localFolder;     // this computer's folder ("" when it has none)
  LocalFolderState folder = LocalFolderState::None;
  bool recordChanged = false;  // an adopted folder changed the record
  bool appendUndone = false;   // an interrupted append was undone (say so once)
};

// Opens the container at `path`: the engine's archivePath, comment and level
// and the record are set from it. The local folder is looked at only when
// the record was read.
OpenedBriefcase OpenForThisComputer(archive::TCompress& engine, const std::string& path,
                                    TBriefcaseComment& record, const OpenRequest& request = {});

}  // namespace briefcase
