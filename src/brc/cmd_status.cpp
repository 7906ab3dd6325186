// brc status: the two lists of the main window, as text or JSON.

#include <iostream>

#include "app/deletions.h"
#include "app/history.h"
#include "app/localscan.h"
#include "app/rows.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/state.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "briefcase/brdate.h"
#include "carry/tracker.h"
#include "platform/datefmt.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace {

std::string dateText(plat::FileTime t) {
  std::string d = plat::formatShortDate(t), h = plat::formatTimeNoSeconds(t);
  if (d.empty() || h.empty()) return "error with date";
  return d + " " + h;
}

void printRows(const char* title, const std::vector<app::ListRow>& rows) {
  std::cout << title << " (" << rows.size() << ")\n";
  if (rows.empty()) {
    std::cout << "  (none)\n";
    return;
  }
  size_t nameW = 4, folderW = 6;
  for (const auto& r : rows) {
    nameW = std::max(nameW, archive::printableName(r.name).size());
    folderW = std::max(folderW, archive::printableName(r.folder).size());
  }
  auto pad = [](std::string s, size_t w) {
    if (s.size() < w) s.resize(w, ' ');
    return s;
  };
  size_t stateW = 5;
  for (const auto& r : rows) stateW = std::max(stateW, std::string(app::RowStateName(r.icon)).size());
  std::cout << "  " << pad("State", stateW) << " " << pad("Name", nameW) << "  "
            << pad("Folder", folderW) << "  " << pad("Size", 12) << "  Date\n";
  for (const auto& r : rows) {
    std::string size = app::SizeText(r.size);
    std::cout << "  " << pad(app::RowStateName(r.icon), stateW) << " "
              << pad(archive::printableName(r.name), nameW) << "  "
              << pad(archive::printableName(r.folder), folderW) << "  " << pad(std::string(12 - std::min<size_t>(12, size.size()), ' ') + size, 12)
              << "  " << dateText(r.time) << "\n";
  }
}

void printJsonRows(const std::vector<app::ListRow>& rows) {
  std::cout << "[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    std::cout << (i ? ", " : "") << "{\"name\": " << brc::jsonString(r.name)
              << ", \"folder\": " << brc::jsonString(r.folder) << ", \"size\": " << r.size
              << ", \"time\": " << brc::jsonString(plat::isoUtc(r.time))
              << ", \"state\": " << brc::jsonString(app::RowStateName(r.icon)) << "}";
  }
  std::cout << "]";
}

// --why PATH: which rule makes the local file and the entry of one path what
// they are.
int explain(const std::string& given, const app::ScanRules& rules, archive::TCompress& engine) {
  std::string path = given;
  const std::string folder = plat::stripTrailingSlash(rules.localFolder);
  if (!folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
      path[folder.size()] == '/')
    path = path.substr(folder.size() + 1);
  while (!path.empty() && path.back() == '/') path.pop_back();
  std::cout << archive::printableName(path) << "\n";
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string localPath = folder.empty() ? std::string() : folder + "/" + path;
  plat::FileInfo info;
  const bool there = !localPath.empty() && plat::fileSystem().stat(localPath, &info, false) &&
                     info.isRegular;
  std::cout << "  Local file: ";
  if (folder.empty()) {
    std::cout << "none (no local folder on this computer)\n";
  } else if (!there) {
    std::cout << "none\n";
  } else if (!app::PassesNameTest(rules, name)) {
    std::cout << "not a candidate\n    the include and exclude patterns leave it out\n";
  } else {
    const carry::LocalClass c = rules.carry
                                    ? rules.carry->local(path, localPath, info)
                                    : carry::classifyLocal(nullptr, carry::stateOf(info), nullptr,
                                                           rules.briefcaseDate);
    std::cout << (c.verdict == carry::LocalVerdict::kCandidate ? "candidate"
                  : c.verdict == carry::LocalVerdict::kSame  ? "same"
                                                             : "not a candidate")
              << "\n    " << carry::why(c) << "\n";
  }
  bool listed = false;
  engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    if (listed || e.displayName() != path) return;
    std::optional<app::RowIcon> localIcon;
    carry::EntryClass c{carry::EntryVerdict::kDateRule, carry::Basis::kDate};
    std::optional<app::ListRow> row =
        app::BriefcaseRowFor(e, rules.localFolder, &localIcon, rules.carry, &c);
    if (!row) return;
    listed = true;
    std::cout << "  Briefcase entry: " << app::RowStateName(row->icon) << "\n    "
              << carry::why(c) << "\n";
  };
  engine.callbacks.message = nullptr;
  const int rc = archive::ListRun(engine);
  if (rc != archive::kOk && rc != archive::kWarning && rc != archive::kNoFiles) {
    brc::errorCode(rc, engine.archivePath);
    return rc;
  }
  if (!listed) std::cout << "  Briefcase entry: none\n";
  return archive::kOk;
}

int runStatus(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc status: give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  plat::useUserTimeLocale();
  archive::TCompress engine;
  briefcase::TBriefcaseComment record;
  // --folder only points this command at another folder; it changes nothing.
  briefcase::OpenedBriefcase opened;
  if (int rc = brc::openBriefcase("status", brc::normalPath(args.positional[0]), engine, record,
                                  brc::FolderUse::Look, &args, &opened))
    return rc;
  const std::string local = opened.localFolder;

  plat::FileTime date = 0;
  const bool found = briefcase::ReadBriefcaseDate(engine.archivePath, &date);

  // The local rows: the load candidates in scan order.
  std::vector<app::ListRow> localRows;
  app::LocalRowIndex byPath(local);
  app::ScanRules rules = app::RulesFor(record, local, date);
  const std::unique_ptr<carry::Tracker> carried = app::TrackFor(engine.archivePath, &rules);
  const std::string whyPath = args.value("--why");
  if (args.has("--why")) return explain(whyPath, rules, engine);
  if (!local.empty()) {
    app::ScanLocalFolder(rules, [&](const app::LoadCandidate& c) {
      localRows.push_back(app::LocalRowFor(c));
      byPath.add(localRows.back(), localRows.size() - 1);
    });
    // The deletions a load would carry, as rows of their own.
    for (const app::DeletedHere& d :
         app::DeletionsToCarry(engine.archivePath, local, args.has("--deletions")))
      localRows.push_back(app::DeletedRowFor(d));
  }
  std::string rowsProblem;
  const std::vector<archive::DeletionRow> carriedRows =
      app::CarriedDeletions(engine.archivePath, &rowsProblem);
  if (!rowsProblem.empty()) brc::error(archive::ignoredDeletionsText(engine.archivePath, rowsProblem));

  // The briefcase rows, each compared with its local file.
  std::vector<app::ListRow> entryRows;
  engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    std::optional<app::RowIcon> localIcon;
    std::optional<app::ListRow> row = app::BriefcaseRowFor(e, local, &localIcon, carried.get());
    if (!row) return;
    entryRows.push_back(*row);
    if (!localIcon) return;
    const long at = byPath.find(*row);
    if (at >= 0) localRows[static_cast<size_t>(at)].icon = *localIcon;
  };
  engine.callbacks.message = nullptr;  // a listing's progress texts are not shown here
  int rc = archive::ListRun(engine);
  if (rc != archive::kOk && rc != archive::kWarning && rc != archive::kNoFiles) {
    brc::errorCode(rc, engine.archivePath);
    return rc;
  }

  const std::vector<carry::Trip> trips = app::TripHistory(engine.archivePath);
  if (args.has("--json")) {
    std::cout << "{\"briefcase_date\": " << brc::jsonString(plat::isoUtc(date))
              << ", \"last_carried\": ";
    if (trips.empty())
      std::cout << "null";
    else
      std::cout << "{\"time\": " << brc::jsonString(plat::isoUtc(app::TripTime(trips.front())))
                << ", \"summary\": " << brc::jsonString(app::TripSummary(trips.front())) << "}";
    std::cout << ", \"local\": ";
    printJsonRows(localRows);
    std::cout << ", \"briefcase\": ";
    printJsonRows(entryRows);
    std::cout << ", \"deletions\": [";
    for (size_t i = 0; i < carriedRows.size(); ++i)
      std::cout << (i ? ", " : "") << "{\"path\": " << brc::jsonString(carriedRows[i].path)
                << ", \"deleted\": " << brc::jsonString(plat::isoUtc(carriedRows[i].deletedAt))
                << ", \"size\": " << carriedRows[i].size << "}";
    std::cout << "]}\n";
    return archive::kOk;
  }
  if (carried) {
    const std::string warning = carried->takeWarning();
    if (!warning.empty()) brc::error(warning);
  }
  if (found)
    std::cout << plat::loadStrFmt(plat::kStrLoadedOn, plat::formatLongDate(date).c_str(),
                                  plat::formatTimeNoSeconds(date).c_str())
              << "\n";
  else
    std::cout << "Briefcase date not found\n";
  if (!trips.empty())
    std::cout << "Last carried here: " << app::TripDateText(trips.front()) << ", "
              << app::TripSummary(trips.front()) << "\n";
  std::cout << "Local folder: " << (local.empty() ? "(none on this computer)" : archive::printableName(local)) << "\n\n";
  printRows("Local files to load", localRows);
  std::cout << "\n";
  printRows("Briefcase contents", entryRows);
  if (!carriedRows.empty()) {
    std::cout << "\nDeleted on the other computer (" << carriedRows.size() << ")\n";
    for (const archive::DeletionRow& r : carriedRows)
      std::cout << "  " << archive::printableName(r.path) << "  deleted " << dateText(r.deletedAt)
                << "\n";
  }
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "status",
    "BRIEFCASE [--json] [--folder DIR] [--why PATH]",
    "Show the local files a load would take and the briefcase's entries, each compared with "
    "its counterpart.",
    "State: 'same' (the same content, or times less than 2 seconds apart), 'newer' or 'older'\n"
    "(this side's copy against the other side's), 'only' (no counterpart), 'conflict' (both\n"
    "computers changed the file since it was last carried), 'newer here' (the entry is what\n"
    "this computer last carried; the local file changed since), 'deleted here' (carried, then\n"
    "deleted here: a load carries the deletion, shown when Options > Carry deletions is on here\n"
    "or with --deletions). The deletions the briefcase carries from the other computer follow\n"
    "the lists. This computer's carry record\n"
    "decides where it knows a path, the briefcase date elsewhere. Nothing is changed.",
    {{"--json", false, "", "print one JSON object instead of text"},
     {"--deletions", false, "", "list the files deleted here that 'brc load --deletions' carries"},
     {"--why", true, "PATH", "say which rule (record, date, conflict) makes PATH what it is"},
     {"--folder", true, "DIR", "compare with DIR instead of this computer's local folder"}},
    runStatus}};

}  // namespace
