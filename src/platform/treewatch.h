#pragma once
// Change notification on a folder tree: one watch per folder of the tree
// (folders that appear later are added as they appear), reporting creations,
// deletions and renames of files and folders, writes, size changes and
// last-write time changes. Symbolic links below the folder are not followed.
//
// A TreeWatch belongs to one worker thread, which calls open() and wait().
// wake() may be called from any thread at any time while the object exists;
// it makes the current or next wait() return Woken.

#include <cstdint>
#include <string>
#include <unordered_map>

namespace plat {

class TreeWatch {
 public:
  TreeWatch();  // creates the wake-up descriptor
  ~TreeWatch();
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

  // Starts watching the folder and every folder below it; false when the
  // folder itself cannot be watched (missing, not a folder, no access).
  //
  // The watches are set one folder after the other, so a change made in a
  // folder before its watch was in place would not be seen. With
  // `changedSinceNs` (nanoseconds since 1970, UTC) every folder is looked
  // through once its watch is set: when it or any entry in it changed (its
  // status-change time) at or after that moment, the first wait() reports a
  // change at once.
  bool open(const std::string& folder, int64_t changedSinceNs = -1);

  enum class Result {
    Changed,  // one or more changes since the last wait
    Woken,    // wake() was called
    Failed,   // not open, or the notification failed
  };
  // Blocks until one of the above; changes seen together are reported once.
  Result wait();

  // True once the watched folder itself was deleted or moved away; the
  // change was reported, and nothing more will be.
  bool folderGone() const { return gone_; }

  void wake();

 private:
  // `changedSinceNs` >= 0: also looks for changes made before the watches.
  void addTree(const std::string& folder, int64_t changedSinceNs = -1);
  // The folder or an entry in it changed at or after the moment.
  static bool changedSince(const std::string& folder, int64_t ns);
  void removeTree(const std::string& folder);
  bool readEvents();  // true when a change was seen

  int wakeFd_ = -1;
  int notifyFd_ = -1;
  int rootWd_ = -1;
  bool gone_ = false;
  bool pending_ = false;  // a change made before the watches, still to report
  std::string root_;
  std::unordered_map<int, std::string> folders_;  // watch -> folder path
};

}  // namespace plat
