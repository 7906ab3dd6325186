#include "platform/computerid.h"

#include <sys/statvfs.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace plat {
namespace {

std::string hex32(unsigned long v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%lX", v & 0xffffffffUL);
  return buf;
}

}  // namespace

std::string computerId() {
  if (const char* env = std::getenv("CARRYVALE_COMPUTER_ID"); env && *env) {
    std::string id(env);
    if (id.size() > 9) id.resize(9);  // the table holds at most 9 characters
    return id;
  }
  std::ifstream in("/etc/machine-id");
  std::string line;
  if (in && std::getline(in, line) && line.size() >= 8) {
    bool allHex = true;
    for (size_t i = 0; i < 8; ++i) allHex = allHex && std::isxdigit(static_cast<unsigned char>(line[i]));
    if (allHex) return hex32(std::strtoul(line.substr(0, 8).c_str(), nullptr, 16));
  }
  struct statvfs sv;
  if (statvfs("/", &sv) == 0) return hex32(static_cast<unsigned long>(sv.f_fsid));
  return "0";
}

}  // namespace plat
