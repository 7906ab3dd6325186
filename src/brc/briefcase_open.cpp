#include "brc/briefcase_open.h"

#include <cstring>

#include "archive/errors.h"
#include "brc/cli.h"
#include "platform/files.h"
#include "platform/strtable.h"

namespace brc {

int openBriefcase(const std::string& path, OpenBriefcase* out) {
  out->engine.archivePath = path;
  out->engine.callbacks.configMessage = [](const std::string& s) { error(s); };
  int rc = out->engine.readEndRecord();
  if (rc) {
    errorCode(rc, path);
    return rc;
  }
  if (!out->engine.comment.empty() && !out->record.Parse(out->engine)) {
    // A newer record was already reported by Parse itself.
    if (std::strcmp(out->record.version.c_str(), briefcase::kRecordVersion) <= 0)
      error(plat::loadStr(712));
    return archive::kInvalidComment;
  }
  out->localFolder = out->record.FolderForThisComputer();
  return 0;
}

int setLocalFolder(OpenBriefcase& b, const std::string& folder) {
  bool present = false;
  for (const auto& v : b.record.folders.entries) present = present || v.folder == folder;
  const std::string before = b.record.FolderForThisComputer();
  if (before.empty() && b.record.folders.count() >= briefcase::kMaxVolDirs) {
    error("The briefcase's folder table is full (30 computers); no folder can be added for this computer.");
    return archive::kBadParameters;
  }
  if (!before.empty()) {
    if (before == folder) {
      b.localFolder = folder;
      return 0;
    }
    b.record.SetFolderForThisComputer(folder);
  } else {
    b.record.AddEntry(folder);
  }
  (void)present;
  try {
    b.record.Build(b.engine);
  } catch (const briefcase::RecordTooLarge& e) {
    error(e.what());
    return archive::kInvalidComment;
  }
  int rc = b.engine.rewriteComment();
  if (rc) {
    error(plat::loadStr(724));
    return rc;
  }
  b.localFolder = folder;
  return 0;
}

int resolveLocalFolder(OpenBriefcase& b, const std::string& command, bool hasFolderOption,
                       const std::string& folderOption) {
  if (hasFolderOption) {
    const std::string folder = absolutePath(folderOption);
    if (!plat::folderExists(folder)) {
      error("brc " + command + ": the local folder " + folder + " does not exist or is not a folder.");
      return archive::kBadParameters;
    }
    return setLocalFolder(b, folder);
  }
  if (b.localFolder.empty()) {
    error("brc " + command +
          ": this computer has no local folder in the briefcase yet; give it with --folder DIR.");
    return archive::kBadParameters;
  }
  return 0;
}

}  // namespace brc
