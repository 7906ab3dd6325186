// brc load: puts local files into a briefcase.

#include <functional>
#include <iostream>
#include <optional>

#include "app/localscan.h"
#include "app/operations.h"
#include "archive/errors.h"
#include "archive/extract/names.h"
#include "archive/update/update.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"
#include "carry/tracker.h"
#include "briefcase/brdate.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace {

int runLoad(const brc::Args& args) {
  if (args.positional.empty()) {
    brc::error("brc load: give the briefcase and the files to load. 'brc load --help' shows how.");
    return archive::kBadParameters;
  }
  archive::TCompress engine;
  if (int rc = brc::threadsOption("load", args, &engine.update.threads)) return rc;
  engine.update.rewrite = args.has("--rewrite");
  briefcase::TBriefcaseComment record;
  const std::string path = brc::normalPath(args.positional[0]);
  briefcase::OpenedBriefcase opened;
  if (int rc =
          brc::openBriefcase("load", path, engine, record, brc::FolderUse::Adopt, &args, &opened))
    return rc;
  if (int rc = brc::takePassword("load", args, engine, true)) return rc;
  std::string base = opened.localFolder;
  bool changed = opened.recordChanged;
  // A local folder that is gone is asked for on a terminal (and becomes this
  // computer's); without one there is nothing to load from.
  if (!plat::folderExists(base)) {
    const std::optional<std::string> chosen = app::AskForMissingFolder(base);
    if (!chosen) {
      brc::error(app::noticeFor(app::LoadOutcome::FolderMissing, path, base).message());
      return archive::kBadParameters;
    }
    record.SetFolderForThisComputer(*chosen);
    base = *chosen;
    changed = true;
  }
  try {
    record.Build(engine);  // a record too large is told before anything runs
  } catch (const briefcase::RecordTooLarge& e) {
    brc::error(std::string("brc load: ") + e.what());
    return archive::kInvalidComment;
  }

  const std::function<void()> store = [&] { record.Build(engine); };
  // The files deleted here since they were carried travel too when this
  // computer carries deletions with the briefcase, or when asked.
  const std::vector<app::DeletedHere> deletions =
      app::DeletionsToCarry(path, base, args.has("--deletions"));
  // The files given, or else every load candidate, as a load of all rows does.
  std::vector<std::string> files;
  bool tooDeep = false;  // folders too deep to be scanned: their files are not loaded
  std::optional<int64_t> scanned;  // every candidate of a scan begun then
  if (args.positional.size() > 1) {
    for (size_t i = 1; i < args.positional.size(); ++i)
      files.push_back(brc::normalPath(args.positional[i]));
  } else {
    plat::FileTime date = 0;
    briefcase::ReadBriefcaseDate(path, &date);
    app::ScanRules rules = app::RulesFor(record, base, date);
    const std::unique_ptr<carry::Tracker> tracker = app::TrackFor(path, &rules);
    scanned = carry::nowNs();
    app::ScanLocalFolder(
        rules, [&](const app::LoadCandidate& c) { files.push_back(c.path); },
        [&](const std::string& deep) {
          brc::error(plat::strFormat("Warning - the files in %s were not loaded: it lies more than "
                                     "%d folders below the local folder",
                                     deep.c_str(), app::kMaxScanDepth));
          tooDeep = true;
        });
    if (tracker) {
      const std::string warning = tracker->takeWarning();
      if (!warning.empty()) brc::error(warning);
    }
    if (tooDeep) scanned.reset();
    if (files.empty() && deletions.empty()) {
      // A folder given with --folder is kept all the same.
      if (changed) {
        if (int rc = app::StoreConfigurationKeepingDate(engine, store)) {
          brc::reportFailure(rc, path);
          return rc;
        }
      }
      if (tooDeep) return archive::kFileNotReadable;
      std::cerr << "Nothing to load: no local file changed since it was last carried.\n";
      return archive::kOk;
    }
  }

  brc::Progress progress;
  progress.attach(engine);
  app::LoadRequest request{files, base, store};
  request.everyCandidateSince = scanned;
  request.deletions = deletions;
  const app::LoadResult r = app::Load(engine, request);
  progress.finish();
  for (const std::string& p : r.deletionsKept)
    brc::error("Warning - the deletion of " + archive::printableName(p) +
               " was not carried: the briefcase holds a change of it from the other computer.");
  if (!r.deletionsCarried.empty())
    std::cerr << r.deletionsCarried.size()
              << (r.deletionsCarried.size() == 1 ? " deletion" : " deletions")
              << " carried.\n";
  for (const std::string& file : r.changedMeanwhile)
    brc::error("Warning - " + archive::printableName(file) +
               " changed while it was loaded; it stays a load candidate.");
  if (!r.carryWarning.empty()) brc::error(r.carryWarning);
  for (const std::string& file : r.tooLarge)
    brc::error("brc load: " + archive::printableName(file) + " is 4 GB or larger and is not loaded.");
  if (!r.keptArchivePath.empty())
    brc::error("brc load: the new briefcase is in " + r.keptArchivePath +
               "; the briefcase was changed by another program meanwhile.");
  if (!r.ran) return r.tooLarge.empty() ? 0 : archive::kTooLarge;
  if (r.code) {
    // What has words of its own is said in them, without the code's text.
    if (r.outcome == app::LoadOutcome::BriefcaseBusy || r.outcome == app::LoadOutcome::Gone ||
        r.outcome == app::LoadOutcome::OutOfMemory)
      brc::error(app::noticeFor(r, path).message());
    else
      brc::errorCode(r.code, r.code == archive::kFileNotReadable ? "some files were not loaded" : path);
    return r.code;
  }
  if (tooDeep) {
    brc::errorCode(archive::kFileNotReadable, "some files were not loaded");
    return archive::kFileNotReadable;
  }
  return r.tooLarge.empty() ? 0 : archive::kTooLarge;
}

brc::Registrar reg{brc::Command{
    "load", "BRIEFCASE [FILE...] [--folder DIR]",
    "Put local files into a briefcase, adding them or refreshing their entries.",
    "Without FILE, every load candidate is loaded: each file of the local folder (and, when the\n"
    "briefcase counts subfolders, below it) that passes the include and exclude patterns and was\n"
    "changed after the briefcase date ('brc status' lists them).\n"
    "Each FILE is stored under its path relative to this computer's local folder (the briefcase's\n"
    "configuration gives it; --folder DIR sets it first, for every entry of this computer, and\n"
    "adds one when there is none). The compression level is the briefcase's. Files of 4 GB or\n"
    "more are not loaded (status 31 when nothing else failed). Ctrl+C stops the load and leaves\n"
    "the briefcase as it was (status 19), as does a closed terminal. A file that cannot be read "
    "is\n"
    "skipped (status 28). A briefcase another run is using is left alone (status 25).\n"
    "Files are compressed on every core (CARRYVALE_THREADS or --threads N sets how many); the\n"
    "briefcase is the same byte for byte whatever the number.\n"
    "New and refreshed entries are written after the briefcase's end, and what they replace is\n"
    "left behind until it passes half the file ('brc compact' frees it sooner); --rewrite (or\n"
    "CARRYVALE_UPDATE=rewrite) rewrites the whole briefcase instead.\n"
    "Files this computer carried and that were deleted here since go along as deletions when\n"
    "the briefcase's Options > Carry deletions is on here, or with --deletions: the briefcase\n"
    "then carries them to the other computer ('brc unload --deletions'), and an entry that\n"
    "holds the bytes carried leaves it. A deletion is not carried while the briefcase holds a\n"
    "change of that file from the other computer.",
    brc::withPasswordOptions(
        {{"--folder", true, "DIR", "set this computer's local folder in the briefcase first"},
         {"--threads", true, "N", "compress with N threads (default: the online cores)"},
         {"--rewrite", false, "", "rewrite the whole briefcase instead of appending to it"},
         {"--deletions", false, "", "carry the files deleted here since they were last carried"}}),
    runLoad}};

}  // namespace
