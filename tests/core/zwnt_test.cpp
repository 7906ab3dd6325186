// The engine's platform services: free space and its question, the volume
// cache, attributes, no security descriptors.

#include <gtest/gtest.h>

#include <thread>

#include "archive/zwnt.h"
#include "platform/mountinfo.h"
#include "scriptedasker.h"
#include "update_support.h"

using namespace utest;

namespace {

TEST(EnginePlatform, ConfirmSpaceAsksOnlyWhenTheSpaceIsShort) {
  ComponentEnv env;
  FaultFs faults;
  faults.freeFor[env.root()] = 5000;
  plat::ScopedFileSystem scoped(&faults);
  ScriptedAsker asker;
  plat::ScopedAsker scopedAsker(&asker);

  uint64_t free = 0;
  ASSERT_TRUE(archive::FreeSpace(env.root() + "/not/yet/there.txt", &free));
  EXPECT_EQ(free, 5000u);
  EXPECT_TRUE(archive::ConfirmSpace(env.root() + "/x", 5000));  // exactly enough
  EXPECT_TRUE(asker.messages.empty());

  asker.answers = {plat::mrCancel, plat::mrOk};
  EXPECT_FALSE(archive::ConfirmSpace(env.root() + "/x", 5001));
  EXPECT_TRUE(archive::ConfirmSpace(env.root() + "/x", 9000000000ULL));
  ASSERT_EQ(asker.messages.size(), 2u);
  const plat::MessageQuestion& q = asker.messages[1];
  EXPECT_EQ(q.caption, "Insufficient Disk Space?");
  EXPECT_EQ(q.text, "Free Disk Space = 5000 bytes\nUncompressed Files Total 9000000000 bytes\nContinue?\n");
  EXPECT_EQ(q.buttons, plat::btnOk | plat::btnCancel);
  EXPECT_EQ(q.icon, plat::Icon::Warning);
}

TEST(EnginePlatform, VolumeInformationIsCachedPerVolume) {
  ComponentEnv env;
  archive::ResetVolumeCache();
  unsigned before = archive::VolumeQueryCount();
  uint32_t f1 = 0, f2 = 0;
  ASSERT_TRUE(archive::VolumeInformation(env.root() + "/a", &f1));
  ASSERT_TRUE(archive::VolumeInformation(env.root() + "/tmp/b/c", &f2));
  EXPECT_EQ(archive::VolumeQueryCount(), before + 1);
  EXPECT_EQ(f1, f2);
  EXPECT_EQ(f1 & plat::kFsPersistentAcls, 0u);  // no access-control lists: no "SD" blocks
  EXPECT_EQ(plat::mountRoot(env.root() + "/tmp/does/not/exist"), plat::mountRoot(env.root()));

  // Threads share the one set-up and the cache.
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      uint32_t f = 0;
      for (int k = 0; k < 50; ++k) EXPECT_TRUE(archive::VolumeInformation(env.root(), &f));
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(archive::VolumeQueryCount(), before + 1);
}

TEST(EnginePlatform, AttributesTimesAndNoSecurity) {
  ComponentEnv env;
  std::string f = env.root() + "/home/f.txt", h = env.root() + "/home/.h";
  writeFile(f, "x");
  writeFile(h, "y");
  ::chmod(f.c_str(), 0444);
  EXPECT_EQ(archive::Attributes(f), plat::kAttrReadOnly | plat::kAttrArchive);
  EXPECT_EQ(archive::Attributes(h), plat::kAttrHidden | plat::kAttrArchive);
  EXPECT_EQ(archive::Attributes(env.root() + "/home"), plat::kAttrDirectory);
  EXPECT_EQ(archive::Attributes(env.root() + "/missing"), plat::kAttrArchive);
  EXPECT_FALSE(archive::IsWindowsNT());
  std::vector<uint8_t> sd(5, 1);
  EXPECT_FALSE(archive::ReadSecurityDescriptor(f, &sd));
  EXPECT_TRUE(sd.empty());
  EXPECT_EQ(archive::UnixTime(plat::kUnixEpochFileTime + 15 * plat::kTicksPerSecond + 9999999), 15);
}

}  // namespace
