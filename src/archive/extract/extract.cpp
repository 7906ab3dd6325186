#include "archive/extract/extract.h"

#include "archive/compress.h"
#include "archive/extract/run.h"
#include "archive/extract/state.h"
#include "archive/namecode.h"
#include "platform/strtable.h"

namespace archive {

std::string TExtractEntry::displayName() const {
  return decodeName(name, central.flags, host, extra);
}

int ListRun(TCompress& c) {
  c.cancelled = false;
  c.extract.listingMode = kModeList;
  c.extract.targetFolder.clear();
  c.names.clear();
  return engine::Run(c).go();
}

int UnloadRun(TCompress& c) {
  c.cancelled = false;
  c.extract.listingMode = kModeUnload;
  c.extract.notAllUnloaded = false;
  c.extract.filesWritten = 0;
  c.extract.notWritten.clear();
  return engine::Run(c).go();
}

int TestRun(TCompress& c) {
  c.cancelled = false;
  c.extract.listingMode = kModeTest;
  return engine::Run(c).go();
}

bool answerForModalResult(int modalResult, uint8_t* answer) {
  switch (modalResult) {
    case plat::mrRename: *answer = kAnswerRename; return true;
    case plat::mrYes: *answer = kAnswerYes; return true;
    case plat::mrYesToAll: *answer = kAnswerYesToAll; return true;
    case plat::mrNoToAll: *answer = kAnswerNoToAll; return true;
    case plat::mrNo: *answer = kAnswerNo; return true;
    default: return false;
  }
}

std::string replaceDetails(uint32_t size, plat::FileTime time) {
  plat::SystemTime lt;
  std::string date = "error with date";
  if (plat::fileTimeToLocal(time, &lt))
    date = plat::strFormat("%04d-%02d-%02d %02d:%02d", lt.year, lt.month, lt.day, lt.hour,
                           lt.minute);
  return plat::loadStrFmt(plat::kStrFileDetails, static_cast<int>(size), date.c_str());
}

void askReplaceThroughAsker(std::string& targetPath, plat::FileTime existingTime,
                            plat::FileTime entryTime, uint32_t existingSize, uint32_t entrySize,
                            uint8_t& answer, bool* cancel, bool conflict) {
  plat::ReplaceQuestion q;
  if (conflict) q.note = kBothChangedNote;
  q.existingPath = targetPath;
  q.existingDetails = replaceDetails(existingSize, existingTime);
  q.newDetails = replaceDetails(entrySize, entryTime);
  q.existingSize = existingSize;
  q.existingTime = existingTime;
  q.newSize = entrySize;
  q.newTime = entryTime;
  std::string newPath;
  const int r = plat::asker().confirmReplace(q, &newPath);
  if (r == plat::mrCancel) {
    if (cancel) *cancel = true;
    answer = kAnswerNo;
    return;
  }
  // A path beyond the bound is refused by the unload, never cut.
  if (answerForModalResult(r, &answer) && r == plat::mrRename) targetPath = newPath;
}

}  // namespace archive
