#include "removable_disk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testenv.h"

namespace {

class RemovableDisk : public ::testing::TestWithParam<testdisk::Kind> {};

// The helper's own promise: a disk that takes files, and nothing left mounted
// or on disk once it is gone.
TEST_P(RemovableDisk, MountsAndGoesAway) {
  testenv::Env env;
  std::string why, root;
  {
    auto disk = testdisk::Mounted::make(GetParam(), 64, &why);
    if (!disk) GTEST_SKIP() << why;
    root = disk->root();
    testenv::writeFile(root + "/a.txt", "bytes");
    EXPECT_EQ(testenv::readText(root + "/a.txt"), "bytes");
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(root).parent_path()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, RemovableDisk,
                         ::testing::Values(testdisk::Kind::ExFat, testdisk::Kind::Ntfs,
                                           testdisk::Kind::Fat),
                         [](const auto& info) { return std::string(testdisk::name(info.param)); });

}  // namespace
