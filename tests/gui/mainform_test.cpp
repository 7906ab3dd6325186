#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <stdexcept>

#include "app/application.h"
#include "app/mainform.h"
#include "app/startup.h"
#include "components/debug.h"
#include "components/jstore.h"
#include "dialogs/about.h"
#include "dialogs/anim.h"
#include "dialogs/inputdia.h"
#include "dialogs/msgform.h"
#include "gui_helpers.h"
#include "platform/strtable.h"

namespace {

QString str803() { return QString::fromStdString(plat::loadStr(803)); }

}  // namespace

TEST(MainForm, ShellWithoutBriefcase) {
  TMainForm form;
  EXPECT_EQ(form.windowTitle(), "Carryvale");
  EXPECT_EQ(form.size(), QSize(602, 434));
  EXPECT_FALSE(form.BriefcaseOpen());

  QStringList titles;
  for (QAction* a : form.menuBar()->actions()) titles << a->text();
  EXPECT_EQ(titles, (QStringList{"&File", "&Briefcase", "&Options", "&Help"}));
  EXPECT_TRUE(form.FileMenu->menuAction()->isVisible());
  EXPECT_FALSE(form.BriefcaseItem->menuAction()->isVisible());
  EXPECT_FALSE(form.OptionsItem->menuAction()->isVisible());
  EXPECT_TRUE(form.HelpMenu->menuAction()->isVisible());
  EXPECT_TRUE(form.ClientPanel->isHidden());

  EXPECT_FALSE(str803().isEmpty());
  EXPECT_EQ(form.StatusText(), str803());
  EXPECT_EQ(form.StatusLineText(), str803());

  // Nothing works without a briefcase, and nothing pretends to.
  for (QAction* a : {form.BriefcaseLoad1, form.BriefcaseUnload1, form.BriefcaseSettings,
                     form.OptionsRefresh, form.OptionsDeleteBriefcase, form.OptionsDeleteLocal,
                     form.FileSave, form.FileSaveAs, form.FileClose})
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  EXPECT_TRUE(form.HelpAbout->isEnabled());
  EXPECT_TRUE(form.FileExit->isEnabled());

  EXPECT_EQ(form.BriefcaseLoad1->shortcut(), QKeySequence("Ctrl+L"));
  EXPECT_EQ(form.OptionsRefresh->shortcut(), QKeySequence(Qt::Key_F5));
  EXPECT_EQ(form.BriefcaseSettings->shortcut(), QKeySequence("Alt+Return"));
}

TEST(MainForm, ToolBarShowsImagesOnly) {
  TMainForm form;
  int buttons = 0;
  for (QToolButton* b : form.ToolBar1->findChildren<QToolButton*>()) {
    if (!b->defaultAction() || b->defaultAction()->isSeparator()) continue;
    ++buttons;
    EXPECT_TRUE(b->text().isEmpty());
    EXPECT_FALSE(b->icon().isNull()) << b->defaultAction()->text().toStdString();
    EXPECT_FALSE(b->toolTip().isEmpty());
  }
  EXPECT_EQ(buttons, 9);
}

TEST(MainForm, HintsShowTheirLongPartInTheStatusLine) {
  EXPECT_EQ(TMainForm::ShortHint("Load|Load the briefcase"), "Load");
  EXPECT_EQ(TMainForm::LongHint("Load|Load the briefcase"), "Load the briefcase");
  EXPECT_EQ(TMainForm::ShortHint("Delete the selected local files"),
            "Delete the selected local files");
  EXPECT_EQ(TMainForm::LongHint("Delete the selected local files"),
            "Delete the selected local files");
  EXPECT_EQ(TMainForm::LongHint("a|b|c"), "b|c");

  TMainForm form;
  form.show();
  EXPECT_EQ(form.HelpAbout->toolTip(), "About");
  form.HelpAbout->showStatusText(&form);
  EXPECT_EQ(form.StatusLineText(), "About the Carryvale program");

  // A hint over a widget of the window reaches the status line too.
  QStatusTipEvent tip("Type the local folder here");
  QApplication::sendEvent(form.ClientPanel, &tip);
  EXPECT_EQ(form.StatusLineText(), "Type the local folder here");

  // When the pointer leaves, the status text is back.
  QStatusTipEvent none{QString()};
  QApplication::sendEvent(&form, &none);
  EXPECT_EQ(form.StatusLineText(), str803());
  form.hide();
}

TEST(MainForm, CommandLineSwitches) {
  using M = TMainForm;
  EXPECT_EQ(M::ParseCommandLineMode({}), M::clmNone);
  EXPECT_EQ(M::ParseCommandLineMode({"/home/u/work.brc"}), M::clmNone);
  EXPECT_EQ(M::ParseCommandLineMode({"/home/u/work.brc", "-u"}), M::clmUnload);
  EXPECT_EQ(M::ParseCommandLineMode({"work.brc", "/L"}), M::clmLoad);
  EXPECT_EQ(M::ParseCommandLineMode({"work.brc", "-l"}), M::clmLoad);
  EXPECT_EQ(M::ParseCommandLineMode({"work.brc", "-U", "/l"}), M::clmLoad);  // load wins
  EXPECT_EQ(M::ParseCommandLineMode({"work.brc", "-lu", "--u", "u"}), M::clmNone);

  TMainForm form({"work.brc", "/U"});
  EXPECT_EQ(form.commandLineMode(), M::clmUnload);
  EXPECT_EQ(form.arguments(), (QStringList{"work.brc", "/U"}));
}

TEST(MainForm, StatusTextsGoToTheDiagnosticOutput) {
  PrivateSettings settings;
  auto setDebug = [](int on) {
    TJStorage s;
    s.SetKey(cvreg::kAppKey);
    s.Open();
    s.WriteInteger(cvreg::kDebugValue, on);
    s.Close();
  };
  setDebug(1);
  const std::string log = settings.dir() + "/trace.log";
  {
    TMainForm form;
    form.debugHelper().Stop();
    form.debugHelper().SetLogFilePath(log);
    form.SetStatusText("Ready");
    TAnimatedForm progress;
    AnimatedForm = &progress;
    form.ShowStatus("Adding letter.doc");
    EXPECT_EQ(progress.infoText(), "Adding letter.doc");
    AnimatedForm = nullptr;
    // Turned off and on again while the program runs.
    setDebug(0);
    form.SetStatusText("Unseen");
    setDebug(1);
    form.SetStatusText("Seen again");
  }
  QFile f(QString::fromStdString(log));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(f.readAll());
  EXPECT_TRUE(text.contains("ms :Ready")) << text.toStdString();
  EXPECT_TRUE(text.contains("ms :Adding letter.doc")) << text.toStdString();
  EXPECT_FALSE(text.contains("Unseen")) << text.toStdString();
  EXPECT_TRUE(text.contains("ms :Seen again")) << text.toStdString();
}

TEST(MainForm, AboutCommandShowsTheAboutBox) {
  auto form = CreateApplicationWindows({});
  ASSERT_NE(AboutBox, nullptr);
  bool shown = false;
  onNextModal([&](QWidget* w) {
    shown = (w == AboutBox);
    AboutBox->OKButton->click();
  });
  form->HelpAbout->trigger();
  EXPECT_TRUE(shown);
}

TEST(Startup, WindowsAreCreatedOnceInOrderAndGoWithTheMainWindow) {
  auto form = CreateApplicationWindows({"x.brc"});
  ASSERT_NE(AboutBox, nullptr);
  ASSERT_NE(InputForm, nullptr);
  ASSERT_NE(AnimatedForm, nullptr);
  ASSERT_NE(MessageForm, nullptr);
  const QObjectList& kids = form->children();
  const auto at = [&](QObject* o) { return kids.indexOf(o); };
  EXPECT_LT(at(AboutBox), at(InputForm));
  EXPECT_LT(at(InputForm), at(AnimatedForm));
  EXPECT_LT(at(AnimatedForm), at(MessageForm));
  EXPECT_FALSE(AboutBox->isVisible());
  EXPECT_FALSE(AnimatedForm->isVisible());

  // The start-up timer ticks once the loop runs, and only once.
  spinEvents(60);
  EXPECT_FALSE(form->StartupDelayTimer->isActive());

  form.reset();
  EXPECT_EQ(AboutBox, nullptr);
  EXPECT_EQ(InputForm, nullptr);
  EXPECT_EQ(AnimatedForm, nullptr);
  EXPECT_EQ(MessageForm, nullptr);
}

TEST(Startup, ClosingTheMainWindowIsAnnounced) {
  TMainForm form;
  form.show();
  int closed = 0;
  QObject::connect(&form, &TMainForm::closed, [&] { ++closed; });
  form.FileExit->trigger();
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(form.isVisible());
}

TEST(Startup, TheRunEndsWhenTheMainWindowCloses) {
  QTimer::singleShot(50, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* m = qobject_cast<TMainForm*>(w); m && m->isVisible()) m->close();
  });
  auto* app = static_cast<TApplication*>(QCoreApplication::instance());
  EXPECT_EQ(RunCarryvale(*app), 0);
  EXPECT_EQ(app->Title(), "Carryvale");
  EXPECT_EQ(AboutBox, nullptr);  // the windows went with the main window
}

namespace {

class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Something broke");
    return QObject::event(e);
  }
};

}  // namespace

TEST(Startup, ExceptionInAnEventHandlerIsShownAndTheProgramGoesOn) {
  ScriptedAsker asker;
  plat::ScopedAsker use(&asker);
  Thrower t;
  QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
  spinEvents(20);
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "Something broke.");
  EXPECT_EQ(asker.messages[0].caption, "Carryvale");
  EXPECT_EQ(asker.messages[0].icon, plat::Icon::Error);
  EXPECT_EQ(asker.messages[0].buttons, unsigned(plat::btnOk));

  // Events keep flowing afterwards.
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  spinEvents(20);
  EXPECT_TRUE(ran);
}
