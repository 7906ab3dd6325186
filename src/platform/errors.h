#pragma once
// The platform's "last error": every platform call that fails records the
// system's error number here (per thread), as the engines expect to ask for
// it after a failed call and to show its text.

#include <string>

namespace plat {

int lastError();
void setLastError(int err);
std::string errorText(int err);  // the system's text for an error number
inline std::string lastErrorText() { return errorText(lastError()); }

// Kinds of error the program tells apart.
bool isPathNotFound(int err);    // ENOENT, ENOTDIR
bool isAccessDenied(int err);    // EACCES, EPERM, EROFS
bool isSharingViolation(int err);  // the container's lock is held by another run
bool isDiskFull(int err);        // ENOSPC, EDQUOT
bool isDeviceNotReady(int err);  // ENOMEDIUM, ENXIO, EIO
bool isNameTooLong(int err);     // ENAMETOOLONG
bool isTooManyOpenFiles(int err);  // EMFILE, ENFILE

}  // namespace plat
