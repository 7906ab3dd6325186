#pragma once
// The password question: what the password opens, a line that tells why it
// is asked again, a field whose text is never shown, OK and Cancel. For a
// new password a second field that must match it and a hint of its
// strength; OK is enabled only once the password can be taken.

#include <QDialog>
#include <string>

#include "platform/ask.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The hint under a new password: how hard it is to guess.
enum class PasswordStrength { Empty, Weak, Fair, Strong };
PasswordStrength StrengthOf(const QString& password);
QString StrengthText(PasswordStrength strength);

class TPasswordForm : public QDialog {
  Q_OBJECT

 public:
  TPasswordForm(const plat::PasswordQuestion& q, QWidget* parent = nullptr);
  ~TPasswordForm() override;

  // Shows the dialog: true with the password, false when cancelled.
  bool Ask(std::string* password);

  QLineEdit* PasswordEdit;
  QLineEdit* AgainEdit = nullptr;  // a new password only
  QLabel* Problem;
  QLabel* Strength = nullptr;
  QPushButton* OkButton;

 private:
  void Changed();
  bool confirm_;
};
