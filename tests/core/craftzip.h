#pragma once
// A small ZIP writer for the tests, written from the format description, with
// every field under the test's control (so damaged and hostile containers can
// be made on purpose).

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/bytes.h"

namespace craftzip {

struct Entry {
  std::string name;
  std::string data;              // the uncompressed bytes
  uint16_t method = 8;           // 0 stored, 8 deflated, others: data written as it is
  uint16_t flags = 0;
  uint8_t versionNeeded = 20;
  uint8_t host = 11;             // NTFS
  uint32_t external = 0x81000020;
  uint16_t dosDate = 0x5764;     // 2023-11-04
  uint16_t dosTime = 0x6000;     // 12:00:00
  int64_t utModification = 1700000000;  // "UT" block; -1: none
  std::vector<uint8_t> extraLocal;      // appended after the "UT" block
  // Overrides for damaged entries.
  std::string payload;           // when set, written instead of the compressed data
  bool payloadSet = false;
  std::string localName;         // when set, the local header's name
  bool crcSet = false;
  uint32_t crc = 0;
  bool usizeSet = false;
  uint32_t usize = 0;
};

struct Built {
  std::vector<uint8_t> bytes;
  uint32_t centralOffset = 0;
  uint32_t centralSize = 0;
  uint32_t endOffset = 0;
};

inline std::string deflateRaw(const std::string& in) {
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, in.size()) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

inline uint32_t crcOf(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

inline Built build(const std::vector<Entry>& entries, const std::vector<uint8_t>& comment = {},
                   const std::string& preamble = "") {
  Built b;
  archive::ByteWriter w(&b.bytes);
  w.bytes(preamble.data(), preamble.size());
  std::vector<std::vector<uint8_t>> centrals;
  for (const Entry& e : entries) {
    std::string packed = e.payloadSet ? e.payload : e.method == 8 ? deflateRaw(e.data) : e.data;
    uint32_t crc = e.crcSet ? e.crc : crcOf(e.data);
    uint32_t usize = e.usizeSet ? e.usize : static_cast<uint32_t>(e.data.size());
    std::vector<uint8_t> localExtra, centralExtra;
    if (e.utModification >= 0) {
      archive::ByteWriter lx(&localExtra), cx(&centralExtra);
      uint32_t t = static_cast<uint32_t>(e.utModification);
      lx.u16(0x5455), lx.u16(13), lx.u8(7), lx.u32(t), lx.u32(t), lx.u32(t);
      cx.u16(0x5455), cx.u16(5), cx.u8(7), cx.u32(t);
    }
    localExtra.insert(localExtra.end(), e.extraLocal.begin(), e.extraLocal.end());
    const std::string lname = e.localName.empty() ? e.name : e.localName;
    const uint32_t offset = static_cast<uint32_t>(b.bytes.size());
    w.u32(0x04034b50), w.u8(e.versionNeeded), w.u8(0), w.u16(e.flags), w.u16(e.method);
    w.u16(e.dosTime), w.u16(e.dosDate), w.u32(crc), w.u32(static_cast<uint32_t>(packed.size()));
    w.u32(usize), w.u16(static_cast<uint16_t>(lname.size()));
    w.u16(static_cast<uint16_t>(localExtra.size()));
    w.bytes(lname.data(), lname.size());
    w.bytes(localExtra);
    w.bytes(packed.data(), packed.size());

    std::vector<uint8_t> c;
    archive::ByteWriter cw(&c);
    cw.u32(0x02014b50), cw.u8(22), cw.u8(e.host), cw.u8(e.versionNeeded), cw.u8(0);
    cw.u16(e.flags), cw.u16(e.method), cw.u16(e.dosTime), cw.u16(e.dosDate), cw.u32(crc);
    cw.u32(static_cast<uint32_t>(packed.size())), cw.u32(usize);
    cw.u16(static_cast<uint16_t>(e.name.size())), cw.u16(static_cast<uint16_t>(centralExtra.size()));
    cw.u16(0), cw.u16(0), cw.u16(0), cw.u32(e.external);
    cw.u32(offset - static_cast<uint32_t>(preamble.size()));
    cw.bytes(e.name.data(), e.name.size());
    cw.bytes(centralExtra);
    centrals.push_back(c);
  }
  b.centralOffset = static_cast<uint32_t>(b.bytes.size());
  for (const auto& c : centrals) w.bytes(c);
  b.centralSize = static_cast<uint32_t>(b.bytes.size()) - b.centralOffset;
  b.endOffset = static_cast<uint32_t>(b.bytes.size());
  w.u32(0x06054b50), w.u16(0), w.u16(0);
  w.u16(static_cast<uint16_t>(entries.size())), w.u16(static_cast<uint16_t>(entries.size()));
  // Offsets written relative to the first entry, as an archive that had bytes
  // put before it afterwards states them.
  w.u32(b.centralSize), w.u32(b.centralOffset - static_cast<uint32_t>(preamble.size()));
  w.u16(static_cast<uint16_t>(comment.size()));
  w.bytes(comment);
  return b;
}

// Field offsets within the end record.
constexpr size_t kEndDisk = 4, kEndTotal = 10, kEndSize = 12, kEndOffset = 16;

inline void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { archive::putU16(&b[at], v); }
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { archive::putU32(&b[at], v); }

}  // namespace craftzip
