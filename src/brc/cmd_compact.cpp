// brc compact: rewrites a briefcase without the space its loads left unused.

#include <iostream>

#include "app/operations.h"
#include "archive/errors.h"
#include "archive/update/update.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"

namespace {

int runCompact(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc compact: give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  archive::TCompress engine;
  const std::string path = brc::normalPath(args.positional[0]);
  engine.archivePath = path;
  engine.callbacks.configMessage = [](const std::string& s) { brc::error(s); };
  // The configuration is kept exactly as stored.
  if (int rc = engine.readEndRecord()) {
    brc::errorCode(rc, path);
    return rc;
  }
  brc::Progress progress;
  progress.attach(engine);
  const app::CompactResult r = app::CompactBriefcase(engine);
  progress.finish();
  if (r.code) {
    brc::reportFailure(r.code, path);
    return r.code;
  }
  std::cout << app::CompactedText(r.freedBytes) << "\n";
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "compact",
    "BRIEFCASE",
    "Rewrite a briefcase without the space that its loads left unused.",
    "A load writes new and refreshed entries after the briefcase's end and leaves what they\n"
    "replace behind; once that passes half the file, the next load rewrites the briefcase\n"
    "whole. This rewrites it now and tells how much it freed. Every entry, the configuration\n"
    "and the briefcase date stay as they are. Ctrl+C stops it and leaves the briefcase as it\n"
    "was (status 19).",
    {},
    runCompact}};

}  // namespace
