// What the carry record adds to a status: a walk of 50,000 files with one
// lstat each (today's scan), against the same walk with the record opened,
// each file's record looked up and the candidate rule applied; once with
// every file unchanged and once with a tenth touched (read and hashed).
// Run by hand: build/carry_bench [FOLDERS] [FILES-PER-FOLDER] [ROUNDS].
// Works in $TMPDIR/carry_bench with its own $XDG_STATE_HOME there.

#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "carry/record.h"
#include "carry/rules.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

carry::FileState stateOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
          static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Calls `visit` with the relative path and the lstat of every file.
size_t walk(const fs::path& root,
            const std::function<void(const std::string&, const struct stat&)>& visit) {
  size_t n = 0;
  const size_t skip = root.string().size() + 1;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string full = it->path().string();
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    visit(full.substr(skip), st);
    ++n;
  }
  return n;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int folders = argc > 1 ? std::atoi(argv[1]) : 500;
  const int files = argc > 2 ? std::atoi(argv[2]) : 100;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 11;
  const fs::path base = fs::temp_directory_path() / "carry_bench";
  const fs::path root = base / "local";
  fs::remove_all(base);
  setenv("XDG_STATE_HOME", (base / "state").c_str(), 1);
  std::mt19937 random(7);
  for (int d = 0; d < folders; ++d) {
    char name[32];
    std::snprintf(name, sizeof name, "folder%03d", d);
    fs::create_directories(root / name);
    for (int f = 0; f < files; ++f) {
      char file[32];
      std::snprintf(file, sizeof file, "doc%03d.txt", f);
      std::ofstream(root / name / file) << std::string(10 + random() % 390, 'x');
    }
  }
  // Every file as a load would record it, with times a minute in the past
  // (so no record is too young to trust).
  const auto t0 = Clock::now();
  {
    auto rec = carry::CarryRecord::open("bench", root.string());
    auto batch = rec->batch();
    walk(root, [&](const std::string& rel, const struct stat& st) {
      carry::Digest d;
      carry::digestFile((root / rel).string(), &d, nullptr);
      carry::Record r = carry::recordOf(stateOf(st), d);
      r.recordedNs = r.file.mtimeNs + 60'000'000'000LL;
      batch.put(rel, r);
    });
    if (!batch.commit()) return std::fprintf(stderr, "%s\n", rec->takeWarning().c_str()), 1;
  }
  const double recordS = std::chrono::duration<double>(Clock::now() - t0).count();

  // Wall time, or with CARRY_BENCH_CPU=1 the process's processor time (user
  // and system), which other load on the machine disturbs less.
  const bool cpu = std::getenv("CARRY_BENCH_CPU") != nullptr;
  auto cpuNow = [] {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  auto timeIt = [&](const std::function<void()>& f) {
    const auto s = Clock::now();
    const double c = cpuNow();
    f();
    return cpu ? cpuNow() - c : std::chrono::duration<double>(Clock::now() - s).count();
  };
  size_t candidates = 0, hashed = 0, count = 0;
  auto plain = [&] { count = walk(root, [&](const std::string&, const struct stat&) {}); };
  auto classify = [&](const std::string& rel, const struct stat& st, const carry::Record* r) {
    const carry::FileState s = stateOf(st);
    carry::LocalClass c = carry::classifyLocal(r, s, nullptr, 0);
    if (c.verdict == carry::LocalVerdict::kNeedsHash) {
      carry::Digest d;
      carry::digestFile((root / rel).string(), &d, nullptr);
      ++hashed;
      c = carry::classifyLocal(r, s, &d, 0);
    }
    if (c.verdict == carry::LocalVerdict::kCandidate) ++candidates;
  };
  auto byLookup = [&] {
    auto rec = carry::CarryRecord::open("bench", root.string());
    walk(root, [&](const std::string& rel, const struct stat& st) {
      const auto r = rec->lookup(rel);
      classify(rel, st, r ? &*r : nullptr);
    });
  };
  auto byAll = [&] {
    auto rec = carry::CarryRecord::open("bench", root.string());
    const auto all = rec->all();
    walk(root, [&](const std::string& rel, const struct stat& st) {
      classify(rel, st, all.find(rel));
    });
  };
  auto run = [&](const char* title) {
    std::vector<double> a, b, c;
    plain();  // warm
    for (int i = 0; i < rounds; ++i) {
      a.push_back(timeIt(plain));
      hashed = candidates = 0;
      b.push_back(timeIt(byLookup));
      hashed = candidates = 0;
      c.push_back(timeIt(byAll));
    }
    std::printf("%s: %zu files, %zu hashed, %zu candidates per pass (%d rounds, median)\n", title,
                count, hashed, candidates, rounds);
    std::printf("  walk + lstat                       %7.1f ms\n", median(a) * 1e3);
    std::printf("  + record, lookup per file          %7.1f ms  (+%.1f ms)\n", median(b) * 1e3,
                (median(b) - median(a)) * 1e3);
    std::printf("  + record, one query for all        %7.1f ms  (+%.1f ms)\n", median(c) * 1e3,
                (median(c) - median(a)) * 1e3);
  };
  std::printf("%s time\n", cpu ? "processor" : "wall");
  std::printf("recording %zu files once (read, hash, one transaction): %.2f s; database %.1f MB\n",
              static_cast<size_t>(folders) * files, recordS,
              fs::file_size(base / "state/carryvale/carry.db") / 1e6);
  // The parts on their own: opening (with its check), one query for all,
  // and the look-ups without the walk.
  {
    std::vector<std::string> paths;
    walk(root, [&](const std::string& rel, const struct stat&) { paths.push_back(rel); });
    std::vector<double> o, q, l;
    for (int i = 0; i < rounds; ++i) {
      std::unique_ptr<carry::CarryRecord> rec;
      o.push_back(timeIt([&] { rec = carry::CarryRecord::open("bench", root.string()); }));
      q.push_back(timeIt([&] { count = rec->all().size(); }));
      l.push_back(timeIt([&] {
        for (const std::string& p : paths) rec->lookup(p);
      }));
    }
    std::printf("open %.1f ms, all() of %zu %.1f ms, %zu look-ups %.1f ms (median)\n",
                median(o) * 1e3, count, median(q) * 1e3, paths.size(), median(l) * 1e3);
  }
  run("unchanged");
  // A tenth touched: new times, same bytes; each is read and found "same".
  for (int d = 0; d < folders; ++d)
    for (int f = 0; f < files / 10; ++f) {
      char rel[64];
      std::snprintf(rel, sizeof rel, "folder%03d/doc%03d.txt", d, f);
      ::utime((root / rel).c_str(), nullptr);
    }
  run("a tenth touched");
  fs::remove_all(base);
  return 0;
}
