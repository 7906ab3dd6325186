#pragma once
// Letter case as file systems that ignore it see names.

#include <cstdint>

namespace plat {

// The capital form of a code point (Unicode's simple mapping, from the C
// library's UTF-8 locale); the code point itself when it has none. Where the
// library has no such locale only A-Z and the Latin-1 letters map.
uint32_t upperCase(uint32_t codePoint);

}  // namespace plat
