#include "dialogs/inputdia.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "dialogs/placement.h"
#include "platform/ask.h"

#include <algorithm>

TInputForm* InputForm = nullptr;

TInputForm::TInputForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("InputForm"));
  Prompt = new QLabel(this);
  Prompt->setTextFormat(Qt::PlainText);
  Prompt->setWordWrap(true);
  Prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Prompt->setMinimumSize(350, 45);
  Edit = new QLineEdit(this);
  Edit->setMinimumWidth(350);
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(9, 9, 9, 9);
  layout->setSpacing(6);
  layout->addWidget(Prompt, 1);
  layout->addWidget(Edit);
  layout->addSpacing(4);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  layout->addLayout(buttons);
  // The window keeps its size while shown; each showing fits it to the prompt.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKButton, &QPushButton::clicked, this, [this] { done(plat::mrOk); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(plat::mrCancel); });
  setFocusProxy(Edit);
}

TInputForm::~TInputForm() {
  if (InputForm == this) InputForm = nullptr;
}

void TInputForm::reject() { done(plat::mrCancel); }

int TInputForm::Execute(const QString& caption, const QString& prompt, QString* text) {
  setWindowTitle(caption);
  Prompt->setText(prompt);
  Edit->setText(text ? *text : QString());
  const int result = exec();
  if (result == plat::mrOk && text) *text = Edit->text();
  return result == plat::mrOk ? plat::mrOk : plat::mrCancel;
}

// The prompt's lines keep their breaks: the window widens (within reason)
// rather than wrapping a line of the prompt a word before its end.
void TInputForm::fitPrompt() {
  const QFontMetrics fm(Prompt->font());
  int widest = 0;
  for (const QString& line : Prompt->text().split(QLatin1Char('\n')))
    widest = std::max(widest, fm.horizontalAdvance(line));
  const int width = std::clamp(widest + 2, 350, 560);
  Prompt->setMinimumWidth(width);
  Edit->setMinimumWidth(width);
}

void TInputForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    fitPrompt();
    adjustSize();
    CentreOnScreen(this);
    Edit->setFocus();
    Edit->selectAll();
  }
  QDialog::showEvent(event);
}
