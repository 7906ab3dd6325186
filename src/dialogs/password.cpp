#include "dialogs/password.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }

// Overwrites a field's text before it goes.
void wipe(QLineEdit* edit) {
  if (!edit) return;
  edit->setText(QString(edit->text().size(), QLatin1Char(' ')));
  edit->clear();
}
}  // namespace

PasswordStrength StrengthOf(const QString& password) {
  if (password.isEmpty()) return PasswordStrength::Empty;
  bool lower = false, upper = false, digit = false, other = false;
  for (const QChar c : password) {
    if (c.isLower())
      lower = true;
    else if (c.isUpper())
      upper = true;
    else if (c.isDigit())
      digit = true;
    else
      other = true;
  }
  const int kinds = lower + upper + digit + other;
  const qsizetype length = password.size();
  if (length >= 16 || (length >= 12 && kinds >= 3)) return PasswordStrength::Strong;
  if (length >= 10 || (length >= 8 && kinds >= 2)) return PasswordStrength::Fair;
  return PasswordStrength::Weak;
}

QString StrengthText(PasswordStrength strength) {
  switch (strength) {
    case PasswordStrength::Empty: return QStringLiteral("Type the password twice.");
    case PasswordStrength::Weak:
      return QStringLiteral("Weak: a finder could guess it. Use 12 characters or more.");
    case PasswordStrength::Fair: return QStringLiteral("Fair: longer is harder to guess.");
    case PasswordStrength::Strong: return QStringLiteral("Strong.");
  }
  return QString();
}

TPasswordForm::TPasswordForm(const plat::PasswordQuestion& q, QWidget* parent)
    : QDialog(parent), confirm_(q.confirm) {
  setObjectName(QStringLiteral("PasswordForm"));
  setWindowTitle(qs(q.caption));
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(qs(q.prompt), this);
  prompt->setObjectName(QStringLiteral("Prompt"));
  prompt->setTextFormat(Qt::PlainText);
  prompt->setWordWrap(true);
  layout->addWidget(prompt);
  Problem = new QLabel(qs(q.problem), this);
  Problem->setObjectName(QStringLiteral("Problem"));
  Problem->setTextFormat(Qt::PlainText);
  Problem->setWordWrap(true);
  Problem->setVisible(!q.problem.empty());
  QFont bold = Problem->font();
  bold.setBold(true);
  Problem->setFont(bold);
  layout->addWidget(Problem);

  auto* fields = new QFormLayout;
  PasswordEdit = new QLineEdit(this);
  PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
  PasswordEdit->setEchoMode(QLineEdit::Password);
  PasswordEdit->setMinimumWidth(fontMetrics().averageCharWidth() * 36);
  fields->addRow(QStringLiteral("&Password:"), PasswordEdit);
  if (confirm_) {
    AgainEdit = new QLineEdit(this);
    AgainEdit->setObjectName(QStringLiteral("AgainEdit"));
    AgainEdit->setEchoMode(QLineEdit::Password);
    fields->addRow(QStringLiteral("&Again:"), AgainEdit);
  }
  layout->addLayout(fields);
  if (confirm_) {
    Strength = new QLabel(this);
    Strength->setObjectName(QStringLiteral("Strength"));
    Strength->setWordWrap(true);
    layout->addWidget(Strength);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  OkButton = buttons->button(QDialogButtonBox::Ok);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(PasswordEdit, &QLineEdit::textChanged, this, [this] { Changed(); });
  if (AgainEdit) connect(AgainEdit, &QLineEdit::textChanged, this, [this] { Changed(); });
  layout->setSizeConstraint(QLayout::SetFixedSize);
  Changed();
}

TPasswordForm::~TPasswordForm() {
  wipe(PasswordEdit);
  wipe(AgainEdit);
}

void TPasswordForm::Changed() {
  const QString typed = PasswordEdit->text();
  bool ok = !typed.isEmpty();
  if (confirm_) {
    const PasswordStrength s = StrengthOf(typed);
    QString hint = StrengthText(s);
    if (s != PasswordStrength::Empty && !AgainEdit->text().isEmpty() && AgainEdit->text() != typed)
      hint += QStringLiteral(" The two passwords differ.");
    Strength->setText(hint);
    ok = ok && AgainEdit->text() == typed;
  }
  OkButton->setEnabled(ok);
}

bool TPasswordForm::Ask(std::string* password) {
  PasswordEdit->setFocus();
  if (exec() != QDialog::Accepted) return false;
  const QByteArray bytes = PasswordEdit->text().toUtf8();
  password->assign(bytes.constData(), static_cast<size_t>(bytes.size()));
  wipe(PasswordEdit);
  wipe(AgainEdit);
  return true;
}
