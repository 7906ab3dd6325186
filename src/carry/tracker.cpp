#include "carry/tracker.h"

#include <algorithm>

#include "carry/key.h"
#include "platform/files.h"
#include "platform/mountinfo.h"
#include "platform/paths.h"

namespace carry {

FileState stateOf(const plat::FileInfo& info) {
  FileState s;
  s.size = info.size;
  s.mtimeNs = nsOfFileTime(info.writeTime);
  s.device = info.device;
  s.inode = info.inode;
  return s;
}

std::string relativePath(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::string folderKey(const std::string& folder) {
  plat::FileInfo info;
  if (!plat::fileSystem().stat(folder, &info, true) || !info.isDirectory) return folder;
  // A number freed by a removed folder is soon given to a new one: its
  // birth time tells them apart, where the file system keeps one.
  std::string key = folder + "#" + std::to_string(info.inode);
  if (info.hasBirthTime) key += "." + std::to_string(info.creationTime);
  return key;
}

void forgetBriefcaseAt(const std::string& containerPath) {
  CarryRecord::open(briefcaseKey(containerPath), std::string())->forgetBriefcase();
}

Tracker::Tracker(const std::string& containerPath, const std::string& localFolder,
                 plat::FileTime briefcaseDate, const CarryRecord::Options* options)
    : date_(briefcaseDate) {
  const std::string key = briefcaseKey(containerPath);
  folder_ = plat::stripTrailingSlash(localFolder);
  const std::string folder = folderKey(folder_);
  record_ = options ? CarryRecord::open(key, folder, *options) : CarryRecord::open(key, folder);
  set_ = record_->all();
  stamp_ = stampStepNs(folder_);
  // The pair's date once it has one, unless the briefcase date is earlier
  // (set back on purpose, so that older files are offered again); before,
  // the briefcase date stands.
  since_ = record_->since();
  if (since_) date_ = std::min(date_, fileTimeOfNs(*since_));
}


Tracker::~Tracker() = default;

const Digest* Tracker::digestOf(const std::string& localPath, const FileState& state) {
  auto it = read_.find(localPath);
  if (it != read_.end() && it->second.state == state) return &it->second.digest;
  Digest d;
  if (!digestFile(localPath, &d, nullptr)) return nullptr;
  Read& r = read_[localPath];
  r.state = state;
  r.digest = d;
  return &r.digest;
}

LocalClass Tracker::local(const std::string& path, const std::string& folder,
                          const std::string& name, const plat::FileInfo& info) {
  const Record* r = set_.find(path);
  const FileState state = stateOf(info);
  const LocalClass c = classifyLocal(r, state, nullptr, date_, stamp_);
  return c.verdict == LocalVerdict::kNeedsHash ? localRead(r, state, plat::joinPath(folder, name))
                                               : c;
}

LocalClass Tracker::local(const std::string& path, const std::string& localPath,
                          const plat::FileInfo& info) {
  const Record* r = set_.find(path);
  const FileState state = stateOf(info);
  const LocalClass c = classifyLocal(r, state, nullptr, date_, stamp_);
  return c.verdict == LocalVerdict::kNeedsHash ? localRead(r, state, localPath) : c;
}

// The rule with the file's content.
LocalClass Tracker::localRead(const Record* r, const FileState& state,
                              const std::string& localPath) {
  // A file that cannot be read is offered: the load then says why.
  const Digest* d = digestOf(localPath, state);
  if (!d) return {LocalVerdict::kCandidate, Basis::kRecord};
  return classifyLocal(r, state, d, date_, stamp_);
}

EntryClass Tracker::entry(const std::string& path, const std::string& localPath,
                          const FileState* local, const EntryState& e) {
  const Record* r = set_.find(path);
  if (!local) return classifyEntry(r, nullptr, nullptr, e, date_, stamp_);
  EntryClass c = classifyEntry(r, local, nullptr, e, date_, stamp_);
  if (c.verdict != EntryVerdict::kNeedsHash) return c;
  const Digest* d = digestOf(localPath, *local);
  // Unreadable: nothing is known of its content, and the dates decide.
  if (!d) return classifyEntry(nullptr, local, nullptr, e, date_, stamp_);
  return classifyEntry(r, local, d, e, date_, stamp_);
}

bool Tracker::carried(const std::string& path, const std::string& localPath, uint32_t crc,
                      uint64_t size, const FileState* before, std::optional<uint32_t> mark) {
  plat::FileInfo first;
  if (!plat::fileSystem().stat(localPath, &first, true) || !first.isRegular) return false;
  const FileState state = stateOf(first);
  if (before && !(*before == state)) return false;
  Digest d;
  if (!digestFile(localPath, &d, nullptr)) return false;
  // The bytes read are the file's only when nothing moved while they were.
  plat::FileInfo after;
  if (!plat::fileSystem().stat(localPath, &after, true) || !(stateOf(after) == state))
    return false;
  if (d.size != size || d.crc32 != crc) return false;
  put(path, state, d, mark);
  return true;
}

// Into the operation's batch; the store dates the record.
void Tracker::put(const std::string& path, const FileState& state, const Digest& content,
                  std::optional<uint32_t> mark) {
  if (!batch_) batch_.emplace(record_->batch());
  Record r = recordOf(state, content);
  if (mark) r.entryCrc = *mark;
  batch_->put(path, r);
  carriedAny_ = true;
}

void Tracker::addTrip(const Trip& trip) {
  if (!batch_) batch_.emplace(record_->batch());
  batch_->addTrip(trip);
}

void Tracker::setUndo(const UndoPlan& plan) {
  if (!batch_) batch_.emplace(record_->batch());
  batch_->setUndo(plan);
}

void Tracker::forgetUndo() {
  if (!batch_) batch_.emplace(record_->batch());
  batch_->forgetUndo();
}

void Tracker::restore(const std::string& path, const std::optional<Record>& prior) {
  if (!batch_) batch_.emplace(record_->batch());
  if (prior)
    batch_->put(path, *prior);
  else
    batch_->remove(path);
}

void Tracker::restoreSince(std::optional<int64_t> since) {
  if (!batch_) batch_.emplace(record_->batch());
  if (since)
    batch_->setSince(*since);
  else
    batch_->clearSince();
  sinceSet_ = true;
}

// How far a file's time may lie before the moment it was saved: a stamp's
// step on the file systems of sticks (2 seconds on FAT, 10 ms or 2 s on
// exFAT, FUSE's own), the coarse clock's ticks where times have nanoseconds.
int64_t stampStepNs(const std::string& folder) {
  plat::MountIdentity m;
  if (!plat::mountIdentity(folder, &m)) return kRacyWindowNs;
  const std::string& t = m.fsType;
  if (t == "vfat" || t == "msdos" || t == "exfat" || t == "fat" || t.rfind("fuse", 0) == 0)
    return kRacyWindowNs;
  return kFineStampNs;
}

void Tracker::carriedAs(const std::string& path, const FileState& state, const Digest& content,
                        std::optional<uint32_t> mark) {
  put(path, state, content, mark);
}

void Tracker::loadedAll(int64_t scanNs) {
  if (!batch_) batch_.emplace(record_->batch());
  // A file saved just after the scan began may bear a time up to a stamp's
  // step before it: it stays newer.
  batch_->setSince(scanNs - (stamp_ == kRacyWindowNs ? kRacyWindowNs : kCoarseClockNs));
  sinceSet_ = true;
}

bool Tracker::commit() {
  if (!batch_) return true;
  // The first carry of a pair keeps the date its paths were measured by:
  // the briefcase date moves with every rewrite of the container, and a
  // change it passes over would be left behind.
  if (!since_ && !sinceSet_ && carriedAny_) batch_->setSince(nsOfFileTime(date_));
  const bool ok = batch_->commit();
  batch_.reset();
  return ok;
}

std::string Tracker::takeWarning() { return record_->takeWarning(); }

}  // namespace carry
