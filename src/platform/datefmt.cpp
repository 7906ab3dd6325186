#include "platform/datefmt.h"

#include <langinfo.h>

#include <clocale>
#include <ctime>

namespace plat {
namespace {

bool localTm(FileTime ft, struct tm* out) {
  timespec ts = timespecFromFileTime(ft);
  time_t t = ts.tv_sec;
  return localtime_r(&t, out) != nullptr;
}

std::string format(FileTime ft, const std::string& fmt) {
  struct tm tm {};
  if (!localTm(ft, &tm)) return std::string();
  char buf[128];
  size_t n = std::strftime(buf, sizeof buf, fmt.c_str(), &tm);
  return std::string(buf, n);
}

}  // namespace

std::string formatShortDate(FileTime ft) { return format(ft, "%x"); }

std::string formatLongDate(FileTime ft) { return format(ft, "%A, %-d %B %Y"); }

std::string formatTimeNoSeconds(FileTime ft) {
  // The locale's time format with its seconds taken out.
  std::string fmt = nl_langinfo(T_FMT);
  for (const char* s : {":%S", ".%S", "%S"}) {
    size_t p = fmt.find(s);
    if (p != std::string::npos) {
      fmt.erase(p, std::char_traits<char>::length(s));
      break;
    }
  }
  if (fmt == "%r") fmt = "%I:%M %p";
  if (fmt == "%T") fmt = "%H:%M";
  if (fmt.empty()) fmt = "%H:%M";
  return format(ft, fmt);
}

void useUserTimeLocale() { std::setlocale(LC_TIME, ""); }

}  // namespace plat
