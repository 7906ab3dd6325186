#pragma once
// Watches one folder tree and tells its owner when something in it changed
// (files or folders created, deleted or renamed, files written or resized).
//
// The watching runs on a worker thread of its own; OnChangeInFolder is called
// on that worker, once for one or more changes. A handler must only do what
// is safe from another thread (the main window's handler arms a timer through
// a queued call) and must not wait for the user-interface thread.
//
// The watches are set up on the worker after SetEnabled returns, one folder
// after the other. A change made meanwhile in a folder whose watch is not yet
// in place (or in the two seconds before SetEnabled) is found once the watches
// are set and reported then, so a scan the owner made at the start misses
// nothing for good.
//
// Stopping never waits for the worker: the worker is woken and ends by
// itself. Once StopMonitoring (or SetEnabled, SetFolder, the destructor)
// has returned, the stopped worker never calls the handler again; the only
// wait is for a handler call running at that very moment to finish.
//
// Apart from the handler, the monitor is used on one thread (the user-interface
// thread). The handler may call StopMonitoring() or SetEnabled(false) on its
// own monitor; everything else belongs on that one thread.

#include <functional>
#include <memory>
#include <string>

class TFolderMonitor {
 public:
  using TChangeEvent = std::function<void(TFolderMonitor* sender)>;

  TFolderMonitor();
  ~TFolderMonitor();  // stops monitoring
  TFolderMonitor(const TFolderMonitor&) = delete;
  TFolderMonitor& operator=(const TFolderMonitor&) = delete;

  const std::string& Folder() const { return folder_; }
  // While monitoring, the watch moves to the new folder.
  void SetFolder(const std::string& folder);

  const TChangeEvent& OnChangeInFolder() const { return onChange_; }
  // Takes effect at once, also for a running worker.
  void SetOnChangeInFolder(TChangeEvent handler);

  // true: (re)starts watching Folder (nothing when it is empty); false: StopMonitoring.
  void SetEnabled(bool enabled);
  void StopMonitoring();
  // From a start until StopMonitoring, also when the worker ended because the
  // folder could not be watched.
  bool Monitoring() const;

  // Workers of all monitors that have not yet ended (for tests and diagnostics).
  static int RunningWorkers();

 private:
  struct Shared;

  std::string folder_;
  TChangeEvent onChange_;
  std::shared_ptr<Shared> worker_;  // the current worker's state, while monitoring
};
