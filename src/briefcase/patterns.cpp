#include "briefcase/patterns.h"

#include "archive/extract/names.h"
#include "platform/ask.h"
#include "platform/strtable.h"

namespace briefcase {

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
    const int id =
        kind == PatternKind::Exclude ? plat::kStrTooManyExcludes : plat::kStrTooManyIncludes;
    plat::messageBox(plat::loadStr(id), "Warning", plat::btnOk, plat::Icon::Warning);
  }
  return list;
}

bool MatchPattern(const std::string& pattern, const std::string& name) {
  return archive::wildcardMatch(pattern, name);
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
