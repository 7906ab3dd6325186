#include "archive/deletions.h"

#include <zlib.h>

#include <algorithm>

#include "archive/errors.h"
#include "archive/extract/names.h"
#include "archive/extract/restore.h"
#include "platform/strtable.h"

namespace archive {
namespace {

constexpr uint8_t kTrailerSig[4] = {'C', 'V', 'D', 'L'};

uint64_t u64(ByteReader& r) {
  const uint64_t low = r.u32();
  return low | (uint64_t(r.u32()) << 32);
}

void putU64(ByteWriter& w, uint64_t v) {
  w.u32(static_cast<uint32_t>(v));
  w.u32(static_cast<uint32_t>(v >> 32));
}

uint32_t crcOf(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

bool readAt(JFile& f, uint32_t at, void* buf, uint32_t n, int* rc) {
  *rc = f.seek(at, SeekOrigin::Begin);
  if (*rc == kOk) *rc = f.read(buf, n);
  return *rc == kOk;
}

// Where the entries end, at the most: each from its local header (read when
// its name and extra field could reach `before`) to the end of its data and
// a data descriptor at its longest. Results as reads give them.
int entriesEnd(JFile& f, const TZList& list, uint32_t before, uint64_t* out) {
  uint64_t end = 0;
  for (const zlitem& item : list.items) {
    const uint64_t at = item.central.localHeaderOffset;
    uint64_t least = at + TLocalFileHeader::kSize + item.central.nameLength +
                     item.central.compressedSize;
    const bool descriptor = item.central.flags & kFlagDescriptor;
    if (descriptor) least += kLongestDescriptor;
    if (least + 2 * 0xffffull >= before && at + TLocalFileHeader::kSize <= before) {
      uint8_t raw[TLocalFileHeader::kSize];
      int rc = kOk;
      if (!readAt(f, static_cast<uint32_t>(at), raw, sizeof raw, &rc)) return rc;
      ByteReader r(raw, sizeof raw);
      TLocalFileHeader local;
      local.read(r);
      least = at + TLocalFileHeader::kSize + local.nameLength + local.extraLength +
              item.central.compressedSize +
              ((descriptor || (local.flags & kFlagDescriptor)) ? kLongestDescriptor : 0);
    }
    end = std::max(end, std::max(least, at + 1));
  }
  *out = end;
  return kOk;
}

}  // namespace

std::string deletionPathProblem(const std::string& path) {
  if (path.empty()) return "an empty path";
  if (!isValidUtf8(path)) return "a path that is not valid UTF-8";
  if (path.size() > 0xffff) return "a path too long";
  const MappedPath m = mapPath("", path, false);
  if (m.result == kMapTooLong) return "a path longer than the path bound";
  if (m.result != kMapOk || m.folderEntry) return "a path that leaves the folder or names no file";
  // The same file an entry of this name is unloaded to, and no other spelling.
  if (m.path != path) return "a path with a control character, an empty or a \".\" level";
  return std::string();
}

std::string deletionRowsProblem(const std::vector<DeletionRow>& rows) {
  if (rows.size() > kMaxDeletionRows)
    return "more than " + std::to_string(kMaxDeletionRows) + " rows";
  uint64_t bytes = kDeletionTrailerSize;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string why = deletionPathProblem(rows[i].path);
    if (!why.empty()) return why + " (row " + std::to_string(i + 1) + ")";
    if (i > 0 && !(rows[i - 1].path < rows[i].path))
      return rows[i - 1].path == rows[i].path ? "two rows for " + printableName(rows[i].path)
                                              : "rows not sorted by path";
    bytes += kDeletionRowFixed + rows[i].path.size();
  }
  if (bytes > kMaxDeletionBlock) return "a block larger than " + std::to_string(kMaxDeletionBlock) + " bytes";
  return std::string();
}

void normalizeDeletions(std::vector<DeletionRow>* rows) {
  std::stable_sort(rows->begin(), rows->end(), [](const DeletionRow& a, const DeletionRow& b) {
    return a.path != b.path ? a.path < b.path : a.deletedAt > b.deletedAt;
  });
  rows->erase(std::unique(rows->begin(), rows->end(),
                          [](const DeletionRow& a, const DeletionRow& b) { return a.path == b.path; }),
              rows->end());
}

std::vector<uint8_t> encodeDeletions(const std::vector<DeletionRow>& rows,
                                     const std::optional<PasswordCheck>& check) {
  std::vector<uint8_t> block;
  if (rows.empty() && !check) return block;
  ByteWriter w(&block);
  for (const DeletionRow& row : rows) {
    w.u16(static_cast<uint16_t>(row.path.size()));
    w.bytes(row.path.data(), row.path.size());
    putU64(w, row.deletedAt);
    w.u32(row.crc);
    putU64(w, row.size);
  }
  if (check) {
    w.bytes(check->salt.data(), check->salt.size());
    w.bytes(check->verifier.data(), check->verifier.size());
  }
  w.u16(kDeletionVersion);
  w.u16(check ? kDeletionFlagPasswordCheck : 0);
  w.u32(static_cast<uint32_t>(rows.size()));
  w.u32(static_cast<uint32_t>(block.size() + 12));
  w.u32(crcOf(block.data(), block.size()));
  w.bytes(kTrailerSig, sizeof kTrailerSig);
  return block;
}

bool decodeDeletions(const uint8_t* p, size_t n, std::vector<DeletionRow>* rows, std::string* why,
                     std::optional<PasswordCheck>* check) {
  rows->clear();
  if (check) check->reset();
  auto refuse = [&](const std::string& text) {
    rows->clear();
    if (check) check->reset();
    *why = text;
    return false;
  };
  if (n < kDeletionTrailerSize || !std::equal(kTrailerSig, kTrailerSig + 4, p + n - 4))
    return refuse("no trailer");
  ByteReader t(p + n - kDeletionTrailerSize, kDeletionTrailerSize);
  const uint16_t version = t.u16(), flags = t.u16();
  const uint32_t count = t.u32(), length = t.u32(), crc = t.u32();
  if (length != n) return refuse("its length does not match where it stands");
  if (crc != crcOf(p, n - 8)) return refuse("its CRC-32 does not match");
  if (version != kDeletionVersion || (flags & ~kDeletionFlagPasswordCheck) != 0)
    return refuse("it was written by a newer version (" + std::to_string(version) + ")");
  if (count > kMaxDeletionRows) return refuse("it holds more than " + std::to_string(kMaxDeletionRows) + " rows");
  const bool checked = flags & kDeletionFlagPasswordCheck;
  if (checked && n < kDeletionTrailerSize + kPasswordCheckSize)
    return refuse("its password check is cut");
  ByteReader r(p, n - kDeletionTrailerSize - (checked ? kPasswordCheckSize : 0));
  for (uint32_t i = 0; i < count; ++i) {
    DeletionRow row;
    const uint16_t len = r.u16();
    std::vector<uint8_t> name;
    if (!r.bytes(len, &name) || r.remaining() < kDeletionRowFixed - 2)
      return refuse("row " + std::to_string(i + 1) + " runs past the block");
    row.path.assign(name.begin(), name.end());
    row.deletedAt = u64(r);
    row.crc = r.u32();
    row.size = u64(r);
    rows->push_back(std::move(row));
  }
  if (r.remaining() != 0) return refuse("bytes follow its last row");
  const std::string problem = deletionRowsProblem(*rows);
  if (!problem.empty()) return refuse(problem);
  if (checked && check) {
    const uint8_t* at = p + n - kDeletionTrailerSize - kPasswordCheckSize;
    PasswordCheck c;
    std::copy(at, at + c.salt.size(), c.salt.begin());
    std::copy(at + c.salt.size(), at + kPasswordCheckSize, c.verifier.begin());
    *check = c;
  }
  return true;
}

std::vector<uint8_t> deletionsHead(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> out;
  ByteWriter w(&out);
  TEndCentralRecord head;
  head.commentLength = static_cast<uint16_t>(block.size());
  head.write(w);
  w.bytes(block);
  return out;
}

int readDeletions(JFile& f, const EndRecordInfo& end, const TZList& list, FoundDeletions* found) {
  *found = FoundDeletions();
  if (end.zip64 || end.centralOffset + end.centralSize > end.position) return kOk;
  uint8_t trailer[kDeletionTrailerSize];
  int rc = kOk;
  uint32_t start = 0, length = 0, blockAt = 0;
  if (list.items.empty() && end.entries == 0 && end.centralSize == 0 &&
      end.centralOffset == end.position) {
    // An archive without entries: the head at its start holds the block.
    uint8_t raw[TEndCentralRecord::kSize];
    if (end.position < TEndCentralRecord::kSize + kDeletionTrailerSize) return kOk;
    if (!readAt(f, 0, raw, sizeof raw, &rc)) return rc;
    ByteReader r(raw, sizeof raw);
    TEndCentralRecord head;
    head.read(r);
    if (head.signature != kEndSig) return kOk;
    if (!readAt(f, end.position - kDeletionTrailerSize, trailer, sizeof trailer, &rc)) return rc;
    if (!std::equal(kTrailerSig, kTrailerSig + 4, trailer + 16)) return kOk;
    if (head.diskNumber || head.centralDisk || head.entriesOnDisk || head.entriesTotal ||
        head.centralSize || head.centralOffset ||
        uint64_t(head.commentLength) + TEndCentralRecord::kSize != end.position) {
      found->problem = "the record before it is not an empty archive's end";
      return kOk;
    }
    start = 0;
    blockAt = TEndCentralRecord::kSize;
    length = head.commentLength;
  } else {
    const uint32_t directory = static_cast<uint32_t>(end.centralOffset);
    if (directory < kDeletionTrailerSize) return kOk;
    if (!readAt(f, directory - kDeletionTrailerSize, trailer, sizeof trailer, &rc)) return rc;
    if (!std::equal(kTrailerSig, kTrailerSig + 4, trailer + 16)) return kOk;
    ByteReader t(trailer + 8, 4);
    length = t.u32();
    if (length < kDeletionTrailerSize || length > directory) {
      found->problem = "its length reaches past the start of the file";
      return kOk;
    }
    if (length > kMaxDeletionBlock) {
      found->problem = "it is larger than " + std::to_string(kMaxDeletionBlock) + " bytes";
      return kOk;
    }
    start = blockAt = directory - length;
    uint64_t entries = 0;
    if ((rc = entriesEnd(f, list, start, &entries))) return rc;
    if (entries > start) {
      found->problem = "it overlaps an entry";
      return kOk;
    }
  }
  std::vector<uint8_t> block(length);
  if (!readAt(f, blockAt, block.data(), length, &rc)) return rc;
  if (!decodeDeletions(block.data(), block.size(), &found->rows, &found->problem, &found->check))
    return kOk;
  found->present = true;
  found->start = start;
  found->length = blockAt - start + length;
  return kOk;
}

int readBriefcaseDeletions(const std::string& path, FoundDeletions* found) {
  *found = FoundDeletions();
  JNormFile f(path, plat::Access::Read, plat::Disposition::OpenExisting);
  if (!f.isOpen()) return kMissingOrEmpty;
  EndRecordInfo end;
  if (int rc = findEndRecord(f, &end, nullptr)) return rc;
  if (!end.needsZip64.empty()) return end.zip64Refused;
  TZList list;
  uint32_t preamble = 0;
  if (int rc = readCentralDirectory(f, static_cast<uint32_t>(end.centralOffset),
                                    static_cast<uint32_t>(end.centralSize), end.directoryEnd, &list,
                                    &preamble))
    return rc;
  return readDeletions(f, end, list, found);
}

std::string ignoredDeletionsText(const std::string& path, const std::string& problem) {
  return plat::strFormat("Warning - the deletions that %s carries were ignored: %s",
                         printableName(path).c_str(), problem.c_str());
}

}  // namespace archive
