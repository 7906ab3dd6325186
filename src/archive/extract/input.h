#pragma once
// The briefcase as an unload run reads it: positions over the run's one
// read buffer (archive/readbuffer.h), which the directory's reader shares.

#include <cstdint>
#include <cstring>

#include "archive/errors.h"
#include "archive/readbuffer.h"

namespace archive::engine {

// Thrown when the briefcase cannot be read (other than its end): the run ends.
struct ReadFailure {};

// Positions are file offsets; one before the start of the file or beyond
// the last offset a briefcase can have yields nothing, as does reading past
// the end of the file.
class ArchiveInput {
 public:
  explicit ArchiveInput(ReadBuffer& in) : in_(in) {}

  void seek(int64_t pos) {
    outside_ = pos < 0 || pos > kLastOffset;
    pos_ = pos;
    if (!outside_) in_.seek(pos, SeekOrigin::Begin);
  }
  int64_t position() const { return outside_ ? pos_ : static_cast<int64_t>(in_.offset()); }

  // Up to `max` bytes at the current position: a pointer into the buffer and
  // their count, 0 at the end of the file. Throws ReadFailure.
  size_t peek(size_t max, const uint8_t** data) {
    if (outside_) return 0;
    in_.clearFailure();
    const size_t got = in_.peek(max, data);
    if (in_.failed()) throw ReadFailure();
    return got;
  }
  void consume(size_t n) { in_.consume(n); }

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

  // A reader of the container's records (archive/layout.h) run on the
  // buffer at the current position; its result, or 12 outside the file.
  // Throws ReadFailure.
  template <class Reader>
  int readWith(Reader&& reader) {
    if (outside_) return kUnexpectedEnd;
    in_.clearFailure();
    const int rc = reader(static_cast<JFile&>(in_));
    if (in_.failed()) throw ReadFailure();
    return rc;
  }

 private:
  static constexpr int64_t kLastOffset = 0xffffffff;

  ReadBuffer& in_;
  int64_t pos_ = 0;
  bool outside_ = false;
};

}  // namespace archive::engine
