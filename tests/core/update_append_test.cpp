// Runs that append to the briefcase: when they do, that every reader then
// sees what a rewrite would leave, what they write, and how an append cut
// short is undone.

#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/append.h"
#include "archive/update/update.h"
#include "update_support.h"
#include "zip_reader.h"

using namespace utest;

namespace {

// a.txt first and larger than the configuration, b.txt after it.
void loadTwo(Env& e) {
  Recorder first(e);
  ASSERT_EQ(first.load({e.file("a.txt", textBytes(20000, 1)), e.file("b.txt", "b\n")}), 0);
}

using Step = std::function<int(Recorder&, Env&)>;

Step loadFile(const char* name, size_t size, unsigned seed) {
  return [=](Recorder& r, Env& e) { return r.load({e.file(name, randomBytes(size, seed))}); };
}

TEST(UpdateAppend, WhenARunAppendsAndWhatItLeaves) {
  const struct Case {
    const char* what;
    std::vector<Step> before;
    Step run;
    bool appends;
  } cases[] = {
      {"a new file", {}, loadFile("c.txt", 3000, 1), true},
      {"a refreshed entry", {}, loadFile("b.txt", 3000, 2), true},
      {"a delete", {}, [](Recorder& r, Env&) { return r.remove({"b.txt"}); }, true},
      {"the first entry refreshed", {}, loadFile("a.txt", 3000, 3), false},
      {"the first entry deleted", {}, [](Recorder& r, Env&) { return r.remove({"a.txt"}); }, false},
      {"a clear", {}, [](Recorder& r, Env&) { return archive::ClearBriefcase(r.engine); }, false},
      {"the rewrite asked for",
       {},
       [](Recorder& r, Env& e) {
         r.engine.update.rewrite = true;
         return r.load({e.file("c.txt", "c\n")});
       },
       false},
      // Two thirds of the file would be what the directory no longer names.
      {"past the compaction threshold",
       {loadFile("b.txt", 30000, 4), loadFile("b.txt", 30000, 5)},
       loadFile("b.txt", 30000, 6),
       false},
      {"below it", {loadFile("b.txt", 30000, 4)}, loadFile("b.txt", 30000, 5), true},
  };
  static_assert(archive::kCompactPercent == 50);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The same steps appending where they can and rewriting throughout.
    ztest::Archive result[2];
    for (const bool rewrite : {false, true}) {
      Env e;
      if (rewrite) e.env.set("CARRYVALE_UPDATE", "rewrite");
      loadTwo(e);
      for (const Step& step : c.before) {
        Recorder r(e);
        ASSERT_EQ(step(r, e), 0);
      }
      const std::string before = readAll(e.container);
      Recorder r(e);
      ASSERT_EQ(c.run(r, e), 0);
      EXPECT_EQ(r.engine.update.appended, !rewrite && c.appends);
      const std::string after = readAll(e.container);
      if (!rewrite && c.appends) {
        EXPECT_EQ(after.compare(0, before.size(), before), 0) << "a byte of the old archive changed";
      }
      result[rewrite] = ztest::read(e.container);
      ASSERT_TRUE(result[rewrite].ok) << result[rewrite].error;
      EXPECT_EQ(result[rewrite].contiguous, rewrite || !c.appends);
      EXPECT_EQ(result[rewrite].comment, e.comment);
      EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
    }
    // What a reader lists is what the rewrite gives, entry for entry.
    const ztest::Archive &a = result[0], &w = result[1];
    ASSERT_EQ(a.names(), w.names());
    for (size_t i = 0; i < a.entries.size(); ++i) {
      SCOPED_TRACE(a.entries[i].name);
      EXPECT_EQ(a.entries[i].data, w.entries[i].data);
      EXPECT_EQ(a.entries[i].method, w.entries[i].method);
      EXPECT_EQ(a.entries[i].flags, w.entries[i].flags);
      EXPECT_EQ(a.entries[i].externalAttributes, w.entries[i].externalAttributes);
    }
  }
}

// Other programs read a briefcase that appends grew as they read any other.
TEST(UpdateAppend, OtherReadersReadAnAppendedBriefcase) {
  Env e;
  loadTwo(e);
  const std::string big = randomBytes(70000, 7);
  for (const Step& step : {loadFile("c.bin", 70000, 7), loadFile("b.txt", 5000, 8)}) {
    Recorder r(e);
    ASSERT_EQ(step(r, e), 0);
    ASSERT_TRUE(r.engine.update.appended);
  }
  {
    Recorder r(e);
    ASSERT_EQ(r.remove({"b.txt"}), 0);
    ASSERT_TRUE(r.engine.update.appended);
  }
  const std::string out = e.env.root() + "/out";
  const struct {
    const char* tool;
    std::string command;
  } readers[] = {
      {"python3", "python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                  "assert z.testzip() is None\nassert z.namelist() == [\"a.txt\", \"c.bin\"], "
                  "z.namelist()\nz.extractall(sys.argv[2])' '" +
                      e.container + "' '" + out + "'"},
      {"bsdtar", "bsdtar -xf '" + e.container + "' -C '" + out + "'"},
      {"7z", "7z x -y -o'" + out + "' '" + e.container + "' >/dev/null"},
  };
  for (const auto& reader : readers) {
    SCOPED_TRACE(reader.tool);
    if (std::system((std::string("command -v ") + reader.tool + " >/dev/null 2>&1").c_str()) != 0) {
      std::printf("[  SKIPPED ] %s is not installed\n", reader.tool);
      continue;
    }
    fs::remove_all(out);
    fs::create_directories(out);
    ASSERT_EQ(std::system(reader.command.c_str()), 0);
    EXPECT_EQ(listFolder(out), (std::set<std::string>{"a.txt", "c.bin"}));
    EXPECT_EQ(readAll(out + "/a.txt"), textBytes(20000, 1));
    EXPECT_TRUE(readAll(out + "/c.bin") == big);
  }
}

// A run writes what it adds and a directory, never a copy of the container.
TEST(UpdateAppend, ARunWritesWhatItAddsAndADirectory) {
  Env e;
  {
    Recorder r(e);
    ASSERT_EQ(r.load({e.file("a.bin", randomBytes(4 << 20, 9)), e.file("b.txt", "b\n")}), 0);
  }
  const uint64_t n = 200000;
  const struct {
    const char* what;
    Step run;
    uint64_t atMost;
  } cases[] = {
      {"a load", loadFile("c.bin", n, 10), n + 65536},
      {"a delete", [](Recorder& r, Env&) { return r.remove({"b.txt"}); }, 65536},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FaultFs faults;
    const int64_t budget = int64_t(1) << 40;
    faults.writeBudget = budget;
    faults.budgetPath = e.container;
    plat::ScopedFileSystem scoped(&faults);
    Recorder r(e);
    ASSERT_EQ(c.run(r, e), 0);
    EXPECT_TRUE(r.engine.update.appended);
    EXPECT_LE(uint64_t(budget - faults.writeBudget), c.atMost);
    EXPECT_EQ(faults.tempsCreated, 0);
  }
}

// A compaction stopped leaves the briefcase as it was; one that ends
// frees what the appends left, to the byte it says, and keeps the date.
TEST(UpdateAppend, ACompactionIsCancellableAndKeepsTheDate) {
  Env e;
  loadTwo(e);
  {
    Recorder r(e);
    ASSERT_EQ(loadFile("b.txt", 9000, 12)(r, e), 0);
    ASSERT_TRUE(r.engine.update.appended);
  }
  setMtime(e.container, 1700000000);
  const std::string before = readAll(e.container);
  Recorder stopped(e);
  stopped.cancelAtCheck = 0;
  EXPECT_EQ(archive::Compact(stopped.engine), archive::kInterrupted);
  EXPECT_TRUE(readAll(e.container) == before);
  Recorder r(e);
  ASSERT_EQ(archive::Compact(r.engine), 0);
  const ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_TRUE(a.contiguous);
  EXPECT_EQ(a.names(), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(r.engine.update.freedBytes, before.size() - fs::file_size(e.container));
  EXPECT_GT(r.engine.update.freedBytes, 0u);
  EXPECT_EQ(mtimeOf(e.container).tv_sec, 1700000000);
}

// An append cut short anywhere is undone by the next open, once: the
// briefcase as it was, to the byte and the time.
TEST(UpdateAppend, AnAppendCutShortIsUndoneOnce) {
  Env e;
  loadTwo(e);
  const std::string before = readAll(e.container);
  const timespec dated = mtimeOf(e.container);
  {
    Recorder r(e);
    ASSERT_EQ(r.load({e.file("c.bin", randomBytes(50000, 11))}), 0);
  }
  const std::string appended = readAll(e.container);
  for (const size_t cut : {before.size() + archive::AppendMarker::kSize, before.size() + 100,
                           before.size() + 30000, appended.size() - 1}) {
    SCOPED_TRACE(cut);
    writeFile(e.container, appended.substr(0, cut));
    std::vector<std::string> said;
    const auto sink = [&](const std::string& s) { said.push_back(s); };
    EXPECT_EQ(archive::undoInterruptedAppend(e.container, nullptr, sink), archive::AppendRepair::Undone);
    EXPECT_EQ(archive::undoInterruptedAppend(e.container, nullptr, sink), archive::AppendRepair::Intact);
    EXPECT_EQ(said, std::vector<std::string>{archive::kAppendUndoneText});
    EXPECT_TRUE(readAll(e.container) == before);
    EXPECT_EQ(mtimeOf(e.container).tv_sec, dated.tv_sec);
  }
  // A complete append and a briefcase that never had one stay as they are.
  for (const std::string& bytes : {appended, before}) {
    writeFile(e.container, bytes);
    EXPECT_EQ(archive::undoInterruptedAppend(e.container, nullptr, nullptr), archive::AppendRepair::Intact);
    EXPECT_TRUE(readAll(e.container) == bytes);
  }
}

}  // namespace
