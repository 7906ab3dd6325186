// An unload killed at any step of its writing leaves every local file old or
// new, never partly written; what it leaves in the user's folder is
// recognisably ours, and the next unload there removes it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "archive/compress.h"
#include "archive/extract/extract.h"
#include "archive/extract/localfile.h"
#include "archive/leftovers.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/unnamed.h"
#include "testenv.h"

namespace fs = std::filesystem;

namespace {

// The real file system, killing the process at its n-th step that changes
// something (every call but reading and looking).
// How new files can be named: unnamed and linked; renamed without replacing;
// neither (no links, no rename flags: names are claimed).
enum class Naming { Unnamed, OneStep, Claimed };

class KillFs final : public plat::FileSystem, public plat::UnnamedFileSupport {
 public:
  KillFs(int killAt, Naming naming) : killAt_(killAt), naming_(naming) {}
  void step() {
    if (steps_++ == killAt_) raise(SIGKILL);
  }

  class KillFile final : public plat::File {
   public:
    KillFile(KillFs& fs, std::unique_ptr<plat::File> f) : fs_(fs), f_(std::move(f)) {}
    bool read(void* b, size_t n, size_t* got) override { return f_->read(b, n, got); }
    bool write(const void* b, size_t n, size_t* put) override { return fs_.step(), f_->write(b, n, put); }
    bool seek(int64_t d, plat::Origin o, uint64_t* p) override { return f_->seek(d, o, p); }
    bool size(uint64_t* out) override { return f_->size(out); }
    bool truncateHere() override { return fs_.step(), f_->truncateHere(); }
    bool sync() override { return fs_.step(), f_->sync(); }
    bool lockExclusive() override { return f_->lockExclusive(); }
    bool info(plat::FileInfo* out) override { return f_->info(out); }
    bool setTimes(const plat::FileTime* c, const plat::FileTime* a, const plat::FileTime* w) override {
      return fs_.step(), f_->setTimes(c, a, w);
    }
    bool setMode(uint32_t m) override { return fs_.step(), f_->setMode(m); }
    bool close() override { return fs_.step(), f_->close(); }
    plat::File& inner() { return *f_; }

   private:
    KillFs& fs_;
    std::unique_ptr<plat::File> f_;
  };

  std::unique_ptr<plat::File> wrap(std::unique_ptr<plat::File> f) {
    return f ? std::make_unique<KillFile>(*this, std::move(f)) : nullptr;
  }
  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a, plat::Disposition d) override {
    if (a != plat::Access::Read) step();
    return wrap(real().open(p, a, d));
  }
  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    step();
    return wrap(real().createTemp(f, pre, path));
  }
  std::unique_ptr<plat::File> createUnnamed(const std::string& folder) override {
    if (naming_ != Naming::Unnamed) {
      plat::setLastError(EOPNOTSUPP);
      return nullptr;
    }
    step();
    return wrap(plat::realCreateUnnamed(folder));
  }
  bool linkUnnamed(plat::File& file, const std::string& path) override {
    step();
    auto* k = dynamic_cast<KillFile*>(&file);
    return plat::realLinkUnnamed(k ? k->inner() : file, path);
  }
  bool stat(const std::string& p, plat::FileInfo* o, bool l) override { return real().stat(p, o, l); }
  bool remove(const std::string& p) override { return step(), real().remove(p); }
  bool rename(const std::string& a, const std::string& b) override { return step(), real().rename(a, b); }
  bool renameNoReplace(const std::string& a, const std::string& b) override {
    step();
    if (naming_ == Naming::Claimed) {
      plat::setLastError(EINVAL);
      return false;
    }
    return real().renameNoReplace(a, b);
  }
  bool makeDir(const std::string& p) override { return step(), real().makeDir(p); }
  bool removeDir(const std::string& p) override { return step(), real().removeDir(p); }
  bool setAttributes(const std::string& p, uint32_t a) override {
    return step(), real().setAttributes(p, a);
  }
  bool setTimes(const std::string& p, const plat::FileTime* c, const plat::FileTime* a,
                const plat::FileTime* w) override {
    return step(), real().setTimes(p, c, a, w);
  }
  bool syncDir(const std::string& f) override { return step(), real().syncDir(f); }
  bool freeSpace(const std::string& p, uint64_t* o) override { return real().freeSpace(p, o); }

 private:
  static plat::FileSystem& real() { return plat::realFileSystem(); }
  int steps_ = 0;
  int killAt_;
  Naming naming_;
};

std::string bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return s;
}

struct Fixture {
  testenv::Env env;
  std::string target = env.work() + "/local";
  std::string bc = env.work() + "/carry.brc";
  // Local files before and after: old contents ("" = none) and the entries' contents.
  std::map<std::string, std::pair<std::string, std::string>> files = {
      {"old1.txt", {"old one", bytes(100000, 1)}},
      {"new1.txt", {"", "new one"}},
      {"newdir/deeper/new2.bin", {"", bytes(70000, 2)}},
      {"sub/old2.bin", {"old two", bytes(40000, 3)}},
  };

  Fixture() {
    std::vector<craftzip::Entry> entries;
    for (const auto& [name, f] : files) {
      craftzip::Entry e;
      e.name = name;
      e.data = f.second;
      e.method = name.back() == 'n' ? 0 : 8;
      entries.push_back(e);
    }
    briefcase::TBriefcaseComment r;
    r.AddEntry(target);
    testenv::writeBytes(bc, craftzip::build(entries, r.Stored(6)).bytes);
  }
  void reset() {
    fs::remove_all(target);
    for (const auto& [name, f] : files) {
      if (f.first.empty()) continue;
      fs::create_directories(fs::path(target + "/" + name).parent_path());
      testenv::writeFile(target + "/" + name, f.first);
    }
  }
  int unload() {
    archive::TCompress c;
    c.archivePath = bc;
    c.extract.targetFolder = target;
    c.extract.callbacks.replaceQuery = [](std::string&, plat::FileTime, plat::FileTime, uint32_t,
                                          uint32_t, uint8_t& a) { a = archive::kAnswerYesToAll; };
    return archive::UnloadRun(c);
  }
  // Files under the target that are no local file of the briefcase.
  std::vector<std::string> strays() {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(target)) {
      const std::string rel = e.path().lexically_relative(target).string();
      if (!e.is_directory() && !files.count(rel)) out.push_back(rel);
    }
    return out;
  }
};

// Runs the unload in a child killed at its n-th step; true when it was killed.
bool unloadKilledAt(Fixture& f, int n, Naming naming) {
  pid_t pid = fork();
  if (pid == 0) {
    KillFs kill(n, naming);
    plat::ScopedFileSystem scoped(&kill);
    _exit(f.unload() == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0);
    return false;
  }
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// A kill inside a name claim leaves the claimed name holding its placeholder.
bool isPlaceholder(const std::string& text) {
  return text.rfind("This file is being written by Carryvale.", 0) == 0;
}

TEST(UnloadKill, EveryFileOldOrNewAndLeftoversGoWithTheNextRun) {
  for (Naming naming : {Naming::Unnamed, Naming::OneStep, Naming::Claimed}) {
    SCOPED_TRACE(static_cast<int>(naming));
    Fixture f;
    int killed = 0, leftovers = 0, placeholders = 0;
    for (int n = 0; n < 500; ++n) {
      SCOPED_TRACE(n);
      f.reset();
      const bool wasKilled = unloadKilledAt(f, n, naming);
      for (const auto& [name, content] : f.files) {
        const std::string path = f.target + "/" + name;
        const std::string now = fs::exists(path) ? testenv::readText(path) : "";
        const bool placeholder = content.first.empty() && isPlaceholder(now);
        EXPECT_TRUE(now == content.first || now == content.second || placeholder) << name;
        placeholders += placeholder;
      }
      for (const std::string& s : f.strays()) {
        int pid = 0;
        const std::string name = fs::path(s).filename().string();
        EXPECT_TRUE(archive::isTemporaryName(name, archive::TempKind::Unload, &pid) ||
                    plat::isTemporaryName(name, plat::kClaimStart, &pid))
            << s;
        ++leftovers;
      }
      // The next run puts everything in place and removes what was left.
      ASSERT_EQ(f.unload(), 0);
      for (const auto& [name, content] : f.files)
        EXPECT_EQ(testenv::readText(f.target + "/" + name), content.second) << name;
      EXPECT_TRUE(f.strays().empty());
      if (!wasKilled) break;
      ++killed;
    }
    EXPECT_GT(killed, 30);
    EXPECT_GT(leftovers, 0);  // the window exists, and the next run closes it
    EXPECT_EQ(placeholders > 0, naming == Naming::Claimed);
  }
}

TEST(UnloadKill, OnlyOurLeftoversOfProcessesThatEndedAreRemoved) {
  testenv::Env env;
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string dead = std::to_string(ended), alive = std::to_string(getppid());
  struct Name {
    std::string name;
    bool ours, removed;
  } names[] = {
      {".brc-unload-" + dead + "-a1B2c3", true, true},
      {".brc-unload-" + std::to_string(getpid()) + "-zzzzzz", true, true},  // this process
      {".brc-unload-" + alive + "-a1B2c3", true, false},                    // a run still going
      {".brc-unload-" + dead + "-a1B2c", false, false},
      {".brc-unload-" + dead + "-a1B2c3.txt", false, false},
      {".brc-unload-0" + dead + "-a1B2c3", false, false},
      {".brc-unload--a1B2c3", false, false},
      {".brcfolder", false, false},
      {"brc-unload-" + dead + "-a1B2c3", false, false},
      {".brc-new-" + dead + "-a1B2c3", false, false},  // a container's, not an unload's
      // The unload's probes, with the character they tried.
      {".brc-probe-" + dead + "-abcdef", false, true},
      {".brc-probe-" + dead + "-abcdef\xc3\xa9", false, true},
      {".brc-probe-" + alive + "-abcdef:", false, false},
      {".brc-probe-" + dead + "-abcdef.tail", false, false},
  };
  const std::string folder = env.work();
  for (const Name& n : names) {
    int pid = 0;
    EXPECT_EQ(archive::isTemporaryName(n.name, archive::TempKind::Unload, &pid), n.ours) << n.name;
    testenv::writeFile(folder + "/" + n.name, "x");
  }
  // Never a folder or a link, even under our name.
  fs::create_directory(folder + "/.brc-unload-" + dead + "-folder");
  fs::create_symlink(folder + "/.brcfolder", folder + "/.brc-unload-" + dead + "-linked");
  archive::removeLeftTemporaries(folder, archive::TempKind::Unload);
  for (const Name& n : names) EXPECT_EQ(!fs::exists(folder + "/" + n.name), n.removed) << n.name;
  EXPECT_TRUE(fs::is_directory(folder + "/.brc-unload-" + dead + "-folder"));
  EXPECT_TRUE(fs::is_symlink(folder + "/.brc-unload-" + dead + "-linked"));
  // A container's leftovers go with a sweep of their own kind.
  archive::removeLeftTemporaries(folder, archive::TempKind::Container);
  EXPECT_FALSE(fs::exists(folder + "/.brc-new-" + dead + "-a1B2c3"));

  // A name claim of a run that ended takes its placeholder with it, and
  // nothing else: not a finished file, not a claim of a run still going,
  // nothing outside the folder.
  const std::string token(32, 'T');
  struct Claim {
    std::string claim, name, content;
    bool claimGoes, fileGoes;
  } claims[] = {
      {".brc-claim-" + dead + "-aaaaaa", "a.txt", plat::placeholderText(token), true, true},
      {".brc-claim-" + dead + "-bbbbbb", "b.txt", "the finished file", true, false},
      {".brc-claim-" + dead + "-cccccc", "c.txt", plat::placeholderText(token) + "x", true, false},
      {".brc-claim-" + dead + "-ffffff", "f.txt", plat::placeholderText(token).substr(0, 9), true, true},
      {".brc-claim-" + dead + "-gggggg", "g.txt", "", true, true},  // ended before writing it
      {".brc-claim-" + alive + "-dddddd", "d.txt", plat::placeholderText(token), false, false},
      {".brc-claim-" + dead + "-eeeeee", "../outside.txt", plat::placeholderText(token), true, false},
  };
  for (const Claim& c : claims) {
    testenv::writeFile(folder + "/" + c.claim, token + "\n" + c.name);
    testenv::writeFile(folder + "/" + c.name, c.content);
  }
  archive::removeLeftTemporaries(folder, archive::TempKind::Unload);
  for (const Claim& c : claims) {
    EXPECT_EQ(!fs::exists(folder + "/" + c.claim), c.claimGoes) << c.claim;
    EXPECT_EQ(!fs::exists(folder + "/" + c.name), c.fileGoes) << c.name;
  }
}

}  // namespace
