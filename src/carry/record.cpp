#include "carry/record.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/paths.h"

namespace carry {
namespace {

constexpr int kSchemaVersion = 6;

// The tables. A pair is one (briefcase key, local folder); its records are
// keyed by the relative path's bytes (names need not be UTF-8, so BLOB).
// Unsigned 64-bit values (device, inode, sizes) are stored as their signed
// two's-complement image. A pair's since_ns is the moment of this
// computer's last load that took every candidate (NULL: none yet).
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS pairs("
    " id INTEGER PRIMARY KEY,"
    " briefcase TEXT NOT NULL,"
    " folder BLOB NOT NULL,"
    " since_ns INTEGER,"
    " UNIQUE(briefcase, folder));"
    "CREATE TABLE IF NOT EXISTS records("
    " pair INTEGER NOT NULL REFERENCES pairs(id),"
    " path BLOB NOT NULL,"
    " size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL,"
    " device INTEGER NOT NULL,"
    " inode INTEGER NOT NULL,"
    " sha256 BLOB NOT NULL,"
    " entry_crc INTEGER NOT NULL,"
    " entry_size INTEGER NOT NULL,"
    " recorded_ns INTEGER NOT NULL,"
    " PRIMARY KEY(pair, path)) WITHOUT ROWID;"
    // The history: one row per operation, by briefcase key; the names are
    // the relative paths, each ended by a NUL.
    "CREATE TABLE IF NOT EXISTS trips("
    " id INTEGER PRIMARY KEY,"
    " briefcase TEXT NOT NULL,"
    " at_ns INTEGER NOT NULL,"
    " computer TEXT NOT NULL,"
    " host TEXT NOT NULL,"
    " folder BLOB NOT NULL,"
    " operation TEXT NOT NULL,"
    " files INTEGER NOT NULL,"
    " bytes INTEGER NOT NULL,"
    " result INTEGER NOT NULL,"
    " outcome TEXT NOT NULL,"
    " names BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS trips_by_briefcase ON trips(briefcase, id);"
    // The undo of a pair's last unload: the plan and each file it wrote.
    // written, original: a file's size, mtime_ns, device and inode, 8 bytes
    // each, little-endian; prior: the path's record before the unload
    // (NULL: none), those four, sha256, entry_crc (4), entry_size, recorded_ns.
    "CREATE TABLE IF NOT EXISTS undo_plans("
    " pair INTEGER PRIMARY KEY REFERENCES pairs(id),"
    " at_ns INTEGER NOT NULL,"
    " briefcase_date INTEGER NOT NULL,"
    " since_ns INTEGER,"
    " undoing INTEGER NOT NULL,"
    " deletion_rows BLOB);"
    "CREATE TABLE IF NOT EXISTS undo_items("
    " pair INTEGER NOT NULL REFERENCES pairs(id),"
    " seq INTEGER NOT NULL,"
    " path BLOB NOT NULL,"
    " file BLOB NOT NULL,"
    " action INTEGER NOT NULL,"
    " written BLOB NOT NULL,"
    " entry_crc INTEGER NOT NULL,"
    " entry_size INTEGER NOT NULL,"
    " original BLOB NOT NULL,"
    " trashed BLOB NOT NULL,"
    " trash_info BLOB NOT NULL,"
    " moved INTEGER NOT NULL,"
    " prior BLOB,"
    " done INTEGER NOT NULL,"
    " PRIMARY KEY(pair, seq)) WITHOUT ROWID;"
    // This computer's choices for a briefcase that its configuration record
    // does not hold.
    "CREATE TABLE IF NOT EXISTS briefcase_options("
    " briefcase TEXT PRIMARY KEY,"
    " carry_deletions INTEGER NOT NULL);";

enum Statement {
  kLookup,
  kAll,
  kPut,
  kRemove,
  kRemoveAll,
  kFindPair,
  kSince,
  kSetSince,
  kStatementCount
};

const char* statementText(int which) {
  switch (which) {
    case kLookup:
      return "SELECT size, mtime_ns, device, inode, sha256, entry_crc, entry_size, recorded_ns"
             " FROM records WHERE pair = ?1 AND path = ?2";
    case kAll:
      return "SELECT size, mtime_ns, device, inode, sha256, entry_crc, entry_size, recorded_ns,"
             " path FROM records WHERE pair = ?1 ORDER BY path";
    case kPut:
      return "INSERT OR REPLACE INTO records(pair, path, size, mtime_ns, device, inode, sha256,"
             " entry_crc, entry_size, recorded_ns) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";
    case kRemove: return "DELETE FROM records WHERE pair = ?1 AND path = ?2";
    case kRemoveAll: return "DELETE FROM records WHERE pair = ?1";
    case kFindPair: return "SELECT id FROM pairs WHERE briefcase = ?1 AND folder = ?2";
    case kSince: return "SELECT since_ns FROM pairs WHERE id = ?1";
    case kSetSince: return "UPDATE pairs SET since_ns = ?2 WHERE id = ?1";
  }
  return "";
}

// The kinds of problem, each told once.
enum : unsigned { kWarnDamaged = 1, kWarnBusy = 2, kWarnFailed = 4, kWarnNewer = 8 };

enum class Check { kOk, kDamaged, kBusy, kNewer, kFailed };

Check checkOf(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return Check::kOk;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return Check::kDamaged;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return Check::kBusy;
  }
  return Check::kFailed;
}

void bindText(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text64(s, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}
void bindBlob(sqlite3_stmt* s, int i, const void* data, size_t size) {
  static const char kEmpty = 0;
  sqlite3_bind_blob64(s, i, size ? data : &kEmpty, size, SQLITE_TRANSIENT);
}
void bindU64(sqlite3_stmt* s, int i, uint64_t v) {
  sqlite3_bind_int64(s, i, static_cast<sqlite3_int64>(v));
}
uint64_t columnU64(sqlite3_stmt* s, int i) {
  return static_cast<uint64_t>(sqlite3_column_int64(s, i));
}

// A row of the record's columns (size … recorded_ns) from column 0; false when the hash is not 32 bytes.
bool readRecord(sqlite3_stmt* s, Record* r) {
  r->file.size = columnU64(s, 0);
  r->file.mtimeNs = sqlite3_column_int64(s, 1);
  r->file.device = columnU64(s, 2);
  r->file.inode = columnU64(s, 3);
  const void* hash = sqlite3_column_blob(s, 4);
  if (!hash || sqlite3_column_bytes(s, 4) != static_cast<int>(r->hash.size())) return false;
  std::memcpy(r->hash.data(), hash, r->hash.size());
  r->entryCrc = static_cast<uint32_t>(sqlite3_column_int64(s, 5));
  r->entrySize = columnU64(s, 6);
  r->recordedNs = sqlite3_column_int64(s, 7);
  return true;
}


// The database file and its write-ahead log as they stand (size and time of
// each), or "" when the file is not there.
std::string filesNow(const std::string& path) {
  std::string out;
  for (const std::string& p : {path, path + "-wal"}) {
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
      if (p == path) return std::string();
      out += "-;";
      continue;
    }
    out += std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ino) + ";";
  }
  return out;
}

// What filesNow said when the file was last found whole ("" never), kept
// beside it.
std::string lastChecked(const std::string& path) {
  std::ifstream in(path + ".checked");
  std::string line;
  std::getline(in, line);
  return line;
}

void markChecked(const std::string& path, const std::string& seen) {
  // Written beside and renamed: a torn mark is no mark.
  const std::string tmp = path + ".checked.new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << seen << "\n";
    if (!out) return;
  }
  std::rename(tmp.c_str(), (path + ".checked").c_str());
}

// Opens the database and makes sure it is one, whole, in WAL mode and with
// the tables.
Check openChecked(const std::string& path, int busyMs, sqlite3** out) {
  // As the files were before this connection touched them.
  const std::string seen = filesNow(path);
  // One connection per record, used by one thread at a time: no mutex on each call.
  int rc = sqlite3_open_v2(path.c_str(), out,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return checkOf(rc);
  sqlite3* db = *out;
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, busyMs);
  // Each run of brc opens and closes the record: the write-ahead log stays
  // between them instead of being folded into the database (and made again)
  // at every close, which costs three syncs more per operation; SQLite folds
  // it in as it grows.
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // The whole file mapped and cached: a scan looks up every path once.
  rc = sqlite3_exec(db,
                    "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                    " PRAGMA mmap_size=268435456; PRAGMA cache_size=-65536",
                    nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return checkOf(rc);
  sqlite3_stmt* s = nullptr;
  // The whole file is checked once after each change: a scan opens the
  // record every time, and a check reads every page.
  if (seen.empty() || seen != lastChecked(path)) {
    rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &s, nullptr);
    if (rc != SQLITE_OK) return checkOf(rc);
    rc = sqlite3_step(s);
    bool whole = rc == SQLITE_ROW &&
                 std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok") == 0;
    sqlite3_finalize(s);
    if (rc != SQLITE_ROW) return checkOf(rc);
    if (!whole) return Check::kDamaged;
    markChecked(path, seen);
  }
  rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
  if (rc != SQLITE_OK) return checkOf(rc);
  rc = sqlite3_step(s);
  const int version = rc == SQLITE_ROW ? sqlite3_column_int(s, 0) : 0;
  sqlite3_finalize(s);
  if (rc != SQLITE_ROW) return checkOf(rc);
  if (version > kSchemaVersion) return Check::kNewer;
  if (version < kSchemaVersion) {
    // Version 1 had no since_ns; versions 1 and 2 had no history, and
    // versions before 4 no undo, before 5 no options (made by the schema's
    // CREATE ... IF NOT EXISTS); 4 and 5 kept no deletions with an undo.
    const std::string create = std::string("BEGIN IMMEDIATE;") + kSchema +
                               (version == 1 ? "ALTER TABLE pairs ADD COLUMN since_ns INTEGER;" : "") +
                               (version == 4 || version == 5
                                    ? "ALTER TABLE undo_plans ADD COLUMN deletion_rows BLOB;"
                                    : "") +
                               "PRAGMA user_version=" + std::to_string(kSchemaVersion) +
                               ";COMMIT";
    rc = sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return checkOf(rc);
    }
  }
  return Check::kOk;
}

// Moves a damaged database (and its write-ahead log) aside as the first free
// numbered copy; the index file (-shm) holds nothing of its own and goes.
// Returns the copy's path, or "" when it could not be moved.
std::string setAside(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (int n = 1; n < 10000; ++n) {
    const std::string copy = path + "." + std::to_string(n);
    if (fs::exists(fs::symlink_status(copy, ec)) || fs::exists(fs::symlink_status(copy + "-wal", ec)))
      continue;
    fs::rename(path, copy, ec);
    if (ec) return std::string();
    if (fs::exists(fs::symlink_status(path + "-wal", ec))) fs::rename(path + "-wal", copy + "-wal", ec);
    fs::remove(path + "-shm", ec);
    return copy;
  }
  return std::string();
}

}  // namespace

std::string CarryRecord::defaultPath() { return plat::stateHome() + "/carryvale/carry.db"; }

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::unique_ptr<CarryRecord> CarryRecord::open(const std::string& key, const std::string& folder) {
  return open(key, folder, Options());
}

std::unique_ptr<CarryRecord> CarryRecord::open(const std::string& key, const std::string& folder,
                                               const Options& options) {
  std::unique_ptr<CarryRecord> r(new CarryRecord(key, plat::stripTrailingSlash(folder), options));
  r->start();
  return r;
}

CarryRecord::CarryRecord(std::string key, std::string folder, Options options)
    : key_(std::move(key)), folder_(std::move(folder)), options_(std::move(options)) {
  if (options_.databasePath.empty()) options_.databasePath = defaultPath();
}

CarryRecord::~CarryRecord() { close(); }

void CarryRecord::close() {
  for (sqlite3_stmt*& s : statements_) {
    sqlite3_finalize(s);
    s = nullptr;
  }
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void CarryRecord::warn(const std::string& text) {
  if (warning_.empty()) warning_ = text;
}

std::string CarryRecord::takeWarning() {
  std::string w;
  w.swap(warning_);
  return w;
}

void CarryRecord::start() {
  const std::string& path = options_.databasePath;
  plat::makePath(plat::parentFolder(path));
  for (int attempt = 0; attempt < 2; ++attempt) {
    Check c = openChecked(path, options_.busyTimeoutMs, &db_);
    if (c == Check::kOk) break;
    close();
    if (c == Check::kDamaged && attempt == 0) {
      const std::string copy = setAside(path);
      if (!copy.empty()) {
        warned_ |= kWarnDamaged;
        warn("The carry record " + path + " was damaged; it was kept as " + copy +
             " and a new one was started. Until files are carried again, the briefcase date "
             "decides which files count as changed.");
        continue;
      }
    }
    if (c == Check::kBusy) {
      warned_ |= kWarnBusy;
      warn("The carry record " + path + " is in use by another program; the briefcase date "
           "decides which files count as changed this time.");
    } else if (c == Check::kNewer) {
      warned_ |= kWarnNewer;
      warn("The carry record " + path + " was written by a newer version of Carryvale; the "
           "briefcase date decides which files count as changed.");
    } else {
      warned_ |= kWarnFailed;
      warn("The carry record " + path + " cannot be used; the briefcase date decides which "
           "files count as changed.");
    }
    return;
  }
  if (db_ && !pairId(false, &pair_)) pair_ = 0;
}

sqlite3_stmt* CarryRecord::statement(int which) {
  if (!db_) return nullptr;
  sqlite3_stmt*& s = statements_[which];
  if (!s && sqlite3_prepare_v3(db_, statementText(which), -1, SQLITE_PREPARE_PERSISTENT, &s,
                               nullptr) != SQLITE_OK) {
    s = nullptr;
    return nullptr;
  }
  sqlite3_reset(s);
  return s;
}

bool CarryRecord::pairId(bool create, int64_t* id) {
  if (create) {
    sqlite3_stmt* ins = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT OR IGNORE INTO pairs(briefcase, folder) VALUES(?1, ?2)",
                           -1, &ins, nullptr) != SQLITE_OK)
      return false;
    bindText(ins, 1, key_);
    bindBlob(ins, 2, folder_.data(), folder_.size());
    const int rc = sqlite3_step(ins);
    sqlite3_finalize(ins);
    if (rc != SQLITE_DONE) return false;
  }
  sqlite3_stmt* s = statement(kFindPair);
  if (!s) return false;
  bindText(s, 1, key_);
  bindBlob(s, 2, folder_.data(), folder_.size());
  const int rc = sqlite3_step(s);
  *id = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
  sqlite3_reset(s);
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

namespace {

// Tells the caller of a failed read, once per kind.
std::string readFailureText(int rc) {
  return checkOf(rc) == Check::kBusy
             ? "The carry record is in use by another program; the briefcase date decides "
               "which files count as changed this time."
             : std::string("The carry record could not be read (") + sqlite3_errstr(rc) +
                   "); the briefcase date decides which files count as changed.";
}

}  // namespace

bool CarryRecord::forgetBriefcase() {
  if (!db_ || batchOpen_) return false;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (const char* sql : {"DELETE FROM records WHERE pair IN (SELECT id FROM pairs WHERE "
                          "briefcase = ?1)",
                          "DELETE FROM undo_items WHERE pair IN (SELECT id FROM pairs WHERE "
                          "briefcase = ?1)",
                          "DELETE FROM undo_plans WHERE pair IN (SELECT id FROM pairs WHERE "
                          "briefcase = ?1)",
                          "DELETE FROM pairs WHERE briefcase = ?1",
                          "DELETE FROM briefcase_options WHERE briefcase = ?1",
                          "DELETE FROM trips WHERE briefcase = ?1"}) {
    if (!ok) break;
    ok = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK;
    if (ok) {
      bindText(s, 1, key_);
      ok = sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    s = nullptr;
  }
  if (ok) ok = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    warn(std::string("The carry record could not be written (") + sqlite3_errmsg(db_) + ").");
    return false;
  }
  pair_ = 0;
  return true;
}

const char* tripKindName(TripKind kind) {
  switch (kind) {
    case TripKind::kLoad: return "load";
    case TripKind::kUnload: return "unload";
    case TripKind::kDelete: return "delete";
    case TripKind::kClear: return "clear";
    case TripKind::kCompact: return "compact";
    case TripKind::kUndo: return "undo";
  }
  return "";
}

bool tripKindOf(std::string_view name, TripKind* kind) {
  for (TripKind k : {TripKind::kLoad, TripKind::kUnload, TripKind::kDelete, TripKind::kClear,
                     TripKind::kCompact, TripKind::kUndo})
    if (name == tripKindName(k)) {
      *kind = k;
      return true;
    }
  return false;
}

bool CarryRecord::insertTrip(const Trip& trip) {
  std::string names;
  for (const std::string& n : trip.names) {
    names += n;
    names += '\0';
  }
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db_,
                               "INSERT INTO trips(briefcase, at_ns, computer, host, folder,"
                               " operation, files, bytes, result, outcome, names)"
                               " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
                               -1, &s, nullptr) == SQLITE_OK;
  if (ok) {
    bindText(s, 1, key_);
    sqlite3_bind_int64(s, 2, trip.atNs ? trip.atNs : nowNs());
    bindText(s, 3, trip.computer);
    bindText(s, 4, trip.host);
    bindBlob(s, 5, trip.folder.data(), trip.folder.size());
    sqlite3_bind_text(s, 6, tripKindName(trip.kind), -1, SQLITE_STATIC);
    bindU64(s, 7, trip.files);
    bindU64(s, 8, trip.bytes);
    sqlite3_bind_int(s, 9, trip.result);
    bindText(s, 10, trip.outcome);
    bindBlob(s, 11, names.data(), names.size());
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  s = nullptr;
  // The oldest trips past the limit go with it.
  if (ok)
    ok = sqlite3_prepare_v2(db_,
                            "DELETE FROM trips WHERE briefcase = ?1 AND id <= (SELECT id FROM trips"
                            " WHERE briefcase = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2)",
                            -1, &s, nullptr) == SQLITE_OK;
  if (ok) {
    bindText(s, 1, key_);
    sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(kHistoryTrips));
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  return ok;
}

bool CarryRecord::addTrip(const Trip& trip) {
  if (!db_ || batchOpen_) return false;
  bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK &&
            insertTrip(trip) &&
            sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) {
    warn(std::string("The history could not be written (") + sqlite3_errmsg(db_) + ").");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  return ok;
}

std::vector<Trip> CarryRecord::history() {
  std::vector<Trip> out;
  if (!db_) return out;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT at_ns, computer, host, folder, operation, files, bytes, result,"
                         " outcome, names FROM trips WHERE briefcase = ?1 ORDER BY id DESC",
                         -1, &s, nullptr) != SQLITE_OK)
    return out;
  bindText(s, 1, key_);
  auto text = [s](int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           static_cast<size_t>(sqlite3_column_bytes(s, i)))
             : std::string();
  };
  auto blob = [s](int i) {
    const char* b = static_cast<const char*>(sqlite3_column_blob(s, i));
    return b ? std::string(b, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
  };
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    Trip t;
    if (!tripKindOf(text(4), &t.kind)) continue;  // a kind a newer version wrote
    t.atNs = sqlite3_column_int64(s, 0);
    t.computer = text(1);
    t.host = text(2);
    t.folder = blob(3);
    t.files = columnU64(s, 5);
    t.bytes = columnU64(s, 6);
    t.result = sqlite3_column_int(s, 7);
    t.outcome = text(8);
    const std::string names = blob(9);
    for (size_t at = 0; at < names.size();) {
      size_t end = names.find('\0', at);
      if (end == std::string::npos) end = names.size();
      t.names.push_back(names.substr(at, end - at));
      at = end + 1;
    }
    out.push_back(std::move(t));
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    warn(readFailureText(rc));
    out.clear();
  }
  return out;
}

std::optional<int64_t> CarryRecord::since() {
  if (!db_ || pair_ == 0) return std::nullopt;
  sqlite3_stmt* s = statement(kSince);
  if (!s) return std::nullopt;
  sqlite3_bind_int64(s, 1, pair_);
  std::optional<int64_t> out;
  if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL)
    out = sqlite3_column_int64(s, 0);
  sqlite3_reset(s);
  return out;
}

std::optional<Record> CarryRecord::lookup(const std::string& path) {
  if (!db_ || pair_ == 0) return std::nullopt;
  sqlite3_stmt* s = statement(kLookup);
  if (!s) return std::nullopt;
  sqlite3_bind_int64(s, 1, pair_);
  // The path outlives the step: bound without a copy.
  static const char kEmpty = 0;
  sqlite3_bind_blob64(s, 2, path.empty() ? &kEmpty : path.data(), path.size(), SQLITE_STATIC);
  const int rc = sqlite3_step(s);
  std::optional<Record> out;
  Record r;
  if (rc == SQLITE_ROW && readRecord(s, &r)) out = r;
  sqlite3_reset(s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    const unsigned kind = checkOf(rc) == Check::kBusy ? kWarnBusy : kWarnFailed;
    if (!(warned_ & kind)) warn(readFailureText(rc));
    warned_ |= kind;
  }
  return out;
}

RecordSet& RecordSet::operator=(RecordSet&& other) noexcept {
  if (this == &other) return *this;
  const char* was = other.paths_.data();
  paths_ = std::move(other.paths_);
  items_ = std::move(other.items_);
  for (Item& item : items_)
    item.path = std::string_view(paths_.data() + (item.path.data() - was), item.path.size());
  other.paths_.clear();
  other.items_.clear();
  return *this;
}

const Record* RecordSet::find(std::string_view path) const {
  // The items are in the order of their bytes (the database's BLOB order,
  // which is memcmp's, as string_view's comparison is).
  auto it = std::lower_bound(items_.begin(), items_.end(), path,
                             [](const Item& item, std::string_view p) { return item.path < p; });
  return it != items_.end() && it->path == path ? &it->record : nullptr;
}

RecordSet CarryRecord::all() {
  RecordSet out;
  if (!db_ || pair_ == 0) return out;
  sqlite3_stmt* s = statement(kAll);
  if (!s) return out;
  sqlite3_bind_int64(s, 1, pair_);
  std::vector<std::pair<size_t, size_t>> spans;  // each path's place in paths_
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    Record r;
    if (!readRecord(s, &r)) continue;
    const char* p = static_cast<const char*>(sqlite3_column_blob(s, 8));
    const size_t n = static_cast<size_t>(sqlite3_column_bytes(s, 8));
    spans.emplace_back(out.paths_.size(), n);
    if (p) out.paths_.append(p, n);
    out.items_.push_back({std::string_view(), r});
  }
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) {
    // Part of a set is no set: the caller falls back to the dates for all.
    const unsigned kind = checkOf(rc) == Check::kBusy ? kWarnBusy : kWarnFailed;
    if (!(warned_ & kind)) warn(readFailureText(rc));
    warned_ |= kind;
    return RecordSet();
  }
  for (size_t i = 0; i < spans.size(); ++i)
    out.items_[i].path = std::string_view(out.paths_).substr(spans[i].first, spans[i].second);
  return out;
}

bool CarryRecord::carriesDeletions() {
  if (!db_) return false;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT carry_deletions FROM briefcase_options WHERE briefcase = ?1",
                         -1, &s, nullptr) != SQLITE_OK)
    return false;
  bindText(s, 1, key_);
  const bool on = sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) != 0;
  sqlite3_finalize(s);
  return on;
}

bool CarryRecord::setCarriesDeletions(bool on) {
  if (!db_ || batchOpen_) return false;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db_,
                               "INSERT OR REPLACE INTO briefcase_options(briefcase, carry_deletions)"
                               " VALUES(?1, ?2)",
                               -1, &s, nullptr) == SQLITE_OK;
  if (ok) {
    bindText(s, 1, key_);
    sqlite3_bind_int(s, 2, on ? 1 : 0);
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  if (!ok) warn(std::string("The carry record could not be written (") + sqlite3_errmsg(db_) + ").");
  return ok;
}

// ---- the undo ----

namespace {

void putU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}
uint64_t getU64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::string stateBytes(const FileState& f) {
  std::string out;
  putU64(out, f.size);
  putU64(out, static_cast<uint64_t>(f.mtimeNs));
  putU64(out, f.device);
  putU64(out, f.inode);
  return out;
}
bool stateOfBytes(const unsigned char* p, size_t n, FileState* f) {
  if (n != 32) return false;
  f->size = getU64(p);
  f->mtimeNs = static_cast<int64_t>(getU64(p + 8));
  f->device = getU64(p + 16);
  f->inode = getU64(p + 24);
  return true;
}

constexpr size_t kPriorBytes = 32 + 32 + 4 + 8 + 8;
std::string recordBytes(const Record& r) {
  std::string out = stateBytes(r.file);
  out.append(reinterpret_cast<const char*>(r.hash.data()), r.hash.size());
  for (int i = 0; i < 4; ++i) out += static_cast<char>((r.entryCrc >> (8 * i)) & 0xff);
  putU64(out, r.entrySize);
  putU64(out, static_cast<uint64_t>(r.recordedNs));
  return out;
}
bool recordOfBytes(const unsigned char* p, size_t n, Record* r) {
  if (n != kPriorBytes || !stateOfBytes(p, 32, &r->file)) return false;
  std::memcpy(r->hash.data(), p + 32, r->hash.size());
  r->entryCrc = static_cast<uint32_t>(p[64] | p[65] << 8 | p[66] << 16 | uint32_t(p[67]) << 24);
  r->entrySize = getU64(p + 68);
  r->recordedNs = static_cast<int64_t>(getU64(p + 76));
  return true;
}

// Runs `sql` with the pair as ?1; true when it went through.
bool execForPair(sqlite3* db, const char* sql, int64_t pair) {
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(s, 1, pair);
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  return ok;
}

}  // namespace

std::optional<UndoPlan> CarryRecord::undoPlan() {
  if (!db_ || pair_ == 0) return std::nullopt;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT at_ns, briefcase_date, since_ns, undoing, deletion_rows"
                         " FROM undo_plans"
                         " WHERE pair = ?1",
                         -1, &s, nullptr) != SQLITE_OK)
    return std::nullopt;
  sqlite3_bind_int64(s, 1, pair_);
  std::optional<UndoPlan> plan;
  if (sqlite3_step(s) == SQLITE_ROW) {
    plan.emplace();
    plan->atNs = sqlite3_column_int64(s, 0);
    plan->briefcaseDate = sqlite3_column_int64(s, 1);
    if (sqlite3_column_type(s, 2) != SQLITE_NULL) plan->since = sqlite3_column_int64(s, 2);
    plan->undoing = sqlite3_column_int(s, 3) != 0;
    if (const void* rows = sqlite3_column_blob(s, 4))
      plan->deletionRows.assign(static_cast<const char*>(rows),
                                static_cast<size_t>(sqlite3_column_bytes(s, 4)));
  }
  sqlite3_finalize(s);
  if (!plan) return plan;
  if (sqlite3_prepare_v2(db_,
                         "SELECT path, file, action, written, entry_crc, entry_size, original,"
                         " trashed, trash_info, moved, prior, done FROM undo_items"
                         " WHERE pair = ?1 ORDER BY seq",
                         -1, &s, nullptr) != SQLITE_OK)
    return std::nullopt;
  sqlite3_bind_int64(s, 1, pair_);
  auto blob = [s](int i) {
    const char* b = static_cast<const char*>(sqlite3_column_blob(s, i));
    return b ? std::string(b, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
  };
  auto bytes = [s](int i) { return static_cast<const unsigned char*>(sqlite3_column_blob(s, i)); };
  auto size = [s](int i) { return static_cast<size_t>(sqlite3_column_bytes(s, i)); };
  int rc;
  bool whole = true;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    UndoItem item;
    item.path = blob(0);
    item.file = blob(1);
    const int action = sqlite3_column_int(s, 2);
    if (action < 0 || action > static_cast<int>(UndoAction::kKeep)) whole = false;
    item.action = static_cast<UndoAction>(action);
    whole = stateOfBytes(bytes(3), size(3), &item.written) && whole;
    item.entryCrc = static_cast<uint32_t>(sqlite3_column_int64(s, 4));
    item.entrySize = columnU64(s, 5);
    whole = stateOfBytes(bytes(6), size(6), &item.original) && whole;
    item.trashedPath = blob(7);
    item.trashInfoPath = blob(8);
    item.moved = sqlite3_column_int(s, 9) != 0;
    if (sqlite3_column_type(s, 10) != SQLITE_NULL) {
      Record r;
      whole = recordOfBytes(bytes(10), size(10), &r) && whole;
      item.prior = r;
    }
    item.done = sqlite3_column_int(s, 11) != 0;
    plan->items.push_back(std::move(item));
  }
  sqlite3_finalize(s);
  // An undo is all or nothing: a plan read in part is none.
  if (rc != SQLITE_DONE || !whole) {
    if (rc != SQLITE_DONE) warn(readFailureText(rc));
    return std::nullopt;
  }
  return plan;
}

bool CarryRecord::markUndoing() {
  if (!db_ || pair_ == 0 || batchOpen_) return false;
  return execForPair(db_, "UPDATE undo_plans SET undoing = 1 WHERE pair = ?1", pair_);
}

bool CarryRecord::markUndone(size_t item) {
  if (!db_ || pair_ == 0 || batchOpen_) return false;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db_, "UPDATE undo_items SET done = 1 WHERE pair = ?1 AND seq = ?2",
                               -1, &s, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(s, 1, pair_);
    sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(item));
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  return ok;
}

// ---- Batch ----

CarryRecord::Batch CarryRecord::batch() {
  Batch b(this);
  if (batchOpen_ || !db_) {
    b.failed_ = true;  // a second batch at once stores nothing
  } else {
    batchOpen_ = true;
    b.owns_ = true;
  }
  return b;
}

CarryRecord::Batch::Batch(Batch&& other) noexcept
    : owner_(other.owner_),
      begun_(other.begun_),
      failed_(other.failed_),
      done_(other.done_),
      owns_(other.owns_),
      createdPair_(other.createdPair_) {
  other.owner_ = nullptr;
}

void CarryRecord::Batch::rollback() {
  if (begun_) sqlite3_exec(owner_->db_, "ROLLBACK", nullptr, nullptr, nullptr);
  begun_ = false;
  if (createdPair_) owner_->pair_ = 0;  // the new pair went with the transaction
  createdPair_ = false;
}

void CarryRecord::Batch::release() {
  done_ = true;
  if (owns_) owner_->batchOpen_ = false;
  owns_ = false;
}

CarryRecord::Batch::~Batch() {
  if (!owner_ || done_) return;
  rollback();
  release();
}

void CarryRecord::Batch::fail(const char* what) {
  const int rc = sqlite3_errcode(owner_->db_);
  rollback();
  failed_ = true;
  const unsigned kind = checkOf(rc) == Check::kBusy ? kWarnBusy : kWarnFailed;
  owner_->warn(std::string("The carry record could not be ") + what + " (" + sqlite3_errstr(rc) +
               "); the briefcase date decides which files count as changed.");
  owner_->warned_ |= kind;
}

bool CarryRecord::Batch::begin() {
  if (failed_ || done_) return false;
  if (begun_) return true;
  // IMMEDIATE: the write lock now, waiting at most the busy time for it.
  if (sqlite3_exec(owner_->db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail("written");
    return false;
  }
  begun_ = true;
  if (owner_->pair_ == 0) {
    createdPair_ = true;
    if (!owner_->pairId(true, &owner_->pair_) || owner_->pair_ == 0) {
      fail("written");
      return false;
    }
  }
  return true;
}

void CarryRecord::Batch::put(const std::string& path, const Record& record) {
  if (!begin()) return;
  sqlite3_stmt* s = owner_->statement(kPut);
  if (!s) return fail("written");
  sqlite3_bind_int64(s, 1, owner_->pair_);
  bindBlob(s, 2, path.data(), path.size());
  bindU64(s, 3, record.file.size);
  sqlite3_bind_int64(s, 4, record.file.mtimeNs);
  bindU64(s, 5, record.file.device);
  bindU64(s, 6, record.file.inode);
  bindBlob(s, 7, record.hash.data(), record.hash.size());
  sqlite3_bind_int64(s, 8, record.entryCrc);
  bindU64(s, 9, record.entrySize);
  sqlite3_bind_int64(s, 10, record.recordedNs ? record.recordedNs : nowNs());
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) fail("written");
}

void CarryRecord::Batch::remove(const std::string& path) {
  if (!begin()) return;
  sqlite3_stmt* s = owner_->statement(kRemove);
  if (!s) return fail("written");
  sqlite3_bind_int64(s, 1, owner_->pair_);
  bindBlob(s, 2, path.data(), path.size());
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) fail("written");
}

void CarryRecord::Batch::setSince(int64_t ns) {
  if (!begin()) return;
  sqlite3_stmt* s = owner_->statement(kSetSince);
  if (!s) return fail("written");
  sqlite3_bind_int64(s, 1, owner_->pair_);
  sqlite3_bind_int64(s, 2, ns);
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) fail("written");
}

void CarryRecord::Batch::clearSince() {
  if (!begin()) return;
  if (!execForPair(owner_->db_, "UPDATE pairs SET since_ns = NULL WHERE id = ?1", owner_->pair_))
    fail("written");
}

void CarryRecord::Batch::forgetUndo() {
  if (!begin()) return;
  if (!execForPair(owner_->db_, "DELETE FROM undo_items WHERE pair = ?1", owner_->pair_) ||
      !execForPair(owner_->db_, "DELETE FROM undo_plans WHERE pair = ?1", owner_->pair_))
    fail("written");
}

void CarryRecord::Batch::setUndo(const UndoPlan& plan) {
  forgetUndo();
  if ((plan.items.empty() && plan.deletionRows.empty()) || failed_) return;
  sqlite3* db = owner_->db_;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db,
                               "INSERT INTO undo_plans(pair, at_ns, briefcase_date, since_ns,"
                               " undoing, deletion_rows) VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                               -1, &s, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(s, 1, owner_->pair_);
    sqlite3_bind_int64(s, 2, plan.atNs ? plan.atNs : nowNs());
    sqlite3_bind_int64(s, 3, plan.briefcaseDate);
    if (plan.since)
      sqlite3_bind_int64(s, 4, *plan.since);
    else
      sqlite3_bind_null(s, 4);
    sqlite3_bind_int(s, 5, plan.undoing ? 1 : 0);
    if (plan.deletionRows.empty())
      sqlite3_bind_null(s, 6);
    else
      bindBlob(s, 6, plan.deletionRows.data(), plan.deletionRows.size());
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  s = nullptr;
  if (ok)
    ok = sqlite3_prepare_v2(db,
                            "INSERT INTO undo_items(pair, seq, path, file, action, written,"
                            " entry_crc, entry_size, original, trashed, trash_info, moved, prior,"
                            " done) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13,"
                            " ?14)",
                            -1, &s, nullptr) == SQLITE_OK;
  for (size_t i = 0; ok && i < plan.items.size(); ++i) {
    const UndoItem& item = plan.items[i];
    sqlite3_reset(s);
    sqlite3_bind_int64(s, 1, owner_->pair_);
    sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(i));
    bindBlob(s, 3, item.path.data(), item.path.size());
    bindBlob(s, 4, item.file.data(), item.file.size());
    sqlite3_bind_int(s, 5, static_cast<int>(item.action));
    const std::string written = stateBytes(item.written), original = stateBytes(item.original);
    bindBlob(s, 6, written.data(), written.size());
    sqlite3_bind_int64(s, 7, item.entryCrc);
    bindU64(s, 8, item.entrySize);
    bindBlob(s, 9, original.data(), original.size());
    bindBlob(s, 10, item.trashedPath.data(), item.trashedPath.size());
    bindBlob(s, 11, item.trashInfoPath.data(), item.trashInfoPath.size());
    sqlite3_bind_int(s, 12, item.moved ? 1 : 0);
    if (item.prior) {
      const std::string prior = recordBytes(*item.prior);
      bindBlob(s, 13, prior.data(), prior.size());
    } else {
      sqlite3_bind_null(s, 13);
    }
    sqlite3_bind_int(s, 14, item.done ? 1 : 0);
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  sqlite3_finalize(s);
  if (!ok) fail("written");
}

void CarryRecord::Batch::addTrip(const Trip& trip) {
  if (!begin()) return;
  if (!owner_->insertTrip(trip)) fail("written");
}

void CarryRecord::Batch::removeAll() {
  if (!begin()) return;
  sqlite3_stmt* s = owner_->statement(kRemoveAll);
  if (!s) return fail("written");
  sqlite3_bind_int64(s, 1, owner_->pair_);
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) fail("written");
}

bool CarryRecord::Batch::commit() {
  if (!owner_ || done_) return false;
  bool ok = false;
  if (!failed_) {
    if (!begun_) {
      ok = true;  // nothing to store
    } else if (sqlite3_exec(owner_->db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
      begun_ = false;
      createdPair_ = false;
      ok = true;
    } else {
      fail("written");
    }
  }
  release();
  return ok;
}

}  // namespace carry
