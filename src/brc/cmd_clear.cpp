// brc clear: empties a briefcase and keeps its configuration.

#include "app/operations.h"
#include "archive/errors.h"
#include "archive/update/update.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "platform/ask.h"
#include "platform/strtable.h"

namespace {

int runClear(const brc::Args& args) {
  archive::TCompress engine;
  if (int rc = brc::openStored("clear", args, engine)) return rc;
  const std::string path = engine.archivePath;
  if (!args.has("--yes") &&
      plat::messageBox(plat::loadStrFmt(plat::kStrClearQuestion, path.c_str()),
                       plat::loadStr(plat::kStrClearCaption), plat::btnYesNo,
                       plat::Icon::Question) != plat::mrYes)
    return archive::kInterrupted;
  int rc = app::ClearBriefcase(engine, brc::storedFolder(engine));
  if (rc) {
    brc::reportFailure(rc, path);
    return rc;
  }
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "clear",
    "BRIEFCASE [--yes]",
    "Remove every entry from a briefcase, keeping its configuration.",
    "The briefcase date becomes the time of the clear. On a terminal the command asks first;\n"
    "otherwise, or with --yes, it clears without asking. Answering no ends with status 19.",
    {{"--yes", false, "", "do not ask"}},
    runClear}};

}  // namespace
