// Clear: the container becomes an empty archive that keeps the configuration.

#include "archive/errors.h"
#include "archive/update/update.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace archive {

int ClearBriefcase(TCompress& engine) {
  // The old container stays locked while its replacement is made, so that a
  // run working on it is never mixed with the clear.
  JNormFile old(engine.archivePath, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
  if (old.isOpen() && !old.lockExclusive()) return kCreateFailed;
  if (!old.isOpen() && plat::isAccessDenied(plat::lastError())) return kWriteProtected;
  uint32_t mode = plat::defaultFileMode();
  plat::FileInfo fi;
  bool keepMode = old.isOpen() && old.platformFile()->info(&fi);
  if (keepMode) mode = fi.mode;

  int rc = createContainerAtomically(engine.archivePath, engine.comment, nullptr, true);
  old.close();
  if (rc) return rc;
  if (keepMode) {
    // The empty container gets the old one's permissions back.
    JNormFile created(engine.archivePath, plat::Access::Read, plat::Disposition::OpenExisting);
    if (created.isOpen()) created.platformFile()->setMode(mode);
  }
  engine.endRecord = TEndCentralRecord();
  engine.endRecord.commentLength = static_cast<uint16_t>(engine.comment.size());
  return kOk;
}

}  // namespace archive
