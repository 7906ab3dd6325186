#pragma once
// Entry names as the extraction engine shows, selects and maps them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace archive {

// Appends a code point of the Basic Multilingual Plane as UTF-8.
void appendUtf8(std::string& out, uint32_t codePoint);

// True when the bytes are well-formed UTF-8 (plain ASCII included).
bool isValidUtf8(const std::string& s);

// A stored name as text: kept as it is when the UTF-8 flag is set or the
// bytes are valid UTF-8; otherwise each byte is decoded as Windows-1252, the
// code page of briefcases written on the Windows platform.
std::string nameToUtf8(const std::string& stored, bool utf8Flag);

// The printable form of a name for messages and listings: each character
// below 32 is shown as '^' followed by the character plus 64, DEL as "^?",
// a C1 control (U+0080-U+009F) and a byte that is not part of well-formed
// UTF-8 as "\xNN"; so no name can move the cursor or retitle a terminal.
std::string printableName(const std::string& name);

// The length of the well-formed UTF-8 sequence at s[i] (its code point in
// *cp), or 0 for a byte that does not begin one.
size_t utf8Sequence(const std::string& s, size_t i, uint32_t* cp);

// Wildcard match of a pattern against a text: '*' any run of characters,
// '?' exactly one character, '\' takes the next pattern character literally;
// letters A-Z and the Latin-1 capitals U+00C0-U+00DE (but U+00D7) match their
// small forms. Characters are UTF-8 code points (a byte that is not part of a
// well-formed sequence counts as the Latin-1 character of its value). Linear
// in practice: a pattern full of '*' cannot make it take exponential time.
bool wildcardMatch(const std::string& pattern, const std::string& text);

// Whether an entry with this name (already decoded to text) is selected by a
// name of the list: the entry's name, read as a wildcard pattern, matches the
// name, or equals it without regard to case (so a name holding '\', an
// ordinary character of a Linux name, still selects its own entry).
bool nameSelects(const std::string& entryName, const std::string& listName);

// Selecting entries by a list of names, as an unload does. A name that some
// entry bears exactly (byte for byte) selects only the entries of that
// exact name, so two entries whose names differ in letter case are told
// apart; any other name selects as nameSelects says. Apart from entries
// whose names hold wildcard characters, a selection takes time linear in
// the entries and the names.
class NameSelector {
 public:
  NameSelector(const std::vector<std::string>& names, const std::vector<std::string>& entryNames);
  // The position in the list of the first name that selects the entry, or -1.
  long select(const std::string& entryName) const;

 private:
  const std::vector<std::string>& names_;
  std::unordered_map<std::string, size_t> exact_;   // a name -> its first position
  std::unordered_map<std::string, size_t> folded_;  // a folded name that is not exact -> first position
  std::vector<size_t> others_;                      // positions of the names that are not exact
};

// Code points in a UTF-8 text, and the longest prefix of at most n code points.
size_t utf8Length(const std::string& s);
std::string utf8Prefix(const std::string& s, size_t n);

}  // namespace archive
