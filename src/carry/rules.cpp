#include "carry/rules.h"

#include <cstdio>

namespace carry {

plat::FileTime fileTimeOfNs(int64_t ns) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  long rest = static_cast<long>(ns % 1'000'000'000);
  if (rest < 0) {
    rest += 1'000'000'000;
    --ts.tv_sec;
  }
  ts.tv_nsec = rest;
  return plat::fileTimeFromTimespec(ts);
}

int64_t nsOfFileTime(plat::FileTime t) {
  return (static_cast<int64_t>(t) - static_cast<int64_t>(plat::kUnixEpochFileTime)) * 100;
}

namespace {

// The briefcase date's rule: strictly newer than the date.
bool newerThanDate(const FileState& local, plat::FileTime date) {
  return fileTimeOfNs(local.mtimeNs) > date;
}

enum class Change { kUnchanged, kTouched, kChanged, kNeedsHash };

// The local file against the record's local side. Only a file whose size is
// the record's while its time or identity moved (or whose record is too
// young to trust its time) is read.
Change localChange(const Record& r, const FileState& local, const Digest* digest,
                   int64_t stampNs) {
  if (local.size != r.file.size) return Change::kChanged;
  const bool racy = r.file.mtimeNs + stampNs > r.recordedNs;
  const bool sameState = local == r.file;
  if (sameState && !racy) return Change::kUnchanged;
  if (!digest) return Change::kNeedsHash;
  if (digest->size != r.file.size || digest->sha256 != r.hash) return Change::kChanged;
  return sameState ? Change::kUnchanged : Change::kTouched;
}

}  // namespace

LocalClass classifyLocal(const Record* record, const FileState& local, const Digest* digest,
                         plat::FileTime briefcaseDate, int64_t stampNs) {
  if (!record)
    return {newerThanDate(local, briefcaseDate) ? LocalVerdict::kCandidate
                                                : LocalVerdict::kNotCandidate,
            Basis::kDate};
  switch (localChange(*record, local, digest, stampNs)) {
    case Change::kUnchanged: return {LocalVerdict::kNotCandidate, Basis::kRecord};
    case Change::kTouched: return {LocalVerdict::kSame, Basis::kRecord};
    case Change::kChanged: return {LocalVerdict::kCandidate, Basis::kRecord};
    case Change::kNeedsHash: break;
  }
  return {LocalVerdict::kNeedsHash, Basis::kRecord};
}

EntryClass classifyEntry(const Record* record, const FileState* local, const Digest* digest,
                         const EntryState& entry, plat::FileTime briefcaseDate, int64_t stampNs) {
  if (!record || !local) {
    return {EntryVerdict::kDateRule, Basis::kDate,
            local != nullptr && newerThanDate(*local, briefcaseDate)};
  }
  const bool entryIsRecord = entry.crc == record->entryCrc && entry.size == record->entrySize;
  const Change change = localChange(*record, *local, digest, stampNs);
  if (change == Change::kNeedsHash) return {EntryVerdict::kNeedsHash, Basis::kRecord};
  const bool localChanged = change == Change::kChanged;
  if (entryIsRecord)
    return {localChanged ? EntryVerdict::kNewerHere : EntryVerdict::kSame, Basis::kRecord};
  if (!localChanged) return {EntryVerdict::kCarry, Basis::kRecord};
  // Both moved away from the record. Holding the same bytes, they agree (the
  // same edit reached both sides, or another program loaded this very file).
  if (local->size != entry.size) return {EntryVerdict::kConflict, Basis::kConflict};
  if (!digest) return {EntryVerdict::kNeedsHash, Basis::kRecord};
  if (entry.crcIsContent && digest->size == entry.size && digest->crc32 == entry.crc)
    return {EntryVerdict::kSame, Basis::kRecord};
  return {EntryVerdict::kConflict, Basis::kConflict};
}

namespace {

// The length of the longest prefix of `s` within `n` bytes that does not
// split a UTF-8 sequence.
size_t utf8Prefix(const std::string& s, size_t n) {
  if (n >= s.size()) return s.size();
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

std::string conflictName(const std::string& name, const std::string& computerId,
                         const std::string& day, size_t maxBytes,
                         const std::function<bool(const std::string&)>& taken) {
  const size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : std::string();
  for (int n = 1; n < 1000; ++n) {
    const std::string suffix = " (conflict from " + computerId + " " + day +
                               (n > 1 ? " " + std::to_string(n) : std::string()) + ")";
    const size_t fixed = suffix.size() + extension.size();
    if (fixed >= maxBytes) return std::string();
    const std::string cut = stem.substr(0, utf8Prefix(stem, maxBytes - fixed));
    if (cut.empty() && !stem.empty()) return std::string();
    const std::string candidate = cut + suffix + extension;
    if (!taken || !taken(candidate)) return candidate;
  }
  return std::string();
}

std::string conflictDay(plat::FileTime time) {
  plat::SystemTime t;
  if (!plat::fileTimeToLocal(time, &t)) return std::string();
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

std::string why(const LocalClass& c) {
  if (c.basis == Basis::kDate)
    return c.verdict == LocalVerdict::kCandidate
               ? "date: this computer has no record of carrying the file, and it was changed "
                 "after the briefcase date"
               : "date: this computer has no record of carrying the file, and it was not "
                 "changed after the briefcase date";
  switch (c.verdict) {
    case LocalVerdict::kCandidate:
      return "record: the file's content is not what this computer last carried";
    case LocalVerdict::kSame:
      return "record: the file was touched, but its content is what this computer last carried";
    case LocalVerdict::kNotCandidate:
      return "record: the file is unchanged since this computer last carried it";
    case LocalVerdict::kNeedsHash: break;
  }
  return "record: the file's content has not been read yet";
}

std::string why(const EntryClass& c) {
  switch (c.verdict) {
    case EntryVerdict::kConflict:
      return "conflict: both computers changed this file since it was last carried";
    case EntryVerdict::kNewerHere:
      return "record: the entry is what this computer last carried, and the local file "
             "changed since (newer here)";
    case EntryVerdict::kCarry:
      return "record: the local file is unchanged since it was last carried, and the entry "
             "was changed on the other computer";
    case EntryVerdict::kSame:
      return "record: the entry and the local file hold what was last carried";
    case EntryVerdict::kDateRule:
      return c.localNewerThanDate
                 ? "date: this computer has no record of carrying the file; the local file "
                   "was changed after the briefcase date, and the times of both sides decide"
                 : "date: this computer has no record of carrying the file; the times of "
                   "both sides decide";
    case EntryVerdict::kNeedsHash: break;
  }
  return "record: the local file's content has not been read yet";
}

Record recordOf(const FileState& local, const Digest& digest) {
  Record r;
  r.file = local;
  r.hash = digest.sha256;
  r.entryCrc = digest.crc32;
  r.entrySize = digest.size;
  return r;
}

}  // namespace carry
