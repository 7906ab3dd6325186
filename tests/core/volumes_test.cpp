#include <gtest/gtest.h>

#include <filesystem>

#include "platform/volumes.h"
#include "testenv.h"

TEST(RemovableDrives, RootsFromTheEnvironment) {
  testenv::Env env;
  const std::string usb = env.path("usb");
  const std::string floppy = env.path("floppy");
  std::filesystem::create_directories(usb);
  env.set("CARRYVALE_REMOVABLE_ROOTS", usb + "/::" + floppy);
  EXPECT_EQ(plat::removableRoots(), (std::vector<std::string>{usb, floppy}));

  // Inside a root, also when the file or its folder is not there (disk out).
  EXPECT_TRUE(plat::isOnRemovableDrive(usb + "/trip.brc"));
  EXPECT_TRUE(plat::isOnRemovableDrive(floppy + "/a/b/trip.brc"));
  EXPECT_TRUE(plat::isOnRemovableDrive(usb));
  EXPECT_TRUE(plat::isOnRemovableDrive(env.path("work/../usb/x.brc")));
  // A folder whose name only begins like a root is elsewhere.
  EXPECT_FALSE(plat::isOnRemovableDrive(usb + "2/trip.brc"));
  EXPECT_FALSE(plat::isOnRemovableDrive(env.work() + "/trip.brc"));
  EXPECT_FALSE(plat::isOnRemovableDrive(""));

  // A link into a removable root counts as the root itself.
  std::filesystem::create_symlink(usb, env.path("work/stick"));
  EXPECT_TRUE(plat::isOnRemovableDrive(env.path("work/stick/trip.brc")));

  // With the variable set to nothing there are no removable drives, not even /media.
  env.set("CARRYVALE_REMOVABLE_ROOTS", "");
  EXPECT_TRUE(plat::removableRoots().empty());
  EXPECT_FALSE(plat::isOnRemovableDrive(usb + "/trip.brc"));
  EXPECT_FALSE(plat::isOnRemovableDrive("/media/stick/trip.brc"));
}

TEST(RemovableDrives, MediaFoldersWithoutTheVariable) {
  testenv::Env env;
  const char* old = std::getenv("CARRYVALE_REMOVABLE_ROOTS");
  std::string saved = old ? old : "";
  unsetenv("CARRYVALE_REMOVABLE_ROOTS");
  // Where the desktop mounts inserted disks, also while nothing is mounted.
  EXPECT_TRUE(plat::isOnRemovableDrive("/media/user/STICK/trip.brc"));
  EXPECT_TRUE(plat::isOnRemovableDrive("/run/media/user/STICK/trip.brc"));
  EXPECT_FALSE(plat::isOnRemovableDrive("/mediaplayer/trip.brc"));
  EXPECT_FALSE(plat::isOnRemovableDrive(env.work() + "/trip.brc"));
  for (const std::string& root : plat::removableRoots()) EXPECT_FALSE(root.empty());
  if (old) setenv("CARRYVALE_REMOVABLE_ROOTS", saved.c_str(), 1);
}
