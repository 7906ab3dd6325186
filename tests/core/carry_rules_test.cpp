// The rules over the carry record, one table per rule: load candidates,
// entries against their local file, conflict names.

#include "carry/rules.h"
#include "testenv.h"

namespace {

using namespace carry;

constexpr int64_t kSecond = 1'000'000'000;
constexpr int64_t kCarriedAt = 1'780'000'000 * kSecond;  // the file's time when carried

FileState stateOf(const std::string& bytes, int64_t mtimeNs, uint64_t inode = 42) {
  return {bytes.size(), mtimeNs, 7, inode};
}
Digest digestOf(const std::string& bytes) { return digestBytes(bytes.data(), bytes.size()); }

// The record of "v1" carried at kCarriedAt, written ten seconds later.
Record carriedRecord() {
  Record r = recordOf(stateOf("v1", kCarriedAt), digestOf("v1"));
  r.recordedNs = kCarriedAt + 10 * kSecond;
  return r;
}

// What the local file is now, against the record of "v1".
struct LocalNow {
  const char* what;
  std::string bytes;
  FileState state;
};
const LocalNow kUnchanged{"unchanged", "v1", stateOf("v1", kCarriedAt)};
const LocalNow kTouched{"touched", "v1", stateOf("v1", kCarriedAt + 60 * kSecond)};
const LocalNow kMoved{"copied back (new inode)", "v1", stateOf("v1", kCarriedAt, 43)};
const LocalNow kEdited{"edited, same size", "v2", stateOf("v2", kCarriedAt + 60 * kSecond)};
const LocalNow kGrown{"edited, new size", "v22", stateOf("v22", kCarriedAt + 60 * kSecond)};
const LocalNow kSneaky{"edited, time kept", "v2", stateOf("v2", kCarriedAt)};

TEST(CarryRules, LoadCandidates) {
  const Record rec = carriedRecord();
  Record young = rec;  // written within the same time stamp as the file's last change
  young.recordedNs = kCarriedAt + kSecond / 2;
  // The briefcase date just below and at the file's time (100 ns ticks).
  const plat::FileTime atFile = plat::kUnixEpochFileTime + kCarriedAt / 100;
  const plat::FileTime after = atFile + 60 * 10'000'000ULL;
  const struct {
    const Record* record;
    const LocalNow& local;
    plat::FileTime date;
    bool asksHash;  // without a digest the rule asks for one
    LocalVerdict verdict;
    Basis basis;
    int64_t stamp = kRacyWindowNs;  // the step of the file system's time stamps
  } rows[] = {
      // no record: the date decides; equal to the date is not newer
      {nullptr, kUnchanged, atFile, false, LocalVerdict::kNotCandidate, Basis::kDate},
      {nullptr, kUnchanged, atFile - 1, false, LocalVerdict::kCandidate, Basis::kDate},
      {nullptr, kEdited, after, false, LocalVerdict::kNotCandidate, Basis::kDate},
      {nullptr, kEdited, atFile, false, LocalVerdict::kCandidate, Basis::kDate},
      // a record: the content decides, whatever the date says
      {&rec, kUnchanged, 0, false, LocalVerdict::kNotCandidate, Basis::kRecord},
      {&rec, kTouched, 0, true, LocalVerdict::kSame, Basis::kRecord},
      {&rec, kMoved, 0, true, LocalVerdict::kSame, Basis::kRecord},
      {&rec, kEdited, after, true, LocalVerdict::kCandidate, Basis::kRecord},
      {&rec, kGrown, after, false, LocalVerdict::kCandidate, Basis::kRecord},
      // a change within the file system's time stamp: the young record is not trusted
      {&young, kSneaky, after, true, LocalVerdict::kCandidate, Basis::kRecord},
      {&young, kUnchanged, after, true, LocalVerdict::kNotCandidate, Basis::kRecord},
      // where times have nanoseconds the window is the clock's tick: half a second is past it
      {&young, kUnchanged, after, false, LocalVerdict::kNotCandidate, Basis::kRecord, kFineStampNs},
  };
  for (const auto& r : rows) {
    const Digest d = digestOf(r.local.bytes);
    const LocalClass with = classifyLocal(r.record, r.local.state, &d, r.date, r.stamp);
    const LocalClass without = classifyLocal(r.record, r.local.state, nullptr, r.date, r.stamp);
    const std::string row = std::string(r.record ? "record, " : "none, ") + r.local.what;
    EXPECT_EQ(with.verdict, r.verdict) << row;
    EXPECT_EQ(with.basis, r.basis) << row;
    EXPECT_EQ(without.verdict, r.asksHash ? LocalVerdict::kNeedsHash : r.verdict) << row;
    EXPECT_EQ(why(with).rfind(r.basis == Basis::kDate ? "date:" : "record:", 0), 0u) << row;
  }
}

TEST(CarryRules, EntryAgainstLocalFile) {
  const Record rec = carriedRecord();
  const plat::FileTime date = plat::kUnixEpochFileTime + (kCarriedAt + 30 * kSecond) / 100;
  auto entryOf = [](const std::string& bytes) {
    const Digest d = digestOf(bytes);
    return EntryState{d.crc32, d.size, 0};
  };
  const EntryState carried = entryOf("v1"), changed = entryOf("e2"), likeLocal = entryOf("v2");
  const struct {
    const Record* record;
    const LocalNow* local;  // null: no local file
    EntryState entry;
    bool asksHash;
    EntryVerdict verdict;
    bool newerThanDate;
  } rows[] = {
      {&rec, &kUnchanged, carried, false, EntryVerdict::kSame, false},
      {&rec, &kUnchanged, changed, false, EntryVerdict::kCarry, false},
      {&rec, &kTouched, carried, true, EntryVerdict::kSame, false},
      {&rec, &kTouched, changed, true, EntryVerdict::kCarry, false},
      {&rec, &kEdited, carried, true, EntryVerdict::kNewerHere, false},
      {&rec, &kGrown, carried, false, EntryVerdict::kNewerHere, false},
      {&rec, &kEdited, changed, true, EntryVerdict::kConflict, false},
      {&rec, &kGrown, changed, false, EntryVerdict::kConflict, false},
      // both moved to the same bytes: they agree
      {&rec, &kEdited, likeLocal, true, EntryVerdict::kSame, false},
      // the record's file is gone, or there is no record: the dates decide
      {&rec, nullptr, changed, false, EntryVerdict::kDateRule, false},
      {nullptr, &kUnchanged, changed, false, EntryVerdict::kDateRule, false},
      {nullptr, &kEdited, changed, false, EntryVerdict::kDateRule, true},
      {nullptr, nullptr, carried, false, EntryVerdict::kDateRule, false},
  };
  for (const auto& r : rows) {
    const std::string row = std::string(r.record ? "record, " : "none, ") +
                            (r.local ? r.local->what : "no local file");
    const Digest d = digestOf(r.local ? r.local->bytes : "");
    const FileState* st = r.local ? &r.local->state : nullptr;
    const EntryClass with = classifyEntry(r.record, st, r.local ? &d : nullptr, r.entry, date);
    const EntryClass without = classifyEntry(r.record, st, nullptr, r.entry, date);
    EXPECT_EQ(with.verdict, r.verdict) << row;
    EXPECT_EQ(with.localNewerThanDate, r.newerThanDate) << row;
    EXPECT_EQ(without.verdict, r.asksHash ? EntryVerdict::kNeedsHash : r.verdict) << row;
    const char* word = r.verdict == EntryVerdict::kConflict   ? "conflict:"
                       : r.verdict == EntryVerdict::kDateRule ? "date:"
                                                              : "record:";
    EXPECT_EQ(why(with).rfind(word, 0), 0u) << row << ": " << why(with);
  }
}

TEST(CarryRules, ConflictName) {
  const std::string longStem(240, 'n');
  const std::string umlauts = "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4";  // five 2-byte letters
  const struct {
    std::string name;
    size_t maxBytes;
    std::vector<std::string> taken;
    std::string expected;
  } rows[] = {
      {"report.doc", 255, {}, "report (conflict from B2 2026-12-09).doc"},
      {"Makefile", 255, {}, "Makefile (conflict from B2 2026-12-09)"},
      {".profile", 255, {}, ".profile (conflict from B2 2026-12-09)"},
      {"a.tar.gz", 255, {}, "a.tar (conflict from B2 2026-12-09).gz"},
      {"report.doc",
       255,
       {"report (conflict from B2 2026-12-09).doc", "report (conflict from B2 2026-12-09 2).doc"},
       "report (conflict from B2 2026-12-09 3).doc"},
      // shortened to fit, never splitting a character
      {longStem + ".doc", 255, {}, std::string(221, 'n') + " (conflict from B2 2026-12-09).doc"},
      {umlauts + ".doc", 37, {}, "\xc3\xa4 (conflict from B2 2026-12-09).doc"},
      {umlauts + ".doc", 35, {}, ""},
      {"x.doc", 20, {}, ""},
  };
  for (const auto& r : rows) {
    const std::string got = conflictName(r.name, "B2", "2026-12-09", r.maxBytes,
                                         [&](const std::string& n) {
                                           for (const auto& t : r.taken)
                                             if (t == n) return true;
                                           return false;
                                         });
    EXPECT_EQ(got, r.expected) << r.name << " within " << r.maxBytes;
    EXPECT_LE(got.size(), r.maxBytes);
  }
  testenv::Env env;
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(conflictDay(plat::kUnixEpochFileTime + 1'796'774'400ULL * 10'000'000ULL),
            "2026-12-09");
}

}  // namespace
