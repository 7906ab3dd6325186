// The unload on several threads: the same files, outcomes, results and
// callbacks (in the same order) as on one thread, for a container that mixes
// every kind of entry, questions and cancels; a write failure while workers
// are busy ends the run cleanly with no thread left behind.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <cerrno>
#include <filesystem>
#include <map>
#include <thread>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "platform/ask.h"
#include "passthrough.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "testenv.h"

namespace fs = std::filesystem;
using craftzip::Entry;

namespace {

Entry file(const std::string& name, const std::string& data, uint16_t method = 8) {
  return craftzip::entry(name, data, method);
}

std::string noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (auto& ch : s) {
    seed = seed * 1664525u + 1013904223u;
    ch = static_cast<char>(seed >> 24);
  }
  return s;
}

std::string text(size_t n, int seed) {
  std::string s;
  while (s.size() < n) s += "line " + std::to_string(seed++) + " of some text\n";
  s.resize(n);
  return s;
}

// Threads of this process (a thread started and joined first, so that a
// sanitizer's own helper thread is already counted).
size_t threadCount() {
  static const bool warmed = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmed;
  size_t n = 0;
  for ([[maybe_unused]] auto& t : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// What one unload did: its result, every callback in order, each entry's
// outcome and the files and folders it left (mode; a file's time and content).
struct Observed {
  int result = 0;
  std::vector<std::string> log;
  std::vector<int> outcomes;
  std::map<std::string, std::string> tree;
  bool notAll = false;
  uint32_t written = 0;
};

// The real file system, thread-safe, on which a write of data that starts
// with "FAIL" finds the disk full. It offers no unnamed files, so the
// named temporary files are used.
class FailingWrites final : public testenv::PassThroughFs {
 public:
  std::atomic<int> failures{0};
  bool threadSafe() const override { return true; }

  class Failing final : public testenv::PassThroughFile {
   public:
    Failing(std::unique_ptr<plat::File> f, FailingWrites& owner)
        : PassThroughFile(std::move(f)), o_(owner) {}
    bool write(const void* b, size_t n, size_t* put) override {
      if (n >= 4 && std::memcmp(b, "FAIL", 4) == 0) {
        ++o_.failures;
        *put = 0;
        plat::setLastError(ENOSPC);
        return false;
      }
      return PassThroughFile::write(b, n, put);
    }

   private:
    FailingWrites& o_;
  };

  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    auto file = real().createTemp(f, pre, path);
    return file ? std::make_unique<Failing>(std::move(file), *this) : nullptr;
  }
};

// The real file system, thread-safe, on which reading the briefcase's bytes
// from `failFrom` on (a stretch of 64 KB) fails.
class FailingReads final : public testenv::PassThroughFs {
 public:
  uint64_t failFrom = 0;
  bool threadSafe() const override { return true; }

  class Failing final : public testenv::PassThroughFile {
   public:
    Failing(std::unique_ptr<plat::File> f, uint64_t from) : PassThroughFile(std::move(f)), from_(from) {}
    bool read(void* b, size_t n, size_t* got) override {
      uint64_t at = 0;
      return seek(0, plat::Origin::Current, &at) && check(at, n, got) &&
             PassThroughFile::read(b, n, got);
    }
    bool readAt(uint64_t at, void* b, size_t n, size_t* got) override {
      return check(at, n, got) && PassThroughFile::readAt(at, b, n, got);
    }

   private:
    bool check(uint64_t at, size_t n, size_t* got) {
      if (at + n <= from_ || at >= from_ + 65536) return true;
      *got = 0;
      plat::setLastError(EIO);
      return false;
    }
    uint64_t from_;
  };

  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a,
                                   plat::Disposition d) override {
    auto f = real().open(p, a, d);
    if (f && p.size() > 4 && p.compare(p.size() - 4, 4, ".brc") == 0)
      return std::make_unique<Failing>(std::move(f), failFrom);
    return f;
  }
};

class UnloadThreads : public ::testing::Test {
 protected:
  testenv::Env env;
  std::string bc = env.work() + "/carry.brc";
  int run = 0;

  void write(const std::vector<Entry>& entries) {
    briefcase::TBriefcaseComment r;
    r.AddEntry(env.work() + "/local");
    testenv::writeBytes(bc, craftzip::build(entries, r.Stored(6)).bytes);
  }

  // Unloads into a fresh folder (made by `setup`) with the given threads.
  // `answers`: the replace questions' answers in turn ('y', 'n', 'r' rename,
  // 'c' cancel); `cancelAt`: the cancel check that cancels (0: none).
  Observed unload(unsigned threads, const std::string& answers, int cancelAt,
                  const std::function<void(const std::string&)>& setup) {
    const std::string target = env.work() + "/local" + std::to_string(++run);
    fs::create_directories(target);
    if (setup) setup(target);
    Observed o;
    const auto shown = [&](std::string s) {
      for (size_t at; (at = s.find(target)) != std::string::npos;) s.replace(at, target.size(), "<T>");
      return s;
    };
    archive::TCompress c;
    c.archivePath = bc;
    c.extract.targetFolder = target;
    c.extract.threads = threads;
    c.callbacks.message = [&](const std::string& s) { o.log.push_back("msg " + shown(s)); };
    c.callbacks.totalProgress = [&](int p) { o.log.push_back("total " + std::to_string(p)); };
    c.callbacks.fileProgress = [&](int p) { o.log.push_back("file " + std::to_string(p)); };
    int checks = 0;
    bool stop = false;
    c.callbacks.cancelCheck = [&](bool& cancel) {
      o.log.push_back("check");
      cancel = stop || ++checks == cancelAt;
    };
    size_t asked = 0;
    c.extract.callbacks.replaceQuery = [&](std::string& path, plat::FileTime, plat::FileTime,
                                           uint32_t, uint32_t, uint8_t& answer) {
      o.log.push_back("ask " + shown(path));
      const char a = asked < answers.size() ? answers[asked++] : 'n';
      answer = a == 'y' ? archive::kAnswerYes : a == 'r' ? archive::kAnswerRename : archive::kAnswerNo;
      if (a == 'r') path = target + "/renamed/" + fs::path(path).filename().string();
      if (a == 'c') stop = true;
    };
    c.extract.callbacks.beforeReplace = [&](const archive::TExtractEntry& e, const std::string& p) {
      o.log.push_back("replace " + e.displayName() + " " + shown(p));
      return archive::OldFile::Stays;
    };
    c.extract.callbacks.entryWritten = [&](const archive::TExtractEntry& e, const std::string& p) {
      o.log.push_back("written " + e.displayName() + " " + shown(p));
    };
    o.result = archive::UnloadRun(c);
    for (const auto& e : c.extract.entries) o.outcomes.push_back(static_cast<int>(e.outcome));
    o.notAll = c.extract.notAllUnloaded;
    o.written = c.extract.filesWritten;
    for (auto& f : fs::recursive_directory_iterator(target)) {
      struct stat st;
      ::lstat(f.path().c_str(), &st);
      // A folder's time is when it was made: only its mode is compared.
      std::string what = std::to_string(st.st_mode);
      if (f.is_regular_file()) {
        what += " " + std::to_string(st.st_mtim.tv_sec);
        const auto b = testenv::readBytes(f.path().string());
        const std::string data(b.begin(), b.end());
        what += data.size() <= 64 ? " " + data : " crc " + std::to_string(craftzip::crcOf(data));
      }
      o.tree[shown(f.path().string())] = what;
    }
    return o;
  }

  static void expectSame(const Observed& one, const Observed& many, const std::string& what) {
    EXPECT_EQ(many.result, one.result) << what;
    EXPECT_EQ(many.log, one.log) << what;
    EXPECT_EQ(many.outcomes, one.outcomes) << what;
    EXPECT_EQ(many.tree, one.tree) << what;
    EXPECT_EQ(many.notAll, one.notAll) << what;
    EXPECT_EQ(many.written, one.written) << what;
  }
};

TEST_F(UnloadThreads, SameFilesOutcomesAndCallbacksAsOnOneThread) {
  Entry damaged = file("bad/damaged.txt", text(3000, 7));
  damaged.crcSet = true;
  damaged.crc = 12345;
  Entry damaged2 = damaged;
  damaged2.name = "gone/d.txt";
  Entry sneaky = file("inside.txt", "x");
  sneaky.localName = "../outside.txt";
  Entry unknown = file("odd.bin", "odd", 99);
  write({file("a.txt", text(20000, 1)), file("stored.bin", noise(5000, 2), 0), file("dir/", ""),
         file("dir/b.txt", text(70000, 3)), file("old1.txt", "new one"),
         file("big.dat", noise(9u << 20, 4)), damaged, file("bad/x.txt", "after the damaged one"), damaged2,
         file("gone", "a file where the damaged one's folder was"),
         file("../evil.txt", "x"), file("a.txt", "the same name again"), file("old2.txt", "new two"),
         file("f", "a file"), file("f/g.txt", "under a file"), sneaky, unknown,
         file("old3.txt", "new three"), file("deep/er/c.txt", text(40000, 5)),
         file("tail.txt", "the end")});
  const auto existing = [](const std::string& t) {
    for (const char* name : {"old1.txt", "old2.txt", "old3.txt"}) {
      testenv::writeFile(t + "/" + name, std::string("old ") + name);
      plat::FileTime ft = plat::fileTimeFromUnixTime(1600000000);
      ASSERT_TRUE(plat::realFileSystem().setTimes(t + "/" + name, nullptr, &ft, &ft));
    }
  };
  struct Case {
    const char* what;
    std::string answers;
    int cancelAt;
  } cases[] = {
      {"yes, no, rename", "ynr", 0},
      {"no to every question", "nnn", 0},
      {"cancel at the 3rd check", "ynr", 3},
      {"cancel at the 7th check (the big entry)", "ynr", 7},
      {"cancel at the 14th check", "ynr", 14},
      {"cancel in the second question", "yc", 0},
  };
  for (const Case& k : cases) {
    const Observed one = unload(1, k.answers, k.cancelAt, existing);
    if (k.cancelAt == 0 && k.answers[1] != 'c') {
      EXPECT_EQ(one.result, 2) << k.what;
    }
    for (unsigned threads : {2u, 8u}) {
      const size_t before = threadCount();
      expectSame(one, unload(threads, k.answers, k.cancelAt, existing),
                 std::string(k.what) + ", threads " + std::to_string(threads));
      EXPECT_EQ(threadCount(), before) << k.what;
    }
  }
  // The run without cancel wrote what it should.
  const Observed all = unload(2, "ynr", 0, existing);
  EXPECT_EQ(all.tree.count("<T>/bad"), 1u);  // made again for bad/x.txt
  EXPECT_EQ(all.tree.count("<T>/bad/damaged.txt"), 0u);
  EXPECT_EQ(all.tree.count("<T>/renamed/old3.txt"), 1u);
  EXPECT_EQ(all.tree.count("<T>/big.dat"), 1u);
  EXPECT_EQ(all.tree.count("<T>/f/g.txt"), 0u);
}

TEST_F(UnloadThreads, AWriteFailureWhileWorkersAreBusyEndsTheRunCleanly) {
  write({file("one.txt", text(30000, 1)), file("big.dat", noise(12u << 20, 2)),
         file("full.txt", "FAIL " + text(50000, 3)), file("dir/two.txt", text(30000, 4)),
         file("more.dat", noise(3u << 20, 5)), file("last.txt", "last")});
  FailingWrites failing;
  plat::ScopedFileSystem scoped(&failing);
  const Observed one = unload(1, "", 0, nullptr);
  EXPECT_EQ(one.result, archive::kDiskFull);
  EXPECT_EQ(one.tree.count("<T>/big.dat"), 1u);
  EXPECT_EQ(one.tree.count("<T>/full.txt"), 0u);
  EXPECT_EQ(one.tree.count("<T>/dir"), 0u);
  EXPECT_EQ(one.tree.count("<T>/last.txt"), 0u);
  for (unsigned threads : {2u, 4u}) {
    const size_t before = threadCount();
    const Observed many = unload(threads, "", 0, nullptr);
    expectSame(one, many, "threads " + std::to_string(threads));
    EXPECT_EQ(threadCount(), before);
    for (const auto& [path, what] : many.tree)
      EXPECT_EQ(path.find("/.brc"), std::string::npos) << "a temporary file was left: " << path;
  }
}

}  // namespace

namespace {

// A briefcase that cannot be read in the middle of a large entry (which its
// worker reads itself) ends the run as on one thread: the entries before it
// written, nothing of it or after it left. Only the entry's progress steps
// may differ, as the pieces read differ.
TEST_F(UnloadThreads, ABriefcaseUnreadableInsideALargeEntryEndsTheRunAsOnOneThread) {
  write({file("one.txt", text(30000, 1)), file("dir/two.txt", text(30000, 2)),
         file("big.dat", noise(12u << 20, 3)), file("dir/three.txt", text(30000, 4)),
         file("last.txt", "last")});
  FailingReads failing;
  failing.failFrom = fs::file_size(bc) / 2;
  plat::ScopedFileSystem scoped(&failing);
  const auto withoutProgress = [](Observed o) {
    std::erase_if(o.log, [](const std::string& s) { return s.rfind("file ", 0) == 0; });
    return o;
  };
  const Observed one = withoutProgress(unload(1, "", 0, nullptr));
  EXPECT_EQ(one.result, archive::kSevereError);
  EXPECT_EQ(one.tree.count("<T>/dir/two.txt"), 1u);
  EXPECT_EQ(one.tree.count("<T>/big.dat"), 0u);
  EXPECT_EQ(one.tree.count("<T>/last.txt"), 0u);
  for (unsigned threads : {2u, 4u}) {
    const size_t before = threadCount();
    const Observed many = withoutProgress(unload(threads, "", 0, nullptr));
    expectSame(one, many, "threads " + std::to_string(threads));
    EXPECT_EQ(threadCount(), before);
  }
}

}  // namespace
