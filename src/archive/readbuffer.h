#pragma once
// The one read buffer over a container: its directory and local headers are
// read in many small pieces, which the buffer serves from memory. It is a
// JFile (reads of a block or more go straight to the file) and an input by
// position (peek, consume), so that every reader of a run shares it and none
// has to start afresh after another moved the file's position.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/layout.h"

namespace archive {

class ReadBuffer final : public JFile {
 public:
  static constexpr size_t kSize = 65536;
  static constexpr size_t kJumpSize = 4096;

  explicit ReadBuffer(JNormFile& file) : file_(file), buf_(kSize) {}

  bool isOpen() const override { return file_.isOpen(); }
  int read(void* buf, uint32_t count) override;
  int write(const void*, uint32_t) override { return 24; }
  int seek(int64_t distance, SeekOrigin origin) override;
  int size(uint32_t* out) override { return file_.size(out); }
  bool canSeek() const override { return true; }
  int64_t search(uint32_t rangeStart, uint32_t rangeEnd, const uint8_t* pattern,
                 uint32_t patternLength, bool backwards) override {
    fileAt_ = UINT64_MAX;
    return file_.search(rangeStart, rangeEnd, pattern, patternLength, backwards);
  }

  // Up to `max` bytes at the position, from the buffer (filled at the
  // position when it is outside): a pointer and their count, 0 at the end of
  // the file or when the file could not be read (failed() tells).
  size_t peek(size_t max, const uint8_t** data);
  void consume(size_t n) {
    pos_ += n;
    position_ = static_cast<uint32_t>(pos_);
  }
  uint64_t offset() const { return pos_; }

  // Whether a seek or a read of the file failed (rather than met its end)
  // since the last clearFailure().
  bool failed() const { return failed_; }
  void clearFailure() { failed_ = false; }

 private:
  uint32_t fillSize() const;
  // Reads up to n bytes at `at` from the file; the count read.
  int readAt(uint64_t at, uint8_t* out, uint32_t n, uint32_t* got);

  JNormFile& file_;
  std::vector<uint8_t> buf_;
  uint64_t bufStart_ = 0;
  uint32_t bufLength_ = 0;
  uint64_t pos_ = 0;
  uint64_t fileAt_ = UINT64_MAX;  // the file's own position, when known
  bool failed_ = false;
};

}  // namespace archive
