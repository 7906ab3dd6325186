#pragma once
// The diagnostic sink: parts of the core write diagnostic lines here, and the
// diagnostic output component (the log file) plugs itself in as the receiver.
// With no receiver installed, lines are dropped.

#include <functional>
#include <string>

namespace plat {

using DiagReceiver = std::function<void(const std::string& line)>;

// Installs the receiver (an empty function removes it).
void setDiagReceiver(DiagReceiver r);

// Sends one line (without its line end) to the receiver, if any.
void diag(const std::string& line);

}  // namespace plat
