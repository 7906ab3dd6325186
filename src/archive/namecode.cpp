#include "archive/namecode.h"

#include <zlib.h>

#include "archive/bytes.h"
#include "archive/extract/names.h"
#include "archive/layout.h"

namespace archive {
namespace {

// Code page 437's characters 0x80-0xFF.
const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
    0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// The text of a sound Unicode Path block for this stored name, or "".
std::string unicodePath(const std::string& stored, const std::vector<uint8_t>& extra) {
  ByteReader r(extra);
  while (r.remaining() >= 4) {
    const uint16_t id = r.u16(), len = r.u16();
    std::vector<uint8_t> block;
    if (!r.bytes(len, &block)) break;
    if (id != kExtraUnicodePath || block.size() < 6 || block[0] != 1) continue;
    const uint32_t want = ByteReader(block.data() + 1, 4).u32();
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size())));
    if (crc != want) continue;
    std::string text(block.begin() + 5, block.end());
    if (isValidUtf8(text)) return text;
  }
  return std::string();
}

// Valid UTF-8 kept; each byte outside a valid sequence becomes U+FFFD.
std::string repairUtf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t n = 1;
    while (n <= 4 && i + n <= s.size() && !isValidUtf8(s.substr(i, n))) ++n;
    if (n <= 4 && i + n <= s.size()) {
      out += s.substr(i, n);
      i += n;
    } else {
      appendUtf8(out, 0xFFFD);
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string cp437ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    if (c < 0x80)
      out += static_cast<char>(c);
    else
      appendUtf8(out, kCp437High[c - 0x80]);
  }
  return out;
}

std::string decodeName(const std::string& stored, uint16_t flags, uint8_t host,
                       const std::vector<uint8_t>& extra, bool* replaced) {
  if (replaced) *replaced = false;
  const bool valid = isValidUtf8(stored);
  if (flags & kFlagUtf8) {
    if (valid) return stored;
    if (replaced) *replaced = true;
    return repairUtf8(stored);
  }
  std::string unicode = unicodePath(stored, extra);
  if (!unicode.empty()) return unicode;
  if (valid) return stored;
  if (host == kHostMsDos) return cp437ToUtf8(stored);
  return nameToUtf8(stored, false);
}

}  // namespace archive
