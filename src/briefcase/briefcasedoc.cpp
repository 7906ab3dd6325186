#include "briefcase/briefcasedoc.h"

#include "archive/append.h"
#include "archive/errors.h"
#include "archive/replace.h"
#include "briefcase/brdate.h"
#include "briefcase/open.h"
#include "components/foldermonitor.h"
#include "platform/ask.h"
#include "platform/diag.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/strtable.h"

namespace briefcase {

using namespace plat::strid;

namespace {

// The container's last-write time, or nothing when it cannot be read.
bool containerWriteTime(const std::string& path, plat::FileTime* time) {
  plat::FileInfo info;
  if (!plat::fileSystem().stat(path, &info, true)) return false;
  *time = info.writeTime;
  return true;
}

// The question after the container could not be read (the engine's code):
// true when the user wants it read again. Retry follows each of the three
// messages: the user may have inserted the disk or put the right file in
// place. Cancel, also the answer when nobody can be asked, ends the open (a
// Retry default would ask for ever).
bool askRetryRead(int rc) {
  const int err = plat::lastError();
  int text = kStrCorruptConfiguration;
  if (rc == archive::kMissingOrEmpty)
    text = plat::isDeviceNotReady(err) ? kStrDiskNotFound : kStrBriefcaseNotFound;
  const int answer = plat::messageBox(plat::loadStr(text), "", plat::btnRetryCancel,
                                      plat::Icon::Warning, plat::mrCancel);
  return answer == plat::mrRetry;
}

}  // namespace

TBriefcaseDoc::TBriefcaseDoc(const std::string& path, TBriefcaseDocLinks links)
    : links_(std::move(links)) {
  engine_.callbacks = links_.callbacks;
  engine_.extract.callbacks = links_.extractCallbacks;
  setDirty(false);
  opened_ = path.empty() ? false : Open(path);
}

TBriefcaseDoc::TBriefcaseDoc(const NewBriefcase& created, TBriefcaseDocLinks links)
    : TBriefcaseDoc(std::string(), std::move(links)) {
  engine_.archivePath = created.containerPath;
  // The end record as it stands in the new container, for the comment's
  // rewrites in place (a container gone meanwhile is told by the next use).
  engine_.readEndRecord();
  engine_.level = created.level;
  // The password typed for a new encrypted briefcase is not asked again.
  engine_.password = created.password;
  config_ = created.record;
  localFolder_ = created.localFolder;
  include_ = created.includeList;
  exclude_ = created.excludeList;
  if (!localFolder_.empty()) watchLocalFolder();
  opened_ = true;
}

TBriefcaseDoc::~TBriefcaseDoc() {
  if (links_.monitor) links_.monitor->SetEnabled(false);
}

void TBriefcaseDoc::setDirty(bool value) {
  if (links_.setDirty) links_.setDirty(value);
}

bool TBriefcaseDoc::Open(const std::string& path) {
  engine_.archivePath = path;
  localFolder_.clear();
  engine_.sendMessage(plat::loadStr(kStrReadingConfiguration));
  OpenRequest request;
  request.retryRead = [](int rc) { return askRetryRead(rc); };
  const OpenedBriefcase opened = OpenForThisComputer(engine_, path, config_, request);
  if (opened.appendUndone)
    plat::messageBox(archive::kAppendUndoneText, "", plat::btnOk, plat::Icon::Information);
  if (!opened.endRecordRead) return false;
  if (opened.code != archive::kOk) {
    plat::messageBox(plat::loadStr(kStrCorruptConfiguration), "", plat::btnOk, plat::Icon::Warning);
    return false;
  }
  localFolder_ = opened.localFolder;
  if (opened.folder == LocalFolderState::Known) {
    watchLocalFolder();
    plat::diag("Local folder:" + localFolder_);
  } else if (!chooseFolderFirstVisit()) {
    return false;
  }
  SplitPatterns();
  plat::diag("end of doc.Open()");
  return true;
}

std::optional<std::string> AskForLocalFolder(const std::string& startFolder) {
  // The question is two lines long: it stands inside the window, whose title
  // names the choice ("Choose the local folder").
  std::string title = plat::loadStr(kStrChooseFolder);
  if (!title.empty() && title.back() == ':') title.pop_back();
  std::optional<std::string> chosen = plat::asker().browseFolder(
      plat::FolderQuestion{title, plat::loadStr(kStrFirstVisit), startFolder});
  if (!chosen || chosen->empty()) return std::nullopt;
  std::string folder = *chosen;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool TBriefcaseDoc::chooseFolderFirstVisit() {
  const std::optional<std::string> chosen = AskForLocalFolder(localFolder_);
  if (!chosen) return false;
  const std::string& folder = *chosen;
  const bool known = !config_.FolderForThisComputer().empty();
  SetLocalFolder(folder);
  // A computer gets one entry: a second one for the same computer would only
  // repeat the folder that the first already carries, and would take a place
  // of the 30 that another computer may need.
  if (!known) config_.AddEntry(folder);
  setDirty(true);
  folderChosen_ = true;
  return true;
}

bool TBriefcaseDoc::Save(bool force) {
  const bool dirty = links_.dirty ? links_.dirty() : false;
  if (!dirty && !force) return true;
  int rc = archive::kOk;
  try {
    config_.Build(engine_);
  } catch (const RecordTooLarge&) {
    rc = archive::kInvalidComment;
  }
  // The container's last-write time is the briefcase date: saving the
  // configuration must not change which local files count as changed.
  plat::FileTime date = 0;
  const bool haveDate = containerWriteTime(engine_.archivePath, &date);
  if (rc == archive::kOk) rc = engine_.rewriteComment();
  if (rc == archive::kOk) {
    if (haveDate) plat::fileSystem().setTimes(engine_.archivePath, nullptr, nullptr, &date);
    setDirty(false);
  } else {
    plat::messageBox(plat::loadStr(kStrWriteMissingOrProtected), "", plat::btnOk,
                     plat::Icon::Warning);
  }
  return true;
}

bool TBriefcaseDoc::SaveAs(const std::string& path) {
  const std::string& current = engine_.archivePath;
  if (!archive::isSameContainer(current, path)) {
    std::string why;
    const int rc = archive::copyContainer(current, path, true, &why);
    if (rc != archive::kOk) {
      std::string text = "The briefcase could not be saved as " + path + ".";
      const std::string code = archive::errorText(rc);
      if (!code.empty()) text += "\n" + code + ".";
      if (!why.empty()) text += "\n" + why;
      plat::messageBox(text, plat::loadStr(kStrWarning), plat::btnOk, plat::Icon::Warning);
      return false;
    }
  }
  engine_.archivePath = path;
  return Save(false);
}

void TBriefcaseDoc::SetLocalFolder(const std::string& path) {
  config_.SetFolderForThisComputer(path);
  localFolder_ = path;
  watchLocalFolder();
  setDirty(true);
}

void TBriefcaseDoc::watchLocalFolder() {
  if (!links_.monitor) return;
  links_.monitor->SetFolder(localFolder_);
  links_.monitor->SetEnabled(true);
}

void TBriefcaseDoc::SplitPatterns() {
  exclude_ = briefcase::SplitPatterns(config_.exclude, PatternKind::Exclude);
  include_ = briefcase::SplitPatterns(config_.include, PatternKind::Include);
}

bool TBriefcaseDoc::IsIncluded(const std::string& name) const {
  return briefcase::IsIncluded(include_, name);
}

bool TBriefcaseDoc::IsExcluded(const std::string& name) const {
  return briefcase::IsExcluded(exclude_, name);
}

bool TBriefcaseDoc::ReadBriefcaseDate(plat::FileTime* date) const {
  return briefcase::ReadBriefcaseDate(engine_.archivePath, date);
}

bool TBriefcaseDoc::WriteBriefcaseDate(plat::FileTime date) const {
  return briefcase::WriteBriefcaseDate(engine_.archivePath, date);
}

}  // namespace briefcase
