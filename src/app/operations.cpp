#include "app/operations.h"

#include <zlib.h>

#include <algorithm>
#include <map>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/update/update.h"
#include "archive/zwnt.h"
#include "briefcase/brdate.h"
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

// The nearest folder of `path` that exists (for the free-space question).
std::string existingFolder(std::string path) {
  while (!path.empty() && path != "/" && !plat::folderExists(path)) path = plat::parentFolder(path);
  return path.empty() ? "/" : path;
}

// A selected entry as the listing shows it.
struct Selected {
  std::string name;
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
    case archive::kDiskFull:
      return UnloadOutcome::DiskFull;
    default:
      return UnloadOutcome::Failed;
  }
}

}  // namespace

// ---------------------------------------------------------------- load

LoadResult Load(archive::TCompress& engine, const LoadRequest& request) {
  LoadResult result;
  Keep<std::function<void()>> keepRefresh(engine.callbacks.configRefresh);
  engine.update.baseFolder = plat::stripTrailingSlash(request.baseFolder);
  engine.ClearCancel();
  if (request.storeConfiguration) request.storeConfiguration();
  engine.ClearNames();
  for (const std::string& file : request.files) {
    plat::FileInfo fi;
    if (plat::fileSystem().stat(file, &fi, true) && fi.isRegular && fi.size > kLargestFile) {
      result.tooLarge.push_back(file);
      continue;
    }
    engine.AddName(file);
  }
  if (!result.tooLarge.empty())
    plat::messageBox("One or more files are larger than 4 GB.\nThese files will not be loaded.",
                     plat::loadStr(text::kWarning), plat::btnOk, plat::Icon::Warning);

  if (!engine.names.empty()) {
    status(engine, plat::loadStrFmt(text::kLoadingBriefcase, engine.archivePath.c_str()));
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
    default:
      result.outcome = result.code == archive::kCreateFailed && BriefcaseBusy(engine.archivePath)
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
  const std::string folder = plat::stripTrailingSlash(request.localFolder);

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
  if (request.after != AfterUnload::Keep) {
    const int rc = archive::HoldLock(engine);
    if (rc == archive::kCreateFailed) {
      result.code = rc;
      result.outcome = UnloadOutcome::BriefcaseBusy;
      return result;
    }
    if (rc == archive::kOk) held.engine = &engine;
  }

  // The selection as the rows count it (folder entries are no rows), with
  // each entry's size for the free-space check.
  std::vector<Selected> selected;
  uint32_t kilobytes = 0;
  {
    Keep<std::function<void(const std::string&)>> keepMessage(engine.callbacks.message);
    engine.callbacks.message = nullptr;
    engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
      if (e.isFolder()) return;
      const std::string name = e.displayName();
      bool chosen = request.entries.empty();
      for (size_t i = 0; i < request.entries.size() && !chosen; ++i)
        chosen = archive::nameSelects(name, request.entries[i]);
      if (!chosen) return;
      selected.push_back(Selected{name, e.central.crc, e.central.uncompressedSize});
      kilobytes += e.central.uncompressedSize / 1024;
    };
    archive::ListRun(engine);
    engine.extract.callbacks.listEntry = nullptr;
  }
  result.selectedCount = selected.size();

  // Room on the local folder's file system for the selection.
  const uint64_t needed = uint64_t(kilobytes) * 1024;
  const std::string spaceFolder = existingFolder(folder);
  uint64_t freeBytes = 0;
  if (archive::FreeSpace(spaceFolder, &freeBytes) && freeBytes < needed) {
    if (request.space == SpaceCheck::Refuse) {
      note(plat::strFormat(
          "Insufficient Disk Space?\nFree Disk Space = %llu bytes\n"
          "Uncompressed Files Total %llu bytes",
          static_cast<unsigned long long>(freeBytes), static_cast<unsigned long long>(needed)));
      result.code = archive::kDiskFull;
      result.outcome = UnloadOutcome::DiskFull;
      return result;
    }
    if (!archive::ConfirmSpace(spaceFolder, needed)) {
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

  // What became of each selected entry, as the run tells it. Whether a kept
  // file holds the entry's bytes is read only when a removal without a
  // question needs to know (below).
  std::map<std::string, archive::UnloadOutcome> told;
  for (const archive::TExtractEntry& e : engine.extract.entries)
    if (e.outcome != archive::UnloadOutcome::NotHandled) told[e.displayName()] = e.outcome;
  bool folderInTheWay = false;
  for (const Selected& s : selected) {
    EntryFate fate = EntryFate::Skipped;
    auto it = told.find(s.name);
    if (it != told.end() && it->second == archive::UnloadOutcome::Unloaded) {
      fate = EntryFate::Written;
    } else if (it != told.end() && it->second == archive::UnloadOutcome::Declined) {
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
            ? plat::loadStr(text::kNotAllUnloaded)
            : plat::loadStrFmt(text::kUnloaded, static_cast<int>(result.selectedCount));
    remove = plat::messageBox(question, plat::loadStr(text::kRemoveCaption), plat::btnYesNo,
                              result.notAllUnloaded ? plat::Icon::Warning : plat::Icon::Question) ==
             plat::mrYes;
  }
  if (!remove) {
    result.dateCode = StampBriefcaseDate(engine.archivePath);
    result.dated = result.dateCode == 0;
    return result;
  }

  // Only entries whose bytes are now in the local folder leave the briefcase;
  // a declined one too when the user was asked about all of them (723).
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
  status(engine, plat::loadStr(text::kDeletingEntries));
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
  if (plat::messageBox(question, plat::loadStr(text::kRemoveCaption), plat::btnYesNo,
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
    plat::messageBox(text, plat::loadStr(text::kRemoveCaption), plat::btnOk, plat::Icon::Warning);
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
}  // namespace

Notice noticeFor(LoadOutcome outcome, const std::string& briefcasePath) {
  Notice n;
  switch (outcome) {
    case LoadOutcome::Loaded:
    case LoadOutcome::Cancelled:
    case LoadOutcome::NothingToLoad:
      break;
    case LoadOutcome::NotReadable:
      n.textId = text::kLoadNotReadable;
      break;
    case LoadOutcome::DiskMayBeFull:
      n.textId = text::kLoadDiskFull;
      n.captionId = text::kWarning;  // a warning with Help, titled as such
      n.helpContext = text::kDiskFullTopic;
      break;
    case LoadOutcome::WriteProtected:
      n.textId = text::kReadOnlyMedium;
      break;
    case LoadOutcome::BriefcaseBusy:
      n = busyNotice(briefcasePath);
      break;
    case LoadOutcome::Failed:
      n.textId = text::kLoadFailed;
      break;
  }
  return n;
}

Notice noticeFor(UnloadOutcome outcome, const std::string& briefcasePath) {
  Notice n;
  n.icon = plat::Icon::Information;
  switch (outcome) {
    case UnloadOutcome::Unloaded:
    case UnloadOutcome::SpaceDeclined:
      break;
    case UnloadOutcome::NoFiles:
      n.textId = text::kNoFilesToUnload;
      break;
    case UnloadOutcome::Cancelled:
      n.textId = text::kAborted;
      break;
    case UnloadOutcome::InUse:
      n.textId = text::kUnloadInUse;
      break;
    case UnloadOutcome::FolderInTheWay:
      n.text = "Write error. A folder is in the way of one or more files.";
      break;
    case UnloadOutcome::ReadOnly:
      n.textId = text::kUnloadReadOnly;
      break;
    case UnloadOutcome::DiskFull:
      n.textId = text::kUnloadDiskFull;
      break;
    case UnloadOutcome::BriefcaseBusy:
      n = busyNotice(briefcasePath);
      break;
    case UnloadOutcome::Failed:
      n.textId = text::kUnloadFailed;
      n.icon = plat::Icon::Warning;
      break;
  }
  return n;
}

}  // namespace app
