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

bool FolderEnum::next(FindData* out, bool withInfo) {
  if (!impl_->dir) return false;
  for (;;) {
    errno = 0;
    struct dirent* de = ::readdir(impl_->dir);
    if (!de) {
      setLastError(errno);
      return false;
    }
    out->name = de->d_name;
    switch (de->d_type) {
      case DT_REG: out->kind = EntryKind::File; break;
      case DT_DIR: out->kind = EntryKind::Directory; break;
      case DT_LNK: out->kind = EntryKind::Link; break;
      case DT_UNKNOWN: out->kind = EntryKind::Unknown; break;
      default: out->kind = EntryKind::Other; break;
    }
    if (!withInfo) return true;
    // An entry that vanished between readdir and stat is passed over.
    if (readInfo(out)) return true;
  }
}

bool FolderEnum::readInfo(FindData* out) {
  if (!impl_->dir) return false;
  struct stat st;
  if (::fstatat(::dirfd(impl_->dir), out->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    setLastError(errno);
    return false;
  }
  FileInfo& fi = out->info;
  fi.size = static_cast<uint64_t>(st.st_size);
  fi.writeTime = fileTimeFromTimespec(st.st_mtim);
  fi.accessTime = fileTimeFromTimespec(st.st_atim);
  fi.creationTime = fi.writeTime;
  fi.mode = st.st_mode & 07777;
  fi.isDirectory = S_ISDIR(st.st_mode);
  fi.isSymlink = S_ISLNK(st.st_mode);
  fi.isRegular = S_ISREG(st.st_mode);
  fi.device = static_cast<uint64_t>(st.st_dev);
  fi.inode = static_cast<uint64_t>(st.st_ino);
  uint32_t a = fi.isDirectory ? kAttrDirectory : kAttrArchive;
  if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  if (out->name.size() > 0 && out->name[0] == '.' && out->name != "." && out->name != "..")
    a |= kAttrHidden;
  fi.attributes = a;
  out->kind = fi.isDirectory ? EntryKind::Directory
              : fi.isSymlink ? EntryKind::Link
              : fi.isRegular ? EntryKind::File
                             : EntryKind::Other;
  return true;
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
