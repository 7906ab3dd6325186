// The briefcase's key in the carry record, across mount points.

#include <filesystem>

#include "carry/key.h"
#include "testenv.h"

namespace {

using carry::briefcaseKey;

// The key: a briefcase is found again on another mount point, through a
// bind mount, and a copy, another folder or another disk are other keys.
TEST(CarryKey, SurvivesAnotherMountPoint) {
  auto lookup = [](const std::string& path, plat::MountIdentity* m) {
    const struct {
      const char* mountPoint;
      const char* fsRoot;
      const char* uuid;
      uint64_t fsid;
    } mounts[] = {
        {"/media/ann/STICK", "/", "1234-ABCD", 0},
        {"/run/media/ann/STICK1", "/", "1234-ABCD", 0},
        {"/mnt/docs", "/docs", "1234-ABCD", 0},  // a bind mount of the stick's docs folder
        {"/media/ann/OTHER", "/", "9999-0000", 0},
        {"/mnt/plain", "/", "", 0x77},  // no UUID: the file-system id
    };
    for (const auto& mt : mounts) {
      const std::string p = mt.mountPoint;
      if (path.rfind(p + "/", 0) == 0) {
        *m = {p, mt.fsRoot, mt.uuid, "/dev/sdb1", "vfat", mt.fsid};
        return true;
      }
    }
    return false;
  };
  const std::string key = briefcaseKey("/media/ann/STICK/docs/work.brc", lookup);
  EXPECT_EQ(key, "uuid:1234-ABCD|/docs/work.brc");
  const struct {
    const char* path;
    bool same;
  } rows[] = {
      {"/run/media/ann/STICK1/docs/work.brc", true},
      {"/mnt/docs/work.brc", true},
      {"/media/ann/STICK/docs/work (copy).brc", false},
      {"/media/ann/STICK/work.brc", false},
      {"/media/ann/OTHER/docs/work.brc", false},
  };
  for (const auto& r : rows) EXPECT_EQ(briefcaseKey(r.path, lookup) == key, r.same) << r.path;
  EXPECT_EQ(briefcaseKey("/mnt/plain/work.brc", lookup), "fs:vfat:/dev/sdb1:77|/work.brc");
  EXPECT_EQ(briefcaseKey("/elsewhere/work.brc", lookup), "path:/elsewhere/work.brc");
}

// On this system's own mount table: a rewritten container keeps its key, a
// copy gets its own, and a second mount of the folder finds the same key.
TEST(CarryKey, RealMountTable) {
  testenv::Env env;
  const std::string brc = env.work() + "/stick/work.brc";
  testenv::writeFile(brc, "one");
  const std::string key = briefcaseKey(brc);
  EXPECT_EQ(key.rfind("path:", 0), std::string::npos) << key;
  testenv::writeFile(env.work() + "/new", "rewritten by another program");
  std::filesystem::rename(env.work() + "/new", brc);
  EXPECT_EQ(briefcaseKey(brc), key);
  std::filesystem::copy_file(brc, env.work() + "/stick/copy.brc");
  EXPECT_NE(briefcaseKey(env.work() + "/stick/copy.brc"), key);

  const std::string other = env.path("other");
  std::filesystem::create_directories(other);
  if (testenv::run("mount --bind " + testenv::quote(env.work() + "/stick") + " " +
                   testenv::quote(other) + " 2>/dev/null") != 0)
    GTEST_SKIP() << "no second mount here (needs root)";
  EXPECT_EQ(briefcaseKey(other + "/work.brc"), key);
  testenv::run("umount " + testenv::quote(other));
}

}  // namespace
