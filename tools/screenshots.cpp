// Takes the pictures of the manual and the README from the program itself:
// each window is built as the program builds it, shown under the offscreen
// platform and grabbed to a PNG. Run by scripts/screenshots.sh, which makes
// the demo briefcase and a private home first.
//
// Usage: carryvale_screenshots OUTPUT_FOLDER BRIEFCASE
// (the briefcase's local folder is "Documents" beside it)
//
// Adding a picture: add a row to `shots` below: its file name and a function
// that prepares the window and returns it (the window is shown and grabbed
// after the function returns).

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/mainform.h"
#include "app/startup.h"
#include "dialogs/about.h"
#include "dialogs/anim.h"
#include "dialogs/animate.h"
#include "dialogs/inputdia.h"
#include "archive/extract/extract.h"
#include "dialogs/replace.h"
#include "dialogs/wizard.h"
#include "platform/filetime.h"
#include "platform/strtable.h"

namespace {

void settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

struct Shot {
  const char* file;  // nullptr: the next page of the wizard
  std::function<QWidget*()> prepare;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER BRIEFCASE\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);

  // The windows, created once as at start-up; the briefcase is opened by the
  // main window itself, as from the command line.
  std::unique_ptr<TMainForm> main =
      CreateApplicationWindows(QStringList{QString::fromLocal8Bit(argv[2])});

  // The dialogs that the start-up does not create.
  auto* wizard = new TWizardForm(main.get());
  auto* replace = new TReplaceForm(main.get());

  std::vector<Shot> shots = {
      {"main-window.png",
       [&] {
         main->resize(760, 520);
         main->show();
         settle(1500);  // the start-up timer opens the briefcase and fills the lists
         return main.get();
       }},
      {"about.png", [] { return static_cast<QWidget*>(AboutBox); }},
      {"progress-load.png",
       [] {
         // Shown first: showing it clears what the previous run left in it.
         AnimatedForm->show();
         AnimatedForm->Animate1->setClip(TAnimate::clipLoad);
         AnimatedForm->Animate1->setFrame(8);
         AnimatedForm->setInfoText(QStringLiteral("Adding Reports/q3.txt"));
         AnimatedForm->OverallProgressBar->setValue(45);
         AnimatedForm->FileProgressBar->setValue(70);
         return static_cast<QWidget*>(AnimatedForm);
       }},
      {"input-include.png",
       [] {
         InputForm->setWindowTitle(str(705));
         InputForm->Prompt->setText(str(706));
         InputForm->Edit->setText(QStringLiteral("*.doc, *.txt"));
         return static_cast<QWidget*>(InputForm);
       }},
      {"replace.png",
       [&] {
         replace->TargetPath = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath() +
                               QStringLiteral("/Documents/Reports/q3.txt");
         replace->ExistingSize = 18 * 1024;
         replace->ReplacementSize = 21 * 1024;
         replace->ExistingTime = plat::nowFileTime() - 3 * 86400 * plat::kTicksPerSecond;
         replace->ReplacementTime = plat::nowFileTime();
         return static_cast<QWidget*>(replace);
       }},
      {"replace-conflict.png",
       [&] {
         replace->Note = QString::fromLatin1(archive::kBothChangedNote);
         return static_cast<QWidget*>(replace);
       }},
      {"rename.png",
       [&] {
         const QString path = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath() +
                              QStringLiteral("/Documents/Reports/q3.txt");
         replace->RenameForm->Label->setText(QStringLiteral("Rename ") + path);
         replace->RenameForm->Memo->setText(path);
         return static_cast<QWidget*>(replace->RenameForm);
       }},
  };
  // Each page of the new-briefcase wizard.
  for (int page = 1; page <= 7; ++page)
    shots.push_back({nullptr, [&, page] {
                       wizard->show();
                       wizard->ShowPage(page);
                       return static_cast<QWidget*>(wizard);
                     }});

  int failed = 0;
  int wizardPage = 0;
  for (const Shot& s : shots) {
    QWidget* w = s.prepare();
    w->show();
    settle(200);
    const QString file = s.file ? QLatin1String(s.file)
                                : QStringLiteral("wizard-%1.png").arg(++wizardPage);
    const QString path = out + QLatin1Char('/') + file;
    if (!w->grab().save(path)) {
      std::fprintf(stderr, "could not write %s\n", qPrintable(path));
      ++failed;
    } else {
      std::printf("%s\n", qPrintable(path));
    }
    if (w != main.get()) w->hide();
  }
  return failed ? 1 : 0;
}
