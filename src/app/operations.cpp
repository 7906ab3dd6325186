#include "app/operations.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/restore.h"
#include "archive/update/update.h"
#include "archive/zwnt.h"
#include "briefcase/brdate.h"
#include "briefcase/briefcasedoc.h"
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

// A selected entry as the listing shows it.
struct Selected {
  std::string name;
  size_t index = 0;  // its place in the directory
  uint32_t crc = 0;
  uint32_t size = 0;
};

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
// ahead after the raise.
void settleDate(const std::string& briefcasePath, plat::FileTime newest) {
  constexpr plat::FileTime kTwoSeconds = 2 * plat::kTicksPerSecond;
  constexpr plat::FileTime kTick = plat::kTicksPerSecond / 50;
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(briefcasePath, &fi, true)) return;
  plat::FileTime date = fi.writeTime;
  if (newest > date && newest - date < kTwoSeconds) {
    for (uint64_t grid : {uint64_t(1), plat::kTicksPerSecond, kTwoSeconds}) {
      const plat::FileTime want = (newest + grid - 1) / grid * grid;
      if (!plat::fileSystem().setTimes(briefcasePath, nullptr, &want, &want) ||
          !plat::fileSystem().stat(briefcasePath, &fi, true))
        return;
      date = fi.writeTime;
      if (date >= newest) break;
    }
  }
  for (plat::FileTime now = plat::nowFileTime();
       now <= date + kTick && date < now + kTwoSeconds + kTick; now = plat::nowFileTime())
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

UnloadOutcome unloadOutcome(int rc) {
  switch (rc) {
    case archive::kOk:
      return UnloadOutcome::Unloaded;
    case archive::kNoFiles:
      return UnloadOutcome::NoFiles;
    case archive::kInterrupted:
      return UnloadOutcome::Cancelled;
    case archive::kWriteFailure:
    case archive::kInUse:
      return UnloadOutcome::InUse;
    case archive::kReadOnly:
      return UnloadOutcome::ReadOnly;
    case archive::kNameRefused:
      return UnloadOutcome::NameRefused;
    case archive::kDiskFull:
      return UnloadOutcome::DiskFull;
    case archive::kOutOfMemory:
      return UnloadOutcome::OutOfMemory;
    default:
      return UnloadOutcome::Failed;
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

LoadResult Load(archive::TCompress& engine, const LoadRequest& request) {
  LoadResult result;
  if (!plat::folderExists(request.baseFolder)) {
    if (request.folderChosen)
      if (const std::optional<std::string> chosen = AskForMissingFolder(request.baseFolder))
        request.folderChosen(*chosen);
    result.code = archive::kBadParameters;
    result.outcome = LoadOutcome::FolderMissing;
    return result;
  }
  Keep<std::function<void()>> keepRefresh(engine.callbacks.configRefresh);
  engine.update.baseFolder = plat::stripTrailingSlash(request.baseFolder);
  engine.ClearCancel();
  if (request.storeConfiguration) request.storeConfiguration();
  engine.ClearNames();
  plat::FileTime newest = 0;  // the newest file to load dated before now
  const plat::FileTime started = plat::nowFileTime();
  for (const std::string& file : request.files) {
    plat::FileInfo fi;
    const bool there = plat::fileSystem().stat(file, &fi, true);
    if (there && fi.isRegular && fi.size > kLargestFile) {
      result.tooLarge.push_back(file);
      continue;
    }
    if (there && fi.writeTime <= started) newest = std::max(newest, fi.writeTime);
    engine.AddName(file);
  }
  if (!result.tooLarge.empty())
    plat::messageBox("One or more files are larger than 4 GB.\nThese files will not be loaded.",
                     plat::loadStr(plat::kStrWarning), plat::btnOk, plat::Icon::Warning);

  if (!engine.names.empty()) {
    status(engine, plat::loadStrFmt(plat::kStrLoadingBriefcase, engine.archivePath.c_str()));
    if (request.lockWait.count() > 0)
      waitWhileBusy(engine, std::chrono::steady_clock::now() + request.lockWait);
    engine.callbacks.configRefresh = request.storeConfiguration;
    try {
      result.code = archive::Update(engine);
      result.ran = true;
    } catch (...) {
      // The result keeps its value: the briefcase is as the engine left it.
    }
    result.keptArchivePath = engine.update.keptArchivePath;
  }
  engine.ClearNames();
  engine.update.baseFolder.clear();
  if (result.ran && (result.code == archive::kOk || result.code == archive::kFileNotReadable))
    settleDate(engine.archivePath, newest);

  if (!result.ran) {
    result.outcome = LoadOutcome::NothingToLoad;
    return result;
  }
  switch (result.code) {
    case archive::kOk:
      result.outcome = LoadOutcome::Loaded;
      break;
    case archive::kInterrupted:
      result.outcome = LoadOutcome::Cancelled;
      break;
    case archive::kFileNotReadable:
      result.outcome = LoadOutcome::NotReadable;
      break;
    case archive::kDiskMayBeFull:
      result.outcome = LoadOutcome::DiskMayBeFull;
      break;
    case archive::kWriteProtected:
      result.outcome = LoadOutcome::WriteProtected;
      break;
    case archive::kGone:
      result.outcome = LoadOutcome::Gone;
      result.gone = engine.update.gone;
      break;
    case archive::kOutOfMemory:
      result.outcome = LoadOutcome::OutOfMemory;
      break;
    default:
      result.outcome = result.code == archive::kCreateFailed && engine.update.busy
                           ? LoadOutcome::BriefcaseBusy
                           : LoadOutcome::Failed;
  }
  return result;
}

// ---------------------------------------------------------------- unload

int UnloadResult::exitCode() const {
  if (code != archive::kOk) return code;
  if (removalCode != archive::kOk) return removalCode;
  return dateCode;
}

UnloadResult Unload(archive::TCompress& engine, const UnloadRequest& request,
                    const UnloadHooks& hooks) {
  UnloadResult result;
  auto note = [&](const std::string& line) {
    result.notes.push_back(line);
    if (hooks.note) hooks.note(line);
  };
  Keep<archive::TExtractCallbacks> keepCallbacks(engine.extract.callbacks);
  std::string folder = plat::stripTrailingSlash(request.localFolder);
  if (!plat::folderExists(folder)) {
    std::optional<std::string> chosen;
    if (request.folderChosen) chosen = AskForMissingFolder(folder);
    if (!chosen) {
      result.code = archive::kBadParameters;
      result.outcome = UnloadOutcome::FolderMissing;
      return result;
    }
    request.folderChosen(*chosen);
    folder = *chosen;
  }

  // The briefcase stays locked from the listing to the removal of its
  // entries, so that no other run changes it in between. When the entries
  // are kept there is nothing to remove (and on read-only media no lock can
  // be had): the unload then goes on without it.
  struct HeldLock {
    archive::TCompress* engine = nullptr;
    ~HeldLock() {
      if (engine) archive::ReleaseLock(*engine);
    }
  } held;
  engine.ClearCancel();
  if (request.after != AfterUnload::Keep) {
    const auto deadline = std::chrono::steady_clock::now() + request.lockWait;
    int rc = archive::HoldLock(engine);
    while (rc == archive::kCreateFailed && request.lockWait.count() > 0 &&
           BriefcaseBusy(engine.archivePath) && waitWhileBusy(engine, deadline))
      rc = archive::HoldLock(engine);
    if (engine.cancelled) {
      result.code = archive::kInterrupted;
      result.outcome = UnloadOutcome::Cancelled;
      return result;
    }
    if (rc == archive::kCreateFailed) {
      result.code = rc;
      result.outcome = UnloadOutcome::BriefcaseBusy;
      return result;
    }
    if (rc == archive::kOk) held.engine = &engine;
  }

  // The selection as the rows count it (folder entries are no rows), with
  // each entry's size and the folders it lies in for the free-space check.
  std::vector<Selected> selected;
  std::set<std::string> folders;  // relative to the local folder
  size_t listed = 0;
  {
    Keep<std::function<void(const std::string&)>> keepMessage(engine.callbacks.message);
    engine.callbacks.message = nullptr;
    size_t index = 0;  // a listing reports every entry, in directory order
    engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
      const size_t at = index++;
      const std::string name = e.displayName();
      bool chosen = request.entries.empty();
      for (size_t i = 0; i < request.entries.size() && !chosen; ++i)
        chosen = archive::nameSelects(name, request.entries[i]);
      if (!chosen) return;
      for (size_t slash = name.find('/'); slash != std::string::npos;
           slash = name.find('/', slash + 1))
        folders.insert(name.substr(0, slash));
      if (!e.isFolder())
        selected.push_back(Selected{name, at, e.central.crc, e.central.uncompressedSize});
    };
    archive::ListRun(engine);
    listed = index;
    engine.extract.callbacks.listEntry = nullptr;
  }
  result.selectedCount = selected.size();

  // Room on the local folder's file system (the folder is there: a missing
  // one was asked for above) for the selection: each file takes its size
  // rounded up to the volume's block size, and each folder that has to be
  // made a block.
  const uint64_t block = archive::BlockSize(folder);
  uint64_t needed = 0;
  for (const Selected& s : selected) needed += (uint64_t(s.size) + block - 1) / block * block;
  for (const std::string& f : folders)
    if (!plat::folderExists(plat::joinPath(folder, f))) needed += block;
  uint64_t freeBytes = 0;
  if (archive::FreeSpace(folder, &freeBytes) && freeBytes < needed) {
    if (request.space == SpaceCheck::Refuse) {
      note(plat::strFormat(
          "Insufficient Disk Space?\nFree Disk Space = %llu bytes\n"
          "Uncompressed Files Total %llu bytes",
          static_cast<unsigned long long>(freeBytes), static_cast<unsigned long long>(needed)));
      result.code = archive::kDiskFull;
      result.outcome = UnloadOutcome::DiskFull;
      return result;
    }
    if (!archive::ConfirmSpace(folder, needed)) {
      result.code = archive::kInterrupted;
      result.outcome = UnloadOutcome::SpaceDeclined;
      return result;
    }
  }

  // The run.
  // A replace query the caller installed answers in Ask mode; else the asker.
  const auto callerQuery = engine.extract.callbacks.replaceQuery;
  engine.extract.callbacks.replaceQuery = [&](std::string& target, plat::FileTime et,
                                              plat::FileTime nt, uint32_t es, uint32_t ns,
                                              uint8_t& answer) {
    if (request.replace == ReplaceMode::YesToAll) {
      answer = archive::kAnswerYesToAll;
    } else if (request.replace == ReplaceMode::NoToAll) {
      answer = archive::kAnswerNoToAll;
    } else {
      if (hooks.beforeQuestion) hooks.beforeQuestion();
      if (callerQuery)
        callerQuery(target, et, nt, es, ns, answer);
      else
        archive::askReplaceThroughAsker(target, et, nt, es, ns, answer, &engine.cancelled);
    }
  };
  // Where no trash can take an old file, replacing it leaves no copy: a run
  // that asks asks first (Yes/No to All hold for the run), a run on a policy
  // keeps the old file.
  int withoutCopy = request.replace == ReplaceMode::Ask ? plat::mrNone : plat::mrNoToAll;
  if (request.trash) {
    engine.extract.callbacks.beforeReplace = [&](const archive::TExtractEntry& e,
                                                 const std::string& target) {
      // A file that already holds the entry's bytes loses nothing.
      if (sameBytes(target, e.central.uncompressedSize, e.central.crc)) return archive::OldFile::Stays;
      plat::TrashedFile t;
      const plat::TrashResult kept = plat::keepInTrash(target, &t);
      if (kept == plat::TrashResult::Done) {
        result.trashed.push_back(t);
        return t.moved ? archive::OldFile::MovedAway : archive::OldFile::Stays;
      }
      const std::string shown = archive::printableName(target);
      const std::string why = kept == plat::TrashResult::NoTrash
                                  ? "no trash can be used on its disk"
                                  : "it could not be put into the trash: " + plat::lastErrorText();
      if (withoutCopy == plat::mrNone || withoutCopy == plat::mrYes || withoutCopy == plat::mrNo) {
        if (hooks.beforeQuestion) hooks.beforeQuestion();
        withoutCopy = plat::messageBox(
            "The old " + shown + " cannot be kept (" + why +
                "). Replacing it leaves no copy of it.\n\nReplace it anyway?",
            "Replace without a copy", plat::btnYes | plat::btnNo | plat::btnYesToAll | plat::btnNoToAll,
            plat::Icon::Warning, plat::mrNo);
      }
      if (withoutCopy == plat::mrYes || withoutCopy == plat::mrYesToAll) {
        note("The old " + shown + " was replaced without a copy (" + why + ").");
        result.trashUnavailable = true;
        return archive::OldFile::Stays;
      }
      note("The old " + shown + " was not replaced: " + why + ", and replacing it would leave no copy.");
      return archive::OldFile::KeepIt;
    };
  }
  engine.ClearNames();
  for (const std::string& n : request.entries) engine.AddName(n);
  engine.extract.targetFolder = folder;
  if (hooks.runStarting) hooks.runStarting();
  try {
    result.code = archive::UnloadRun(engine);
  } catch (...) {
    // The result keeps its value.
  }
  if (hooks.runFinished) hooks.runFinished();
  engine.ClearNames();
  // An old file put into the trash whose replacement then failed leaves the
  // trash again: a linked copy is dropped, a moved file goes back.
  std::erase_if(result.trashed,
                [](const plat::TrashedFile& t) { return plat::withdrawFromTrash(t); });
  // The trash's names and .trashinfo files on the disk, once for the run.
  if (!result.trashed.empty())
    plat::syncFileSystemOf(plat::parentFolder(result.trashed.front().trashedPath));
  result.notAllUnloaded = engine.extract.notAllUnloaded;

  result.notWritten = engine.extract.notWritten;

  // What became of each selected entry, as the run tells it: by its place in
  // the directory (two entries may bear one name), or by its name when the
  // briefcase changed in between. Whether a kept file holds the entry's
  // bytes is read only when a removal without a question needs to know
  // (below).
  const std::vector<archive::TExtractEntry>& ran = engine.extract.entries;
  std::map<std::string, archive::UnloadOutcome> told;
  if (ran.size() != listed)
    for (const archive::TExtractEntry& e : ran)
      if (e.outcome != archive::UnloadOutcome::NotHandled) told[e.displayName()] = e.outcome;
  bool folderInTheWay = false;
  for (const Selected& s : selected) {
    archive::UnloadOutcome outcome = archive::UnloadOutcome::NotHandled;
    if (ran.size() == listed) {
      outcome = ran[s.index].outcome;
    } else if (auto it = told.find(s.name); it != told.end()) {
      outcome = it->second;
    }
    EntryFate fate = EntryFate::Skipped;
    if (outcome == archive::UnloadOutcome::Unloaded) {
      fate = EntryFate::Written;
    } else if (outcome == archive::UnloadOutcome::Declined) {
      fate = EntryFate::Declined;
    } else if (plat::folderExists(plat::joinPath(folder, s.name))) {
      folderInTheWay = true;
    }
    result.entries.emplace_back(s.name, fate);
  }
  result.outcome = unloadOutcome(result.code);
  if (result.outcome == UnloadOutcome::InUse && folderInTheWay)
    result.outcome = UnloadOutcome::FolderInTheWay;
  if (result.outcome == UnloadOutcome::Failed && result.code == archive::kCreateFailed &&
      BriefcaseBusy(engine.archivePath))
    result.outcome = UnloadOutcome::BriefcaseBusy;
  if (result.code != archive::kOk) return result;

  // Remove the unloaded entries, or keep them and date the briefcase now.
  bool remove = request.after == AfterUnload::Remove;
  if (request.after == AfterUnload::Ask) {
    result.removalAsked = true;
    if (hooks.beforeQuestion) hooks.beforeQuestion();
    const std::string question =
        result.notAllUnloaded
            ? plat::loadStr(plat::kStrNotAllUnloaded)
            : plat::loadStrFmt(plat::kStrUnloadedRemove, static_cast<int>(result.selectedCount));
    // The question removes entries from the briefcase: its caption says so
    // (the local files' caption here read as if Yes deleted the files just
    // written).
    const plat::Icon icon = result.notAllUnloaded ? plat::Icon::Warning : plat::Icon::Question;
    remove = plat::messageBox(question, plat::loadStr(plat::kStrDeleteCaption), plat::btnYesNo,
                              icon) == plat::mrYes;
  }
  if (!remove) {
    result.dateCode = StampBriefcaseDate(engine.archivePath);
    result.dated = result.dateCode == 0;
    if (result.dated) {
      // The files just written must not count as changed.
      plat::FileTime newest = 0;
      const plat::FileTime now = plat::nowFileTime();
      for (const archive::TExtractEntry& e : engine.extract.entries) {
        const plat::FileTime t = archive::entryTime(e);
        if (e.outcome == archive::UnloadOutcome::Unloaded && t <= now) newest = std::max(newest, t);
      }
      settleDate(engine.archivePath, newest);
    }
    return result;
  }

  // Only entries whose bytes are now in the local folder leave the briefcase;
  // a declined one too when the user was asked about all of them (kStrNotAllUnloaded).
  std::vector<std::string> names;
  for (size_t i = 0; i < result.entries.size(); ++i) {
    const std::string& name = result.entries[i].first;
    EntryFate& fate = result.entries[i].second;
    if (fate == EntryFate::Declined && !result.removalAsked &&
        sameBytes(plat::joinPath(folder, name), selected[i].size, selected[i].crc))
      fate = EntryFate::Identical;
    const bool goes = fate == EntryFate::Written || fate == EntryFate::Identical ||
                      (fate == EntryFate::Declined && result.removalAsked);
    if (goes) {
      names.push_back(name);
    } else {
      result.kept.push_back(name);
      note("Stays in the briefcase (not unloaded): " + archive::printableName(name));
    }
  }
  if (names.empty()) return result;
  // The files written must be on the disk before their entries go.
  plat::syncFileSystemOf(folder);
  if (hooks.removalStarting) hooks.removalStarting();
  result.removalCode = RemoveEntries(engine, names, request.storeConfiguration);
  if (hooks.removalFinished) hooks.removalFinished();
  result.removed = result.removalCode == archive::kOk;
  if (result.removed) settleDate(engine.archivePath, 0);
  return result;
}

// ---------------------------------------------------------------- shared steps

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

Notice noticeFor(UnloadOutcome outcome, const std::string& briefcasePath,
                 const std::string& localFolder,
                 const std::vector<archive::TNotWritten>& notWritten) {
  Notice n;
  n.icon = plat::Icon::Information;
  switch (outcome) {
    case UnloadOutcome::Unloaded:
    case UnloadOutcome::SpaceDeclined:
      break;
    case UnloadOutcome::NoFiles:
      n.textId = plat::kStrNoFilesToUnload;
      break;
    case UnloadOutcome::Cancelled:
      n.textId = plat::kStrAborted;
      break;
    case UnloadOutcome::InUse:
      writeFailure(n, plat::kStrUnloadInUse, notWritten);
      break;
    case UnloadOutcome::FolderInTheWay:
      n.text = "Write error. A folder is in the way of one or more files.";
      break;
    case UnloadOutcome::ReadOnly:
      writeFailure(n, plat::kStrUnloadReadOnly, notWritten);
      break;
    case UnloadOutcome::NameRefused:
      writeFailure(n, plat::kStrUnloadFailed, notWritten);
      n.icon = plat::Icon::Warning;
      break;
    case UnloadOutcome::DiskFull:
      n.textId = plat::kStrUnloadDiskFull;
      break;
    case UnloadOutcome::BriefcaseBusy:
      n = busyNotice(briefcasePath);
      break;
    case UnloadOutcome::FolderMissing:
      n = missingFolderNotice(localFolder, "Nothing was unloaded.");
      break;
    case UnloadOutcome::OutOfMemory:
      n.text = "Not enough memory to unload the briefcase. The files unloaded so far are "
               "complete and the others were not touched; close other programs and unload again.";
      n.icon = plat::Icon::Warning;
      break;
    case UnloadOutcome::Failed:
      n.textId = plat::kStrUnloadFailed;
      n.icon = plat::Icon::Warning;
      break;
  }
  return n;
}

}  // namespace app
