// Deletions that travel: a file A carried and deleted goes, on B, to the
// trash while B's copy holds the bytes both last carried; a copy changed on
// B stays; with the option off nothing travels.

#include <gtest/gtest.h>

#include "app/deletions.h"
#include "app/undo.h"
#include "two_computers.h"

namespace {

namespace fs = std::filesystem;

TEST(CarryDeletions, ADeletionTravelsOnlyWithTheOptionAndNeverOverAChange) {
  const struct {
    const char* name;
    bool option;       // Options > Carry deletions on A
    bool changedOnB;   // B changed its a.txt after carrying it
    app::DeletionAnswer answer;  // how B's unload decides (Ask: the user says No)
    bool goneOnB;      // B's a.txt is in the trash afterwards
  } cases[] = {
      {"carried", true, false, app::DeletionAnswer::Yes, true},
      {"asked, kept", true, false, app::DeletionAnswer::Ask, false},
      {"changed on B", true, true, app::DeletionAnswer::Yes, false},
      {"option off", false, false, app::DeletionAnswer::Yes, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    two::World w;
    w.as(w.a);
    ASSERT_TRUE(app::SetCarriesDeletions(w.bc, c.option));
    fs::remove(w.a.folder + "/a.txt");
    auto o = w.open(w.a);
    app::LoadRequest load{{}, w.a.folder, o->store};
    load.deletions = app::DeletionsToCarry(w.bc, w.a.folder, false);
    const app::LoadResult l = app::Load(o->engine, load);
    o.reset();
    EXPECT_EQ(l.deletionsCarried, c.option ? two::Strings{"a.txt"} : two::Strings{});
    EXPECT_EQ(app::CarriedDeletions(w.bc).size(), c.option ? 1u : 0u);
    // Its entry, of the bytes A carried, left with it: no unload brings it back.
    std::string listing;
    testenv::run(std::string(CARRYVALE_BRC) + " list " + testenv::quote(w.bc), &listing);
    EXPECT_EQ(listing.find("a.txt") == std::string::npos, c.option) << listing;
    // The deletion is A's to carry once: the next load takes nothing.
    EXPECT_TRUE(app::DeletionsToCarry(w.bc, w.a.folder, false).empty() || !c.option);

    if (c.changedOnB) w.write(w.b, "a.txt", "changed on B");
    auto ob = w.open(w.b);
    app::UnloadRequest unload;
    unload.localFolder = w.b.folder;
    unload.replace = app::ReplaceMode::NoToAll;
    unload.after = app::AfterUnload::Keep;
    unload.space = app::SpaceCheck::Refuse;
    unload.storeConfiguration = ob->store;
    unload.deletions = c.answer;
    w.asker.messages.clear();
    w.asker.answers = {plat::mrNo};
    const app::UnloadResult u = app::Unload(ob->engine, unload);
    if (c.answer == app::DeletionAnswer::Ask) {
      ASSERT_EQ(w.asker.messages.size(), 1u);
      EXPECT_EQ(w.asker.messages[0].text,
                "a.txt was deleted on the other computer.\n\nMove it to the trash here too?");
      EXPECT_EQ(w.asker.messages[0].caption, "Carried deletion");
      EXPECT_EQ(w.asker.messages[0].icon, plat::Icon::Question);
      EXPECT_EQ(u.deletionsDeclined, two::Strings{"a.txt"});
    }
    ob.reset();
    EXPECT_EQ(fs::exists(w.b.folder + "/a.txt"), !c.goneOnB);
    EXPECT_EQ(u.deletedHere, c.goneOnB ? two::Strings{"a.txt"} : two::Strings{});
    EXPECT_EQ(u.deletionsKept, c.changedOnB ? two::Strings{"a.txt"} : two::Strings{});
    if (c.changedOnB) {
      EXPECT_EQ(w.text(w.b, "a.txt"), "changed on B");
    }
    // Decided rows leave the briefcase; b.txt is untouched everywhere.
    EXPECT_TRUE(app::CarriedDeletions(w.bc).empty());
    EXPECT_EQ(w.text(w.b, "b.txt"), "b1");
    if (c.goneOnB) {
      const std::string trashed = w.env.path("data") + "/Trash/files/a.txt";
      EXPECT_EQ(testenv::readText(trashed), "a1");
      // Undo Unload brings the file back and the deletion into the briefcase.
      auto again = w.open(w.b);
      const app::UndoResult undone =
          app::UndoUnload(again->engine, app::UndoRequest{w.b.folder, again->store});
      EXPECT_EQ(undone.restored, two::Strings{"a.txt"});
      EXPECT_EQ(w.text(w.b, "a.txt"), "a1");
      EXPECT_EQ(app::CarriedDeletions(w.bc).size(), 1u);
    }
  }
}

}  // namespace
