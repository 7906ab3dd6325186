// The listing and unload passes: which entries are handled, what is done
// with each (its name, the file found, the policies, the question), and the
// writer that writes each file at once, on the calling thread.
#include "archive/extract/run.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <unordered_map>

#include "archive/aes.h"
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

// Why an entry cannot be unloaded or checked, or "": an encrypted entry
// needs the AES form and the password.
std::string leftOutReason(const TExtractEntry& e, bool password) {
  if (e.central.flags & kFlagEncrypted) {
    aes::Info info;
    std::string problem;
    const int found = aes::findInfo(e.extra, &info, &problem);
    if (found < 0) return "encrypted, " + problem;
    if (found == 0 || e.central.method != aes::kMethodAes || !password) return "encrypted";
    if (e.needsZip64) return "4 GB or more";
    return std::string();
  }
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

// An entry refused: its result raised to `code`.
Decision skipped(int* result, int code) {
  *result = raise(*result, code);
  return Decision::Skipped;
}

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

// Writes each file at once: every entry before the current one is finished.
class Run::InlineWriter : public Run::Writer {
 public:
  explicit InlineWriter(Run& run) : run_(run) {}
  int write(TExtractEntry& e, const EntryPlan& plan, const std::string& shown, bool exists,
            bool replacing, uint32_t mode) override {
    return run_.writeHere(e, plan, shown, exists, replacing, mode);
  }

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
    e.hasContent = false;
    e.leftOut.clear();
    e.outcome = UnloadOutcome::NotHandled;
    if (!s_.allEntries && !matchesNames(e, &used)) continue;
    e.leftOut = leftOutReason(e, c_.password.has_value());
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
  entryNumber_ = 0;
  existingPolicy_ = newerPolicy_ = Policy::Ask;
  aside_ = 0;
  const unsigned threads = s_.threads ? s_.threads : DefaultThreads();
  // Several threads only over a file system known to take them.
  if (!test && threads > 1 && plat::fileSystem().threadSafe())
    pool_ = std::make_unique<WritePool>(threads, kBudget);
  if (pool_ && pool_->threads() == 0) pool_.reset();  // no thread could be started
  if (pool_)
    writer_ = poolWriter();
  else
    writer_ = std::make_unique<InlineWriter>(*this);
  bool stopPass = false;
  result = entryLoop(total, test, &stopPass);
  if (stopPass) return result;

  for (char u : used)
    if (!u && result <= kWarning) result = kNoFiles;
  if (selectedCount == 0) {
    if (result <= kWarning) result = unsupported ? kSkippedEntries : kNoFiles;
  } else if (unsupported && result <= kWarning) {
    result = kSkippedEntries;
  }
  return result;
}

// The folders made for an entry stay when it was unloaded; else it stays in
// the briefcase, and they go again.
void Run::settleFolders(const TExtractEntry& e) {
  if (e.outcome == UnloadOutcome::Unloaded) {
    s_.entryFolders.clear();
  } else {
    s_.notAllUnloaded = true;
    removeEntryFolders(c_);
  }
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

int Run::handleEntryData(TExtractEntry& e, bool test, EntryPlan& plan, bool* stopPass) {
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
    plan.crc = e.central.crc;
    plan.compressed = e.central.compressedSize;
  } else {
    plan.crc = e.local.crc;
    plan.compressed = e.local.compressedSize;
  }
  plan.entrySize = e.central.uncompressedSize;

  if (test) {
    s_.diskFull = false;
    int r = extract(e, plan, nullptr, shown);
    return raise(result, r);
  }

  switch (decideEntry(e, plan, shown, &result)) {
    case Decision::Ask:      // never the end of a decision: decideEntry
    case Decision::Renamed:  // asks until the answer decides
    case Decision::Beside:
    case Decision::Write: break;
    case Decision::Done: e.outcome = UnloadOutcome::Unloaded; return result;
    case Decision::Declined: e.outcome = UnloadOutcome::Declined; return result;
    case Decision::Skipped: e.outcome = UnloadOutcome::Skipped; return result;
  }
  s_.diskFull = false;
  int r = writeEntry(e, plan, shown);
  if (r == kWriting) return result;  // finished in archive order by finishFront
  result = raise(result, r);
  if (s_.diskFull) {
    *stopPass = true;
    return result;
  }
  fileProgress(100);
  return result;
}

// An entry's decision is taken in steps (the pipeline's decideEntry runs
// them, and orders them against the entries before it). Each step gives a
// decision that ends it, or nothing to go on.

// What the entry is called, and whether it leaves its file to another.
std::optional<Decision> Run::named(const TExtractEntry& e, const EntryPlan& plan,
                                   const std::string& shown, int* result) {
  // The local name's bytes equal the central one's (checked above).
  const size_t index = static_cast<size_t>(&e - s_.entries.data());
  msg(plat::loadStrFmt(plat::kStrUnloading, printableName(e.displayName()).c_str()));
  if (!plan.renamed && !yieldsTo_[index].empty()) {
    msg(plat::strFormat("Skipping %s:  %s\n", shown.c_str(), yieldsTo_[index].c_str()));
    return skipped(result, kCompressedError);
  }
  return std::nullopt;
}

// The name mapped to the path to write, and its folders made.
std::optional<Decision> Run::mapped(const TExtractEntry& e, EntryPlan& plan, int* result) {
  int m = mapName(c_, say_, e, &plan.target, plan.renamed);
  if (m == kMapFolderCreated || m == kMapSkip) return Decision::Done;
  if (m == kMapNameRefused) return skipped(result, kNameRefused);
  if (m != kMapOk) return skipped(result, kCompressedError);
  return std::nullopt;
}

// What is at the target: the plan's found file, or none (false).
bool Run::lookAt(EntryPlan& plan) {
  // What a killed run left in the folder goes before anything there is
  // looked at: a name it claimed holds its placeholder, not a file.
  LocalFileWriter::sweep(plan.target, &s_.folders);
  if (plat::findFirst(plan.target, &plan.found)) return true;
  plan.found.info = plat::FileInfo();
  plan.found.name.clear();
  return false;
}

// What is done given the file at the target: the claims, the briefcase
// itself, a folder in the way, a changed name, the policies. Ask when the
// user decides.
Decision Run::judge(const TExtractEntry& e, EntryPlan& plan, const std::string& shown,
                    int* result) {
  const bool there = plan.existing() != nullptr;
  // The path as the entry names it, and whether mapping changed it.
  const std::string asNamed = s_.targetPrefix + (plan.renamed ? std::string() : localNameOf(e));
  const std::string shownTarget = printableName(plan.target);
  // One local file, one entry: a file another entry of this run was
  // written to (or declined for) is not written again.
  if (claimed(plan.target, there ? &plan.found : nullptr)) {
    msg(plat::strFormat("Skipping %s:  %s is already the file of another entry\n",
                        shown.c_str(), shownTarget.c_str()));
    return skipped(result, kCompressedError);
  }
  if (there && isContainer(plan.target, plan.found.info)) {
    msg(plat::strFormat("Skipping %s:  %s is the briefcase itself\n", shown.c_str(),
                        shownTarget.c_str()));
    return skipped(result, kWarning);
  }
  if (!there) return Decision::Write;  // nothing there
  if (plan.found.info.isDirectory) {
    msg(plat::strFormat("error:  a folder is in the way of %s\n", shownTarget.c_str()));
    return skipped(result, kWriteFailure);
  }
  if (!plan.renamed && plan.target != asNamed) {
    // A name changed to be written here is someone's file under that
    // name (the question would show the name of that file, not the
    // entry's): it is never replaced.
    msg(plat::strFormat("Skipping %s:  its name had to be changed to %s, and a file of "
                        "that name is there\n",
                        shown.c_str(), shownTarget.c_str()));
    return skipped(result, kCompressedError);
  }
  plan.existingTime = plan.found.info.writeTime;
  plan.existingSize = static_cast<uint32_t>(plan.found.info.size);
  plan.entryTime = entryTimes(e.localExtra, e.local.date, e.local.time).modification;
  plan.carried = CarryState::Unknown;
  if (s_.callbacks.carryState && plan.found.info.isRegular)
    plan.carried = s_.callbacks.carryState(e, plan.target, plan.found.info);
  if (plan.carried != CarryState::Unknown) return byRecord(e, plan, shown);
  const bool newer = plan.existingTime > plan.entryTime;
  if (!newer) {
    if (existingPolicy_ == Policy::Never) {
      msg(plat::loadStrFmt(plat::kStrTargetExists, shown.c_str()));
      claim(plan.target, &plan.found.info);
      return Decision::Declined;
    }
    if (existingPolicy_ == Policy::Always) return Decision::Write;
  } else {
    if (existingPolicy_ == Policy::Never || newerPolicy_ == Policy::Never) {
      msg(plat::loadStrFmt(plat::kStrTargetNewer, shown.c_str()));
      claim(plan.target, &plan.found.info);
      return Decision::Declined;
    }
    if (existingPolicy_ == Policy::Always && newerPolicy_ == Policy::Always)
      return Decision::Write;
  }
  return Decision::Ask;
}

// The policies where the carry record knows better than the dates: a
// conflict a policy would settle goes beside the local file, a file newer
// here stays; "never" holds for both, and without a policy the user is asked.
Decision Run::byRecord(const TExtractEntry&, EntryPlan& plan, const std::string& shown) {
  const bool never = existingPolicy_ == Policy::Never || newerPolicy_ == Policy::Never;
  const bool always = existingPolicy_ == Policy::Always || newerPolicy_ == Policy::Always;
  if (never || (always && plan.carried == CarryState::NewerHere)) {
    msg(plan.carried == CarryState::Conflict
            ? plat::strFormat("Not replaced: %s (changed on both computers; the local file was "
                              "kept)\n",
                              shown.c_str())
            : plat::strFormat("Not replaced: %s (this computer changed it since it last "
                              "carried it)\n",
                              shown.c_str()));
    claim(plan.target, &plan.found.info);
    return Decision::Declined;
  }
  if (always) return Decision::Beside;
  return Decision::Ask;
}

// The path beside the local file where a conflicting entry goes; false
// (the entry skipped) when none can be named.
bool Run::besideTarget(const TExtractEntry& e, EntryPlan& plan, const std::string& shown,
                       int* result) {
  const std::string local = plan.target;
  claim(local, &plan.found.info);  // the local file stays its own
  std::string copy = s_.callbacks.conflictCopy ? s_.callbacks.conflictCopy(e, local) : "";
  if (copy.empty()) {
    msg(plat::strFormat("Skipping %s:  changed on both computers, and no name beside %s is "
                        "free for the briefcase's copy\n",
                        shown.c_str(), printableName(local).c_str()));
    *result = raise(*result, kCompressedError);
    return false;
  }
  msg(plat::strFormat("%s was changed on both computers: the local file stays, and the "
                      "briefcase's copy goes to %s\n",
                      shown.c_str(), printableName(copy).c_str()));
  plan.target = std::move(copy);
  plan.renamed = true;
  plan.beside = true;
  return true;
}

// The question about the file at the plan's target, and what the answer
// decides. Without a handler every such file is declined.
Decision Run::answer(EntryPlan& plan, const std::string& shown) {
  if (s_.callbacks.replaceQuery)
    s_.callbacks.replaceQuery(plan.target, plan.existingTime, plan.entryTime, plan.existingSize,
                              plan.entrySize, s_.answer);
  else
    s_.answer = kAnswerNo;
  bool write = false;
  switch (s_.answer) {
    case kAnswerRename:
      plan.renamed = true;
      return Decision::Renamed;
    case kAnswerYes:
      write = true;
      break;
    case kAnswerYesToAll:
      if (existingPolicy_ == Policy::Always)
        newerPolicy_ = Policy::Always;
      else
        existingPolicy_ = Policy::Always;
      // Yes to All settles no conflict: only a Yes for this one file does.
      if (plan.carried == CarryState::Conflict) return Decision::Beside;
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
  if (write) return Decision::Write;
  msg(plat::strFormat("Not replaced: %s (the local file was kept)\n", shown.c_str()));
  claim(plan.target, &plan.found.info);
  return Decision::Declined;
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
  e.outcome = UnloadOutcome::Declined;
  return 0;
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
    msg(plat::loadStrFmt(plat::kStrCannotCreateFile, shownTarget.c_str()) + " (" + why + ")\n");
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
int Run::writeEntry(TExtractEntry& e, const EntryPlan& plan, const std::string& shown) {
  const std::string& target = plan.target;
  const plat::FileInfo* existing = plan.existing();

  // What is there now: a file is replaced only when it may be written
  // (a read-only file stays, as the platform refuses to overwrite it); a
  // symbolic link is replaced itself, never written through.
  const bool exists = existing != nullptr;
  const bool replacing = exists && existing->isRegular;
  if (replacing && (existing->attributes & plat::kAttrReadOnly)) {
    msg(plat::loadStrFmt(plat::kStrCannotCreateFile, printableName(target).c_str()) +
        " (the file is read-only)\n");
    s_.notWritten.push_back(TNotWritten{target, "the file is read-only"});
    return kReadOnly;
  }
  const uint32_t mode = replacing ? (existing->mode & kPermissionBits) : defaultMode_;
  return writer_->write(e, plan, shown, exists, replacing, mode);
}

// The entry's file written on the calling thread, and put in place.
int Run::writeHere(TExtractEntry& e, const EntryPlan& plan, const std::string& shown,
                   bool exists, bool replacing, uint32_t mode) {
  const std::string& target = plan.target;
  if (!local_.begin(target, &s_.folders)) return cannotCreate(target, plat::lastError());
  // Only data that was read whole and checked is put in place (an entry
  // of an unknown method yields none).
  int result = extract(e, plan, local_.file(), shown);
  if (s_.diskFull || result != 0) {
    local_.rollback();
    return result;
  }
  e.hasContent = decoder_.content(&e.content);

  // Only a sound file is put in place: attributes and times first.
  restoreAttributes(say_, *local_.file(), e, mode);
  // A conflict copy is a new file of this computer, of the time it is made.
  if (!plan.beside) restoreTimes(say_, *local_.file(), e);
  plat::FileInfo written;
  const auto keepOld = [&] { return oldFileStep(e, replacing, target); };
  const bool ok = local_.commit(exists, replacing, &written, keepOld);
  return placed(e, target, shown, ok, ok ? 0 : plat::lastError(), written);
}

// The end of an entry's write, wherever it was written: its file is in place
// (ok) or not (err: why). Says so and gives the entry's result.
int Run::placed(TExtractEntry& e, const std::string& target, const std::string& shown, bool ok,
                int err, const plat::FileInfo& written) {
  if (!ok) {
    if (err == ECANCELED) return keptOld(e, shown, target);
    if (plat::isDiskFull(err)) {
      msg(plat::loadStrFmt(plat::kStrWriteDiskFull, shown.c_str()));
      s_.diskFull = true;
      return kDiskFull;
    }
    return cannotCreate(target, err);
  }
  claim(target, &written);
  s_.filesWritten++;
  e.outcome = UnloadOutcome::Unloaded;
  if (s_.callbacks.entryWritten) s_.callbacks.entryWritten(e, target);
  return 0;
}

// Extracts the entry's data into `out` (nothing written when null) and
// checks it. Returns the entry's result.
int Run::extract(TExtractEntry& e, const EntryPlan& plan, plat::File* out,
                 const std::string& shown) {
  switch (e.local.method) {
    case kMethodStored:
    case kMethodDeflated:
    case aes::kMethodAes:
      break;
    case kMethodImploded:
      throw TXCompress(kExplodeUnsupported, "IMPLODE method not supported here.");
    default:
      msg(plat::strFormat("%s:  unknown compression method\n", shown.c_str()));
      return kWarning;
  }
  InputSource source(*input_);
  LiveSink sink(*this);
  const int result = decoder_.run(params(e, plan, shown), source, out, sink);
  if (decoder_.writeFailed()) s_.diskFull = true;
  return result;
}

EntryDecoder::Params Run::params(const TExtractEntry& e, const EntryPlan& plan,
                                 const std::string& shown) const {
  EntryDecoder::Params p;
  p.method = e.local.method;
  p.compressed = plan.compressed;
  p.declared = plan.entrySize;
  p.crc = plan.crc;
  p.shown = shown;
  p.digest = s_.digestWritten;
  if (e.local.method == aes::kMethodAes) {
    // The local block, which agrees with the central one.
    std::string problem;
    aes::findInfo(e.localExtra, &p.aes, &problem);
    p.encrypted = true;
    p.password = c_.password ? &*c_.password : nullptr;
  }
  return p;
}

}  // namespace archive::engine
