#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "dialogs/qtasker.h"
#include "gui_helpers.h"

namespace {

// Types a path into a file dialog's name field and accepts it (the dialog's
// folder view fills itself in the background, so selecting there is not reliable).
void typeAndAccept(QFileDialog* dialog, const QString& path) {
  auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  edit->setText(path);
  static_cast<QDialog*>(dialog)->accept();
}

// Shows the question through the Qt asker; `act` works on the real box.
int ask(TQtAsker& asker, const plat::MessageQuestion& q, std::function<void(QMessageBox*)> act) {
  onNextModal([act](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    act(box);
  });
  return asker.message(q);
}

plat::MessageQuestion question(unsigned buttons, plat::Icon icon = plat::Icon::None,
                               const std::string& caption = "Warning") {
  plat::MessageQuestion q;
  q.text = "Something to say";
  q.caption = caption;
  q.buttons = buttons;
  q.icon = icon;
  return q;
}

}  // namespace

TEST(QtAsker, ShowsCaptionTextIconAndButtons) {
  TQtAsker asker;
  plat::MessageQuestion q = question(plat::btnRetryCancel, plat::Icon::Warning);
  q.text = "The disk is write-protected.";
  const int r = ask(asker, q, [](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), "Warning");
    EXPECT_EQ(box->text(), "The disk is write-protected.");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Retry | QMessageBox::Cancel);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Retry));  // the first button
    box->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(r, plat::mrCancel);

  // No caption of its own: "Error".
  ask(asker, question(plat::btnOk, plat::Icon::Error, ""), [](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), "Error");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    box->button(QMessageBox::Ok)->click();
  });

  // A short question is as wide as its caption needs in the title bar,
  // beside the window manager's icon and buttons.
  q = question(plat::btnYesNo, plat::Icon::Question, "Delete selected local files");
  q.text = "Move a.txt to the trash?";
  ask(asker, q, [](QMessageBox* box) {
    QFont bold = box->font();
    bold.setBold(true);
    const QFontMetrics title(bold);
    EXPECT_GE(box->width(), title.horizontalAdvance(box->windowTitle()) + 4 * title.height());
    box->button(QMessageBox::No)->click();
  });
}

TEST(QtAsker, EveryButtonGivesItsModalResult) {
  TQtAsker asker;
  const struct {
    unsigned flag;
    QMessageBox::StandardButton button;
    int result;
  } cases[] = {
      {plat::btnOk, QMessageBox::Ok, 1},          {plat::btnCancel, QMessageBox::Cancel, 2},
      {plat::btnAbort, QMessageBox::Abort, 3},    {plat::btnRetry, QMessageBox::Retry, 4},
      {plat::btnIgnore, QMessageBox::Ignore, 5},  {plat::btnYes, QMessageBox::Yes, 6},
      {plat::btnNo, QMessageBox::No, 7},          {plat::btnNoToAll, QMessageBox::NoToAll, 9},
      {plat::btnYesToAll, QMessageBox::YesToAll, 10},
  };
  const unsigned all = plat::btnOk | plat::btnCancel | plat::btnAbort | plat::btnRetry |
                       plat::btnIgnore | plat::btnYes | plat::btnNo | plat::btnNoToAll |
                       plat::btnYesToAll;
  for (const auto& c : cases) {
    const int r = ask(asker, question(all), [&](QMessageBox* box) {
      ASSERT_NE(box->button(c.button), nullptr);
      box->button(c.button)->click();
    });
    EXPECT_EQ(r, c.result) << "button flag " << c.flag;
  }
}

TEST(QtAsker, DefaultButtonAndEscape) {
  TQtAsker asker;
  plat::MessageQuestion q = question(plat::btnYesNoCancel, plat::Icon::Question);
  q.defaultResult = plat::mrNo;
  int r = ask(asker, q, [](QMessageBox* box) {
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &enter);
  });
  EXPECT_EQ(r, plat::mrNo);

  r = ask(asker, question(plat::btnYesNoCancel), [](QMessageBox* box) {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box, &esc);
  });
  EXPECT_EQ(r, plat::mrCancel);

  // A box closed without any button counts as Cancel.
  r = ask(asker, question(plat::btnYesNo), [](QMessageBox* box) { box->reject(); });
  EXPECT_TRUE(r == plat::mrCancel || r == plat::mrNo);
}

TEST(QtAsker, HelpButtonCallsTheHelpAndAsksAgain) {
  TQtAsker asker;
  plat::MessageQuestion q = question(plat::btnOk | plat::btnHelp, plat::Icon::Error);
  q.helpContext = 2011;
  // Without a help viewer there is no Help button.
  ask(asker, q, [](QMessageBox* box) {
    EXPECT_EQ(box->button(QMessageBox::Help), nullptr);
    box->button(QMessageBox::Ok)->click();
  });

  std::vector<int> helped;
  asker.setHelpHandler([&](int context) {
    helped.push_back(context);
    onNextModal([](QWidget* w) {  // the box is shown again; answer OK this time
      qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
    });
  });
  const int r = ask(asker, q, [](QMessageBox* box) {
    ASSERT_NE(box->button(QMessageBox::Help), nullptr);
    box->button(QMessageBox::Help)->click();
  });
  EXPECT_EQ(r, plat::mrOk);
  EXPECT_EQ(helped, std::vector<int>{2011});
}

TEST(QtAsker, FileDialogs) {
  EXPECT_EQ(TQtAsker::qtFilter("Briefcase containers|*.brc"), "Briefcase containers (*.brc)");
  EXPECT_EQ(TQtAsker::qtFilter("Texts|*.txt;*.doc|All|*.*"), "Texts (*.txt *.doc);;All (*.*)");
  EXPECT_EQ(TQtAsker::qtFilter(""), "");

  TQtAsker asker;
  const QString dir = QDir::tempPath() + "/asker-dialogs";
  QDir().mkpath(dir);
  QFile f(dir + "/work.brc");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();

  onNextModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Open");
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Briefcase containers (*.brc)"});
    typeAndAccept(dialog, dir + "/work.brc");
  });
  auto chosen = asker.openFile("Open", dir.toStdString(), "Briefcase containers|*.brc", "brc");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, (dir + "/work.brc").toStdString());

  onNextModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(asker.saveFile("Save As", dir.toStdString(), "Briefcase containers|*.brc", "brc"));

  onNextModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    typeAndAccept(dialog, dir + "/new");
  });
  chosen = asker.saveFile("Save As", dir.toStdString(), "Briefcase containers|*.brc", "brc");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, (dir + "/new.brc").toStdString());  // the default extension is added

  onNextModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    typeAndAccept(dialog, dir);
  });
  chosen = asker.browseFolder("Choose the local folder", QDir::tempPath().toStdString());
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, dir.toStdString());

  // A question too long for a title bar stands whole inside the window,
  // above the chooser; Cancel there cancels the question.
  const QString prompt = "You open this briefcase for the first time on this computer.\n"
                         "Please indicate the local folder that will receive the files:";
  for (bool accept : {true, false}) {
    onNextModal([&](QWidget* w) {
      EXPECT_EQ(w->windowTitle(), "Choose the local folder");
      auto* label = w->findChild<QLabel*>("Prompt");
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->text(), prompt);
      const QFontMetrics fm(label->font());
      const QRect need = fm.boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                         Qt::TextWordWrap, prompt);
      EXPECT_LE(need.height(), label->contentsRect().height());
      const QString shots = QCoreApplication::applicationDirPath() + "/screenshots";
      QDir().mkpath(shots);
      const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR") == "2" ? "-200" : "";
      w->grab().save(shots + "/first-visit-folder" + scale + ".png");
      auto* dialog = w->findChild<QFileDialog*>();
      ASSERT_NE(dialog, nullptr);
      // Without a folder to start from (a first visit), it starts at home.
      EXPECT_EQ(dialog->directory().absolutePath().toStdString(),
                (accept ? dir : QDir::homePath()).toStdString());
      if (accept) typeAndAccept(dialog, dir);
      else dialog->reject();
    });
    chosen = asker.browseFolder(plat::FolderQuestion{"Choose the local folder",
                                                     prompt.toStdString(),
                                                     accept ? dir.toStdString() : ""});
    EXPECT_EQ(chosen, accept ? std::optional<std::string>(dir.toStdString()) : std::nullopt);
  }
}
