// Parsing a configuration record from arbitrary bytes: never reads outside
// them, and whatever it accepts builds back to a record that parses the same.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "briefcase/comment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The stored comment is at most 65,535 bytes.
  if (size > 65535) return 0;
  std::vector<uint8_t> stored(data, data + size);
  briefcase::TBriefcaseComment record;
  int level = 6;
  bool newer = false;
  if (!record.ParseStored(stored, &level, &newer)) return 0;
  if (level < 0 || level > 9) std::abort();
  std::vector<uint8_t> rebuilt;
  try {
    rebuilt = record.Stored(level);
  } catch (const briefcase::RecordTooLarge&) {
    return 0;  // an old record with long texts may not fit the current form
  }
  briefcase::TBriefcaseComment again;
  int level2 = -1;
  if (!again.ParseStored(rebuilt, &level2, &newer)) std::abort();
  if (level2 != level || again.include != record.include || again.exclude != record.exclude ||
      again.subfolders != record.subfolders ||
      again.folders.entries.size() != record.folders.entries.size())
    std::abort();
  for (size_t i = 0; i < again.folders.entries.size(); ++i)
    if (again.folders.entries[i].computerId != record.folders.entries[i].computerId ||
        again.folders.entries[i].folder != record.folders.entries[i].folder)
      std::abort();
  return 0;
}
