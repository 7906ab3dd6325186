#pragma once
// Whether a briefcase is encrypted, and whether a password opens it: both
// told by the container alone (its directory, and the salt and verifier of
// its first encrypted entry).

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "archive/aes.h"
#include "archive/deletions.h"

namespace archive {

// The caption of every question for an encrypted briefcase's password.
constexpr const char* kPasswordCaption = "Encrypted Briefcase";

// A salt and the verifier a password gives with it, at a strength.
struct VerifierToTry {
  uint8_t strength = aes::kStrength256;
  std::array<uint8_t, aes::kMaxSalt> salt{};
  std::array<uint8_t, aes::kVerifierSize> verifier{};
};

struct EncryptionFound {
  size_t encrypted = 0;  // files whose entries are encrypted with AES
  size_t plain = 0;      // files whose entries are not encrypted
                         // (entries of another encryption count in neither)
  bool marked = false;   // the deletions block carries a password check
  // What a password is tried on: the first AES entry's salt and verifier,
  // else the block's check; unset when there is neither.
  std::optional<VerifierToTry> toTry;
  // kCompressedError when the first AES entry is too short to hold them.
  int verifierProblem = 0;
  // Encrypted entries, or none yet and the mark of an encrypted briefcase.
  bool isEncrypted() const { return encrypted > 0 || marked; }
  // Both kinds: an encryption change was interrupted (kMixedEncryption).
  bool isMixed() const { return isEncrypted() && plain > 0; }
};

// Counts the briefcase's file entries by kind (folder entries hold no
// bytes and are not counted), and reads what a password is tried on: one
// pass over the directory, the deletions block and one local header.
// Result: kOk, or the code of the read.
int readEncryption(const std::string& path, EncryptionFound* out);

enum class PasswordFit {
  Fits,      // the verifier matches
  Wrong,     // it does not
  NoneToTry  // the briefcase holds neither an AES entry nor a check
};
// Tries the password on what readEncryption found: one key derivation,
// before any file is written. Result: kOk, verifierProblem, or kOutOfMemory.
int checkPassword(const EncryptionFound& found, const aes::Password& password, PasswordFit* out);

// The password check of a new encrypted briefcase: a new salt and the
// verifier of `password` with it. False when the system's random source or
// libcrypto fails.
bool makePasswordCheck(const aes::Password& password, PasswordCheck* out);

}  // namespace archive
