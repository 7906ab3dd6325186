#include "platform/shortcut.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/ask.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/unnamed.h"

namespace plat {
namespace {

constexpr const char* kFailure = "Could not create shortcut";
constexpr const char* kExtension = ".desktop";
constexpr uint32_t kExecutableMode = 0755;

// A value of a desktop entry: backslash, newline, tab and carriage return escaped.
std::string entryValue(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// One argument of Exec: in double quotes, with '"', '`', '$' and '\' escaped,
// and '%' doubled so that it is not a field code.
std::string execArgument(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// The program word of Exec: as it is when it holds no character the
// format reserves, else quoted as an argument.
std::string execProgram(const std::string& s) {
  for (char c : s) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',';
    if (!plain) return execArgument(s);
  }
  return s;
}

// $HOME/... as written in the user-dirs file.
std::string expandHome(std::string value) {
  if (value.rfind("$HOME", 0) == 0) value = homeDir() + value.substr(5);
  return value;
}

}  // namespace

std::string shortcutDisplayName(const std::string& briefcasePath) {
  const size_t slash = briefcasePath.rfind('/');
  if (slash == std::string::npos) return std::string();
  std::string name = "Shortcut to " + briefcasePath.substr(slash + 1);
  if (name.size() >= 4 && name[name.size() - 4] == '.') name.resize(name.size() - 4);
  return name;
}

std::string desktopFolder() {
  std::ifstream in(configHome() + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const std::string key = "XDG_DESKTOP_DIR=";
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, key.size(), key) != 0) continue;
    std::string value = line.substr(at + key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    value = stripTrailingSlash(expandHome(value));
    if (!value.empty() && value.front() == '/') return value;
  }
  return joinPath(homeDir(), "Desktop");
}

std::string launchCommand(const std::string& runningProgram, const std::string& searchPath) {
  constexpr const char* kInstalledName = "carryvale";
  FileInfo running;
  if (runningProgram.empty() || !fileSystem().stat(runningProgram, &running, true))
    return kInstalledName;
  size_t from = 0;
  while (from <= searchPath.size()) {
    size_t colon = searchPath.find(':', from);
    if (colon == std::string::npos) colon = searchPath.size();
    std::string folder = searchPath.substr(from, colon - from);
    from = colon + 1;
    // A relative entry names another folder for a desktop than for us.
    if (folder.empty() || folder.front() != '/') continue;
    const std::string candidate = joinPath(folder, kInstalledName);
    FileInfo found;
    if (!fileSystem().stat(candidate, &found, true) || !found.isRegular ||
        access(candidate.c_str(), X_OK) != 0)
      continue;
    // The first one the search finds is the one a desktop would start.
    if (found.device == running.device && found.inode == running.inode) return kInstalledName;
    break;
  }
  return runningProgram;
}

std::string desktopEntryText(const std::string& displayName, const std::string& briefcasePath,
                             const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.0\n"
         "Name=" + entryValue(displayName) + "\n"
         "Exec=" + entryValue(execProgram(program) + " " + execArgument(briefcasePath)) + "\n"
         "Icon=carryvale\n"
         "Terminal=false\n";
}

std::string CreateDesktopShortcut(const std::string& briefcasePath) {
  const std::string name = shortcutDisplayName(briefcasePath);
  if (name.empty()) return name;
  const std::string folder = desktopFolder();
  const std::string target = joinPath(folder, name + kExtension);
  const char* path = std::getenv("PATH");
  if (!makePath(folder) ||
      !writeFileAtomically(target,
                           desktopEntryText(name, briefcasePath,
                                            launchCommand(executablePath(), path ? path : "")),
                           kExecutableMode,
                           ".brc-shortcut-")) {
    messageBox(kFailure, "", btnOk, Icon::None);
    return std::string();
  }
  return name;
}

}  // namespace plat
