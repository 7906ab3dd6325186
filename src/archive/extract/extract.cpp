#include "archive/extract/extract.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/localfile.h"
#include "archive/extract/names.h"
#include "archive/extract/restore.h"
#include "archive/extract/writejobs.h"
#include "archive/leftovers.h"
#include "archive/namecode.h"
#include "archive/update/pdeflate.h"
#include "archive/update/readbuffer.h"
#include "platform/errors.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace archive {
namespace {

constexpr size_t kWorkBufferSize = 65537;

// Thrown when the briefcase cannot be read (other than its end): the run ends.
struct ReadFailure {};

// The briefcase read through the run's work buffer. Positions are file
// offsets; reading past the end of the file yields nothing.
class ArchiveInput {
 public:
  ArchiveInput(plat::File* f, uint8_t* buf, size_t cap) : f_(f), buf_(buf), cap_(cap) {}

  void seek(int64_t pos) { pos_ = pos; }
  int64_t position() const { return pos_; }

  // Up to `max` bytes at the current position: a pointer into the buffer and
  // their count, 0 at the end of the file. Throws ReadFailure.
  size_t peek(size_t max, const uint8_t** data) {
    if (pos_ < bufStart_ || pos_ >= bufStart_ + static_cast<int64_t>(bufLen_)) fill();
    size_t avail = bufLen_ - static_cast<size_t>(pos_ - bufStart_);
    if (pos_ < bufStart_ || bufLen_ == 0) avail = 0;
    *data = buf_ + (pos_ - bufStart_);
    return std::min(avail, max);
  }
  void consume(size_t n) { pos_ += static_cast<int64_t>(n); }

  // Exactly n bytes: 0, or 12 when the file ends first. Throws ReadFailure.
  int read(void* out, size_t n) {
    uint8_t* o = static_cast<uint8_t*>(out);
    while (n > 0) {
      const uint8_t* p;
      size_t got = peek(n, &p);
      if (got == 0) return kUnexpectedEnd;
      std::memcpy(o, p, got);
      consume(got);
      o += got;
      n -= got;
    }
    return kOk;
  }
  int skip(size_t n) {
    while (n > 0) {
      const uint8_t* p;
      size_t got = peek(n, &p);
      if (got == 0) return kUnexpectedEnd;
      consume(got);
      n -= got;
    }
    return kOk;
  }

 private:
  void fill() {
    bufStart_ = pos_;
    bufLen_ = 0;
    if (pos_ < 0) return;
    if (pos_ != filePos_) {
      filePos_ = -1;
      if (!f_->seek(pos_, plat::Origin::Begin, nullptr)) throw ReadFailure();
    }
    size_t got = 0;
    if (!f_->read(buf_, cap_, &got)) throw ReadFailure();
    bufLen_ = got;
    filePos_ = pos_ + static_cast<int64_t>(got);
  }

  plat::File* f_;
  uint8_t* buf_;
  size_t cap_;
  int64_t pos_ = 0;
  int64_t bufStart_ = 0;
  size_t bufLen_ = 0;
  int64_t filePos_ = -1;  // where the file's own position is, when known
};

bool methodSupported(uint16_t m) { return m == 0 || m == 6 || m == 8; }

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

int raise(int result, int code) { return std::max(result, code); }

enum class Policy { Never, Ask, Always };

class Run {
 public:
  explicit Run(TCompress& c) : c_(c), s_(c.extract) {}

  int go() {
    int result = 0;
    try {
      result = steps();
    } catch (const TXCompress&) {
      // An imploded entry or a read failure of the briefcase ends the run.
      result = kSevereError;
    } catch (const std::bad_alloc&) {
      c_.sendMessage(plat::loadStr(8014));
      result = kOutOfMemory;
    }
    writer_.rollback();
    removeEntryFolders(c_);
    file_.close();
    s_.targetPrefix.clear();
    s_.checkedFolders.clear();
    forgetClaims();
    s_.folders.clear();
    work_.reset();
    if (c_.cancelled) result = kInterrupted;
    return result;
  }

 private:
  void msg(const std::string& text) { c_.sendMessage(text); }
  void forgetClaims() {
    s_.claimedPaths.clear();
    s_.claimedLoose.clear();
    s_.claimedFiles.clear();
    s_.folderNames.clear();
  }
  std::string path() const { return c_.archivePath; }

  int steps() {
    // 1. The target folder, and which entries count.
    s_.targetPrefix.clear();
    s_.checkedFolders.clear();
    s_.entryFolders.clear();
    forgetClaims();
    s_.folders.clear();
    // A folder too long to hold any file is refused before anything is made.
    if (s_.listingMode == kModeUnload && !s_.targetFolder.empty() &&
        prepareTargetFolder(c_, s_.targetFolder) != 0)
      return kBadParameters;
    s_.allEntries = c_.names.empty();
    defaultMode_ = plat::defaultFileMode();

    // 2. The work buffer.
    work_.reset(new (std::nothrow) uint8_t[kWorkBufferSize]);
    if (!work_) {
      msg(plat::loadStr(8014));
      return kOutOfMemory;
    }

    // 3. The briefcase, read-only.
    if (!file_.open(c_.archivePath, plat::Access::Read, plat::Disposition::OpenExisting)) {
      const int err = plat::lastError();
      msg(plat::loadStrFmt(8024, c_.archivePath.c_str()));
      // "Not found" only for a briefcase that is not there.
      return err == ENOENT || err == ENOTDIR ? kNotFound : kReadSeekFailure;
    }
    input_ = std::make_unique<ArchiveInput>(file_.platformFile(), work_.get(), kWorkBufferSize - 1);
    // The briefcase's own file, which no entry may replace.
    plat::FileInfo self;
    s_.container = file_.platformFile()->info(&self) ? std::make_pair(self.device, self.inode)
                                                     : std::make_pair(uint64_t(0), uint64_t(0));

    int result = 0;
    bool stop = false;
    try {
      result = directory(&stop);
    } catch (const ReadFailure&) {
      result = kUnexpectedEof;
      stop = true;
    }
    if (stop) return result;

    int pass = 0;
    try {
      pass = s_.listingMode == kModeList ? listingPass() : unloadPass(s_.listingMode == kModeTest);
    } catch (const ReadFailure&) {
      msg(plat::loadStr(8026));
      throw TXCompress(kCompressedError, plat::loadStr(8026));
    }
    return std::max(result, pass);
  }

  // Steps 4-9: the end record, the repairs, the central directory.
  int directory(bool* stop) {
    *stop = true;
    EndRecordInfo end;
    int rc = findEndRecord(file_, &end, [this](const std::string& t) { c_.sendConfigMessage(t); });
    if (rc == kTooLarge) {
      msg(zip64Refusal(path(), "4 GB or more"));
      return kTooLarge;
    }
    // No end record: not a briefcase (the sink said so); else a read failure.
    if (rc) return rc == kWrongSignature ? kStructureInvalid : rc;
    if (!end.needsZip64.empty()) {
      msg(zip64Refusal(path(), end.needsZip64));
      return end.zip64Refused;
    }
    c_.endRecord = end.record;
    c_.comment = end.comment;
    int result = 0;
    if (end.commentMissing) {
      msg(plat::strFormat("error [%s]:  the archive comment is %u bytes longer than the file\n"
                          "  (attempting to process anyway)\n",
                          path().c_str(), end.commentMissing));
      result = raise(result, kCompressedError);
    }
    // The directory ends where the (ZIP64) end record begins.
    s_.realEnd = end.directoryEnd;
    s_.expectedEnd = int64_t(end.centralOffset) + int64_t(end.centralSize);
    int64_t offset = static_cast<int64_t>(end.centralOffset);
    const uint32_t size = static_cast<uint32_t>(end.centralSize);

    if (end.record.diskNumber != 0) {
      msg(plat::strFormat(
          "warning [%s]:  File claims to be last disk of a multi-part archive;\n"
          "  attempting to process anyway, assuming all parts have been concatenated\n"
          "  together in order.  Expect \"errors\" and warnings...true multi-part support\n"
          "  doesn't exist yet (coming soon).\n",
          path().c_str()));
      result = raise(result, kWarning);
    }

    s_.startAdjustment = s_.realEnd - s_.expectedEnd;
    if (s_.startAdjustment < 0) {
      msg(plat::strFormat("error [%s]:  missing %ld bytes in compressed file\n"
                          "  (attempting to process anyway)\n",
                          path().c_str(), static_cast<long>(-s_.startAdjustment)));
      result = raise(result, kCompressedError);
    } else if (s_.startAdjustment > 0) {
      if (offset != 0 || size == 0) {
        msg(plat::strFormat("warning [%s]:  %ld extra byte%s at beginning or within compressed "
                            "file\n  (attempting to process anyway)\n",
                            path().c_str(), static_cast<long>(s_.startAdjustment),
                            s_.startAdjustment == 1 ? "" : "s"));
        result = raise(result, kWarning);
      } else {
        msg(plat::strFormat("error [%s]:  NULL central directory offset\n"
                            "  (attempting to process anyway)\n",
                            path().c_str()));
        offset = s_.startAdjustment;
        s_.startAdjustment = 0;
        result = raise(result, kCompressedError);
      }
    }
    s_.centralOffset = static_cast<uint32_t>(offset);

    // 7. An end record alone: nothing to read.
    if (s_.expectedEnd == 0 && size == 0) {
      msg(plat::loadStrFmt(8022, path().c_str()));
      s_.entries.clear();
      return raise(result, kWarning);
    }

    // 8. The directory must start where the record says, or where it says
    // without the adjustment (a directory size that was too large).
    if (!centralSignatureAt(offset + s_.startAdjustment)) {
      const int64_t aside = s_.startAdjustment;
      s_.startAdjustment = 0;
      if (!centralSignatureAt(offset)) {
        msg(plat::strFormat("error [%s]:  start of central directory not found;\n"
                            "  compressed file corrupt.\n%s",
                            path().c_str(), plat::loadStr(8006).c_str()));
        return kSevereError;
      }
      msg(plat::strFormat("error [%s]:  reported length of central directory is\n"
                          "  %ld bytes too long.  Compensating...\n",
                          path().c_str(), static_cast<long>(-aside)));
      result = raise(result, kCompressedError);
    }

    // 9. The central directory, read by its size (the count is checked
    // against what it holds, not trusted).
    const int64_t start = offset + s_.startAdjustment;
    TZList list;
    uint32_t preamble = 0;
    {
      ReadBuffer in(file_);
      rc = readCentralDirectory(in, static_cast<uint32_t>(start), size,
                                static_cast<uint32_t>(s_.realEnd), &list, &preamble);
    }
    // The file's position moved under the run's input: start it afresh.
    input_ = std::make_unique<ArchiveInput>(file_.platformFile(), work_.get(), kWorkBufferSize - 1);
    s_.entries.clear();
    s_.entries.reserve(list.items.size());
    for (zlitem& item : list.items) {
      TExtractEntry e;
      e.central = item.central;
      e.name = std::move(item.name);
      e.extra = std::move(item.centralExtra);
      e.host = e.central.hostSystem > 17 ? 18 : e.central.hostSystem;
      e.needsZip64 = item.needsZip64;
      bool replaced = false;
      const std::string shown = decodeName(e.name, e.central.flags, e.host, e.extra, &replaced);
      if (replaced) {
        msg(plat::strFormat("warning:  the name of entry %zu is not valid UTF-8; it is read as %s\n",
                            s_.entries.size(), printableName(shown).c_str()));
        result = raise(result, kWarning);
      }
      s_.entries.push_back(std::move(e));
    }
    const std::string held = std::to_string(s_.entries.size());
    if (rc == kTooManyEntries) {
      msg(zip64Refusal(path(), "more than 65,535 entries"));
      return kTooManyEntries;
    }
    if (rc == kUnexpectedEnd) return kUnexpectedEof;
    if (rc == kStructureInvalid) {
      msg(plat::strFormat("error:  central file header %s runs past the end of the central "
                          "directory.\n", held.c_str()));
      msg(plat::loadStr(8006));
      return kSevereError;
    }
    if (rc != kOk || s_.entries.size() < end.entries) {
      // A header without its signature, or fewer headers than counted.
      msg(plat::loadStrFmt(8002, held.c_str()));
      msg(plat::loadStr(8006));
      return kSevereError;
    }
    if (s_.entries.size() > end.entries) {
      // A count lower than the directory (or wrapped past 65,535): every
      // entry the directory holds is read, and the archive is damaged.
      msg(countMismatch(path(), end.entries, s_.entries.size()));
      result = raise(result, kCompressedError);
    }
    uint8_t sig[4];
    input_->seek(start + list.centralSize);
    if (input_->read(sig, 4)) return kUnexpectedEof;
    const uint32_t after = ByteReader(sig, 4).u32();
    if (after != kEndSig && after != kZip64EndSig) {
      msg(plat::loadStr(8001));
      result = raise(result, kWarning);
    }
    *stop = false;
    return result;
  }

  bool centralSignatureAt(int64_t pos) {
    if (pos < 0) return false;
    input_->seek(pos);
    uint8_t sig[4];
    if (input_->read(sig, 4)) return false;
    return ByteReader(sig, 4).u32() == kCentralSig;
  }

  // Whether the names list selects the entry; marks the first name that does.
  bool matchesNames(const TExtractEntry& e, std::vector<char>* used) {
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

  int listingPass() {
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

  // ---- the unload pass ----

  int unloadPass(bool test) {
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
      e.attributes = static_cast<uint8_t>((e.central.externalAttributes & 0xFF) | 0x20);
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

  void totalProgress(int p) {
    if (c_.callbacks.totalProgress) c_.callbacks.totalProgress(p);
  }
  void fileProgress(int p) {
    if (c_.callbacks.fileProgress) c_.callbacks.fileProgress(p);
  }

  // Reads the local header at the entry's offset (with the start adjustment
  // and its re-compensation). Returns 0 and the header in e.local, or the
  // result with which the entry is skipped.
  int readLocalHeader(TExtractEntry& e, int* result) {
    const bool first = entryNumber_ == 1;
    int64_t pos = int64_t(e.central.localHeaderOffset) + s_.startAdjustment;
    if (pos < 0) {
      msg(plat::loadStrFmt(8003, path().c_str(), plat::loadStr(8006).c_str()));
      *result = raise(*result, kCompressedError);
      if (!first || s_.startAdjustment == 0) return kSevereError;
      msg("  (attempting to re-compensate)\n");
      aside_ = s_.startAdjustment;
      s_.startAdjustment = 0;
      pos = e.central.localHeaderOffset;
    }
    uint8_t sig[4];
    input_->seek(pos);
    if (input_->read(sig, 4)) {
      msg(plat::loadStrFmt(8013, entryNumber_, "EOF", static_cast<long>(pos)));
      return kSevereError;
    }
    if (ByteReader(sig, 4).u32() != kLocalSig) {
      msg(plat::loadStrFmt(8013, entryNumber_, "local header sig", static_cast<long>(pos)));
      *result = raise(*result, kCompressedError);
      if ((first && s_.startAdjustment != 0) || (s_.startAdjustment == 0 && aside_ != 0)) {
        msg("  (attempting to re-compensate)\n");
        std::swap(s_.startAdjustment, aside_);
        pos = int64_t(e.central.localHeaderOffset) + s_.startAdjustment;
        input_->seek(pos);
        if (pos < 0 || input_->read(sig, 4)) {
          msg(plat::loadStrFmt(8013, entryNumber_, "EOF", static_cast<long>(pos)));
          return kSevereError;
        }
        if (ByteReader(sig, 4).u32() != kLocalSig) {
          msg(plat::loadStrFmt(8013, entryNumber_, "local header sig", static_cast<long>(pos)));
          return kSevereError;
        }
      } else {
        return kCompressedError;
      }
    }

    input_->seek(pos);
    uint8_t raw[TLocalFileHeader::kSize];
    int rc = input_->read(raw, sizeof raw);
    if (rc == kOk) {
      ByteReader r(raw, sizeof raw);
      e.local.read(r);
      e.localName.resize(e.local.nameLength);
      if (!e.localName.empty()) rc = input_->read(e.localName.data(), e.localName.size());
      e.localExtra.resize(e.local.extraLength);
      if (rc == kOk && !e.localExtra.empty())
        rc = input_->read(e.localExtra.data(), e.localExtra.size());
    }
    if (rc != kOk) {
      msg(plat::strFormat("file #%d:  bad local header\n", entryNumber_));
      return kUnexpectedEof;
    }
    return kOk;
  }

  // What disagrees between the entry's central and local headers (with the
  // data descriptor after the data when the local flags have bit 3), or "".
  // The input is left at the start of the entry's data.
  std::string localMismatch(TExtractEntry& e) {
    const int64_t dataStart = input_->position();
    if (!resolveZip64(e.localExtra, &e.local.uncompressedSize, &e.local.compressedSize, nullptr))
      return "sizes of 4 GB or more";
    TExtendedLocalHeader descriptor;
    if (e.local.flags & kFlagDescriptor) {
      input_->seek(dataStart + e.central.compressedSize);
      uint8_t d[24];
      size_t n = 0;
      while (n < sizeof d) {
        const uint8_t* p;
        const size_t got = input_->peek(sizeof d - n, &p);
        if (got == 0) break;
        std::memcpy(d + n, p, got);
        input_->consume(got);
        n += got;
      }
      input_->seek(dataStart);
      if (parseDescriptor(d, n, hasZip64(e.localExtra), &descriptor) == 0)
        return "data descriptor";
    }
    return headerMismatch(e.central, e.name, e.local, e.localName, &descriptor, false);
  }

  int handleEntry(TExtractEntry& e, bool test, bool* stopPass) {
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
  void claim(const std::string& path, const plat::FileInfo* file) {
    if (s_.claimedPaths.insert(path).second) s_.claimedLoose.emplace(looseKey(path), path);
    if (file) s_.claimedFiles.insert({file->device, file->inode});
  }

  // Whether another entry of the run has the file at this path, under this
  // spelling or, where the folder takes them for one, another.
  bool claimed(const std::string& path, const plat::FindData* found) {
    if (s_.claimedPaths.count(path)) return true;
    if (found && s_.claimedFiles.count({found->info.device, found->info.inode})) return true;
    auto range = s_.claimedLoose.equal_range(looseKey(path));
    for (auto it = range.first; it != range.second; ++it)
      if (s_.folderNames.sameTarget(path, it->second)) return true;
    return false;
  }

  // The name an entry's file is to have, before it is mapped: an MS-DOS
  // entry's backslashes are its separators.
  static std::string localNameOf(const TExtractEntry& e) {
    std::string n = e.displayName();
    if (e.host == 0 && n.find('/') == std::string::npos)
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
  void planTargets() {
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
  bool spelledOtherwise(const MappedPath& mp) const {
    if (spellings_.empty()) return false;
    if (spellings_.count(looseKey(mp.path))) return true;
    for (const std::string& f : mp.folders)
      if (spellings_.count(looseKey(f))) return true;
    return false;
  }

  // Whether the file at a target path is the briefcase, or a link to it, or
  // its path in another spelling (where a file system ignores letter case,
  // the file may have another number under each).
  bool isContainer(const std::string& path, const plat::FileInfo& info) {
    plat::FileInfo linked;
    if (info.isSymlink && plat::fileSystem().stat(path, &linked, true))
      return std::make_pair(linked.device, linked.inode) == s_.container;
    return std::make_pair(info.device, info.inode) == s_.container ||
           s_.folderNames.sameTarget(path, c_.archivePath);
  }

  // An entry that is not written here.
  static int notWritten(TExtractEntry& e, UnloadOutcome outcome, int result) {
    e.outcome = outcome;
    return result;
  }

  int handleEntryData(TExtractEntry& e, bool test, bool* stopPass) {
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
      s_.diskFullLevel = 0;
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
      if (m != kMapOk && m != 1)
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

    s_.diskFullLevel = 0;
    int r = writeEntry(e, shown, found.name.empty() ? nullptr : &found.info);
    if (r == kWriting) return result;  // finished in archive order by finishFront
    result = raise(result, r);
    if (s_.diskFullLevel > 1) {
      *stopPass = true;
      return result;
    }
    fileProgress(100);
    return result;
  }

  // What the caller's step before a replacement did with the old file.
  OldFile oldFileStep(const TExtractEntry& e, bool replacing, const std::string& target) {
    if (!replacing || !s_.callbacks.beforeReplace) return OldFile::Stays;
    return s_.callbacks.beforeReplace(e, target);
  }

  // The old file was asked to stay (the step before the replacement): the
  // entry counts as declined, and the file stays its own.
  int keptOld(TExtractEntry& e, const std::string& shown, const std::string& target) {
    msg(plat::strFormat("Not replaced: %s (the local file was kept)\n", shown.c_str()));
    plat::FileInfo old;
    claim(target, plat::fileSystem().stat(target, &old, false) ? &old : nullptr);
    return notWritten(e, UnloadOutcome::Declined, 0);
  }

  // A file that could not be created or put in place: says so with the
  // reason (a name the disk refuses is told as such and has a result of its
  // own), keeps it for the caller, and gives the entry's result.
  int cannotCreate(const std::string& target, int err) {
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
  int writeEntry(TExtractEntry& e, const std::string& shown, const plat::FileInfo* existing) {
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
    const uint32_t mode = replacing ? (existing->mode & 0777) : defaultMode_;
    if (ahead()) {
      if (e.local.method == 0 || e.local.method == 8)
        return startWrite(e, shown, exists, replacing, mode);
      goLive();  // any other method is handled here, in turn
    }

    if (!writer_.begin(target, &s_.folders)) return cannotCreate(target, plat::lastError());
    // Only data that was read whole and checked is put in place (an entry
    // of an unknown method yields none).
    int result = extract(e, writer_.file(), shown);
    if (s_.diskFullLevel > 1 || result != 0) {
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
        s_.diskFullLevel = 2;
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

  // The briefcase as a decoder's input.
  class InputSource : public DataSource {
   public:
    explicit InputSource(ArchiveInput& in) : in_(in) {}
    size_t peek(size_t max, const uint8_t** data) override { return in_.peek(max, data); }
    void consume(size_t n) override { in_.consume(n); }

   private:
    ArchiveInput& in_;
  };
  // The run's own callbacks as a decoder's sink.
  class LiveSink : public DecodeSink {
   public:
    explicit LiveSink(Run& run) : run_(run) {}
    void message(const std::string& text) override { run_.msg(text); }
    void progress(int percent) override { run_.fileProgress(percent); }

   private:
    Run& run_;
  };

  // Extracts the entry's data into `out` (nothing written when null) and
  // checks it. Returns the entry's result.
  int extract(TExtractEntry& e, plat::File* out, const std::string& shown) {
    s_.runningCrc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    s_.bytesWritten = 0;
    switch (e.local.method) {
      case 0:
      case 8:
        break;
      case 6:
        throw TXCompress(kExplodeUnsupported, "IMPLODE method not supported here.");
      default:
        msg(plat::strFormat("%s:  unknown compression method\n", shown.c_str()));
        return kWarning;
    }
    InputSource source(*input_);
    LiveSink sink(*this);
    const int result = decoder_.run(params(e, shown), source, out, sink);
    s_.runningCrc = decoder_.crc();
    s_.bytesWritten = decoder_.written();
    s_.remainingInput = decoder_.remaining();
    if (decoder_.writeFailed()) s_.diskFullLevel = 2;
    return result;
  }

  EntryDecoder::Params params(const TExtractEntry& e, const std::string& shown) const {
    EntryDecoder::Params p;
    p.method = e.local.method;
    p.compressed = s_.remainingInput;
    p.declared = s_.entrySize;
    p.crc = crc_;
    p.shown = shown;
    return p;
  }

  // ---- the unload on several threads ----
  //
  // The calling thread prepares the entries in archive order as on one
  // thread (local header, checks, name, folders, the file found, the
  // policies) and hands each to a worker with its compressed bytes (a large
  // entry's worker reads them from the briefcase itself). The worker decodes
  // them into a new unnamed file beside the target; a new file (nothing was
  // at its path) it also names as soon as the file is sound.
  // What the calling thread would have told the caller meanwhile is kept in
  // the entry's slot; finishFront replays it, entry after entry, then
  // replays what the worker said and puts a replacing file in place. So every
  // callback comes on this thread, in the order and with the content of a
  // one-thread run. Whatever needs an answer now (a replace question), or
  // depends on an entry still being written (the same path, a folder where
  // that file goes, a file an earlier entry has just named), or takes another
  // path (other methods) first finishes the entries before it and then goes
  // on "live", as on one thread. A cancel, a full disk or an error seen while
  // replaying abandons every later entry: its file is dropped (or, when
  // already named, removed again), the folders made for it go again, and it
  // counts as not handled.

  static constexpr int kWriting = -1;             // writeEntry: finished later
  static constexpr size_t kLargeEntry = 256 * 1024;  // compressed bytes beyond which the worker reads
  static constexpr size_t kBudget = 8u << 20;     // compressed bytes in flight
  static constexpr size_t kMaxSlots = 1024;       // entries prepared ahead
  static constexpr size_t kWaitBatch = 16;        // entries finished after one wait
  static constexpr size_t kMaxHeld = 64;          // of them, new files kept open for their turn

  enum class Event : uint8_t { Message, TotalProgress, FileProgress, CancelCheck };
  struct Recorded {
    Event kind;
    int value;
    std::string text;
  };
  struct Abandoned {};  // unwinds the preparation of an entry that will not be handled

  struct Slot {
    TExtractEntry* e = nullptr;
    std::vector<Recorded> events;  // what its preparation said
    size_t emitted = 0;
    bool live = false;  // handled as on one thread (everything before it was finished)
    int result = 0;
    bool stop = false;     // a live entry ended the pass
    bool notAll = false;   // not unloaded (no file of its own to write)
    bool keeps = false;    // a folder entry: its folders stay
    WriteJobPtr job;
    size_t jobEvents = 0;  // the worker's events replayed so far
    std::string target, shown;
    bool exists = false, replacing = false;
    std::vector<std::string> folders;  // made for it, outermost first
    std::exception_ptr error;          // its preparation failed: the run ends there
  };

  bool ahead() const { return pool_ && cur_ && !cur_->live; }

  void record() {
    c_.callbacks.message = [this](const std::string& t) {
      cur_->events.push_back({Event::Message, 0, t});
    };
    c_.callbacks.totalProgress = [this](int p) { cur_->events.push_back({Event::TotalProgress, p, {}}); };
    c_.callbacks.fileProgress = [this](int p) { cur_->events.push_back({Event::FileProgress, p, {}}); };
    c_.callbacks.cancelCheck = nullptr;
  }
  void live() { c_.callbacks = real_; }

  int threadedLoop(uint64_t total, bool* stopPass) {
    real_ = c_.callbacks;
    passResult_ = 0;
    stopped_ = stopPass_ = false;
    uint64_t running = 0;
    try {
      for (TExtractEntry& e : s_.entries) {
        if (stopped_ || (slots_.empty() && c_.cancelled)) break;
        slots_.emplace_back();
        cur_ = &slots_.back();
        cur_->e = &e;
        cur_->events.push_back({Event::CancelCheck, 0, {}});
        bool failed = false;
        if (e.selected) {
          record();
          running += e.central.uncompressedSize;
          if (total) totalProgress(static_cast<int>(running * 100 / total));
          ++entryNumber_;
          try {
            prepare(e);
          } catch (const Abandoned&) {
            live();
            cur_ = nullptr;
            break;
          } catch (...) {
            // A failure of an earlier entry that ended the run left no entry
            // to prepare.
            if (slots_.empty() || cur_ != &slots_.back()) throw;
            cur_->error = std::current_exception();
            cur_->folders.insert(cur_->folders.end(), s_.entryFolders.begin(),
                                 s_.entryFolders.end());
            s_.entryFolders.clear();
            if (cur_->job) pool_->abandon(*cur_->job);
            failed = true;
          }
          live();
        }
        cur_ = nullptr;
        if (failed) break;
        while (!slots_.empty() && !stopped_ && ready(slots_.front())) finishFront();
        while ((slots_.size() >= kMaxSlots || heldOpen_ >= kMaxHeld) && !stopped_) finishFront();
        if (!slots_.empty() && !stopped_) replayFront();
      }
      while (!slots_.empty() && !stopped_) finishFront();
    } catch (...) {
      cur_ = nullptr;
      live();
      abandonAll();
      pool_.reset();
      throw;
    }
    abandonAll();
    pool_.reset();  // joins the workers
    *stopPass = stopPass_;
    return passResult_;
  }

  bool ready(Slot& sl) { return !sl.job || pool_->done(*sl.job); }

  // What the first entry and its worker said so far reaches the caller
  // while the entries after it are prepared (its progress, the cancel check).
  void replayFront() {
    Slot& sl = slots_.front();
    if (!replayEvents(sl)) {
      stopped_ = true;
      abandonAll();
      return;
    }
    if (!sl.job) return;
    std::vector<JobEvent> evs;
    pool_->events(*sl.job, sl.jobEvents, &evs, false);
    sl.jobEvents += evs.size();
    replayJobEvents(evs);
  }

  void prepare(TExtractEntry& e) {
    s_.entryFolders.clear();
    e.outcome = UnloadOutcome::Failed;
    bool stop = false;
    const int result = handleEntryData(e, false, &stop);
    Slot& sl = *cur_;
    sl.result = result;
    if (sl.live) {
      // As handleEntry on one thread.
      sl.stop = stop;
      if (e.outcome == UnloadOutcome::Unloaded) {
        s_.entryFolders.clear();
      } else {
        s_.notAllUnloaded = true;
        removeEntryFolders(c_);
      }
      return;
    }
    sl.folders = std::move(s_.entryFolders);
    s_.entryFolders.clear();
    if (sl.job) return;
    if (e.outcome == UnloadOutcome::Unloaded) {
      // A folder entry: its folders stay, unless it is abandoned.
      sl.keeps = true;
      sl.target = mapPath(s_.targetPrefix, s_.targetPath, s_.renamed).path;
    } else {
      sl.notAll = true;
      removeFolders(sl.folders);
    }
  }

  // Whether an entry still being written has its file at the mapped path or
  // at one of the folders on its way, or made a folder at the mapped path
  // (which goes again if that entry fails).
  bool writingAnyOf(const MappedPath& mp) const {
    for (const Slot& sl : slots_) {
      if (!sl.job || &sl == cur_) continue;
      if (sl.target == mp.path) return true;
      for (const std::string& f : mp.folders)
        if (sl.target == f) return true;
      for (const std::string& f : sl.folders)
        if (f == mp.path) return true;
    }
    return false;
  }

  // Finishes the entries before the current one; from then on the current
  // one is handled as on one thread.
  void goLive() {
    while (&slots_.front() != cur_) drainFront();
    live();
    if (!replayEvents(*cur_)) {
      stopped_ = true;
      abandonAll();
      throw Abandoned();
    }
    cur_->live = true;
  }

  // Finishes the first entry while the current one is being prepared.
  void drainFront() {
    live();
    finishFront();
    if (stopped_) throw Abandoned();
    if (!cur_->live) record();
  }

  int startWrite(TExtractEntry& e, const std::string& shown, bool exists, bool replacing,
                 uint32_t mode) {
    Slot& sl = *cur_;
    LocalFileWriter::sweep(s_.targetPath, &s_.folders);
    auto job = std::make_shared<WriteJob>();
    job->entry = e;
    job->target = s_.targetPath;
    job->folders = &s_.folders;
    job->params = params(e, shown);
    job->mode = mode;
    job->durable = replacing;
    job->placeEarly = !exists;
    sl.target = s_.targetPath;
    sl.shown = shown;
    sl.exists = exists;
    sl.replacing = replacing;
    // A small entry goes with the whole of its compressed bytes; a large one
    // is read by its worker, while this thread goes on to the next entries.
    // The slot has its job only once the job is submitted (abandoning waits
    // for a submitted job to end).
    const uint32_t left = s_.remainingInput;
    if (left <= kLargeEntry) {
      waitForRoom(sl, left);
      std::vector<uint8_t> data = readChunk(left);
      sl.job = job;
      pool_->submit(job, std::move(data));
    } else {
      job->source = file_.platformFile();
      job->sourceAt = static_cast<uint64_t>(input_->position());
      sl.job = job;
      pool_->submit(job);
    }
    if (!job->placeEarly) ++heldOpen_;
    return kWriting;
  }

  // Up to `want` bytes of the briefcase; fewer at its end.
  std::vector<uint8_t> readChunk(size_t want) {
    std::vector<uint8_t> chunk;
    chunk.reserve(want);
    while (chunk.size() < want) {
      const uint8_t* p;
      const size_t got = input_->peek(want - chunk.size(), &p);
      if (got == 0) break;
      chunk.insert(chunk.end(), p, p + got);
      input_->consume(got);
    }
    return chunk;
  }

  // Waits until `bytes` more compressed bytes may be in flight: finishes
  // the entries before the current one (with none before it, it goes).
  void waitForRoom(Slot& sl, size_t bytes) {
    while (!pool_->roomFor(bytes) && &slots_.front() != &sl) drainFront();
  }

  // Replays what an entry's preparation said; false when the run was
  // cancelled before its turn.
  bool replayEvents(Slot& sl) {
    while (sl.emitted < sl.events.size()) {
      const Recorded& ev = sl.events[sl.emitted++];
      switch (ev.kind) {
        case Event::CancelCheck:
          if (c_.cancelled) return false;
          if (c_.callbacks.cancelCheck) c_.callbacks.cancelCheck(c_.cancelled);
          break;
        case Event::Message: msg(ev.text); break;
        case Event::TotalProgress: totalProgress(ev.value); break;
        case Event::FileProgress: fileProgress(ev.value); break;
      }
    }
    return true;
  }

  void replayJobEvents(const std::vector<JobEvent>& evs) {
    for (const JobEvent& ev : evs) {
      if (ev.progress)
        fileProgress(ev.percent);
      else
        msg(ev.text);
    }
  }

  // The first entry, in turn: what it said, what its worker said, its file
  // put in place, its result. Called with the caller's callbacks in force.
  void finishFront() {
    Slot& sl = slots_.front();
    if (sl.job && !pool_->done(*sl.job)) waitForSeveral();
    if (!replayEvents(sl)) {
      stopped_ = true;
      abandonAll();
      return;
    }
    if (sl.error) {
      // As on one thread: the run ends with this entry's failure.
      std::exception_ptr error = sl.error;
      s_.entryFolders = std::move(sl.folders);
      slots_.pop_front();
      std::rethrow_exception(error);
    }
    TExtractEntry& e = *sl.e;
    int result = sl.result;
    bool stop = sl.stop;
    if (sl.job) {
      result = raise(result, finishWrite(sl, &stop));
      if (e.outcome != UnloadOutcome::Unloaded) {
        s_.notAllUnloaded = true;
        dropFolders(sl);
      }
      release(sl);
    } else if (sl.notAll) {
      s_.notAllUnloaded = true;
    }
    passResult_ = raise(passResult_, result);
    slots_.pop_front();
    if (stop) {
      stopPass_ = stopped_ = true;
      abandonAll();
    }
  }

  // The first entry is still being written: rather than wake up for each
  // entry, waits until a few entries after it are done too (the workers take
  // them in order, so those before are most likely done as well).
  void waitForSeveral() {
    WriteJob* last = nullptr;
    const size_t n = std::min(slots_.size(), kWaitBatch);
    for (size_t i = n; i-- > 1;) {
      if (slots_[i].job) {
        last = slots_[i].job.get();
        break;
      }
    }
    if (last) pool_->waitFor(*last);
  }

  // The end of writeEntry for an entry written on a worker.
  int finishWrite(Slot& sl, bool* stop) {
    WriteJob& job = *sl.job;
    for (;;) {
      const bool done = pool_->done(job);
      std::vector<JobEvent> evs;
      pool_->events(job, sl.jobEvents, &evs, !done);
      sl.jobEvents += evs.size();
      replayJobEvents(evs);
      if (done && evs.empty()) break;
    }
    if (job.readFailed || job.outOfMemory) {
      // As on one thread, the run ends here: the entries after this one are
      // left as if never reached, and its folders go.
      const bool memory = job.outOfMemory;
      std::vector<std::string> folders = std::move(sl.folders);
      release(sl);
      slots_.pop_front();
      stopped_ = true;
      abandonAll();
      s_.entryFolders = std::move(folders);
      if (memory) throw std::bad_alloc();
      throw ReadFailure();
    }
    TExtractEntry& e = *sl.e;
    s_.diskFullLevel = 0;
    int r = 0;
    if (job.beginError) {
      r = cannotCreate(sl.target, job.beginError);
    } else if (job.writeFailed || job.result != 0) {
      job.writer.rollback();
      if (job.writeFailed) s_.diskFullLevel = 2;
      r = job.writeFailed ? kDiskFull : job.result;
    } else {
      plat::FileInfo written;
      const auto keepOld = [&] { return oldFileStep(e, sl.replacing, sl.target); };
      bool placed = false;
      if (job.syncError) {
        job.writer.rollback();
        plat::setLastError(job.syncError);
      } else if (job.placeEarly) {
        placed = job.placed;
        written = job.written;
        if (!placed) plat::setLastError(job.placeError);
      } else {
        placed = job.writer.commit(sl.exists, false, &written, keepOld);
      }
      const int err = placed ? 0 : plat::lastError();
      if (err == ECANCELED) {
        keptOld(e, sl.shown, sl.target);
      } else if (!placed) {
        if (plat::isDiskFull(err)) {
          msg(plat::loadStrFmt(8029, sl.shown.c_str()));
          s_.diskFullLevel = 2;
          r = kDiskFull;
        } else {
          r = cannotCreate(sl.target, err);
        }
      } else {
        claim(sl.target, &written);
        s_.filesWritten++;
        e.outcome = UnloadOutcome::Unloaded;
        if (s_.callbacks.entryWritten) s_.callbacks.entryWritten(e, sl.target);
      }
    }
    if (s_.diskFullLevel > 1)
      *stop = true;
    else
      fileProgress(100);
    return r;
  }

  static bool under(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() &&
                              path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
  }

  // The folders made for an entry that was not written go again, except
  // those a later entry already prepared has its path in: on one thread
  // that entry would have made them again, so they become its own.
  void dropFolders(Slot& sl) {
    for (auto it = sl.folders.rbegin(); it != sl.folders.rend(); ++it) {
      std::vector<std::string>* heir = nullptr;
      for (Slot& later : slots_) {
        if (&later == &sl) continue;
        const bool current = &later == cur_;
        const std::string& path = current ? s_.targetPath : later.target;
        if ((current || later.job || later.keeps) && under(path, *it)) {
          heir = current ? &s_.entryFolders : &later.folders;
          break;
        }
      }
      if (heir) {
        heir->insert(heir->begin(), *it);
      } else {
        std::vector<std::string> one{*it};
        removeFolders(one);
      }
    }
    sl.folders.clear();
  }

  // Removes folders made in this run, innermost first, when they are empty.
  void removeFolders(std::vector<std::string>& folders) {
    std::vector<std::string> current = std::move(s_.entryFolders);
    s_.entryFolders = std::move(folders);
    removeEntryFolders(c_);
    s_.entryFolders = std::move(current);
    folders.clear();
  }

  // Every entry prepared but not finished is left as if never reached.
  void abandonAll() {
    for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) {
      Slot& sl = *it;
      if (&sl == cur_) {
        sl.folders.insert(sl.folders.end(), s_.entryFolders.begin(), s_.entryFolders.end());
        s_.entryFolders.clear();
      }
      if (sl.job) {
        pool_->abandon(*sl.job);
        while (!pool_->done(*sl.job)) {
          std::vector<JobEvent> ignored;
          pool_->events(*sl.job, sl.jobEvents, &ignored, true);
          sl.jobEvents += ignored.size();
        }
        sl.job->writer.rollback();
        if (sl.job->placed) removePlaced(*sl.job);
      }
      sl.e->outcome = UnloadOutcome::NotHandled;
      removeFolders(sl.folders);
    }
    slots_.clear();
    heldOpen_ = 0;
  }

  // A new file a worker named before its turn, when its turn never came: it
  // goes again (nothing was at its path), unless something else is there now.
  static void removePlaced(const WriteJob& job) {
    plat::FileInfo now;
    if (plat::fileSystem().stat(job.target, &now, false) && now.device == job.written.device &&
        now.inode == job.written.inode)
      plat::fileSystem().remove(job.target);
  }

  // The entry's job is over; a file it kept open for its turn is closed.
  void release(Slot& sl) {
    if (sl.job && !sl.job->placeEarly && heldOpen_ > 0) --heldOpen_;
    sl.job.reset();
  }

  TCompress& c_;
  TExtractState& s_;
  JNormFile file_;
  std::unique_ptr<uint8_t[]> work_;
  std::unique_ptr<ArchiveInput> input_;
  LocalFileWriter writer_;
  std::unique_ptr<NameSelector> selector_;
  // Per entry: why it leaves its file to another ("": it does not).
  std::vector<std::string> yieldsTo_;
  std::unordered_set<std::string> spellings_;  // loose keys the targets spell in several ways
  EntryDecoder decoder_;
  uint32_t crc_ = 0;
  int entryNumber_ = 0;
  uint32_t defaultMode_ = 0666;
  int64_t aside_ = 0;
  Policy existingPolicy_ = Policy::Ask;
  Policy newerPolicy_ = Policy::Ask;
  // The unload on several threads.
  std::unique_ptr<WritePool> pool_;
  std::deque<Slot> slots_;
  Slot* cur_ = nullptr;  // the entry being prepared
  size_t heldOpen_ = 0;  // entries whose finished file waits open for its turn
  TCompressCallbacks real_;  // the caller's callbacks, while a preparation's are kept
  int passResult_ = 0;
  bool stopped_ = false, stopPass_ = false;
};

}  // namespace

std::string TExtractEntry::displayName() const {
  return decodeName(name, central.flags, host, extra);
}

int ListRun(TCompress& c) {
  c.cancelled = false;
  c.extract.listingMode = kModeList;
  c.extract.targetFolder.clear();
  c.names.clear();
  return Run(c).go();
}

int UnloadRun(TCompress& c) {
  c.cancelled = false;
  c.extract.listingMode = kModeUnload;
  c.extract.notAllUnloaded = false;
  c.extract.filesWritten = 0;
  c.extract.notWritten.clear();
  return Run(c).go();
}

int TestRun(TCompress& c) {
  c.cancelled = false;
  c.extract.listingMode = kModeTest;
  return Run(c).go();
}

bool answerForModalResult(int modalResult, uint8_t* answer) {
  switch (modalResult) {
    case plat::mrRename: *answer = kAnswerRename; return true;
    case plat::mrYes: *answer = kAnswerYes; return true;
    case plat::mrYesToAll: *answer = kAnswerYesToAll; return true;
    case plat::mrNoToAll: *answer = kAnswerNoToAll; return true;
    case plat::mrNo: *answer = kAnswerNo; return true;
    default: return false;
  }
}

std::string replaceDetails(uint32_t size, plat::FileTime time) {
  plat::SystemTime lt;
  std::string date = "error with date";
  if (plat::fileTimeToLocal(time, &lt))
    date = plat::strFormat("%04d-%02d-%02d %02d:%02d", lt.year, lt.month, lt.day, lt.hour,
                           lt.minute);
  return plat::loadStrFmt(8070, static_cast<int>(size), date.c_str());
}

void askReplaceThroughAsker(std::string& targetPath, plat::FileTime existingTime,
                            plat::FileTime entryTime, uint32_t existingSize, uint32_t entrySize,
                            uint8_t& answer, bool* cancel) {
  plat::ReplaceQuestion q;
  q.existingPath = targetPath;
  q.existingDetails = replaceDetails(existingSize, existingTime);
  q.newDetails = replaceDetails(entrySize, entryTime);
  q.existingSize = existingSize;
  q.existingTime = existingTime;
  q.newSize = entrySize;
  q.newTime = entryTime;
  std::string newPath;
  const int r = plat::asker().confirmReplace(q, &newPath);
  if (r == plat::mrCancel) {
    if (cancel) *cancel = true;
    answer = kAnswerNo;
    return;
  }
  // A path beyond the bound is refused by the unload, never cut.
  if (answerForModalResult(r, &answer) && r == plat::mrRename) targetPath = newPath;
}

}  // namespace archive
