#include "platform/findfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/paths.h"

namespace plat {

struct FolderEnum::Impl {
  DIR* dir = nullptr;
  std::string folder;
};

FolderEnum::FolderEnum() : impl_(std::make_unique<Impl>()) {}
FolderEnum::~FolderEnum() { close(); }

bool FolderEnum::open(const std::string& folder) {
  close();
  impl_->dir = ::opendir(folder.c_str());
  if (!impl_->dir) {
    setLastError(errno);
    return false;
  }
  impl_->folder = folder;
  return true;
}

bool FolderEnum::next(FindData* out) {
  if (!impl_->dir) return false;
  for (;;) {
    errno = 0;
    struct dirent* de = ::readdir(impl_->dir);
    if (!de) {
      setLastError(errno);
      return false;
    }
    out->name = de->d_name;
    // An entry that vanished between readdir and stat is passed over.
    if (fileSystem().stat(joinPath(impl_->folder, out->name), &out->info, false)) return true;
  }
}

void FolderEnum::close() {
  if (impl_ && impl_->dir) {
    ::closedir(impl_->dir);
    impl_->dir = nullptr;
  }
}

bool findFirst(const std::string& path, FindData* out) {
  if (!fileSystem().stat(path, &out->info, false)) return false;
  out->name = fileNamePart(stripTrailingSlash(path));
  return true;
}

}  // namespace plat
