#include "components/foldermonitor.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/treewatch.h"

namespace {
std::atomic<int> runningWorkers{0};
constexpr std::chrono::seconds kChangeMargin{2};
// The state whose handler runs on this thread at the moment, if any.
thread_local void* delivering = nullptr;
}

// What a worker shares with its monitor. The worker keeps its own reference,
// so the state outlives a monitor that is destroyed while the worker still
// waits; the monitor never touches a worker after stopping it, other than
// through this state.
struct TFolderMonitor::Shared {
  std::string folder;
  // Changes from this moment on count, also those made before a folder's
  // watch was set up (nanoseconds since 1970).
  int64_t changedSinceNs = 0;
  plat::TreeWatch watch;  // its wake-up descriptor exists from construction on
  // Held while the handler runs; `stopped`, `handler` and `sender` change only under it.
  // Recursive, so that a handler may stop its own monitor.
  std::recursive_mutex mu;
  std::atomic<bool> stopped{false};  // also read without the lock, by Monitoring()
  TChangeEvent handler;
  TFolderMonitor* sender = nullptr;

  static void run(std::shared_ptr<Shared> s);
};

void TFolderMonitor::Shared::run(std::shared_ptr<Shared> s) {
  struct Leave {
    ~Leave() { --runningWorkers; }
  } leave;
  if (!s->watch.open(s->folder, s->changedSinceNs)) return;  // cannot be watched: end silently
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> g(s->mu);
      if (s->stopped) return;
    }
    plat::TreeWatch::Result r = s->watch.wait();
    if (r == plat::TreeWatch::Result::Failed) return;
    if (r == plat::TreeWatch::Result::Woken) continue;
    {
      std::lock_guard<std::recursive_mutex> g(s->mu);
      if (s->stopped) return;
      // A copy: the handler may replace the monitor's handler while it runs.
      TChangeEvent handler = s->handler;
      if (handler) {
        delivering = s.get();
        try {
          handler(s->sender);
        } catch (...) {
          delivering = nullptr;
          return;  // an error in the handler ends the watch; nobody is told
        }
        delivering = nullptr;
      }
    }
    if (s->watch.folderGone()) return;
  }
}

TFolderMonitor::TFolderMonitor() = default;

TFolderMonitor::~TFolderMonitor() { StopMonitoring(); }

void TFolderMonitor::SetFolder(const std::string& folder) {
  if (!Monitoring()) {
    folder_ = folder;
    return;
  }
  StopMonitoring();
  folder_ = folder;
  SetEnabled(true);
}

void TFolderMonitor::SetOnChangeInFolder(TChangeEvent handler) {
  onChange_ = std::move(handler);
  if (worker_) {
    std::lock_guard<std::recursive_mutex> g(worker_->mu);
    worker_->handler = onChange_;
  }
}

void TFolderMonitor::SetEnabled(bool enabled) {
  if (!enabled) {
    StopMonitoring();
    return;
  }
  if (folder_.empty()) return;
  StopMonitoring();
  auto s = std::make_shared<Shared>();
  s->folder = folder_;
  // From now on, less a margin for file systems whose times are coarse (two
  // seconds) or lag the clock: a change the caller's own scan may have missed
  // while the watches were being set up is reported once they are in place.
  s->changedSinceNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          (std::chrono::system_clock::now() - kChangeMargin).time_since_epoch())
                          .count();
  s->handler = onChange_;
  s->sender = this;
  worker_ = s;
  ++runningWorkers;
  try {
    std::thread(&Shared::run, std::move(s)).detach();
  } catch (const std::system_error&) {
    --runningWorkers;  // no thread: as if the folder could not be watched
  }
}

bool TFolderMonitor::Monitoring() const { return worker_ && !worker_->stopped; }

void TFolderMonitor::StopMonitoring() {
  if (delivering) {
    // Called by a handler on its worker thread: the monitor's own fields
    // belong to the user-interface thread, so only the worker is stopped
    // here (its lock is held already); Monitoring() reads false from now on.
    Shared* d = static_cast<Shared*>(delivering);
    std::lock_guard<std::recursive_mutex> g(d->mu);
    if (d->sender == this) {
      d->stopped = true;
      d->sender = nullptr;
      return;
    }
  }
  std::shared_ptr<Shared> s = std::move(worker_);
  if (!s) return;
  {
    // Waits only for a handler call in progress.
    std::lock_guard<std::recursive_mutex> g(s->mu);
    if (s->stopped) return;
    s->stopped = true;
    s->sender = nullptr;
    s->handler = nullptr;
  }
  s->watch.wake();
}

int TFolderMonitor::RunningWorkers() { return runningWorkers.load(); }
