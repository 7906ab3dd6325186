#pragma once
// The application object of the desktop program: its title, its help file,
// and the standard exception box for exceptions that escape an event handler
// (the program carries on after it).

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);

  // "Carryvale".
  QString Title() const { return applicationDisplayName(); }
  void SetTitle(const QString& title);

  // The user manual that the Help commands open.
  QString HelpFile() const { return helpFile_; }
  void SetHelpFile(const QString& file) { helpFile_ = file; }

  // Every help request of the program (a Help button, F1 in a dialog) opens
  // its topic in the program's own help window, through this handler (the
  // main window's); without one, nothing opens.
  void SetHelpHandler(std::function<void(int context)> handler) { help_ = std::move(handler); }
  // The topic of a help context, through the running application's handler.
  static void ShowHelp(int context);

  // The standard exception box: the exception's text, the application's
  // title as caption, an error icon and OK (through the question interface).
  static void ShowException(const std::exception& e);
  static void ShowException(const QString& text);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  QString helpFile_;
  std::function<void(int)> help_;
};
