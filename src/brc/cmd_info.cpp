// brc info: what a briefcase holds in its configuration.

#include <iostream>

#include "archive/compress.h"
#include "archive/encrypted.h"
#include "archive/errors.h"
#include "archive/extract/names.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "briefcase/comment.h"
#include "platform/computerid.h"
#include "platform/files.h"
#include "platform/strtable.h"

namespace {

int runInfo(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc info: give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  const bool json = args.has("--json");
  archive::TCompress engine;
  briefcase::TBriefcaseComment record;
  if (int rc = brc::openBriefcase("info", brc::normalPath(args.positional[0]), engine, record))
    return rc;
  if (engine.comment.empty()) {
    brc::error("brc info: " + plat::loadStr(plat::kStrCorruptConfiguration));
    return archive::kInvalidComment;
  }
  plat::FileInfo fi;
  plat::fileSystem().stat(engine.archivePath, &fi, true);
  const std::string id = plat::computerId();
  const std::string local = record.FolderForThisComputer();
  archive::EncryptionFound encryption;
  archive::readEncryption(engine.archivePath, &encryption);

  if (json) {
    std::cout << "{\"version\": " << brc::jsonString(record.version)
              << ", \"include\": " << brc::jsonString(record.include)
              << ", \"exclude\": " << brc::jsonString(record.exclude)
              << ", \"level\": " << engine.level
              << ", \"subfolders\": " << (record.subfolders ? "true" : "false") << ", \"folders\": [";
    for (size_t i = 0; i < record.folders.entries.size(); ++i) {
      const auto& v = record.folders.entries[i];
      std::cout << (i ? ", " : "") << "{\"computer\": " << brc::jsonString(v.computerId)
                << ", \"folder\": " << brc::jsonString(v.folder) << "}";
    }
    std::cout << "], \"computer\": " << brc::jsonString(id)
              << ", \"local_folder\": " << brc::jsonString(local)
              << ", \"entries\": " << engine.endRecord.entriesTotal
              << ", \"encrypted\": " << (encryption.isEncrypted() ? "true" : "false")
              << ", \"mixed\": " << (encryption.isMixed() ? "true" : "false")
              << ", \"date\": " << brc::jsonString(plat::isoUtc(fi.writeTime)) << "}\n";
    return archive::kOk;
  }
  std::cout << "Briefcase:      " << engine.archivePath << "\n"
            << "Version:        " << record.version << "\n"
            << "Include:        " << archive::printableName(record.include) << "\n"
            << "Exclude:        " << archive::printableName(record.exclude) << "\n"
            << "Compression:    level " << engine.level << (engine.level ? "" : " (stored)") << "\n"
            << "Subfolders:     " << (record.subfolders ? "yes" : "no") << "\n"
            << "Local folders:\n";
  if (record.folders.entries.empty()) std::cout << "  (none)\n";
  bool marked = false;
  for (const auto& v : record.folders.entries) {
    bool mine = !marked && v.computerId == id;
    marked = marked || mine;
    std::cout << (mine ? "* " : "  ") << archive::printableName(v.computerId) << "  "
              << archive::printableName(v.folder) << "\n";
  }
  std::cout << "This computer:  " << id << "\n"
            << "Local folder:   "
            << (local.empty() ? "(none on this computer)" : archive::printableName(local)) << "\n"
            << "Entries:        " << engine.endRecord.entriesTotal << "\n"
            << "Encrypted:      "
            << (encryption.isMixed()       ? "partly (a change of its encryption was interrupted)"
                : encryption.isEncrypted() ? "yes (AES-256; names, sizes and dates are not hidden)"
                                           : "no")
            << "\n"
            << "Briefcase date: " << plat::isoUtc(fi.writeTime) << "\n";
  return archive::kOk;
}

brc::Registrar reg{brc::Command{
    "info",
    "BRIEFCASE [--json]",
    "Show a briefcase's configuration, its entry count and its date.",
    "The entry marked '*' in the folder table is this computer's. A configuration this program\n"
    "cannot read ends the command with status 17.",
    {{"--json", false, "", "print one JSON object instead of text"}},
    runInfo}};

}  // namespace
