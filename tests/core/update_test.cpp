// The update engine: round trips read back by an independent reader, the
// replace and delete semantics, names, limits and cancellation.

#include <gtest/gtest.h>

#include "archive/update/entry.h"
#include "platform/filetime.h"
#include "platform/strtable.h"
#include "update_support.h"

using namespace utest;

namespace {

uint32_t unixSeconds(const std::vector<uint8_t>& d, size_t at) { return ztest::le32(d.data() + at); }

TEST(UpdateEngine, RoundTripAtLevelSixWritesEveryFieldAsTheFormatSays) {
  Env e;
  const std::string text = textBytes(200000, 1);
  const std::string random = randomBytes(300000, 2);
  const std::string smallRandom = randomBytes(900, 3);
  std::vector<std::string> paths = {
      e.file("empty.txt", ""),
      e.file("small.txt", "hello hello hello hello hello hello\n"),
      e.file("noise.bin", smallRandom),
      e.file("sub/text.txt", text),
      e.file("sub/random.bin", random),
      e.file("Inner.ZIP", textBytes(5000, 4)),
      e.file("caf\xc3\xa9/na\xc3\xafve.txt", "utf-8 name\n"),
      e.file(".hidden", "dot file\n"),
      e.file("ro.txt", "read only\n"),
  };
  ::chmod((e.local + "/ro.txt").c_str(), 0444);
  setMtime(e.local + "/sub/text.txt", 1700000000);

  Recorder r(e);
  ASSERT_EQ(r.load(paths), 0);
  ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.comment, e.comment);
  EXPECT_EQ(a.entries.size(), paths.size());
  for (const auto& en : a.entries) {
    SCOPED_TRACE(en.name);
    EXPECT_EQ(en.versionMadeBy, 22);
    EXPECT_EQ(en.host, 11);
    EXPECT_EQ(en.text(), readAll(e.local + "/" + en.name));
    EXPECT_EQ(en.versionNeeded, en.method == 8 ? 20 : 10);
    bool ascii = en.name.find_first_of("\xc3") == std::string::npos;
    EXPECT_EQ(en.flags, ascii ? 0 : 0x0800);
    ASSERT_NE(en.local(0x5455), nullptr);
    ASSERT_NE(en.central(0x5455), nullptr);
    EXPECT_EQ(en.localExtra.size(), 1u);  // no "SD" block on Linux
    EXPECT_EQ(en.centralExtra.size(), 1u);
    const auto& lut = en.local(0x5455)->data;
    const auto& cut = en.central(0x5455)->data;
    ASSERT_EQ(lut.size(), 13u);
    ASSERT_EQ(cut.size(), 5u);
    EXPECT_EQ(lut[0], 7);
    EXPECT_EQ(cut[0], 7);
    struct stat st {};
    ::stat((e.local + "/" + en.name).c_str(), &st);
    EXPECT_EQ(unixSeconds(lut, 1), static_cast<uint32_t>(st.st_mtime));
    EXPECT_EQ(unixSeconds(cut, 1), static_cast<uint32_t>(st.st_mtime));
    uint32_t dos = plat::dosDateTimeFromFileTime(plat::fileTimeFromUnixTime(st.st_mtime));
    EXPECT_EQ(en.time, dos & 0xffff);
    EXPECT_EQ(en.date, dos >> 16);
  }
  EXPECT_EQ(a.find("empty.txt")->method, 0);
  EXPECT_EQ(a.find("empty.txt")->crc, 0u);
  EXPECT_EQ(a.find("empty.txt")->compressedSize, 0u);
  EXPECT_EQ(a.find("noise.bin")->method, 0);  // small and incompressible: stored instead
  EXPECT_EQ(a.find("Inner.ZIP")->method, 0);  // a no-compress suffix, in capitals
  EXPECT_EQ(a.find("sub/text.txt")->method, 8);
  EXPECT_EQ(a.find("sub/text.txt")->internalAttributes & 1, 1);
  EXPECT_EQ(a.find("sub/random.bin")->internalAttributes & 1, 0);
  EXPECT_EQ(a.find("sub/random.bin")->method, 8);  // beyond the first block: deflated anyway
  EXPECT_EQ(a.find("small.txt")->method, 8);
  EXPECT_EQ(a.find("sub/text.txt")->externalAttributes, 0x81000020u);
  EXPECT_EQ(a.find(".hidden")->externalAttributes, 0x81000022u);
  EXPECT_EQ(a.find("ro.txt")->externalAttributes, 0x81000021u);
  EXPECT_NE(a.find("caf\xc3\xa9/na\xc3\xafve.txt"), nullptr);
  EXPECT_EQ(unixSeconds(a.find("sub/text.txt")->local(0x5455)->data, 1), 1700000000u);
  EXPECT_EQ(unixSeconds(a.find("sub/text.txt")->local(0x5455)->data, 5), 1700000000u);  // access

  // Status texts, progress, the configuration refreshed before the end record.
  EXPECT_EQ(r.messages.front(), "Starting...");
  EXPECT_TRUE(r.saw("Adding sub/text.txt..."));
  EXPECT_TRUE(r.saw(plat::loadStr(8061)));
  EXPECT_TRUE(r.saw(plat::loadStr(8068)));
  EXPECT_EQ(r.messages.back(), plat::loadStr(8067));
  EXPECT_EQ(r.refreshes, 1);
  ASSERT_FALSE(r.total.empty());
  EXPECT_EQ(r.total.front(), 0);
  EXPECT_EQ(r.total.back(), 100);
  for (int p : r.file) EXPECT_TRUE(p >= 0 && p <= 100);
  // The new container replaced the old one in its folder, leaving nothing else.
  EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
  EXPECT_TRUE(listFolder(e.temp).empty());
}

TEST(UpdateEngine, LevelsSetTheFlagsAndTheSuffixRule) {
  struct Case {
    int level;
    uint16_t flags;
    uint16_t zipMethod;
  } cases[] = {{1, 4, 0}, {2, 4, 0}, {5, 0, 0}, {8, 2, 0}, {9, 2, 8}, {0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    Env e;
    std::vector<std::string> paths = {e.file("t.txt", textBytes(150000, 7)),
                                      e.file("p.zip", textBytes(20000, 8))};
    Recorder r(e, c.level);
    ASSERT_EQ(r.load(paths), 0);
    ztest::Archive a = ztest::read(e.container);
    ASSERT_TRUE(a.ok) << a.error;
    const ztest::Entry* t = a.find("t.txt");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->method, c.level ? 8 : 0);
    EXPECT_EQ(t->flags, c.flags);
    EXPECT_EQ(a.find("p.zip")->method, c.zipMethod);
    EXPECT_EQ(a.find("p.zip")->flags, c.zipMethod ? c.flags : 0);
  }
}

TEST(UpdateEngine, ReplaceCopiesOtherEntriesByteForByteAndKeepsOneEntry) {
  Env e;
  std::string a = e.file("a.txt", "first version\n");
  std::string b = e.file("dir/b.txt", textBytes(70000, 9));
  std::string u = e.file("\xc3\xa9t\xc3\xa9/Caf\xc3\xa9.txt", "utf-8\n");
  Recorder r(e);
  ASSERT_EQ(r.load({a, b, u}), 0);
  ztest::Archive before = ztest::read(e.container);
  ASSERT_TRUE(before.ok);

  writeFile(a, "second version, longer than the first\n");
  Recorder r2(e);
  ASSERT_EQ(r2.load({a}), 0);
  EXPECT_TRUE(r2.saw("Updating a.txt..."));
  EXPECT_TRUE(r2.saw("Copying dir/b.txt..."));
  ztest::Archive after = ztest::read(e.container);
  ASSERT_TRUE(after.ok) << after.error;
  const std::string utf = "\xc3\xa9t\xc3\xa9/Caf\xc3\xa9.txt";
  ASSERT_EQ(after.names(), (std::vector<std::string>{"a.txt", "dir/b.txt", utf}));
  EXPECT_EQ(after.find("a.txt")->text(), "second version, longer than the first\n");
  EXPECT_EQ(after.find("dir/b.txt")->raw, before.find("dir/b.txt")->raw);
  EXPECT_EQ(after.find(utf)->raw, before.find(utf)->raw);
  EXPECT_EQ(after.find(utf)->flags, 0x0800);

  // A name that differs in letter case is another file: it is not in the
  // folder, so it is skipped and the entry stays as it was.
  writeFile(u, "utf-8, changed\n");
  Recorder ru(e);
  ASSERT_EQ(ru.load({e.local + "/\xc3\xa9T\xc3\xa9/CAF\xc3\xa9.TXT"}), archive::kFileNotReadable);
  EXPECT_EQ(ztest::read(e.container).find(utf)->raw, before.find(utf)->raw);
  ASSERT_EQ(ru.load({u}), 0);
  EXPECT_TRUE(ru.saw("Updating " + utf + "..."));
  EXPECT_EQ(ztest::read(e.container).entries.size(), 3u);

  // A name given twice is loaded once.
  Recorder r3(e);
  ASSERT_EQ(r3.load({a, a}), 0);
  EXPECT_EQ(ztest::read(e.container).entries.size(), 3u);
}

TEST(UpdateEngine, DeleteRemovesEntriesAndKeepsTheConfiguration) {
  Env e;
  Recorder r(e);
  ASSERT_EQ(r.load({e.file("a.txt", "a\n"), e.file("b/c.txt", "c\n"), e.file("d.txt", "d\n")}), 0);
  ztest::Archive before = ztest::read(e.container);

  Recorder d(e);
  d.engine.update.baseFolder.clear();
  ASSERT_EQ(d.remove({"b/c.txt", "missing.txt", "A.TXT"}), 0);
  ztest::Archive after = ztest::read(e.container);
  ASSERT_TRUE(after.ok) << after.error;
  EXPECT_EQ(after.names(), (std::vector<std::string>{"a.txt", "d.txt"}));
  EXPECT_EQ(after.find("d.txt")->raw, before.find("d.txt")->raw);
  EXPECT_EQ(d.engine.update.unmatched, (std::vector<std::string>{"missing.txt", "A.TXT"}));
  EXPECT_EQ(d.engine.update.mode, archive::kModeAdd);

  ASSERT_EQ(d.remove({"a.txt", "d.txt"}), 0);
  ztest::Archive empty = ztest::read(e.container);
  ASSERT_TRUE(empty.ok) << empty.error;
  EXPECT_TRUE(empty.entries.empty());
  EXPECT_EQ(empty.comment, e.comment);

  // A delete on an empty container ends with 23 and leaves it untouched.
  std::string bytes = readAll(e.container);
  setMtime(e.container, 1600000000);
  EXPECT_EQ(d.remove({"a.txt"}), archive::kMissingOrEmpty);
  EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";
  EXPECT_EQ(mtimeOf(e.container).tv_sec, 1600000000);
}

TEST(UpdateEngine, VanishedFileIsSkippedWith28AndTheOthersLoad) {
  Env e;
  std::string keep = e.file("keep.txt", "keep\n");
  std::string gone = e.local + "/gone.txt";
  Recorder r(e);
  EXPECT_EQ(r.load({keep, gone}), archive::kFileNotReadable);
  EXPECT_TRUE(r.saw(plat::loadStrFmt(8050, gone.c_str())));
  ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.names(), std::vector<std::string>{"keep.txt"});

  // A file whose entry exists but that vanished locally: said and counted as
  // not loaded, and the entry stays as it was.
  std::string raw(a.find("keep.txt")->raw.begin(), a.find("keep.txt")->raw.end());
  fs::remove(keep);
  Recorder r2(e);
  EXPECT_EQ(r2.load({keep}), archive::kFileNotReadable);
  EXPECT_TRUE(r2.saw(plat::loadStrFmt(8050, keep.c_str())));
  ztest::Archive b = ztest::read(e.container);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(std::string(b.find("keep.txt")->raw.begin(), b.find("keep.txt")->raw.end()), raw);
}

TEST(UpdateEngine, TwoFilesWithOneStoredNameFailWith26BeforeAnyTemporaryFile) {
  Env e;
  std::string bytes = readAll(e.container);
  FaultFs faults;
  plat::ScopedFileSystem scoped(&faults);
  Recorder r(e);
  EXPECT_EQ(r.load({e.file("a.txt", "1"), e.local + "/./a.txt"}), archive::kInvalidArguments);
  EXPECT_TRUE(r.sawPart("cannot repeat names in compressed file"));
  EXPECT_TRUE(r.sawPart(e.local + "/./a.txt and " + e.local + "/a.txt"));
  EXPECT_EQ(faults.tempsCreated, 0);
  EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";
}

TEST(UpdateEngine, TheContainerInsideTheLocalFolderIsSkipped) {
  Env e;
  std::string inner = e.local + "/self.brc";
  fs::copy_file(e.container, inner);
  Recorder r(e);
  r.engine.archivePath = inner;
  ASSERT_EQ(r.load({e.file("a.txt", "a"), inner, e.local + "/./self.brc"}), 0);
  ztest::Archive a = ztest::read(inner);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.names(), std::vector<std::string>{"a.txt"});
}

TEST(UpdateEngine, CancelLeavesTheContainerAndItsDateAndNoTemporaryFile) {
  for (int at : {0, 1, 2, 4}) {
    SCOPED_TRACE(at);
    Env e;
    Recorder first(e);
    ASSERT_EQ(first.load({e.file("a.txt", textBytes(1000, 1)), e.file("b.txt", "b")}), 0);
    setMtime(e.container, 1500000000);
    std::string bytes = readAll(e.container);

    Recorder r(e);
    r.cancelAtCheck = at;
    std::vector<std::string> names = {e.local + "/a.txt", e.file("c.txt", "c"),
                                      e.file("d.bin", randomBytes(2000000, 5))};
    EXPECT_EQ(r.load(names), archive::kInterrupted);
    EXPECT_TRUE(r.saw(plat::loadStr(8052)));
    EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";
    EXPECT_EQ(mtimeOf(e.container).tv_sec, 1500000000);
    EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
    EXPECT_TRUE(listFolder(e.temp).empty());

    // The container is free again at once.
    Recorder again(e);
    EXPECT_EQ(again.load(names), 0);
    EXPECT_EQ(ztest::read(e.container).entries.size(), 4u);
  }
}

TEST(UpdateEngine, APreambleIsCopiedAndTheWriteTestChangesNothing) {
  Env e;
  Recorder r(e);
  ASSERT_EQ(r.load({e.file("a.txt", "alpha\n"), e.file("b.txt", "beta\n")}), 0);
  // Put 100 bytes in front and shift every offset.
  std::vector<uint8_t> zip = ztest::readBytes(e.container);
  ztest::Archive a = ztest::parse(zip);
  ASSERT_TRUE(a.ok);
  const uint32_t shift = 100;
  std::vector<uint8_t> out(shift + zip.size(), 'x');
  std::copy(zip.begin(), zip.end(), out.begin() + shift);
  size_t eocd = out.size() - 22 - a.comment.size();
  uint32_t cd = ztest::le32(&out[eocd + 16]);
  archive::putU32(&out[eocd + 16], cd + shift);
  size_t p = cd + shift;
  for (size_t i = 0; i < a.entries.size(); ++i) {
    archive::putU32(&out[p + 42], ztest::le32(&out[p + 42]) + shift);
    p += 46 + ztest::le16(&out[p + 28]) + ztest::le16(&out[p + 30]) + ztest::le16(&out[p + 32]);
  }
  { std::ofstream f(e.container, std::ios::binary | std::ios::trunc); f.write(reinterpret_cast<char*>(out.data()), out.size()); }
  ASSERT_TRUE(ztest::read(e.container).ok);
  setMtime(e.container, 1400000000);

  Recorder cancelled(e);
  cancelled.cancelAtCheck = 0;
  EXPECT_EQ(cancelled.load({e.local + "/a.txt"}), archive::kInterrupted);
  EXPECT_TRUE(ztest::readBytes(e.container) == out);
  EXPECT_EQ(mtimeOf(e.container).tv_sec, 1400000000);

  Recorder load(e);
  ASSERT_EQ(load.load({e.file("c.txt", "gamma\n")}), 0);
  ztest::Archive b = ztest::read(e.container);
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ(b.preamble, shift);
  EXPECT_EQ(readAll(e.container).substr(0, shift), std::string(shift, 'x'));
  EXPECT_EQ(b.names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST(UpdateEngine, LimitsAreRefusedBeforeAnythingIsReplaced) {
  Env e;
  Recorder r(e);
  ASSERT_EQ(r.load({e.file("a.txt", "a"), e.file("b.txt", "b")}), 0);
  std::string bytes = readAll(e.container);

  Recorder count(e);
  count.engine.update.maxEntries = 3;
  EXPECT_EQ(count.load({e.file("c.txt", "c"), e.file("d.txt", "d")}), archive::kTooManyEntries);
  EXPECT_TRUE(count.sawPart("at most 3 files"));
  EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";

  // The size bound is met while the new entries are written.
  Recorder size(e);
  size.engine.update.maxArchiveSize = bytes.size() + 5000;
  EXPECT_EQ(size.load({e.file("big.bin", randomBytes(20000, 1))}), archive::kTooLarge);
  EXPECT_TRUE(size.sawPart("larger than 4 GB"));
  EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";
  EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});

  // A file of 4 GB (sparse here) is refused with 31.
  std::string huge = e.local + "/huge.iso";
  { std::ofstream f(huge); }
  fs::resize_file(huge, 4294967296ULL);
  Recorder big(e);
  EXPECT_EQ(big.load({huge}), archive::kTooLarge);
  EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";
}

TEST(UpdateEngine, ProgressStaysWithinZeroAndHundredForLargeFiles) {
  Env e;
  std::string big = e.local + "/zeros.bin";
  { std::ofstream f(big); }
  fs::resize_file(big, 22000000);
  Recorder r(e, 1);
  ASSERT_EQ(r.load({big, e.file("x.txt", "x")}), 0);
  ASSERT_GT(r.file.size(), 10u);
  for (int p : r.file) {
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100);
  }
  EXPECT_NE(std::find_if(r.file.begin(), r.file.end(), [](int p) { return p > 0 && p < 100; }),
            r.file.end());
  for (int p : r.total) EXPECT_TRUE(p >= 0 && p <= 100);
  ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.find("zeros.bin")->uncompressedSize, 22000000u);
}

TEST(UpdateEngine, ClearKeepsTheConfigurationAndDatesTheContainerNow) {
  Env e;
  Recorder r(e);
  ASSERT_EQ(r.load({e.file("a.txt", "a"), e.file("b.txt", "b")}), 0);
  ::chmod(e.container.c_str(), 0640);
  setMtime(e.container, 1300000000);
  time_t start = time(nullptr);
  r.engine.comment = e.comment;
  EXPECT_EQ(archive::ClearBriefcase(r.engine), 0);
  ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.ok);
  EXPECT_TRUE(a.entries.empty());
  EXPECT_EQ(a.comment, e.comment);
  EXPECT_GE(mtimeOf(e.container).tv_sec, start);
  struct stat st {};
  ::stat(e.container.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(listFolder(e.env.root() + "/box"), std::set<std::string>{"b.brc"});
  EXPECT_EQ(r.engine.endRecord.entriesTotal, 0);
}

TEST(UpdateEntry, StoredNamesAndSuffixes) {
  EXPECT_EQ(archive::StoredName("dir/file.txt"), "dir/file.txt");
  EXPECT_EQ(archive::StoredName("//././/dir/File.TXT"), "dir/File.TXT");
  EXPECT_EQ(archive::StoredName("a\\b.txt"), "a\\b.txt");  // '\' is part of a Linux name
  EXPECT_EQ(archive::StoredName("./"), "");
  EXPECT_TRUE(archive::HasSuffix("x/A.ZIP", ".z:.zip:.arj"));
  EXPECT_TRUE(archive::HasSuffix("x/a.z", ".z:.zip;.arj"));
  EXPECT_FALSE(archive::HasSuffix("x/a.zipx", ".z:.zip:.arj"));
  EXPECT_FALSE(archive::HasSuffix("x/a.zip", ""));
}

TEST(UpdateEntry, AnEmptyStoredNameFailsTheRunWith15) {
  Env e;
  Recorder r(e);
  EXPECT_EQ(r.load({e.local + "/"}), archive::kInternalError);
  EXPECT_TRUE(r.sawPart("empty name without recurse"));
}

}  // namespace
