// The update run: reads the container's directory, writes a new archive with
// the unchanged entries copied byte for byte and the new or changed files
// written anew, and puts it in the container's place.

#include <algorithm>
#include <new>

#include "archive/errors.h"
#include "archive/update/entry.h"
#include "archive/update/readbuffer.h"
#include "archive/update/update.h"
#include "platform/diag.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/unnamed.h"

namespace archive {
namespace {

constexpr size_t kCopyBlock = 131072;
constexpr const char* kNoCompressSuffixes = ".z:.zip:.arj:.zoo:.arc:.lzh";
constexpr const char* kTempPrefix = "brc";
// Room kept free beyond the new archive's size when choosing where to build it.
constexpr uint64_t kSpaceMargin = 1u << 20;

bool equalFolded(const std::string& a, size_t n, const std::string& b) {
  if (a.size() < n || b.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

uint64_t entryLength(const zlitem& item) {
  return TLocalFileHeader::kSize + uint64_t(item.local.nameLength) + item.local.extraLength +
         item.central.compressedSize + item.descriptorLength;
}

uint64_t centralLength(const zlitem& item) {
  return TCentralFileHeader::kSize + uint64_t(item.central.nameLength) + item.central.extraLength +
         item.central.commentLength;
}

// The largest a file's entry data can become: deflate's worst case over
// incompressible input.
uint64_t dataBound(uint64_t size) { return size + (size >> 12) + (size >> 14) + 64; }

// One run, with what the failure handling at its end needs to know.
class Run {
 public:
  explicit Run(TCompress& c) : c_(c), u_(c.update), writer_(c), buf_(kCopyBlock) {}

  int execute();

 private:
  void writeTest();
  void readDirectory();
  void collectNames();
  void checkNewFiles();
  void checkLimits();
  void createOutput();
  void copyEntry(zlitem& item);
  void flushCopy();
  int blockCopy(JFile& from, uint64_t length, bool toOutput, JFile* to);
  void writeTail();
  void replaceContainer();
  bool moveIntoPlace(plat::File& file, const std::string& folder, bool unnamed,
                     const std::string& namedPath);
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
  NameIndex index_;
  uint32_t preamble_ = 0;
  uint32_t containerMode_ = 0;
  bool haveContainerMode_ = false;
  uint64_t containerSize_ = 0;
  plat::FileInfo containerInfo_;
  bool outputUnnamed_ = false;
  bool outputInContainerFolder_ = false;
  bool containerTouched_ = false;  // overwritten in place: the output must be kept
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
// changes, whatever the container begins with. The handle stays open and
// locked as the run's input until the container has been replaced.
void Run::writeTest() {
  const std::string& path = c_.archivePath;
  int raced = 0;
  for (;;) {
    auto f = std::make_unique<JNormFile>(path, plat::Access::ReadWrite,
                                         plat::Disposition::OpenExisting);
    bool opened = f->isOpen();
    bool denied = !opened && plat::isAccessDenied(plat::lastError());
    if (opened && !f->lockExclusive()) opened = false;  // another run holds it
    if (opened) {
      // Another run may have replaced the container between our open and
      // the lock: then this handle holds the old file, so open again.
      plat::FileInfo mine, now;
      if (f->platformFile()->info(&mine) && plat::fileSystem().stat(path, &now, true) &&
          (mine.device != now.device || mine.inode != now.inode)) {
        if (++raced < 10) continue;
        opened = false;
      }
    }
    if (opened) {
      plat::FileInfo fi;
      if (f->platformFile()->info(&fi)) {
        containerMode_ = fi.mode;
        haveContainerMode_ = true;
        containerSize_ = fi.size;
        containerInfo_ = fi;
      }
      u_.input = std::move(f);
      return;
    }
    if (!denied) {
      bool abort = true;
      if (c_.callbacks.openFailed) {
        abort = false;
        c_.callbacks.openFailed(abort);
      }
      if (abort) fail(kCreateFailed, path);
    }
    bool abort = true;
    if (c_.callbacks.writeProtected) {
      abort = false;
      c_.callbacks.writeProtected(path, abort);
    }
    if (abort) fail(kWriteProtected, path);
  }
}

void Run::readDirectory() {
  ReadBuffer in(*u_.input);
  EndRecordInfo end;
  auto sink = [this](const std::string& s) { c_.sendConfigMessage(s); };
  if (int rc = findEndRecord(in, &end, sink)) fail(rc, c_.archivePath);
  c_.endRecord = end.record;
  c_.comment = std::move(end.comment);
  // A container that needs more than this program writes, or whose directory
  // holds other than its count says, is not rewritten: that would drop entries.
  if (!end.needsZip64.empty()) fail(kTooLarge, zip64Refusal(c_.archivePath, end.needsZip64));
  int rc = readCentralDirectory(in, static_cast<uint32_t>(end.centralOffset),
                                static_cast<uint32_t>(end.centralSize), end.directoryEnd,
                                &u_.entries, &preamble_);
  if (rc == kTooLarge)
    fail(rc, zip64Refusal(c_.archivePath, "more than 65,535 entries"));
  if (rc) fail(rc, c_.archivePath);
  std::string mismatch = countMismatch(c_.archivePath, end.entries, u_.entries.items.size());
  if (!mismatch.empty()) fail(kSevereError, mismatch);
  rc = checkEntries(in, u_.entries, end.position);
  if (rc == kTooLarge) fail(rc, zip64Refusal(c_.archivePath, "4 GB or more"));
  if (rc) fail(rc, c_.archivePath);
  index_.build(u_.entries);
  u_.sources.assign(u_.entries.items.size(), std::string());
}

void Run::collectNames() {
  std::string base = u_.baseFolder;
  if (!base.empty() && base.back() != '/') base += '/';
  plat::FileInfo container;
  const bool haveContainer = u_.input->platformFile()->info(&container);

  for (const std::string& name : c_.names) {
    plat::FileInfo fi;
    bool found = false;
    if (u_.mode == kModeAdd) {
      found = plat::fileSystem().stat(name, &fi, true);
      if (found && fi.isRegular && fi.size > 0xffffffffULL)
        fail(kTooLarge, "Files larger than 4 GB are not supported: " + name);
    }
    std::string rest = name;
    if (!base.empty() && equalFolded(name, base.size(), base)) rest = name.substr(base.size());
    std::string stored = StoredName(rest);
    if (stored.empty()) fail(kInternalError, "empty name without recurse");

    long idx = index_.find(u_.entries, stored);
    if (idx >= 0) {
      zlitem& item = u_.entries.items[static_cast<size_t>(idx)];
      if (u_.mode == kModeDelete) {
        item.mark = kMarkDelete;
        continue;
      }
      // The entry is refreshed from the file named here (base folder +
      // stored name only where the base folder matched exactly).
      std::string& source = u_.sources[static_cast<size_t>(idx)];
      if (item.mark == kMarkReplace && source != name)
        fail(kInvalidArguments, "cannot repeat names in compressed file");
      item.mark = kMarkReplace;
      source = name;
      continue;
    }
    if (u_.mode == kModeDelete) {
      u_.unmatched.push_back(name);
      plat::diag("not in the briefcase: " + name);
      continue;
    }
    // The container itself, when it lies inside the local folder, is skipped.
    if (name == c_.archivePath ||
        (found && haveContainer && fi.device == container.device && fi.inode == container.inode))
      continue;
    u_.newFiles.push_back(TFItem{name, stored, found ? fi.size : 0});
  }
}

void Run::checkNewFiles() {
  try {
    TFList& list = u_.newFiles;
    std::stable_sort(list.begin(), list.end(),
                     [](const TFItem& a, const TFItem& b) { return a.localPath < b.localPath; });
    list.erase(std::unique(list.begin(), list.end(),
                           [](const TFItem& a, const TFItem& b) { return a.localPath == b.localPath; }),
               list.end());
    std::stable_sort(list.begin(), list.end(), [](const TFItem& a, const TFItem& b) {
      return compareFolded(a.storedName, b.storedName) < 0;
    });
    for (size_t i = 1; i < list.size(); ++i)
      if (compareFolded(list[i - 1].storedName, list[i].storedName) == 0)
        fail(kInvalidArguments, "cannot repeat names in compressed file");
  } catch (const std::bad_alloc&) {
    fail(kOutOfMemory, "was processing list of files");
  }
}

// The new container must stay within the format's bounds; this is known
// before anything is written for the entry count and the copied entries,
// and is checked again as the new entries are written.
void Run::checkLimits() {
  uint64_t count = u_.newFiles.size();
  uint64_t least = preamble_ + TEndCentralRecord::kSize + c_.comment.size();
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
    fail(kInvalidArguments, "A briefcase holds at most " + std::to_string(u_.maxEntries) +
                                " files; this run would make it hold " + std::to_string(count) +
                                ". The briefcase was left as it was");
  if (least > u_.maxArchiveSize)
    fail(kTooLarge, "The briefcase would be larger than 4 GB; it was left as it was");
}

// The new archive is built where it can replace the container in one step:
// as an unnamed file in the container's own folder, when that file system has
// room for it. Otherwise in the temporary folder.
void Run::createOutput() {
  c_.sendMessage(plat::loadStr(8061));
  uint64_t bound = preamble_ + TEndCentralRecord::kSize + 0xffff;
  for (const zlitem& item : u_.entries.items) {
    if (item.mark == kMarkDelete) continue;
    if (item.mark == kMarkReplace) {
      plat::FileInfo fi;
      uint64_t size = plat::fileSystem().stat(u_.sources[&item - u_.entries.items.data()], &fi, true)
                          ? fi.size
                          : item.central.uncompressedSize;
      bound += TLocalFileHeader::kSize + 17 + TCentralFileHeader::kSize + 9 +
               2 * item.name.size() + std::max<uint64_t>(dataBound(size), entryLength(item));
    } else {
      bound += entryLength(item) + centralLength(item);
    }
  }
  for (const TFItem& f : u_.newFiles)
    bound += TLocalFileHeader::kSize + 17 + TCentralFileHeader::kSize + 9 +
             2 * f.storedName.size() + dataBound(f.size);

  std::string folder = plat::parentFolder(c_.archivePath);
  if (folder.empty()) folder = ".";
  std::unique_ptr<plat::File> file;
  uint64_t freeBytes = 0;
  if (plat::fileSystem().freeSpace(folder, &freeBytes) && freeBytes >= bound + kSpaceMargin) {
    file = plat::createUnnamed(folder);
    outputUnnamed_ = file != nullptr;
    if (!file) file = plat::fileSystem().createTemp(folder, kTempPrefix, &u_.tempPath);
    if (file) {
      outputInContainerFolder_ = true;
      u_.tempFolder = folder;
    }
  }
  if (!file) {
    folder = plat::tempDir();
    file = plat::createUnnamed(folder);
    outputUnnamed_ = file != nullptr;
    if (!file) file = plat::fileSystem().createTemp(folder, kTempPrefix, &u_.tempPath);
    if (!file) fail(kTempFileFailure, plat::joinPath(folder, kTempPrefix));
    u_.tempFolder = folder;
  }
  if (haveContainerMode_) file->setMode(containerMode_);
  std::string shown = u_.tempPath.empty() ? plat::joinPath(folder, kTempPrefix) : u_.tempPath;
  u_.output = std::make_unique<JNormFile>(std::move(file), shown);
  u_.outputOffset = 0;
}

// Copies `length` bytes from the current position of `from` to the output
// (or to `to`) in blocks, with file progress. A read that delivers nothing
// ends the copy early; a short or failed write is 29.
int Run::blockCopy(JFile& from, uint64_t length, bool toOutput, JFile* to) {
  uint64_t copied = 0;
  while (copied < length) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kCopyBlock, length - copied));
    from.read(buf_.data(), n);
    uint32_t got = from.lastTransfer();
    if (got == 0) break;
    int rc = toOutput ? writer_.put(buf_.data(), got) : to->write(buf_.data(), got);
    if (rc != kOk) {
      c_.sendMessage(" fcopy: write error\n");
      return kDiskMayBeFull;
    }
    copied += got;
    if (c_.callbacks.fileProgress)
      c_.callbacks.fileProgress(static_cast<int>(copied * 100 / length));
  }
  return copied == length ? kOk : kUnexpectedEnd;
}

// Queues an unchanged entry for copying; its new offset is where it will land.
void Run::copyEntry(zlitem& item) {
  constexpr uint64_t kRangeLimit = 4u << 20;
  const uint64_t from = item.central.localHeaderOffset;
  const uint64_t length = entryLength(item);
  if (pendingLength_ && (from != pendingFrom_ + pendingLength_ || pendingLength_ >= kRangeLimit))
    flushCopy();
  if (!pendingLength_) {
    pendingFrom_ = from;
    pendingWhat_ = text(8065, item.name);
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
  uint64_t copied = plat::copyIntoUnnamed(*u_.output->platformFile(), c_.archivePath, containerInfo_,
                                          pendingFrom_, length);
  writer_.advanced(copied);
  if (copied && c_.callbacks.fileProgress)
    c_.callbacks.fileProgress(static_cast<int>(copied * 100 / length));
  if (copied == length) return;
  if (u_.input->seek(static_cast<int64_t>(pendingFrom_ + copied), SeekOrigin::Begin) != kOk)
    fail(kReadSeekFailure, pendingWhat_);
  if (int rc = blockCopy(*u_.input, length - copied, true, nullptr)) fail(rc, pendingWhat_);
}

void Run::writeTail() {
  c_.sendMessage(plat::loadStr(8068));
  const uint64_t centralOffset = u_.outputOffset;
  uint64_t centralSize = 0;
  for (const zlitem& item : u_.entries.items) centralSize += centralLength(item);
  if (u_.entries.items.size() > u_.maxEntries)
    fail(kInvalidArguments, "A briefcase holds at most " + std::to_string(u_.maxEntries) + " files");
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
  TEndCentralRecord end;
  end.entriesOnDisk = end.entriesTotal = static_cast<uint16_t>(u_.entries.items.size());
  end.centralSize = static_cast<uint32_t>(centralSize);
  end.centralOffset = static_cast<uint32_t>(centralOffset);
  end.commentLength = static_cast<uint16_t>(c_.comment.size());
  if (int rc = writeEndRecord(*u_.output, end, c_.comment)) fail(rc, u_.output->path());
  u_.outputOffset += TEndCentralRecord::kSize + c_.comment.size();
  c_.endRecord = end;
}

// Gives a complete, synced file in `folder` its name (when it has none) and
// renames it over the container; then the folder is synced. False, with
// the new file gone and the container as it was, when that fails.
bool Run::moveIntoPlace(plat::File& file, const std::string& folder, bool unnamed,
                        const std::string& namedPath) {
  std::string path = namedPath;
  if (!file.sync()) return false;
  if (unnamed && !plat::linkUnnamedUnique(file, folder, kTempPrefix, &path)) return false;
  if (!plat::fileSystem().rename(path, c_.archivePath)) {
    int err = plat::lastError();
    plat::fileSystem().remove(path);
    plat::setLastError(err);
    return false;
  }
  plat::fileSystem().syncDir(folder);
  return true;
}

void Run::replaceContainer() {
  plat::FileSystem& fs = plat::fileSystem();
  JNormFile& out = *u_.output;
  const uint64_t size = u_.outputOffset;
  std::string folder = plat::parentFolder(c_.archivePath);
  if (folder.empty()) folder = ".";

  if (outputInContainerFolder_) {
    if (!moveIntoPlace(*out.platformFile(), folder, outputUnnamed_, u_.tempPath)) {
      c_.sendConfigMessage(plat::loadStrFmt(8053, kMoveFailed));
      u_.tempPath.clear();  // removed by moveIntoPlace
      fail(kMoveFailed, plat::loadStr(8039) + ": " + plat::lastErrorText());
    }
    u_.tempPath.clear();
    out.close();
    u_.input->close();
    return;
  }

  // The new archive is in the temporary folder. With room for it on the
  // container's file system now that its exact size is known, it is copied
  // next to the container and renamed over it in one step.
  uint64_t freeBytes = 0;
  const bool haveFree = fs.freeSpace(folder, &freeBytes);
  if (haveFree && freeBytes >= size + kSpaceMargin) {
    std::string namedPath;
    std::unique_ptr<plat::File> near = plat::createUnnamed(folder);
    bool unnamed = near != nullptr;
    if (!near) near = fs.createTemp(folder, kTempPrefix, &namedPath);
    if (near) {
      JNormFile copy(std::move(near), namedPath);
      if (haveContainerMode_) copy.platformFile()->setMode(containerMode_);
      bool ok = out.seek(0, SeekOrigin::Begin) == kOk &&
                blockCopy(out, size, false, &copy) == kOk &&
                moveIntoPlace(*copy.platformFile(), folder, unnamed, namedPath);
      if (ok) {
        copy.close();
        discardOutput();
        u_.input->close();
        return;
      }
      copy.close();
      if (!unnamed && !namedPath.empty()) fs.remove(namedPath);
    }
  }

  // Last resort: copy the new archive over the container. The free space must
  // cover it with the old container's room counted in.
  const uint64_t needed = TEndCentralRecord::kSize + c_.comment.size() + size + u_.entries.centralSize;
  if (!haveFree || freeBytes + containerSize_ < needed)
    fail(kDiskMayBeFull, c_.archivePath);
  // Before the container is touched the new archive gets a name, so that it
  // survives whatever happens to the copy.
  if (outputUnnamed_) {
    if (!out.sync() ||
        !plat::linkUnnamedUnique(*out.platformFile(), u_.tempFolder, kTempPrefix, &u_.tempPath))
      fail(kTempFileFailure, plat::joinPath(u_.tempFolder, kTempPrefix));
    outputUnnamed_ = false;
  } else if (!out.sync()) {
    fail(kTempFileFailure, u_.tempPath);
  }
  JNormFile& dest = *u_.input;
  containerTouched_ = true;
  bool complete = out.seek(0, SeekOrigin::Begin) == kOk && dest.seek(0, SeekOrigin::Begin) == kOk &&
                  blockCopy(out, size, false, &dest) == kOk && dest.truncateHere() && dest.sync();
  if (!complete) {
    c_.sendConfigMessage("Error: Not all bytes were copied");
    c_.sendConfigMessage(plat::loadStrFmt(8053, kMoveFailed));
    u_.keptArchivePath = u_.tempPath;
    c_.sendConfigMessage("The new briefcase was kept as " + u_.tempPath + "; copy it over " +
                         c_.archivePath + " to finish the update.");
    fail(kMoveFailed, plat::loadStr(8039));
  }
  dest.close();
  out.close();
  fs.remove(u_.tempPath);
  u_.tempPath.clear();
  containerTouched_ = false;
}

void Run::discardOutput() {
  if (u_.output) u_.output->close();
  if (!u_.tempPath.empty()) plat::fileSystem().remove(u_.tempPath);
  u_.tempPath.clear();
}

// The failure handling at the run's end: the messages, then the temporary
// file removed unless the container was already overwritten with it.
int Run::failed(int code, const std::string& message) {
  if (code == kTempFileFailure || code == kReadSeekFailure || code == kWriteFailure ||
      code == kCreateFailed || code == kFileNotReadable)
    c_.sendMessage(plat::loadStr(8034));
  std::string codeText = errorText(code);
  if (codeText.empty()) codeText = "Error " + std::to_string(code);
  c_.sendConfigMessage(plat::loadStrFmt(8035, plat::cutLoadedText(codeText).c_str(), message.c_str()));
  plat::diag("update run failed: " + std::to_string(code) + " " + message);
  if (containerTouched_) {
    if (u_.output) u_.output->close();
  } else {
    discardOutput();
  }
  u_.releaseRun();
  return code;
}

int Run::execute() {
  u_.method = c_.level ? -1 : 0;
  u_.outputOffset = 0;
  u_.newFiles.clear();
  u_.unmatched.clear();
  u_.keptArchivePath.clear();
  u_.tempPath.clear();
  u_.tempFolder.clear();
  u_.skippedFiles = false;
  c_.sendMessage("Starting...");
  u_.entries.clear();

  try {
    writeTest();
    readDirectory();
    collectNames();
    checkNewFiles();
    u_.noCompressSuffixes = c_.level == 9 ? "" : kNoCompressSuffixes;
    if (u_.entries.items.empty() && u_.mode != kModeAdd) {
      u_.releaseRun();
      return kMissingOrEmpty;
    }
    // Marked entries whose local file is gone are copied unchanged.
    if (u_.mode == kModeAdd)
      for (size_t i = 0; i < u_.entries.items.size(); ++i)
        if (u_.entries.items[i].mark == kMarkReplace && !plat::fileExists(u_.sources[i]))
          u_.entries.items[i].mark = kMarkNone;
    checkLimits();
    createOutput();

    if (preamble_) {
      if (u_.input->seek(0, SeekOrigin::Begin) != kOk) fail(kReadSeekFailure, c_.archivePath);
      if (int rc = blockCopy(*u_.input, preamble_, true, nullptr))
        fail(rc, rc == kTempFileFailure ? u_.output->path() : c_.archivePath);
    }

    total_ = 0;
    for (const zlitem& item : u_.entries.items) total_ += item.central.uncompressedSize;
    for (const TFItem& f : u_.newFiles) total_ += f.size;
    done_ = 0;
    if (c_.callbacks.totalProgress) c_.callbacks.totalProgress(0);

    TZList kept;
    kept.items.reserve(u_.entries.items.size() + u_.newFiles.size());
    bool stop = false;
    for (size_t i = 0; i < u_.entries.items.size() && !stop; ++i) {
      if (c_.cancelled || cancelCheck()) break;
      zlitem& item = u_.entries.items[i];
      done_ += item.central.uncompressedSize;
      progressTotal();
      if (item.mark == kMarkDelete) continue;
      if (item.mark == kMarkNone) {
        c_.sendMessage(text(8065, item.name));
        copyEntry(item);
        item.mark = kMarkNone;
        kept.append(std::move(item));
        continue;
      }
      c_.sendMessage(text(8063, item.name));
      flushCopy();
      zlitem original = item;
      int rc = writer_.write(item, u_.sources[i]);
      if (rc == kOk) {
        item.mark = kMarkNone;
        kept.append(std::move(item));
      } else if (rc == kFileNotReadable) {
        c_.sendConfigMessage(text(8050, u_.sources[i]));
        u_.skippedFiles = true;
        item = std::move(original);
        item.mark = kMarkNone;
        copyEntry(item);
        kept.append(std::move(item));
      } else if (rc == kInterrupted) {
        stop = true;
      } else {
        fail(rc, text(8037, item.name));
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
        fail(kOutOfMemory, plat::loadStr(8038));
      }
      c_.sendMessage(text(8066, f.storedName));
      flushCopy();
      int rc = writer_.write(item, f.localPath);
      if (rc == kOk) {
        item.mark = kMarkNone;
        kept.append(std::move(item));
      } else if (rc == kFileNotReadable) {
        // A warning, so it goes where warnings go (the window shows both
        // kinds of text alike; the terminal keeps warnings on their own line).
        c_.sendConfigMessage(text(8050, f.localPath));
        u_.skippedFiles = true;
      } else if (rc == kInterrupted) {
        stop = true;
      } else {
        fail(rc, text(8037, f.storedName));
      }
    }
    if (!c_.cancelled) flushCopy();
    u_.entries = std::move(kept);

    if (c_.cancelled) {
      c_.sendMessage(plat::loadStr(8052));
      discardOutput();
      u_.input.reset();
      c_.sendMessage(plat::loadStr(8067));
      u_.releaseRun();
      return kInterrupted;
    }

    writeTail();
    replaceContainer();
    c_.sendMessage(plat::loadStr(8067));
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
