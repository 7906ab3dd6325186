#include "archive/update/entry.h"

#include <algorithm>
#include <cctype>

#include "archive/errors.h"
#include "archive/extract/names.h"
#include "archive/zwnt.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/unnamed.h"

namespace archive {
namespace {

constexpr uint16_t kExtraTimestampId = 0x5455;  // "UT"
constexpr uint8_t kVersionMadeBy = 22;
constexpr uint8_t kHostNtfs = 11;
constexpr uint8_t kVersionDeflate = 20;
constexpr uint8_t kVersionStore = 10;
constexpr uint16_t kMethodStore = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagMaximum = 0x0002;  // deflated at levels 8-9
constexpr uint16_t kFlagFast = 0x0004;     // deflated at levels 1-2

bool isPlainAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

uint32_t unixTime32(plat::FileTime ft) { return static_cast<uint32_t>(UnixTime(ft)); }

// Text when the printable-range bytes (7-127), divided by 4, are at least as
// many as the others.
bool looksLikeText(const uint8_t* p, size_t n) {
  size_t ascii = 0;
  for (size_t i = 0; i < n; ++i) ascii += static_cast<uint8_t>(p[i] - 7) <= 120;
  return ascii / 4 >= n - ascii;
}

}  // namespace

bool HasSuffix(const std::string& path, const std::string& suffixes) {
  size_t start = 0;
  while (start <= suffixes.size()) {
    size_t end = suffixes.find_first_of(":;", start);
    if (end == std::string::npos) end = suffixes.size();
    size_t len = end - start;
    if (len > 0 && len <= path.size()) {
      bool same = true;
      for (size_t i = 0; i < len && same; ++i)
        same = std::tolower(static_cast<unsigned char>(path[path.size() - len + i])) ==
               std::tolower(static_cast<unsigned char>(suffixes[start + i]));
      if (same) return true;
    }
    start = end + 1;
  }
  return false;
}

EntryWriter::EntryWriter(TCompress& engine)
    : engine_(engine), in_(kInputBlock), out_(kInputBlock + kInputBlock / 8 + 1024) {}

EntryWriter::~EntryWriter() {
  if (zsReady_) deflateEnd(&zs_);
}

int EntryWriter::put(const void* data, size_t size) {
  TUpdateState& u = engine_.update;
  reserve(size);
  int rc = u.output->write(data, static_cast<uint32_t>(size));
  advanced(u.output->lastTransfer());
  return rc;
}

void EntryWriter::reserve(uint64_t size) {
  if (engine_.update.outputOffset + size > engine_.update.maxArchiveSize)
    throw TXCompress(kTooLarge, "The briefcase would be larger than 4 GB; it was left as it was");
}

void EntryWriter::advanced(uint64_t size) {
  TUpdateState& u = engine_.update;
  u.outputOffset += size;
  // Start the disk writing early, so that the sync at the end waits little.
  if (u.outputOffset - writtenBack_ >= kWritebackStep) {
    plat::startWriteback(*u.output->platformFile(), writtenBack_, u.outputOffset - writtenBack_);
    writtenBack_ = u.outputOffset;
  }
}

int EntryWriter::rewind(uint64_t offset) {
  TUpdateState& u = engine_.update;
  if (u.output->seek(static_cast<int64_t>(offset), SeekOrigin::Begin) != kOk) return kReadSeekFailure;
  u.outputOffset = offset;
  writtenBack_ = std::min(writtenBack_, offset);
  return kOk;
}

bool EntryWriter::cancelled() {
  if (engine_.callbacks.cancelCheck) engine_.callbacks.cancelCheck(engine_.cancelled);
  return engine_.cancelled;
}

void EntryWriter::progress(uint64_t done, uint64_t expected) {
  if (!engine_.callbacks.fileProgress) return;
  uint64_t pct = expected ? std::min<uint64_t>(100, done * 100 / expected) : 100;
  engine_.callbacks.fileProgress(static_cast<int>(pct));
}

int EntryWriter::write(zlitem& item, const std::string& localPath) {
  TUpdateState& u = engine_.update;
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(localPath, &fi, true) || !fi.isRegular) return kFileNotReadable;
  const uint32_t dos = plat::dosDateTimeFromFileTime(fi.writeTime);

  item.centralExtra.clear();
  item.localExtra.clear();
  item.comment.clear();
  item.descriptor = TExtendedLocalHeader();
  bool store = u.method == 0 || HasSuffix(localPath, u.noCompressSuffixes);

  if (u.extraFieldsOn) {
    ByteWriter local(&item.localExtra);
    local.u16(kExtraTimestampId);
    local.u16(13);
    local.u8(7);  // modification, access and creation time
    local.u32(unixTime32(fi.writeTime));
    local.u32(unixTime32(fi.accessTime));
    local.u32(unixTime32(fi.creationTime));
    ByteWriter central(&item.centralExtra);
    central.u16(kExtraTimestampId);
    central.u16(5);
    central.u8(7);
    central.u32(unixTime32(fi.writeTime));
  }

  JNormFile in(localPath, plat::Access::Read, plat::Disposition::OpenExisting);
  if (!in.isOpen()) return kFileNotReadable;
  uint32_t size = 0;
  if (int rc = in.size(&size)) return rc;  // 31 at 4 GB or more, 88 when unknown
  if (fi.size == 0) store = true;
  if (item.name.size() > 0xffff) throw TXCompress(kInternalError, "name too long: " + item.name);

  TCentralFileHeader& c = item.central;
  TLocalFileHeader& l = item.local;
  c = TCentralFileHeader();
  l = TLocalFileHeader();
  c.versionMadeBy = kVersionMadeBy;
  c.hostSystem = kHostNtfs;
  c.versionNeeded = store ? kVersionStore : kVersionDeflate;
  c.flags = kFlagDescriptor;
  // The UTF-8 flag only on names whose bytes are UTF-8; others are stored
  // as they are, without it.
  if (!isPlainAscii(item.name) && isValidUtf8(item.name)) c.flags |= kFlagUtf8;
  c.method = store ? kMethodStore : kMethodDeflate;
  c.time = static_cast<uint16_t>(dos & 0xffff);
  c.date = static_cast<uint16_t>(dos >> 16);
  c.crc = 0;
  c.compressedSize = store ? size : 0;
  c.uncompressedSize = size;
  c.nameLength = static_cast<uint16_t>(item.name.size());
  c.extraLength = static_cast<uint16_t>(item.centralExtra.size());
  c.externalAttributes = externalAttributesFor(true, Attributes(localPath));
  c.localHeaderOffset = static_cast<uint32_t>(u.outputOffset);

  auto syncLocal = [&] {
    l.versionNeeded = c.versionNeeded;
    l.versionNeededHost = c.versionNeededHost;
    l.flags = c.flags;
    l.method = c.method;
    l.time = c.time;
    l.date = c.date;
    l.crc = c.crc;
    l.compressedSize = c.compressedSize;
    l.uncompressedSize = c.uncompressedSize;
    l.nameLength = c.nameLength;
    l.extraLength = static_cast<uint16_t>(item.localExtra.size());
  };
  auto writeHeader = [&]() -> int {
    syncLocal();
    ByteWriter w;
    l.write(w);
    w.bytes(item.name.data(), item.name.size());
    w.bytes(item.localExtra);
    return put(w.data().data(), w.size());
  };
  // The final values: the method as used, bit 3 cleared, the local flags
  // equal to the central ones.
  auto finish = [&](uint32_t crc, uint64_t read, uint64_t written, bool stored) {
    c.crc = crc;
    c.compressedSize = static_cast<uint32_t>(written);
    c.uncompressedSize = static_cast<uint32_t>(read);
    if (stored) {
      c.method = kMethodStore;
      c.versionNeeded = kVersionStore;
      c.flags &= static_cast<uint16_t>(~(kFlagFast | kFlagMaximum));
    }
    c.flags &= static_cast<uint16_t>(~kFlagDescriptor);
    syncLocal();
  };
  item.localName.assign(item.name.begin(), item.name.end());

  if (!store) {
    if (engine_.level < 1 || engine_.level > 9) throw TXCompress(kInternalError, "bad pack level");
    if (engine_.level <= 2) c.flags |= kFlagFast;
    if (engine_.level >= 8) c.flags |= kFlagMaximum;
  }

  // The first block.
  plat::File& src = *in.platformFile();
  const size_t first = store ? kStoreBlock : kInputBlock;
  size_t got = 0;
  if (!src.read(in_.data(), first, &got)) return kReadSeekFailure;
  uint32_t crc = static_cast<uint32_t>(crc32(0L, in_.data(), static_cast<uInt>(got)));
  if (!store && looksLikeText(in_.data(), got)) c.internalAttributes |= 1;

  if (got < first) {
    // The whole file is in the first block, so its headers are final before
    // anything is written: deflated in memory, and stored instead when that
    // is not smaller than the raw bytes.
    const uint8_t* data = in_.data();
    size_t length = got;
    bool stored = store;
    if (!store) {
      if (int rc = deflateWhole(got, &length)) return rc;
      if (length < got)
        data = out_.data();
      else
        stored = true, length = got;
    }
    in.close();
    finish(crc, got, length, stored);
    if (int rc = writeHeader()) return rc;
    if (int rc = put(data, length)) return store ? kDiskMayBeFull : rc;
    progress(got, size);
    return kOk;
  }

  // A larger file: a provisional header, the data streamed as it is read,
  // then the header again in place with the sizes actually written.
  if (int rc = writeHeader()) return rc;
  const uint64_t dataStart = u.outputOffset;
  uint64_t read = got, written = 0;
  int rc = store ? storeData(in, got, size, &crc, &read, &written)
                 : deflateData(in, got, size, &crc, &read, &written);
  in.close();
  if (rc) return rc;
  if (read > 0xffffffffULL || written > 0xffffffffULL)
    throw TXCompress(kTooLarge, "Files larger than 4 GB are not supported: " + localPath);
  finish(crc, read, written, store);
  if (u.outputOffset - dataStart != c.compressedSize)
    throw TXCompress(kInternalError, "incorrect compressed size");

  ByteWriter w;
  l.write(w);
  if (u.output->seek(c.localHeaderOffset, SeekOrigin::Begin) != kOk) return kReadSeekFailure;
  rc = u.output->write(w.data().data(), static_cast<uint32_t>(w.size()));
  if (rc) return rc;
  if (u.output->seek(static_cast<int64_t>(u.outputOffset), SeekOrigin::Begin) != kOk)
    return kReadSeekFailure;
  return kOk;
}

int EntryWriter::prepareCompressor() {
  if (!zsReady_ || zsLevel_ != engine_.level) {
    if (zsReady_) deflateEnd(&zs_);
    zs_ = z_stream{};
    zsReady_ = deflateInit2(&zs_, engine_.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (!zsReady_) return kOutOfMemory;
    zsLevel_ = engine_.level;
    return kOk;
  }
  return deflateReset(&zs_) == Z_OK ? kOk : kInternalError;
}

int EntryWriter::deflateWhole(size_t got, size_t* produced) {
  if (int rc = prepareCompressor()) return rc;
  zs_.next_in = in_.data();
  zs_.avail_in = static_cast<uInt>(got);
  zs_.next_out = out_.data();
  zs_.avail_out = static_cast<uInt>(out_.size());
  if (deflate(&zs_, Z_FINISH) != Z_STREAM_END) return kInternalError;
  *produced = out_.size() - zs_.avail_out;
  return kOk;
}

int EntryWriter::deflateData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc,
                             uint64_t* read, uint64_t* written) {
  if (int rc = prepareCompressor()) return rc;
  plat::File& src = *in.platformFile();
  bool last = false;
  for (;;) {
    zs_.next_in = in_.data();
    zs_.avail_in = static_cast<uInt>(got);
    const int flush = last ? Z_FINISH : Z_NO_FLUSH;
    do {
      zs_.next_out = out_.data();
      zs_.avail_out = static_cast<uInt>(out_.size());
      if (deflate(&zs_, flush) == Z_STREAM_ERROR) return kInternalError;
      size_t have = out_.size() - zs_.avail_out;
      if (have) {
        if (int rc = put(out_.data(), have)) return rc;
        *written += have;
      }
    } while (zs_.avail_out == 0);
    if (last) break;
    progress(*read, expected);
    if (cancelled()) return kInterrupted;
    if (!src.read(in_.data(), in_.size(), &got)) return kReadSeekFailure;
    *crc = static_cast<uint32_t>(crc32(*crc, in_.data(), static_cast<uInt>(got)));
    *read += got;
    if (*read > 0xffffffffULL) return kTooLarge;
    last = got < in_.size();
  }
  progress(*read, expected);
  return kOk;
}

int EntryWriter::storeData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc,
                           uint64_t* read, uint64_t* written) {
  plat::File& src = *in.platformFile();
  for (;;) {
    if (put(in_.data(), got) != kOk) return kDiskMayBeFull;
    *written += got;
    progress(*read, expected);
    if (got < kStoreBlock) break;
    if (cancelled()) return kInterrupted;
    if (!src.read(in_.data(), kStoreBlock, &got)) return kReadSeekFailure;
    if (got == 0) break;
    *crc = static_cast<uint32_t>(crc32(*crc, in_.data(), static_cast<uInt>(got)));
    *read += got;
    if (*read > 0xffffffffULL) return kTooLarge;
  }
  return kOk;
}

}  // namespace archive
