#pragma once
// The include and exclude patterns of a briefcase: split from the
// configuration's texts at ',' and ';' into at most 30 patterns of at most 29
// characters, and matched against bare file names ('?', '*', '\' escapes,
// letters compared without regard to case).

#include <string>
#include <vector>

namespace briefcase {

constexpr size_t kMaxPatterns = 30;
constexpr size_t kMaxPatternLength = 29;
constexpr size_t kMaxPatternText = 251;

enum class PatternKind { Include, Exclude };

struct TPatternList {
  std::vector<std::string> patterns;  // an empty pattern matches nothing but counts
  bool empty() const { return patterns.empty(); }
};

// Splits a pattern text (cut to 251 characters). When 30 patterns are taken
// and the text holds more, the user is told (kStrTooManyExcludes for the exclude list,
// kStrTooManyIncludes for the include list) through the question interface.
TPatternList SplitPatterns(const std::string& text, PatternKind kind);

// The pattern matches the whole name: '?' is any one character, '*' any run
// of characters, '\' makes the next character literal (a '\' at the end never
// matches); letters A-Z and the Latin-1 capitals (but the multiplication
// sign) match their small forms. Names and patterns are UTF-8: '?' takes one
// whole character, and the Latin-1 capitals fold in their UTF-8 form; bytes
// that are not UTF-8 count as Latin-1 characters of their own.
bool MatchPattern(const std::string& pattern, const std::string& name);

// True when the list is empty or a pattern matches the name.
bool IsIncluded(const TPatternList& include, const std::string& name);
// True when the list is not empty and a pattern matches the name.
bool IsExcluded(const TPatternList& exclude, const std::string& name);

}  // namespace briefcase
