#pragma once
// Dates as the user reads them: a file time shown in local time with the
// locale's formats (LC_TIME). Used where no window's locale is at hand.

#include <string>

#include "platform/filetime.h"

namespace plat {

// The locale's short date ("%x"), long date ("Wednesday, 9 December 2026", the
// day unpadded, as the window shows it) and time without seconds; empty when
// the time cannot be converted.
std::string formatShortDate(FileTime ft);
std::string formatLongDate(FileTime ft);
std::string formatTimeNoSeconds(FileTime ft);

// Takes the user's LC_TIME settings for the formats above (once, at start-up).
void useUserTimeLocale();

}  // namespace plat
