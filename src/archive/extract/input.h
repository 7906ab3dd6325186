#pragma once
// The briefcase as an unload run reads it: one buffer over the file,
// served by position (peek, consume).

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/errors.h"
#include "platform/files.h"

namespace archive::engine {

// Thrown when the briefcase cannot be read (other than its end): the run ends.
struct ReadFailure {};

// The briefcase read through the run's work buffer. Positions are file
// offsets; reading past the end of the file yields nothing.
class ArchiveInput {
 public:
  ArchiveInput(plat::File* f, uint8_t* buf, size_t cap) : f_(f), buf_(buf), cap_(cap) {}

  void seek(int64_t pos) { pos_ = pos; }
  int64_t position() const { return pos_; }

  // Up to `max` bytes at the current position: a pointer into the buffer and
  // their count, 0 at the end of the file. Throws ReadFailure.
  size_t peek(size_t max, const uint8_t** data) {
    if (pos_ < bufStart_ || pos_ >= bufStart_ + static_cast<int64_t>(bufLen_)) fill();
    size_t avail = bufLen_ - static_cast<size_t>(pos_ - bufStart_);
    if (pos_ < bufStart_ || bufLen_ == 0) avail = 0;
    *data = buf_ + (pos_ - bufStart_);
    return std::min(avail, max);
  }
  void consume(size_t n) { pos_ += static_cast<int64_t>(n); }

  // Exactly n bytes: 0, or 12 when the file ends first. Throws ReadFailure.
  int read(void* out, size_t n) {
    uint8_t* o = static_cast<uint8_t*>(out);
    while (n > 0) {
      const uint8_t* p;
      size_t got = peek(n, &p);
      if (got == 0) return kUnexpectedEnd;
      std::memcpy(o, p, got);
      consume(got);
      o += got;
      n -= got;
    }
    return kOk;
  }
  int skip(size_t n) {
    while (n > 0) {
      const uint8_t* p;
      size_t got = peek(n, &p);
      if (got == 0) return kUnexpectedEnd;
      consume(got);
      n -= got;
    }
    return kOk;
  }

 private:
  void fill() {
    bufStart_ = pos_;
    bufLen_ = 0;
    if (pos_ < 0) return;
    if (pos_ != filePos_) {
      filePos_ = -1;
      if (!f_->seek(pos_, plat::Origin::Begin, nullptr)) throw ReadFailure();
    }
    size_t got = 0;
    if (!f_->read(buf_, cap_, &got)) throw ReadFailure();
    bufLen_ = got;
    filePos_ = pos_ + static_cast<int64_t>(got);
  }

  plat::File* f_;
  uint8_t* buf_;
  size_t cap_;
  int64_t pos_ = 0;
  int64_t bufStart_ = 0;
  size_t bufLen_ = 0;
  int64_t filePos_ = -1;  // where the file's own position is, when known
};

}  // namespace archive::engine
