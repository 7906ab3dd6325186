#include "carry/digest.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"

namespace carry {
namespace {

// One pass over a file's bytes: SHA-256, CRC-32 and the count.
class Digester {
 public:
  Digester() : ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) == 1;
  }
  void update(const void* data, size_t size) {
    if (ok_) ok_ = EVP_DigestUpdate(ctx_.get(), data, size) == 1;
    crc_ = crc32_z(crc_, static_cast<const Bytef*>(data), size);
    size_ += size;
  }
  bool finish(Digest* out) {
    unsigned int len = 0;
    if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), out->sha256.data(), &len) != 1 ||
        len != out->sha256.size())
      return false;
    out->crc32 = static_cast<uint32_t>(crc_);
    out->size = size_;
    return true;
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx_;
  bool ok_ = false;
  uLong crc_ = crc32_z(0, nullptr, 0);
  uint64_t size_ = 0;
};

}  // namespace

Digest digestBytes(const void* data, size_t size) {
  Digester d;
  d.update(data, size);
  Digest out;
  d.finish(&out);
  return out;
}

bool digestFile(const std::string& path, Digest* out, std::string* error) {
  // Through the platform's file layer, like every other read of a local file.
  std::unique_ptr<plat::File> f =
      plat::fileSystem().open(path, plat::Access::Read, plat::Disposition::OpenExisting);
  if (!f) {
    if (error) *error = plat::lastErrorText();
    return false;
  }
  Digester d;
  // Read into, never zeroed.
  constexpr size_t kChunk = 1 << 16;
  const std::unique_ptr<unsigned char[]> buf(new unsigned char[kChunk]);
  size_t n = 0;
  for (;;) {
    if (!f->read(buf.get(), kChunk, &n)) {
      if (error) *error = plat::lastErrorText();
      return false;
    }
    if (n == 0) break;
    d.update(buf.get(), n);
  }
  if (!d.finish(out)) {
    if (error) *error = "the hash could not be computed";
    return false;
  }
  return true;
}

std::string hashHex(const Hash& hash) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : hash) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 15]);
  }
  return s;
}

}  // namespace carry
