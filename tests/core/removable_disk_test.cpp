// The briefcase on the disks people carry: exFAT, NTFS and FAT file systems
// mounted through the drivers a desktop uses for a stick (each test skips
// with the reason where the machine cannot mount them). The full cycle with
// brc, the trash of the stick, and runs killed at random moments.
//
// CARRYVALE_KILL_ROUNDS raises the number of killed runs per disk and kind
// of run (default 2, so that the suite stays quick).

#include "removable_disk.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "app/operations.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/state.h"
#include "archive/leftovers.h"
#include "carry/digest.h"
#include "carry/key.h"
#include "carry/record.h"
#include "carry/tracker.h"
#include "platform/unnamed.h"
#include "scriptedasker.h"
#include "testenv.h"
#include "zip_reader.h"

namespace fs = std::filesystem;
using testenv::quote;
using testenv::readText;
using testenv::writeFile;

namespace {

class RemovableDisk : public ::testing::TestWithParam<testdisk::Kind> {
 protected:
  testenv::Env env{"AAAA1111"};
  std::unique_ptr<testdisk::Mounted> disk;
  std::string stick, bag, home;

  void SetUp() override {
    std::string why;
    disk = testdisk::Mounted::make(GetParam(), 64, &why);
    if (!disk) GTEST_SKIP() << why;
    stick = disk->root();
    bag = stick + "/bag.brc";
    home = env.work() + "/home";
    fs::create_directories(home);
  }
  void TearDown() override { disk.reset(); }

  int brc(const std::string& computer, const std::string& args, std::string* out = nullptr) {
    return testenv::run("CARRYVALE_COMPUTER_ID=" + computer + " " + CARRYVALE_BRC + " " + args +
                            " 2>" + quote(env.path("stderr")) + " </dev/null",
                        out);
  }
  std::string err() { return readText(env.path("stderr")); }
};

// Names in a folder, without descending.
std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

// Files under a folder, as relative paths.
std::set<std::string> filesUnder(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out.insert(e.path().lexically_relative(folder).string());
  return out;
}

bool ourLeftover(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  int pid = 0;
  return archive::isTemporaryName(name, archive::TempKind::Unload, &pid) ||
         archive::isTemporaryName(name, archive::TempKind::Container, &pid) ||
         plat::isTemporaryName(name, plat::kClaimStart, &pid);
}

// A claimed name's placeholder, or the beginning of one (a run killed while
// writing it).
bool isPlaceholder(const std::string& text) {
  const std::string start = "This file is being written by Carryvale.";
  return text.compare(0, start.size(), start, 0, std::min(start.size(), text.size())) == 0;
}

std::string bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

int killRounds() {
  const char* v = std::getenv("CARRYVALE_KILL_ROUNDS");
  return v && std::atoi(v) > 0 ? std::atoi(v) : 2;
}

// Starts brc as a child process that a test may kill.
pid_t startBrc(const std::string& computer, const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("CARRYVALE_COMPUTER_ID", computer.c_str(), 1);
    freopen("/dev/null", "r", stdin);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    std::vector<char*> argv{const_cast<char*>(CARRYVALE_BRC)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(CARRYVALE_BRC, argv.data());
    _exit(127);
  }
  return pid;
}

// Runs brc to its end; how long it took.
std::chrono::microseconds timedBrc(const std::string& computer,
                                   const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(startBrc(computer, args), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

// Runs brc and kills it after `after`; true when it was still running then.
bool killedBrc(const std::string& computer, const std::vector<std::string>& args,
               std::chrono::microseconds after) {
  const pid_t pid = startBrc(computer, args);
  std::this_thread::sleep_for(after);
  const bool running = kill(pid, SIGKILL) == 0;
  int status = 0;
  waitpid(pid, &status, 0);
  return running && WIFSIGNALED(status);
}

// Runs brc (`run` ends in "--threads 1") to its end on as many threads as
// there are cores and on one, then killRounds() times killed at a random
// moment of the length that kind of run took, every other round on one
// thread: `reset` comes before each run, `whole` after the first, `check`
// after each killed one.
// What a computer's carry record says it carried is true of the briefcase:
// each record whose file still holds the recorded bytes names an entry of
// those bytes. A kill may leave the record behind the files, never ahead.
void expectRecordTrue(const std::string& bag, const std::string& folder) {
  archive::TCompress engine;
  engine.archivePath = bag;
  std::map<std::string, std::pair<uint32_t, uint64_t>> entries;
  engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    entries[e.displayName()] = {e.central.crc, e.central.uncompressedSize};
  };
  archive::ListRun(engine);
  auto record = carry::CarryRecord::open(carry::briefcaseKey(bag), carry::folderKey(folder));
  for (const auto& item : record->all()) {
    const std::string path(item.path);
    carry::Digest d;
    if (!carry::digestFile(folder + "/" + path, &d, nullptr) || d.sha256 != item.record.hash)
      continue;
    auto it = entries.find(path);
    ASSERT_NE(it, entries.end()) << path;
    EXPECT_EQ(it->second, std::make_pair(item.record.entryCrc, item.record.entrySize)) << path;
  }
}

void killAtRandomMoments(const std::string& computer, const std::vector<std::string>& run,
                         const std::function<void()>& reset, const std::function<void()>& whole,
                         const std::function<void()>& check) {
  const std::vector<std::string> runs[2] = {{run.begin(), run.end() - 2}, run};
  std::chrono::microseconds took[2];
  for (int kind : {0, 1}) {
    reset();
    took[kind] = timedBrc(computer, runs[kind]);
    if (kind == 0) whole();
  }
  std::mt19937 gen(std::random_device{}());
  for (int round = 0; round < killRounds(); ++round) {
    const int kind = round % 2;
    const auto at = std::chrono::microseconds(
        std::uniform_int_distribution<int64_t>(0, took[kind].count())(gen));
    SCOPED_TRACE("killed after " + std::to_string(at.count()) + " us of " +
                 std::to_string(took[kind].count()));
    reset();
    killedBrc(computer, runs[kind], at);
    check();
  }
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Kinds, RemovableDisk,
                         ::testing::Values(testdisk::Kind::ExFat, testdisk::Kind::Ntfs,
                                           testdisk::Kind::Fat),
                         [](const auto& info) { return std::string(testdisk::name(info.param)); });

// The helper's own promise: a disk that takes files, and nothing left mounted
// or on disk once it is gone.
TEST_P(RemovableDisk, MountsAndGoesAway) {
  const std::string folder = fs::path(stick).parent_path().string();
  writeFile(stick + "/a.txt", "bytes");
  EXPECT_EQ(readText(stick + "/a.txt"), "bytes");
  disk.reset();
  EXPECT_FALSE(fs::exists(folder));
}

TEST_P(RemovableDisk, TheWholeCycleWithTheBriefcaseAndAFolderOnTheStick) {
  writeFile(home + "/a.txt", "alpha");
  writeFile(home + "/c.txt", "charlie");
  writeFile(home + "/sub/b.txt", "bravo");
  ASSERT_EQ(brc("AAAA1111", "new " + quote(bag) + " --folder " + quote(home) + " --days 1"), 0)
      << err();
  // Every file keeps its time through the renames that name it (a driver
  // that stamps a renamed file with the current time loses the briefcase
  // date, and with it the files a load takes).
  const auto secondsApart = [](const std::string& a, const fs::file_time_type& b) {
    return std::abs(std::chrono::duration_cast<std::chrono::seconds>(fs::last_write_time(a) - b)
                        .count());
  };
  EXPECT_LE(secondsApart(bag, fs::file_time_type::clock::now() - std::chrono::hours(24)), 60);
  ASSERT_EQ(brc("AAAA1111", "load " + quote(bag)), 0) << err();
  ASSERT_EQ(brc("AAAA1111", "test " + quote(bag)), 0) << err();
  EXPECT_EQ(ztest::read(bag).names().size(), 3u);

  // The second computer's folder is on the stick, two of its files older.
  const std::string office = stick + "/office";
  writeFile(office + "/a.txt", "old a");
  writeFile(office + "/c.txt", "old c");
  {
    // Both times given: the exFAT driver ignores a write time set alone.
    timespec t[2];
    clock_gettime(CLOCK_REALTIME, &t[0]);
    t[0].tv_sec -= 400 * 86400;
    t[1] = t[0];
    ASSERT_EQ(utimensat(AT_FDCWD, (office + "/a.txt").c_str(), t, 0), 0);
  }
  const auto longAgo = fs::last_write_time(office + "/a.txt");
  ASSERT_EQ(brc("BBBB2222",
                "unload " + quote(bag) + " --folder " + quote(office) + " --replace none --keep"),
            0)
      << err();
  EXPECT_EQ(err().find("could not set file attributes"), std::string::npos) << err();
  EXPECT_EQ(readText(office + "/sub/b.txt"), "bravo");
  EXPECT_EQ(readText(office + "/a.txt"), "old a");
  EXPECT_LE(secondsApart(office + "/sub/b.txt", fs::last_write_time(home + "/sub/b.txt")), 2);
  // The configuration was rewritten in place on the stick: the entries are sound.
  ASSERT_EQ(brc("BBBB2222", "test " + quote(bag)), 0) << err();

  // Asked: a.txt replaced (the old one into the stick's trash), c.txt renamed.
  env.set("CARRYVALE_COMPUTER_ID", "BBBB2222");
  ScriptedAsker asker;
  plat::ScopedAsker scoped(&asker);
  archive::TCompress engine;
  engine.archivePath = bag;
  ASSERT_EQ(engine.readEndRecord(), 0);
  engine.extract.callbacks.replaceQuery = [&](std::string& path, plat::FileTime, plat::FileTime,
                                              uint32_t, uint32_t, uint8_t& answer) {
    const std::string name = fs::path(path).filename().string();
    answer = name == "a.txt"   ? archive::kAnswerYes
             : name == "c.txt" ? archive::kAnswerRename
                               : archive::kAnswerNo;
    if (name == "c.txt") path = office + "/c renamed.txt";
  };
  app::UnloadRequest request;
  request.localFolder = office;
  request.after = app::AfterUnload::Keep;
  const app::UnloadResult res = app::Unload(engine, request);
  EXPECT_EQ(res.exitCode(), 0);
  EXPECT_EQ(readText(office + "/a.txt"), "alpha");
  EXPECT_EQ(readText(office + "/c.txt"), "old c");
  EXPECT_EQ(readText(office + "/c renamed.txt"), "charlie");
  ASSERT_EQ(res.trashed.size(), 1u);
  const std::string trash = stick + "/.Trash-" + std::to_string(getuid());
  EXPECT_EQ(res.trashed[0].trashedPath, trash + "/files/a.txt");
  EXPECT_EQ(readText(trash + "/files/a.txt"), "old a");
  EXPECT_LE(secondsApart(trash + "/files/a.txt", longAgo), 2);
  EXPECT_NE(readText(trash + "/info/a.txt.trashinfo")
                .find("Path=" + plat::trashInfoPath(office) + "/a.txt\n"),
            std::string::npos);
  EXPECT_TRUE(asker.messages.empty());

  // Everything unloaded again and removed from the briefcase.
  ASSERT_EQ(brc("BBBB2222", "unload " + quote(bag) + " --replace all --remove"), 0) << err();
  EXPECT_EQ(readText(office + "/c.txt"), "charlie");
  EXPECT_EQ(readText(trash + "/files/c.txt"), "old c");
  EXPECT_TRUE(ztest::read(bag).ok);
  EXPECT_TRUE(ztest::read(bag).names().empty());
  EXPECT_EQ(filesUnder(office),
            (std::set<std::string>{"a.txt", "c.txt", "c renamed.txt", "sub/b.txt"}));
  EXPECT_EQ(namesIn(stick),
            (std::set<std::string>{"bag.brc", "office", fs::path(trash).filename().string()}));
}

// Two entries loaded from a folder that tells letter case apart, unloaded
// into a new folder on the stick: where the stick folds case one lands and
// the other stays in the briefcase, named; nothing is lost anywhere.
TEST_P(RemovableDisk, TwoEntriesWhoseNamesFoldTogetherLoseNothing) {
  writeFile(home + "/Report.txt", "upper");
  writeFile(home + "/report.txt", "lower");
  ASSERT_EQ(brc("AAAA1111", "new " + quote(bag) + " --folder " + quote(home) + " --days 1"), 0)
      << err();
  ASSERT_EQ(brc("AAAA1111", "load " + quote(bag)), 0) << err();
  const std::string office = stick + "/office";
  fs::create_directories(office);
  const int rc = brc("BBBB2222", "unload " + quote(bag) + " --folder " + quote(office) +
                                     " --replace all --remove");
  const ztest::Archive left = ztest::read(bag);
  ASSERT_TRUE(left.ok) << left.error;
  if (GetParam() == testdisk::Kind::Ntfs) {  // ntfs-3g keeps the two names apart
    EXPECT_EQ(rc, 0) << err();
    EXPECT_EQ(readText(office + "/Report.txt"), "upper");
    EXPECT_EQ(readText(office + "/report.txt"), "lower");
    EXPECT_TRUE(left.names().empty());
  } else {
    // A failed unload changes nothing in the briefcase.
    EXPECT_EQ(rc, archive::kCompressedError) << err();
    EXPECT_NE(err().find("Skipping report.txt:  " + office +
                         "/report.txt is already the file of another entry"),
              std::string::npos)
        << err();
    EXPECT_EQ(namesIn(office), std::set<std::string>{"Report.txt"});
    EXPECT_EQ(readText(office + "/Report.txt"), "upper");
    ASSERT_NE(left.find("report.txt"), nullptr);
    EXPECT_EQ(left.find("report.txt")->text(), "lower");
    EXPECT_EQ(left.names().size(), 2u);
  }
  // No trash: nothing was replaced.
  EXPECT_EQ(namesIn(stick), (std::set<std::string>{"bag.brc", "office"}));
}

// A load killed at a random moment leaves the old briefcase or the new one,
// sound, and on the stick nothing but leftovers of ours that the next load
// removes.
TEST_P(RemovableDisk, ALoadKilledAtRandomMoments) {
  std::vector<std::string> firstLoad = {"load", bag};
  for (int i = 0; i < 30; ++i) {
    firstLoad.push_back(home + "/f" + std::to_string(i) + ".bin");
    writeFile(firstLoad.back(), bytes(40000, i));
    writeFile(home + "/g" + std::to_string(i) + ".bin", bytes(40000, 100 + i));
  }
  std::vector<std::string> oldNames, newNames;
  // The briefcase holding the f files, the g files changed since.
  auto reset = [&] {
    fs::remove(bag);
    ASSERT_EQ(brc("AAAA1111", "new " + quote(bag) + " --folder " + quote(home) + " --days 1"), 0)
        << err();
    timedBrc("AAAA1111", firstLoad);
    oldNames = ztest::read(bag).names();
    const auto later = fs::file_time_type::clock::now() + std::chrono::hours(1);
    for (int i = 0; i < 30; ++i)
      fs::last_write_time(home + "/g" + std::to_string(i) + ".bin", later);
  };
  killAtRandomMoments(
      "AAAA1111", {"load", bag, "--threads", "1"}, reset,
      [&] {
        newNames = ztest::read(bag).names();
        ASSERT_EQ(newNames.size(), oldNames.size() + 30);
      },
      [&] {
        // An append cut short is undone by the next command, whichever.
        ASSERT_EQ(brc("AAAA1111", "test " + quote(bag)), 0) << err();
        const ztest::Archive a = ztest::read(bag);
        ASSERT_TRUE(a.ok) << a.error;
        EXPECT_TRUE(a.names() == oldNames || a.names() == newNames);
        for (const std::string& name : namesIn(stick))
          EXPECT_TRUE(name == "bag.brc" || ourLeftover(name)) << name;
        expectRecordTrue(bag, home);
        ASSERT_EQ(brc("AAAA1111", "load " + quote(bag)), 0) << err();
        EXPECT_EQ(ztest::read(bag).names(), newNames);
        expectRecordTrue(bag, home);
        EXPECT_EQ(namesIn(stick), std::set<std::string>{"bag.brc"});
      });
}

// An unload into a folder on the stick killed at a random moment leaves each
// file old or new (an old one possibly already in the trash, a new name
// possibly still claimed), and nothing the next unload does not remove.
TEST_P(RemovableDisk, AnUnloadKilledAtRandomMoments) {
  std::map<std::string, std::pair<std::string, std::string>> files;  // old ("" none), new
  for (int i = 0; i < 30; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    files[name] = {i % 2 ? "old " + name : "", bytes(40000, i)};
    writeFile(home + "/" + name, files[name].second);
  }
  ASSERT_EQ(brc("AAAA1111", "new " + quote(bag) + " --folder " + quote(home) + " --days 1"), 0)
      << err();
  ASSERT_EQ(brc("AAAA1111", "load " + quote(bag)), 0) << err();
  const std::string office = stick + "/office";
  const std::string trash = stick + "/.Trash-" + std::to_string(getuid());
  fs::create_directories(office);
  ASSERT_EQ(brc("BBBB2222",
                "unload " + quote(bag) + " --folder " + quote(office) + " --replace all --keep"),
            0)
      << err();
  auto reset = [&] {
    fs::remove_all(office);
    fs::remove_all(trash);
    // A fresh office folder each round, without B's record of the last
    // round's unload: NTFS gives a new folder the number of the one just
    // removed, and the record would take the old files for B's own edits,
    // which no policy replaces.
    fs::remove_all(env.path("state/carryvale"));
    for (const auto& [name, f] : files)
      if (!f.first.empty()) writeFile(office + "/" + name, f.first);
  };
  std::set<std::string> names;
  for (const auto& [name, f] : files) names.insert(name);
  const auto check = [&] {
    for (const auto& [name, f] : files) {
      SCOPED_TRACE(name);
      const std::string path = office + "/" + name;
      const std::string now = fs::exists(path) ? readText(path) : "";
      if (fs::exists(path) && (now == f.first || now == f.second)) continue;
      // A new name still claimed; an old file already moved into the trash.
      if (fs::exists(path)) {
        EXPECT_TRUE(isPlaceholder(now)) << now.size() << " bytes";
      }
      if (!f.first.empty()) {
        EXPECT_EQ(readText(trash + "/files/" + name), f.first);
      }
    }
    for (const std::string& name : namesIn(office))
      EXPECT_TRUE(files.count(name) || ourLeftover(name)) << name;
    expectRecordTrue(bag, office);
    ASSERT_EQ(brc("BBBB2222", "unload " + quote(bag) + " --replace all --keep --threads 1"), 0)
        << err();
    expectRecordTrue(bag, office);
    for (const auto& [name, f] : files) EXPECT_EQ(readText(office + "/" + name), f.second) << name;
    EXPECT_EQ(namesIn(office), names);
  };
  killAtRandomMoments(
      "BBBB2222", {"unload", bag, "--replace", "all", "--keep", "--threads", "1"}, reset, [] {},
      check);
}
