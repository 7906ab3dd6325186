#include "archive/extract/names.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

namespace archive {
namespace {

// Windows-1252's characters 0x80-0x9F; the five it leaves undefined keep
// their C1 control code points, as the platform's conversion does.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The length of the well-formed UTF-8 sequence at s[i], or 0.
size_t sequenceLength(const std::string& s, size_t i, uint32_t* cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t n;
  uint32_t v, min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, v = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, v = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    v = (v << 6) | (d & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}

// A text as code points; a stray byte becomes a value no code point has.
std::vector<uint32_t> codePoints(const std::string& s) {
  std::vector<uint32_t> out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    size_t n = sequenceLength(s, i, &cp);
    if (n == 0) {
      out.push_back(static_cast<unsigned char>(s[i]));  // read as Latin-1
      ++i;
    } else {
      out.push_back(cp);
      i += n;
    }
  }
  return out;
}

uint32_t fold(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

}  // namespace

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool isValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    size_t n = sequenceLength(s, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string nameToUtf8(const std::string& stored, bool utf8Flag) {
  if (utf8Flag || isValidUtf8(stored)) return stored;
  std::string out;
  out.reserve(stored.size() + stored.size() / 2);
  for (unsigned char c : stored) {
    if (c < 0x80)
      out += static_cast<char>(c);
    else if (c < 0xA0)
      appendUtf8(out, kCp1252High[c - 0x80]);
    else
      appendUtf8(out, c);
  }
  return out;
}

std::string printableName(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    uint32_t cp = 0;
    const size_t n = sequenceLength(name, i, &cp);
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (n == 1 && c < 32) {
      out += '^';
      out += static_cast<char>(c + 64);
    } else if (n == 1 && c == 0x7F) {
      out += "^?";
    } else if (n == 0 || (cp >= 0x80 && cp <= 0x9F)) {
      // A C1 control, or a byte that is no UTF-8: its value, as \xNN.
      const uint32_t v = n == 0 ? c : cp;
      out += "\\x";
      out += hex[v >> 4];
      out += hex[v & 15];
    } else {
      out.append(name, i, n);
    }
    i += n == 0 ? 1 : n;
  }
  return out;
}

size_t utf8Sequence(const std::string& s, size_t i, uint32_t* cp) { return sequenceLength(s, i, cp); }

bool wildcardMatch(const std::string& patternText, const std::string& textText) {
  const std::vector<uint32_t> p = codePoints(patternText);
  const std::vector<uint32_t> t = codePoints(textText);
  // Greedy matching with a return point after the last '*': linear in
  // practice, never exponential however many stars a hostile name holds.
  size_t pi = 0, ti = 0;
  size_t starP = SIZE_MAX, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      while (pi < p.size() && p[pi] == '*') ++pi;
      if (pi == p.size()) return true;  // a trailing '*' takes the rest at once
      starP = pi;
      starT = ti;
      continue;
    }
    bool ok = false;
    size_t step = 1;
    if (pi < p.size()) {
      if (p[pi] == '?') {
        ok = true;
      } else if (p[pi] == '\\') {
        ok = pi + 1 < p.size() && fold(p[pi + 1]) == fold(t[ti]);
        step = 2;
      } else {
        ok = fold(p[pi]) == fold(t[ti]);
      }
    }
    if (ok) {
      pi += step;
      ++ti;
    } else if (starP != SIZE_MAX) {
      pi = starP;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

bool nameSelects(const std::string& entryName, const std::string& listName) {
  const std::vector<uint32_t> a = codePoints(entryName);
  const std::vector<uint32_t> b = codePoints(listName);
  if (a.size() == b.size()) {
    bool same = true;
    for (size_t i = 0; i < a.size() && same; ++i) same = fold(a[i]) == fold(b[i]);
    if (same) return true;
  }
  return wildcardMatch(entryName, listName);
}

namespace {

// A key that is equal for two texts that match letter case aside.
std::string foldedKey(const std::string& s) {
  std::string key;
  for (uint32_t c : codePoints(s)) {
    c = fold(c);
    key.append(reinterpret_cast<const char*>(&c), sizeof c);
  }
  return key;
}

}  // namespace

NameSelector::NameSelector(const std::vector<std::string>& names,
                           const std::vector<std::string>& entryNames)
    : names_(names) {
  const std::unordered_set<std::string> borne(entryNames.begin(), entryNames.end());
  for (size_t k = 0; k < names.size(); ++k) {
    if (borne.count(names[k])) {
      exact_.emplace(names[k], k);
    } else {
      folded_.emplace(foldedKey(names[k]), k);
      others_.push_back(k);
    }
  }
}

long NameSelector::select(const std::string& entryName) const {
  size_t best = SIZE_MAX;
  auto it = exact_.find(entryName);
  if (it != exact_.end()) best = it->second;
  if (others_.empty()) {
    // Every name is some entry's own (the window's selection): nothing else to try.
  } else if (entryName.find_first_of("*?\\") == std::string::npos) {
    // Without wildcards a name matches only a text equal to it, letter case aside.
    auto f = folded_.find(foldedKey(entryName));
    if (f != folded_.end()) best = std::min(best, f->second);
  } else {
    for (size_t k : others_) {
      if (k >= best) break;
      if (nameSelects(entryName, names_[k])) {
        best = k;
        break;
      }
    }
  }
  return best == SIZE_MAX ? -1 : static_cast<long>(best);
}

size_t utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string utf8Prefix(const std::string& s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (count == n) return s.substr(0, i);
      ++count;
    }
  }
  return s;
}

}  // namespace archive
