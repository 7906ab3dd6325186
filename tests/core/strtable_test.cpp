#include "platform/strtable.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

bool inKnownRange(int id) {
  return (id >= 1 && id <= 59) || (id >= 670 && id <= 805) ||
         (id >= 8001 && id <= 8070) || (id >= 8100 && id <= 8312);
}

TEST(StrTable, IdsSortedUniqueAndInTheirRanges) {
  std::vector<int> ids = plat::strIds();
  ASSERT_FALSE(ids.empty());
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_TRUE(inKnownRange(ids[i])) << ids[i];
    if (i > 0) {
      EXPECT_LT(ids[i - 1], ids[i]) << "at index " << i;
    }
    // Lookup must find every entry (it relies on the order).
    EXPECT_TRUE(plat::hasStr(ids[i])) << ids[i];
    EXPECT_FALSE(plat::loadStr(ids[i]).empty()) << ids[i];
  }
}

TEST(StrTable, ExactTextsAcrossRanges) {
  EXPECT_EQ(plat::loadStr(13), "Briefcase file structure invalid");
  EXPECT_EQ(plat::loadStr(31), "File is too large to compress (>4GB)");
  EXPECT_EQ(plat::loadStr(712),
            "The briefcase was created with a newer version,\nor its configuration is "
            "corrupt.\nPlease open another briefcase,\nor create a new briefcase with "
            "File|New.");
  EXPECT_EQ(plat::loadStr(803),
            "No briefcase opened. Open a briefcase container, or create a new one.");
  EXPECT_EQ(plat::loadStr(8035), "Briefcase error: %s (%s)\n");
  EXPECT_EQ(plat::loadStr(8006),
            "(please check that you have transferred or created the briefcase file in "
            "the\n\r\n  appropriate BINARY mode)\n");
  EXPECT_EQ(plat::loadStr(8207),
            "Please choose a filename. Push the \"Browse\" button to browse your computer.");
  // Stored without the upgrade address the caller appends.
  EXPECT_EQ(plat::loadStr(8310),
            "This briefcase needs at least version %s of Briefcase.\nPlease obtain an "
            "upgrade from ");
}

TEST(StrTable, NumbersWithoutTextAreAbsent) {
  for (int id : {0, 14, 27, 60, 81, 88, 692, 8199, 8311, 9999}) {
    EXPECT_FALSE(plat::hasStr(id)) << id;
    EXPECT_EQ(plat::loadStr(id), "") << id;
  }
}

TEST(StrTable, LoadCutsAt200Characters) {
  std::string longText(250, 'x');
  EXPECT_EQ(plat::cutLoadedText(longText), std::string(200, 'x'));
  EXPECT_EQ(plat::cutLoadedText(std::string(200, 'y')), std::string(200, 'y'));
  EXPECT_EQ(plat::cutLoadedText("short"), "short");
  // No stored text reaches the cut, so none is shown truncated.
  for (int id : plat::strIds()) EXPECT_LT(plat::loadStr(id).size(), plat::kMaxLoadedText) << id;
}

TEST(StrTable, LoadStrFmtFormats) {
  EXPECT_EQ(plat::loadStrFmt(703, 3, 120UL), "   3 file(s) selected - 120 kB");
  EXPECT_EQ(plat::loadStrFmt(690, 3),
            "3 files were successfully unloaded.\nRemove these files from briefcase?");
  EXPECT_EQ(plat::loadStrFmt(8035, "Disk may be full", "/tmp/a.brc"),
            "Briefcase error: Disk may be full (/tmp/a.brc)\n");
  EXPECT_EQ(plat::loadStrFmt(8013, 2, "EOF", 1234L),
            "file #2:  bad briefcase file offset (EOF):  1234\n");
  // Only the stored text is cut, never what formatting makes of it.
  std::string path(300, 'p');
  std::string msg = plat::loadStrFmt(8102, path.c_str());
  EXPECT_EQ(msg.substr(0, 10), "Briefcase ");
  EXPECT_NE(msg.find(path), std::string::npos);
  EXPECT_EQ(plat::loadStrFmt(9999), "");
}

TEST(StrTable, EveryNameIsUniqueAndNamesItsText) {
  struct Named {
    const char* name;
    int id;
  };
  const Named named[] = {
#define STR(id, name, text) {#name, plat::name},
#include "strings.inc"
#undef STR
  };
  std::set<std::string> names;
  for (const Named& n : named) {
    EXPECT_TRUE(names.insert(n.name).second) << n.name;
    EXPECT_TRUE(plat::hasStr(n.id)) << n.name;
  }
  EXPECT_EQ(names.size(), plat::strIds().size());
  EXPECT_EQ(plat::loadStr(plat::kStrNothingToDo), "Nothing to do!");
}

}  // namespace
