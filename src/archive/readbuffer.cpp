#include "archive/readbuffer.h"

#include <algorithm>
#include <cstring>

#include "archive/errors.h"

namespace archive {

int ReadBuffer::readAt(uint64_t at, uint8_t* out, uint32_t n, uint32_t* got) {
  *got = 0;
  if (fileAt_ != at) {
    if (int rc = file_.seek(static_cast<int64_t>(at), SeekOrigin::Begin)) {
      fileAt_ = UINT64_MAX;
      failed_ = true;
      return rc;
    }
  }
  int rc = file_.read(out, n);
  *got = file_.lastTransfer();
  if (file_.readFailed()) failed_ = true;
  fileAt_ = at + *got;
  return rc == kUnexpectedEnd && *got < n ? kOk : rc;
}

uint32_t ReadBuffer::fillSize() const {
  // Reading on from the buffer's end takes a whole buffer; a jump (to a
  // local header, mostly) takes what a header and its name need, which on
  // a slow stick is most of the cost of reading many of them.
  return pos_ == bufStart_ + bufLength_ ? kSize : kJumpSize;
}

size_t ReadBuffer::peek(size_t max, const uint8_t** data) {
  if (pos_ < bufStart_ || pos_ >= bufStart_ + bufLength_) {
    const uint32_t size = fillSize();
    bufStart_ = pos_;
    bufLength_ = 0;
    uint32_t got = 0;
    if (readAt(pos_, buf_.data(), size, &got) == kOk) bufLength_ = got;
  }
  const size_t off = static_cast<size_t>(pos_ - bufStart_);
  *data = buf_.data() + off;
  return std::min<size_t>(max, bufLength_ - off);
}

int ReadBuffer::read(void* buf, uint32_t count) {
  uint8_t* out = static_cast<uint8_t*>(buf);
  uint32_t done = 0;
  lastTransfer_ = 0;
  while (done < count) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLength_) {
      uint32_t off = static_cast<uint32_t>(pos_ - bufStart_);
      uint32_t n = std::min(count - done, bufLength_ - off);
      std::memcpy(out + done, buf_.data() + off, n);
      done += n;
      pos_ += n;
      continue;
    }
    uint32_t got = 0;
    if (count - done >= kSize) {
      // A large read bypasses the buffer.
      if (int rc = readAt(pos_, out + done, count - done, &got)) return rc;
      done += got;
      pos_ += got;
      if (got == 0) break;
      continue;
    }
    if (int rc = readAt(pos_, buf_.data(), std::max<uint32_t>(fillSize(), count - done), &got)) return rc;
    bufStart_ = pos_;
    bufLength_ = got;
    if (got == 0) break;
  }
  lastTransfer_ = done;
  position_ = static_cast<uint32_t>(pos_);
  return done < count ? kUnexpectedEnd : kOk;
}

int ReadBuffer::seek(int64_t distance, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) {
    base = static_cast<int64_t>(pos_);
  } else if (origin == SeekOrigin::End) {
    uint32_t s = 0;
    if (int rc = file_.size(&s)) return rc;
    base = s;
  }
  int64_t p = base + distance;
  if (p < 0 || p > 0xffffffffLL) return kReadSeekFailure;
  pos_ = static_cast<uint64_t>(p);
  position_ = static_cast<uint32_t>(pos_);
  return kOk;
}

}  // namespace archive
