#pragma once
// The briefcase configuration record, stored as the container's archive
// comment: the format version, the body size, the include and exclude
// patterns, the table of local folders per computer, the compression level
// digit and the subfolders flag. Texts are NUL-terminated; the record ends
// with the subfolders character.

#include <stdexcept>
#include <string>
#include <vector>

namespace archive {
class TCompress;
}

namespace briefcase {

constexpr size_t kMaxVolDirs = 30;
constexpr size_t kMaxComputerIdLength = 9;
constexpr size_t kMaxFolderLength = 259;
constexpr size_t kMaxVersionLength = 19;
constexpr size_t kCommentBufferSize = 8600;  // the whole stored record must fit
constexpr const char* kRecordVersion = "1.204";

struct TVolDir {
  std::string computerId;  // at most 9 characters
  std::string folder;      // at most 259 characters, a full local path
};

struct TVolDirSet {
  std::vector<TVolDir> entries;  // at most 30, appended, never removed
  size_t count() const { return entries.size(); }
};

// Raised by Build when the stored record would not fit its buffer.
class RecordTooLarge : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TBriefcaseComment {
 public:
  TVolDirSet folders;
  bool subfolders = true;
  std::string exclude;
  std::string include;
  std::string version;

  // Replaces the engine's comment with the stored form of this record and of
  // the engine's compression level; sets version to "1.204". Throws
  // RecordTooLarge, leaving the engine's comment as it was, when the stored
  // form would pass 8,600 bytes or a field is longer than the format allows.
  void Build(archive::TCompress& engine);

  // Reads the engine's current (non-empty) comment into this record and sets
  // the engine's compression level. False when the comment is not a record
  // this program reads; a newer version is reported to the user here (kStrNeedsNewerVersion).
  bool Parse(archive::TCompress& engine);

  // The stored form alone (no engine): used by Build, the tests and `brc`.
  std::vector<uint8_t> Stored(int level) const;
  // Parsing of stored bytes; *level receives the level digit's value.
  // *newerVersion is set when the record needs a newer program.
  bool ParseStored(const std::vector<uint8_t>& stored, int* level, bool* newerVersion);

  // The folder of the first entry with this computer's id, or "".
  std::string FolderForThisComputer() const;
  // The id of the first other computer of the table, or "" (the name a
  // conflict copy says it came from).
  std::string OtherComputerId() const;
  // Writes the folder into every entry with this computer's id; adds nothing.
  void SetFolderForThisComputer(const std::string& folder);
  // Appends an entry for this computer, unless the table is full.
  void AddEntry(const std::string& folder);
};

}  // namespace briefcase
