// Archives that other ZIP writers make, and damaged ones: what a listing, a
// test and an unload make of each (result, messages, files written), what
// Python's zipfile makes of the same bytes, and what the update engine does
// with the damaged directories.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "archive/namecode.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "platform/filetime.h"
#include "testenv.h"
#include "update_support.h"

namespace fs = std::filesystem;
using craftzip::Built;
using craftzip::Entry;
using craftzip::entry;

namespace {

std::vector<uint8_t> unicodePath(const std::string& stored, const std::string& text,
                                 uint32_t crcDelta = 0) {
  std::vector<uint8_t> d;
  archive::ByteWriter w(&d);
  w.u8(1), w.u32(craftzip::crcOf(stored) + crcDelta), w.bytes(text.data(), text.size());
  return craftzip::extraBlock(0x7075, d);
}

Built many(size_t n) {
  std::vector<Entry> es;
  es.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    Entry e = entry("f" + std::to_string(i), "");
    e.method = 0;
    e.utModification = -1;
    es.push_back(std::move(e));
  }
  return craftzip::build(es);
}

// What Python's zipfile makes of each archive: a line "ok N LAST" (N entries
// read, the last one's name) or "error" per path; empty when python3 cannot
// be run. One interpreter for all (starting one takes a second).
std::vector<std::string> python(const std::vector<std::string>& paths) {
  std::string out, args;
  for (const auto& p : paths) args += " " + testenv::quote(p);
  if (testenv::run("python3 -c \"import zipfile,sys\n"
                   "for p in sys.argv[1:]:\n"
                   "  try:\n"
                   "    z=zipfile.ZipFile(p); n=[i.filename for i in z.infolist()]\n"
                   "    [z.read(i) for i in z.infolist()]\n"
                   "    print('ok', len(n), n[-1] if n else '')\n"
                   "  except Exception as e:\n"
                   "    print('error')\" " +
                       args + " 2>/dev/null",
                   &out) != 0)
    return {};
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(out.substr(at, nl - at));
  return lines;
}

// Regular files below a folder, by relative path, with their contents.
std::map<std::string, std::string> filesUnder(const std::string& root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec))
    if (e.is_regular_file())
      out[fs::relative(e.path(), root).string()] = testenv::readText(e.path().string());
  return out;
}

class ReaderTest : public ::testing::Test {
 protected:
  testenv::Env env;
  std::string bc = env.work() + "/carry.brc";
  std::string target = env.work() + "/local";
  std::vector<std::string> messages;

  // One run of each kind on a fresh engine; the messages of all three.
  struct Results {
    int list = -1, test = -1, unload = -1;
    size_t listed = 0;
  };
  Results runAll() {
    messages.clear();
    fs::remove_all(target);
    Results r;
    archive::TCompress c;
    c.archivePath = bc;
    c.callbacks.message = [this](const std::string& s) { messages.push_back(s); };
    c.callbacks.configMessage = c.callbacks.message;
    c.extract.callbacks.listEntry = [&](const archive::TExtractEntry&) { ++r.listed; };
    r.list = archive::ListRun(c);
    r.test = archive::TestRun(c);
    c.extract.targetFolder = target;
    r.unload = archive::UnloadRun(c);
    return r;
  }
  std::string all() const {
    std::string s;
    for (const auto& m : messages) s += m + "|";
    return s;
  }
  bool said(const std::string& part) const { return all().find(part) != std::string::npos; }
};

}  // namespace

TEST_F(ReaderTest, ForeignAndDamagedArchives) {
  using Files = std::map<std::string, std::string>;
  struct Case {
    const char* name;
    std::function<Built()> make;
    int list, test, unload;
    size_t listed;
    Files written;
    std::string message;
    // What zipfile makes of it; "" where it differs by design (it ignores the
    // Unicode Path field, reads names without the UTF-8 flag as code page 437
    // whatever the host, and does not compare counts or sizes with anything).
    std::string python;
  };
  const Files ab = {{"a.txt", "alpha"}, {"b.txt", "beta"}};
  auto two = [] { return craftzip::build({entry("a.txt", "alpha"), entry("b.txt", "beta")}); };
  auto counted = [](size_t entries, uint16_t count) {
    std::vector<Entry> es = {entry("a.txt", "alpha"), entry("b.txt", "beta"), entry("c.txt", "")};
    es.resize(entries);
    Built b = craftzip::build(es);
    craftzip::put16(b.bytes, b.endOffset + 8, count);
    craftzip::put16(b.bytes, b.endOffset + craftzip::kEndTotal, count);
    return b;
  };
  const std::vector<Case> cases = {
      {"central CRC differs from the local header",
       [&] {
         Built b = two();
         craftzip::put32(b.bytes, b.centrals[0] + 16, craftzip::crcOf("alpha") ^ 1);
         return b;
       },
       0, 2, 2, 2, {{"b.txt", "beta"}},
       "a.txt:  the local header disagrees with the central directory (CRC); not unloaded",
       "error"},
      {"central compressed size differs",
       [&] {
         Built b = two();
         craftzip::put32(b.bytes, b.centrals[0] + 20,
                         static_cast<uint32_t>(craftzip::deflateRaw("alpha").size()) + 1);
         return b;
       },
       0, 2, 2, 2, {{"b.txt", "beta"}}, "(compressed size)", "ok 2 b.txt"},
      {"local name differs from the central name",
       [] {
         Entry e = entry("innocent.txt", "payload");
         e.localName = "victim.txt";
         return craftzip::build({e, entry("b.txt", "beta")});
       },
       0, 2, 2, 2, {{"b.txt", "beta"}}, "innocent.txt:  the local header disagrees", "error"},
      {"data descriptor disagrees",
       [] {
         Entry e = entry("a.txt", "alpha");
         e.descriptor = true;
         Built b = craftzip::build({e, entry("b.txt", "beta")});
         craftzip::put32(b.bytes, b.descriptors[0] + 4, 0x12345678);
         return b;
       },
       0, 2, 2, 2, {{"b.txt", "beta"}}, "(CRC)", "ok 2 b.txt"},
      {"data descriptor without its signature",
       [] {
         Entry e = entry("a.txt", "alpha");
         e.descriptor = true;
         e.descriptorSignature = false;
         return craftzip::build({e, entry("b.txt", "beta")});
       },
       0, 0, 0, 2, ab, "", "ok 2 b.txt"},
      {"count lower than the directory", [&] { return counted(3, 2); }, 2, 2, 2, 3,
       {{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", ""}},
       "the end record counts 2 entries, but the central directory holds 3", "ok 3 c.txt"},
      {"count zero over one entry", [&] { return counted(1, 0); }, 2, 2, 2, 1,
       {{"a.txt", "alpha"}}, "counts 0 entries, but the central directory holds 1", "ok 1 a.txt"},
      {"count higher than the directory", [&] { return counted(2, 3); }, 3, 3, 3, 0, {},
       "expected central file header signature not found (file 2)", "ok 2 b.txt"},
      {"70,000 entries, count wrapped to 4,464",
       [] {
         Built b = many(70000);
         craftzip::put16(b.bytes, b.endOffset + 8, 70000 & 0xffff);
         craftzip::put16(b.bytes, b.endOffset + craftzip::kEndTotal, 70000 & 0xffff);
         return b;
       },
       // zipfile reads all 70,000 (in seconds): not asked here.
       32, 32, 32, 0, {}, "needs the ZIP64 extensions (more than 65,535 entries)", ""},
      {"ZIP64 written from a stream",
       [] {
         Entry e = entry("a.txt", "alpha");
         e.zip64 = e.descriptor = true;
         Built b = craftzip::build({e, entry("b.txt", "beta")});
         craftzip::addZip64End(b, 2);
         return b;
       },
       0, 0, 0, 2, ab, "", "ok 2 b.txt"},
      {"ZIP64 sizes in the central header",
       [] {
         Entry e = entry("a.txt", "alpha");
         e.zip64 = e.zip64Central = true;
         Built b = craftzip::build({e, entry("b.txt", "beta")});
         craftzip::addZip64End(b, 2, true);
         return b;
       },
       0, 0, 0, 2, ab, "", "ok 2 b.txt"},
      {"ZIP64 end record of 70,000 entries",
       [] {
         Built b = craftzip::build({entry("a.txt", "alpha")});
         craftzip::addZip64End(b, 70000);
         return b;
       },
       32, 32, 32, 0, {}, "needs the ZIP64 extensions (more than 65,535 entries)", ""},
      {"an entry of 4 GB or more",
       [] {
         Entry e = entry("a.txt", "alpha");
         e.zip64 = e.zip64Central = true;
         e.zip64Usize = 5ull << 30;
         return craftzip::build({e, entry("b.txt", "beta")});
       },
       0, 81, 81, 2, {{"b.txt", "beta"}}, "a.txt:  left out (4 GB or more)", ""},
      {"encrypted, other method, later version",
       [] {
         Entry enc = entry("enc.txt", "secret"), m12 = entry("m12.txt", "bzip"),
               v63 = entry("v63.txt", "later");
         enc.flags = 1;
         m12.method = 12;
         v63.versionNeeded = 63;
         return craftzip::build({enc, m12, v63, entry("c.txt", "plain")});
       },
       0, 81, 81, 4, {{"c.txt", "plain"}},
       "enc.txt:  left out (encrypted)\n|m12.txt:  left out (method 12)\n|v63.txt:  left out "
       "(needs version 6.3)",
       "error"},
      {"MS-DOS host name in code page 437",
       [] {
         Entry e = entry("caf\x82.txt", "dos");
         e.host = 0;
         return craftzip::build({e});
       },
       0, 0, 0, 1, {{"café.txt", "dos"}}, "", "ok 1 café.txt"},
      {"Unicode Path field",
       [] {
         Entry e = entry("cafe.txt", "uni");
         e.extraCentral = unicodePath("cafe.txt", "café.txt");
         return craftzip::build({e});
       },
       0, 0, 0, 1, {{"café.txt", "uni"}}, "", ""},
      {"Unicode Path field with a wrong CRC",
       [] {
         Entry e = entry("caf\xe9.txt", "ntfs");
         e.extraCentral = unicodePath("caf\xe9.txt", "other.txt", 1);
         return craftzip::build({e});
       },
       0, 0, 0, 1, {{"café.txt", "ntfs"}}, "", ""},
      {"UTF-8 flag on bytes that are not UTF-8",
       [] {
         Entry e = entry("caf\xe9.txt", "bad");
         e.flags = 0x0800;
         return craftzip::build({e});
       },
       1, 1, 1, 1, {{"caf\xef\xbf\xbd.txt", "bad"}},
       "the name of entry 0 is not valid UTF-8; it is read as caf\xef\xbf\xbd.txt", "error"},
      {"zero DOS date",
       [] {
         Entry e = entry("a.txt", "old");
         e.dosDate = e.dosTime = 0;
         e.utModification = -1;
         return craftzip::build({e});
       },
       0, 0, 0, 1, {{"a.txt", "old"}}, "", "ok 1 a.txt"},
      {"comment longer than the file",
       [&] {
         Built b = craftzip::build({entry("a.txt", "alpha"), entry("b.txt", "beta")},
                                   std::vector<uint8_t>(10, 'c'));
         craftzip::put16(b.bytes, b.endOffset + 20, 110);
         return b;
       },
       2, 2, 2, 2, ab, "the archive comment is 100 bytes longer than the file", "ok 2 b.txt"},
      {"no archive at all",
       [] {
         Built b;
         b.bytes.assign({'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't'});
         return b;
       },
       13, 13, 13, 0, {}, "Not a briefcase: the file has no archive end record", "error"},
  };
  std::vector<std::string> copies, expected;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::vector<uint8_t> bytes = k.make().bytes;
    testenv::writeBytes(bc, bytes);
    if (!k.python.empty()) {
      copies.push_back(env.path("case" + std::to_string(copies.size()) + ".zip"));
      testenv::writeBytes(copies.back(), bytes);
      expected.push_back(std::string(k.name) + ": " + k.python);
    }
    Results r = runAll();
    EXPECT_EQ(r.list, k.list) << all();
    EXPECT_EQ(r.test, k.test) << all();
    EXPECT_EQ(r.unload, k.unload) << all();
    EXPECT_EQ(r.listed, k.listed);
    EXPECT_EQ(filesUnder(target), k.written) << all();
    if (!k.message.empty()) {
      EXPECT_TRUE(said(k.message)) << all();
    }
    EXPECT_FALSE(said("Success")) << all();
    EXPECT_FALSE(said("DosDateTime failed")) << all();
  }
  // Python's zipfile reads (or rejects) the same archives.
  std::vector<std::string> got = python(copies);
  if (got.empty()) return;
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(expected[i].substr(0, expected[i].find(": ") + 2) + got[i], expected[i]);
}

TEST_F(ReaderTest, AZeroDosDateIsTheFormatsEarliestMoment) {
  plat::SystemTime lt = plat::localFromDosDateTime(0);
  EXPECT_EQ(lt.year * 10000 + lt.month * 100 + lt.day, 19800101);
  EXPECT_EQ(lt.hour * 100 + lt.minute, 0);
  plat::FileTime ft = 0;
  ASSERT_TRUE(plat::fileTimeFromDosDateTime(0, &ft));
}

TEST_F(ReaderTest, NamesAreDecodedByFlagFieldAndHost) {
  struct Case {
    std::string stored;
    uint16_t flags;
    uint8_t host;
    std::vector<uint8_t> extra;
    std::string text;
    bool replaced;
  };
  const std::vector<Case> cases = {
      {"plain.txt", 0, 11, {}, "plain.txt", false},
      {"caf\xc3\xa9", 0x800, 11, {}, "café", false},
      {"caf\xc3\xa9", 0, 3, {}, "café", false},          // valid UTF-8 without the flag
      {"caf\xe9", 0, 11, {}, "café", false},             // Windows-1252
      {"caf\x82", 0, 0, {}, "café", false},              // code page 437
      {"\x80\x9c", 0, 11, {}, "€œ", false},
      {"\x80\x9c", 0, 0, {}, "Ç£", false},
      {"x", 0, 0, unicodePath("x", "ÿ"), "ÿ", false},
      {"x", 0, 0, unicodePath("x", "ÿ", 1), "x", false},
      {"x\xff", 0x800, 11, {}, "x\xef\xbf\xbd", true},
  };
  for (const Case& k : cases) {
    bool replaced = false;
    EXPECT_EQ(archive::decodeName(k.stored, k.flags, k.host, k.extra, &replaced), k.text) << k.stored;
    EXPECT_EQ(replaced, k.replaced) << k.stored;
  }
}

TEST_F(ReaderTest, BrcTestFailsOnDamageAndListsForeignArchives) {
  const std::string brc = CARRYVALE_BRC;
  auto run = [&](const std::string& args, std::string* out) {
    return testenv::run(brc + " " + args + " 2>" + testenv::quote(env.path("stderr")), out);
  };
  // A count lower than the directory: the test fails, the listing shows all.
  Built b = craftzip::build({entry("a.txt", "alpha"), entry("b.txt", "beta")});
  craftzip::put16(b.bytes, b.endOffset + craftzip::kEndTotal, 1);
  testenv::writeBytes(bc, b.bytes);
  std::string out;
  EXPECT_GE(run("test " + testenv::quote(bc), &out), 2);
  EXPECT_NE(testenv::readText(env.path("stderr")).find("counts 1 entry, but the central directory holds 2"),
            std::string::npos);
  EXPECT_EQ(run("list " + testenv::quote(bc), &out), 2);
  EXPECT_NE(out.find("b.txt"), std::string::npos) << out;

  // Left-out entries are named with their reason.
  Entry enc = entry("enc.txt", "secret");
  enc.flags = 1;
  testenv::writeBytes(bc, craftzip::build({enc, entry("c.txt", "plain")}).bytes);
  EXPECT_EQ(run("test " + testenv::quote(bc), &out), 2);
  EXPECT_NE(out.find("not checked: enc.txt (encrypted)"), std::string::npos) << out;

  // Not a briefcase: said so, with the result of a wrong structure.
  testenv::writeFile(bc, "just some text");
  EXPECT_EQ(run("test " + testenv::quote(bc), &out), archive::kStructureInvalid);
  const std::string err = testenv::readText(env.path("stderr"));
  EXPECT_NE(err.find("Not a briefcase"), std::string::npos) << err;
  EXPECT_EQ(err.find("Success"), std::string::npos) << err;
  EXPECT_EQ(err.find("not found"), std::string::npos) << err;
}

// The update engine never rewrites a container whose directory it cannot
// hold whole: the load is refused and the container stays as it was.
TEST(ReaderUpdateTest, DamagedOrOversizedDirectoriesAreNotRewritten) {
  struct Case {
    const char* name;
    std::function<void(Built&)> damage;
    int result;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"count lower", [](Built& b) { craftzip::put16(b.bytes, b.endOffset + craftzip::kEndTotal, 1); },
       archive::kSevereError, "counts 1 entry, but the central directory holds 2"},
      {"count zero", [](Built& b) { craftzip::put16(b.bytes, b.endOffset + craftzip::kEndTotal, 0); },
       archive::kSevereError, "counts 0 entries"},
      {"ZIP64 of 70,000 entries", [](Built& b) { craftzip::addZip64End(b, 70000); },
       archive::kTooManyEntries, "more than 65,535 entries"},
      {"sound ZIP64", [](Built& b) { craftzip::addZip64End(b, 2); }, 0, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    utest::Env e;
    Entry a = entry("a.txt", "alpha");
    a.zip64 = a.descriptor = true;
    Built b = craftzip::build({a, entry("b.txt", "beta")}, e.comment);
    k.damage(b);
    testenv::writeBytes(e.container, b.bytes);
    utest::Recorder r(e);
    const std::string added = e.file("new.txt", "new");
    EXPECT_EQ(r.load({added}), k.result);
    std::string said;
    for (const auto& m : r.configMessages) said += m;
    for (const auto& m : r.messages) said += m;
    EXPECT_NE(said.find(k.message), std::string::npos) << said;
    if (k.result) {
      EXPECT_EQ(testenv::readBytes(e.container), b.bytes);
    } else {
      // Every entry kept, the new one added, and the result reads back.
      archive::TCompress c;
      c.archivePath = e.container;
      std::vector<std::string> names;
      c.extract.callbacks.listEntry = [&](const archive::TExtractEntry& x) {
        names.push_back(x.displayName());
      };
      EXPECT_EQ(archive::ListRun(c), 0);
      EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "new.txt"}));
      EXPECT_EQ(archive::TestRun(c), 0);
    }
  }
}
