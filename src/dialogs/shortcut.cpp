#include "dialogs/shortcut.h"

#include "platform/shortcut.h"

QString CreateDesktopShortcut(QString* name, const QString& briefcasePath) {
  const QString made =
      QString::fromStdString(plat::CreateDesktopShortcut(briefcasePath.toStdString()));
  if (name) *name = made;
  return made;
}
