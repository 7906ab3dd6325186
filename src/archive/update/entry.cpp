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

// The result for a job that did not succeed.
int jobFailure(const DeflateJob& job) { return job.outOfMemory ? kOutOfMemory : kInternalError; }

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
  // Queued jobs are dropped, running ones end, every worker is joined.
  ahead_.clear();
  pool_.reset();
}

DeflatePool& EntryWriter::pool() {
  if (!pool_) {
    unsigned n = engine_.update.threads ? engine_.update.threads : DefaultThreads();
    pool_ = std::make_unique<DeflatePool>(n);
  }
  return *pool_;
}

DeflateJobPtr EntryWriter::newJob() {
  if (spare_.empty()) return std::make_shared<DeflateJob>();
  DeflateJobPtr job = std::move(spare_.back());
  spare_.pop_back();
  return job;
}

void EntryWriter::recycle(DeflateJobPtr job) {
  if (job.use_count() == 1 && spare_.size() < kMaxInFlight) spare_.push_back(std::move(job));
}

void EntryWriter::expect(std::vector<std::string> paths) {
  for (Ahead& a : ahead_) pool().withdraw(*a.job);
  ahead_.clear();
  expected_ = std::move(paths);
  nextExpected_ = 0;
}

void EntryWriter::readAhead() {
  const TUpdateState& u = engine_.update;
  if (u.method == 0 || engine_.level < 1 || engine_.level > 9) return;
  DeflatePool& workers = pool();
  if (workers.threads() < 2) return;
  const size_t limit = std::min<size_t>(kMaxAhead, 4 * workers.threads());
  while (ahead_.size() < limit && nextExpected_ < expected_.size()) {
    const std::string& path = expected_[nextExpected_++];
    plat::FileInfo fi;
    if (HasSuffix(path, u.noCompressSuffixes) || !plat::fileSystem().stat(path, &fi, true) ||
        !fi.isRegular || fi.size == 0 || fi.size >= kInputBlock)
      continue;
    auto file = plat::fileSystem().open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!file) continue;
    DeflateJobPtr job = newJob();
    job->data.resize(kInputBlock);
    size_t got = 0;
    if (!file->read(job->data.data(), kInputBlock, &got) || got != fi.size) continue;
    job->data.resize(got);
    job->dictLength = 0;
    job->level = engine_.level;
    job->last = true;
    workers.submit(job);
    ahead_.push_back(Ahead{path, fi, std::move(job)});
  }
}

DeflateJobPtr EntryWriter::takeAhead(const std::string& path, plat::FileInfo* now) {
  auto it = std::find_if(ahead_.begin(), ahead_.end(), [&](const Ahead& a) { return a.path == path; });
  if (it == ahead_.end()) return nullptr;
  // Files expected before this one were not written after all.
  for (auto stale = ahead_.begin(); stale != it; ++stale) pool().withdraw(*stale->job);
  Ahead a = std::move(*it);
  ahead_.erase(ahead_.begin(), it + 1);
  pool().wait(*a.job);
  const plat::FileInfo& then = a.info;
  if (!a.job->ok || then.size != now->size || then.writeTime != now->writeTime ||
      then.inode != now->inode || then.device != now->device)
    return nullptr;
  now->accessTime = then.accessTime;
  return a.job;
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

int EntryWriter::putData(uint8_t* data, size_t size) {
  if (encrypting_ && !cipher_.encrypt(data, size)) return kOutOfMemory;
  return put(data, size);
}

int EntryWriter::beginEncrypted() {
  const size_t saltLength = aes::saltSize(aes::kStrength256);
  aes::Keys keys;
  if (!aes::deriveKeys(*engine_.password, salt_, aes::kStrength256, &keys) || !cipher_.begin(keys))
    return kOutOfMemory;
  if (int rc = put(salt_, saltLength)) return rc;
  return put(keys.verifier, aes::kVerifierSize);
}

int EntryWriter::endEncrypted() {
  uint8_t code[aes::kAuthCodeSize];
  if (!cipher_.finish(code)) return kOutOfMemory;
  return put(code, sizeof code);
}

int EntryWriter::write(zlitem& item, const std::string& localPath) {
  TUpdateState& u = engine_.update;
  encrypting_ = engine_.password.has_value();
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(localPath, &fi, true) || !fi.isRegular) return kFileNotReadable;
  const uint32_t dos = plat::dosDateTimeFromFileTime(fi.writeTime);

  item.centralExtra.clear();
  item.localExtra.clear();
  item.comment.clear();
  item.descriptor = TExtendedLocalHeader();
  bool store = u.method == 0 || HasSuffix(localPath, u.noCompressSuffixes);
  // A small file read and deflated ahead; its access time as it was before
  // that read, as when the file is read now.
  if (!store) readAhead();
  DeflateJobPtr whole = store ? nullptr : takeAhead(localPath, &fi);

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
  // An encrypted entry: method 99 outside, the method used in the AES block
  // of both extra fields, no CRC, the salt, verifier and code in its size.
  // The outer fields of an encrypted entry, over the ones its data was
  // written with (set again once the large file's data is written).
  auto encryptedFields = [&] {
    c.method = aes::kMethodAes;
    c.versionNeeded = aes::kVersionNeeded;
    c.flags |= kFlagEncrypted;
    c.crc = 0;
    c.compressedSize += static_cast<uint32_t>(aes::overhead(aes::kStrength256));
    syncLocal();
  };
  auto encryptedForm = [&] {
    if (!encrypting_) return;
    if (!aes::randomSalt(salt_, aes::saltSize(aes::kStrength256)))
      throw TXCompress(kInternalError,
                       "The system's random source gave no salt for the encryption");
    const aes::Info info{aes::kVersionNoCrc, aes::kStrength256, c.method};
    for (std::vector<uint8_t>* extra : {&item.localExtra, &item.centralExtra}) {
      aes::appendInfo(extra, info);
      ByteWriter w(extra);
      w.u16(aes::kExtraTag);
      w.u16(aes::kExtraTagLength);
      w.bytes(salt_, aes::kExtraTagLength);
    }
    c.extraLength = static_cast<uint16_t>(item.centralExtra.size());
    encryptedFields();
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

  // The first block: read now, or read and deflated ahead.
  plat::File& src = *in.platformFile();
  const size_t first = store ? kStoreBlock : kInputBlock;
  size_t got = 0;
  const uint8_t* head = in_.data();
  uint32_t crc = 0;
  if (whole) {
    head = whole->data.data();
    got = whole->blockLength();
    crc = whole->crc;
  } else {
    if (!src.read(in_.data(), first, &got)) return kReadSeekFailure;
    crc = static_cast<uint32_t>(crc32(0L, in_.data(), static_cast<uInt>(got)));
  }
  if (!store && looksLikeText(head, got)) c.internalAttributes |= 1;

  if (got < first) {
    // The whole file is in the first block, so its headers are final before
    // anything is written: deflated in memory, and stored instead when that
    // is not smaller than the raw bytes.
    const uint8_t* data = head;
    size_t length = got;
    bool stored = store;
    if (!store) {
      if (!whole) {
        whole = newJob();
        whole->data.assign(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(got));
        whole->dictLength = 0;
        whole->level = engine_.level;
        whole->last = true;
        pool().submit(whole);
        pool().wait(*whole);
      }
      if (!whole->ok) return jobFailure(*whole);
      if (whole->out.size() < got)
        data = whole->out.data(), length = whole->out.size();
      else
        stored = true;
    }
    in.close();
    finish(crc, got, length, stored);
    encryptedForm();
    int rc = writeHeader();
    if (rc == kOk && encrypting_) rc = beginEncrypted();
    if (rc == kOk && (rc = putData(const_cast<uint8_t*>(data), length)) != kOk && store) rc = kDiskMayBeFull;
    if (rc == kOk && encrypting_) rc = endEncrypted();
    if (rc == kOk && encrypting_) u.fileCrcs[item.name] = crc;
    if (whole) recycle(std::move(whole));
    if (rc) return rc;
    progress(got, size);
    return kOk;
  }

  // A larger file: a provisional header, the data streamed as it is read,
  // then the header again in place with the sizes actually written.
  encryptedForm();
  if (int rc = writeHeader()) return rc;
  const uint64_t dataStart = u.outputOffset;
  if (encrypting_)
    if (int rc = beginEncrypted()) return rc;
  uint64_t read = got, written = 0;
  int rc = store ? storeData(in, got, size, &crc, &read, &written)
                 : deflateData(in, got, size, &crc, &read, &written);
  in.close();
  if (rc == kOk && encrypting_) rc = endEncrypted();
  if (rc) return rc;
  if (read > 0xffffffffULL || written > 0xffffffffULL)
    throw TXCompress(kTooLarge, "Files larger than 4 GB are not supported: " + localPath);
  finish(crc, read, written, store);
  if (encrypting_) {
    u.fileCrcs[item.name] = c.crc;
    encryptedFields();
  }
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

int EntryWriter::deflateData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc,
                             uint64_t* read, uint64_t* written) {
  // Blocks of kInputBlock bytes (the first already in the input buffer),
  // each primed with the 32 KiB before it, deflated on the workers while
  // the next ones are read; written in order, the CRCs combined.
  plat::File& src = *in.platformFile();
  DeflatePool& workers = pool();
  JobWindow window(workers);
  const size_t depth =
      workers.threads() < 2 ? 1 : std::min(kMaxInFlight, kInFlightPerThread * workers.threads());
  constexpr size_t kDictionary = 32768;
  bool reading = true, firstBlock = true;
  uint64_t submitted = 0;
  *read = 0;
  auto fill = [&]() -> int {
    while (reading && window.size() < depth) {
      DeflateJobPtr job = newJob();
      job->dictLength = firstBlock ? 0 : tail_.size();
      job->data.resize(job->dictLength + kInputBlock);
      std::copy(tail_.begin(), tail_.begin() + static_cast<ptrdiff_t>(job->dictLength),
                job->data.begin());
      uint8_t* block = job->data.data() + job->dictLength;
      if (firstBlock) {
        std::copy(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(got), block);
      } else if (!src.read(block, kInputBlock, &got)) {
        return kReadSeekFailure;
      }
      firstBlock = false;
      job->data.resize(job->dictLength + got);
      job->level = engine_.level;
      job->last = got < kInputBlock;
      reading = !job->last;
      submitted += got;
      if (submitted > 0xffffffffULL) return kTooLarge;
      if (got >= kDictionary) tail_.assign(block + got - kDictionary, block + got);
      window.push(std::move(job));
    }
    return kOk;
  };
  for (;;) {
    if (int rc = fill()) return rc;
    if (window.empty()) break;
    DeflateJobPtr job = window.pop();
    if (!job->ok) return jobFailure(*job);
    if (int rc = putData(job->out.data(), job->out.size())) return rc;
    *written += job->out.size();
    *crc = *read == 0 ? job->crc
                      : static_cast<uint32_t>(crc32_combine(*crc, job->crc,
                                                            static_cast<z_off_t>(job->blockLength())));
    *read += job->blockLength();
    const bool last = job->last;
    recycle(std::move(job));
    progress(*read, expected);
    if (!last && cancelled()) return kInterrupted;
  }
  return kOk;
}

int EntryWriter::storeData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc,
                           uint64_t* read, uint64_t* written) {
  plat::File& src = *in.platformFile();
  for (;;) {
    if (putData(in_.data(), got) != kOk) return kDiskMayBeFull;
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
