#include "removable_disk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "testenv.h"

namespace testdisk {

namespace {

using testenv::quote;

// Runs a shell command with its output and errors in *out (trimmed); returns its exit status.
int run(const std::string& command, std::string* out) {
  std::string text;
  const int status = testenv::run(command + " 2>&1", &text);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (out) *out = text;
  return status;
}

bool found(const std::string& tool) { return run("command -v " + quote(tool), nullptr) == 0; }

bool isMountPoint(const std::string& path) {
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, point;
    if (fields >> device >> point && point == path) return true;
  }
  return false;
}

struct Tools {
  const char* format;  // formats the image (or the loop device)
  const char* driver;  // mounts it
  bool loop;           // the driver wants a block device
};

Tools toolsFor(Kind kind) {
  switch (kind) {
    case Kind::ExFat: return {"mkfs.exfat", "mount.exfat-fuse", true};
    case Kind::Ntfs: return {"mkntfs", "ntfs-3g", true};
    case Kind::Fat: return {"mkfs.vfat", "fusefat", false};
  }
  return {"", "", false};
}

std::string formatCommand(Kind kind, uint64_t sizeMiB, const std::string& target) {
  switch (kind) {
    case Kind::ExFat: return "mkfs.exfat -L STICK " + quote(target);
    case Kind::Ntfs: return "mkntfs -F -Q -q -L STICK " + quote(target);
    case Kind::Fat:
      // Sticks carry FAT32; below 33 MiB only the smaller FAT types fit. No
      // label: fusefat lists a volume label as an empty file in the root.
      return std::string("mkfs.vfat ") + (sizeMiB >= 64 ? "-F 32 " : "") + quote(target);
  }
  return "";
}

std::string mountCommand(Kind kind, const std::string& source, const std::string& point) {
  switch (kind) {
    case Kind::ExFat: return "mount.exfat-fuse " + quote(source) + " " + quote(point);
    case Kind::Ntfs: return "ntfs-3g " + quote(source) + " " + quote(point);
    case Kind::Fat: return "fusefat -o rw+ " + quote(source) + " " + quote(point);
  }
  return "";
}

}  // namespace

const char* name(Kind kind) {
  switch (kind) {
    case Kind::ExFat: return "exFAT";
    case Kind::Ntfs: return "NTFS";
    case Kind::Fat: return "FAT";
  }
  return "?";
}

std::unique_ptr<Mounted> Mounted::make(Kind kind, uint64_t sizeMiB, std::string* whyNot) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<Mounted> {
    if (whyNot) *whyNot = std::string(name(kind)) + " disk: " + why;
    return nullptr;
  };
  const Tools tools = toolsFor(kind);
  if (!found(tools.format)) return fail(std::string(tools.format) + " not found");
  if (!found(tools.driver)) return fail(std::string(tools.driver) + " not found");
  if (geteuid() != 0) return fail("not root");
  if (access("/dev/fuse", R_OK | W_OK) != 0) return fail("/dev/fuse unavailable");
  if (tools.loop && (!found("losetup") || access("/dev/loop-control", R_OK | W_OK) != 0))
    return fail("loop devices unavailable");

  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/cvdisk-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return fail("cannot make a folder under " + tmpl);

  std::unique_ptr<Mounted> disk(new Mounted(kind));
  disk->folder_ = buf.data();
  disk->image_ = disk->folder_ + "/disk.img";
  disk->mountPoint_ = disk->folder_ + "/mnt";
  std::error_code ec;
  std::filesystem::create_directory(disk->mountPoint_, ec);
  { std::ofstream image(disk->image_, std::ios::binary); }
  std::filesystem::resize_file(disk->image_, sizeMiB << 20, ec);
  if (ec) return fail("cannot make a " + std::to_string(sizeMiB) + " MiB image: " + ec.message());

  std::string out;
  std::string source = disk->image_;
  if (tools.loop) {
    if (run("losetup -f --show " + quote(disk->image_), &out) != 0 || out.rfind("/dev/", 0) != 0)
      return fail("loop devices unavailable (" + out + ")");
    disk->loopDevice_ = out;
    source = out;
  }
  if (run(formatCommand(kind, sizeMiB, source), &out) != 0)
    return fail("formatting failed: " + out);
  if (run(mountCommand(kind, source, disk->mountPoint_), &out) != 0)
    return fail(std::string(tools.driver) + " failed: " + out);
  disk->mounted_ = isMountPoint(disk->mountPoint_);
  if (!disk->mounted_) return fail(std::string(tools.driver) + " left nothing mounted: " + out);
  return disk;
}

Mounted::~Mounted() {
  std::string out;
  if (mounted_) {
    // A driver still answering the last close may hold the mount busy for a moment.
    for (int attempt = 0; attempt < 250 && isMountPoint(mountPoint_); ++attempt) {
      if (run("umount " + quote(mountPoint_), &out) == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (isMountPoint(mountPoint_)) {
      std::fprintf(stderr, "testdisk: %s stays busy (%s); detached lazily\n", mountPoint_.c_str(),
                   out.c_str());
      run("umount -l " + quote(mountPoint_), &out);
    }
  }
  if (!loopDevice_.empty()) run("losetup -d " + quote(loopDevice_), &out);
  std::error_code ec;
  if (!isMountPoint(mountPoint_)) std::filesystem::remove_all(folder_, ec);
}

}  // namespace testdisk
