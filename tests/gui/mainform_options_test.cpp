// The main window's options: File|New through the wizard, the Settings
// command, the local folder and pattern commands, LocalEdit's keys and exit,
// the command keys, the automatic refresh and the per-user trash option.

#include <gtest/gtest.h>
#include <sys/time.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>
#include <QtTest/QTest>

#include <algorithm>
#include <filesystem>

#include "../core/testenv.h"
#include "app/listmodel.h"
#include "app/mainform.h"
#include "archive/compress.h"
#include "briefcase/briefcasedoc.h"
#include "components/dfromnow.h"
#include "components/setting.h"
#include "dialogs/inputdia.h"
#include "dialogs/settings.h"
#include "dialogs/wizard.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "gui_helpers.h"
#include "platform/files.h"
#include "platform/strtable.h"

namespace {

namespace fs = std::filesystem;
constexpr int64_t kDay = 86400;

// A local folder with files of given ages, and a briefcase path beside it.
struct Place {
  testenv::Env env;
  ScriptedAsker asker;
  plat::ScopedAsker use{&asker};
  std::string local = env.work() + "/Documents";
  std::string brcPath = env.work() + "/trip.brc";

  Place() {
    fs::create_directories(local);
    env.set("CARRYVALE_REMOVABLE_ROOTS", "");
  }
  static void age(const std::string& path, int64_t seconds) {
    timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= seconds;
    tv[0].tv_usec = 0;
    tv[1] = tv[0];
    ASSERT_EQ(utimes(path.c_str(), tv), 0);
  }
  void file(const std::string& rel, int64_t ageSeconds) {
    testenv::writeFile(local + "/" + rel, rel);
    age(local + "/" + rel, ageSeconds);
  }
  // A briefcase made by brc, dated `ageSeconds` back.
  void make(int64_t ageSeconds) {
    ASSERT_EQ(testenv::run(std::string(CARRYVALE_BRC) + " new " + testenv::quote(brcPath) +
                           " --folder " + testenv::quote(local) + " 2>&1"),
              0);
    age(brcPath, ageSeconds);
  }
  // Seconds from the container's last-write time to now.
  int64_t containerAge() const {
    plat::FileInfo info;
    EXPECT_TRUE(plat::fileSystem().stat(brcPath, &info, true));
    return static_cast<int64_t>((plat::nowFileTime() - info.writeTime) / plat::kTicksPerSecond);
  }
  int64_t containerSeconds() const {
    plat::FileInfo info;
    EXPECT_TRUE(plat::fileSystem().stat(brcPath, &info, true));
    return static_cast<int64_t>(info.writeTime / plat::kTicksPerSecond);
  }
};

class Form : public TMainForm {
 public:
  Form() {
    connect(RefreshTimer, &QTimer::timeout, this, [this] { ++ticks; });
  }
  int ticks = 0;  // rescans by the refresh timer
  bool open(const std::string& path) { return DocManager1->Open(path); }
  bool dirty() const { return Document1->Dirty(); }
  void settings() { BriefcaseSettings->trigger(); }
};

std::vector<std::string> names(const TListModel* m) {
  std::vector<std::string> out;
  for (int i = 0; i < m->size(); ++i) out.push_back(m->row(i).name);
  std::sort(out.begin(), out.end());
  return out;
}

// Fills the wizard's pages and ends it: "finish", "cancel".
void runWizard(QWidget* dialog, const std::string& container, const std::string& local,
               const std::string& end) {
  auto* w = qobject_cast<TWizardForm*>(dialog);
  ASSERT_NE(w, nullptr);
  w->NextButton->click();
  w->BriefcaseEdit->setText(QString::fromStdString(container));
  w->ComprCheckbox->setChecked(false);
  w->NextButton->click();
  if (w->CurrentPage != 3) {  // the name was refused, or an existing briefcase taken
    if (w->isVisible()) w->CancelButton->click();
    return;
  }
  w->LocalEdit->setText(QString::fromStdString(local));
  for (int i = 0; i < 4; ++i) w->NextButton->click();  // patterns, the date left at 7 days
  w->RadioButton2->click();                            // no shortcut
  if (end == "finish") w->FinishButton->click();
  else w->CancelButton->click();
}

}  // namespace

TEST(MainFormOptions, NewBriefcaseFromTheWizard) {
  const struct {
    const char* end;
    const char* existing;  // at the path already (typed, not chosen in the save dialog)
    bool created;
  } cases[] = {{"cancel", "", false},
               {"finish", "a file", false},
               {"finish", "a briefcase", false},  // used instead, answered Yes
               {"finish", "", true}};
  for (const auto& c : cases) {
    const std::string existing = c.existing;
    SCOPED_TRACE(c.end + (" over " + existing));
    Place p;
    p.file("old.txt", 8 * kDay);
    p.file("week.txt", 6 * kDay);
    p.file("sub/hour.txt", 3600);
    if (existing == "a file") testenv::writeFile(p.brcPath, "keep me");
    if (existing == "a briefcase") {
      p.make(2 * kDay);
      p.asker.answers = {plat::mrYes};
    }
    const std::vector<uint8_t> before = testenv::readBytes(p.brcPath);
    Form form;
    form.show();
    ASSERT_TRUE(form.FileNew->isEnabled());
    onNextModal([&](QWidget* d) { runWizard(d, p.brcPath, p.local, c.end); });
    const plat::FileTime started = plat::nowFileTime();
    form.FileNew->trigger();
    if (!existing.empty()) {
      // Said at Next on the name's page, and the file is left as it was.
      ASSERT_EQ(p.asker.messages.size(), 1u);
      EXPECT_EQ(p.asker.messages[0].text,
                existing == "a file"
                    ? p.brcPath + " already exists and is not a briefcase.\n" + plat::loadStr(8207)
                    : plat::loadStrFmt(8209, (p.env.work() + "/").c_str(), "trip.brc"));
      EXPECT_TRUE(testenv::readBytes(p.brcPath) == before);
    }
    if (existing == "a briefcase") {
      // Yes opens it, as File|Open would.
      EXPECT_TRUE(form.BriefcaseOpen());
      EXPECT_EQ(form.windowTitle(), "Carryvale - trip.brc");
      EXPECT_EQ(form.Document1->FileName(), p.brcPath);
      EXPECT_EQ(names(form.LocalModel), (std::vector<std::string>{"hour.txt"}));
      continue;
    }
    EXPECT_EQ(form.BriefcaseOpen(), c.created);
    if (!c.created) {
      EXPECT_EQ(fs::exists(p.brcPath), !existing.empty());
      EXPECT_EQ(form.windowTitle(), "Carryvale");
      continue;
    }
    EXPECT_TRUE(p.asker.messages.empty());
    EXPECT_EQ(form.windowTitle(), "Carryvale - trip.brc");
    EXPECT_FALSE(form.dirty());
    EXPECT_FALSE(fs::exists(p.env.path("home/Desktop/Shortcut to trip.desktop")));
    // Seven days before the wizard was shown, at that hour.
    plat::FileInfo info;
    ASSERT_TRUE(plat::fileSystem().stat(p.brcPath, &info, true));
    const int64_t back = static_cast<int64_t>((started - info.writeTime) / plat::kTicksPerSecond);
    EXPECT_GE(back, 7 * kDay - 5);
    EXPECT_LE(back, 7 * kDay + 3600 + 5);
    EXPECT_EQ(names(form.LocalModel), (std::vector<std::string>{"hour.txt", "week.txt"}));
    // Compression off: the record's level character.
    archive::TCompress engine;
    engine.archivePath = p.brcPath;
    ASSERT_EQ(engine.readEndRecord(), 0);
    ASSERT_GE(engine.comment.size(), 2u);
    EXPECT_EQ(engine.comment[engine.comment.size() - 2], '0');
    EXPECT_EQ(form.Engine()->level, 0);

    // Closed and opened again: the folder is known, nothing is asked.
    form.FileClose->trigger();
    ASSERT_FALSE(form.BriefcaseOpen());
    ASSERT_TRUE(form.open(p.brcPath));
    EXPECT_TRUE(p.asker.messages.empty());
    EXPECT_TRUE(p.asker.folderCaptions.empty());
    EXPECT_EQ(form.LocalEdit->text().toStdString(), p.local);
    EXPECT_EQ(form.Briefcase()->Configuration().folders.count(), 1u);
  }
}

TEST(MainFormOptions, SettingsTakeWhatChanged) {
  const struct {
    const char* edit;    // what the user does in the dialog
    bool ok;
    bool dirty;          // afterwards
    int64_t dateBack;    // the container's new age in days; -1: unchanged to the second
    std::vector<std::string> listed;
  } cases[] = {
      {"nothing", true, false, -1, {"today.txt"}},
      {"days", true, false, 3, {"today.txt", "twodays.txt"}},
      {"hour typed again", true, false, -1, {"today.txt"}},
      {"include", true, true, -1, {}},
      {"compression", true, true, -1, {"today.txt"}},
      {"subfolders", true, true, -1, {}},
      {"everything", false, false, -1, {"today.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit);
    Place p;
    p.file("twodays.txt", 2 * kDay);
    p.file("sub/today.txt", 600);
    p.make(kDay + 25 * 60 + 11);  // not on a whole hour
    const int64_t dated = p.containerSeconds();
    Form form;
    form.show();
    ASSERT_TRUE(form.open(p.brcPath));
    ASSERT_FALSE(form.dirty());
    onNextModal([&](QWidget* d) {
      auto* s = qobject_cast<TSettingsForm*>(d);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->LocalEdit->text().toStdString(), p.local);
      EXPECT_TRUE(s->ComprCheckbox->isChecked());
      const std::string what = c.edit;
      if (what == "days" || what == "everything") s->DFromNow1->DaysEdit->setValue(3);
      if (what == "include" || what == "everything") s->IncludeEdit->setText("*.doc");
      if (what == "compression" || what == "everything") s->ComprCheckbox->setChecked(false);
      if (what == "subfolders" || what == "everything") s->SubdirsCheckBox->setChecked(false);
      if (what == "hour typed again") {
        QLineEdit* hour = s->DFromNow1->HourEdit;
        const QString shown = hour->text();
        hour->selectAll();
        for (QChar ch : shown) {
          QKeyEvent key(QEvent::KeyPress, Qt::Key_0 + ch.digitValue(), Qt::NoModifier, QString(ch));
          QApplication::sendEvent(hour, &key);
        }
        EXPECT_TRUE(s->DateChanged());
      }
      (c.ok ? s->Button1 : s->Button2)->click();
    });
    form.settings();
    EXPECT_TRUE(p.asker.messages.empty());
    EXPECT_EQ(form.dirty(), c.dirty);
    if (c.dateBack < 0) {
      EXPECT_EQ(p.containerSeconds(), dated);
    } else {
      EXPECT_GE(p.containerAge(), c.dateBack * kDay - 5);
      EXPECT_LE(p.containerAge(), c.dateBack * kDay + 3600 + 5);
    }
    EXPECT_EQ(form.Engine()->level, std::string(c.edit) == "compression" ? 0 : 6);
    EXPECT_EQ(names(form.LocalModel), c.listed);
  }
}

TEST(MainFormOptions, IncludeExcludeAndLocalFolder) {
  const struct {
    const char* command;
    const char* text;  // typed; nullptr: left as shown
    bool ok;
    bool dirty;
    std::vector<std::string> listed;
  } cases[] = {
      {"include", nullptr, true, true, {"a.doc", "b.txt"}},  // OK marks it even unchanged
      {"include", "*.txt", false, false, {"a.doc", "b.txt"}},
      {"include", "*.txt", true, true, {"b.txt"}},
      {"exclude", "*.TXT", true, true, {"a.doc"}},
      {"exclude", ";", true, true, {"a.doc", "b.txt"}},  // an empty pattern matches nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + (c.text ? c.text : "(unchanged)"));
    Place p;
    p.file("a.doc", 600);
    p.file("b.txt", 600);
    p.make(kDay);
    Form form;
    form.show();
    ASSERT_TRUE(form.open(p.brcPath));
    const bool include = std::string(c.command) == "include";
    onNextModal([&](QWidget* d) {
      auto* in = qobject_cast<TInputForm*>(d);
      ASSERT_NE(in, nullptr);
      EXPECT_EQ(in->windowTitle().toStdString(), plat::loadStr(include ? 705 : 707));
      EXPECT_EQ(in->Prompt->text().toStdString(), plat::loadStr(include ? 706 : 708));
      if (c.text) in->Edit->setText(c.text);
      (c.ok ? in->OKButton : in->CancelButton)->click();
    });
    (include ? form.IncludeFiles1 : form.ExcludeFiles1)->trigger();
    EXPECT_EQ(form.dirty(), c.dirty);
    EXPECT_EQ(names(form.LocalModel), c.listed);
    const auto& config = form.Briefcase()->Configuration();
    EXPECT_EQ(include ? config.include : config.exclude, c.ok && c.text ? c.text : "");
  }

  // Set Local Folder: Cancel keeps all; a folder becomes the briefcase's.
  Place p;
  p.make(kDay);
  const std::string other = p.env.work() + "/Other";
  fs::create_directories(other);
  testenv::writeFile(other + "/c.txt", "c");
  Form form;
  ASSERT_TRUE(form.open(p.brcPath));
  p.asker.folders = {"", other};
  form.SetLocalFolder1->trigger();
  EXPECT_FALSE(form.dirty());
  EXPECT_EQ(form.Briefcase()->LocalFolder(), p.local);
  form.SetLocalFolder1->trigger();
  EXPECT_EQ(p.asker.folderCaptions,
            (std::vector<std::string>{"Choose the local folder:", "Choose the local folder:"}));
  EXPECT_TRUE(form.dirty());
  EXPECT_EQ(form.LocalEdit->text().toStdString(), other);
  EXPECT_EQ(form.Briefcase()->Configuration().FolderForThisComputer(), other);
  EXPECT_EQ(names(form.LocalModel), (std::vector<std::string>{"c.txt"}));

  // The Options menu as the user sees it, for looking at.
  form.show();
  form.OptionsItem->popup(form.mapToGlobal(QPoint(0, 0)));
  spinEvents(50);
  const QString shots = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(shots);
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR") == "2" ? "-200" : "";
  EXPECT_TRUE(form.OptionsItem->grab().save(shots + "/options_menu" + scale + ".png"));
  form.OptionsItem->hide();
}

// LocalEdit: Enter and leaving the field refresh; an emptied box gives the
// stored folder back; the release of a key whose press closed a message box
// does nothing.
TEST(MainFormOptions, LocalEditEnterAndExit) {
  Place p;
  p.make(kDay);
  p.file("a.txt", 60);
  const std::string other = p.env.work() + "/Other";
  testenv::writeFile(other + "/c.txt", "c");
  Form form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_TRUE(form.open(p.brcPath));
  const struct {
    const char* typed;  // "OTHER": the other folder; "SAME": the briefcase's
    const char* event;
    bool toOther;  // the other folder becomes the briefcase's
    bool rescans;
  } cases[] = {
      {"OTHER", "focus to a window", false, false}, {"OTHER", "menu", false, false},
      {"OTHER", "tab", true, true},                 {"SAME", "tab", false, false},
      {"OTHER", "enter", true, true},               {"SAME", "enter", false, true},
      {"OTHER", "enter released", false, false},    {"", "enter", false, true},
      {"", "tab", false, true},                     {"OTHER", "key a", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " " + c.event);
    form.Briefcase()->SetLocalFolder(p.local);
    form.Document1->SetDirty(false);
    form.LocalModel->clear();
    const std::string typed = c.typed;
    form.LocalEdit->setText(QString::fromStdString(typed == "OTHER" ? other
                                                   : typed == "SAME" ? p.local
                                                                     : typed));
    form.LocalEdit->setFocus();
    const std::string e = c.event;
    if (e == "focus to a window" || e == "menu") {
      QFocusEvent out(QEvent::FocusOut,
                      e == "menu" ? Qt::PopupFocusReason : Qt::ActiveWindowFocusReason);
      QApplication::sendEvent(form.LocalEdit, &out);
    } else if (e == "enter released") {
      QTest::keyRelease(form.LocalEdit, Qt::Key_Return);
    } else {
      QTest::keyClick(form.LocalEdit,
                      e == "tab" ? Qt::Key_Tab : e == "enter" ? Qt::Key_Return : Qt::Key_A);
    }
    EXPECT_EQ(form.Briefcase()->LocalFolder(), c.toOther ? other : p.local);
    EXPECT_EQ(form.dirty(), c.toOther);
    EXPECT_EQ(form.LocalModel->size() > 0, c.rescans);
    if (typed.empty()) { EXPECT_EQ(form.LocalEdit->text().toStdString(), p.local); }
  }
}

// The shortcuts of the window's commands reach their commands wherever the
// focus is, LocalEdit included (where Ctrl+U would erase the line); a
// disabled command's key does nothing there either.
TEST(MainFormOptions, CommandKeysWhereverTheFocusIs) {
  class Counting : public Form {
   public:
    int calls = 0;
    void BriefcaseLoad() override { ++calls; }
    void BriefcaseUnload() override { ++calls; }
    void ClearButtonClick() override { ++calls; }
    void SettingsItemClick() override { ++calls; }
  };
  Place p;
  p.make(kDay);
  p.file("a.txt", 60);
  ASSERT_EQ(testenv::run(std::string(CARRYVALE_BRC) + " load " + testenv::quote(p.brcPath) +
                         " 2>&1"),
            0);
  p.file("b.txt", -60);
  Counting form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_TRUE(form.open(p.brcPath));
  const struct {
    QKeyCombination key;
    QAction* Form::*command;
    bool enabled;
  } cases[] = {
      {Qt::CTRL | Qt::Key_U, &Form::BriefcaseUnload1, true},
      {Qt::CTRL | Qt::Key_L, &Form::BriefcaseLoad1, true},
      {Qt::CTRL | Qt::Key_A, &Form::SelectAll1, true},
      {Qt::CTRL | Qt::Key_Delete, &Form::ClearItem, true},
      {Qt::ALT | Qt::Key_Return, &Form::BriefcaseSettings, true},
      {QKeyCombination(Qt::Key_F5), &Form::OptionsRefresh, true},
      {Qt::CTRL | Qt::Key_U, &Form::BriefcaseUnload1, false},
  };
  const QString folder = QString::fromStdString(p.local);
  for (const auto& c : cases) {
    for (QWidget* focus : {static_cast<QWidget*>(form.LocalEdit),
                           static_cast<QWidget*>(form.LocalList),
                           static_cast<QWidget*>(form.BriefcaseList)}) {
      SCOPED_TRACE(QKeySequence(c.key).toString().toStdString() + " in " +
                   focus->objectName().toStdString() + (c.enabled ? "" : ", disabled"));
      form.SelectAll1->trigger();
      if (!c.enabled) form.BriefcaseList->clearSelection();
      ASSERT_EQ((form.*c.command)->isEnabled(), c.enabled);
      int triggered = 0;
      const auto counter =
          QObject::connect(form.*c.command, &QAction::triggered, [&] { ++triggered; });
      form.calls = 0;
      focus->setFocus();
      form.LocalEdit->setCursorPosition(3);
      QTest::keyClick(focus, c.key.key(), c.key.keyboardModifiers());
      QObject::disconnect(counter);
      EXPECT_EQ(triggered, c.enabled ? 1 : 0);
      EXPECT_EQ(form.LocalEdit->text(), folder);
      EXPECT_EQ(form.LocalEdit->cursorPosition(), 3);
    }
  }
}

// A burst of saves: one rescan about a second after the first; none while no
// briefcase is open.
TEST(MainFormOptions, FolderChangesRescanOnce) {
  Place p;
  p.make(kDay);
  Form form;
  ASSERT_TRUE(form.open(p.brcPath));
  spinEvents(1500);  // changes made just before the open are reported once
  form.ticks = 0;
  for (int i = 0; i < 10; ++i) testenv::writeFile(p.local + "/f" + std::to_string(i) + ".txt", "x");
  spinEvents(1500);
  EXPECT_EQ(form.ticks, 1);
  EXPECT_EQ(form.LocalModel->size(), 10);

  form.FileClose->trigger();
  ASSERT_FALSE(form.BriefcaseOpen());
  form.ticks = 0;
  testenv::writeFile(p.local + "/late.txt", "x");
  spinEvents(1500);
  EXPECT_EQ(form.ticks, 0);
}

TEST(MainFormOptions, KeepReplacedFilesInTheTrashIsStoredPerUser) {
  testenv::Env env;
  {
    Form form;
    EXPECT_EQ(form.OptionsItem->actions().last(), form.OptionsKeepInTrash);
    EXPECT_TRUE(form.OptionsKeepInTrash->isCheckable());
    EXPECT_TRUE(form.OptionsKeepInTrash->isChecked());  // on by default
    EXPECT_TRUE(form.KeepReplacedInTrash());
    form.OptionsKeepInTrash->trigger();
    EXPECT_FALSE(form.KeepReplacedInTrash());
  }
  TJSetting stored;
  stored.Storage().SetKey(cvreg::kAppKey);
  stored.Storage().SetRegistryRootKey(atrkCurrentUser);
  stored.SetKeyName(cvreg::kKeepReplacedInTrashValue);
  EXPECT_EQ(stored.GetValue(), "0");
  Form again;
  EXPECT_FALSE(again.OptionsKeepInTrash->isChecked());
  EXPECT_FALSE(again.KeepReplacedInTrash());
}
