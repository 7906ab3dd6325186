#pragma once
// A removable disk's file system for one test: an image under the test's own
// temporary folder, formatted, put on a loop device and mounted through its
// FUSE driver (as root); unmounted and detached again when the object goes.
// Where the machine cannot (not root, no loop device, no driver) mounted()
// is false and why() says so, for the test's skip line.

#include <string>

#include "testenv.h"

namespace testenv {

class LoopDisk {
 public:
  enum class Kind { ExFat, Fat };

  LoopDisk(const std::string& folder, Kind kind)
      : image_(folder + "/disk.img"), mountPoint_(folder + "/disk") {
    const bool exfat = kind == Kind::ExFat;
    std::filesystem::create_directories(mountPoint_);
    if (run("truncate -s 32M " + quote(image_)) != 0 ||
        run(std::string(exfat ? "mkfs.exfat " : "mkfs.vfat ") + quote(image_) + " 2>&1") != 0) {
      why_ = "cannot make a disk image (mkfs)";
      return;
    }
    std::string device;
    if (run("losetup -f --show " + quote(image_) + " 2>/dev/null", &device) != 0 || device.empty()) {
      why_ = "no loop device can be set up here";
      return;
    }
    device_ = device.substr(0, device.find('\n'));
    const std::string mount = exfat ? "mount.exfat-fuse " : "fusefat -o rw+ ";
    if (run(mount + quote(device_) + " " + quote(mountPoint_) + " 2>&1") != 0) {
      why_ = std::string("cannot mount the image with ") + (exfat ? "exfat-fuse" : "fusefat");
      return;
    }
    mounted_ = true;
  }
  ~LoopDisk() {
    if (mounted_) run("umount " + quote(mountPoint_) + " 2>&1");
    if (!device_.empty()) run("losetup -d " + quote(device_) + " 2>&1");
  }
  LoopDisk(const LoopDisk&) = delete;
  LoopDisk& operator=(const LoopDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::string& root() const { return mountPoint_; }

 private:
  std::string image_, mountPoint_, device_, why_;
  bool mounted_ = false;
};

}  // namespace testenv
