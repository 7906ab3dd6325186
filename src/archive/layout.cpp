#include "archive/layout.h"

#include <algorithm>
#include <cerrno>

#include "archive/errors.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace archive {

// ---- records ----

// ---- JNormFile ----

JNormFile::JNormFile(const std::string& path, plat::Access access, plat::Disposition disposition) {
  open(path, access, disposition);
}

JNormFile::JNormFile(std::unique_ptr<plat::File> file, std::string path)
    : file_(std::move(file)), path_(std::move(path)) {}

JNormFile::~JNormFile() { close(); }

bool JNormFile::open(const std::string& path, plat::Access access, plat::Disposition disposition) {
  close();
  path_ = path;
  position_ = 0;
  lastTransfer_ = 0;
  file_ = plat::fileSystem().open(path, access, disposition);
  return file_ != nullptr;
}

int JNormFile::read(void* buf, uint32_t count) {
  lastTransfer_ = 0;
  readFailed_ = false;
  if (!file_) return kReadSeekFailure;
  size_t got = 0;
  bool ok = file_->read(buf, count, &got);
  readFailed_ = !ok;
  lastTransfer_ = static_cast<uint32_t>(got);
  position_ += lastTransfer_;
  if (!ok) return got < count ? kUnexpectedEnd : kOk;
  return got < count ? kUnexpectedEnd : kOk;
}

int JNormFile::write(const void* buf, uint32_t count) {
  lastTransfer_ = 0;
  if (!file_) return kWriteFailure;
  size_t put = 0;
  bool ok = file_->write(buf, count, &put);
  lastTransfer_ = static_cast<uint32_t>(put);
  position_ += lastTransfer_;
  if (!ok) {
    // Nothing written and a failure other than a full disk: the write failed.
    if (put == 0 && !plat::isDiskFull(plat::lastError())) return kWriteFailure;
    return kDiskMayBeFull;
  }
  return put < count ? kDiskMayBeFull : kOk;
}

int JNormFile::seek(int64_t distance, SeekOrigin origin) {
  if (!file_) return kReadSeekFailure;
  plat::Origin o = origin == SeekOrigin::Begin     ? plat::Origin::Begin
                   : origin == SeekOrigin::Current ? plat::Origin::Current
                                                   : plat::Origin::End;
  uint64_t pos = 0;
  if (!file_->seek(distance, o, &pos)) {
    return plat::lastError() == EINVAL ? kUnexpectedEnd : kReadSeekFailure;
  }
  if (pos > 0xffffffffULL) return kReadSeekFailure;
  position_ = static_cast<uint32_t>(pos);
  return kOk;
}

int JNormFile::size(uint32_t* out) {
  if (!file_) return kSystemError;
  uint64_t s = 0;
  if (!file_->size(&s)) return kSystemError;
  if (s > 0xffffffffULL) return kTooLarge;
  *out = static_cast<uint32_t>(s);
  return kOk;
}

int64_t JNormFile::search(uint32_t rangeStart, uint32_t rangeEnd, const uint8_t* pattern,
                          uint32_t patternLength, bool backwards) {
  if (!file_ || patternLength == 0 || rangeEnd < rangeStart ||
      rangeEnd - rangeStart < patternLength)
    return -1;
  const uint32_t overlap = patternLength - 1;
  std::vector<uint8_t> block(kEndSearchBlock + overlap);
  auto scan = [&](uint32_t start, uint32_t len, bool last) -> int64_t {
    if (seek(start, SeekOrigin::Begin) != kOk) return -2;
    if (read(block.data(), len) != kOk) return -2;
    if (len < patternLength) return -1;
    if (last) {
      for (uint32_t i = len - patternLength + 1; i-- > 0;)
        if (std::equal(pattern, pattern + patternLength, block.data() + i)) return start + i;
    } else {
      for (uint32_t i = 0; i + patternLength <= len; ++i)
        if (std::equal(pattern, pattern + patternLength, block.data() + i)) return start + i;
    }
    return -1;
  };
  if (backwards) {
    // Blocks from the end towards the start; each block reaches `overlap`
    // bytes into the one read before, so a pattern across a boundary is seen.
    uint32_t end = rangeEnd;
    while (end > rangeStart) {
      uint32_t blockStart = end - rangeStart > kEndSearchBlock ? end - kEndSearchBlock : rangeStart;
      uint32_t len = std::min<uint32_t>(end + overlap, rangeEnd) - blockStart;
      int64_t hit = scan(blockStart, len, true);
      if (hit >= 0) return hit;
      if (hit == -2) return -1;
      end = blockStart;
    }
  } else {
    uint32_t start = rangeStart;
    while (start < rangeEnd) {
      uint32_t len = std::min<uint32_t>(rangeEnd - start, kEndSearchBlock + overlap);
      int64_t hit = scan(start, len, false);
      if (hit >= 0) return hit;
      if (hit == -2) return -1;
      if (start + len >= rangeEnd) break;
      start += kEndSearchBlock;
    }
  }
  return -1;
}

bool JNormFile::truncateHere() { return file_ && file_->truncateHere(); }
bool JNormFile::sync() { return file_ && file_->sync(); }
bool JNormFile::lockExclusive() { return file_ && file_->lockExclusive(); }

bool JNormFile::close() {
  if (!file_) return true;
  bool ok = file_->close();
  file_.reset();
  return ok;
}

// ---- entry list ----

void TZList::append(zlitem item) {
  totalUncompressed += item.central.uncompressedSize;
  centralSize += static_cast<uint32_t>(TCentralFileHeader::kSize + item.central.nameLength +
                                       item.central.extraLength + item.central.commentLength);
  items.push_back(std::move(item));
}

// ---- procedures ----

namespace {

uint64_t u64(ByteReader& r) {
  uint64_t lo = r.u32();
  return lo | (uint64_t(r.u32()) << 32);
}

// Reads the ZIP64 end record that a locator right before the end record at
// `position` points to. False when there is none (or it cannot be read).
bool readZip64End(JFile& f, uint32_t position, EndRecordInfo* out) {
  constexpr uint32_t kLocatorSize = 20, kRecordSize = 56;
  if (position < kLocatorSize + kRecordSize) return false;
  uint8_t loc[kLocatorSize];
  if (f.seek(position - kLocatorSize, SeekOrigin::Begin) != kOk || f.read(loc, sizeof loc) != kOk)
    return false;
  ByteReader lr(loc, sizeof loc);
  if (lr.u32() != kZip64LocatorSig) return false;
  lr.u32();  // the disk of the ZIP64 end record
  const uint64_t at = u64(lr);
  if (at > position - kLocatorSize - kRecordSize) return false;
  uint8_t rec[kRecordSize];
  if (f.seek(static_cast<int64_t>(at), SeekOrigin::Begin) != kOk || f.read(rec, sizeof rec) != kOk)
    return false;
  ByteReader r(rec, sizeof rec);
  if (r.u32() != kZip64EndSig) return false;
  r.skip(8 + 2 + 2 + 4 + 4 + 8);  // record size, versions, disks, entries on this disk
  out->entries = u64(r);
  out->centralSize = u64(r);
  out->centralOffset = u64(r);
  out->directoryEnd = static_cast<uint32_t>(at);
  out->zip64 = true;
  return true;
}

}  // namespace

int findEndRecord(JFile& f, EndRecordInfo* out, const MessageSink& configMessage) {
  plat::setLastError(0);
  uint32_t fileSize = 0;
  if (int rc = f.size(&fileSize)) return rc;
  out->fileSize = fileSize;
  const uint32_t rangeStart = fileSize > kEndSearchRange ? fileSize - kEndSearchRange : 0;
  static const uint8_t sig[4] = {'P', 'K', 5, 6};

  // Collect the candidates from the end backwards, then choose: a configuration
  // text may itself hold the signature bytes, so the last occurrence alone can
  // lie inside the comment.
  std::vector<uint32_t> candidates;
  uint32_t end = fileSize;
  while (end >= rangeStart + 4) {
    int64_t hit = f.search(rangeStart, end, sig, 4, true);
    if (hit < 0) break;
    candidates.push_back(static_cast<uint32_t>(hit));
    end = static_cast<uint32_t>(hit) + 3;  // the next search ends before this match
    if (candidates.size() > 64) break;     // a pathological file: enough to choose from
  }
  if (candidates.empty()) {
    if (configMessage) {
      const int err = plat::lastError();
      configMessage("Reached end of file before finding configuration");
      // A failed read has a text of its own; a file without the record is
      // simply something else.
      if (err != 0) configMessage(plat::lastErrorText());
      configMessage("Not a briefcase: the file has no archive end record");
    }
    return kStructureInvalid;
  }

  auto commentLengthAt = [&](uint32_t pos, uint16_t* len) -> bool {
    if (fileSize - pos < TEndCentralRecord::kSize) return false;
    uint8_t b[2];
    if (f.seek(pos + 20, SeekOrigin::Begin) != kOk || f.read(b, 2) != kOk) return false;
    *len = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
  };
  uint32_t chosen = candidates.front();
  bool exact = false;
  for (uint32_t pos : candidates) {
    uint16_t len;
    if (commentLengthAt(pos, &len) && uint64_t(pos) + 22 + len == fileSize) {
      chosen = pos;
      exact = true;
      break;
    }
  }
  if (!exact) {
    for (uint32_t pos : candidates) {
      uint16_t len;
      if (commentLengthAt(pos, &len) && uint64_t(pos) + 22 + len <= fileSize) {
        chosen = pos;
        break;
      }
    }
  }

  uint8_t raw[TEndCentralRecord::kSize];
  if (int rc = f.seek(chosen, SeekOrigin::Begin)) return rc;
  if (int rc = f.read(raw, sizeof raw)) return rc;
  ByteReader r(raw, sizeof raw);
  out->record.read(r);
  if (out->record.signature != kEndSig) return kWrongSignature;
  out->position = chosen;
  out->comment.clear();
  out->commentMissing = 0;
  if (out->record.commentLength > 0) {
    // A comment said to be longer than the file: what the file holds of it.
    const uint32_t held =
        std::min<uint32_t>(out->record.commentLength, fileSize - chosen - TEndCentralRecord::kSize);
    out->commentMissing = out->record.commentLength - held;
    out->comment.resize(held);
    if (held)
      if (int rc = f.read(out->comment.data(), held)) return rc;
  }
  out->centralEnd = out->record.centralOffset + out->record.centralSize;
  out->directoryEnd = chosen;
  out->entries = out->record.entriesTotal;
  out->centralSize = out->record.centralSize;
  out->centralOffset = out->record.centralOffset;
  out->zip64 = false;
  out->needsZip64.clear();
  out->zip64Refused = 0;
  if (readZip64End(f, chosen, out)) {
    if (out->entries > kMaxEntries) {
      out->needsZip64 = "more than 65,535 entries";
      out->zip64Refused = kTooManyEntries;
    } else if (out->centralSize > kMax32 || out->centralOffset > kMax32 ||
               out->centralSize + out->centralOffset > kMax32) {
      out->needsZip64 = "4 GB or more";
      out->zip64Refused = kTooLarge;
    } else
      out->centralEnd = static_cast<uint32_t>(out->centralOffset + out->centralSize);
  }
  return kOk;
}

bool hasZip64(const std::vector<uint8_t>& extra) {
  ByteReader r(extra);
  while (r.remaining() >= 4) {
    const uint16_t id = r.u16(), len = r.u16();
    if (id == kExtraZip64) return true;
    if (!r.skip(len)) break;
  }
  return false;
}

bool resolveZip64(const std::vector<uint8_t>& extra, uint32_t* uncompressed, uint32_t* compressed,
                  uint32_t* offset) {
  ByteReader r(extra);
  while (r.remaining() >= 4) {
    const uint16_t id = r.u16(), len = r.u16();
    if (id != kExtraZip64) {
      if (!r.skip(len)) break;
      continue;
    }
    std::vector<uint8_t> block;
    if (!r.bytes(len, &block)) break;
    ByteReader b(block);
    bool fits = true;
    for (uint32_t* field : {uncompressed, compressed, offset}) {
      if (!field || *field != 0xffffffffu || b.remaining() < 8) continue;
      const uint64_t v = u64(b);
      if (v > kMax32)
        fits = false;
      else
        *field = static_cast<uint32_t>(v);
    }
    return fits;
  }
  return true;
}

size_t parseDescriptor(const uint8_t* p, size_t n, bool zip64, TExtendedLocalHeader* out) {
  ByteReader r(p, n);
  size_t start = 0;
  if (n >= 4 && ByteReader(p, 4).u32() == kDescriptorSig) start = 4, r.skip(4);
  const size_t length = start + 4 + (zip64 ? 16 : 8);
  if (n < length) return 0;
  out->signature = kDescriptorSig;
  out->crc = r.u32();
  if (zip64) {
    const uint64_t cs = u64(r), us = u64(r);
    if (cs > kMax32 || us > kMax32) return 0;
    out->compressedSize = static_cast<uint32_t>(cs);
    out->uncompressedSize = static_cast<uint32_t>(us);
  } else {
    out->compressedSize = r.u32();
    out->uncompressedSize = r.u32();
  }
  return length;
}

size_t readDescriptor(JFile& f, int64_t at, uint64_t available, bool zip64,
                      TExtendedLocalHeader* out, bool* whole) {
  *whole = false;
  uint8_t d[kLongestDescriptor];
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(sizeof d, available));
  if (f.seek(at, SeekOrigin::Begin) != kOk) return 0;
  *whole = f.read(d, n) == kOk;
  return parseDescriptor(d, f.lastTransfer(), zip64, out);
}

std::string headerMismatch(const TCentralFileHeader& c, const std::string& centralName,
                           const TLocalFileHeader& l, const std::string& localName,
                           const TExtendedLocalHeader* descriptor, bool strict) {
  uint32_t crc = l.crc, csize = l.compressedSize, usize = l.uncompressedSize;
  if ((l.flags & kFlagDescriptor) && descriptor) {
    crc = descriptor->crc;
    csize = descriptor->compressedSize;
    usize = descriptor->uncompressedSize;
  }
  std::string out;
  auto differ = [&](bool cond, const char* what) {
    if (!cond) return;
    if (!out.empty()) out += ", ";
    out += what;
  };
  differ(l.nameLength != c.nameLength || localName.size() != centralName.size() ||
             localName != centralName,
         "name");
  if (strict)
    differ(l.versionNeeded != c.versionNeeded || l.versionNeededHost != c.versionNeededHost,
           "version needed");
  differ((l.flags & 0x1f) != (c.flags & 0x1f), "flags");
  differ(l.method != c.method, "method");
  if (strict) {
    differ(l.time != c.time, "time");
    differ(l.date != c.date, "date");
  }
  differ(crc != c.crc, "CRC");
  differ(csize != c.compressedSize, "compressed size");
  differ(usize != c.uncompressedSize, "uncompressed size");
  return out;
}

std::string countMismatch(const std::string& path, uint64_t stated, size_t held) {
  if (stated == held) return std::string();
  return plat::strFormat(
      "error [%s]:  the end record counts %llu entr%s, but the central directory holds %llu\n",
      path.c_str(), static_cast<unsigned long long>(stated), stated == 1 ? "y" : "ies",
      static_cast<unsigned long long>(held));
}

std::string zip64Refusal(const std::string& path, const std::string& what) {
  return plat::strFormat(
      "error [%s]:  the archive needs the ZIP64 extensions (%s); archives of 4 GB or more and "
      "archives of more than 65,535 entries are not supported\n",
      path.c_str(), what.c_str());
}

int readCentralDirectory(JFile& f, uint32_t offset, uint32_t size, uint32_t limit, TZList* list,
                         uint32_t* preamble) {
  list->clear();
  *preamble = 0;
  if (offset > limit) return kStructureInvalid;
  const uint64_t end = std::min<uint64_t>(uint64_t(offset) + size, limit);
  if (f.seek(offset, SeekOrigin::Begin) != kOk) return kStructureInvalid;
  uint64_t pos = offset;
  uint32_t lowest = 0xffffffffu;
  while (pos < end) {
    if (list->items.size() >= kMaxEntries) return kTooManyEntries;
    if (end - pos < TCentralFileHeader::kSize) return kStructureInvalid;
    uint8_t raw[TCentralFileHeader::kSize];
    if (int rc = f.read(raw, sizeof raw)) return rc;
    ByteReader r(raw, sizeof raw);
    zlitem item;
    item.central.read(r);
    if (item.central.signature != kCentralSig) return kWrongSignature;
    pos += TCentralFileHeader::kSize;
    uint64_t var = uint64_t(item.central.nameLength) + item.central.extraLength +
                   item.central.commentLength;
    if (pos + var > end) return kStructureInvalid;
    std::vector<uint8_t> name(item.central.nameLength);
    if (!name.empty())
      if (int rc = f.read(name.data(), static_cast<uint32_t>(name.size()))) return rc;
    item.name.assign(name.begin(), name.end());
    item.centralExtra.resize(item.central.extraLength);
    if (!item.centralExtra.empty())
      if (int rc = f.read(item.centralExtra.data(), item.central.extraLength)) return rc;
    item.comment.resize(item.central.commentLength);
    if (!item.comment.empty())
      if (int rc = f.read(item.comment.data(), item.central.commentLength)) return rc;
    pos += var;
    item.needsZip64 = !resolveZip64(item.centralExtra, &item.central.uncompressedSize,
                                    &item.central.compressedSize, &item.central.localHeaderOffset);
    lowest = std::min(lowest, item.central.localHeaderOffset);
    list->append(std::move(item));
  }
  *preamble = list->items.empty() ? 0 : lowest;
  return kOk;
}

int checkEntries(JFile& f, TZList& list, uint32_t limit) {
  for (zlitem& item : list.items) {
    const TCentralFileHeader& c = item.central;
    if (item.needsZip64) return kTooLarge;
    if (uint64_t(c.localHeaderOffset) + TLocalFileHeader::kSize > limit) return kStructureInvalid;
    if (f.seek(c.localHeaderOffset, SeekOrigin::Begin) != kOk) return kStructureInvalid;
    if (readLocalRecord(f, &item.local, &item.localName, &item.localExtra) != kOk)
      return kStructureInvalid;
    TLocalFileHeader& l = item.local;
    if (l.signature != kLocalSig) return kStructureInvalid;
    uint64_t dataStart = uint64_t(c.localHeaderOffset) + TLocalFileHeader::kSize + l.nameLength +
                         l.extraLength;
    if (dataStart > limit) return kStructureInvalid;
    const bool zip64 = hasZip64(item.localExtra);
    if (!resolveZip64(item.localExtra, &l.uncompressedSize, &l.compressedSize, nullptr))
      return kTooLarge;

    item.descriptorLength = 0;
    if (l.flags & kFlagDescriptor) {
      uint32_t dataSize = l.compressedSize ? l.compressedSize : c.compressedSize;
      uint64_t descPos = dataStart + dataSize;
      if (descPos > limit) return kStructureInvalid;
      bool whole = false;
      const size_t len = readDescriptor(f, static_cast<int64_t>(descPos), limit - descPos, zip64,
                                        &item.descriptor, &whole);
      if (!whole || len == 0) return kStructureInvalid;
      item.descriptorLength = static_cast<uint8_t>(len);
    }
    const std::string localName(item.localName.begin(), item.localName.end());
    if (!headerMismatch(c, item.name, l, localName, &item.descriptor, true).empty())
      return kStructureInvalid;
    if (dataStart + c.compressedSize + item.descriptorLength > limit) return kStructureInvalid;
  }
  return kOk;
}

int writeCentralDirectory(JFile& out, const TZList& list, const MessageSink& message) {
  for (const zlitem& item : list.items) {
    ByteWriter w;
    item.central.write(w);
    w.bytes(item.name.data(), item.name.size());
    w.bytes(item.centralExtra);
    w.bytes(item.comment);
    int rc = out.write(w.data().data(), static_cast<uint32_t>(w.size()));
    if (rc) {
      if (message) message("Error writing central list");
      return rc;
    }
  }
  return kOk;
}

int writeEndRecord(JFile& out, TEndCentralRecord record, const std::vector<uint8_t>& comment) {
  record.signature = kEndSig;
  record.commentLength = static_cast<uint16_t>(comment.size());
  ByteWriter w;
  record.write(w);
  w.bytes(comment);
  return out.write(w.data().data(), static_cast<uint32_t>(w.size()));
}

bool createEmptyContainer(const std::string& path) {
  JNormFile f(path, plat::Access::Write, plat::Disposition::CreateAlways);
  if (!f.isOpen()) return false;
  static const uint8_t pk[2] = {'P', 'K'};
  uint8_t rest[20] = {5, 6};
  f.write(pk, 2);
  f.write(rest, sizeof rest);
  f.sync();
  f.close();
  return true;
}

uint32_t externalAttributesFor(bool attributesKnown, uint32_t attributes) {
  uint32_t a = attributesKnown ? attributes : plat::kAttrArchive;
  a &= plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem | plat::kAttrDirectory |
       plat::kAttrArchive;
  return a | 0x81000000u;
}

}  // namespace archive
