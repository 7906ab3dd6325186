#include "briefcase/open.h"

#include "archive/errors.h"
#include "platform/diag.h"
#include "platform/files.h"

namespace briefcase {
namespace {

int readEndRecord(archive::TCompress& engine, const OpenRequest& request) {
  for (;;) {
    // The engine opens the container for reading, finds the end record with
    // its comment and closes it again, whatever the outcome.
    const int rc = engine.readEndRecord();
    if (rc == archive::kOk || !request.retryRead || !request.retryRead(rc)) return rc;
    // Nothing of a failed attempt is kept, so the open never goes on
    // without a configuration.
    engine.comment.clear();
  }
}

// The given folder made this computer's in the record.
LocalFolderState adopt(TBriefcaseComment& record, const std::string& wanted, bool* changed) {
  if (!plat::folderExists(wanted)) return LocalFolderState::OverrideGone;
  if (record.FolderForThisComputer() == wanted) return LocalFolderState::Known;
  if (record.FolderForThisComputer().empty())
    record.AddEntry(wanted);
  else
    record.SetFolderForThisComputer(wanted);
  if (record.FolderForThisComputer().empty()) return LocalFolderState::TableFull;
  *changed = true;
  return LocalFolderState::Known;
}

}  // namespace

OpenedBriefcase OpenForThisComputer(archive::TCompress& engine, const std::string& path,
                                    TBriefcaseComment& record, const OpenRequest& request) {
  OpenedBriefcase opened;
  engine.archivePath = path;
  plat::diag("before ReadEndCentralRecord");
  opened.code = readEndRecord(engine, request);
  opened.appendUndone = engine.appendUndone;
  if (opened.code != archive::kOk) return opened;
  opened.endRecordRead = true;
  plat::diag("before comment.Read()");
  opened.hasRecord = !engine.comment.empty();
  if (opened.hasRecord && !record.Parse(engine)) {
    opened.code = archive::kInvalidComment;
    return opened;
  }

  if (request.folder && request.folder->adopt) {
    opened.folder = adopt(record, request.folder->folder, &opened.recordChanged);
    if (opened.folder != LocalFolderState::Known) return opened;
  }
  opened.localFolder = request.folder && !request.folder->adopt ? request.folder->folder
                                                                : record.FolderForThisComputer();
  if (opened.localFolder.empty())
    opened.folder = LocalFolderState::None;
  else if (!plat::folderExists(opened.localFolder))
    opened.folder = LocalFolderState::Missing;
  else
    opened.folder = LocalFolderState::Known;
  return opened;
}

}  // namespace briefcase
