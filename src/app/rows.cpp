#include "app/rows.h"

#include <cstdio>

#include "archive/extract/restore.h"
#include "archive/extract/state.h"
#include "platform/findfile.h"

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

std::optional<ListRow> BriefcaseRowFor(const archive::TExtractEntry& entry,
                                       const std::string& localFolder,
                                       std::optional<RowIcon>* localIcon) {
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
  r.icon = kIconOnly;
  if (const std::optional<RowIcons> icons = CompareWithLocalFile(localFolder, r)) {
    r.icon = icons->entry;
    *localIcon = icons->local;
  }
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
