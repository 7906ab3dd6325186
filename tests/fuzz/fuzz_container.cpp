// Reading a container from arbitrary bytes: the end record, the central
// directory and the check of every entry against its local header.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/layout.h"
#include "memfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemFile f(std::vector<uint8_t>(data, data + size));
  archive::EndRecordInfo end;
  if (archive::findEndRecord(f, &end, nullptr) != archive::kOk) return 0;
  if (end.position + 22ull + end.comment.size() > size) std::abort();
  if (end.comment.size() + end.commentMissing != end.record.commentLength) std::abort();
  if (end.directoryEnd > end.position) std::abort();
  if (!end.needsZip64.empty()) return 0;
  archive::TZList list;
  uint32_t preamble = 0;
  const int rc = archive::readCentralDirectory(f, static_cast<uint32_t>(end.centralOffset),
                                               static_cast<uint32_t>(end.centralSize),
                                               end.directoryEnd, &list, &preamble);
  // Read by its size: never more than the directory's bytes can hold.
  if (list.centralSize > end.centralSize || list.items.size() > archive::kMaxEntries) std::abort();
  if (rc != archive::kOk) return 0;
  if (archive::checkEntries(f, list, end.position) != archive::kOk) return 0;
  return 0;
}
