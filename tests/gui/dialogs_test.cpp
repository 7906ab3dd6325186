#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "components/jpegimage.h"
#include "components/setting.h"
#include "components/urlstatic.h"
#include "components/versionlabel.h"
#include "dialogs/about.h"
#include "dialogs/inputdia.h"
#include "dialogs/msgform.h"
#include "dialogs/password.h"
#include "gui_helpers.h"

namespace {

// Catches the URLs the desktop is asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() {
    QDesktopServices::setUrlHandler("https", this, "open");
    QDesktopServices::setUrlHandler("mailto", this, "open");
  }
  ~UrlCatcher() override {
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");
  }
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

void leftClick(QWidget* w) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

std::string storedDontShowAgain() {
  TJSetting s;
  s.Storage().SetKey(cvreg::kAppKey);
  s.SetKeyName(cvreg::kDontShowAgainValue);
  s.SetDefaultValue("missing");
  return s.GetValue();
}

}  // namespace

TEST(InputForm, OkReadsTheFieldBack) {
  TInputForm form;
  QString text = "*.doc";
  onNextModal([&](QWidget* w) {
    ASSERT_EQ(w, &form);
    EXPECT_EQ(form.windowTitle(), "Include files");
    EXPECT_EQ(form.Prompt->text(), "First line\nSecond line");
    EXPECT_EQ(form.Edit->text(), "*.doc");
    EXPECT_TRUE(form.Edit->hasFocus());
    EXPECT_TRUE(form.OKButton->isDefault());
    form.Edit->setText("*.doc, *.txt");
    form.OKButton->click();
  });
  EXPECT_EQ(form.Execute("Include files", "First line\nSecond line", &text), plat::mrOk);
  EXPECT_EQ(text, "*.doc, *.txt");
}

TEST(InputForm, CancelAndEscapeLeaveTheTextAlone) {
  TInputForm form;
  QString text = "*.doc";
  onNextModal([&](QWidget*) {
    form.Edit->setText("edited");
    form.CancelButton->click();
  });
  EXPECT_EQ(form.Execute("Exclude files", "Prompt", &text), plat::mrCancel);
  EXPECT_EQ(text, "*.doc");

  onNextModal([&](QWidget*) {
    form.Edit->setText("edited again");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(form.Edit, &esc);
  });
  EXPECT_EQ(form.Execute("Exclude files", "Prompt", &text), plat::mrCancel);
  EXPECT_EQ(text, "*.doc");
}

TEST(InputForm, EnterPressesOk) {
  TInputForm form;
  QString text;
  onNextModal([&](QWidget*) {
    form.Edit->setText("a*.txt");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(form.Edit, &enter);
  });
  EXPECT_EQ(form.Execute("Include files", "Prompt", &text), plat::mrOk);
  EXPECT_EQ(text, "a*.txt");
}

TEST(MessageForm, CheckBoxIsStoredAtEachClick) {
  PrivateSettings settings;
  TMessageForm form;
  EXPECT_EQ(form.windowTitle(), "Info");
  EXPECT_EQ(form.CheckBox1->text(), "Don't show this message again");
  EXPECT_FALSE(form.CheckBox1->isChecked());
  EXPECT_TRUE(form.Label1->wordWrap());
  EXPECT_EQ(storedDontShowAgain(), "missing");

  onNextModal([&](QWidget*) {
    form.CheckBox1->click();
    EXPECT_EQ(storedDontShowAgain(), "1");  // stored at once, not on OK
    form.CheckBox1->click();
    EXPECT_EQ(storedDontShowAgain(), "0");
    form.CheckBox1->click();
    form.OKBtn->click();
  });
  EXPECT_EQ(form.exec(), plat::mrOk);
  EXPECT_EQ(storedDontShowAgain(), "1");
}

TEST(AboutBox, ContentsAndPicture) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Carryvale");
  EXPECT_EQ(box.size(), QSize(493, 300));
  EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(box.Label1->text(), "Carryvale");
  EXPECT_EQ(box.VersionLabel->text(), "Version 2.0.3.0");
  EXPECT_EQ(box.URLStatic1->text(), "Visit the Carryvale homepage");
  EXPECT_EQ(box.URLStatic1->toolTip(),
            "Click here to visit the Carryvale homepage with your Internet browser");
  EXPECT_EQ(box.URLStatic2->toolTip(), "Click here to contact us by e-mail");
  EXPECT_TRUE(box.URLStatic2->GetURL().startsWith("mailto:"));
  EXPECT_TRUE(box.URLStatic2->GetURL().endsWith(box.URLStatic2->text()));
  ASSERT_FALSE(box.picture().isNull());
  EXPECT_EQ(box.picture().size(), QSize(493, 300));

  onNextModal([&](QWidget*) {
    EXPECT_TRUE(box.OKButton->hasFocus());
    box.OKButton->click();
  });
  EXPECT_EQ(box.exec(), plat::mrOk);
}

TEST(AboutBox, LinksOpenOnLeftClick) {
  UrlCatcher catcher;
  TAboutBox box;
  leftClick(box.URLStatic1);
  leftClick(box.URLStatic2);
  ASSERT_EQ(catcher.opened.size(), 2);
  EXPECT_EQ(catcher.opened[0], QUrl(TAboutBox::kHomePage));
  EXPECT_EQ(catcher.opened[1].scheme(), "mailto");

  TURLStatic link("elsewhere", "https://example.org/x");
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(link.font().underline());
  const QPointF at(1, 1);
  QMouseEvent right(QEvent::MouseButtonPress, at, link.mapToGlobal(at), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(&link, &right);
  EXPECT_EQ(catcher.opened.size(), 2);  // only the left button opens
}

TEST(Jpeg, DecodesOwnPictureAndRefusesGarbage) {
  QString error;
  const QImage picture = loadJpeg(":/carryvale/about.jpg", &error);
  ASSERT_FALSE(picture.isNull()) << error.toStdString();
  EXPECT_EQ(picture.width(), 493);
  EXPECT_EQ(picture.height(), 300);
  // The top of the picture is a pale blue sky.
  const QColor top = picture.pixelColor(240, 5);
  EXPECT_GT(top.blue(), 200);
  EXPECT_GT(top.blue(), top.red());

  EXPECT_TRUE(decodeJpeg(QByteArray("not a picture at all"), &error).isNull());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(decodeJpeg(QByteArray(), &error).isNull());
  QByteArray header("\xff\xd8\xff\xe0", 4);
  EXPECT_TRUE(decodeJpeg(header, &error).isNull());
  EXPECT_TRUE(loadJpeg("/nonexistent/about.jpg", &error).isNull());
}

#include "dialogs_test.moc"

// The password question: OK only once the password can be taken (a new
// one typed twice the same), the strength hint, and the pictures of both.
TEST(PasswordForm, OkWaitsForAPasswordThatCanBeTaken) {
  plat::PasswordQuestion open{"Encrypted Briefcase", "Password for /media/stick/Work.brc",
                              "The password is not correct", false};
  plat::PasswordQuestion fresh{"Encrypted Briefcase", "Password for the briefcase", "", true};
  const struct {
    plat::PasswordQuestion* q;
    const char* typed;
    const char* again;
    bool ok;
    const char* hint;
  } cases[] = {
      {&open, "", "", false, ""},
      {&open, "x", "", true, ""},
      {&fresh, "short", "short", true, "Weak: a finder could guess it. Use 12 characters or more."},
      {&fresh, "longer one", "longer on", false,
       "Fair: longer is harder to guess. The two passwords differ."},
      {&fresh, "Correct Horse 9", "Correct Horse 9", true, "Strong."},
  };
  const QString shots = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(shots);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    TPasswordForm form(*c.q);
    form.PasswordEdit->setText(c.typed);
    if (form.AgainEdit) form.AgainEdit->setText(c.again);
    EXPECT_EQ(form.OkButton->isEnabled(), c.ok);
    EXPECT_EQ(form.PasswordEdit->echoMode(), QLineEdit::Password);
    if (form.Strength) {
      EXPECT_EQ(form.Strength->text().toStdString(), c.hint);
    }
    form.show();
    QCoreApplication::processEvents();
    form.grab().save(shots + (c.q->confirm ? "/password_new.png" : "/password.png"));
  }
}
