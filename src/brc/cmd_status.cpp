// brc status: the two lists of the main window, as text or JSON.

#include <iostream>

#include "app/localscan.h"
#include "app/rows.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/state.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "briefcase/brdate.h"
#include "platform/datefmt.h"
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
  std::cout << "  " << pad("State", 6) << " " << pad("Name", nameW) << "  " << pad("Folder", folderW)
            << "  " << pad("Size", 12) << "  Date\n";
  for (const auto& r : rows) {
    std::string size = app::SizeText(r.size);
    std::cout << "  " << pad(app::RowStateName(r.icon), 6) << " " << pad(archive::printableName(r.name), nameW) << "  "
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
  if (!local.empty()) {
    const app::ScanRules rules = app::RulesFor(record, local, date);
    app::ScanLocalFolder(rules, [&](const app::LoadCandidate& c) {
      localRows.push_back(app::LocalRowFor(c));
      byPath.add(localRows.back(), localRows.size() - 1);
    });
  }

  // The briefcase rows, each compared with its local file.
  std::vector<app::ListRow> entryRows;
  engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    std::optional<app::RowIcon> localIcon;
    std::optional<app::ListRow> row = app::BriefcaseRowFor(e, local, &localIcon);
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

  if (args.has("--json")) {
    std::cout << "{\"briefcase_date\": " << brc::jsonString(plat::isoUtc(date))
              << ", \"local\": ";
    printJsonRows(localRows);
    std::cout << ", \"briefcase\": ";
    printJsonRows(entryRows);
    std::cout << "}\n";
    return archive::kOk;
  }
  if (found)
    std::cout << plat::loadStrFmt(plat::kStrLoadedOn, plat::formatLongDate(date).c_str(),
                                  plat::formatTimeNoSeconds(date).c_str())
              << "\n";
  else
    std::cout << "Briefcase date not found\n";
  std::cout << "Local folder: " << (local.empty() ? "(none on this computer)" : archive::printableName(local)) << "\n\n";
  printRows("Local files to load", localRows);
  std::cout << "\n";
  printRows("Briefcase contents", entryRows);
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "status",
    "BRIEFCASE [--json] [--folder DIR]",
    "Show the local files a load would take and the briefcase's entries, each compared with "
    "its counterpart.",
    "State: 'same' (the times differ by less than 2 seconds), 'newer' or 'older' (this side's\n"
    "copy against the other side's), 'only' (no counterpart). Nothing is changed.",
    {{"--json", false, "", "print one JSON object instead of text"},
     {"--folder", true, "DIR", "compare with DIR instead of this computer's local folder"}},
    runStatus}};

}  // namespace
