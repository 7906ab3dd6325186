#include "app/undo.h"

#include <zlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "app/deletions.h"
#include "app/history.h"
#include "app/operations.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/update/state.h"
#include "archive/update/update.h"
#include "briefcase/brdate.h"
#include "carry/key.h"
#include "carry/tracker.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/syncfs.h"
#include "platform/trash.h"

namespace app {
namespace {

constexpr const char* kNothingToUndo =
    "There is nothing to undo: no unload of this briefcase into this folder since its last load.";

bool regularState(const std::string& path, carry::FileState* out) {
  plat::FileInfo info;
  if (!plat::fileSystem().stat(path, &info, false) || !info.isRegular) return false;
  *out = carry::stateOf(info);
  return true;
}

bool present(const std::string& path) {
  plat::FileInfo info;
  return plat::fileSystem().stat(path, &info, false);
}

// Whether the file holds `size` bytes of CRC-32 `crc`.
bool holds(const std::string& path, uint64_t size, uint32_t crc) {
  auto f = plat::fileSystem().open(path, plat::Access::Read, plat::Disposition::OpenExisting);
  if (!f) return false;
  std::vector<uint8_t> buf(1 << 16);
  uLong c = crc32(0, nullptr, 0);
  uint64_t total = 0;
  for (;;) {
    size_t got = 0;
    if (!f->read(buf.data(), buf.size(), &got)) return false;
    if (got == 0) break;
    c = crc32(c, buf.data(), static_cast<uInt>(got));
    total += got;
    if (total > size) return false;
  }
  return total == size && static_cast<uint32_t>(c) == crc;
}

// The file the unload wrote is still as it left it: the same file, or (a
// disk that numbers files anew, a touch) the same bytes.
bool unchanged(const carry::UndoItem& item, const carry::FileState& now) {
  if (now == item.written) return true;
  return now.size == item.entrySize && holds(item.file, item.entrySize, item.entryCrc);
}

// What the undo does with one file.
enum class Step {
  Done,         // nothing left to do (put back by an earlier undo, or gone)
  Undo,         // the file is as the unload left it: take it back
  RestoreOnly,  // the file is gone, its old one still in the trash: that comes back
  Finish,       // its old one is back already (an undo was stopped): only the .trashinfo goes
  Changed,      // changed since the unload: it stays
};

Step stepOf(const carry::UndoItem& item) {
  carry::FileState now;
  const bool there = regularState(item.file, &now);
  const bool otherThere = !there && present(item.file);  // a folder or a link in its place
  if (otherThere) return Step::Changed;
  switch (item.action) {
    case carry::UndoAction::kRestore: {
      const bool kept = present(item.trashedPath);
      if (!there) return kept ? Step::RestoreOnly : Step::Done;
      if (unchanged(item, now)) return Step::Undo;
      if (!kept && now == item.original) return Step::Finish;
      return Step::Changed;
    }
    case carry::UndoAction::kRemove:
    case carry::UndoAction::kKeep:
      if (!there) return Step::Done;
      return unchanged(item, now) ? Step::Undo : Step::Changed;
  }
  return Step::Changed;
}

// Loads `files` (full paths under `base`) into the briefcase: entries named
// by their paths under `base`, dated by their files.
int loadBack(archive::TCompress& engine, const std::string& base,
             const std::vector<std::string>& files, const UndoRequest& request,
             std::vector<std::string>* notLoaded) {
  if (files.empty() && !engine.deletions) return archive::kOk;
  engine.update.mode = archive::kModeAdd;
  engine.update.baseFolder = base;
  engine.ClearCancel();
  if (request.storeConfiguration) request.storeConfiguration();
  auto keepRefresh = engine.callbacks.configRefresh;
  engine.callbacks.configRefresh = request.storeConfiguration;
  engine.ClearNames();
  for (const std::string& f : files) engine.AddName(f);
  int rc = archive::kInternalError;
  try {
    rc = archive::Update(engine);
  } catch (...) {
  }
  notLoaded->insert(notLoaded->end(), engine.update.notLoaded.begin(),
                    engine.update.notLoaded.end());
  engine.ClearNames();
  engine.update.baseFolder.clear();
  engine.callbacks.configRefresh = keepRefresh;
  return rc;
}

// A copy of `from` at `to` (folders made), dated as `from`.
bool copyDated(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(to).parent_path(), ec);
  if (!std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec))
    return false;
  plat::FileInfo info;
  if (!plat::fileSystem().stat(from, &info, true)) return false;
  return plat::fileSystem().setTimes(to, nullptr, nullptr, &info.writeTime);
}

// The path of a file below `folder` relative to it ("" for one elsewhere).
std::string relativeTo(const std::string& folder, const std::string& path) {
  const size_t k = folder.size();
  return path.size() > k + 1 && path.compare(0, k, folder) == 0 && path[k] == '/'
             ? path.substr(k + 1)
             : std::string();
}

struct HeldLock {
  archive::TCompress* engine = nullptr;
  ~HeldLock() {
    if (engine) archive::ReleaseLock(*engine);
  }
};

}  // namespace

std::string WhyNoUndo(const std::string& briefcasePath, const std::string& localFolder) {
  const std::string folder = plat::stripTrailingSlash(localFolder);
  if (folder.empty() || !plat::folderExists(folder)) return MissingFolderText(folder);
  std::unique_ptr<carry::CarryRecord> record =
      carry::CarryRecord::open(carry::briefcaseKey(briefcasePath), carry::folderKey(folder));
  if (record->undoPlan()) return std::string();
  const std::string warning = record->takeWarning();
  return warning.empty() ? kNothingToUndo : warning;
}

UndoResult UndoUnload(archive::TCompress& engine, const UndoRequest& request) {
  UndoResult r;
  const std::string folder = plat::stripTrailingSlash(request.localFolder);
  if (folder.empty() || !plat::folderExists(folder)) {
    r.outcome = UndoOutcome::FolderMissing;
    r.code = archive::kBadParameters;
    r.reason = MissingFolderText(folder);
    return r;
  }
  plat::FileTime date = 0;
  briefcase::ReadBriefcaseDate(engine.archivePath, &date);
  carry::Tracker tracker(engine.archivePath, folder, date);
  const std::optional<carry::UndoPlan> plan = tracker.store().undoPlan();
  if (!plan) {
    r.carryWarning = tracker.takeWarning();
    r.reason = r.carryWarning.empty() ? kNothingToUndo : r.carryWarning;
    return r;
  }

  // The entries it loads back take the briefcase's form, as a load's do.
  if (const int rc = CheckEncryption(engine, true)) {
    r.outcome = UndoOutcome::Failed;
    r.code = rc;
    r.reason = archive::errorText(rc);
    return r;
  }
  // One run at a time on the briefcase, from the listing to its date.
  engine.ClearCancel();
  HeldLock held;
  const auto deadline = std::chrono::steady_clock::now() + request.lockWait;
  int rc = archive::HoldLock(engine);
  while (rc == archive::kCreateFailed && std::chrono::steady_clock::now() < deadline &&
         BriefcaseBusy(engine.archivePath)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rc = archive::HoldLock(engine);
  }
  if (rc == archive::kCreateFailed) {
    r.outcome = UndoOutcome::BriefcaseBusy;
    r.code = rc;
    return r;
  }
  if (rc != archive::kOk) {
    r.outcome = UndoOutcome::Failed;
    r.code = rc;
    r.reason = archive::errorText(rc);
    return r;
  }
  held.engine = &engine;
  tracker.store().markUndoing();
  // Each file kept is named once, with the first reason found.
  std::set<std::string> named;
  auto keep = [&](const std::string& path, const std::string& why) {
    if (named.insert(path).second) r.kept.emplace_back(path, why);
  };

  // What each file needs, and which entries have to come back first: an
  // entry is loaded back from the file that holds its bytes, before the
  // file goes.
  const size_t n = plan->items.size();
  std::vector<Step> steps(n, Step::Done);
  for (size_t i = 0; i < n; ++i)
    if (!plan->items[i].done) steps[i] = stepOf(plan->items[i]);
  EntryBytes entries;
  if (!ListEntryBytes(engine, &entries)) {
    r.outcome = UndoOutcome::Failed;
    r.code = archive::kCompressedError;
    r.reason = "The briefcase could not be read.";
    return r;
  }
  std::vector<std::string> direct, staged;
  std::map<std::string, size_t> byFile;  // a file to load back, and its item
  const std::string staging = plat::stateHome() + "/carryvale/undo-staging";
  std::error_code ec;
  std::filesystem::remove_all(staging, ec);
  for (size_t i = 0; i < n; ++i) {
    const carry::UndoItem& item = plan->items[i];
    if (steps[i] != Step::Undo || entries.count(item.path)) continue;
    if (item.file == plat::joinPath(folder, item.path)) {
      direct.push_back(item.file);
      byFile[item.file] = i;
    } else {
      // A conflict copy (or a file the user named otherwise) holds the
      // bytes of an entry of another name: loaded back from a copy under it.
      const std::string copy = plat::joinPath(staging, item.path);
      if (!copyDated(item.file, copy)) {
        steps[i] = Step::Changed;
        keep(item.path, "it could not be loaded back into the briefcase");
        continue;
      }
      staged.push_back(copy);
      byFile[copy] = i;
    }
  }
  // The deletions the unload took from the briefcase go back with the
  // first run (or one of their own).
  std::vector<archive::DeletionRow> rows;
  std::string why;
  if (!plan->deletionRows.empty() &&
      archive::decodeDeletions(reinterpret_cast<const uint8_t*>(plan->deletionRows.data()),
                               plan->deletionRows.size(), &rows, &why)) {
    std::vector<archive::DeletionRow> now = CarriedDeletions(engine.archivePath);
    now.insert(now.end(), rows.begin(), rows.end());
    archive::normalizeDeletions(&now);
    engine.deletions = now;
  }
  std::vector<std::string> notLoaded;
  rc = loadBack(engine, folder, direct, request, &notLoaded);
  if (rc == archive::kOk || rc == archive::kFileNotReadable)
    rc = std::max(rc, loadBack(engine, staging, staged, request, &notLoaded));
  std::filesystem::remove_all(staging, ec);
  engine.deletions.reset();
  if (rc != archive::kOk && rc != archive::kFileNotReadable) {
    r.outcome = UndoOutcome::Failed;
    r.code = rc;
    r.reason = "The files could not be loaded back into the briefcase: " + archive::errorText(rc);
    r.kept.clear();
    return r;
  }
  for (const std::string& f : notLoaded) {
    auto it = byFile.find(f);
    if (it == byFile.end()) continue;
    steps[it->second] = Step::Changed;
    keep(plan->items[it->second].path, "it changed while it was loaded back");
    byFile.erase(it);
  }
  for (const auto& [file, i] : byFile) r.reloaded.push_back(plan->items[i].path);

  // The files, each journalled as it is put back.
  bool incomplete = false;
  for (size_t i = 0; i < n; ++i) {
    const carry::UndoItem& item = plan->items[i];
    bool done = false;
    switch (steps[i]) {
      case Step::Done: continue;
      case Step::Changed:
        keep(item.path, "it changed after the unload");
        continue;
      case Step::Finish:
        plat::fileSystem().remove(item.trashInfoPath);
        r.restored.push_back(item.path);
        done = true;
        break;
      case Step::RestoreOnly:
        done = plat::fileSystem().renameNoReplace(item.trashedPath, item.file);
        if (done) {
          plat::fileSystem().remove(item.trashInfoPath);
          r.restored.push_back(item.path);
        }
        break;
      case Step::Undo:
        if (item.action == carry::UndoAction::kKeep) {
          done = true;
        } else if (item.action == carry::UndoAction::kRemove) {
          const plat::TrashResult t = plat::moveToTrash(item.file);
          done = t == plat::TrashResult::Done;
          if (done)
            r.trashed.push_back(item.path);
          else
            keep(item.path, t == plat::TrashResult::NoTrash
                                ? "no trash can take it"
                                : "it could not be put into the trash: " + plat::lastErrorText());
          // A file that cannot go stays: nothing of it is lost.
          if (!done) done = t == plat::TrashResult::NoTrash;
        } else {
          // The written file keeps a name in the trash, then its old one
          // takes its place in one step.
          plat::TrashedFile written;
          const plat::TrashResult t = plat::keepInTrash(item.file, &written);
          const auto entry = entries.find(item.path);
          const bool inBriefcase =
              byFile.count(item.file) ||
              (entry != entries.end() && entry->second == std::make_pair(item.entryCrc, item.entrySize));
          if (t != plat::TrashResult::Done && !inBriefcase) {
            keep(item.path, "its bytes could not be kept in the trash");
            incomplete = true;
            continue;
          }
          if (t == plat::TrashResult::Done && written.moved)
            done = plat::fileSystem().renameNoReplace(item.trashedPath, item.file);
          else
            done = plat::fileSystem().rename(item.trashedPath, item.file);
          if (!done && t == plat::TrashResult::Done) plat::withdrawFromTrash(written);
          if (done) {
            plat::fileSystem().remove(item.trashInfoPath);
            r.restored.push_back(item.path);
          }
        }
        break;
    }
    if (done) {
      tracker.store().markUndone(i);
    } else {
      incomplete = true;
      keep(item.path, "it could not be put back: " + plat::lastErrorText());
    }
  }
  plat::syncFileSystemOf(folder);

  if (incomplete) {
    r.outcome = UndoOutcome::Incomplete;
    r.code = archive::kWriteFailure;
    r.reason = "Not every file could be put back; Undo Unload again to finish.";
    r.carryWarning = tracker.takeWarning();
    return r;
  }
  // The briefcase's date as it was, then the record: the paths put back
  // are as this computer last carried them before the unload.
  if (plan->briefcaseDate > 0 &&
      briefcase::WriteBriefcaseDate(engine.archivePath,
                                    static_cast<plat::FileTime>(plan->briefcaseDate)))
    archive::RefreshLock(engine);
  uint64_t bytes = 0;
  for (size_t i = 0; i < n; ++i) {
    const carry::UndoItem& item = plan->items[i];
    if (!item.done && steps[i] == Step::Changed) continue;
    const std::string rel = relativeTo(folder, item.file);
    if (!rel.empty()) tracker.restore(rel, item.prior);
    bytes += item.entrySize;
  }
  tracker.restoreSince(plan->since);
  tracker.forgetUndo();
  carry::Trip trip = NewTrip(carry::TripKind::kUndo, folder, archive::kOk);
  trip.names = r.restored;
  trip.names.insert(trip.names.end(), r.trashed.begin(), r.trashed.end());
  trip.files = trip.names.size();
  trip.bytes = bytes;
  tracker.addTrip(trip);
  tracker.commit();
  r.carryWarning = tracker.takeWarning();
  r.outcome = UndoOutcome::Undone;
  return r;
}

std::vector<std::string> UndoReport(const UndoResult& result) {
  std::vector<std::string> lines;
  auto count = [](size_t k, const char* one, const char* many) {
    return std::to_string(k) + " " + (k == 1 ? one : many);
  };
  if (result.outcome == UndoOutcome::Undone || result.outcome == UndoOutcome::Incomplete) {
    lines.push_back("Undo Unload: " + count(result.restored.size(), "file", "files") +
                    " put back from the trash, " +
                    count(result.trashed.size(), "new file", "new files") + " moved to the trash, " +
                    count(result.reloaded.size(), "entry", "entries") + " back in the briefcase.");
  }
  for (const auto& [path, why] : result.kept)
    lines.push_back("Kept as it is: " + path + " (" + why + ")");
  if (!result.reason.empty()) lines.push_back(result.reason);
  return lines;
}

}  // namespace app
