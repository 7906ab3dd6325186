#pragma once
// Entry names from other systems as text (UTF-8).

#include <cstdint>
#include <string>
#include <vector>

namespace archive {

// Host systems of the version-made-by field that decide a name's code page.
constexpr uint8_t kHostMsDos = 0;
// The last host system the format names; any later one is read as unknown.
constexpr uint8_t kHostLastKnown = 17;
constexpr uint8_t kHostUnknown = 18;

// The name of an entry as text, decided in this order:
//  - the UTF-8 flag (bit 11) set: the bytes as they are;
//  - a Unicode Path extra field (0x7075) whose CRC matches the stored name
//    and whose text is valid UTF-8: that text;
//  - bytes that are valid UTF-8 (plain ASCII among them): as they are;
//  - made on an MS-DOS host: code page 437;
//  - any other host (NTFS among them): Windows-1252.
// A name flagged UTF-8 that is not valid UTF-8 cannot be mapped: each byte
// that is not part of a valid sequence becomes U+FFFD, and *replaced (when
// given) is set.
std::string decodeName(const std::string& stored, uint16_t flags, uint8_t host,
                       const std::vector<uint8_t>& extra, bool* replaced = nullptr);

// Bytes decoded as code page 437.
std::string cp437ToUtf8(const std::string& bytes);

}  // namespace archive
