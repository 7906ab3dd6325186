#pragma once
// An information box with a "Don't show this message again" option. Each click
// on the option stores its state at once ("1" ticked, "0" not) in the user's
// settings, value DontShowAgain of the program's key.

#include <QDialog>

#include "components/setting.h"

class QCheckBox;
class QLabel;
class QPushButton;

class TMessageForm : public QDialog {
  Q_OBJECT

 public:
  explicit TMessageForm(QWidget* parent = nullptr);
  ~TMessageForm() override;

  QLabel* Label1;  // the message, word-wrapped
  QCheckBox* CheckBox1;  // "Don't show this message again"
  QPushButton* OKBtn;  // result 1, default button
  TJSetting JSetting1;

  // Sets the message and fits the window to it.
  void SetMessage(const QString& text);

  // Stores the check box's state through JSetting1.
  void CheckBox1Click();

  void reject() override;  // Escape and the close box: result 2
};

extern TMessageForm* MessageForm;
