#pragma once
// Where things live on this system: the user's folders, the temporary folder,
// the executable. All paths use '/' as the separator.

#include <string>

namespace plat {

// $HOME, else the password database's home folder.
std::string homeDir();

// $XDG_CONFIG_HOME (default ~/.config), $XDG_STATE_HOME (default ~/.local/state),
// $XDG_DATA_HOME (default ~/.local/share); without a trailing '/'.
std::string configHome();
std::string stateHome();
std::string dataHome();

// $TMPDIR, else /tmp; without a trailing '/'.
std::string tempDir();

// The running executable's full path (from /proc/self/exe), or empty.
std::string executablePath();

// The diagnostic log file: the executable's path with its extension replaced by
// ".log" (or ".log" appended), unless that folder is not writable; then
// $XDG_STATE_HOME/carryvale/carryvale.log.
std::string logFilePath();

// The folder of the HTML manual (holding index.html), or empty when none is
// found: $CARRYVALE_MANUAL_DIR when set, else share/carryvale/manual beside
// the executable's folder (an installed program), else "manual" in the
// executable's folder (the build tree). Help context N is the anchor "ctx-N"
// of a page there.
std::string manualFolder();

// The manual's page for a help context: "<folder>/<page>.html#ctx-N" for the
// page that holds the anchor, "<folder>/index.html" when none does, empty
// when there is no manual. Context 0 is the contents.
std::string helpTopicPath(int context);

// Path helpers (pure text, no file-system access).
std::string joinPath(const std::string& folder, const std::string& name);
std::string parentFolder(const std::string& path);  // "" when there is no '/'
std::string fileNamePart(const std::string& path);  // after the last '/'
std::string stripTrailingSlash(const std::string& path);  // keeps a lone "/"

// The path with every symbolic link in it resolved (the file a link leads
// to); the path itself when it cannot be resolved (e.g. it does not exist).
std::string resolvedPath(const std::string& path);

// The process's current folder.
std::string currentFolder();

// Creates a folder and its parents; true when it exists afterwards.
bool makePath(const std::string& folder);

}  // namespace plat
