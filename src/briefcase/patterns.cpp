#include "briefcase/patterns.h"

#include "platform/ask.h"
#include "platform/strtable.h"

namespace briefcase {
namespace {

// One character of a name or pattern: its folded code and its byte length.
struct Char {
  uint32_t code;
  size_t length;
};

// Reads the character at s[i]: a well-formed UTF-8 sequence as its code point,
// any other byte as the Latin-1 character of that value.
Char readChar(const std::string& s, size_t i) {
  const unsigned char b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](size_t k) {
    return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  };
  auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
  if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) return {((b0 & 0x1Fu) << 6) | byte(1), 2};
  if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
    uint32_t c = ((b0 & 0x0Fu) << 12) | (byte(1) << 6) | byte(2);
    if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) return {c, 3};
  }
  if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    uint32_t c = ((b0 & 0x07u) << 18) | (byte(1) << 12) | (byte(2) << 6) | byte(3);
    if (c >= 0x10000 && c <= 0x10FFFF) return {c, 4};
  }
  return {b0, 1};
}

uint32_t fold(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

bool match(const std::string& p, size_t pi, const std::string& n, size_t ni) {
  for (;;) {
    if (pi == p.size()) return ni == n.size();
    const char pc = p[pi];
    if (pc == '*') {
      if (pi + 1 == p.size()) return true;
      // The rest of the pattern at every position of the rest of the name.
      for (size_t k = ni; k <= n.size();) {
        if (match(p, pi + 1, n, k)) return true;
        if (k == n.size()) break;
        k += readChar(n, k).length;
      }
      return false;
    }
    if (ni == n.size()) return false;
    const Char nc = readChar(n, ni);
    if (pc == '?') {
      ++pi;
      ni += nc.length;
      continue;
    }
    size_t at = pi;
    if (pc == '\\') {
      if (pi + 1 == p.size()) return false;
      at = pi + 1;
    }
    const Char c = readChar(p, at);
    if (fold(c.code) != fold(nc.code)) return false;
    pi = at + c.length;
    ni += nc.length;
  }
}

}  // namespace

TPatternList SplitPatterns(const std::string& text, PatternKind kind) {
  TPatternList list;
  const std::string t = text.size() > kMaxPatternText ? text.substr(0, kMaxPatternText) : text;
  size_t start = 0;
  size_t i = 0;
  for (; i < t.size() && list.patterns.size() < kMaxPatterns; ++i) {
    if (t[i] != ',' && t[i] != ';') continue;
    if (i - start <= kMaxPatternLength) list.patterns.push_back(t.substr(start, i - start));
    start = i + 1;
  }
  if (list.patterns.size() < kMaxPatterns) {
    // The last pattern, ended by the end of the text.
    if (start < t.size() && t.size() - start <= kMaxPatternLength)
      list.patterns.push_back(t.substr(start));
  } else if (start < t.size()) {
    int id = kind == PatternKind::Exclude ? 717 : 718;
    plat::messageBox(plat::loadStr(id), "Warning", plat::btnOk, plat::Icon::Warning);
  }
  return list;
}

bool MatchPattern(const std::string& pattern, const std::string& name) {
  return match(pattern, 0, name, 0);
}

bool IsIncluded(const TPatternList& include, const std::string& name) {
  if (include.empty()) return true;
  for (const std::string& p : include.patterns)
    if (!p.empty() && MatchPattern(p, name)) return true;
  return false;
}

bool IsExcluded(const TPatternList& exclude, const std::string& name) {
  for (const std::string& p : exclude.patterns)
    if (!p.empty() && MatchPattern(p, name)) return true;
  return false;
}

}  // namespace briefcase
