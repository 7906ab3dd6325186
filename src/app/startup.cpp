#include "app/startup.h"

#include "app/application.h"
#include "app/mainform.h"
#include "dialogs/about.h"
#include "dialogs/anim.h"
#include "dialogs/inputdia.h"
#include "dialogs/msgform.h"
#include "dialogs/qtasker.h"
#include "dialogs/replace.h"
#include "dialogs/settings.h"
#include "dialogs/wizard.h"
#include "platform/paths.h"

std::unique_ptr<TMainForm> CreateApplicationWindows(const QStringList& arguments) {
  auto main = std::make_unique<TMainForm>(arguments);
  AboutBox = new TAboutBox(main.get());
  ReplaceForm = new TReplaceForm(main.get());  // with its rename dialog
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
  int status = 0;
  try {
    QStringList arguments = app.arguments();
    if (!arguments.isEmpty()) arguments.removeFirst();  // the program itself
    std::unique_ptr<TMainForm> main = CreateApplicationWindows(arguments);
    QObject::connect(main.get(), &TMainForm::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Every help request (a message's Help button, F1 in a dialog) opens the
    // manual at its topic in the program's help window.
    app.SetHelpHandler([form = main.get()](int context) { form->HelpContext(context); });
    asker.setHelpHandler([](int context) { TApplication::ShowHelp(context); });
    main->show();
    app.exec();
    asker.setHelpHandler(nullptr);
    app.SetHelpHandler(nullptr);
    // A load or unload from the command line tells a script how it went.
    status = main->ExitStatus();
  } catch (const std::exception& e) {
    TApplication::ShowException(e);
  } catch (...) {
    TApplication::ShowException(QStringLiteral("An unexpected error occurred."));
  }
  return status;
}
