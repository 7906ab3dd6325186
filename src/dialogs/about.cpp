#include "dialogs/about.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "components/jpegimage.h"
#include "components/urlstatic.h"
#include "components/versionlabel.h"
#include "platform/ask.h"

// The picture is compiled into the library; a static library has to register
// its resources itself.
static void initAboutResources() { Q_INIT_RESOURCE(about); }

TAboutBox* AboutBox = nullptr;

const char* const TAboutBox::kHomePage = "https://carryvale.example.org/";
const char* const TAboutBox::kContactAddress = "support@carryvale.example.org";

namespace {

QLabel* centredLine(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignHCenter);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
  initAboutResources();
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About Carryvale"));

  picture_ = loadJpeg(QStringLiteral(":/carryvale/about.jpg"));

  Label1 = centredLine(QStringLiteral("Carryvale"), this);
  QFont title = Label1->font();
  title.setPointSizeF(title.pointSizeF() * 2.4);
  title.setBold(true);
  Label1->setFont(title);
  QPalette titleColours = Label1->palette();
  titleColours.setColor(QPalette::WindowText, QColor(0x1f, 0x4e, 0x73));
  Label1->setPalette(titleColours);

  VersionLabel = new TVersionLabel(this);
  VersionLabel->setAlignment(Qt::AlignHCenter);
  QFont versionFont = VersionLabel->font();
  versionFont.setBold(true);
  VersionLabel->setFont(versionFont);

  NoticeLabel = centredLine(
      QStringLiteral("Keeps your documents in step between two computers.\n"
                     "Copyright \u00a9 Quillmarsh Software. All rights reserved."),
      this);

  URLStatic1 = new TURLStatic(QStringLiteral("Visit the Carryvale homepage"),
                              QString::fromLatin1(kHomePage), this);
  URLStatic1->setToolTip(
      QStringLiteral("Click here to visit the Carryvale homepage with your Internet browser"));
  URLStatic1->setAlignment(Qt::AlignHCenter);
  URLStatic2 = new TURLStatic(QString::fromLatin1(kContactAddress),
                              QStringLiteral("mailto:") + QString::fromLatin1(kContactAddress),
                              this);
  URLStatic2->setToolTip(QStringLiteral("Click here to contact us by e-mail"));
  URLStatic2->setAlignment(Qt::AlignHCenter);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { done(plat::mrOk); });

  // The texts above and below the band of the picture that holds its artwork.
  auto* above = new QVBoxLayout;
  above->setSpacing(4);
  above->addWidget(Label1, 0, Qt::AlignHCenter);
  above->addWidget(VersionLabel, 0, Qt::AlignHCenter);
  above->addSpacing(14);
  above->addWidget(NoticeLabel, 0, Qt::AlignHCenter);
  auto* below = new QVBoxLayout;
  below->setSpacing(4);
  below->addWidget(URLStatic1, 0, Qt::AlignHCenter);
  below->addWidget(URLStatic2, 0, Qt::AlignHCenter);
  below->addSpacing(10);
  below->addWidget(OKButton, 0, Qt::AlignHCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 22, 16, 16);
  layout->setSpacing(0);
  layout->addLayout(above);
  layout->addStretch(1);
  layout->addLayout(below);

  // A fixed frame of the design size, grown to what the texts need at the
  // desktop's font, so that a larger font never cuts a line; tall enough that
  // the texts keep clear of the artwork band (the picture scales with the
  // window's height).
  const QMargins m = layout->contentsMargins();
  const int aboveNeeds = m.top() + above->sizeHint().height();
  const int belowNeeds = m.bottom() + below->sizeHint().height();
  const int height = std::max({kDesignHeight,
                               static_cast<int>(std::ceil(aboveNeeds / kArtworkTop)),
                               static_cast<int>(std::ceil(belowNeeds / (1.0 - kArtworkBottom)))});
  setFixedSize(sizeHint().expandedTo(QSize(kDesignWidth, height)));
}

TAboutBox::~TAboutBox() {
  if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  // The picture covers the window at its own proportions (a window grown for
  // a larger font crops it rather than stretching it).
  const QSize shown = picture_.size().scaled(size(), Qt::KeepAspectRatioByExpanding);
  const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
  p.drawImage(target, picture_);
}

void TAboutBox::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) OKButton->setFocus();
  QDialog::showEvent(event);
}
