#include "components/debug.h"

#include <chrono>

#include "platform/diag.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/regstore.h"

// The receiver installed through plat::diag reaches the component through
// this link, so that a line already on its way when the component goes away
// finds no target instead of a destroyed object.
struct TDebugHelper::Link {
  std::mutex mu;
  TDebugHelper* target = nullptr;
};

namespace {

std::mutex installMu;
const void* installedLink = nullptr;  // the link whose receiver is installed

uint32_t systemTicks() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

TDebugHelper::TDebugHelper(TickSource ticks)
    : storage_(this), ticks_(ticks ? std::move(ticks) : TickSource(systemTicks)) {
  storage_.SetKey("Software");
  startTicks_ = ticks_();
}

TDebugHelper::~TDebugHelper() {
  RemoveAsDiagReceiver();
  Stop();
}

bool TDebugHelper::GetActive() {
  std::lock_guard<std::mutex> g(mu_);
  return getActiveLocked();
}

TDebugHelper::StoreStamp TDebugHelper::storeStamp() const {
  StoreStamp s;
  s.file = plat::SettingsStore(plat::SettingsStore::defaultFolder()).filePath();
  s.key = storage_.Key();
  plat::FileInfo fi;
  // The real file system: a test's injected faults are not for the diagnostics.
  if (plat::realFileSystem().stat(s.file, &fi, true)) {
    s.device = fi.device;
    s.inode = fi.inode;
    s.size = fi.size;
    s.writeTime = fi.writeTime;
  }
  return s;
}

bool TDebugHelper::recentlyChanged(const StoreStamp& s) {
  constexpr plat::FileTime kSettled = 2 * plat::kTicksPerSecond;
  return s.inode != 0 && plat::nowFileTime() < s.writeTime + kSettled;
}

bool TDebugHelper::getActiveLocked() {
  if (activeOnCreation_ != aocFromRegistry) return active_;
  // Taken before the read: a change made while it reads (the write-back's
  // own included) is read again next time.
  const StoreStamp now = storeStamp();
  if (stampKnown_ && now == stamp_ && !recentlyChanged(now)) return active_;
  stamp_ = now;
  stampKnown_ = true;
  const bool wasOpen = storage_.IsOpen();
  try {
    storage_.Open();
    active_ = storage_.ReadBool(cvreg::kDebugValue, false);
  } catch (const std::exception&) {
    active_ = false;
  }
  // Written back even when the read failed, so the switch exists after the first query.
  try {
    storage_.WriteBool(cvreg::kDebugValue, active_);
  } catch (const std::exception&) {
  }
  if (!wasOpen) storage_.Close();
  return active_;
}

void TDebugHelper::SetActive(bool value) {
  std::lock_guard<std::mutex> g(mu_);
  if (activeOnCreation_ != aocFromRegistry) {
    active_ = value;
    return;
  }
  const bool wasOpen = storage_.IsOpen();
  try {
    storage_.Open();
    storage_.WriteBool(cvreg::kDebugValue, value);
  } catch (const std::exception&) {
  }
  if (!wasOpen) storage_.Close();
}

void TDebugHelper::Start() {
  std::lock_guard<std::mutex> g(mu_);
  startLocked();
}

void TDebugHelper::startLocked() {
  if (logFile_ || startFailed_) return;
  const std::string path = logPath_.empty() ? plat::logFilePath() : logPath_;
  std::string folder = plat::parentFolder(path);
  if (!folder.empty()) plat::makePath(folder);
  logFile_ = std::fopen(path.c_str(), "wbe");
  if (!logFile_) startFailed_ = true;
}

void TDebugHelper::Stop() {
  std::lock_guard<std::mutex> g(mu_);
  if (logFile_) {
    std::fclose(logFile_);
    logFile_ = nullptr;
  }
}

bool TDebugHelper::LogOpen() const {
  std::lock_guard<std::mutex> g(mu_);
  return logFile_ != nullptr;
}

void TDebugHelper::Output(const std::string& text) {
  std::lock_guard<std::mutex> g(mu_);
  if (!logFile_) {
    if (activeOnCreation_ == aocYes) active_ = true;
    if (activeOnCreation_ == aocNo) active_ = false;
    if (getActiveLocked()) startLocked();
  }
  if (!logFile_ || !getActiveLocked()) return;
  const uint32_t elapsed = ticks_() - startTicks_;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10u", static_cast<unsigned>(elapsed));
  std::string line = stamp;
  line += "ms :";
  line += text;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), logFile_);  // write errors are ignored
  std::fflush(logFile_);
}

void TDebugHelper::SetLogFilePath(const std::string& path) {
  std::lock_guard<std::mutex> g(mu_);
  logPath_ = path;
}

std::string TDebugHelper::LogFilePath() const {
  std::lock_guard<std::mutex> g(mu_);
  return logPath_.empty() ? plat::logFilePath() : logPath_;
}

void TDebugHelper::InstallAsDiagReceiver() {
  std::lock_guard<std::mutex> g(installMu);
  if (!link_) {
    link_ = std::make_shared<Link>();
    link_->target = this;
  }
  installedLink = link_.get();
  plat::setDiagReceiver([link = link_](const std::string& line) {
    std::lock_guard<std::mutex> lg(link->mu);
    if (link->target) link->target->Output(line);
  });
}

void TDebugHelper::RemoveAsDiagReceiver() {
  std::shared_ptr<Link> link;
  {
    std::lock_guard<std::mutex> g(installMu);
    if (!link_) return;
    if (installedLink == link_.get()) {
      plat::setDiagReceiver({});
      installedLink = nullptr;
    }
    link = std::move(link_);
  }
  // Waits for a line being written through the link at this moment.
  std::lock_guard<std::mutex> lg(link->mu);
  link->target = nullptr;
}
