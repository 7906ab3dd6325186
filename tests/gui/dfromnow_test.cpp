#include <gtest/gtest.h>

#include <QDateEdit>
#include <QLineEdit>
#include <QSpinBox>
#include <QKeyEvent>

#include <time.h>

#include "components/dfromnow.h"
#include "gui_helpers.h"

namespace {

// A time zone with daylight saving (it begins on 29 March 2026) and a fixed clock.
class DateFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (tz) oldTz_ = tz;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    at(QDate(2026, 3, 10), QTime(14, 35, 20));
  }
  void TearDown() override {
    TDFromNow::SetClock(nullptr);
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void at(QDate d, QTime t) {
    TDFromNow::SetClock([d, t] { return QDateTime(d, t); });
  }
  static plat::FileTime local(int y, int mo, int d, int h, int mi = 0, int s = 0) {
    plat::SystemTime lt;
    lt.year = y, lt.month = mo, lt.day = d, lt.hour = h, lt.minute = mi, lt.second = s;
    plat::FileTime ft = 0;
    EXPECT_TRUE(plat::localToFileTime(lt, &ft));
    return ft;
  }

 private:
  bool hadTz_ = false;
  std::string oldTz_;
};

}  // namespace

TEST_F(DateFilter, DaysPutTheDateBackAtTheCurrentHour) {
  TDFromNow f;
  f.SetDays(7);
  EXPECT_EQ(f.DatePart->date(), QDate(2026, 3, 3));
  EXPECT_EQ(f.HourEdit->text(), "14");
  EXPECT_EQ(f.GetFileTime(), local(2026, 3, 3, 14));

  // Picking a date keeps the hour and counts the days back.
  f.DatePart->setDate(QDate(2026, 3, 5));
  EXPECT_EQ(f.GetDays(), 5);
  EXPECT_EQ(f.HourEdit->text(), "14");

  // Typing a count moves the date; the arrows stop at 10000.
  f.DaysEdit->setValue(10000);
  EXPECT_EQ(f.DatePart->date(), QDate(2026, 3, 10).addDays(-10000));
  f.DaysEdit->stepBy(1);
  EXPECT_EQ(f.GetDays(), 10000);
  f.SetDays(20000);
  EXPECT_EQ(f.GetDays(), 10000);

  // The same count again still moves the date to the new now.
  f.SetDays(7);
  at(QDate(2026, 3, 12), QTime(9, 0));
  f.SetDays(7);
  EXPECT_EQ(f.DatePart->date(), QDate(2026, 3, 5));
  EXPECT_EQ(f.HourEdit->text(), "9");
}

TEST_F(DateFilter, FileTimesTravelAtTwoSecondsWithinThePackedYears) {
  TDFromNow f;
  f.SetDays(7);
  const struct {
    plat::FileTime in;
    bool taken;
    QDate date;
    QString hour;
  } cases[] = {
      {local(2026, 2, 1, 9, 30, 7), true, QDate(2026, 2, 1), "9"},
      // Without a packed form: the nearest one, never the value shown before.
      {plat::kUnixEpochFileTime, false, QDate(1980, 1, 1), "0"},
      {0, false, QDate(1980, 1, 1), "0"},
      {local(2108, 1, 2, 0), false, QDate(2107, 12, 31), "23"},
      {~plat::FileTime(0), false, QDate(2107, 12, 31), "23"},
      {local(1980, 1, 1, 0), true, QDate(1980, 1, 1), "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(f.SetFileTime(c.in), c.taken);
    EXPECT_EQ(f.DatePart->date(), c.date);
    EXPECT_EQ(f.HourEdit->text(), c.hour);
  }
  f.DatePart->setDate(QDate(2026, 2, 1));
  f.HourEdit->setText("9.5");  // a decimal hour: 9:30
  EXPECT_EQ(f.GetFileTime(), local(2026, 2, 1, 9, 30));
}

TEST_F(DateFilter, DaylightSavingChangeMovesNoDay) {
  at(QDate(2026, 3, 30), QTime(14, 35));  // summer time since yesterday
  TDFromNow f;
  f.SetDays(7);
  EXPECT_EQ(f.DatePart->date(), QDate(2026, 3, 23));
  const plat::FileTime winter = f.GetFileTime();
  EXPECT_EQ(plat::isoUtc(winter), "2026-03-23T13:00:00Z");  // 14:00 in winter time
  f.SetDays(0);
  ASSERT_TRUE(f.SetFileTime(winter));
  EXPECT_EQ(f.GetDays(), 7);
  EXPECT_EQ(f.HourEdit->text(), "14");
}

TEST_F(DateFilter, BadHourTextIsAConversionError) {
  TDFromNow f;
  f.SetDays(3);
  const struct {
    const char* text;
    std::string message;
  } cases[] = {
      {"abc", "'abc' is not a valid floating point value"},
      {"", "'' is not a valid floating point value"},
      {"24", "Invalid argument to time encode"},
      {"-1", "Invalid argument to time encode"},
  };
  for (const auto& c : cases) {
    f.HourEdit->setText(c.text);
    try {
      f.GetFileTime();
      ADD_FAILURE() << c.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  // A date picked while the hour is bad is told once and keeps the days.
  ScriptedAsker asker;
  plat::ScopedAsker scope(&asker);
  f.HourEdit->setText("x");
  f.DatePart->setDate(QDate(2026, 3, 1));
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "'x' is not a valid floating point value.");
  EXPECT_EQ(f.GetDays(), 3);
}

TEST_F(DateFilter, DaysSetBeforeThePartsExistAreStored) {
  TDFromNow f(nullptr, false);
  f.SetDays(5);
  EXPECT_EQ(f.StoredDays, 5);
  EXPECT_EQ(f.GetDays(), 5);
  f.Loaded();
  EXPECT_EQ(f.DaysEdit->value(), 5);
  EXPECT_EQ(f.DatePart->date(), QDate(2026, 3, 5));
}

TEST_F(DateFilter, UserEditsAloneReportAChange) {
  TDFromNow f;
  int changes = 0;
  QObject::connect(&f, &TDFromNow::Changed, [&] { ++changes; });
  f.SetDays(7);
  f.SetFileTime(local(2026, 1, 1, 8));
  EXPECT_EQ(changes, 0);
  f.DaysEdit->setValue(3);
  f.DatePart->setDate(QDate(2026, 3, 1));
  QKeyEvent key(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, "1");
  QApplication::sendEvent(f.HourEdit, &key);
  EXPECT_EQ(changes, 3);
}
