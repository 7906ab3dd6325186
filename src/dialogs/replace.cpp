#include "dialogs/replace.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

#include "components/artwork.h"
#include "dialogs/placement.h"
#include "platform/strtable.h"

TReplaceForm* ReplaceForm = nullptr;

using namespace plat::strid;

namespace {

constexpr int kIconSize = 32;
constexpr int kLastYear = 30827;  // the last year a date of the file format's peers can hold

const Qt::WindowFlags kDialogFrame =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

// The text with its "%s" and "%d" conversions taken by the values in order;
// a value is never read as a conversion itself.
QString fill(const QString& text, const QStringList& values) {
  QString out;
  qsizetype next = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('%') && i + 1 < text.size() &&
        (text[i + 1] == QLatin1Char('s') || text[i + 1] == QLatin1Char('d')) &&
        next < values.size()) {
      out += values[next++];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The fixed picture: a document coming into a folder.
QPixmap replacePicture() {
  const qreal dpr = 2.0;
  QPixmap pm(QSize(48, 48) * dpr);
  pm.setDevicePixelRatio(dpr);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  art::drawFolder(p, QRectF(2, 14, 40, 30));
  art::drawDocument(p, QPointF(32, 16), 1.2);
  return pm;
}

}  // namespace

// ---- TRenameForm ----

TRenameForm::TRenameForm(QWidget* parent) : QDialog(parent, kDialogFrame) {
  setObjectName(QStringLiteral("RenameForm"));
  setWindowTitle(QStringLiteral("Rename File"));
  Label = new QLabel(this);
  Label->setTextFormat(Qt::PlainText);
  Label->setWordWrap(true);
  Label->setMinimumWidth(380);
  pto = new QLabel(QStringLiteral("to"), this);
  Memo = new QLineEdit(this);
  Memo->setMinimumWidth(380);
  Rename = new QPushButton(QStringLiteral("&Rename"), this);
  Rename->setDefault(true);
  Cancel = new QPushButton(QStringLiteral("&Cancel"), this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label);
  layout->addWidget(pto);
  layout->addWidget(Memo);
  layout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Rename);
  buttons->addWidget(Cancel);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(Rename, &QPushButton::clicked, this, [this] { done(plat::mrOk); });
  connect(Cancel, &QPushButton::clicked, this, [this] { done(plat::mrCancel); });
  setFocusProxy(Memo);
}

void TRenameForm::reject() { done(plat::mrCancel); }

void TRenameForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    // Wide enough for the path, within reason.
    const int widest = Memo->fontMetrics().horizontalAdvance(Memo->text()) + 24;
    Memo->setMinimumWidth(std::clamp(widest, 380, 760));
    Label->setMinimumWidth(Memo->minimumWidth());
    adjustSize();
    CentreOnScreen(this);
    Memo->setFocus();
  }
  QDialog::showEvent(event);
}

// ---- TReplaceForm ----

TReplaceForm::TReplaceForm(QWidget* parent) : QDialog(parent, kDialogFrame) {
  setObjectName(QStringLiteral("ReplaceForm"));
  setWindowTitle(QStringLiteral("Confirm File Replace"));
  Image1 = new QLabel(this);
  Image1->setPixmap(replacePicture());
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ReplaceLabel = new QLabel(this);
  ReplaceLabel->setTextFormat(Qt::PlainText);
  ReplaceLabel->setWordWrap(true);
  ReplaceLabel->setMinimumWidth(360);
  NoteLabel = new QLabel(this);
  NoteLabel->setTextFormat(Qt::PlainText);
  NoteLabel->setWordWrap(true);
  {
    QFont bold = NoteLabel->font();
    bold.setBold(true);
    NoteLabel->setFont(bold);
  }
  NoteLabel->hide();
  Label2 = new QLabel(QStringLiteral("Would you like to replace the existing file"), this);
  ExistingIcon = new QLabel(this);
  ExistingLabel = new QLabel(this);
  ExistingLabel->setTextFormat(Qt::PlainText);
  withthisone = new QLabel(QStringLiteral("with this one?"), this);
  ReplaceWithIcon = new QLabel(this);
  ReplaceWithLabel = new QLabel(this);
  ReplaceWithLabel->setTextFormat(Qt::PlainText);
  for (QLabel* icon : {ExistingIcon, ReplaceWithIcon}) {
    icon->setFixedSize(kIconSize, kIconSize);
    icon->setAlignment(Qt::AlignCenter);
  }
  YesButton = new QPushButton(QStringLiteral("&Yes"), this);
  YestoAllButton = new QPushButton(QStringLiteral("Yes to &All"), this);
  NoButton = new QPushButton(QStringLiteral("&No"), this);
  NotoAllButton = new QPushButton(QStringLiteral("N&o to All"), this);
  RenameButton = new QPushButton(QStringLiteral("&Rename"), this);
  YesButton->setDefault(true);
  RenameForm = new TRenameForm(this);

  auto* text = new QVBoxLayout;
  text->addWidget(ReplaceLabel);
  text->addSpacing(6);
  text->addWidget(NoteLabel);
  text->addWidget(Label2);
  auto* existing = new QHBoxLayout;
  existing->addSpacing(12);
  existing->addWidget(ExistingIcon, 0, Qt::AlignTop);
  existing->addWidget(ExistingLabel, 1);
  text->addLayout(existing);
  text->addSpacing(6);
  text->addWidget(withthisone);
  auto* incoming = new QHBoxLayout;
  incoming->addSpacing(12);
  incoming->addWidget(ReplaceWithIcon, 0, Qt::AlignTop);
  incoming->addWidget(ReplaceWithLabel, 1);
  text->addLayout(incoming);

  auto* top = new QHBoxLayout;
  top->addWidget(Image1, 0, Qt::AlignTop);
  top->addSpacing(8);
  top->addLayout(text, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {YesButton, YestoAllButton, NoButton, NotoAllButton, RenameButton})
    buttons->addWidget(b);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addLayout(top, 1);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(YesButton, &QPushButton::clicked, this, [this] { done(plat::mrYes); });
  connect(YestoAllButton, &QPushButton::clicked, this, [this] { done(plat::mrYesToAll); });
  connect(NoButton, &QPushButton::clicked, this, [this] { done(plat::mrNo); });
  connect(NotoAllButton, &QPushButton::clicked, this, [this] { done(plat::mrNoToAll); });
  connect(RenameButton, &QPushButton::clicked, this, [this] { RenameButtonClick(); });
}

TReplaceForm::~TReplaceForm() {
  if (ReplaceForm == this) ReplaceForm = nullptr;
}

void TReplaceForm::reject() { done(plat::mrCancel); }

QString TReplaceForm::ReplaceText(const QString& targetPath) {
  QString folder, file = targetPath;
  const qsizetype slash = targetPath.lastIndexOf(QLatin1Char('/'));
  if (slash >= 0) {
    file = targetPath.mid(slash + 1);
    const QString before = targetPath.left(slash);
    folder = before.mid(before.lastIndexOf(QLatin1Char('/')) + 1);
  }
  return fill(str(kStrAlreadyContains), {folder, file});
}

QString TReplaceForm::DateText(plat::FileTime time) {
  plat::SystemTime lt;
  if (!plat::fileTimeToLocal(time, &lt) || lt.year > kLastYear) return QStringLiteral("error with date");
  const QDate date(lt.year, lt.month, lt.day);
  const QTime clock(lt.hour, lt.minute);
  if (!date.isValid() || !clock.isValid()) return QStringLiteral("error with date");
  const QLocale locale;
  QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
  timeFormat.remove(QStringLiteral(":ss")).remove(QStringLiteral(".ss"));
  return locale.toString(date, QLocale::LongFormat) + QLatin1Char(' ') +
         locale.toString(clock, timeFormat);
}

QString TReplaceForm::DetailsText(qint64 size, plat::FileTime time) {
  // The size in full, whatever its width.
  return fill(str(kStrFileDetails), {QString::number(size), DateText(time)});
}

void TReplaceForm::FormShow() {
  ReplaceLabel->setText(ReplaceText(TargetPath));
  NoteLabel->setText(Note);
  NoteLabel->setVisible(!Note.isEmpty());
  ExistingLabel->setText(DetailsText(ExistingSize, ExistingTime));
  ReplaceWithLabel->setText(DetailsText(ReplacementSize, ReplacementTime));
  const QFileIconProvider provider;
  QIcon icon = provider.icon(QFileInfo(TargetPath));
  // Without an icon theme the type has no icon: the plain file's.
  if (icon.availableSizes().isEmpty() && icon.pixmap(kIconSize).isNull())
    icon = style()->standardIcon(QStyle::SP_FileIcon);
  const qreal dpr = devicePixelRatioF();
  for (QLabel* l : {ExistingIcon, ReplaceWithIcon}) {
    QPixmap pm = icon.pixmap(QSize(kIconSize, kIconSize), dpr);
    l->setPixmap(pm);
  }
}

void TReplaceForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    adjustSize();
    CentreOnScreen(this);
    YesButton->setFocus();
  }
  QDialog::showEvent(event);
}

void TReplaceForm::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) {
    ExistingIcon->clear();
    ReplaceWithIcon->clear();
  }
  QDialog::hideEvent(event);
}

void TReplaceForm::RenameButtonClick() {
  RenameForm->Label->setText(QStringLiteral("Rename ") + TargetPath);
  RenameForm->Memo->setText(TargetPath);
  if (RenameForm->exec() == plat::mrOk) {
    TargetPath = RenameForm->Memo->text();
    done(plat::mrRename);
    return;
  }
  activateWindow();
  YesButton->setFocus();
}

int TReplaceForm::Ask(const plat::ReplaceQuestion& q, std::string* newPath) {
  TargetPath = QString::fromStdString(q.existingPath);
  ExistingTime = q.existingTime;
  ReplacementTime = q.newTime;
  ExistingSize = static_cast<qint64>(q.existingSize);
  ReplacementSize = static_cast<qint64>(q.newSize);
  Note = QString::fromStdString(q.note);
  RenameButton->setVisible(q.allowRename);
  const int result = exec();
  if (result == plat::mrRename && newPath) *newPath = TargetPath.toStdString();
  switch (result) {
    case plat::mrYes:
    case plat::mrYesToAll:
    case plat::mrNo:
    case plat::mrNoToAll:
    case plat::mrRename: return result;
    default: return plat::mrCancel;
  }
}
