#include "platform/diag.h"

#include <mutex>

namespace plat {
namespace {
std::mutex mu;
DiagReceiver receiver;
}  // namespace

void setDiagReceiver(DiagReceiver r) {
  std::lock_guard<std::mutex> lock(mu);
  receiver = std::move(r);
}

void diag(const std::string& line) {
  DiagReceiver r;
  {
    std::lock_guard<std::mutex> lock(mu);
    r = receiver;
  }
  if (r) r(line);
}

}  // namespace plat
