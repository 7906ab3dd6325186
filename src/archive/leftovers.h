#pragma once
// The names of our temporary files, and the removal of those a killed run
// left behind.
//
// A file that is being written is named, where it has a name at all,
// ".brc-<kind>-<process id>-XXXXXX": "unload" for a local file an unload is
// putting in place, "new" for a container being built beside the briefcase
// (on file systems without unnamed files it carries that name for the whole
// run), "probe" for the file an unload makes for a moment to learn how a
// folder treats names (it may end in a few more characters: the one tried).
// Before a run writes in a folder it removes such files of processes that no
// longer run, and what their name claims left (platform/unnamed.h). No other
// program uses the pattern, so a user's file is never taken for one; links
// and folders are never touched.

#include <string>

namespace archive {

enum class TempKind { Unload, Container, Probe };

// ".brc-unload-", ".brc-new-" or ".brc-probe-".
const char* temporaryStart(TempKind kind);

// The start of this process's temporary names of that kind; the file layer
// adds six letters or digits.
std::string temporaryPrefix(TempKind kind);

// Whether a file name is one of our temporary names of that kind, and of which process.
bool isTemporaryName(const std::string& name, TempKind kind, int* pid);

// Removes from `folder` the temporary files of that kind whose process no
// longer runs (a file of this very process's id is a leftover too: only one
// run of a kind writes at a time in a process). The unload's sweep takes its
// probes too.
void removeLeftTemporaries(const std::string& folder, TempKind kind);

}  // namespace archive
