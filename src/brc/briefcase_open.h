#pragma once
// Opening a briefcase from the command line: the engine object with its
// configuration read, and this computer's local folder.

#include <string>

#include "archive/compress.h"
#include "briefcase/comment.h"

namespace brc {

struct OpenBriefcase {
  archive::TCompress engine;
  briefcase::TBriefcaseComment record;
  std::string localFolder;  // this computer's, "" when it has none
};

// Reads the container's configuration. On failure the message is printed and
// the exit status returned (the layout's code, or 17 for a configuration that
// cannot be read); 0 on success.
int openBriefcase(const std::string& path, OpenBriefcase* out);

// Sets this computer's folder in the record (every entry of this computer, or
// a new entry when it has none) and writes the configuration into the
// container in place. Returns 0 or the exit status after a printed message.
int setLocalFolder(OpenBriefcase& b, const std::string& folder);

// The local folder to work in: --folder when given (set as above), else this
// computer's folder from the record; 10 with a message when there is neither.
int resolveLocalFolder(OpenBriefcase& b, const std::string& command, bool hasFolderOption,
                       const std::string& folderOption);

}  // namespace brc
