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
  if (end.position + 22ull + end.record.commentLength > size) std::abort();
  archive::TZList list;
  uint32_t preamble = 0;
  if (archive::readCentralDirectory(f, end.record.centralOffset, end.record.entriesTotal,
                                    end.position, &list, &preamble) != archive::kOk)
    return 0;
  if (list.items.size() != end.record.entriesTotal) std::abort();
  if (archive::checkEntries(f, list, end.position) != archive::kOk) return 0;
  archive::NameIndex index;
  index.build(list);
  for (const auto& item : list.items)
    if (index.find(list, item.name) < 0) std::abort();
  return 0;
}
