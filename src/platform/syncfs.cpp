#include "platform/syncfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"

namespace plat {

bool syncFileSystemOf(const std::string& path) {
  int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    setLastError(errno);
    return false;
  }
  bool ok = ::syncfs(fd) == 0;
  if (!ok) setLastError(errno);
  ::close(fd);
  return ok;
}

}  // namespace plat
