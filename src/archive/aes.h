#pragma once
// Entries encrypted with AES, in the form other ZIP tools read and write:
// method 99, an extra block 0x9901 that holds the form's version (1 or 2),
// the vendor "AE", the key strength (1, 2, 3: AES-128, -192, -256) and the
// method of the data inside (stored or deflated). The entry's data is
//   salt (8, 12 or 16 bytes), password verifier (2),
//   the compressed bytes encrypted with AES in counter mode,
//   authentication code (10: HMAC-SHA1 over the encrypted bytes, cut).
// The encryption key, the authentication key and the verifier are, in that
// order, the output of PBKDF2-HMAC-SHA1 over the password and the salt with
// 1,000 rounds. The counter is a 16-byte block whose first 8 bytes count
// little-endian from 1. Version 2 entries hold 0 as their CRC (the code
// checks the data, and a CRC would tell too much of a short file); version 1
// entries also hold the CRC of their file.
//
// This program writes version 2 at strength 3 only, and reads every version
// and strength. The primitives come from libcrypto.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/layout.h"

namespace archive::aes {

constexpr uint16_t kMethodAes = 99;
constexpr uint16_t kExtraAes = 0x9901;
constexpr uint16_t kExtraAesLength = 7;
constexpr uint8_t kVersionNeeded = 51;
constexpr uint16_t kVersionCrc = 1;    // AE-1: the CRC is kept
constexpr uint16_t kVersionNoCrc = 2;  // AE-2: the CRC field is 0
constexpr uint8_t kStrength256 = 3;
constexpr size_t kVerifierSize = 2;
constexpr size_t kAuthCodeSize = 10;
constexpr int kRounds = 1000;
constexpr size_t kMaxSalt = 16;
constexpr size_t kMaxKey = 32;

// 8, 12 or 16 for strengths 1, 2, 3; 0 for any other.
size_t saltSize(uint8_t strength);
size_t keySize(uint8_t strength);
// The bytes an encrypted entry's data holds besides its compressed bytes.
inline size_t overhead(uint8_t strength) {
  return saltSize(strength) + kVerifierSize + kAuthCodeSize;
}

// What the extra block 0x9901 says.
struct Info {
  uint16_t version = kVersionNoCrc;
  uint8_t strength = kStrength256;
  uint16_t method = 0;  // of the data inside
};

// The entry's AES block: 1 found and sound (*out filled), 0 none, -1 one
// that this reader cannot take (length, vendor, version, strength or inner
// method; *problem tells which).
int findInfo(const std::vector<uint8_t>& extra, Info* out, std::string* problem);
// Appends the block to an extra field.
void appendInfo(std::vector<uint8_t>* extra, const Info& info);

// A password held in memory only: its bytes are wiped when it goes.
class Password {
 public:
  Password() = default;
  explicit Password(std::string text) : text_(std::move(text)) {}
  Password(const Password& other) : text_(other.text_) {}
  Password& operator=(const Password& other);
  ~Password();
  const std::string& text() const { return text_; }
  bool empty() const { return text_.empty(); }
  void clear();

 private:
  std::string text_;
};

// The keys of one entry, from its salt.
struct Keys {
  uint8_t strength = 0;
  uint8_t encryption[kMaxKey] = {};
  uint8_t authentication[kMaxKey] = {};
  uint8_t verifier[kVerifierSize] = {};
  ~Keys();
};
// False when libcrypto fails (out of memory) or the strength is unknown.
bool deriveKeys(const Password& password, const uint8_t* salt, uint8_t strength, Keys* out);

// A salt from the system's random source; false when it gives none.
bool randomSalt(uint8_t* out, size_t size);

// One entry's data on its way in or out: the counter-mode stream and the
// authentication code over the encrypted bytes.
class Stream {
 public:
  Stream();
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Starts an entry with its keys; false when libcrypto fails.
  bool begin(const Keys& keys);
  // Encrypts (the code then covers the result) or decrypts (the code covers
  // the input) `n` bytes in place, continuing where the last call ended.
  bool encrypt(uint8_t* data, size_t n);
  bool decrypt(uint8_t* data, size_t n);
  // The authentication code of the bytes so far; ends the entry.
  bool finish(uint8_t code[kAuthCodeSize]);

 private:
  bool crypt(uint8_t* data, size_t n);
  bool mac(const uint8_t* data, size_t n);
  struct State;
  std::unique_ptr<State> s_;
};

// This program's load writes beside the AES block a tag of the entry's
// writing: the first four bytes of its salt, which no other writing of the
// entry shares.
constexpr uint16_t kExtraTag = 0x5643;  // "CV"
constexpr uint16_t kExtraTagLength = 4;

// What the directory tells of an entry's bytes, for comparing them with
// what was carried: the CRC-32 of its file; for an entry that hides it
// (version 2), a mark that every new writing of the entry changes: its tag,
// else (written elsewhere) a CRC over where it stands, its sizes and time.
// Two entries of one mark hold the same bytes; a mark that is no CRC says
// nothing about a local file's bytes.
struct BytesMark {
  uint32_t value = 0;
  bool isCrc = true;
};
BytesMark bytesMark(const TCentralFileHeader& central, const std::vector<uint8_t>& centralExtra);

// Compares two codes in time that does not depend on where they differ.
bool sameCode(const uint8_t* a, const uint8_t* b, size_t n);

}  // namespace archive::aes
