// Encrypted entries: what the load writes, the unload and other ZIP tools
// reading it back, archives of another tool read here, and a wrong password
// or damaged data never yielding a document.

#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/aes.h"
#include "archive/extract/extract.h"
#include "testenv.h"
#include "update_support.h"

using namespace utest;
namespace aes = archive::aes;

namespace {

// Every way the writer takes: empty, deflated whole, stored instead,
// deflated in blocks, stored by its suffix, in a folder.
std::vector<std::string> corpus(Env& e) {
  return {e.file("empty.txt", ""),
          e.file("small.txt", textBytes(3000, 1)),
          e.file("noise.bin", randomBytes(5000, 2)),
          e.file("big.txt", textBytes(700000, 3)),
          e.file("d/packed.zip", randomBytes(300000, 4)),
          e.file("d/e/one.txt", "x")};
}

bool have(const char* tool) {
  return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// The local files of `folder` with their bytes.
std::map<std::string, std::string> contents(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& f : fs::recursive_directory_iterator(folder))
    if (f.is_regular_file())
      out[fs::relative(f.path(), folder).string()] = readAll(f.path().string());
  return out;
}

int unload(Recorder& r, const std::string& to, unsigned threads) {
  r.engine.ClearNames();
  r.engine.extract.targetFolder = to;
  r.engine.extract.threads = threads;
  fs::create_directories(to);
  return archive::UnloadRun(r.engine);
}

}  // namespace

// The load writes method 99 with the AES block of version 2 and strength 3
// and no CRC; this unload (one thread and two) and other tools read it back,
// and a 7z archive of the same form unloads here.
TEST(Encryption, EntriesRoundTripHereAndInOtherTools) {
  Env e;
  const std::vector<std::string> files = corpus(e);
  const auto expected = contents(e.local);
  Recorder r(e);
  r.engine.password = aes::Password("pässword 1");
  ASSERT_EQ(r.load(files), 0);
  const ztest::Archive a = ztest::read(e.container);
  ASSERT_EQ(a.entries.size(), files.size());
  for (const ztest::Entry& en : a.entries) {
    SCOPED_TRACE(en.name);
    EXPECT_EQ(en.method, aes::kMethodAes);
    EXPECT_EQ(en.flags & 1, 1);
    EXPECT_EQ(en.crc, 0u);
    EXPECT_EQ(en.versionNeeded, aes::kVersionNeeded);
    const ztest::ExtraBlock* block = en.central(aes::kExtraAes);
    ASSERT_TRUE(block && en.local(aes::kExtraAes));
    EXPECT_EQ(block->data, en.local(aes::kExtraAes)->data);
    const uint16_t inner = en.name == "small.txt" || en.name == "big.txt" ? 8 : 0;
    EXPECT_EQ(block->data, (std::vector<uint8_t>{2, 0, 'A', 'E', 3, uint8_t(inner), 0}));
  }
  for (const unsigned threads : {1u, 2u}) {
    const std::string out = e.env.root() + "/out" + std::to_string(threads);
    EXPECT_EQ(unload(r, out, threads), 0);
    EXPECT_EQ(contents(out), expected);
  }
  const std::string c = testenv::quote(e.container);
  const std::pair<const char*, std::string> readers[] = {
      {"7z", "7z x -y -p'pässword 1' -o'%s' " + c + " >/dev/null"},
      {"bsdtar", "bsdtar -x --passphrase 'pässword 1' -C '%s' -f " + c},
  };
  for (const auto& [tool, command] : readers) {
    if (!have(tool)) {
      std::printf("[  SKIPPED ] %s is not installed\n", tool);
      continue;
    }
    const std::string out = e.env.root() + "/" + tool;
    fs::create_directories(out);
    std::string cmd = command;
    cmd.replace(cmd.find("%s"), 2, out);
    std::string said;
    EXPECT_EQ(testenv::run(cmd, &said), 0) << tool << ": " << said;
    EXPECT_EQ(contents(out), expected) << tool;
  }
  if (!have("7z")) return;
  // 7z's own archive of the same files, deflated and stored (7z takes only
  // ASCII passwords for this form).
  for (const char* method : {"Deflate", "Copy"}) {
    SCOPED_TRACE(method);
    const std::string theirs = e.env.root() + "/theirs-" + method + ".zip";
    std::string said;
    ASSERT_EQ(testenv::run("cd '" + e.local + "' && 7z a -tzip -mem=AES256 -mm=" + method +
                               " -p'password 2' '" + theirs + "' . >/dev/null",
                           &said),
              0)
        << said;
    Recorder t(e);
    t.engine.archivePath = theirs;
    t.engine.password = aes::Password("password 2");
    const std::string out = e.env.root() + "/from-" + method;
    EXPECT_EQ(unload(t, out, 2), 0);
    EXPECT_EQ(contents(out), expected);
  }
}

// Without the password an encrypted entry is left out; with a wrong one, or
// with data, a verifier or a code changed, it is damaged: named, result 2,
// and the local file it would replace stays as it was.
TEST(Encryption, AWrongPasswordOrDamagedDataYieldsNothing) {
  struct Case {
    const char* what;
    std::optional<std::string> password;
    long flip;  // the byte of the entry's data flipped (from its start; -1 from its end; 0: none)
    int result;
    const char* said;
  } cases[] = {
      {"no password", std::nullopt, 0, archive::kSkippedEntries, "left out (encrypted)"},
      {"a wrong password", "wrong", 0, archive::kCompressedError, "the password is not correct"},
      {"a changed verifier", "right", 17, archive::kCompressedError, "the password is not correct"},
      {"changed data", "right", 40, archive::kCompressedError, ""},
      {"a changed code", "right", -1, archive::kCompressedError, "bad authentication code"},
  };
  for (const Case& c : cases) {
    for (const unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(std::string(c.what) + (threads > 1 ? ", two threads" : ""));
      Env e;
      const std::string body = textBytes(200000, 7);
      Recorder r(e);
      r.engine.password = aes::Password("right");
      ASSERT_EQ(r.load({e.file("a.txt", body)}), 0);
      if (c.flip) {
        std::string bytes = readAll(e.container);
        const ztest::Archive a = ztest::read(e.container);
        const ztest::Entry& en = a.entries.at(0);
        const size_t start = en.localOffset + en.raw.size() - en.compressedSize;
        bytes[c.flip > 0 ? start + c.flip : start + en.compressedSize - 1] ^= 0x20;
        writeFile(e.container, bytes);
      }
      writeFile(e.local + "/a.txt", "mine");
      Recorder u(e);
      if (c.password) u.engine.password = aes::Password(*c.password);
      u.engine.extract.callbacks.replaceQuery = [](std::string&, plat::FileTime, plat::FileTime,
                                                   uint32_t, uint32_t, uint8_t& answer) {
        answer = archive::kAnswerYes;
      };
      EXPECT_EQ(unload(u, e.local, threads), c.result);
      EXPECT_EQ(readAll(e.local + "/a.txt"), "mine");
      EXPECT_EQ(listFolder(e.local), std::set<std::string>{"a.txt"});
      if (*c.said) {
        EXPECT_TRUE(u.sawPart(c.said));
      }
      u.engine.extract.callbacks.replaceQuery = nullptr;
      EXPECT_EQ(archive::TestRun(u.engine), c.result);
    }
  }
}

// brc takes the password from a file or a descriptor (never the command
// line), checks it before anything is written, and says what is missing.
TEST(Encryption, BrcTakesThePasswordFromAFileOrADescriptor) {
  Env e;
  Recorder r(e);
  r.engine.password = aes::Password("right one");
  ASSERT_EQ(r.load({e.file("a.txt", textBytes(4000, 1)), e.file("d/b.txt", "b\n")}), 0);
  const auto expected = contents(e.local);
  const std::string right = e.env.root() + "/right", wrong = e.env.root() + "/wrong";
  writeFile(right, "right one\n");
  writeFile(wrong, "right on\n");
  // No controlling terminal: nobody can be asked.
  const std::string brc = "setsid -w " + std::string(CARRYVALE_BRC) + " ";
  const std::string c = testenv::quote(e.container);
  fs::remove_all(e.local);
  fs::create_directories(e.local);
  struct Case {
    const char* what;
    std::string command;
    int status;
    const char* said;
  } cases[] = {
      {"no password", "unload " + c + " --replace all --keep", archive::kPasswordNeeded,
       "its password was not given"},
      {"a wrong password", "unload " + c + " --replace all --keep --password-file " + wrong,
       archive::kPasswordWrong, "The password is not correct"},
      {"a missing file", "unload " + c + " --replace all --keep --password-file /nonexistent",
       archive::kBadParameters, "cannot read the password file"},
      {"a wrong test", "test " + c + " --password-fd 3 3<" + wrong, archive::kPasswordWrong,
       "not correct"},
      {"the right test", "test " + c + " --password-fd 3 3<" + right, 0,
       "2 entries checked, 0 damaged"},
      {"info", "info " + c, 0, "Encrypted:      yes"},
      {"the right password", "unload " + c + " --replace all --keep --password-fd 3 3<" + right, 0,
       ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::string said;
    EXPECT_EQ(testenv::run(brc + k.command + " 2>&1", &said), k.status) << said;
    EXPECT_NE(said.find(k.said), std::string::npos) << said;
    if (k.status) {
      EXPECT_TRUE(contents(e.local).empty());
    }
  }
  EXPECT_EQ(contents(e.local), expected);
  // A load into it encrypts the new entry too.
  e.file("c.txt", "c\n");
  std::string said;
  EXPECT_EQ(
      testenv::run(brc + "load " + c + " " + e.local + "/c.txt --password-file " + right + " 2>&1",
                   &said),
      0)
      << said;
  const ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.find("c.txt"));
  EXPECT_EQ(a.find("c.txt")->method, aes::kMethodAes);
}

// brc new --encrypt: the briefcase is encrypted before it holds a file, and
// stays so when its last entry goes; its password is checked all along.
TEST(Encryption, ANewEncryptedBriefcaseIsKnownBeforeItHoldsAFile) {
  Env e;
  const std::string right = e.env.root() + "/right", wrong = e.env.root() + "/wrong";
  writeFile(right, "right one\n");
  writeFile(wrong, "wrong one\n");
  const std::string brc = "setsid -w " + std::string(CARRYVALE_BRC) + " ";
  const std::string c = testenv::quote(e.env.root() + "/new.brc");
  e.file("a.txt", "alpha");
  const std::string in = " " + testenv::quote(e.local + "/a.txt");
  struct Step {
    const char* what;
    std::string command;
    int status;
    const char* said;
  } steps[] = {
      {"new",
       "new " + c + " --folder " + testenv::quote(e.local) + " --encrypt --password-file " + right,
       0, ""},
      {"info", "info " + c, 0, "Encrypted:      yes"},
      {"a load without the password", "load " + c + in, archive::kPasswordNeeded,
       "password was not given"},
      {"a load with a wrong one", "load " + c + in + " --password-file " + wrong,
       archive::kPasswordWrong, "not correct"},
      {"a load with the right one", "load " + c + in + " --password-file " + right, 0, ""},
      {"the test", "test " + c + " --password-file " + right, 0, "1 entry checked, 0 damaged"},
      {"the last entry deleted", "delete " + c + " a.txt", 0, ""},
      {"a clear", "clear " + c, 0, ""},
      {"info again", "info " + c, 0, "Encrypted:      yes"},
      {"a load again without it", "load " + c + in, archive::kPasswordNeeded,
       "password was not given"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    std::string said;
    EXPECT_EQ(testenv::run(brc + s.command + " 2>&1", &said), s.status) << said;
    EXPECT_NE(said.find(s.said), std::string::npos) << said;
    if (std::string(s.what) == "a load with the right one") {
      EXPECT_EQ(ztest::read(e.env.root() + "/new.brc").entries.at(0).method, aes::kMethodAes);
    }
  }
}
