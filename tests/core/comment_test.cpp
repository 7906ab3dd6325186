// The configuration record: its stored bytes, round trips, the version rules
// and damaged records.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/compress.h"
#include "briefcase/comment.h"
#include "platform/diag.h"
#include "scriptedasker.h"
#include "testenv.h"

using briefcase::TBriefcaseComment;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// A stored record assembled by hand, with the body size computed unless given.
std::string record(const std::string& version, const std::string& body, long size = -1) {
  std::string s = version + std::string(1, '\0');
  if (version >= "1.200")
    s += std::to_string(size < 0 ? static_cast<long>(body.size()) : size) + std::string(1, '\0');
  return s + body;
}

std::string body(const std::string& inc, const std::string& exc,
                 const std::vector<std::pair<std::string, std::string>>& pairs, char level,
                 const std::string& subdirs) {
  std::string z(1, '\0');
  std::string b = inc + z + exc + z + std::to_string(pairs.size()) + z;
  for (const auto& p : pairs) b += p.first + z + p.second + z;
  return b + level + subdirs;
}

bool parse(const std::string& stored, TBriefcaseComment* r, int* level = nullptr) {
  archive::TCompress engine;
  engine.comment = bytes(stored);
  engine.level = 6;
  bool ok = r->Parse(engine);
  if (level) *level = engine.level;
  return ok;
}

class CommentTest : public ::testing::Test {
 protected:
  testenv::Env env{"1A2B3C4D"};
  ScriptedAsker asker;
  plat::ScopedAsker scoped{&asker};
};

}  // namespace

TEST_F(CommentTest, StoredFormOfTheOneComputerExample) {
  TBriefcaseComment r;
  r.AddEntry("C:\\Work");
  archive::TCompress engine;
  r.Build(engine);
  const std::string z(1, '\0');
  const std::string expected = "1.204" + z + "23" + z + z + z + "1" + z + "1A2B3C4D" + z +
                               "C:\\Work" + z + "6" + "1";
  ASSERT_EQ(engine.comment.size(), 32u);
  EXPECT_EQ(std::string(engine.comment.begin(), engine.comment.end()), expected);
  EXPECT_EQ(engine.endRecord.commentLength, 32);
  EXPECT_EQ(r.version, "1.204");
}

TEST_F(CommentTest, RoundTripsKeepEveryField) {
  TBriefcaseComment r;
  r.include = "*.doc;*.txt";
  r.exclude = "~*,*.tmp";
  r.subfolders = false;
  for (int i = 0; i < 30; ++i) {
    r.folders.entries.push_back({"ID" + std::to_string(i), "/home/user/folder " + std::to_string(i)});
  }
  archive::TCompress engine;
  engine.level = 0;
  r.Build(engine);

  TBriefcaseComment back;
  archive::TCompress reader;
  reader.comment = engine.comment;
  ASSERT_TRUE(back.Parse(reader));
  EXPECT_EQ(reader.level, 0);
  EXPECT_EQ(back.include, r.include);
  EXPECT_EQ(back.exclude, r.exclude);
  EXPECT_FALSE(back.subfolders);
  ASSERT_EQ(back.folders.count(), 30u);
  EXPECT_EQ(back.folders.entries[29].computerId, "ID29");
  EXPECT_EQ(back.folders.entries[29].folder, "/home/user/folder 29");

  // Empty patterns are two NULs in a row and read back empty.
  TBriefcaseComment empty;
  archive::TCompress e2;
  empty.Build(e2);
  std::string s(e2.comment.begin(), e2.comment.end());
  EXPECT_NE(s.find(std::string("\0\0" "0\0", 4)), std::string::npos);
  TBriefcaseComment emptyBack;
  ASSERT_TRUE(parse(s, &emptyBack));
  EXPECT_EQ(emptyBack.include, "");
  EXPECT_EQ(emptyBack.exclude, "");
  EXPECT_EQ(emptyBack.folders.count(), 0u);
}

TEST_F(CommentTest, VersionRules) {
  const std::string b = body("", "", {{"1A2B3C4D", "/w"}}, '6', "1");
  for (const char* v : {"1.204", "1.201", "1.203"}) {
    TBriefcaseComment r;
    EXPECT_TRUE(parse(record(v, b), &r)) << v;
    EXPECT_EQ(r.version, v);
  }
  // 1.200 has no subfolders character: the flag reads as on.
  TBriefcaseComment r200;
  int level = -1;
  ASSERT_TRUE(parse(record("1.200", body("", "", {{"1A2B3C4D", "/w"}}, '3', "")), &r200, &level));
  EXPECT_TRUE(r200.subfolders);
  EXPECT_EQ(level, 3);
  // A record written as off by 1.201 reads off.
  TBriefcaseComment off;
  ASSERT_TRUE(parse(record("1.201", body("", "", {}, '6', "0")), &off));
  EXPECT_FALSE(off.subfolders);
  EXPECT_TRUE(asker.messages.empty());

  // Newer versions are refused with the upgrade message, compared as text.
  for (const char* v : {"1.205", "1.210", "2.0"}) {
    asker.messages.clear();
    TBriefcaseComment r;
    EXPECT_FALSE(parse(record(v, b), &r)) << v;
    ASSERT_EQ(asker.messages.size(), 1u) << v;
    const auto& m = asker.messages[0];
    EXPECT_EQ(m.caption, "Error");
    EXPECT_EQ(m.buttons, static_cast<unsigned>(plat::btnOk));
    EXPECT_EQ(m.text.rfind(std::string("This briefcase needs at least version ") + v +
                               " of Briefcase.\nPlease obtain an upgrade from ",
                           0),
              0u)
        << m.text;
    EXPECT_EQ(m.text.back(), '.');
  }
}

TEST_F(CommentTest, DamagedRecordsAreRefusedWithoutAMessage) {
  const std::string good = body("*.doc", "", {{"1A2B3C4D", "/w"}, {"99", "/x"}}, '6', "1");
  TBriefcaseComment r;
  ASSERT_TRUE(parse(record("1.204", good), &r));

  // The size field off by one either way, though every field parses.
  EXPECT_FALSE(parse(record("1.204", good, static_cast<long>(good.size()) + 1), &r));
  EXPECT_FALSE(parse(record("1.204", good, static_cast<long>(good.size()) - 1), &r));
  EXPECT_FALSE(parse(record("1.204", good, 99999999), &r));

  // A table count above 30, and counts that disagree with the pairs: fewer
  // pairs that end where the table ends are read, more pairs are not.
  std::vector<std::pair<std::string, std::string>> many(31, {"1", "/f"});
  EXPECT_FALSE(parse(record("1.204", body("", "", many, '6', "1")), &r));
  std::string z(1, '\0');
  EXPECT_TRUE(parse(record("1.204", z + z + "2" + z + "1A" + z + "/w" + z + "61"), &r));
  EXPECT_EQ(r.folders.count(), 1u);
  EXPECT_FALSE(parse(record("1.204", z + z + "0" + z + "1A" + z + "/w" + z + "61"), &r));
  EXPECT_FALSE(parse(record("1.204", z + z + "x" + z + "61"), &r));
  // An id without its folder inside the table's space.
  EXPECT_FALSE(parse(record("1.204", z + z + "1" + z + "1A2B" + z + "61"), &r));
  // A level character that is not a digit.
  EXPECT_FALSE(parse(record("1.204", body("", "", {}, 'x', "1")), &r));

  // Every truncation of a good record is refused, and never read past its end.
  const std::string full = record("1.204", good);
  for (size_t n = 1; n < full.size(); ++n) {
    TBriefcaseComment t;
    EXPECT_FALSE(parse(full.substr(0, n), &t)) << n;
  }

  // Overlong fields.
  EXPECT_FALSE(parse(record("1.204", body("", "", {{"1234567890", "/w"}}, '6', "1")), &r));
  EXPECT_TRUE(parse(record("1.204", body("", "", {{"123456789", std::string(259, 'f')}}, '6', "1")), &r));
  EXPECT_FALSE(parse(record("1.204", body("", "", {{"1", std::string(260, 'f')}}, '6', "1")), &r));
  EXPECT_FALSE(parse(std::string(20, '1') + z + "0" + z, &r));
  EXPECT_TRUE(asker.messages.empty());
}

TEST_F(CommentTest, OldRecordsStayInsideTheComment) {
  // Before 1.200: no size, no count, no level; the last folder has no NUL.
  std::string z(1, '\0');
  TBriefcaseComment r;
  int level = 6;
  ASSERT_TRUE(parse("1.100" + z + "*.doc" + z + z + "AB" + z + "/one" + z + "CD" + z + "/two", &r,
                    &level));
  EXPECT_EQ(r.include, "*.doc");
  ASSERT_EQ(r.folders.count(), 2u);
  EXPECT_EQ(r.folders.entries[1].folder, "/two");
  EXPECT_TRUE(r.subfolders);
  // An id at the very end with no folder is refused.
  EXPECT_FALSE(parse("1.100" + z + z + z + "AB", &r));
}

TEST_F(CommentTest, TheFolderTableForThisComputer) {
  TBriefcaseComment r;
  r.folders.entries.push_back({"OTHER", "/elsewhere"});
  EXPECT_EQ(r.FolderForThisComputer(), "");
  r.SetFolderForThisComputer("/nowhere");  // adds nothing
  EXPECT_EQ(r.folders.count(), 1u);
  r.AddEntry("/first");
  r.folders.entries.push_back({"1A2B3C4D", "/second"});
  EXPECT_EQ(r.FolderForThisComputer(), "/first");
  r.SetFolderForThisComputer("/moved");
  EXPECT_EQ(r.folders.entries[1].folder, "/moved");
  EXPECT_EQ(r.folders.entries[2].folder, "/moved");
  EXPECT_EQ(r.folders.entries[0].folder, "/elsewhere");

  // A 31st computer is not added, and nothing is said.
  while (r.folders.count() < 30) r.folders.entries.push_back({"X", "/x"});
  r.AddEntry("/thirty-first");
  EXPECT_EQ(r.folders.count(), 30u);
  EXPECT_TRUE(asker.messages.empty());

  // Another computer sees its own folder.
  env.set("CARRYVALE_COMPUTER_ID", "OTHER");
  EXPECT_EQ(r.FolderForThisComputer(), "/elsewhere");
}

TEST_F(CommentTest, ARecordTooLargeForItsBufferIsRefused) {
  TBriefcaseComment r;
  for (int i = 0; i < 30; ++i) r.folders.entries.push_back({"12345678", std::string(259, 'a')});
  archive::TCompress engine;
  engine.comment = bytes("old");
  EXPECT_NO_THROW(r.Build(engine));  // 30 longest folders alone still fit
  r.include = std::string(600, 'i');
  engine.comment = bytes("old");
  EXPECT_THROW(r.Build(engine), briefcase::RecordTooLarge);
  EXPECT_TRUE(engine.comment == bytes("old"));

  TBriefcaseComment longFolder;
  longFolder.AddEntry(std::string(300, 'b'));
  EXPECT_THROW(longFolder.Build(engine), briefcase::RecordTooLarge);
}

TEST_F(CommentTest, ParseReportsItsFieldsToTheDiagnosticSink) {
  std::vector<std::string> lines;
  plat::setDiagReceiver([&](const std::string& l) { lines.push_back(l); });
  TBriefcaseComment r;
  bool ok = parse(record("1.204", body("*.doc", "~*", {{"1A2B3C4D", "/w"}}, '6', "0")), &r);
  plat::setDiagReceiver(nullptr);
  ASSERT_TRUE(ok);
  const std::vector<std::string> expected = {
      "ReadableWithVersion:1.204", "Version 1.2 size:" + std::to_string(body("*.doc", "~*", {{"1A2B3C4D", "/w"}}, '6', "0").size()),
      "Include:*.doc", "Exclude:~*", "Number of voldirs:1", "Volume:1A2B3C4D", "level:6",
      "Subdirs:no"};
  EXPECT_EQ(lines, expected);
}
