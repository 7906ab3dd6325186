// How brc answers a user: hostile names on the terminal and in JSON, the end
// of input, a briefcase another run holds, --remove, --folder with nothing to load.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "archive/extract/names.h"
#include "testenv.h"

namespace fs = std::filesystem;
using testenv::quote;

namespace {

class BrcAnswers : public ::testing::Test {
 protected:
  testenv::Env env{"AAAA1111"};
  std::string home = env.work() + "/home";
  std::string away = env.work() + "/away";
  std::string bc = env.work() + "/carry.brc";

  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(away);
    ASSERT_EQ(brc("new " + quote(bc) + " --folder " + quote(home)), 0) << err();
  }
  int brc(const std::string& args, std::string* out = nullptr,
          const std::string& computer = "AAAA1111") {
    return testenv::run("CARRYVALE_COMPUTER_ID=" + computer + " " + CARRYVALE_BRC + " " + args +
                            " 2>" + quote(env.path("stderr")) + " </dev/null",
                        out);
  }
  std::string err() { return testenv::readText(env.path("stderr")); }
  void load(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string names;
    for (const auto& [n, body] : files) {
      testenv::writeFile(home + "/" + n, body);
      names += " " + quote(home + "/" + n);
    }
    ASSERT_EQ(brc("load " + quote(bc) + names), 0) << err();
  }
  std::string list() {
    std::string out;
    brc("list " + quote(bc), &out);
    return out;
  }
};

// No byte of the output may steer a terminal: only printable text and line ends.
bool terminalSafe(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t n = archive::utf8Sequence(s, i, &cp);
    if (n == 0 || (cp < 0x20 && cp != '\n') || (cp >= 0x7F && cp <= 0x9F)) return false;
    i += n;
  }
  return true;
}

TEST_F(BrcAnswers, NamesNeverSteerTheTerminalAndJsonIsAlwaysUtf8) {
  struct Case {
    std::string name, shown;
  };
  const std::vector<Case> cases = {
      {"esc\x1b]0;owned\x07.txt", "esc^[]0;owned^G.txt"},
      {"two\nlines.txt", "two^Jlines.txt"},
      {"csi\xc2\x9b"
       "31m.txt",
       "csi\\x9B31m.txt"},
      {"del\x7f.txt", "del^?.txt"},
  };
  std::vector<std::pair<std::string, std::string>> files;
  for (const Case& c : cases) files.emplace_back(c.name, "x");
  load(files);
  const std::string loaded = err();
  // Not UTF-8, not loaded: a load candidate, changed after the briefcase date
  // (an hour ahead, so that the same second as the load cannot hide it).
  const std::string raw = home + "/raw\xff\xfe.txt";
  testenv::writeFile(raw, "new");
  const timeval later[2] = {{time(nullptr) + 3600, 0}, {time(nullptr) + 3600, 0}};
  ASSERT_EQ(::utimes(raw.c_str(), later), 0);

  std::string text = list();
  std::string status, json, statusJson;
  brc("status " + quote(bc), &status);
  brc("list --json " + quote(bc), &json);
  brc("status --json " + quote(bc), &statusJson);
  for (const std::string* out : {&text, &status, &json, &statusJson}) {
    EXPECT_TRUE(terminalSafe(*out)) << *out;
  }
  for (const Case& c : cases) {
    EXPECT_NE(text.find(c.shown), std::string::npos) << c.shown;
    EXPECT_NE(status.find(c.shown), std::string::npos) << c.shown;
  }
  EXPECT_NE(json.find("\"esc\\u001b]0;owned\\u0007.txt\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"csi\\u009b31m.txt\""), std::string::npos) << json;
  EXPECT_NE(statusJson.find("\"raw\xef\xbf\xbd\xef\xbf\xbd.txt\""), std::string::npos)
      << statusJson;
  EXPECT_NE(status.find("raw\\xFF\\xFE.txt"), std::string::npos) << status;

  // The progress of a load and of a delete names the entries as listed (a
  // rewrite names those it copies too).
  env.set("CARRYVALE_UPDATE", "rewrite");
  ASSERT_EQ(brc("delete " + quote(bc) + " " + quote(cases[0].name)), 0) << err();
  const std::string deleted = err();
  EXPECT_TRUE(terminalSafe(loaded)) << loaded;
  EXPECT_TRUE(terminalSafe(deleted)) << deleted;
  EXPECT_NE(loaded.find("Adding " + cases[0].shown + "..."), std::string::npos) << loaded;
  EXPECT_NE(deleted.find("Copying " + cases[1].shown + "..."), std::string::npos) << deleted;
  EXPECT_EQ(list().find(cases[0].shown), std::string::npos);
}

TEST_F(BrcAnswers, EndOfInputIsNo) {
  if (testenv::run("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  load({{"a.txt", "alpha"}, {"b.txt", "bravo"}});
  testenv::writeFile(away + "/a.txt", "old");
  // On a terminal whose input ends at once: the replace question and the
  // removal question are answered No.
  const std::string cmd = std::string("CARRYVALE_COMPUTER_ID=BBBB2222 ") + CARRYVALE_BRC +
                          " unload " + quote(bc) + " --folder " + quote(away) + " --replace ask";
  std::string out;
  EXPECT_EQ(testenv::run("script -qec " + quote(cmd) + " /dev/null </dev/null", &out), 0);
  EXPECT_NE(out.find("  existing: 3 bytes\r\n            modified on "), std::string::npos) << out;
  EXPECT_NE(out.find("You did not unload all files."), std::string::npos) << out;
  EXPECT_NE(list().find("b.txt"), std::string::npos);
  EXPECT_EQ(testenv::readText(away + "/a.txt"), "old");
  EXPECT_EQ(testenv::readText(away + "/b.txt"), "bravo");
}

TEST_F(BrcAnswers, RemoveTakesOnlyWhatWasUnloadedAndNamesTheRest) {
  load({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}});
  testenv::writeFile(away + "/a.txt", "mine");   // declined
  testenv::writeFile(away + "/b.txt", "bravo");  // identical
  EXPECT_EQ(brc("unload " + quote(bc) + " --folder " + quote(away) + " --replace none --remove",
                nullptr, "BBBB2222"),
            0)
      << err();
  EXPECT_NE(err().find("Not replaced: a.txt (the local file was kept)"), std::string::npos)
      << err();
  EXPECT_NE(err().find("Stays in the briefcase (not unloaded): a.txt"), std::string::npos) << err();
  const std::string l = list();
  EXPECT_NE(l.find("a.txt"), std::string::npos);
  EXPECT_EQ(l.find("b.txt"), std::string::npos);
  EXPECT_EQ(l.find("c.txt"), std::string::npos);
  EXPECT_EQ(testenv::readText(away + "/a.txt"), "mine");
}

TEST_F(BrcAnswers, ReplacedFilesGoToTheTrashUnlessToldNot) {
  load({{"a.txt", "alpha"}});
  for (bool noTrash : {false, true}) {
    SCOPED_TRACE(noTrash);
    testenv::writeFile(away + "/a.txt", noTrash ? "second" : "first");
    // Without a carry record the dates decide (with B's record of the
    // first unload, "second" would be B's newer edit, which no policy
    // replaces).
    fs::remove_all(env.path("state/carryvale"));
    EXPECT_EQ(brc("unload " + quote(bc) + " --folder " + quote(away) + " --replace all --keep" +
                      (noTrash ? " --no-trash" : ""),
                  nullptr, "BBBB2222"),
              0)
        << err();
    EXPECT_EQ(testenv::readText(away + "/a.txt"), "alpha");
  }
  const std::string trash = env.path("data/Trash");
  EXPECT_EQ(testenv::readText(trash + "/files/a.txt"), "first");
  EXPECT_FALSE(fs::exists(trash + "/files/a.txt.2"));
  EXPECT_NE(testenv::readText(trash + "/info/a.txt.trashinfo").find("Path=" + away + "/a.txt\n"),
            std::string::npos);
}

TEST_F(BrcAnswers, ABriefcaseAnotherRunHoldsIsSaidSo) {
  load({{"a.txt", "alpha"}});
  testenv::writeFile(home + "/b.txt", "bravo");
  int fd = ::open(bc.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  struct Case {
    std::string args;
  };
  for (const Case& c : std::vector<Case>{{"load " + quote(bc) + " " + quote(home + "/b.txt")},
                                         {"delete " + quote(bc) + " a.txt"}}) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(brc(c.args), 25);
    EXPECT_NE(err().find("Another run is using the briefcase " + bc), std::string::npos) << err();
    EXPECT_EQ(err().find("Could not create output file"), std::string::npos) << err();
  }
  ::close(fd);
  EXPECT_NE(list().find("a.txt"), std::string::npos);
}

TEST_F(BrcAnswers, FolderWithNothingToLoadIsStillStored) {
  const std::string other = env.work() + "/elsewhere";
  fs::create_directories(other);
  EXPECT_EQ(brc("load " + quote(bc) + " --folder " + quote(other)), 0) << err();
  EXPECT_NE(err().find("Nothing to load"), std::string::npos);
  std::string out;
  brc("info --json " + quote(bc), &out);
  EXPECT_NE(out.find("\"local_folder\": \"" + other + "\""), std::string::npos) << out;
}

}  // namespace
