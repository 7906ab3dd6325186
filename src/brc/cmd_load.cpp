// brc load: puts local files into a briefcase.

#include <iostream>

#include "app/localscan.h"
#include "archive/errors.h"
#include "archive/update/update.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "brc/progress.h"
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
  briefcase::TBriefcaseComment record;
  const std::string path = brc::normalPath(args.positional[0]);
  if (int rc = brc::openBriefcase("load", path, engine, record)) return rc;

  std::string base;
  bool changed = false;
  if (int rc = brc::localFolderFor("load", args, record, &base, &changed)) return rc;
  try {
    record.Build(engine);
  } catch (const briefcase::RecordTooLarge& e) {
    brc::error(std::string("brc load: ") + e.what());
    return archive::kInvalidComment;
  }

  engine.update.baseFolder = plat::stripTrailingSlash(base);
  engine.ClearCancel();
  engine.ClearNames();
  // The files given, or else every load candidate, as a load of all rows does.
  std::vector<std::string> files;
  bool tooDeep = false;  // folders too deep to be scanned: their files are not loaded
  if (args.positional.size() > 1) {
    for (size_t i = 1; i < args.positional.size(); ++i)
      files.push_back(brc::normalPath(args.positional[i]));
  } else {
    plat::FileTime date = 0;
    briefcase::ReadBriefcaseDate(path, &date);
    const app::ScanRules rules = app::RulesFor(record, base, date);
    app::ScanLocalFolder(
        rules, [&](const app::LoadCandidate& c) { files.push_back(c.path); },
        [&](const std::string& deep) {
          brc::error(plat::strFormat("Warning - the files in %s were not loaded: it lies more than "
                                     "%d folders below the local folder",
                                     deep.c_str(), app::kMaxScanDepth));
          tooDeep = true;
        });
    if (files.empty()) {
      if (tooDeep) return archive::kFileNotReadable;
      std::cerr << "Nothing to load: no local file changed since the briefcase date.\n";
      return 0;
    }
  }
  bool tooLarge = false;
  for (const std::string& file : files) {
    plat::FileInfo fi;
    if (plat::fileSystem().stat(file, &fi, true) && fi.isRegular && fi.size > 0xffffffffULL) {
      brc::error("brc load: " + file + " is 4 GB or larger and is not loaded.");
      tooLarge = true;
      continue;
    }
    engine.AddName(file);
  }
  if (tooLarge) brc::error("One or more files are larger than 4 GB.\nThese files will not be loaded.");
  if (engine.names.empty()) return archive::kTooLarge;

  engine.callbacks.configRefresh = [&] { record.Build(engine); };
  brc::Progress progress;
  progress.attach(engine);
  int rc = archive::Update(engine);
  progress.finish();
  engine.update.baseFolder.clear();
  engine.ClearNames();
  if (!engine.update.keptArchivePath.empty())
    brc::error("brc load: the new briefcase is in " + engine.update.keptArchivePath +
               "; the briefcase was changed by another program meanwhile.");
  if (rc == 0 && tooDeep) rc = archive::kFileNotReadable;
  if (rc) {
    brc::errorCode(rc, rc == archive::kFileNotReadable ? "some files were not loaded" : path);
    return rc;
  }
  return tooLarge ? archive::kTooLarge : 0;
}

brc::Registrar reg{brc::Command{
    "load",
    "BRIEFCASE [FILE...] [--folder DIR]",
    "Put local files into a briefcase, adding them or refreshing their entries.",
    "Without FILE, every load candidate is loaded: each file of the local folder (and, when the\n"
    "briefcase counts subfolders, below it) that passes the include and exclude patterns and was\n"
    "changed after the briefcase date ('brc status' lists them).\n"
    "Each FILE is stored under its path relative to this computer's local folder (the briefcase's\n"
    "configuration gives it; --folder DIR sets it first, for every entry of this computer, and\n"
    "adds one when there is none). The compression level is the briefcase's. Files of 4 GB or\n"
    "more are not loaded (status 31 when nothing else failed). Ctrl+C stops the load and leaves\n"
    "the briefcase as it was (status 19). A file that cannot be read is skipped (status 28).",
    {{"--folder", true, "DIR", "set this computer's local folder in the briefcase first"}},
    runLoad}};

}  // namespace
