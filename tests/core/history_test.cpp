// The history of a briefcase on each computer: what each workflow adds, and
// what brc history and brc status print of it.

#include <gtest/gtest.h>

#include "app/history.h"
#include "two_computers.h"

namespace {

using carry::TripKind;
using two::Strings;

// The history of the world's briefcase on a computer, as (kind, files,
// names, outcome) newest first.
struct Seen {
  TripKind kind;
  uint64_t files;
  Strings names;
  std::string outcome;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen(two::World& w, const two::Computer& c) {
  w.as(c);
  std::vector<Seen> out;
  for (const carry::Trip& t : app::TripHistory(w.bc)) {
    Strings names = t.names;
    std::sort(names.begin(), names.end());
    out.push_back({t.kind, t.files, names, t.outcome});
    EXPECT_EQ(t.computer, c.id);
    EXPECT_EQ(t.folder, c.folder);
  }
  return out;
}

TEST(History, EveryOperationAddsATripOnItsComputer) {
  two::World w;
  // The world's load on A and unload on B.
  EXPECT_EQ(seen(w, w.a), (std::vector<Seen>{{TripKind::kLoad, 2, {"a.txt", "b.txt"}, "completed"}}));
  EXPECT_EQ(seen(w, w.b), (std::vector<Seen>{{TripKind::kUnload, 2, {"a.txt", "b.txt"}, "completed"}}));

  two::World::write(w.a, "c.txt", "c1");
  ASSERT_EQ(w.load(w.a, {"c.txt"}).code, archive::kOk);
  {
    auto o = w.open(w.a);
    ASSERT_EQ(app::DeleteEntries(o->engine, {"a.txt", "missing"}, o->store, w.a.folder), archive::kOk);
    ASSERT_EQ(app::CompactBriefcase(o->engine, w.a.folder).code, archive::kOk);
  }
  ASSERT_EQ(w.unload(w.b, app::ReplaceMode::YesToAll, app::AfterUnload::Remove).code, archive::kOk);
  {
    auto o = w.open(w.a);
    ASSERT_EQ(app::ClearBriefcase(o->engine, w.a.folder), archive::kOk);
  }
  const std::vector<Seen> onA = seen(w, w.a);
  ASSERT_EQ(onA.size(), 5u);
  EXPECT_EQ(onA[0], (Seen{TripKind::kClear, 0, {}, "completed"}));
  EXPECT_EQ(onA[1], (Seen{TripKind::kCompact, 2, {}, "completed"}));
  EXPECT_EQ(onA[2], (Seen{TripKind::kDelete, 1, {"a.txt"}, "completed"}));
  EXPECT_EQ(onA[3], (Seen{TripKind::kLoad, 1, {"c.txt"}, "completed"}));
  // The unload on B, replacing every file, wrote b.txt and c.txt (a.txt had
  // left) and took both out of the briefcase.
  const std::vector<Seen> onB = seen(w, w.b);
  ASSERT_EQ(onB.size(), 2u);
  EXPECT_EQ(onB[0].kind, TripKind::kUnload);
  EXPECT_EQ(onB[0].names, (Strings{"b.txt", "c.txt"}));
  EXPECT_EQ(onB[0].outcome, "completed, 2 entries removed from the briefcase");

  // A load that ends early is a trip too, with its result.
  two::World::write(w.a, "d.txt", "d1");
  const app::LoadResult cancelled =
      w.load(w.a, {"d.txt"}, [](archive::TCompress& e) {
        e.callbacks.cancelCheck = [](bool& cancel) { cancel = true; };
      });
  EXPECT_EQ(cancelled.code, archive::kInterrupted);
  EXPECT_EQ(seen(w, w.a).front(), (Seen{TripKind::kLoad, 0, {}, "cancelled"}));
}

TEST(History, BrcPrintsItAndStatusSaysTheLastTrip) {
  two::World w;
  w.as(w.a);
  const std::string brc = std::string(CARRYVALE_BRC) + " ";
  std::string out;
  ASSERT_EQ(testenv::run(brc + "history --json " + testenv::quote(w.bc) +
                             " | python3 -c 'import json,sys; t=json.load(sys.stdin);"
                             " print(len(t), t[0][\"operation\"], t[0][\"files\"], t[0][\"bytes\"],"
                             " sorted(t[0][\"names\"]), t[0][\"computer\"], t[0][\"outcome\"])'",
                         &out),
            0);
  EXPECT_EQ(out, "1 load 2 4 ['a.txt', 'b.txt'] AAAA1111 completed\n");
  ASSERT_EQ(testenv::run(brc + "history " + testenv::quote(w.bc), &out), 0);
  EXPECT_NE(out.find("  load of 2 files (4 bytes), completed\n    "), std::string::npos) << out;
  ASSERT_EQ(testenv::run(brc + "status " + testenv::quote(w.bc), &out), 0);
  EXPECT_NE(out.find("Last carried here: "), std::string::npos) << out;
  EXPECT_NE(out.find(", load of 2 files (4 bytes), completed\n"), std::string::npos) << out;
  // A computer that never did anything with it says so.
  w.as(two::Computer{"CCCC3333", w.env.path("stateC"), w.a.folder});
  ASSERT_EQ(testenv::run(brc + "history " + testenv::quote(w.bc), &out), 0);
  EXPECT_EQ(out, "Nothing was done with this briefcase on this computer yet.\n");
}

}  // namespace
