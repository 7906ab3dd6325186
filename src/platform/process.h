#pragma once
// The running process and others on this computer.

namespace plat {

// This process's id.
int processId();

// Whether a process with this id runs on this computer (one of another user
// counts too).
bool processRunning(int pid);

}  // namespace plat
