// brc new: creates a briefcase for a local folder.

#include <cstdlib>
#include <optional>

#include "archive/deletions.h"
#include "archive/encrypted.h"
#include "archive/errors.h"
#include "archive/layout.h"
#include "archive/replace.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "briefcase/comment.h"
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

  // An encrypted briefcase carries the check of its password from the start,
  // so that it is known as encrypted before it holds any file.
  std::vector<uint8_t> head;
  if (args.has("--encrypt")) {
    std::optional<archive::aes::Password> password;
    if (int rc = brc::newPassword("new", args, &password)) return rc;
    archive::PasswordCheck check;
    if (!archive::makePasswordCheck(*password, &check)) {
      brc::error("brc new: the system's random source gave nothing to encrypt with.");
      return archive::kInternalError;
    }
    head = archive::deletionsHead(archive::encodeDeletions({}, check));
  }
  // The briefcase date: the container's last-write time, N days back.
  plat::FileTime date = plat::nowFileTime() - static_cast<plat::FileTime>(days) * 86400ULL *
                                                   plat::kTicksPerSecond;
  int rc = archive::createContainerAtomically(path, stored, &date, false, head);
  if (rc) {
    brc::errorCode(rc, path);
    return rc;
  }
  carry::forgetBriefcaseAt(path);
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "new",
    "BRIEFCASE --folder DIR [--include TEXT] [--exclude TEXT] [--store] [--no-subfolders] [--days "
    "N] [--encrypt]",
    "Create a new, empty briefcase for a local folder.",
    "The briefcase path gets the extension \".brc\" when it has none; an existing file is never\n"
    "replaced. The local folder is recorded for this computer. The briefcase date is set N days\n"
    "back, so that files changed in those days count as changed and are loaded by 'brc load'.\n"
    "With --encrypt every file loaded into it is encrypted with AES-256 (the names, sizes and\n"
    "dates stay readable); the password is typed twice on the terminal, or read from an option.",
    {{"--folder", true, "DIR", "this computer's local folder (must exist)"},
     {"--include", true, "TEXT",
      "patterns of files to take, separated by ',' or ';' (default: all)"},
     {"--exclude", true, "TEXT", "patterns of files to leave out"},
     {"--store", false, "", "store entries without compression (default: compress, level 6)"},
     {"--no-subfolders", false, "", "take only the files of the folder itself"},
     {"--days", true, "N", "briefcase date N days before now (default 7)"},
     {"--encrypt", false, "", "encrypt the files loaded into it, with a password"},
     {"--password-file", true, "FILE", "with --encrypt: the password, the first line of FILE"},
     {"--password-fd", true, "N",
      "with --encrypt: the password, the first line read from descriptor N"}},
    runNew}};

}  // namespace
