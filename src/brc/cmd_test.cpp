// brc test: reads every entry of a briefcase and checks it, writing nothing.

#include <iostream>
#include <string>

#include "archive/compress.h"
#include "archive/deletions.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"

namespace {

int runTest(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc test: give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  archive::TCompress engine;
  engine.archivePath = brc::normalPath(args.positional[0]);
  if (int rc = brc::takePassword("test", args, engine, false)) return rc;
  brc::Progress progress;
  progress.attach(engine);
  // Every message of a test run reports a problem: a line of its own.
  engine.callbacks.message = [&](const std::string& s) { progress.warning(s); };

  unsigned checked = 0;
  std::string damaged;
  unsigned damagedCount = 0;
  engine.extract.callbacks.entryTested = [&](const archive::TExtractEntry& e, int r) {
    ++checked;
    if (r == 0) return;
    ++damagedCount;
    std::string why = archive::errorText(r);
    damaged += "damaged: " + archive::printableName(e.displayName()) + (why.empty() ? "" : " (" + why + ")") + "\n";
  };
  int rc = archive::TestRun(engine);
  // The deletions block is no entry: a damaged one is a warning, and the
  // entries are as sound as they are.
  archive::FoundDeletions deletions;
  if (archive::readBriefcaseDeletions(engine.archivePath, &deletions) == archive::kOk &&
      !deletions.problem.empty())
    progress.warning(archive::ignoredDeletionsText(engine.archivePath, deletions.problem));
  progress.finish();

  unsigned unchecked = 0;
  for (const archive::TExtractEntry& e : engine.extract.entries) {
    if (e.selected || e.leftOut.empty()) continue;
    ++unchecked;
    damaged += "not checked: " + archive::printableName(e.displayName()) + " (" + e.leftOut + ")\n";
  }
  std::cout << damaged;
  // Runs that ended before any entry: no briefcase, or one this program does
  // not read.
  if (rc == archive::kNotFound || rc == archive::kStructureInvalid || rc == archive::kTooLarge ||
      rc == archive::kTooManyEntries ||
      rc == archive::kInterrupted || rc == archive::kOutOfMemory) {
    brc::errorCode(rc, engine.archivePath);
    return rc;
  }
  std::cout << checked << " entr" << (checked == 1 ? "y" : "ies") << " checked, " << damagedCount
            << " damaged";
  if (unchecked) std::cout << ", " << unchecked << " not checked";
  std::cout << "\n";
  // Warnings about the directory (bytes in front of it, an empty briefcase)
  // do not make an entry unsound.
  const bool sound = damagedCount == 0 && unchecked == 0 &&
                     (rc == archive::kOk || rc == archive::kWarning || rc == archive::kNoFiles);
  if (!sound) brc::error("brc test: " + engine.archivePath + " is damaged.");
  return sound ? 0 : archive::kCompressedError;
}

brc::Registrar reg{brc::Command{
    "test", "BRIEFCASE",
    "Check every entry of a briefcase: read and decompress it, compare CRC-32 and size.",
    "Nothing is written. Each damaged entry is printed; the status is 0 when every entry is\n"
    "sound and 2 otherwise (an entry of a kind this program cannot read counts as not sound\n"
    "since it cannot be checked; it is printed with the reason). An encrypted entry is checked\n"
    "by its authentication code: its password is asked on the terminal unless an option gives\n"
    "it, and a wrong one ends with 35. A briefcase that cannot be read ends with 9, a file that\n"
    "is no briefcase with 13, an archive that needs the ZIP64 extensions (4 GB or more, more\n"
    "than 65,535 entries) with 31.",
    brc::withPasswordOptions({}), runTest}};

}  // namespace
