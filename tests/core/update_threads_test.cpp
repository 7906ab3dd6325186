// The update engine deflating on several threads: the archive does not
// depend on the thread count, every reader decodes it, large and many files
// round-trip, and a cancelled or failed run leaves no thread and the old
// container.

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "archive/update/entry.h"
#include "archive/update/pdeflate.h"
#include "update_support.h"

using namespace utest;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

size_t threadsRunning() {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/task")) n += e.is_directory();
  return n;
}

bool onPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Decodes every entry with another reader and compares it with the local
// file of the same name (Python's zipfile), or tests the CRCs (bsdtar, 7z).
void expectOthersDecode(const std::string& archive, const std::string& local) {
  const std::string py =
      "python3 -c 'import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "bad = [n for n in z.namelist() if z.read(n) != open(sys.argv[2] + \"/\" + n, \"rb\").read()]\n"
      "sys.exit(1 if bad else 0)' '" + archive + "' '" + local + "'";
  EXPECT_EQ(std::system(py.c_str()), 0) << "Python's zipfile";
  if (onPath("bsdtar")) {
    EXPECT_EQ(std::system(("bsdtar -xOf '" + archive + "' >/dev/null 2>&1").c_str()), 0) << "bsdtar";
  }
  if (onPath("7z")) {
    EXPECT_EQ(std::system(("7z t '" + archive + "' >/dev/null 2>&1").c_str()), 0) << "7z";
  }
}

// Files that take every path of the entry writer: empty, tiny, just under
// and exactly one block, several blocks and a short tail, an exact multiple
// of the block, incompressible data (stored instead), a no-compress suffix.
std::vector<std::string> mixedFiles(Env& e) {
  const size_t block = archive::EntryWriter::kInputBlock;
  return {e.file("empty.txt", ""),
          e.file("tiny.txt", "x"),
          e.file("under.txt", textBytes(block - 1, 1)),
          e.file("one.txt", textBytes(block, 2)),
          e.file("d/blocks.txt", textBytes(5 * block + 777, 3)),
          e.file("d/exact.bin", textBytes(4 * block, 4) + randomBytes(2 * block, 5)),
          e.file("d/noise.bin", randomBytes(100000, 6)),
          e.file("d/noise-large.bin", randomBytes(3 * block + 5, 7)),
          e.file("d/packed.zip", textBytes(3 * block, 8)),
          e.file("d/mixed.dat", randomBytes(block / 2, 9) + textBytes(2 * block, 10))};
}

TEST(UpdateThreads, TheArchiveIsTheSameWhateverTheThreadCountAndEveryReaderDecodesIt) {
  Env e;
  const std::vector<std::string> files = mixedFiles(e);
  // Another run over the same files with each thread count (from a fresh
  // container, so the dates of the configuration do not differ).
  const std::string empty = readAll(e.container);
  std::string first;
  const time_t accessed = ::time(nullptr) + 100;
  for (unsigned threads : {1u, 2u, 8u}) {
    SCOPED_TRACE(threads);
    writeFile(e.container, empty);
    // The access times recorded are the same in every run (a read may set
    // them, depending on the mount).
    for (const std::string& f : files) {
      struct timespec times[2] = {{accessed, 0}, {0, UTIME_OMIT}};
      ::utimensat(AT_FDCWD, f.c_str(), times, 0);
    }
    Recorder r(e);
    r.engine.update.threads = threads;
    ASSERT_EQ(r.load(files), 0);
    const std::string bytes = readAll(e.container);
    if (first.empty()) {
      first = bytes;
      ztest::Archive a = ztest::read(e.container);
      ASSERT_TRUE(a.ok) << a.error;
      ASSERT_EQ(a.entries.size(), files.size());
      for (const ztest::Entry& entry : a.entries)
        EXPECT_TRUE(entry.text() == readAll(e.local + "/" + entry.name)) << entry.name;
      expectOthersDecode(e.container, e.local);
    } else {
      EXPECT_TRUE(bytes == first) << "the archive differs from the one written with one thread";
    }
  }
}

TEST(UpdateThreads, TheThreadCountComesFromTheSettingTheEnvironmentOrTheCores) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  struct Case {
    const char* env;
    unsigned set, expected;
  } cases[] = {{nullptr, 0, cores}, {"3", 0, 3},  {"0", 0, cores},  {"x2", 0, cores},
               {"999", 0, archive::kMaxThreads}, {"3", 5, 5}, {nullptr, 100, archive::kMaxThreads}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.env ? c.env : "(unset)") + " / " + std::to_string(c.set));
    if (c.env)
      ::setenv("CARRYVALE_THREADS", c.env, 1);
    else
      ::unsetenv("CARRYVALE_THREADS");
    archive::SetDefaultThreads(c.set);
    EXPECT_EQ(archive::DefaultThreads(), c.expected);
  }
  archive::SetDefaultThreads(0);
  ::unsetenv("CARRYVALE_THREADS");
}

TEST(UpdateThreads, ALargeFileAndTwentyThousandTinyOnesRoundTrip) {
  Env e;
  // A large file, mostly holes with data here and there; smaller under the
  // sanitizers, which run many times slower.
  const uint64_t size = kSanitized ? (24u << 20) + 12345 : (300u << 20) + 12345;
  const std::string big = e.local + "/big.img";
  {
    std::ofstream out(big, std::ios::binary);
    for (uint64_t at = 0; at < size; at += 7u << 20) {
      out.seekp(static_cast<std::streamoff>(at));
      out << textBytes(200000, static_cast<unsigned>(at >> 20)) << randomBytes(70000, 1);
    }
    out.seekp(static_cast<std::streamoff>(size - 1));
    out.put('\n');
  }
  ASSERT_EQ(fs::file_size(big), size);
  const size_t count = kSanitized ? 2000 : 20000;
  std::vector<std::string> files{big};
  for (size_t i = 0; i < count; ++i)
    files.push_back(e.file("many/" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".txt",
                           textBytes(i % 300, static_cast<unsigned>(i))));
  Recorder r(e);
  r.engine.update.threads = 4;
  ASSERT_EQ(r.load(files), 0);
  // Another reader checks every entry against its local file, the large one
  // included (its CRC and its bytes).
  const std::string py =
      "python3 -c 'import sys, zipfile, zlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "n = z.namelist()\n"
      "assert len(n) == int(sys.argv[3]), len(n)\n"
      "for name in n:\n"
      "  with z.open(name) as a, open(sys.argv[2] + \"/\" + name, \"rb\") as b:\n"
      "    while True:\n"
      "      x = a.read(1 << 20)\n"
      "      assert x == b.read(1 << 20), name\n"
      "      if not x: break' '" +
      e.container + "' '" + e.local + "' " + std::to_string(count + 1);
  EXPECT_EQ(std::system(py.c_str()), 0);
}

// A run with a large file, ended by cancel or by a full disk while the
// workers are busy.
struct Busy {
  Env e;
  std::string before;
  std::vector<std::string> files;
  size_t threadsBefore = 0;
  Busy() {
    Recorder r(e);
    if (r.load({e.file("a.txt", textBytes(30000, 1))})) throw std::runtime_error("first load");
    before = readAll(e.container);
    files = {e.file("large.txt", textBytes(24u << 20, 2)), e.file("b.txt", textBytes(500, 3))};
    threadsBefore = threadsRunning();
  }
  void expectCleanEnd() {
    EXPECT_TRUE(readAll(e.container) == before) << "the container changed";
    EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
    EXPECT_EQ(threadsRunning(), threadsBefore) << "a worker is still running";
  }
};

TEST(UpdateThreads, CancelDuringALargeFileEndsWithinOneBlock) {
  for (unsigned threads : {1u, 8u}) {
    SCOPED_TRACE(threads);
    Busy b;
    Recorder r(b.e);
    r.engine.update.threads = threads;
    // Checks: one before each of the two files, then one after each block
    // of the large file: cancel after its fifth block.
    r.cancelAtCheck = 1 + 5;
    size_t progressAtCancel = 0;
    r.engine.callbacks.cancelCheck = [&](bool& cancel) {
      if (r.cancelChecks++ == r.cancelAtCheck) {
        cancel = true;
        progressAtCancel = r.file.size();
      }
    };
    EXPECT_EQ(r.load(b.files), archive::kInterrupted);
    EXPECT_EQ(r.file.size(), progressAtCancel) << "a block was written after the cancel";
    EXPECT_EQ(r.cancelChecks, r.cancelAtCheck + 1);
    b.expectCleanEnd();
  }
}

TEST(UpdateThreads, AFullDiskWhileWorkersAreBusyEndsTheRunCleanly) {
  for (int64_t budget : {int64_t(200000), int64_t(1u << 20)}) {
    SCOPED_TRACE(budget);
    Busy b;
    FaultFs faults;
    faults.writeBudget = budget;
    faults.budgetPath = b.e.container;  // an append writes there
    plat::ScopedFileSystem scoped(&faults);
    Recorder r(b.e);
    r.engine.update.threads = 8;
    EXPECT_EQ(r.load(b.files), archive::kDiskMayBeFull);
    b.expectCleanEnd();
  }
}

}  // namespace
