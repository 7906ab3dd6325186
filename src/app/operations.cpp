#include "app/operations.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "app/history.h"
#include "archive/aes.h"
#include "archive/compress.h"
#include "archive/encrypted.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/restore.h"
#include "archive/update/update.h"
#include "archive/zwnt.h"
#include "briefcase/brdate.h"
#include "briefcase/briefcasedoc.h"
#include "carry/tracker.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/syncfs.h"

namespace app {
namespace {

constexpr uint64_t kLargestFile = 0xffffffffULL;  // sizes must fit in 32 bits

// Restores an engine callback when the workflow is done with it.
template <typename T>
class Keep {
 public:
  explicit Keep(T& slot) : slot_(slot), saved_(slot) {}
  ~Keep() { slot_ = saved_; }
  Keep(const Keep&) = delete;
  Keep& operator=(const Keep&) = delete;

 private:
  T& slot_;
  T saved_;
};

void status(archive::TCompress& engine, const std::string& text) {
  if (engine.callbacks.message) engine.callbacks.message(text);
}

// The entries of the briefcase as its directory lists them (name, size), in
// directory order; false when it cannot be listed.
bool listEntries(archive::TCompress& engine,
                 std::vector<std::pair<std::string, uint64_t>>* out) {
  Keep<archive::TExtractCallbacks> keepCallbacks(engine.extract.callbacks);
  Keep<std::function<void(const std::string&)>> keepMessage(engine.callbacks.message);
  engine.callbacks.message = nullptr;
  engine.extract.callbacks = archive::TExtractCallbacks();
  engine.extract.callbacks.listEntry = [out](const archive::TExtractEntry& e) {
    if (!e.isFolder()) out->emplace_back(e.displayName(), e.central.uncompressedSize);
  };
  return archive::ListRun(engine) == archive::kOk;
}

// A selected entry as the listing shows it.
struct Selected {
  std::string name;
  size_t index = 0;  // its place in the directory
  uint32_t crc = 0;  // or the mark of an encrypted entry's bytes
  uint32_t size = 0;
  bool crcIsContent = true;
};

// Whether the local file holds the bytes of an entry whose directory says
// `crc` and `size`; never for an encrypted entry, whose directory does not
// tell (the file is then treated as different).
bool sameBytes(const std::string& path, uint32_t size, uint32_t crc);
bool sameBytesAs(const std::string& path, uint32_t size, const archive::aes::BytesMark& mark) {
  return mark.isCrc && sameBytes(path, size, mark.value);
}

// Whether the regular file at `path` holds exactly `size` bytes with this CRC.
bool sameBytes(const std::string& path, uint32_t size, uint32_t crc) {
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(path, &fi, false) || !fi.isRegular || fi.size != size) return false;
  auto f = plat::fileSystem().open(path, plat::Access::Read, plat::Disposition::OpenExisting);
  if (!f) return false;
  std::vector<uint8_t> buf(1 << 16);
  uLong sum = crc32(0, nullptr, 0);
  for (;;) {
    size_t got = 0;
    if (!f->read(buf.data(), buf.size(), &got)) return false;
    if (got == 0) break;
    sum = crc32(sum, buf.data(), static_cast<uInt>(got));
  }
  return static_cast<uint32_t>(sum) == crc;
}

// Waits while another run holds the briefcase, until `deadline`, saying once
// that it waits; the cancel check between looks keeps a window live and
// sees Cancel or Ctrl+C. True when the briefcase is free.
bool waitWhileBusy(archive::TCompress& engine, std::chrono::steady_clock::time_point deadline) {
  bool told = false;
  while (BriefcaseBusy(engine.archivePath)) {
    if (!told) status(engine, "Waiting for another run to finish with the briefcase...");
    told = true;
    if (engine.callbacks.cancelCheck) engine.callbacks.cancelCheck(engine.cancelled);
    if (engine.cancelled || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

constexpr plat::FileTime kTwoSeconds = 2 * plat::kTicksPerSecond;

// Returns once a file written now would be dated after `date`.
void waitPastDate(plat::FileTime date) {
  // Two steps of the clock that dates files, and at least 2 ms.
  const plat::FileTime tick = std::max<plat::FileTime>(2 * plat::fileClockStep(),
                                                        plat::kTicksPerSecond / 500);
  if (!date) return;
  // Slept for what is left, then looked at again (a sleep may end early).
  for (plat::FileTime now = plat::nowFileTime();
       now <= date + tick && date < now + kTwoSeconds + tick; now = plat::nowFileTime())
    std::this_thread::sleep_for(std::chrono::microseconds((date + tick - now) / 10 + 100));
}

// After a run that dated the briefcase: the date is not earlier than the
// newest file it carried (`newest`, only files dated before the run ended),
// and a change made once the run has ended counts.
// A disk that keeps coarse times (FAT 2 s, the exFAT driver 1 s) cuts the
// container's time down, and a file loaded a moment before the run ended
// would count as changed again: the date then becomes the first time the
// disk keeps at or after that file's. And the run ends only once a file
// written then would be dated after the date: file times come from the
// system's coarse clock, which may lag the exact one by a tick (up to 10 ms),
// and a disk's driver may date the briefcase by the exact one, or up to 2 s
// ahead after the raise. Without `wait` the caller waits (waitPastDate).
// The date, 0 when it cannot be read.
plat::FileTime settleDate(const std::string& briefcasePath, plat::FileTime newest, bool wait = true) {
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(briefcasePath, &fi, true)) return 0;
  plat::FileTime date = fi.writeTime;
  if (newest > date && newest - date < kTwoSeconds) {
    for (uint64_t grid : {uint64_t(1), plat::kTicksPerSecond, kTwoSeconds}) {
      const plat::FileTime want = (newest + grid - 1) / grid * grid;
      if (!plat::fileSystem().setTimes(briefcasePath, nullptr, &want, &want) ||
          !plat::fileSystem().stat(briefcasePath, &fi, true))
        return 0;
      date = fi.writeTime;
      if (date >= newest) break;
    }
  }
  if (wait) waitPastDate(date);
  return date;
}

UnloadRunOutcome unloadOutcome(int rc) {
  switch (rc) {
    case archive::kOk:
      return UnloadRunOutcome::Unloaded;
    case archive::kNoFiles:
      return UnloadRunOutcome::NoFiles;
    case archive::kInterrupted:
      return UnloadRunOutcome::Cancelled;
    case archive::kWriteFailure:
    case archive::kInUse:
      return UnloadRunOutcome::InUse;
    case archive::kReadOnly:
      return UnloadRunOutcome::ReadOnly;
    case archive::kNameRefused:
      return UnloadRunOutcome::NameRefused;
    case archive::kDiskFull:
      return UnloadRunOutcome::DiskFull;
    case archive::kOutOfMemory:
      return UnloadRunOutcome::OutOfMemory;
    default:
      return UnloadRunOutcome::Failed;
  }
}

}  // namespace

// ---------------------------------------------------------------- the local folder

std::optional<std::string> AskForMissingFolder(const std::string& folder) {
  std::optional<std::string> chosen = briefcase::AskForLocalFolder(plat::parentFolder(folder));
  if (!chosen || !plat::folderExists(*chosen)) return std::nullopt;
  return chosen;
}

std::string MissingFolderText(const std::string& folder) {
  return "The local folder " + archive::printableName(folder) +
         " was not found.\nIt may have been renamed, moved or deleted, or its disk is not "
         "mounted.";
}

// ---------------------------------------------------------------- load

namespace {

// The longest file name, in bytes, that the file systems here take.
constexpr size_t kMaxNameBytes = 255;

// The path of a file below `folder` (no trailing '/') relative to it, or ""
// for a path elsewhere.
std::string relativeTo(const std::string& folder, const std::string& path) {
  const size_t n = folder.size();
  return path.size() > n + 1 && path.compare(0, n, folder) == 0 && path[n] == '/'
             ? path.substr(n + 1)
             : std::string();
}

// A missing local folder: asked for when the caller can take another (the
// files listed were in the old one, so nothing is loaded all the same).
LoadResult folderMissing(const LoadRequest& request) {
  if (request.folderChosen)
    if (const std::optional<std::string> chosen = AskForMissingFolder(request.baseFolder))
      request.folderChosen(*chosen);
  LoadResult result;
  result.code = archive::kBadParameters;
  result.outcome = LoadOutcome::FolderMissing;
  return result;
}

// The files into the engine's names, but for those of 4 GB or more (into
// `tooLarge`, with one warning for all). The newest write time among the
// files named that is dated before now.
plat::FileTime nameFiles(archive::TCompress& engine, const std::vector<std::string>& files,
                         std::vector<std::string>* tooLarge,
                         std::unordered_map<std::string, carry::FileState>* before) {
  engine.ClearNames();
  plat::FileTime newest = 0;
  const plat::FileTime started = plat::nowFileTime();
  for (const std::string& file : files) {
    plat::FileInfo fi;
    const bool there = plat::fileSystem().stat(file, &fi, true);
    if (there && fi.isRegular && fi.size > kLargestFile) {
      tooLarge->push_back(file);
      continue;
    }
    if (there && fi.writeTime <= started) newest = std::max(newest, fi.writeTime);
    if (there && fi.isRegular) (*before)[file] = carry::stateOf(fi);
    engine.AddName(file);
  }
  if (!tooLarge->empty())
    plat::messageBox("One or more files are larger than 4 GB.\nThese files will not be loaded.",
                     plat::loadStr(plat::kStrWarning), plat::btnOk, plat::Icon::Warning);
  return newest;
}

// The update run over the names, once another run has let go of the
// briefcase (or the wait is over).
void runUpdate(archive::TCompress& engine, const LoadRequest& request, LoadResult* result) {
  status(engine, plat::loadStrFmt(plat::kStrLoadingBriefcase, engine.archivePath.c_str()));
  if (request.lockWait.count() > 0)
    waitWhileBusy(engine, std::chrono::steady_clock::now() + request.lockWait);
  engine.callbacks.configRefresh = request.storeConfiguration;
  try {
    result->code = archive::Update(engine);
    result->ran = true;
  } catch (...) {
    // The result keeps its value: the briefcase is as the engine left it.
  }
  result->keptArchivePath = engine.update.keptArchivePath;
}

// The load as the history keeps it: the files it was given less those it
// could not take.
carry::Trip loadTrip(archive::TCompress& engine, const LoadRequest& request,
                     const std::unordered_map<std::string, carry::FileState>& before, int code) {
  carry::Trip trip = NewTrip(carry::TripKind::kLoad, request.baseFolder, code);
  if (code == archive::kOk || code == archive::kFileNotReadable) {
    const std::unordered_set<std::string> notLoaded(engine.update.notLoaded.begin(),
                                                    engine.update.notLoaded.end());
    const std::string base = plat::stripTrailingSlash(request.baseFolder);
    for (const std::string& file : request.files) {
      auto state = before.find(file);
      if (notLoaded.count(file) || state == before.end()) continue;
      trip.names.push_back(relativeTo(base, file));
      trip.bytes += state->second.size;
    }
  }
  trip.files = trip.names.size();
  return trip;
}

// What the deletions add to a load's line in the history.
void tellDeletions(const LoadResult& result, carry::Trip* trip) {
  const size_t n = result.deletionsCarried.size();
  if (n) trip->outcome += ", " + std::to_string(n) + (n == 1 ? " deletion" : " deletions") + " carried";
  for (const std::string& path : result.deletionsCarried) trip->names.push_back(path + " (deleted)");
}

// What the load carried, into this computer's carry record: each file whose
// bytes are now its entry's and that did not change since it was named. A
// file that changed meanwhile is not recorded, so it stays a candidate.
// The trip goes into the history in the same transaction; false when it
// could not (the briefcase could not be listed).
bool recordLoad(archive::TCompress& engine, const LoadRequest& request,
                const std::unordered_map<std::string, carry::FileState>& before,
                plat::FileTime dateBefore, const carry::Trip& trip, LoadResult* result) {
  carry::Tracker tracker(engine.archivePath, request.baseFolder, dateBefore);
  // The entries as the new container has them.
  EntryBytes entries;
  if (!ListEntryBytes(engine, &entries)) return false;
  const std::unordered_set<std::string> notLoaded(engine.update.notLoaded.begin(),
                                                  engine.update.notLoaded.end());
  const std::string base = plat::stripTrailingSlash(request.baseFolder);
  for (const std::string& file : request.files) {
    const std::string rel = relativeTo(base, file);
    if (rel.empty() || notLoaded.count(file)) continue;
    auto state = before.find(file);
    if (state == before.end()) continue;
    auto entry = entries.find(rel);
    if (entry == entries.end()) continue;
    // An encrypted entry: the run tells the CRC of the bytes it read, and
    // the record keeps the entry's mark.
    const auto written = engine.update.fileCrcs.find(rel);
    const bool encrypted = written != engine.update.fileCrcs.end();
    if (!tracker.carried(rel, file, encrypted ? written->second : entry->second.first,
                         entry->second.second, &state->second,
                         encrypted ? std::optional<uint32_t>(entry->second.first) : std::nullopt))
      result->changedMeanwhile.push_back(file);
  }
  // A file of 4 GB or more can never be loaded (the user was told): it is
  // not left behind by this load.
  if (request.everyCandidateSince && result->code == archive::kOk &&
      result->changedMeanwhile.empty())
    tracker.loadedAll(*request.everyCandidateSince);
  // The last unload can no longer be undone: this load may hold its files.
  tracker.forgetUndo();
  // A deletion that travels is no longer this computer's to carry.
  for (const std::string& path : result->deletionsCarried) tracker.restore(path, std::nullopt);
  tracker.addTrip(trip);
  tracker.commit();
  result->carryWarning = tracker.takeWarning();
  return true;
}

// The deletions of the request into the rows the run writes; the entries
// of their paths that hold the bytes carried go first, in a delete run of
// their own. Nothing is carried when that run fails (its result).
int carryDeletions(archive::TCompress& engine, const LoadRequest& request, LoadResult* result) {
  EntryBytes entries;
  ListEntryBytes(engine, &entries);
  std::vector<archive::DeletionRow> rows = CarriedDeletions(engine.archivePath);
  std::vector<std::string> remove;
  const plat::FileTime now = plat::nowFileTime();
  for (const DeletedHere& d : request.deletions) {
    const auto entry = entries.find(d.path);
    const std::pair<uint32_t, uint64_t> carried{d.record.entryCrc, d.record.entrySize};
    if (entry != entries.end() && entry->second != carried) {
      result->deletionsKept.push_back(d.path);
      continue;
    }
    if (entry != entries.end()) remove.push_back(d.path);
    rows.push_back(archive::DeletionRow{d.path, now, d.record.entryCrc, d.record.entrySize});
    result->deletionsCarried.push_back(d.path);
  }
  if (result->deletionsCarried.empty()) return archive::kOk;
  archive::normalizeDeletions(&rows);
  engine.deletions = rows;
  if (remove.empty()) return archive::kOk;  // the load's own run writes them
  const int rc = RemoveEntries(engine, remove, request.storeConfiguration);
  if (rc != archive::kOk) {
    engine.deletions.reset();
    result->deletionsCarried.clear();
  }
  return rc;
}

LoadOutcome loadOutcome(int rc, bool busy) {
  switch (rc) {
    case archive::kOk:
      return LoadOutcome::Loaded;
    case archive::kInterrupted:
      return LoadOutcome::Cancelled;
    case archive::kFileNotReadable:
      return LoadOutcome::NotReadable;
    case archive::kDiskMayBeFull:
      return LoadOutcome::DiskMayBeFull;
    case archive::kWriteProtected:
      return LoadOutcome::WriteProtected;
    case archive::kGone:
      return LoadOutcome::Gone;
    case archive::kOutOfMemory:
      return LoadOutcome::OutOfMemory;
    default:
      return rc == archive::kCreateFailed && busy ? LoadOutcome::BriefcaseBusy
                                                  : LoadOutcome::Failed;
  }
}

}  // namespace

LoadResult Load(archive::TCompress& engine, const LoadRequest& request) {
  if (!plat::folderExists(request.baseFolder)) return folderMissing(request);
  LoadResult result;
  // New entries take the briefcase's form: encrypted with its password, or
  // plain in a briefcase of plain files whatever password was given (an
  // empty briefcase takes the one given: a new encrypted briefcase).
  Keep<std::optional<archive::aes::Password>> keepPassword(engine.password);
  archive::EncryptionFound found;
  if (const int rc = CheckEncryption(engine, true, &found)) {
    result.code = rc;
    result.outcome = LoadOutcome::Failed;
    return result;
  }
  if (!found.isEncrypted() && found.plain > 0) engine.password.reset();
  Keep<std::function<void()>> keepRefresh(engine.callbacks.configRefresh);
  engine.update.baseFolder = plat::stripTrailingSlash(request.baseFolder);
  engine.ClearCancel();
  if (request.storeConfiguration) request.storeConfiguration();
  plat::FileTime dateBefore = 0;
  briefcase::ReadBriefcaseDate(engine.archivePath, &dateBefore);
  if (!request.deletions.empty()) {
    const int rc = carryDeletions(engine, request, &result);
    if (rc != archive::kOk) {
      result.code = rc;
      result.ran = true;
      result.outcome = loadOutcome(rc, engine.update.busy);
      engine.update.baseFolder.clear();
      RecordTrip(engine.archivePath, NewTrip(carry::TripKind::kLoad, request.baseFolder, rc));
      return result;
    }
    // Written with the removal of their entries: the load ran.
    if (!result.deletionsCarried.empty() && !engine.deletions) {
      result.ran = true;
      result.code = archive::kOk;
    }
  }
  std::unordered_map<std::string, carry::FileState> before;
  const plat::FileTime newest = nameFiles(engine, request.files, &result.tooLarge, &before);
  // Rows still to be written go with the files, or in a run of their own.
  if (!engine.names.empty() || engine.deletions) runUpdate(engine, request, &result);
  engine.deletions.reset();
  engine.ClearNames();
  engine.update.baseFolder.clear();
  if (!result.ran) {
    result.outcome = LoadOutcome::NothingToLoad;
    return result;
  }
  carry::Trip trip = loadTrip(engine, request, before, result.code);
  if (result.code == archive::kOk || result.code == archive::kFileNotReadable)
    tellDeletions(result, &trip);
  else
    result.deletionsCarried.clear();
  bool tripKept = false;
  if (result.code == archive::kOk || result.code == archive::kFileNotReadable) {
    // The record is written while the clock passes the date.
    const plat::FileTime date = settleDate(engine.archivePath, newest, false);
    tripKept = recordLoad(engine, request, before, dateBefore, trip, &result);
    waitPastDate(date);
  }
  if (!tripKept) RecordTrip(engine.archivePath, trip);
  result.outcome = loadOutcome(result.code, engine.update.busy);
  if (result.outcome == LoadOutcome::Gone) result.gone = engine.update.gone;
  return result;
}

// ---------------------------------------------------------------- unload

int UnloadResult::exitCode() const {
  if (code != archive::kOk) return code;
  if (removalCode != archive::kOk) return removalCode;
  return dateCode;
}

std::string RemovalQuestion(const UnloadResult& result) {
  return result.notAllUnloaded
             ? plat::loadStr(plat::kStrNotAllUnloaded)
             : plat::loadStrFmt(plat::kStrUnloadedRemove, static_cast<int>(result.selectedCount));
}

namespace {

// The steps of one unload, in the order Unload() runs them; a step that
// returns false has ended the unload (the result says how).
class UnloadSteps {
 public:
  UnloadSteps(archive::TCompress& engine, const UnloadRequest& request, const UnloadHooks& hooks,
              UnloadResult& result)
      : engine_(engine),
        request_(request),
        hooks_(hooks),
        result_(result),
        folder_(plat::stripTrailingSlash(request.localFolder)) {}

  bool findLocalFolder();
  bool holdBriefcase();
  void listSelection();
  bool checkSpace();
  void answerReplaceQuestions();
  void useCarryRecord();
  void run();
  void tellFates();
  void applyDeletions();
  void recordCarried();
  bool removalWanted();
  void keepEntriesAndDate();
  void removeUnloaded();
  void recordTrip();

 private:
  void note(const std::string& line) {
    result_.notes.push_back(line);
    if (hooks_.note) hooks_.note(line);
  }
  void beforeQuestion() {
    if (hooks_.beforeQuestion) hooks_.beforeQuestion();
  }
  archive::OldFile beforeReplace(const archive::TExtractEntry& e, const std::string& target);
  void fail(int code, UnloadRunOutcome outcome) {
    result_.code = code;
    result_.outcome = outcome;
  }

  // The briefcase stays locked from the listing to the removal of its
  // entries, so that no other run changes it in between.
  struct HeldLock {
    archive::TCompress* engine = nullptr;
    ~HeldLock() {
      if (engine) archive::ReleaseLock(*engine);
    }
  };

  archive::TCompress& engine_;
  const UnloadRequest& request_;
  const UnloadHooks& hooks_;
  UnloadResult& result_;
  std::string folder_;  // the local folder, without a trailing '/'
  HeldLock held_;
  // The selection as the rows count it (folder entries are no rows), with
  // each entry's size and the folders it lies in for the free-space check.
  std::vector<Selected> selected_;
  std::set<std::string> folders_;  // relative to the local folder
  size_t listed_ = 0;              // the entries the listing reported
  // Where no trash can take an old file, replacing it leaves no copy: a run
  // that asks asks first (Yes/No to All hold for the run), a run on a policy
  // keeps the old file.
  int withoutCopy_ = plat::mrNone;
  // This computer's carry record, what it says of the entries found with a
  // local file, and what the run wrote (the relative path, the file, the
  // entry's CRC-32 and size).
  std::unique_ptr<carry::Tracker> tracker_;
  std::set<std::string> conflicts_, newerHere_;  // local paths
  std::set<std::string> copies_;                 // conflict copies' paths
  struct Written {
    std::string rel, path;
    uint32_t crc;  // the entry's CRC-32, or the mark of an encrypted one's bytes
    uint64_t size;
    // As the run wrote it: what it hashed and the file it made, seen at once.
    std::optional<carry::Digest> content;
    carry::FileState state;
    std::string name;  // the entry's
    bool crcIsContent = true;
  };
  std::vector<Written> written_;
  // For the undo: the conflict copies written (entry name, copy, CRC-32,
  // size); the old files kept in the trash, by target; the targets replaced
  // by the same bytes or without a copy; the briefcase date before the run.
  struct Copy {
    std::string name, path;
    uint32_t crc;
    uint64_t size;
  };
  std::vector<Copy> copiesWritten_;
  std::map<std::string, plat::TrashedFile> trashedFor_;
  std::set<std::string> replacedAlike_, replacedNoCopy_;
  plat::FileTime dateBefore_ = 0;
  std::vector<std::pair<std::string, plat::TrashedFile>> deletionTrashed_;  // by relative path
  std::vector<archive::DeletionRow> deletionsDecided_;  // the rows that left the briefcase
  carry::UndoPlan undoPlan() const;
  std::string relativeOf(const std::string& path) const { return relativeTo(folder_, path); }
};

// A local folder that no longer exists is asked for when the caller can
// take another; else the unload ends with FolderMissing.
bool UnloadSteps::findLocalFolder() {
  if (plat::folderExists(folder_)) return true;
  std::optional<std::string> chosen;
  if (request_.folderChosen) chosen = AskForMissingFolder(folder_);
  if (!chosen) {
    fail(archive::kBadParameters, UnloadRunOutcome::FolderMissing);
    return false;
  }
  request_.folderChosen(*chosen);
  folder_ = *chosen;
  return true;
}

// When the entries are kept there is nothing to remove (and on read-only
// media no lock can be had): the unload then goes on without the lock.
bool UnloadSteps::holdBriefcase() {
  engine_.ClearCancel();
  if (request_.after == AfterUnload::Keep) return true;
  const auto deadline = std::chrono::steady_clock::now() + request_.lockWait;
  int rc = archive::HoldLock(engine_);
  while (rc == archive::kCreateFailed && request_.lockWait.count() > 0 &&
         BriefcaseBusy(engine_.archivePath) && waitWhileBusy(engine_, deadline))
    rc = archive::HoldLock(engine_);
  if (engine_.cancelled) {
    fail(archive::kInterrupted, UnloadRunOutcome::Cancelled);
    return false;
  }
  if (rc == archive::kCreateFailed) {
    fail(rc, UnloadRunOutcome::BriefcaseBusy);
    return false;
  }
  if (rc == archive::kOk) held_.engine = &engine_;
  return true;
}

void UnloadSteps::listSelection() {
  Keep<std::function<void(const std::string&)>> keepMessage(engine_.callbacks.message);
  engine_.callbacks.message = nullptr;
  size_t index = 0;  // a listing reports every entry, in directory order
  engine_.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    const size_t at = index++;
    const std::string name = e.displayName();
    bool chosen = request_.entries.empty();
    for (size_t i = 0; i < request_.entries.size() && !chosen; ++i)
      chosen = archive::nameSelects(name, request_.entries[i]);
    if (!chosen) return;
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
      folders_.insert(name.substr(0, slash));
    if (!e.isFolder()) {
      const archive::aes::BytesMark mark = archive::aes::bytesMark(e.central, e.extra);
      selected_.push_back(Selected{name, at, mark.value, e.central.uncompressedSize, mark.isCrc});
    }
  };
  archive::ListRun(engine_);
  listed_ = index;
  engine_.extract.callbacks.listEntry = nullptr;
  result_.selectedCount = selected_.size();
}

// Room on the local folder's file system (the folder is there: a missing
// one was asked for above) for the selection: each file takes its size
// rounded up to the volume's block size, and each folder that has to be
// made a block.
bool UnloadSteps::checkSpace() {
  const uint64_t block = archive::BlockSize(folder_);
  uint64_t needed = 0;
  for (const Selected& s : selected_) needed += (uint64_t(s.size) + block - 1) / block * block;
  for (const std::string& f : folders_)
    if (!plat::folderExists(plat::joinPath(folder_, f))) needed += block;
  uint64_t freeBytes = 0;
  if (!archive::FreeSpace(folder_, &freeBytes) || freeBytes >= needed) return true;
  if (request_.space == SpaceCheck::Refuse) {
    note(plat::strFormat(
        "Insufficient Disk Space?\nFree Disk Space = %llu bytes\n"
        "Uncompressed Files Total %llu bytes",
        static_cast<unsigned long long>(freeBytes), static_cast<unsigned long long>(needed)));
    fail(archive::kDiskFull, UnloadRunOutcome::DiskFull);
    return false;
  }
  if (!archive::ConfirmSpace(folder_, needed)) {
    fail(archive::kInterrupted, UnloadRunOutcome::SpaceDeclined);
    return false;
  }
  return true;
}

// A replace query the caller installed answers in Ask mode; else the asker.
// With the trash, a replaced file goes there first.
void UnloadSteps::answerReplaceQuestions() {
  const auto callerQuery = engine_.extract.callbacks.replaceQuery;
  engine_.extract.callbacks.replaceQuery =
      [this, callerQuery](std::string& target, plat::FileTime et, plat::FileTime nt, uint32_t es,
                          uint32_t ns, uint8_t& answer) {
        if (request_.replace == ReplaceMode::YesToAll) {
          // A policy never replaces a file newer here: it stays, and the
          // policy holds for the files after it.
          answer = newerHere_.count(target) ? archive::kAnswerNo : archive::kAnswerYesToAll;
        } else if (request_.replace == ReplaceMode::NoToAll) {
          answer = archive::kAnswerNoToAll;
        } else {
          beforeQuestion();
          if (callerQuery)
            callerQuery(target, et, nt, es, ns, answer);
          else
            archive::askReplaceThroughAsker(target, et, nt, es, ns, answer, &engine_.cancelled,
                                            conflicts_.count(target) != 0);
        }
      };
  withoutCopy_ = request_.replace == ReplaceMode::Ask ? plat::mrNone : plat::mrNoToAll;
  engine_.extract.callbacks.beforeReplace = [this](const archive::TExtractEntry& e,
                                                   const std::string& target) {
    if (request_.trash) return beforeReplace(e, target);
    replacedNoCopy_.insert(target);
    return archive::OldFile::Stays;
  };
}

archive::OldFile UnloadSteps::beforeReplace(const archive::TExtractEntry& e,
                                            const std::string& target) {
  // A file that already holds the entry's bytes loses nothing.
  if (sameBytesAs(target, e.central.uncompressedSize,
                  archive::aes::bytesMark(e.central, e.extra))) {
    replacedAlike_.insert(target);
    return archive::OldFile::Stays;
  }
  plat::TrashedFile t;
  const plat::TrashResult kept = plat::keepInTrash(target, &t);
  if (kept == plat::TrashResult::Done) {
    result_.trashed.push_back(t);
    trashedFor_[target] = t;
    return t.moved ? archive::OldFile::MovedAway : archive::OldFile::Stays;
  }
  const std::string shown = archive::printableName(target);
  const std::string why = kept == plat::TrashResult::NoTrash
                              ? "no trash can be used on its disk"
                              : "it could not be put into the trash: " + plat::lastErrorText();
  if (withoutCopy_ == plat::mrNone || withoutCopy_ == plat::mrYes || withoutCopy_ == plat::mrNo) {
    beforeQuestion();
    withoutCopy_ = plat::messageBox(
        "The old " + shown + " cannot be kept (" + why +
            "). Replacing it leaves no copy of it.\n\nReplace it anyway?",
        "Replace without a copy", plat::btnYes | plat::btnNo | plat::btnYesToAll | plat::btnNoToAll,
        plat::Icon::Warning, plat::mrNo);
  }
  if (withoutCopy_ == plat::mrYes || withoutCopy_ == plat::mrYesToAll) {
    note("The old " + shown + " was replaced without a copy (" + why + ").");
    replacedNoCopy_.insert(target);
    result_.trashUnavailable = true;
    return archive::OldFile::Stays;
  }
  note("The old " + shown + " was not replaced: " + why +
       ", and replacing it would leave no copy.");
  return archive::OldFile::KeepIt;
}

// The carry record decides what the dates cannot: a file changed on both
// computers, and an entry older than the local file's news.
void UnloadSteps::useCarryRecord() {
  plat::FileTime date = 0;
  briefcase::ReadBriefcaseDate(engine_.archivePath, &date);
  dateBefore_ = date;
  tracker_ = std::make_unique<carry::Tracker>(engine_.archivePath, folder_, date);
  // The files written are hashed as they are written, not read again.
  engine_.extract.digestWritten = true;
  engine_.extract.callbacks.carryState = [this](const archive::TExtractEntry& e,
                                                const std::string& target,
                                                const plat::FileInfo& found) {
    const std::string rel = relativeOf(target);
    if (rel.empty()) return archive::CarryState::Unknown;
    const archive::aes::BytesMark mark = archive::aes::bytesMark(e.central, e.extra);
    const carry::EntryState state{mark.value, e.central.uncompressedSize, archive::entryTime(e),
                                  mark.isCrc};
    switch (tracker_->entry(rel, target, &found, state).verdict) {
      case carry::EntryVerdict::kConflict:
        conflicts_.insert(target);
        return archive::CarryState::Conflict;
      case carry::EntryVerdict::kNewerHere:
        newerHere_.insert(target);
        return archive::CarryState::NewerHere;
      default: return archive::CarryState::Unknown;
    }
  };
  engine_.extract.callbacks.conflictCopy = [this](const archive::TExtractEntry& e,
                                                  const std::string& target) {
    const std::string folder = plat::parentFolder(target);
    const std::string from = request_.otherComputer.empty() ? "other" : request_.otherComputer;
    const std::string name = carry::conflictName(
        plat::fileNamePart(target), from, carry::conflictDay(archive::entryTime(e)),
        kMaxNameBytes, [&](const std::string& n) {
          plat::FileInfo info;
          return plat::fileSystem().stat(plat::joinPath(folder, n), &info, false);
        });
    if (name.empty()) return std::string();
    std::string copy = plat::joinPath(folder, name);
    copies_.insert(copy);
    result_.conflictCopies.emplace_back(e.displayName(), copy);
    return copy;
  };
  const auto callerWritten = engine_.extract.callbacks.entryWritten;
  engine_.extract.callbacks.entryWritten = [this, callerWritten](const archive::TExtractEntry& e,
                                                                 const std::string& path) {
    // A conflict copy has no entry of its path: it travels back as a new file.
    const archive::aes::BytesMark mark = archive::aes::bytesMark(e.central, e.extra);
    if (copies_.count(path)) {
      copiesWritten_.push_back(Copy{e.displayName(), path,
                                    e.hasContent ? e.content.crc32 : mark.value,
                                    e.central.uncompressedSize});
    } else {
      const std::string rel = relativeOf(path);
      if (!rel.empty()) {
        Written w{rel,          path, mark.value,      e.central.uncompressedSize,
                  std::nullopt, {},   e.displayName(), mark.isCrc};
        plat::FileInfo now;
        if (e.hasContent && plat::fileSystem().stat(path, &now, false) && now.isRegular) {
          w.content = e.content;
          w.state = carry::stateOf(now);
        }
        written_.push_back(std::move(w));
      }
    }
    if (callerWritten) callerWritten(e, path);
  };
}

// Each deletion the briefcase carries, decided: a local file that still
// holds the bytes this computer last carried, and that the other computer
// carried too, goes to the trash when the request (or the user) says so; a
// file changed here since stays and is named. The decided rows leave the
// briefcase; rows not decided stay for a later unload.
void UnloadSteps::applyDeletions() {
  if (request_.deletions == DeletionAnswer::No || !tracker_) return;
  std::string problem;
  std::vector<archive::DeletionRow> rows = CarriedDeletions(engine_.archivePath, &problem);
  if (!problem.empty()) note(archive::ignoredDeletionsText(engine_.archivePath, problem));
  if (rows.empty()) return;
  int policy = request_.deletions == DeletionAnswer::Yes ? plat::mrYesToAll : plat::mrNone;
  std::vector<archive::DeletionRow> left;
  for (const archive::DeletionRow& row : rows) {
    const std::string local = plat::joinPath(folder_, row.path);
    const std::string shown = archive::printableName(row.path);
    plat::FileInfo info;
    if (!plat::fileSystem().stat(local, &info, false)) continue;  // gone here too
    const carry::Record* rec = tracker_->record(row.path);
    bool unchanged = info.isRegular && rec && rec->entryCrc == row.crc && rec->entrySize == row.size;
    if (unchanged && carry::stateOf(info) != rec->file) {
      carry::Digest d;
      std::string error;
      unchanged = carry::digestFile(local, &d, &error) && d.sha256 == rec->hash;
    }
    if (!unchanged) {
      result_.deletionsKept.push_back(row.path);
      note(shown + " was deleted on the other computer but changed here since it was last "
                   "carried: it stays.");
      continue;
    }
    int answer = policy == plat::mrYesToAll || policy == plat::mrNoToAll ? policy : plat::mrNone;
    if (answer == plat::mrNone) {
      beforeQuestion();
      answer = plat::messageBox(shown + " was deleted on the other computer.\n\nMove it to the "
                                        "trash here too?",
                                "Carried deletion",
                                plat::btnYes | plat::btnNo | plat::btnYesToAll | plat::btnNoToAll,
                                plat::Icon::Question, plat::mrNo);
      if (answer == plat::mrYesToAll || answer == plat::mrNoToAll) policy = answer;
    }
    if (answer != plat::mrYes && answer != plat::mrYesToAll) {
      result_.deletionsDeclined.push_back(row.path);
      continue;
    }
    plat::TrashedFile t;
    if (plat::moveToTrash(local, &t) != plat::TrashResult::Done) {
      note("The deletion of " + shown + " was not carried out: it could not be put into the "
           "trash (" + plat::lastErrorText() + ").");
      left.push_back(row);
      continue;
    }
    result_.deletedHere.push_back(row.path);
    deletionTrashed_.emplace_back(row.path, t);
    tracker_->restore(row.path, std::nullopt);
    note("Moved to the trash (deleted on the other computer): " + shown);
  }
  if (!deletionTrashed_.empty())
    plat::syncFileSystemOf(plat::parentFolder(deletionTrashed_.front().second.trashedPath));
  if (left.size() == rows.size()) return;
  for (const archive::DeletionRow& row : rows)
    if (std::find(left.begin(), left.end(), row) == left.end()) deletionsDecided_.push_back(row);
  // The rows that stay, in a run that changes nothing else.
  engine_.deletions = left;
  engine_.ClearNames();
  Keep<std::function<void()>> keepRefresh(engine_.callbacks.configRefresh);
  if (request_.storeConfiguration) {
    request_.storeConfiguration();
    engine_.callbacks.configRefresh = request_.storeConfiguration;
  }
  engine_.update.mode = archive::kModeAdd;
  int rc = archive::kInternalError;
  try {
    rc = archive::Update(engine_);
  } catch (...) {
  }
  engine_.deletions.reset();
  if (rc != archive::kOk) {
    deletionsDecided_.clear();
    note("The briefcase still carries the deletions decided here (" + archive::errorText(rc) + ").");
  }
}

// What the run wrote, and what holds an entry's bytes already, goes into
// the carry record (each file read again: only bytes seen are recorded).
void UnloadSteps::recordCarried() {
  if (!tracker_) return;
  for (const Written& w : written_) {
    // An encrypted entry's bytes were checked by their code as they were
    // written; the record keeps their mark.
    if (w.content && (!w.crcIsContent || w.content->crc32 == w.crc) && w.content->size == w.size)
      tracker_->carriedAs(w.rel, w.state, *w.content,
                          w.crcIsContent ? std::nullopt : std::optional<uint32_t>(w.crc));
    else if (w.crcIsContent)
      tracker_->carried(w.rel, w.path, w.crc, w.size);
  }
  for (size_t i = 0; i < result_.entries.size() && i < selected_.size(); ++i) {
    if (result_.entries[i].second != EntryFate::Declined) continue;
    const std::string path = plat::joinPath(folder_, selected_[i].name);
    if (conflicts_.count(path) || newerHere_.count(path)) continue;
    if (sameBytesAs(path, selected_[i].size, {selected_[i].crc, selected_[i].crcIsContent}))
      tracker_->carried(selected_[i].name, path, selected_[i].crc, selected_[i].size);
  }
  // This unload is the one an undo takes back (none when it wrote nothing).
  tracker_->setUndo(undoPlan());
  tracker_->commit();
  result_.carryWarning = tracker_->takeWarning();
}

// How to take this unload back: each file it wrote, what stood there before
// and the record of its path.
carry::UndoPlan UnloadSteps::undoPlan() const {
  carry::UndoPlan plan;
  plan.atNs = carry::nowNs();
  plan.briefcaseDate = static_cast<int64_t>(dateBefore_);
  plan.since = tracker_->since();
  auto stateNow = [](const std::string& path, carry::FileState* out) {
    plat::FileInfo info;
    if (!plat::fileSystem().stat(path, &info, false) || !info.isRegular) return false;
    *out = carry::stateOf(info);
    return true;
  };
  auto add = [&](const std::string& name, const std::string& path, uint32_t crc, uint64_t size) {
    carry::UndoItem item;
    item.path = name;
    item.file = path;
    item.entryCrc = crc;
    item.entrySize = size;
    if (!stateNow(path, &item.written)) return;  // gone already: nothing to take back
    const std::string rel = relativeOf(path);
    if (const carry::Record* r = rel.empty() ? nullptr : tracker_->record(rel)) item.prior = *r;
    auto kept = trashedFor_.find(path);
    const bool stillKept =
        kept != trashedFor_.end() &&
        std::any_of(result_.trashed.begin(), result_.trashed.end(),
                    [&](const plat::TrashedFile& t) { return t.trashedPath == kept->second.trashedPath; });
    if (stillKept && stateNow(kept->second.trashedPath, &item.original)) {
      item.action = carry::UndoAction::kRestore;
      item.trashedPath = kept->second.trashedPath;
      item.trashInfoPath = kept->second.infoPath;
      item.moved = kept->second.moved;
    } else if (replacedAlike_.count(path) || replacedNoCopy_.count(path) || stillKept) {
      item.action = carry::UndoAction::kKeep;
    } else {
      item.action = carry::UndoAction::kRemove;
    }
    plan.items.push_back(std::move(item));
  };
  for (const Written& w : written_)
    add(w.name, w.path, w.content ? w.content->crc32 : w.crc, w.size);
  for (const Copy& c : copiesWritten_) add(c.name, c.path, c.crc, c.size);
  // A file the deletions moved to the trash comes back from there.
  for (const auto& [rel, t] : deletionTrashed_) {
    carry::UndoItem item;
    item.path = rel;
    item.file = plat::joinPath(folder_, rel);
    item.action = carry::UndoAction::kRestore;
    if (!stateNow(t.trashedPath, &item.original)) continue;
    item.trashedPath = t.trashedPath;
    item.trashInfoPath = t.infoPath;
    item.moved = true;
    if (const carry::Record* r = tracker_->record(rel)) item.prior = *r;
    plan.items.push_back(std::move(item));
  }
  const std::vector<uint8_t> rows = archive::encodeDeletions(deletionsDecided_);
  plan.deletionRows.assign(rows.begin(), rows.end());
  return plan;
}

void UnloadSteps::run() {
  engine_.ClearNames();
  for (const std::string& n : request_.entries) engine_.AddName(n);
  engine_.extract.targetFolder = folder_;
  if (hooks_.runStarting) hooks_.runStarting();
  try {
    result_.code = archive::UnloadRun(engine_);
  } catch (...) {
    // The result keeps its value.
  }
  if (hooks_.runFinished) hooks_.runFinished();
  engine_.ClearNames();
  // An old file put into the trash whose replacement then failed leaves the
  // trash again: a linked copy is dropped, a moved file goes back.
  std::erase_if(result_.trashed,
                [](const plat::TrashedFile& t) { return plat::withdrawFromTrash(t); });
  // The trash's names and .trashinfo files on the disk, once for the run.
  if (!result_.trashed.empty())
    plat::syncFileSystemOf(plat::parentFolder(result_.trashed.front().trashedPath));
  result_.notAllUnloaded = engine_.extract.notAllUnloaded;
  result_.notWritten = engine_.extract.notWritten;
}

// What became of each selected entry, as the run tells it: by its place in
// the directory (two entries may bear one name), or by its name when the
// briefcase changed in between. Whether a kept file holds the entry's bytes
// is read only when a removal without a question needs to know (below).
// Then the run's outcome.
void UnloadSteps::tellFates() {
  const std::vector<archive::TExtractEntry>& ran = engine_.extract.entries;
  std::map<std::string, archive::UnloadOutcome> told;
  if (ran.size() != listed_)
    for (const archive::TExtractEntry& e : ran)
      if (e.outcome != archive::UnloadOutcome::NotHandled) told[e.displayName()] = e.outcome;
  bool folderInTheWay = false;
  for (const Selected& s : selected_) {
    archive::UnloadOutcome outcome = archive::UnloadOutcome::NotHandled;
    if (ran.size() == listed_) {
      outcome = ran[s.index].outcome;
    } else if (auto it = told.find(s.name); it != told.end()) {
      outcome = it->second;
    }
    EntryFate fate = EntryFate::Skipped;
    if (outcome == archive::UnloadOutcome::Unloaded) {
      fate = EntryFate::Written;
    } else if (outcome == archive::UnloadOutcome::Declined) {
      fate = EntryFate::Declined;
    } else if (plat::folderExists(plat::joinPath(folder_, s.name))) {
      folderInTheWay = true;
    }
    result_.entries.emplace_back(s.name, fate);
  }
  result_.outcome = unloadOutcome(result_.code);
  if (result_.outcome == UnloadRunOutcome::InUse && folderInTheWay)
    result_.outcome = UnloadRunOutcome::FolderInTheWay;
  if (result_.outcome == UnloadRunOutcome::Failed && result_.code == archive::kCreateFailed &&
      BriefcaseBusy(engine_.archivePath))
    result_.outcome = UnloadRunOutcome::BriefcaseBusy;
}

// Remove the unloaded entries (the request's choice, or the user's answer
// to the removal question), or keep them.
bool UnloadSteps::removalWanted() {
  if (request_.after != AfterUnload::Ask) return request_.after == AfterUnload::Remove;
  result_.removalAsked = true;
  beforeQuestion();
  // The question removes entries from the briefcase: its caption says so
  // (the local files' caption here read as if Yes deleted the files just
  // written).
  const plat::Icon icon = result_.notAllUnloaded ? plat::Icon::Warning : plat::Icon::Question;
  return plat::messageBox(RemovalQuestion(result_), plat::loadStr(plat::kStrDeleteCaption),
                          plat::btnYesNo, icon) == plat::mrYes;
}

void UnloadSteps::keepEntriesAndDate() {
  result_.dateCode = StampBriefcaseDate(engine_.archivePath);
  result_.dated = result_.dateCode == archive::kOk;
  if (!result_.dated) return;
  // The files just written must not count as changed.
  plat::FileTime newest = 0;
  const plat::FileTime now = plat::nowFileTime();
  for (const archive::TExtractEntry& e : engine_.extract.entries) {
    const plat::FileTime t = archive::entryTime(e);
    if (e.outcome == archive::UnloadOutcome::Unloaded && t <= now) newest = std::max(newest, t);
  }
  settleDate(engine_.archivePath, newest);
}

// Only entries whose bytes are now in the local folder leave the briefcase;
// a declined one too when the user was asked about all of them
// (kStrNotAllUnloaded).
void UnloadSteps::removeUnloaded() {
  std::vector<std::string> names;
  for (size_t i = 0; i < result_.entries.size(); ++i) {
    const std::string& name = result_.entries[i].first;
    EntryFate& fate = result_.entries[i].second;
    const std::string local = plat::joinPath(folder_, name);
    if (fate == EntryFate::Declined && !result_.removalAsked &&
        sameBytesAs(local, selected_[i].size, {selected_[i].crc, selected_[i].crcIsContent}))
      fate = EntryFate::Identical;
    // An entry older than the local file's news holds nothing to lose.
    if (fate == EntryFate::Declined && newerHere_.count(local)) fate = EntryFate::Identical;
    const bool goes = fate == EntryFate::Written || fate == EntryFate::Identical ||
                      (fate == EntryFate::Declined && result_.removalAsked);
    if (goes) {
      names.push_back(name);
    } else {
      result_.kept.push_back(name);
      note("Stays in the briefcase (not unloaded): " + archive::printableName(name));
    }
  }
  if (names.empty()) return;
  // The files written must be on the disk before their entries go.
  plat::syncFileSystemOf(folder_);
  if (hooks_.removalStarting) hooks_.removalStarting();
  result_.removalCode = RemoveEntries(engine_, names, request_.storeConfiguration);
  if (hooks_.removalFinished) hooks_.removalFinished();
  result_.removed = result_.removalCode == archive::kOk;
  if (result_.removed) settleDate(engine_.archivePath, 0);
}

// The unload into the history: the files it wrote, and the entries its
// removal took out of the briefcase.
void UnloadSteps::recordTrip() {
  carry::Trip trip = NewTrip(carry::TripKind::kUnload, folder_, result_.exitCode());
  for (size_t i = 0; i < result_.entries.size() && i < selected_.size(); ++i) {
    if (result_.entries[i].second != EntryFate::Written) continue;
    trip.names.push_back(result_.entries[i].first);
    trip.bytes += selected_[i].size;
  }
  trip.files = trip.names.size();
  if (result_.removed) {
    const size_t removed = result_.entries.size() - result_.kept.size();
    trip.outcome += ", " + std::to_string(removed) + (removed == 1 ? " entry" : " entries") +
                    " removed from the briefcase";
  }
  RecordTrip(engine_.archivePath, trip);
}

}  // namespace

UnloadResult Unload(archive::TCompress& engine, const UnloadRequest& request,
                    const UnloadHooks& hooks) {
  UnloadResult result;
  Keep<archive::TExtractCallbacks> keepCallbacks(engine.extract.callbacks);
  UnloadSteps steps(engine, request, hooks, result);
  if (!steps.findLocalFolder()) return result;
  if (const int rc = CheckEncryption(engine, false)) {
    result.code = rc;
    result.outcome = UnloadRunOutcome::Failed;
    return result;
  }
  if (!steps.holdBriefcase()) return result;
  steps.listSelection();
  if (!steps.checkSpace()) return result;
  steps.answerReplaceQuestions();
  steps.useCarryRecord();
  steps.run();
  steps.tellFates();
  steps.applyDeletions();
  steps.recordCarried();
  engine.extract.digestWritten = false;
  if (result.code == archive::kOk) {
    if (steps.removalWanted())
      steps.removeUnloaded();
    else
      steps.keepEntriesAndDate();
  }
  steps.recordTrip();
  return result;
}

// ---------------------------------------------------------------- encryption

int CheckEncryption(archive::TCompress& engine, bool load, archive::EncryptionFound* out) {
  archive::EncryptionFound own;
  archive::EncryptionFound& found = out ? *out : own;
  if (const int rc = archive::readEncryption(engine.archivePath, &found)) return rc;
  if (!found.isEncrypted()) return archive::kOk;
  if (load && found.isMixed()) return archive::kMixedEncryption;
  if (!engine.password) return archive::kPasswordNeeded;
  archive::PasswordFit fit = archive::PasswordFit::NoneToTry;
  if (const int rc = archive::checkPassword(found, *engine.password, &fit)) return rc;
  return fit == archive::PasswordFit::Wrong ? archive::kPasswordWrong : archive::kOk;
}

plat::PasswordQuestion PasswordQuestionFor(const std::string& briefcase) {
  plat::PasswordQuestion q;
  q.caption = kPasswordCaption;
  q.prompt = "Password for " + archive::printableName(briefcase);
  return q;
}

int ObtainPassword(archive::TCompress& engine, bool load) {
  constexpr int kAnswers = 3;
  int rc = CheckEncryption(engine, load);
  plat::PasswordQuestion q = PasswordQuestionFor(engine.archivePath);
  for (int answers = 0;
       (rc == archive::kPasswordNeeded || rc == archive::kPasswordWrong) && answers < kAnswers;
       ++answers) {
    if (rc == archive::kPasswordWrong) {
      q.problem = archive::errorText(archive::kPasswordWrong);
      engine.password.reset();
    }
    std::string typed;
    const bool given = plat::asker().askPassword(q, &typed);
    archive::aes::Password password(typed);
    std::fill(typed.begin(), typed.end(), '\0');
    if (!given) return archive::kPasswordNeeded;
    engine.password = std::move(password);
    rc = CheckEncryption(engine, load);
  }
  if (rc == archive::kPasswordWrong) engine.password.reset();
  return rc;
}

// ---------------------------------------------------------------- shared steps

bool ListEntryBytes(archive::TCompress& engine, EntryBytes* out) {
  Keep<archive::TExtractCallbacks> keepCallbacks(engine.extract.callbacks);
  Keep<std::function<void(const std::string&)>> keepMessage(engine.callbacks.message);
  Keep<std::function<void(const std::string&)>> keepConfigMessage(engine.callbacks.configMessage);
  engine.callbacks.message = nullptr;
  engine.callbacks.configMessage = nullptr;
  engine.extract.callbacks = archive::TExtractCallbacks();
  engine.ClearNames();
  engine.extract.callbacks.listEntry = [out](const archive::TExtractEntry& e) {
    if (!e.isFolder())
      (*out)[e.displayName()] = {archive::aes::bytesMark(e.central, e.extra).value,
                                 e.central.uncompressedSize};
  };
  const int rc = archive::ListRun(engine);
  // An empty briefcase warns that it is empty (the container is there).
  return rc == archive::kOk ||
         ((rc == archive::kWarning || rc == archive::kMissingOrEmpty) && out->empty());
}

int RemoveEntries(archive::TCompress& engine, const std::vector<std::string>& names,
                  const std::function<void()>& storeConfiguration) {
  Keep<std::function<void()>> keepRefresh(engine.callbacks.configRefresh);
  engine.ClearNames();
  for (const std::string& n : names) engine.AddName(n);
  archive::PrepareDelete(engine, false);
  if (storeConfiguration) {
    storeConfiguration();
    engine.callbacks.configRefresh = storeConfiguration;
  }
  status(engine, plat::loadStr(plat::kStrDeletingEntries));
  int rc = archive::kInternalError;
  try {
    rc = archive::Update(engine);
  } catch (...) {
  }
  engine.update.mode = archive::kModeAdd;
  engine.ClearNames();
  return rc;
}

int DeleteEntries(archive::TCompress& engine, const std::vector<std::string>& names,
                  const std::function<void()>& storeConfiguration,
                  const std::string& localFolder) {
  std::vector<std::pair<std::string, uint64_t>> listed;
  listEntries(engine, &listed);
  const int rc = RemoveEntries(engine, names, storeConfiguration);
  carry::Trip trip = NewTrip(carry::TripKind::kDelete, localFolder, rc);
  if (rc == archive::kOk) {
    const std::set<std::string> asked(names.begin(), names.end());
    for (const auto& [name, size] : listed)
      if (asked.count(name)) {
        trip.names.push_back(name);
        trip.bytes += size;
      }
  }
  trip.files = trip.names.size();
  RecordTrip(engine.archivePath, trip);
  return rc;
}

int ClearBriefcase(archive::TCompress& engine, const std::string& localFolder) {
  std::vector<std::pair<std::string, uint64_t>> listed;
  listEntries(engine, &listed);
  int rc = archive::kInternalError;
  try {
    rc = archive::ClearBriefcase(engine);
  } catch (...) {
  }
  carry::Trip trip = NewTrip(carry::TripKind::kClear, localFolder, rc);
  if (rc == archive::kOk)
    for (const auto& [name, size] : listed) {
      trip.names.push_back(name);
      trip.bytes += size;
    }
  trip.files = trip.names.size();
  RecordTrip(engine.archivePath, trip);
  return rc;
}

CompactResult CompactBriefcase(archive::TCompress& engine, const std::string& localFolder) {
  status(engine, "Compacting the briefcase...");
  CompactResult r;
  r.code = archive::kInternalError;
  try {
    r.code = archive::Compact(engine);
  } catch (...) {
  }
  r.freedBytes = r.code == archive::kOk ? engine.update.freedBytes : 0;
  // A compaction keeps every entry: the history counts them and the bytes freed.
  carry::Trip trip = NewTrip(carry::TripKind::kCompact, localFolder, r.code);
  std::vector<std::pair<std::string, uint64_t>> listed;
  if (r.code == archive::kOk && listEntries(engine, &listed)) trip.files = listed.size();
  trip.bytes = r.freedBytes;
  RecordTrip(engine.archivePath, trip);
  return r;
}

std::string CompactedText(uint64_t freedBytes) {
  if (!freedBytes) return "The briefcase had no unused space to free.";
  return "Compacting freed " + BytesText(freedBytes) + ".";
}

int StoreConfigurationKeepingDate(archive::TCompress& engine,
                                  const std::function<void()>& storeConfiguration) {
  plat::FileInfo before;
  const bool dated = plat::fileSystem().stat(engine.archivePath, &before, true);
  if (storeConfiguration) storeConfiguration();
  if (int rc = engine.rewriteComment()) return rc;
  if (dated)
    plat::fileSystem().setTimes(engine.archivePath, nullptr, &before.accessTime, &before.writeTime);
  return 0;
}

int StampBriefcaseDate(const std::string& briefcasePath) {
  if (briefcase::WriteBriefcaseDate(briefcasePath, plat::nowFileTime())) return 0;
  // Ask the file system again why (the messages shown may have changed errno).
  auto f =
      plat::fileSystem().open(briefcasePath, plat::Access::Write, plat::Disposition::OpenExisting);
  const int err = f ? 0 : plat::lastError();
  return plat::isAccessDenied(err) ? archive::kWriteProtected : archive::kWriteFailure;
}

bool BriefcaseBusy(const std::string& briefcasePath) {
  auto f =
      plat::fileSystem().open(briefcasePath, plat::Access::Read, plat::Disposition::OpenExisting);
  return f && !f->lockExclusive();
}

std::chrono::milliseconds UnattendedLockWait() {
  if (const char* env = std::getenv("CARRYVALE_LOCK_WAIT"); env && *env) {
    char* end = nullptr;
    const double seconds = std::strtod(env, &end);
    if (end && *end == '\0' && seconds >= 0 && seconds <= 24 * 3600)
      return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  }
  return std::chrono::seconds(30);
}

// ---------------------------------------------------------------- local delete

TrashReport MoveToTrash(const std::vector<std::string>& paths) {
  TrashReport report;
  for (const std::string& path : paths) {
    switch (plat::moveToTrash(path)) {
      case plat::TrashResult::Done:
        report.moved.push_back(path);
        break;
      case plat::TrashResult::NoTrash:
        report.failed.emplace_back(path, "no trash can be used on its file system");
        break;
      case plat::TrashResult::Failed:
        report.failed.emplace_back(path, plat::lastErrorText());
        break;
    }
  }
  return report;
}

TrashReport DeleteLocalFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return {};
  const std::string question =
      paths.size() == 1
          ? "Move " + archive::printableName(plat::fileNamePart(paths[0])) + " to the trash?"
          : plat::strFormat("Move these %zu files to the trash?", paths.size());
  if (plat::messageBox(question, plat::loadStr(plat::kStrDeleteLocalCaption), plat::btnYesNo,
                       plat::Icon::Question) != plat::mrYes)
    return {};
  TrashReport report = MoveToTrash(paths);
  if (!report.moved.empty()) plat::syncFileSystemOf(plat::parentFolder(report.moved.front()));
  if (!report.failed.empty()) {
    std::string text = "These files could not be moved to the trash:";
    for (const auto& [path, why] : report.failed) {
      text += '\n';
      text += archive::printableName(path);
      text += " (" + why + ")";
    }
    plat::messageBox(text, plat::loadStr(plat::kStrDeleteLocalCaption), plat::btnOk,
                     plat::Icon::Warning);
  }
  return report;
}

// ---------------------------------------------------------------- reporting

std::string Notice::message() const { return textId ? plat::loadStr(textId) : text; }

namespace {
Notice busyNotice(const std::string& path) {
  Notice n;
  n.text = "Another run is using the briefcase " + archive::printableName(path) +
           ". Try again when it has finished.";
  return n;
}
Notice missingFolderNotice(const std::string& folder, const char* nothingDone) {
  Notice n;
  n.text = MissingFolderText(folder) + "\n" + nothingDone;
  n.captionId = plat::kStrWarning;
  return n;
}
}  // namespace

Notice noticeFor(LoadOutcome outcome, const std::string& briefcasePath,
                 const std::string& localFolder) {
  Notice n;
  switch (outcome) {
    case LoadOutcome::Loaded:
    case LoadOutcome::Cancelled:
    case LoadOutcome::NothingToLoad:
      break;
    case LoadOutcome::NotReadable:
      n.textId = plat::kStrLoadNotReadable;
      break;
    case LoadOutcome::DiskMayBeFull:
      n.textId = plat::kStrLoadDiskFull;
      n.captionId = plat::kStrWarning;  // a warning with Help, titled as such
      n.helpContext = text::kDiskFullTopic;
      break;
    case LoadOutcome::WriteProtected:
      n.textId = plat::kStrReadOnlyOrProtected;
      break;
    case LoadOutcome::BriefcaseBusy:
      n = busyNotice(briefcasePath);
      break;
    case LoadOutcome::FolderMissing:
      n = missingFolderNotice(localFolder, "Nothing was loaded.");
      break;
    case LoadOutcome::Gone:
      // Here the path is what is gone (noticeFor of a LoadResult gives it).
      n.text = archive::errorText(archive::kGone) + ": " + archive::printableName(briefcasePath) +
               " is no longer there.\nNothing was loaded. Insert the disk (or put the folder "
               "back) and load again.";
      break;
    case LoadOutcome::OutOfMemory:
      n.text = "Not enough memory to load the briefcase. It was left as it was; close other "
               "programs and load again.";
      break;
    case LoadOutcome::Failed:
      n.textId = plat::kStrLoadFailed;
      break;
  }
  return n;
}

Notice noticeFor(const LoadResult& result, const std::string& briefcasePath,
                 const std::string& localFolder) {
  return noticeFor(result.outcome, result.gone.empty() ? briefcasePath : result.gone, localFolder);
}

namespace {
// A write failure's notice: the files the run could not write, one a line
// with the reason (the first ten, and how many more); the text of its own
// when the run named none.
void writeFailure(Notice& n, int textId, const std::vector<archive::TNotWritten>& files) {
  constexpr size_t kShown = 10;
  if (files.empty()) {
    n.textId = textId;
    return;
  }
  n.text = "Write error. These files could not be written:\n";
  for (size_t i = 0; i < files.size() && i < kShown; ++i)
    n.text += "\n- " + archive::printableName(files[i].path) + " (" + files[i].why + ")";
  if (files.size() > kShown) n.text += plat::strFormat("\n- and %zu more", files.size() - kShown);
}
}  // namespace

Notice noticeFor(UnloadRunOutcome outcome, const std::string& briefcasePath,
                 const std::string& localFolder,
                 const std::vector<archive::TNotWritten>& notWritten) {
  Notice n;
  n.icon = plat::Icon::Information;
  switch (outcome) {
    case UnloadRunOutcome::Unloaded:
    case UnloadRunOutcome::SpaceDeclined:
      break;
    case UnloadRunOutcome::NoFiles:
      n.textId = plat::kStrNoFilesToUnload;
      break;
    case UnloadRunOutcome::Cancelled:
      n.textId = plat::kStrAborted;
      break;
    case UnloadRunOutcome::InUse:
      writeFailure(n, plat::kStrUnloadInUse, notWritten);
      break;
    case UnloadRunOutcome::FolderInTheWay:
      n.text = "Write error. A folder is in the way of one or more files.";
      break;
    case UnloadRunOutcome::ReadOnly:
      writeFailure(n, plat::kStrUnloadReadOnly, notWritten);
      break;
    case UnloadRunOutcome::NameRefused:
      writeFailure(n, plat::kStrUnloadFailed, notWritten);
      n.icon = plat::Icon::Warning;
      break;
    case UnloadRunOutcome::DiskFull:
      n.textId = plat::kStrUnloadDiskFull;
      break;
    case UnloadRunOutcome::BriefcaseBusy:
      n = busyNotice(briefcasePath);
      break;
    case UnloadRunOutcome::FolderMissing:
      n = missingFolderNotice(localFolder, "Nothing was unloaded.");
      break;
    case UnloadRunOutcome::OutOfMemory:
      n.text = "Not enough memory to unload the briefcase. The files unloaded so far are "
               "complete and the others were not touched; close other programs and unload again.";
      n.icon = plat::Icon::Warning;
      break;
    case UnloadRunOutcome::Failed:
      n.textId = plat::kStrUnloadFailed;
      n.icon = plat::Icon::Warning;
      break;
  }
  return n;
}

}  // namespace app

