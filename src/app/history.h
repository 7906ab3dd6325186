#pragma once
// The history of a briefcase on this computer: every load, unload, delete,
// clear, compaction and undo adds a trip when it ends, whichever front end
// ran it. It lives beside the carry record (carry/record.h); a history that
// cannot be written costs nothing but the line.

#include <cstdint>
#include <string>
#include <vector>

#include "carry/record.h"
#include "platform/filetime.h"

namespace app {

// A trip of this computer, dated now: the computer's id and host name go in.
carry::Trip NewTrip(carry::TripKind kind, const std::string& localFolder, int resultCode);

// Adds the trip to the history of the briefcase at `briefcasePath`.
void RecordTrip(const std::string& briefcasePath, const carry::Trip& trip);

// The briefcase's history on this computer, newest first.
std::vector<carry::Trip> TripHistory(const std::string& briefcasePath);

// When the trip ended, as a file time.
plat::FileTime TripTime(const carry::Trip& trip);
// "10/12/2026 16:40" in the user's format.
std::string TripDateText(const carry::Trip& trip);

// A result code as the history tells it: "completed", "cancelled", or
// "failed: " and the result's text.
std::string TripOutcome(int code);

// "Load", "Unload", ... as the history list names them.
std::string TripKindTitle(carry::TripKind kind);

// "512 bytes", "1.5 KB", "2.0 MB", "1.25 GB".
std::string BytesText(uint64_t bytes);

// One line for the trip: "load of 3 files (1.2 MB), completed".
std::string TripSummary(const carry::Trip& trip);

}  // namespace app
