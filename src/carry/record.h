#pragma once
// The carry record: what this computer last carried, per briefcase and local
// folder, one record per relative path. It lives in an SQLite database in WAL
// mode, $XDG_STATE_HOME/carryvale/carry.db; every change of an operation goes
// in one transaction, so a kill at any moment leaves the old set or the new.
//
// The record only ever adds knowledge: when it cannot be had (a damaged file,
// set aside as carry.db.N; a database another process holds past the wait)
// the caller gets "no record" and a warning to show once, and the briefcase
// date decides as it always did.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carry/digest.h"

struct sqlite3;
struct sqlite3_stmt;

namespace carry {

// The clock now, nanoseconds since 1970.
int64_t nowNs();

// What the scan sees of a local file without reading it.
struct FileState {
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970 (UTC)
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileState&) const = default;
};

// One path as this computer last carried it: the local file (its state and
// content) and the briefcase entry of the same bytes (its CRC-32 and size, so
// that an entry can be told from the central directory alone).
struct Record {
  FileState file;
  Hash hash{};
  uint32_t entryCrc = 0;
  uint64_t entrySize = 0;
  int64_t recordedNs = 0;  // when the record was written (the clock, ns since 1970)
  bool operator==(const Record&) const = default;
};

// One operation on a briefcase as this computer's history keeps it.
enum class TripKind { kLoad, kUnload, kDelete, kClear, kCompact, kUndo };
// "load", "unload", ... (the history's stored and printed name); the kind
// of a name, false when it names none.
const char* tripKindName(TripKind kind);
bool tripKindOf(std::string_view name, TripKind* kind);

struct Trip {
  int64_t atNs = 0;      // when it ended (ns since 1970)
  std::string computer;  // this computer's id
  std::string host;      // and its host name
  std::string folder;    // the local folder it worked with ("": none)
  TripKind kind = TripKind::kLoad;
  uint64_t files = 0;    // the files it carried, deleted or kept
  uint64_t bytes = 0;    // their bytes (a compaction: the bytes it freed)
  int result = 0;        // the run's result code
  std::string outcome;   // that result as a short text ("completed", "cancelled", ...)
  std::vector<std::string> names;  // the files, by relative path
  bool operator==(const Trip&) const = default;
};

// How many trips the history of a briefcase keeps; older ones go.
constexpr size_t kHistoryTrips = 100;

// What undoing the last unload does with one file it wrote.
enum class UndoAction {
  kRestore,  // it replaced a file kept in the trash: that file comes back
  kRemove,   // it made a new file (or a conflict copy): the file goes to the trash
  kKeep,     // it replaced a file with the same bytes, or one it could not keep: it stays
};

// One file the last unload wrote, as its undo needs to know it.
struct UndoItem {
  std::string path;  // the entry's relative path (the record's)
  std::string file;  // the file written (its full path; a conflict copy lies beside the path)
  UndoAction action = UndoAction::kRemove;
  FileState written;  // as the unload left it
  uint32_t entryCrc = 0;
  uint64_t entrySize = 0;
  // kRestore: the replaced file in the trash, as it was, and its .trashinfo.
  FileState original;
  std::string trashedPath, trashInfoPath;
  bool moved = false;  // moved into the trash (no second name was made)
  std::optional<Record> prior;  // the path's record before the unload
  bool done = false;            // an undo already put this one back
  bool operator==(const UndoItem&) const = default;
};

// The last unload of a pair, kept until the next load or unload.
struct UndoPlan {
  int64_t atNs = 0;                   // when it ended
  int64_t briefcaseDate = 0;          // the container's date before it (a file time)
  std::optional<int64_t> since;       // the pair's date before it
  bool undoing = false;               // an undo began and did not end
  std::vector<UndoItem> items;
  // The deletions it took from the briefcase, as the container carries
  // them (their block's bytes; empty: none).
  std::string deletionRows;
  bool operator==(const UndoPlan&) const = default;
};

// Every record of a pair at one moment, sorted by path, for a scan that asks
// about each of its files: one query, no allocation per record.
class RecordSet {
 public:
  RecordSet() = default;
  // The items point into the set's own text: a moved set points into its
  // new place (a short text moves its bytes), and a copy would not.
  RecordSet(RecordSet&& other) noexcept { *this = std::move(other); }
  RecordSet& operator=(RecordSet&& other) noexcept;
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;

  struct Item {
    std::string_view path;
    Record record;
  };
  const Record* find(std::string_view path) const;
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  std::vector<Item>::const_iterator begin() const { return items_.begin(); }
  std::vector<Item>::const_iterator end() const { return items_.end(); }

 private:
  friend class CarryRecord;
  std::string paths_;  // every path, one after the other; the items point into it
  std::vector<Item> items_;
};

class CarryRecord {
 public:
  struct Options {
    std::string databasePath;  // empty: $XDG_STATE_HOME/carryvale/carry.db
    int busyTimeoutMs = 3000;  // how long to wait for another process
  };

  // The record of one (briefcase key, local folder) pair. Never fails: on a
  // problem the object answers "no record" and available() is false.
  static std::unique_ptr<CarryRecord> open(const std::string& key, const std::string& folder);
  static std::unique_ptr<CarryRecord> open(const std::string& key, const std::string& folder,
                                           const Options& options);
  ~CarryRecord();
  CarryRecord(const CarryRecord&) = delete;
  CarryRecord& operator=(const CarryRecord&) = delete;

  // The default database file.
  static std::string defaultPath();

  // False when the database could not be used; lookups then find nothing.
  bool available() const { return db_ != nullptr; }

  // The warning of a problem met so far, once: later calls return "" until
  // a new kind of problem is met.
  std::string takeWarning();

  // The record of a relative path ('/' separated, as the entry names go).
  std::optional<Record> lookup(const std::string& path);
  // Every record of the pair, for a scan that visits them all; empty when
  // it cannot be read whole.
  RecordSet all();
  // The moment (ns since 1970) of this computer's last load that took every
  // candidate of the pair, or of its first carry's briefcase date: a path
  // never carried counts as changed when its file is newer. Nothing before
  // the first carry.
  std::optional<int64_t> since();
  // Forgets every pair of this record's briefcase key, whatever its folder
  // (a new briefcase made where another was: nothing carried with that one
  // is in the new one).
  bool forgetBriefcase();

  // The history of this record's briefcase on this computer (whatever the
  // folder): addTrip stores one trip in a transaction of its own and trims
  // the history to the last kHistoryTrips; history() gives them newest
  // first (empty when it cannot be read).
  bool addTrip(const Trip& trip);
  std::vector<Trip> history();

  // Whether this computer carries deletions with this record's briefcase
  // (off unless set; whatever the folder).
  bool carriesDeletions();
  bool setCarriesDeletions(bool on);

  // The undo of the pair's last unload (nothing when there is none or it
  // cannot be read); markUndoing and markUndone journal an undo as it goes,
  // each in a transaction of its own.
  std::optional<UndoPlan> undoPlan();
  bool markUndoing();
  bool markUndone(size_t item);

  // The changes of one operation, written together by commit(); a batch
  // destroyed without a commit leaves the record as it was. One batch at a
  // time per CarryRecord.
  class Batch {
   public:
    ~Batch();
    Batch(Batch&& other) noexcept;
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    Batch& operator=(Batch&&) = delete;

    void put(const std::string& path, const Record& record);
    void remove(const std::string& path);
    void removeAll();  // every record of the pair
    void setSince(int64_t ns);
    void clearSince();
    // The pair's undo becomes `plan` (an empty one: none); forgetUndo drops it.
    void setUndo(const UndoPlan& plan);
    void forgetUndo();
    // The trip goes into the history with the batch's other changes.
    void addTrip(const Trip& trip);
    // True when every change is stored; false (with a warning) when none is.
    bool commit();

   private:
    friend class CarryRecord;
    explicit Batch(CarryRecord* owner) : owner_(owner) {}
    bool begin();
    void fail(const char* what);
    void rollback();
    void release();
    CarryRecord* owner_;
    bool begun_ = false, failed_ = false, done_ = false;
    bool owns_ = false;         // this batch holds the record's one batch slot
    bool createdPair_ = false;  // the pair was created inside this transaction
  };
  Batch batch();

 private:
  CarryRecord(std::string key, std::string folder, Options options);
  void start();
  void close();
  void warn(const std::string& text);
  bool pairId(bool create, int64_t* id);
  sqlite3_stmt* statement(int which);
  bool insertTrip(const Trip& trip);  // inside a transaction; trims the history

  std::string key_, folder_;
  Options options_;
  sqlite3* db_ = nullptr;
  static constexpr int kStatements = 8;  // the prepared statements it keeps
  sqlite3_stmt* statements_[kStatements] = {};
  int64_t pair_ = 0;  // 0: the pair has no records yet
  bool batchOpen_ = false;
  std::string warning_;
  unsigned warned_ = 0;  // the kinds of problem already told
};

}  // namespace carry
