// The deletions a briefcase carries: blocks that must not be trusted, every
// kind of run keeping or replacing the rows, and other ZIP readers (and brc)
// seeing the same archive with rows as without.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "archive/append.h"
#include "archive/deletions.h"
#include "archive/extract/extract.h"
#include "testenv.h"
#include "update_support.h"

using namespace utest;
using archive::DeletionRow;
using Rows = std::vector<DeletionRow>;

namespace {

const Rows kRows = {{"a/gone.txt", 133000000000000000ULL, 0x12345678u, 42},
                    {"b.txt", 134000000000000000ULL, 0u, 0},
                    {"\xc3\xa9t\xc3\xa9/r\xc3\xa9sum\xc3\xa9.doc", 1ULL, 0xffffffffu, 5000000000ULL}};

archive::FoundDeletions carried(const std::string& path) {
  archive::FoundDeletions found;
  EXPECT_EQ(archive::readBriefcaseDeletions(path, &found), 0);
  return found;
}

// Row bytes as the codec writes them, unchecked, and a trailer for any bytes.
std::string rowBytes(const Rows& rows) {
  const std::vector<uint8_t> b = archive::encodeDeletions(rows);
  return std::string(b.begin(), b.end() - archive::kDeletionTrailerSize);
}
std::string withTrailer(const std::string& rows, uint32_t count, uint32_t length = 0, uint16_t version = 1) {
  std::vector<uint8_t> b(rows.begin(), rows.end());
  archive::ByteWriter w(&b);
  w.u16(version);
  w.u16(0);
  w.u32(count);
  w.u32(length ? length : static_cast<uint32_t>(rows.size() + archive::kDeletionTrailerSize));
  w.u32(static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size()))));
  w.bytes("CVDL", 4);
  return std::string(b.begin(), b.end());
}

// Where the directory of an archive without a block starts, and that
// archive with `block` put right before it.
uint32_t directoryOf(const std::string& zip) {
  return ztest::le32(reinterpret_cast<const uint8_t*>(zip.data()) + zip.rfind("PK\x05\x06") + 16);
}
std::string insertBlock(const std::string& zip, const std::string& block) {
  const size_t end = zip.rfind("PK\x05\x06");
  const uint32_t at = directoryOf(zip);
  std::string out = zip.substr(0, at) + block + zip.substr(at);
  archive::putU32(reinterpret_cast<uint8_t*>(out.data()) + end + block.size() + 16,
                  static_cast<uint32_t>(at + block.size()));
  return out;
}

std::string loadTwo(Env& e, const Rows* rows = nullptr) {
  Recorder r(e);
  if (rows) r.engine.deletions = *rows;
  const std::vector<std::string> files = {e.file("a.txt", textBytes(5000, 1)), e.file("d/b.txt", "b\n")};
  for (const std::string& f : files) setMtime(f, 1700000000);
  EXPECT_EQ(r.load(files), 0);
  EXPECT_FALSE(r.engine.deletions.has_value());
  return readAll(e.container);
}

// A block that stands where a block stands but must not be trusted is
// ignored with the reason; the entries list and unload as ever, and the next
// run says so and does not carry it on.
TEST(Deletions, AHostileBlockIsIgnored) {
  Env e;
  e.env.set("CARRYVALE_UPDATE", "rewrite");
  const std::string plain = loadTwo(e);
  const std::string good = rowBytes(kRows);
  Rows many;
  for (size_t i = 0; i <= archive::kMaxDeletionRows; ++i) many.push_back({"f" + std::to_string(i), 0, 0, 0});
  std::string changed = withTrailer(good, 3);
  changed[3] ^= 1;
  const struct Case {
    const char* what;
    std::string block;
    const char* reason;
  } cases[] = {
      {"a row changed after the CRC", changed, "CRC-32"},
      {"a length past the start", withTrailer(good, 3, 0x7fffffff), "past the start"},
      // It takes the last entry's last 40 bytes (which the file holds) as its own.
      {"a length into the last entry", withTrailer(plain.substr(directoryOf(plain) - 40, 40) + good, 3),
       "overlaps"},
      {"a count above the rows", withTrailer(good, 4), "runs past"},
      {"a newer version", withTrailer(good, 3, 0, 2), "newer version"},
      {"two rows for one path", withTrailer(rowBytes({kRows[0], kRows[0]}), 2), "two rows"},
      {"rows out of order", withTrailer(rowBytes({kRows[1], kRows[0]}), 2), "not sorted"},
      {"a .. level", withTrailer(rowBytes({{"a/../../x", 0, 0, 0}}), 1), "leaves the folder"},
      {"an absolute path", withTrailer(rowBytes({{"/etc/passwd", 0, 0, 0}}), 1), "leaves the folder"},
      {"a NUL", withTrailer(rowBytes({{std::string("a\0b", 3), 0, 0, 0}}), 1), "control"},
      {"not UTF-8", withTrailer(rowBytes({{"caf\xe9", 0, 0, 0}}), 1), "UTF-8"},
      {"too many rows", withTrailer(rowBytes(many), static_cast<uint32_t>(many.size())), "more than"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool overlap = std::string(c.reason) == "overlaps";
    writeFile(e.container, insertBlock(plain, overlap ? c.block.substr(40) : c.block));
    const archive::FoundDeletions found = carried(e.container);
    EXPECT_TRUE(!found.present && found.rows.empty());
    EXPECT_NE(found.problem.find(c.reason), std::string::npos) << found.problem;

    Recorder r(e);
    r.engine.extract.targetFolder = e.env.root() + "/out/" + c.what;
    fs::create_directories(r.engine.extract.targetFolder);
    EXPECT_EQ(archive::UnloadRun(r.engine), 0);
    EXPECT_EQ(listFolder(r.engine.extract.targetFolder), (std::set<std::string>{"a.txt", "d"}));
    ASSERT_EQ(r.load({e.file("c.txt", "c\n")}), 0);
    EXPECT_TRUE(r.sawPart("deletions that"));
    EXPECT_EQ(carried(e.container).problem, "");
  }
  // Rows given that cannot be written fail the run before any write.
  const std::string before = readAll(e.container);
  Recorder r(e);
  r.engine.deletions = Rows{{"../x", 0, 0, 0}};
  EXPECT_EQ(r.load({e.file("a.txt", "a\n")}), archive::kBadParameters);
  EXPECT_TRUE(r.sawPart("leaves the folder"));
  EXPECT_TRUE(readAll(e.container) == before);
}

using Step = std::function<int(Recorder&, Env&)>;

// Every kind of run keeps the rows the briefcase carries, appending and
// rewriting, twice over (so that a run also follows a block of its own
// kind); a run given rows writes exactly those, sorted.
TEST(Deletions, EveryRunKeepsTheRows) {
  const struct Case {
    const char* what;
    Step run;
    bool appends;
  } cases[] = {
      {"a new file", [](Recorder& r, Env& e) { return r.load({e.file("c.txt", "c\n")}); }, true},
      {"a load of nothing", [](Recorder& r, Env&) { return r.load({}); }, true},
      {"a delete", [](Recorder& r, Env&) { return r.remove({"d/b.txt"}); }, true},
      {"the first entry deleted", [](Recorder& r, Env&) { return r.remove({"a.txt"}); }, false},
      {"every entry deleted", [](Recorder& r, Env&) { return r.remove({"a.txt", "d/b.txt"}); }, false},
      {"a compaction", [](Recorder& r, Env&) { return archive::Compact(r.engine); }, false},
      {"a clear", [](Recorder& r, Env&) { return archive::ClearBriefcase(r.engine); }, false},
      {"a configuration save", [](Recorder& r, Env&) { return r.engine.rewriteComment(); }, false},
  };
  for (const Case& c : cases) {
    for (const bool rewrite : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (rewrite ? ", rewriting" : ""));
      Env e;
      if (rewrite) e.env.set("CARRYVALE_UPDATE", "rewrite");
      loadTwo(e, &kRows);
      for (int round = 0; round < (std::string(c.what) == "every entry deleted" ? 1 : 2); ++round) {
        Recorder r(e);
        ASSERT_EQ(c.run(r, e), 0);
        if (round == 0) {
          EXPECT_EQ(r.engine.update.appended, !rewrite && c.appends);
        }
        const archive::FoundDeletions found = carried(e.container);
        EXPECT_EQ(found.problem, "");
        EXPECT_EQ(found.rows, kRows);
        const ztest::Archive a = ztest::read(e.container);
        ASSERT_TRUE(a.ok) << a.error;
        EXPECT_EQ(a.comment, e.comment);
      }
      for (const Rows& rows : {Rows{kRows[2], kRows[0]}, Rows{}}) {
        Recorder r(e);
        r.engine.deletions = rows;
        ASSERT_EQ(r.load({e.file("e.txt", "e\n")}), 0);
        EXPECT_EQ(carried(e.container).rows, (rows.empty() ? rows : Rows{kRows[0], kRows[2]}));
      }
    }
  }
}

// An append cut short is undone to the byte, block and all.
TEST(Deletions, AnAppendCutShortIsUndone) {
  Env e;
  const std::string before = loadTwo(e, &kRows);
  Recorder r(e);
  ASSERT_EQ(r.load({e.file("c.bin", randomBytes(30000, 2))}), 0);
  ASSERT_TRUE(r.engine.update.appended);
  writeFile(e.container, readAll(e.container).substr(0, before.size() + 100));
  EXPECT_EQ(archive::undoInterruptedAppend(e.container, nullptr, nullptr), archive::AppendRepair::Undone);
  EXPECT_TRUE(readAll(e.container) == before);
}

// A briefcase left without entries carries its rows in an end record's
// comment; rows that do not fit it fail the run and the briefcase stays.
TEST(Deletions, AnEmptyBriefcaseRefusesRowsBeyondTheComment) {
  Env e;
  loadTwo(e, &kRows);
  Rows many;
  for (int i = 0; i < 3000; ++i) many.push_back({"folder/file " + std::to_string(10000 + i), 1, 2, 3});
  const std::string before = readAll(e.container);
  Recorder r(e);
  r.engine.deletions = many;
  EXPECT_EQ(r.remove({"a.txt", "d/b.txt"}), archive::kBadParameters);
  EXPECT_TRUE(readAll(e.container) == before);
}

// Python's zipfile, bsdtar, 7z and brc list and test a briefcase with rows
// as one without (names and CRCs), and extracting writes no file of theirs;
// brc test tells a damaged block on one warning line.
TEST(Deletions, OtherReadersSeeTheSameArchive) {
  const std::string brc = std::string(CARRYVALE_BRC) + " ";
  for (const char* form : {"entries", "no entries", "damaged"}) {
    SCOPED_TRACE(form);
    const bool empty = std::string(form) == "no entries";
    std::string listing[2];
    for (const bool rows : {false, true}) {
      Env e;
      e.env.set("CARRYVALE_UPDATE", "rewrite");
      const std::string plain = loadTwo(e, rows && !std::string(form).starts_with("d") ? &kRows : nullptr);
      Recorder r(e);
      if (empty) {
        ASSERT_EQ(r.remove({"a.txt", "d/b.txt"}), 0);
      }
      if (rows && std::string(form) == "damaged") writeFile(e.container, insertBlock(plain, withTrailer("x", 3)));
      const std::string c = testenv::quote(e.container), list = e.env.root() + "/list", out = e.env.root() + "/out";
      // Each command's output and status, the paths of the run taken out.
      const std::pair<const char*, std::string> readers[] = {
          {"python3", "python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                      "assert z.testzip() is None\nprint([(i.filename, i.CRC) for i in z.infolist()])\n"
                      "z.extractall(sys.argv[2])' " + c + " '" + out + "'"},
          {"bsdtar", "bsdtar -tf " + c + " && bsdtar -xf " + c + " -C '" + out + "'"},
          {"7z", "7z l -slt " + c + " | grep -E '^(Path|CRC|Size) = ' | tail -n +2 && 7z x -y -o'" +
                     out + "' " + c + " > /dev/null"},
          {"brc", brc + "list " + c + " 2>&1; echo $?; " + brc + "test " + c + " 2>&1"},
      };
      for (const auto& [tool, command] : readers) {
        const bool ours = std::string(tool) == "brc";
        if (!ours && std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0) {
          std::printf("[  SKIPPED ] %s is not installed\n", tool);
          continue;
        }
        fs::remove_all(out);
        fs::create_directories(out);
        std::string said;
        EXPECT_EQ(testenv::run(command, &said), 0) << tool << ": " << said;
        for (size_t at; (at = said.find(e.env.root())) != std::string::npos;)
          said.replace(at, e.env.root().size(), "ROOT");
        listing[rows] += std::string(tool) + ":\n" + said;
        if (ours) {
          // This program's unload too writes the entries only.
          r.engine.extract.targetFolder = out;
          r.engine.ClearNames();
          archive::UnloadRun(r.engine);
        }
        EXPECT_EQ(listFolder(out), empty ? std::set<std::string>() : (std::set<std::string>{"a.txt", "d"}))
            << tool;
      }
    }
    const std::string warning =
        std::string(form) == "damaged" ? "Warning - the deletions that " : "";
    if (warning.empty()) {
      EXPECT_EQ(listing[0], listing[1]);
    } else {
      const size_t at = listing[1].find(warning);
      ASSERT_NE(at, std::string::npos) << listing[1];
      EXPECT_EQ(listing[1].erase(at, listing[1].find('\n', at) + 1 - at), listing[0]);
    }
  }
}

}  // namespace
