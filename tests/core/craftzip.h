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
  std::vector<uint8_t> extraCentral;    // appended after the central "UT" block
  // Sizes after the data (flag bit 3): the local header's CRC and sizes are 0.
  bool descriptor = false;
  bool descriptorSignature = true;
  // ZIP64 as a streaming writer makes it: version 4.5, the local header's
  // sizes 0xffffffff with a ZIP64 extra field (and 64-bit descriptor sizes);
  // zip64Central also moves the central sizes into a ZIP64 extra field.
  bool zip64 = false;
  bool zip64Central = false;
  uint64_t zip64Usize = 0;              // when set, the central ZIP64 uncompressed size
};

inline Entry entry(const std::string& name, const std::string& data, uint16_t method = 8) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

struct Built {
  std::vector<uint8_t> bytes;
  uint32_t centralOffset = 0;
  uint32_t centralSize = 0;
  uint32_t endOffset = 0;
  std::vector<uint32_t> locals, centrals;  // where each entry's headers start
  std::vector<uint32_t> descriptors;       // where each data descriptor starts (0: none)
};

// An extra field block.
inline std::vector<uint8_t> extraBlock(uint16_t id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  archive::ByteWriter w(&out);
  w.u16(id), w.u16(static_cast<uint16_t>(data.size())), w.bytes(data);
  return out;
}

inline void put64(archive::ByteWriter& w, uint64_t v) {
  w.u32(static_cast<uint32_t>(v)), w.u32(static_cast<uint32_t>(v >> 32));
}

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
    const uint32_t csize = static_cast<uint32_t>(packed.size());
    const uint16_t flags = static_cast<uint16_t>(e.flags | (e.descriptor ? 0x0008 : 0));
    const uint8_t version = e.zip64 ? 45 : e.versionNeeded;
    uint32_t lcrc = crc, lcsize = csize, lusize = usize;
    if (e.descriptor) lcrc = lcsize = lusize = 0;
    if (e.zip64) {
      std::vector<uint8_t> z;
      archive::ByteWriter zw(&z);
      put64(zw, lusize), put64(zw, lcsize);
      auto block = extraBlock(0x0001, z);
      localExtra.insert(localExtra.end(), block.begin(), block.end());
      lcsize = lusize = 0xffffffffu;
    }
    localExtra.insert(localExtra.end(), e.extraLocal.begin(), e.extraLocal.end());
    uint32_t ccsize = csize, cusize = usize;
    if (e.zip64Central) {
      std::vector<uint8_t> z;
      archive::ByteWriter zw(&z);
      put64(zw, e.zip64Usize ? e.zip64Usize : usize), put64(zw, csize);
      auto block = extraBlock(0x0001, z);
      centralExtra.insert(centralExtra.end(), block.begin(), block.end());
      ccsize = cusize = 0xffffffffu;
    }
    centralExtra.insert(centralExtra.end(), e.extraCentral.begin(), e.extraCentral.end());
    const std::string lname = e.localName.empty() ? e.name : e.localName;
    const uint32_t offset = static_cast<uint32_t>(b.bytes.size());
    b.locals.push_back(offset);
    w.u32(0x04034b50), w.u8(version), w.u8(0), w.u16(flags), w.u16(e.method);
    w.u16(e.dosTime), w.u16(e.dosDate), w.u32(lcrc), w.u32(lcsize);
    w.u32(lusize), w.u16(static_cast<uint16_t>(lname.size()));
    w.u16(static_cast<uint16_t>(localExtra.size()));
    w.bytes(lname.data(), lname.size());
    w.bytes(localExtra);
    w.bytes(packed.data(), packed.size());
    b.descriptors.push_back(e.descriptor ? static_cast<uint32_t>(b.bytes.size()) : 0);
    if (e.descriptor) {
      if (e.descriptorSignature) w.u32(0x08074b50);
      w.u32(crc);
      if (e.zip64)
        put64(w, csize), put64(w, usize);
      else
        w.u32(csize), w.u32(usize);
    }

    std::vector<uint8_t> c;
    archive::ByteWriter cw(&c);
    cw.u32(0x02014b50), cw.u8(e.zip64 ? 45 : 22), cw.u8(e.host), cw.u8(version), cw.u8(0);
    cw.u16(flags), cw.u16(e.method), cw.u16(e.dosTime), cw.u16(e.dosDate), cw.u32(crc);
    cw.u32(ccsize), cw.u32(cusize);
    cw.u16(static_cast<uint16_t>(e.name.size())), cw.u16(static_cast<uint16_t>(centralExtra.size()));
    cw.u16(0), cw.u16(0), cw.u16(0), cw.u32(e.external);
    cw.u32(offset - static_cast<uint32_t>(preamble.size()));
    cw.bytes(e.name.data(), e.name.size());
    cw.bytes(centralExtra);
    centrals.push_back(c);
  }
  b.centralOffset = static_cast<uint32_t>(b.bytes.size());
  for (const auto& c : centrals) {
    b.centrals.push_back(static_cast<uint32_t>(b.bytes.size()));
    w.bytes(c);
  }
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

// Puts a ZIP64 end record and its locator before the end record, stating
// `entries` entries; the end record's own fields then say 0xffff and
// 0xffffffff (`keepEnd`: they keep their values).
inline void addZip64End(Built& b, uint64_t entries, bool keepEnd = false) {
  std::vector<uint8_t> end(b.bytes.begin() + b.endOffset, b.bytes.end());
  b.bytes.resize(b.endOffset);
  archive::ByteWriter w(&b.bytes);
  const uint64_t at = b.endOffset;
  w.u32(0x06064b50), put64(w, 44), w.u16(45), w.u16(45), w.u32(0), w.u32(0);
  put64(w, entries), put64(w, entries), put64(w, b.centralSize), put64(w, b.centralOffset);
  w.u32(0x07064b50), w.u32(0), put64(w, at), w.u32(1);
  b.endOffset = static_cast<uint32_t>(b.bytes.size());
  if (!keepEnd) {
    archive::putU16(&end[8], 0xffff), archive::putU16(&end[10], 0xffff);
    archive::putU32(&end[12], 0xffffffffu), archive::putU32(&end[16], 0xffffffffu);
  }
  w.bytes(end);
}

// Field offsets within the end record.
constexpr size_t kEndDisk = 4, kEndTotal = 10, kEndSize = 12, kEndOffset = 16;

inline void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { archive::putU16(&b[at], v); }
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { archive::putU32(&b[at], v); }

}  // namespace craftzip
