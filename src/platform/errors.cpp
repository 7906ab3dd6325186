#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace plat {
namespace {
thread_local int last = 0;
}

int lastError() { return last; }
void setLastError(int err) { last = err; }

std::string errorText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  const char* s = strerror_r(err, buf, sizeof buf);
  return s ? std::string(s) : std::string("Unknown error");
}

bool isPathNotFound(int err) { return err == ENOENT || err == ENOTDIR; }
bool isAccessDenied(int err) { return err == EACCES || err == EPERM || err == EROFS; }
bool isSharingViolation(int err) { return err == EWOULDBLOCK || err == EAGAIN; }
bool isDiskFull(int err) { return err == ENOSPC || err == EDQUOT; }
bool isDeviceNotReady(int err) { return err == ENOMEDIUM || err == ENXIO || err == EIO; }
bool isNameTooLong(int err) { return err == ENAMETOOLONG; }
bool isTooManyOpenFiles(int err) { return err == EMFILE || err == ENFILE; }

}  // namespace plat
