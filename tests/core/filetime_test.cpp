// File times, local time and DOS stamps.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/filetime.h"
#include "testenv.h"

using namespace plat;

namespace {

// Runs a check with TZ set, restoring it afterwards.
class Zone {
 public:
  explicit Zone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (old) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~Zone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

FileTime utc(int y, int mo, int d, int h, int mi, int s) {
  SystemTime st;
  st.year = y;
  st.month = mo;
  st.day = d;
  st.hour = h;
  st.minute = mi;
  st.second = s;
  FileTime ft = 0;
  EXPECT_TRUE(utcToFileTime(st, &ft));
  return ft;
}

}  // namespace

TEST(FileTime, ConvertsToAndFromTimespecAndUnixTime) {
  EXPECT_EQ(unixTimeFromFileTime(kUnixEpochFileTime), 0);
  timespec ts{};
  ts.tv_sec = 1700000000;
  ts.tv_nsec = 123456789;
  FileTime ft = fileTimeFromTimespec(ts);
  EXPECT_EQ(ft, kUnixEpochFileTime + 1700000000ULL * kTicksPerSecond + 1234567);
  timespec back = timespecFromFileTime(ft);
  EXPECT_EQ(back.tv_sec, ts.tv_sec);
  EXPECT_EQ(back.tv_nsec, 123456700);
  // Before 1970 the seconds are truncated toward zero, as the "UT" stamp stores them.
  EXPECT_EQ(unixTimeFromFileTime(kUnixEpochFileTime - 15000000), -1);
  EXPECT_EQ(fileTimeFromUnixTime(-86400), kUnixEpochFileTime - 86400ULL * kTicksPerSecond);
  EXPECT_EQ(isoUtc(utc(2026, 12, 1, 10, 0, 0)), "2026-12-01T10:00:00Z");
}

TEST(FileTime, DosStampsUseLocalTimeAndStartIn1980) {
  Zone zone("UTC0");
  uint32_t d = dosDateTimeFromFileTime(utc(2026, 12, 1, 10, 30, 59));
  EXPECT_EQ(d >> 25, 46u);
  EXPECT_EQ((d >> 21) & 0xf, 12u);
  EXPECT_EQ((d >> 16) & 0x1f, 1u);
  EXPECT_EQ((d >> 11) & 0x1f, 10u);
  EXPECT_EQ((d >> 5) & 0x3f, 30u);
  EXPECT_EQ(d & 0x1f, 29u);  // two-second steps

  const uint32_t first = (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  EXPECT_EQ(dosDateTimeFromFileTime(utc(1975, 6, 15, 12, 0, 0)), first);
  EXPECT_EQ(dosDateTimeFromFileTime(utc(1979, 12, 31, 23, 59, 59)), first);
  EXPECT_EQ(dosDateTimeFromFileTime(utc(1980, 1, 1, 0, 0, 0)), first);
  EXPECT_EQ(dosDateTimeFromFileTime(utc(1980, 1, 1, 0, 0, 2)), first | 1u);

  FileTime back = 0;
  ASSERT_TRUE(fileTimeFromDosDateTime(d, &back));
  EXPECT_EQ(back, utc(2026, 12, 1, 10, 30, 58));
  // Fields that are no date are refused; a zero date is the earliest one.
  EXPECT_FALSE(fileTimeFromDosDateTime((13u << 21) | (1u << 16), &back));
  FileTime earliest = 0;
  ASSERT_TRUE(fileTimeFromDosDateTime(first, &earliest));
  ASSERT_TRUE(fileTimeFromDosDateTime(0, &back));
  EXPECT_EQ(back, earliest);
}

TEST(FileTime, DosStampsFollowTheTimeZone) {
  const FileTime noon = utc(2026, 7, 1, 12, 0, 0);
  uint32_t east, west;
  {
    Zone zone("UTC-3");  // three hours east of Greenwich
    east = dosDateTimeFromFileTime(noon);
    FileTime back = 0;
    ASSERT_TRUE(fileTimeFromDosDateTime(east, &back));
    EXPECT_EQ(back, noon);
  }
  {
    Zone zone("UTC+5");
    west = dosDateTimeFromFileTime(noon);
  }
  EXPECT_EQ((east >> 11) & 0x1f, 15u);
  EXPECT_EQ((west >> 11) & 0x1f, 7u);
}
