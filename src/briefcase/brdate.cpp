#include "briefcase/brdate.h"

#include "platform/ask.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/strtable.h"

namespace briefcase {

bool ReadBriefcaseDate(const std::string& containerPath, plat::FileTime* date) {
  plat::FindData fd;
  if (plat::findFirst(containerPath, &fd) && !fd.info.isDirectory) {
    // A link to the container counts as the container.
    plat::FileInfo target;
    if (fd.info.isSymlink && plat::fileSystem().stat(containerPath, &target, true))
      fd.info = target;
    *date = fd.info.writeTime;
    return true;
  }
  const int err = plat::lastError();
  // The current time in UTC: file times are UTC, so a local wall-clock time
  // would move the date by the zone's offset.
  *date = plat::nowFileTime();
  if (plat::isPathNotFound(err)) {
    plat::messageBox(plat::loadStrFmt(plat::kStrWrongDisk, containerPath.c_str()),
                     plat::loadStr(plat::kStrDocWarning), plat::btnOk, plat::Icon::Warning);
  } else if (plat::isDeviceNotReady(err)) {
    plat::messageBox(plat::loadStr(plat::kStrDiskNotInserted), plat::loadStr(plat::kStrDocWarning),
                     plat::btnOk, plat::Icon::Warning);
  } else {
    plat::messageBox(plat::errorText(err), "", plat::btnOk, plat::Icon::Warning);
  }
  return false;
}

bool WriteBriefcaseDate(const std::string& containerPath, plat::FileTime date) {
  std::unique_ptr<plat::File> f =
      plat::fileSystem().open(containerPath, plat::Access::Write, plat::Disposition::OpenExisting);
  if (!f) {
    plat::messageBox(plat::loadStr(plat::kStrCannotOpenForWriting), "", plat::btnOk,
                     plat::Icon::Warning);
    return false;
  }
  bool ok = true;
  if (!f->setTimes(&date, &date, &date)) {
    plat::messageBox(plat::loadStr(plat::kStrCannotSetFileTime), "", plat::btnOk,
                     plat::Icon::Warning);
    ok = false;
  } else if (!plat::fileSystem().setAttributes(containerPath, plat::kAttrNormal)) {
    plat::messageBox(plat::loadStr(plat::kStrMayBeWriteProtected), "", plat::btnOk,
                     plat::Icon::Warning);
    ok = false;
  }
  f->close();
  return ok;
}

}  // namespace briefcase
