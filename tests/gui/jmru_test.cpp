#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QMenu>

#include <memory>

#include "docframe_helpers.h"

namespace {

// A menu laid out like a File menu, with the list anchored at "&Close".
struct MruMenu {
  QMenu menu;
  QAction* close;
  std::unique_ptr<TJMostRecentlyUsedList> list;
  int changes = 0;

  explicit MruMenu(TJMRUMenuKind kind = mkInsertWithSeparator) {
    menu.addAction(QStringLiteral("&Open..."));
    close = menu.addAction(QStringLiteral("&Close"));
    menu.addSeparator()->setObjectName(QStringLiteral("ExitSeparator"));
    menu.addAction(QStringLiteral("E&xit"));
    list = std::make_unique<TJMostRecentlyUsedList>();
    list->SetAutoSave(false);
    list->SetMenuKind(kind);
    list->SetRootMenuItem(close);
    list->SetOnChange([this](TJMostRecentlyUsedList*) { ++changes; });
  }
  QStringList texts() const {
    QStringList out;
    for (QAction* a : menu.actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  }
  std::vector<std::string> items() const {
    std::vector<std::string> v;
    list->CopyItems(v);
    return v;
  }
};

std::string path(int i) { return "/media/stick/case" + std::to_string(i) + ".brc"; }

}  // namespace

TEST(MruList, TheEleventhNameAndNamesDifferingInCase) {
  MruMenu m;
  for (int i = 1; i <= 10; ++i) m.list->Add(path(i));
  ASSERT_EQ(m.list->GetCount(), 10);
  EXPECT_EQ(m.list->GetItem(0), path(10));
  EXPECT_EQ(m.list->GetItem(9), path(1));

  QPointer<QAction> oldest = m.list->GetMenuItem(path(1));
  ASSERT_TRUE(oldest);
  m.list->Add(path(11));
  EXPECT_EQ(m.list->GetCount(), 10);
  EXPECT_EQ(m.list->GetItem(0), path(11));
  EXPECT_EQ(m.list->IndexOf(path(1)), -1);  // the oldest is gone, with its menu item
  EXPECT_FALSE(m.menu.actions().contains(oldest.data()));

  // A name that differs only in case is another file: a new entry.
  m.list->Add("/media/stick/Case5.brc");
  EXPECT_EQ(m.list->GetCount(), 10);
  EXPECT_EQ(m.list->GetItem(0), "/media/stick/Case5.brc");
  EXPECT_EQ(m.list->IndexOf(path(5)), 7);
  EXPECT_EQ(m.list->IndexOf("/media/stick/CASE5.brc"), -1);
  EXPECT_FALSE(m.list->Used("/Media/stick/case7.brc"));
  EXPECT_EQ(m.list->IndexOf(path(7)), 6);  // behind the new entry
  EXPECT_TRUE(m.list->Used(path(7)));
  EXPECT_EQ(m.list->GetItem(0), path(7));
  m.list->InUse("/media/stick/case7.BRC");  // opening another file keeps this one
  EXPECT_EQ(m.list->GetItem(0), path(7));
}

TEST(MruList, EntriesShowTheirNamesAsTheyAre) {
  const struct {
    const char* path;
    const char* caption;
  } cases[] = {
      {"/d/draft[*].brc", "&0 draft[*].brc"},
      {"/d/caf\xe9 & co.brc", "&0 caf\u00e9 && co.brc"},  // not UTF-8: decoded as Windows-1252
      {"/d/\xe2\x82\xac.brc", "&0 \u20ac.brc"},
  };
  for (const auto& c : cases) {
    MruMenu m;
    m.list->Add(c.path);
    EXPECT_EQ(m.list->GetMenuItem(c.path)->text(), QString::fromUtf8(c.caption)) << c.path;
  }
}

TEST(MruList, EntriesOfOneNameShowTheirFolders) {
  MruMenu m;
  const std::string home = QDir::homePath().toStdString();
  m.list->Add("/media/stick/work.brc");
  m.list->Add(home + "/Trips/work.brc");
  m.list->Add("/media/stick/notes.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "&0 notes.brc",
                                    "&1 work.brc (~/Trips)", "&2 work.brc (/media/stick)", "-",
                                    "E&xit"}));
  // The full path is each entry's tool tip and status hint.
  QAction* item = m.list->GetMenuItem(home + "/Trips/work.brc");
  EXPECT_EQ(item->toolTip().toStdString(), home + "/Trips/work.brc");
  EXPECT_EQ(item->statusTip().toStdString(), home + "/Trips/work.brc");
  m.list->Delete(home + "/Trips/work.brc");
  EXPECT_EQ(m.list->GetMenuItem("/media/stick/work.brc")->text(), "&1 work.brc");
}

TEST(MruList, SeparatorComesWithTheFirstEntryAndGoesWithTheLast) {
  MruMenu m;
  m.list->Init();  // empty: nothing added to the menu
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "E&xit"}));
  EXPECT_EQ(m.list->Separator(), nullptr);

  m.list->Add("/home/u/work.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "&0 work.brc", "-", "E&xit"}));
  ASSERT_NE(m.list->Separator(), nullptr);
  EXPECT_EQ(m.menu.actions()[2], m.list->Separator());
  EXPECT_EQ(m.list->RootMenuItem(), m.list->Separator());
  EXPECT_EQ(m.list->ReplacedRoot(), m.close);

  m.list->Add("/home/u/R&D notes.brc");
  m.list->Add("/home/u/old.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "&0 old.brc", "&1 R&&D notes.brc",
                                    "&2 work.brc", "-", "E&xit"}));
  m.list->BringToTop("/home/u/work.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "&0 work.brc", "&1 old.brc",
                                    "&2 R&&D notes.brc", "-", "E&xit"}));

  m.list->Delete("/home/u/old.brc");
  m.list->Delete("/home/u/work.brc");
  EXPECT_NE(m.list->Separator(), nullptr);
  m.list->Delete("/home/u/R&D notes.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "E&xit"}));
  EXPECT_EQ(m.list->Separator(), nullptr);
  EXPECT_EQ(m.list->RootMenuItem(), m.close);

  // Again, and away with Clear; then a change of kind takes the separator away.
  m.list->Add("/a/one.brc");
  m.list->Clear();
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "E&xit"}));
  m.list->Add("/a/one.brc");
  m.list->SetMenuKind(mkInsertAfter);
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "&0 one.brc", "-", "E&xit"}));
  m.list->SetMenuKind(mkInsertBefore);
  m.list->Add("/a/two.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&0 two.brc", "&1 one.brc", "&Close", "-", "E&xit"}));
}

TEST(MruList, CaptionsPastTheThirtySixthPositionShowTheFullPath) {
  MruMenu m(mkInsertAfter);
  m.list->SetMaxItems(40);
  for (int i = 38; i >= 1; --i) m.list->Add("/d/f" + std::to_string(i));
  ASSERT_EQ(m.list->GetCount(), 38);
  EXPECT_EQ(m.list->GetMenuItem("/d/f1")->text(), "&0 f1");
  EXPECT_EQ(m.list->GetMenuItem("/d/f11")->text(), "&A f11");
  EXPECT_EQ(m.list->GetMenuItem("/d/f36")->text(), "&Z f36");
  EXPECT_EQ(m.list->GetMenuItem("/d/f37")->text(), "/d/f37");
  EXPECT_EQ(m.list->GetMenuItem("/d/f38")->text(), "/d/f38");
  // The menu shows them in list order right after the root.
  EXPECT_EQ(m.menu.actions()[2], m.list->GetMenuItem("/d/f1"));
  EXPECT_EQ(m.menu.actions()[39], m.list->GetMenuItem("/d/f38"));

  m.list->SetNumberOffset(30);
  m.list->RefreshMenu();
  EXPECT_EQ(m.list->GetMenuItem("/d/f6")->text(), "&Z f6");
  EXPECT_EQ(m.list->GetMenuItem("/d/f7")->text(), "/d/f7");
}

TEST(MruList, StoredListWithAGapAndSaving) {
  PrivateSettings settings;
  {
    TJStorage s;
    s.SetKey(cvreg::kMruKey);
    s.Open();
    s.WriteInteger("Count", 4);
    s.WriteString("0", "/m/first.brc");
    s.WriteString("2", "/m/third.brc");  // "1" is missing
    s.WriteString("3", "");              // and "3" empty
    s.Close();
  }
  TJMostRecentlyUsedList list;
  list.Storage().SetKey(cvreg::kMruKey);
  int changes = 0;
  list.SetOnChange([&](TJMostRecentlyUsedList*) { ++changes; });
  list.Init();
  std::vector<std::string> items;
  list.CopyItems(items);
  EXPECT_EQ(items, (std::vector<std::string>{"/m/first.brc", "/m/third.brc"}));
  EXPECT_GT(changes, 0);
  EXPECT_FALSE(list.Storage().IsOpen());

  // Saving writes the list as it is; values of a longer earlier list stay.
  list.Add("/m/new.brc");
  list.Delete("/m/third.brc");
  list.Save();
  EXPECT_EQ(storedMru(), (std::vector<std::string>{"/m/new.brc", "/m/first.brc"}));
  {
    TJStorage s;
    s.SetKey(cvreg::kMruKey);
    s.Open();
    EXPECT_EQ(s.ReadString("2", "?"), "/m/third.brc");
    s.Close();
  }

  // A damaged count does not keep the program reading.
  {
    TJStorage s;
    s.SetKey(cvreg::kMruKey);
    s.Open();
    s.WriteInteger("Count", 2147483647);
    s.Close();
  }
  list.Load();
  EXPECT_EQ(list.GetCount(), 3);  // "0", "1" (new, first) and the "2" left over
}

TEST(MruList, ClickingAnEntry) {
  MruMenu m;
  m.list->Add("/w/a.brc");
  m.list->Add("/w/b.brc");
  std::vector<std::string> selected;
  bool keepOpened = true;
  m.list->SetOnSelect([&](TJMostRecentlyUsedList* sender, const std::string& item, bool& opened) {
    EXPECT_EQ(sender, m.list.get());
    EXPECT_TRUE(opened);
    selected.push_back(item);
    opened = keepOpened;
  });
  keepOpened = false;
  m.list->GetMenuItem("/w/a.brc")->trigger();
  EXPECT_EQ(selected, (std::vector<std::string>{"/w/a.brc"}));
  EXPECT_EQ(m.list->GetCount(), 2);  // not opened: stays

  keepOpened = true;
  m.list->GetMenuItem("/w/a.brc")->trigger();
  EXPECT_EQ(m.items(), (std::vector<std::string>{"/w/b.brc"}));  // in use: hidden

  m.list->SetHideInUse(false);
  m.list->GetMenuItem("/w/b.brc")->trigger();
  EXPECT_EQ(m.list->GetCount(), 1);
  spinEvents(1);  // freed items go
}

TEST(MruList, MisuseAndDestroyedItems) {
  MruMenu m;
  try {
    m.list->BringToTop("/nowhere.brc");
    FAIL();
  } catch (const EJMRUError& e) {
    EXPECT_STREQ(e.what(), "Cannot move /nowhere.brc to top of MRU - it is not in the MRU");
  }
  QAction a(nullptr);
  try {
    m.list->AddAt(0, nullptr, &a, false);
    FAIL();
  } catch (const EJMRUError& e) {
    EXPECT_STREQ(e.what(), "AddAt: src or dest is nil");
  }
  try {
    m.list->AddAfter(&a, nullptr);
    FAIL();
  } catch (const EJMRUError& e) {
    EXPECT_STREQ(e.what(), "AddAfter: src or dest is nil");
  }

  // Menu items destroyed elsewhere are forgotten.
  m.list->Add("/w/a.brc");
  m.list->Add("/w/b.brc");
  delete m.list->GetMenuItem("/w/a.brc");
  EXPECT_EQ(m.list->GetMenuItem("/w/a.brc"), nullptr);
  EXPECT_EQ(m.list->ItemByMenu(nullptr), "");
  m.list->Add("/w/c.brc");
  EXPECT_EQ(m.texts(), (QStringList{"&Open...", "&Close", "-", "&0 c.brc", "&1 b.brc", "-", "E&xit"}));
  delete m.list->Separator();
  EXPECT_EQ(m.list->Separator(), nullptr);
  m.list->Delete("/w/b.brc");
  m.list->Delete("/w/c.brc");
  m.list->Delete("/w/a.brc");
  EXPECT_EQ(m.list->GetCount(), 0);
  EXPECT_EQ(m.list->RootMenuItem(), m.close);
  delete m.close;
  m.close = nullptr;
  EXPECT_EQ(m.list->RootMenuItem(), nullptr);
  m.list->Add("/w/d.brc");  // no root: no menu item
  EXPECT_EQ(m.list->GetMenuItem("/w/d.brc"), nullptr);
}
