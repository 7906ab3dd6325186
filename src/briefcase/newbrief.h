#pragma once
// Creating a new briefcase from the new-briefcase wizard's answers: the
// container comes into being complete, with its configuration record and its
// briefcase date, under a temporary name in its folder, and is then moved
// into place in one step. An existing file at the path is replaced only when
// the user agreed to replace it in the save dialog.

#include <optional>
#include <string>

#include "archive/aes.h"
#include "briefcase/comment.h"
#include "briefcase/patterns.h"
#include "platform/filetime.h"

namespace briefcase {

// The wizard's answers, in the order they are read from it.
struct NewBriefcaseAnswers {
  std::string containerPath;  // ".brc" already appended by the wizard
  std::string localFolder;
  std::string exclude;
  std::string include;
  bool compress = true;    // level 6, else 0 (stored)
  // The files loaded into it are encrypted: the password is asked (typed
  // twice) before the briefcase is made, and kept while it is open.
  bool encrypt = false;
  bool subfolders = true;
  plat::FileTime date = 0;  // the date filter: the new briefcase date
  bool makeShortcut = true;
  // The user agreed, in the save dialog, to replace the file now at containerPath.
  bool replaceConsented = false;
};

// What the new open briefcase holds.
struct NewBriefcase {
  std::string containerPath;
  std::string localFolder;
  TBriefcaseComment record;  // one folder entry, for this computer
  int level = 6;
  std::optional<archive::aes::Password> password;  // an encrypted briefcase's
  plat::FileTime date = 0;   // as read back from the container
  TPatternList includeList;
  TPatternList excludeList;
  std::string shortcutName;  // empty when none was made
};

// The file at `path` is a briefcase: a ZIP container whose configuration,
// when it has one, can be read. Nothing is said to the user.
bool IsBriefcaseFile(const std::string& path);

// Creates the container; false (told to the user, nothing on disk changed)
// for an empty path (kStrNoFileName) or a container that cannot be created
// (kStrCannotCreateBriefcase, with the reason). The shortcut, when asked for, is made last; its
// failure is told by itself and does not change the result.
bool CreateNewBriefcase(const NewBriefcaseAnswers& answers, NewBriefcase* out);

}  // namespace briefcase
