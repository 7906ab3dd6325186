#pragma once
// A name for every number of the string table, made from the table itself
// (resources/strings.inc), so a text is never asked for by a bare number.
// The names live in plat::strid and, through it, in plat.

namespace plat {
inline namespace strid {

enum StrId : int {
#define STR(id, name, text) name = id,
#include "strings.inc"
#undef STR
};

}  // namespace strid
}  // namespace plat
