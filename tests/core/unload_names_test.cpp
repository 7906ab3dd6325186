// Hostile names and crafted local folders against the unload: for each case,
// what is written, which entries a later removal keeps (not unloaded) and
// the run's result.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/names.h"
#include "archive/extract/naming.h"
#include "archive/extract/restore.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "stickfs.h"
#include "testenv.h"

namespace fs = std::filesystem;
using craftzip::Entry;

namespace {

Entry entry(const std::string& name, const std::string& data) {
  return craftzip::entry(name, data, 0);
}

Entry badCrc(const std::string& name) {
  Entry e = entry(name, "damaged");
  e.crcSet = true;
  e.crc = 0x12345678;
  return e;
}

// The local tree: files with their bytes (through links), folders as
// "name/" with "", and each link also as "name@".
std::map<std::string, std::string> tree(const std::string& root, const std::string& skip) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
    if (e.path() == skip) continue;
    if (e.is_symlink()) out[e.path().lexically_relative(root).string() + "@"] = "";
    std::string rel = e.path().lexically_relative(root).string();
    if (e.is_directory())
      out[rel + "/"] = "";
    else
      out[rel] = testenv::readText(e.path().string());
  }
  return out;
}

enum class Briefcase { Beside, Inside, HardLinked, SymLinked };
enum class Disk { Linux, Stick };  // a stick: testenv::StickFs over the local folder

struct Case {
  const char* what;
  std::vector<Entry> entries;
  std::map<std::string, std::string> before;  // local files before the run
  int rc;
  std::map<std::string, std::string> after;   // the local tree afterwards
  std::string unloaded;                       // per entry: 'U' unloaded, 'K' kept in the briefcase
  std::string said = "";                      // a part of some message
  Briefcase briefcase = Briefcase::Beside;
  Disk disk = Disk::Linux;
};

const std::string kLongLevel(250, 'f');
std::string deepChain() {
  std::string s;
  for (int i = 0; i < 130; ++i) s += "d/";
  return s;
}
const std::string kDeepChain = deepChain();

std::vector<Case> cases() {
  return {
      {"characters Windows forbids and version suffixes are ordinary",
       {entry("q?.txt", "1"), entry("q*.txt", "2"), entry("q:.txt", "3"), entry("q|.txt", "4"),
        entry("q_.txt", "5"), entry("x.txt;1", "6"), entry("x.txt", "7"),
        entry("a<b>\"c", "8"), entry("back\\slash", "9")},
       {},
       0,
       {{"q?.txt", "1"}, {"q*.txt", "2"}, {"q:.txt", "3"}, {"q|.txt", "4"}, {"q_.txt", "5"},
        {"x.txt;1", "6"}, {"x.txt", "7"}, {"a<b>\"c", "8"}, {"back\\slash", "9"}},
       "UUUUUUUUU"},
      {"a name changed by a dropped control character never takes another entry's file",
       {entry("ctl\x01.txt", "A"), entry("ctl.txt", "B")},
       {},
       2,
       {{"ctl.txt", "B"}},
       "KU",
       "Skipping ctl^A.txt:  its name had to be changed to "},
      {"a changed name replaces no file by a policy",
       {entry("nl\nname", "new")},
       {{"nlname", "the user's"}},
       2,
       {{"nlname", "the user's"}},
       "K",
       "and a file of that name is there"},
      {"of two entries with one name the last is written (a Windows-1252 name and its twin)",
       {entry("caf\xe9.txt", "latin"), entry("caf\xc3\xa9.txt", "utf8"), entry("d.txt", "1"),
        entry("d.txt", "2"), entry("d.txt", "3")},
       {},
       2,
       {{"caf\xc3\xa9.txt", "utf8"}, {"d.txt", "3"}},
       "KUKKU",
       "Skipping d.txt:  a later entry of the same name is unloaded instead"},
      {"a '.' level names the same file",
       {entry("a/./b.txt", "1"), entry("a/b.txt", "2")},
       {},
       2,
       {{"a/", ""}, {"a/b.txt", "2"}},
       "KU"},
      {"on a disk that ignores case, two spellings are one file: the first entry's",
       {entry("Report.txt", "1"), entry("report.txt", "2"), entry("Docs/A.txt", "3"),
        entry("docs/a.txt", "4"), entry("notes", "5"), entry("notes.", "6")},
       {{"REPORT.TXT", "old"}},
       2,
       {{"REPORT.TXT", "1"}, {"Docs/", ""}, {"Docs/A.txt", "3"}, {"notes", "5"}},
       "UKUKUK",
       "Skipping report.txt:  ",
       Briefcase::Beside,
       Disk::Stick},
      {"names the disk refuses stay, each with the reason",
       {entry("a:b.txt", "x"), entry("q?.txt", "x"), entry("nul.txt", "x"), entry("d|r/x.txt", "x"),
        entry("ok.txt", "ok")},
       {},
       archive::kNameRefused,
       {{"ok.txt", "ok"}},
       "KKKKU",
       "error:  cannot create ",
       Briefcase::Beside,
       Disk::Stick},
      {"the briefcase under another spelling on a disk that ignores case",
       {entry("CARRY.BRC", "fifteen bytes!!"), entry("a.txt", "a")},
       {},
       1,
       {{"a.txt", "a"}},
       "KU",
       "CARRY.BRC is the briefcase itself\n",
       Briefcase::Inside,
       Disk::Stick},
      {"names that leave the folder are refused before any folder is made",
       {entry("a/../../esc.txt", "x"), entry("../up.txt", "x"), entry("/abs.txt", "x"),
        entry("C:/drive.txt", "x"), entry(".\x01./x.txt", "x"), entry("ok.txt", "ok")},
       {},
       2,
       {{"ok.txt", "ok"}},
       "KKKKKU",
       "mapname:  conversion of a/../../esc.txt failed\n"},
      {"paths beyond the bound are refused whole, never cut",
       {entry("keep/" + kLongLevel + "/y.txt", "x"), entry("keep2/" + kLongLevel, "x"),
        entry(kDeepChain + "x.txt", "x"), entry("fits.txt", "f")},
       {},
       2,
       {{"fits.txt", "f"}},
       "KKKU",
       "checkdir error:  path too long: "},
      {"folders made for an entry that was not written go again",
       {entry("n1/ok.txt", "ok"), badCrc("n1/n2/n3/bad.txt"), badCrc("m1/m2/bad.txt")},
       {},
       2,
       {{"n1/", ""}, {"n1/ok.txt", "ok"}},
       "UKK",
       " bad CRC "},
      {"a folder in the way",
       {entry("dir/x.txt", "x")},
       {{"dir/x.txt/inner", "i"}},
       24,
       {{"dir/", ""}, {"dir/x.txt/", ""}, {"dir/x.txt/inner", "i"}},
       "K",
       "error:  a folder is in the way of "},
      {"an entry named like the briefcase beside its files",
       {entry("carry.brc", "fifteen bytes!!"), entry("a.txt", "a")},
       {},
       1,
       {{"a.txt", "a"}},
       "KU",
       "carry.brc is the briefcase itself\n",
       Briefcase::Inside},
      {"another name of the briefcase's file",
       {entry("alias.brc", "fifteen bytes!!")},
       {},
       1,
       {},
       "K",
       "is the briefcase itself",
       Briefcase::HardLinked},
      {"a link to the briefcase",
       {entry("alias.brc", "fifteen bytes!!")},
       {},
       1,
       {},
       "K",
       "is the briefcase itself",
       Briefcase::SymLinked},
  };
}

std::vector<uint8_t> recordFor(const std::string& folder) {
  briefcase::TBriefcaseComment r;
  r.AddEntry(folder);
  return r.Stored(6);
}

// One case on one thread or on workers: the same files, outcomes and result.
void runCase(const Case& k, unsigned threads) {
  {
    testenv::Env env;
    const std::string target = env.work() + "/local";
    fs::create_directories(target);
    const std::string bc =
        k.briefcase == Briefcase::Inside ? target + "/carry.brc" : env.work() + "/carry.brc";
    const std::vector<uint8_t> bytes = craftzip::build(k.entries, recordFor(target)).bytes;
    testenv::writeBytes(bc, bytes);
    if (k.briefcase == Briefcase::HardLinked) fs::create_hard_link(bc, target + "/alias.brc");
    if (k.briefcase == Briefcase::SymLinked) fs::create_symlink(bc, target + "/alias.brc");
    for (const auto& [rel, data] : k.before) {
      fs::create_directories(fs::path(target + "/" + rel).parent_path());
      testenv::writeFile(target + "/" + rel, data);
    }

    testenv::StickFs stick(target, {});
    plat::ScopedFileSystem disk(k.disk == Disk::Stick ? &stick : nullptr);
    archive::TCompress c;
    c.extract.threads = threads;
    std::string messages;
    c.archivePath = bc;
    c.callbacks.message = [&](const std::string& m) { messages += m + "|"; };
    c.extract.targetFolder = target;
    c.extract.callbacks.replaceQuery = [](std::string&, plat::FileTime, plat::FileTime, uint32_t,
                                          uint32_t, uint8_t& a) { a = archive::kAnswerYesToAll; };
    EXPECT_EQ(archive::UnloadRun(c), k.rc) << messages;

    std::map<std::string, std::string> after = k.after;
    if (k.briefcase == Briefcase::HardLinked || k.briefcase == Briefcase::SymLinked)
      after["alias.brc"] = std::string(bytes.begin(), bytes.end());
    if (k.briefcase == Briefcase::SymLinked) after["alias.brc@"] = "";  // still a link
    EXPECT_EQ(tree(target, bc), after);
    EXPECT_EQ(testenv::readBytes(bc), bytes) << "the briefcase was changed";
    std::string unloaded;
    for (const auto& e : c.extract.entries)
      unloaded += e.outcome == archive::UnloadOutcome::Unloaded ? 'U' : 'K';
    EXPECT_EQ(unloaded, k.unloaded);
    EXPECT_EQ(c.extract.notAllUnloaded, k.unloaded.find('K') != std::string::npos);
    if (!k.said.empty()) {
      EXPECT_NE(messages.find(k.said), std::string::npos) << messages;
    }
  }
}

TEST(UnloadNamesTest, HostileNamesWriteOneFileEachOrStayInTheBriefcase) {
  for (const Case& k : cases()) {
    for (unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(k.what);
      SCOPED_TRACE(threads);
      runCase(k, threads);
    }
  }
}

TEST(UnloadNamesTest, ANameBorneExactlySelectsOnlyItsOwnEntry) {
  const std::vector<std::string> entries = {"Report.txt", "report.txt", "notes.txt", "a*", "x\\y"};
  struct Selection {
    std::vector<std::string> names;
    std::vector<long> chosen;  // per entry: the position of the name that selects it
  } selections[] = {
      {{"report.txt"}, {-1, 0, -1, -1, -1}},
      {{"REPORT.TXT"}, {0, 0, -1, -1, -1}},  // no entry bears it: letter case aside
      {{"NOTES.txt", "Report.txt"}, {1, -1, 0, -1, -1}},
      {{"abc", "a*"}, {-1, -1, -1, 0, -1}},  // an entry's name is a pattern
      {{"x\\y", "X\\Y"}, {-1, -1, -1, -1, 0}},
  };
  for (const Selection& s : selections) {
    archive::NameSelector selector(s.names, entries);
    std::vector<long> chosen;
    for (const std::string& e : entries) chosen.push_back(selector.select(e));
    EXPECT_EQ(chosen, s.chosen) << s.names[0];
  }
}

TEST(UnloadNamesTest, SpellingsADiskMayTakeForOneShareALooseKey) {
  struct Pair {
    std::string a, b;
    bool same;
  } pairs[] = {
      {"Docs/Report.txt", "docs/REPORT.TXT", true},
      {"notes. /x.", "NOTES/X", true},                        // trailing dots and spaces, per level
      {"caf\xc3\xa9.txt", "CAF\xc3\x89.TXT", true},           // beyond ASCII
      {"\xce\xb1\xce\xb2", "\xce\x91\xce\x92", true},         // Greek
      {"a.b", "ab", false},
      {"a/b", "a_b", false},
      {"x\xff", "X\xff", true},  // a byte that is no UTF-8 stays as it is
  };
  for (const Pair& p : pairs)
    EXPECT_EQ(archive::looseKey(p.a) == archive::looseKey(p.b), p.same) << p.a << " " << p.b;
}

TEST(UnloadNamesTest, NamesBeyondThePathBoundUnderAFolder) {
  const auto folder = [](size_t length) { return "/" + std::string(length - 1, 'd'); };
  struct Bound {
    std::string folder;
    std::vector<std::string> names, beyond;
  } bounds[] = {
      {folder(257), {"b", "bc", "x/y"}, {"bc", "x/y"}},  // files up to 259, folders up to 257
      {folder(257) + "/", {"b"}, {}},
      {folder(258), {"b"}, {"b"}},                      // a folder that can hold nothing
      {folder(100), {"a/../b", "q?.txt;1", std::string(158, 'n'), std::string(159, 'n')},
       {std::string(159, 'n')}},
  };
  for (const Bound& b : bounds) {
    SCOPED_TRACE(b.folder.size());
    EXPECT_EQ(archive::namesBeyondPathBound(b.folder, b.names), b.beyond);
  }
}

TEST(UnloadNamesTest, ALocalFolderBeyondTheBoundIsRefusedBeforeAnythingIsWritten) {
  testenv::Env env;
  // 319 characters, as two levels; its first 259 characters name a sibling.
  const std::string parent = env.work() + "/" + std::string(200, 'p');
  const std::string folder = parent + "/" + std::string(318 - parent.size(), 'q');
  ASSERT_EQ(folder.size(), 319u);
  fs::create_directories(parent);
  const std::string bc = env.work() + "/carry.brc";
  testenv::writeBytes(bc, craftzip::build({entry("a.txt", "a")}, recordFor(env.work())).bytes);
  for (bool exists : {false, true}) {
    if (exists) fs::create_directories(folder);
    archive::TCompress c;
    c.archivePath = bc;
    c.extract.targetFolder = folder;
    std::string messages;
    c.callbacks.message = [&](const std::string& m) { messages += m; };
    EXPECT_EQ(archive::UnloadRun(c), archive::kBadParameters);
    EXPECT_NE(messages.find("path too long"), std::string::npos);
    EXPECT_EQ(tree(env.work(), bc), exists ? (std::map<std::string, std::string>{
                                                 {parent.substr(env.work().size() + 1) + "/", ""},
                                                 {folder.substr(env.work().size() + 1) + "/", ""}})
                                           : (std::map<std::string, std::string>{
                                                 {parent.substr(env.work().size() + 1) + "/", ""}}));
  }
}

}  // namespace
