#include "dialogs/msgform.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/ask.h"
#include "platform/strtable.h"

#include <algorithm>

TMessageForm* MessageForm = nullptr;

TMessageForm::TMessageForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MessageForm"));
  setWindowTitle(QStringLiteral("Info"));
  JSetting1.Storage().SetKey(cvreg::kAppKey);
  JSetting1.Storage().SetRegistryRootKey(atrkCurrentUser);
  JSetting1.SetKeyName(cvreg::kDontShowAgainValue);

  Label1 = new QLabel(this);
  Label1->setTextFormat(Qt::PlainText);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setMinimumSize(297, 49);
  CheckBox1 = new QCheckBox(QStringLiteral("Don't show this message again"), this);
  CheckBox1->setChecked(false);
  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->setSpacing(8);
  layout->addWidget(Label1, 1);
  layout->addWidget(CheckBox1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addStretch();
  layout->addLayout(buttons);

  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(plat::mrOk); });

  SetMessage(QString::fromStdString(plat::loadStr(plat::kStrNewerButCompatible)));
}

void TMessageForm::SetMessage(const QString& text) {
  Label1->setText(text);
  // Wide enough for the message's own lines where that is reasonable; longer
  // lines wrap.
  const QFontMetrics fm(Label1->font());
  int widest = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    widest = std::max(widest, fm.horizontalAdvance(line));
  Label1->setMinimumWidth(std::clamp(widest + 2, 297, 480));
  const QSize need = layout()->totalSizeHint();
  setMinimumSize(layout()->totalMinimumSize());
  resize(QSize(323, 150).expandedTo(need));
}

TMessageForm::~TMessageForm() {
  if (MessageForm == this) MessageForm = nullptr;
}

void TMessageForm::CheckBox1Click() {
  JSetting1.SetValue(CheckBox1->isChecked() ? "1" : "0");
}

void TMessageForm::reject() { done(plat::mrCancel); }
