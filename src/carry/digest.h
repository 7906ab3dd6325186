#pragma once
// The content of a local file as the carry record keeps it: a SHA-256 of its
// bytes (through libcrypto) and, from the same pass, the CRC-32 and the size
// that a briefcase entry of the same bytes would carry.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace carry {

using Hash = std::array<uint8_t, 32>;

struct Digest {
  Hash sha256{};
  uint32_t crc32 = 0;
  uint64_t size = 0;
};

// The digest of bytes given piece by piece (a file as it is written).
class Digester {
 public:
  Digester();
  ~Digester();
  Digester(const Digester&) = delete;
  Digester& operator=(const Digester&) = delete;
  void reset();
  void update(const void* data, size_t size);
  // False when the hash could not be computed; the digester then wants a reset.
  bool finish(Digest* out);

 private:
  struct Context;
  std::unique_ptr<Context> c_;
};

// The digest of `size` bytes at `data`.
Digest digestBytes(const void* data, size_t size);

// Reads the file at `path` to its end; false (with the system's text in
// *error) when it cannot be opened or read. Symbolic links are followed: the
// caller decides beforehand which files are read.
bool digestFile(const std::string& path, Digest* out, std::string* error);

// Lower-case hexadecimal, for messages and tests.
std::string hashHex(const Hash& hash);

}  // namespace carry
