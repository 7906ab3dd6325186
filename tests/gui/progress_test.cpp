#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include "dialogs/anim.h"
#include "gui_helpers.h"

namespace {

void pressEscape(QWidget* w) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

}  // namespace

TEST(ProgressDialog, LayoutAndTexts) {
  TAnimatedForm form;
  EXPECT_EQ(form.windowTitle(), "Briefcase operation...");
  EXPECT_EQ(form.Label1->text(), "Overall progress:");
  EXPECT_EQ(form.Button1->text(), "Cancel");
  EXPECT_EQ(form.Animate1->size(), QSize(272, 60));
  EXPECT_GE(form.width(), 370);
  EXPECT_GE(form.height(), 163);
  EXPECT_EQ(form.InfoLabel->width(), 357);
  EXPECT_FALSE(form.Cancelled);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
  for (QProgressBar* bar : {form.OverallProgressBar, form.FileProgressBar}) {
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
  }
}

TEST(ProgressDialog, CancelTwiceIsOneCancellationAndNextShowingStartsClean) {
  TAnimatedForm form;
  form.show();
  form.OverallProgressBar->setValue(40);
  form.FileProgressBar->setValue(70);
  form.setInfoText("Adding last.txt");
  form.Button1->click();
  form.Button1->click();
  EXPECT_TRUE(form.PollCancel());
  EXPECT_TRUE(form.PollCancel());  // still the same single cancellation
  EXPECT_TRUE(form.isVisible());   // Cancel does not end anything by itself
  form.hide();

  form.ShowPainted();
  EXPECT_TRUE(form.windowHandle()->isExposed());
  EXPECT_FALSE(form.Cancelled);
  EXPECT_FALSE(form.PollCancel());
  EXPECT_EQ(form.OverallProgressBar->value(), 0);
  EXPECT_EQ(form.InfoLabel->text(), "");  // not the last run's last text
  EXPECT_EQ(form.FileProgressBar->value(), 70);  // kept until the first file report
  form.hide();
}

// Escape and the title bar's close button are Cancel; neither closes the
// window (the run must not go on unseen: it hides it when it has stopped).
TEST(ProgressDialog, EscapeAndClosingCancel) {
  TAnimatedForm form;
  form.show();
  pressEscape(&form);
  EXPECT_TRUE(form.Cancelled);
  EXPECT_TRUE(form.isVisible());

  form.Cancelled = false;
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.Cancelled);
  form.Cancelled = false;
  QCloseEvent ev;
  QApplication::sendEvent(&form, &ev);
  EXPECT_FALSE(ev.isAccepted());
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.Cancelled);
  form.hide();
}

TEST(ProgressDialog, PollCancelDispatchesPendingEvents) {
  TAnimatedForm form;
  form.show();
  // A click that waits in the event queue is only seen once the poll runs it.
  QMetaObject::invokeMethod(form.Button1, "click", Qt::QueuedConnection);
  EXPECT_FALSE(form.Cancelled);
  EXPECT_TRUE(form.PollCancel());
  form.hide();
}

TEST(ProgressDialog, LongStatusTextIsCutToTheLine) {
  TAnimatedForm form;
  const QString longText =
      QStringLiteral("Adding /home/user/Documents/") + QString(200, QLatin1Char('x')) + ".txt";
  form.setInfoText(longText);
  EXPECT_EQ(form.infoText(), longText);
  const QString shown = form.InfoLabel->text();
  EXPECT_LT(shown.size(), longText.size());
  EXPECT_TRUE(shown.startsWith("Adding /home/user"));
  EXPECT_LE(form.InfoLabel->fontMetrics().horizontalAdvance(shown), form.InfoLabel->width());
  EXPECT_EQ(form.InfoLabel->toolTip(), longText);

  form.setInfoText("Short\nline");
  EXPECT_EQ(form.InfoLabel->text(), "Short line");
  EXPECT_TRUE(form.InfoLabel->toolTip().isEmpty());
}

TEST(ProgressDialog, AnimationLoopsPerClip) {
  TAnimate anim;
  anim.setClip(TAnimate::clipUnload);
  EXPECT_EQ(anim.clip(), 115);
  anim.setClip(116);
  EXPECT_EQ(anim.clip(), 116);
  anim.setClip(42);
  EXPECT_EQ(anim.clip(), TAnimate::clipLoad);

  anim.setFrame(TAnimate::kLastFrame);
  anim.setActive(true);
  spinEvents(TAnimate::kFrameInterval * 3);
  EXPECT_TRUE(anim.isActive());
  EXPECT_LT(anim.frame(), TAnimate::kLastFrame);  // wrapped round to the start
  anim.setActive(false);
  const int stopped = anim.frame();
  spinEvents(TAnimate::kFrameInterval * 3);
  EXPECT_EQ(anim.frame(), stopped);
}
