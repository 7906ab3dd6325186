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
  archive::TCompress engine;
  if (int rc = brc::openStored("compact", args, engine)) return rc;
  const std::string path = engine.archivePath;
  brc::Progress progress;
  progress.attach(engine);
  const app::CompactResult r = app::CompactBriefcase(engine, brc::storedFolder(engine));
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
