#pragma once
// What a folder's file system does with names, found out by trying.
//
// Sticks are mostly exFAT or FAT: there "Report.txt" and "report.txt" name
// one file (the letter case is kept, not told apart), some drivers drop a
// trailing dot or space ("a." is "a"), and many characters, or names, are
// refused. An unload must know this before it writes, or two entries land on
// one file; and when a name is refused the user must hear why.
//
// Everything is learnt with names of our own (".brc-probe-<pid>-XXXXXX",
// swept like the unload's temporaries when a killed run leaves one), once
// per folder and run, never from the file system's type name.

#include <string>
#include <unordered_map>

namespace archive {

// How one folder treats names.
struct FolderNaming {
  bool foldsCase = false;            // two spellings in other letter case are one name
  bool dropsTrailingDots = false;    // "a." is "a"
  bool dropsTrailingSpaces = false;  // "a " is "a"
};

// A path (or name) with every letter capital and every level's trailing
// dots and spaces dropped: paths that some file system may take for one
// come out the same. Two paths that differ here name two files everywhere.
std::string looseKey(const std::string& path);

// Whether two paths that differ only in spelling (their loose keys are the
// same) name one existing file, found out without writing anything: each
// level spelled otherwise resolves, yet its folder lists no entry spelled
// so. For a folder that may not be written in (a load, `brc status`).
bool namesOneFile(const std::string& a, const std::string& b);

// The folders of one run and what was learnt about them.
class FolderNames {
 public:
  // The naming of a folder's file system: a file of our own is made there,
  // looked for under other spellings and removed, once per folder. A folder
  // that does not exist (yet) is named as the nearest folder above it that
  // does; one where nothing can be made counts as telling names apart.
  FolderNaming naming(const std::string& folder);

  // Whether two full paths name one file: level by level, two spellings
  // are one where the folder holding them takes them for one.
  bool sameTarget(const std::string& a, const std::string& b);

  // Why the file system of `folder` will not take `name` (one level) there,
  // as the end of a sentence ("the disk does not accept the character ':'
  // in file names"), or "" when the name is not the reason. `error` is what
  // the system said when the name was refused. Each feature of the name
  // that a disk may refuse (one of : * ? " < > | \, a letter beyond ASCII, a
  // trailing dot or space) is tried on a name of our own; a device name
  // (nul, con, com1...) or a name too long is told from the error alone.
  std::string refusal(const std::string& folder, const std::string& name, int error);

  void clear();

 private:
  bool refuses(const std::string& folder, const std::string& tail);
  std::unordered_map<std::string, FolderNaming> naming_;
  std::unordered_map<std::string, bool> refuses_;  // folder '\0' tail -> refused
};

}  // namespace archive
