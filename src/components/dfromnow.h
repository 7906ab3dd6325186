#pragma once
// The date filter: one moment in the past, edited in two linked ways, as a
// date and an hour ("after this date and hour:") or as a number of days back
// from now ("or during the last N day(s)."). Changing one updates the other.
// The rest of the program exchanges the moment as a file time (UTC) at the
// two-second resolution of a packed date and time.
//
// Moments are local wall-clock times; "days back" counts calendar days on the
// wall clock, so a daylight-saving change in between moves nothing.

#include <QDateTime>
#include <QGroupBox>
#include <QString>

#include <functional>
#include <stdexcept>

#include "platform/filetime.h"

class QDateEdit;
class QLabel;
class QLineEdit;
class QSpinBox;

// A text that is not the number it should be; the message is the one shown.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TDFromNow : public QGroupBox {
  Q_OBJECT

 public:
  static constexpr int kMaxDays = 10000;

  // buildParts false: the parts are built later by Loaded(); until then Days
  // is held in StoredDays and the moment cannot be set.
  explicit TDFromNow(QWidget* parent = nullptr, bool buildParts = true);

  // The calendar picker is always there on this platform.
  bool UsePicker() const { return true; }

  void SetDateTime(const QDateTime& moment);
  // Throws EConvertError when the hour edit does not hold an hour.
  QDateTime GetDateTime() const;
  void SetDate(const QDateTime& moment) { SetDateTime(moment); }
  QDate GetDate() const;
  void SetTime(double dayFraction);  // hour edit = dayFraction * 24
  double GetTime() const;            // hour edit / 24; throws EConvertError

  // A time without a packed form (before 1980, after 2107) shows its nearest
  // one, 1 January 1980 0:00 or 31 December 2107 23:00; the result is then false.
  bool SetFileTime(plat::FileTime ft);
  // The moment at two-second resolution; throws EConvertError.
  plat::FileTime GetFileTime() const;

  void SetDays(int n);
  int GetDays() const;
  int StoredDays = 0;

  // Builds the parts when they do not exist yet and applies StoredDays.
  void Loaded();

  // The current local time; tests fix it.
  using Clock = std::function<QDateTime()>;
  static void SetClock(Clock clock);
  static QDateTime Now();

  // The texts of the conversion errors.
  static QString NotAFloat(const QString& text);     // "'%s' is not a valid floating point value"
  static QString BadTime();                          // "Invalid argument to time encode"
  // Tells the user of a conversion error as the application shows its errors.
  static void ReportConvertError(const EConvertError& e);

  QLabel* AfterLabel = nullptr;
  QDateEdit* DatePart = nullptr;
  QLineEdit* HourEdit = nullptr;
  QLabel* DuringLabel = nullptr;
  // The days edit with its arrows; it takes digits only, so its text is
  // always a count.
  QSpinBox* DaysEdit = nullptr;
  QLabel* DaysLabel = nullptr;

 signals:
  // The user changed the date, the hour or the days.
  void Changed();

 private:
  void CreateParts();
  void OnDateTimeChange();
  void OnDaysEditChange(int n);
  void setDaysQuietly(int n);
  static int daysBack(const QDateTime& moment);
  bool updating_ = false;
};
