#pragma once
// The application object of the desktop program: its title, its help file,
// and the standard exception box for exceptions that escape an event handler
// (the program carries on after it).

#include <QApplication>
#include <QString>

#include <exception>

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

  // The standard exception box: the exception's text, the application's
  // title as caption, an error icon and OK (through the question interface).
  static void ShowException(const std::exception& e);
  static void ShowException(const QString& text);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  QString helpFile_;
};
