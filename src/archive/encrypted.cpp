#include "archive/encrypted.h"

#include <algorithm>

#include "archive/errors.h"
#include "archive/layout.h"

namespace archive {
namespace {

bool isFolderEntry(const zlitem& item) { return !item.name.empty() && item.name.back() == '/'; }

int readDirectory(JNormFile& f, const std::string& path, TZList* list, EndRecordInfo* end) {
  if (!f.open(path, plat::Access::Read, plat::Disposition::OpenExisting)) return kMissingOrEmpty;
  if (int rc = findEndRecord(f, end, nullptr)) return rc;
  if (!end->needsZip64.empty()) return end->zip64Refused;
  uint32_t preamble = 0;
  return readCentralDirectory(f, static_cast<uint32_t>(end->centralOffset),
                              static_cast<uint32_t>(end->centralSize), end->directoryEnd, list,
                              &preamble);
}

}  // namespace

int readEncryption(const std::string& path, EncryptionFound* out) {
  *out = EncryptionFound();
  JNormFile f;
  TZList list;
  EndRecordInfo end;
  if (int rc = readDirectory(f, path, &list, &end)) return rc;
  FoundDeletions carried;
  if (int rc = readDeletions(f, end, list, &carried)) return rc;
  out->marked = carried.check.has_value();
  const zlitem* first = nullptr;
  aes::Info info;
  for (const zlitem& item : list.items) {
    if (isFolderEntry(item)) continue;
    if (!(item.central.flags & kFlagEncrypted)) {
      ++out->plain;
    } else if (item.central.method == aes::kMethodAes) {
      ++out->encrypted;
      std::string problem;
      if (!first && aes::findInfo(item.centralExtra, &info, &problem) == 1) first = &item;
    }
  }
  if (first) {
    // The salt and the verifier open the entry's data.
    VerifierToTry v;
    v.strength = info.strength;
    const size_t salt = aes::saltSize(info.strength);
    TLocalFileHeader local;
    std::string name;
    std::vector<uint8_t> extra;
    if (int rc = f.seek(first->central.localHeaderOffset, SeekOrigin::Begin)) return rc;
    if (int rc = readLocalRecord(f, &local, &name, &extra)) return rc;
    if (local.signature != kLocalSig) return kStructureInvalid;
    if (first->central.compressedSize < aes::overhead(info.strength)) {
      out->verifierProblem = kCompressedError;
      return kOk;
    }
    if (int rc = f.read(v.salt.data(), static_cast<uint32_t>(salt))) return rc;
    if (int rc = f.read(v.verifier.data(), static_cast<uint32_t>(aes::kVerifierSize))) return rc;
    out->toTry = v;
  } else if (carried.check) {
    VerifierToTry v;
    std::copy(carried.check->salt.begin(), carried.check->salt.end(), v.salt.begin());
    v.verifier = carried.check->verifier;
    out->toTry = v;
  }
  return kOk;
}

int checkPassword(const EncryptionFound& found, const aes::Password& password, PasswordFit* out) {
  *out = PasswordFit::NoneToTry;
  if (found.verifierProblem) return found.verifierProblem;
  if (!found.toTry) return kOk;
  aes::Keys keys;
  if (!aes::deriveKeys(password, found.toTry->salt.data(), found.toTry->strength, &keys))
    return kOutOfMemory;
  *out = aes::sameCode(keys.verifier, found.toTry->verifier.data(), aes::kVerifierSize)
             ? PasswordFit::Fits
             : PasswordFit::Wrong;
  return kOk;
}

bool makePasswordCheck(const aes::Password& password, PasswordCheck* out) {
  PasswordCheck check;
  aes::Keys keys;
  if (!aes::randomSalt(check.salt.data(), check.salt.size()) ||
      !aes::deriveKeys(password, check.salt.data(), aes::kStrength256, &keys))
    return false;
  std::copy(keys.verifier, keys.verifier + aes::kVerifierSize, check.verifier.begin());
  *out = check;
  return true;
}

}  // namespace archive
