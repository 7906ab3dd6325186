#pragma once
// A read buffer over the container for the run: the directory and the local
// headers are read in many small pieces, which the buffer serves from memory;
// reads of a block or more go straight to the file.

#include <cstdint>
#include <vector>

#include "archive/layout.h"

namespace archive {

class ReadBuffer final : public JFile {
 public:
  static constexpr size_t kSize = 65536;

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

 private:
  // Reads up to n bytes at `at` from the file; the count read.
  int readAt(uint64_t at, uint8_t* out, uint32_t n, uint32_t* got);

  JNormFile& file_;
  std::vector<uint8_t> buf_;
  uint64_t bufStart_ = 0;
  uint32_t bufLength_ = 0;
  uint64_t pos_ = 0;
  uint64_t fileAt_ = UINT64_MAX;  // the file's own position, when known
};

}  // namespace archive
