#include "app/localscan.h"

#include "briefcase/briefcasedoc.h"
#include "platform/findfile.h"

namespace app {

ScanRules RulesFor(const briefcase::TBriefcaseComment& record, const std::string& localFolder,
                   plat::FileTime briefcaseDate) {
  ScanRules rules;
  rules.localFolder = localFolder;
  rules.subfolders = record.subfolders;
  rules.include = briefcase::SplitPatterns(record.include, briefcase::PatternKind::Include);
  rules.exclude = briefcase::SplitPatterns(record.exclude, briefcase::PatternKind::Exclude);
  rules.briefcaseDate = briefcaseDate;
  return rules;
}

ScanRules RulesFor(const briefcase::TBriefcaseDoc& doc, plat::FileTime briefcaseDate) {
  ScanRules rules;
  rules.localFolder = doc.LocalFolder();
  rules.subfolders = doc.Configuration().subfolders;
  rules.include = doc.IncludePatterns();
  rules.exclude = doc.ExcludePatterns();
  rules.briefcaseDate = briefcaseDate;
  return rules;
}

std::unique_ptr<carry::Tracker> TrackFor(const std::string& containerPath, ScanRules* rules) {
  if (rules->localFolder.empty() || containerPath.empty()) return nullptr;
  auto t = std::make_unique<carry::Tracker>(containerPath, rules->localFolder, rules->briefcaseDate);
  rules->carry = t.get();
  return t;
}

bool PassesNameTest(const ScanRules& rules, const std::string& name) {
  return briefcase::IsIncluded(rules.include, name) && !briefcase::IsExcluded(rules.exclude, name);
}

std::string RelativeFolder(const std::string& localFolder, const std::string& folder) {
  if (folder.size() <= localFolder.size()) return std::string();
  std::string rel = folder.substr(localFolder.size());
  if (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
  return rel;
}

namespace {

std::string childPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

using TooDeep = std::function<void(const std::string&)>;

void scanFolder(const ScanRules& rules, const std::string& folder,
                const std::function<void(const LoadCandidate&)>& found, const TooDeep& tooDeep,
                int depth) {
  if (depth > kMaxScanDepth) {
    if (tooDeep) tooDeep(folder);
    return;
  }
  plat::FolderEnum en;
  if (!en.open(folder)) return;
  const std::string relative = RelativeFolder(rules.localFolder, folder);
  std::string path;  // a file's relative path, for the carry record
  plat::FindData fd;
  while (en.next(&fd, false)) {
    if (fd.name == "." || fd.name == "..") continue;
    if (fd.kind == plat::EntryKind::Link || fd.kind == plat::EntryKind::Other) continue;
    // The name test comes first: it alone needs no look at the file.
    if (!PassesNameTest(rules, fd.name)) continue;
    if (fd.kind == plat::EntryKind::Directory) {
      if (rules.subfolders && fd.name[0] != '.')
        scanFolder(rules, childPath(folder, fd.name), found, tooDeep, depth + 1);
      continue;
    }
    if (!en.readInfo(&fd)) continue;
    if (fd.kind == plat::EntryKind::Directory) {
      // Only now known to be a folder (a file system without entry kinds).
      if (rules.subfolders && fd.name[0] != '.')
        scanFolder(rules, childPath(folder, fd.name), found, tooDeep, depth + 1);
      continue;
    }
    if (fd.kind != plat::EntryKind::File) continue;
    LoadCandidate c;
    if (rules.carry) {
      path.assign(relative);
      if (!path.empty()) path += '/';
      path += fd.name;
      c.why = rules.carry->local(path, folder, fd.name, fd.info);
      if (c.why.verdict != carry::LocalVerdict::kCandidate) continue;
    } else if (fd.info.writeTime <= rules.briefcaseDate) {
      // Without the record a candidate is strictly newer than the briefcase date.
      continue;
    }
    c.relativeFolder = relative;
    c.path = childPath(folder, fd.name);
    c.name = fd.name;
    c.state = carry::stateOf(fd.info);
    c.size = fd.info.size;
    c.writeTime = fd.info.writeTime;
    c.attributes = fd.info.attributes;
    found(c);
  }
}

}  // namespace

void ScanLocalFolder(const ScanRules& rules, const std::function<void(const LoadCandidate&)>& found,
                     const TooDeep& tooDeep) {
  if (rules.localFolder.empty()) return;
  scanFolder(rules, rules.localFolder, found, tooDeep, 0);
}

}  // namespace app
