// Loads and unloads while memory runs out, on the workers or on the calling
// thread. This program replaces the allocation operators of the whole
// process (hence a program of its own): while a test arms them, every
// allocation of `kLarge` bytes or more fails, on the workers only or on any
// thread. Small allocations go on, as they mostly do when memory is short.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "../core/update_support.h"
#include "app/operations.h"
#include "archive/extract/extract.h"

namespace {

enum class Refuse { Nothing, OnWorkers, Anywhere };
constexpr size_t kLarge = 32768;
std::atomic<Refuse> g_refuse{Refuse::Nothing};
std::atomic<int> g_refused{0};
std::thread::id g_caller;

bool refused(size_t n) {
  const Refuse r = g_refuse.load(std::memory_order_relaxed);
  if (r == Refuse::Nothing || n < kLarge) return false;
  if (r == Refuse::OnWorkers && std::this_thread::get_id() == g_caller) return false;
  ++g_refused;
  return true;
}

void* allocate(size_t n) { return refused(n) ? nullptr : std::malloc(n ? n : 1); }

void* allocate(size_t n, std::align_val_t a) {
  const size_t align = static_cast<size_t>(a);
  return refused(n) ? nullptr : std::aligned_alloc(align, std::max(align, (n + align - 1) / align * align));
}

template <typename... A>
void* orThrow(size_t n, A... a) {
  if (void* p = allocate(n, a...)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t n) { return orThrow(n); }
void* operator new[](size_t n) { return orThrow(n); }
void* operator new(size_t n, std::align_val_t a) { return orThrow(n, a); }
void* operator new[](size_t n, std::align_val_t a) { return orThrow(n, a); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, a);
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, a);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace utest;

// Memory runs out for the length of the scope.
struct Shortage {
  explicit Shortage(Refuse r) {
    g_caller = std::this_thread::get_id();
    g_refused = 0;
    g_refuse = r;
  }
  ~Shortage() { g_refuse = Refuse::Nothing; }
};

// Hidden temporary files a run left in a folder.
std::set<std::string> leftovers(const std::string& folder) {
  std::set<std::string> out;
  for (const std::string& n : listFolder(folder))
    if (n[0] == '.') out.insert(n);
  return out;
}

TEST(OutOfMemory, EveryRunEndsWithFourAndLeavesFilesOldOrNew) {
  struct Case {
    const char* what;
    bool load;
    unsigned threads;
    Refuse refuse;
  } cases[] = {
      {"load, one thread", true, 1, Refuse::Anywhere},
      {"load, memory gone on the workers", true, 2, Refuse::OnWorkers},
      {"unload, one thread", false, 1, Refuse::Anywhere},
      {"unload, memory gone on the workers", false, 2, Refuse::OnWorkers},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Env e;
    Recorder r(e);
    // Entries of several deflate blocks, and small ones read ahead.
    std::map<std::string, std::string> files;
    for (int i = 0; i < 3; ++i) files["big" + std::to_string(i) + ".txt"] = textBytes(768 << 10, i);
    for (int i = 0; i < 12; ++i) files["small" + std::to_string(i) + ".txt"] = textBytes(20000, 9 + i);
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) paths.push_back(e.file(name, bytes));
    if (!c.load) {
      ASSERT_EQ(r.load(paths), 0);
    }
    const std::string before = readAll(e.container);
    const std::string other = e.env.root() + "/other";
    fs::create_directories(other);

    std::string notice;
    int code = 0;
    if (c.load) {
      r.engine.update.threads = c.threads;
      Shortage s(c.refuse);
      const app::LoadResult res = app::Load(r.engine, {paths, e.local, nullptr});
      code = res.code;
      notice = app::noticeFor(res, e.container).message();
    } else {
      r.engine.extract.threads = c.threads;
      app::UnloadRequest q;
      q.localFolder = other;
      q.replace = app::ReplaceMode::YesToAll;
      q.after = app::AfterUnload::Remove;
      Shortage s(c.refuse);
      const app::UnloadResult res = app::Unload(r.engine, q);
      code = res.code;
      notice = app::noticeFor(res.outcome, e.container).message();
    }
    EXPECT_GT(g_refused, 0);
    EXPECT_EQ(code, archive::kOutOfMemory);
    EXPECT_EQ(notice.rfind("Not enough memory to ", 0), 0u) << notice;
    // The briefcase as it was; each local file whole or not there.
    EXPECT_TRUE(readAll(e.container) == before) << "the briefcase changed";
    EXPECT_TRUE(leftovers(e.env.root() + "/box").empty());
    EXPECT_TRUE(leftovers(other).empty());
    for (const std::string& name : listFolder(other))
      EXPECT_TRUE(readAll(other + "/" + name) == files[name]) << name;
  }
}

}  // namespace
