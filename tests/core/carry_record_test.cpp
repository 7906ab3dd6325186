// The carry record's store: round trip, isolation of pairs, all-or-nothing
// under SIGKILL, a damaged file set aside, a database another process holds.

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "carry/record.h"
#include "testenv.h"

namespace {

using carry::CarryRecord;
using carry::Record;

Record sample(uint64_t n) {
  Record r;
  r.file = {n * 10, static_cast<int64_t>(n) * 1000000007LL, 0xfd01ULL, 0xffffffff00000000ULL + n};
  r.hash = carry::digestBytes(&n, sizeof n).sha256;
  r.entryCrc = static_cast<uint32_t>(0xdeadbeefu + n);
  r.entrySize = n * 7;
  r.recordedNs = 1'800'000'000'000'000'000LL + static_cast<int64_t>(n);
  return r;
}

std::string dbPath() { return CarryRecord::defaultPath(); }

TEST(CarryRecord, RoundTripAndOneTransactionPerBatch) {
  testenv::Env env;
  {
    auto rec = CarryRecord::open("uuid:1/work.brc", "/home/u/docs/");
    ASSERT_TRUE(rec->available());
    EXPECT_EQ(rec->takeWarning(), "");
    EXPECT_FALSE(rec->lookup("a.txt"));
    auto b = rec->batch();
    b.put("a.txt", sample(1));
    b.put("sub/\xff name.doc", sample(2));  // names are bytes
    b.put("gone.txt", sample(3));
    ASSERT_TRUE(b.commit());
  }
  // $XDG_STATE_HOME decides where the file lives.
  EXPECT_TRUE(std::filesystem::exists(env.path("state/carryvale/carry.db")));
  EXPECT_EQ(dbPath(), env.path("state/carryvale/carry.db"));

  auto rec = CarryRecord::open("uuid:1/work.brc", "/home/u/docs");  // trailing '/' is the same
  EXPECT_EQ(rec->lookup("a.txt"), sample(1));
  EXPECT_EQ(rec->lookup("sub/\xff name.doc"), sample(2));
  const carry::RecordSet set = rec->all();
  ASSERT_EQ(set.size(), 3u);
  EXPECT_EQ(*set.find("sub/\xff name.doc"), sample(2));
  EXPECT_EQ(set.find("sub"), nullptr);
  carry::RecordSet moved;
  moved = rec->all();  // moved into place: its short paths moved their bytes
  ASSERT_NE(moved.find("a.txt"), nullptr);
  EXPECT_EQ(*moved.find("a.txt"), sample(1));
  {
    auto b = rec->batch();
    b.remove("gone.txt");
    b.put("a.txt", sample(9));
    // destroyed without a commit: nothing of it stays
  }
  EXPECT_EQ(rec->lookup("a.txt"), sample(1));
  EXPECT_TRUE(rec->lookup("gone.txt"));
  {
    auto b = rec->batch();
    auto second = rec->batch();  // one at a time: the second stores nothing
    second.put("x", sample(4));
    EXPECT_FALSE(second.commit());
    b.remove("gone.txt");
    EXPECT_TRUE(b.commit());
  }
  EXPECT_FALSE(rec->lookup("gone.txt"));
  EXPECT_FALSE(rec->lookup("x"));
  {
    auto b = rec->batch();
    b.removeAll();
    EXPECT_TRUE(b.commit());
  }
  EXPECT_TRUE(rec->all().empty());
}

TEST(CarryRecord, PairsAreIsolated) {
  testenv::Env env;
  const std::pair<std::string, std::string> pairs[] = {
      {"uuid:1/work.brc", "/a"}, {"uuid:1/work.brc", "/b"},
      {"uuid:2/work.brc", "/a"}, {"uuid:1/copy.brc", "/a"}};
  for (size_t i = 0; i < std::size(pairs); ++i) {
    auto rec = CarryRecord::open(pairs[i].first, pairs[i].second);
    auto b = rec->batch();
    b.put("f.txt", sample(i));
    ASSERT_TRUE(b.commit());
  }
  for (size_t i = 0; i < std::size(pairs); ++i) {
    auto rec = CarryRecord::open(pairs[i].first, pairs[i].second);
    EXPECT_EQ(rec->lookup("f.txt"), sample(i)) << i;
    EXPECT_EQ(rec->all().size(), 1u) << i;
  }
  // A pair that was never written has nothing, and writes nothing by reading.
  EXPECT_TRUE(CarryRecord::open("uuid:3/work.brc", "/a")->all().empty());
}

// The history keeps each briefcase's last kHistoryTrips trips, newest first,
// with names of any bytes; it goes with the records' batch, and with the
// briefcase when a new one is made at its path.
TEST(CarryRecord, HistoryKeepsTheLastTripsOfEachBriefcase) {
  testenv::Env env;
  auto trip = [](int n) {
    carry::Trip t;
    t.atNs = 1'800'000'000'000'000'000LL + n;
    t.computer = "AAAA1111";
    t.host = "home";
    t.folder = "/a";
    t.kind = n % 2 ? carry::TripKind::kUnload : carry::TripKind::kLoad;
    t.files = 2;
    t.bytes = 1ull << 40;
    t.result = n % 3;
    t.outcome = "completed";
    t.names = {"x/" + std::to_string(n), std::string("caf\xe9.txt")};
    return t;
  };
  const int extra = 5;
  {
    auto rec = CarryRecord::open("uuid:1/work.brc", "/a");
    for (int n = 0; n < static_cast<int>(carry::kHistoryTrips) + extra; ++n)
      ASSERT_TRUE(rec->addTrip(trip(n))) << n;
    ASSERT_TRUE(CarryRecord::open("uuid:1/other.brc", "/a")->addTrip(trip(1000)));
  }
  // Another folder's view of the same briefcase sees the same history.
  const std::vector<carry::Trip> kept = CarryRecord::open("uuid:1/work.brc", "/b")->history();
  ASSERT_EQ(kept.size(), carry::kHistoryTrips);
  EXPECT_EQ(kept.front(), trip(static_cast<int>(carry::kHistoryTrips) + extra - 1));
  EXPECT_EQ(kept.back(), trip(extra));
  // A batch destroyed without a commit takes its trip with it.
  {
    auto rec = CarryRecord::open("uuid:1/other.brc", "/a");
    auto b = rec->batch();
    b.put("f.txt", sample(1));
    b.addTrip(trip(1001));
  }
  EXPECT_EQ(CarryRecord::open("uuid:1/other.brc", "/a")->history(),
            std::vector<carry::Trip>{trip(1000)});
  ASSERT_TRUE(CarryRecord::open("uuid:1/work.brc", "/a")->forgetBriefcase());
  EXPECT_TRUE(CarryRecord::open("uuid:1/work.brc", "/a")->history().empty());
  EXPECT_EQ(CarryRecord::open("uuid:1/other.brc", "/a")->history().size(), 1u);
}

// A child writes generation g of kCount records in one batch and is killed at
// a random moment: the database then holds generation g - 1 or g, whole.
TEST(CarryRecord, KillDuringCommitLeavesOldOrNew) {
  testenv::Env env;
  constexpr uint64_t kCount = 20000;
  auto writer = [&](uint64_t generation) {
    auto rec = CarryRecord::open("k", "/f");
    auto b = rec->batch();
    for (uint64_t i = 0; i < kCount; ++i) {
      Record r = sample(i);
      r.entrySize = generation;
      b.put("folder/file" + std::to_string(i), r);
    }
    _exit(b.commit() ? 0 : 3);
  };
  auto spawn = [&](uint64_t generation) {
    pid_t pid = fork();
    if (pid == 0) writer(generation);
    return pid;
  };
  // The first generation whole, timed: the kills land inside that span.
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = spawn(1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - t0);

  std::mt19937 random(24);
  uint64_t have = 1;
  int killedMidway = 0;
  for (uint64_t g = 2; g < 14; ++g) {
    pid = spawn(g);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() + 1)));
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) ++killedMidway;

    auto rec = CarryRecord::open("k", "/f");
    ASSERT_TRUE(rec->available()) << rec->takeWarning();
    auto all = rec->all();
    ASSERT_EQ(all.size(), kCount) << "generation " << g;
    const uint64_t found = all.begin()->record.entrySize;
    EXPECT_TRUE(found == have || found == g) << found;
    for (const auto& item : all) ASSERT_EQ(item.record.entrySize, found) << item.path;
    have = found;
  }
  EXPECT_GT(killedMidway, 0);
}

// Damaged files: each is kept as the next numbered copy with its bytes, one
// warning is given, and the caller starts with no record.
TEST(CarryRecord, DamagedFileIsSetAside) {
  testenv::Env env;
  const std::string db = env.path("state/carryvale/carry.db");
  {
    auto rec = CarryRecord::open("k", "/f");
    auto b = rec->batch();
    for (uint64_t i = 0; i < 2000; ++i) b.put("p" + std::to_string(i), sample(i));
    ASSERT_TRUE(b.commit());
  }
  // Folds the write-ahead log into the file, so the damage below hits data.
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
  }
  std::string pages = testenv::readText(db);
  ASSERT_GT(pages.size(), 4096u * 8);
  for (size_t i = 4096 * 3; i < 4096 * 6; ++i) pages[i] = static_cast<char>(i * 37);
  const struct {
    const char* what;
    std::string bytes;
    std::string copy;
  } cases[] = {
      {"pages overwritten", pages, db + ".1"},
      {"not a database", std::string(9000, 'x'), db + ".2"},
  };
  for (const auto& c : cases) {
    testenv::writeFile(db, c.bytes);
    std::filesystem::remove(db + "-wal");
    auto rec = CarryRecord::open("k", "/f");
    EXPECT_TRUE(rec->available()) << c.what;
    const std::string warning = rec->takeWarning();
    EXPECT_NE(warning.find(c.copy), std::string::npos) << c.what << ": " << warning;
    EXPECT_EQ(rec->takeWarning(), "") << c.what;
    EXPECT_FALSE(rec->lookup("p1")) << c.what;
    EXPECT_EQ(testenv::readText(c.copy), c.bytes) << c.what;
    // The new file works at once.
    auto b = rec->batch();
    b.put("p1", sample(1));
    EXPECT_TRUE(b.commit()) << c.what;
    EXPECT_EQ(rec->lookup("p1"), sample(1)) << c.what;
  }
  // An intact file is left as it is.
  auto rec = CarryRecord::open("k", "/f");
  EXPECT_EQ(rec->takeWarning(), "");
  EXPECT_FALSE(std::filesystem::exists(db + ".3"));
}

// Another process holds the database: the wait is bounded, the answer is
// "no record" (or "not stored") with a warning, and nothing is lost.
TEST(CarryRecord, BusyDatabaseWaitsABoundedTime) {
  testenv::Env env;
  {
    auto rec = CarryRecord::open("k", "/f");
    auto b = rec->batch();
    b.put("a", sample(1));
    ASSERT_TRUE(b.commit());
  }
  const std::string db = dbPath();
  CarryRecord::Options quick;
  quick.busyTimeoutMs = 300;
  using clock = std::chrono::steady_clock;
  const auto bounded = [](clock::time_point t0) {
    return clock::now() - t0 < std::chrono::seconds(3);
  };

  // A writer holds the write lock: reading goes on, a batch is not stored.
  {
    auto rec = CarryRecord::open("k", "/f", quick);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(rec->lookup("a"), sample(1));
    const auto t0 = clock::now();
    auto b = rec->batch();
    b.put("b", sample(2));
    EXPECT_FALSE(b.commit());
    EXPECT_TRUE(bounded(t0));
    EXPECT_NE(rec->takeWarning(), "");
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_FALSE(rec->lookup("b"));
  }
  // A process holds it exclusively: open answers "no record" with a warning.
  {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const auto t0 = clock::now();
    auto rec = CarryRecord::open("k", "/f", quick);
    EXPECT_FALSE(rec->lookup("a"));
    EXPECT_TRUE(bounded(t0));
    EXPECT_NE(rec->takeWarning(), "");
    sqlite3_close(other);
  }
  EXPECT_FALSE(std::filesystem::exists(db + ".1"));  // busy is not damage
  EXPECT_EQ(CarryRecord::open("k", "/f")->lookup("a"), sample(1));
}

}  // namespace
