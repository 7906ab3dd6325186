#pragma once
// A one-line text prompt. The caller sets the caption, the prompt and the
// field, shows the window modally and reads the field back on result 1 (OK);
// Cancel, Escape and the close box give result 2 and leave the caller's data alone.

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class TInputForm : public QDialog {
  Q_OBJECT

 public:
  explicit TInputForm(QWidget* parent = nullptr);
  ~TInputForm() override;

  QLabel* Prompt;  // the caller's prompt, explicit line breaks included
  QLineEdit* Edit;
  QPushButton* OKButton;      // result 1, default button
  QPushButton* CancelButton;  // result 2

  // Shows the window modally with these texts; returns 1 (OK) or 2 (Cancel).
  // On 1, *text receives the field; on 2 it is left unchanged.
  int Execute(const QString& caption, const QString& prompt, QString* text);

  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void fitPrompt();
};

extern TInputForm* InputForm;
