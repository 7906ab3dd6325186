#pragma once
// The progress window of a long briefcase operation (load, unload, delete).
//
// The operation runs on the user-interface thread; it shows this window
// without making it modal, reports its status and progress into it, and asks
// PollCancel between pieces of work. PollCancel dispatches the pending events,
// which keeps the windows painted and lets the Cancel button (or Escape, or
// the title bar's close button) set Cancelled; the operation then stops at its
// next poll. Only the operation hides the window, when it ends.
//
// Typical use:
//   AnimatedForm->Animate1->setClip(TAnimate::clipLoad);
//   AnimatedForm->Animate1->setActive(true);
//   AnimatedForm->ShowPainted();       // FormShow: Cancelled = false, overall bar 0, no text
//   ... AnimatedForm->setInfoText(status); AnimatedForm->InfoLabel->repaint();
//   ... AnimatedForm->OverallProgressBar->setValue(v); FileProgressBar->setValue(f);
//   ... if (AnimatedForm->PollCancel()) abandon();
//   AnimatedForm->hide(); AnimatedForm->Animate1->setActive(false);

#include <QDialog>
#include <QString>

#include "dialogs/animate.h"

class QLabel;
class QProgressBar;
class QPushButton;

class TAnimatedForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAnimatedForm(QWidget* parent = nullptr);
  ~TAnimatedForm() override;

  TAnimate* Animate1;
  QLabel* Label1;  // "Overall progress:"
  QProgressBar* OverallProgressBar;
  QLabel* InfoLabel;  // one status line of fixed width; longer texts are cut
  QProgressBar* FileProgressBar;
  QPushButton* Button1;  // "Cancel"

  // True once the user asked to cancel since the window was last shown.
  bool Cancelled = false;

  // The status line. The full text is kept; the line shows as much as fits.
  void setInfoText(const QString& text);
  QString infoText() const { return infoText_; }

  // Dispatches every pending event, repaints the status line, returns Cancelled.
  bool PollCancel();

  // Shows the window and returns once it is on the screen and painted (or
  // after half a second at most).
  void ShowPainted();

  // Cancel button and Escape: asks the operation to stop at its next poll.
  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void FormShow();
  void layoutInfo();
  QString infoText_;
};

// The one progress window of the program (created at start-up), or null.
extern TAnimatedForm* AnimatedForm;
