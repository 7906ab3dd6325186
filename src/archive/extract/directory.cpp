// The run's outline, the end record and the central directory (with their
// repairs), and each entry's local header with its checks.
#include "archive/extract/run.h"

#include <cerrno>
#include <new>

#include "archive/append.h"
#include "archive/aes.h"
#include "archive/errors.h"
#include "archive/extract/restore.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "archive/namecode.h"

namespace archive::engine {

int Run::go() {
  int result = 0;
  try {
    result = steps();
  } catch (const TXCompress&) {
    // An imploded entry or a read failure of the briefcase ends the run.
    result = kSevereError;
  } catch (const std::bad_alloc&) {
    c_.sendMessage(plat::loadStr(plat::kStrNoUnloadBuffers));
    result = kOutOfMemory;
  }
  local_.rollback();
  removeEntryFolders(c_);
  file_.close();
  s_.targetPrefix.clear();
  s_.checkedFolders.clear();
  forgetClaims();
  s_.folders.clear();
  input_.reset();
  buffer_.reset();
  if (c_.cancelled) result = kInterrupted;
  return result;
}

int Run::steps() {
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

  // 2. The read buffer, which every reader of the briefcase shares.
  try {
    buffer_ = std::make_unique<ReadBuffer>(file_);
  } catch (const std::bad_alloc&) {
    msg(plat::loadStr(plat::kStrNoUnloadBuffers));
    return kOutOfMemory;
  }
  input_ = std::make_unique<ArchiveInput>(*buffer_);

  // 3. The briefcase, read-only (an append that was interrupted is undone first).
  undoInterruptedAppend(c_.archivePath, c_.update.heldLock.get(),
                        [this](const std::string& t) { c_.sendConfigMessage(t); });
  if (!file_.open(c_.archivePath, plat::Access::Read, plat::Disposition::OpenExisting)) {
    const int err = plat::lastError();
    msg(plat::loadStrFmt(plat::kStrCannotOpenBriefcase, c_.archivePath.c_str()));
    // "Not found" only for a briefcase that is not there.
    return err == ENOENT || err == ENOTDIR ? kNotFound : kReadSeekFailure;
  }
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
    msg(plat::loadStr(plat::kStrBriefcaseReadError));
    throw TXCompress(kCompressedError, plat::loadStr(plat::kStrBriefcaseReadError));
  }
  return std::max(result, pass);
}

// Steps 4-9: the end record, the repairs, the central directory.
int Run::directory(bool* stop) {
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
  // So is an empty directory right before its end record, wherever that
  // stands (a briefcase without entries that carries deletions).
  if (size == 0 && (s_.expectedEnd == 0 || (s_.startAdjustment == 0 && end.entries == 0))) {
    msg(plat::loadStrFmt(plat::kStrBriefcaseEmpty, path().c_str()));
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
                          path().c_str(), plat::loadStr(plat::kStrBinaryModeHint).c_str()));
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
  // Through the run's one buffer; a failed read ends the directory as its
  // end would.
  rc = readCentralDirectory(*buffer_, static_cast<uint32_t>(start), size,
                            static_cast<uint32_t>(s_.realEnd), &list, &preamble);
  s_.entries.clear();
  s_.entries.reserve(list.items.size());
  for (zlitem& item : list.items) {
    TExtractEntry e;
    e.central = item.central;
    e.name = std::move(item.name);
    e.extra = std::move(item.centralExtra);
    e.host = e.central.hostSystem > kHostLastKnown ? kHostUnknown : e.central.hostSystem;
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
    msg(plat::loadStr(plat::kStrBinaryModeHint));
    return kSevereError;
  }
  if (rc != kOk || s_.entries.size() < end.entries) {
    // A header without its signature, or fewer headers than counted.
    msg(plat::loadStrFmt(plat::kStrNoCentralHeaderSig, held.c_str()));
    msg(plat::loadStr(plat::kStrBinaryModeHint));
    return kSevereError;
  }
  if (s_.entries.size() > end.entries) {
    // A count lower than the directory (or wrapped past 65,535): every
    // entry the directory holds is read, and the archive is damaged.
    msg(countMismatch(path(), end.entries, s_.entries.size()));
    result = raise(result, kCompressedError);
  }
  uint8_t sig[kSignatureSize];
  input_->seek(start + list.centralSize);
  if (input_->read(sig, sizeof sig)) return kUnexpectedEof;
  const uint32_t after = ByteReader(sig, sizeof sig).u32();
  if (after != kEndSig && after != kZip64EndSig) {
    msg(plat::loadStr(plat::kStrNoEndOfCentralDir));
    result = raise(result, kWarning);
  }
  *stop = false;
  return result;
}

bool Run::centralSignatureAt(int64_t pos) {
  if (pos < 0) return false;
  input_->seek(pos);
  uint8_t sig[kSignatureSize];
  if (input_->read(sig, sizeof sig)) return false;
  return ByteReader(sig, sizeof sig).u32() == kCentralSig;
}

// Reads the local header at the entry's offset (with the start adjustment
// and its re-compensation). Returns 0 and the header in e.local, or the
// result with which the entry is skipped.
int Run::readLocalHeader(TExtractEntry& e, int* result) {
  const bool first = entryNumber_ == 1;
  int64_t pos = int64_t(e.central.localHeaderOffset) + s_.startAdjustment;
  if (pos < 0) {
    msg(plat::loadStrFmt(plat::kStrSeekBeforeStart, path().c_str(),
                         plat::loadStr(plat::kStrBinaryModeHint).c_str()));
    *result = raise(*result, kCompressedError);
    if (!first || s_.startAdjustment == 0) return kSevereError;
    msg("  (attempting to re-compensate)\n");
    aside_ = s_.startAdjustment;
    s_.startAdjustment = 0;
    pos = e.central.localHeaderOffset;
  }
  uint8_t sig[kSignatureSize];
  input_->seek(pos);
  if (input_->read(sig, sizeof sig)) {
    msg(plat::loadStrFmt(plat::kStrBadEntryOffset, entryNumber_, "EOF", static_cast<long>(pos)));
    return kSevereError;
  }
  if (ByteReader(sig, sizeof sig).u32() != kLocalSig) {
    msg(plat::loadStrFmt(plat::kStrBadEntryOffset, entryNumber_, "local header sig",
                         static_cast<long>(pos)));
    *result = raise(*result, kCompressedError);
    if ((first && s_.startAdjustment != 0) || (s_.startAdjustment == 0 && aside_ != 0)) {
      msg("  (attempting to re-compensate)\n");
      std::swap(s_.startAdjustment, aside_);
      pos = int64_t(e.central.localHeaderOffset) + s_.startAdjustment;
      input_->seek(pos);
      if (pos < 0 || input_->read(sig, sizeof sig)) {
        msg(plat::loadStrFmt(plat::kStrBadEntryOffset, entryNumber_, "EOF",
                             static_cast<long>(pos)));
        return kSevereError;
      }
      if (ByteReader(sig, sizeof sig).u32() != kLocalSig) {
        msg(plat::loadStrFmt(plat::kStrBadEntryOffset, entryNumber_, "local header sig",
                             static_cast<long>(pos)));
        return kSevereError;
      }
    } else {
      return kCompressedError;
    }
  }

  input_->seek(pos);
  const int rc = input_->readWith(
      [&](JFile& f) { return readLocalRecord(f, &e.local, &e.localName, &e.localExtra); });
  if (rc != kOk) {
    msg(plat::strFormat("file #%d:  bad local header\n", entryNumber_));
    return kUnexpectedEof;
  }
  return kOk;
}

// What disagrees between the entry's central and local headers (with the
// data descriptor after the data when the local flags have bit 3), or "".
// The input is left at the start of the entry's data.
std::string Run::localMismatch(TExtractEntry& e) {
  const int64_t dataStart = input_->position();
  if (!resolveZip64(e.localExtra, &e.local.uncompressedSize, &e.local.compressedSize, nullptr))
    return "sizes of 4 GB or more";
  TExtendedLocalHeader descriptor;
  if (e.local.flags & kFlagDescriptor) {
    // What the file holds of it: fewer bytes at its end.
    const int64_t at = dataStart + e.central.compressedSize;
    size_t length = 0;
    input_->seek(at);
    input_->readWith([&](JFile& f) {
      bool whole = false;
      length = readDescriptor(f, at, kLongestDescriptor, hasZip64(e.localExtra), &descriptor,
                              &whole);
      return kOk;
    });
    input_->seek(dataStart);
    if (length == 0) return "data descriptor";
  }
  std::string mismatch = headerMismatch(e.central, e.name, e.local, e.localName, &descriptor, false);
  if (mismatch.empty() && e.local.method == aes::kMethodAes) {
    // The local AES block says how the data is written: it must say what
    // the central one says.
    aes::Info central, local;
    std::string problem;
    if (aes::findInfo(e.extra, &central, &problem) != 1 || aes::findInfo(e.localExtra, &local, &problem) != 1 ||
        central.version != local.version || central.strength != local.strength || central.method != local.method)
      mismatch = "AES block";
  }
  return mismatch;
}

}  // namespace archive::engine
