#pragma once
// A private home for one test: HOME, the XDG folders, TMPDIR and the computer
// id point into a fresh temporary folder, restored and removed afterwards.

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

class ComponentEnv {
 public:
  ComponentEnv() {
    std::string templ = (std::filesystem::temp_directory_path() / "cvcomp-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    root_ = templ;
    set("HOME", root_ + "/home");
    set("XDG_CONFIG_HOME", root_ + "/config");
    set("XDG_STATE_HOME", root_ + "/state");
    set("XDG_DATA_HOME", root_ + "/data");
    set("TMPDIR", root_ + "/tmp");
    set("CARRYVALE_COMPUTER_ID", "C0FFEE01");
    for (const char* d : {"/home", "/tmp"}) std::filesystem::create_directories(root_ + d);
  }
  ~ComponentEnv() {
    for (auto& [name, old] : saved_) {
      if (old) setenv(name.c_str(), old->c_str(), 1);
      else unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  ComponentEnv(const ComponentEnv&) = delete;
  ComponentEnv& operator=(const ComponentEnv&) = delete;

  const std::string& root() const { return root_; }
  std::string configDir() const { return root_ + "/config/carryvale"; }

 private:
  void set(const std::string& name, const std::string& value) {
    const char* old = getenv(name.c_str());
    saved_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }

  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_;
};
