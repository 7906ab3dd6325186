// The program's help window: every help request opens there, it opens
// within its screen, and its search field finds the manual's sections.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

#include "app/application.h"
#include "app/mainform.h"
#include "dialogs/helpbrowser.h"
#include "dialogs/settings.h"
#include "gui_helpers.h"
#include "platform/paths.h"

namespace {

QString shots() {
  const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(dir);
  return dir;
}

}  // namespace

TEST(HelpWindow, OpensWithinTheScreenWithLinksApartAndASearchThatWorks) {
  ASSERT_FALSE(plat::manualFolder().empty()) << "the manual beside the tests";
  TMainForm form;
  form.move(0, 0);  // a window at the screen's edge
  form.show();
  form.HelpSearchItem->trigger();
  THelpBrowser* help = form.HelpWindow();
  ASSERT_NE(help, nullptr);
  ASSERT_TRUE(help->isVisible());
  EXPECT_TRUE(help->screen()->availableGeometry().contains(help->frameGeometry()));
  EXPECT_EQ(help->focusWidget(), help->SearchEdit);  // Help > Search puts the cursor there
  // The links at the top of a page stand apart.
  EXPECT_TRUE(help->toPlainText().startsWith("Contents | The briefcase cycle | Main window"))
      << help->toPlainText().left(80).toStdString();
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR") == "2" ? "-200" : "";
  help->grab().save(shots() + "/help-search" + scale + ".png");

  const struct {
    const char* typed;
    const char* found;  // a section the results list ("" for none), and its page
    const char* page;
  } cases[] = {
      {"xylophone", "", ""},
      {"subfolders", "Include subfolders", "settings.html"},
      {"WRITE-PROTECTED briefcase", "The briefcase is read-only or write-protected",
       "problems.html"},  // every word, in any case
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    help->SearchEdit->setText(c.typed);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(help->SearchEdit, &enter);
    const QString text = help->toPlainText();
    const auto hits = THelpBrowser::FindInManual(
        QUrl::fromLocalFile(QString::fromStdString(plat::manualFolder()) + "/index.html"), c.typed);
    if (!*c.found) {
      EXPECT_TRUE(hits.isEmpty());
      EXPECT_TRUE(text.contains(QString("No section of the manual contains \u201c") + c.typed))
          << text.toStdString();
      continue;
    }
    bool listed = false;
    for (const auto& h : hits) listed |= h.heading == c.found && h.url.fileName() == c.page;
    EXPECT_TRUE(listed);
    EXPECT_TRUE(text.contains(c.found)) << text.toStdString();
  }
  help->grab().save(shots() + "/help-results" + scale + ".png");

  // A result leads to its section; Alt+Left comes back.
  help->setSource(QUrl::fromLocalFile(QString::fromStdString(plat::manualFolder()) + "/settings.html"));
  help->setSource(QUrl::fromLocalFile(QString::fromStdString(plat::manualFolder()) + "/problems.html"));
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Left, Qt::AltModifier);
  QApplication::sendEvent(help, &back);
  EXPECT_EQ(help->source().fileName(), "settings.html");
  help->hide();
}

TEST(HelpWindow, F1InTheSettingsDialogOpensTheProgramsHelpWindow) {
  auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  std::vector<int> opened;
  app->SetHelpHandler([&](int context) { opened.push_back(context); });
  {
    TSettingsForm form;  // no handler of its own: the program's
    form.show();
    form.ComprCheckbox->setFocus();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&form, &f1);
    form.hide();
  }
  app->SetHelpHandler(nullptr);
  EXPECT_EQ(opened, std::vector<int>{807});
}
