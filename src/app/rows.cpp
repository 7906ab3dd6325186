#include "app/rows.h"

#include <cstdio>

#include "archive/aes.h"
#include "archive/extract/naming.h"
#include "archive/extract/restore.h"
#include "archive/extract/state.h"
#include "platform/findfile.h"
#include "platform/paths.h"

namespace app {

std::string SizeText(uint64_t size) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d kB", static_cast<int>(static_cast<uint32_t>(size / 1024)));
  return buf;
}

std::string RowLocalPath(const std::string& localFolder, const ListRow& row) {
  std::string p = localFolder;
  if (p.empty() || p.back() != '/') p += '/';
  if (!row.folder.empty()) p += row.folder + "/";
  return p + row.name;
}

std::string RowEntryName(const ListRow& row) {
  return row.folder.empty() ? row.name : row.folder + "/" + row.name;
}

ListRow LocalRowFor(const LoadCandidate& c) {
  ListRow r;
  r.name = c.name;
  r.folder = c.relativeFolder;
  r.size = c.size;
  r.time = c.writeTime;
  r.icon = kIconOnly;
  return r;
}

void LocalRowIndex::add(const ListRow& row, size_t at) {
  const std::string name = RowEntryName(row);
  exact_.emplace(name, at);
  if (spellsOtherwise(row)) loose_.emplace(archive::looseKey(name), std::make_pair(name, at));
}

bool LocalRowIndex::spellsOtherwise(const ListRow& row) {
  auto it = folders_.find(row.folder);
  if (it != folders_.end()) return it->second;
  // The row's name in other letter case, and with a dot after it.
  std::string swapped = row.name;
  for (char& c : swapped)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  const std::string path = RowLocalPath(localFolder_, row);
  const std::string folder = plat::parentFolder(path);
  const bool other =
      (swapped != row.name && archive::namesOneFile(path, plat::joinPath(folder, swapped))) ||
      archive::namesOneFile(path, path + ".");
  // A name without letters tells nothing yet about letter case.
  if (other || swapped != row.name) folders_.emplace(row.folder, other);
  return other;
}

long LocalRowIndex::find(const ListRow& entry) const {
  const std::string name = RowEntryName(entry);
  auto it = exact_.find(name);
  if (it != exact_.end()) return static_cast<long>(it->second);
  if (loose_.empty()) return -1;
  auto range = loose_.equal_range(archive::looseKey(name));
  for (auto l = range.first; l != range.second; ++l)
    if (archive::namesOneFile(plat::joinPath(localFolder_, l->second.first),
                              plat::joinPath(localFolder_, name)))
      return static_cast<long>(l->second.second);
  return -1;
}

RowIcons IconsFor(const carry::EntryClass& c, RowIcons byTimes) {
  switch (c.verdict) {
    case carry::EntryVerdict::kConflict: return {kIconConflict, kIconConflict};
    case carry::EntryVerdict::kNewerHere: return {kIconNewer, kIconNewerHere};
    case carry::EntryVerdict::kSame: return {kIconSame, kIconSame};
    case carry::EntryVerdict::kCarry: return {kIconOlder, kIconNewer};
    case carry::EntryVerdict::kDateRule:
    case carry::EntryVerdict::kNeedsHash: break;
  }
  return byTimes;
}

std::optional<ListRow> BriefcaseRowFor(const archive::TExtractEntry& entry,
                                       const std::string& localFolder,
                                       std::optional<RowIcon>* localIcon, carry::Tracker* carry,
                                       carry::EntryClass* why) {
  localIcon->reset();
  const std::string name = entry.displayName();
  ListRow r;
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) {
    if (slash + 1 == name.size()) return std::nullopt;  // a folder entry
    r.folder = name.substr(0, slash);
    r.name = name.substr(slash + 1);
  } else {
    r.name = name;
  }
  r.size = entry.central.uncompressedSize;
  r.time = archive::entryTime(entry);
  const archive::aes::BytesMark mark = archive::aes::bytesMark(entry.central, entry.extra);
  r.crc = mark.value;
  r.crcIsContent = mark.isCrc;
  r.icon = kIconOnly;
  plat::FindData fd;
  const std::string localPath = localFolder.empty() ? std::string() : RowLocalPath(localFolder, r);
  const bool there = !localPath.empty() && plat::findFirst(localPath, &fd) && fd.info.isRegular;
  carry::EntryClass c{carry::EntryVerdict::kDateRule, carry::Basis::kDate};
  if (carry) {
    const carry::EntryState state{r.crc, entry.central.uncompressedSize, r.time, r.crcIsContent};
    c = carry->entry(RowEntryName(r), localPath, there ? &fd.info : nullptr, state);
  }
  if (why) *why = c;
  if (!there) return r;
  const RowIcons icons = IconsFor(c, CompareTimes(fd.info.writeTime, r.time));
  r.icon = icons.entry;
  *localIcon = icons.local;
  return r;
}

std::optional<RowIcons> CompareWithLocalFile(const std::string& localFolder,
                                             const ListRow& entryRow) {
  plat::FindData fd;
  if (localFolder.empty() || !plat::findFirst(RowLocalPath(localFolder, entryRow), &fd) ||
      !fd.info.isRegular)
    return std::nullopt;
  return CompareTimes(fd.info.writeTime, entryRow.time);
}

}  // namespace app
