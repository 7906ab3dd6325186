// brc new and brc info, run as a user would run them.

#include <gtest/gtest.h>

#include <filesystem>

#include "briefcase/comment.h"
#include "testenv.h"
#include "zipbuild.h"

using testenv::quote;

namespace {

class BrcInfoTest : public ::testing::Test {
 protected:
  testenv::Env env{"C0FFEE"};
  std::string brc = CARRYVALE_BRC;

  int run(const std::string& args, std::string* out = nullptr) {
    return testenv::run(brc + " " + args + " 2>" + quote(env.path("stderr")), out);
  }
  std::string err() { return testenv::readText(env.path("stderr")); }
};

}  // namespace

TEST_F(BrcInfoTest, NewMakesABriefcaseThatInfoDescribes) {
  std::string folder = env.work() + "/docs";
  std::filesystem::create_directories(folder);
  std::string bc = env.work() + "/travel";
  ASSERT_EQ(run("new " + quote(bc) + " --folder " + quote(folder + "/") +
                " --include '*.doc;*.txt' --exclude '~*' --no-subfolders --store --days 3"),
            0)
      << err();
  ASSERT_TRUE(std::filesystem::exists(bc + ".brc"));

  std::string out;
  ASSERT_EQ(run("info " + quote(bc + ".brc") + " --json", &out), 0) << err();
  EXPECT_NE(out.find("\"version\": \"1.204\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"include\": \"*.doc;*.txt\""), std::string::npos);
  EXPECT_NE(out.find("\"exclude\": \"~*\""), std::string::npos);
  EXPECT_NE(out.find("\"level\": 0"), std::string::npos);
  EXPECT_NE(out.find("\"subfolders\": false"), std::string::npos);
  EXPECT_NE(out.find("\"folders\": [{\"computer\": \"C0FFEE\", \"folder\": " +
                     std::string("\"") + folder + "\"}]"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"computer\": \"C0FFEE\""), std::string::npos);
  EXPECT_NE(out.find("\"local_folder\": \"" + folder + "\""), std::string::npos);
  EXPECT_NE(out.find("\"entries\": 0"), std::string::npos);

  // The briefcase date is three days back.
  auto age = std::filesystem::file_time_type::clock::now() -
             std::filesystem::last_write_time(bc + ".brc");
  EXPECT_NEAR(std::chrono::duration_cast<std::chrono::hours>(age).count(), 72, 1);

  // Another computer has no local folder in it.
  env.set("CARRYVALE_COMPUTER_ID", "BEEF");
  ASSERT_EQ(run("info " + quote(bc + ".brc"), &out), 0);
  EXPECT_NE(out.find("(none on this computer)"), std::string::npos) << out;
  EXPECT_NE(out.find("  C0FFEE  " + folder), std::string::npos) << out;
}

TEST_F(BrcInfoTest, NewRefusesBadArgumentsAndNeverReplacesAFile) {
  EXPECT_EQ(run("new " + quote(env.work() + "/a.brc")), 10);
  EXPECT_NE(err().find("--folder"), std::string::npos);
  EXPECT_EQ(run("new " + quote(env.work() + "/a.brc") + " --folder " + quote(env.work() + "/none")), 10);
  EXPECT_FALSE(std::filesystem::exists(env.work() + "/a.brc"));
  EXPECT_EQ(run("new x.brc --folder . --days soon"), 10);
  EXPECT_EQ(run("new x.brc --folder . --frobnicate"), 10);

  testenv::writeFile(env.work() + "/keep.brc", "precious");
  EXPECT_EQ(run("new " + quote(env.work() + "/keep.brc") + " --folder " + quote(env.work())), 10);
  auto b = testenv::readBytes(env.work() + "/keep.brc");
  EXPECT_EQ(std::string(b.begin(), b.end()), "precious");
}

TEST_F(BrcInfoTest, InfoExitsWithTheLayoutsCodeOrSeventeen) {
  std::string out;
  EXPECT_EQ(run("info " + quote(env.work() + "/missing.brc"), &out), 23);
  EXPECT_NE(err().find("Missing or empty briefcase file"), std::string::npos) << err();

  testenv::writeFile(env.work() + "/text.brc", "plain text, no archive");
  EXPECT_EQ(run("info " + quote(env.work() + "/text.brc"), &out), 13);
  EXPECT_NE(err().find("Briefcase file structure invalid"), std::string::npos) << err();

  // A damaged configuration: 712.
  zipbuild::Zip damaged;
  damaged.comment = std::string("1.204\0" "99\0", 9) + "xx";
  testenv::writeBytes(env.work() + "/damaged.brc", damaged.build());
  EXPECT_EQ(run("info " + quote(env.work() + "/damaged.brc"), &out), 17);
  EXPECT_NE(err().find("or its configuration is corrupt."), std::string::npos) << err();

  // A newer configuration: 8310 with the version, and not 712.
  zipbuild::Zip newer;
  newer.comment = std::string("1.300\0" "3\0\0\0" "0", 11);
  testenv::writeBytes(env.work() + "/newer.brc", newer.build());
  EXPECT_EQ(run("info " + quote(env.work() + "/newer.brc"), &out), 17);
  EXPECT_NE(err().find("needs at least version 1.300"), std::string::npos) << err();
  EXPECT_EQ(err().find("corrupt"), std::string::npos) << err();
}

TEST_F(BrcInfoTest, HelpDescribesEveryCommandAndOption) {
  std::string out;
  ASSERT_EQ(run("--help", &out), 0);
  EXPECT_NE(out.find("new"), std::string::npos);
  EXPECT_NE(out.find("info"), std::string::npos);
  ASSERT_EQ(run("new --help", &out), 0);
  for (const char* opt : {"--folder", "--include", "--exclude", "--store", "--no-subfolders", "--days"})
    EXPECT_NE(out.find(opt), std::string::npos) << opt;
  EXPECT_EQ(run("frobnicate"), 10);
}
