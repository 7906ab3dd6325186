// The main window's File menu through the document manager. The briefcase
// document does not exist yet: a window with its own document handlers
// stands in for it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QToolBar>

#include "../core/testenv.h"
#include "app/mainform.h"
#include "archive/compress.h"
#include "briefcase/briefcasedoc.h"
#include "briefcase/comment.h"
#include "docframe_helpers.h"
#include "platform/files.h"

namespace {

class HandlerForm : public TMainForm {
 public:
  HandlerForm() {
    FileNew->setEnabled(true);
    FileOpen->setEnabled(true);
  }
  bool commitOk = true;
  std::vector<std::string> events;

 protected:
  void Document1New(TDocument*, bool& success) override {
    events.push_back("new");
    success = true;
  }
  void Document1Open(TDocument* d, bool& success) override {
    events.push_back("open " + d->FileName());
    success = true;
  }
  void Document1Commit(TDocument* d, bool& success) override {
    events.push_back("commit " + d->FileName());
    success = commitOk;
  }
  void Document1Close(TDocument* d) override { events.push_back("close " + d->FileName()); }
};

QStringList captions(QMenu* m) {
  QStringList out;
  for (QAction* a : m->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return out;
}

}  // namespace

TEST(MainFormDocuments, FileMenuBelongsToTheDocumentManager) {
  PrivateSettings settings;
  TMainForm form;
  ASSERT_NE(form.DocManager1, nullptr);
  ASSERT_NE(form.Document1, nullptr);
  EXPECT_EQ(form.DocManager1->ExitAction(), form.FileExit);
  EXPECT_EQ(form.DocManager1->RootItem(), form.FileClose);
  EXPECT_EQ(form.DocManager1->RecentlyUsed()->Storage().Key(), cvreg::kMruKey);
  EXPECT_EQ(form.DocManager1->SaveDialog()->filter, "Briefcase containers|*.brc");
  EXPECT_EQ(form.DocManager1->SaveDialog()->defaultExt, "brc");

  EXPECT_TRUE(form.FileNew->isEnabled());
  EXPECT_TRUE(form.FileOpen->isEnabled());
  EXPECT_FALSE(form.FileSave->isEnabled());
  EXPECT_TRUE(form.FileExit->isEnabled());
  EXPECT_FALSE(form.DocManager1->Open("/nowhere/else.brc"));  // the not-found message
  EXPECT_EQ(form.windowTitle(), "Carryvale");
}

TEST(MainFormDocuments, CaptionQuestionsAndRecentlyUsedEntries) {
  PrivateSettings settings;
  DocAsker asker;
  plat::ScopedAsker use(&asker);
  QTemporaryDir dir;
  const std::string real = QDir(dir.path()).canonicalPath().toStdString();
  const std::string work = real + "/work.brc";
  const std::string trip = real + "/trip.brc";
  const std::string otherTrip = real + "/stick/trip.brc";
  // The folders as the menu shows them: a long one cut in the middle.
  auto shown = [](std::string folder) {
    QString t = QString::fromStdString(folder);
    return t.size() > 40 ? t.left(12) + QChar(0x2026) + t.right(27) : t;
  };
  touchFile(work);
  touchFile(trip);
  storeMru({trip, otherTrip});
  {
    HandlerForm form;
    form.show();
    EXPECT_EQ(captions(form.FileMenu),
              (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-",
                           "&0 trip.brc (" + shown(real) + ")",
                           "&1 trip.brc (" + shown(real + "/stick") + ")", "-",
                           "E&xit"}));

    asker.files = {work};
    form.FileOpen->trigger();
    EXPECT_EQ(form.events, (std::vector<std::string>{"open " + work}));
    EXPECT_EQ(form.windowTitle(), "Carryvale - work.brc");
    EXPECT_TRUE(form.FileClose->isEnabled());
    EXPECT_TRUE(form.FileSaveAs->isEnabled());
    EXPECT_FALSE(form.FileSave->isEnabled());
    form.Document1->SetDirty(true);
    EXPECT_TRUE(form.FileSave->isEnabled());

    // Closing the window asks first; Cancel keeps window and briefcase.
    asker.answers = {plat::mrCancel};
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(asker.messages.size(), 1u);
    EXPECT_EQ(asker.messages[0].text,
              "Changes to work.brc have not been saved.\nDo you want to save?");
    EXPECT_EQ(asker.messages[0].caption, "Warning");

    // Save commits; Close puts the briefcase at the top of the entries.
    form.FileSave->trigger();
    EXPECT_EQ(form.events.back(), "commit " + work);
    EXPECT_FALSE(form.Document1->Dirty());
    form.FileClose->trigger();
    EXPECT_EQ(form.events.back(), "close " + work);
    EXPECT_EQ(form.windowTitle(), "Carryvale");
    EXPECT_EQ(captions(form.FileMenu),
              (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "&Close", "-",
                           "&0 work.brc", "&1 trip.brc (" + shown(real) + ")",
                           "&2 trip.brc (" + shown(real + "/stick") + ")", "-",
                           "E&xit"}));

    // The File menu as the user sees it, for looking at.
    form.FileMenu->popup(form.mapToGlobal(QPoint(0, 0)));
    spinEvents(50);
    const QString shots = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(shots);
    EXPECT_TRUE(form.FileMenu->grab().save(shots + "/file_menu_recent.png"));
    form.FileMenu->hide();

    // An entry opens its briefcase.
    form.DocManager1->RecentlyUsed()->GetMenuItem(trip)->trigger();
    EXPECT_EQ(form.events.back(), "open " + trip);
    EXPECT_EQ(form.windowTitle(), "Carryvale - trip.brc");
    spinEvents(1);
  }
  // The window went with the briefcase open: it was closed and recorded.
  EXPECT_EQ(storedMru(), (std::vector<std::string>{trip, work, otherTrip}));
}

namespace {

// The configuration text stored in a container (its archive comment).
std::string storedInclude(const std::string& path) {
  archive::TCompress engine;
  engine.archivePath = path;
  if (engine.readEndRecord() != 0) return "(unreadable)";
  briefcase::TBriefcaseComment record;
  if (!record.Parse(engine)) return "(damaged)";
  return record.include;
}

}  // namespace

// Save As copies the briefcase to the new name and goes on there; the old
// one stays as it was. A name that cannot be written keeps the old one.
TEST(MainFormDocuments, SaveAsGoesOnInACopy) {
  const struct {
    const char* target;  // where the user saves it
    bool overwrite;      // the Overwrite? question comes (and is answered Yes)
    bool copied;         // the briefcase goes on at the new name
  } cases[] = {
      {"stick/trip.brc", false, true},
      {"stick/other.brc", true, true},   // another file, replaced
      {"link.brc", true, false},         // a link to the briefcase itself: only renamed
      {"gone/trip.brc", false, false},   // its folder does not exist
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    testenv::Env env;
    env.set("CARRYVALE_REMOVABLE_ROOTS", "");
    DocAsker asker;
    plat::ScopedAsker use(&asker);
    const std::string brc = env.work() + "/trip.brc";
    ASSERT_EQ(testenv::run(std::string(CARRYVALE_BRC) + " new " + testenv::quote(brc) +
                           " --folder " + testenv::quote(env.work()) + " --days 3"),
              0);
    const std::vector<uint8_t> original = testenv::readBytes(brc);
    const plat::FileTime date = [&] {
      plat::FileInfo fi;
      plat::fileSystem().stat(brc, &fi, true);
      return fi.writeTime;
    }();
    testenv::writeFile(env.path("stick/other.brc"), "someone's file");
    std::filesystem::create_symlink(brc, env.path("link.brc"));
    const std::string target = env.path(c.target);

    TMainForm form;
    ASSERT_TRUE(form.DocManager1->Open(brc));
    form.Briefcase()->Configuration().include = "*.doc";  // a change not saved yet
    form.Document1->SetDirty(true);
    asker.files = {target};
    asker.answers = {plat::mrYes};
    form.FileSaveAs->trigger();
    const bool moved = c.copied || std::string(c.target) == "link.brc";
    const std::string now = moved ? target : brc;
    ASSERT_EQ(asker.messages.size(), (c.overwrite ? 1u : 0u) + (moved ? 0u : 1u));
    if (c.overwrite) {
      EXPECT_EQ(asker.messages[0].text, "The file already exists. Overwrite?");
    }
    EXPECT_EQ(form.Document1->FileName(), now);
    EXPECT_EQ(form.Briefcase()->Engine().archivePath, now);
    EXPECT_EQ(form.windowTitle().toStdString(), "Carryvale - " + TDocument::NameWithoutFolder(now));
    if (!moved) {
      // Told why, and everything as before: the next Save writes the old file.
      EXPECT_EQ(asker.messages.back().text.rfind("The briefcase could not be saved as " + target, 0), 0u)
          << asker.messages.back().text;
      EXPECT_TRUE(form.Document1->Dirty());
      form.FileSave->trigger();
      EXPECT_EQ(storedInclude(brc), "*.doc");
      continue;
    }
    EXPECT_FALSE(form.Document1->Dirty());
    EXPECT_EQ(storedInclude(target), "*.doc");
    // The briefcase date travels with the copy; the old briefcase is as it was.
    plat::FileInfo fi;
    ASSERT_TRUE(plat::fileSystem().stat(target, &fi, true));
    EXPECT_EQ(fi.writeTime, date);
    if (c.copied) {
      EXPECT_TRUE(testenv::readBytes(brc) == original);
      EXPECT_EQ(form.DocManager1->RecentlyUsed()->GetItem(0), brc);
      // Later saves write the new one.
      form.Briefcase()->Configuration().include = "*.txt";
      form.Document1->SetDirty(true);
      form.FileSave->trigger();
      EXPECT_EQ(storedInclude(target), "*.txt");
      EXPECT_TRUE(testenv::readBytes(brc) == original);
    }
    form.FileClose->trigger();
    EXPECT_EQ(form.DocManager1->RecentlyUsed()->GetItem(0), target);
  }
}
