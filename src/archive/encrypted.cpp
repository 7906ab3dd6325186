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
  for (const zlitem& item : list.items) {
    if (isFolderEntry(item)) continue;
    if (!(item.central.flags & kFlagEncrypted))
      ++out->plain;
    else if (item.central.method == aes::kMethodAes)
      ++out->encrypted;
  }
  return kOk;
}

int checkPassword(const std::string& path, const aes::Password& password, PasswordFit* out) {
  *out = PasswordFit::NoneToTry;
  JNormFile f;
  TZList list;
  EndRecordInfo end;
  if (int rc = readDirectory(f, path, &list, &end)) return rc;
  for (const zlitem& item : list.items) {
    aes::Info info;
    std::string problem;
    if (!(item.central.flags & kFlagEncrypted) || item.central.method != aes::kMethodAes ||
        aes::findInfo(item.centralExtra, &info, &problem) != 1)
      continue;
    TLocalFileHeader local;
    std::string name;
    std::vector<uint8_t> extra;
    if (int rc = f.seek(item.central.localHeaderOffset, SeekOrigin::Begin)) return rc;
    if (int rc = readLocalRecord(f, &local, &name, &extra)) return rc;
    if (local.signature != kLocalSig) return kStructureInvalid;
    const size_t salt = aes::saltSize(info.strength);
    if (item.central.compressedSize < aes::overhead(info.strength)) return kCompressedError;
    uint8_t head[aes::kMaxSalt + aes::kVerifierSize];
    if (int rc = f.read(head, static_cast<uint32_t>(salt + aes::kVerifierSize))) return rc;
    aes::Keys keys;
    if (!aes::deriveKeys(password, head, info.strength, &keys)) return kOutOfMemory;
    *out = aes::sameCode(keys.verifier, head + salt, aes::kVerifierSize) ? PasswordFit::Fits
                                                                         : PasswordFit::Wrong;
    return kOk;
  }
  // No encrypted entry yet: the check the block carries.
  FoundDeletions carried;
  if (int rc = readDeletions(f, end, list, &carried)) return rc;
  if (!carried.check) return kOk;
  aes::Keys keys;
  if (!aes::deriveKeys(password, carried.check->salt.data(), aes::kStrength256, &keys))
    return kOutOfMemory;
  *out = aes::sameCode(keys.verifier, carried.check->verifier.data(), aes::kVerifierSize)
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
