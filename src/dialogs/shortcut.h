#pragma once
// The desktop shortcut to a briefcase, for the windows: the rules and the
// file writing are the core's (platform/shortcut.h).

#include <QString>

// Puts a shortcut to the briefcase on the user's desktop; *name (when given)
// receives its display name, which is also returned (empty when nothing was
// created). A failure is told to the user.
QString CreateDesktopShortcut(QString* name, const QString& briefcasePath);
