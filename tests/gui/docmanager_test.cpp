#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QToolBar>
#include <QToolButton>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "docframe_helpers.h"
#include "../core/removable_disk.h"

namespace {

struct ManagerTest : ::testing::Test {
  PrivateSettings settings;
  DocAsker asker;
  plat::ScopedAsker use{&asker};
  QTemporaryDir dir;
  std::string at(const std::string& name) { return dir.path().toStdString() + "/" + name; }
  // The temporary folder as the file system spells it.
  std::string real(const std::string& name) {
    return std::filesystem::canonical(dir.path().toStdString()).string() + "/" + name;
  }
};

const QStringList kFileMenu{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-", "E&xit"};

}  // namespace

TEST_F(ManagerTest, MakesTheFileCommandsWhenTheWindowHasNone) {
  DocWindow w;
  w.load();
  struct Expect {
    const char* name;
    const char* caption;
    QKeySequence shortcut;
    const char* tip;
    const char* status;
    bool enabled;
  };
  const Expect expected[] = {
      {"FileNew", "&New", QKeySequence("Ctrl+N"), "New", "Create a new briefcase container", true},
      {"FileOpen", "&Open...", QKeySequence("Ctrl+O"), "Open",
       "Open an existing briefcase container", true},
      {"FileSave", "&Save", QKeySequence("Ctrl+S"), "Save", "Save the settings for this briefcase",
       false},
      {"FileSaveAs", "S&ave As...", QKeySequence(), "Save As",
       "Save this briefcase with another name", false},
      {"FileClose", "&Close", QKeySequence(), "Close", "Close this briefcase", false},
      {"FileExit", "E&xit", QKeySequence("Alt+F4"), "Exit", "Exit the Carryvale program", true},
  };
  for (const Expect& e : expected) {
    QAction* a = w.manager->FindAction(e.name);
    ASSERT_NE(a, nullptr) << e.name;
    EXPECT_EQ(a->text(), e.caption) << e.name;
    EXPECT_EQ(a->shortcut(), e.shortcut) << e.name;
    EXPECT_EQ(a->toolTip(), e.tip) << e.name;
    EXPECT_EQ(a->statusTip(), e.status) << e.name;
    EXPECT_EQ(a->isEnabled(), e.enabled) << e.name;
    EXPECT_EQ(a->property("category").toString(), "File");
  }
  EXPECT_EQ(w.menuTexts(), kFileMenu);
  EXPECT_EQ(w.fileMenu->actions()[5]->objectName(), "ExitSeparator");
  EXPECT_EQ(w.manager->RootItem(), w.manager->CloseAction());

  // Without hints of its own, a command gets one after the File menu's name.
  QMainWindow plain;
  plain.setWindowTitle("Notes");
  QMenu* file = plain.menuBar()->addMenu("&Document");
  TDocManager m(&plain);
  m.SetActionList(&plain);
  m.SetFileMenuItem(file);
  m.Loaded();
  EXPECT_EQ(m.NewAction()->statusTip(), "Create a new document");
  EXPECT_EQ(m.SaveAsAction()->toolTip(), "Save as");
  EXPECT_EQ(m.SaveAsAction()->statusTip(), "Save this document under a new name");
  EXPECT_EQ(m.ExitAction()->statusTip(), "Close Notes");

  // Without an action list nothing is hooked up.
  QMainWindow bare;
  TDocManager none(&bare);
  none.Loaded();
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "DocManager needs an ActionList");
  EXPECT_EQ(asker.messages[0].caption, "Error");
  EXPECT_EQ(asker.messages[0].icon, plat::Icon::Warning);
  EXPECT_EQ(none.RecentlyUsed(), nullptr);
  EXPECT_FALSE(none.Open("/x.brc"));
}

TEST_F(ManagerTest, TakesOverTheWindowsOwnCommands) {
  DocWindow w(false);
  QAction* exit = w.action("FileExit");
  int windowHandler = 0;
  QObject::connect(exit, &QAction::triggered, &w.window, [&] { ++windowHandler; });
  w.action("FileNew")->setEnabled(false);
  std::vector<TDocument*> closeEvents;
  w.manager->SetOnClose([&](TDocManager*, TDocument* d) { closeEvents.push_back(d); });
  w.load();
  EXPECT_EQ(w.manager->ExitAction(), exit);
  EXPECT_TRUE(w.action("FileNew")->isEnabled());
  EXPECT_EQ(w.menuTexts(), kFileMenu);  // nothing added

  w.window.show();
  exit->trigger();
  EXPECT_EQ(windowHandler, 0);
  EXPECT_EQ(closeEvents.size(), 1u);
  EXPECT_FALSE(w.window.isVisible());

  // The Close command reports the document it closed.
  const std::string file = at("a.brc");
  touchFile(file);
  ASSERT_TRUE(w.manager->Open(file));
  closeEvents.clear();
  w.action("FileClose")->trigger();
  EXPECT_FALSE(w.doc->Opened());
  EXPECT_EQ(closeEvents, (std::vector<TDocument*>{w.doc}));
}

TEST_F(ManagerTest, MissingFileOnARemovableDriveOffersRetry) {
  ScopedEnv roots("CARRYVALE_REMOVABLE_ROOTS", at("floppy") + ":" + at("usb"));
  const std::string file = at("floppy/trip.brc");
  const std::string text = file + " was not found.\nPlease check the filename.";
  DocWindow w;
  w.load();

  // Cancel: nothing opens.
  asker.answers = {plat::mrCancel};
  EXPECT_FALSE(w.manager->Open(file));
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, text);
  EXPECT_EQ(asker.messages[0].caption, "Error");
  EXPECT_EQ(asker.messages[0].buttons, unsigned(plat::btnRetryCancel));
  EXPECT_EQ(asker.messages[0].icon, plat::Icon::Warning);
  EXPECT_TRUE(w.opened.empty());

  // The disk goes in while the question is shown; Retry opens the file.
  asker.messages.clear();
  int asked = 0;
  asker.beforeAnswer = [&](const plat::MessageQuestion&) {
    if (++asked == 2) touchFile(file);
  };
  asker.answers = {plat::mrRetry, plat::mrRetry};
  EXPECT_TRUE(w.manager->Open(file));
  EXPECT_EQ(asker.messages.size(), 2u);
  EXPECT_EQ(w.opened, (std::vector<std::string>{real("floppy/trip.brc")}));
  EXPECT_TRUE(w.doc->Opened());
  EXPECT_EQ(w.window.windowTitle(), "Carryvale - trip.brc");

  // Elsewhere the message has OK alone.
  asker.beforeAnswer = nullptr;
  asker.messages.clear();
  const std::string local = at("disk/gone.brc");
  EXPECT_FALSE(w.manager->Open(local));
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, local + " was not found.\nPlease check the filename.");
  EXPECT_EQ(asker.messages[0].buttons, unsigned(plat::btnOk));
  EXPECT_EQ(asker.messages[0].icon, plat::Icon::Warning);
}

TEST_F(ManagerTest, OpenWhileDirtyAsksTheSaveQuestionFirst) {
  const std::string a = at("a.brc");
  const std::string b = at("sub/b.brc");
  touchFile(a);
  touchFile(b);
  DocWindow w;
  w.load();
  ASSERT_TRUE(w.manager->Open(a));
  w.doc->SetDirty(true);

  // From the File menu: the save question comes first; Cancel there keeps
  // the document and asks for no file.
  asker.answers = {plat::mrCancel};
  w.action("FileOpen")->trigger();
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "Changes to a.brc have not been saved.\nDo you want to save?");
  EXPECT_TRUE(asker.dialogs.empty());
  EXPECT_TRUE(w.doc->Opened());
  EXPECT_TRUE(w.doc->Dirty());
  EXPECT_EQ(w.doc->FileName(), real("a.brc"));
  EXPECT_EQ(w.window.windowTitle(), "Carryvale - a.brc");
  EXPECT_TRUE(w.closed.empty());
  EXPECT_TRUE(w.action("FileSave")->isEnabled());

  // New is refused the same way.
  asker.answers = {plat::mrCancel};
  EXPECT_EQ(w.manager->New(), nullptr);
  EXPECT_EQ(w.news, 0);
  EXPECT_EQ(w.doc->FileName(), real("a.brc"));

  // No: the briefcase closes, then the Open dialog asks, in its folder.
  asker.answers = {plat::mrNo};
  asker.files = {b};
  w.action("FileOpen")->trigger();
  ASSERT_EQ(asker.dialogs.size(), 1u);
  EXPECT_FALSE(asker.dialogs[0].save);
  EXPECT_EQ(asker.dialogs[0].startPath, dir.path().toStdString());
  EXPECT_EQ(asker.dialogs[0].filter, "Briefcase containers|*.brc");
  EXPECT_EQ(asker.dialogs[0].defaultExt, "brc");
  EXPECT_EQ(w.closed, (std::vector<std::string>{real("a.brc")}));
  EXPECT_EQ(w.doc->FileName(), real("sub/b.brc"));

  // Cancelling the dialog opens nothing; it started where b is.
  asker.files = {""};
  w.action("FileOpen")->trigger();
  EXPECT_EQ(asker.dialogs.back().startPath, real("sub"));
  EXPECT_FALSE(w.doc->Opened());

  // Exit asks too; answered No, everything closes.
  ASSERT_TRUE(w.manager->Open(a));
  w.doc->SetDirty(true);
  asker.answers = {plat::mrCancel};
  EXPECT_FALSE(w.manager->Exit());
  EXPECT_TRUE(w.doc->Opened());
  asker.answers = {plat::mrNo};
  EXPECT_TRUE(w.manager->Exit());
  EXPECT_FALSE(w.doc->Opened());
  EXPECT_FALSE(w.action("FileClose")->isEnabled());
  EXPECT_FALSE(w.action("FileSaveAs")->isEnabled());
}

TEST_F(ManagerTest, KeepsThePathAsGiven) {
  const std::string file = at("deep/work.brc");
  touchFile(file);
  std::filesystem::create_directories(at("other"));
  std::filesystem::create_symlink(at("deep"), at("link"));
  DocWindow w;
  w.load();
  TJMostRecentlyUsedList* mru = w.manager->RecentlyUsed();

  // A link stays a link; "." and ".." steps go.
  ASSERT_TRUE(w.manager->Open(at("other/../link/work.brc")));
  EXPECT_EQ(w.doc->FileName(), at("link/work.brc"));
  EXPECT_EQ(w.opened, (std::vector<std::string>{at("link/work.brc")}));
  EXPECT_EQ(w.window.windowTitle(), "Carryvale - work.brc");
  EXPECT_EQ(mru->GetCount(), 0);  // the open file is not among the entries
  ASSERT_TRUE(w.doc->Close());
  ASSERT_EQ(mru->GetCount(), 1);
  EXPECT_EQ(mru->GetItem(0), at("link/work.brc"));

  // Opening it again, by another spelling of the same path, hides the entry.
  ASSERT_TRUE(w.manager->Open(at("link/./work.brc")));
  EXPECT_EQ(mru->GetCount(), 0);

  // On a disk that ignores letter case, each step as the disk spells it.
  std::string why;
  if (auto fat = testdisk::Mounted::make(testdisk::Kind::Fat, 4, &why)) {
    const std::string root = fat->root() + "/";
    touchFile(root + "Trips/Work.brc");
    EXPECT_EQ(TDocManager::LongFileName(root + "TRIPS/work.BRC"), root + "Trips/Work.brc");
    EXPECT_EQ(TDocManager::LongFileName(root + "Trips/Work.brc"), root + "Trips/Work.brc");
  } else {
    std::printf("[  SKIPPED ] the letter case on a FAT disk: %s\n", why.c_str());
  }

  // A relative name is taken from the current folder.
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(at("deep"));
  EXPECT_EQ(TDocManager::LongFileName("work.brc"), at("deep/work.brc"));
  std::filesystem::current_path(cwd);
}

TEST_F(ManagerTest, RecentlyUsedEntriesInTheFileMenu) {
  const std::string a = at("a.brc");
  const std::string b = at("b&c.brc");
  touchFile(a);
  touchFile(b);
  storeMru({real("a.brc"), real("b&c.brc"), at("gone.brc")});
  {
    DocWindow w;
    w.load();
    EXPECT_EQ(w.menuTexts(),
              (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-", "&0 a.brc",
                           "&1 b&&c.brc", "&2 gone.brc", "-", "E&xit"}));

    // A click opens the entry, which leaves the list while it is open.
    w.manager->RecentlyUsed()->GetMenuItem(real("b&c.brc"))->trigger();
    EXPECT_EQ(w.opened, (std::vector<std::string>{real("b&c.brc")}));
    EXPECT_EQ(w.window.windowTitle(), "Carryvale - b&c.brc");
    EXPECT_EQ(w.menuTexts(), (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-",
                                          "&0 a.brc", "&1 gone.brc", "-", "E&xit"}));

    // Opening another closes this one, which goes back to the top.
    w.manager->RecentlyUsed()->GetMenuItem(real("a.brc"))->trigger();
    EXPECT_EQ(w.doc->FileName(), real("a.brc"));
    EXPECT_EQ(w.menuTexts(), (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-",
                                          "&0 b&&c.brc", "&1 gone.brc", "-", "E&xit"}));

    // An entry whose file is gone: the message, and the entry counts as opened.
    w.manager->RecentlyUsed()->GetMenuItem(at("gone.brc"))->trigger();
    ASSERT_EQ(asker.messages.size(), 1u);
    EXPECT_EQ(asker.messages[0].text, at("gone.brc") + " was not found.\nPlease check the filename.");
    EXPECT_EQ(w.menuTexts(), (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-",
                                          "&0 a.brc", "&1 b&&c.brc", "-", "E&xit"}));
    EXPECT_FALSE(w.doc->Opened());
    spinEvents(1);
  }
  // Kept for the next run.
  EXPECT_EQ(storedMru(), (std::vector<std::string>{real("a.brc"), real("b&c.brc")}));
}

TEST_F(ManagerTest, FileMenuWithoutExitSeparatorGetsNoEntries) {
  const std::string a = at("a.brc");
  touchFile(a);
  DocWindow w(false, false);
  w.load();
  EXPECT_EQ(w.manager->RootItem(), nullptr);
  ASSERT_TRUE(w.manager->Open(a));
  ASSERT_TRUE(w.doc->Close());
  EXPECT_EQ(w.manager->RecentlyUsed()->GetCount(), 1);
  EXPECT_EQ(w.manager->RecentlyUsed()->GetMenuItem(real("a.brc")), nullptr);
  EXPECT_EQ(w.menuTexts(), kFileMenu);
}

TEST_F(ManagerTest, ToolBarButtons) {
  QMainWindow window;
  QToolBar* bar = window.addToolBar("Main");
  QAction* own = bar->addAction("Refresh");
  TDocManager m(&window);
  m.SetActionList(&window);
  m.SetToolBar(bar);
  m.SetImages({QIcon(), QIcon(), QIcon()});
  m.SetImageIndexNew(0);
  m.SetImageIndexOpen(1);
  m.SetImageIndexSave(2);
  m.Loaded();
  QStringList names;
  for (QAction* a : bar->actions()) {
    QWidget* w = bar->widgetForAction(a);
    names << (w ? w->objectName() : QString());
  }
  EXPECT_EQ(names.mid(0, 4), (QStringList{"FileNewBtn", "FileOpenBtn", "FileSaveBtn", "DividerBtn1"}));
  EXPECT_EQ(bar->actions().last(), own);
  EXPECT_EQ(bar->findChild<QWidget*>("DividerBtn1")->width(), 8);

  // Changing an image index afterwards takes the button away or brings it.
  m.SetImageIndexOpen(-1);
  EXPECT_EQ(bar->findChild<QToolButton*>("FileOpenBtn"), nullptr);
  EXPECT_FALSE(bar->actions().contains(m.OpenAction()));
  m.SetImageIndexExit(1);
  EXPECT_NE(bar->findChild<QToolButton*>("FileExitBtn"), nullptr);
  EXPECT_EQ(bar->actions().first(), m.ExitAction());
}

TEST_F(ManagerTest, MultipleDocumentLayout) {
  QMainWindow window;
  window.setWindowTitle("Notes");
  auto* area = new QMdiArea(&window);
  window.setCentralWidget(area);
  QMenu* file = window.menuBar()->addMenu("&File");
  TDocManager m(&window);
  m.SetActionList(&window);
  m.SetFileMenuItem(file);
  std::vector<TDocument*> activated;
  m.SetOnNewDocument([&](TDocManager*, TDocument*& d) {
    auto* child = area->addSubWindow(new QWidget);
    child->show();
    d = new TDocument(child);
    d->SetOnActivate([&](TDocument* doc) { activated.push_back(doc); });
  });
  m.Loaded();
  ASSERT_TRUE(m.IsMultipleDocument());
  EXPECT_EQ(m.CloseAction()->shortcut(), QKeySequence("Ctrl+F4"));
  window.show();
  window.activateWindow();
  spinEvents(20);

  TDocument* one = m.New();
  TDocument* two = m.New();
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(one->FileName(), "Untitled1");
  EXPECT_EQ(two->FileName(), "Untitled2");
  EXPECT_EQ(m.ChildWindowOf(one)->windowTitle(), "Untitled1");
  EXPECT_EQ(window.windowTitle(), "Notes");

  // Activating a child makes its document the one the commands act on.
  activated.clear();
  area->setActiveSubWindow(m.ChildWindowOf(one));
  EXPECT_EQ(m.ActiveDocument(), one);
  EXPECT_EQ(activated, (std::vector<TDocument*>{one}));

  // Open names the child window with the full path.
  const std::string path = at("n.txt");
  touchFile(path);
  ASSERT_TRUE(m.Open(path));
  EXPECT_EQ(m.Documents().size(), 3u);
  EXPECT_EQ(m.ChildWindowOf(m.ActiveDocument())->windowTitle(), QString::fromStdString(real("n.txt")));

  // Exit closes every document and its child window, last first.
  QPointer<QMdiSubWindow> first = m.ChildWindowOf(one);
  EXPECT_TRUE(m.Exit());
  EXPECT_FALSE(one->Opened());
  EXPECT_FALSE(two->Opened());
  EXPECT_TRUE(m.Documents().empty());
  EXPECT_TRUE(first.isNull() || !first->isVisible());
}
