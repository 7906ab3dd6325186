#include "archive/extract/localfile.h"

#include <cerrno>

#include "platform/errors.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/unnamed.h"

namespace archive {
namespace {

constexpr const char kTempStart[] = ".brc-unload-";
constexpr size_t kRandomLength = 6;  // the unique part that createTemp adds

std::string tempPrefix() { return kTempStart + std::to_string(plat::processId()) + "-"; }

bool isAlnum(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

}  // namespace

bool isUnloadTempName(const std::string& name, int* pid) {
  const size_t start = sizeof kTempStart - 1;
  if (name.compare(0, start, kTempStart) != 0) return false;
  size_t i = start;
  long value = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 10)
    value = value * 10 + (name[i++] - '0');
  if (i == start || name[start] == '0' || value > 0x7FFFFFFF) return false;
  if (i >= name.size() || name[i] != '-' || name.size() != i + 1 + kRandomLength) return false;
  for (size_t k = i + 1; k < name.size(); ++k)
    if (!isAlnum(name[k])) return false;
  *pid = static_cast<int>(value);
  return true;
}

void removeLeftTemporaries(const std::string& folder) {
  plat::FolderEnum dir;
  if (!dir.open(folder)) return;
  const int self = plat::processId();
  plat::FindData d;
  while (dir.next(&d, false)) {
    int pid = 0;
    if (!isUnloadTempName(d.name, &pid)) continue;
    // Another run of ours that is still going keeps its file.
    if (pid != self && plat::processRunning(pid)) continue;
    if (!dir.readInfo(&d) || !d.info.isRegular || d.info.isSymlink) continue;
    plat::fileSystem().remove(plat::joinPath(folder, d.name));
  }
}

std::string LocalFileWriter::folderOf(const std::string& target) {
  std::string folder = plat::parentFolder(target);
  if (folder.empty())
    folder = (!target.empty() && target[0] == '/') ? std::string("/") : std::string(".");
  return folder;
}

void LocalFileWriter::sweep(const std::string& target, std::unordered_set<std::string>* swept) {
  const std::string folder = folderOf(target);
  if (swept->insert(folder).second) removeLeftTemporaries(folder);
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
