#include "dialogs/about.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

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
  setFixedSize(493, 300);

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

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 22, 16, 16);
  layout->setSpacing(4);
  layout->addWidget(Label1, 0, Qt::AlignHCenter);
  layout->addWidget(VersionLabel, 0, Qt::AlignHCenter);
  layout->addSpacing(14);
  layout->addWidget(NoticeLabel, 0, Qt::AlignHCenter);
  layout->addStretch(1);
  layout->addWidget(URLStatic1, 0, Qt::AlignHCenter);
  layout->addWidget(URLStatic2, 0, Qt::AlignHCenter);
  layout->addSpacing(10);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
}

TAboutBox::~TAboutBox() {
  if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(rect(), picture_);
}

void TAboutBox::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) OKButton->setFocus();
  QDialog::showEvent(event);
}
