#pragma once
// The deletions a briefcase carries from one computer to the other: for each
// deleted file its path (as entry names go), when it was deleted, and the
// CRC-32 and size of the bytes that computer last carried for it.
//
// They travel as a block of bytes that no entry references, right before the
// central directory, so that the container stays an ordinary ZIP archive:
// other readers skip bytes no entry references, and no program that reads
// only the archive's entries ever writes the rows into a folder. The block:
//   rows, sorted by path, each: path length (2), path (UTF-8), deletion time
//   (8, 100 ns ticks since 1601), CRC-32 (4), size (8);
//   then a 20-byte trailer: version 1 (2), flags 0 (2), row count (4), block
//   length with the trailer (4), CRC-32 of the block up to this field (4),
//   and the signature "CVDL".
// A briefcase without entries has no entry data for the block to follow; it
// then begins with an empty end record whose comment is the block, and its
// end record states an empty directory right before itself
// (docs/deletions.md tells why). A block is trusted only when its trailer, its bounds against the
// entries and the directory, its CRC and every row pass the checks below;
// otherwise it is ignored and said so, never fatal to the entries.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/layout.h"
#include "platform/filetime.h"

namespace archive {

struct DeletionRow {
  std::string path;             // '/'-separated, relative, UTF-8: an entry's name
  plat::FileTime deletedAt = 0;  // 100 ns ticks since 1601-01-01 UTC
  uint32_t crc = 0;             // of the bytes last carried for the path
  uint64_t size = 0;
  bool operator==(const DeletionRow&) const = default;
};

constexpr size_t kDeletionTrailerSize = 20;
constexpr size_t kDeletionRowFixed = 2 + 8 + 4 + 8;
constexpr uint16_t kDeletionVersion = 1;
// Bounds a block must keep: the entries' own bound on the count, and a size
// that a block of that many long paths stays within.
constexpr size_t kMaxDeletionRows = 65535;
constexpr size_t kMaxDeletionBlock = 16u << 20;
// A briefcase without entries carries the block as an end record's comment,
// whose length field has two bytes.
constexpr size_t kMaxDeletionHead = 0xffff;

// An encrypted briefcase's password check: a salt and the verifier a
// password gives with it (archive/aes.h, AES-256). The block carries it
// after its rows when its trailer's flags have kDeletionFlagPasswordCheck,
// so that a briefcase without entries is known as encrypted, and its
// password can be checked, before its first encrypted entry exists.
constexpr uint16_t kDeletionFlagPasswordCheck = 0x0001;
constexpr size_t kPasswordCheckSize = 16 + 2;
struct PasswordCheck {
  std::array<uint8_t, 16> salt{};
  std::array<uint8_t, 2> verifier{};
  bool operator==(const PasswordCheck&) const = default;
};

// Why `path` cannot name a deleted file ("" when it can): it must be what
// an unload writes an entry of that name to, exactly: not empty, valid
// UTF-8, relative (no leading '/' or '\', no drive), no "..", "." or empty
// level, no control character (NUL included), no trailing '/', and within
// the path bound.
std::string deletionPathProblem(const std::string& path);

// Why `rows` cannot be written ("" when they can): every path as above,
// sorted by path (byte order) and unique, at most kMaxDeletionRows, the
// block within kMaxDeletionBlock.
std::string deletionRowsProblem(const std::vector<DeletionRow>& rows);

// Sorts the rows by path; of two rows for one path the later deletion stays.
void normalizeDeletions(std::vector<DeletionRow>* rows);

// The block of rows that deletionRowsProblem accepts, with the password
// check when there is one (neither: no bytes).
std::vector<uint8_t> encodeDeletions(const std::vector<DeletionRow>& rows,
                                     const std::optional<PasswordCheck>& check = std::nullopt);

// Decodes a whole block (its trailer at the end); false with *why when any
// check fails, and then *rows is empty (and *check, when given, unset).
bool decodeDeletions(const uint8_t* p, size_t n, std::vector<DeletionRow>* rows, std::string* why,
                     std::optional<PasswordCheck>* check = nullptr);

// The bytes a writer puts before a directory that lists no entry when the
// archive has nothing else before it: the empty end record whose comment
// is the block, then the block.
std::vector<uint8_t> deletionsHead(const std::vector<uint8_t>& block);

// What a container carries.
struct FoundDeletions {
  std::vector<DeletionRow> rows;
  std::optional<PasswordCheck> check;  // the encrypted briefcase's password check
  bool present = false;   // a block was found and passed every check
  std::string problem;    // a block stands there but was ignored: why ("" otherwise)
  uint32_t start = 0;     // where its bytes begin (with the head, for an empty archive)
  uint32_t length = 0;    // how many bytes it takes there (0 without a block)
};

// Finds and checks the block of the open container whose end record is
// `end` and whose directory `list` holds (each entry's local header is read
// for its length). A block that is not there is no problem. Results: 0 (see
// found->problem), or a read failure's code.
int readDeletions(JFile& f, const EndRecordInfo& end, const TZList& list, FoundDeletions* found);

// The same for the container at `path`, reading its end record and
// directory first. Results: 0; 23 it cannot be opened; the end record's or
// the directory's code.
int readBriefcaseDeletions(const std::string& path, FoundDeletions* found);

// The message that tells that a container's block was ignored.
std::string ignoredDeletionsText(const std::string& path, const std::string& problem);

}  // namespace archive
