#pragma once
// File times, local time and the archive's DOS date/time stamps.
//
// A file time counts 100-nanosecond intervals since 1601-01-01 00:00 UTC, as
// the briefcase format and the rest of the program use it. Local time follows
// the C library's time zone (TZ), so tests can move the clock east or west.

#include <cstdint>
#include <ctime>
#include <string>

namespace plat {

using FileTime = uint64_t;

// The file time of 1970-01-01 00:00:00 UTC.
constexpr FileTime kUnixEpochFileTime = 116444736000000000ULL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;

FileTime fileTimeFromTimespec(const timespec& ts);  // times before 1601 become 0
timespec timespecFromFileTime(FileTime ft);

// Seconds since 1970 (negative before), truncated toward zero as the format's
// "UT" block computes them, and back.
int64_t unixTimeFromFileTime(FileTime ft);
FileTime fileTimeFromUnixTime(int64_t seconds);

// The current time in UTC.
FileTime nowFileTime();
// The step of the clock the file system dates files by (the kernel's coarse
// clock: one timer tick, 1 to 10 ms), in file-time ticks; 10 ms when the
// system does not say.
FileTime fileClockStep();

// A broken-down time; month 1-12, dayOfWeek 0 = Sunday.
struct SystemTime {
  int year = 1601, month = 1, day = 1, hour = 0, minute = 0, second = 0, milliseconds = 0;
  int dayOfWeek = 0;
};

// UTC file time to local broken-down time and back; false when out of range.
bool fileTimeToLocal(FileTime ft, SystemTime* out);
bool localToFileTime(const SystemTime& lt, FileTime* out);

// UTC broken-down time to file time and back.
bool fileTimeToUtc(FileTime ft, SystemTime* out);
bool utcToFileTime(const SystemTime& st, FileTime* out);

// DOS date/time: date in the high 16 bits, time in the low 16 bits, local time.
// Years before 1980 are stored as 1980-01-01 00:00:00; after 2107 as the last
// representable second.
uint32_t dosDateTimeFromFileTime(FileTime ft);
uint32_t dosDateTimeFromLocal(const SystemTime& lt);
SystemTime localFromDosDateTime(uint32_t dosDateTime);
// A DOS stamp read as local time; false when its fields are not a valid date.
bool fileTimeFromDosDateTime(uint32_t dosDateTime, FileTime* out);

// "2026-12-01T10:00:00Z".
std::string isoUtc(FileTime ft);

}  // namespace plat
