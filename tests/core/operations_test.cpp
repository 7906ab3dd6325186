// The load and unload workflows the window and brc share: questions, what
// stays in the briefcase, the trash, and kills during a replacement.

#include "app/operations.h"
#include "archive/append.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include "archive/extract/state.h"
#include "platform/strtable.h"
#include "platform/terminal.h"
#include "platform/trash.h"
#include "craftzip.h"
#include "scriptedasker.h"
#include "passthrough.h"
#include "stickfs.h"
#include "update_support.h"

using namespace utest;

namespace {

// A briefcase holding a.txt, b.txt and c.txt, and a second computer's folder.
struct Ops {
  Env e;
  Recorder r{e};
  ScriptedAsker asker;
  plat::ScopedAsker scoped{&asker};
  std::string other = e.env.root() + "/other";
  std::string trash = e.env.root() + "/data/Trash";

  Ops() {
    fs::create_directories(other);
    EXPECT_EQ(r.load({e.file("a.txt", "alpha\n"), e.file("b.txt", "bravo\n"),
                      e.file("c.txt", "charlie\n")}),
              0);
  }
  app::UnloadResult unload(app::ReplaceMode replace, app::AfterUnload after, bool trash = true,
                           app::SpaceCheck space = app::SpaceCheck::Ask) {
    app::UnloadRequest q;
    q.localFolder = other;
    q.replace = replace;
    q.after = after;
    q.trash = trash;
    q.space = space;
    q.storeConfiguration = [this] { r.engine.comment = e.comment; };
    return app::Unload(r.engine, q);
  }
  std::vector<std::string> entries() { return ztest::read(e.container).names(); }
  std::string trashInfo(const std::string& name) {
    return readAll(trash + "/info/" + name + ".trashinfo");
  }
};

TEST(Operations, TheRemovalQuestionAndWhatStays) {
  struct Case {
    const char* what;
    const char* tz;
    std::string existingA;  // "" none
    int replaceAnswer;      // for a.txt
    int removeAnswer;
    const char* question;
    plat::Icon icon;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases = {
      {"No keeps the entries, east",
       "UTC-9",
       "",
       0,
       plat::mrNo,
       "3 files were successfully unloaded.\nRemove these files from briefcase?",
       plat::Icon::Question,
       {"a.txt", "b.txt", "c.txt"}},
      {"No keeps the entries, west",
       "UTC+7",
       "",
       0,
       plat::mrNo,
       "3 files were successfully unloaded.\nRemove these files from briefcase?",
       plat::Icon::Question,
       {"a.txt", "b.txt", "c.txt"}},
      {"Yes removes them",
       "UTC",
       "",
       0,
       plat::mrYes,
       "3 files were successfully unloaded.\nRemove these files from briefcase?",
       plat::Icon::Question,
       {}},
      {"a declined file asks 723; Yes removes all",
       "UTC",
       "mine\n",
       plat::mrNo,
       plat::mrYes,
       "You did not unload all files.\nShould all selected files be removed from the briefcase?",
       plat::Icon::Warning,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ops o;
    o.e.env.set("TZ", c.tz);
    tzset();
    if (!c.existingA.empty()) writeFile(o.other + "/a.txt", c.existingA);
    o.asker.replaceAnswers = {c.replaceAnswer};
    o.asker.answers = {c.removeAnswer};
    app::UnloadResult res = o.unload(app::ReplaceMode::Ask, app::AfterUnload::Ask);
    EXPECT_EQ(res.exitCode(), 0);
    ASSERT_EQ(o.asker.messages.size(), 1u);
    EXPECT_EQ(o.asker.messages[0].text, c.question);
    EXPECT_EQ(o.asker.messages[0].caption, "Delete selected briefcase files");
    EXPECT_EQ(o.asker.messages[0].icon, c.icon);
    EXPECT_EQ(o.entries(), c.left);
    if (c.removeAnswer == plat::mrNo) {
      // The briefcase date is now, so the files just written are no candidates.
      EXPECT_TRUE(res.dated);
      const auto date = mtimeOf(o.e.container);
      for (const char* n : {"a.txt", "b.txt", "c.txt"})
        EXPECT_LE(mtimeOf(o.other + "/" + n).tv_sec, date.tv_sec) << n;
      EXPECT_GE(date.tv_sec, time(nullptr) - 5);
    }
  }
  tzset();
}

TEST(Operations, RemoveTakesOnlyEntriesWhoseBytesAreLocal) {
  Ops o;
  writeFile(o.other + "/a.txt", "mine\n");   // declined: stays
  writeFile(o.other + "/b.txt", "bravo\n");  // identical: goes
  app::UnloadResult res = o.unload(app::ReplaceMode::NoToAll, app::AfterUnload::Remove);
  EXPECT_EQ(res.exitCode(), 0);
  EXPECT_TRUE(o.asker.messages.empty());
  EXPECT_EQ(o.entries(), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(res.kept, std::vector<std::string>{"a.txt"});
  ASSERT_FALSE(res.notes.empty());
  EXPECT_EQ(res.notes.back(), "Stays in the briefcase (not unloaded): a.txt");
  EXPECT_EQ(readAll(o.other + "/a.txt"), "mine\n");
}

TEST(Operations, OfTwoEntriesForOneFileTheOneNotWrittenStays) {
  struct Case {
    const char* what;
    bool stick;  // the local folder ignores letter case (testenv::StickFs)
    std::vector<craftzip::Entry> entries;
    std::string local;  // the file's name and bytes afterwards
    std::string localBytes;
    std::string left, leftBytes;  // the entry that stays
  };
  const std::vector<Case> cases = {
      {"two entries of one name: the last is written",
       false,
       {craftzip::entry("a.txt", "old", 0), craftzip::entry("a.txt", "new", 0)},
       "a.txt", "new", "a.txt", "old"},
      {"two spellings on a disk that ignores case: the first is written",
       true,
       {craftzip::entry("Report.txt", "one", 0), craftzip::entry("report.txt", "two", 0)},
       "Report.txt", "one", "report.txt", "two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ops o;
    testenv::writeBytes(o.e.container, craftzip::build(c.entries, o.e.comment).bytes);
    testenv::StickFs stick(o.other, {});
    plat::ScopedFileSystem disk(c.stick ? &stick : nullptr);
    app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
    EXPECT_EQ(res.code, archive::kCompressedError);  // the second is refused and named
    EXPECT_EQ(listFolder(o.other), std::set<std::string>{c.local});
    EXPECT_EQ(readAll(o.other + "/" + c.local), c.localBytes);
    // Nothing was removed (the run reported a refusal), and a second run
    // that takes what was written leaves exactly the other entry.
    EXPECT_EQ(o.entries().size(), 2u);
    o.r.engine.comment = o.e.comment;
    EXPECT_EQ(app::RemoveEntries(o.r.engine, {c.local}, nullptr), 0);
    const ztest::Archive left = ztest::read(o.e.container);
    ASSERT_EQ(left.names(), std::vector<std::string>{c.left});
    EXPECT_EQ(left.entries[0].text(), c.leftBytes);
  }
}

TEST(Operations, EveryReplacedFileIsInTheTrash) {
  struct Case {
    std::string name;
    std::string encoded;  // the name as Path= ends
  };
  const std::vector<Case> cases = {{"a.txt", "/a.txt"}, {"b.txt", "/b.txt"}};
  for (bool useTrash : {true, false}) {
    SCOPED_TRACE(useTrash);
    Ops o;
    for (const Case& c : cases) writeFile(o.other + "/" + c.name, "old " + c.name);
    writeFile(o.other + "/c.txt", "charlie\n");  // identical: nothing worth keeping
    app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Keep, useTrash);
    EXPECT_EQ(res.exitCode(), 0);
    EXPECT_EQ(readAll(o.other + "/a.txt"), "alpha\n");
    if (!useTrash) {
      EXPECT_FALSE(fs::exists(o.trash + "/files/a.txt"));
      continue;
    }
    EXPECT_EQ(res.trashed.size(), cases.size());
    EXPECT_FALSE(res.trashUnavailable);
    for (const Case& c : cases) {
      EXPECT_EQ(readAll(o.trash + "/files/" + c.name), "old " + c.name);
      const std::string info = o.trashInfo(c.name);
      EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + plat::trashInfoPath(o.other) + c.encoded +
                               "\nDeletionDate=",
                           0),
                0u)
          << info;
    }
    EXPECT_EQ(listFolder(o.trash + "/files"), (std::set<std::string>{"a.txt", "b.txt"}));
  }
}

TEST(Operations, WhereNoTrashCanTakeAFileTheRunAsksBeforeReplacingIt) {
  struct Case {
    const char* name;
    app::ReplaceMode mode;
    std::vector<int> answers;  // to "Replace without a copy"
    size_t asked;
    bool aReplaced, bReplaced;
  } cases[] = {
      {"a run on a policy replaces nothing without a copy", app::ReplaceMode::YesToAll, {}, 0, false, false},
      {"Yes, then No", app::ReplaceMode::Ask, {plat::mrYes, plat::mrNo}, 2, true, false},
      {"Yes to All", app::ReplaceMode::Ask, {plat::mrYesToAll}, 1, true, true},
      {"No to All", app::ReplaceMode::Ask, {plat::mrNoToAll}, 1, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ops o;
    fs::create_directories(o.e.env.root() + "/data");
    writeFile(o.trash, "a file where the trash would be");
    writeFile(o.other + "/a.txt", "old a");
    writeFile(o.other + "/b.txt", "old b");
    o.asker.replaceAnswers = {plat::mrYes, plat::mrYes};
    o.asker.answers.assign(c.answers.begin(), c.answers.end());
    app::UnloadResult res = o.unload(c.mode, app::AfterUnload::Remove);
    EXPECT_EQ(res.code, 0);
    ASSERT_EQ(o.asker.messages.size(), c.asked);
    if (c.asked) {
      EXPECT_EQ(o.asker.messages[0].text, "The old " + o.other +
                                              "/a.txt cannot be kept (no trash can be used on its "
                                              "disk). Replacing it leaves no copy of it.\n\nReplace it anyway?");
      EXPECT_EQ(o.asker.messages[0].caption, "Replace without a copy");
      EXPECT_EQ(o.asker.messages[0].icon, plat::Icon::Warning);
    }
    EXPECT_EQ(readAll(o.other + "/a.txt"), c.aReplaced ? "alpha\n" : "old a");
    EXPECT_EQ(readAll(o.other + "/b.txt"), c.bReplaced ? "bravo\n" : "old b");
    // What was not replaced stays in the briefcase, and the run says why.
    std::vector<std::string> left = {"a.txt", "b.txt"};
    std::erase_if(left, [&](const std::string& n) { return n == "a.txt" ? c.aReplaced : c.bReplaced; });
    EXPECT_EQ(o.entries(), left);
    if (!c.aReplaced) {
      EXPECT_NE(std::find(res.notes.begin(), res.notes.end(),
                          "The old " + o.other + "/a.txt was not replaced: no trash can be used on "
                          "its disk, and replacing it would leave no copy."),
                res.notes.end());
    }
  }
}

TEST(Operations, TrashNamesAndPaths) {
  struct Case {
    std::string path, encoded;
  };
  for (const Case& c : std::vector<Case>{{"/a b/c%d.txt", "/a%20b/c%25d.txt"},
                                         {"/x/\xc3\xbc-_.~y", "/x/%C3%BC-_.~y"},
                                         {"/q?&#=\n", "/q%3F%26%23%3D%0A"}})
    EXPECT_EQ(plat::trashInfoPath(c.path), c.encoded);

  // Moving local files: each one reported; a second file of one name gets a name of its own.
  Ops o;
  writeFile(o.other + "/x.txt", "1");
  writeFile(o.other + "/sub/x.txt", "2");
  app::TrashReport rep =
      app::MoveToTrash({o.other + "/x.txt", o.other + "/sub/x.txt", o.other + "/gone.txt"});
  EXPECT_EQ(rep.moved.size(), 2u);
  ASSERT_EQ(rep.failed.size(), 1u);
  EXPECT_EQ(rep.failed[0].first, o.other + "/gone.txt");
  EXPECT_EQ(listFolder(o.trash + "/files"), (std::set<std::string>{"x.txt", "x.txt.2"}));
  EXPECT_NE(o.trashInfo("x.txt.2").find("Path=" + plat::trashInfoPath(o.other) + "/sub/x.txt\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(o.other + "/x.txt"));

  // The window's Delete: asked once with the count; No moves nothing.
  struct Ask {
    int answer;
    size_t moved;
  };
  for (const Ask& a : {Ask{plat::mrNo, 0}, Ask{plat::mrYes, 2}}) {
    writeFile(o.other + "/p.txt", "p");
    writeFile(o.other + "/q.txt", "q");
    o.asker.messages.clear();
    o.asker.answers = {a.answer};
    app::TrashReport r =
        app::DeleteLocalFiles({o.other + "/p.txt", o.other + "/q.txt", o.other + "/gone"});
    EXPECT_EQ(o.asker.messages[0].text, "Move these 3 files to the trash?");
    EXPECT_EQ(o.asker.messages[0].icon, plat::Icon::Question);
    EXPECT_EQ(r.moved.size(), a.moved);
    EXPECT_EQ(o.asker.messages.size(), a.moved ? 2u : 1u);
    if (a.moved) {
      EXPECT_EQ(o.asker.messages[1].text.rfind(
                    "These files could not be moved to the trash:\n" + o.other + "/gone (", 0),
                0u);
    }
  }
}

TEST(Operations, AKillDuringAReplacementLosesNothing) {
  enum class Stage { BeforeRename, AfterRename };
  for (Stage stage : {Stage::BeforeRename, Stage::AfterRename}) {
    SCOPED_TRACE(static_cast<int>(stage));
    Ops o;
    writeFile(o.other + "/a.txt", "old a\n");
    pid_t pid = fork();
    if (pid == 0) {
      FaultFs faults;
      auto kill = [&](const std::string&, const std::string& to) {
        if (to == o.other + "/a.txt") raise(SIGKILL);
      };
      (stage == Stage::BeforeRename ? faults.beforeRename : faults.afterRename) = kill;
      plat::ScopedFileSystem scoped(&faults);
      o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string now = readAll(o.other + "/a.txt");
    EXPECT_EQ(now, stage == Stage::BeforeRename ? "old a\n" : "alpha\n");
    // The old bytes were in the trash before the rename; the briefcase keeps every entry.
    EXPECT_EQ(readAll(o.trash + "/files/a.txt"), "old a\n");
    EXPECT_EQ(o.entries(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  }
}

TEST(Operations, FailuresReportedAsWhatTheyAre) {
  {
    SCOPED_TRACE("a read-only briefcase on --keep: 55");
    Ops o;
    FaultFs faults;
    faults.openError = [&](const std::string& p, plat::Access a) {
      return p == o.e.container && a != plat::Access::Read ? EROFS : 0;
    };
    plat::ScopedFileSystem scoped(&faults);
    app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Keep);
    EXPECT_EQ(res.code, 0);
    EXPECT_EQ(res.exitCode(), 55);
    EXPECT_TRUE(fs::exists(o.other + "/a.txt"));
  }
  {
    SCOPED_TRACE("a replacement that fails leaves nothing in the trash");
    Ops o;
    writeFile(o.other + "/a.txt", "old a\n");
    FaultFs faults;
    faults.failRename = true;
    plat::ScopedFileSystem scoped(&faults);
    app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
    EXPECT_NE(res.code, 0);
    EXPECT_TRUE(res.trashed.empty());
    EXPECT_EQ(readAll(o.other + "/a.txt"), "old a\n");
    EXPECT_TRUE(listFolder(o.trash + "/files").empty());
    EXPECT_TRUE(listFolder(o.trash + "/info").empty());
  }
  {
    SCOPED_TRACE("a folder in the way");
    Ops o;
    fs::create_directories(o.other + "/b.txt");
    app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
    EXPECT_EQ(res.outcome, app::UnloadRunOutcome::FolderInTheWay);
    EXPECT_EQ(app::noticeFor(res.outcome, "").message(),
              "Write error. A folder is in the way of one or more files.");
    EXPECT_EQ(o.entries().size(), 3u);
  }
  for (bool inTheData : {true, false}) {
    SCOPED_TRACE(inTheData ? "the briefcase's disk pulled out while a file is written"
                           : "the briefcase's disk pulled out as the new briefcase is finished");
    Ops o;
    const std::string bytes = readAll(o.e.container);
    const std::string box = plat::parentFolder(o.e.container);
    FaultFs faults;
    plat::ScopedFileSystem scoped(&faults);
    o.r.onFileProgress = [&] {
      if (inTheData) faults.pulled = box;
    };
    o.r.engine.callbacks.message = [&](const std::string& s) {
      if (!inTheData && s == plat::loadStr(8068)) faults.pulled = box;
    };
    app::LoadResult res =
        app::Load(o.r.engine, {{o.e.file("d.txt", textBytes(400000, 5))}, o.e.local, nullptr});
    faults.pulled.clear();
    EXPECT_EQ(res.outcome, app::LoadOutcome::Gone);
    EXPECT_EQ(res.code, archive::kGone);
    EXPECT_EQ(app::noticeFor(res, o.e.container).message().rfind(
                  "The disk or folder is gone: " + box + " is no longer there.\n", 0),
              0u);
    // The disk back, the next open takes back what was appended.
    std::vector<std::string> said;
    archive::undoInterruptedAppend(o.e.container, nullptr,
                                   [&](const std::string& s) { said.push_back(s); });
    EXPECT_EQ(said, std::vector<std::string>{archive::kAppendUndoneText});
    EXPECT_TRUE(readAll(o.e.container) == bytes);
    EXPECT_EQ(listFolder(box), std::set<std::string>{"b.brc"});
  }
  {
    SCOPED_TRACE("another run holds the briefcase");
    Ops o;
    int fd = ::open(o.e.container.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    pid_t pid = fork();  // the lock belongs to another process
    if (pid == 0) {
      app::LoadResult res = app::Load(o.r.engine, {{o.e.file("d.txt", "d")}, o.e.local, nullptr});
      _exit(res.outcome == app::LoadOutcome::BriefcaseBusy ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ::close(fd);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

// Each file takes whole blocks of the local disk, each folder to be made one.
TEST(Operations, TheRoomCheckCountsBlocksAndFolders) {
  struct Case {
    const char* what;
    uint64_t block, free;
    bool subfolder;     // sub/d.txt too
    bool folderThere;   // the local folder exists
    bool fits;
  } cases[] = {
      {"three small files, three blocks", 4096, 3 * 4096, false, true, true},
      {"a byte less", 4096, 3 * 4096 - 1, false, true, false},
      {"a subfolder to make", 4096, 5 * 4096 - 1, true, true, false},
      // A missing local folder is never made again: it is asked for first.
      {"the local folder gone", 4096, 100 * 4096, false, false, false},
      {"clusters of 32 KB", 32768, 3 * 32768 - 1, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ops o;
    if (c.subfolder) {
      ASSERT_EQ(o.r.load({o.e.file("sub/d.txt", "delta\n")}), 0);
    }
    if (!c.folderThere) fs::remove(o.other);
    FaultFs faults;
    faults.freeFor[o.e.env.root()] = c.free;
    faults.blockFor[o.e.env.root()] = c.block;
    plat::ScopedFileSystem scoped(&faults);
    app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Keep, true,
                                     app::SpaceCheck::Refuse);
    EXPECT_EQ(res.outcome, c.fits          ? app::UnloadRunOutcome::Unloaded
                           : c.folderThere ? app::UnloadRunOutcome::DiskFull
                                           : app::UnloadRunOutcome::FolderMissing);
    EXPECT_EQ(fs::exists(o.other + "/a.txt"), c.fits);
  }
}

// Files of one folder cannot be made (too many open files) or named (as
// where the folder may not be written).
class Refusing final : public testenv::PassThroughFs {
 public:
  std::string folder;
  int makeError = 0, nameError = 0;
  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    if (f == folder && makeError) {
      plat::setLastError(makeError);
      return nullptr;
    }
    return PassThroughFs::createTemp(f, pre, path);
  }
  bool renameNoReplace(const std::string& a, const std::string& b) override {
    if (plat::parentFolder(b) == folder && nameError) {
      plat::setLastError(nameError);
      return false;
    }
    return PassThroughFs::renameNoReplace(a, b);
  }
};

TEST(Operations, AFileThatCannotBeCreatedIsNamedWithTheReason) {
  struct Case {
    int makeError, nameError;
    app::UnloadRunOutcome outcome;
    const char* why;
  } cases[] = {
      {EMFILE, 0, app::UnloadRunOutcome::InUse, "Too many open files"},
      {0, EACCES, app::UnloadRunOutcome::ReadOnly, "Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Ops o;
    Refusing disk;
    disk.folder = o.other;
    disk.makeError = c.makeError;
    disk.nameError = c.nameError;
    plat::ScopedFileSystem scoped(&disk);
    std::vector<std::string> said;
    o.r.engine.callbacks.message = [&](const std::string& m) { said.push_back(m); };
    const app::UnloadResult res = o.unload(app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
    EXPECT_EQ(res.outcome, c.outcome);
    const std::string file = o.other + "/a.txt";
    EXPECT_NE(std::find(said.begin(), said.end(),
                        "error:  cannot create " + file + " (" + c.why + ")\n"),
              said.end());
    const std::string notice = app::noticeFor(res.outcome, "", "", res.notWritten).message();
    EXPECT_EQ(notice.rfind("Write error. These files could not be written:\n\n- " + file + " (" +
                               c.why + ")\n",
                           0),
              0u)
        << notice;
    EXPECT_EQ(o.entries().size(), 3u);
  }
}

TEST(Operations, ALoadLeavesOutFilesOf4GBWithOneWarning) {
  Ops o;
  const std::string big = o.e.local + "/big.iso";
  writeFile(big, "");
  fs::resize_file(big, 5ull << 30);  // sparse
  app::LoadResult res =
      app::Load(o.r.engine, {{big, o.e.file("d.txt", "delta"), big}, o.e.local, [&] {
                               o.r.engine.comment = o.e.comment;
                             }});
  EXPECT_EQ(res.outcome, app::LoadOutcome::Loaded);
  EXPECT_EQ(res.tooLarge.size(), 2u);
  ASSERT_EQ(o.asker.messages.size(), 1u);
  EXPECT_EQ(o.asker.messages[0].text,
            "One or more files are larger than 4 GB.\nThese files will not be loaded.");
  EXPECT_EQ(o.asker.messages[0].caption, "Warning");
  EXPECT_EQ(o.asker.messages[0].icon, plat::Icon::Warning);
  EXPECT_EQ(o.entries(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
  EXPECT_TRUE(o.r.engine.names.empty());
  EXPECT_TRUE(o.r.engine.update.baseFolder.empty());
}

TEST(Operations, AClosedTerminalStopsARunLikeCtrlC) {
  plat::installInterruptFlag();
  plat::clearInterrupt();
  raise(SIGHUP);
  EXPECT_TRUE(plat::interruptRequested());
  plat::clearInterrupt();
}

}  // namespace
