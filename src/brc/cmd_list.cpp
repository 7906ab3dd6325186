// brc list: the entries of a briefcase.

#include <cstdio>
#include <string>
#include <vector>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/restore.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "platform/filetime.h"
#include "platform/strtable.h"

namespace {

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of("\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of("\r\n");
  return s.substr(b, e - b + 1);
}

std::string localStamp(plat::FileTime ft) {
  plat::SystemTime lt;
  if (!plat::fileTimeToLocal(ft, &lt)) return "(no date)";
  return plat::strFormat("%04d-%02d-%02d %02d:%02d:%02d", lt.year, lt.month, lt.day, lt.hour,
                         lt.minute, lt.second);
}

int runList(const brc::Args& args) {
  if (args.positional.size() != 1) {
    brc::error("brc list: give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  const bool json = args.has("--json");
  archive::TCompress engine;
  engine.archivePath = brc::normalPath(args.positional[0]);
  // The directory's repairs and warnings go to standard error.
  engine.callbacks.message = [](const std::string& s) {
    std::string t = trimmed(s);
    if (!t.empty()) brc::error(t);
  };
  engine.callbacks.configMessage = engine.callbacks.message;

  std::string out;
  bool first = true;
  engine.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    const std::string name = e.displayName();
    const plat::FileTime t = archive::entryTime(e);
    if (json) {
      out += first ? "\n  " : ",\n  ";
      out += "{\"name\": " + brc::jsonString(name) +
             ", \"size\": " + std::to_string(e.central.uncompressedSize) +
             ", \"compressed\": " + std::to_string(e.central.compressedSize) +
             ", \"method\": " + std::to_string(e.central.method) +
             ", \"crc\": " + std::to_string(e.central.crc) + ", \"time\": " +
             brc::jsonString(plat::isoUtc(t)) + "}";
    } else {
      out += plat::strFormat("%10u  %s  %s\n", e.central.uncompressedSize, localStamp(t).c_str(),
                             archive::printableName(name).c_str());
    }
    first = false;
  };
  int rc = archive::ListRun(engine);
  if (json) {
    out = "{\"entries\": [" + out + (first ? "" : "\n") + "], \"result\": " + std::to_string(rc) +
          "}\n";
  } else if (!first) {
    const auto& t = engine.extract.totals;
    out += plat::strFormat("%10u  %u entr%s, %u bytes compressed\n", t.uncompressed, t.count,
                           t.count == 1 ? "y" : "ies", t.compressed);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (rc > 1 && rc != archive::kNoFiles) brc::errorCode(rc, engine.archivePath);
  return rc;
}

brc::Registrar reg{brc::Command{
    "list",
    "BRIEFCASE [--json]",
    "List the entries of a briefcase: size, date and name.",
    "Dates are the entries' modification times in local time (UTC in --json). Damage to the\n"
    "briefcase's directory is reported on standard error; what could be read is still listed.\n"
    "The status is the listing's result: 1 for a warning (an empty briefcase among them).",
    {{"--json", false, "",
      "print {\"entries\": [{name, size, compressed, method, crc, time}...], \"result\": N}"}},
    runList}};

}  // namespace
