#pragma once
// Builds small ZIP containers byte by byte for tests, written straight from
// the format's description (independent of the program's own writers).

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zipbuild {

inline void u16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void u32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put(std::vector<uint8_t>& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

struct Entry {
  std::string name;
  std::string data;        // stored as is
  bool descriptor = false; // sizes and CRC in a data descriptor after the data
  uint16_t time = 0x6000, date = 0x5a21;
  uint32_t crcOverride = 0;  // non-zero: the central header's CRC
};

struct Zip {
  std::string preamble;
  std::vector<Entry> entries;
  std::string comment;

  std::vector<uint8_t> build() const {
    std::vector<uint8_t> out(preamble.begin(), preamble.end());
    std::vector<uint8_t> central;
    for (const Entry& e : entries) {
      uint32_t offset = static_cast<uint32_t>(out.size());
      uint32_t crc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
      uint32_t size = static_cast<uint32_t>(e.data.size());
      uint16_t flags = e.descriptor ? 8 : 0;
      u32(out, 0x04034b50);
      u16(out, 10);
      u16(out, flags);
      u16(out, 0);
      u16(out, e.time);
      u16(out, e.date);
      u32(out, e.descriptor ? 0 : crc);
      u32(out, e.descriptor ? 0 : size);
      u32(out, e.descriptor ? 0 : size);
      u16(out, static_cast<uint32_t>(e.name.size()));
      u16(out, 0);
      put(out, e.name);
      put(out, e.data);
      if (e.descriptor) {
        u32(out, 0x08074b50);
        u32(out, crc);
        u32(out, size);
        u32(out, size);
      }
      u32(central, 0x02014b50);
      u16(central, 0x0b16);
      u16(central, 10);
      u16(central, flags);
      u16(central, 0);
      u16(central, e.time);
      u16(central, e.date);
      u32(central, e.crcOverride ? e.crcOverride : crc);
      u32(central, size);
      u32(central, size);
      u16(central, static_cast<uint32_t>(e.name.size()));
      u16(central, 0);
      u16(central, 0);
      u16(central, 0);
      u16(central, 0);
      u32(central, 0x81000020);
      u32(central, offset);
      put(central, e.name);
    }
    uint32_t cdOffset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    u32(out, 0x06054b50);
    u16(out, 0);
    u16(out, 0);
    u16(out, static_cast<uint32_t>(entries.size()));
    u16(out, static_cast<uint32_t>(entries.size()));
    u32(out, static_cast<uint32_t>(central.size()));
    u32(out, cdOffset);
    u16(out, static_cast<uint32_t>(comment.size()));
    put(out, comment);
    return out;
  }
};

}  // namespace zipbuild
