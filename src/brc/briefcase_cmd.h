#pragma once
// What the commands that change a briefcase share: opening it with its
// configuration, and local paths as the engine wants them.

#include <string>

#include "archive/compress.h"
#include "briefcase/comment.h"

namespace brc {

// Reads the container's end record and configuration into the engine (its
// comment and level) and the record. An empty comment leaves a new record.
// Errors are printed with the command's name; the result is 0 or the exit
// status (the engine's code, or 17 for a configuration this program cannot
// read).
int openBriefcase(const std::string& command, const std::string& path,
                  archive::TCompress& engine, briefcase::TBriefcaseComment& record);

// An absolute path with "." and ".." resolved and no repeated or trailing '/'
// (text only: links are not resolved).
std::string normalPath(const std::string& path);

}  // namespace brc
