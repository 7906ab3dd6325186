// The main window's options: a new briefcase from the wizard, the settings
// dialog, the local folder, the include and exclude patterns, LocalEdit's
// keys and exit, and the per-user trash option.

#include <QAction>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/mainform.h"

#include "app/deletions.h"
#include "app/listmodel.h"
#include "archive/compress.h"
#include "briefcase/briefcasedoc.h"
#include "briefcase/newbrief.h"
#include "components/dfromnow.h"
#include "components/setting.h"
#include "dialogs/inputdia.h"
#include "dialogs/settings.h"
#include "dialogs/wizard.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "platform/ask.h"
#include "platform/strtable.h"

using namespace plat::strid;

namespace {

constexpr int kLevelCompressed = 6;
constexpr int kLevelStored = 0;
// Longest pattern text the record keeps whole (splitting reads no further)
// and longest folder path.
constexpr int kMaxPatternText = 251;
constexpr int kMaxFolderPath = 259;

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

// The per-user "Keep replaced files in the trash" switch: "1" or "0", on
// when missing.
void trashSetting(TJSetting& s) {
  s.Storage().SetKey(cvreg::kAppKey);
  s.Storage().SetRegistryRootKey(atrkCurrentUser);
  s.SetKeyName(cvreg::kKeepReplacedInTrashValue);
  s.SetDefaultValue("1");
}

}  // namespace

void TMainForm::createOptions() {
  OptionsKeepInTrash = makeAction(
      QStringLiteral("&Keep Replaced Files in the Trash"), {},
      QStringLiteral("Keep replaced files in the trash|An unload puts each local file it "
                     "replaces into the trash first"));
  OptionsKeepInTrash->setObjectName(QStringLiteral("OptionsKeepInTrash"));
  OptionsKeepInTrash->setCheckable(true);
  TJSetting setting;
  trashSetting(setting);
  SetKeepReplacedInTrash(setting.GetValue() != "0");
  OptionsKeepInTrash->setChecked(KeepReplacedInTrash());
  connect(OptionsKeepInTrash, &QAction::toggled, this, [this](bool on) { KeepInTrash1Click(on); });
  OptionsCarryDeletions = makeAction(
      QStringLiteral("&Carry Deletions"), {},
      QStringLiteral("Carry deletions|A load takes along the files carried and then deleted "
                     "here; the other computer's unload offers to delete them there too (this "
                     "computer's choice for this briefcase)"));
  OptionsCarryDeletions->setObjectName(QStringLiteral("OptionsCarryDeletions"));
  OptionsCarryDeletions->setCheckable(true);
  connect(OptionsCarryDeletions, &QAction::triggered, this,
          [this](bool on) { CarryDeletionsClick(on); });
  OptionsItem->addSeparator();
  OptionsItem->addAction(OptionsCarryDeletions);
  OptionsItem->addAction(OptionsKeepInTrash);

  LocalEdit->setMaxLength(kMaxFolderPath);
  LocalEdit->installEventFilter(this);
}

bool TMainForm::LocalEditEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
      // Ctrl+U, Ctrl+A, Ctrl+Del ... are the window's commands here too (a
      // disabled one does nothing), never the line's own editing keys: Ctrl+U
      // would otherwise erase the folder.
      const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
      for (const QAction* a : findChildren<QAction*>()) {
        if (!a->shortcuts().contains(pressed)) continue;
        event->ignore();  // a shortcut override left unaccepted goes to the shortcut
        return true;
      }
      return false;
    }
    case QEvent::FocusOut: {
      // A window or menu taking the focus (a message, a dialog, the menu bar)
      // is not an exit: the focus comes back to the field. Leaving it with
      // the folder as it is has nothing to apply.
      const Qt::FocusReason r = static_cast<QFocusEvent*>(event)->reason();
      if (r != Qt::ActiveWindowFocusReason && r != Qt::PopupFocusReason &&
          r != Qt::MenuBarFocusReason && briefcase_ &&
          LocalEdit->text().toStdString() != briefcase_->LocalFolder())
        Refresh1Click();
      return false;
    }
    default:
      return false;
  }
}

void TMainForm::LocalEditKeyUp(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) Refresh1Click();
}

void TMainForm::CarryDeletionsClick(bool on) {
  if (!briefcase_) return;
  if (app::SetCarriesDeletions(engine_->archivePath, on)) {
    carriesDeletions_ = on;
    // The "deleted here" rows come or go with it.
    if (!on) LocalModel->clear();
    RefreshLocalList();
    UpdateCommands();
  } else {
    OptionsCarryDeletions->setChecked(!on);
    plat::messageBox("The choice could not be stored: the carry record cannot be written.",
                     plat::loadStr(kStrWarning), plat::btnOk, plat::Icon::Warning);
  }
}

void TMainForm::KeepInTrash1Click(bool on) {
  SetKeepReplacedInTrash(on);
  TJSetting setting;
  trashSetting(setting);
  try {
    setting.SetValue(on ? "1" : "0");
  } catch (const std::exception& e) {
    // The switch holds for this run all the same.
    plat::messageBox(e.what(), plat::loadStr(kStrWarning), plat::btnOk, plat::Icon::Warning);
  }
}

// ---- a new briefcase ----

void TMainForm::Document1New(TDocument* sender, bool& success) {
  success = false;
  // The wizard's answers make the container complete (record, date, and the
  // shortcut when asked) before it becomes the open briefcase.
  briefcase::NewBriefcase created;
  std::string existing;
  switch (NewBriefcaseFromWizard(this, &created, &existing)) {
    case WizardOutcome::Cancelled: return;
    case WizardOutcome::UseExisting: {
      // The briefcase the user chose to use instead opens as from File|Open.
      const std::string path = TDocManager::LongFileName(existing);
      success = OpenBriefcase([&path](briefcase::TBriefcaseDocLinks links) {
        return std::make_unique<briefcase::TBriefcaseDoc>(path, std::move(links));
      });
      if (success) sender->SetFileName(path);
      return;
    }
    case WizardOutcome::Created: break;
  }
  success = OpenBriefcase([&created](briefcase::TBriefcaseDocLinks links) {
    return std::make_unique<briefcase::TBriefcaseDoc>(created, std::move(links));
  });
  if (success) sender->SetFileName(created.containerPath);
}

// ---- settings ----

namespace {

// StoreConfiguration refuses a record that would not fit the container's
// comment; the user is told and the briefcase stays dirty.
template <typename Fn>
void guarded(Fn fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    plat::messageBox(e.what(), plat::loadStr(kStrWarning), plat::btnOk, plat::Icon::Warning);
  }
}

}  // namespace

void TMainForm::SettingsItemClick() {
  if (!briefcase_) return;
  std::unique_ptr<TSettingsForm> own;
  TSettingsForm* form = SettingsForm;
  if (!form) {
    own = std::make_unique<TSettingsForm>(this);
    form = own.get();
  }
  briefcase::TBriefcaseComment& config = briefcase_->Configuration();
  TSettingsForm::Values in;
  briefcase_->ReadBriefcaseDate(&in.date);  // a missing container: told, and now
  if (!briefcase_) return;
  in.include = QString::fromStdString(config.include);
  in.exclude = QString::fromStdString(config.exclude);
  in.localFolder = QString::fromStdString(briefcase_->LocalFolder());
  in.compressed = engine_->level > 0;
  in.subfolders = config.subfolders;
  form->IncludeEdit->setMaxLength(kMaxPatternText);
  form->ExcludeEdit->setMaxLength(kMaxPatternText);
  form->LocalEdit->setMaxLength(kMaxFolderPath);
  form->SetValues(in);
  // The filter holds whole hours: written back unchanged it would move the
  // briefcase date to the full hour, and files loaded since then would count
  // as changed again. Only a date the user changed is written: one edited
  // and then back to what the filter showed is no change.
  std::optional<plat::FileTime> shown;
  try {
    shown = form->GetFileTime();
  } catch (const EConvertError&) {
  }
  if (form->exec() != plat::mrOk || !briefcase_) return;
  const TSettingsForm::Values out = form->GetValues();
  if (form->DateChanged() && out.date != shown) briefcase_->WriteBriefcaseDate(out.date);
  bool changed = false;
  auto take = [&changed](std::string& field, const QString& text) {
    const std::string t = text.toStdString();
    if (t == field) return;
    field = t;
    changed = true;
  };
  take(config.include, out.include);
  take(config.exclude, out.exclude);
  briefcase_->SplitPatterns();
  const int level = out.compressed ? kLevelCompressed : kLevelStored;
  if (level != engine_->level) {
    engine_->level = level;
    changed = true;
  }
  if (out.subfolders != config.subfolders) {
    config.subfolders = out.subfolders;
    changed = true;
  }
  // The folder itself becomes the briefcase's in the refresh.
  if (out.localFolder != LocalEdit->text()) {
    LocalEdit->setText(out.localFolder);
    changed = true;
  }
  if (changed) Document1->SetDirty(true);
  if (Document1->Dirty()) guarded([this] { StoreConfiguration(); });
  Refresh1Click();
}

// ---- local folder and patterns ----

void TMainForm::SetLocalFolder1Click() {
  if (!briefcase_) return;
  const std::optional<std::string> chosen =
      plat::asker().browseFolder(plat::loadStr(kStrChooseLocalFolder), std::string());
  if (!chosen || chosen->empty() || !briefcase_) return;
  if (chosen->size() > static_cast<size_t>(kMaxFolderPath)) {
    // The record keeps 259 characters; a cut path would name another folder.
    plat::messageBox("The folder's path is longer than 259 characters:\n" + *chosen,
                     plat::loadStr(kStrWarning), plat::btnOk, plat::Icon::Warning);
    return;
  }
  LocalEdit->setText(QString::fromStdString(*chosen));
  briefcase_->SetLocalFolder(*chosen);
  Refresh1Click();
}

namespace {

// Include Files / Exclude Files: OK takes the text, changed or not.
bool askPatterns(QWidget* owner, int caption, int prompt, std::string* text) {
  std::unique_ptr<TInputForm> own;
  TInputForm* form = InputForm;
  if (!form) {
    own = std::make_unique<TInputForm>(owner);
    form = own.get();
  }
  const int oldMax = form->Edit->maxLength();
  form->Edit->setMaxLength(kMaxPatternText);
  QString edited = QString::fromStdString(*text);
  const int result = form->Execute(str(caption), str(prompt), &edited);
  form->Edit->setMaxLength(oldMax);
  if (result != plat::mrOk) return false;
  *text = edited.toStdString();
  return true;
}

}  // namespace

void TMainForm::IncludeFiles1Click() {
  if (!briefcase_) return;
  std::string text = briefcase_->Configuration().include;
  if (!askPatterns(this, kStrIncludeCaption, kStrIncludePrompt, &text) || !briefcase_) return;
  briefcase_->Configuration().include = text;
  briefcase_->SplitPatterns();
  Document1->SetDirty(true);
  Refresh1Click();
}

void TMainForm::ExcludeFiles1Click() {
  if (!briefcase_) return;
  std::string text = briefcase_->Configuration().exclude;
  if (!askPatterns(this, kStrExcludeCaption, kStrExcludePrompt, &text) || !briefcase_) return;
  briefcase_->Configuration().exclude = text;
  briefcase_->SplitPatterns();
  Document1->SetDirty(true);
  Refresh1Click();
}
