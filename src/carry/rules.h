#pragma once
// The rules over the carry record: which local files are load candidates,
// what an entry is against its local file, the name of a conflict copy, and
// the reason text for a row. Pure: no file is read here; the caller passes
// what it saw and, when a rule asks for it, the file's digest.
//
// Without a record (first use, a lost record, a path never carried) the
// briefcase date decides, exactly as it always did.

#include <cstdint>
#include <functional>
#include <string>

#include "carry/digest.h"
#include "carry/record.h"
#include "platform/filetime.h"

namespace carry {

// Which rule made a row what it is.
enum class Basis { kRecord, kDate, kConflict };

// A file whose time lies this close before the moment its record was
// written may have changed again within the same time stamp: its state alone
// proves nothing, it is read. The step of a stamp: 2 seconds on file systems
// with 1- or 2-second times; where times have nanoseconds, the kernel's
// coarse clock still moves in ticks of a few milliseconds.
constexpr int64_t kRacyWindowNs = 2'000'000'000;
constexpr int64_t kFineStampNs = 100'000'000;
// A tick of that clock, with room to spare: a file saved after a moment
// bears a time no earlier than this before it.
constexpr int64_t kCoarseClockNs = 10'000'000;

// The record's times (nanoseconds since 1970) as file times, and back.
plat::FileTime fileTimeOfNs(int64_t ns);
int64_t nsOfFileTime(plat::FileTime t);

// ---- local files: the load candidates ----

enum class LocalVerdict {
  kCandidate,     // changed since carried (or, without a record, newer than the date)
  kSame,          // touched (time or identity moved) but its bytes are what was carried
  kNotCandidate,  // unchanged since carried (or not newer than the date)
  kNeedsHash,     // ask again with the file's digest
};

struct LocalClass {
  LocalVerdict verdict;
  Basis basis;
};

// `digest` may be null; it is asked for (kNeedsHash) only when the size is
// the record's but the time or identity differ, or the record is too young
// to trust the time.
LocalClass classifyLocal(const Record* record, const FileState& local, const Digest* digest,
                         plat::FileTime briefcaseDate, int64_t stampNs = kRacyWindowNs);

// ---- briefcase entries against their local file ----

// An entry as the central directory gives it.
struct EntryState {
  uint32_t crc = 0;  // or the mark of an encrypted entry's bytes (archive/aes.h)
  uint64_t size = 0;
  plat::FileTime time = 0;
  bool crcIsContent = true;  // false: `crc` is a mark, which tells nothing of a file's bytes
};

enum class EntryVerdict {
  kCarry,      // the local file is unchanged since carried, the entry is not: replace as ever
  kConflict,   // both changed since carried: keep both
  kNewerHere,  // the entry is what was carried, the local file changed since: never a policy's
  kSame,       // both are what was carried (or hold the same bytes)
  kDateRule,   // nothing known: the dates and the question decide as ever
  kNeedsHash,  // ask again with the local file's digest
};

struct EntryClass {
  EntryVerdict verdict;
  Basis basis;
  bool localNewerThanDate = false;  // for kDateRule: the local file is a load candidate by date
};

// `local` is null when no local file has the entry's path. With a record
// but no local file the record describes a file that is gone, and the dates
// decide (the entry is written as it always was).
EntryClass classifyEntry(const Record* record, const FileState* local, const Digest* digest,
                         const EntryState& entry, plat::FileTime briefcaseDate,
                         int64_t stampNs = kRacyWindowNs);

// ---- the conflict copy ----

// The name beside `name` (one path component) under which an entry that
// conflicts with the local file is written:
//   "report.doc" -> "report (conflict from B2 2026-12-09).doc"
// A name without an extension (or only a leading '.') gets the suffix at its
// end; a name that `taken` says exists gets a number ("… 2026-12-09 2)").
// The stem is shortened (on a character boundary) to keep the result within
// `maxBytes`; "" when even that cannot fit or no number is free.
std::string conflictName(const std::string& name, const std::string& computerId,
                         const std::string& day, size_t maxBytes,
                         const std::function<bool(const std::string&)>& taken);

// The local date of a file time as the conflict name shows it: "2026-12-09".
std::string conflictDay(plat::FileTime time);

// ---- the reason, for `brc status --why` ----

// "record: …", "date: …" or "conflict: …", one sentence.
std::string why(const LocalClass& c);
std::string why(const EntryClass& c);

// The record of a local file as it is now; recordedNs is left for the store.
Record recordOf(const FileState& local, const Digest& digest);

}  // namespace carry
