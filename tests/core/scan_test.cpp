// Load candidates: the patterns, the scan of the local folder, the row
// comparison and the briefcase date.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "app/compare.h"
#include "app/localscan.h"
#include "app/rows.h"
#include "briefcase/brdate.h"
#include "briefcase/patterns.h"
#include "platform/files.h"
#include "scriptedasker.h"
#include "stickfs.h"
#include "testenv.h"

using namespace briefcase;

namespace {

std::vector<std::string> split(const std::string& text, PatternKind kind = PatternKind::Include) {
  return SplitPatterns(text, kind).patterns;
}

void setMtime(const std::string& path, plat::FileTime t) {
  ASSERT_TRUE(plat::fileSystem().setTimes(path, nullptr, &t, &t)) << path;
}

class PatternTest : public ::testing::Test {
 protected:
  testenv::Env env;
  ScriptedAsker asker;
  plat::ScopedAsker scoped{&asker};
};

}  // namespace

TEST_F(PatternTest, SplittingKeepsEmptyPatternsWhereTheyEndAtASeparator) {
  EXPECT_EQ(split("*.doc,,*.txt"), (std::vector<std::string>{"*.doc", "", "*.txt"}));
  EXPECT_EQ(split(";"), (std::vector<std::string>{""}));
  EXPECT_EQ(split("*.tmp;", PatternKind::Exclude), (std::vector<std::string>{"*.tmp"}));
  EXPECT_EQ(split(""), std::vector<std::string>{});
  EXPECT_EQ(split(",a"), (std::vector<std::string>{"", "a"}));

  // 29 characters are kept, 30 are dropped, at a separator or at the end.
  std::string p29(29, 'x'), p30(30, 'y');
  EXPECT_EQ(split(p29 + "," + p30 + ",z"), (std::vector<std::string>{p29, "z"}));
  EXPECT_EQ(split("a;" + p30), (std::vector<std::string>{"a"}));
  EXPECT_EQ(split(p29), (std::vector<std::string>{p29}));

  // The text is cut at 251 characters before splitting.
  std::string longText = std::string(249, ',') + "abc";
  EXPECT_EQ(split(longText).size(), 30u);
  EXPECT_TRUE(asker.messages.size() == 1);  // more than 30 patterns
  asker.messages.clear();
  std::string cut = std::string(10, 'a') + "," + std::string(240, 'b') + ",tail";
  EXPECT_EQ(split(cut), (std::vector<std::string>{std::string(10, 'a')}));
  EXPECT_TRUE(asker.messages.empty());
}

TEST_F(PatternTest, MoreThanThirtyPatternsAreCutWithAWarning) {
  std::string text;
  for (int i = 0; i < 30; ++i) text.append("p").append(std::to_string(i)).append(",");
  EXPECT_EQ(split(text, PatternKind::Exclude).size(), 30u);
  EXPECT_TRUE(asker.messages.empty());  // exactly 30, nothing further

  EXPECT_EQ(split(text + "more", PatternKind::Exclude).size(), 30u);
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "Too many exclude patterns; only 30 patterns will be used");
  EXPECT_EQ(asker.messages[0].caption, "Warning");
  EXPECT_EQ(asker.messages[0].buttons, static_cast<unsigned>(plat::btnOk));

  EXPECT_EQ(split(text + "more", PatternKind::Include).size(), 30u);
  EXPECT_EQ(asker.messages.back().text, "Too many include patterns; only 30 patterns will be used");
}

TEST_F(PatternTest, MatchingRules) {
  EXPECT_TRUE(MatchPattern("*.doc", "report.doc"));
  EXPECT_TRUE(MatchPattern("*.DOC", "report.doc"));
  EXPECT_TRUE(MatchPattern("*.TMP", "x.tmp"));
  EXPECT_FALSE(MatchPattern("*.doc", "report.docx"));
  EXPECT_TRUE(MatchPattern("*", ""));
  EXPECT_TRUE(MatchPattern("a*b*c", "aXXbYYc"));
  EXPECT_FALSE(MatchPattern("a*b*c", "aXXbYY"));
  EXPECT_TRUE(MatchPattern("r?port.*", "report.txt"));
  EXPECT_FALSE(MatchPattern("?", ""));
  EXPECT_FALSE(MatchPattern("ab", "a"));
  EXPECT_FALSE(MatchPattern("", "a"));
  EXPECT_TRUE(MatchPattern("", ""));

  // '\' makes the next character literal; at the end it never matches.
  EXPECT_TRUE(MatchPattern("\\*.doc", "*.doc"));
  EXPECT_FALSE(MatchPattern("\\*.doc", "a.doc"));
  EXPECT_TRUE(MatchPattern("a\\?", "a?"));
  EXPECT_FALSE(MatchPattern("a\\?", "ab"));
  EXPECT_FALSE(MatchPattern("a\\", "a\\"));
  EXPECT_FALSE(MatchPattern("a\\", "a"));

  // Latin-1 capitals fold, in their UTF-8 form and as single bytes; the
  // multiplication sign does not.
  EXPECT_TRUE(MatchPattern("\xC3\x89T\xC3\x89.TXT", "\xC3\xA9t\xC3\xA9.txt"));  // ÉTÉ / été
  EXPECT_TRUE(MatchPattern("\xC0", "\xE0"));
  EXPECT_TRUE(MatchPattern("\xDE", "\xFE"));
  EXPECT_FALSE(MatchPattern("\xD7", "\xF7"));
  EXPECT_FALSE(MatchPattern("\xC3\x97", "\xC3\xB7"));  // × ÷
  EXPECT_FALSE(MatchPattern("\xDF", "\xFF"));
  // '?' takes one whole character.
  EXPECT_TRUE(MatchPattern("?t?.txt", "\xC3\xA9t\xC3\xA9.txt"));
  EXPECT_FALSE(MatchPattern("??t.txt", "\xC3\xA9t.txt"));
}

TEST_F(PatternTest, IncludedAndExcluded) {
  TPatternList none;
  EXPECT_TRUE(IsIncluded(none, "any"));
  EXPECT_FALSE(IsExcluded(none, "any"));
  TPatternList lone = SplitPatterns(";", PatternKind::Include);
  EXPECT_FALSE(IsIncluded(lone, "any"));  // one empty pattern includes nothing
  TPatternList ex = SplitPatterns("*.TMP;~*", PatternKind::Exclude);
  EXPECT_TRUE(IsExcluded(ex, "work.tmp"));
  EXPECT_TRUE(IsExcluded(ex, "~lock"));
  EXPECT_FALSE(IsExcluded(ex, "work.txt"));
}

namespace {

class ScanTest : public ::testing::Test {
 protected:
  testenv::Env env;
  std::string local = env.work() + "/local";
  plat::FileTime date = plat::fileTimeFromUnixTime(1700000000);

  void file(const std::string& rel, plat::FileTime t) {
    testenv::writeFile(local + "/" + rel, "content of " + rel);
    setMtime(local + "/" + rel, t);
  }
  std::vector<std::string> scan(const std::string& include = "", const std::string& exclude = "",
                                bool subfolders = true, const std::string& folder = "") {
    app::ScanRules r;
    r.localFolder = folder.empty() ? local : folder;
    r.subfolders = subfolders;
    r.include = SplitPatterns(include, PatternKind::Include);
    r.exclude = SplitPatterns(exclude, PatternKind::Exclude);
    r.briefcaseDate = date;
    std::vector<std::string> out;
    app::ScanLocalFolder(r, [&](const app::LoadCandidate& c) {
      out.push_back(c.relativeFolder + "|" + c.name);
      EXPECT_EQ(c.path, local + "/" + (c.relativeFolder.empty() ? "" : c.relativeFolder + "/") + c.name);
    });
    std::sort(out.begin(), out.end());
    return out;
  }
};

}  // namespace

TEST_F(ScanTest, OnlyFilesStrictlyNewerThanTheBriefcaseDate) {
  file("equal.txt", date);
  file("tick.txt", date + 1);
  file("old.txt", date - plat::kTicksPerSecond);
  EXPECT_EQ(scan(), (std::vector<std::string>{"|tick.txt"}));
}

TEST_F(ScanTest, PatternsAlsoDecideWhichFoldersAreEntered) {
  const plat::FileTime t = date + plat::kTicksPerSecond;
  file("a.doc", t);
  file("Reports/b.doc", t);
  file("Old.doc/c.doc", t);
  file("Old.doc/notes.txt", t);
  EXPECT_EQ(scan("*.doc"), (std::vector<std::string>{"Old.doc|c.doc", "|a.doc"}));
  // An excluded folder name keeps its files out.
  EXPECT_EQ(scan("", "Reports"),
            (std::vector<std::string>{"Old.doc|c.doc", "Old.doc|notes.txt", "|a.doc"}));
}

TEST_F(ScanTest, DotFoldersLinksAndSubfoldersOff) {
  const plat::FileTime t = date + plat::kTicksPerSecond;
  file("top.txt", t);
  file(".hidden/secret.txt", t);
  file(".dotfile", t);
  file("x/top.txt", t);
  file("x/y/deep.txt", t);
  std::filesystem::create_symlink(local + "/x", local + "/linkdir");
  std::filesystem::create_symlink(local + "/top.txt", local + "/linkfile.txt");
  // Two files of one name in two folders give two rows; a folder whose name
  // begins with '.' is never entered, a link neither reported nor followed.
  EXPECT_EQ(scan(), (std::vector<std::string>{"x/y|deep.txt", "x|top.txt", "|.dotfile", "|top.txt"}));
  EXPECT_EQ(scan("", "", false), (std::vector<std::string>{"|.dotfile", "|top.txt"}));
  // A trailing '/' on the local folder gives the same relative folders.
  EXPECT_EQ(scan("", "", true, local + "/"), scan());
}

TEST_F(ScanTest, AMissingFolderYieldsNothing) {
  EXPECT_TRUE(scan("", "", true, env.work() + "/nowhere").empty());
  EXPECT_EQ(app::RelativeFolder("/a/b", "/a/b"), "");
  EXPECT_EQ(app::RelativeFolder("/a/b", "/a/b/x/y"), "x/y");
  EXPECT_EQ(app::RelativeFolder("/a/b/", "/a/b/x"), "x");
}

TEST(Compare, TheTwoSecondRule) {
  const plat::FileTime e = plat::fileTimeFromUnixTime(1700000000);
  const plat::FileTime s = plat::kTicksPerSecond;
  auto icons = [&](int64_t d) {
    app::RowIcons r = app::CompareTimes(static_cast<plat::FileTime>(static_cast<int64_t>(e) + d), e);
    return std::make_pair(static_cast<int>(r.local), static_cast<int>(r.entry));
  };
  EXPECT_EQ(icons(0), std::make_pair(0, 0));
  EXPECT_EQ(icons(static_cast<int64_t>(19 * s / 10)), std::make_pair(0, 0));
  EXPECT_EQ(icons(-static_cast<int64_t>(19 * s / 10)), std::make_pair(0, 0));
  EXPECT_EQ(icons(static_cast<int64_t>(2 * s)), std::make_pair(2, 1));   // local newer
  EXPECT_EQ(icons(-static_cast<int64_t>(2 * s)), std::make_pair(1, 2));  // entry newer
  EXPECT_STREQ(app::RowStateName(app::kIconOnly), "only");
}

TEST(Compare, ALocalRowIsFoundUnderEverySpellingItsFolderTakes) {
  for (bool stick : {false, true}) {
    SCOPED_TRACE(stick);
    testenv::Env env;
    const std::string local = env.work() + "/local";
    testenv::writeFile(local + "/report.txt", "r");
    testenv::writeFile(local + "/sub/Doc.txt", "d");
    if (!stick) testenv::writeFile(local + "/Report.txt", "a file of its own");
    testenv::StickFs disk(local, {});
    plat::ScopedFileSystem scoped(stick ? &disk : nullptr);
    app::LocalRowIndex rows(local);
    rows.add(app::ListRow{"report.txt", "", 1, 0, app::kIconOnly}, 0);
    rows.add(app::ListRow{"Doc.txt", "sub", 1, 0, app::kIconOnly}, 1);
    const auto find = [&](const std::string& name, const std::string& folder) {
      return rows.find(app::ListRow{name, folder, 1, 0, app::kIconOnly});
    };
    EXPECT_EQ(find("report.txt", ""), 0);
    EXPECT_EQ(find("Report.txt", ""), stick ? 0 : -1);
    EXPECT_EQ(find("doc.TXT", "SUB"), stick ? 1 : -1);
    EXPECT_EQ(find("other.txt", ""), -1);
  }
}

TEST(BriefcaseDate, ReadAndWriteWithTheirMessages) {
  testenv::Env env;
  ScriptedAsker asker;
  plat::ScopedAsker scoped(&asker);
  const std::string path = env.work() + "/b.brc";
  testenv::writeFile(path, "x");
  const plat::FileTime t = plat::fileTimeFromUnixTime(1650000000);
  ASSERT_TRUE(WriteBriefcaseDate(path, t));
  plat::FileTime read = 0;
  ASSERT_TRUE(ReadBriefcaseDate(path, &read));
  EXPECT_EQ(read, t);
  EXPECT_TRUE(asker.messages.empty());

  // Writing clears the read-only attribute.
  chmod(path.c_str(), 0444);
  ASSERT_TRUE(WriteBriefcaseDate(path, t + plat::kTicksPerSecond));
  uint32_t attrs = 0;
  ASSERT_TRUE(plat::fileAttributes(path, &attrs));
  EXPECT_FALSE(attrs & plat::kAttrReadOnly);

  // A missing container: 8102 with the path, and the current time in UTC.
  const std::string missing = env.work() + "/gone.brc";
  const plat::FileTime before = plat::nowFileTime();
  EXPECT_FALSE(ReadBriefcaseDate(missing, &read));
  EXPECT_GE(read, before);
  EXPECT_LE(read, plat::nowFileTime());
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].caption, "Warning");
  EXPECT_EQ(asker.messages[0].text, "Briefcase " + missing +
                                        " not found.\n\nProbably wrong disk.\n\nInsert the "
                                        "disk, and press the Refresh button");
  EXPECT_FALSE(WriteBriefcaseDate(missing, t));
  EXPECT_EQ(asker.messages.back().text, "Cannot open briefcase file for writing");
}
