#pragma once
// Diagnostic output: a time-stamped trace of the program's status texts in a
// log file, written only while diagnostics are on. By default the switch is
// the integer value `debug` under the storage's key (0 or missing: off); the
// value is written back each time it is read, so that it exists after the
// first query. The log file is platform/paths.h's logFilePath(), created
// afresh by the first line of each run.
//
// Each line reads "<elapsed>ms :<text>" with the milliseconds since the
// component was created right-aligned in ten characters, e.g.
// "      1234ms :Opening briefcase", and ends with a line feed.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "components/jstore.h"

enum TActiveOnCreationKind { aocFromRegistry, aocYes, aocNo };

class TDebugHelper {
 public:
  // A millisecond tick count (wrapping at 2^32).
  using TickSource = std::function<uint32_t()>;

  // `ticks` replaces the system's monotonic clock (tests pass a fixed one).
  explicit TDebugHelper(TickSource ticks = {});
  ~TDebugHelper();  // Stop; no longer the diagnostic receiver
  TDebugHelper(const TDebugHelper&) = delete;
  TDebugHelper& operator=(const TDebugHelper&) = delete;

  // Where the `debug` switch lives; its key is "Software" until the owner sets
  // the real one (cvreg::kAppKey).
  TJStorage& Storage() { return storage_; }

  TActiveOnCreationKind ActiveOnCreation() const { return activeOnCreation_; }
  void SetActiveOnCreation(TActiveOnCreationKind k) {
    activeOnCreation_ = k;
    stampKnown_ = false;
  }

  // From the registry: reads `debug` (default off) and writes it back, when
  // the settings file changed since the last read; the storage's open state
  // is restored. Otherwise the state kept in memory.
  bool GetActive();
  // From the registry: writes `debug` (picked up by the next GetActive).
  // Otherwise sets the state in memory.
  void SetActive(bool value);

  // Creates the log file (replacing an old one) unless one is open. When it
  // cannot be created, the lines of this run are dropped without another try.
  void Start();
  void Stop();  // closes the log file
  bool LogOpen() const;

  // Writes one line when diagnostics are on (see above).
  void Output(const std::string& text);

  // The log file's path; empty (the default) means plat::logFilePath().
  void SetLogFilePath(const std::string& path);
  std::string LogFilePath() const;

  // Makes this component the receiver of plat::diag(), so that diagnostic
  // lines of the core go through Output (also from other threads). Undone by
  // RemoveAsDiagReceiver or the destructor; a line on its way at that moment
  // is finished first, later ones are dropped.
  void InstallAsDiagReceiver();
  void RemoveAsDiagReceiver();

 private:
  struct Link;

  // The settings file and the key the switch was read from, and what
  // identifies the file as it is now (zero when it is missing).
  struct StoreStamp {
    std::string file, key;
    uint64_t device = 0, inode = 0, size = 0, writeTime = 0;
    bool operator==(const StoreStamp&) const = default;
  };
  // True when the file may still change without its stamp showing it.
  static bool recentlyChanged(const StoreStamp& s);
  StoreStamp storeStamp() const;

  bool getActiveLocked();
  void startLocked();

  mutable std::mutex mu_;  // plat::diag may come from another thread
  TJStorage storage_;
  TActiveOnCreationKind activeOnCreation_ = aocFromRegistry;
  bool active_ = false;
  bool stampKnown_ = false;
  StoreStamp stamp_;  // of the settings file when `debug` was last read
  std::FILE* logFile_ = nullptr;
  bool startFailed_ = false;
  std::string logPath_;
  TickSource ticks_;
  uint32_t startTicks_ = 0;
  std::shared_ptr<Link> link_;
};
