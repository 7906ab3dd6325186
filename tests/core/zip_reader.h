#pragma once
// A ZIP reader for the tests, written from the format description alone and
// sharing no code with the engine: it finds the end record, walks the
// central directory, checks each local header against its central header,
// inflates the data with zlib and checks sizes and CRC-32. Any deviation
// from the format makes `ok` false with a reason.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ztest {

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

struct ExtraBlock {
  uint16_t id = 0;
  std::vector<uint8_t> data;
};

struct Entry {
  std::string name;
  uint8_t versionMadeBy = 0, host = 0, versionNeeded = 0;
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0, localOffset = 0;
  std::vector<ExtraBlock> localExtra, centralExtra;
  std::vector<uint8_t> raw;   // the entry's bytes from its local header to the end of its data
  std::vector<uint8_t> data;  // uncompressed

  const ExtraBlock* local(uint16_t id) const {
    for (const auto& b : localExtra)
      if (b.id == id) return &b;
    return nullptr;
  }
  const ExtraBlock* central(uint16_t id) const {
    for (const auto& b : centralExtra)
      if (b.id == id) return &b;
    return nullptr;
  }
  std::string text() const { return std::string(data.begin(), data.end()); }
};

struct Archive {
  bool ok = false;
  std::string error;
  std::vector<Entry> entries;
  std::vector<uint8_t> comment;
  uint32_t preamble = 0;
  // Each entry right after the one before (as a rewrite leaves them); an
  // append leaves unreferenced bytes between them.
  bool contiguous = true;

  const Entry* find(const std::string& name) const {
    for (const auto& e : entries)
      if (e.name == name) return &e;
    return nullptr;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& e : entries) n.push_back(e.name);
    return n;
  }
};

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool parseExtra(const uint8_t* p, size_t n, std::vector<ExtraBlock>* out) {
  size_t i = 0;
  while (i < n) {
    if (n - i < 4) return false;
    ExtraBlock b;
    b.id = le16(p + i);
    uint16_t len = le16(p + i + 2);
    if (n - i - 4 < len) return false;
    b.data.assign(p + i + 4, p + i + 4 + len);
    out->push_back(std::move(b));
    i += 4 + len;
  }
  return true;
}

inline bool inflateRaw(const uint8_t* p, size_t n, size_t expected, std::vector<uint8_t>* out) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  out->assign(expected, 0);
  zs.next_in = const_cast<uint8_t*>(p);
  zs.avail_in = static_cast<uInt>(n);
  zs.next_out = out->data();
  zs.avail_out = static_cast<uInt>(expected);
  uint8_t spare;
  int rc = inflate(&zs, Z_FINISH);
  if (rc == Z_BUF_ERROR && zs.avail_out == 0 && expected == 0) {
    zs.next_out = &spare;
    zs.avail_out = 1;
    rc = inflate(&zs, Z_FINISH);
  }
  bool ok = rc == Z_STREAM_END && zs.avail_in == 0 && zs.total_out == expected;
  inflateEnd(&zs);
  return ok;
}

inline Archive parse(const std::vector<uint8_t>& f) {
  Archive a;
  auto bad = [&](const std::string& why) {
    a.ok = false;
    a.error = why;
    return a;
  };
  if (f.size() < 22) return bad("shorter than an end record");
  // The end record whose comment ends exactly at the end of the file.
  long eocd = -1;
  for (long i = static_cast<long>(f.size()) - 22; i >= 0 && f.size() - i <= 22 + 65535; --i) {
    if (le32(&f[i]) == 0x06054b50 && i + 22 + le16(&f[i + 20]) == static_cast<long>(f.size())) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) return bad("no end record");
  const uint8_t* e = &f[eocd];
  if (le16(e + 4) != 0 || le16(e + 6) != 0) return bad("disk numbers");
  uint16_t count = le16(e + 8);
  if (le16(e + 10) != count) return bad("entry counts differ");
  uint32_t cdSize = le32(e + 12), cdOffset = le32(e + 16);
  a.comment.assign(e + 22, e + 22 + le16(e + 20));
  if (uint64_t(cdOffset) + cdSize != uint64_t(eocd)) return bad("central directory does not end at the end record");

  size_t p = cdOffset;
  uint32_t expectLocal = 0xffffffff;
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (uint16_t i = 0; i < count; ++i) {
    if (p + 46 > uint64_t(eocd)) return bad("central header past the end");
    const uint8_t* c = &f[p];
    if (le32(c) != 0x02014b50) return bad("central signature");
    Entry en;
    en.versionMadeBy = c[4];
    en.host = c[5];
    en.versionNeeded = c[6];
    if (c[7] != 0) return bad("host of version needed");
    en.flags = le16(c + 8);
    en.method = le16(c + 10);
    en.time = le16(c + 12);
    en.date = le16(c + 14);
    en.crc = le32(c + 16);
    en.compressedSize = le32(c + 20);
    en.uncompressedSize = le32(c + 24);
    uint16_t nl = le16(c + 28), xl = le16(c + 30), cl = le16(c + 32);
    if (le16(c + 34) != 0) return bad("disk number start");
    en.internalAttributes = le16(c + 36);
    en.externalAttributes = le32(c + 38);
    en.localOffset = le32(c + 42);
    if (p + 46 + nl + xl + cl > uint64_t(eocd)) return bad("central name past the end");
    en.name.assign(reinterpret_cast<const char*>(c + 46), nl);
    if (!parseExtra(c + 46 + nl, xl, &en.centralExtra)) return bad("central extra field");
    p += 46 + nl + xl + cl;

    // The local header.
    size_t l = en.localOffset;
    if (i == 0) {
      a.preamble = en.localOffset;
    } else if (l != expectLocal) {
      a.contiguous = false;
    }
    if (l + 30 > cdOffset) return bad("local header past the data");
    const uint8_t* h = &f[l];
    if (le32(h) != 0x04034b50) return bad("local signature of " + en.name);
    if (h[4] != en.versionNeeded || h[5] != 0) return bad("local version of " + en.name);
    if (le16(h + 6) != en.flags) return bad("local flags of " + en.name);
    if (en.flags & 0x0008) return bad("data descriptor flag on " + en.name);
    if (le16(h + 8) != en.method || le16(h + 10) != en.time || le16(h + 12) != en.date)
      return bad("local method/time of " + en.name);
    if (le32(h + 14) != en.crc || le32(h + 18) != en.compressedSize ||
        le32(h + 22) != en.uncompressedSize)
      return bad("local crc/sizes of " + en.name);
    uint16_t lnl = le16(h + 26), lxl = le16(h + 28);
    if (lnl != nl || std::memcmp(h + 30, en.name.data(), nl) != 0) return bad("local name of " + en.name);
    if (l + 30 + lnl + lxl + en.compressedSize > cdOffset) return bad("data past the directory: " + en.name);
    if (!parseExtra(h + 30 + lnl, lxl, &en.localExtra)) return bad("local extra field of " + en.name);
    const uint8_t* data = h + 30 + lnl + lxl;
    en.raw.assign(h, data + en.compressedSize);
    expectLocal = static_cast<uint32_t>(l + 30 + lnl + lxl + en.compressedSize);
    spans.emplace_back(l, expectLocal);

    if (en.method == 0) {
      if (en.compressedSize != en.uncompressedSize) return bad("stored sizes differ: " + en.name);
      en.data.assign(data, data + en.compressedSize);
    } else if (en.method == 8) {
      if (!inflateRaw(data, en.compressedSize, en.uncompressedSize, &en.data))
        return bad("inflate failed: " + en.name);
    } else if (en.method == 99 && (en.flags & 1)) {
      // Encrypted: the bytes stay as they are, and there is no CRC to check.
      a.entries.push_back(std::move(en));
      continue;
    } else {
      return bad("method " + std::to_string(en.method) + ": " + en.name);
    }
    uint32_t crc = static_cast<uint32_t>(crc32(0, en.data.data(), static_cast<uInt>(en.data.size())));
    if (crc != en.crc) return bad("CRC of " + en.name);
    a.entries.push_back(std::move(en));
  }
  if (p != uint64_t(eocd)) return bad("central directory size");
  if (count && expectLocal != cdOffset) a.contiguous = false;  // unreferenced bytes before it
  std::sort(spans.begin(), spans.end());
  if (!spans.empty()) a.preamble = static_cast<uint32_t>(spans[0].first);
  for (size_t i = 1; i < spans.size(); ++i)
    if (spans[i].first < spans[i - 1].second) return bad("entries overlap");
  a.ok = true;
  return a;
}

inline Archive read(const std::string& path) { return parse(readBytes(path)); }

}  // namespace ztest
