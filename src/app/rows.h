#pragma once
// The rows of the two lists, as the window and `brc status` show them: the
// load candidates (local rows) and the briefcase's entries (briefcase rows),
// each compared with its counterpart on the other side.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "app/compare.h"
#include "app/localscan.h"
#include "platform/filetime.h"

namespace archive {
struct TExtractEntry;
}

namespace app {

struct ListRow {
  std::string name;    // the file name / the last component of the entry name
  std::string folder;  // relative folder, '/'-separated, empty for the top
  uint64_t size = 0;   // bytes
  plat::FileTime time = 0;  // last-write time / entry time (UTC)
  RowIcon icon = kIconOnly;
  uint32_t crc = 0;  // a briefcase row: its entry's CRC-32
  bool crcIsContent = true;  // false: `crc` is the mark of an encrypted entry's bytes
};

// "%d kB": the size divided by 1024, truncated, taken as 32 bits.
std::string SizeText(uint64_t size);

// The local path of a row: local folder + '/' + folder + '/' + name.
std::string RowLocalPath(const std::string& localFolder, const ListRow& row);
// The entry name of a row: folder + '/' + name ('/' separators).
std::string RowEntryName(const ListRow& row);

// A local row for a load candidate (icon "only" until compared).
ListRow LocalRowFor(const LoadCandidate& c);

// How the local file of a briefcase row compares with the entry now: the
// icons of both rows, or nothing when there is no such local file.
std::optional<RowIcons> CompareWithLocalFile(const std::string& localFolder,
                                             const ListRow& entryRow);

// The local rows below a local folder by the entry name they would have, to
// find the local row of a briefcase row: the row of exactly its name and
// folder, else, where the folder takes two spellings for one file (a stick
// that ignores letter case), the row whose file the entry's path names.
// Whether a folder does is seen, without writing, from its first row: the
// row's name spelled otherwise names its file.
class LocalRowIndex {
 public:
  explicit LocalRowIndex(std::string localFolder) : localFolder_(std::move(localFolder)) {}
  void add(const ListRow& row, size_t at);
  // The row for the briefcase row `entry`, whose local file was found; -1
  // when no local row is its file.
  long find(const ListRow& entry) const;

 private:
  bool spellsOtherwise(const ListRow& row);
  std::string localFolder_;
  std::unordered_map<std::string, size_t> exact_;
  std::unordered_map<std::string, bool> folders_;  // rows' folders: they take other spellings
  std::unordered_multimap<std::string, std::pair<std::string, size_t>> loose_;
};

// The briefcase row for an entry, compared with the local file of the same
// relative path below `localFolder`; nothing for a folder entry. When a local
// file is found, *localIcon receives the icon its local row gets. With the
// carry record (`carry`) the record decides where it knows the path, and
// *why (when set) receives its rule.
std::optional<ListRow> BriefcaseRowFor(const archive::TExtractEntry& entry,
                                       const std::string& localFolder,
                                       std::optional<RowIcon>* localIcon,
                                       carry::Tracker* carry = nullptr,
                                       carry::EntryClass* why = nullptr);

// The icons of a local file and its entry as the record's rule has them;
// `byTimes` where the dates decide.
RowIcons IconsFor(const carry::EntryClass& c, RowIcons byTimes);

}  // namespace app
