// brc unload: writes briefcase entries into this computer's local folder.

#include <iostream>
#include <string>
#include <vector>

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

enum class Replace { Ask, All, None };

// The nearest folder of `path` that exists (for the free-space question).
std::string existingFolder(std::string path) {
  while (!path.empty() && path != "/" && !plat::folderExists(path)) path = plat::parentFolder(path);
  return path.empty() ? "/" : path;
}

// The text shown after a run that did not succeed.
int failureText(int rc) {
  switch (rc) {
    case archive::kNoFiles: return 734;
    case archive::kInterrupted: return 720;
    case archive::kWriteFailure:
    case archive::kInUse: return 733;
    case archive::kReadOnly: return 732;
    case archive::kDiskFull: return 721;
    default: return 689;
  }
}

// Writes the configuration into the container in place, keeping the
// briefcase date (the container's last-write time) as it was.
int storeRecordKeepingDate(archive::TCompress& engine, briefcase::TBriefcaseComment& record) {
  plat::FileInfo before;
  const bool dated = plat::fileSystem().stat(engine.archivePath, &before, true);
  try {
    record.Build(engine);
  } catch (const briefcase::RecordTooLarge& e) {
    brc::error(std::string("brc unload: ") + e.what());
    return archive::kInvalidComment;
  }
  int rc = engine.rewriteComment();
  if (rc) {
    brc::error(plat::loadStr(724));
    return rc;
  }
  if (dated)
    plat::fileSystem().setTimes(engine.archivePath, nullptr, &before.accessTime, &before.writeTime);
  return 0;
}

int runUnload(const brc::Args& args) {
  if (args.positional.empty()) {
    brc::error("brc unload: give the briefcase (and the entries to unload). 'brc unload --help' "
               "shows how.");
    return archive::kBadParameters;
  }
  Replace replace = Replace::Ask;
  if (args.has("--replace")) {
    const std::string r = args.value("--replace");
    if (r == "all") {
      replace = Replace::All;
    } else if (r == "none") {
      replace = Replace::None;
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
  if (replace == Replace::Ask && !terminal) {
    brc::error("brc unload: standard input is not a terminal, so existing files cannot be asked "
               "about; give --replace all or --replace none.");
    return archive::kBadParameters;
  }

  archive::TCompress engine;
  briefcase::TBriefcaseComment record;
  const std::string path = brc::normalPath(args.positional[0]);
  if (int rc = brc::openBriefcase("unload", path, engine, record)) return rc;
  const bool hasRecord = !engine.comment.empty();

  // The local folder: --folder sets this computer's folder in the record.
  bool recordChanged = false;
  std::string folder;
  if (int rc = brc::localFolderFor("unload", args, record, &folder, &recordChanged)) return rc;
  if (!plat::folderExists(folder) && !plat::folderExists(plat::parentFolder(folder))) {
    brc::error("brc unload: the local folder " + folder + " cannot be made: " +
               plat::parentFolder(folder) + " does not exist.");
    return archive::kBadParameters;
  }

  // The briefcase stays locked from the listing to the removal of its entries,
  // so no other run can change it in between (on read-only media there is
  // nothing to remove, and the unload goes on without the lock).
  if (!args.has("--keep")) {
    int held = archive::HoldLock(engine);
    if (held == archive::kCreateFailed) {
      brc::error("brc unload: another run is using the briefcase " + path + ".");
      return held;
    }
  }

  // The selection: the named entries (all when none is named), as the rows of
  // the window's list count them (folder entries are no rows).
  std::vector<std::string> named(args.positional.begin() + 1, args.positional.end());
  std::vector<std::string> selected;
  uint32_t kilobytes = 0;
  engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    if (e.isFolder()) return;
    const std::string name = e.displayName();
    bool chosen = named.empty();
    for (size_t i = 0; i < named.size() && !chosen; ++i) chosen = archive::nameSelects(name, named[i]);
    if (!chosen) return;
    selected.push_back(name);
    kilobytes += e.central.uncompressedSize / 1024;
  };
  archive::ListRun(engine);
  engine.extract.callbacks.listEntry = nullptr;

  // Room on the local folder's file system for the selection.
  const uint64_t needed = uint64_t(kilobytes) * 1024;
  const std::string spaceFolder = existingFolder(folder);
  uint64_t freeBytes = 0;
  if (archive::FreeSpace(spaceFolder, &freeBytes) && freeBytes < needed) {
    if (!terminal) {
      brc::error(plat::strFormat("Insufficient Disk Space?\nFree Disk Space = %llu bytes\n"
                                 "Uncompressed Files Total %llu bytes",
                                 static_cast<unsigned long long>(freeBytes),
                                 static_cast<unsigned long long>(needed)));
      return archive::kDiskFull;
    }
    if (!archive::ConfirmSpace(spaceFolder, needed)) return archive::kInterrupted;
  }

  // The unload run.
  brc::Progress progress;
  progress.attach(engine);
  engine.ClearNames();
  for (const std::string& n : named) engine.AddName(n);
  engine.extract.targetFolder = folder;
  engine.extract.callbacks.replaceQuery = [&](std::string& target, plat::FileTime et,
                                              plat::FileTime nt, uint32_t es, uint32_t ns,
                                              uint8_t& answer) {
    if (replace == Replace::All) {
      answer = archive::kAnswerYesToAll;
    } else if (replace == Replace::None) {
      answer = archive::kAnswerNoToAll;
    } else {
      progress.finish();
      archive::askReplaceThroughAsker(target, et, nt, es, ns, answer, &engine.cancelled);
    }
  };
  int rc = archive::UnloadRun(engine);
  progress.finish();
  engine.ClearNames();

  if (rc != 0) {
    brc::error(plat::loadStr(failureText(rc)));
    if (recordChanged) storeRecordKeepingDate(engine, record);
    return rc;
  }

  // The entries unloaded: remove them from the briefcase, or keep them and
  // move the briefcase date to now.
  const std::string question =
      engine.extract.notAllUnloaded
          ? plat::loadStr(723)
          : plat::loadStrFmt(690, static_cast<int>(selected.size()));
  bool remove = args.has("--remove");
  if (!remove && !args.has("--keep") && terminal) {
    remove = plat::messageBox(question, plat::loadStr(691), plat::btnYesNo,
                              engine.extract.notAllUnloaded ? plat::Icon::Warning
                                                            : plat::Icon::Question) == plat::mrYes;
  } else if (!remove && !args.has("--keep")) {
    std::cerr << question << "\nThe entries stay in the briefcase.\n";
  }

  if (remove) {
    // The files written must be on the disk before their entries go.
    plat::syncFileSystemOf(folder);
    int del = brc::removeEntries(engine, record, hasRecord || recordChanged, selected);
    if (del) {
      brc::error(plat::loadStr(693));
      brc::errorCode(del, path);
      return del;
    }
    return 0;
  }

  if (recordChanged && storeRecordKeepingDate(engine, record)) return archive::kWriteFailure;
  // The files just written are not newer than the briefcase: its date is now
  // (a file time, so UTC).
  if (!briefcase::WriteBriefcaseDate(path, plat::nowFileTime())) return archive::kWriteFailure;
  return 0;
}

brc::Registrar reg{brc::Command{
    "unload",
    "BRIEFCASE [ENTRY...] [--folder DIR] [--replace ask|all|none] [--keep|--remove]",
    "Write briefcase entries into this computer's local folder.",
    "ENTRY is an entry name as 'brc list' prints it (letter case does not matter); without any,\n"
    "every entry is unloaded. An existing local file is replaced only as --replace says: ask\n"
    "(the default; needs a terminal), all (Yes to All) or none (No to All). A damaged entry\n"
    "never replaces a local file. When the disk lacks room for the selection, the command asks\n"
    "first on a terminal and otherwise stops before writing anything (status 50).\n"
    "After a successful unload the entries are removed from the briefcase with --remove, or\n"
    "kept with --keep, which sets the briefcase date to now so that the files just written are\n"
    "not loaded again; with neither, the command asks on a terminal and otherwise keeps them.\n"
    "Ctrl+C stops after the current file (status 19). The status is the unload's result.",
    {{"--folder", true, "DIR", "set this computer's local folder in the briefcase first"},
     {"--replace", true, "ask|all|none", "how to treat existing local files"},
     {"--keep", false, "", "keep the unloaded entries and set the briefcase date to now"},
     {"--remove", false, "", "remove the unloaded entries from the briefcase"}},
    runUnload}};

}  // namespace
