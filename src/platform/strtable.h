#pragma once
// The program's string table: every numbered text (error texts 1-59, window
// texts 670-805, engine texts 8001-8070, document and wizard texts 8100-8312).
// The texts themselves live in resources/strings.inc, their names in
// platform/strids.h.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/strids.h"

namespace plat {

// The longest text a load yields; a longer stored text is cut to this length.
constexpr std::size_t kMaxLoadedText = 200;

// The text with this number, at most 200 characters (longer texts are cut, as
// a loaded text never holds more); an empty text when the number has none.
std::string loadStr(int id);

// True when the table holds a text with this number.
bool hasStr(int id);

// Every number the table holds, in increasing order.
std::vector<int> strIds();

// The text as a load yields it: its first kMaxLoadedText characters.
std::string cutLoadedText(std::string_view text);

// printf-style formatting into a std::string (for the table's "%s" and "%d" texts).
std::string strFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Formats a text of the table; the arguments must fit its conversions.
std::string loadStrFmt(int id, ...);

}  // namespace plat
