#pragma once
// The container's records and the file access layer through which every
// archive byte is read and written.
//
// The container is a ZIP archive without spanning, its entries plain or all
// encrypted with AES (archive/aes.h): optional
// preamble, then per entry a local header, name, local extra field
// and data; then the central directory; then the end record, whose archive
// comment holds the briefcase configuration. All integers are little-endian.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/bytes.h"
#include "platform/files.h"

namespace archive {

constexpr uint32_t kLocalSig = 0x04034b50;    // "PK" 3 4
constexpr uint32_t kCentralSig = 0x02014b50;  // "PK" 1 2
constexpr uint32_t kEndSig = 0x06054b50;      // "PK" 5 6
constexpr uint32_t kDescriptorSig = 0x08074b50;  // "PK" 7 8
constexpr uint32_t kZip64EndSig = 0x06064b50;      // "PK" 6 6
constexpr uint32_t kZip64LocatorSig = 0x07064b50;  // "PK" 6 7

// Extra field block ids that the readers look into.
constexpr uint16_t kExtraZip64 = 0x0001;        // 64-bit sizes and offset
constexpr uint16_t kExtraUnicodePath = 0x7075;  // the name as UTF-8, with the CRC of the stored name

// The bounds of what this program reads and writes: 16-bit entry counts and
// 32-bit sizes and offsets. Archives and entries beyond them need the ZIP64
// extensions and are refused.
constexpr uint64_t kMaxEntries = 65535;
constexpr uint64_t kMax32 = 0xffffffffu;

// 22 bytes of the end record plus the longest comment.
constexpr uint32_t kEndSearchRange = 22 + 65535;
constexpr size_t kEndSearchBlock = 4096;

// General-purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;

// Compression methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodImploded = 6;
constexpr uint16_t kMethodDeflated = 8;

// Bytes of a record's signature.
constexpr size_t kSignatureSize = 4;

struct TLocalFileHeader {
  static constexpr size_t kSize = 30;
  uint32_t signature = kLocalSig;
  uint8_t versionNeeded = 20;
  uint8_t versionNeededHost = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;

  // The fields in the order they are stored, for reading and writing.
  template <class Self, class Io>
  static void fields(Self& s, Io& io) {
    io.field(s.signature);
    io.field(s.versionNeeded);
    io.field(s.versionNeededHost);
    io.field(s.flags);
    io.field(s.method);
    io.field(s.time);
    io.field(s.date);
    io.field(s.crc);
    io.field(s.compressedSize);
    io.field(s.uncompressedSize);
    io.field(s.nameLength);
    io.field(s.extraLength);
  }
  void read(ByteReader& r) { fields(*this, r); }
  void write(ByteWriter& w) const { fields(*this, w); }
};

struct TExtendedLocalHeader {
  static constexpr size_t kSize = 16;
  uint32_t signature = kDescriptorSig;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;

  // The fields in the order they are stored, for reading and writing.
  template <class Self, class Io>
  static void fields(Self& s, Io& io) {
    io.field(s.signature);
    io.field(s.crc);
    io.field(s.compressedSize);
    io.field(s.uncompressedSize);
  }
  void read(ByteReader& r) { fields(*this, r); }
  void write(ByteWriter& w) const { fields(*this, w); }
};

struct TCentralFileHeader {
  static constexpr size_t kSize = 46;
  uint32_t signature = kCentralSig;
  uint8_t versionMadeBy = 22;
  uint8_t hostSystem = 11;
  uint8_t versionNeeded = 20;
  uint8_t versionNeededHost = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;

  // The fields in the order they are stored, for reading and writing.
  template <class Self, class Io>
  static void fields(Self& s, Io& io) {
    io.field(s.signature);
    io.field(s.versionMadeBy);
    io.field(s.hostSystem);
    io.field(s.versionNeeded);
    io.field(s.versionNeededHost);
    io.field(s.flags);
    io.field(s.method);
    io.field(s.time);
    io.field(s.date);
    io.field(s.crc);
    io.field(s.compressedSize);
    io.field(s.uncompressedSize);
    io.field(s.nameLength);
    io.field(s.extraLength);
    io.field(s.commentLength);
    io.field(s.diskNumberStart);
    io.field(s.internalAttributes);
    io.field(s.externalAttributes);
    io.field(s.localHeaderOffset);
  }
  void read(ByteReader& r) { fields(*this, r); }
  void write(ByteWriter& w) const { fields(*this, w); }
};

struct TEndCentralRecord {
  static constexpr size_t kSize = 22;
  uint32_t signature = kEndSig;
  uint16_t diskNumber = 0;
  uint16_t centralDisk = 0;
  uint16_t entriesOnDisk = 0;
  uint16_t entriesTotal = 0;
  uint32_t centralSize = 0;
  uint32_t centralOffset = 0;
  uint16_t commentLength = 0;

  // The fields in the order they are stored, for reading and writing.
  template <class Self, class Io>
  static void fields(Self& s, Io& io) {
    io.field(s.signature);
    io.field(s.diskNumber);
    io.field(s.centralDisk);
    io.field(s.entriesOnDisk);
    io.field(s.entriesTotal);
    io.field(s.centralSize);
    io.field(s.centralOffset);
    io.field(s.commentLength);
  }
  void read(ByteReader& r) { fields(*this, r); }
  void write(ByteWriter& w) const { fields(*this, w); }
};

// ---- file access layer ----

enum class SeekOrigin { Begin, Current, End };

// The abstract stream. Every operation returns a result code of the engine's
// table: 0 is success.
class JFile {
 public:
  virtual ~JFile() = default;
  virtual bool isOpen() const = 0;
  // 12 when fewer bytes than asked were read (or none at end of file).
  virtual int read(void* buf, uint32_t count) = 0;
  // 29 when fewer bytes were written; 24 when the write failed.
  virtual int write(const void* buf, uint32_t count) = 0;
  // 12 past the end of the file; 21 for any other failure. 32-bit positions.
  virtual int seek(int64_t distance, SeekOrigin origin) = 0;
  // The 32-bit size; 31 ("Files larger than 4 GB are not supported") for a
  // file of 4 GB or more; 88 when the size cannot be had.
  virtual int size(uint32_t* out) = 0;
  virtual bool canSeek() const = 0;
  // The position of the pattern within [rangeStart, rangeEnd), or -1.
  // Backwards: the last occurrence, searched in blocks from the end.
  virtual int64_t search(uint32_t rangeStart, uint32_t rangeEnd, const uint8_t* pattern,
                         uint32_t patternLength, bool backwards) = 0;

  uint32_t position() const { return position_; }
  uint32_t lastTransfer() const { return lastTransfer_; }

 protected:
  uint32_t position_ = 0;
  uint32_t lastTransfer_ = 0;
};

// A disk file, opened through the platform's file system (which tests replace).
class JNormFile : public JFile {
 public:
  JNormFile() = default;
  JNormFile(const std::string& path, plat::Access access, plat::Disposition disposition);
  // Takes an already open platform file (e.g. a new temporary file).
  JNormFile(std::unique_ptr<plat::File> file, std::string path);
  ~JNormFile() override;

  bool open(const std::string& path, plat::Access access, plat::Disposition disposition);
  bool isOpen() const override { return file_ != nullptr; }
  int read(void* buf, uint32_t count) override;
  int write(const void* buf, uint32_t count) override;
  int seek(int64_t distance, SeekOrigin origin) override;
  int size(uint32_t* out) override;
  bool canSeek() const override { return true; }
  int64_t search(uint32_t rangeStart, uint32_t rangeEnd, const uint8_t* pattern,
                 uint32_t patternLength, bool backwards) override;

  // Cuts the file at the current position; false on failure.
  bool truncateHere();
  bool sync();
  bool lockExclusive();
  bool close();
  plat::File* platformFile() { return file_.get(); }
  const std::string& path() const { return path_; }
  // Whether the last read failed (it reports as the end of the file).
  bool readFailed() const { return readFailed_; }

 private:
  std::unique_ptr<plat::File> file_;
  std::string path_;
  bool readFailed_ = false;
};

// ---- the entry list ----

// Marks of an entry during an update run.
enum : uint8_t { kMarkNone = 0, kMarkReplace = 1, kMarkDelete = 2, kMarkAdded = 3 };

struct zlitem {
  TCentralFileHeader central;
  TLocalFileHeader local;          // kept apart: the local extra field differs
  std::string name;                // as stored (the central header's name bytes)
  std::vector<uint8_t> localName;  // the local header's name bytes
  std::vector<uint8_t> centralExtra;
  std::vector<uint8_t> localExtra;
  std::vector<uint8_t> comment;
  TExtendedLocalHeader descriptor;  // when the local flags have bit 3
  uint8_t descriptorLength = 0;     // its length in the file: 12, 16, 20 or 24
  bool needsZip64 = false;          // a size or the offset needs more than 32 bits
  uint8_t mark = kMarkNone;
};

struct TZList {
  std::vector<zlitem> items;  // in directory order
  uint64_t totalUncompressed = 0;
  uint32_t centralSize = 0;   // 46 + name + extra + comment per entry

  void clear() {
    items.clear();
    totalUncompressed = 0;
    centralSize = 0;
  }
  void append(zlitem item);
};

// ---- procedures on a container ----

// Where found end records and messages go.
using MessageSink = std::function<void(const std::string&)>;

struct EndRecordInfo {
  TEndCentralRecord record;
  std::vector<uint8_t> comment;
  uint32_t position = 0;      // file offset of the end record
  uint32_t fileSize = 0;
  uint32_t centralEnd = 0;    // central directory offset + size, as the record states
  // Where the directory must end: the ZIP64 end record when there is one,
  // else the end record.
  uint32_t directoryEnd = 0;
  // The directory as the records state it (the ZIP64 end record's values
  // when there is one).
  uint64_t entries = 0;
  uint64_t centralSize = 0;
  uint64_t centralOffset = 0;
  bool zip64 = false;           // a ZIP64 end record and its locator were found
  uint32_t commentMissing = 0;  // comment bytes the file does not hold (the comment is cut)
  // Not empty when the archive needs the ZIP64 extensions: what it needs,
  // and the result that refuses it (kTooManyEntries or kTooLarge).
  std::string needsZip64;
  int zip64Refused = 0;
};

// Finds the end record within the last 65,557 bytes of the file and reads it
// with its comment, and the ZIP64 end record when a locator stands before
// it. Among the "PK" 5 6 signatures in range, the last one whose comment ends
// exactly at the end of the file wins; when none does, the last one whose
// comment fits in the file; when none fits, the last one, whose comment is
// read as far as the file holds it (commentMissing tells how much is not).
// Results: 0; 13 when no signature is in range (the sink then receives
// "Reached end of file before finding configuration" and that the file is
// not a briefcase); 30, 12, 21, 31, 88 as read.
int findEndRecord(JFile& f, EndRecordInfo* out, const MessageSink& configMessage);

// Reads the central directory by its size: the headers in [offset, offset +
// size), cut at `limit` (where the directory must end), each with its name,
// extra field and comment. Sizes and the offset that a ZIP64 extra field
// holds are taken into the header where they fit in 32 bits. Results: 0; 13
// when the offset cannot be reached or a header runs past the end; 30 for a
// header without its signature; 12 for a short read; 31 for more than 65,535
// entries. The list holds the headers read before a failure. *preamble
// receives the lowest local header offset.
int readCentralDirectory(JFile& f, uint32_t offset, uint32_t size, uint32_t limit, TZList* list,
                         uint32_t* preamble);

// The message for a directory whose size and count disagree, or "" when they
// agree. `held` headers were read; the record stated `stated`.
std::string countMismatch(const std::string& path, uint64_t stated, size_t held);
// The message for an archive that needs the ZIP64 extensions.
std::string zip64Refusal(const std::string& path, const std::string& what);

// Takes the 64-bit values of a ZIP64 extra field into the 32-bit fields that
// hold 0xffffffff (in the order the format gives: uncompressed size,
// compressed size, local header offset). False when a value needs more than
// 32 bits (the field then keeps 0xffffffff).
bool resolveZip64(const std::vector<uint8_t>& extra, uint32_t* uncompressed,
                  uint32_t* compressed, uint32_t* offset);
// Whether an extra field holds a ZIP64 block.
bool hasZip64(const std::vector<uint8_t>& extra);

// A data descriptor in `n` bytes: with or without its signature, with 32-bit
// sizes or (`zip64`) 64-bit ones. Its length, or 0 when the bytes are too few
// or the sizes need more than 32 bits.
size_t parseDescriptor(const uint8_t* p, size_t n, bool zip64, TExtendedLocalHeader* out);

// The local record at the file's position, as both engines read it: the
// header, then its name and extra field. 0, or the result of the first read
// that failed (nothing after it is read).
template <class Name>
int readLocalRecord(JFile& f, TLocalFileHeader* header, Name* name, std::vector<uint8_t>* extra) {
  uint8_t raw[TLocalFileHeader::kSize];
  if (int rc = f.read(raw, sizeof raw)) return rc;
  ByteReader r(raw, sizeof raw);
  header->read(r);
  name->resize(header->nameLength);
  if (!name->empty())
    if (int rc = f.read(name->data(), header->nameLength)) return rc;
  extra->resize(header->extraLength);
  if (!extra->empty())
    if (int rc = f.read(extra->data(), header->extraLength)) return rc;
  return 0;
}

// The data descriptor after an entry's data, at `at`: parses what the file
// holds of `available` bytes there (at most the 24 of the longest form).
// Its length, or 0 as parseDescriptor; *whole tells whether all those bytes
// could be read.
constexpr size_t kLongestDescriptor = 24;  // signature, CRC and two 64-bit sizes
size_t readDescriptor(JFile& f, int64_t at, uint64_t available, bool zip64,
                      TExtendedLocalHeader* out, bool* whole);

// What disagrees between an entry's central header and its local header
// (with the data descriptor's CRC and sizes when the local flags have bit 3):
// "name", "flags", "method", "CRC", "compressed size", "uncompressed size",
// and with `strict` also "version needed", "time", "date"; "" when they agree.
std::string headerMismatch(const TCentralFileHeader& c, const std::string& centralName,
                           const TLocalFileHeader& l, const std::string& localName,
                           const TExtendedLocalHeader* descriptor, bool strict);

// Checks every entry against its local header (and data descriptor), keeping
// the local header, name and extra field in the entry. Any disagreement, a
// wrong local signature or a header beyond `limit` gives 13.
int checkEntries(JFile& f, TZList& list, uint32_t limit);

// Writes the central directory of the list at the output's current position.
// A write failure gives that write's code (message "Error writing central list"
// through the sink).
int writeCentralDirectory(JFile& out, const TZList& list, const MessageSink& message);

// Writes the end record with the comment.
int writeEndRecord(JFile& out, TEndCentralRecord record, const std::vector<uint8_t>& comment);

// Creates the 22-byte empty container at `path` (replacing a file there).
// False when the file cannot be created.
bool createEmptyContainer(const std::string& path);

// The external attributes stored for a file: read-only, hidden, system,
// directory and archive kept from its attributes, combined with 0x81000000.
uint32_t externalAttributesFor(bool attributesKnown, uint32_t attributes);

}  // namespace archive
