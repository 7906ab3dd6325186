#include "platform/strtable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <vector>

namespace plat {
namespace {

struct Entry {
  int id;
  const char* text;
};

// Sorted by id (checked by the tests).
constexpr Entry kStrings[] = {
#define STR(id, name, text) {id, text},
#include "strings.inc"
#undef STR
};

const Entry* find(int id) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                             [](const Entry& e, int v) { return e.id < v; });
  if (it == std::end(kStrings) || it->id != id) return nullptr;
  return &*it;
}

std::string vformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

std::string loadStr(int id) {
  const Entry* e = find(id);
  if (!e) return std::string();
  return cutLoadedText(e->text);
}

bool hasStr(int id) { return find(id) != nullptr; }

std::vector<int> strIds() {
  std::vector<int> ids;
  ids.reserve(std::size(kStrings));
  for (const Entry& e : kStrings) ids.push_back(e.id);
  return ids;
}

std::string cutLoadedText(std::string_view text) {
  return std::string(text.substr(0, kMaxLoadedText));
}

std::string strFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  return s;
}

std::string loadStrFmt(int id, ...) {
  std::string fmt = loadStr(id);
  va_list ap;
  va_start(ap, id);
  std::string s = vformat(fmt.c_str(), ap);
  va_end(ap);
  return s;
}

}  // namespace plat
