// brc list, brc unload and brc test, run as the built program between two
// simulated computers.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "archive/layout.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "testenv.h"

namespace fs = std::filesystem;
using testenv::quote;

namespace {

class BrcUnloadTest : public ::testing::Test {
 protected:
  testenv::Env env{"AAAA1111"};
  std::string home = env.work() + "/home";
  std::string office = env.work() + "/office";
  std::string bc = env.work() + "/stick/carry.brc";

  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(office);
    fs::create_directories(env.work() + "/stick");
  }
  int brc(const std::string& computer, const std::string& args, std::string* out = nullptr,
          const std::string& envPrefix = "") {
    fs::remove(env.path("stderr"));
    return testenv::run(envPrefix + "CARRYVALE_COMPUTER_ID=" + computer + " " + CARRYVALE_BRC +
                            " " + args + " 2>" + quote(env.path("stderr")) + " </dev/null",
                        out);
  }
  std::string err() { return read(env.path("stderr")); }
  static std::string read(const std::string& p) { return testenv::readText(p); }
  static int64_t mtime(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
  }
  // A briefcase made at home with three files in it.
  void loadAtHome() {
    testenv::writeFile(home + "/letter.txt", "Dear Anna");
    testenv::writeFile(home + "/reports/q3.txt", std::string(50000, 'q'));
    testenv::writeFile(home + "/ro.txt", "read only");
    testenv::writeFile(home + "/\xc3\x9c" "bersicht.txt", "");
    fs::last_write_time(home + "/letter.txt", fs::file_time_type::clock::now() - std::chrono::hours(3));
    fs::permissions(home + "/ro.txt", fs::perms::owner_write | fs::perms::group_write |
                                          fs::perms::others_write, fs::perm_options::remove);
    ASSERT_EQ(brc("AAAA1111", "new " + quote(bc) + " --folder " + quote(home) + " --days 1"), 0) << err();
    ASSERT_EQ(brc("AAAA1111", "load " + quote(bc) + " " + quote(home + "/letter.txt") + " " +
                                  quote(home + "/reports/q3.txt") + " " + quote(home + "/ro.txt") +
                                  " " + quote(home + "/\xc3\x9c" "bersicht.txt")),
              0)
        << err();
  }
};

}  // namespace

TEST_F(BrcUnloadTest, UnloadOnTheOtherComputerThenRemove) {
  loadAtHome();
  std::string listing;
  ASSERT_EQ(brc("BBBB2222", "list " + quote(bc), &listing), 0) << err();
  EXPECT_NE(listing.find("reports/q3.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("     50000  "), std::string::npos) << listing;

  ASSERT_EQ(brc("BBBB2222", "unload " + quote(bc) + " --folder " + quote(office) +
                                " --replace all --remove"),
            0)
      << err();
  EXPECT_EQ(read(office + "/letter.txt"), "Dear Anna");
  EXPECT_EQ(read(office + "/reports/q3.txt"), std::string(50000, 'q'));
  EXPECT_TRUE(fs::exists(office + "/\xc3\x9c" "bersicht.txt"));
  EXPECT_EQ(mtime(office + "/letter.txt"), mtime(home + "/letter.txt"));
  EXPECT_EQ(mtime(office + "/reports/q3.txt"), mtime(home + "/reports/q3.txt"));
  EXPECT_EQ(fs::status(office + "/ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(office + "/letter.txt").permissions() & fs::perms::owner_write, fs::perms::none);

  // The entries left the briefcase; its configuration stayed and knows both computers.
  std::string json;
  EXPECT_EQ(brc("BBBB2222", "list " + quote(bc) + " --json", &json), 1) << err();
  EXPECT_EQ(json, "{\"entries\": [], \"result\": 1}\n");
  std::string info;
  ASSERT_EQ(brc("BBBB2222", "info " + quote(bc) + " --json", &info), 0) << err();
  EXPECT_NE(info.find("\"local_folder\": " + std::string("\"") + office + "\""), std::string::npos) << info;
  EXPECT_NE(info.find(home), std::string::npos) << info;
}

TEST_F(BrcUnloadTest, KeptEntriesMoveTheBriefcaseDateToNowInEveryTimeZone) {
  loadAtHome();
  for (const char* tz : {"Asia/Tokyo", "America/Los_Angeles"}) {
    SCOPED_TRACE(tz);
    fs::remove_all(office);
    fs::create_directories(office);
    const std::string tzEnv = std::string("TZ=") + tz + " ";
    ASSERT_EQ(brc("BBBB2222", "unload " + quote(bc) + " --folder " + quote(office) +
                                  " --replace all --keep",
                  nullptr, tzEnv),
              0)
        << err();
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_LE(std::abs(mtime(bc) - now), 5);
    // The files just written are not load candidates.
    std::string status;
    ASSERT_EQ(brc("BBBB2222", "status " + quote(bc) + " --json", &status, tzEnv), 0) << err();
    EXPECT_NE(status.find("\"local\": []"), std::string::npos) << status;
  }
  std::string listing;
  ASSERT_EQ(brc("BBBB2222", "list " + quote(bc) + " --json", &listing), 0) << err();
  EXPECT_NE(listing.find("{\"name\": \"reports/q3.txt\", \"size\": 50000, \"compressed\": "),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("\"method\": 8, \"crc\": "), std::string::npos) << listing;
  EXPECT_NE(listing.find("\"result\": 0}"), std::string::npos) << listing;
}

TEST_F(BrcUnloadTest, PoliciesNamesAndRefusals) {
  loadAtHome();
  testenv::writeFile(office + "/letter.txt", "my own letter");
  const std::string base = "unload " + quote(bc) + " --folder " + quote(office);
  // No terminal to ask on.
  EXPECT_EQ(brc("BBBB2222", base), 10);
  EXPECT_NE(err().find("--replace all"), std::string::npos) << err();
  EXPECT_EQ(brc("BBBB2222", base + " --replace maybe"), 10);
  EXPECT_EQ(brc("BBBB2222", base + " --replace all --keep --remove"), 10);
  // No to All keeps the local file; the entries stay without a terminal.
  EXPECT_EQ(brc("BBBB2222", base + " --replace none"), 0) << err();
  EXPECT_EQ(read(office + "/letter.txt"), "my own letter");
  EXPECT_EQ(read(office + "/reports/q3.txt"), std::string(50000, 'q'));
  EXPECT_NE(err().find("You did not unload all files."), std::string::npos) << err();
  EXPECT_NE(err().find("The entries stay in the briefcase."), std::string::npos) << err();
  // Named entries only; a name that selects nothing gives 11.
  fs::remove_all(office);
  fs::create_directories(office);
  EXPECT_EQ(brc("BBBB2222", base + " --replace all LETTER.TXT missing.txt --remove"), 11);
  EXPECT_NE(err().find("No files found to unload"), std::string::npos) << err();
  EXPECT_TRUE(fs::exists(office + "/letter.txt"));
  EXPECT_FALSE(fs::exists(office + "/reports"));
  std::string listing;
  ASSERT_EQ(brc("BBBB2222", "list " + quote(bc), &listing), 0);
  EXPECT_NE(listing.find("letter.txt"), std::string::npos) << "a failed unload removes nothing";
  EXPECT_EQ(brc("BBBB2222", base + " --replace all letter.txt --remove"), 0) << err();
  ASSERT_EQ(brc("BBBB2222", "list " + quote(bc), &listing), 0);
  EXPECT_EQ(listing.find("letter.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("reports/q3.txt"), std::string::npos) << listing;
  // A computer without a folder for this briefcase.
  EXPECT_EQ(brc("CCCC3333", "unload " + quote(bc) + " --replace all"), 10);
}

TEST_F(BrcUnloadTest, TestFindsDamagedEntriesOfAContainerFromAnotherTool) {
  craftzip::Entry good;
  good.name = "good.txt";
  good.data = std::string(3000, 'g');
  craftzip::Entry bad = good;
  bad.name = "folder/bad.txt";
  bad.crcSet = true;
  bad.crc = 1;
  briefcase::TBriefcaseComment r;
  r.AddEntry(home);
  testenv::writeBytes(bc, craftzip::build({good, bad}, r.Stored(6)).bytes);
  std::string out;
  EXPECT_EQ(brc("AAAA1111", "test " + quote(bc), &out), 2);
  EXPECT_NE(out.find("damaged: folder/bad.txt"), std::string::npos) << out;
  EXPECT_EQ(out.find("damaged: good.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("2 entries checked, 1 damaged"), std::string::npos) << out;
  EXPECT_NE(err().find("bad CRC"), std::string::npos) << err();
  EXPECT_TRUE(fs::is_empty(home));

  testenv::writeBytes(bc, craftzip::build({good}, r.Stored(6)).bytes);
  EXPECT_EQ(brc("AAAA1111", "test " + quote(bc), &out), 0) << err();
  // The unload of the damaged entry leaves nothing behind.
  testenv::writeBytes(bc, craftzip::build({good, bad}, r.Stored(6)).bytes);
  EXPECT_EQ(brc("AAAA1111", "unload " + quote(bc) + " --replace all --keep"), 2);
  EXPECT_NE(err().find("Error while unloading briefcase"), std::string::npos) << err();
  EXPECT_EQ(read(home + "/good.txt"), std::string(3000, 'g'));
  EXPECT_FALSE(fs::exists(home + "/folder/bad.txt"));
  EXPECT_EQ(brc("AAAA1111", "test " + quote(env.work() + "/none.brc")), 9);
}

// A local folder renamed away is told and never made again: neither the
// unload nor the load (with nobody to ask for another) writes anything.
TEST_F(BrcUnloadTest, AMissingLocalFolderIsNeverMadeAgain) {
  loadAtHome();
  fs::rename(home, home + "-renamed");
  const auto before = testenv::readBytes(bc);
  for (const std::string& command : {"unload " + quote(bc) + " --replace all --remove",
                                    "load " + quote(bc)}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(brc("AAAA1111", command), 10);
    EXPECT_NE(err().find("The local folder " + home + " was not found."), std::string::npos)
        << err();
    EXPECT_NE(err().find(command[0] == 'u' ? "Nothing was unloaded." : "Nothing was loaded."),
              std::string::npos)
        << err();
    EXPECT_FALSE(fs::exists(home));
    EXPECT_EQ(testenv::readBytes(bc), before);
  }
}
