#pragma once
// The briefcase date: the container file's last-write time. Files changed
// after it are load candidates.

#include <string>

#include "platform/filetime.h"

namespace briefcase {

// The container's last-write time. When the container cannot be found the
// user is told why (kStrWrongDisk with the path for a missing path,
// kStrDiskNotInserted for a device that is not ready, else the system's text) and the date is the
// current time; the result is then false.
bool ReadBriefcaseDate(const std::string& containerPath, plat::FileTime* date);

// Sets the container's access and last-write times (a creation time cannot be
// set here) and clears its read-only attribute. Failures are told to the user
// (kStrCannotOpenForWriting, kStrCannotSetFileTime, kStrMayBeWriteProtected);
// the result is false after any of them.
bool WriteBriefcaseDate(const std::string& containerPath, plat::FileTime date);

}  // namespace briefcase
