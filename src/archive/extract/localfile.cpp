#include "archive/extract/localfile.h"

#include <cerrno>

#include "archive/leftovers.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/unnamed.h"

namespace archive {
namespace {

std::string tempPrefix() { return temporaryPrefix(TempKind::Unload); }

}  // namespace

std::string LocalFileWriter::folderOf(const std::string& target) {
  std::string folder = plat::parentFolder(target);
  if (folder.empty())
    folder = (!target.empty() && target[0] == '/') ? std::string("/") : std::string(".");
  return folder;
}

void LocalFileWriter::sweep(const std::string& target, std::unordered_set<std::string>* swept) {
  const std::string folder = folderOf(target);
  if (swept->insert(folder).second) removeLeftTemporaries(folder, TempKind::Unload);
}

bool LocalFileWriter::begin(const std::string& target, std::unordered_set<std::string>* swept) {
  rollback();
  target_ = target;
  folder_ = folderOf(target);
  if (swept) sweep(target, swept);
  out_ = plat::createUnnamed(folder_);
  unnamed_ = out_ != nullptr;
  if (!out_) out_ = plat::fileSystem().createTemp(folder_, tempPrefix(), &tempPath_);
  if (!out_) {
    tempPath_.clear();
    return false;
  }
  return true;
}

bool LocalFileWriter::commit(bool existing, bool durable, plat::FileInfo* written,
                             const std::function<void()>& beforeReplace) {
  if (!out_) {
    plat::setLastError(EBADF);
    return false;
  }
  auto failed = [this] {
    const int err = plat::lastError();
    rollback();
    plat::setLastError(err);
    return false;
  };
  if ((durable && !out_->sync()) || !out_->info(written)) return failed();

  if (unnamed_) {
    // A new file takes its name in one step; a file that appeared there in
    // the meantime is not replaced.
    if (!existing) {
      if (!plat::linkUnnamed(*out_, target_)) return failed();
      const bool closed = out_->close();
      out_.reset();
      if (!closed) {
        const int err = plat::lastError();
        plat::fileSystem().remove(target_);
        plat::setLastError(err);
        return false;
      }
      return true;
    }
    if (!plat::linkUnnamedUnique(*out_, folder_, tempPrefix(), &tempPath_)) {
      tempPath_.clear();
      return failed();
    }
  }
  if (!out_->close()) return failed();
  out_.reset();
  // The old file is replaced here, in one step.
  if (existing && beforeReplace) beforeReplace();
  const bool placed = existing ? plat::fileSystem().rename(tempPath_, target_)
                               : plat::fileSystem().renameNoReplace(tempPath_, target_);
  if (!placed) return failed();
  tempPath_.clear();
  return true;
}

void LocalFileWriter::rollback() {
  if (out_) {
    out_->close();
    out_.reset();
  }
  if (!tempPath_.empty()) {
    plat::fileSystem().remove(tempPath_);
    tempPath_.clear();
  }
}

}  // namespace archive
