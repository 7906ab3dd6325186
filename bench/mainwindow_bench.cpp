// Times the main window on a briefcase: the open (reading the configuration
// to "Ready", both lists filled, compared and selected, and drawn once), F5
// with nothing changed, and the peak memory of the process.
//   QT_QPA_PLATFORM=offscreen build/mainwindow_bench BRIEFCASE [F5 rounds]

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QTreeView>

#include <cstdio>

#include "app/application.h"
#include "app/listmodel.h"
#include "app/mainform.h"
#include "docframe/docmanager.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s BRIEFCASE [F5 rounds]\n", argv[0]);
    return 2;
  }
  TApplication app(argc, argv);
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  TMainForm form;
  form.show();
  QCoreApplication::processEvents();

  QElapsedTimer clock;
  clock.start();
  if (!form.DocManager1->Open(argv[1])) return 1;
  form.LocalList->repaint();
  form.BriefcaseList->repaint();
  const double open = clock.nsecsElapsed() / 1e6;

  double best = 1e18, sum = 0;
  for (int i = 0; i < rounds; ++i) {
    clock.restart();
    form.OptionsRefresh->trigger();
    form.LocalList->repaint();
    form.BriefcaseList->repaint();
    const double ms = clock.nsecsElapsed() / 1e6;
    best = std::min(best, ms);
    sum += ms;
  }
  // The two halves of a refresh on their own.
  double scan = 1e18, listing = 1e18;
  for (int i = 0; i < rounds; ++i) {
    clock.restart();
    form.RefreshLocalList();
    scan = std::min(scan, clock.nsecsElapsed() / 1e6);
    clock.restart();
    form.RefreshBriefcaseList();
    listing = std::min(listing, clock.nsecsElapsed() / 1e6);
  }
  std::printf("best local scan and merge %.0f ms, best briefcase listing %.0f ms\n", scan, listing);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("local rows %d, briefcase rows %d\n", form.LocalModel->size(),
              form.BriefcaseModel->size());
  std::printf("open %.0f ms; F5 best %.0f ms, mean %.0f ms (%d rounds); peak RSS %.1f MB\n", open,
              best, sum / rounds, rounds, ru.ru_maxrss / 1024.0);
  return 0;
}
