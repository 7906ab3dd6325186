// brc history: what this computer did with a briefcase, newest first.

#include <iostream>

#include "app/history.h"
#include "archive/errors.h"
#include "archive/extract/names.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "platform/datefmt.h"

namespace {

void printJson(const std::vector<carry::Trip>& trips) {
  std::cout << "[";
  for (size_t i = 0; i < trips.size(); ++i) {
    const carry::Trip& t = trips[i];
    std::cout << (i ? ",\n " : "") << "{\"time\": " << brc::jsonString(plat::isoUtc(app::TripTime(t)))
              << ", \"operation\": " << brc::jsonString(carry::tripKindName(t.kind))
              << ", \"computer\": " << brc::jsonString(t.computer)
              << ", \"host\": " << brc::jsonString(t.host)
              << ", \"folder\": " << brc::jsonString(t.folder) << ", \"files\": " << t.files
              << ", \"bytes\": " << t.bytes << ", \"result\": " << t.result
              << ", \"outcome\": " << brc::jsonString(t.outcome) << ", \"names\": [";
    for (size_t n = 0; n < t.names.size(); ++n)
      std::cout << (n ? ", " : "") << brc::jsonString(t.names[n]);
    std::cout << "]}";
  }
  std::cout << "]\n";
}

int runHistory(const brc::Args& args) {
  archive::TCompress engine;
  if (int rc = brc::openStored("history", args, engine)) return rc;
  plat::useUserTimeLocale();
  const std::vector<carry::Trip> trips = app::TripHistory(engine.archivePath);
  if (args.has("--json")) {
    printJson(trips);
    return archive::kOk;
  }
  if (trips.empty()) {
    std::cout << "Nothing was done with this briefcase on this computer yet.\n";
    return archive::kOk;
  }
  for (const carry::Trip& t : trips) {
    std::cout << app::TripDateText(t) << "  " << app::TripSummary(t) << "\n";
    for (const std::string& name : t.names) std::cout << "    " << archive::printableName(name) << "\n";
  }
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "history",
    "BRIEFCASE [--json]",
    "Show what this computer did with a briefcase: every load, unload, delete, clear, "
    "compaction and undo, newest first.",
    "Each line gives when it ended, what it did (the files and their bytes; for a compaction\n"
    "the bytes freed) and its result, then the files by name. The last 100 are kept.\n"
    "Nothing is changed.",
    {{"--json", false, "", "print one JSON array instead of text"}},
    runHistory}};

}  // namespace
