#include <gtest/gtest.h>

#include <QWindow>

#include <stdexcept>

#include "docframe_helpers.h"

namespace {

struct DocTest : ::testing::Test {
  PrivateSettings settings;
  DocAsker asker;
  plat::ScopedAsker use{&asker};
  QTemporaryDir dir;
  std::string at(const std::string& name) { return dir.path().toStdString() + "/" + name; }
};

void expectQuestion(const plat::MessageQuestion& q, const std::string& text,
                    const std::string& caption, unsigned buttons, plat::Icon icon) {
  EXPECT_EQ(q.text, text);
  EXPECT_EQ(q.caption, caption);
  EXPECT_EQ(q.buttons, buttons);
  EXPECT_EQ(q.icon, icon);
}

}  // namespace

TEST_F(DocTest, SavingAnUntitledDocumentAsksForAName) {
  DocWindow w;
  w.load();
  ASSERT_EQ(w.manager->New(), w.doc);
  EXPECT_TRUE(w.doc->Opened());
  EXPECT_EQ(w.doc->FileName(), "Untitled");
  EXPECT_FALSE(w.doc->Dirty());
  EXPECT_EQ(w.window.windowTitle(), "Carryvale - Untitled");
  EXPECT_TRUE(w.action("FileSaveAs")->isEnabled());
  EXPECT_TRUE(w.action("FileClose")->isEnabled());
  EXPECT_FALSE(w.action("FileSave")->isEnabled());
  w.doc->SetDirty(true);
  EXPECT_TRUE(w.action("FileSave")->isEnabled());

  // Cancelled: nothing changes, nothing is written.
  EXPECT_FALSE(w.doc->Save());
  ASSERT_EQ(asker.dialogs.size(), 1u);
  EXPECT_TRUE(asker.dialogs[0].save);
  EXPECT_EQ(asker.dialogs[0].filter, "Briefcase containers|*.brc");
  EXPECT_EQ(asker.dialogs[0].defaultExt, "brc");
  EXPECT_EQ(asker.dialogs[0].startPath, "");
  EXPECT_TRUE(w.committed.empty());
  EXPECT_TRUE(w.doc->Dirty());

  // A name that exists is replaced only after Yes.
  const std::string taken = at("taken.brc");
  touchFile(taken);
  asker.files = {taken};
  asker.answers = {plat::mrNo};
  w.action("FileSave")->trigger();
  EXPECT_TRUE(w.doc->Dirty());
  ASSERT_EQ(asker.messages.size(), 1u);
  expectQuestion(asker.messages[0], "The file already exists. Overwrite?", "Save", plat::btnYesNo,
                 plat::Icon::None);
  EXPECT_EQ(w.doc->FileName(), "Untitled");
  EXPECT_TRUE(w.committed.empty());

  // A new name: taken, shown, committed, clean.
  const std::string fresh = at("fresh.brc");
  asker.files = {fresh};
  w.action("FileSave")->trigger();
  EXPECT_EQ(w.doc->FileName(), fresh);
  EXPECT_EQ(w.committed, (std::vector<std::string>{fresh}));
  EXPECT_FALSE(w.doc->Dirty());
  EXPECT_FALSE(w.action("FileSave")->isEnabled());
  EXPECT_EQ(w.window.windowTitle(), "Carryvale - fresh.brc");

  // Any name whose first 8 characters read "Untitled" counts as untitled;
  // a titled one commits without asking.
  w.doc->SetFileName("Untitled3");
  asker.files = {""};
  EXPECT_FALSE(w.doc->Save());
  EXPECT_EQ(asker.dialogs.size(), 4u);
  w.doc->SetFileName("Untitle.brc");
  EXPECT_TRUE(w.doc->Save());
  EXPECT_EQ(asker.dialogs.size(), 4u);
}

TEST_F(DocTest, FailedCommitOnCloseKeepsTheDocumentOpenAndDirty) {
  const std::string file = at("work.brc");
  touchFile(file);
  DocWindow w;
  w.load();
  ASSERT_TRUE(w.manager->Open(file));
  w.doc->SetDirty(true);
  w.commitOk = false;

  asker.answers = {plat::mrYes};
  EXPECT_FALSE(w.doc->Close());
  ASSERT_EQ(asker.messages.size(), 1u);
  expectQuestion(asker.messages[0],
                 "Changes to work.brc have not been saved.\nDo you want to save?", "Warning",
                 plat::btnYesNoCancel, plat::Icon::Warning);
  EXPECT_EQ(w.committed, (std::vector<std::string>{file}));
  EXPECT_TRUE(w.doc->Opened());
  EXPECT_TRUE(w.doc->Dirty());
  EXPECT_EQ(w.doc->FileName(), file);
  EXPECT_EQ(w.window.windowTitle(), "Carryvale - work.brc");
  EXPECT_TRUE(w.closed.empty());
  EXPECT_EQ(w.manager->ActiveDocument(), w.doc);

  // Cancel keeps it too, without committing.
  asker.answers = {plat::mrCancel};
  EXPECT_FALSE(w.doc->Close());
  EXPECT_EQ(w.committed.size(), 1u);
  EXPECT_TRUE(w.doc->Opened());

  // No: closed without saving; the name goes to the top of the list.
  w.manager->RecentlyUsed()->Add("/elsewhere/other.brc");
  asker.answers = {plat::mrNo};
  EXPECT_TRUE(w.doc->Close());
  EXPECT_EQ(w.committed.size(), 1u);
  EXPECT_FALSE(w.doc->Opened());
  EXPECT_FALSE(w.doc->Dirty());
  EXPECT_EQ(w.doc->FileName(), "");
  EXPECT_EQ(w.closed, (std::vector<std::string>{file}));
  EXPECT_EQ(w.window.windowTitle(), "Carryvale");
  EXPECT_EQ(w.manager->RecentlyUsed()->GetItem(0), file);
  EXPECT_TRUE(w.manager->Documents().empty());
  EXPECT_EQ(w.manager->ActiveDocument(), nullptr);
  for (const char* a : {"FileSave", "FileSaveAs", "FileClose"})
    EXPECT_FALSE(w.action(a)->isEnabled()) << a;

  // A commit that succeeds on Yes closes it.
  ASSERT_TRUE(w.manager->Open(file));
  w.doc->SetDirty(true);
  w.commitOk = true;
  asker.answers = {plat::mrYes};
  EXPECT_TRUE(w.doc->Close());
  EXPECT_EQ(w.committed.size(), 2u);
}

TEST_F(DocTest, ClosingAnUntitledDocumentRecordsNothing) {
  DocWindow w;
  w.load();
  w.doc->SetDirtyAtCreation(true);
  ASSERT_NE(w.manager->New(), nullptr);
  EXPECT_TRUE(w.doc->Dirty());
  asker.answers = {plat::mrNo};
  EXPECT_TRUE(w.doc->Close());
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text,
            "Changes to Untitled have not been saved.\nDo you want to save?");
  EXPECT_EQ(w.manager->RecentlyUsed()->GetCount(), 0);
  EXPECT_EQ(w.fileMenu->actions().size(), 7);  // no entry, no separator of its own

  // A New that its handler refuses changes nothing.
  w.newOk = false;
  EXPECT_EQ(w.manager->New(), nullptr);
  EXPECT_FALSE(w.doc->Opened());
  EXPECT_TRUE(w.manager->Documents().empty());
  EXPECT_EQ(w.window.windowTitle(), "Carryvale");
}

TEST_F(DocTest, OpenNeedsAManagerAndShowsWhatTheHandlerRaises) {
  TDocument lone;
  EXPECT_FALSE(lone.Open());
  ASSERT_EQ(asker.messages.size(), 1u);
  expectQuestion(asker.messages[0], "Document has no DocManager", "Error", plat::btnOk,
                 plat::Icon::Warning);
  EXPECT_FALSE(lone.Save());
  EXPECT_FALSE(lone.SaveAs());
  EXPECT_TRUE(lone.CloseQuery());
  EXPECT_TRUE(lone.Close());

  const std::string file = at("broken.brc");
  touchFile(file);
  DocWindow w;
  w.load();
  w.doc->SetOnOpen([](TDocument*, bool&) { throw std::runtime_error("The container is damaged"); });
  EXPECT_FALSE(w.manager->Open(file));
  ASSERT_EQ(asker.messages.size(), 2u);
  expectQuestion(asker.messages[1], "The container is damaged", "Error", plat::btnOk,
                 plat::Icon::Warning);
  EXPECT_FALSE(w.doc->Opened());
  EXPECT_EQ(w.doc->FileName(), "");
  EXPECT_EQ(w.window.windowTitle(), "Carryvale");
  EXPECT_TRUE(w.manager->Documents().empty());
  EXPECT_FALSE(w.action("FileClose")->isEnabled());

  // A later New is untitled, not named after the file that failed.
  ASSERT_NE(w.manager->New(), nullptr);
  EXPECT_EQ(w.doc->FileName(), "Untitled");
}

TEST_F(DocTest, CaptionShowsTheFileNameAsItIs) {
  const struct {
    const char* file;
    const char* caption;  // as the window system shows it
  } cases[] = {
      {"draft[*].brc", "Carryvale - draft[*].brc"},
      {"a[*][*]b.brc", "Carryvale - a[*][*]b.brc"},
      {"caf\xe9.brc", "Carryvale - caf\u00e9.brc"},  // not UTF-8: decoded as Windows-1252
  };
  for (const auto& c : cases) {
    const std::string file = at(c.file);
    touchFile(file);
    DocWindow w;
    w.load();
    w.window.winId();  // the title reaches the window system
    ASSERT_TRUE(w.manager->Open(file));
    for (bool modified : {false, true}) {
      w.window.setWindowModified(modified);
      EXPECT_EQ(w.window.windowHandle()->title(), QString::fromUtf8(c.caption)) << c.file;
    }
  }
}
