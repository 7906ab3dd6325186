// The listing and unload passes: which entries are handled, what is done
// with each (its name, the file found, the policies, the question), and its
// write on the calling thread.
#include "archive/extract/run.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "archive/errors.h"
#include "archive/extract/restore.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "archive/leftovers.h"
#include "archive/namecode.h"
#include "archive/update/pdeflate.h"

namespace archive::engine {
namespace {

bool methodSupported(uint16_t m) {
  return m == kMethodStored || m == kMethodImploded || m == kMethodDeflated;
}

// The highest version needed to extract that this reader meets: 4.5, the
// ZIP64 extensions (methods and encryption of later versions are refused by
// their own checks).
constexpr uint8_t kVersionRead = 45;

// Why an entry cannot be unloaded or checked, or "".
std::string leftOutReason(const TExtractEntry& e) {
  if (e.central.flags & kFlagEncrypted) return "encrypted";
  if (!methodSupported(e.central.method)) return plat::strFormat("method %u", e.central.method);
  if (e.central.versionNeeded > kVersionRead)
    return plat::strFormat("needs version %u.%u", e.central.versionNeeded / 10u,
                           e.central.versionNeeded % 10u);
  if (e.needsZip64) return "4 GB or more";
  return std::string();
}

// The MS-DOS attributes in the low byte of the external ones.
constexpr uint32_t kDosAttributes = 0xFF;
// The permission bits of a file's mode.
constexpr uint32_t kPermissionBits = 0777;

}  // namespace

// The briefcase as a decoder's input.
class Run::InputSource : public DataSource {
 public:
  explicit InputSource(ArchiveInput& in) : in_(in) {}
  size_t peek(size_t max, const uint8_t** data) override { return in_.peek(max, data); }
  void consume(size_t n) override { in_.consume(n); }

 private:
  ArchiveInput& in_;
};

// The run's own callbacks as a decoder's sink.
class Run::LiveSink : public DecodeSink {
 public:
  explicit LiveSink(Run& run) : run_(run) {}
  void message(const std::string& text) override { run_.msg(text); }
  void progress(int percent) override { run_.fileProgress(percent); }

 private:
  Run& run_;
};

void Run::forgetClaims() {
  s_.claimedPaths.clear();
  s_.claimedLoose.clear();
  s_.claimedFiles.clear();
  s_.folderNames.clear();
}

// Whether the names list selects the entry; marks the first name that does.
bool Run::matchesNames(const TExtractEntry& e, std::vector<char>* used) {
  if (!selector_) {
    std::vector<std::string> entryNames;
    entryNames.reserve(s_.entries.size());
    for (const TExtractEntry& x : s_.entries) entryNames.push_back(x.displayName());
    selector_ = std::make_unique<NameSelector>(c_.names, entryNames);
  }
  const long k = selector_->select(e.displayName());
  if (k < 0) return false;
  if (used) (*used)[static_cast<size_t>(k)] = 1;
  return true;
}

int Run::listingPass() {
  s_.totals = TListTotals();
  for (const TExtractEntry& e : s_.entries) {
    if (!s_.allEntries && !matchesNames(e, nullptr)) continue;
    if (s_.callbacks.listEntry) s_.callbacks.listEntry(e);
    s_.totals.count++;
    s_.totals.compressed += e.central.compressedSize;
    s_.totals.uncompressed += e.central.uncompressedSize;
  }
  return s_.totals.count == 0 ? kNoFiles : 0;
}

int Run::unloadPass(bool test) {
  std::vector<char> used(c_.names.size(), 0);
  uint32_t unsupported = 0;
  uint64_t total = 0;
  size_t selectedCount = 0;
  if (!test && !s_.targetPrefix.empty()) {
    // What a killed run of ours left in the target folder goes first.
    const std::string root = plat::stripTrailingSlash(s_.targetPrefix);
    if (s_.folders.firstVisit(root)) removeLeftTemporaries(root, TempKind::Unload);
  }
  for (TExtractEntry& e : s_.entries) {
    e.selected = false;
    e.leftOut.clear();
    e.outcome = UnloadOutcome::NotHandled;
    if (!s_.allEntries && !matchesNames(e, &used)) continue;
    e.leftOut = leftOutReason(e);
    if (!e.leftOut.empty()) {
      msg(plat::strFormat("%s:  left out (%s)\n", printableName(e.displayName()).c_str(),
                          e.leftOut.c_str()));
      ++unsupported;
      continue;
    }
    e.selected = true;
    e.attributes = static_cast<uint8_t>((e.central.externalAttributes & kDosAttributes) |
                                        plat::kAttrArchive);
    total += e.central.uncompressedSize;
    ++selectedCount;
  }
  if (!test) planTargets();
  totalProgress(0);

  int result = 0;
  uint64_t running = 0;
  entryNumber_ = 0;
  existingPolicy_ = newerPolicy_ = Policy::Ask;
  aside_ = 0;
  const unsigned threads = s_.threads ? s_.threads : DefaultThreads();
  // Several threads only over a file system known to take them.
  if (!test && threads > 1 && plat::fileSystem().threadSafe())
    pool_ = std::make_unique<WritePool>(threads, kBudget);
  if (pool_ && pool_->threads() == 0) pool_.reset();  // no thread could be started
  if (pool_) {
    bool stopPass = false;
    result = threadedLoop(total, &stopPass);
    if (stopPass) return result;
  } else {
    for (TExtractEntry& e : s_.entries) {
      if (c_.cancelled) break;
      if (c_.callbacks.cancelCheck) c_.callbacks.cancelCheck(c_.cancelled);
      if (!e.selected) continue;
      running += e.central.uncompressedSize;
      if (total) totalProgress(static_cast<int>(running * 100 / total));
      ++entryNumber_;
      bool stopPass = false;
      int r = handleEntry(e, test, &stopPass);
      result = raise(result, r);
      if (test && s_.callbacks.entryTested) s_.callbacks.entryTested(e, r);
      if (stopPass) return result;
    }
  }

  for (char u : used)
    if (!u && result <= 1) result = kNoFiles;
  if (selectedCount == 0) {
    if (result <= 1) result = unsupported ? kSkippedEntries : kNoFiles;
  } else if (unsupported && result <= 1) {
    result = kSkippedEntries;
  }
  return result;
}

void Run::totalProgress(int p) {
  if (c_.callbacks.totalProgress) c_.callbacks.totalProgress(p);
}

void Run::fileProgress(int p) {
  if (c_.callbacks.fileProgress) c_.callbacks.fileProgress(p);
}

int Run::handleEntry(TExtractEntry& e, bool test, bool* stopPass) {
  if (test) return handleEntryData(e, test, stopPass);
  s_.entryFolders.clear();
  e.outcome = UnloadOutcome::Failed;
  const int result = handleEntryData(e, test, stopPass);
  if (e.outcome == UnloadOutcome::Unloaded) {
    s_.entryFolders.clear();
  } else {
    // It stays in the briefcase; folders made for it go again.
    s_.notAllUnloaded = true;
    removeEntryFolders(c_);
  }
  return result;
}

// Gives the local file at the target path (and what is there, when found)
// to the current entry: no other entry of the run may have it.
void Run::claim(const std::string& path, const plat::FileInfo* file) {
  if (s_.claimedPaths.insert(path).second) s_.claimedLoose.emplace(looseKey(path), path);
  if (file) s_.claimedFiles.insert({file->device, file->inode});
}

// Whether another entry of the run has the file at this path, under this
// spelling or, where the folder takes them for one, another.
bool Run::claimed(const std::string& path, const plat::FindData* found) {
  if (s_.claimedPaths.count(path)) return true;
  if (found && s_.claimedFiles.count({found->info.device, found->info.inode})) return true;
  auto range = s_.claimedLoose.equal_range(looseKey(path));
  for (auto it = range.first; it != range.second; ++it)
    if (s_.folderNames.sameTarget(path, it->second)) return true;
  return false;
}

// The name an entry's file is to have, before it is mapped: an MS-DOS
// entry's backslashes are its separators.
std::string Run::localNameOf(const TExtractEntry& e) {
  std::string n = e.displayName();
  if (e.host == kHostMsDos && n.find('/') == std::string::npos)
    std::replace(n.begin(), n.end(), '\\', '/');
  return n;
}

// Before anything is written, which entries leave their file to another:
// - of entries that bear one name (tools that append write the newer copy
//   after the old one), the last is written and the others stay;
// - a name that had to be changed to be written here (a control character
//   dropped, a "." level left out) must not take the file of an entry that
//   bears that name.
// And which paths the run's targets spell in more than one way (they may
// be one file, and one folder): an entry on such a path is handled in its
// turn, never ahead on a worker.
void Run::planTargets() {
  yieldsTo_.assign(s_.entries.size(), std::string());
  spellings_.clear();
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < s_.entries.size(); ++i) {
    const TExtractEntry& e = s_.entries[i];
    if (e.selected && !e.isFolder()) last[e.displayName()] = i;
  }
  std::unordered_map<std::string, std::string> seen;  // loose key -> the first spelling
  const auto spelled = [&](const std::string& p) {
    auto [it, fresh] = seen.emplace(looseKey(p), p);
    if (!fresh && it->second != p) spellings_.insert(it->first);
  };
  std::unordered_multimap<std::string, std::string> own;  // loose key -> a target as named
  std::vector<std::pair<size_t, std::string>> changed;
  for (size_t i = 0; i < s_.entries.size(); ++i) {
    const TExtractEntry& e = s_.entries[i];
    if (!e.selected) continue;
    if (!e.isFolder() && last[e.displayName()] != i) {
      yieldsTo_[i] = "a later entry of the same name is unloaded instead";
      continue;
    }
    const std::string name = localNameOf(e);
    const MappedPath mp = mapPath(s_.targetPrefix, name, false);
    if (mp.result != kMapOk) continue;
    for (const std::string& f : mp.folders) spelled(f);
    if (mp.folderEntry) continue;
    spelled(mp.path);
    if (mp.path == s_.targetPrefix + name)
      own.emplace(looseKey(mp.path), mp.path);
    else
      changed.emplace_back(i, mp.path);
  }
  for (const auto& [i, path] : changed) {
    auto range = own.equal_range(looseKey(path));
    for (auto it = range.first; it != range.second; ++it) {
      if (s_.folderNames.sameTarget(path, it->second)) {
        yieldsTo_[i] = "its name had to be changed to " + printableName(path) +
                       ", the file of another entry";
        break;
      }
    }
  }
}

// Whether the path, or a folder on its way, is spelled otherwise by another target of the run.
bool Run::spelledOtherwise(const MappedPath& mp) const {
  if (spellings_.empty()) return false;
  if (spellings_.count(looseKey(mp.path))) return true;
  for (const std::string& f : mp.folders)
    if (spellings_.count(looseKey(f))) return true;
  return false;
}

// Whether the file at a target path is the briefcase, or a link to it, or
// its path in another spelling (where a file system ignores letter case,
// the file may have another number under each).
bool Run::isContainer(const std::string& path, const plat::FileInfo& info) {
  plat::FileInfo linked;
  if (info.isSymlink && plat::fileSystem().stat(path, &linked, true))
    return std::make_pair(linked.device, linked.inode) == s_.container;
  return std::make_pair(info.device, info.inode) == s_.container ||
         s_.folderNames.sameTarget(path, c_.archivePath);
}

// An entry that is not written here.
int Run::notWritten(TExtractEntry& e, UnloadOutcome outcome, int result) {
  e.outcome = outcome;
  return result;
}

int Run::handleEntryData(TExtractEntry& e, bool test, bool* stopPass) {
  int result = 0;
  if (int skip = readLocalHeader(e, &result)) return raise(result, skip);
  const std::string shown = printableName(e.displayName());
  // The two headers must describe one entry: a name, size or CRC that
  // differs means the data read would not be what is listed.
  const std::string mismatch = localMismatch(e);
  if (!mismatch.empty()) {
    msg(plat::strFormat("error:  %s:  the local header disagrees with the central directory "
                        "(%s); not unloaded\n",
                        shown.c_str(), mismatch.c_str()));
    return raise(result, kCompressedError);
  }
  if (e.local.flags & kFlagDescriptor) {
    crc_ = e.central.crc;
    s_.remainingInput = e.central.compressedSize;
  } else {
    crc_ = e.local.crc;
    s_.remainingInput = e.local.compressedSize;
  }
  s_.entrySize = e.central.uncompressedSize;

  if (test) {
    s_.diskFull = false;
    int r = extract(e, nullptr, shown);
    return raise(result, r);
  }

  // The name loop, repeated after a Rename.
  plat::FindData found;
  // The local name's bytes equal the central one's (checked above).
  const std::string localName = e.displayName();
  const size_t index = static_cast<size_t>(&e - s_.entries.data());
  s_.renamed = false;
  s_.targetPath = localNameOf(e);
  for (;;) {
    msg(plat::loadStrFmt(8033, printableName(localName).c_str()));
    if (!s_.renamed && !yieldsTo_[index].empty()) {
      msg(plat::strFormat("Skipping %s:  %s\n", shown.c_str(), yieldsTo_[index].c_str()));
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kCompressedError));
    }
    if (ahead()) {
      // A file an earlier entry is still writing decides what this one
      // finds: that entry is finished first. So does one whose path may
      // be this one's in another spelling.
      const MappedPath mp = mapPath(s_.targetPrefix, s_.targetPath, s_.renamed);
      if (writingAnyOf(mp) || spelledOtherwise(mp)) goLive();
    }
    // The path as the entry names it, and whether mapping changed it.
    const std::string named = s_.targetPrefix + s_.targetPath;
    int m = mapName(c_, e, s_.renamed);
    if (m == kMapFolderCreated || m == kMapSkip) {
      e.outcome = UnloadOutcome::Unloaded;
      return result;
    }
    if (m == kMapNameRefused)
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kNameRefused));
    if (m != kMapOk)
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kCompressedError));

    // What a killed run left in the folder goes before anything there is
    // looked at: a name it claimed holds its placeholder, not a file.
    LocalFileWriter::sweep(s_.targetPath, &s_.folders);
    bool there = plat::findFirst(s_.targetPath, &found);
    if (there && ahead() && pool_->placedHere(found.info)) {
      // A file an earlier entry has just made under another spelling of
      // this path (a file system that ignores case): that entry is
      // finished first, so that the file counts as its own.
      goLive();
      there = plat::findFirst(s_.targetPath, &found);
    }
    const std::string shownTarget = printableName(s_.targetPath);
    // One local file, one entry: a file another entry of this run was
    // written to (or declined for) is not written again.
    if (claimed(s_.targetPath, there ? &found : nullptr)) {
      msg(plat::strFormat("Skipping %s:  %s is already the file of another entry\n",
                          shown.c_str(), shownTarget.c_str()));
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kCompressedError));
    }
    if (there && isContainer(s_.targetPath, found.info)) {
      msg(plat::strFormat("Skipping %s:  %s is the briefcase itself\n", shown.c_str(),
                          shownTarget.c_str()));
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kWarning));
    }
    if (!there) {
      found.info = plat::FileInfo();
      found.name.clear();
      break;  // nothing there: write it
    }
    if (found.info.isDirectory) {
      msg(plat::strFormat("error:  a folder is in the way of %s\n", shownTarget.c_str()));
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kWriteFailure));
    }
    if (!s_.renamed && s_.targetPath != named) {
      // A name changed to be written here is someone's file under that
      // name (the question would show the name of that file, not the
      // entry's): it is never replaced.
      msg(plat::strFormat("Skipping %s:  its name had to be changed to %s, and a file of "
                          "that name is there\n",
                          shown.c_str(), shownTarget.c_str()));
      return notWritten(e, UnloadOutcome::Skipped, raise(result, kCompressedError));
    }
    s_.existingTime = found.info.writeTime;
    s_.existingSize = static_cast<uint32_t>(found.info.size);
    s_.entryTime = entryTimes(e.localExtra, e.local.date, e.local.time).modification;
    const bool newer = s_.existingTime > s_.entryTime;
    if (!newer) {
      if (existingPolicy_ == Policy::Never) {
        msg(plat::loadStrFmt(8011, shown.c_str()));
        claim(s_.targetPath, &found.info);
        return notWritten(e, UnloadOutcome::Declined, result);
      }
      if (existingPolicy_ == Policy::Always) break;
    } else {
      if (existingPolicy_ == Policy::Never || newerPolicy_ == Policy::Never) {
        msg(plat::loadStrFmt(8012, shown.c_str()));
        claim(s_.targetPath, &found.info);
        return notWritten(e, UnloadOutcome::Declined, result);
      }
      if (existingPolicy_ == Policy::Always && newerPolicy_ == Policy::Always) break;
    }

    // Ask. Without a handler every such file is declined. The question
    // comes after everything the entries before this one have to say.
    if (ahead()) goLive();
    if (s_.callbacks.replaceQuery)
      s_.callbacks.replaceQuery(s_.targetPath, s_.existingTime, s_.entryTime, s_.existingSize,
                                s_.entrySize, s_.answer);
    else
      s_.answer = kAnswerNo;
    bool write = false;
    switch (s_.answer) {
      case kAnswerRename:
        s_.renamed = true;
        continue;
      case kAnswerYes:
        write = true;
        break;
      case kAnswerYesToAll:
        if (existingPolicy_ == Policy::Always)
          newerPolicy_ = Policy::Always;
        else
          existingPolicy_ = Policy::Always;
        write = true;
        break;
      case kAnswerNoToAll:
        if (existingPolicy_ == Policy::Always)
          newerPolicy_ = Policy::Never;
        else
          existingPolicy_ = Policy::Never;
        break;
      default:
        break;
    }
    if (write) break;
    msg(plat::strFormat("Not replaced: %s (the local file was kept)\n", shown.c_str()));
    claim(s_.targetPath, &found.info);
    return notWritten(e, UnloadOutcome::Declined, result);
  }

  s_.diskFull = false;
  int r = writeEntry(e, shown, found.name.empty() ? nullptr : &found.info);
  if (r == kWriting) return result;  // finished in archive order by finishFront
  result = raise(result, r);
  if (s_.diskFull) {
    *stopPass = true;
    return result;
  }
  fileProgress(100);
  return result;
}

// What the caller's step before a replacement did with the old file.
OldFile Run::oldFileStep(const TExtractEntry& e, bool replacing, const std::string& target) {
  if (!replacing || !s_.callbacks.beforeReplace) return OldFile::Stays;
  return s_.callbacks.beforeReplace(e, target);
}

// The old file was asked to stay (the step before the replacement): the
// entry counts as declined, and the file stays its own.
int Run::keptOld(TExtractEntry& e, const std::string& shown, const std::string& target) {
  msg(plat::strFormat("Not replaced: %s (the local file was kept)\n", shown.c_str()));
  plat::FileInfo old;
  claim(target, plat::fileSystem().stat(target, &old, false) ? &old : nullptr);
  return notWritten(e, UnloadOutcome::Declined, 0);
}

// A file that could not be created or put in place: says so with the
// reason (a name the disk refuses is told as such and has a result of its
// own), keeps it for the caller, and gives the entry's result.
int Run::cannotCreate(const std::string& target, int err) {
  const std::string shownTarget = printableName(target);
  std::string why =
      s_.folderNames.refusal(plat::parentFolder(target), plat::fileNamePart(target), err);
  int code = kNameRefused;
  if (!why.empty()) {
    msg(plat::strFormat("error:  cannot create %s:  %s\n", shownTarget.c_str(), why.c_str()));
  } else {
    why = plat::errorText(err);
    msg(plat::loadStrFmt(8025, shownTarget.c_str()) + " (" + why + ")\n");
    code = plat::isSharingViolation(err) ? kInUse
           : plat::isAccessDenied(err)   ? kReadOnly
                                         : kWriteFailure;
  }
  s_.notWritten.push_back(TNotWritten{target, why});
  return code;
}

// `existing`: what findFirst found at the target path, or null. The file
// is written beside the target and put in place only when its data was
// checked (LocalFileWriter).
int Run::writeEntry(TExtractEntry& e, const std::string& shown, const plat::FileInfo* existing) {
  const std::string target = s_.targetPath;

  // What is there now: a file is replaced only when it may be written
  // (a read-only file stays, as the platform refuses to overwrite it); a
  // symbolic link is replaced itself, never written through.
  const bool exists = existing != nullptr;
  const bool replacing = exists && existing->isRegular;
  if (replacing && (existing->attributes & plat::kAttrReadOnly)) {
    msg(plat::loadStrFmt(8025, printableName(target).c_str()) + " (the file is read-only)\n");
    s_.notWritten.push_back(TNotWritten{target, "the file is read-only"});
    return kReadOnly;
  }
  const uint32_t mode = replacing ? (existing->mode & kPermissionBits) : defaultMode_;
  if (ahead()) {
    if (e.local.method == kMethodStored || e.local.method == kMethodDeflated)
      return startWrite(e, shown, exists, replacing, mode);
    goLive();  // any other method is handled here, in turn
  }

  if (!writer_.begin(target, &s_.folders)) return cannotCreate(target, plat::lastError());
  // Only data that was read whole and checked is put in place (an entry
  // of an unknown method yields none).
  int result = extract(e, writer_.file(), shown);
  if (s_.diskFull || result != 0) {
    writer_.rollback();
    return result;
  }

  // Only a sound file is put in place: attributes and times first.
  restoreAttributes(c_, *writer_.file(), e, mode);
  restoreTimes(c_, *writer_.file(), e);
  plat::FileInfo written;
  const auto keepOld = [&] { return oldFileStep(e, replacing, target); };
  if (!writer_.commit(exists, replacing, &written, keepOld)) {
    const int err = plat::lastError();
    if (err == ECANCELED) return keptOld(e, shown, target);
    if (plat::isDiskFull(err)) {
      msg(plat::loadStrFmt(8029, shown.c_str()));
      s_.diskFull = true;
      return kDiskFull;
    }
    return cannotCreate(target, err);
  }
  claim(target, &written);
  s_.filesWritten++;
  e.outcome = UnloadOutcome::Unloaded;
  if (s_.callbacks.entryWritten) s_.callbacks.entryWritten(e, target);
  return result;
}

// Extracts the entry's data into `out` (nothing written when null) and
// checks it. Returns the entry's result.
int Run::extract(TExtractEntry& e, plat::File* out, const std::string& shown) {
  switch (e.local.method) {
    case kMethodStored:
    case kMethodDeflated:
      break;
    case kMethodImploded:
      throw TXCompress(kExplodeUnsupported, "IMPLODE method not supported here.");
    default:
      msg(plat::strFormat("%s:  unknown compression method\n", shown.c_str()));
      return kWarning;
  }
  InputSource source(*input_);
  LiveSink sink(*this);
  const int result = decoder_.run(params(e, shown), source, out, sink);
  s_.remainingInput = decoder_.remaining();
  if (decoder_.writeFailed()) s_.diskFull = true;
  return result;
}

EntryDecoder::Params Run::params(const TExtractEntry& e, const std::string& shown) const {
  EntryDecoder::Params p;
  p.method = e.local.method;
  p.compressed = s_.remainingInput;
  p.declared = s_.entrySize;
  p.crc = crc_;
  p.shown = shown;
  return p;
}

}  // namespace archive::engine
