// The container's layout: finding the end record, reading the directory,
// checking entries against their local headers, and the in-place rewrite.

#include <gtest/gtest.h>

#include "archive/compress.h"
#include "archive/errors.h"
#include "archive/layout.h"
#include "briefcase/comment.h"
#include "craftzip.h"
#include "passthrough.h"
#include "testenv.h"
#include "update_support.h"
#include "zipbuild.h"

using namespace archive;

namespace {

struct Read {
  int end = -1, directory = -1, check = -1;
  EndRecordInfo info;
  TZList list;
  uint32_t preamble = 0;
  std::vector<std::string> messages;
};

Read readContainer(const std::string& path) {
  Read r;
  JNormFile f(path, plat::Access::Read, plat::Disposition::OpenExisting);
  r.end = findEndRecord(f, &r.info, [&](const std::string& s) { r.messages.push_back(s); });
  if (r.end) return r;
  r.directory = readCentralDirectory(f, r.info.record.centralOffset, r.info.record.centralSize,
                                     r.info.directoryEnd, &r.list, &r.preamble);
  if (r.directory) return r;
  r.check = checkEntries(f, r.list, r.info.position);
  return r;
}

class LayoutTest : public ::testing::Test {
 protected:
  testenv::Env env;
  std::string path = env.path("work/c.brc");

  Read write(const std::vector<uint8_t>& bytes) {
    testenv::writeBytes(path, bytes);
    return readContainer(path);
  }
};

}  // namespace

TEST_F(LayoutTest, EntriesAreReadAndCheckedAgainstTheirLocalHeaders) {
  zipbuild::Zip z;
  z.entries = {{"a.txt", "alpha"}, {"dir/b.txt", "beta beta", true}, {"c", ""}};
  z.comment = "config";
  Read r = write(z.build());
  ASSERT_EQ(r.end, kOk);
  ASSERT_EQ(r.directory, kOk);
  EXPECT_EQ(r.check, kOk);
  ASSERT_EQ(r.list.items.size(), 3u);
  EXPECT_EQ(r.list.items[1].name, "dir/b.txt");
  EXPECT_EQ(r.list.items[1].descriptor.crc, r.list.items[1].central.crc);
  EXPECT_EQ(r.list.totalUncompressed, 14u);
  EXPECT_EQ(r.list.centralSize, 3 * 46u + 5 + 9 + 1);
  EXPECT_EQ(std::string(r.info.comment.begin(), r.info.comment.end()), "config");
  EXPECT_EQ(r.preamble, 0u);
}

TEST_F(LayoutTest, APreambleIsTheLowestLocalHeaderOffset) {
  zipbuild::Zip z;
  z.preamble = std::string(1000, 'x');
  z.entries = {{"one", "1"}, {"two", "22"}};
  Read r = write(z.build());
  ASSERT_EQ(r.check, kOk);
  EXPECT_EQ(r.preamble, 1000u);
}

TEST_F(LayoutTest, ALocalHeaderThatDisagreesIsAStructureError) {
  zipbuild::Zip z;
  z.entries = {{"a.txt", "alpha"}};
  z.entries[0].crcOverride = 0x12345678;
  EXPECT_EQ(write(z.build()).check, kStructureInvalid);

  // A local header's name that differs from the central one.
  zipbuild::Zip y;
  y.entries = {{"a.txt", "alpha"}};
  std::vector<uint8_t> b = y.build();
  b[30] = 'A';
  EXPECT_EQ(write(b).check, kStructureInvalid);

  // A local header offset past the directory.
  std::vector<uint8_t> c = y.build();
  size_t cd = c.size() - 22 - 46 - 5;
  c[cd + 42] = 0xff;
  c[cd + 43] = 0xff;
  EXPECT_EQ(write(c).check, kStructureInvalid);
}

TEST_F(LayoutTest, TheEndRecordIsFoundWithTheLongestComment) {
  zipbuild::Zip z;
  z.entries = {{"a.txt", "alpha"}};
  z.comment = std::string(65535, 'c');
  Read r = write(z.build());
  ASSERT_EQ(r.end, kOk);
  EXPECT_EQ(r.info.comment.size(), 65535u);
  EXPECT_EQ(r.check, kOk);
}

TEST_F(LayoutTest, ASignatureAcrossABlockBoundaryIsFound) {
  // The record's signature starts 1, 2 and 3 bytes before a 4,096-byte block
  // boundary counted from the end of the file.
  for (size_t before = 1; before <= 3; ++before) {
    zipbuild::Zip z;
    z.entries = {{"a", "x"}};
    // The record starts `before` bytes ahead of the first block (the last
    // 4,096 bytes of the file), so its signature crosses into that block.
    z.comment = std::string(4096 - 22 + before, 'k');
    std::vector<uint8_t> b = z.build();
    Read r = write(b);
    ASSERT_EQ(r.end, kOk) << before;
    EXPECT_EQ(r.info.position, b.size() - 22 - z.comment.size());
  }
  // And one exactly at every offset around the first boundary.
  for (size_t pad = 4090; pad <= 4100; ++pad) {
    zipbuild::Zip z;
    z.comment = std::string(pad, 'q');
    Read r = write(z.build());
    ASSERT_EQ(r.end, kOk) << pad;
    EXPECT_EQ(r.info.comment.size(), pad);
  }
}

TEST_F(LayoutTest, NothingBeforeTheSearchRangeIsFound) {
  // An end record followed by more than 65,557 bytes of other data is out of range.
  std::vector<uint8_t> b = zipbuild::Zip{}.build();
  b.resize(b.size() + 65536, 'z');
  Read r = write(b);
  EXPECT_EQ(r.end, kStructureInvalid);
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[0], "Reached end of file before finding configuration");
  EXPECT_EQ(r.messages[1], "Not a briefcase: the file has no archive end record");

  // A file shorter than an end record.
  EXPECT_EQ(write(std::vector<uint8_t>{'P', 'K', 5, 6, 0, 0}).end, kUnexpectedEnd);
  EXPECT_EQ(write(std::vector<uint8_t>{'n', 'o'}).end, kStructureInvalid);
  EXPECT_EQ(write(std::vector<uint8_t>{}).end, kStructureInvalid);
}

TEST_F(LayoutTest, ASignatureInsideTheConfigurationDoesNotHideTheRecord) {
  // A folder text holding "PK" 5 6 and zeros: the last signature in the file
  // lies inside the comment, but the real record's comment ends the file.
  briefcase::TBriefcaseComment rec;
  rec.AddEntry(std::string("/tmp/PK\x05\x06", 8) + std::string(18, '\x01') + "end");
  rec.folders.entries[0].folder[8] = '\0';  // zeros after the signature
  rec.folders.entries[0].folder.resize(8);
  rec.include = std::string("PK\x05\x06", 4) + std::string(18, 'a');
  std::vector<uint8_t> comment = rec.Stored(6);
  zipbuild::Zip z;
  z.entries = {{"a.txt", "alpha"}};
  z.comment.assign(comment.begin(), comment.end());
  Read r = write(z.build());
  ASSERT_EQ(r.end, kOk);
  EXPECT_EQ(r.info.comment, comment);
  EXPECT_EQ(r.check, kOk);

  // Also with zero bytes after the signature inside the comment.
  std::string tricky = std::string("x") + std::string("PK\x05\x06", 4) + std::string(18, '\0') + "tail";
  zipbuild::Zip y;
  y.entries = {{"b", "beta"}};
  y.comment = tricky;
  Read r2 = write(y.build());
  ASSERT_EQ(r2.end, kOk);
  EXPECT_EQ(std::string(r2.info.comment.begin(), r2.info.comment.end()), tricky);
  EXPECT_EQ(r2.list.items.size(), 1u);
}

TEST_F(LayoutTest, SizesAndOffsetsAreCheckedBeforeUse) {
  zipbuild::Zip z;
  z.entries = {{"a.txt", "alpha"}};
  std::vector<uint8_t> good = z.build();
  size_t end = good.size() - 22;

  std::vector<uint8_t> b = good;
  b[end + 10] = 0xff;  // 65,535 entries claimed: the directory is read by its size
  b[end + 11] = 0xff;
  Read counted = write(b);
  EXPECT_EQ(counted.directory, kOk);
  EXPECT_EQ(counted.list.items.size(), 1u);
  EXPECT_EQ(countMismatch("c", counted.info.entries, 1),
            "error [c]:  the end record counts 65535 entries, but the central directory holds 1\n");

  b = good;
  b[end + 16] = 0xf0;  // a directory offset past the end record
  b[end + 19] = 0x7f;
  EXPECT_EQ(write(b).directory, kStructureInvalid);

  b = good;
  size_t cd = end - 46 - 5;
  b[cd + 28] = 0xff;  // a name longer than the directory
  b[cd + 29] = 0xff;
  EXPECT_EQ(write(b).directory, kStructureInvalid);

  b = good;
  b[cd] = 'X';  // a central header without its signature
  EXPECT_EQ(write(b).directory, kWrongSignature);
}

TEST_F(LayoutTest, TheEmptyContainerAndTheInPlaceRewrite) {
  TCompress engine;
  engine.archivePath = path;
  engine.comment = {1, 2, 3};
  ASSERT_TRUE(engine.createEmpty());
  std::vector<uint8_t> b = testenv::readBytes(path);
  std::vector<uint8_t> expected(22, 0);
  expected[0] = 'P';
  expected[1] = 'K';
  expected[2] = 5;
  expected[3] = 6;
  EXPECT_EQ(b, expected);
  EXPECT_TRUE(engine.comment.empty());

  // A long comment, then a short one: the file is cut after the new comment.
  engine.comment.assign(500, 'L');
  ASSERT_EQ(engine.rewriteComment(), kOk);
  EXPECT_EQ(testenv::readBytes(path).size(), 522u);
  engine.comment.assign(10, 'S');
  ASSERT_EQ(engine.rewriteComment(), kOk);
  EXPECT_EQ(testenv::readBytes(path).size(), 32u);
  TCompress reader;
  reader.archivePath = path;
  ASSERT_EQ(reader.readEndRecord(), kOk);
  EXPECT_EQ(reader.comment, engine.comment);

  // A container that is not there, and one that is not a container.
  TCompress missing;
  missing.archivePath = env.path("work/none.brc");
  EXPECT_EQ(missing.rewriteComment(), kMissingOrEmpty);
  EXPECT_EQ(missing.readEndRecord(), kMissingOrEmpty);
  testenv::writeFile(env.path("work/text.brc"), "just some text");
  TCompress text;
  text.archivePath = env.path("work/text.brc");
  std::vector<std::string> said;
  text.callbacks.configMessage = [&](const std::string& s) { said.push_back(s); };
  text.comment = {'x'};
  EXPECT_EQ(text.rewriteComment(), kStructureInvalid);
  EXPECT_EQ(said.back(), "Configuration not found");
  EXPECT_EQ(testenv::readBytes(env.path("work/text.brc")).size(), 14u);
}

// A disk that does not keep the first write made through a handle opened
// for writing: it drops the bytes, or puts them `early` bytes before where
// they belong, and says it wrote them; or (early < 0) it fills up halfway.
class UnkeptWriteFs final : public testenv::PassThroughFs {
 public:
  explicit UnkeptWriteFs(int early) : early_(early) {}
  class File final : public testenv::PassThroughFile {
   public:
    File(UnkeptWriteFs& fs, std::unique_ptr<plat::File> f) : PassThroughFile(std::move(f)), fs_(fs) {}
    bool write(const void* b, size_t n, size_t* put) override {
      if (fs_.kept_) return PassThroughFile::write(b, n, put);
      fs_.kept_ = true;
      if (fs_.early_ < 0) {
        PassThroughFile::write(b, n / 2, put);
        plat::setLastError(ENOSPC);
        return true;
      }
      uint64_t at = 0;
      seek(0, plat::Origin::Current, &at);
      if (fs_.early_ > 0 && seek(-fs_.early_, plat::Origin::Current, nullptr))
        PassThroughFile::write(b, n, put);
      *put = n;
      return seek(static_cast<int64_t>(at + n), plat::Origin::Begin, nullptr);
    }

   private:
    UnkeptWriteFs& fs_;
  };
  std::unique_ptr<plat::File> open(const std::string& p, plat::Access a, plat::Disposition d) override {
    auto f = real().open(p, a, d);
    if (!f || a == plat::Access::Read) return f;
    return std::make_unique<File>(*this, std::move(f));
  }

 private:
  int early_;
  bool kept_ = false;
};

TEST_F(LayoutTest, AnInPlaceRewriteTheDiskDidNotKeepIsTakenBack) {
  for (int early : {0, 100, -1}) {
    SCOPED_TRACE(early);
    briefcase::TBriefcaseComment record;
    record.AddEntry("/home/me/work");
    testenv::writeBytes(path, craftzip::build({craftzip::entry("a.txt", std::string(300, 'a')),
                                               craftzip::entry("b.txt", "bee")},
                                              record.Stored(6))
                                  .bytes);
    const std::vector<uint8_t> before = testenv::readBytes(path);
    UnkeptWriteFs disk(early);
    plat::ScopedFileSystem scoped(&disk);
    std::vector<std::string> said;
    const std::vector<uint8_t> comment(400, 'C');  // longer than the old one
    // A full disk says so; a disk that lost the bytes is found out by reading them back.
    EXPECT_EQ(rewriteComment(path, comment, [&](const std::string& m) { said.push_back(m); }),
              early < 0 ? kDiskMayBeFull : kWriteFailure);
    if (early >= 0) {
      EXPECT_EQ(said, std::vector<std::string>{"The configuration could not be saved: the disk "
                                               "did not keep what was written"});
    }
    EXPECT_EQ(testenv::readBytes(path), before);
    // A disk that keeps it: the same rewrite holds.
    EXPECT_EQ(rewriteComment(path, comment, nullptr), kOk);
    EXPECT_EQ(readContainer(path).info.comment, comment);
    EXPECT_EQ(readContainer(path).check, kOk);
  }
}

TEST_F(LayoutTest, ANewContainerIsMovedIntoPlaceWhole) {
  // Unnamed and linked; renamed without replacing; neither (a claimed name).
  for (int naming = 0; naming < 3; ++naming) {
    SCOPED_TRACE(naming);
    std::filesystem::remove(path);
    utest::FaultFs faults;
    faults.unnamedSupported = naming == 0;
    faults.renameFlagsSupported = naming < 2;
    plat::ScopedFileSystem scoped(&faults);
    std::vector<uint8_t> comment = {'c', 'f', 'g'};
    plat::FileTime when = plat::fileTimeFromUnixTime(1700000000);
    ASSERT_EQ(createContainerAtomically(path, comment, &when, false), kOk);
    Read r = readContainer(path);
    ASSERT_EQ(r.end, kOk);
    EXPECT_EQ(r.info.comment, comment);
    plat::FileInfo fi;
    ASSERT_TRUE(plat::fileSystem().stat(path, &fi, true));
    EXPECT_EQ(plat::unixTimeFromFileTime(fi.writeTime), 1700000000);

    // Without replace, an existing file stays as it was.
    EXPECT_EQ(createContainerAtomically(path, {'n', 'e', 'w'}, nullptr, false), kMoveFailed);
    EXPECT_EQ(readContainer(path).info.comment, comment);
    ASSERT_EQ(createContainerAtomically(path, {'n', 'e', 'w'}, nullptr, true), kOk);
    EXPECT_EQ(readContainer(path).info.comment, (std::vector<uint8_t>{'n', 'e', 'w'}));

    // No temporary file is left in the folder.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(env.work())) {
      (void)e;
      ++files;
    }
    EXPECT_EQ(files, 1u);
  }
}

TEST(ExternalAttributes, KeepOnlyTheStoredBits) {
  EXPECT_EQ(externalAttributesFor(true, plat::kAttrReadOnly | plat::kAttrArchive | 0x80),
            0x81000021u);
  EXPECT_EQ(externalAttributesFor(false, 0), 0x81000020u);
  EXPECT_EQ(externalAttributesFor(true, plat::kAttrDirectory | plat::kAttrHidden), 0x81000012u);
}

// Each record's one field list gives its stored size and reads back what it
// wrote: a field left out, doubled or of the wrong width shows here.
template <class Record>
void expectRoundTrip(const char* name) {
  std::vector<uint8_t> bytes(Record::kSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  ByteReader r(bytes);
  Record rec;
  rec.read(r);
  EXPECT_TRUE(r.ok()) << name;
  EXPECT_EQ(r.remaining(), 0u) << name;
  ByteWriter w;
  rec.write(w);
  EXPECT_EQ(w.data(), bytes) << name;
}

TEST(RecordFields, EachRecordIsReadAndWrittenByOneList) {
  expectRoundTrip<TLocalFileHeader>("local header");
  expectRoundTrip<TExtendedLocalHeader>("data descriptor");
  expectRoundTrip<TCentralFileHeader>("central header");
  expectRoundTrip<TEndCentralRecord>("end record");
}
