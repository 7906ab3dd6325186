#pragma once
// A shortcut to a briefcase on the user's desktop: a desktop entry that
// starts the program on the briefcase, named after the briefcase
// ("Shortcut to work.desktop" for .../work.brc).

#include <string>

namespace plat {

// "Shortcut to " and the file name of the path, with a three-letter extension
// taken off ("Shortcut to work" for /media/stick/work.brc; data.brcx keeps its
// four letters). Empty when the path has no folder separator.
std::string shortcutDisplayName(const std::string& briefcasePath);

// The user's desktop folder: XDG_DESKTOP_DIR of the user-dirs file in
// $XDG_CONFIG_HOME (default ~/.config), else ~/Desktop; without a trailing '/'.
std::string desktopFolder();

// The desktop entry that opens the briefcase: Type=Application, the display
// name, Exec=carryvale with the path quoted, the program's icon.
std::string desktopEntryText(const std::string& displayName, const std::string& briefcasePath);

// Writes "<desktop>/<display name>.desktop" (replacing an earlier one) under a
// temporary name first, executable, then moved into place; a failure leaves
// no file behind and is told to the user ("Could not create shortcut"). A path
// without a folder separator creates nothing and tells nothing. Returns the
// display name (empty when nothing was created).
std::string CreateDesktopShortcut(const std::string& briefcasePath);

}  // namespace plat
