// The main window's load, unload, delete and clear, and the -l / -u command
// line, on briefcases made with brc; every question through the scripted asker.

#include <gtest/gtest.h>

#include "app/deletions.h"
#include <fcntl.h>
#include <sys/file.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <filesystem>

#include "../core/testenv.h"
#include "../core/update_support.h"
#include "../core/zip_reader.h"
#include "app/listmodel.h"
#include "app/mainform.h"
#include "app/operations.h"
#include "archive/compress.h"
#include "archive/extract/extract.h"
#include "archive/update/update.h"
#include "briefcase/briefcasedoc.h"
#include "dialogs/anim.h"
#include "dialogs/animate.h"
#include "dialogs/qtasker.h"
#include "dialogs/replace.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "gui_helpers.h"
#include "platform/strtable.h"
#include "platform/trash.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string str(int id) { return plat::loadStr(id); }

// A local folder and its briefcase, made with brc.
struct Bag {
  testenv::Env env;
  ScriptedAsker asker;
  plat::ScopedAsker use{&asker};
  std::string local = env.work() + "/Documents";
  std::string brcPath = env.work() + "/bag.brc";

  Bag() { fs::create_directories(local); }
  static void age(const std::string& path, long seconds) {
    timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= seconds;
    tv[0].tv_usec = 0;
    tv[1] = tv[0];
    ASSERT_EQ(utimes(path.c_str(), tv), 0) << path;
  }
  void file(const std::string& rel, const std::string& bytes, long seconds) {
    testenv::writeFile(local + "/" + rel, bytes);
    age(local + "/" + rel, seconds);
  }
  void brc(const std::string& args) {
    ASSERT_EQ(testenv::run(std::string(CARRYVALE_BRC) + " " + args + " 2>&1"), 0) << args;
  }
  // A briefcase dated an hour ago; the files written after it are candidates.
  void make() {
    brc("new " + testenv::quote(brcPath) + " --folder " + testenv::quote(local) + " --days 30");
    age(brcPath, 3600);
  }
  // a.txt, b.txt and sub/c.txt in the briefcase (entry times two hours
  // ago), the briefcase dated three hours ago, the local copies gone.
  void threeEntries() {
    make();
    age(brcPath, 3 * 3600);
    for (const char* f : {"a.txt", "b.txt", "sub/c.txt"}) file(f, std::string("entry ") + f, 7200);
    brc("load " + testenv::quote(brcPath));
    age(brcPath, 3 * 3600);
    fs::remove_all(local);
    fs::create_directories(local);
  }
  Strings entries() const {
    archive::TCompress engine;
    engine.archivePath = brcPath;
    Strings out;
    engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
      if (!e.isFolder()) out.push_back(e.displayName());
    };
    archive::ListRun(engine);
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string text(const std::string& rel) const { return testenv::readText(local + "/" + rel); }
};

// The window with its progress window; counts the loads that start.
class Form : public TMainForm {
 public:
  explicit Form(const QStringList& arguments = {}) : TMainForm(arguments) {
    AnimatedForm = new TAnimatedForm(this);
  }
  bool open(const std::string& path) { return DocManager1->Open(path); }
  int loads = 0;

  void BriefcaseLoad() override {
    ++loads;
    TMainForm::BriefcaseLoad();
  }
  Strings names(List list) const {
    Strings out;
    const TListModel* m = list == List::Local ? LocalModel : BriefcaseModel;
    for (int i = 0; i < m->size(); ++i)
      out.push_back((m->row(i).folder.empty() ? "" : m->row(i).folder + "/") + m->row(i).name);
    std::sort(out.begin(), out.end());
    return out;
  }
  using TMainForm::List;
};

// Arms `act` to run inside the next event dispatch (the operation's polls).
void duringTheRun(std::function<void()> act) { QTimer::singleShot(0, qApp, std::move(act)); }

// Waits until the window has closed (the command line closes it).
void waitForClose(QWidget& w) {
  for (int i = 0; i < 500 && w.isVisible(); ++i) spinEvents(10);
}

// ---- load ----

TEST(MainWindowOps, LoadSkipsFilesOf4GBWithOneWarningAndEmptiesTheLoadedRows) {
  Bag b;
  b.make();
  b.file("a.txt", "alpha", 60);
  b.file("sub/b.txt", "beta", 60);
  for (const char* big : {"big1.bin", "big2.bin"}) {
    testenv::writeFile(b.local + "/" + big, "");
    fs::resize_file(b.local + "/" + big, 5ull << 30);  // sparse
  }
  Form form;
  ASSERT_TRUE(form.open(b.brcPath));
  ASSERT_EQ(form.names(Form::List::Local), (Strings{"a.txt", "big1.bin", "big2.bin", "sub/b.txt"}));
  form.Document1->SetDirty(true);
  form.BriefcaseLoad1->trigger();

  ASSERT_EQ(b.asker.messages.size(), 1u);
  EXPECT_EQ(b.asker.messages[0].text,
            "One or more files are larger than 4 GB.\nThese files will not be loaded.");
  EXPECT_EQ(b.asker.messages[0].caption, str(683));
  EXPECT_EQ(b.asker.messages[0].icon, plat::Icon::Warning);
  EXPECT_EQ(b.entries(), (Strings{"a.txt", "sub/b.txt"}));
  // Nothing is newer than the briefcase now, the big files neither.
  EXPECT_TRUE(form.names(Form::List::Local).empty());
  for (int i = 0; i < form.BriefcaseModel->size(); ++i)
    EXPECT_EQ(form.BriefcaseModel->row(i).icon, app::kIconSame) << form.BriefcaseModel->row(i).name;
  EXPECT_FALSE(form.Document1->Dirty());
  EXPECT_FALSE(AnimatedForm->isVisible());
  EXPECT_EQ(form.LastOperationResult(), 0);
}

// Loads that leave the briefcase as it was: Cancel at once (nothing said),
// an empty local folder box (681), a disk that fills up (686 with Help at
// its topic; the briefcase stays dirty, so closing offers to save).
TEST(MainWindowOps, LoadsThatChangeNothing) {
  const struct {
    const char* what;
    bool cancel, emptyFolderBox, diskFull;
    Strings messages;
    int result;
  } cases[] = {
      {"cancel", true, false, false, {}, 19},
      {"no folder", false, true, false, {str(681)}, 10},
      {"disk full", false, false, true, {str(686)}, 29},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bag b;
    b.threeEntries();
    b.file("a.txt", "changed here", 60);
    const auto before = testenv::readBytes(b.brcPath);
    Form form;
    ASSERT_TRUE(form.open(b.brcPath));
    if (c.emptyFolderBox) form.LocalEdit->clear();
    if (c.cancel) duringTheRun([] { AnimatedForm->Button1->click(); });
    utest::FaultFs faults;
    faults.writeBudget = 10;
    std::optional<plat::ScopedFileSystem> full;
    if (c.diskFull) full.emplace(&faults);
    form.BriefcaseLoad1->trigger();
    full.reset();
    Strings shown;
    for (const auto& m : b.asker.messages) shown.push_back(m.text);
    EXPECT_EQ(shown, c.messages);
    if (c.diskFull && !b.asker.messages.empty()) {
      EXPECT_EQ(b.asker.messages[0].caption, str(683));
      EXPECT_EQ(b.asker.messages[0].icon, plat::Icon::Warning);
      EXPECT_EQ(b.asker.messages[0].buttons, plat::btnOk | plat::btnHelp);
      EXPECT_EQ(b.asker.messages[0].helpContext, 2011);
    }
    EXPECT_EQ(form.LastOperationResult(), c.result);
    EXPECT_EQ(form.Document1->Dirty(), c.result != 10);
    EXPECT_EQ(testenv::readBytes(b.brcPath), before);
    EXPECT_TRUE(form.BriefcaseOpen());
    EXPECT_EQ(form.names(Form::List::Briefcase), (Strings{"a.txt", "b.txt", "sub/c.txt"}));
    EXPECT_EQ(form.names(Form::List::Local), (Strings{"a.txt"}));
  }
}

// The commands are refused while the load runs (inside its progress polls),
// and the progress window is rendered as it shows a real load.
TEST(MainWindowOps, SecondLoadRefusedWhileOneRuns) {
  Bag b;
  b.make();
  for (int i = 0; i < 20; ++i) b.file(std::to_string(i) + "f.txt", std::string(40000, 'x'), 60);
  Form form;
  form.show();
  ASSERT_TRUE(form.open(b.brcPath));
  bool polled = false;
  duringTheRun([&] {
    polled = true;
    EXPECT_TRUE(AnimatedForm->isVisible());
    EXPECT_EQ(AnimatedForm->Animate1->clip(), TAnimate::clipLoad);
    EXPECT_TRUE(AnimatedForm->Animate1->isActive());
    EXPECT_TRUE(form.OperationRunning());
    form.BriefcaseLoad1->trigger();
    form.LoadButton2->click();
    form.TMainForm::BriefcaseLoad();  // even when called directly
    EXPECT_FALSE(form.close());
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    spinEvents(30);
    EXPECT_TRUE(AnimatedForm->grab().save(dir + QStringLiteral("/progress-during-load.png")));
  });
  form.BriefcaseLoad1->trigger();
  EXPECT_TRUE(polled);
  EXPECT_EQ(form.loads, 1);
  EXPECT_TRUE(b.asker.messages.empty());
  EXPECT_EQ(b.entries().size(), 20u);
  EXPECT_EQ(form.LastOperationResult(), 0);
  EXPECT_TRUE(form.isVisible());
}

// ---- unload ----

// No conflicts: 690 with the count and a question icon. No keeps the entries
// and dates the briefcase now, in UTC whatever the time zone, so the files
// just written are no load candidates; Yes removes them.
TEST(MainWindowOps, UnloadAsksToRemoveThenKeepsOrRemoves) {
  const struct {
    const char* tz;
    int answer;
    Strings left;
  } cases[] = {
      {"EST-10", plat::mrNo, {"a.txt", "b.txt", "sub/c.txt"}},  // east of Greenwich
      {"WST+10", plat::mrNo, {"a.txt", "b.txt", "sub/c.txt"}},  // west
      {"UTC0", plat::mrYes, {}},
  };
  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tz);
    setenv("TZ", c.tz, 1);
    tzset();
    Bag b;
    b.threeEntries();
    Form form;
    ASSERT_TRUE(form.open(b.brcPath));
    form.Document1->SetDirty(true);
    b.asker.answers = {c.answer};
    form.BriefcaseUnload1->trigger();
    ASSERT_EQ(b.asker.messages.size(), 1u);
    EXPECT_EQ(b.asker.messages[0].text, plat::loadStrFmt(690, 3));
    EXPECT_EQ(b.asker.messages[0].caption, str(699));
    EXPECT_EQ(b.asker.messages[0].buttons, plat::btnYesNo);
    EXPECT_EQ(b.asker.messages[0].icon, plat::Icon::Question);
    EXPECT_EQ(b.text("sub/c.txt"), "entry sub/c.txt");
    EXPECT_EQ(b.entries(), c.left);
    EXPECT_EQ(form.names(Form::List::Briefcase), c.left);
    EXPECT_TRUE(form.names(Form::List::Local).empty());
    EXPECT_EQ(form.Document1->Dirty(), c.answer == plat::mrNo);
    EXPECT_EQ(form.FileSave->isEnabled(), c.answer == plat::mrNo);
  }
  if (oldTz) setenv("TZ", savedTz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

// Existing local files (older, other bytes): the answers to the replace
// questions, what they leave on the disk and in the trash (whose .trashinfo
// names where each file was), and what follows. The first file asked about
// gets the first answer.
TEST(MainWindowOps, UnloadOverExistingFiles) {
  const struct {
    const char* what;
    std::deque<int> replies;
    std::string renameTo;  // relative to the local folder
    bool trash;            // the window's switch
    Strings messages;      // after the replace questions
    plat::Icon icon;
    bool othersWritten;  // the files not asked first hold the entries' bytes
  } cases[] = {
      {"no to one", {plat::mrNo, plat::mrYes, plat::mrYes}, "", true, {str(723)},
       plat::Icon::Warning, true},
      {"rename", {plat::mrRename, plat::mrYesToAll}, "renamed.txt", true,
       {plat::loadStrFmt(690, 3)}, plat::Icon::Question, true},
      {"no trash", {plat::mrNo, plat::mrYesToAll}, "", false, {str(723)}, plat::Icon::Warning, true},
      {"cancel", {plat::mrCancel}, "", true, {str(720)}, plat::Icon::Information, false},
  };
  const Strings files = {"a.txt", "b.txt", "sub/c.txt"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bag b;
    b.threeEntries();
    for (const std::string& f : files) b.file(f, "local " + f, 3 * 3600 + 60);
    Form form;
    form.SetKeepReplacedInTrash(c.trash);
    ASSERT_TRUE(form.open(b.brcPath));
    b.asker.replaceAnswers = c.replies;
    if (!c.renameTo.empty()) b.asker.renamePaths.push_back(b.local + "/" + c.renameTo);
    b.asker.answers = {plat::mrNo};
    form.BriefcaseUnload1->trigger();

    ASSERT_FALSE(b.asker.replaces.empty());
    const std::string first = b.asker.replaces[0].existingPath.substr(b.local.size() + 1);
    Strings shown;
    for (const auto& m : b.asker.messages) shown.push_back(m.text);
    EXPECT_EQ(shown, c.messages);
    if (!b.asker.messages.empty()) {
      EXPECT_EQ(b.asker.messages[0].icon, c.icon);
      // Failures have the platform's caption; the question has its own.
      EXPECT_EQ(b.asker.messages[0].caption, c.icon == plat::Icon::Information ? "" : str(699));
    }
    Strings replaced, trashed;
    for (const std::string& f : files) {
      const bool written = f != first && c.othersWritten;
      EXPECT_EQ(b.text(f), (written ? "entry " : "local ") + f) << f;
      if (written && c.trash) replaced.push_back(plat::trashInfoPath(b.local + "/" + f) + " local " + f);
    }
    const std::string trash = b.env.path("data/Trash");
    if (fs::exists(trash + "/info"))
      for (const auto& e : fs::directory_iterator(trash + "/info")) {
        const std::string info = testenv::readText(e.path().string());
        const size_t at = info.find("Path=") + 5;
        trashed.push_back(info.substr(at, info.find('\n', at) - at) + " " +
                          testenv::readText(trash + "/files/" + e.path().stem().string()));
      }
    std::sort(trashed.begin(), trashed.end());
    EXPECT_EQ(trashed, replaced);
    if (!c.renameTo.empty()) { EXPECT_EQ(b.text(c.renameTo), "entry " + first); }
    EXPECT_EQ(b.entries(), files);
    EXPECT_TRUE(form.BriefcaseOpen());
  }
}

// A local folder renamed away while the window is open: F5 tells it; the
// unload and the load ask for it with the first-visit question and never
// make it again; a folder chosen becomes the briefcase's and the unload goes
// there.
TEST(MainWindowOps, AMissingLocalFolderIsAskedForNeverMade) {
  const Strings kAll = {"a.txt", "b.txt", "sub/c.txt"};
  const struct {
    const char* what;
    QAction* Form::*command;
    bool chooseAnother;
    Strings messages;  // "FOLDER" is the missing folder
    Strings entries;   // afterwards
  } cases[] = {
      {"refresh", &Form::OptionsRefresh, false, {app::MissingFolderText("FOLDER")}, kAll},
      {"unload", &Form::BriefcaseUnload1, false,
       {app::MissingFolderText("FOLDER") + "\nNothing was unloaded."}, kAll},
      {"unload elsewhere", &Form::BriefcaseUnload1, true, {plat::loadStrFmt(690, 3)}, {}},
      {"load", &Form::BriefcaseLoad1, true,
       {app::MissingFolderText("FOLDER") + "\nNothing was loaded."}, kAll},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bag b;
    b.threeEntries();
    b.file("new.txt", "new", 60);
    const std::string other = b.env.work() + "/Elsewhere";
    fs::create_directories(other);
    Form form;
    ASSERT_TRUE(form.open(b.brcPath));
    fs::rename(b.local, b.local + "-renamed");
    b.asker.folders = {c.chooseAnother ? other : ""};
    b.asker.answers = {plat::mrYes};  // 690: remove the unloaded entries
    (form.*c.command)->trigger();
    Strings shown;
    for (const auto& m : b.asker.messages) {
      std::string text = m.text;
      if (const size_t at = text.find(b.local); at != std::string::npos)
        text.replace(at, b.local.size(), "FOLDER");
      shown.push_back(text);
    }
    EXPECT_EQ(shown, c.messages);
    if (!b.asker.messages.empty() && c.messages[0].find("FOLDER") != std::string::npos) {
      EXPECT_EQ(b.asker.messages[0].caption, str(683));
      EXPECT_EQ(b.asker.messages[0].icon, plat::Icon::Warning);
    }
    const bool asks = c.command != &Form::OptionsRefresh;
    EXPECT_EQ(b.asker.folderPrompts, asks ? Strings{str(713)} : Strings{});
    EXPECT_FALSE(fs::exists(b.local));
    EXPECT_EQ(b.entries(), c.entries);
    const std::string folder = c.chooseAnother ? other : b.local;
    EXPECT_EQ(form.Briefcase()->LocalFolder(), folder);
    EXPECT_EQ(form.LocalEdit->text().toStdString(), folder);
    if (c.chooseAnother && c.command == &Form::BriefcaseUnload1) {
      EXPECT_EQ(testenv::readText(other + "/sub/c.txt"), "entry sub/c.txt");
    }
  }
}

// Declining the free-space question writes nothing and leaves both lists and
// their selection as they were.
TEST(MainWindowOps, DecliningTheFreeSpaceQuestionChangesNothing) {
  Bag b;
  b.make();
  Bag::age(b.brcPath, 3 * 3600);
  b.file("big.txt", std::string(40000, 'b'), 7200);
  b.file("small.txt", std::string(3000, 's'), 7200);
  b.brc("load " + testenv::quote(b.brcPath));
  Bag::age(b.brcPath, 3 * 3600);
  fs::remove(b.local + "/big.txt");
  fs::remove(b.local + "/small.txt");
  b.file("new.txt", "new", 60);
  Form form;
  ASSERT_TRUE(form.open(b.brcPath));
  form.BriefcaseList->selectionModel()->select(
      form.BriefcaseModel->index(0, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  const std::vector<int> selected = form.SelectionSnapshot(Form::List::Briefcase);
  ASSERT_EQ(selected.size(), 1u);
  utest::FaultFs faults;
  faults.freeFor[b.env.root()] = 1000;
  plat::ScopedFileSystem small(&faults);
  b.asker.answers = {plat::mrCancel};
  form.BriefcaseUnload1->trigger();
  ASSERT_EQ(b.asker.messages.size(), 1u);
  EXPECT_EQ(b.asker.messages[0].caption, "Insufficient Disk Space?");
  EXPECT_EQ(form.SelectionSnapshot(Form::List::Briefcase), selected);
  EXPECT_EQ(form.names(Form::List::Local), Strings{"new.txt"});
  EXPECT_EQ(form.SelectedCount(Form::List::Local), 1);
  EXPECT_TRUE(form.BriefcaseUnload1->isEnabled());
  EXPECT_FALSE(fs::exists(b.local + "/big.txt") || fs::exists(b.local + "/small.txt"));
  EXPECT_EQ(form.LastOperationResult(), archive::kInterrupted);
}

// Answers the program's modal windows in turn: each step looks at the
// active modal window and acts on it (true) or waits for the next one. A
// window still open after 10 s is rejected, so that a failing test ends.
class ModalScript {
 public:
  using Step = std::function<bool(QWidget*)>;
  explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w || !w->isVisible()) return;
      if (next_ < steps_.size() && steps_[next_](w)) {
        ++next_;
        clock_.restart();
      } else if (clock_.elapsed() > 10000) {
        if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      }
    });
    timer_.start(10);
  }
  size_t done() const { return next_; }
  // Presses a button once the current event has been served.
  static void press(QAbstractButton* b) {
    QTimer::singleShot(0, b, [b] {
      if (b->isVisible()) b->click();
    });
  }

 private:
  std::vector<Step> steps_;
  size_t next_ = 0;
  QTimer timer_;
  QElapsedTimer clock_;
};

// The real replace and rename windows in a real unload: their texts, the
// rename, and a picture of each.
TEST(MainWindowOps, ReplaceAndRenameWindowsInAnUnload) {
  Bag b;
  b.threeEntries();
  for (const char* f : {"a.txt", "b.txt"}) b.file(f, std::string(1234, 'l'), 3 * 3600 + 60);
  Form form;
  form.show();
  ASSERT_TRUE(form.open(b.brcPath));
  TQtAsker real;
  plat::ScopedAsker useReal(&real);
  ReplaceForm = new TReplaceForm(&form);
  const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(shots);
  QString replaceText, existingText, renameLabel, renameMemo;
  const std::string renamed = b.local + "/a (from the briefcase).txt";
  ModalScript script({
      [&](QWidget* w) {
        if (w != ReplaceForm) return false;
        replaceText = ReplaceForm->ReplaceLabel->text();
        existingText = ReplaceForm->ExistingLabel->text();
        EXPECT_TRUE(w->grab().save(shots + QStringLiteral("/replace-during-unload.png")));
        ModalScript::press(ReplaceForm->RenameButton);
        return true;
      },
      [&](QWidget* w) {
        if (w != ReplaceForm->RenameForm) return false;
        renameLabel = ReplaceForm->RenameForm->Label->text();
        renameMemo = ReplaceForm->RenameForm->Memo->text();
        EXPECT_TRUE(w->grab().save(shots + QStringLiteral("/rename-during-unload.png")));
        ReplaceForm->RenameForm->Memo->setText(QString::fromStdString(renamed));
        ModalScript::press(ReplaceForm->RenameForm->Rename);
        return true;
      },
      [&](QWidget* w) {  // b.txt
        // The question for b.txt, not the one for a.txt still closing.
        if (w != ReplaceForm || ReplaceForm->RenameForm->isVisible() ||
            !ReplaceForm->ReplaceLabel->text().contains(QStringLiteral("'b.txt'")))
          return false;
        ModalScript::press(ReplaceForm->YestoAllButton);
        return true;
      },
      [&](QWidget* w) {  // 690: keep the entries
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return false;
        EXPECT_EQ(box->text().toStdString(), plat::loadStrFmt(690, 3));
        // Over the main window, not the progress window just hidden.
        EXPECT_EQ(box->parentWidget(), &form);
        EXPECT_TRUE(w->grab().save(shots + QStringLiteral("/remove-question.png")));
        ModalScript::press(box->button(QMessageBox::No));
        return true;
      },
  });
  form.BriefcaseUnload1->trigger();
  EXPECT_EQ(script.done(), 4u);
  EXPECT_EQ(replaceText, QStringLiteral("The folder 'Documents' already contains a file called 'a.txt'."));
  EXPECT_TRUE(existingText.startsWith(QStringLiteral("1234 bytes\nmodified on "))) << existingText.toStdString();
  EXPECT_EQ(renameLabel.toStdString(), "Rename " + b.local + "/a.txt");
  EXPECT_EQ(renameMemo.toStdString(), b.local + "/a.txt");
  EXPECT_EQ(testenv::readText(renamed), "entry a.txt");
  EXPECT_EQ(b.text("a.txt"), std::string(1234, 'l'));
  EXPECT_EQ(b.text("b.txt"), "entry b.txt");
  EXPECT_EQ(b.entries(), (Strings{"a.txt", "b.txt", "sub/c.txt"}));
  delete ReplaceForm;
}

// ---- the command line ----

TEST(MainWindowOps, CommandLineRunsTheOperationAndCloses) {
  enum Lock { Free, LetGo, Held };  // another run's lock on the briefcase
  const struct {
    const char* what;
    QStringList args;  // "BAG" is the briefcase
    Lock lock;
    Strings entries;   // afterwards
    std::string a;     // the local a.txt afterwards
    int status;
  } cases[] = {
      // Every replacement answered Yes to All, the entries removed, no question.
      {"unload", {"BAG", "-u"}, Free, {}, "entry a.txt", 0},
      {"load wins, any case", {"BAG", "-U", "/L"}, Free, {"a.txt", "b.txt", "sub/c.txt"}, "local a.txt", 0},
      // The first argument is the briefcase, whatever it is.
      {"switch first", {"-l", "BAG"}, Free, {"a.txt", "b.txt", "sub/c.txt"}, "local a.txt", 9},
      // Another run's lock is waited for, a while.
      {"unload, lock let go", {"BAG", "-u"}, LetGo, {}, "entry a.txt", 0},
      {"load, lock held", {"BAG", "-l"}, Held, {"a.txt", "b.txt", "sub/c.txt"}, "local a.txt", 25},
      {"unload, lock held", {"BAG", "-u"}, Held, {"a.txt", "b.txt", "sub/c.txt"}, "local a.txt", 25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bag b;
    b.threeEntries();
    b.file("a.txt", "local a.txt", 60);  // newer than the entry
    b.env.set("CARRYVALE_LOCK_WAIT", c.lock == Held ? "0.3" : "30");
    const int other = ::open(b.brcPath.c_str(), O_RDONLY);
    if (c.lock != Free) {
      ASSERT_EQ(::flock(other, LOCK_EX), 0);
    }
    if (c.lock == LetGo) QTimer::singleShot(300, [other] { ::flock(other, LOCK_UN); });
    QStringList args = c.args;
    args.replaceInStrings(QStringLiteral("BAG"), QString::fromStdString(b.brcPath));
    testing::internal::CaptureStderr();
    Form form(args);
    form.show();
    waitForClose(form);
    const std::string said = testing::internal::GetCapturedStderr();
    ::close(other);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.ExitStatus(), c.status);
    // Nothing waits for a person: no question, no message box.
    EXPECT_TRUE(b.asker.replaces.empty());
    EXPECT_TRUE(b.asker.messages.empty()) << (b.asker.messages.empty() ? "" : b.asker.messages[0].text);
    EXPECT_EQ(b.entries(), c.entries);
    EXPECT_EQ(b.text("a.txt"), c.a);
    if (c.lock == Held) {
      EXPECT_NE(said.find("carryvale: Another run is using the briefcase " + b.brcPath), std::string::npos)
          << said;
      EXPECT_EQ(said.find("Could not create output file"), std::string::npos) << said;
    }
  }
}

// ---- delete and clear ----

TEST(MainWindowOps, DeleteAndClearAskFirst) {
  const struct {
    const char* what;
    QAction* Form::*command;
    int answer;
    std::string question;  // "PATH" is the briefcase path
    int caption;
    Strings entries, localFiles;
  } cases[] = {
      {"delete no", &Form::OptionsDeleteBriefcase, plat::mrNo, str(698), 699,
       {"a.txt", "b.txt", "sub/c.txt"}, {"a.txt", "new.txt"}},
      {"delete yes", &Form::OptionsDeleteBriefcase, plat::mrYes, str(698), 699, {},
       {"a.txt", "new.txt"}},
      {"clear", &Form::ClearItem, plat::mrYes, plat::loadStrFmt(694, "PATH"), 695, {},
       {"a.txt", "new.txt"}},
      {"local", &Form::OptionsDeleteLocal, plat::mrYes, "Move these 2 files to the trash?", 691,
       {"a.txt", "b.txt", "sub/c.txt"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bag b;
    b.threeEntries();
    b.file("a.txt", "local a.txt", 60);
    b.file("new.txt", "new", 60);
    Form form;
    ASSERT_TRUE(form.open(b.brcPath));
    b.asker.answers = {c.answer};
    (form.*c.command)->trigger();
    ASSERT_EQ(b.asker.messages.size(), 1u);
    std::string question = c.question;
    if (const size_t at = question.find("PATH"); at != std::string::npos)
      question.replace(at, 4, b.brcPath);
    EXPECT_EQ(b.asker.messages[0].text, question);
    EXPECT_EQ(b.asker.messages[0].caption, str(c.caption));
    EXPECT_EQ(b.asker.messages[0].icon, plat::Icon::Question);
    EXPECT_EQ(b.entries(), c.entries);
    EXPECT_EQ(form.names(Form::List::Briefcase), c.entries);
    Strings local;
    for (const char* f : {"a.txt", "new.txt"})
      if (fs::exists(b.local + "/" + f)) local.push_back(f);
    EXPECT_EQ(local, c.localFiles);
    EXPECT_TRUE(form.BriefcaseOpen());
    // The configuration survives: the briefcase still opens with its local folder.
    Form again;
    ASSERT_TRUE(again.open(b.brcPath));
    EXPECT_EQ(again.LocalEdit->text().toStdString(), b.local);
    // After a clear nothing is newer than the briefcase.
    if (c.command == &Form::ClearItem) { EXPECT_TRUE(form.names(Form::List::Local).empty()); }
  }
}

// Briefcase > Compact frees what a load left behind, keeps every entry and
// the briefcase date, and says how much it freed.
TEST(MainWindowOps, CompactFreesWhatALoadLeftBehind) {
  Bag b;
  b.threeEntries();
  b.file("b.txt", std::string(5000, 'n'), 60);
  b.brc("load " + testenv::quote(b.brcPath) + " " + testenv::quote(b.local + "/b.txt"));
  const auto date = fs::last_write_time(b.brcPath);
  const auto size = fs::file_size(b.brcPath);
  Form form;
  ASSERT_TRUE(form.open(b.brcPath));
  // The Briefcase menu as the user sees it, for looking at.
  form.show();
  form.BriefcaseItem->popup(form.mapToGlobal(QPoint(0, 0)));
  QCoreApplication::processEvents();
  const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(shots);
  EXPECT_TRUE(form.BriefcaseItem->grab().save(shots + QStringLiteral("/briefcase_menu.png")));
  form.BriefcaseItem->hide();
  b.asker.answers = {plat::mrOk, plat::mrOk};
  for (const bool again : {false, true}) {
    form.CompactItem->trigger();
    ASSERT_EQ(b.asker.messages.size(), again ? 2u : 1u);
    const std::string said = b.asker.messages.back().text;
    EXPECT_EQ(said.rfind(again ? "The briefcase had no unused space" : "Compacting freed ", 0), 0u)
        << said;
    EXPECT_EQ(b.asker.messages.back().icon, plat::Icon::Information);
  }
  EXPECT_LT(fs::file_size(b.brcPath), size);
  // File times are kept to a tenth of a microsecond.
  EXPECT_LT(std::chrono::abs(fs::last_write_time(b.brcPath) - date), std::chrono::microseconds(1));
  EXPECT_EQ(b.entries(), (Strings{"a.txt", "b.txt", "sub/c.txt"}));
}

// Undo Unload: disabled with the reason as its hint until an unload, then
// asks, takes the unload back and reports it.
TEST(MainWindowOps, UndoUnloadTakesBackTheLastUnload) {
  Bag b;
  b.threeEntries();
  Form form;
  ASSERT_TRUE(form.open(b.brcPath));
  EXPECT_FALSE(form.UndoUnloadItem->isEnabled());
  EXPECT_EQ(form.UndoUnloadItem->toolTip().toStdString(),
            "There is nothing to undo: no unload of this briefcase into this folder since its "
            "last load.");
  form.SelectAll1->trigger();
  b.asker.answers = {plat::mrYes};  // remove the entries
  form.BriefcaseUnload1->trigger();
  ASSERT_EQ(b.entries(), Strings{});
  ASSERT_TRUE(form.UndoUnloadItem->isEnabled());
  // The menu as the user sees it, for looking at.
  form.show();
  form.BriefcaseItem->popup(form.mapToGlobal(QPoint(0, 0)));
  QCoreApplication::processEvents();
  const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(shots);
  EXPECT_TRUE(form.BriefcaseItem->grab().save(shots + QStringLiteral("/undo_unload_menu.png")));
  form.BriefcaseItem->hide();

  b.asker.messages.clear();
  b.asker.answers = {plat::mrYes, plat::mrOk};
  form.UndoUnloadItem->trigger();
  ASSERT_EQ(b.asker.messages.size(), 2u);
  EXPECT_EQ(b.asker.messages[0].caption, "Undo Unload");
  EXPECT_EQ(b.asker.messages[0].buttons, plat::btnYesNo);
  EXPECT_EQ(b.asker.messages[0].icon, plat::Icon::Question);
  EXPECT_EQ(b.asker.messages[1].text,
            "Undo Unload: 0 files put back from the trash, 3 new files moved to the trash, 3 "
            "entries back in the briefcase.");
  EXPECT_EQ(b.asker.messages[1].icon, plat::Icon::Information);
  EXPECT_EQ(b.entries(), (Strings{"a.txt", "b.txt", "sub/c.txt"}));
  EXPECT_FALSE(fs::exists(b.local + "/a.txt"));
  EXPECT_EQ(form.names(Form::List::Briefcase), (Strings{"a.txt", "b.txt", "sub/c.txt"}));
  EXPECT_FALSE(form.UndoUnloadItem->isEnabled());
}

// Options > Carry deletions: this computer's choice for the briefcase; on,
// a load takes the files carried and deleted here along, and their entries
// leave the briefcase.
TEST(MainWindowOps, CarryDeletionsTakesTheDeletedFilesAlong) {
  Bag b;
  b.make();
  b.age(b.brcPath, 3 * 3600);
  for (const char* f : {"a.txt", "b.txt", "sub/c.txt"}) b.file(f, std::string("entry ") + f, 7200);
  b.brc("load " + testenv::quote(b.brcPath));
  b.age(b.brcPath, 3 * 3600);
  fs::remove(b.local + "/a.txt");
  fs::remove_all(b.local + "/sub");
  b.file("d.txt", "new here", 60);
  Form form;
  ASSERT_TRUE(form.open(b.brcPath));
  EXPECT_FALSE(form.OptionsCarryDeletions->isChecked());
  form.OptionsCarryDeletions->trigger();
  EXPECT_TRUE(form.OptionsCarryDeletions->isChecked());
  EXPECT_TRUE(app::CarriesDeletions(b.brcPath));
  form.show();
  form.OptionsItem->popup(form.mapToGlobal(QPoint(0, 0)));
  QCoreApplication::processEvents();
  const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(shots);
  EXPECT_TRUE(form.OptionsItem->grab().save(shots + QStringLiteral("/options_menu.png")));
  form.OptionsItem->hide();
  // The deletions are rows of their own (shown as the option goes on):
  // loading only d.txt leaves them.
  EXPECT_EQ(form.names(Form::List::Local), (Strings{"a.txt", "d.txt", "sub/c.txt"}));
  const int d = form.LocalModel->find("d.txt", "");
  ASSERT_GE(d, 0);
  EXPECT_EQ(form.LocalModel->row(form.LocalModel->find("a.txt", "")).icon, app::kIconDeletedHere);
  form.LocalList->selectionModel()->select(
      form.LocalModel->index(d, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  form.BriefcaseLoad1->trigger();
  EXPECT_EQ(b.entries(), (Strings{"a.txt", "b.txt", "d.txt", "sub/c.txt"}));
  EXPECT_TRUE(app::CarriedDeletions(b.brcPath).empty());
  form.SelectAll1->trigger();
  form.BriefcaseLoad1->trigger();
  EXPECT_EQ(b.entries(), (Strings{"b.txt", "d.txt"}));
  EXPECT_EQ(app::CarriedDeletions(b.brcPath).size(), 2u);
  EXPECT_EQ(form.names(Form::List::Local), Strings{});
}

// The disk-full message's Help opens the manual at its topic, and the
// message stays until OK.
TEST(MainWindowOps, DiskFullHelpOpensItsTopic) {
  const app::Notice n = app::noticeFor(app::LoadOutcome::DiskMayBeFull, "x.brc");
  Form form;
  TQtAsker real;
  real.setHelpHandler([&](int context) { form.HelpContext(context); });
  const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  QDir().mkpath(shots);
  int helpShown = 0;
  ModalScript script({
      [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return false;
        EXPECT_EQ(box->windowTitle().toStdString(), str(683));
        EXPECT_TRUE(w->grab().save(shots + QStringLiteral("/disk-full.png")));
        ModalScript::press(box->button(QMessageBox::Help));
        return true;
      },
      [&](QWidget* w) {  // the same message again, the manual beside it
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return false;
        helpShown = form.HelpWindow() && form.HelpWindow()->isVisible();
        ModalScript::press(box->button(QMessageBox::Ok));
        return true;
      },
  });
  plat::MessageQuestion q;
  q.text = n.message();
  q.caption = str(n.captionId);
  q.buttons = plat::btnOk | plat::btnHelp;
  q.icon = n.icon;
  q.helpContext = n.helpContext;
  EXPECT_EQ(real.message(q), plat::mrOk);
  EXPECT_EQ(script.done(), 2u);
  EXPECT_TRUE(helpShown);
  // The manual beside the test program, at the topic.
  ASSERT_NE(form.HelpWindow(), nullptr);
  EXPECT_EQ(form.HelpWindow()->source().fileName(), QStringLiteral("problems.html"));
  EXPECT_EQ(form.HelpWindow()->source().fragment(), QStringLiteral("ctx-2011"));
  EXPECT_TRUE(form.HelpWindow()->toPlainText().contains(QStringLiteral("The disk may be full")));
}

}  // namespace

// An encrypted briefcase: its password is asked once while it is open (again
// after a wrong one), the unload and the load use it, and a cancelled
// question does nothing and says nothing.
TEST(MainWindowOps, AnEncryptedBriefcaseAsksItsPasswordOnce) {
  Bag b;
  b.make();
  b.file("a.txt", "alpha", 7200);
  {
    archive::TCompress e;
    e.archivePath = b.brcPath;
    ASSERT_EQ(e.readEndRecord(), 0);
    e.password = archive::aes::Password("bag secret");
    e.update.baseFolder = b.local;
    e.AddName(b.local + "/a.txt");
    ASSERT_EQ(archive::Update(e), 0);
  }
  Bag::age(b.brcPath, 3 * 3600);
  fs::remove(b.local + "/a.txt");
  {
    Form form;
    ASSERT_TRUE(form.open(b.brcPath));
    form.BriefcaseUnload1->trigger();  // cancelled
    EXPECT_EQ(b.asker.passwordQuestions.size(), 1u);
    EXPECT_TRUE(b.asker.messages.empty());
    EXPECT_FALSE(fs::exists(b.local + "/a.txt"));
  }
  b.asker.passwordQuestions.clear();
  Form form;
  ASSERT_TRUE(form.open(b.brcPath));
  b.asker.passwords = {"bag secrets", "bag secret"};
  b.asker.answers = {plat::mrNo};  // keep the entry
  form.BriefcaseUnload1->trigger();
  ASSERT_EQ(b.asker.passwordQuestions.size(), 2u);
  EXPECT_EQ(b.asker.passwordQuestions[0].caption, "Encrypted Briefcase");
  EXPECT_EQ(b.asker.passwordQuestions[0].prompt, "Password for " + b.brcPath);
  EXPECT_EQ(b.asker.passwordQuestions[0].problem, "");
  EXPECT_EQ(b.asker.passwordQuestions[1].problem, "The password is not correct");
  EXPECT_EQ(b.text("a.txt"), "alpha");
  b.file("n.txt", "new", 0);
  form.RefreshLists();
  form.SelectAll1->trigger();
  form.BriefcaseLoad1->trigger();
  EXPECT_EQ(b.asker.passwordQuestions.size(), 2u);
  EXPECT_EQ(b.entries(), (Strings{"a.txt", "n.txt"}));
  const ztest::Archive a = ztest::read(b.brcPath);
  ASSERT_TRUE(a.find("n.txt"));
  EXPECT_EQ(a.find("n.txt")->method, archive::aes::kMethodAes);
}
