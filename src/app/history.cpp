#include "app/history.h"

#include <unistd.h>

#include <climits>

#include <cstdio>

#include "archive/errors.h"
#include "carry/key.h"
#include "platform/computerid.h"
#include "platform/datefmt.h"
#include "platform/paths.h"

namespace app {

carry::Trip NewTrip(carry::TripKind kind, const std::string& localFolder, int resultCode) {
  carry::Trip trip;
  trip.atNs = carry::nowNs();
  trip.computer = plat::computerId();
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) == 0) trip.host = host;
  trip.folder = plat::stripTrailingSlash(localFolder);
  trip.kind = kind;
  trip.result = resultCode;
  trip.outcome = TripOutcome(resultCode);
  return trip;
}

void RecordTrip(const std::string& briefcasePath, const carry::Trip& trip) {
  // The history belongs to the briefcase, whatever the folder.
  std::unique_ptr<carry::CarryRecord> record =
      carry::CarryRecord::open(carry::briefcaseKey(briefcasePath), std::string());
  record->addTrip(trip);
}

std::vector<carry::Trip> TripHistory(const std::string& briefcasePath) {
  std::unique_ptr<carry::CarryRecord> record =
      carry::CarryRecord::open(carry::briefcaseKey(briefcasePath), std::string());
  return record->history();
}

plat::FileTime TripTime(const carry::Trip& trip) {
  const int64_t seconds = trip.atNs / 1000000000;
  return plat::fileTimeFromUnixTime(seconds) +
         static_cast<plat::FileTime>((trip.atNs - seconds * 1000000000) / 100);
}

std::string TripDateText(const carry::Trip& trip) {
  const plat::FileTime t = TripTime(trip);
  return plat::formatShortDate(t) + " " + plat::formatTimeNoSeconds(t);
}

std::string TripOutcome(int code) {
  if (code == archive::kOk) return "completed";
  if (code == archive::kInterrupted) return "cancelled";
  const std::string why = archive::errorText(code);
  return why.empty() ? "failed (" + std::to_string(code) + ")" : "failed: " + why;
}

std::string TripKindTitle(carry::TripKind kind) {
  std::string t = carry::tripKindName(kind);
  if (!t.empty()) t[0] = static_cast<char>(t[0] - 'a' + 'A');
  return t;
}

std::string BytesText(uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
  else if (bytes < 1024ull * 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
  else
    std::snprintf(text, sizeof text, "%.2f GB", bytes / (1024.0 * 1024.0 * 1024.0));
  return text;
}

std::string TripSummary(const carry::Trip& trip) {
  std::string s = carry::tripKindName(trip.kind);
  s += " of " + std::to_string(trip.files) + (trip.files == 1 ? " file" : " files");
  if (trip.kind == carry::TripKind::kCompact)
    s += " (" + BytesText(trip.bytes) + " freed)";
  else if (trip.bytes)
    s += " (" + BytesText(trip.bytes) + ")";
  return s + ", " + trip.outcome;
}

}  // namespace app
