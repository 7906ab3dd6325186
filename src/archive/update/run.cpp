// The update run: reads the container's directory, writes a new archive with
// the unchanged entries copied byte for byte and the new or changed files
// written anew, and puts it in the container's place.

#include <algorithm>
#include <cstdlib>
#include <new>
#include <unordered_map>

#include "archive/append.h"
#include "archive/deletions.h"
#include "archive/errors.h"
#include "archive/extract/names.h"
#include "archive/extract/naming.h"
#include "archive/extract/restore.h"
#include "archive/replace.h"
#include "archive/update/entry.h"
#include "archive/readbuffer.h"
#include "archive/update/update.h"
#include "platform/diag.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/unnamed.h"

namespace archive {
namespace {

constexpr size_t kCopyBlock = 131072;
constexpr const char* kNoCompressSuffixes = ".z:.zip:.arj:.zoo:.arc:.lzh";
// A file that changed while it was read (handled like one not opened).
constexpr int kFileChanged = -1;

// The largest a file's entry data can become: deflate's worst case over
// incompressible input.
uint64_t dataBound(uint64_t size) { return size + (size >> 12) + (size >> 14) + 64; }

// The name an entry is listed by (its stored bytes decoded as the listing
// decodes them).
std::string listedName(const zlitem& item) {
  TExtractEntry e;
  e.central = item.central;
  e.name = item.name;
  e.extra = item.centralExtra;
  e.host = item.central.hostSystem > 17 ? 18 : item.central.hostSystem;
  return e.displayName();
}

// The name a new entry with this stored name will be listed by: it is
// written with the UTF-8 flag when its bytes are UTF-8 (and not plain ASCII).
std::string listedName(const std::string& stored) {
  zlitem item;
  item.name = stored;
  item.central.hostSystem = 11;
  if (isValidUtf8(stored)) item.central.flags = kFlagUtf8;
  return listedName(item);
}

// A name as the messages show it: as it is listed, control characters escaped.
std::string shownName(const zlitem& item) { return printableName(listedName(item)); }
std::string shownName(const std::string& stored) { return printableName(listedName(stored)); }

// Whether a path can still be reached: it is there and, for a folder, can
// be read (a disk pulled out may still show cached entries to a look-up).
bool reachable(const std::string& path) {
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(path, &fi, true)) return false;
  plat::FolderEnum folder;
  return !fi.isDirectory || folder.open(path);
}

// The outermost folder on the way to `path` that can no longer be reached
// (the path itself when only it is gone); "" while the path and its folder can.
std::string missingPart(const std::string& path) {
  if (path.empty()) return std::string();
  std::string gone = reachable(path) ? std::string() : path;
  const std::string folder = plat::parentFolder(path);
  if (!folder.empty() && !reachable(folder)) gone = folder;
  if (gone.empty()) return gone;
  for (std::string up = plat::parentFolder(gone); !up.empty() && up != gone && !reachable(up);
       up = plat::parentFolder(up))
    gone = up;
  return gone;
}

// The same file in the same state (size, last-write time, identity).
bool sameState(const plat::FileInfo& a, const plat::FileInfo& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.writeTime == b.writeTime;
}

// The entries by exact stored bytes and by the name they are listed by. Of
// entries that bear one name (tools that append write the newer copy after
// the old one) the last is the one a name finds, as an unload writes it.
class EntryNames {
 public:
  void build(const TZList& list) {
    list_ = &list;
    raw_.clear();
    listed_.clear();
    loose_.clear();
    for (size_t i = 0; i < list.items.size(); ++i) {
      raw_[list.items[i].name] = i;
      listed_[listedName(list.items[i])] = i;
    }
  }
  // The entry whose stored bytes are `name`, else the last listed as it
  // would be listed; -1 when there is none. Letter case counts.
  long find(const std::string& name) const {
    auto r = raw_.find(name);
    if (r != raw_.end()) return static_cast<long>(r->second);
    auto l = listed_.find(listedName(name));
    return l != listed_.end() ? static_cast<long>(l->second) : -1;
  }
  // The entry whose name is listed otherwise than `name` but is, under
  // `base`, the path of the same local file `path` (a folder that ignores
  // letter case, or drops a trailing dot or space); -1 when there is none.
  // Of several such names the first in the briefcase is the one an unload
  // wrote there.
  long findSpelledOtherwise(const std::string& base, const std::string& name,
                            const std::string& path) {
    if (loose_.empty())
      for (size_t i = 0; i < list_->items.size(); ++i)
        loose_.emplace(looseKey(listedName(list_->items[i])), i);
    const std::string listed = listedName(name);
    auto range = loose_.equal_range(looseKey(listed));
    long first = -1;
    for (auto it = range.first; it != range.second; ++it) {
      const std::string otherName = listedName(list_->items[it->second]);
      const long at = static_cast<long>(listed_.at(otherName));  // the last of that name
      if ((first < 0 || at < first) && otherName != listed && namesOneFile(path, base + otherName))
        first = at;
    }
    return first;
  }

 private:
  const TZList* list_ = nullptr;
  std::unordered_map<std::string, size_t> raw_, listed_;
  std::unordered_multimap<std::string, size_t> loose_;
};

// One run, with what the failure handling at its end needs to know.
class Run {
 public:
  explicit Run(TCompress& c) : c_(c), u_(c.update), writer_(c), buf_(kCopyBlock) {}

  int execute();

 private:
  void writeTest();
  void openInput();
  void readDirectory();
  void chooseDeletions();
  void collectNames();
  void checkNewFiles();
  void checkLimits();
  void chooseWay();
  void createOutput();
  void copyEntry(zlitem& item);
  void flushCopy();
  int blockCopy(JFile& from, uint64_t length);
  int writeFile(zlitem& item, const std::string& path);
  void notLoaded(const std::string& path);
  void writeTail();
  void replaceContainer();
  void discardOutput();
  int failed(int code, const std::string& message);
  void progressTotal();
  bool cancelCheck();
  void fail(int code, const std::string& message) { throw TXCompress(code, message); }
  std::string text(int id, const std::string& arg) { return plat::loadStrFmt(id, arg.c_str()); }

  TCompress& c_;
  TUpdateState& u_;
  EntryWriter writer_;
  std::vector<uint8_t> buf_;
  EntryNames index_;
  uint32_t preamble_ = 0;
  ContainerLock ownLock_;
  ContainerLock* lock_ = &ownLock_;  // the run's own, or the one the engine holds
  std::unique_ptr<ContainerReplacement> replacement_;
  // Set when the run appends to the container instead of rewriting it.
  std::unique_ptr<ContainerAppend> append_;
  EndRecordInfo end_;  // the container's end as it was read
  plat::FileInfo containerInfo_;
  uint64_t bound_ = 0;  // the most the new archive can take
  uint64_t total_ = 0, done_ = 0;
  // Unchanged entries that follow each other are copied as one range.
  uint64_t pendingFrom_ = 0, pendingLength_ = 0;
  std::string pendingWhat_;
};

bool Run::cancelCheck() {
  if (c_.callbacks.cancelCheck) c_.callbacks.cancelCheck(c_.cancelled);
  return c_.cancelled;
}

void Run::progressTotal() {
  if (total_ && c_.callbacks.totalProgress)
    c_.callbacks.totalProgress(static_cast<int>(std::min<uint64_t>(100, done_ * 100 / total_)));
}

// Opens the container for reading and writing and takes its lock: that is
// the write test. Nothing is written, so no byte and not the last-write time
// changes, whatever the container begins with. The lock is kept until the
// container has been replaced. When the engine holds the lock already, the
// container must still be the file it locked, unchanged.
void Run::writeTest() {
  const std::string& path = c_.archivePath;
  if (u_.heldLock && u_.heldLock->held() && u_.heldLock->path() == path) {
    lock_ = u_.heldLock.get();
    if (!lock_->unchanged())
      fail(kInUse, path + " was changed or replaced by another program since this run began; it was left as it is");
    return;
  }
  lock_ = &ownLock_;
  for (;;) {
    const ContainerLock::Status status = ownLock_.acquire(path);
    if (status == ContainerLock::Status::Locked) return;
    if (status != ContainerLock::Status::Denied) {
      bool abort = true;
      if (c_.callbacks.openFailed) {
        abort = false;
        c_.callbacks.openFailed(abort);
      }
      if (abort) {
        u_.busy = status == ContainerLock::Status::Busy;
        fail(kCreateFailed, path);
      }
    }
    bool abort = true;
    if (c_.callbacks.writeProtected) {
      abort = false;
      c_.callbacks.writeProtected(path, abort);
    }
    if (abort) fail(kWriteProtected, path);
  }
}

// The container opened for reading: the locked file itself.
void Run::openInput() {
  auto in = std::make_unique<JNormFile>(lock_->realPath(), plat::Access::Read,
                                        plat::Disposition::OpenExisting);
  if (!in->isOpen() || !in->platformFile()->info(&containerInfo_) ||
      containerInfo_.device != lock_->identity().device ||
      containerInfo_.inode != lock_->identity().inode)
    fail(kReadSeekFailure, c_.archivePath);
  u_.input = std::move(in);
}

void Run::readDirectory() {
  ReadBuffer in(*u_.input);
  EndRecordInfo end;
  auto sink = [this](const std::string& s) { c_.sendConfigMessage(s); };
  if (int rc = findEndRecord(in, &end, sink)) fail(rc, c_.archivePath);
  end_ = end;
  c_.endRecord = end.record;
  c_.comment = std::move(end.comment);
  // A container that needs more than this program writes, or whose directory
  // holds other than its count says, is not rewritten: that would drop entries.
  if (!end.needsZip64.empty())
    fail(end.zip64Refused, zip64Refusal(c_.archivePath, end.needsZip64));
  int rc = readCentralDirectory(in, static_cast<uint32_t>(end.centralOffset),
                                static_cast<uint32_t>(end.centralSize), end.directoryEnd,
                                &u_.entries, &preamble_);
  if (rc == kTooManyEntries)
    fail(rc, zip64Refusal(c_.archivePath, "more than 65,535 entries"));
  if (rc) fail(rc, c_.archivePath);
  std::string mismatch = countMismatch(c_.archivePath, end.entries, u_.entries.items.size());
  if (!mismatch.empty()) fail(kSevereError, mismatch);
  rc = checkEntries(in, u_.entries, end.position);
  if (rc == kTooLarge) fail(rc, zip64Refusal(c_.archivePath, "4 GB or more"));
  if (rc) fail(rc, c_.archivePath);
  if ((rc = readDeletions(in, end_, u_.entries, &u_.carried))) fail(rc, c_.archivePath);
  if (!u_.carried.problem.empty())
    c_.sendConfigMessage(ignoredDeletionsText(c_.archivePath, u_.carried.problem));
}

// The rows the new container carries: those given for the run, else those
// the container carries (a damaged block is not carried on).
void Run::chooseDeletions() {
  std::vector<DeletionRow> rows = c_.deletions ? *c_.deletions : u_.carried.rows;
  if (c_.deletions) {
    normalizeDeletions(&rows);
    const std::string why = deletionRowsProblem(rows);
    if (!why.empty()) fail(kBadParameters, "The deletions to carry cannot be written: " + why);
  }
  u_.deletionBlock =
      encodeDeletions(rows, c_.newPasswordCheck ? c_.newPasswordCheck : u_.carried.check);
}

void Run::notLoaded(const std::string& path) {
  u_.skippedFiles = true;
  u_.notLoaded.push_back(path);
}

void Run::collectNames() {
  index_.build(u_.entries);
  u_.sources.assign(u_.entries.items.size(), std::string());
  u_.renamed.assign(u_.entries.items.size(), std::string());
  std::string base = u_.baseFolder;
  if (!base.empty() && base.back() != '/') base += '/';

  for (const std::string& name : c_.names) {
    plat::FileInfo fi;
    bool found = false;
    if (u_.mode == kModeAdd) {
      found = plat::fileSystem().stat(name, &fi, true);
      if (found && fi.isRegular && fi.size > 0xffffffffULL)
        fail(kTooLarge, "Files larger than 4 GB are not supported: " + name);
    }
    std::string rest = name;
    if (!base.empty() && name.compare(0, base.size(), base) == 0) rest = name.substr(base.size());
    std::string stored = StoredName(rest);
    if (stored.empty()) fail(kInternalError, "empty name without recurse");

    // A file whose path (local folder and entry name, as an unload writes
    // it) passes the path bound could be loaded but never unloaded.
    if (u_.mode == kModeAdd && found && fi.isRegular &&
        utf8Length(listedName(base.empty() ? stored : base + stored)) > kMaxPath) {
      c_.sendConfigMessage(plat::strFormat(
          "Warning - %s was not loaded: its path is longer than %zu characters, so it could not "
          "be unloaded", printableName(name).c_str(), kMaxPath));
      notLoaded(name);
      continue;
    }

    long idx = index_.find(stored);
    bool spelledOtherwise = false;
    if (idx < 0 && u_.mode == kModeAdd && found && !base.empty()) {
      // In a folder that takes two spellings for one file, the file of an
      // entry spelled otherwise is that entry's: it is refreshed under its
      // own name, never added beside it.
      idx = index_.findSpelledOtherwise(base, stored, name);
      spelledOtherwise = idx >= 0;
    }
    if (idx >= 0) {
      zlitem& item = u_.entries.items[static_cast<size_t>(idx)];
      if (u_.mode == kModeDelete) {
        item.mark = kMarkDelete;
        continue;
      }
      // The entry is refreshed from the file named here (base folder +
      // stored name only where the base folder matched exactly), under the
      // file's name, which is the name the entry is listed by.
      std::string& source = u_.sources[static_cast<size_t>(idx)];
      if (item.mark == kMarkReplace && source != name)
        fail(kInvalidArguments, "cannot repeat names in compressed file: " + source + " and " + name);
      item.mark = kMarkReplace;
      source = name;
      u_.renamed[static_cast<size_t>(idx)] = spelledOtherwise ? item.name : stored;
      continue;
    }
    if (u_.mode == kModeDelete) {
      u_.unmatched.push_back(name);
      plat::diag("not in the briefcase: " + name);
      continue;
    }
    // The container itself, when it lies inside the local folder, is skipped.
    if (name == c_.archivePath || (found && fi.device == containerInfo_.device &&
                                   fi.inode == containerInfo_.inode))
      continue;
    u_.newFiles.push_back(TFItem{name, stored, found ? fi.size : 0});
  }
}

// Two local files that would be listed under one name are refused, naming both.
void Run::checkNewFiles() {
  try {
    TFList& list = u_.newFiles;
    std::stable_sort(list.begin(), list.end(),
                     [](const TFItem& a, const TFItem& b) { return a.localPath < b.localPath; });
    list.erase(std::unique(list.begin(), list.end(),
                           [](const TFItem& a, const TFItem& b) { return a.localPath == b.localPath; }),
               list.end());
    std::vector<std::pair<std::string, size_t>> listed;
    listed.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) listed.emplace_back(listedName(list[i].storedName), i);
    std::stable_sort(listed.begin(), listed.end());
    for (size_t i = 1; i < listed.size(); ++i)
      if (listed[i - 1].first == listed[i].first)
        fail(kInvalidArguments, "cannot repeat names in compressed file: " +
                                    list[listed[i - 1].second].localPath + " and " +
                                    list[listed[i].second].localPath);
    std::stable_sort(list.begin(), list.end(),
                     [](const TFItem& a, const TFItem& b) { return a.storedName < b.storedName; });
  } catch (const std::bad_alloc&) {
    fail(kOutOfMemory, "was processing list of files");
  }
}

// The new container must stay within the format's bounds; this is known
// before anything is written for the entry count and the copied entries,
// and is checked again as the new entries are written.
void Run::checkLimits() {
  uint64_t count = u_.newFiles.size();
  uint64_t least = preamble_ + TEndCentralRecord::kSize + c_.comment.size() +
                   u_.deletionBlock.size();
  for (const zlitem& item : u_.entries.items) {
    if (item.mark == kMarkDelete) continue;
    ++count;
    if (item.mark == kMarkReplace)
      least += TLocalFileHeader::kSize + TCentralFileHeader::kSize + 2 * item.name.size();
    else
      least += entryLength(item) + centralLength(item);
  }
  for (const TFItem& f : u_.newFiles)
    least += TLocalFileHeader::kSize + TCentralFileHeader::kSize + 2 * f.storedName.size();
  if (count > u_.maxEntries)
    fail(kTooManyEntries, "A briefcase holds at most " + std::to_string(u_.maxEntries) +
                              " files; this run would make it hold " + std::to_string(count) +
                              ". The briefcase was left as it was");
  if (least > u_.maxArchiveSize)
    fail(kTooLarge, "The briefcase would be larger than 4 GB; it was left as it was");
}

// Whether the run appends to the container. It does unless the rewrite is
// asked for (a compaction, CARRYVALE_UPDATE=rewrite), the container is not
// one to append to, the entry at its start would no longer be listed
// (readers that read from the start would find the old archive), or the
// unreferenced bytes would pass kCompactPercent of the container.
void Run::chooseWay() {
  const char* way = std::getenv("CARRYVALE_UPDATE");
  if (u_.rewrite || (way && std::string(way) == "rewrite")) return;
  const std::string why = whyNotAppendable(u_.entries, end_, preamble_);
  if (!why.empty()) {
    plat::diag("update run: rewriting " + c_.archivePath + ": " + why);
    return;
  }
  bool startKept = false;
  uint64_t dropped = 0, added = 0, directory = 0;
  for (size_t i = 0; i < u_.entries.items.size(); ++i) {
    const zlitem& item = u_.entries.items[i];
    if (item.central.localHeaderOffset == 0 && item.mark == kMarkNone) startKept = true;
    if (item.mark != kMarkNone) dropped += entryLength(item);
    if (item.mark == kMarkDelete) continue;
    directory += centralLength(item);
    if (item.mark == kMarkReplace) {
      plat::FileInfo fi;
      added += plat::fileSystem().stat(u_.sources[i], &fi, true) ? fi.size : 0;
      added += TLocalFileHeader::kSize + 2 * u_.renamed[i].size();
    }
  }
  for (const TFItem& f : u_.newFiles) {
    added += TLocalFileHeader::kSize + f.size + f.storedName.size();
    directory += TCentralFileHeader::kSize + f.storedName.size();
  }
  if (!startKept) return;
  // The old directory and the old deletions block stay behind; the new
  // block goes before the new directory.
  const uint64_t oldTail = end_.fileSize - end_.centralOffset + u_.carried.length;
  const uint64_t unreferenced = end_.fileSize - referencedBytes(u_.entries, end_, u_.carried.length) +
                                dropped + oldTail + AppendMarker::kSize;
  const uint64_t size = end_.fileSize + AppendMarker::kSize + added + u_.deletionBlock.size() +
                        directory + TEndCentralRecord::kSize + c_.comment.size();
  if (unreferenced * 100 > size * kCompactPercent) return;
  u_.appended = true;
}

// An append writes after the container's end. A rewrite builds the new
// archive where it can replace the container in one step: as an unnamed
// file in the container's own folder, when that file system has room for
// the most it can take; otherwise in the temporary folder (on another file
// system), from where it is copied beside the container once its exact size
// is known.
void Run::createOutput() {
  c_.sendMessage(plat::loadStr(plat::kStrCreatingTemp));
  const bool append = u_.appended;
  uint64_t bound = (append ? 0 : preamble_) + TEndCentralRecord::kSize + 0xffff +
                   TEndCentralRecord::kSize + u_.deletionBlock.size();
  for (size_t i = 0; i < u_.entries.items.size(); ++i) {
    const zlitem& item = u_.entries.items[i];
    if (item.mark == kMarkDelete) continue;
    if (item.mark == kMarkReplace) {
      plat::FileInfo fi;
      uint64_t size = plat::fileSystem().stat(u_.sources[i], &fi, true) ? fi.size
                                                                         : item.central.uncompressedSize;
      bound += TLocalFileHeader::kSize + 17 + TCentralFileHeader::kSize + 9 +
               2 * u_.renamed[i].size() + std::max<uint64_t>(dataBound(size), entryLength(item));
    } else {
      bound += (append ? 0 : entryLength(item)) + centralLength(item);
    }
  }
  for (const TFItem& f : u_.newFiles)
    bound += TLocalFileHeader::kSize + 17 + TCentralFileHeader::kSize + 9 +
             2 * f.storedName.size() + dataBound(f.size);
  bound_ = bound;

  std::string message;
  if (append) {
    append_ = std::make_unique<ContainerAppend>(*lock_);
    const int rc = append_->begin(end_.fileSize, &u_.output, &message);
    if (rc == kOk) {
      u_.outputOffset = end_.fileSize + AppendMarker::kSize;
      return;
    }
    append_.reset();
    if (rc != ContainerAppend::kNotAppendable) fail(rc, message);
    plat::diag("update run: " + message + "; rewriting instead");
    u_.appended = false;
    bound_ = bound += preamble_;
    for (const zlitem& item : u_.entries.items)
      if (item.mark == kMarkNone) bound_ = bound += entryLength(item);
  }
  replacement_ = std::make_unique<ContainerReplacement>(*lock_);
  if (int rc = replacement_->begin(bound, true, &u_.output, &message)) fail(rc, message);
  u_.outputOffset = 0;
}

// Copies `length` bytes from the current position of `from` to the output
// in blocks, with file progress. A read that delivers nothing ends the copy
// early; a short or failed write is 29.
int Run::blockCopy(JFile& from, uint64_t length) {
  uint64_t copied = 0;
  while (copied < length) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kCopyBlock, length - copied));
    from.read(buf_.data(), n);
    uint32_t got = from.lastTransfer();
    if (got == 0) break;
    if (writer_.put(buf_.data(), got) != kOk) {
      c_.sendMessage(" fcopy: write error\n");
      return kDiskMayBeFull;
    }
    copied += got;
    if (c_.callbacks.fileProgress)
      c_.callbacks.fileProgress(static_cast<int>(copied * 100 / length));
  }
  return copied == length ? kOk : kUnexpectedEnd;
}

// Writes the entry from the local file, and keeps it only when the file did
// not change while it was read: the same file, with the size and last-write
// time it had before, and as many bytes read as that size. A file that
// changed is reported by name and its entry taken back (kFileChanged).
int Run::writeFile(zlitem& item, const std::string& path) {
  plat::FileInfo before, after;
  const bool known = plat::fileSystem().stat(path, &before, true);
  const uint64_t start = u_.outputOffset;
  int rc = writer_.write(item, path);
  if (rc != kOk || !known) return rc;
  if (plat::fileSystem().stat(path, &after, true) && sameState(before, after) &&
      item.central.uncompressedSize == before.size)
    return kOk;
  if (int back = writer_.rewind(start)) fail(back, u_.output->path());
  c_.sendConfigMessage(plat::strFormat(
      "Warning - %s changed while it was being loaded; it was not stored",
      printableName(path).c_str()));
  return kFileChanged;
}

// Queues an unchanged entry for copying; its new offset is where it will land.
void Run::copyEntry(zlitem& item) {
  if (u_.appended) return;  // it stays where it is
  constexpr uint64_t kRangeLimit = 4u << 20;
  const uint64_t from = item.central.localHeaderOffset;
  const uint64_t length = entryLength(item);
  if (pendingLength_ && (from != pendingFrom_ + pendingLength_ || pendingLength_ >= kRangeLimit))
    flushCopy();
  if (!pendingLength_) {
    pendingFrom_ = from;
    pendingWhat_ = text(plat::kStrCopying, shownName(item));
  }
  item.central.localHeaderOffset = static_cast<uint32_t>(u_.outputOffset + pendingLength_);
  pendingLength_ += length;
}

void Run::flushCopy() {
  if (!pendingLength_) return;
  const uint64_t length = pendingLength_;
  pendingLength_ = 0;
  // Inside the kernel where it can, else through the copy buffer.
  writer_.reserve(length);
  uint64_t copied = plat::copyIntoUnnamed(*u_.output->platformFile(), lock_->realPath(), containerInfo_,
                                          pendingFrom_, length);
  writer_.advanced(copied);
  if (copied && c_.callbacks.fileProgress)
    c_.callbacks.fileProgress(static_cast<int>(copied * 100 / length));
  if (copied == length) return;
  if (u_.input->seek(static_cast<int64_t>(pendingFrom_ + copied), SeekOrigin::Begin) != kOk)
    fail(kReadSeekFailure, pendingWhat_);
  if (int rc = blockCopy(*u_.input, length - copied)) fail(rc, pendingWhat_);
}

void Run::writeTail() {
  c_.sendMessage(plat::loadStr(plat::kStrMovingTemp));
  // The deletions block right before the directory; in an archive with no
  // entry (and nothing before it) inside an empty end record at its start.
  if (!u_.deletionBlock.empty()) {
    const bool head = u_.entries.items.empty() && u_.outputOffset == 0;
    if (head && u_.deletionBlock.size() > kMaxDeletionHead)
      fail(kBadParameters,
           plat::strFormat("A briefcase that holds no file can carry at most %zu bytes of deletions, "
                           "and these take %zu; load fewer deletions at a time",
                           kMaxDeletionHead, u_.deletionBlock.size()));
    const std::vector<uint8_t> bytes = head ? deletionsHead(u_.deletionBlock) : u_.deletionBlock;
    if (int rc = writer_.put(bytes.data(), bytes.size())) fail(rc, u_.output->path());
  }
  const uint64_t centralOffset = u_.outputOffset;
  uint64_t centralSize = 0;
  for (const zlitem& item : u_.entries.items) centralSize += centralLength(item);
  if (u_.entries.items.size() > u_.maxEntries)
    fail(kTooManyEntries, "A briefcase holds at most " + std::to_string(u_.maxEntries) + " files");
  if (centralOffset + centralSize + TEndCentralRecord::kSize + c_.comment.size() >
      u_.maxArchiveSize)
    fail(kTooLarge, "The briefcase would be larger than 4 GB; it was left as it was");
  // The central headers go out in blocks rather than one write each.
  {
    std::vector<uint8_t> block;
    block.reserve(kCopyBlock + 4096);
    ByteWriter w(&block);
    auto flush = [&] {
      if (block.empty()) return;
      if (int rc = writer_.put(block.data(), block.size())) {
        c_.sendMessage("Error writing central list");
        fail(rc, u_.output->path());
      }
      block.clear();
    };
    for (const zlitem& item : u_.entries.items) {
      item.central.write(w);
      w.bytes(item.name.data(), item.name.size());
      w.bytes(item.centralExtra);
      w.bytes(item.comment);
      if (block.size() >= kCopyBlock) flush();
    }
    flush();
  }

  if (c_.callbacks.configRefresh) c_.callbacks.configRefresh();
  if (c_.comment.size() > 0xffff) fail(kInvalidComment, u_.output->path());
  if (centralOffset + centralSize + TEndCentralRecord::kSize + c_.comment.size() >
      u_.maxArchiveSize)
    fail(kTooLarge, "The briefcase would be larger than 4 GB; it was left as it was");
  if (append_) {
    std::string message;
    if (int rc = append_->seal(*u_.output, u_.outputOffset, &message)) fail(rc, message);
  }
  TEndCentralRecord end;
  end.entriesOnDisk = end.entriesTotal = static_cast<uint16_t>(u_.entries.items.size());
  end.centralSize = static_cast<uint32_t>(centralSize);
  end.centralOffset = static_cast<uint32_t>(centralOffset);
  end.commentLength = static_cast<uint16_t>(c_.comment.size());
  if (int rc = writeEndRecord(*u_.output, end, c_.comment)) fail(rc, u_.output->path());
  // Nothing of an entry that was taken back may stay after the end.
  if (!u_.output->truncateHere()) fail(kWriteFailure, u_.output->path());
  u_.outputOffset += TEndCentralRecord::kSize + c_.comment.size();
  c_.endRecord = end;
}

void Run::replaceContainer() {
  std::string message;
  if (append_) {
    int rc = append_->commit(std::move(u_.output), &message);
    u_.input.reset();
    append_.reset();
    if (rc) fail(rc, message);
    return;
  }
  int rc = replacement_->commit(
      std::move(u_.output), u_.outputOffset, [this](const std::string& s) { c_.sendConfigMessage(s); },
      c_.callbacks.fileProgress, &message);
  u_.input.reset();
  if (rc) {
    u_.keptArchivePath = replacement_->keptPath();
    fail(rc, message);
  }
  replacement_.reset();
}

void Run::discardOutput() {
  u_.output.reset();
  replacement_.reset();
  append_.reset();  // an append is cut back
}

// The failure handling at the run's end: the messages, then the new archive
// dropped (unless it was kept aside, which the messages told).
int Run::failed(int code, const std::string& message) {
  // A container another run holds is the caller's to tell, in its own words.
  if (u_.busy) {
    plat::diag("update run: the briefcase is locked by another run");
    discardOutput();
    u_.releaseRun();
    return code;
  }
  // A disk pulled out (or a folder moved away) makes the run fail at whatever
  // write or check notices it first; it is told as what happened.
  std::string detail = message;
  std::string gone = missingPart(c_.archivePath);
  if (gone.empty() && u_.mode == kModeAdd) gone = missingPart(u_.baseFolder);
  if (!gone.empty()) {
    plat::diag("update run failed with " + std::to_string(code) + ": " + message);
    code = kGone;
    u_.gone = gone;
    detail = printableName(gone) + " is no longer there";
  }
  if (code == kTempFileFailure || code == kReadSeekFailure || code == kWriteFailure ||
      code == kCreateFailed || code == kFileNotReadable)
    c_.sendMessage(plat::loadStr(plat::kStrBriefcaseError));
  std::string codeText = errorText(code);
  if (codeText.empty()) codeText = "Error " + std::to_string(code);
  uint64_t freeBytes = 0;
  const std::string room = replacement_ ? replacement_->folder()
                           : u_.appended ? plat::parentFolder(lock_->realPath())
                                         : std::string();
  if (code == kDiskMayBeFull && !room.empty() && bound_ &&
      plat::fileSystem().freeSpace(room, &freeBytes))
    detail += plat::strFormat(u_.appended
                                  ? "; the load needs up to %llu bytes more, and %llu are free in %s"
                                  : "; the new briefcase needs up to %llu bytes, and %llu are free in %s",
                              static_cast<unsigned long long>(bound_),
                              static_cast<unsigned long long>(freeBytes), room.c_str());
  c_.sendConfigMessage(plat::loadStrFmt(plat::kStrBriefcaseErrorDetail,
                                        plat::cutLoadedText(codeText).c_str(), detail.c_str()));
  plat::diag("update run failed: " + std::to_string(code) + " " + detail);
  discardOutput();
  u_.releaseRun();
  return code;
}

int Run::execute() {
  u_.method = c_.level ? -1 : 0;
  u_.outputOffset = 0;
  u_.newFiles.clear();
  u_.unmatched.clear();
  u_.keptArchivePath.clear();
  u_.notLoaded.clear();
  u_.fileCrcs.clear();
  u_.skippedFiles = false;
  u_.busy = false;
  u_.appended = false;
  u_.freedBytes = 0;
  u_.gone.clear();
  u_.carried = FoundDeletions();
  u_.deletionBlock.clear();
  c_.sendMessage("Starting...");
  u_.entries.clear();

  try {
    writeTest();
    undoInterruptedAppend(c_.archivePath, lock_,
                          [this](const std::string& t) { c_.sendConfigMessage(t); });
    openInput();
    const plat::FileTime oldDate = containerInfo_.writeTime;
    const uint64_t oldSize = containerInfo_.size;
    readDirectory();
    chooseDeletions();
    collectNames();
    checkNewFiles();
    u_.noCompressSuffixes = c_.level == 9 ? "" : kNoCompressSuffixes;
    if (u_.entries.items.empty() && u_.mode != kModeAdd) {
      u_.releaseRun();
      return kMissingOrEmpty;
    }
    // A marked entry whose local file is gone by its turn is reported there
    // (kStrCannotOpenForReading, kFileNotReadable) and copied unchanged.
    checkLimits();
    chooseWay();
    createOutput();

    if (preamble_) {
      if (u_.input->seek(0, SeekOrigin::Begin) != kOk) fail(kReadSeekFailure, c_.archivePath);
      if (int rc = blockCopy(*u_.input, preamble_))
        fail(rc, rc == kTempFileFailure ? u_.output->path() : c_.archivePath);
    }

    total_ = 0;
    // An append does not copy the entries that stay.
    for (const zlitem& item : u_.entries.items)
      if (!u_.appended || item.mark != kMarkNone) total_ += item.central.uncompressedSize;
    for (const TFItem& f : u_.newFiles) total_ += f.size;
    done_ = 0;
    if (c_.callbacks.totalProgress) c_.callbacks.totalProgress(0);

    {
      std::vector<std::string> order;
      for (size_t i = 0; i < u_.entries.items.size(); ++i)
        if (u_.entries.items[i].mark == kMarkReplace) order.push_back(u_.sources[i]);
      for (const TFItem& f : u_.newFiles) order.push_back(f.localPath);
      writer_.expect(std::move(order));
    }

    TZList kept;
    kept.items.reserve(u_.entries.items.size() + u_.newFiles.size());
    bool stop = false;
    for (size_t i = 0; i < u_.entries.items.size() && !stop; ++i) {
      if (c_.cancelled || cancelCheck()) break;
      zlitem& item = u_.entries.items[i];
      if (!u_.appended || item.mark != kMarkNone) {
        done_ += item.central.uncompressedSize;
        progressTotal();
      }
      if (item.mark == kMarkDelete) continue;
      if (item.mark == kMarkNone) {
        if (!u_.appended) c_.sendMessage(text(plat::kStrCopying, shownName(item)));
        copyEntry(item);
        item.mark = kMarkNone;
        kept.append(std::move(item));
        continue;
      }
      flushCopy();
      c_.sendMessage(text(plat::kStrUpdating, shownName(item)));
      zlitem original = item;
      item.name = u_.renamed[i];
      int rc = writeFile(item, u_.sources[i]);
      if (rc == kOk) {
        item.mark = kMarkNone;
        kept.append(std::move(item));
      } else if (rc == kFileNotReadable || rc == kFileChanged) {
        if (rc == kFileNotReadable)
          c_.sendConfigMessage(text(plat::kStrCannotOpenForReading, printableName(u_.sources[i])));
        notLoaded(u_.sources[i]);
        item = std::move(original);
        item.mark = kMarkNone;
        copyEntry(item);
        kept.append(std::move(item));
      } else if (rc == kInterrupted) {
        stop = true;
      } else {
        fail(rc, text(plat::kStrWasLoading, shownName(u_.renamed[i])));
      }
    }
    for (size_t i = 0; i < u_.newFiles.size() && !stop && !c_.cancelled; ++i) {
      if (cancelCheck()) break;
      const TFItem& f = u_.newFiles[i];
      done_ += f.size;
      progressTotal();
      zlitem item;
      try {
        item.name = f.storedName;
      } catch (const std::bad_alloc&) {
        fail(kOutOfMemory, plat::loadStr(plat::kStrWasAdding));
      }
      flushCopy();
      c_.sendMessage(text(plat::kStrAdding, shownName(f.storedName)));
      int rc = writeFile(item, f.localPath);
      if (rc == kOk) {
        item.mark = kMarkNone;
        kept.append(std::move(item));
      } else if (rc == kFileNotReadable || rc == kFileChanged) {
        // A warning, so it goes where warnings go (the window shows both
        // kinds of text alike; the terminal keeps warnings on their own line).
        if (rc == kFileNotReadable)
          c_.sendConfigMessage(text(plat::kStrCannotOpenForReading, printableName(f.localPath)));
        notLoaded(f.localPath);
      } else if (rc == kInterrupted) {
        stop = true;
      } else {
        fail(rc, text(plat::kStrWasLoading, shownName(f.storedName)));
      }
    }
    if (!c_.cancelled) flushCopy();
    u_.entries = std::move(kept);

    if (c_.cancelled) {
      c_.sendMessage(plat::loadStr(plat::kStrAbortedDeletingTemp));
      discardOutput();
      u_.input.reset();
      c_.sendMessage(plat::loadStr(plat::kStrFinishing));
      u_.releaseRun();
      return kInterrupted;
    }

    writeTail();
    replaceContainer();
    c_.deletions.reset();  // the container holds them now
    c_.newPasswordCheck.reset();
    plat::FileInfo now;
    if (lock_->file() && lock_->file()->platformFile()->info(&now)) {
      u_.freedBytes = now.size < oldSize ? oldSize - now.size : 0;
      // A compaction changes no entry: the briefcase keeps its date.
      if (u_.keepDate && oldDate && lock_->file()->platformFile()->setTimes(nullptr, nullptr, &oldDate))
        lock_->refresh();
    }
    c_.sendMessage(plat::loadStr(plat::kStrFinishing));
    int result = u_.skippedFiles ? kFileNotReadable : kOk;
    u_.releaseRun();
    return result;
  } catch (const TXCompress& e) {
    return failed(e.code(), e.message());
  } catch (const std::bad_alloc&) {
    return failed(kOutOfMemory, "");
  }
}

}  // namespace

int Update(TCompress& engine) {
  try {
    Run run(engine);
    return run.execute();
  } catch (const std::bad_alloc&) {
    engine.update.releaseRun();
    return kOutOfMemory;
  }
}

int Compact(TCompress& engine) {
  TUpdateState& u = engine.update;
  std::vector<std::string> names;
  names.swap(engine.names);
  const uint8_t mode = u.mode;
  u.mode = kModeAdd;
  u.rewrite = u.keepDate = true;
  const int rc = Update(engine);
  u.rewrite = u.keepDate = false;
  u.mode = mode;
  names.swap(engine.names);
  return rc;
}

void PrepareDelete(TCompress& engine, bool clearNames) {
  engine.update.mode = kModeDelete;
  engine.ClearCancel();
  if (clearNames) engine.ClearNames();
}

std::string StoredName(const std::string& localName) {
  size_t i = 0;
  for (;;) {
    while (i < localName.size() && localName[i] == '/') ++i;
    if (localName.compare(i, 2, "./") != 0) break;
    i += 2;
  }
  return localName.substr(i);
}

}  // namespace archive
