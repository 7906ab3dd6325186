#pragma once
// A real removable-disk file system for a test: an image under $TMPDIR,
// formatted and mounted through the driver a desktop uses for a stick, and
// taken down again afterwards.
//
//   std::string why;
//   auto disk = testdisk::Mounted::make(testdisk::Kind::ExFat, 64, &why);
//   if (!disk) GTEST_SKIP() << why;
//
// Mounting needs root (loop devices, /dev/fuse) and the drivers installed by
// scripts/deps.sh; where the machine has neither, make() says why and the
// test skips. Declare the disk after any testenv::Env whose TMPDIR it uses,
// so that it is unmounted before that folder is removed.

#include <cstdint>
#include <memory>
#include <string>

namespace testdisk {

enum class Kind { ExFat, Ntfs, Fat };

const char* name(Kind);  // "exFAT", "NTFS", "FAT"

class Mounted {
 public:
  // Makes an image of sizeMiB under $TMPDIR, formats it, mounts it (exFAT:
  // exfat-fuse on a loop device; NTFS: ntfs-3g on a loop device; FAT:
  // fusefat -o rw+ on the image) and returns it; null with *whyNot set when
  // the machine cannot.
  static std::unique_ptr<Mounted> make(Kind kind, uint64_t sizeMiB, std::string* whyNot);
  ~Mounted();  // unmounts, detaches the loop device, removes the image

  Mounted(const Mounted&) = delete;
  Mounted& operator=(const Mounted&) = delete;

  const std::string& root() const { return mountPoint_; }  // the mount point
  Kind kind() const { return kind_; }

 private:
  explicit Mounted(Kind kind) : kind_(kind) {}

  Kind kind_;
  std::string folder_;  // holds the image and the mount point
  std::string image_;
  std::string loopDevice_;  // empty where the driver mounts the image itself
  std::string mountPoint_;
  bool mounted_ = false;
};

}  // namespace testdisk
