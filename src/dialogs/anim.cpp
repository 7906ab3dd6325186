#include "dialogs/anim.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

TAnimatedForm* AnimatedForm = nullptr;

namespace {

QProgressBar* makeBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  bar->setFixedHeight(14);
  return bar;
}

}  // namespace

TAnimatedForm::TAnimatedForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("Briefcase operation..."));
  setObjectName(QStringLiteral("AnimatedForm"));
  setModal(false);

  Animate1 = new TAnimate(this);
  Label1 = new QLabel(QStringLiteral("Overall progress:"), this);
  OverallProgressBar = makeBar(this);
  InfoLabel = new QLabel(this);
  InfoLabel->setFixedWidth(357);
  InfoLabel->setTextFormat(Qt::PlainText);
  InfoLabel->setWordWrap(false);
  FileProgressBar = makeBar(this);
  Button1 = new QPushButton(QStringLiteral("Cancel"), this);
  Button1->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 8);
  layout->setSpacing(3);
  layout->addWidget(Animate1, 0, Qt::AlignHCenter);
  layout->addWidget(Label1);
  layout->addWidget(OverallProgressBar);
  layout->addSpacing(3);
  layout->addWidget(InfoLabel);
  layout->addWidget(FileProgressBar);
  layout->addSpacing(5);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addStretch();
  layout->addLayout(buttons);

  connect(Button1, &QPushButton::clicked, this, &TAnimatedForm::Button1Click);

  InfoLabel->setMinimumHeight(InfoLabel->fontMetrics().height());
  setFixedSize(layout->sizeHint().expandedTo(QSize(370, 163)));
}

TAnimatedForm::~TAnimatedForm() {
  if (AnimatedForm == this) AnimatedForm = nullptr;
}

void TAnimatedForm::setInfoText(const QString& text) {
  infoText_ = text;
  layoutInfo();
}

void TAnimatedForm::layoutInfo() {
  // One line only: line breaks in a status text become blanks, and what does not
  // fit the line is cut with an ellipsis (the whole text stays in the tool tip).
  QString line = infoText_;
  line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  const QString shown =
      InfoLabel->fontMetrics().elidedText(line, Qt::ElideRight, InfoLabel->width());
  InfoLabel->setText(shown);
  InfoLabel->setToolTip(shown == line ? QString() : line);
}

bool TAnimatedForm::PollCancel() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  InfoLabel->repaint();
  return Cancelled;
}

void TAnimatedForm::Button1Click() { Cancelled = true; }

void TAnimatedForm::FormShow() {
  Cancelled = false;
  OverallProgressBar->setValue(0);
  setInfoText(QString());  // not the last run's last text
}

void TAnimatedForm::ShowPainted() {
  show();
  // The window system maps the window a moment later; until then nothing of
  // it can be drawn, and the operation may work a while before its first
  // poll. Only what the window system sends is served meanwhile.
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 500)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  repaint();
}

void TAnimatedForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(event);
}

// The window belongs to the running operation, which hides it when it ends;
// the title bar's close button (where the window manager draws one) asks the
// operation to stop, as Cancel does: the run never goes on unseen.
void TAnimatedForm::closeEvent(QCloseEvent* event) {
  event->ignore();
  Button1Click();
}

// Escape (and any other way of dismissing the dialog) only asks to cancel.
void TAnimatedForm::reject() { Button1Click(); }
