#include "app/deletions.h"

#include "carry/key.h"
#include "carry/tracker.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace app {

bool CarriesDeletions(const std::string& briefcasePath) {
  return carry::CarryRecord::open(carry::briefcaseKey(briefcasePath), std::string())
      ->carriesDeletions();
}

bool SetCarriesDeletions(const std::string& briefcasePath, bool on) {
  return carry::CarryRecord::open(carry::briefcaseKey(briefcasePath), std::string())
      ->setCarriesDeletions(on);
}

std::vector<DeletedHere> DeletionsHere(const std::string& briefcasePath,
                                       const std::string& localFolder) {
  std::vector<DeletedHere> out;
  const std::string folder = plat::stripTrailingSlash(localFolder);
  // A folder that is not there deleted nothing: its disk may be away.
  if (folder.empty() || !plat::folderExists(folder)) return out;
  std::unique_ptr<carry::CarryRecord> record =
      carry::CarryRecord::open(carry::briefcaseKey(briefcasePath), carry::folderKey(folder));
  const carry::RecordSet set = record->all();
  for (const carry::RecordSet::Item& item : set) {
    const std::string path(item.path);
    plat::FileInfo info;
    if (plat::fileSystem().stat(plat::joinPath(folder, path), &info, false)) continue;
    // Only a path the rows can carry (what an unload would write it to).
    if (!archive::deletionPathProblem(path).empty()) continue;
    out.push_back(DeletedHere{path, item.record});
  }
  return out;
}

ListRow DeletedRowFor(const DeletedHere& d) {
  ListRow row;
  const size_t slash = d.path.rfind('/');
  row.name = slash == std::string::npos ? d.path : d.path.substr(slash + 1);
  row.folder = slash == std::string::npos ? std::string() : d.path.substr(0, slash);
  row.size = d.record.file.size;
  row.time = carry::fileTimeOfNs(d.record.file.mtimeNs);
  row.icon = kIconDeletedHere;
  row.crc = d.record.entryCrc;
  return row;
}

std::vector<DeletedHere> DeletionsToCarry(const std::string& briefcasePath,
                                          const std::string& localFolder, bool asked) {
  if (!asked && !CarriesDeletions(briefcasePath)) return {};
  return DeletionsHere(briefcasePath, localFolder);
}

std::vector<archive::DeletionRow> CarriedDeletions(const std::string& briefcasePath,
                                                   std::string* problem) {
  archive::FoundDeletions found;
  archive::readBriefcaseDeletions(briefcasePath, &found);
  if (problem) *problem = found.problem;
  return found.rows;
}

}  // namespace app
