#pragma once
// One operation's view of the carry record: the record of a briefcase and a
// local folder read once, the rules applied to what the operation sees (a
// file is read only where a rule needs its content), and what the operation
// carried written in one transaction when it ends.
//
// A path the record does not know is measured by a date: the briefcase
// date, as it always was, but never later than this computer's last load
// that took every candidate (the briefcase date moves with every rewrite of
// the container, and the changes it passes over would be left behind).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "carry/record.h"
#include "carry/rules.h"
#include "platform/files.h"

namespace carry {

// The state of a file as the record keeps it.
FileState stateOf(const plat::FileInfo& info);
// A relative path as the record and the entries name it: folder '/' name.
std::string relativePath(const std::string& folder, const std::string& name);

// The local folder as the record names its pairs: its path, the number of
// the folder there and its birth time where the file system keeps one
// ("/home/u/docs#1234.134096...."), so that a folder deleted and made
// again, or another one put in its place, starts without a record.
std::string folderKey(const std::string& folder);

// How far a file's time may lie before the moment it was saved on the file
// system that holds `folder` (the step of its time stamps).
int64_t stampStepNs(const std::string& folder);

// A new briefcase made at `containerPath`: it holds nothing this computer
// carried with one that was there before it, whose record goes.
void forgetBriefcaseAt(const std::string& containerPath);

class Tracker {
 public:
  // `options` null: the record in its usual place.
  Tracker(const std::string& containerPath, const std::string& localFolder,
          plat::FileTime briefcaseDate, const CarryRecord::Options* options = nullptr);
  ~Tracker();
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  // The date a path without a record is measured by.
  plat::FileTime dateForUnrecorded() const { return date_; }
  // What the record holds of a path (null: nothing).
  const Record* record(std::string_view path) const { return set_.find(path); }
  // Whether the record knows anything of this pair.
  bool empty() const { return set_.empty(); }

  // The load rule for the local file at `localPath` (relative path `path`),
  // reading it when the rule asks.
  LocalClass local(const std::string& path, const std::string& localPath,
                   const plat::FileInfo& info);
  // The same for the file `name` in the folder `folder` (its path is made
  // only when the file is read).
  LocalClass local(const std::string& path, const std::string& folder, const std::string& name,
                   const plat::FileInfo& info);
  // An entry against the local file of its path (`info` null: none there),
  // reading the file when the rule asks.
  EntryClass entry(const std::string& path, const std::string& localPath,
                   const FileState* local, const EntryState& entry);
  EntryClass entry(const std::string& path, const std::string& localPath,
                   const plat::FileInfo* info, const EntryState& e) {
    if (!info) return entry(path, localPath, static_cast<const FileState*>(nullptr), e);
    const FileState state = stateOf(*info);
    return entry(path, localPath, &state, e);
  }

  // ---- what the operation carried, stored by commit() ----

  // The file at `localPath` holds the bytes of an entry of CRC-32 `crc` and
  // `size` (it was loaded into it, or unloaded from it): read and recorded
  // when it does and did not change since `before` (null: since just before
  // it is read). False when it does not, or changed: nothing is recorded,
  // and the file stays a candidate.
  // `mark`: the entry's directory holds no CRC (it is encrypted), and the
  // record keeps this mark of its bytes instead (archive/aes.h, bytesMark).
  bool carried(const std::string& path, const std::string& localPath, uint32_t crc, uint64_t size,
               const FileState* before = nullptr, std::optional<uint32_t> mark = std::nullopt);
  // The file at `localPath` was just written with the bytes `content` and
  // has the state `state` (the writer hashed them as it wrote them).
  void carriedAs(const std::string& path, const FileState& state, const Digest& content,
                 std::optional<uint32_t> mark = std::nullopt);
  // Every candidate of a scan begun at `scanNs` was loaded.
  void loadedAll(int64_t scanNs);
  // The operation's trip goes into the history with what it carried.
  void addTrip(const Trip& trip);
  // The pair's date as it was read (nothing before its first carry).
  std::optional<int64_t> since() const { return since_; }
  // The undo of the last unload becomes `plan`, or goes, with the rest.
  void setUndo(const UndoPlan& plan);
  void forgetUndo();
  // An undo: the path's record becomes `prior` again (none: it goes), and
  // the pair's date `since`.
  void restore(const std::string& path, const std::optional<Record>& prior);
  void restoreSince(std::optional<int64_t> since);
  // The record itself, for what goes outside the operation's transaction.
  CarryRecord& store() { return *record_; }
  // Stores what was carried in one transaction; true when nothing was to
  // be stored, or all of it was.
  bool commit();

  // A problem with the record met so far, once ("" when none).
  std::string takeWarning();

 private:
  const Digest* digestOf(const std::string& localPath, const FileState& state);
  LocalClass localRead(const Record* record, const FileState& state,
                       const std::string& localPath);
  void put(const std::string& path, const FileState& state, const Digest& content,
           std::optional<uint32_t> mark = std::nullopt);

  std::string folder_;  // the local folder, without a trailing '/'
  std::unique_ptr<CarryRecord> record_;
  RecordSet set_;
  plat::FileTime date_ = 0;
  int64_t stamp_ = kRacyWindowNs;  // the step of the folder's time stamps
  std::optional<int64_t> since_;   // the pair's date, as stored
  bool sinceSet_ = false;         // this operation gives the pair a new one
  bool carriedAny_ = false;       // the batch holds a carried file
  std::optional<CarryRecord::Batch> batch_;
  // The files read by the rules, by local path, with the state they had.
  struct Read {
    FileState state;
    Digest digest;
  };
  std::unordered_map<std::string, Read> read_;
};

}  // namespace carry
