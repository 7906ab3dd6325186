// Undoing the last unload: the files it replaced come back from the trash,
// the files it made go there, the entries its removal took are back in the
// briefcase; a file changed since stays; a kill at any step is finished by
// the next undo.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <map>
#include <regex>
#include <set>

#include "app/history.h"
#include "app/undo.h"
#include "passthrough.h"
#include "platform/files.h"
#include "two_computers.h"

namespace {

namespace fs = std::filesystem;
using two::Strings;

// The world, then on A a.txt changed and c.txt new, loaded; on B an unload
// of everything over a.txt, its entries removed.
struct Unloaded : two::World {
  plat::FileTime dateBefore = 0;
  Unloaded() {
    write(a, "a.txt", "a2");
    write(a, "c.txt", "c1");
    EXPECT_EQ(load(a).code, archive::kOk);
    briefcase::ReadBriefcaseDate(bc, &dateBefore);
    const app::UnloadResult r = unload(b, app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
    EXPECT_TRUE(r.removed);
    EXPECT_EQ(text(b, "c.txt"), "c1");
  }

  // The entries, by name, with their CRC-32 as brc lists them.
  using Entries = std::map<std::string, uint32_t>;
  Entries entries() {
    std::string listing;
    testenv::run(std::string(CARRYVALE_BRC) + " list " + testenv::quote(bc) + " --json", &listing);
    Entries out;
    const std::regex entry("\"name\": \"([^\"]*)\".*?\"crc\": ([0-9]+)");
    for (std::sregex_iterator it(listing.begin(), listing.end(), entry), end; it != end; ++it)
      out[(*it)[1]] = static_cast<uint32_t>(std::stoul((*it)[2]));
    return out;
  }
  static uint32_t crcOf(const std::string& s) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
  }

  app::UndoResult undo() {
    auto o = open(b);
    app::UndoRequest request;
    request.localFolder = b.folder;
    request.storeConfiguration = o->store;
    return app::UndoUnload(o->engine, request);
  }

  // B's folder and the briefcase as they were before the unload.
  void expectUndone() {
    EXPECT_EQ(text(b, "a.txt"), "a1");
    EXPECT_EQ(text(b, "b.txt"), "b1");
    EXPECT_FALSE(fs::exists(b.folder + "/c.txt"));
    EXPECT_EQ(entries(),
              (Entries{{"a.txt", crcOf("a2")}, {"b.txt", crcOf("b1")}, {"c.txt", crcOf("c1")}}));
    plat::FileTime date = 0;
    briefcase::ReadBriefcaseDate(bc, &date);
    EXPECT_EQ(date, dateBefore);
    // B's files are as it last carried them: nothing to load.
    EXPECT_EQ(candidates(b), Strings{});
    as(b);
    EXPECT_NE(app::WhyNoUndo(bc, b.folder), "");
    // The bytes the unload wrote are in the trash (twice, where an undo
    // was killed between keeping a file there and putting its old one back).
    std::set<std::string> trashed;
    for (const auto& f : fs::directory_iterator(env.path("data") + "/Trash/files"))
      trashed.insert(testenv::readText(f.path().string()));
    EXPECT_EQ(trashed, (std::set<std::string>{"a2", "c1"}));
  }
};

TEST(UndoUnload, PutsBackTheFolderAndTheBriefcaseAfterARestart) {
  Unloaded w;
  w.as(w.b);
  EXPECT_EQ(app::WhyNoUndo(w.bc, w.b.folder), "");
  // Another process: brc undo, as the next session would.
  std::string out;
  EXPECT_EQ(testenv::run("CARRYVALE_COMPUTER_ID=BBBB2222 " + std::string(CARRYVALE_BRC) +
                             " undo " + testenv::quote(w.bc) + " 2>&1",
                         &out),
            0);
  EXPECT_NE(out.find("1 file put back from the trash, 1 new file moved to the trash, 3 entries "
                     "back in the briefcase."),
            std::string::npos)
      << out;
  w.expectUndone();
  const std::vector<carry::Trip> trips = app::TripHistory(w.bc);
  ASSERT_FALSE(trips.empty());
  EXPECT_EQ(trips.front().kind, carry::TripKind::kUndo);
  // Once is all.
  EXPECT_EQ(w.undo().outcome, app::UndoOutcome::NothingToUndo);
}

TEST(UndoUnload, AFileChangedSinceStaysAndIsNamed) {
  Unloaded w;
  w.write(w.b, "c.txt", "mine");
  const app::UndoResult r = w.undo();
  EXPECT_EQ(r.outcome, app::UndoOutcome::Undone);
  EXPECT_EQ(r.kept, (std::vector<std::pair<std::string, std::string>>{
                        {"c.txt", "it changed after the unload"}}));
  EXPECT_EQ(w.text(w.b, "c.txt"), "mine");
  EXPECT_EQ(w.text(w.b, "a.txt"), "a1");
  EXPECT_EQ(w.entries(), (Unloaded::Entries{{"a.txt", Unloaded::crcOf("a2")},
                                            {"b.txt", Unloaded::crcOf("b1")}}));
}

TEST(UndoUnload, AConflictCopyGoesAndItsEntryComesBackUnderItsName) {
  two::World w;
  w.write(w.a, "a.txt", "a2");
  EXPECT_EQ(w.load(w.a).code, archive::kOk);
  w.write(w.b, "a.txt", "mine");
  const app::UnloadResult r = w.unload(w.b, app::ReplaceMode::YesToAll, app::AfterUnload::Remove);
  ASSERT_EQ(r.conflictCopies.size(), 1u);
  const std::string copy = r.conflictCopies[0].second;
  EXPECT_EQ(testenv::readText(copy), "a2");
  auto o = w.open(w.b);
  app::UndoRequest request{w.b.folder, o->store};
  const app::UndoResult u = app::UndoUnload(o->engine, request);
  EXPECT_EQ(u.outcome, app::UndoOutcome::Undone);
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_EQ(w.text(w.b, "a.txt"), "mine");
  std::string listing;
  testenv::run(std::string(CARRYVALE_BRC) + " list " + testenv::quote(w.bc), &listing);
  EXPECT_NE(listing.find("a.txt"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("other"), std::string::npos) << listing;
}

TEST(UndoUnload, NothingToUndoAfterALoadOrOnAnotherComputer) {
  Unloaded w;
  // A never unloaded this briefcase.
  w.as(w.a);
  EXPECT_NE(app::WhyNoUndo(w.bc, w.a.folder), "");
  // A load on B ends what could be undone.
  w.write(w.b, "d.txt", "d1");
  EXPECT_EQ(w.load(w.b, {"d.txt"}).code, archive::kOk);
  w.as(w.b);
  EXPECT_EQ(app::WhyNoUndo(w.bc, w.b.folder),
            "There is nothing to undo: no unload of this briefcase into this folder since its "
            "last load.");
  EXPECT_EQ(w.undo().outcome, app::UndoOutcome::NothingToUndo);
  EXPECT_EQ(w.text(w.b, "c.txt"), "c1");
}

// The real file system, killing the process at its n-th step that changes
// something (n < 0: counting them).
class KillFs final : public testenv::PassThroughFs {
 public:
  explicit KillFs(int killAt) : killAt_(killAt) {}
  int steps = 0;
  void step() {
    if (steps++ == killAt_) raise(SIGKILL);
  }
  class File final : public testenv::PassThroughFile {
   public:
    File(KillFs& fs, std::unique_ptr<plat::File> f) : PassThroughFile(std::move(f)), fs_(fs) {}
    bool write(const void* b, size_t n, size_t* put) override {
      return fs_.step(), PassThroughFile::write(b, n, put);
    }
    bool truncateHere() override { return fs_.step(), PassThroughFile::truncateHere(); }
    bool sync() override { return fs_.step(), PassThroughFile::sync(); }

   private:
    KillFs& fs_;
  };
  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a,
                                   plat::Disposition d) override {
    auto f = real().open(p, a, d);
    return f ? std::make_unique<File>(*this, std::move(f)) : nullptr;
  }
  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    step();
    auto t = real().createTemp(f, pre, path);
    return t ? std::make_unique<File>(*this, std::move(t)) : nullptr;
  }
  bool remove(const std::string& p) override { return step(), real().remove(p); }
  bool rename(const std::string& a, const std::string& b) override {
    return step(), real().rename(a, b);
  }
  bool renameNoReplace(const std::string& a, const std::string& b) override {
    return step(), real().renameNoReplace(a, b);
  }
  bool setTimes(const std::string& p, const plat::FileTime* c, const plat::FileTime* a,
                const plat::FileTime* w) override {
    return step(), real().setTimes(p, c, a, w);
  }
  bool syncDir(const std::string& f) override { return step(), real().syncDir(f); }

 private:
  int killAt_;
};

// An undo killed at a step, then undone again.
void killedAt(Unloaded& w, int step, int* steps) {
  const pid_t pid = fork();
  if (pid == 0) {
    KillFs kill(step);
    plat::ScopedFileSystem use(&kill);
    w.undo();
    _exit(kill.steps > 0 && step < 0 ? 100 + std::min(kill.steps, 150) : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (steps) *steps = WIFEXITED(status) ? WEXITSTATUS(status) - 100 : 0;
  if (step >= 0 && WIFSIGNALED(status)) w.undo();
}

TEST(UndoUnload, KilledAtAnyStepTheNextUndoFinishesIt) {
  int steps = 0;
  {
    Unloaded w;
    killedAt(w, -1, &steps);
    w.expectUndone();
  }
  ASSERT_GT(steps, 0);
  // At most a dozen worlds: every step when there are few.
  const int stride = std::max(1, steps / 12);
  for (int at = 0; at < steps; at += stride) {
    SCOPED_TRACE("killed at step " + std::to_string(at) + " of " + std::to_string(steps));
    Unloaded w;
    killedAt(w, at, nullptr);
    w.expectUndone();
  }
}

}  // namespace
