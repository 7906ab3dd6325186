// An update run over a container made of arbitrary bytes: a load of one file
// and a delete of one entry. Whatever the bytes, the run ends with a result;
// when it fails, the container keeps every byte; when it succeeds, the new
// container reads back with every entry agreeing with its local header; and
// no temporary file is left beside it.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/compress.h"
#include "scratch.h"
#include "archive/errors.h"
#include "archive/layout.h"
#include "archive/update/update.h"

namespace fs = std::filesystem;

namespace {

const fs::path& scratch() {
  return fuzzscratch::folder("fuzz_update", [](const fs::path& p) {
    fs::create_directories(p / "docs");
    std::ofstream(p / "docs" / "a.txt") << "a small text file, loaded into the damaged container\n";
  });
}

std::vector<uint8_t> readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void check(bool ok) {
  if (!ok) std::abort();
}

// The container reads back: end record, directory, every local header.
bool readsBack(const fs::path& p, std::vector<std::string>* names) {
  archive::JNormFile f(p.string(), plat::Access::Read, plat::Disposition::OpenExisting);
  archive::EndRecordInfo end;
  if (archive::findEndRecord(f, &end, nullptr)) return false;
  archive::TZList list;
  uint32_t preamble = 0;
  if (!end.needsZip64.empty()) return false;
  if (archive::readCentralDirectory(f, static_cast<uint32_t>(end.centralOffset),
                                    static_cast<uint32_t>(end.centralSize), end.directoryEnd, &list,
                                    &preamble))
    return false;
  if (list.items.size() != end.entries) return false;
  if (archive::checkEntries(f, list, end.position)) return false;
  for (const auto& item : list.items) names->push_back(item.name);
  return true;
}

void runOnce(const std::vector<uint8_t>& bytes, bool load) {
  const fs::path container = scratch() / "b.brc";
  {
    std::ofstream out(container, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  archive::TCompress engine;
  engine.archivePath = container.string();
  engine.level = bytes.empty() ? 6 : bytes.back() % 10;
  if (load) {
    engine.update.baseFolder = (scratch() / "docs").string();
    engine.AddName((scratch() / "docs" / "a.txt").string());
  } else {
    engine.AddName("a.txt");
    archive::PrepareDelete(engine, false);
  }
  int rc = archive::Update(engine);
  std::vector<std::string> names;
  if (rc == archive::kOk) {
    check(readsBack(container, &names));
    bool has = false;
    for (const auto& n : names) has = has || n == "a.txt";
    if (load) check(has);
  } else if (rc != archive::kFileNotReadable) {
    check(readAll(container) == bytes);
  }
  for (const auto& e : fs::directory_iterator(scratch()))
    check(e.path().filename() == "b.brc" || e.path().filename() == "docs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  runOnce(bytes, true);
  runOnce(bytes, false);
  return 0;
}
