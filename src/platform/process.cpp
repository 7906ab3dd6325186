#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace plat {

int processId() { return static_cast<int>(::getpid()); }

bool processRunning(int pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace plat
