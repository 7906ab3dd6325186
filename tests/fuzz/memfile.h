#pragma once
// An archive stream over bytes in memory, for the fuzz targets.

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/errors.h"
#include "archive/layout.h"

class MemFile : public archive::JFile {
 public:
  explicit MemFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool isOpen() const override { return true; }
  int read(void* buf, uint32_t count) override {
    size_t avail = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
    size_t n = std::min<size_t>(avail, count);
    if (n) std::memcpy(buf, bytes_.data() + pos_, n);
    pos_ += n;
    lastTransfer_ = static_cast<uint32_t>(n);
    position_ = static_cast<uint32_t>(pos_);
    return n < count ? archive::kUnexpectedEnd : archive::kOk;
  }
  int write(const void* buf, uint32_t count) override {
    if (pos_ + count > bytes_.size()) bytes_.resize(pos_ + count);
    std::memcpy(bytes_.data() + pos_, buf, count);
    pos_ += count;
    lastTransfer_ = count;
    position_ = static_cast<uint32_t>(pos_);
    return archive::kOk;
  }
  int seek(int64_t distance, archive::SeekOrigin origin) override {
    int64_t base = origin == archive::SeekOrigin::Begin     ? 0
                   : origin == archive::SeekOrigin::Current ? static_cast<int64_t>(pos_)
                                                            : static_cast<int64_t>(bytes_.size());
    int64_t p = base + distance;
    if (p < 0) return archive::kReadSeekFailure;
    pos_ = static_cast<size_t>(p);
    position_ = static_cast<uint32_t>(pos_);
    return archive::kOk;
  }
  int size(uint32_t* out) override {
    *out = static_cast<uint32_t>(bytes_.size());
    return archive::kOk;
  }
  bool canSeek() const override { return true; }
  int64_t search(uint32_t rangeStart, uint32_t rangeEnd, const uint8_t* pattern, uint32_t len,
                 bool backwards) override {
    rangeEnd = std::min<uint32_t>(rangeEnd, static_cast<uint32_t>(bytes_.size()));
    if (rangeEnd < rangeStart || rangeEnd - rangeStart < len) return -1;
    if (backwards) {
      for (uint32_t i = rangeEnd - len + 1; i-- > rangeStart;)
        if (std::memcmp(bytes_.data() + i, pattern, len) == 0) return i;
    } else {
      for (uint32_t i = rangeStart; i + len <= rangeEnd; ++i)
        if (std::memcmp(bytes_.data() + i, pattern, len) == 0) return i;
    }
    return -1;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};
