#include "carry/digest.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"

namespace carry {
struct Digester::Context {
  struct Free {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
  bool ok = false;
  uLong crc = crc32_z(0, nullptr, 0);
  uint64_t size = 0;
};

Digester::Digester() : c_(std::make_unique<Context>()) { reset(); }
Digester::~Digester() = default;

void Digester::reset() {
  c_->ok = c_->ctx && EVP_DigestInit_ex(c_->ctx.get(), EVP_sha256(), nullptr) == 1;
  c_->crc = crc32_z(0, nullptr, 0);
  c_->size = 0;
}

void Digester::update(const void* data, size_t size) {
  if (c_->ok) c_->ok = EVP_DigestUpdate(c_->ctx.get(), data, size) == 1;
  c_->crc = crc32_z(c_->crc, static_cast<const Bytef*>(data), size);
  c_->size += size;
}

bool Digester::finish(Digest* out) {
  unsigned int len = 0;
  if (!c_->ok || EVP_DigestFinal_ex(c_->ctx.get(), out->sha256.data(), &len) != 1 ||
      len != out->sha256.size())
    return false;
  out->crc32 = static_cast<uint32_t>(c_->crc);
  out->size = c_->size;
  c_->ok = false;
  return true;
}

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
