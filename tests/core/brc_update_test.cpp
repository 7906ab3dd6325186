// brc load, delete and clear, run as the built program.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testenv.h"
#include "zip_reader.h"

using testenv::quote;
namespace fs = std::filesystem;

namespace {

class BrcUpdate : public ::testing::Test {
 protected:
  testenv::Env env{"5EED0001"};
  std::string brc = CARRYVALE_BRC;
  std::string docs = env.work() + "/docs";
  std::string bc = env.work() + "/box/b.brc";

  void SetUp() override {
    fs::create_directories(docs);
    fs::create_directories(env.work() + "/box");
  }
  int run(const std::string& args, std::string* out = nullptr) {
    fs::remove(env.path("stderr"));
    return testenv::run(brc + " " + args + " 2>" + quote(env.path("stderr")) + " </dev/null", out);
  }
  std::string err() { return testenv::readText(env.path("stderr")); }
  std::string file(const std::string& rel, const std::string& content) {
    testenv::writeFile(docs + "/" + rel, content);
    return docs + "/" + rel;
  }
  void makeBriefcase(const std::string& folder) {
    ASSERT_EQ(run("new " + quote(bc) + " --folder " + quote(folder)), 0) << err();
  }
};

TEST_F(BrcUpdate, LoadNeedsALocalFolderAndThenStoresFilesRelativeToIt) {
  // A briefcase made on another computer has no folder for this one.
  ASSERT_EQ(testenv::run("CARRYVALE_COMPUTER_ID=OTHER1 " + brc + " new " + quote(bc) + " --folder " +
                         quote(docs)),
            0);
  std::string a = file("a.txt", "alpha\n"), b = file("sub/b.txt", std::string(50000, 'b'));
  EXPECT_EQ(run("load " + quote(bc) + " " + quote(a)), 10);
  EXPECT_NE(err().find("--folder"), std::string::npos) << err();

  ASSERT_EQ(run("load " + quote(bc) + " " + quote(a) + " " + quote(b) + " --folder " + quote(docs)), 0)
      << err();
  EXPECT_NE(err().find("Adding sub/b.txt..."), std::string::npos) << err();
  ztest::Archive z = ztest::read(bc);
  ASSERT_TRUE(z.ok) << z.error;
  EXPECT_EQ(z.names(), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
  EXPECT_EQ(z.find("sub/b.txt")->method, 8);
  // The configuration went in with the entries: this computer's folder is in it.
  std::string comment(z.comment.begin(), z.comment.end());
  EXPECT_NE(comment.find(std::string("5EED0001") + '\0' + docs), std::string::npos);
  std::string out;
  ASSERT_EQ(run("info " + quote(bc) + " --json", &out), 0);
  EXPECT_NE(out.find("\"entries\": 2"), std::string::npos) << out;

  // Relative paths are taken from the current folder; a missing file is 28.
  EXPECT_EQ(testenv::run("cd " + quote(docs) + " && " + brc + " load " + quote(bc) +
                         " ./sub/../a.txt gone.txt 2>/dev/null"),
            28);
  EXPECT_EQ(ztest::read(bc).names(), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
}

TEST_F(BrcUpdate, DeleteCompactAndClear) {
  makeBriefcase(docs);
  ASSERT_EQ(run("load " + quote(bc) + " " + quote(file("a.txt", "a")) + " " + quote(file("d/b.txt", "b")) +
                " " + quote(file("c.txt", "c"))),
            0)
      << err();
  std::vector<uint8_t> comment = ztest::read(bc).comment;

  // Names are matched by their exact bytes: another letter case is another name.
  EXPECT_EQ(run("delete " + quote(bc) + " D/B.TXT"), 11);
  EXPECT_EQ(ztest::read(bc).names().size(), 3u);
  EXPECT_EQ(run("delete " + quote(bc) + " d/b.txt"), 0) << err();
  EXPECT_EQ(ztest::read(bc).names(), (std::vector<std::string>{"a.txt", "c.txt"}));
  EXPECT_EQ(run("delete " + quote(bc) + " nothing.txt"), 11);
  EXPECT_NE(err().find("nothing.txt is not in the briefcase"), std::string::npos) << err();

  // The delete left d/b.txt behind; compact frees it and keeps the date.
  EXPECT_FALSE(ztest::read(bc).contiguous);
  const auto dated = fs::last_write_time(bc);
  std::string out;
  EXPECT_EQ(run("compact " + quote(bc), &out), 0) << err();
  EXPECT_EQ(out.rfind("Compacting freed ", 0), 0u) << out;
  EXPECT_TRUE(ztest::read(bc).contiguous);
  EXPECT_EQ(ztest::read(bc).names(), (std::vector<std::string>{"a.txt", "c.txt"}));
  EXPECT_LT(std::chrono::abs(fs::last_write_time(bc) - dated), std::chrono::microseconds(1));
  EXPECT_EQ(run("compact " + quote(env.work() + "/missing.brc")), 23);
  // A load asked to rewrite leaves no unused space.
  EXPECT_EQ(run("load --rewrite " + quote(bc) + " " + quote(file("e.txt", "e"))), 0) << err();
  EXPECT_TRUE(ztest::read(bc).contiguous);

  auto before = std::chrono::system_clock::now() - std::chrono::seconds(2);
  fs::last_write_time(bc, fs::file_time_type::clock::now() - std::chrono::hours(48));
  EXPECT_EQ(run("clear " + quote(bc)), 0) << err();
  ztest::Archive z = ztest::read(bc);
  ASSERT_TRUE(z.ok) << z.error;
  EXPECT_TRUE(z.entries.empty());
  EXPECT_EQ(z.comment, comment);
  auto date = std::chrono::file_clock::to_sys(fs::last_write_time(bc));
  EXPECT_GT(date, before);
  EXPECT_EQ(fs::directory_iterator(env.work() + "/box")->path().filename(), "b.brc");

  EXPECT_EQ(run("delete " + quote(bc) + " a.txt"), 23);
  EXPECT_EQ(run("clear " + quote(env.work() + "/missing.brc")), 23);
}

// A briefcase reached through a symbolic link, and one another run holds.
TEST_F(BrcUpdate, ALinkStaysALinkAndALockedBriefcaseIsLeftAlone) {
  makeBriefcase(docs);
  const std::string link = env.work() + "/work.brc";
  fs::create_symlink(bc, link);
  ASSERT_EQ(run("load " + quote(link) + " " + quote(file("a.txt", "a")) + " " + quote(file("b.txt", "b"))), 0)
      << err();
  ASSERT_EQ(run("delete " + quote(link) + " b.txt"), 0) << err();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ztest::read(bc).names(), std::vector<std::string>{"a.txt"});

  int fd = ::open(bc.c_str(), O_RDWR);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  std::vector<uint8_t> before = testenv::readBytes(bc);
  EXPECT_EQ(run("unload " + quote(link) + " --replace all --remove --folder " + quote(docs)), 25);
  EXPECT_NE(err().find("nother run is using the briefcase"), std::string::npos) << err();
  EXPECT_EQ(run("load " + quote(link) + " " + quote(docs + "/a.txt")), 25);
  EXPECT_TRUE(testenv::readBytes(bc) == before);
  ::close(fd);
  EXPECT_EQ(run("unload " + quote(link) + " --replace all --remove --folder " + quote(docs)), 0) << err();
  EXPECT_TRUE(ztest::read(bc).entries.empty());
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(BrcUpdate, CtrlCLeavesTheBriefcaseAsItWas) {
  makeBriefcase(docs);
  // Enough random data that the load is still running when the signal comes.
  {
    std::ofstream out(docs + "/big.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    unsigned x = 12345;
    for (int i = 0; i < 120; ++i) {
      for (auto& c : block) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
      out.write(block.data(), block.size());
    }
  }
  std::vector<uint8_t> before = testenv::readBytes(bc);
  const std::string errPath = env.path("load-stderr");
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    execl(brc.c_str(), brc.c_str(), "load", bc.c_str(), (docs + "/big.bin").c_str(), (char*)nullptr);
    _exit(127);
  }
  // The signal comes once the data is being written.
  for (int i = 0; i < 1000; ++i) {
    auto b = testenv::readBytes(errPath);
    if (std::string(b.begin(), b.end()).find("Adding big.bin...") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 19);
  EXPECT_TRUE(testenv::readBytes(bc) == before);
  std::vector<std::string> box;
  for (const auto& e : fs::directory_iterator(env.work() + "/box")) box.push_back(e.path().filename());
  EXPECT_EQ(box, std::vector<std::string>{"b.brc"});
  EXPECT_TRUE(fs::is_empty(env.tmp()));
}

}  // namespace
