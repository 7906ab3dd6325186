#pragma once
// Adding to a container by writing after its end instead of rewriting it.
//
// An append leaves every byte of the old archive where it is: it writes a
// marker (the container's size and last-write time before the append), then
// the new entries, then a new central directory and end record. The old
// directory, its end record and the entries that the new directory no longer
// lists stay behind as unreferenced bytes, which ZIP readers skip. The steps:
//   ContainerAppend::begin   probes that the volume keeps data safe (a sync
//                            of the container must succeed) and writes the
//                            marker after the end.
//   ContainerAppend::seal    (before the end record) the data synced, and the
//                            container still the file that was locked, with
//                            no byte of another program's after ours.
//   ContainerAppend::commit  (after the end record) synced again.
//   ContainerAppend::rollback  cuts the container back to its old size and
//                            gives it back its old date.
// A run killed between begin and commit leaves a container whose last bytes
// are not a complete end record; undoInterruptedAppend, which every open
// calls, finds the marker and cuts the container back to the old archive.
//
// Readers that read an archive from its start take the local header at
// offset 0 for the start of the archive, and read the old one when the new
// directory no longer lists it: a run that would replace or remove the
// entry at offset 0 rewrites the container instead.

#include <cstdint>
#include <memory>
#include <string>

#include "archive/layout.h"
#include "archive/replace.h"

namespace archive {

// A run rewrites (compacts) the container instead of appending once the
// unreferenced bytes would pass this share of it, in percent.
constexpr uint64_t kCompactPercent = 50;

// Said once when an open finds an interrupted append and undoes it.
constexpr const char* kAppendUndoneText = "An interrupted load was undone";

// The record that opens every append.
struct AppendMarker {
  static constexpr size_t kSize = 20;  // "CVAP", size, write time, CRC-32 of the 16 bytes before
  uint32_t oldSize = 0;
  plat::FileTime oldWriteTime = 0;

  std::vector<uint8_t> encode() const;
  static bool decode(const uint8_t* p, size_t n, AppendMarker* out);
};

// Length in the file of an entry (local header to data descriptor) and of
// its central header.
uint64_t entryLength(const zlitem& item);
uint64_t centralLength(const zlitem& item);

// The bytes of the container that its directory references: the entries,
// the deletions block before the directory (`deletionBytes`, as
// readDeletions found it), the directory and the end record with its comment.
uint64_t referencedBytes(const TZList& list, const EndRecordInfo& end, uint64_t deletionBytes);

// Why an append to this container would not be safe or not be read as the
// same archive by every reader ("" when it can be appended to): a preamble,
// a split or ZIP64 archive, bytes after the end record, a directory that is
// not right before it, entries that overlap each other or the directory.
// `preamble`: the lowest local header offset.
std::string whyNotAppendable(const TZList& list, const EndRecordInfo& end, uint32_t preamble);

class ContainerAppend {
 public:
  explicit ContainerAppend(ContainerLock& lock) : lock_(lock) {}
  ~ContainerAppend() { rollback(); }
  ContainerAppend(const ContainerAppend&) = delete;
  ContainerAppend& operator=(const ContainerAppend&) = delete;

  // Opens the container for writing after its end, `end` bytes (its size
  // when it was read), and writes the marker; *out is positioned after it.
  // Results: 0; kNotAppendable when the volume refuses a sync (nothing was
  // written); 58 when the container is no longer as it was read; 24 or 29
  // when the marker could not be written (nothing stays).
  int begin(uint64_t end, std::unique_ptr<JNormFile>* out, std::string* message);
  // Before the end record is written: what was written is on the disk, and
  // the container is still ours and `size` bytes long. 0; 24 when the sync
  // fails; 58 when another program changed or replaced it (then nothing of
  // it is cut back).
  int seal(JNormFile& out, uint64_t size, std::string* message);
  // After the end record: synced and read back; the lock records the
  // container's new size and time. 0, or 24 when the disk did not confirm or
  // did not keep what was written (the append is then rolled back).
  int commit(std::unique_ptr<JNormFile> out, std::string* message);
  // Takes back an append that was not committed.
  void rollback();

  static constexpr int kNotAppendable = -2;

 private:
  ContainerLock& lock_;
  std::unique_ptr<JNormFile> file_;  // the container, for writing (until committed)
  JNormFile* writing_ = nullptr;     // the handle the run writes through
  bool kept(uint64_t size, bool complete) const;
  bool rewrittenInPlace() const;

  uint64_t oldSize_ = 0;
  plat::FileTime oldWriteTime_ = 0;
  std::vector<uint8_t> marker_;   // as written after the old end
  std::vector<uint8_t> oldTail_;  // the old archive's last bytes, as read
  std::vector<uint8_t> oldHead_;  // and its first local header
  bool begun_ = false;
  bool foreign_ = false;  // another program changed the container: leave it
};

// What an open found of an interrupted append.
enum class AppendRepair {
  Intact,     // the container ends with a complete end record (or is not ours)
  Undone,     // it was cut back to the archive before the append
  Locked,     // a run holds the container (it may be appending right now)
  Failed,     // it could not be cut back (read-only, disk gone)
};

// Looks at the end of the container at `path`; when an append was
// interrupted there, cuts the container back to the archive it had before
// and gives it back its date, under the container's lock (`held` when the
// caller holds it), and sends kAppendUndoneText to `sink`.
AppendRepair undoInterruptedAppend(const std::string& path, ContainerLock* held,
                                   const MessageSink& sink);

// Appends a new directory and end record holding `comment` (the entries
// stay as they are), after a copy of the deletions block that stood before
// the old directory, through the steps above. Results as rewriteComment's.
int appendComment(ContainerLock& lock, const std::vector<uint8_t>& comment,
                  const MessageSink& configMessage);

}  // namespace archive
