// brc new: creates a briefcase for a local folder.

#include <cstdlib>

#include "archive/errors.h"
#include "archive/layout.h"
#include "archive/replace.h"
#include "briefcase/comment.h"
#include "brc/cli.h"
#include "carry/tracker.h"
#include "platform/files.h"
#include "platform/filetime.h"

namespace {

int runNew(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc new: give exactly one briefcase path. 'brc new --help' shows how.");
    return archive::kBadParameters;
  }
  if (!args.has("--folder")) {
    brc::error("brc new: give the local folder with --folder DIR.");
    return archive::kBadParameters;
  }
  const std::string path = brc::absolutePath(brc::withBriefcaseExtension(args.positional[0]));
  const std::string folder = brc::absolutePath(args.value("--folder"));
  if (!plat::folderExists(folder)) {
    brc::error("brc new: the local folder " + folder + " does not exist or is not a folder.");
    return archive::kBadParameters;
  }
  long days = 7;
  if (args.has("--days")) {
    char* end = nullptr;
    std::string d = args.value("--days");
    days = std::strtol(d.c_str(), &end, 10);
    if (d.empty() || *end || days < 0 || days > 100000) {
      brc::error("brc new: --days takes a whole number of days (0 or more).");
      return archive::kBadParameters;
    }
  }
  if (plat::fileExists(path) || plat::folderExists(path)) {
    brc::error("brc new: " + path + " already exists; choose another name.");
    return archive::kBadParameters;
  }

  briefcase::TBriefcaseComment record;
  record.include = args.value("--include");
  record.exclude = args.value("--exclude");
  record.subfolders = !args.has("--no-subfolders");
  record.AddEntry(folder);
  std::vector<uint8_t> stored;
  try {
    stored = record.Stored(args.has("--store") ? 0 : 6);
  } catch (const briefcase::RecordTooLarge& e) {
    brc::error(std::string("brc new: ") + e.what());
    return archive::kInvalidComment;
  }

  // The briefcase date: the container's last-write time, N days back.
  plat::FileTime date = plat::nowFileTime() - static_cast<plat::FileTime>(days) * 86400ULL *
                                                   plat::kTicksPerSecond;
  int rc = archive::createContainerAtomically(path, stored, &date, false);
  if (rc) {
    brc::errorCode(rc, path);
    return rc;
  }
  carry::forgetBriefcaseAt(path);
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "new",
    "BRIEFCASE --folder DIR [--include TEXT] [--exclude TEXT] [--store] [--no-subfolders] [--days N]",
    "Create a new, empty briefcase for a local folder.",
    "The briefcase path gets the extension \".brc\" when it has none; an existing file is never\n"
    "replaced. The local folder is recorded for this computer. The briefcase date is set N days\n"
    "back, so that files changed in those days count as changed and are loaded by 'brc load'.",
    {{"--folder", true, "DIR", "this computer's local folder (must exist)"},
     {"--include", true, "TEXT", "patterns of files to take, separated by ',' or ';' (default: all)"},
     {"--exclude", true, "TEXT", "patterns of files to leave out"},
     {"--store", false, "", "store entries without compression (default: compress, level 6)"},
     {"--no-subfolders", false, "", "take only the files of the folder itself"},
     {"--days", true, "N", "briefcase date N days before now (default 7)"}},
    runNew}};

}  // namespace
