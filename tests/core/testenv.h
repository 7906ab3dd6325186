#pragma once
// A private environment for a test: its own HOME, XDG folders, TMPDIR and
// computer id, all under a fresh temporary folder that is removed afterwards.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testenv {

class Env {
 public:
  explicit Env(const std::string& computerId = "1A2B3C4D") {
    std::string tmpl = (std::filesystem::temp_directory_path() / "cvtest-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    root_ = mkdtemp(buf.data());
    for (const char* d : {"home", "config", "state", "data", "tmp", "work"})
      std::filesystem::create_directories(root_ + "/" + d);
    save("HOME", root_ + "/home");
    save("XDG_CONFIG_HOME", root_ + "/config");
    save("XDG_STATE_HOME", root_ + "/state");
    save("XDG_DATA_HOME", root_ + "/data");
    save("TMPDIR", root_ + "/tmp");
    save("CARRYVALE_COMPUTER_ID", computerId);
  }
  ~Env() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had)
        setenv(it->name.c_str(), it->value.c_str(), 1);
      else
        unsetenv(it->name.c_str());
    }
    std::error_code ec;
    std::filesystem::permissions(root_, std::filesystem::perms::all, ec);
    std::filesystem::remove_all(root_, ec);
  }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }
  std::string work() const { return root_ + "/work"; }
  std::string tmp() const { return root_ + "/tmp"; }

  // Sets a variable for the test's duration.
  void set(const std::string& name, const std::string& value) { save(name, value); }

 private:
  struct Saved {
    std::string name, value;
    bool had;
  };
  void save(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, old ? old : "", old != nullptr});
    setenv(name.c_str(), value.c_str(), 1);
  }
  std::string root_;
  std::vector<Saved> saved_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
  std::vector<uint8_t> b = readBytes(path);
  return std::string(b.begin(), b.end());
}

// Runs a shell command; returns its exit status, with standard output in *out.
inline int run(const std::string& command, std::string* out = nullptr) {
  std::string cmd = command + (out ? "" : " > /dev/null");
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace testenv
