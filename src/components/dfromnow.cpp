#include "components/dfromnow.h"

#include <QApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

#include "platform/ask.h"

namespace {

TDFromNow::Clock& fixedClock() {
  static TDFromNow::Clock c;
  return c;
}

// A wall-clock moment as a naive one, so that differences ignore any
// daylight-saving change in between.
QDateTime naive(const QDateTime& t) { return QDateTime(t.date(), t.time(), Qt::UTC); }

}  // namespace

void TDFromNow::ReportConvertError(const EConvertError& e) {
  QString caption = QApplication::applicationDisplayName();
  if (caption.isEmpty()) caption = QStringLiteral("Carryvale");
  QString text = QString::fromStdString(e.what());
  if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  plat::messageBox(text.toStdString(), caption.toStdString(), plat::btnOk, plat::Icon::Error);
}

QString TDFromNow::NotAFloat(const QString& text) {
  return QStringLiteral("'%1' is not a valid floating point value").arg(text);
}
QString TDFromNow::BadTime() { return QStringLiteral("Invalid argument to time encode"); }

void TDFromNow::SetClock(Clock c) { fixedClock() = std::move(c); }

QDateTime TDFromNow::Now() {
  return fixedClock() ? fixedClock()() : QDateTime::currentDateTime();
}

TDFromNow::TDFromNow(QWidget* parent, bool buildParts) : QGroupBox(parent) {
  setObjectName(QStringLiteral("DFromNow"));
  if (buildParts) Loaded();
}

void TDFromNow::Loaded() {
  if (DatePart) return;
  CreateParts();
  SetDays(StoredDays);
}

void TDFromNow::CreateParts() {
  AfterLabel = new QLabel(QStringLiteral("&after this date and hour:"), this);
  DatePart = new QDateEdit(this);
  DatePart->setObjectName(QStringLiteral("DatePart"));
  DatePart->setCalendarPopup(true);
  // The user's short date, always with the full year (a two-digit year
  // would read back in the wrong century).
  QString format = QLocale().dateFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  DatePart->setDisplayFormat(format);
  // Only dates that a packed date and time can carry.
  DatePart->setDateRange(QDate(1980, 1, 1), QDate(2107, 12, 31));
  HourEdit = new QLineEdit(QStringLiteral("0"), this);
  HourEdit->setObjectName(QStringLiteral("HourEdit"));
  HourEdit->setMaxLength(5);
  HourEdit->setFixedWidth(HourEdit->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 16);
  DuringLabel = new QLabel(QStringLiteral("or &during the last"), this);
  DaysEdit = new QSpinBox(this);
  DaysEdit->setObjectName(QStringLiteral("DaysEdit"));
  DaysEdit->setRange(0, kMaxDays);
  DaysEdit->setGroupSeparatorShown(false);
  DaysEdit->setKeyboardTracking(true);
  DaysLabel = new QLabel(QStringLiteral("day(s)."), this);
  AfterLabel->setBuddy(DatePart);
  DuringLabel->setBuddy(DaysEdit);

  auto* grid = new QGridLayout(this);
  grid->setHorizontalSpacing(8);
  grid->addWidget(AfterLabel, 0, 0);
  auto* dateRow = new QHBoxLayout;
  dateRow->addWidget(DatePart);
  dateRow->addWidget(HourEdit);
  dateRow->addStretch(1);
  grid->addLayout(dateRow, 0, 1);
  grid->addWidget(DuringLabel, 1, 0);
  auto* daysRow = new QHBoxLayout;
  daysRow->addWidget(DaysEdit);
  daysRow->addWidget(DaysLabel);
  daysRow->addStretch(1);
  grid->addLayout(daysRow, 1, 1);
  grid->setColumnStretch(1, 1);

  connect(DatePart, &QDateEdit::dateChanged, this, [this] { OnDateTimeChange(); });
  connect(DaysEdit, &QSpinBox::valueChanged, this, [this](int n) { OnDaysEditChange(n); });
  connect(HourEdit, &QLineEdit::textEdited, this, [this] { emit Changed(); });
}

int TDFromNow::daysBack(const QDateTime& moment) {
  const qint64 secs = naive(moment).secsTo(naive(Now()));
  return static_cast<int>(secs / 86400);  // toward zero
}

void TDFromNow::setDaysQuietly(int n) {
  const bool was = updating_;
  updating_ = true;
  DaysEdit->setValue(n);
  updating_ = was;
}

void TDFromNow::SetDateTime(const QDateTime& moment) {
  if (!DatePart) return;
  const bool was = updating_;
  updating_ = true;
  DatePart->setDate(moment.date());
  DaysEdit->setValue(daysBack(moment));
  HourEdit->setText(QString::number(moment.time().hour()));
  updating_ = was;
}

QDate TDFromNow::GetDate() const { return DatePart ? DatePart->date() : QDate(); }

void TDFromNow::SetTime(double dayFraction) {
  if (HourEdit) HourEdit->setText(QString::number(dayFraction * 24, 'g', 10));
}

double TDFromNow::GetTime() const {
  const QString text = HourEdit ? HourEdit->text().trimmed() : QStringLiteral("0");
  bool ok = false;
  double h = text.toDouble(&ok);
  if (!ok) h = QLocale().toDouble(text, &ok);
  if (!ok || !std::isfinite(h)) throw EConvertError(NotAFloat(text).toStdString());
  if (h < 0 || h >= 24) throw EConvertError(BadTime().toStdString());
  return h / 24;
}

QDateTime TDFromNow::GetDateTime() const {
  const double fraction = GetTime();
  const qint64 ms = std::llround(fraction * 86400000.0);
  return QDateTime(GetDate(), QTime(0, 0).addMSecs(static_cast<int>(ms)));
}

void TDFromNow::OnDateTimeChange() {
  if (updating_) return;
  try {
    setDaysQuietly(daysBack(GetDateTime()));
  } catch (const EConvertError& e) {
    ReportConvertError(e);
  }
  emit Changed();
}

void TDFromNow::OnDaysEditChange(int n) {
  if (updating_) return;
  const QDateTime now = Now();
  SetDateTime(QDateTime(now.date().addDays(-n), now.time()));
  HourEdit->setText(QString::number(now.time().hour()));
  emit Changed();
}

void TDFromNow::SetDays(int n) {
  if (!DatePart) {
    StoredDays = n;
    return;
  }
  n = std::clamp(n, 0, kMaxDays);
  // Setting the count the edit already shows still moves the date to now - n.
  const bool was = updating_;
  updating_ = true;
  DaysEdit->setValue(n);
  updating_ = was;
  const QDateTime now = Now();
  SetDateTime(QDateTime(now.date().addDays(-n), now.time()));
  HourEdit->setText(QString::number(now.time().hour()));
}

int TDFromNow::GetDays() const { return DatePart ? DaysEdit->value() : StoredDays; }

bool TDFromNow::SetFileTime(plat::FileTime ft) {
  // Keeping the previous value instead would show another moment as this
  // one (in the settings dialog: the previous briefcase's date).
  plat::SystemTime lt;
  if (!plat::fileTimeToLocal(ft, &lt)) lt.year = ft < plat::kUnixEpochFileTime ? 1601 : 30000;
  const bool packable = lt.year >= 1980 && lt.year <= 2107;
  const plat::SystemTime packed = plat::localFromDosDateTime(plat::dosDateTimeFromLocal(lt));
  SetDateTime(QDateTime(QDate(packed.year, packed.month, packed.day),
                        QTime(packed.hour, packed.minute, packed.second)));
  return packable;
}

plat::FileTime TDFromNow::GetFileTime() const {
  const QDateTime moment = GetDateTime();
  plat::SystemTime lt;
  lt.year = moment.date().year();
  lt.month = moment.date().month();
  lt.day = moment.date().day();
  lt.hour = moment.time().hour();
  lt.minute = moment.time().minute();
  lt.second = moment.time().second();
  plat::FileTime ft = 0;
  if (!plat::fileTimeFromDosDateTime(plat::dosDateTimeFromLocal(lt), &ft))
    throw EConvertError(BadTime().toStdString());
  return ft;
}
