// brc undo: takes back the last unload of a briefcase on this computer.

#include <iostream>

#include "app/operations.h"
#include "app/undo.h"
#include "archive/errors.h"
#include "briefcase/comment.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"

namespace {

int runUndo(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc undo: give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  archive::TCompress engine;
  briefcase::TBriefcaseComment record;
  const std::string path = brc::normalPath(args.positional[0]);
  if (int rc = brc::openBriefcase("undo", path, engine, record)) return rc;
  if (int rc = brc::takePassword("undo", args, engine, true)) return rc;
  app::UndoRequest request;
  request.localFolder = record.FolderForThisComputer();
  if (!engine.comment.empty()) request.storeConfiguration = [&] { record.Build(engine); };
  request.lockWait = app::UnattendedLockWait();
  brc::Progress progress;
  progress.attach(engine);
  const app::UndoResult r = app::UndoUnload(engine, request);
  progress.finish();
  if (!r.carryWarning.empty()) brc::error(r.carryWarning);
  switch (r.outcome) {
    case app::UndoOutcome::NothingToUndo:
      std::cout << r.reason << "\n";
      return archive::kNothingToDo;
    case app::UndoOutcome::BriefcaseBusy:
    case app::UndoOutcome::Failed:
    case app::UndoOutcome::FolderMissing:
      if (!r.reason.empty())
        brc::error("brc undo: " + r.reason);
      else
        brc::reportFailure(r.code, path);
      return r.code;
    case app::UndoOutcome::Undone:
    case app::UndoOutcome::Incomplete:
      break;
  }
  for (const std::string& line : app::UndoReport(r)) std::cout << line << "\n";
  return r.code;
}

brc::Registrar reg{brc::Command{
    "undo", "BRIEFCASE", "Take back the last unload of a briefcase on this computer.",
    "Every local file the unload replaced comes back from the trash, every file it made goes\n"
    "to the trash, and every entry it removed from the briefcase is loaded back (from the file\n"
    "it wrote) before that file goes; the briefcase gets back its date. A file changed since\n"
    "the unload stays as it is and is named. Possible until the next load or unload of the\n"
    "briefcase on this computer; an undo that was stopped is finished by the next one.\n"
    "Status 0 when undone, 22 when there is nothing to undo. An encrypted briefcase's password\n"
    "is asked on the terminal unless an option gives it.",
    brc::withPasswordOptions({}), runUndo}};

}  // namespace
