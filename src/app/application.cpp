#include "app/application.h"

#include "platform/ask.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::SetTitle(const QString& title) {
  // The display name is left alone: the window system would append it to
  // every caption, which already reads "Carryvale - name".
  setApplicationName(title);
}

void TApplication::ShowHelp(int context) {
  auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
  if (app && app->help_) app->help_(context);
}

void TApplication::ShowException(const QString& text) {
  const QString caption = applicationDisplayName().isEmpty() ? QStringLiteral("Carryvale")
                                                             : applicationDisplayName();
  QString shown = text.trimmed();
  if (shown.isEmpty()) shown = QStringLiteral("An unexpected error occurred.");
  if (!shown.endsWith(QLatin1Char('.'))) shown += QLatin1Char('.');
  plat::messageBox(shown.toStdString(), caption.toStdString(), plat::btnOk, plat::Icon::Error);
}

void TApplication::ShowException(const std::exception& e) {
  ShowException(QString::fromLocal8Bit(e.what()));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(QStringLiteral("An unexpected error occurred."));
  }
  return false;
}
