// The platform layer: attributes as the archive stores them, the computer id,
// the last error and the error object.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <optional>

#include "archive/errors.h"
#include "platform/computerid.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/filetime.h"
#include "removable_disk.h"
#include "testenv.h"

TEST(Platform, AttributesFollowTheModeAndTheName) {
  testenv::Env env;
  const std::string f = env.work() + "/plain.txt", hidden = env.work() + "/.hidden";
  testenv::writeFile(f, "x");
  testenv::writeFile(hidden, "y");
  uint32_t a = 0;
  ASSERT_TRUE(plat::fileAttributes(f, &a));
  EXPECT_EQ(a, static_cast<uint32_t>(plat::kAttrArchive));
  ASSERT_TRUE(plat::fileAttributes(hidden, &a));
  EXPECT_EQ(a, static_cast<uint32_t>(plat::kAttrArchive | plat::kAttrHidden));
  ASSERT_TRUE(plat::fileAttributes(env.work(), &a));
  EXPECT_EQ(a, static_cast<uint32_t>(plat::kAttrDirectory));

  // Read-only clears every write bit; clearing it gives the owner's back.
  ASSERT_TRUE(plat::fileSystem().setAttributes(f, plat::kAttrReadOnly));
  struct stat st;
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_TRUE(plat::fileAttributes(f, &a));
  EXPECT_TRUE(a & plat::kAttrReadOnly);
  ASSERT_TRUE(plat::fileSystem().setAttributes(f, plat::kAttrNormal));
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR);

  // find-first reports a link as a link.
  std::filesystem::create_symlink(f, env.work() + "/link");
  plat::FindData fd;
  ASSERT_TRUE(plat::findFirst(env.work() + "/link", &fd));
  EXPECT_TRUE(fd.info.isSymlink);
  EXPECT_EQ(fd.name, "link");
  EXPECT_FALSE(plat::findFirst(env.work() + "/none", &fd));
  EXPECT_TRUE(plat::isPathNotFound(plat::lastError()));

  // The folder enumeration reports "." and "..".
  plat::FolderEnum en;
  ASSERT_TRUE(en.open(env.work()));
  int dots = 0;
  while (en.next(&fd)) dots += fd.name == "." || fd.name == "..";
  EXPECT_EQ(dots, 2);
}

TEST(Platform, ComputerIdFromTheEnvironmentOrTheMachine) {
  testenv::Env env("ABC123");
  EXPECT_EQ(plat::computerId(), "ABC123");
  unsetenv("CARRYVALE_COMPUTER_ID");
  std::string id = plat::computerId();
  EXPECT_FALSE(id.empty());
  EXPECT_LE(id.size(), 8u);
  for (char c : id) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << id;
  EXPECT_TRUE(id == "0" || id[0] != '0') << id;  // no leading zeros
}

TEST(Platform, TheErrorObjectCarriesItsCodeAndText) {
  archive::TXCompress e(archive::kDiskMayBeFull, "/tmp/x");
  EXPECT_EQ(e.code(), 29);
  EXPECT_EQ(e.message(), "/tmp/x");
  EXPECT_EQ(archive::errorText(29), "Disk may be full");
  EXPECT_EQ(archive::errorText(19), "Interrupted");
  EXPECT_EQ(archive::errorText(14), "");
  plat::setLastError(ENOENT);
  archive::TXCompress sys(archive::kSystemError, "ignored");
  EXPECT_EQ(sys.message(), plat::errorText(ENOENT));
  EXPECT_EQ(archive::errorText(88), plat::errorText(ENOENT));
}

TEST(Platform, TheManualIsFoundByTheVariableOrBesideTheProgram) {
  testenv::Env env;
  // The build tree holds a copy beside the test program.
  const std::string beside = plat::parentFolder(plat::executablePath()) + "/manual";
  const struct {
    const char* variable;  // CARRYVALE_MANUAL_DIR, "" for unset
    bool withIndex;        // the named folder holds index.html
    std::string expected;
  } cases[] = {
      {"", false, beside},
      {"own", true, env.path("own")},
      {"own", false, beside},  // a folder without the manual is passed over
  };
  for (const auto& c : cases) {
    if (*c.variable) {
      std::filesystem::remove_all(env.path(c.variable));
      std::filesystem::create_directories(env.path(c.variable));
      if (c.withIndex) testenv::writeFile(env.path(std::string(c.variable) + "/index.html"), "<html>");
      env.set("CARRYVALE_MANUAL_DIR", env.path(c.variable));
    } else {
      env.set("CARRYVALE_MANUAL_DIR", "");
    }
    EXPECT_EQ(plat::manualFolder(), c.expected) << c.variable << c.withIndex;
  }
}

TEST(Platform, HelpContextsLeadToTheirTopics) {
  testenv::Env env;
  testenv::writeFile(env.path("m/index.html"), "<h1>Contents</h1>");
  testenv::writeFile(env.path("m/manual.html"), "<li id=\"ctx-2011\">see problems</li>");
  testenv::writeFile(env.path("m/problems.html"), "<h2 id=\"ctx-2011\">Disk full</h2>");
  testenv::writeFile(env.path("m/settings.html"), "<h2 id=\"ctx-801\">Local</h2><h2 id=\"ctx-8010\">");
  env.set("CARRYVALE_MANUAL_DIR", env.path("m"));
  const struct {
    int context;
    std::string expected;
  } cases[] = {
      {0, env.path("m/index.html")},
      {2011, env.path("m/problems.html#ctx-2011")},
      {801, env.path("m/settings.html#ctx-801")},
      {80, env.path("m/index.html")},  // no topic: the contents
  };
  for (const auto& c : cases) EXPECT_EQ(plat::helpTopicPath(c.context), c.expected) << c.context;
}

// Setting the write time alone keeps the access time and holds on every file
// system, the FUSE drivers of removable disks too (they ignore a write time
// whose access time is left out).
TEST(Platform, TheWriteTimeAloneIsSetOnEveryDisk) {
  testenv::Env env;
  const struct {
    const char* what;
    std::optional<testdisk::Kind> disk;
  } cases[] = {{"work folder", std::nullopt},
               {"exFAT", testdisk::Kind::ExFat},
               {"FAT", testdisk::Kind::Fat}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<testdisk::Mounted> disk;
    std::string folder = env.work();
    if (c.disk) {
      std::string why;
      disk = testdisk::Mounted::make(*c.disk, 32, &why);
      if (!disk) {
        std::cout << "[  SKIPPED ] " << c.what << ": " << why << "\n";
        continue;
      }
      folder = disk->root();
    }
    const std::string f = folder + "/dated.txt";
    testenv::writeFile(f, "x");
    plat::FileInfo before;
    ASSERT_TRUE(plat::fileSystem().stat(f, &before, true));
    // Two dates a day apart, on even seconds (FAT keeps two-second steps).
    const plat::FileTime dates[] = {plat::fileTimeFromUnixTime(1700000000),
                                    plat::fileTimeFromUnixTime(1700086400)};
    ASSERT_TRUE(plat::fileSystem().setTimes(f, nullptr, nullptr, &dates[0]));
    plat::FileInfo after;
    ASSERT_TRUE(plat::fileSystem().stat(f, &after, true));
    EXPECT_EQ(after.writeTime, dates[0]);
    if (!c.disk) { EXPECT_EQ(after.accessTime, before.accessTime); }
    auto file = plat::fileSystem().open(f, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->setTimes(nullptr, nullptr, &dates[1]));
    ASSERT_TRUE(file->close());
    ASSERT_TRUE(plat::fileSystem().stat(f, &after, true));
    EXPECT_EQ(after.writeTime, dates[1]);
    std::filesystem::remove(f);
  }
}
