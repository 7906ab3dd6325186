#include "platform/filetime.h"

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace plat {

FileTime fileTimeFromTimespec(const timespec& ts) {
  // Seconds from 1601 to 1970.
  const int64_t epochSeconds = static_cast<int64_t>(kUnixEpochFileTime / kTicksPerSecond);
  int64_t s = static_cast<int64_t>(ts.tv_sec);
  if (s < -epochSeconds) return 0;
  return static_cast<FileTime>(s + epochSeconds) * kTicksPerSecond +
         static_cast<FileTime>(ts.tv_nsec / 100);
}

timespec timespecFromFileTime(FileTime ft) {
  timespec ts{};
  const int64_t epochSeconds = static_cast<int64_t>(kUnixEpochFileTime / kTicksPerSecond);
  ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(ft / kTicksPerSecond) - epochSeconds);
  ts.tv_nsec = static_cast<long>((ft % kTicksPerSecond) * 100);
  return ts;
}

int64_t unixTimeFromFileTime(FileTime ft) {
  // Signed division truncates toward zero, as the stored stamps expect.
  return (static_cast<int64_t>(ft) - static_cast<int64_t>(kUnixEpochFileTime)) /
         static_cast<int64_t>(kTicksPerSecond);
}

FileTime fileTimeFromUnixTime(int64_t seconds) {
  int64_t t = seconds * static_cast<int64_t>(kTicksPerSecond) +
              static_cast<int64_t>(kUnixEpochFileTime);
  return t < 0 ? 0 : static_cast<FileTime>(t);
}

FileTime nowFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return fileTimeFromTimespec(ts);
}

FileTime fileClockStep() {
  timespec res{};
  if (clock_getres(CLOCK_REALTIME_COARSE, &res) != 0 || res.tv_sec != 0 || res.tv_nsec <= 0)
    return kTicksPerSecond / 100;
  return static_cast<FileTime>(res.tv_nsec + 99) / 100;
}

namespace {

void fromTm(const struct tm& tm, int ms, SystemTime* out) {
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  out->milliseconds = ms;
  out->dayOfWeek = tm.tm_wday;
}

struct tm toTm(const SystemTime& st) {
  struct tm tm {};
  tm.tm_year = st.year - 1900;
  tm.tm_mon = st.month - 1;
  tm.tm_mday = st.day;
  tm.tm_hour = st.hour;
  tm.tm_min = st.minute;
  tm.tm_sec = st.second;
  tm.tm_isdst = -1;
  return tm;
}

bool validFields(const SystemTime& st) {
  return st.year >= 1601 && st.year <= 30827 && st.month >= 1 && st.month <= 12 && st.day >= 1 &&
         st.day <= 31 && st.hour >= 0 && st.hour <= 23 && st.minute >= 0 && st.minute <= 59 &&
         st.second >= 0 && st.second <= 59 && st.milliseconds >= 0 && st.milliseconds <= 999;
}

}  // namespace

// The C library reads the time zone (TZ, /etc/localtime) into shared state
// on the first conversion and whenever TZ changed, under a lock of its own
// that the thread checker does not see; the unload's writers convert times
// on several threads. One lock of ours around each conversion makes the
// order visible, and costs nothing beside the conversion.
namespace {
std::mutex& zoneLock() {
  static std::mutex m;
  return m;
}
}  // namespace

bool fileTimeToLocal(FileTime ft, SystemTime* out) {
  timespec ts = timespecFromFileTime(ft);
  struct tm tm {};
  time_t t = ts.tv_sec;
  {
    std::lock_guard<std::mutex> lock(zoneLock());
    if (!localtime_r(&t, &tm)) return false;
  }
  fromTm(tm, static_cast<int>(ts.tv_nsec / 1000000), out);
  return true;
}

bool localToFileTime(const SystemTime& lt, FileTime* out) {
  if (!validFields(lt)) return false;
  struct tm tm = toTm(lt);
  time_t t;
  {
    std::lock_guard<std::mutex> lock(zoneLock());
    errno = 0;
    t = mktime(&tm);
    if (t == static_cast<time_t>(-1) && errno != 0) return false;
  }
  timespec ts{};
  ts.tv_sec = t;
  ts.tv_nsec = static_cast<long>(lt.milliseconds) * 1000000L;
  *out = fileTimeFromTimespec(ts);
  return true;
}

bool fileTimeToUtc(FileTime ft, SystemTime* out) {
  timespec ts = timespecFromFileTime(ft);
  struct tm tm {};
  time_t t = ts.tv_sec;
  if (!gmtime_r(&t, &tm)) return false;
  fromTm(tm, static_cast<int>(ts.tv_nsec / 1000000), out);
  return true;
}

bool utcToFileTime(const SystemTime& st, FileTime* out) {
  if (!validFields(st)) return false;
  struct tm tm = toTm(st);
  tm.tm_isdst = 0;
  time_t t = timegm(&tm);
  timespec ts{};
  ts.tv_sec = t;
  ts.tv_nsec = static_cast<long>(st.milliseconds) * 1000000L;
  *out = fileTimeFromTimespec(ts);
  return true;
}

uint32_t dosDateTimeFromLocal(const SystemTime& lt) {
  if (lt.year < 1980) return (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  if (lt.year > 2107)
    return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  return (static_cast<uint32_t>(lt.year - 1980) << 25) | (static_cast<uint32_t>(lt.month) << 21) |
         (static_cast<uint32_t>(lt.day) << 16) | (static_cast<uint32_t>(lt.hour) << 11) |
         (static_cast<uint32_t>(lt.minute) << 5) | static_cast<uint32_t>(lt.second / 2);
}

uint32_t dosDateTimeFromFileTime(FileTime ft) {
  SystemTime lt;
  if (!fileTimeToLocal(ft, &lt)) return (1u << 21) | (1u << 16);
  return dosDateTimeFromLocal(lt);
}

SystemTime localFromDosDateTime(uint32_t d) {
  SystemTime lt;
  // A zero date (written by tools that had no time to give) is the format's
  // earliest moment, 1980-01-01 00:00.
  if ((d >> 16) == 0) d = (1u << 21) | (1u << 16);
  lt.year = 1980 + static_cast<int>((d >> 25) & 0x7f);
  lt.month = static_cast<int>((d >> 21) & 0x0f);
  lt.day = static_cast<int>((d >> 16) & 0x1f);
  lt.hour = static_cast<int>((d >> 11) & 0x1f);
  lt.minute = static_cast<int>((d >> 5) & 0x3f);
  lt.second = static_cast<int>((d & 0x1f) * 2);
  return lt;
}

bool fileTimeFromDosDateTime(uint32_t d, FileTime* out) {
  return localToFileTime(localFromDosDateTime(d), out);
}

std::string isoUtc(FileTime ft) {
  SystemTime st;
  if (!fileTimeToUtc(ft, &st)) return "1601-01-01T00:00:00Z";
  char buf[80];  // room for any int in every field
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", st.year, st.month, st.day,
                st.hour, st.minute, st.second);
  return buf;
}

}  // namespace plat
