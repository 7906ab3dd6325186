// brc delete: removes entries from a briefcase.

#include "archive/errors.h"
#include "archive/extract/names.h"
#include "archive/update/update.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"
#include "platform/strtable.h"

namespace {

int runDelete(const brc::Args& args) {
  if (args.positional.size() < 2) {
    brc::error("brc delete: give the briefcase and the entry names to delete.");
    return archive::kBadParameters;
  }
  archive::TCompress engine;
  briefcase::TBriefcaseComment record;
  const std::string path = brc::normalPath(args.positional[0]);
  if (int rc = brc::openBriefcase("delete", path, engine, record)) return rc;
  const bool hasRecord = !engine.comment.empty();

  const std::vector<std::string> names(args.positional.begin() + 1, args.positional.end());
  int rc = brc::removeEntries(engine, record, hasRecord, names);
  for (const std::string& name : engine.update.unmatched)
    brc::error("brc delete: " + archive::printableName(name) + " is not in the briefcase.");
  if (rc) {
    brc::reportFailure(rc, path);
    return rc;
  }
  if (!engine.update.unmatched.empty()) return archive::kNoFiles;
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "delete",
    "BRIEFCASE ENTRY...",
    "Remove entries from a briefcase.",
    "ENTRY is an entry name as 'brc list' prints it, with '/' between folders (letter case\n"
    "counts). The configuration stays. An empty briefcase ends with status 23; a name\n"
    "that is not in the briefcase is reported and ends with status 11 when all else went well.",
    {},
    runDelete}};

}  // namespace
