#include "archive/replace.h"

#include <cstdlib>

#include "archive/append.h"

#include <cerrno>

#include "archive/errors.h"
#include "archive/leftovers.h"
#include "platform/errors.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/unnamed.h"

namespace archive {
namespace {

// Room kept free beyond the new archive's size when choosing where to build it.
constexpr uint64_t kSpaceMargin = 1u << 20;
constexpr size_t kCopyBlock = 131072;

std::string folderOf(const std::string& path) {
  std::string folder = plat::parentFolder(path);
  if (folder.empty()) folder.push_back('.');
  return folder;
}

// The names a new container has while it is written (where it has a name at
// all): hidden, and recognisable as ours once the process has ended.
std::string tempPrefix() { return temporaryPrefix(TempKind::Container); }

// A new file in `folder`: unnamed where the file system allows, else a named
// temporary file. What killed runs left in that folder goes first.
std::unique_ptr<plat::NewFile> newFileIn(const std::string& folder) {
  auto f = std::make_unique<plat::NewFile>();
  if (!f->begin(folder, temporaryStart(TempKind::Container), nullptr)) return nullptr;
  return f;
}

// An empty archive holding the comment, synced and dated.
int writeEmpty(JNormFile& out, const std::vector<uint8_t>& comment, const plat::FileTime* writeTime,
               const std::vector<uint8_t>& head = {}) {
  int rc = head.empty() ? kOk : out.write(head.data(), static_cast<uint32_t>(head.size()));
  TEndCentralRecord end;
  end.centralOffset = static_cast<uint32_t>(head.size());  // the empty directory is after it
  if (rc == kOk) rc = writeEndRecord(out, end, comment);
  if (rc == kOk && !out.sync()) rc = kWriteFailure;
  if (rc == kOk && writeTime && !out.platformFile()->setTimes(nullptr, writeTime, writeTime))
    rc = kWriteFailure;
  return rc;
}

std::string roomText(const std::string& container, const std::string& folder, uint64_t needed,
                     uint64_t freeBytes) {
  return plat::strFormat(
      "There is no room for the new briefcase beside %s: its disk needs %llu bytes free "
      "(%llu more than the %llu free in %s). The briefcase was left as it was.",
      container.c_str(), static_cast<unsigned long long>(needed),
      static_cast<unsigned long long>(needed > freeBytes ? needed - freeBytes : 0),
      static_cast<unsigned long long>(freeBytes), folder.c_str());
}

}  // namespace

// ---- the lock ----

ContainerLock::Status ContainerLock::acquire(const std::string& path) {
  release();
  path_ = path;
  for (int attempt = 0; attempt < 10; ++attempt) {
    realPath_ = plat::resolvedPath(path);
    auto f = std::make_unique<JNormFile>(realPath_, plat::Access::ReadWrite,
                                         plat::Disposition::OpenExisting);
    if (!f->isOpen()) {
      int err = plat::lastError();
      if (plat::isAccessDenied(err)) return Status::Denied;
      return err == ENOENT || err == ENOTDIR ? Status::Missing : Status::Failed;
    }
    if (!f->lockExclusive()) return Status::Busy;
    // Another run may have replaced the container between the open and the
    // lock: then this handle holds the old file, so open again.
    plat::FileInfo mine, now;
    if (!f->platformFile()->info(&mine)) return Status::Failed;
    if (plat::fileSystem().stat(realPath_, &now, true) &&
        (mine.device != now.device || mine.inode != now.inode))
      continue;
    identity_ = ContainerIdentity::of(mine);
    mode_ = mine.mode;
    names_ = mine.links;
    file_ = std::move(f);
    return Status::Locked;
  }
  return Status::Busy;
}

void ContainerLock::release() { file_.reset(); }

bool ContainerLock::unchanged() const {
  if (!file_) return false;
  plat::FileInfo now, mine;
  return plat::fileSystem().stat(realPath_, &now, true) && file_->platformFile()->info(&mine) &&
         ContainerIdentity::of(now) == identity_ && ContainerIdentity::of(mine) == identity_;
}

void ContainerLock::refresh() {
  plat::FileInfo mine;
  if (file_ && file_->platformFile()->info(&mine)) {
    identity_ = ContainerIdentity::of(mine);
    names_ = mine.links;
  }
}

void ContainerLock::adopt(std::unique_ptr<JNormFile> file) {
  file_ = std::move(file);
  refresh();
}

// ---- the replacement ----

int ContainerReplacement::begin(uint64_t room, bool mayBuildElsewhere,
                                std::unique_ptr<JNormFile>* out, std::string* message) {
  if (lock_.names() > 1) {
    *message = plat::strFormat(
        "%s has %llu names (hard links). Replacing it would leave the other names with the old "
        "contents, so it was left as it was. Remove its other names, or work on a copy of it.",
        lock_.path().c_str(), static_cast<unsigned long long>(lock_.names()));
    return kMoveFailed;
  }
  const std::string near = folderOf(lock_.realPath());
  std::string folder = near;
  uint64_t freeBytes = 0;
  bool roomNear = !plat::fileSystem().freeSpace(near, &freeBytes) || freeBytes >= room + kSpaceMargin;
  // Without room for the most it can take, the new archive is built in the
  // temporary folder, where it learns its exact size before it is copied
  // beside the container.
  if (!roomNear && mayBuildElsewhere) folder = plat::tempDir();
  new_ = newFileIn(folder);
  if (!new_ && folder != near) {
    folder = near;
    new_ = newFileIn(folder);
  }
  if (!new_) {
    *message = plat::joinPath(folder, tempPrefix());
    return kTempFileFailure;
  }
  folder_ = folder;
  nearContainer_ = folder == near;
  new_->file()->setMode(lock_.mode() ? lock_.mode() : plat::defaultFileMode());
  const std::string shown = new_->path().empty() ? plat::joinPath(folder, tempPrefix()) : new_->path();
  *out = std::make_unique<JNormFile>(new_->release(), shown);
  return kOk;
}

int ContainerReplacement::commit(std::unique_ptr<JNormFile> out, uint64_t size,
                                 const MessageSink& configMessage, const Progress& progress,
                                 std::string* message) {
  auto send = [&](const std::string& s) {
    if (configMessage) configMessage(s);
  };
  auto failed = [&](int code, const std::string& detail) {
    send(plat::loadStrFmt(plat::kStrReplaceError, code));
    *message = plat::loadStr(plat::kStrWasReplacing) + (detail.empty() ? "" : ": " + detail);
    return code;
  };
  const std::string near = folderOf(lock_.realPath());

  if (!nearContainer_) {
    // Built in the temporary folder: copied beside the container first, when
    // its file system has room for it.
    uint64_t freeBytes = 0;
    if (plat::fileSystem().freeSpace(near, &freeBytes) && freeBytes < size) {
      *message = roomText(lock_.path(), near, size, freeBytes);
      send(*message);
      return kDiskMayBeFull;
    }
    std::unique_ptr<plat::NewFile> nearFile = newFileIn(near);
    if (!nearFile) return failed(kTempFileFailure, plat::joinPath(near, tempPrefix()));
    nearFile->file()->setMode(lock_.mode() ? lock_.mode() : plat::defaultFileMode());
    auto copy = std::make_unique<JNormFile>(nearFile->release(), nearFile->path());
    std::vector<uint8_t> buf(kCopyBlock);
    uint64_t copied = 0;
    bool ok = out->seek(0, SeekOrigin::Begin) == kOk;
    while (ok && copied < size) {
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kCopyBlock, size - copied));
      ok = out->read(buf.data(), n) == kOk && copy->write(buf.data(), n) == kOk;
      if (ok) copied += n;
      if (ok && progress) progress(static_cast<int>(copied * 100 / size));
    }
    if (!ok) {
      copy.reset();
      nearFile->rollback();
      uint64_t nowFree = 0;
      plat::fileSystem().freeSpace(near, &nowFree);
      *message = roomText(lock_.path(), near, size, nowFree);
      send(plat::loadStrFmt(plat::kStrReplaceError, kDiskMayBeFull));
      send(*message);
      return kDiskMayBeFull;
    }
    // The copy in the temporary folder is no longer needed.
    out.reset();
    rollback();
    out = std::move(copy);
    new_ = std::move(nearFile);
    folder_ = near;
    nearContainer_ = true;
  }

  if (!out->sync()) return failed(kWriteFailure, plat::lastErrorText());
  if (!lock_.unchanged()) {
    std::string text = lock_.path() + " was changed or replaced by another program during the run, so it was not replaced";
    if (keepAside())
      text += "; the new briefcase was kept as " + kept_;
    text += ".";
    *message = text;
    send(text);
    return kInUse;
  }
  // Locked before it takes the container's place, so the lock carries over.
  out->lockExclusive();
  if (!new_->replace(lock_.realPath())) {
    const std::string why = plat::lastErrorText();
    rollback();
    return failed(kMoveFailed, why);
  }
  plat::fileSystem().syncDir(near);
  lock_.adopt(std::move(out));
  return kOk;
}

bool ContainerReplacement::keepAside() {
  const std::string name = plat::fileNamePart(lock_.realPath());
  size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  for (int n = 1; n < 100; ++n) {
    std::string candidate =
        plat::joinPath(new_->folder(), name.substr(0, dot) +
                                           (n == 1 ? " (new)" : " (new " + std::to_string(n) + ")") +
                                           name.substr(dot));
    if (new_->nameNew(candidate)) {
      plat::fileSystem().syncDir(new_->folder());
      kept_ = candidate;
      return true;
    }
    if (plat::lastError() != EEXIST) break;
  }
  // Not named aside: a temporary name would not keep it (the next run
  // removes such files), so it is dropped; the briefcase stays as it was.
  return false;
}

void ContainerReplacement::rollback() {
  if (new_) new_->rollback();
}

// ---- whole containers ----

int replaceWithEmpty(ContainerLock& lock, const std::vector<uint8_t>& comment,
                     const plat::FileTime* writeTime, const MessageSink& configMessage,
                     const std::vector<uint8_t>& head) {
  if (comment.size() > 0xffff) return kInvalidComment;
  ContainerReplacement r(lock);
  std::unique_ptr<JNormFile> out;
  std::string message;
  const uint64_t size = head.size() + TEndCentralRecord::kSize + comment.size();
  int rc = r.begin(size, false, &out, &message);
  if (rc == kOk) rc = writeEmpty(*out, comment, writeTime, head);
  if (rc == kOk) rc = r.commit(std::move(out), size, configMessage, nullptr, &message);
  if (rc != kOk && configMessage && !message.empty()) configMessage(message);
  return rc;
}

int createContainerAtomically(const std::string& path, const std::vector<uint8_t>& comment,
                              const plat::FileTime* writeTime, bool replace,
                              const std::vector<uint8_t>& head) {
  if (comment.size() > 0xffff) return kInvalidComment;
  if (replace) {
    ContainerLock lock;
    const ContainerLock::Status status = lock.acquire(path);
    if (status == ContainerLock::Status::Locked)
      return replaceWithEmpty(lock, comment, writeTime, nullptr, head);
    if (status != ContainerLock::Status::Missing) return kCreateFailed;
    // Nothing to replace: created as a new one.
  }
  const std::string folder = folderOf(path);
  std::unique_ptr<plat::NewFile> f = newFileIn(folder);
  if (!f) return kCreateFailed;
  JNormFile out(f->release(), f->path());
  out.platformFile()->setMode(plat::defaultFileMode());
  int rc = writeEmpty(out, comment, writeTime, head);
  // Named only if nothing is there.
  if (rc == kOk && !f->nameNew(path)) rc = kMoveFailed;
  int err = plat::lastError();
  out.close();
  if (rc != kOk) {
    f->rollback();
    plat::setLastError(err);
    return rc;
  }
  plat::fileSystem().syncDir(folder);
  return kOk;
}

namespace {

// How much of what precedes the end record's comment the check of a rewrite
// reads back: a disk that put the new bytes in the wrong place puts them
// near where they belong.
constexpr uint32_t kRewriteCheck = 65536;

bool readRange(plat::File& f, uint64_t at, size_t n, std::vector<uint8_t>* out) {
  out->resize(n);
  size_t got = 0;
  return f.readAt(at, out->data(), n, &got) && got == n;
}

bool writeRange(plat::File& f, uint64_t at, const std::vector<uint8_t>& bytes) {
  size_t put = 0;
  return f.seek(static_cast<int64_t>(at), plat::Origin::Begin, nullptr) &&
         f.write(bytes.data(), bytes.size(), &put) && put == bytes.size();
}

// Writes `bytes` at `at` as the file's end: cut after them where the file
// was longer, then synced.
bool writeEnd(plat::File& f, uint64_t at, const std::vector<uint8_t>& bytes) {
  return writeRange(f, at, bytes) && f.truncateHere() && f.sync();
}

// Whether the file, read from the disk, holds `bytes` from `at` to its end.
bool diskHolds(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<plat::File> f =
      plat::fileSystem().open(path, plat::Access::Read, plat::Disposition::OpenExisting);
  uint64_t size = 0;
  std::vector<uint8_t> now;
  if (!f) return false;
  f->forgetCached();
  const bool same = f->size(&size) && size == at + bytes.size() &&
                    readRange(*f, at, bytes.size(), &now) && now == bytes;
  f->close();
  return same;
}

}  // namespace

int rewriteComment(const std::string& path, const std::vector<uint8_t>& comment,
                   const MessageSink& configMessage, ContainerLock* held) {
  if (comment.size() > 0xffff) return kInvalidComment;
  ContainerLock own;
  ContainerLock* lock = held && held->held() ? held : &own;
  if (lock == &own && own.acquire(path) != ContainerLock::Status::Locked) return kMissingOrEmpty;
  // Where it can, a new directory and end record go after the end, so that
  // no byte of the archive is written over.
  const char* way = std::getenv("CARRYVALE_UPDATE");
  if (!(way && std::string(way) == "rewrite")) {
    const int rc = appendComment(*lock, comment, configMessage);
    if (rc != ContainerAppend::kNotAppendable) return rc;
  }
  // Read through a handle of its own; written only through the lock's.
  JNormFile f(lock->realPath(), plat::Access::Read, plat::Disposition::OpenExisting);
  plat::FileInfo fi;
  if (!f.isOpen() || !f.platformFile()->info(&fi) || fi.inode != lock->identity().inode ||
      fi.device != lock->identity().device)
    return kMissingOrEmpty;
  EndRecordInfo end;
  if (int rc = findEndRecord(f, &end, nullptr)) {
    if (configMessage) configMessage("Configuration not found");
    return rc;
  }
  const uint64_t tailAt = end.position + 20;  // the comment's length, then the comment
  const uint64_t checkAt = tailAt - std::min<uint64_t>(tailAt, kRewriteCheck);
  std::vector<uint8_t> before;
  if (fi.size < tailAt || !readRange(*f.platformFile(), checkAt, fi.size - checkAt, &before))
    return kWriteFailure;
  f.close();

  ByteWriter w;
  w.u16(static_cast<uint16_t>(comment.size()));
  w.bytes(comment);
  std::vector<uint8_t> after(before.begin(), before.begin() + (tailAt - checkAt));
  after.insert(after.end(), w.data().begin(), w.data().end());

  plat::File& out = *lock->file()->platformFile();
  int rc = kOk;
  const bool written = writeEnd(out, tailAt, w.data());
  if (!written || !diskHolds(lock->realPath(), checkAt, after)) {
    // Put back what was there (a write cut short by a full disk too): the
    // entries are never left changed.
    writeEnd(out, checkAt, before);
    if (written && configMessage)
      configMessage("The configuration could not be saved: the disk did not keep what was written");
    rc = kWriteFailure;
  }
  lock->refresh();
  return rc;
}

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Two spellings of one name in one folder that the folder takes for one
// file: it ignores letter case (the spelling `b` reaches a file, yet no
// entry is spelt so). Inode numbers do not tell there: FAT drivers give
// each spelling its own.
bool foldedTogether(const std::string& a, const std::string& b) {
  const std::string nameA = plat::fileNamePart(a), nameB = plat::fileNamePart(b);
  if (nameA == nameB || nameA.size() != nameB.size() ||
      plat::resolvedPath(folderOf(a)) != plat::resolvedPath(folderOf(b)))
    return false;
  for (size_t i = 0; i < nameA.size(); ++i)
    if (lowerAscii(nameA[i]) != lowerAscii(nameB[i])) return false;
  plat::FolderEnum e;
  if (!e.open(folderOf(b))) return false;
  plat::FindData d;
  while (e.next(&d, false))
    if (d.name == nameB) return false;
  return true;
}

}  // namespace

bool isSameContainer(const std::string& a, const std::string& b) {
  if (a == b || plat::resolvedPath(a) == plat::resolvedPath(b)) return true;
  plat::FileInfo fa, fb;
  if (!plat::fileSystem().stat(a, &fa, true) || !plat::fileSystem().stat(b, &fb, true)) return false;
  return (fa.device == fb.device && fa.inode == fb.inode) ||
         foldedTogether(plat::resolvedPath(a), b);
}

int copyContainer(const std::string& source, const std::string& target, bool replace,
                  std::string* message) {
  // The source stays locked while it is copied: no run of ours changes it.
  JNormFile in(plat::resolvedPath(source), plat::Access::Read, plat::Disposition::OpenExisting);
  if (!in.isOpen()) {
    *message = source + ": " + plat::lastErrorText();
    return kMissingOrEmpty;
  }
  if (!in.lockExclusive()) {
    *message = "Another run is using " + source + ". Try again when it has finished.";
    return kCreateFailed;
  }
  plat::FileInfo from;
  if (!in.platformFile()->info(&from)) {
    *message = source + ": " + plat::lastErrorText();
    return kMissingOrEmpty;
  }

  plat::FileInfo there;
  const bool exists = plat::fileSystem().stat(target, &there, true);
  if (exists && ((there.device == from.device && there.inode == from.inode) ||
                 isSameContainer(source, target))) {
    *message = target + " is the briefcase itself.";
    return kMoveFailed;
  }
  if (exists && (there.isDirectory || !replace)) {
    *message = target + (there.isDirectory ? " is a folder." : " already exists.");
    return kMoveFailed;
  }

  // The bytes, synced, and the source's times; refused when the source
  // changed meanwhile (by a program that does not take our lock).
  auto writeCopy = [&](JNormFile& out) -> int {
    auto unreadable = [&] {
      *message = source + ": " + plat::lastErrorText();
      return kReadSeekFailure;
    };
    std::vector<uint8_t> buf(kCopyBlock);
    if (in.seek(0, SeekOrigin::Begin) != kOk) return unreadable();
    for (uint64_t copied = 0; copied < from.size;) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kCopyBlock, from.size - copied));
      if (in.read(buf.data(), n) != kOk) return unreadable();
      if (out.write(buf.data(), n) != kOk) {
        *message = target + ": " + plat::lastErrorText();
        return kDiskMayBeFull;
      }
      copied += n;
    }
    if (!out.platformFile()->setTimes(nullptr, &from.accessTime, &from.writeTime) ||
        !out.sync()) {
      *message = target + ": " + plat::lastErrorText();
      return kWriteFailure;
    }
    plat::FileInfo now;
    if (!in.platformFile()->info(&now) || ContainerIdentity::of(now) != ContainerIdentity::of(from)) {
      *message = source + " was changed by another program during the copy; nothing was written.";
      return kInUse;
    }
    return kOk;
  };

  if (exists) {
    ContainerLock lock;
    switch (lock.acquire(target)) {
      case ContainerLock::Status::Locked: break;
      case ContainerLock::Status::Busy:
        *message = "Another run is using " + target + ". Try again when it has finished.";
        return kCreateFailed;
      case ContainerLock::Status::Denied:
        *message = target + " is read-only or its disk is write-protected.";
        return kWriteProtected;
      default:
        *message = target + ": " + plat::lastErrorText();
        return kCreateFailed;
    }
    ContainerReplacement r(lock);
    std::unique_ptr<JNormFile> out;
    int rc = r.begin(from.size, false, &out, message);
    if (rc == kOk) rc = writeCopy(*out);
    if (rc == kOk) rc = r.commit(std::move(out), from.size, nullptr, nullptr, message);
    return rc;
  }

  // A new file, named only if nothing is there meanwhile.
  const std::string folder = folderOf(target);
  std::unique_ptr<plat::NewFile> f = newFileIn(folder);
  if (!f) {
    *message = target + ": " + plat::lastErrorText();
    return kCreateFailed;
  }
  JNormFile out(f->release(), f->path());
  out.platformFile()->setMode(from.mode ? from.mode : plat::defaultFileMode());
  int rc = writeCopy(out);
  if (rc == kOk && !f->nameNew(target)) {
    *message = target + ": " + plat::lastErrorText();
    rc = kMoveFailed;
  }
  out.close();
  if (rc != kOk) {
    f->rollback();
    return rc;
  }
  plat::fileSystem().syncDir(folder);
  return kOk;
}

}  // namespace archive
