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

// The command a desktop entry starts the program with: "carryvale" when the
// search path (a PATH value) finds the running program under that name (the
// installed program), else the running program's absolute path, so that a
// program run from where it was built or unpacked still opens the shortcut.
std::string launchCommand(const std::string& runningProgram, const std::string& searchPath);

// The desktop entry that opens the briefcase with `program`: Type=Application,
// the display name, Exec= the program and the path, each quoted as needed,
// the program's icon.
std::string desktopEntryText(const std::string& displayName, const std::string& briefcasePath,
                             const std::string& program);

// Writes "<desktop>/<display name>.desktop" (replacing an earlier one), for
// the running program as launchCommand() names it with $PATH, under a
// temporary name first, executable, then moved into place; a failure leaves
// no file behind and is told to the user ("Could not create shortcut"). A path
// without a folder separator creates nothing and tells nothing. Returns the
// display name (empty when nothing was created).
std::string CreateDesktopShortcut(const std::string& briefcasePath);

}  // namespace plat
