// Takes the pictures of the manual and the README from the program itself:
// each window is built as the program builds it, shown under the offscreen
// platform and grabbed to a PNG. Run by scripts/screenshots.sh, which makes
// the demo briefcase and a private home first.
//
// Usage: carryvale_screenshots OUTPUT_FOLDER BRIEFCASE
//
// Adding a picture: add a row to `shots` below: its file name and a function
// that prepares the window and returns it (the window is shown and grabbed
// after the function returns).

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
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
#include "platform/strtable.h"

namespace {

void settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

struct Shot {
  const char* file;
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

  const std::vector<Shot> shots = {
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
      // The wizard's pages and the replace dialog join here once they exist:
      // {"wizard-1.png", ...}, {"replace.png", ...}.
  };

  int failed = 0;
  for (const Shot& s : shots) {
    QWidget* w = s.prepare();
    w->show();
    settle(200);
    const QString path = out + QLatin1Char('/') + QLatin1String(s.file);
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
