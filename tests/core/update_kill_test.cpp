// A run killed at any moment leaves the old container or the new one, both
// readable, and nothing else where the user works.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "archive/append.h"
#include "archive/leftovers.h"
#include "update_support.h"

using namespace utest;

namespace {

enum class Stage { Callback, Change, BeforeRename, AfterRename };

// Runs a load in a child process that kills itself at the n-th callback (or
// at a rename); returns true when the child was killed (false: it finished).
bool runKilled(Env& e, const std::vector<std::string>& names, Stage stage, int n) {
  pid_t pid = fork();
  if (pid == 0) {
    FaultFs faults;
    if (stage == Stage::BeforeRename)
      faults.beforeRename = [](const std::string&, const std::string&) { raise(SIGKILL); };
    if (stage == Stage::AfterRename)
      faults.afterRename = [](const std::string&, const std::string&) { raise(SIGKILL); };
    int events = 0;
    if (stage == Stage::Change) {
      faults.beforeChange = [&] {
        if (events++ == n) raise(SIGKILL);
      };
      faults.beforeRename = [&](const std::string&, const std::string&) { faults.beforeChange(); };
    }
    plat::ScopedFileSystem scoped(&faults);
    Recorder r(e);
    auto tick = [&] {
      if (stage == Stage::Callback && events++ == n) raise(SIGKILL);
    };
    r.engine.callbacks.message = [&](const std::string&) { tick(); };
    r.engine.callbacks.fileProgress = [&](int) { tick(); };
    r.engine.callbacks.totalProgress = [&](int) { tick(); };
    _exit(r.load(names) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0);
    return false;
  }
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  return true;
}

TEST(UpdateKill, AKilledRunLeavesTheOldOrTheNewContainer) {
  std::vector<std::string> oldNames = {"a.txt", "b.bin"};
  std::vector<std::string> newNames = {"a.txt", "b.bin", "c.txt", "d.bin"};
  int killed = 0, sawNew = 0;
  for (int n = 0; n < 400; ++n) {
    SCOPED_TRACE(n);
    Env e;
    {
      Recorder first(e);
      ASSERT_EQ(first.load({e.file("a.txt", textBytes(40000, 1)), e.file("b.bin", randomBytes(300000, 2))}), 0);
    }
    std::vector<std::string> names = {e.file("c.txt", textBytes(300000, 3)),
                                      e.file("d.bin", randomBytes(400000, 4)),
                                      e.file("a.txt", textBytes(50000, 5))};
    bool wasKilled = runKilled(e, names, Stage::Callback, n);
    ztest::Archive a = ztest::read(e.container);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_TRUE(a.names() == oldNames || a.names() == newNames);
    if (a.names() == newNames) ++sawNew;
    EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
    EXPECT_TRUE(listFolder(e.temp).empty());
    if (!wasKilled) break;
    ++killed;
  }
  EXPECT_GT(killed, 20);
  EXPECT_GE(sawNew, 1);
}

// Killed before each write, truncation, sync, time change and rename in
// turn, appending and rewriting: once the next open has undone what an
// append left, the briefcase is the old one or the new one.
TEST(UpdateKill, KilledAtEveryChange) {
  const std::vector<std::string> oldNames = {"a.txt", "b.bin"};
  const std::vector<std::string> newNames = {"a.txt", "b.bin", "c.txt"};
  for (const bool rewrite : {false, true}) {
    int killed = 0;
    for (int n = 0;; ++n) {
      SCOPED_TRACE((rewrite ? "rewrite, change " : "append, change ") + std::to_string(n));
      Env e;
      if (rewrite) e.env.set("CARRYVALE_UPDATE", "rewrite");
      {
        Recorder first(e);
        ASSERT_EQ(first.load({e.file("a.txt", textBytes(40000, 1)), e.file("b.bin", randomBytes(90000, 2))}), 0);
      }
      const std::string before = readAll(e.container);
      const bool wasKilled = runKilled(e, {e.file("c.txt", textBytes(70000, 3)), e.file("b.bin", randomBytes(90000, 2))}, Stage::Change, n);
      archive::undoInterruptedAppend(e.container, nullptr, nullptr);
      ztest::Archive a = ztest::read(e.container);
      ASSERT_TRUE(a.ok) << a.error;
      EXPECT_TRUE(a.names() == newNames || readAll(e.container) == before);
      // A rewrite killed before its rename leaves the new archive under a
      // hidden name, which the next run removes; an append leaves nothing.
      std::set<std::string> box = listFolder(e.env.root() + "/box");
      if (rewrite)
        std::erase_if(box, [](const std::string& name) {
          return archive::isTemporaryName(name, archive::TempKind::Container, nullptr);
        });
      EXPECT_EQ(box, std::set<std::string>{"b.brc"});
      if (!wasKilled) break;
      ++killed;
    }
    EXPECT_GT(killed, 3);
  }
}

TEST(UpdateKill, KilledAroundTheRename) {
  for (Stage stage : {Stage::BeforeRename, Stage::AfterRename}) {
    Env e;
    e.env.set("CARRYVALE_UPDATE", "rewrite");
    {
      Recorder first(e);
      ASSERT_EQ(first.load({e.file("a.txt", "old\n")}), 0);
    }
    ASSERT_TRUE(runKilled(e, {e.file("a.txt", "new\n"), e.file("b.txt", "b\n")}, stage, 0));
    ztest::Archive a = ztest::read(e.container);
    ASSERT_TRUE(a.ok) << a.error;
    if (stage == Stage::AfterRename) {
      EXPECT_EQ(a.find("a.txt")->text(), "new\n");
      EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
    } else {
      EXPECT_EQ(a.find("a.txt")->text(), "old\n");
      // Between naming the complete new archive and the rename a kill leaves
      // it behind under a hidden name of the dead process; the next run
      // that writes there removes it.
      std::set<std::string> box = listFolder(e.env.root() + "/box");
      box.erase("b.brc");
      ASSERT_EQ(box.size(), 1u);
      int pid = 0;
      EXPECT_TRUE(archive::isTemporaryName(*box.begin(), archive::TempKind::Container, &pid)) << *box.begin();
      e.env.set("CARRYVALE_UPDATE", "");  // an append clears it away too
      Recorder next(e);
      ASSERT_EQ(next.load({e.file("c.txt", "c\n")}), 0);
      EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
    }
  }
}

}  // namespace
