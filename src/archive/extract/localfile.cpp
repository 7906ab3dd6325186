#include "archive/extract/localfile.h"

#include <cerrno>

#include "archive/leftovers.h"
#include "platform/errors.h"
#include "platform/paths.h"

namespace archive {

std::string LocalFileWriter::folderOf(const std::string& target) {
  std::string folder = plat::parentFolder(target);
  if (folder.empty())
    folder = (!target.empty() && target[0] == '/') ? std::string("/") : std::string(".");
  return folder;
}

void LocalFileWriter::sweep(const std::string& target, plat::RunFolders* run) {
  const std::string folder = folderOf(target);
  if (run->firstVisit(folder)) removeLeftTemporaries(folder, TempKind::Unload);
}

bool LocalFileWriter::begin(const std::string& target, plat::RunFolders* run) {
  target_ = target;
  return out_.begin(folderOf(target), temporaryStart(TempKind::Unload), run);
}

bool LocalFileWriter::commit(bool existing, bool durable, plat::FileInfo* written,
                             const std::function<OldFile()>& beforeReplace) {
  if (!out_.file()) {
    plat::setLastError(EBADF);
    return false;
  }
  auto failed = [this] {
    const int err = plat::lastError();
    rollback();
    plat::setLastError(err);
    return false;
  };
  if ((durable && !out_.file()->sync()) || !out_.file()->info(written)) return failed();

  if (!existing && out_.unnamed()) {
    // A new file takes its name in one step; a file that appeared there in
    // the meantime is not replaced.
    if (!out_.nameNew(target_)) return failed();
    if (!out_.close()) {
      const int err = plat::lastError();
      plat::fileSystem().remove(target_);
      plat::setLastError(err);
      return false;
    }
    return true;
  }
  if (!out_.nameTemporarily() || !out_.close()) return failed();
  OldFile old = OldFile::Stays;
  if (existing && beforeReplace) old = beforeReplace();
  if (old == OldFile::KeepIt) {
    rollback();
    plat::setLastError(ECANCELED);
    return false;
  }
  // The old file is replaced here, in one step; a free name is taken only
  // while it is still free.
  const bool placed = existing && old == OldFile::Stays ? out_.replace(target_) : out_.nameNew(target_);
  if (!placed) return failed();
  return true;
}

}  // namespace archive
