// brc unload: writes briefcase entries into this computer's local folder.

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "app/operations.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/update/update.h"
#include "archive/zwnt.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"
#include "briefcase/brdate.h"
#include "platform/ask.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/syncfs.h"
#include "platform/terminal.h"

namespace {

int runUnload(const brc::Args& args) {
  if (args.positional.empty()) {
    brc::error("brc unload: give the briefcase (and the entries to unload). 'brc unload --help' "
               "shows how.");
    return archive::kBadParameters;
  }
  app::UnloadRequest request;
  if (args.has("--replace")) {
    const std::string r = args.value("--replace");
    if (r == "all") {
      request.replace = app::ReplaceMode::YesToAll;
    } else if (r == "none") {
      request.replace = app::ReplaceMode::NoToAll;
    } else if (r != "ask") {
      brc::error("brc unload: --replace takes ask, all or none.");
      return archive::kBadParameters;
    }
  }
  if (args.has("--keep") && args.has("--remove")) {
    brc::error("brc unload: give --keep or --remove, not both.");
    return archive::kBadParameters;
  }
  const bool terminal = plat::stdinIsTerminal();
  // The deletions the briefcase carries: asked about on a terminal, left
  // for later without one.
  request.deletions = terminal ? app::DeletionAnswer::Ask : app::DeletionAnswer::No;
  if (args.has("--deletions")) {
    const std::string d = args.value("--deletions");
    if (d == "yes") {
      request.deletions = app::DeletionAnswer::Yes;
    } else if (d == "no") {
      request.deletions = app::DeletionAnswer::No;
    } else if (d == "ask" && terminal) {
      request.deletions = app::DeletionAnswer::Ask;
    } else {
      brc::error(d == "ask" ? "brc unload: --deletions ask needs a terminal."
                            : "brc unload: --deletions takes yes, no or ask.");
      return archive::kBadParameters;
    }
  }
  if (request.replace == app::ReplaceMode::Ask && !terminal) {
    brc::error("brc unload: standard input is not a terminal, so existing files cannot be asked "
               "about; give --replace all or --replace none.");
    return archive::kBadParameters;
  }

  archive::TCompress engine;
  if (int rc = brc::threadsOption("unload", args, &engine.extract.threads)) return rc;
  briefcase::TBriefcaseComment record;
  const std::string path = brc::normalPath(args.positional[0]);
  // The local folder: --folder sets this computer's folder in the record.
  briefcase::OpenedBriefcase opened;
  if (int rc =
          brc::openBriefcase("unload", path, engine, record, brc::FolderUse::Adopt, &args, &opened))
    return rc;
  if (int rc = brc::takePassword("unload", args, engine, false)) return rc;
  const bool hasRecord = opened.hasRecord;
  bool recordChanged = opened.recordChanged;
  std::string folder = opened.localFolder;
  const std::function<void()> store = [&] { record.Build(engine); };
  auto storeRecord = [&]() -> int {
    try {
      if (int rc = app::StoreConfigurationKeepingDate(engine, store)) {
        brc::error(plat::loadStr(plat::kStrWriteMissingOrProtected));
        return rc;
      }
    } catch (const briefcase::RecordTooLarge& e) {
      brc::error(std::string("brc unload: ") + e.what());
      return archive::kInvalidComment;
    }
    return archive::kOk;
  };

  request.entries.assign(args.positional.begin() + 1, args.positional.end());
  request.localFolder = folder;
  request.otherComputer = record.OtherComputerId();
  // A local folder that is gone is asked for on a terminal (and becomes this
  // computer's); it is never made again.
  request.folderChosen = [&](const std::string& chosen) {
    record.SetFolderForThisComputer(chosen);
    recordChanged = true;
  };
  request.trash = !args.has("--no-trash");
  request.space = terminal ? app::SpaceCheck::Ask : app::SpaceCheck::Refuse;
  request.after = args.has("--remove") ? app::AfterUnload::Remove
                  : args.has("--keep") || !terminal ? app::AfterUnload::Keep
                                                    : app::AfterUnload::Ask;
  if (hasRecord || recordChanged) request.storeConfiguration = store;

  brc::Progress progress;
  progress.attach(engine);
  app::UnloadHooks hooks;
  hooks.note = [&](const std::string& s) { progress.warning(s); };
  hooks.beforeQuestion = [&] { progress.finish(); };
  const app::UnloadResult r = app::Unload(engine, request, hooks);
  progress.finish();

  for (const auto& [entry, copy] : r.conflictCopies)
    std::cerr << "Changed on both computers: " << archive::printableName(entry)
              << " was written beside the local file, as " << archive::printableName(copy)
              << ".\n";
  if (!r.carryWarning.empty()) brc::error(r.carryWarning);
  for (const std::string& p : r.deletionsKept)
    std::cerr << "Deleted on the other computer, changed here: " << archive::printableName(p)
              << " stays.\n";
  if (!r.deletedHere.empty())
    std::cerr << r.deletedHere.size()
              << (r.deletedHere.size() == 1 ? " file deleted on the other computer is"
                                            : " files deleted on the other computer are")
              << " now in the trash.\n";
  if (!r.trashed.empty())
    std::cerr << r.trashed.size() << (r.trashed.size() == 1 ? " replaced file is" : " replaced files are")
              << " in the trash (" << plat::parentFolder(plat::parentFolder(r.trashed[0].trashedPath))
              << ").\n";
  if (r.code != archive::kOk) {
    const app::Notice n = app::noticeFor(r.outcome, path, folder, r.notWritten);
    if (n.shown()) brc::error(n.message());
    if (recordChanged) storeRecord();
    return r.code;
  }
  if (!terminal && !args.has("--keep") && !args.has("--remove")) {
    std::cerr << app::RemovalQuestion(r) << "\nThe entries stay in the briefcase.\n";
  }
  if (r.removalCode) {
    brc::error(plat::loadStr(plat::kStrRemoveFailed));
    brc::reportFailure(r.removalCode, path);
    return r.removalCode;
  }
  if (recordChanged && !r.removed) {
    if (int rc = storeRecord()) return rc;
  }
  if (r.dateCode) brc::errorCode(r.dateCode, path);
  return r.exitCode();
}

brc::Registrar reg{brc::Command{
    "unload",
    "BRIEFCASE [ENTRY...] [--folder DIR] [--replace ask|all|none] [--keep|--remove] [--no-trash] "
    "[--deletions yes|no|ask]",
    "Write briefcase entries into this computer's local folder.",
    "ENTRY is an entry name as 'brc list' prints it (letter case does not matter); without any,\n"
    "every entry is unloaded. An existing local file is replaced only as --replace says: ask\n"
    "(the default; needs a terminal), all (Yes to All) or none (No to All). A damaged entry\n"
    "never replaces a local file. When the disk lacks room for the selection, the command asks\n"
    "first on a terminal and otherwise stops before writing anything (status 50).\n"
    "After a successful unload the entries are removed from the briefcase with --remove, or\n"
    "kept with --keep, which sets the briefcase date to now so that the files just written are\n"
    "not loaded again; with neither, the command asks on a terminal and otherwise keeps them.\n"
    "Only entries whose bytes are then in the local folder (written, or found identical) are\n"
    "removed; the others are named and stay. Before a local file is replaced, the old one is put\n"
    "into the trash of its disk (see --no-trash); where no trash can take it, the command asks\n"
    "first, and with --replace all it keeps the file and its entry. Ctrl+C, or a closed\n"
    "terminal, stops after the current file (status 19). The status is the unload's result; 55\n"
    "when the briefcase date cannot be set because the briefcase is write-protected; 25 when\n"
    "another run is using it.\n"
    "A briefcase loaded with its deletions (Options > Carry deletions, 'brc load --deletions')\n"
    "carries the files deleted on the other computer: --deletions yes moves each local file of\n"
    "those to the trash, no leaves them for a later unload, ask (the default on a terminal; no\n"
    "without one) asks about each. A file changed here since it was last carried always stays,\n"
    "and is named.\n"
    "Entries are decoded and written on every core (CARRYVALE_THREADS or --threads N sets how\n"
    "many); the files and messages are the same whatever the number.",
    brc::withPasswordOptions(
        {{"--folder", true, "DIR", "set this computer's local folder in the briefcase first"},
         {"--replace", true, "ask|all|none", "how to treat existing local files"},
         {"--keep", false, "", "keep the unloaded entries and set the briefcase date to now"},
         {"--remove", false, "", "remove the unloaded entries from the briefcase"},
         {"--no-trash", false, "", "replace local files without keeping the old ones in the trash"},
         {"--deletions", true, "yes|no|ask", "what to do with the deletions the briefcase carries"},
         {"--threads", true, "N", "decode and write with N threads (default: the online cores)"}}),
    runUnload}};

}  // namespace
