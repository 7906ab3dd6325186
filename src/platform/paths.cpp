#include "platform/paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace plat {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  if (v && *v) return stripTrailingSlash(v);
  return fallback;
}

}  // namespace

std::string homeDir() {
  const char* h = std::getenv("HOME");
  if (h && *h) return stripTrailingSlash(h);
  struct passwd pw;
  struct passwd* res = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_dir)
    return stripTrailingSlash(res->pw_dir);
  return "/";
}

std::string configHome() { return envOr("XDG_CONFIG_HOME", homeDir() + "/.config"); }
std::string stateHome() { return envOr("XDG_STATE_HOME", homeDir() + "/.local/state"); }
std::string dataHome() { return envOr("XDG_DATA_HOME", homeDir() + "/.local/share"); }
std::string tempDir() { return envOr("TMPDIR", "/tmp"); }

std::string executablePath() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string logFilePath() {
  std::string exe = executablePath();
  if (!exe.empty()) {
    std::string folder = parentFolder(exe);
    std::string name = fileNamePart(exe);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    if (!folder.empty() && access(folder.c_str(), W_OK) == 0) return folder + "/" + name + ".log";
  }
  return stateHome() + "/carryvale/carryvale.log";
}

std::string manualFolder() {
  std::vector<std::string> candidates;
  if (const char* dir = std::getenv("CARRYVALE_MANUAL_DIR"); dir && *dir) candidates.push_back(dir);
  const std::string exeFolder = parentFolder(executablePath());
  if (!exeFolder.empty()) {
    candidates.push_back(joinPath(parentFolder(exeFolder), "share/carryvale/manual"));
    candidates.push_back(joinPath(exeFolder, "manual"));
  }
  for (const std::string& c : candidates)
    if (access(joinPath(c, "index.html").c_str(), R_OK) == 0) return c;
  return std::string();
}

std::string helpTopicPath(int context) {
  const std::string folder = manualFolder();
  if (folder.empty()) return std::string();
  const std::string index = joinPath(folder, "index.html");
  if (context == 0) return index;
  const std::string anchor = "ctx-" + std::to_string(context);
  const std::string id = "id=\"" + anchor + "\"";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return index;
  std::vector<std::string> pages;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    // manual.html only points at the topics; the topics themselves count.
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0 && name != "manual.html")
      pages.push_back(name);
  }
  closedir(dir);
  std::sort(pages.begin(), pages.end());
  for (const std::string& page : pages) {
    std::ifstream in(joinPath(folder, page), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find(id) != std::string::npos) return joinPath(folder, page) + "#" + anchor;
  }
  return index;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string parentFolder(const std::string& path) {
  size_t p = path.rfind('/');
  if (p == std::string::npos) return std::string();
  if (p == 0) return "/";
  return path.substr(0, p);
}

std::string fileNamePart(const std::string& path) {
  size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string stripTrailingSlash(const std::string& path) {
  std::string s = path;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string resolvedPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  ::free(real);
  return out;
}

std::string currentFolder() {
  std::vector<char> buf(4096);
  if (!getcwd(buf.data(), buf.size())) return ".";
  return buf.data();
}

bool makePath(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = parentFolder(folder);
  if (!parent.empty() && parent != folder) makePath(parent);
  if (mkdir(folder.c_str(), 0777) == 0) return true;
  return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace plat
