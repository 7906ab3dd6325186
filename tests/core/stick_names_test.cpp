// Names and times on real removable disks (exFAT, NTFS and FAT through the
// drivers a desktop mounts sticks with): what the probes learn, one file per
// entry where two spellings name one file, names the disk refuses, and the
// briefcase date of a load onto a disk that keeps coarse times.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/localscan.h"
#include "app/operations.h"
#include "app/rows.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/extract/naming.h"
#include "briefcase/brdate.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "platform/filetime.h"
#include "removable_disk.h"
#include "scriptedasker.h"
#include "testenv.h"

namespace fs = std::filesystem;
using testdisk::Kind;

namespace {

class StickNames : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    std::string why;
    disk_ = testdisk::Mounted::make(GetParam(), 64, &why);
    if (!disk_) GTEST_SKIP() << why;
  }
  bool folds() const { return GetParam() != Kind::Ntfs; }  // ntfs-3g keeps POSIX names
  std::string root() const { return disk_->root(); }
  // A briefcase of these entries, in the test's own folder, for `local`.
  std::string briefcase(const std::vector<craftzip::Entry>& entries, const std::string& local) {
    briefcase::TBriefcaseComment r;
    r.AddEntry(local);
    const std::string path = env_.work() + "/carry.brc";
    testenv::writeBytes(path, craftzip::build(entries, r.Stored(6)).bytes);
    return path;
  }

  testenv::Env env_;  // before the disk: it is unmounted before the folder goes
  ScriptedAsker asker_;
  plat::ScopedAsker scoped_{&asker_};
  std::unique_ptr<testdisk::Mounted> disk_;
};

std::set<std::string> listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

TEST_P(StickNames, TheProbesLearnWhatTheDiskDoes) {
  const std::set<std::string> before = listing(root());  // the FAT driver lists the label
  archive::FolderNames names;
  const archive::FolderNaming n = names.naming(root());
  EXPECT_EQ(n.foldsCase, folds());
  EXPECT_FALSE(n.dropsTrailingDots);
  EXPECT_FALSE(n.dropsTrailingSpaces);
  // The characters this disk refuses, each tried on a name of our own.
  const bool fat = GetParam() == Kind::Fat;
  struct Name {
    std::string name, reason;
  } table[] = {
      {"a:b.txt", folds() ? "the disk does not accept the character ':' in file names" : ""},
      {"q?.txt", folds() ? "the disk does not accept the character '?' in file names" : ""},
      {"caf\xc3\xa9.txt",
       fat ? "the disk does not accept the character '\xc3\xa9' in file names" : ""},
      {"plain.txt", ""},
  };
  for (const Name& t : table) EXPECT_EQ(names.refusal(root(), t.name, EINVAL), t.reason) << t.name;
  EXPECT_EQ(listing(root()), before) << "a probe was left behind";
}

TEST_P(StickNames, TwoSpellingsOfOneFileTakeOneEntry) {
  // Where the disk folds case, Report.txt and report.txt are one file: the
  // first entry replaces it and the second stays; on NTFS they are two.
  const std::string local = root() + "/local";
  fs::create_directories(local);
  if (folds()) {
    testenv::writeFile(local + "/REPORT.TXT", "old");
  } else {
    testenv::writeFile(local + "/Report.txt", "old");
    testenv::writeFile(local + "/report.txt", "old");
  }
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    archive::TCompress c;
    c.archivePath = briefcase(
        {craftzip::entry("Report.txt", "one", 0), craftzip::entry("report.txt", "two", 0)}, local);
    c.extract.threads = threads;
    std::string said;
    c.callbacks.message = [&](const std::string& m) { said += m; };
    app::UnloadRequest q;
    q.localFolder = local;
    q.replace = app::ReplaceMode::YesToAll;
    q.after = app::AfterUnload::Remove;
    q.trash = false;
    const app::UnloadResult res = app::Unload(c, q);
    if (folds()) {
      EXPECT_EQ(res.code, archive::kCompressedError) << said;
      EXPECT_NE(said.find("report.txt is already the file of another entry"), std::string::npos)
          << said;
      // One file, under the spelling the driver gives a replaced file.
      ASSERT_EQ(listing(local).size(), 1u);
      EXPECT_EQ(archive::looseKey(*listing(local).begin()), "REPORT.TXT");
      EXPECT_EQ(testenv::readText(local + "/REPORT.TXT"), "one");
      // The local file is the row of either entry's briefcase row.
      app::LocalRowIndex rows(local);
      rows.add(app::ListRow{"REPORT.TXT", "", 3, 0, app::kIconOnly}, 0);
      EXPECT_EQ(rows.find(app::ListRow{"report.txt", "", 3, 0, app::kIconOnly}), 0);
      testenv::writeFile(local + "/REPORT.TXT", "old");
    } else {
      EXPECT_EQ(res.code, 0) << said;
      EXPECT_EQ(testenv::readText(local + "/Report.txt"), "one");
      EXPECT_EQ(testenv::readText(local + "/report.txt"), "two");
      EXPECT_TRUE(res.removed);
    }
  }
}

TEST_P(StickNames, ANameTheDiskRefusesIsNamedWithTheReason) {
  // Each written as a new file; what the disk refuses is named with the
  // character and stays, the rest lands. NTFS takes every one of them.
  const bool fat = GetParam() == Kind::Fat;
  const struct Name {
    std::string entry, refusedPart;  // the part of the path refused, "" where it lands
    char refused;
  } table[] = {
      {"a:b.txt", "a:b.txt", ':'},
      {"q?.txt", "q?.txt", '?'},
      {"d:r/in.txt", "d:r", ':'},
      {"caf\xc3\xa9.txt", fat ? "caf\xc3\xa9.txt" : "", '\0'},
      {"nul.txt", "", '\0'},
      {"dot.", "", '\0'},
      {"space ", "", '\0'},
  };
  const std::string local = root() + "/local";
  fs::create_directories(local);
  testenv::writeFile(local + "/ok.txt", "old");
  std::vector<craftzip::Entry> entries{craftzip::entry("ok.txt", "new", 0)};
  for (const Name& t : table) entries.push_back(craftzip::entry(t.entry, "x", 0));
  archive::TCompress c;
  c.archivePath = briefcase(entries, local);
  c.extract.targetFolder = local;
  std::string said;
  c.callbacks.message = [&](const std::string& m) { said += m; };
  c.extract.callbacks.replaceQuery = [](std::string&, plat::FileTime, plat::FileTime, uint32_t,
                                        uint32_t, uint8_t& a) { a = archive::kAnswerYesToAll; };
  const int rc = archive::UnloadRun(c);
  EXPECT_EQ(testenv::readText(local + "/ok.txt"), "new");
  std::set<std::string> landed{"ok.txt"};
  size_t refused = 0;
  for (const Name& t : table) {
    SCOPED_TRACE(t.entry);
    const bool refuses = GetParam() != Kind::Ntfs && !t.refusedPart.empty();
    if (!refuses) {
      EXPECT_EQ(testenv::readText(local + "/" + t.entry), "x");
      landed.insert(t.entry.substr(0, t.entry.find('/')));
      continue;
    }
    ++refused;
    const std::string ch = t.refused ? std::string(1, t.refused) : "\xc3\xa9";
    EXPECT_NE(said.find("/" + t.refusedPart + ":  the disk does not accept the character '" + ch +
                        "' in file names"),
              std::string::npos)
        << said;
  }
  EXPECT_EQ(rc, refused ? archive::kNameRefused : 0) << said;
  EXPECT_EQ(c.extract.notWritten.size(), refused);
  EXPECT_EQ(listing(local), landed);
}

TEST_P(StickNames, AFileLoadedJustBeforeTheEndOfALoadIsNoCandidate) {
  // The briefcase on the stick, the local folder on the computer's own disk.
  const std::string local = env_.work() + "/local";
  fs::create_directories(local);
  const std::string made = briefcase({}, local);
  const std::string bag = root() + "/carry.brc";
  testenv::writeBytes(bag, testenv::readBytes(made));  // the FAT driver has no copy_file
  const plat::FileTime weekAgo = plat::nowFileTime() - 7 * 86400 * plat::kTicksPerSecond;
  ASSERT_TRUE(plat::fileSystem().setTimes(bag, nullptr, &weekAgo, &weekAgo));
  briefcase::TBriefcaseComment record;
  record.AddEntry(local);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    // Early in a second, so that the load ends within the second the file
    // was written in (the coarse time of the disk cuts the date below it).
    while (plat::nowFileTime() % plat::kTicksPerSecond > plat::kTicksPerSecond / 2)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string file = local + "/a.txt";
    testenv::writeFile(file, "version " + std::to_string(round));
    archive::TCompress c;
    c.archivePath = bag;
    c.comment = record.Stored(6);
    const app::LoadResult res =
        app::Load(c, {{file}, local, [&] { c.comment = record.Stored(6); }});
    ASSERT_EQ(res.code, 0);
    plat::FileTime date = 0;
    ASSERT_TRUE(briefcase::ReadBriefcaseDate(bag, &date));
    std::vector<std::string> candidates;
    app::ScanLocalFolder(app::RulesFor(record, local, date),
                         [&](const app::LoadCandidate& k) { candidates.push_back(k.name); });
    EXPECT_TRUE(candidates.empty()) << "the file just loaded counts as changed";
    // A change made once the load has ended counts.
    testenv::writeFile(file, "changed after the load");
    candidates.clear();
    app::ScanLocalFolder(app::RulesFor(record, local, date),
                         [&](const app::LoadCandidate& k) { candidates.push_back(k.name); });
    EXPECT_EQ(candidates, std::vector<std::string>{"a.txt"});
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, StickNames, ::testing::Values(Kind::ExFat, Kind::Ntfs, Kind::Fat),
                         [](const auto& info) { return std::string(testdisk::name(info.param)); });

}  // namespace
