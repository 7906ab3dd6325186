#pragma once
// The extraction engine's runs on the shared engine object.
//
// Every run opens the briefcase read-only, finds and checks the end record,
// repairs what it can of an inconsistent directory (bytes prepended, a zero
// directory offset, a directory said to be longer than it is), reads the
// central directory into c.extract.entries and then makes one pass:
//
//   ListRun   - reports every entry to c.extract.callbacks.listEntry and
//               sums c.extract.totals; 11 when the briefcase lists nothing.
//               It clears c.names and c.extract.targetFolder first, so an
//               unload sets both again.
//   UnloadRun - writes the entries named in c.names (all when it is empty)
//               into c.extract.targetFolder, asking through
//               c.extract.callbacks.replaceQuery before an existing file is
//               replaced; afterwards c.extract.notAllUnloaded tells whether
//               the user declined a replacement.
//   TestRun   - reads, decompresses and checks every named entry (all when
//               c.names is empty) and writes nothing; each result goes to
//               c.extract.callbacks.entryTested.
//
// All three report through c.callbacks (message, configMessage, totalProgress,
// fileProgress, cancelCheck) and return one result code (0 success; 1
// warning; 2, 3 damaged briefcase; 4 memory; 9 briefcase unreadable; 11 no
// files found; 19 cancelled; 24, 49, 50, 58 write problems; 51 unexpected
// end; 81 entries left out as encrypted or of an unsupported kind).
//
// An unload never writes outside the target folder nor through a symbolic
// link below it, never produces more bytes than an entry declares, and puts
// each file in place only after its data was checked: it is written to a
// temporary file in the target's own folder and renamed over the old file,
// so a damaged entry or a full disk leaves the old file as it was.

#include "platform/ask.h"
#include "platform/filetime.h"

#include <cstdint>
#include <string>

namespace archive {

class TCompress;

int ListRun(TCompress& c);
int UnloadRun(TCompress& c);
int TestRun(TCompress& c);

// The answer byte for a result of the confirm-replace question (Rename 0,
// Yes 1, Yes to All 2, No to All 3, No 4); any other result leaves the
// answer as it was (returns false).
bool answerForModalResult(int modalResult, uint8_t* answer);

// The two lines of the confirm-replace question: "%d bytes\nmodified on %s"
// for a size and a time (shown in local time).
std::string replaceDetails(uint32_t size, plat::FileTime time);

// A replace-query handler that asks through the program's question interface
// (plat::asker().confirmReplace), for callers without a window of their own.
// A cancelled question sets *cancel (when given) and declines the file.
// `conflict`: the file was changed on both computers since it was last
// carried, and the question says so above the two dates.
void askReplaceThroughAsker(std::string& targetPath, plat::FileTime existingTime,
                            plat::FileTime entryTime, uint32_t existingSize, uint32_t entrySize,
                            uint8_t& answer, bool* cancel, bool conflict = false);

// The replace question's line for a file changed on both computers.
constexpr const char* kBothChangedNote =
    "Both computers changed this file since it was last carried.";

}  // namespace archive
