// The extraction engine: reading the directory (with its repairs), listing,
// unloading with the replace policies, restoring times and attributes, and
// the unload's safety rules (target folder, links, sizes, good local files).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/restore.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "passthrough.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "scriptedasker.h"
#include "testenv.h"

namespace fs = std::filesystem;
using craftzip::Entry;

namespace {

std::vector<uint8_t> record(const std::string& folder) {
  briefcase::TBriefcaseComment r;
  r.AddEntry(folder);
  return r.Stored(6);
}

std::string slurp(const std::string& path) {
  auto b = testenv::readBytes(path);
  return std::string(b.begin(), b.end());
}

int64_t mtimeOf(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return -1;
  return st.st_mtim.tv_sec;
}

// Sets a file's modification time, in seconds since 1970.
void setMtime(const std::string& path, int64_t t) {
  plat::FileTime ft = plat::fileTimeFromUnixTime(t);
  ASSERT_TRUE(plat::realFileSystem().setTimes(path, nullptr, &ft, &ft));
}

// Names of leftover temporary files under a folder.
std::vector<std::string> tempFiles(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec))
    if (e.path().filename().string().rfind(".brc", 0) == 0) out.push_back(e.path().string());
  return out;
}

class ExtractTest : public ::testing::Test {
 protected:
  testenv::Env env;
  std::string bc = env.work() + "/carry.brc";
  std::string target = env.work() + "/local";
  archive::TCompress c;
  std::vector<std::string> messages;
  ScriptedAsker asker;
  plat::ScopedAsker scoped{&asker};
  bool cancelAsked = false;

  void SetUp() override {
    c.archivePath = bc;
    c.callbacks.message = [this](const std::string& s) { messages.push_back(s); };
    c.callbacks.configMessage = c.callbacks.message;
    c.extract.targetFolder = target;
    c.extract.callbacks.replaceQuery = [this](std::string& p, plat::FileTime et, plat::FileTime nt,
                                              uint32_t es, uint32_t ns, uint8_t& a) {
      archive::askReplaceThroughAsker(p, et, nt, es, ns, a, &cancelAsked);
    };
  }
  void write(const std::vector<Entry>& entries, const std::string& preamble = "") {
    testenv::writeBytes(bc, craftzip::build(entries, record(target), preamble).bytes);
  }
  std::string local(const std::string& rel) { return slurp(target + "/" + rel); }
  bool exists(const std::string& rel) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(target + "/" + rel, ec));
  }
  bool said(const std::string& part) const {
    for (const auto& m : messages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  std::string allMessages() const {
    std::string s;
    for (const auto& m : messages) s += m + "|";
    return s;
  }
};

Entry file(const std::string& name, const std::string& data, uint16_t method = 8) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

// A local file, older or newer than the entries' time (1,700,000,000).
void localFile(const std::string& path, const std::string& data, int64_t mtime) {
  testenv::writeFile(path, data);
  setMtime(path, mtime);
}

}  // namespace

TEST_F(ExtractTest, UnloadWritesEntriesWithTheirTimesAttributesAndFolders) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\n";
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7919) >> 3);
  Entry ro = file("ro.txt", "keep me", 0);
  ro.external = 0x81000021;
  Entry folder = file("dir/", "", 0);
  folder.external = 0x81000010;
  write({file("a.txt", text), file("sub/deep/b.bin", binary, 0), file("empty.txt", "", 0), ro,
         folder});
  ASSERT_EQ(archive::UnloadRun(c), 0) << allMessages();
  EXPECT_EQ(local("a.txt"), text);
  EXPECT_EQ(local("sub/deep/b.bin"), binary);
  EXPECT_EQ(local("empty.txt"), "");
  EXPECT_EQ(local("ro.txt"), "keep me");
  EXPECT_TRUE(fs::is_directory(target + "/dir"));
  for (const char* f : {"a.txt", "sub/deep/b.bin", "empty.txt", "ro.txt"})
    EXPECT_EQ(mtimeOf(target + "/" + f), 1700000000) << f;
  struct stat st;
  ASSERT_EQ(::stat((target + "/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_EQ(::stat((target + "/a.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);
  EXPECT_EQ(c.extract.filesWritten, 4u);
  EXPECT_FALSE(c.extract.notAllUnloaded);
  EXPECT_TRUE(said("Unloading sub/deep/b.bin..."));
  EXPECT_TRUE(asker.replaces.empty());
  EXPECT_TRUE(tempFiles(target).empty());

  // The listing reports every entry, with the totals.
  std::vector<std::string> listed;
  c.names = {"a.txt"};  // cleared by the listing run
  c.extract.callbacks.listEntry = [&](const archive::TExtractEntry& e) {
    listed.push_back(e.displayName());
  };
  ASSERT_EQ(archive::ListRun(c), 0);
  EXPECT_EQ(listed, (std::vector<std::string>{"a.txt", "sub/deep/b.bin", "empty.txt", "ro.txt", "dir/"}));
  EXPECT_EQ(c.extract.totals.count, 5u);
  EXPECT_EQ(c.extract.totals.uncompressed, text.size() + binary.size() + 7);
  EXPECT_LT(c.extract.totals.compressed, c.extract.totals.uncompressed);
  EXPECT_EQ(archive::entryTime(c.extract.entries[0]), plat::fileTimeFromUnixTime(1700000000));
}

TEST_F(ExtractTest, ContainersWrittenByOtherTools) {
  const std::string src = env.work() + "/src";
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>((i * 2654435761u) >> 24);
  testenv::writeFile(src + "/a.txt", "alpha\n");
  testenv::writeFile(src + "/sub/b.txt", std::string(20000, 'b'));
  testenv::writeFile(src + "/sub/big.bin", big);
  for (const char* f : {"a.txt", "sub/b.txt", "sub/big.bin"})
    setMtime(src + "/" + f, 1600000000);  // an even second: DOS stamps keep it

  struct Tool {
    const char* name;
    const char* probe;
    std::string command;
  };
  const std::string zip = env.work() + "/tool.zip";
  const std::vector<Tool> tools = {
      {"python", "python3 -c 'import zipfile'",
       "cd " + testenv::quote(src) +
           " && python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',"
           "zipfile.ZIP_DEFLATED); [z.write(f) for f in ['a.txt','sub/b.txt','sub/big.bin']]; "
           "z.close()\" " + testenv::quote(zip)},
      {"bsdtar", "command -v bsdtar",
       "cd " + testenv::quote(src) + " && bsdtar --format zip -cf " + testenv::quote(zip) +
           " a.txt sub"},
      {"7z", "command -v 7z",
       "cd " + testenv::quote(src) + " && 7z a -tzip " + testenv::quote(zip) + " a.txt sub"},
  };
  int ran = 0;
  for (const Tool& t : tools) {
    SCOPED_TRACE(t.name);
    if (testenv::run(t.probe) != 0) continue;
    fs::remove(zip);
    fs::remove_all(target);
    ASSERT_EQ(testenv::run(t.command), 0);
    // The briefcase configuration goes into the archive comment.
    ASSERT_EQ(archive::rewriteComment(zip, record(target), nullptr), 0);
    c.archivePath = zip;
    c.extract.targetFolder = target;  // a listing run clears it
    c.names.clear();
    messages.clear();
    ASSERT_EQ(archive::UnloadRun(c), 0) << allMessages();
    EXPECT_EQ(local("a.txt"), "alpha\n");
    EXPECT_TRUE(local("sub/b.txt") == std::string(20000, 'b'));
    EXPECT_TRUE(local("sub/big.bin") == big) << allMessages();
    EXPECT_EQ(mtimeOf(target + "/sub/big.bin"), 1600000000);
    c.extract.callbacks.listEntry = nullptr;
    EXPECT_EQ(archive::ListRun(c), 0);
    EXPECT_EQ(archive::TestRun(c), 0);
    ++ran;
  }
  if (ran == 0) GTEST_SKIP() << "none of python3, bsdtar, 7z is installed";
}

TEST_F(ExtractTest, DirectoryRepairs) {
  const std::vector<Entry> entries = {file("one.txt", "first"), file("two/t.txt", "second")};
  struct Case {
    const char* name;
    std::string preamble;
    std::function<void(std::vector<uint8_t>&, const craftzip::Built&)> damage;
    int result;
    std::string message;
    bool written;
  };
  const std::vector<Case> cases = {
      {"prepended", std::string(40, 'J'), nullptr, 1,
       "40 extra bytes at beginning or within compressed file", true},
      {"zero offset", "",
       [](auto& b, auto& z) { craftzip::put32(b, z.endOffset + craftzip::kEndOffset, 0); }, 2,
       "NULL central directory offset", true},
      {"too long", "",
       [](auto& b, auto& z) {
         craftzip::put32(b, z.endOffset + craftzip::kEndSize, z.centralSize + 10);
       },
       2, "reported length of central directory is\n  10 bytes too long.  Compensating...", true},
      {"missing header", "",
       [](auto& b, auto& z) {
         craftzip::put16(b, z.endOffset + 8, 3);
         craftzip::put16(b, z.endOffset + craftzip::kEndTotal, 3);
       },
       3, "expected central file header signature not found (file 2)", false},
      {"multi-disk", "",
       [](auto& b, auto& z) { craftzip::put16(b, z.endOffset + craftzip::kEndDisk, 1); }, 1,
       "File claims to be last disk of a multi-part archive", true},
      {"bad local header", "",
       [](auto& b, auto&) { b[0] = 'X'; }, 2,
       "file #1:  bad briefcase file offset (local header sig):  0\n", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    craftzip::Built z = craftzip::build(entries, record(target), k.preamble);
    if (k.damage) k.damage(z.bytes, z);
    testenv::writeBytes(bc, z.bytes);
    fs::remove_all(target);
    messages.clear();
    EXPECT_EQ(archive::UnloadRun(c), k.result) << allMessages();
    EXPECT_TRUE(said(k.message)) << allMessages();
    EXPECT_EQ(exists("one.txt") && local("two/t.txt") == "second", k.written);
    if (!k.written && k.result == 2) {
      EXPECT_EQ(local("two/t.txt"), "second");  // only the damaged entry is skipped
    }
    if (k.result == 3) {
      EXPECT_TRUE(said("appropriate BINARY mode"));
    }
  }

  // An end record alone: the briefcase is empty.
  testenv::writeBytes(bc, craftzip::build({}, record(target)).bytes);
  messages.clear();
  int rows = 0;
  c.extract.callbacks.listEntry = [&](const archive::TExtractEntry&) { ++rows; };
  EXPECT_EQ(archive::ListRun(c), 1);
  EXPECT_EQ(rows, 0);
  EXPECT_TRUE(said("briefcase is empty"));
  // Not a briefcase at all, and no briefcase.
  testenv::writeFile(bc, "just some text");
  EXPECT_EQ(archive::ListRun(c), archive::kStructureInvalid);
  EXPECT_TRUE(said("Reached end of file before finding configuration"));
  EXPECT_TRUE(said("Not a briefcase: the file has no archive end record"));
  EXPECT_FALSE(said("Success"));
  fs::remove(bc);
  EXPECT_EQ(archive::UnloadRun(c), 9);
  EXPECT_TRUE(said("Error:  cannot open briefcase [ " + bc + " ]"));
}

TEST_F(ExtractTest, YesToAllCoversOlderFilesThenNewerOnesAfterASecondYesToAll) {
  write({file("o1.txt", "new o1"), file("o2.txt", "new o2"), file("n1.txt", "new n1"),
         file("n2.txt", "new n2")});
  localFile(target + "/o1.txt", "old", 1600000000);
  localFile(target + "/o2.txt", "old", 1600000000);
  localFile(target + "/n1.txt", "newer", 1800000000);
  localFile(target + "/n2.txt", "newer", 1800000000);
  asker.replaceAnswers = {plat::mrYesToAll, plat::mrYesToAll};
  ASSERT_EQ(archive::UnloadRun(c), 0) << allMessages();
  ASSERT_EQ(asker.replaces.size(), 2u);
  EXPECT_EQ(asker.replaces[0].existingPath, target + "/o1.txt");
  EXPECT_EQ(asker.replaces[1].existingPath, target + "/n1.txt");
  EXPECT_NE(asker.replaces[0].existingDetails.find("3 bytes\nmodified on "), std::string::npos);
  for (const char* f : {"o1.txt", "o2.txt", "n1.txt", "n2.txt"})
    EXPECT_EQ(local(f), std::string("new ") + std::string(f).substr(0, 2));
  EXPECT_FALSE(c.extract.notAllUnloaded);
}

TEST_F(ExtractTest, NoToAllSkipsEveryLaterExistingFile) {
  write({file("o1.txt", "new"), file("o2.txt", "new"), file("n1.txt", "new"), file("fresh.txt", "new")});
  localFile(target + "/o1.txt", "old", 1600000000);
  localFile(target + "/o2.txt", "old", 1600000000);
  localFile(target + "/n1.txt", "newer", 1800000000);
  asker.replaceAnswers = {plat::mrNoToAll};
  ASSERT_EQ(archive::UnloadRun(c), 0);
  EXPECT_EQ(asker.replaces.size(), 1u);
  EXPECT_TRUE(said("Not replaced: o1.txt (the local file was kept)\n"));
  EXPECT_TRUE(said("Target file exists.\nSkipping o2.txt"));
  EXPECT_TRUE(said("Target file newer.\nSkipping n1.txt"));
  EXPECT_EQ(local("o1.txt"), "old");
  EXPECT_EQ(local("o2.txt"), "old");
  EXPECT_EQ(local("n1.txt"), "newer");
  EXPECT_EQ(local("fresh.txt"), "new");
  EXPECT_TRUE(c.extract.notAllUnloaded);
}

TEST_F(ExtractTest, RenameWritesIntoANewFolderAndLeavesTheExistingFile) {
  write({file("a.txt", "from briefcase")});
  localFile(target + "/a.txt", "mine", 1600000000);
  // First a Rename onto the same path: the file still exists, so it is asked again.
  asker.replaceAnswers = {plat::mrRename, plat::mrRename};
  asker.renamePaths = {target + "/a.txt", target + "/copies/new/a?.txt"};
  ASSERT_EQ(archive::UnloadRun(c), 0) << allMessages();
  EXPECT_EQ(asker.replaces.size(), 2u);
  EXPECT_EQ(local("a.txt"), "mine");
  EXPECT_EQ(local("copies/new/a?.txt"), "from briefcase");
  // A path beyond the bound is refused, not cut to fit.
  fs::remove_all(target + "/copies");
  asker.replaceAnswers = {plat::mrRename};
  asker.renamePaths = {target + "/" + std::string(250, 'r') + "/a.txt"};
  EXPECT_EQ(archive::UnloadRun(c), 2);
  EXPECT_TRUE(said("checkdir error:  path too long: "));
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
  // Without a replace handler an existing file is declined.
  c.extract.callbacks.replaceQuery = nullptr;
  ASSERT_EQ(archive::UnloadRun(c), 0);
  EXPECT_TRUE(c.extract.notAllUnloaded);
  EXPECT_EQ(local("a.txt"), "mine");
}

TEST_F(ExtractTest, NamesAreMappedForTheLocalFileSystem) {
  Entry dos = file("old\\dos\\f.txt", "dos");
  dos.host = 0;
  Entry latin = file(std::string("caf\xe9.txt"), "latin");  // Windows-1252, no UTF-8 flag
  write({file("x:y?.txt", "1"), file("readme.txt;3", "2"), file("notes.txt;rev3", "3"),
         file(std::string("ctl\x01.txt"), "4"), dos, latin, file("back\\slash.txt", "5")});
  ASSERT_EQ(archive::UnloadRun(c), 0) << allMessages();
  EXPECT_EQ(local("x:y?.txt"), "1");
  EXPECT_EQ(local("readme.txt;3"), "2");
  EXPECT_EQ(local("notes.txt;rev3"), "3");
  EXPECT_EQ(local("ctl.txt"), "4");
  EXPECT_EQ(local("old/dos/f.txt"), "dos");
  EXPECT_EQ(local("caf\xc3\xa9.txt"), "latin");
  EXPECT_EQ(local("back\\slash.txt"), "5");
  EXPECT_TRUE(said("Unloading ctl^A.txt..."));

  // Names select their entries without regard to case, and a name holding
  // '\' still selects its own entry; a name that selects nothing gives 11.
  fs::remove_all(target);
  c.names = {"X:Y?.TXT", "back\\slash.txt", "CAF\xc3\x89.txt", "nothing.txt"};
  EXPECT_EQ(archive::UnloadRun(c), 11);
  EXPECT_TRUE(exists("x:y?.txt"));
  EXPECT_TRUE(exists("back\\slash.txt"));
  EXPECT_TRUE(exists("caf\xc3\xa9.txt"));
  EXPECT_FALSE(exists("readme.txt;3"));

  // A folder longer than 257 characters is refused.
  fs::remove_all(target);
  c.names.clear();
  const std::string longFolder(258 - target.size() - 1, 'f');
  write({file(longFolder + "/x.txt", "x"), file("short.txt", "s")});
  EXPECT_EQ(archive::UnloadRun(c), 2);
  EXPECT_TRUE(said("checkdir error:  path too long: "));
  EXPECT_EQ(local("short.txt"), "s");
}

TEST_F(ExtractTest, EncryptedAndUnsupportedEntriesAreLeftOut) {
  Entry enc = file("secret.txt", "xx");
  enc.flags = 1;
  Entry bz = file("bz.txt", "yy", 12);
  Entry v46 = file("v46.txt", "zz");  // later than the ZIP64 extensions (4.5)
  v46.versionNeeded = 46;
  write({file("plain.txt", "plain"), enc, bz, v46});
  EXPECT_EQ(archive::UnloadRun(c), 81);
  EXPECT_EQ(local("plain.txt"), "plain");
  EXPECT_FALSE(exists("secret.txt"));
  EXPECT_FALSE(exists("bz.txt"));
  EXPECT_FALSE(exists("v46.txt"));
  c.names = {"secret.txt"};
  EXPECT_EQ(archive::UnloadRun(c), 81);
}

TEST_F(ExtractTest, DamagedEntriesNeverReplaceAGoodLocalFile) {
  Entry corrupt = file("corrupt.txt", std::string(5000, 'c'));
  corrupt.payloadSet = true;
  corrupt.payload = "\xff\xfe garbage that is not deflate";
  Entry badCrc = file("badcrc.txt", "data with a wrong CRC");
  badCrc.crcSet = true;
  badCrc.crc = 0x12345678;
  // Says 10 bytes, inflates to 100,000.
  Entry bomb = file("bomb.txt", std::string(100000, 'A'));
  bomb.usizeSet = true;
  bomb.usize = 10;
  write({file("first.txt", "1"), corrupt, badCrc, bomb, file("last.txt", "9")});
  for (const char* f : {"corrupt.txt", "badcrc.txt", "bomb.txt"})
    localFile(target + "/" + f, "precious", 1600000000);
  asker.replaceAnswers = {plat::mrYesToAll};
  EXPECT_EQ(archive::UnloadRun(c), 2) << allMessages();
  EXPECT_TRUE(said("  error:  invalid compressed data to inflate corrupt.txt\n"));
  EXPECT_TRUE(said(" bad CRC "));
  EXPECT_TRUE(said("(should be 12345678)"));
  EXPECT_TRUE(said("  error:  invalid compressed data to inflate bomb.txt\n"));
  for (const char* f : {"corrupt.txt", "badcrc.txt", "bomb.txt"}) EXPECT_EQ(local(f), "precious");
  EXPECT_EQ(local("first.txt"), "1");
  EXPECT_EQ(local("last.txt"), "9");
  EXPECT_TRUE(tempFiles(target).empty());

  // A test run reads them all, writes nothing and names the damaged ones.
  fs::remove_all(target);
  std::vector<std::pair<std::string, int>> tested;
  c.extract.callbacks.entryTested = [&](const archive::TExtractEntry& e, int r) {
    tested.emplace_back(e.displayName(), r);
  };
  EXPECT_EQ(archive::TestRun(c), 2);
  EXPECT_EQ(tested, (std::vector<std::pair<std::string, int>>{
                        {"first.txt", 0}, {"corrupt.txt", 2}, {"badcrc.txt", 2}, {"bomb.txt", 2},
                        {"last.txt", 0}}));
  EXPECT_FALSE(fs::exists(target + "/first.txt"));
}

namespace {

// A file that takes no bytes: the disk is full.
class FullFile final : public testenv::PassThroughFile {
 public:
  using PassThroughFile::PassThroughFile;
  bool write(const void*, size_t, size_t* put) override {
    *put = 0;
    plat::setLastError(ENOSPC);
    return false;
  }
};

// The real file system, whose n-th new temporary file finds the disk full.
class FillingFs final : public testenv::PassThroughFs {
 public:
  explicit FillingFs(int failAt) : failAt_(failAt) {}
  int temps = 0;
  std::unique_ptr<plat::File> createTemp(const std::string& f, const std::string& pre,
                                         std::string* path) override {
    auto file = real().createTemp(f, pre, path);
    if (file && ++temps == failAt_) return std::make_unique<FullFile>(std::move(file));
    return file;
  }

 private:
  int failAt_;
};

}  // namespace

TEST_F(ExtractTest, FullDiskOnTheThirdOfFiveEntries) {
  write({file("f1.txt", "one"), file("f2.txt", "two"), file("f3.txt", "three"),
         file("f4.txt", "four"), file("f5.txt", "five")});
  localFile(target + "/f3.txt", "old three", 1600000000);
  asker.replaceAnswers = {plat::mrYes};
  FillingFs filling(3);
  plat::ScopedFileSystem scopedFs(&filling);
  EXPECT_EQ(archive::UnloadRun(c), 50);
  EXPECT_TRUE(said("f3.txt:  write error (disk full?).\n"));
  EXPECT_EQ(local("f1.txt"), "one");
  EXPECT_EQ(local("f2.txt"), "two");
  EXPECT_EQ(local("f3.txt"), "old three");
  EXPECT_FALSE(exists("f4.txt"));
  EXPECT_FALSE(exists("f5.txt"));
  EXPECT_EQ(filling.temps, 3);
  EXPECT_TRUE(tempFiles(target).empty());
}

TEST_F(ExtractTest, NothingIsWrittenOutsideTheTargetFolderNorThroughALink) {
  Entry dos = file("..\\dos-evil.txt", "x");
  dos.host = 0;
  Entry sneaky = file("inside.txt", "x");
  sneaky.localName = "../local-evil.txt";  // the local header disagrees with the directory
  write({file("../evil1.txt", "x"), file("a/../../evil2.txt", "x"), file("/evil3.txt", "x"),
         file("C:/evil4.txt", "x"), file(std::string(".\x01./evil5.txt"), "x"), dos, sneaky,
         file("ok.txt", "fine")});
  EXPECT_EQ(archive::UnloadRun(c), 2) << allMessages();
  EXPECT_TRUE(said("mapname:  conversion of ../evil1.txt failed\n"));
  EXPECT_TRUE(said("mapname:  conversion of .^A./evil5.txt failed\n"));
  EXPECT_EQ(local("ok.txt"), "fine");
  for (const auto& e : fs::recursive_directory_iterator(env.root()))
    EXPECT_EQ(e.path().filename().string().find("evil"), std::string::npos) << e.path();

  // Links inside the target folder: a folder link is not followed, a file
  // link is replaced itself and what it points to stays as it was.
  const std::string outside = env.work() + "/outside";
  fs::create_directories(outside);
  testenv::writeFile(outside + "/victim.txt", "precious");
  fs::remove_all(target);
  fs::create_directories(target);
  fs::create_directory_symlink(outside, target + "/linkdir");
  fs::create_symlink(outside + "/victim.txt", target + "/file.txt");
  write({file("linkdir/x.txt", "through the link"), file("file.txt", "replaced")});
  asker.replaceAnswers = {plat::mrYes};
  messages.clear();
  EXPECT_EQ(archive::UnloadRun(c), 2) << allMessages();
  EXPECT_TRUE(said("exists but is not directory"));
  EXPECT_FALSE(fs::exists(outside + "/x.txt"));
  EXPECT_EQ(slurp(outside + "/victim.txt"), "precious");
  EXPECT_FALSE(fs::is_symlink(target + "/file.txt"));
  EXPECT_EQ(local("file.txt"), "replaced");
}

TEST_F(ExtractTest, ImplodedEntryEndsTheRunAndCancelStopsBeforeTheNextEntry) {
  write({file("a.txt", "a"), file("imploded.txt", "i", 6), file("c.txt", "c")});
  EXPECT_EQ(archive::UnloadRun(c), 3);
  EXPECT_EQ(local("a.txt"), "a");
  EXPECT_FALSE(exists("c.txt"));

  fs::remove_all(target);
  write({file("a.txt", "a"), file("b.txt", "b"), file("c.txt", "c")});
  int checks = 0;
  std::vector<int> totals;
  c.callbacks.cancelCheck = [&](bool& cancel) { cancel = ++checks == 2; };
  c.callbacks.totalProgress = [&](int p) { totals.push_back(p); };
  EXPECT_EQ(archive::UnloadRun(c), 19);
  EXPECT_TRUE(exists("a.txt"));
  EXPECT_TRUE(exists("b.txt"));
  EXPECT_FALSE(exists("c.txt"));
  EXPECT_EQ(totals, (std::vector<int>{0, 33, 66}));
}

TEST(EntryTimesTest, ExtendedTimestampOldUnixBlockAndDosStamp) {
  auto ut = [](uint8_t flags, std::vector<uint32_t> times) {
    std::vector<uint8_t> x;
    archive::ByteWriter w(&x);
    w.u16(0x5455), w.u16(static_cast<uint16_t>(1 + 4 * times.size())), w.u8(flags);
    for (uint32_t t : times) w.u32(t);
    return x;
  };
  auto cat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const uint16_t dosDate = 0x5764, dosTime = 0x6000, dos1980 = 0x21;
  plat::FileTime dos;
  ASSERT_TRUE(plat::fileTimeFromDosDateTime((uint32_t(dosDate) << 16) | dosTime, &dos));

  auto t = archive::entryTimes(ut(7, {1000, 2000, 3000}), dosDate, dosTime);
  EXPECT_EQ(t.known, 7u);
  EXPECT_EQ(t.modification, plat::fileTimeFromUnixTime(1000));
  EXPECT_EQ(t.access, plat::fileTimeFromUnixTime(2000));
  // The central form says three times but holds one.
  t = archive::entryTimes(ut(7, {1000}), dosDate, dosTime);
  EXPECT_EQ(t.known, 1u);
  // Before 1970: believed only with the DOS stamp at its first day.
  const uint32_t before1970 = static_cast<uint32_t>(-86400);
  t = archive::entryTimes(ut(1, {before1970}), dosDate, dosTime);
  EXPECT_EQ(t.modification, dos);
  t = archive::entryTimes(ut(1, {before1970}), dos1980, 0);
  EXPECT_EQ(t.modification, plat::fileTimeFromUnixTime(-86400));
  // The old Unix block: access then modification, unless a "UT" came first.
  std::vector<uint8_t> old = {0x55, 0x58, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  archive::putU32(&old[4], 111), archive::putU32(&old[8], 222);
  t = archive::entryTimes(old, dosDate, dosTime);
  EXPECT_EQ(t.modification, plat::fileTimeFromUnixTime(222));
  EXPECT_EQ(t.access, plat::fileTimeFromUnixTime(111));
  t = archive::entryTimes(cat(ut(1, {5000}), old), dosDate, dosTime);
  EXPECT_EQ(t.modification, plat::fileTimeFromUnixTime(5000));
  // A block longer than the field ends the scan; no times: the DOS stamp.
  t = archive::entryTimes({0x55, 0x54, 40, 0, 1, 1, 2, 3, 4}, dosDate, dosTime);
  EXPECT_EQ(t.modification, dos);
  EXPECT_EQ(t.access, dos);
  t = archive::entryTimes({}, 0x01a0, 0);  // month 13: not a date
  EXPECT_EQ(t.known, 0u);
  t = archive::entryTimes({}, 0, 0);  // a zero date: 1980-01-01 00:00
  EXPECT_EQ(t.modification, archive::entryTimes({}, 0x0021, 0).modification);
}

TEST(ExtractNamesTest, WildcardsPrintableNamesAndCodePages) {
  EXPECT_TRUE(archive::wildcardMatch("*.TXT", "notes.txt"));
  EXPECT_TRUE(archive::wildcardMatch("a?c", "abc"));
  EXPECT_FALSE(archive::wildcardMatch("a?c", "ac"));
  EXPECT_TRUE(archive::wildcardMatch("a\\*c", "a*c"));
  EXPECT_FALSE(archive::wildcardMatch("a\\*c", "abc"));
  EXPECT_TRUE(archive::wildcardMatch("\xc3\x80*", "\xc3\xa0x"));  // Latin-1 capitals fold
  EXPECT_FALSE(archive::wildcardMatch("\xc3\x97", "\xc3\xb7"));    // but not the multiplication sign
  EXPECT_FALSE(archive::wildcardMatch(std::string(60, '*') + "b", std::string(5000, 'a')));
  EXPECT_EQ(archive::printableName(std::string("a\x01\x1f", 3)), "a^A^_");
  EXPECT_EQ(archive::nameToUtf8("\x80\x9f\xe9", false), "\xe2\x82\xac\xc5\xb8\xc3\xa9");
  EXPECT_EQ(archive::utf8Prefix("a\xc3\xa9z", 2), "a\xc3\xa9");
}
