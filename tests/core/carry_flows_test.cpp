// Two computers and one briefcase, through the flows that once left a change
// behind (the briefcase date moved past it) and the files changed on both
// computers. Each computer has its own id and its own state folder, so its
// own carry record; the workflows are the ones the window and brc share.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "app/localscan.h"
#include "app/operations.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "briefcase/brdate.h"
#include "briefcase/open.h"
#include "carry/tracker.h"
#include "passthrough.h"
#include "platform/errors.h"
#include "scriptedasker.h"
#include "testenv.h"
#include "two_computers.h"
#include "zip_reader.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

using two::Computer;
using two::World;

// A file layer that fails to open one path, or changes a file once it has
// been read to its end (as an editor saving it during the load).
class Meddler : public testenv::PassThroughFs {
 public:
  std::string refuse, change;
  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a,
                                   plat::Disposition d) override {
    if (p == refuse) {
      plat::setLastError(EACCES);
      return nullptr;
    }
    auto f = real().open(p, a, d);
    if (!f || p != change || a != plat::Access::Read) return f;
    change.clear();  // once
    return std::make_unique<ChangedAtEnd>(std::move(f), p);
  }

 private:
  class ChangedAtEnd : public testenv::PassThroughFile {
   public:
    ChangedAtEnd(std::unique_ptr<plat::File> f, std::string path)
        : PassThroughFile(std::move(f)), path_(std::move(path)) {}
    ~ChangedAtEnd() override { testenv::writeFile(path_, "saved during the load"); }

   private:
    std::string path_;
  };
};

}  // namespace

// After each flow, every change on A that was not carried is a candidate
// again (and nothing else is).
TEST(CarryFlows, NoFlowLeavesAChangeBehind) {
  const struct {
    const char* flow;
    std::function<void(World&)> run;
    Strings candidates;  // A's, afterwards
  } cases[] = {
      {"partial load",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         w.write(w.a, "b.txt", "b2");
         EXPECT_EQ(w.load(w.a, {"a.txt"}).code, archive::kOk);
       },
       {"b.txt"}},
      {"a new file and a partial load",
       [](World& w) {
         w.write(w.a, "c.txt", "c1");
         w.write(w.a, "a.txt", "a2");
         EXPECT_EQ(w.load(w.a, {"a.txt"}).code, archive::kOk);
       },
       {"c.txt"}},
      {"delete an entry",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         EXPECT_EQ(w.remove(w.a, {"b.txt"}), archive::kOk);
       },
       {"a.txt"}},
      {"clear",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         EXPECT_EQ(w.remove(w.a, {"a.txt", "b.txt"}), archive::kOk);
       },
       {"a.txt"}},
      {"unload with removal",
       [](World& w) {
         w.write(w.b, "b.txt", "b2");
         EXPECT_EQ(w.load(w.b).code, archive::kOk);
         w.write(w.a, "a.txt", "a2");
         EXPECT_EQ(w.unload(w.a, app::ReplaceMode::YesToAll, app::AfterUnload::Remove).code,
                   archive::kOk);
         EXPECT_EQ(w.text(w.a, "a.txt"), "a2");  // newer here: no policy replaces it
         EXPECT_EQ(w.text(w.a, "b.txt"), "b2");
       },
       {"a.txt"}},
      {"unload keeping the entries",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         EXPECT_EQ(w.unload(w.a, app::ReplaceMode::YesToAll, app::AfterUnload::Keep).code,
                   archive::kOk);
       },
       {"a.txt"}},
      {"a load that could not read a file",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         w.write(w.a, "c.txt", "c1");
         Meddler m;
         m.refuse = w.a.folder + "/c.txt";
         plat::ScopedFileSystem use(&m);
         EXPECT_EQ(w.load(w.a).code, archive::kFileNotReadable);
       },
       {"c.txt"}},
      {"a cancelled load",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         const app::LoadResult r = w.load(w.a, {}, [](archive::TCompress& e) {
           e.callbacks.cancelCheck = [](bool& cancel) { cancel = true; };
         });
         EXPECT_EQ(r.code, archive::kInterrupted);
       },
       {"a.txt"}},
      {"a file saved while it was loaded",
       [](World& w) {
         w.write(w.a, "a.txt", "a2, longer");  // a new size: the scan does not read it
         Meddler m;
         m.change = w.a.folder + "/a.txt";
         plat::ScopedFileSystem use(&m);
         const app::LoadResult r = w.load(w.a);
         // The load says so: the engine saw it (28), or the record did.
         EXPECT_TRUE(r.code == archive::kFileNotReadable ||
                     r.changedMeanwhile == Strings{w.a.folder + "/a.txt"});
       },
       {"a.txt"}},
      {"the briefcase date set to now",
       [](World& w) {
         w.write(w.a, "a.txt", "a2");
         EXPECT_EQ(app::StampBriefcaseDate(w.bc), archive::kOk);
       },
       {"a.txt"}},
      {"touched, not changed",
       [](World& w) {
         w.write(w.a, "a.txt", "a1");
         EXPECT_EQ(app::StampBriefcaseDate(w.bc), archive::kOk);
       },
       {}},
  };
  for (const auto& c : cases) {
    for (const bool encrypted : {false, true}) {
      SCOPED_TRACE(std::string(c.flow) + (encrypted ? ", encrypted" : ""));
      World w(encrypted ? std::optional<std::string>("secret") : std::nullopt);
      EXPECT_EQ(w.candidates(w.a), Strings{});
      c.run(w);
      EXPECT_EQ(w.candidates(w.a), c.candidates);
    }
  }
}

// A file both computers changed since it was last carried: each policy and
// each answer, on B, after A loaded its version.
TEST(CarryFlows, AConflictIsNeverSettledByAPolicy) {
  const struct {
    const char* how;
    app::ReplaceMode mode;
    std::deque<int> answers;
    std::string local;  // B's a.txt afterwards
    bool copy;          // A's version beside it
  } cases[] = {
      {"all", app::ReplaceMode::YesToAll, {}, "a-B", true},
      {"none", app::ReplaceMode::NoToAll, {}, "a-B", false},
      {"yes", app::ReplaceMode::Ask, {plat::mrYes}, "a-A", false},
      {"yes to all", app::ReplaceMode::Ask, {plat::mrYesToAll}, "a-B", true},
      {"no", app::ReplaceMode::Ask, {plat::mrNo}, "a-B", false},
  };
  for (const auto& c : cases) {
    for (const bool encrypted : {false, true}) {
      SCOPED_TRACE(std::string(c.how) + (encrypted ? ", encrypted" : ""));
      World w(encrypted ? std::optional<std::string>("secret") : std::nullopt);
      w.write(w.a, "a.txt", "a-A");
      ASSERT_EQ(w.load(w.a).code, archive::kOk);
      w.write(w.b, "a.txt", "a-B");
      w.write(w.b, "b.txt", "b-B");  // the entry is what B carried: newer here
      w.asker.replaceAnswers = c.answers;
      const app::UnloadResult r = w.unload(w.b, c.mode, app::AfterUnload::Keep);
      EXPECT_EQ(r.code, archive::kOk);
      EXPECT_EQ(w.text(w.b, "a.txt"), c.local);
      EXPECT_EQ(w.text(w.b, "b.txt"), "b-B");
      const std::string copy =
          "a (conflict from AAAA1111 " + carry::conflictDay(plat::nowFileTime()) + ").txt";
      EXPECT_EQ(fs::exists(w.b.folder + "/" + copy), c.copy);
      if (c.copy) {
        EXPECT_EQ(w.text(w.b, copy), "a-A");
      }
      if (c.mode == app::ReplaceMode::Ask) {
        ASSERT_FALSE(w.asker.replaces.empty());
        EXPECT_EQ(w.asker.replaces[0].note, archive::kBothChangedNote);
      }
      // What B keeps of its own travels on; so does the copy.
      Strings expected;
      if (c.local == "a-B") expected.push_back("a.txt");
      if (c.copy) expected.push_back(copy);
      expected.push_back("b.txt");
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(w.candidates(w.b), expected);
      if (encrypted) {
        EXPECT_EQ(ztest::read(w.bc).entries.at(0).method, archive::aes::kMethodAes);
      }
    }
  }
}

// Where the record cannot help, the briefcase date decides as it always did:
// A edits a.txt after the briefcase date, and b.txt stays as carried.
TEST(CarryFlows, WithoutARecordTheDatesDecide) {
  const struct {
    const char* when;
    std::function<void(World&)> before;  // before the edit
    std::string warning;                 // the record's, in part
  } cases[] = {
      {"no state file", [](World& w) { fs::remove_all(w.a.state); }, ""},
      {"a damaged state file",
       [](World& w) {
         const std::string db = w.a.state + "/carryvale/carry.db";
         fs::remove(db + "-wal");
         fs::remove(db + "-shm");
         testenv::writeFile(db, std::string(8192, 'x'));
       },
       "was damaged; it was kept as"},
      {"the local folder moved",
       [](World& w) {
         fs::rename(w.a.folder, w.a.folder + "2");
         w.a.folder += "2";
       },
       ""},
      {"the briefcase copied to a second name",
       [](World& w) {
         fs::copy_file(w.bc, w.bc + "2.brc");
         w.bc += "2.brc";
       },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    World w;
    EXPECT_EQ(app::StampBriefcaseDate(w.bc), archive::kOk);
    c.before(w);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    w.write(w.a, "a.txt", "a2");
    plat::FileTime date = 0;
    briefcase::ReadBriefcaseDate(w.bc, &date);
    w.as(w.a);
    app::ScanRules rules = app::RulesFor(w.open(w.a)->record, w.a.folder, date);
    const auto tracker = app::TrackFor(w.bc, &rules);
    EXPECT_EQ(tracker->takeWarning().find(c.warning) != std::string::npos, true)
        << tracker->takeWarning();
    EXPECT_EQ(w.candidates(w.a), Strings{"a.txt"});
    if (!c.warning.empty()) {
      EXPECT_TRUE(fs::exists(w.a.state + "/carryvale/carry.db.1"));
    }
  }
}

// brc status names the states and, with --why, the rule behind each side.
TEST(CarryFlows, StatusSaysWhichRuleDecided) {
  World w;
  w.write(w.a, "a.txt", "a-A");
  ASSERT_EQ(w.load(w.a).code, archive::kOk);
  w.write(w.b, "a.txt", "a-B");
  w.write(w.b, "b.txt", "b-B");
  const std::string brc = std::string("CARRYVALE_COMPUTER_ID=BBBB2222 XDG_STATE_HOME=") +
                          w.b.state + " " + CARRYVALE_BRC + " status " + testenv::quote(w.bc);
  std::string json, why;
  ASSERT_EQ(testenv::run(brc + " --json", &json), 0);
  EXPECT_NE(json.find("{\"name\": \"a.txt\", \"folder\": \"\", \"size\": 3, \"time\": "),
            std::string::npos)
      << json;
  for (const char* state : {"\"state\": \"conflict\"", "\"state\": \"newer here\""})
    EXPECT_NE(json.find(state), std::string::npos) << state << "\n" << json;
  ASSERT_EQ(testenv::run(brc + " --why a.txt", &why), 0);
  EXPECT_EQ(why,
            "a.txt\n"
            "  Local file: candidate\n"
            "    record: the file's content is not what this computer last carried\n"
            "  Briefcase entry: conflict\n"
            "    conflict: both computers changed this file since it was last carried\n");
}
