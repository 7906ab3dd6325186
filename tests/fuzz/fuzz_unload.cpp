// Unloading a container made of arbitrary bytes into a scratch folder: the run
// ends with a result, writes nothing outside the target folder, never through
// the link planted in it, and leaves no temporary file behind; a test run and
// a listing of the same bytes end too; on one thread the unload has the same
// result and outcomes as on two.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/compress.h"
#include "scratch.h"
#include "archive/extract/extract.h"

namespace fs = std::filesystem;

namespace {

const fs::path& scratch() { return fuzzscratch::folder("fuzz_unload", nullptr); }

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_unload: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path root = scratch();
  const fs::path zip = root / "in.zip";
  const fs::path target = root / "out";
  const fs::path outside = root / "outside";
  fs::remove_all(target);
  fs::remove_all(outside);
  fs::create_directories(target);
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, target / "link");
  {
    std::ofstream f(zip, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  archive::TCompress c;
  c.archivePath = zip.string();
  // Encrypted entries of the seeds open with this password.
  c.password = archive::aes::Password("fuzz");
  c.extract.callbacks.replaceQuery = [](std::string&, plat::FileTime, plat::FileTime, uint32_t,
                                        uint32_t, uint8_t& answer) { answer = archive::kAnswerYes; };
  archive::ListRun(c);
  archive::TestRun(c);
  c.extract.targetFolder = target.string();
  c.extract.threads = 2;
  int rc = archive::UnloadRun(c);
  check(rc >= 0 && rc <= 88, "result out of range");

  // On one thread, into a folder of its own: the same result and outcomes.
  {
    const fs::path one = root / "one";
    fs::remove_all(one);
    fs::create_directories(one);
    fs::create_directory_symlink(outside, one / "link");
    archive::TCompress c1;
    c1.archivePath = zip.string();
    c1.password = c.password;
    c1.extract.callbacks.replaceQuery = c.extract.callbacks.replaceQuery;
    c1.extract.targetFolder = one.string();
    c1.extract.threads = 1;
    check(archive::UnloadRun(c1) == rc, "one thread gave another result");
    check(c1.extract.entries.size() == c.extract.entries.size() &&
              c1.extract.filesWritten == c.extract.filesWritten,
          "one thread wrote another number of files");
    for (size_t i = 0; i < c1.extract.entries.size(); ++i)
      check(c1.extract.entries[i].outcome == c.extract.entries[i].outcome,
            "one thread gave an entry another outcome");
    fs::remove_all(one);
  }

  // Only the container, the target folder and the empty outside folder.
  for (const auto& e : fs::directory_iterator(root)) {
    const fs::path p = e.path();
    check(p == zip || p == target || p == outside, "a file was written beside the target folder");
  }
  check(fs::is_empty(outside), "a file was written through the link");
  // One local file per entry written, and one entry per local file.
  uint32_t files = 0, unloaded = 0;
  std::error_code ec0;
  for (const auto& e : fs::recursive_directory_iterator(target, ec0))
    if (e.is_regular_file() && !e.is_symlink()) ++files;
  for (const auto& e : c.extract.entries)
    if (!e.isFolder() && e.outcome == archive::UnloadOutcome::Unloaded) ++unloaded;
  check(files == c.extract.filesWritten && unloaded == files, "files and written entries differ");
  // (An entry may itself be named like a temporary file.)
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.find(".brc") != std::string::npos) return 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(target, ec)) {
    const std::string name = e.path().filename().string();
    check(name.rfind(".brc", 0) != 0, "a temporary file was left behind");
  }
  return 0;
}
