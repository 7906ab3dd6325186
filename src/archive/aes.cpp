#include "archive/aes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <zlib.h>

#include "archive/bytes.h"

namespace archive::aes {
namespace {

constexpr size_t kBlock = 16;
// Counter blocks encrypted at a time: the key stream of 4 KiB.
constexpr size_t kStreamBlocks = 256;

const EVP_CIPHER* cipherFor(uint8_t strength) {
  // Fetched once each: an implicit fetch at every entry costs a lookup.
  static EVP_CIPHER* const ciphers[] = {EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr),
                                        EVP_CIPHER_fetch(nullptr, "AES-192-ECB", nullptr),
                                        EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr)};
  return strength >= 1 && strength <= 3 ? ciphers[strength - 1] : nullptr;
}

EVP_MAC* hmac() {
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  return mac;
}

}  // namespace

size_t saltSize(uint8_t strength) {
  return strength >= 1 && strength <= 3 ? 4u + 4u * strength : 0;
}
size_t keySize(uint8_t strength) { return strength >= 1 && strength <= 3 ? 8u + 8u * strength : 0; }

int findInfo(const std::vector<uint8_t>& extra, Info* out, std::string* problem) {
  ByteReader r(extra);
  while (r.remaining() >= 4) {
    const uint16_t id = r.u16(), len = r.u16();
    if (id != kExtraAes) {
      if (!r.skip(len)) break;
      continue;
    }
    std::vector<uint8_t> block;
    if (len != kExtraAesLength || !r.bytes(len, &block)) {
      *problem = "AES block of " + std::to_string(len) + " bytes";
      return -1;
    }
    ByteReader b(block);
    Info info;
    info.version = b.u16();
    const uint8_t vendor0 = b.u8(), vendor1 = b.u8();
    info.strength = b.u8();
    info.method = b.u16();
    if (vendor0 != 'A' || vendor1 != 'E')
      *problem = "AES block of another vendor";
    else if (info.version != kVersionCrc && info.version != kVersionNoCrc)
      *problem = "AES version " + std::to_string(info.version);
    else if (saltSize(info.strength) == 0)
      *problem = "AES strength " + std::to_string(info.strength);
    else if (info.method != 0 && info.method != 8)
      *problem = "method " + std::to_string(info.method) + " inside AES";
    else {
      *out = info;
      return 1;
    }
    return -1;
  }
  return 0;
}

void appendInfo(std::vector<uint8_t>* extra, const Info& info) {
  ByteWriter w(extra);
  w.u16(kExtraAes);
  w.u16(kExtraAesLength);
  w.u16(info.version);
  w.u8('A');
  w.u8('E');
  w.u8(info.strength);
  w.u16(info.method);
}

Password& Password::operator=(const Password& other) {
  if (this != &other) {
    clear();
    text_ = other.text_;
  }
  return *this;
}

Password::~Password() { clear(); }

void Password::clear() {
  if (!text_.empty()) OPENSSL_cleanse(text_.data(), text_.size());
  text_.clear();
  text_.shrink_to_fit();
}

Keys::~Keys() {
  OPENSSL_cleanse(encryption, sizeof encryption);
  OPENSSL_cleanse(authentication, sizeof authentication);
}

bool deriveKeys(const Password& password, const uint8_t* salt, uint8_t strength, Keys* out) {
  const size_t key = keySize(strength);
  if (key == 0) return false;
  uint8_t derived[2 * kMaxKey + kVerifierSize];
  const size_t length = 2 * key + kVerifierSize;
  const bool ok =
      PKCS5_PBKDF2_HMAC_SHA1(password.text().data(), static_cast<int>(password.text().size()), salt,
                             static_cast<int>(saltSize(strength)), kRounds,
                             static_cast<int>(length), derived) == 1;
  if (ok) {
    out->strength = strength;
    std::memcpy(out->encryption, derived, key);
    std::memcpy(out->authentication, derived + key, key);
    std::memcpy(out->verifier, derived + 2 * key, kVerifierSize);
  }
  OPENSSL_cleanse(derived, sizeof derived);
  return ok;
}

bool randomSalt(uint8_t* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = getrandom(out + got, size - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

struct Stream::State {
  EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
  EVP_MAC_CTX* mac = hmac() ? EVP_MAC_CTX_new(hmac()) : nullptr;
  uint64_t counter = 0;
  uint8_t blocks[kStreamBlocks * kBlock];
  uint8_t stream[kStreamBlocks * kBlock];
  size_t used = 0, available = 0;  // of the key stream
  ~State() {
    EVP_CIPHER_CTX_free(cipher);
    EVP_MAC_CTX_free(mac);
    OPENSSL_cleanse(stream, sizeof stream);
  }
};

Stream::Stream() : s_(std::make_unique<State>()) {}
Stream::~Stream() = default;

bool Stream::begin(const Keys& keys) {
  const EVP_CIPHER* cipher = cipherFor(keys.strength);
  if (!s_->cipher || !s_->mac || !cipher) return false;
  if (EVP_EncryptInit_ex2(s_->cipher, cipher, keys.encryption, nullptr, nullptr) != 1) return false;
  EVP_CIPHER_CTX_set_padding(s_->cipher, 0);
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (EVP_MAC_init(s_->mac, keys.authentication, keySize(keys.strength), params) != 1) return false;
  s_->counter = 0;
  s_->used = s_->available = 0;
  std::memset(s_->blocks, 0, sizeof s_->blocks);
  return true;
}

bool Stream::crypt(uint8_t* data, size_t n) {
  State& s = *s_;
  while (n > 0) {
    if (s.used == s.available) {
      // The next counter blocks: the first 8 bytes little-endian, the rest 0.
      for (size_t i = 0; i < kStreamBlocks; ++i) {
        const uint64_t c = ++s.counter;
        for (size_t b = 0; b < 8; ++b)
          s.blocks[i * kBlock + b] = static_cast<uint8_t>(c >> (8 * b));
      }
      int out = 0;
      if (EVP_EncryptUpdate(s.cipher, s.stream, &out, s.blocks, sizeof s.blocks) != 1 ||
          out != static_cast<int>(sizeof s.stream))
        return false;
      s.used = 0;
      s.available = sizeof s.stream;
    }
    const size_t take = std::min(n, s.available - s.used);
    const uint8_t* k = s.stream + s.used;
    for (size_t i = 0; i < take; ++i) data[i] ^= k[i];
    s.used += take;
    data += take;
    n -= take;
  }
  return true;
}

bool Stream::mac(const uint8_t* data, size_t n) {
  return n == 0 || EVP_MAC_update(s_->mac, data, n) == 1;
}

bool Stream::encrypt(uint8_t* data, size_t n) { return crypt(data, n) && mac(data, n); }
bool Stream::decrypt(uint8_t* data, size_t n) { return mac(data, n) && crypt(data, n); }

bool Stream::finish(uint8_t code[kAuthCodeSize]) {
  uint8_t full[EVP_MAX_MD_SIZE];
  size_t length = 0;
  if (EVP_MAC_final(s_->mac, full, &length, sizeof full) != 1 || length < kAuthCodeSize)
    return false;
  std::memcpy(code, full, kAuthCodeSize);
  return true;
}

BytesMark bytesMark(const TCentralFileHeader& central, const std::vector<uint8_t>& centralExtra) {
  if (!(central.flags & kFlagEncrypted) || central.method != kMethodAes) return {central.crc, true};
  Info info;
  std::string problem;
  if (findInfo(centralExtra, &info, &problem) == 1 && info.version == kVersionCrc)
    return {central.crc, true};
  ByteReader r(centralExtra);
  while (r.remaining() >= 4) {
    const uint16_t id = r.u16(), len = r.u16();
    if (id == kExtraTag && len == kExtraTagLength) return {r.u32(), false};
    if (!r.skip(len)) break;
  }
  ByteWriter w;
  w.u32(central.localHeaderOffset);
  w.u32(central.compressedSize);
  w.u32(central.uncompressedSize);
  w.u16(central.time);
  w.u16(central.date);
  return {static_cast<uint32_t>(crc32(0, w.data().data(), static_cast<uInt>(w.size()))), false};
}

bool sameCode(const uint8_t* a, const uint8_t* b, size_t n) { return CRYPTO_memcmp(a, b, n) == 0; }

}  // namespace archive::aes
