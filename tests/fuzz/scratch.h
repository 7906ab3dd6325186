#pragma once
// A scratch folder for a fuzz target that writes files: one per process under
// $TMPDIR (or /tmp), made afresh at first use and removed at exit.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace fuzzscratch {

struct Scratch {
  std::filesystem::path root;
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

// The folder "<tmp>/<name>.<pid>"; `prepare` fills it once.
inline const std::filesystem::path& folder(
    const std::string& name, const std::function<void(const std::filesystem::path&)>& prepare) {
  static const Scratch s{[&] {
    const char* t = std::getenv("TMPDIR");
    std::filesystem::path p =
        std::filesystem::path(t && *t ? t : "/tmp") / (name + "." + std::to_string(::getpid()));
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    if (prepare) prepare(p);
    return p;
  }()};
  return s.root;
}

}  // namespace fuzzscratch
