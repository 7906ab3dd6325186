#include "archive/compress.h"

#include "archive/append.h"
#include "archive/errors.h"

namespace archive {

TCompress::TCompress() = default;
TCompress::~TCompress() = default;

bool TCompress::createEmpty() {
  endRecord = TEndCentralRecord();
  comment.clear();
  return createEmptyContainer(archivePath);
}

int TCompress::readEndRecord() {
  appendUndone =
      undoInterruptedAppend(archivePath, update.heldLock.get(), nullptr) == AppendRepair::Undone;
  JNormFile f(archivePath, plat::Access::Read, plat::Disposition::OpenExisting);
  if (!f.isOpen()) return kMissingOrEmpty;
  EndRecordInfo info;
  int rc = findEndRecord(f, &info, [this](const std::string& s) { sendConfigMessage(s); });
  if (rc) return rc;
  endRecord = info.record;
  comment = std::move(info.comment);
  return kOk;
}

int TCompress::rewriteComment() {
  return archive::rewriteComment(archivePath, comment,
                                 [this](const std::string& s) { sendConfigMessage(s); },
                                 update.heldLock.get());
}

void TCompress::sendMessage(const std::string& text) const {
  if (callbacks.message) callbacks.message(text);
}

void TCompress::sendConfigMessage(const std::string& text) const {
  if (callbacks.configMessage) callbacks.configMessage(text);
}

}  // namespace archive
