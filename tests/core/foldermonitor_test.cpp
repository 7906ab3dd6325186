#include "components/foldermonitor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "component_env.h"
#include "platform/treewatch.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Counts handler calls; the test thread waits on it.
struct Calls {
  std::mutex mu;
  std::condition_variable cv;
  int count = 0;

  void hit() {
    std::lock_guard<std::mutex> g(mu);
    ++count;
    cv.notify_all();
  }
  int get() {
    std::lock_guard<std::mutex> g(mu);
    return count;
  }
  // True when the count exceeds `above` within the timeout.
  bool waitAbove(int above, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> l(mu);
    return cv.wait_for(l, timeout, [&] { return count > above; });
  }
};

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout = 5s) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

void touch(const fs::path& p) { std::ofstream(p) << ""; }

class FolderMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    // Workers of earlier tests end by themselves; start from none.
    ASSERT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
    root = fs::path(env.root()) / "local";
    fs::create_directories(root);
    monitor.SetOnChangeInFolder([this](TFolderMonitor* sender) {
      EXPECT_EQ(sender, &monitor);
      calls.hit();
    });
  }

  // Starts on `folder` and returns once the worker is seen to watch it (the
  // watch is set up on the worker, so a change made at once could be missed).
  void startOn(const fs::path& folder) {
    monitor.SetFolder(folder.string());
    monitor.SetEnabled(true);
    ASSERT_TRUE(armed(folder));
  }
  bool armed(const fs::path& folder) {
    for (int i = 0; i < 50; ++i) {
      int before = calls.get();
      touch(folder / ("probe" + std::to_string(i)));
      if (calls.waitAbove(before, 100ms)) {
        settle();
        return true;
      }
    }
    return false;
  }
  // Lets events already on their way arrive.
  void settle() { std::this_thread::sleep_for(150ms); }

  ComponentEnv env;
  fs::path root;
  Calls calls;
  TFolderMonitor monitor;
};

TEST_F(FolderMonitor, ChangesAnywhereInTheTreeFire) {
  fs::create_directories(root / "sub" / "deeper");
  startOn(root);
  int n = calls.get();
  touch(root / "sub" / "deeper" / "a.txt");
  ASSERT_TRUE(calls.waitAbove(n));

  // A folder made after the start is watched as well, and so is a whole
  // path of folders made at once.
  n = calls.get();
  fs::create_directory(root / "new");
  ASSERT_TRUE(calls.waitAbove(n));
  n = calls.get();
  touch(root / "new" / "b.txt");
  ASSERT_TRUE(calls.waitAbove(n));
  n = calls.get();
  fs::create_directories(root / "x" / "y" / "z");
  ASSERT_TRUE(calls.waitAbove(n));
  settle();
  n = calls.get();
  touch(root / "x" / "y" / "z" / "c.txt");
  ASSERT_TRUE(calls.waitAbove(n));

  // A folder moved into the tree is watched; one moved out no longer reports.
  fs::create_directories(env.root() + "/outside/inner");
  n = calls.get();
  fs::rename(env.root() + "/outside", root / "moved-in");
  ASSERT_TRUE(calls.waitAbove(n));
  settle();
  n = calls.get();
  touch(root / "moved-in" / "inner" / "d.txt");
  ASSERT_TRUE(calls.waitAbove(n));
  settle();
  n = calls.get();
  fs::rename(root / "sub", env.root() + "/gone");
  ASSERT_TRUE(calls.waitAbove(n));
  settle();
  n = calls.get();
  touch(fs::path(env.root()) / "gone" / "deeper" / "e.txt");
  settle();
  EXPECT_EQ(calls.get(), n);
}

TEST_F(FolderMonitor, WritesSizeChangesRenamesAndDeletionsFire) {
  touch(root / "f.txt");
  startOn(root);
  const std::function<void()> changes[] = {
      [&] { std::ofstream(root / "f.txt", std::ios::app) << "more"; },
      [&] { fs::resize_file(root / "f.txt", 1); },
      [&] { fs::last_write_time(root / "f.txt", fs::file_time_type::clock::now() - 1h); },
      [&] { fs::rename(root / "f.txt", root / "g.txt"); },
      [&] { fs::remove(root / "g.txt"); },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    int n = calls.get();
    changes[i]();
    EXPECT_TRUE(calls.waitAbove(n)) << "change " << i;
    settle();
  }
}

TEST_F(FolderMonitor, BurstFiresAtLeastOnce) {
  startOn(root);
  int n = calls.get();
  for (int i = 0; i < 300; ++i) touch(root / ("burst" + std::to_string(i)));
  ASSERT_TRUE(calls.waitAbove(n));
  settle();
  EXPECT_LE(calls.get() - n, 300);
}

TEST_F(FolderMonitor, AfterStopNothingFollows) {
  startOn(root);
  monitor.StopMonitoring();
  EXPECT_FALSE(monitor.Monitoring());
  int n = calls.get();
  for (int i = 0; i < 20; ++i) touch(root / ("after" + std::to_string(i)));
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
  settle();
  EXPECT_EQ(calls.get(), n);
}

TEST_F(FolderMonitor, DestroyedMonitorIsNeverCalled) {
  Calls mine;
  auto m = std::make_unique<TFolderMonitor>();
  m->SetOnChangeInFolder([&mine](TFolderMonitor*) { mine.hit(); });
  m->SetFolder(root.string());
  m->SetEnabled(true);
  ASSERT_TRUE(waitUntil([&] {
    touch(root / "probe");
    return mine.waitAbove(0, 50ms);
  }));
  // Changes pending in the worker's queue while the monitor goes away.
  for (int i = 0; i < 50; ++i) touch(root / ("pending" + std::to_string(i)));
  int n = mine.get();
  m.reset();
  int afterDestroy = mine.get();
  EXPECT_GE(afterDestroy, n);
  touch(root / "late");
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
  EXPECT_EQ(mine.get(), afterDestroy);
}

TEST_F(FolderMonitor, EnablingTwiceLeavesOneWorker) {
  monitor.SetFolder(root.string());
  monitor.SetEnabled(true);
  monitor.SetEnabled(true);
  EXPECT_TRUE(monitor.Monitoring());
  ASSERT_TRUE(armed(root));
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 1; }));
  int n = calls.get();
  fs::create_directory(root / "one change");
  ASSERT_TRUE(calls.waitAbove(n));
  settle();
  EXPECT_EQ(calls.get(), n + 1);
}

TEST_F(FolderMonitor, MissingFolderEndsTheWorkerSilently) {
  monitor.SetFolder((root / "does not exist").string());
  monitor.SetEnabled(true);
  EXPECT_TRUE(monitor.Monitoring());  // still counts as monitoring
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
  fs::create_directory(root / "does not exist");
  touch(root / "does not exist" / "a");
  settle();
  EXPECT_EQ(calls.get(), 0);
  monitor.StopMonitoring();
}

TEST_F(FolderMonitor, EmptyFolderStartsNothing) {
  monitor.SetEnabled(true);
  EXPECT_FALSE(monitor.Monitoring());
  EXPECT_EQ(TFolderMonitor::RunningWorkers(), 0);
}

TEST_F(FolderMonitor, NewFolderWhileEnabledMovesTheWatch) {
  fs::path other = fs::path(env.root()) / "other";
  fs::create_directories(other);
  startOn(root);
  monitor.SetFolder(other.string());
  EXPECT_TRUE(monitor.Monitoring());
  EXPECT_EQ(monitor.Folder(), other.string());
  ASSERT_TRUE(armed(other));
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 1; }));
  int n = calls.get();
  touch(root / "old place");
  settle();
  EXPECT_EQ(calls.get(), n);
  touch(other / "new place");
  EXPECT_TRUE(calls.waitAbove(n));
}

TEST_F(FolderMonitor, HandlerErrorOrSelfStopEndsTheWorker) {
  startOn(root);
  monitor.SetOnChangeInFolder([this](TFolderMonitor*) {
    calls.hit();
    throw std::runtime_error("handler failed");
  });
  int n = calls.get();
  touch(root / "a");
  ASSERT_TRUE(calls.waitAbove(n));
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
  EXPECT_TRUE(monitor.Monitoring());  // the monitor is not told

  monitor.SetOnChangeInFolder([this](TFolderMonitor* sender) {
    sender->StopMonitoring();  // from the worker itself: must not hang
    calls.hit();
  });
  // The first report may be the one of the changes just made (the probes).
  n = calls.get();
  monitor.SetEnabled(true);
  ASSERT_TRUE(waitUntil([&] {
    touch(root / "probe");
    return calls.waitAbove(n, 50ms);
  }));
  EXPECT_FALSE(monitor.Monitoring());
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
}

TEST_F(FolderMonitor, DeletedFolderReportsOnceAndEnds) {
  startOn(root);
  int n = calls.get();
  fs::remove_all(root);
  ASSERT_TRUE(calls.waitAbove(n));
  EXPECT_TRUE(waitUntil([] { return TFolderMonitor::RunningWorkers() == 0; }));
}

// The watches are set up on the worker, folder after folder: a change made
// in a folder before its watch is in place is reported once the watches are.
TEST_F(FolderMonitor, ChangeBeforeTheWatchIsSetIsReported) {
  fs::create_directories(root / "a" / "b" / "c");
  touch(root / "a" / "b" / "c" / "old.txt");
  auto nowNs = [] {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
  };
  const fs::path deep = root / "a" / "b" / "c";
  struct Case {
    const char* what;
    std::function<void()> change;  // made after the moment, before the watch
    bool reported;
  } cases[] = {
      {"file created in a subfolder", [&] { touch(deep / "new.txt"); }, true},
      {"file written in a subfolder", [&] { std::ofstream(deep / "old.txt", std::ios::app) << "x"; }, true},
      {"file deleted in a subfolder", [&] { fs::remove(deep / "new.txt"); }, true},
      {"nothing", [] {}, false},
  };
  for (const Case& c : cases) {
    // Status-change times are taken from a coarse clock: the moment is a
    // little before the change, as the monitor's margin makes it.
    const int64_t since = nowNs() - 50'000'000;
    std::this_thread::sleep_for(100ms);
    const int64_t quiet = nowNs();  // nothing changed after this, for "nothing"
    c.change();
    plat::TreeWatch watch;
    ASSERT_TRUE(watch.open(root.string(), c.reported ? since : quiet + 50'000'000)) << c.what;
    watch.wake();
    EXPECT_EQ(watch.wait(), c.reported ? plat::TreeWatch::Result::Changed
                                       : plat::TreeWatch::Result::Woken)
        << c.what;
  }

  // Through the monitor: a file saved just before enabling is reported
  // without any later change.
  touch(deep / "just-saved.txt");
  monitor.SetFolder(root.string());
  monitor.SetEnabled(true);
  EXPECT_TRUE(calls.waitAbove(0));
}

}  // namespace
