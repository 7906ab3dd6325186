#include "docframe/document.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QWidget>

#include <exception>

#include "docframe/docmanager.h"
#include "docframe/jmru.h"
#include "docframe/nametext.h"
#include "platform/ask.h"
#include "platform/files.h"

TDocument::TDocument(QObject* owner) : QObject(owner) {}

TDocument::~TDocument() {
  Close();
  // A close the user refused does not keep a destroyed document on the list.
  if (manager_) manager_->Remove(this);
}

TDocManager* TDocument::DocManager() const { return manager_.data(); }
void TDocument::SetDocManager(TDocManager* manager) { manager_ = manager; }

void TDocument::SetDirty(bool value) {
  dirty_ = value;
  if (manager_ && manager_->SaveAction()) manager_->SaveAction()->setEnabled(value);
}

bool TDocument::IsUntitled() const { return fileName_.compare(0, 8, kUntitled) == 0; }

std::string TDocument::NameWithoutFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool TDocument::New() {
  if (onNew_) {
    bool success = false;
    onNew_(this, success);
    if (!success) return false;
  }
  opened_ = true;
  if (fileName_.empty()) {
    fileName_ = kUntitled;
    if (manager_ && manager_->IsMultipleDocument())
      fileName_ += std::to_string(manager_->MdiArea()->subWindowList().size());
  }
  SetDirty(dirtyAtCreation_);
  UpdateCaption();
  return true;
}

bool TDocument::Open() {
  if (!manager_) {
    plat::messageBox("Document has no DocManager", "Error", plat::btnOk, plat::Icon::Warning);
    return false;
  }
  if (opened_) {
    // Closing clears the name; the name to open is kept.
    const std::string name = fileName_;
    if (!Close()) return false;
    fileName_ = name;
  }
  SetDirty(false);
  if (onOpen_) {
    bool success = opened_;
    try {
      onOpen_(this, success);
    } catch (const std::exception& e) {
      plat::messageBox(e.what(), "Error", plat::btnOk, plat::Icon::Warning);
      success = false;
    }
    if (!success) {
      // A document that could not be read stays closed, without a name.
      fileName_.clear();
      return false;
    }
  }
  opened_ = true;
  UpdateCaption();
  SetDirty(false);
  return true;
}

bool TDocument::commit() {
  bool success = false;
  if (onCommit_) onCommit_(this, success);
  if (success) SetDirty(false);
  return success;
}

bool TDocument::Save() {
  if (!opened_) return false;
  if (IsUntitled()) return SaveAs();
  return commit();
}

bool TDocument::SaveAs() {
  if (!opened_ || !manager_ || !manager_->SaveDialog()) return false;
  const std::optional<std::string> chosen =
      manager_->SaveDialog()->Execute(IsUntitled() ? std::string() : fileName_);
  if (!chosen) return false;
  if (plat::fileExists(*chosen) &&
      plat::messageBox("The file already exists. Overwrite?", "Save", plat::btnYesNo,
                       plat::Icon::None) != plat::mrYes)
    return false;
  // The commit writes the document under the new name; until it has, and
  // when it cannot, the document keeps the name of the file it is in.
  const std::string previous = fileName_;
  const bool wasUntitled = IsUntitled();
  fileName_ = *chosen;
  if (!commit()) {
    fileName_ = previous;
    return false;
  }
  UpdateCaption();
  if (TJMostRecentlyUsedList* mru = manager_->RecentlyUsed()) {
    mru->InUse(fileName_);
    // The file left behind is one the user may go back to.
    if (!wasUntitled && previous != fileName_) mru->Used(previous);
  }
  return true;
}

bool TDocument::CloseQuery() {
  if (!opened_) return true;
  if (dirty_) {
    const std::string text = "Changes to " + FileNameUtf8(NameWithoutFolder(fileName_)) +
                             " have not been saved.\nDo you want to save?";
    const int answer =
        plat::messageBox(text, "Warning", plat::btnYesNoCancel, plat::Icon::Warning);
    if (answer == plat::mrYes) {
      Save();
      if (dirty_) return false;
    } else if (answer != plat::mrNo) {
      return false;  // Cancel, or the box closed without an answer
    }
  }
  SetDirty(false);
  return true;
}

bool TDocument::Close() {
  if (!opened_) return true;
  if (!CloseQuery()) return false;
  opened_ = false;
  if (onClose_) onClose_(this);
  SetDirty(false);
  UpdateCaption();
  if (manager_ && manager_->RecentlyUsed() && !fileName_.empty() && !IsUntitled())
    manager_->RecentlyUsed()->Used(fileName_);
  if (manager_) manager_->Remove(this);
  fileName_.clear();
  return true;
}

void TDocument::Activate(QObject* /*sender*/) {
  if (manager_) {
    if (QAction* a = manager_->SaveAction()) a->setEnabled(dirty_);
    if (QAction* a = manager_->SaveAsAction()) a->setEnabled(true);
    if (QAction* a = manager_->CloseAction()) a->setEnabled(true);
    manager_->SetActiveDocument(this);
  }
  if (onActivate_) onActivate_(this);
}

QWidget* TDocument::captionWindow() const {
  auto* owner = qobject_cast<QWidget*>(parent());
  if (!owner) return nullptr;
  if (manager_ && manager_->IsMultipleDocument()) {
    for (QWidget* w = owner; w; w = w->parentWidget())
      if (auto* child = qobject_cast<QMdiSubWindow*>(w)) return child;
    return owner;
  }
  return owner->window();
}

void TDocument::UpdateCaption() {
  QWidget* window = captionWindow();
  if (!window || !manager_) return;
  const bool mdi = manager_->IsMultipleDocument();
  if (!opened_) {
    if (!mdi) window->setWindowTitle(manager_->SavedTitle());
    return;
  }
  if (mdi)
    window->setWindowTitle(CaptionText(FileNameText(fileName_)));
  else
    window->setWindowTitle(CaptionText(manager_->SavedTitle() + QStringLiteral(" - ") +
                                       FileNameText(NameWithoutFolder(fileName_))));
}
