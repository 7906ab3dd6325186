// A briefcase carried between two computers with brc alone: new, status,
// load, unload on the other side, edit there, load back, unload here.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "testenv.h"

using testenv::quote;
namespace fs = std::filesystem;

namespace {

class BrcCycleTest : public ::testing::Test {
 protected:
  testenv::Env env{"AAAA1111"};
  std::string brc = CARRYVALE_BRC;
  std::string home = env.work() + "/home-pc";
  std::string office = env.work() + "/office-pc";
  std::string bc = env.work() + "/stick/carry.brc";

  int run(const std::string& computer, const std::string& args, std::string* out = nullptr) {
    return testenv::run("CARRYVALE_COMPUTER_ID=" + computer + " " + brc + " " + args + " 2>>" +
                            quote(env.path("stderr")) + " </dev/null",
                        out);
  }
  std::string err() { return testenv::readText(env.path("stderr")); }
  std::string read(const std::string& path) { return testenv::readText(path); }
  std::string status(const std::string& computer, const std::string& extra = "") {
    std::string out;
    EXPECT_EQ(run(computer, "status " + quote(bc) + " --json" + extra, &out), 0) << err();
    return out;
  }
  void age(const std::string& path, int seconds) {
    auto t = fs::last_write_time(path) - std::chrono::seconds(seconds);
    fs::last_write_time(path, t);
  }
};

}  // namespace

TEST_F(BrcCycleTest, StatusListsCandidatesAndEntriesAndChangesNothing) {
  fs::create_directories(home);
  fs::create_directories(env.work() + "/stick");
  testenv::writeFile(home + "/a.txt", "alpha");
  testenv::writeFile(home + "/sub/b.txt", "beta");
  ASSERT_EQ(run("AAAA1111", "new " + quote(bc) + " --folder " + quote(home) + " --days 1"), 0) << err();
  auto before = fs::last_write_time(bc);
  std::string s = status("AAAA1111");
  EXPECT_NE(s.find("\"briefcase_date\": \""), std::string::npos) << s;
  EXPECT_NE(s.find("{\"name\": \"a.txt\", \"folder\": \"\", \"size\": 5"), std::string::npos) << s;
  EXPECT_NE(s.find("{\"name\": \"b.txt\", \"folder\": \"sub\", \"size\": 4"), std::string::npos) << s;
  EXPECT_NE(s.find("\"state\": \"only\""), std::string::npos);
  EXPECT_NE(s.find("\"briefcase\": []"), std::string::npos) << s;
  EXPECT_EQ(fs::last_write_time(bc), before);

  std::string text;
  ASSERT_EQ(run("AAAA1111", "status " + quote(bc), &text), 0) << err();
  EXPECT_NE(text.find("Briefcase loaded on "), std::string::npos) << text;
  EXPECT_NE(text.find("a.txt"), std::string::npos);
  EXPECT_NE(text.find("0 kB"), std::string::npos);
}

TEST_F(BrcCycleTest, AFullCycleBetweenTwoComputers) {
  fs::create_directories(home);
  fs::create_directories(office);
  fs::create_directories(env.work() + "/stick");
  testenv::writeFile(home + "/letter.txt", "Dear Anna");
  testenv::writeFile(home + "/reports/q3.txt", "figures");
  age(home + "/letter.txt", 3600);  // written an hour ago
  ASSERT_EQ(run("AAAA1111", "new " + quote(bc) + " --folder " + quote(home) + " --days 1"), 0) << err();

  // Load everything that changed.
  ASSERT_EQ(run("AAAA1111", "load " + quote(bc)), 0) << err();
  std::string s = status("AAAA1111");
  EXPECT_NE(s.find("\"local\": []"), std::string::npos) << s;  // nothing newer than the load
  EXPECT_NE(s.find("{\"name\": \"q3.txt\", \"folder\": \"reports\", \"size\": 7"), std::string::npos) << s;
  EXPECT_EQ(s.find("\"state\": \"older\""), std::string::npos) << s;

  // Unload on the other computer, keeping the entries.
  ASSERT_EQ(run("BBBB2222", "unload " + quote(bc) + " --folder " + quote(office) +
                                " --replace all --keep"),
            0)
      << err();
  EXPECT_EQ(read(office + "/letter.txt"), "Dear Anna");
  EXPECT_EQ(read(office + "/reports/q3.txt"), "figures");
  EXPECT_NE(status("BBBB2222").find("\"local\": []"), std::string::npos);  // kept: not changed

  // Edit there and load back.
  testenv::writeFile(office + "/letter.txt", "Dear Anna, thank you");
  s = status("BBBB2222");
  EXPECT_NE(s.find("{\"name\": \"letter.txt\", \"folder\": \"\", \"size\": 20"), std::string::npos) << s;
  ASSERT_EQ(run("BBBB2222", "load " + quote(bc)), 0) << err();

  // Back home: the entry is newer than the local file.
  s = status("AAAA1111");
  EXPECT_NE(s.find("\"state\": \"newer\""), std::string::npos) << s;
  ASSERT_EQ(run("AAAA1111", "unload " + quote(bc) + " --replace all --remove"), 0) << err();
  EXPECT_EQ(read(home + "/letter.txt"), "Dear Anna, thank you");
  EXPECT_EQ(read(home + "/reports/q3.txt"), "figures");
  EXPECT_NE(status("AAAA1111").find("\"briefcase\": []"), std::string::npos);
}

TEST_F(BrcCycleTest, AKeptUnloadLeavesNoCandidatesEastOrWestOfGreenwich) {
  for (const char* tz : {"UTC-9", "UTC+7"}) {
    SCOPED_TRACE(tz);
    env.set("TZ", tz);
    fs::remove_all(env.work());
    fs::create_directories(home);
    fs::create_directories(office);
    fs::create_directories(env.work() + "/stick");
    testenv::writeFile(home + "/doc.txt", "text");
    ASSERT_EQ(run("AAAA1111", "new " + quote(bc) + " --folder " + quote(home) + " --days 1"), 0);
    ASSERT_EQ(run("AAAA1111", "load " + quote(bc)), 0) << err();
    ASSERT_EQ(run("BBBB2222", "unload " + quote(bc) + " --folder " + quote(office) +
                                  " --replace all --keep"),
              0)
        << err();
    std::string s = status("BBBB2222");
    EXPECT_NE(s.find("\"local\": []"), std::string::npos) << s;
    // A change made after the kept unload is a candidate at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    testenv::writeFile(office + "/doc.txt", "changed");
    EXPECT_NE(status("BBBB2222").find("\"name\": \"doc.txt\""), std::string::npos);
  }
}

TEST_F(BrcCycleTest, LoadingEveryCandidateLeavesOutFilesOf4GB) {
  fs::create_directories(home);
  fs::create_directories(env.work() + "/stick");
  testenv::writeFile(home + "/small.txt", "small");
  {
    std::ofstream big(home + "/huge.iso");
  }
  fs::resize_file(home + "/huge.iso", 4294967296ull);  // sparse: takes no room
  ASSERT_EQ(run("AAAA1111", "new " + quote(bc) + " --folder " + quote(home) + " --days 1"), 0) << err();
  EXPECT_EQ(run("AAAA1111", "load " + quote(bc)), 31);
  EXPECT_NE(err().find("One or more files are larger than 4 GB.\nThese files will not be loaded."),
            std::string::npos)
      << err();
  std::string s = status("AAAA1111");
  EXPECT_NE(s.find("{\"name\": \"small.txt\", \"folder\": \"\", \"size\": 5"), std::string::npos) << s;
  EXPECT_EQ(s.find("huge.iso"), std::string::npos) << s;  // never an entry
}
