#pragma once
// Whether a briefcase is encrypted, and whether a password opens it: both
// told by the container alone (its directory, and the salt and verifier of
// its first encrypted entry).

#include <cstddef>
#include <string>

#include "archive/aes.h"
#include "archive/deletions.h"

namespace archive {

struct EncryptionFound {
  size_t encrypted = 0;  // files whose entries are encrypted with AES
  size_t plain = 0;      // files whose entries are not encrypted
                         // (entries of another encryption count in neither)
  bool marked = false;   // the deletions block carries a password check
  // Encrypted entries, or none yet and the mark of an encrypted briefcase.
  bool isEncrypted() const { return encrypted > 0 || marked; }
  // Both kinds: an encryption change was interrupted (kMixedEncryption).
  bool isMixed() const { return isEncrypted() && plain > 0; }
};

// Counts the briefcase's file entries by kind (folder entries hold no
// bytes and are not counted). Result: kOk, or the code of the read.
int readEncryption(const std::string& path, EncryptionFound* out);

enum class PasswordFit {
  Fits,      // the verifier of the first encrypted entry matches
  Wrong,     // it does not
  NoneToTry  // the briefcase holds no AES entry
};
// Tries the password on the briefcase's first AES entry, else on the
// password check its deletions block carries: one key derivation, before
// any file is written. Result: kOk, or the code of the
// read (kCompressedError when that entry is too short to hold a verifier).
int checkPassword(const std::string& path, const aes::Password& password, PasswordFit* out);

// The password check of a new encrypted briefcase: a new salt and the
// verifier of `password` with it. False when the system's random source or
// libcrypto fails.
bool makePasswordCheck(const aes::Password& password, PasswordCheck* out);

}  // namespace archive
