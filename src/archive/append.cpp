#include "archive/append.h"

#include <zlib.h>

#include <algorithm>

#include "archive/deletions.h"
#include "archive/errors.h"
#include "archive/leftovers.h"
#include "platform/diag.h"
#include "platform/errors.h"
#include "platform/paths.h"

namespace archive {
namespace {

constexpr uint8_t kMarkerSig[4] = {'C', 'V', 'A', 'P'};
constexpr uint8_t kEndSigBytes[4] = {'P', 'K', 5, 6};
// How much of the old archive's end an append reads back afterwards: a disk
// that puts bytes in the wrong place puts them near where they belong.
constexpr uint64_t kTailCheck = 65536;


bool readAt(JFile& f, uint32_t at, void* buf, uint32_t n) {
  return f.seek(at, SeekOrigin::Begin) == kOk && f.read(buf, n) == kOk;
}

// Whether an end record ends exactly at `end` with its directory right
// before it (or a ZIP64 end record between them, which is not ours to
// judge), the directory starting with a central header.
bool completeEndAt(JFile& f, uint32_t end) {
  if (end < TEndCentralRecord::kSize) return false;
  const uint32_t from = end > kEndSearchRange ? end - kEndSearchRange : 0;
  uint32_t before = end;
  for (int tries = 0; tries < 64 && before >= from + 4; ++tries) {
    const int64_t hit = f.search(from, before, kEndSigBytes, 4, true);
    if (hit < 0) return false;
    const uint32_t at = static_cast<uint32_t>(hit);
    before = at + 3;
    uint8_t raw[TEndCentralRecord::kSize];
    if (end - at < sizeof raw || !readAt(f, at, raw, sizeof raw)) continue;
    ByteReader r(raw, sizeof raw);
    TEndCentralRecord rec;
    rec.read(r);
    if (uint64_t(at) + sizeof raw + rec.commentLength != end) continue;
    uint8_t sig[4];
    if (at >= 20 && readAt(f, at - 20, sig, 4) && ByteReader(sig, 4).u32() == kZip64LocatorSig)
      return true;
    if (uint64_t(rec.centralOffset) + rec.centralSize != at) continue;
    if (rec.centralSize == 0) return true;
    return readAt(f, rec.centralOffset, sig, 4) && ByteReader(sig, 4).u32() == kCentralSig;
  }
  return false;
}

// The marker of the last append whose old archive is complete, searched
// backwards from `end`; false when there is none.
bool findMarker(JFile& f, uint32_t end, AppendMarker* out) {
  uint32_t before = end;
  while (before >= 4) {
    const int64_t hit = f.search(0, before, kMarkerSig, 4, true);
    if (hit < 0) return false;
    const uint32_t at = static_cast<uint32_t>(hit);
    before = at + 3;
    uint8_t raw[AppendMarker::kSize];
    if (end - at < sizeof raw || !readAt(f, at, raw, sizeof raw)) continue;
    if (AppendMarker::decode(raw, sizeof raw, out) && out->oldSize == at && completeEndAt(f, at))
      return true;
  }
  return false;
}

// Opens the locked container for writing; null when the path no longer
// leads to the locked file.
std::unique_ptr<JNormFile> openLocked(const ContainerLock& lock) {
  auto f = std::make_unique<JNormFile>(lock.realPath(), plat::Access::ReadWrite,
                                       plat::Disposition::OpenExisting);
  plat::FileInfo fi;
  if (!f->isOpen() || !f->platformFile()->info(&fi) || fi.device != lock.identity().device ||
      fi.inode != lock.identity().inode)
    return nullptr;
  return f;
}

// Reads n bytes at `at` (through seek and read, which every file layer has).
bool readRange(plat::File& f, uint64_t at, size_t n, std::vector<uint8_t>* out) {
  out->resize(n);
  if (!f.seek(static_cast<int64_t>(at), plat::Origin::Begin, nullptr)) return false;
  for (size_t done = 0; done < n;) {
    size_t got = 0;
    if (!f.read(out->data() + done, n - done, &got) || got == 0) return false;
    done += got;
  }
  return true;
}

// Cuts the file to `size` and gives it the write time `time`, on the disk.
bool cutBack(JNormFile& f, uint64_t size, plat::FileTime time) {
  return f.seek(static_cast<int64_t>(size), SeekOrigin::Begin) == kOk && f.truncateHere() &&
         f.platformFile()->setTimes(nullptr, nullptr, &time) && f.sync();
}

}  // namespace

std::vector<uint8_t> AppendMarker::encode() const {
  ByteWriter w;
  for (uint8_t c : kMarkerSig) w.u8(c);
  w.u32(oldSize);
  w.u32(static_cast<uint32_t>(oldWriteTime));
  w.u32(static_cast<uint32_t>(oldWriteTime >> 32));
  const uint32_t crc = static_cast<uint32_t>(crc32(0, w.data().data(), 16));
  w.u32(crc);
  return w.data();
}

bool AppendMarker::decode(const uint8_t* p, size_t n, AppendMarker* out) {
  if (n < kSize || !std::equal(kMarkerSig, kMarkerSig + 4, p)) return false;
  ByteReader r(p + 4, kSize - 4);
  out->oldSize = r.u32();
  const uint64_t low = r.u32(), high = r.u32();
  out->oldWriteTime = low | (high << 32);
  return r.u32() == static_cast<uint32_t>(crc32(0, p, 16));
}

uint64_t entryLength(const zlitem& item) {
  return TLocalFileHeader::kSize + uint64_t(item.local.nameLength) + item.local.extraLength +
         item.central.compressedSize + item.descriptorLength;
}

uint64_t centralLength(const zlitem& item) {
  return TCentralFileHeader::kSize + uint64_t(item.central.nameLength) + item.central.extraLength +
         item.central.commentLength;
}

uint64_t referencedBytes(const TZList& list, const EndRecordInfo& end, uint64_t deletionBytes) {
  uint64_t bytes = deletionBytes + end.centralSize + (end.position - end.directoryEnd) +
                   TEndCentralRecord::kSize + end.record.commentLength;
  for (const zlitem& item : list.items) bytes += entryLength(item);
  return bytes;
}

std::string whyNotAppendable(const TZList& list, const EndRecordInfo& end, uint32_t preamble) {
  if (preamble) return "it begins with bytes that are not an entry";
  if (end.record.diskNumber || end.record.centralDisk) return "it is a split archive";
  if (end.zip64) return "it is a ZIP64 archive";
  if (uint64_t(end.position) + TEndCentralRecord::kSize + end.record.commentLength != end.fileSize)
    return "bytes follow its end record";
  if (end.centralOffset + end.centralSize != end.position) return "its directory is not at its end";
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  spans.reserve(list.items.size());
  for (const zlitem& item : list.items) {
    const uint64_t at = item.central.localHeaderOffset;
    spans.emplace_back(at, at + entryLength(item));
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 0; i < spans.size(); ++i)
    if ((i > 0 && spans[i].first < spans[i - 1].second) || spans[i].second > end.centralOffset)
      return "its entries overlap";
  return std::string();
}

int ContainerAppend::begin(uint64_t end, std::unique_ptr<JNormFile>* out, std::string* message) {
  std::unique_ptr<JNormFile> f = openLocked(lock_);
  plat::FileInfo fi;
  if (!f || !f->platformFile()->info(&fi) || fi.size != end) {
    *message = lock_.path() +
               " was changed or replaced by another program during the run; nothing was added to it";
    return kInUse;
  }
  // A volume that refuses to sync cannot tell when the data is safe.
  if (!f->sync()) {
    *message = lock_.path() + ": the disk does not confirm that data is written";
    return kNotAppendable;
  }
  // What a rewrite killed before its rename left beside the container goes.
  const std::string folder = plat::parentFolder(lock_.realPath());
  removeLeftTemporaries(folder.empty() ? std::string(".") : folder, TempKind::Container);
  oldSize_ = end;
  oldWriteTime_ = fi.writeTime;
  const uint64_t tail = std::min(end, kTailCheck);
  if (!readRange(*f->platformFile(), end - tail, tail, &oldTail_) ||
      !readRange(*f->platformFile(), 0, std::min<uint64_t>(end, TLocalFileHeader::kSize), &oldHead_)) {
    *message = lock_.path();
    return kReadSeekFailure;
  }
  AppendMarker marker;
  marker.oldSize = static_cast<uint32_t>(end);
  marker.oldWriteTime = fi.writeTime;
  marker_ = marker.encode();
  const std::vector<uint8_t>& bytes = marker_;
  begun_ = true;
  foreign_ = false;
  if (f->seek(static_cast<int64_t>(end), SeekOrigin::Begin) != kOk) {
    rollback();
    *message = lock_.path();
    return kReadSeekFailure;
  }
  if (int rc = f->write(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
    rollback();
    *message = lock_.path();
    return rc;
  }
  *out = std::move(f);
  return kOk;
}

int ContainerAppend::seal(JNormFile& out, uint64_t size, std::string* message) {
  // What the run took back (an entry whose file changed) goes.
  if (!out.truncateHere() || !out.sync()) {
    *message = lock_.path() + ": the disk did not confirm the new entries";
    return kWriteFailure;
  }
  plat::FileInfo atPath, mine;
  if (!plat::fileSystem().stat(lock_.realPath(), &atPath, true) || !out.platformFile()->info(&mine)) {
    *message = lock_.path() + " cannot be read";
    return kWriteFailure;
  }
  if (atPath.device != lock_.identity().device || atPath.inode != lock_.identity().inode ||
      mine.size != size) {
    foreign_ = true;
    *message = lock_.path() +
               " was changed or replaced by another program during the run; nothing was added to it";
    return kInUse;
  }
  // The same file rewritten in place by another program has lost the
  // marker and its start: its bytes stay, only what this run added after
  // the old end goes.
  if (rewrittenInPlace()) {
    foreign_ = true;
    std::unique_ptr<JNormFile> f = openLocked(lock_);
    if (!f || f->seek(static_cast<int64_t>(oldSize_), SeekOrigin::Begin) != kOk ||
        !f->truncateHere() || !f->sync())
      plat::diag("append: could not take the new entries out of " + lock_.path());
    *message = lock_.path() +
               " was changed or replaced by another program during the run; nothing was added to it";
    return kInUse;
  }
  // The lock keeps other runs out: bytes not as written are the disk's doing.
  if (!kept(size, false)) {
    rollback();
    *message = lock_.path() + ": the disk did not keep what was written";
    return kWriteFailure;
  }
  return kOk;
}

// Whether the disk holds the old archive's end as it was and the marker
// after it, the file `size` bytes long and (`complete`) ending with a
// complete end record; read through a handle of its own.
bool ContainerAppend::kept(uint64_t size, bool complete) const {
  JNormFile f(lock_.realPath(), plat::Access::Read, plat::Disposition::OpenExisting);
  if (!f.isOpen()) return false;
  if (complete) f.platformFile()->forgetCached();
  uint32_t now = 0;
  std::vector<uint8_t> tail, marker;
  return f.size(&now) == kOk && now == size &&
         readRange(*f.platformFile(), oldSize_ - oldTail_.size(), oldTail_.size(), &tail) &&
         tail == oldTail_ && readRange(*f.platformFile(), oldSize_, marker_.size(), &marker) &&
         marker == marker_ && (!complete || completeEndAt(f, now));
}

bool ContainerAppend::rewrittenInPlace() const {
  JNormFile f(lock_.realPath(), plat::Access::Read, plat::Disposition::OpenExisting);
  std::vector<uint8_t> marker, head;
  return f.isOpen() && readRange(*f.platformFile(), oldSize_, marker_.size(), &marker) &&
         marker != marker_ && readRange(*f.platformFile(), 0, oldHead_.size(), &head) &&
         head != oldHead_;
}

int ContainerAppend::commit(std::unique_ptr<JNormFile> out, std::string* message) {
  uint32_t size = 0;
  if (!out->sync() || out->size(&size) != kOk) {
    out.reset();
    rollback();
    *message = lock_.path() + ": the disk did not confirm the new directory";
    return kWriteFailure;
  }
  out->close();
  if (!kept(size, true)) {
    rollback();
    *message = lock_.path() + ": the disk did not keep what was written";
    return kWriteFailure;
  }
  begun_ = false;
  lock_.refresh();
  return kOk;
}

void ContainerAppend::rollback() {
  if (!begun_) return;
  begun_ = false;
  if (foreign_) return;
  // A disk that is gone is cut back by the next open instead.
  std::unique_ptr<JNormFile> f = openLocked(lock_);
  // A disk that put bytes in the wrong place gets the old archive's end back.
  std::vector<uint8_t> tail;
  const uint64_t tailAt = oldSize_ - oldTail_.size();
  bool ok = f && readRange(*f->platformFile(), tailAt, oldTail_.size(), &tail);
  if (ok && tail != oldTail_) {
    size_t put = 0;
    ok = f->platformFile()->seek(static_cast<int64_t>(tailAt), plat::Origin::Begin, nullptr) &&
         f->platformFile()->write(oldTail_.data(), oldTail_.size(), &put) && put == oldTail_.size();
  }
  if (!ok || !cutBack(*f, oldSize_, oldWriteTime_))
    plat::diag("append: could not cut " + lock_.path() + " back; the next open will");
  lock_.refresh();
}

AppendRepair undoInterruptedAppend(const std::string& path, ContainerLock* held,
                                   const MessageSink& sink) {
  AppendMarker marker;
  auto torn = [&](const std::string& at) {
    JNormFile f(at, plat::Access::Read, plat::Disposition::OpenExisting);
    uint32_t size = 0;
    uint8_t head[4];
    if (!f.isOpen() || f.size(&size) != kOk || size < TEndCentralRecord::kSize + AppendMarker::kSize ||
        !readAt(f, 0, head, 4) || head[0] != 'P' || head[1] != 'K')
      return false;
    return !completeEndAt(f, size) && findMarker(f, size, &marker);
  };
  if (!torn(path)) return AppendRepair::Intact;

  ContainerLock own;
  ContainerLock* lock = held && held->held() ? held : &own;
  if (lock == &own) {
    const ContainerLock::Status status = own.acquire(path);
    if (status == ContainerLock::Status::Busy) return AppendRepair::Locked;
    if (status != ContainerLock::Status::Locked) return AppendRepair::Failed;
  }
  // Another run may have finished (or undone) it before the lock was had.
  if (!torn(lock->realPath())) return AppendRepair::Intact;
  std::unique_ptr<JNormFile> f = openLocked(*lock);
  if (!f || !cutBack(*f, marker.oldSize, marker.oldWriteTime)) {
    plat::diag("append: could not undo the interrupted append of " + path);
    return AppendRepair::Failed;
  }
  lock->refresh();
  plat::diag("append: " + path + " cut back to " + std::to_string(marker.oldSize) + " bytes");
  if (sink) sink(kAppendUndoneText);
  return AppendRepair::Undone;
}

int appendComment(ContainerLock& lock, const std::vector<uint8_t>& comment,
                  const MessageSink& configMessage) {
  if (comment.size() > 0xffff) return kInvalidComment;
  JNormFile f(lock.realPath(), plat::Access::Read, plat::Disposition::OpenExisting);
  EndRecordInfo end;
  if (!f.isOpen()) return kMissingOrEmpty;
  if (int rc = findEndRecord(f, &end, nullptr)) {
    if (configMessage) configMessage("Configuration not found");
    return rc;
  }
  uint8_t head[4] = {};
  if (!readAt(f, 0, head, 4) || ByteReader(head, 4).u32() != kLocalSig ||
      !whyNotAppendable(TZList(), end, 0).empty() || end.commentMissing)
    return ContainerAppend::kNotAppendable;
  std::vector<uint8_t> directory(end.centralSize);
  if (!directory.empty() &&
      !readAt(f, static_cast<uint32_t>(end.centralOffset), directory.data(),
              static_cast<uint32_t>(directory.size())))
    return kReadSeekFailure;
  // The deletions go on before the new directory, as they stood before the old.
  TZList list;
  uint32_t preamble = 0;
  FoundDeletions carried;
  // A directory this program does not read keeps its end record in place.
  if (readCentralDirectory(f, static_cast<uint32_t>(end.centralOffset),
                           static_cast<uint32_t>(end.centralSize), end.directoryEnd, &list,
                           &preamble) != kOk)
    return ContainerAppend::kNotAppendable;
  if (readDeletions(f, end, list, &carried) != kOk) return kReadSeekFailure;
  if (!carried.problem.empty() && configMessage)
    configMessage(ignoredDeletionsText(lock.path(), carried.problem));
  const std::vector<uint8_t> block = encodeDeletions(carried.rows, carried.check);
  f.close();

  ContainerAppend append(lock);
  std::unique_ptr<JNormFile> out;
  std::string message;
  if (int rc = append.begin(end.fileSize, &out, &message)) return rc;
  const uint64_t at = uint64_t(end.fileSize) + AppendMarker::kSize + block.size();
  TEndCentralRecord record = end.record;
  record.centralOffset = static_cast<uint32_t>(at);
  record.commentLength = static_cast<uint16_t>(comment.size());
  if (at + directory.size() + TEndCentralRecord::kSize + comment.size() > kMax32) return kTooLarge;
  if (!block.empty())
    if (int rc = out->write(block.data(), static_cast<uint32_t>(block.size()))) return rc;
  if (!directory.empty())
    if (int rc = out->write(directory.data(), static_cast<uint32_t>(directory.size()))) return rc;
  auto failed = [&](int rc) {
    const size_t colon = message.rfind(": ");
    if (configMessage)
      configMessage(rc == kWriteFailure && colon != std::string::npos
                        ? "The configuration could not be saved: " + message.substr(colon + 2)
                        : message);
    return rc;
  };
  if (int rc = append.seal(*out, at + directory.size(), &message)) return failed(rc);
  if (int rc = writeEndRecord(*out, record, comment)) return rc;
  if (!out->truncateHere()) return kWriteFailure;
  if (int rc = append.commit(std::move(out), &message)) return failed(rc);
  return kOk;
}

}  // namespace archive
