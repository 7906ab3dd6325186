// The main window with a briefcase made by brc: both lists, their icons and
// summaries, selection, sorting, keys, refresh, the first visit, the layout,
// and one operation at a time.

#include <gtest/gtest.h>
#include <sys/time.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>
#include <QtTest/QTest>

#include <filesystem>

#include "../core/testenv.h"
#include "app/listmodel.h"
#include "briefcase/briefcasedoc.h"
#include "components/foldermonitor.h"
#include "archive/compress.h"
#include "app/mainform.h"
#include "components/artwork.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "gui_helpers.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/strtable.h"

namespace {

using List = TMainForm::List;

// A local folder and a briefcase for it, made with brc.
struct Trip {
  testenv::Env env;
  ScriptedAsker asker;
  plat::ScopedAsker use{&asker};
  std::string local = env.work() + "/Documents";
  std::string brcPath = env.work() + "/trip.brc";

  Trip() { std::filesystem::create_directories(local); }
  // A local file whose last-write time is `age` seconds before now (negative: later).
  void file(const std::string& rel, const std::string& bytes, long age) {
    testenv::writeFile(local + "/" + rel, bytes);
    setAge(rel, age);
  }
  void setAge(const std::string& rel, long age) {
    timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= age;
    tv[0].tv_usec = 0;
    tv[1] = tv[0];
    ASSERT_EQ(utimes((local + "/" + rel).c_str(), tv), 0);
  }
  void brc(const std::string& args) {
    ASSERT_EQ(testenv::run(std::string(CARRYVALE_BRC) + " " + args + " 2>&1"), 0) << args;
  }
  void make(const std::string& extra = "--days 30") {
    brc("new " + testenv::quote(brcPath) + " --folder " + testenv::quote(local) + " " + extra);
  }
  // Sets the briefcase date `age` seconds before now.
  void dateAgo(long age) {
    timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= age;
    tv[1] = tv[0];
    ASSERT_EQ(utimes(brcPath.c_str(), tv), 0);
  }
};

// A window that counts the delete handlers instead of running them.
class Form : public TMainForm {
 public:
  using TMainForm::TMainForm;
  int localDeletes = 0, briefcaseDeletes = 0;
  bool open(const std::string& path) { return DocManager1->Open(path); }

 protected:
  void DeleteLocalButtonClick() override { ++localDeletes; }
  void DeleteBriefcaseButtonClick() override { ++briefcaseDeletes; }
};

struct Row {
  std::string name, folder;
  int icon;
  bool operator==(const Row&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Row& r) {
  return o << r.folder << "/" << r.name << ":" << r.icon;
}

std::vector<Row> rows(const TListModel* m) {
  std::vector<Row> out;
  for (int i = 0; i < m->size(); ++i)
    out.push_back({m->row(i).name, m->row(i).folder, static_cast<int>(m->row(i).icon)});
  return out;
}

QString summary(int count, unsigned long kb) {
  return QString::fromStdString(plat::loadStrFmt(703, count, kb));
}

TEST(MainWindowLists, CommandLineOpensABriefcaseWithBothListsCompared) {
  Trip t;
  t.file("same.txt", std::string(3000, 's'), 3600);
  t.file("changed.txt", "old", 3600);
  t.file("sub/gone.txt", "gone", 3600);
  t.make();
  t.brc("load " + testenv::quote(t.brcPath));  // the load makes the briefcase date now
  t.dateAgo(600);
  t.file("changed.txt", std::string(5000, 'n'), 60);  // newer here
  t.file("sub/fresh.txt", "new", 60);                 // only here
  std::filesystem::remove(t.local + "/sub/gone.txt");  // only in the briefcase

  Form form(QStringList{QString::fromStdString(t.brcPath)});
  form.show();
  spinEvents(150);  // the start-up timer opens the first argument
  ASSERT_TRUE(form.BriefcaseOpen());
  EXPECT_TRUE(t.asker.messages.empty());
  EXPECT_EQ(form.LocalEdit->text().toStdString(), t.local);
  EXPECT_EQ(form.StatusText(), QString::fromStdString(plat::loadStr(805)));

  auto sorted = [](std::vector<Row> v) {
    std::sort(v.begin(), v.end(), [](const Row& a, const Row& b) { return a.name < b.name; });
    return v;
  };
  EXPECT_EQ(sorted(rows(form.LocalModel)),
            (std::vector<Row>{{"changed.txt", "", app::kIconNewer}, {"fresh.txt", "sub", app::kIconOnly}}));
  EXPECT_EQ(sorted(rows(form.BriefcaseModel)),
            (std::vector<Row>{{"changed.txt", "", app::kIconNewerHere},  // what was carried
                              {"gone.txt", "sub", app::kIconOnly},
                              {"same.txt", "", app::kIconSame}}));
  // Everything starts selected; sizes in kB as the Size texts read them.
  EXPECT_EQ(form.LocalInfo->text(), summary(2, 4));
  EXPECT_EQ(form.BriefcaseInfo->text(), summary(3, 2));
  const int same = form.BriefcaseModel->find("same.txt", "");
  EXPECT_EQ(form.BriefcaseModel->data(form.BriefcaseModel->index(same, 2), Qt::DisplayRole).toString(),
            "2 kB");
  for (QAction* a : {form.BriefcaseLoad1, form.BriefcaseUnload1, form.OptionsDeleteLocal,
                     form.OptionsDeleteBriefcase, form.OptionsRefresh, form.BriefcaseSettings,
                     form.SelectAll1, form.FileClose})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  EXPECT_TRUE(form.FileNew->isEnabled());
  EXPECT_TRUE(form.BriefcaseItem->menuAction()->isVisible());
  EXPECT_TRUE(form.BriefcaseLabel->text().startsWith("Briefcase loaded on "));
  EXPECT_FALSE(form.BriefcaseLabel->text().contains("  "));
  EXPECT_EQ(form.windowTitle(), "Carryvale - trip.brc");

  // F5 with nothing changed keeps the rows and their selection.
  form.BriefcaseList->selectionModel()->clearSelection();
  form.OptionsRefresh->trigger();
  EXPECT_EQ(rows(form.LocalModel).size(), 2u);
  EXPECT_EQ(form.SelectedCount(List::Local), 2);
  // A file deleted here leaves the local list; its entry then has the older copy.
  std::filesystem::remove(t.local + "/changed.txt");
  form.OptionsRefresh->trigger();
  EXPECT_EQ(rows(form.LocalModel), (std::vector<Row>{{"fresh.txt", "sub", app::kIconOnly}}));
  EXPECT_EQ(form.LocalInfo->text(), summary(1, 0));

  form.Document1->Close();
  EXPECT_FALSE(form.BriefcaseOpen());
  EXPECT_EQ(form.LocalModel->size(), 0);
  EXPECT_TRUE(form.ClientPanel->isHidden());
}

TEST(MainWindowLists, SelectAllAndTheLastDeselection) {
  Trip t;
  for (int i = 1; i <= 5; ++i) t.file("e" + std::to_string(i) + ".txt", std::string(2048 * i, 'x'), 3600);
  t.make();
  t.brc("load " + testenv::quote(t.brcPath));
  t.dateAgo(600);
  for (int i = 1; i <= 3; ++i) t.file("n" + std::to_string(i) + ".txt", "n", 60);
  Form form;
  ASSERT_TRUE(form.open(t.brcPath));
  form.LocalList->clearSelection();
  form.BriefcaseList->clearSelection();
  EXPECT_FALSE(form.BriefcaseLoad1->isEnabled());
  EXPECT_FALSE(form.BriefcaseUnload1->isEnabled());
  form.SelectAll1->trigger();
  EXPECT_EQ(form.LocalInfo->text(), summary(3, 0));
  EXPECT_EQ(form.BriefcaseInfo->text(), summary(5, 30));
  EXPECT_TRUE(form.BriefcaseLoad1->isEnabled());
  EXPECT_TRUE(form.BriefcaseUnload1->isEnabled());

  // Deselect the briefcase rows one by one: the commands go with the last.
  QItemSelectionModel* sel = form.BriefcaseList->selectionModel();
  for (int r = 0; r < 5; ++r) {
    EXPECT_TRUE(form.BriefcaseUnload1->isEnabled()) << r;
    sel->select(form.BriefcaseModel->index(r, 0),
                QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  }
  EXPECT_EQ(form.BriefcaseInfo->text(), summary(0, 0));
  EXPECT_FALSE(form.BriefcaseUnload1->isEnabled());
  EXPECT_FALSE(form.OptionsDeleteBriefcase->isEnabled());
  EXPECT_FALSE(form.UnloadButton2->isEnabled());
  EXPECT_TRUE(form.BriefcaseLoad1->isEnabled());
  EXPECT_EQ(form.SelectionSnapshot(List::Briefcase), std::vector<int>{});
  EXPECT_EQ(form.SelectionSnapshot(List::Local), (std::vector<int>{0, 1, 2}));
}

TEST(MainWindowLists, SortingBySizeAboveTwoGigabytesAndByName) {
  Trip t;
  t.make();
  const struct {
    const char* name;
    uint64_t size;
  } files[] = {{"b", 3'000'000'000ull}, {"a", 5'000'000'000ull}, {"c", 900}, {"D", 2'500'000'000ull}};
  for (const auto& f : files) {
    t.file(f.name, "", 60);
    std::filesystem::resize_file(t.local + "/" + f.name, f.size);  // sparse
    t.setAge(f.name, 60);
  }
  // Names compare as the user's language does: small and capital letters together.
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  Form form;
  ASSERT_TRUE(form.open(t.brcPath));
  const int a = form.LocalModel->find("a", "");
  EXPECT_EQ(form.LocalModel->data(form.LocalModel->index(a, 2), Qt::DisplayRole).toString(),
            "4882812 kB");
  auto names = [&] {
    std::string s;
    for (const Row& r : rows(form.LocalModel)) s += r.name;
    return s;
  };
  const struct {
    int column;
    const char* order;
    Qt::SortOrder shown;  // the header's indicator
  } clicks[] = {{2, "cDba", Qt::AscendingOrder},
                {2, "abDc", Qt::DescendingOrder},
                {0, "abcD", Qt::AscendingOrder},
                {0, "Dcba", Qt::DescendingOrder}};
  const QHeaderView* header = form.LocalList->header();
  EXPECT_EQ(header->sortIndicatorSection(), -1);  // not sorted yet
  for (const auto& c : clicks) {
    form.LocalList->header()->sectionClicked(c.column);
    EXPECT_EQ(names(), c.order) << "column " << c.column;
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), c.column);
    EXPECT_EQ(header->sortIndicatorOrder(), c.shown) << "column " << c.column;
  }
  QLocale::setDefault(before);
  // The selection follows its rows.
  EXPECT_EQ(form.SelectedCount(List::Local), 4);
  EXPECT_EQ(form.SelectionSnapshot(List::Local).size(), 4u);
}

// A rescan of the local list (as the folder monitor starts it) follows the
// disk: a changed file's size and date, a new row compared with its entry,
// and an entry whose local file went.
TEST(MainWindowLists, RescanComparesWithTheEntries) {
  const struct {
    const char* what;
    std::vector<Row> local;  // afterwards
    Row entry;               // the entry concerned afterwards
    const char* aSize;       // a.txt's Size text, when it is listed
  } cases[] = {
      // The entries hold what this computer carried: the local files are newer news.
      {"changed again", {{"a.txt", "", app::kIconNewer}}, {"a.txt", "", app::kIconNewerHere},
       "4 kB"},
      {"new here", {{"a.txt", "", app::kIconNewer}, {"b.txt", "", app::kIconNewer}},
       {"b.txt", "", app::kIconNewerHere}, "0 kB"},
      {"deleted here", {}, {"a.txt", "", app::kIconOnly}, ""},
      {"as in the briefcase", {}, {"a.txt", "", app::kIconSame}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Trip t;
    t.file("a.txt", "a", 3600);
    t.file("b.txt", "b", 3600);
    t.make();
    t.brc("load " + testenv::quote(t.brcPath));
    t.dateAgo(600);
    t.file("a.txt", "changed", 120);
    Form form;
    ASSERT_TRUE(form.open(t.brcPath));
    const std::string what = c.what;
    if (what == "changed again") t.file("a.txt", std::string(4096, 'x'), 60);
    if (what == "new here") t.file("b.txt", "b changed", 60);
    if (what == "deleted here") std::filesystem::remove(t.local + "/a.txt");
    if (what == "as in the briefcase") t.file("a.txt", "a", 3600);
    form.RefreshLocalList();
    EXPECT_EQ(rows(form.LocalModel), c.local);
    const int e = form.BriefcaseModel->find(c.entry.name, "");
    ASSERT_GE(e, 0);
    EXPECT_EQ(form.BriefcaseModel->row(e).icon, c.entry.icon);
    const int a = form.LocalModel->find("a.txt", "");
    if (a < 0) continue;
    EXPECT_EQ(form.LocalModel->data(form.LocalModel->index(a, 2), Qt::DisplayRole).toString(),
              c.aSize);
    plat::FileInfo file;
    ASSERT_TRUE(plat::fileSystem().stat(t.local + "/a.txt", &file, true));
    EXPECT_EQ(form.LocalModel->row(a).time, file.writeTime);
  }
}

TEST(MainWindowLists, DeleteKeyWithoutModifiersOnly) {
  Trip t;
  t.make();
  t.file("x.txt", "x", 60);
  Form form;
  ASSERT_TRUE(form.open(t.brcPath));
  // The release alone is the key whose press closed a message box.
  const struct {
    Qt::KeyboardModifiers mods;
    int key;
    bool pressed;
    int calls;
  } cases[] = {{Qt::NoModifier, Qt::Key_Delete, true, 1},
               {Qt::NoModifier, Qt::Key_Delete, false, 0},
               {Qt::ShiftModifier, Qt::Key_Delete, true, 0},
               {Qt::ControlModifier, Qt::Key_Delete, true, 0},
               {Qt::AltModifier, Qt::Key_Delete, true, 0},
               {Qt::NoModifier, Qt::Key_Backspace, true, 0}};
  for (const auto& c : cases) {
    for (QTreeView* v : {form.LocalList, form.BriefcaseList}) {
      form.localDeletes = form.briefcaseDeletes = 0;
      for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        if (type == QEvent::KeyPress && !c.pressed) continue;
        QKeyEvent key(type, c.key, c.mods);
        QCoreApplication::sendEvent(v, &key);
      }
      EXPECT_EQ(v == form.LocalList ? form.localDeletes : form.briefcaseDeletes, c.calls);
      EXPECT_EQ(v == form.LocalList ? form.briefcaseDeletes : form.localDeletes, 0);
    }
  }
}

TEST(MainWindowLists, RefreshAfterTheContainerVanished) {
  Trip t;
  t.make();
  t.file("x.txt", "x", 60);
  Form form;
  ASSERT_TRUE(form.open(t.brcPath));
  ASSERT_EQ(form.LocalModel->size(), 1);
  std::filesystem::remove(t.brcPath);
  form.OptionsRefresh->trigger();
  ASSERT_FALSE(t.asker.messages.empty());
  EXPECT_EQ(t.asker.messages[0].text, plat::loadStrFmt(8102, t.brcPath.c_str()));
  EXPECT_EQ(t.asker.messages[0].caption, plat::loadStr(8100));
  EXPECT_EQ(form.BriefcaseLabel->text(), "Briefcase date not found");
  EXPECT_EQ(form.LocalModel->size(), 0);
  EXPECT_TRUE(form.BriefcaseOpen());
}

TEST(MainWindowLists, FirstVisitAskedOnceThenSaved) {
  Trip t;
  // Made on another computer.
  ASSERT_EQ(testenv::run("CARRYVALE_COMPUTER_ID=0DDBA11 " + std::string(CARRYVALE_BRC) + " new " +
                         testenv::quote(t.brcPath) + " --folder " + testenv::quote(t.env.work()) +
                         " --days 30"),
            0);
  t.file("x.txt", "x", 60);
  t.asker.folders = {t.local};
  {
    Form form;
    ASSERT_TRUE(form.open(t.brcPath));
    ASSERT_EQ(t.asker.folderCaptions.size(), 1u);
    EXPECT_EQ(t.asker.folderCaptions[0], "Choose the local folder");
    EXPECT_EQ(t.asker.folderPrompts[0],
              "You open this briefcase for the first time on this computer.\nPlease indicate the "
              "local folder that will receive the files:");
    EXPECT_EQ(form.LocalEdit->text().toStdString(), t.local);
    EXPECT_EQ(form.LocalModel->size(), 1);
    spinEvents(20);
    EXPECT_TRUE(form.Document1->Dirty());
    t.asker.answers = {plat::mrYes};  // save the changes
    ASSERT_TRUE(form.Document1->Close());
  }
  Form again;
  ASSERT_TRUE(again.open(t.brcPath));
  EXPECT_EQ(t.asker.folderCaptions.size(), 1u);
  EXPECT_EQ(again.LocalEdit->text().toStdString(), t.local);
  EXPECT_FALSE(again.Document1->Dirty());
}

TEST(MainWindowLists, ResizingHalvesTheListsAndSharesTheColumns) {
  Trip t;
  t.make();
  Form form;
  form.show();
  ASSERT_TRUE(form.open(t.brcPath));
  for (QSize size : {QSize(602, 434), QSize(1000, 760), QSize(700, 500)}) {
    form.resize(size);
    spinEvents(20);
    EXPECT_NEAR(form.TopPanel->height(), form.MainPanel->height() / 2, 2) << size.width();
    const QHeaderView* h = form.LocalList->header();
    const int w = (form.LocalList->width() - h->sectionSize(2) - h->sectionSize(3) - 20) / 2;
    for (QTreeView* v : {form.LocalList, form.BriefcaseList}) {
      EXPECT_EQ(v->header()->sectionSize(0), w) << size.width();
      EXPECT_EQ(v->header()->sectionSize(1), w) << size.width();
    }
    // The arrows sit midway between the two list pictures.
    EXPECT_EQ(form.LoadButton2->y(), (form.Image1->y() + form.Image2->y()) / 2);
    EXPECT_EQ(form.Image2->y(), form.BriefcaseList->mapTo(form.ClientPanel, QPoint()).y() -
                                    form.LeftPanel->y());
  }
}

TEST(MainWindowLists, NothingElseRunsWhileAnOperationRuns) {
  Trip t;
  t.make();
  t.file("x.txt", "x", 60);
  Form form;
  form.show();
  ASSERT_TRUE(form.open(t.brcPath));
  {
    TMainForm::TOperation op(form);
    for (QAction* a : {form.FileOpen, form.FileClose, form.FileExit, form.OptionsRefresh,
                       form.SelectAll1, form.BriefcaseLoad1, form.BriefcaseUnload1})
      EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.BriefcaseOpen());
    // Keys and column clicks are refused too.
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent key(type, Qt::Key_Delete, Qt::NoModifier);
      QCoreApplication::sendEvent(form.LocalList, &key);
    }
    EXPECT_EQ(form.localDeletes, 0);
    // A folder change waits for the end of the operation.
    std::filesystem::remove(t.local + "/x.txt");
    form.RefreshTimer->start(0);
    spinEvents(20);
    EXPECT_EQ(form.LocalModel->size(), 1);
  }
  for (QAction* a : {form.FileOpen, form.FileClose, form.FileExit, form.OptionsRefresh})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  form.RefreshTimer->setInterval(0);
  spinEvents(50);
  EXPECT_EQ(form.LocalModel->size(), 0);
}

}  // namespace

namespace {

// The window with a briefcase open, at its design size and maximised, in the
// desktop font and at 13 pt, into "screenshots" next to the test binary; the
// labels show their whole texts and the four columns fit the list.
TEST(MainWindowLists, RenderedWithABriefcaseOpen) {
  Trip t;
  t.file("Reports/q3 figures.txt", std::string(70000, 'q'), 60);
  t.file("Letters/anna.txt", "Dear Anna", 60);
  t.file("notes.txt", "bread, milk", 3 * 86400);
  t.make("--days 7");
  t.brc("load " + testenv::quote(t.brcPath));
  t.dateAgo(86400);
  t.file("notes.txt", "bread, milk, tea", 30);
  t.file("todo.txt", "call", 30);
  struct FontBack {
    QFont font = QApplication::font();
    ~FontBack() { QApplication::setFont(font); }
  } back;
  const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(dir);
  for (const double points : {0.0, 13.0}) {
    QFont font = back.font;
    if (points > 0) font.setPointSizeF(points);
    QApplication::setFont(font);
    const std::string suffix = points > 0 ? "-13pt" : "";
    Form form;
    form.show();
    ASSERT_TRUE(form.open(t.brcPath));
    for (const std::string base : {"mainwindow-design", "mainwindow-maximised"}) {
      const std::string name = base + suffix;
      if (base == "mainwindow-maximised") form.showMaximized();
      spinEvents(60);
      EXPECT_TRUE(form.grab().save(dir + "/" + QString::fromStdString(name) + ".png")) << name;
      for (QLabel* l : {form.LocalLabel, form.LocalInfo, form.BriefcaseLabel, form.BriefcaseInfo})
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width())
            << name << ": " << l->objectName().toStdString();
      for (QTreeView* v : {form.LocalList, form.BriefcaseList}) {
        int total = 0;
        for (int c = 0; c < 4; ++c) total += v->header()->sectionSize(c);
        EXPECT_LE(total, v->viewport()->width()) << name;
      }
    }
  }
}

}  // namespace

namespace {

// The row pictures have their own 2x drawings (crisp at 200 %) and stand out
// on a selected row: a good part of each differs clearly from the selection's
// colour. A sheet of them, enlarged, on white and on that colour, is saved
// for looking at.
TEST(MainWindowLists, RowPicturesAtBothScales) {
  const QColor selected = QApplication::palette().color(QPalette::Highlight);
  QPixmap sheet(app::kRowIconCount * 40, 120);
  sheet.fill(Qt::white);
  QPainter p(&sheet);
  p.fillRect(0, 80, sheet.width(), 40, selected);
  for (int i = 0; i < app::kRowIconCount; ++i) {
    const QIcon icon = art::rowIcon(i);
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16))) << i;
    EXPECT_TRUE(sizes.contains(QSize(32, 32))) << i;
    p.drawPixmap(QRect(i * 40 + 4, 4, 32, 32), icon.pixmap(QSize(16, 16), 1.0));
    p.drawPixmap(QRect(i * 40 + 4, 44, 32, 32), icon.pixmap(QSize(16, 16), 2.0));
    p.drawPixmap(QRect(i * 40 + 4, 84, 32, 32), icon.pixmap(QSize(16, 16), 1.0));
    QImage onSelected(16, 16, QImage::Format_RGB32);
    onSelected.fill(selected);
    QPainter q(&onSelected);
    q.drawPixmap(0, 0, icon.pixmap(QSize(16, 16), 1.0));
    q.end();
    int clear = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        clear += std::abs(qGray(onSelected.pixel(x, y)) - qGray(selected.rgb())) > 80;
    EXPECT_GE(clear, 16) << "picture " << i;
  }
  p.end();
  const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(dir);
  EXPECT_TRUE(sheet.save(dir + "/row-pictures.png"));
}

// Every row state shows its picture, a tool tip on the Name column and its
// explanation on the status line while the pointer is on the row; a value
// that is no state shows nothing rather than reading past the pictures. Both
// lists with a row in every state are saved for looking at.
TEST(MainWindowLists, EveryRowStateHasAPictureATipAndAStatusText) {
  const struct {
    app::RowIcon state;
    const char* tip;
    const char* status;
  } cases[] = {
      {app::kIconSame, "Same",
       "The file and the entry are the same (their times differ by less than 2 seconds)"},
      {app::kIconOlder, "Older", "This side's copy is older than the other side's"},
      {app::kIconNewer, "Newer", "This side's copy is newer than the other side's"},
      {app::kIconOnly, "Only on this side", "There is no counterpart on the other side"},
      {app::kIconConflict, "Changed on both computers",
       "Changed on both computers since it was last carried"},
      {app::kIconNewerHere, "Newer here",
       "Newer here: this computer changed the file since it last carried it"},
      {app::kIconDeletedHere, "Deleted here",
       "Deleted here since it was last carried: a load carries the deletion"},
  };
  static_assert(std::size(cases) == app::kRowIconCount);
  Trip t;
  t.make();
  const int n = app::kRowIconCount + 1;  // one more row for a value that is no state
  for (int i = 0; i < n; ++i) t.file("file " + std::to_string(i) + ".txt", "text", 3600);
  t.brc("load " + testenv::quote(t.brcPath));
  t.dateAgo(600);
  for (int i = 0; i < n; ++i) t.file("file " + std::to_string(i) + ".txt", "changed", 60);
  Form form;
  form.resize(760, 520);
  form.show();
  ASSERT_TRUE(form.open(t.brcPath));
  spinEvents(60);
  for (List l : {List::Local, List::Briefcase}) {
    TListModel* m = l == List::Local ? form.LocalModel : form.BriefcaseModel;
    QTreeView* v = l == List::Local ? form.LocalList : form.BriefcaseList;
    ASSERT_EQ(m->size(), n);
    m->sortBy(TListModel::colName, false);
    for (int i = 0; i < app::kRowIconCount; ++i) m->setIcon(i, cases[i].state);
    m->setIcon(n - 1, static_cast<app::RowIcon>(99));
    v->selectionModel()->clearSelection();
    for (int i = 0; i < n; ++i) {
      const QModelIndex name = m->index(i, TListModel::colName);
      const QModelIndex date = m->index(i, TListModel::colDate);
      const bool state = i < app::kRowIconCount;
      SCOPED_TRACE(std::to_string(static_cast<int>(l)) + " row " + std::to_string(i));
      EXPECT_EQ(qvariant_cast<QIcon>(m->data(name, Qt::DecorationRole)).isNull(), !state);
      EXPECT_EQ(m->data(name, Qt::ToolTipRole).toString(), state ? cases[i].tip : "");
      EXPECT_EQ(m->data(date, Qt::StatusTipRole).toString(), state ? cases[i].status : "");
      // Hovered where the screen has the row (a scaled offscreen screen can
      // be smaller than the window).
      const QPoint at = v->visualRect(name).center();
      if (!state || !form.screen()->geometry().contains(v->viewport()->mapToGlobal(at))) continue;
      QTest::mouseMove(v->viewport(), at);
      spinEvents(20);
      EXPECT_EQ(form.StatusLineText(), cases[i].status);
    }
  }
  const QImage none = art::rowIcon(99).pixmap(16, 16).toImage();
  int painted = 0;
  for (int y = 0; y < none.height(); ++y)
    for (int x = 0; x < none.width(); ++x) painted += qAlpha(none.pixel(x, y)) != 0;
  EXPECT_EQ(painted, 0);
  QTest::mouseMove(form.LocalList->viewport(), QPoint(1, form.LocalList->viewport()->height() - 2));
  spinEvents(20);
  const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(dir);
  EXPECT_TRUE(form.grab().save(dir + "/mainwindow-row-states.png"));
}

TEST(MainWindowLists, FolderChecksAndTheWriteProtectedQuestion) {
  Trip t;
  t.make();
  Form form;
  ASSERT_TRUE(form.open(t.brcPath));
  form.LocalEdit->setText(QString::fromStdString(t.local + "/"));
  EXPECT_TRUE(form.CheckFolders());
  EXPECT_EQ(form.Engine()->update.baseFolder, t.local);
  form.LocalEdit->clear();
  EXPECT_FALSE(form.CheckFolders());
  ASSERT_EQ(t.asker.messages.size(), 1u);
  EXPECT_EQ(t.asker.messages[0].text, plat::loadStr(681));
  EXPECT_EQ(t.asker.messages[0].caption, plat::loadStr(683));

  const struct {
    int answer;
    bool abort;
  } cases[] = {{plat::mrRetry, false}, {plat::mrCancel, true}};
  for (const auto& c : cases) {
    t.asker.messages.clear();
    t.asker.answers = {c.answer};
    bool abort = !c.abort;
    form.Engine()->callbacks.writeProtected(t.brcPath, abort);
    EXPECT_EQ(abort, c.abort);
    ASSERT_EQ(t.asker.messages.size(), 1u);
    EXPECT_EQ(t.asker.messages[0].text, plat::loadStr(735));
    EXPECT_EQ(t.asker.messages[0].buttons, plat::btnRetryCancel);
    EXPECT_EQ(t.asker.messages[0].icon, plat::Icon::Warning);
  }
}

}  // namespace

namespace {

TEST(MainWindowLists, TypedFolderBecomesTheLocalFolderOnRefresh) {
  Trip t;
  t.make();
  const std::string other = t.env.work() + "/Other";
  testenv::writeFile(other + "/y.txt", "y");
  Form form;
  ASSERT_TRUE(form.open(t.brcPath));
  EXPECT_EQ(form.FolderMonitor1()->Folder(), t.local);
  EXPECT_FALSE(form.Document1->Dirty());
  form.LocalEdit->setText(QString::fromStdString(other));
  form.OptionsRefresh->trigger();
  EXPECT_EQ(form.Briefcase()->LocalFolder(), other);
  EXPECT_EQ(form.Briefcase()->Configuration().FolderForThisComputer(), other);
  EXPECT_EQ(form.FolderMonitor1()->Folder(), other);
  EXPECT_TRUE(form.FolderMonitor1()->Monitoring());
  EXPECT_TRUE(form.Document1->Dirty());
  EXPECT_EQ(rows(form.LocalModel), (std::vector<Row>{{"y.txt", "", app::kIconOnly}}));
  form.Document1->SetDirty(false);
  form.Document1->Close();
  EXPECT_FALSE(form.FolderMonitor1()->Monitoring());
}

TEST(MainWindowLists, DatesThatCannotBeShownAndTheHelpPages) {
  EXPECT_EQ(TListModel::DateText(UINT64_MAX), "error with date");
  EXPECT_NE(TListModel::DateText(plat::nowFileTime()), "error with date");
  Form form;
  // The installed manual, or the page the program carries when there is none.
  const struct {
    QAction* command;
    const char* text;
  } cases[] = {{form.HelpContentsItem, "Carryvale"}, {form.HelpSearchItem, "Unload"},
               {form.HelpHowToUseItem, "help"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(c.command->isEnabled());
    c.command->trigger();
    ASSERT_NE(form.HelpWindow(), nullptr);
    EXPECT_TRUE(form.HelpWindow()->isVisible());
    EXPECT_TRUE(form.HelpWindow()->toPlainText().contains(c.text)) << c.text;
  }
  // Escape and Ctrl+W close it.
  for (const QKeyCombination key : {QKeyCombination(Qt::Key_Escape), Qt::CTRL | Qt::Key_W}) {
    form.HelpContentsItem->trigger();
    form.HelpWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.HelpWindow()));
    QTest::keyClick(form.HelpWindow(), key.key(), key.keyboardModifiers());
    EXPECT_FALSE(form.HelpWindow()->isVisible()) << QKeySequence(key).toString().toStdString();
  }
}

}  // namespace
