#include "docframe/docmanager.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <exception>
#include <filesystem>

#include "docframe/document.h"
#include "docframe/jmru.h"
#include "platform/ask.h"
#include "platform/diag.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/volumes.h"

namespace {

// Hints are written "short|long": the short part is the tool tip, the long
// part the status line text; a hint without '|' serves as both. The whole
// hint stays with the action as its "hint" property.
void setHint(QAction* action, const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  action->setToolTip(bar < 0 ? hint : hint.left(bar));
  action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
  action->setProperty("hint", hint);
}

bool hasHint(const QAction* action) {
  return !action->property("hint").toString().isEmpty() || !action->statusTip().isEmpty();
}

void insertAt(QWidget* w, int index, QAction* action) {
  const QList<QAction*> actions = w->actions();
  w->insertAction(index >= 0 && index < actions.size() ? actions[index] : nullptr, action);
}

}  // namespace

const char* const TDocManager::kActionNames[kCommands] = {"FileNew",    "FileOpen",  "FileSave",
                                                          "FileSaveAs", "FileClose", "FileExit"};
const char* const TDocManager::kButtonNames[kCommands] = {
    "FileNewBtn", "FileOpenBtn", "FileSaveBtn", "FileSaveAsBtn", "FileCloseBtn", "FileExitBtn"};

std::optional<std::string> TDocFileDialog::Execute(const std::string& startPath) const {
  if (save) return plat::asker().saveFile(title, startPath, filter, defaultExt);
  return plat::asker().openFile(title, startPath, filter, defaultExt);
}

TDocManager::TDocManager(QObject* owner) : QObject(owner), storage_(this) {
  if (auto* window = qobject_cast<QWidget*>(owner)) {
    savedTitle_ = window->windowTitle();
    if (auto* main = qobject_cast<QMainWindow*>(window))
      mdiArea_ = qobject_cast<QMdiArea*>(main->centralWidget());
  }
}

TDocManager::~TDocManager() { Exit(); }

QWidget* TDocManager::OwnerWindow() const { return qobject_cast<QWidget*>(parent()); }

// ---- building the commands ----

QAction* TDocManager::FindAction(const QString& name) const {
  if (!actionList_) return nullptr;
  return actionList_->findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

QIcon TDocManager::imageAt(int index) const {
  return index >= 0 && index < images_.size() ? images_[index] : QIcon();
}

void TDocManager::enable(Command c, bool on) {
  if (actions_[c]) actions_[c]->setEnabled(on);
}

void TDocManager::CreateActions() {
  if (!actionList_) return;
  struct CommandDefaults {
    const char* caption;
    QKeySequence shortcut;
    bool enabled;
  };
  const CommandDefaults defaults[kCommands] = {
      {"&New", QKeySequence(QStringLiteral("Ctrl+N")), true},
      {"&Open...", QKeySequence(QStringLiteral("Ctrl+O")), true},
      {"&Save", QKeySequence(QStringLiteral("Ctrl+S")), false},
      {"S&ave As...", QKeySequence(), false},
      {"&Close", IsMultipleDocument() ? QKeySequence(QStringLiteral("Ctrl+F4")) : QKeySequence(),
       false},
      {"E&xit", QKeySequence(QStringLiteral("Alt+F4")), true},
  };
  for (int c = 0; c < kCommands; ++c) {
    auto* a = new QAction(QString::fromLatin1(defaults[c].caption), actionList_);
    a->setObjectName(QString::fromLatin1(kActionNames[c]));
    a->setProperty("category", QStringLiteral("File"));
    a->setShortcut(defaults[c].shortcut);
    if (!hint_[c].isEmpty()) setHint(a, hint_[c]);
    a->setIcon(imageAt(imageIndex_[c]));
    a->setEnabled(defaults[c].enabled);
    // Shortcuts work while the action belongs to a widget of the window.
    if (auto* w = qobject_cast<QWidget*>(actionList_.data())) w->addAction(a);
    actions_[c] = a;
  }
}

void TDocManager::AssignActions() {
  using Handler = void (TDocManager::*)();
  const Handler handlers[kCommands] = {
      &TDocManager::NewActionExecute,    &TDocManager::OpenActionExecute,
      &TDocManager::SaveActionExecute,   &TDocManager::SaveAsActionExecute,
      &TDocManager::CloseActionExecute,  &TDocManager::ExitActionExecute};
  QObject* window = parent();
  for (int c = 0; c < kCommands; ++c) {
    QAction* a = FindAction(QString::fromLatin1(kActionNames[c]));
    actions_[c] = a;
    if (!a) continue;
    // The command's handler is the manager's from now on.
    if (window) QObject::disconnect(a, &QAction::triggered, window, nullptr);
    QObject::disconnect(a, &QAction::triggered, this, nullptr);
    const Handler h = handlers[c];
    connect(a, &QAction::triggered, this, [this, h] { (this->*h)(); });
  }
  enable(kNew, true);
  enable(kOpen, true);
  enable(kExit, true);
}

void TDocManager::CreateMenuItems() {
  if (!fileMenu_) return;
  for (int c = kNew; c <= kClose; ++c)
    if (actions_[c]) insertAt(fileMenu_, c, actions_[c]);
  QAction* separator = fileMenu_->addSeparator();
  separator->setObjectName(QStringLiteral("ExitSeparator"));
  if (actions_[kExit]) fileMenu_->addAction(actions_[kExit]);
}

void TDocManager::CreateToolBarButtons() {
  if (!toolBar_) return;
  if (!toolBar_->actions().isEmpty()) {
    auto* divider = new QWidget(toolBar_);
    divider->setObjectName(QStringLiteral("DividerBtn1"));
    divider->setFixedWidth(8);
    const QList<QAction*> existing = toolBar_->actions();
    toolBar_->insertWidget(existing.isEmpty() ? nullptr : existing.front(), divider);
  }
  for (int c = kExit; c >= kNew; --c)
    CreateToolBtn(imageIndex_[c], QString::fromLatin1(kButtonNames[c]), actions_[c]);
}

void TDocManager::CreateToolBtn(int imageIndex, const QString& buttonName, QAction* action) {
  if (!action) return;
  action->setIcon(imageAt(imageIndex));
  if (!toolBar_) return;
  QToolButton* button = toolBar_->findChild<QToolButton*>(buttonName);
  if (button && imageIndex == -1) {
    button->setObjectName(QString());  // the bar deletes it later
    toolBar_->removeAction(button->defaultAction());
  } else if (!button && imageIndex != -1) {
    // Each new button goes first, so that the buttons made in the order
    // Exit ... New read New ... Exit, ahead of the bar's own buttons.
    const QList<QAction*> existing = toolBar_->actions();
    toolBar_->insertAction(existing.isEmpty() ? nullptr : existing.front(), action);
    if (QWidget* w = toolBar_->widgetForAction(action)) w->setObjectName(buttonName);
  }
}

void TDocManager::setImageIndex(Command c, int index) {
  imageIndex_[c] = index;
  if (loaded_) CreateToolBtn(index, QString::fromLatin1(kButtonNames[c]), actions_[c]);
}

void TDocManager::CreateHints() {
  QString noun = QStringLiteral("file");
  if (fileMenu_) {
    noun = fileMenu_->title().toLower();
    noun.remove(QLatin1Char('&'));
  }
  const QString hints[kCommands] = {
      QStringLiteral("New|Create a new ") + noun,
      QStringLiteral("Open|Open an existing ") + noun,
      QStringLiteral("Save|Save this ") + noun,
      QStringLiteral("Save as|Save this ") + noun + QStringLiteral(" under a new name"),
      QStringLiteral("Close|Close this ") + noun,
      QStringLiteral("Exit|Close ") + savedTitle_,
  };
  for (int c = 0; c < kCommands; ++c)
    if (actions_[c] && !hasHint(actions_[c])) setHint(actions_[c], hints[c]);
}

void TDocManager::Loaded() {
  if (!actionList_) {
    plat::messageBox("DocManager needs an ActionList", "Error", plat::btnOk, plat::Icon::Warning);
    return;
  }
  if (!FindAction(QStringLiteral("FileNew"))) {
    // A window without the File commands gets them made.
    CreateActions();
    CreateMenuItems();
    CreateToolBarButtons();
    CreateHints();
  }
  AssignActions();

  saveDialog_ = TDocFileDialog{true, "Save As", defaultExt_, filter_};
  openDialog_ = TDocFileDialog{false, "Open", defaultExt_, filter_};
  dialogsMade_ = true;

  mru_ = new TJMostRecentlyUsedList(this);
  mru_->SetMenuKind(mkInsertWithSeparator);
  rootItem_ = nullptr;
  if (fileMenu_) {
    const QList<QAction*> items = fileMenu_->actions();
    for (qsizetype i = 1; i < items.size(); ++i)
      if (items[i]->objectName() == QLatin1String("ExitSeparator")) {
        rootItem_ = items[i - 1];
        break;
      }
  }
  mru_->SetRootMenuItem(rootItem_);
  mru_->Storage().SetKey(storage_.Key());
  mru_->Storage().SetRegistryRootKey(storage_.RegistryRootKey());
  mru_->SetOnSelect([this](TJMostRecentlyUsedList* sender, const std::string& item, bool& opened) {
    RecentlyUsedSelect(sender, item, opened);
  });
  try {
    mru_->Init();
  } catch (const std::exception& e) {
    // The list starts empty; a settings problem stops nothing.
    plat::diag(std::string("Recently used files not loaded: ") + e.what());
    mru_->Clear();
  }
  loaded_ = true;
}

// ---- documents ----

bool TDocManager::atDocumentLimit() const {
  return documents_.size() >= static_cast<size_t>(kMaxDocuments) ||
         (!IsMultipleDocument() && !documents_.empty());
}

QMdiSubWindow* TDocManager::ChildWindowOf(const TDocument* document) const {
  if (!mdiArea_ || !document) return nullptr;
  for (QObject* o = document->parent(); o; o = o->parent())
    if (auto* child = qobject_cast<QMdiSubWindow*>(o)) return child;
  return nullptr;
}

TDocument* TDocManager::CreateDocument() {
  if (!onNewDocument_) return nullptr;
  TDocument* document = nullptr;
  onNewDocument_(this, document);
  if (!document) return nullptr;
  document->SetDocManager(this);
  active_ = document;
  if (QMdiSubWindow* child = ChildWindowOf(document)) {
    QObject::disconnect(mdiArea_, &QMdiArea::subWindowActivated, document, nullptr);
    QPointer<TDocument> doc(document);
    connect(mdiArea_, &QMdiArea::subWindowActivated, document,
            [doc, child](QMdiSubWindow* activated) {
              if (doc && activated == child) doc->Activate(child);
            });
  }
  if (std::find(documents_.begin(), documents_.end(), document) == documents_.end())
    documents_.push_back(document);
  return document;
}

void TDocManager::Remove(TDocument* document) {
  documents_.erase(std::remove(documents_.begin(), documents_.end(), document), documents_.end());
  enable(kClose, false);
  enable(kSave, false);
  enable(kSaveAs, false);
  if (active_ == document) active_ = nullptr;
}

TDocument* TDocManager::New() {
  if (!IsMultipleDocument()) CloseActionExecute();
  if (atDocumentLimit()) return nullptr;
  TDocument* document = CreateDocument();
  if (!document) return nullptr;
  if (!document->New()) {
    Remove(document);
    return nullptr;
  }
  enable(kClose, true);
  enable(kSaveAs, true);
  // A new document that is a file already (an existing one chosen instead)
  // leaves the list while it is open, as an opened one does.
  if (mru_ && !document->IsUntitled()) mru_->InUse(document->FileName());
  return document;
}

namespace {

// The entry of `folder` that `name` reaches there: `name` itself when an
// entry is spelt so; else, in a folder that ignores letter case (the name
// reaches a file, but no entry is spelt so), the entry spelt with other
// cases. (Inode numbers do not tell: FAT drivers give each spelling its own.)
std::string spelledOnDisk(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(folder / name, ec))) return name;
  std::string other;
  const QString wanted = QString::fromStdString(name);
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry == name) return name;
    if (other.empty() && QString::fromStdString(entry).compare(wanted, Qt::CaseInsensitive) == 0)
      other = entry;
  }
  return other.empty() ? name : other;
}

}  // namespace

std::string TDocManager::LongFileName(const std::string& name) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec).lexically_normal();
  if (ec) return name;
  std::filesystem::path out = absolute.root_path();
  for (const std::filesystem::path& step : absolute.relative_path()) {
    if (step.empty()) continue;  // a trailing separator
    out /= spelledOnDisk(out, step.string());
  }
  return out.string();
}

std::string TDocManager::OpenDialogFolder() const {
  if (!mru_ || mru_->GetCount() == 0) return std::string();
  const std::string folder = plat::parentFolder(mru_->GetItem(0));
  return !folder.empty() && plat::folderExists(folder) ? folder : std::string();
}

bool TDocManager::Open(const std::string& name) {
  // The current document closes first, so that its save question comes
  // before the file is asked for (a Cancel there opens nothing); the dialog
  // then starts where that briefcase is.
  if (!IsMultipleDocument()) CloseActionExecute();
  if (atDocumentLimit()) return false;
  std::string file = name;
  if (file.empty()) {
    if (!dialogsMade_) return false;
    const std::optional<std::string> chosen = openDialog_.Execute(OpenDialogFolder());
    if (!chosen) return false;
    file = *chosen;
  }

  for (;;) {
    if (plat::fileExists(file)) {
      file = LongFileName(file);
      TDocument* document = CreateDocument();
      if (!document) return false;
      document->SetFileName(file);
      if (document->Open()) {
        enable(kClose, true);
        enable(kSaveAs, true);
        if (mru_) mru_->InUse(file);
        return true;
      }
      Remove(document);
      return false;
    }
    const std::string text = file + " was not found.\nPlease check the filename.";
    if (!plat::isOnRemovableDrive(file)) {
      plat::messageBox(text, "Error", plat::btnOk, plat::Icon::Warning);
      return false;
    }
    if (plat::messageBox(text, "Error", plat::btnRetryCancel, plat::Icon::Warning) != plat::mrRetry)
      return false;
  }
}

bool TDocManager::Exit() {
  const std::vector<TDocument*> documents = documents_;
  for (auto it = documents.rbegin(); it != documents.rend(); ++it) {
    TDocument* document = *it;
    // A document that left the list meanwhile (closed, destroyed) is skipped.
    if (std::find(documents_.begin(), documents_.end(), document) == documents_.end()) continue;
    if (!document->Opened()) continue;
    QMdiSubWindow* child = ChildWindowOf(document);
    if (!document->Close()) return false;
    if (child) child->close();
  }
  enable(kClose, false);
  enable(kSaveAs, false);
  return true;
}

// ---- command handlers ----

void TDocManager::NewActionExecute() { New(); }

void TDocManager::OpenActionExecute() { Open(std::string()); }

void TDocManager::SaveActionExecute() {
  if (active_) active_->Save();
}

void TDocManager::SaveAsActionExecute() {
  if (active_) active_->SaveAs();
}

void TDocManager::CloseActionExecute() {
  TDocument* document = active_;
  if (IsMultipleDocument()) {
    if (QMdiSubWindow* child = mdiArea_->activeSubWindow()) child->close();
  } else if (document) {
    document->Close();
  }
  if (onClose_) onClose_(this, document);
}

void TDocManager::ExitActionExecute() {
  if (!IsMultipleDocument() && onClose_) onClose_(this, active_);
  if (QWidget* window = OwnerWindow()) window->close();
}

void TDocManager::RecentlyUsedSelect(TJMostRecentlyUsedList* /*sender*/, const std::string& item,
                                     bool& opened) {
  Open(item);
  opened = true;  // the entry counts as opened, whatever became of it
}
