#include "app/startup.h"

#include "app/application.h"
#include "app/mainform.h"
#include "dialogs/about.h"
#include "dialogs/anim.h"
#include "dialogs/inputdia.h"
#include "dialogs/msgform.h"
#include "dialogs/qtasker.h"
#include "dialogs/settings.h"
#include "dialogs/wizard.h"
#include "platform/paths.h"

std::unique_ptr<TMainForm> CreateApplicationWindows(const QStringList& arguments) {
  auto main = std::make_unique<TMainForm>(arguments);
  AboutBox = new TAboutBox(main.get());
  InputForm = new TInputForm(main.get());
  AnimatedForm = new TAnimatedForm(main.get());
  MessageForm = new TMessageForm(main.get());
  WizardForm = new TWizardForm(main.get());
  SettingsForm = new TSettingsForm(main.get());
  return main;
}

int RunCarryvale(TApplication& app) {
  app.SetTitle(QStringLiteral("Carryvale"));
  // The help file is the HTML manual; manual.html leads each help context
  // ("#ctx-N") to its topic.
  const std::string manual = plat::manualFolder();
  app.SetHelpFile(manual.empty() ? QStringLiteral("carryval.hlp")
                                 : QString::fromStdString(manual + "/manual.html"));
  app.setQuitOnLastWindowClosed(false);

  TQtAsker asker;
  plat::ScopedAsker useAsker(&asker);
  try {
    QStringList arguments = app.arguments();
    if (!arguments.isEmpty()) arguments.removeFirst();  // the program itself
    std::unique_ptr<TMainForm> main = CreateApplicationWindows(arguments);
    QObject::connect(main.get(), &TMainForm::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    main->show();
    app.exec();
  } catch (const std::exception& e) {
    TApplication::ShowException(e);
  } catch (...) {
    TApplication::ShowException(QStringLiteral("An unexpected error occurred."));
  }
  return 0;
}
