// The main window's briefcase operations: load, unload, delete from the
// briefcase, delete local files, clear, and the command line that runs a
// load or an unload on its own. The workflows themselves are app/operations
// (shared with `brc`); this file adds what belongs to the window: the
// hourglass, the progress window, the message boxes and the lists.

#include <QLineEdit>

#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/history.h"
#include "app/listmodel.h"
#include "app/mainform.h"
#include "app/operations.h"
#include "app/undo.h"
#include "archive/extract/names.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/update/update.h"
#include "briefcase/briefcasedoc.h"
#include "dialogs/anim.h"
#include "dialogs/animate.h"
#include "dialogs/history.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "platform/ask.h"
#include "platform/diag.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strtable.h"

using namespace plat::strid;

namespace {

// The progress window with one clip, shown until hidden or the end of the scope.
class Progress {
 public:
  Progress() = default;
  explicit Progress(int clip) { show(clip); }
  ~Progress() { hide(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void show(int clip) {
    if (!AnimatedForm) return;
    AnimatedForm->Animate1->setClip(clip);
    AnimatedForm->Animate1->setActive(true);
    AnimatedForm->ShowPainted();
    shown_ = true;
  }
  void hide() {
    if (!shown_ || !AnimatedForm) return;
    shown_ = false;
    AnimatedForm->hide();
    AnimatedForm->Animate1->setActive(false);
    // A Cancel pressed near the end must not stop the listings that follow
    // (they poll the hidden window too).
    AnimatedForm->Cancelled = false;
  }

 private:
  bool shown_ = false;
};

// A notice of the workflows as a message box (Help opens its topic).
void report(const app::Notice& n) {
  if (!n.shown()) return;
  plat::MessageQuestion q;
  q.text = n.message();
  q.caption = n.captionId ? plat::loadStr(n.captionId) : std::string();
  q.buttons = plat::btnOk | (n.helpContext ? plat::btnHelp : 0u);
  q.icon = n.icon;
  q.helpContext = n.helpContext;
  plat::asker().message(q);
}

// For a run from the command line, which nobody may be watching: every
// message goes to standard error and the log, so that a script sees why the
// run failed. A notice (OK, perhaps Help) is not shown and a Retry is
// answered Cancel, so that the run never waits for a person; other questions
// are asked as usual.
class EchoingAsker : public plat::Asker {
 public:
  EchoingAsker() : inner_(plat::asker()), use_(this) {}

  int message(const plat::MessageQuestion& q) override {
    std::cerr << "carryvale: " << q.text << std::endl;
    plat::diag("carryvale: " + q.text);
    said_ = true;
    if ((q.buttons & ~plat::btnHelp) == plat::btnOk) return plat::mrOk;
    if (q.buttons & plat::btnRetry) return plat::mrCancel;
    return inner_.message(q);
  }
  bool said() const { return said_; }
  int confirmReplace(const plat::ReplaceQuestion& q, std::string* newPath) override {
    return inner_.confirmReplace(q, newPath);
  }
  std::optional<std::string> browseFolder(const plat::FolderQuestion& q) override {
    return inner_.browseFolder(q);
  }
  std::optional<std::string> saveFile(const std::string& caption, const std::string& start,
                                      const std::string& filter, const std::string& ext) override {
    return inner_.saveFile(caption, start, filter, ext);
  }
  std::optional<std::string> openFile(const std::string& caption, const std::string& start,
                                      const std::string& filter, const std::string& ext) override {
    return inner_.openFile(caption, start, filter, ext);
  }
  bool askPassword(const plat::PasswordQuestion& q, std::string* password) override {
    return inner_.askPassword(q, password);
  }

 private:
  plat::Asker& inner_;
  plat::ScopedAsker use_;
  bool said_ = false;
};

}  // namespace

// The selected rows a load or an unload works on, once both folders are
// known; none when there is nothing to do (lastResult_ says whether that is
// a failure). Nothing while another operation runs.
std::vector<int> TMainForm::OperationRows(List list) {
  if (!briefcase_ || OperationRunning()) return {};
  lastResult_ = archive::kOk;
  std::vector<int> rows = SelectionSnapshot(list);
  if (rows.empty()) return rows;
  if (!CheckFolders()) {
    lastResult_ = archive::kBadParameters;
    return {};
  }
  return rows;
}

// A local folder gone since it was chosen is asked for (the first-visit
// question) and the folder chosen becomes the briefcase's; never from the
// command line, whose runs wait on nobody.
std::function<void(const std::string&)> TMainForm::localFolderChooser() {
  if (commandLineMode_ != clmNone) return {};
  return [this](const std::string& folder) {
    LocalEdit->setText(QString::fromStdString(folder));
    briefcase_->SetLocalFolder(folder);
  };
}

bool TMainForm::PasswordReady(bool load) {
  const int rc = app::ObtainPassword(*engine_, load);
  if (rc == archive::kOk) return true;
  lastResult_ = rc;
  if (rc != archive::kPasswordNeeded)
    plat::messageBox(archive::errorText(rc), std::string(), plat::btnOk, plat::Icon::Error);
  return false;
}

// ---- load ----

void TMainForm::BriefcaseLoad() {
  const std::vector<int> rows = OperationRows(List::Local);
  if (rows.empty() || !PasswordReady(true)) return;
  app::LoadResult result;
  {
    TOperation operation(*this);
    WaitCursor wait;
    Progress progress(TAnimate::clipLoad);
    app::LoadRequest request;
    request.files.reserve(rows.size());
    // A "deleted here" row carries its deletion; the others are files.
    std::set<std::string> deleted;
    for (int r : rows) {
      if (LocalModel->row(r).icon == app::kIconDeletedHere)
        deleted.insert(app::RowEntryName(LocalModel->row(r)));
      else
        request.files.push_back(LocalPathOf(r));
    }
    // The rows were scanned in the briefcase's folder; their entry names are
    // relative to it even when another folder has been typed meanwhile.
    request.baseFolder = briefcase_->LocalFolder();
    request.storeConfiguration = [this] { StoreConfiguration(); };
    request.folderChosen = localFolderChooser();
    // Every row of the local list: every candidate of its last scan.
    if (static_cast<int>(rows.size()) == LocalModel->size() && lastScanNs_ != 0)
      request.everyCandidateSince = lastScanNs_;
    if (!deleted.empty())
      for (app::DeletedHere& d : app::DeletionsHere(engine_->archivePath, request.baseFolder))
        if (deleted.count(d.path)) request.deletions.push_back(std::move(d));
    // From the command line another run's lock is waited for a while.
    if (commandLineMode_ != clmNone) request.lockWait = app::UnattendedLockWait();
    result = app::Load(*engine_, request);
    report(app::noticeFor(result, engine_->archivePath, request.baseFolder));
    for (const std::string& file : result.changedMeanwhile)
      ShowStatus(QString::fromStdString(archive::printableName(file) +
                                        " changed while it was loaded; it stays a load "
                                        "candidate."));
    if (!result.carryWarning.empty()) ShowStatus(QString::fromStdString(result.carryWarning));
  }
  LocalModel->clear();
  RefreshLists();
  if (result.code == archive::kOk && Document1) Document1->SetDirty(false);
  UpdateCommands();
  raise();
  activateWindow();
  // A selection of files of 4 GB or more only, which never reached the
  // engine, counts as a failure (kNothingToDo); an empty one does not.
  const bool failed = result.ran || !result.tooLarge.empty() ||
                      result.outcome == app::LoadOutcome::FolderMissing;
  lastResult_ = failed ? result.code : archive::kOk;
}

// ---- unload ----

void TMainForm::BriefcaseUnload() {
  const std::vector<int> rows = OperationRows(List::Briefcase);
  if (rows.empty() || !PasswordReady(false)) return;
  const bool commandLine = commandLineMode_ == clmUnload;
  app::UnloadResult result;
  {
    TOperation operation(*this);
    WaitCursor wait;
    Progress progress;
    app::UnloadRequest request;
    request.entries.reserve(rows.size());
    for (int r : rows) request.entries.push_back(EntryNameOf(r));
    request.localFolder = briefcase_->LocalFolder();
    request.otherComputer = briefcase_->Configuration().OtherComputerId();
    // From the command line every existing file is replaced and the entries
    // leave the briefcase, without a question.
    request.replace = commandLine ? app::ReplaceMode::YesToAll : app::ReplaceMode::Ask;
    request.after = commandLine ? app::AfterUnload::Remove : app::AfterUnload::Ask;
    request.space = commandLine ? app::SpaceCheck::Refuse : app::SpaceCheck::Ask;
    if (commandLine) request.lockWait = app::UnattendedLockWait();
    request.trash = KeepReplacedInTrash();
    // The deletions the briefcase carries are asked about, or left for the
    // next unload from the command line.
    request.deletions = commandLine ? app::DeletionAnswer::No : app::DeletionAnswer::Ask;
    request.storeConfiguration = [this] { StoreConfiguration(); };
    request.folderChosen = localFolderChooser();
    app::UnloadHooks hooks;
    hooks.runStarting = [&] { progress.show(TAnimate::clipUnload); };
    hooks.runFinished = [&] { progress.hide(); };
    hooks.removalStarting = [&] { progress.show(TAnimate::clipDelete); };
    hooks.removalFinished = [&] { progress.hide(); };
    hooks.note = [this](const std::string& line) {
      if (commandLineMode_ != clmNone) std::cerr << "carryvale: " << line << std::endl;
      ShowStatus(QString::fromStdString(line));
    };
    result = app::Unload(*engine_, request, hooks);
    progress.hide();
    report(app::noticeFor(result.outcome, engine_->archivePath, request.localFolder,
                          result.notWritten));
    if (!result.carryWarning.empty()) ShowStatus(QString::fromStdString(result.carryWarning));
    if (result.removalCode != archive::kOk)
      plat::messageBox(plat::loadStr(plat::kStrRemoveFailed), std::string(), plat::btnOk,
                       plat::Icon::Warning);
    else if (result.removed && Document1)
      Document1->SetDirty(false);
  }
  lastResult_ = result.exitCode();
  // A declined free-space question leaves the lists (and the selection) as
  // they were: nothing was written.
  if (!commandLine && result.outcome != app::UnloadRunOutcome::SpaceDeclined) {
    LocalModel->clear();
    RefreshLists();
    UpdateCommands();
  }
  raise();
  activateWindow();
}

// ---- delete and clear ----

int TMainForm::RemoveFromBriefcase(const std::vector<std::string>& names) {
  if (!briefcase_) return archive::kNothingToDo;
  TOperation operation(*this);
  Progress progress(TAnimate::clipDelete);
  const int rc = app::DeleteEntries(*engine_, names, [this] { StoreConfiguration(); },
                                    briefcase_->LocalFolder());
  if (rc == archive::kOk) {
    if (Document1) Document1->SetDirty(false);
  } else {
    plat::messageBox(plat::loadStr(plat::kStrRemoveFailed), std::string(), plat::btnOk,
                     plat::Icon::Warning);
  }
  return rc;
}

void TMainForm::DeleteBriefcaseButtonClick() {
  if (!briefcase_ || OperationRunning()) return;
  lastResult_ = archive::kOk;
  const std::vector<int> rows = SelectionSnapshot(List::Briefcase);
  if (rows.empty()) return;
  if (plat::messageBox(plat::loadStr(kStrDeleteQuestion), plat::loadStr(kStrDeleteCaption),
                       plat::btnYesNo, plat::Icon::Question) != plat::mrYes)
    return;
  std::vector<std::string> names;
  names.reserve(rows.size());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) names.push_back(EntryNameOf(*it));
  {
    TOperation operation(*this);
    WaitCursor wait;
    lastResult_ = RemoveFromBriefcase(names);
  }
  RefreshLists();
  UpdateCommands();
}

void TMainForm::DeleteLocalButtonClick() {
  if (!briefcase_ || OperationRunning()) return;
  const std::vector<int> rows = SelectionSnapshot(List::Local);
  if (rows.empty()) return;
  std::vector<std::string> paths;
  paths.reserve(rows.size());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) paths.push_back(LocalPathOf(*it));
  app::TrashReport moved;
  {
    TOperation operation(*this);
    moved = app::DeleteLocalFiles(paths);
  }
  // The folder monitor would report it too, a moment later.
  if (!moved.moved.empty()) {
    RefreshLocalList();
    UpdateCommands();
  }
}

void TMainForm::ClearButtonClick() {
  if (!briefcase_ || OperationRunning()) return;
  WaitCursor wait;
  const std::string path = engine_->archivePath;
  if (plat::messageBox(plat::loadStrFmt(kStrClearQuestion, path.c_str()),
                       plat::loadStr(kStrClearCaption), plat::btnYesNo,
                       plat::Icon::Question) != plat::mrYes)
    return;
  int rc;
  {
    TOperation operation(*this);
    // The configuration as it stands goes into the empty briefcase, which
    // replaces the old one in one step.
    StoreConfiguration();
    rc = app::ClearBriefcase(*engine_, briefcase_->LocalFolder());
  }
  lastResult_ = rc;
  if (rc != archive::kOk) {
    std::string text = "The briefcase could not be cleared.";
    const std::string why = archive::errorText(rc);
    if (!why.empty()) text += "\n" + why;
    plat::messageBox(text, std::string(), plat::btnOk, plat::Icon::Warning);
  }
  LocalModel->clear();
  BriefcaseModel->clear();
  RefreshLists();
  UpdateCommands();
}

void TMainForm::CompactItemClick() {
  if (!briefcase_ || OperationRunning()) return;
  WaitCursor wait;
  app::CompactResult r;
  {
    TOperation operation(*this);
    StoreConfiguration();
    r = app::CompactBriefcase(*engine_, briefcase_->LocalFolder());
  }
  lastResult_ = r.code;
  if (r.code == archive::kOk) {
    plat::messageBox(app::CompactedText(r.freedBytes), "Compact", plat::btnOk,
                     plat::Icon::Information);
  } else if (r.code != archive::kInterrupted) {
    std::string text = "The briefcase could not be compacted.";
    const std::string why = archive::errorText(r.code);
    if (!why.empty()) text += "\n" + why;
    plat::messageBox(text, std::string(), plat::btnOk, plat::Icon::Warning);
  }
  RefreshLists();
  UpdateCommands();
}

void TMainForm::HistoryItemClick() {
  if (!briefcase_) return;
  const std::string path = engine_->archivePath;
  THistoryDialog dialog(QString::fromStdString(plat::fileNamePart(path)), app::TripHistory(path), this);
  dialog.exec();
}

void TMainForm::UndoUnloadItemClick() {
  if (!briefcase_ || OperationRunning()) return;
  if (plat::messageBox(
          "Undo the last unload of this briefcase?\n\nThe local files it replaced come back "
          "from the trash, the files it made go to the trash, and the entries it removed go "
          "back into the briefcase. A file changed since the unload stays as it is.",
          "Undo Unload", plat::btnYesNo, plat::Icon::Question) != plat::mrYes ||
      !PasswordReady(true))
    return;
  app::UndoResult r;
  {
    TOperation operation(*this);
    WaitCursor wait;
    Progress progress(TAnimate::clipLoad);
    app::UndoRequest request;
    request.localFolder = briefcase_->LocalFolder();
    request.storeConfiguration = [this] { StoreConfiguration(); };
    r = app::UndoUnload(*engine_, request);
  }
  lastResult_ = r.code;
  std::string text;
  for (const std::string& line : app::UndoReport(r)) text += (text.empty() ? "" : "\n") + line;
  const bool clean = r.outcome == app::UndoOutcome::Undone && r.kept.empty();
  if (!text.empty())
    plat::messageBox(text, "Undo Unload", plat::btnOk,
                     clean ? plat::Icon::Information : plat::Icon::Warning);
  if (!r.carryWarning.empty()) ShowStatus(QString::fromStdString(r.carryWarning));
  if (r.outcome == app::UndoOutcome::Undone && Document1) Document1->SetDirty(false);
  LocalModel->clear();
  RefreshLists();
  UpdateCommands();
}

// ---- help topics ----

void TMainForm::HelpContext(int context) {
  const std::string topic = plat::helpTopicPath(context);
  std::string page = "index.html";
  std::string anchor = "ctx-" + std::to_string(context);
  if (!topic.empty()) {
    const size_t hash = topic.find('#');
    page = plat::fileNamePart(topic.substr(0, hash));
    anchor = hash == std::string::npos ? std::string() : topic.substr(hash + 1);
  }
  openHelp(QString::fromStdString(page), QString::fromStdString(anchor), {});
}

// ---- the command line ----

void TMainForm::RunCommandLine() {
  // The first argument, whatever it is, is the briefcase.
  const std::string path = arguments_.first().toStdString();
  if (commandLineMode_ == clmNone) {
    DocManager1->Open(path);
    return;
  }
  EchoingAsker echo;
  DocManager1->Open(path);
  if (!briefcase_) {
    exitStatus_ = plat::fileExists(path) ? archive::kStructureInvalid : archive::kNotFound;
    std::cerr << "carryvale: the briefcase " << path << " could not be opened." << std::endl;
  } else {
    // A folder chosen on this first visit is saved by the run; when the run
    // fails, closing offers to save it.
    if (briefcase_->FolderChosenOnOpen() && Document1) Document1->SetDirty(true);
    if (commandLineMode_ == clmLoad)
      BriefcaseLoad();
    else
      BriefcaseUnload();
    exitStatus_ = lastResult_;
    // The run changed nothing of the configuration (it was stored as read)
    // unless a folder was chosen on this first visit, when someone is there
    // to be asked: a run nobody watches does not end in the save question.
    if (briefcase_ && !briefcase_->FolderChosenOnOpen() && Document1) Document1->SetDirty(false);
    if (exitStatus_ != archive::kOk) {
      // A message said what happened; else the code's text.
      const std::string why = echo.said() ? std::string() : archive::errorText(exitStatus_);
      std::cerr << "carryvale: the " << (commandLineMode_ == clmLoad ? "load" : "unload")
                << " ended with code " << exitStatus_ << (why.empty() ? "" : " (" + why + ")")
                << "." << std::endl;
    }
  }
  close();
}
