#pragma once
// Little-endian field readers and writers for the archive's records. Every
// record is read and written field by field through these, never by casting
// raw bytes to a structure; a read past the end of the bytes given fails
// (ok() turns false and every later read yields zeros).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace archive {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const std::vector<uint8_t>& v) : data_(v.data()), size_(v.size()) {}

  uint8_t u8() {
    if (!need(1)) return 0;
    return data_[pos_++];
  }
  uint16_t u16() {
    if (!need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    uint32_t v = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
                 (static_cast<uint32_t>(data_[pos_ + 2]) << 16) |
                 (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
  }
  // A record's field, by its width: the records list their fields once, for
  // reading and writing alike (archive/layout.h).
  void field(uint8_t& v) { v = u8(); }
  void field(uint16_t& v) { v = u16(); }
  void field(uint32_t& v) { v = u32(); }
  // n bytes into out (resized); false and nothing taken when fewer remain.
  bool bytes(size_t n, std::vector<uint8_t>* out) {
    if (!need(n)) return false;
    out->assign(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return true;
  }
  bool skip(size_t n) {
    if (!need(n)) return false;
    pos_ += n;
    return true;
  }

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return ok_ ? size_ - pos_ : 0; }

 private:
  bool need(size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(std::vector<uint8_t>* out) : out_(out) {}

  void u8(uint8_t v) { buf().push_back(v); }
  void u16(uint16_t v) {
    buf().push_back(static_cast<uint8_t>(v));
    buf().push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) buf().push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void field(uint8_t v) { u8(v); }
  void field(uint16_t v) { u16(v); }
  void field(uint32_t v) { u32(v); }
  void bytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    buf().insert(buf().end(), b, b + n);
  }
  void bytes(const std::vector<uint8_t>& v) { bytes(v.data(), v.size()); }

  const std::vector<uint8_t>& data() const { return out_ ? *out_ : own_; }
  size_t size() const { return data().size(); }

 private:
  std::vector<uint8_t>& buf() { return out_ ? *out_ : own_; }
  std::vector<uint8_t>* out_ = nullptr;
  std::vector<uint8_t> own_;
};

// Writes a 16- or 32-bit value into an existing buffer at an offset (for
// fields patched after the fact); the caller guarantees the room.
inline void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace archive
