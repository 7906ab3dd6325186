#pragma once
// Which local files a load would take: the files of the local folder (and,
// with subfolders on, below it) that pass the include and exclude patterns
// and changed since this computer last carried them (the carry record), or,
// for a path it never carried, were modified after the briefcase date. The
// scan holds no state between calls; it reports candidates in the order the
// folders list them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "briefcase/comment.h"
#include "briefcase/patterns.h"
#include "carry/tracker.h"
#include "platform/filetime.h"

namespace briefcase {
class TBriefcaseDoc;
}

namespace app {

struct ScanRules {
  std::string localFolder;  // as stored, with or without a trailing '/'
  bool subfolders = true;
  briefcase::TPatternList include;
  briefcase::TPatternList exclude;
  plat::FileTime briefcaseDate = 0;
  // The carry record of the briefcase and folder; null: the briefcase date
  // alone decides.
  carry::Tracker* carry = nullptr;
};

struct LoadCandidate {
  std::string name;            // the file's name
  std::string relativeFolder;  // '/'-separated, empty for the local folder itself
  std::string path;            // the full local path
  uint64_t size = 0;
  plat::FileTime writeTime = 0;
  uint32_t attributes = 0;
  carry::FileState state;  // as the scan saw it (before anything read it)
  // Which rule made it a candidate.
  carry::LocalClass why{carry::LocalVerdict::kCandidate, carry::Basis::kDate};
};

// The rules of a briefcase's configuration for a local folder and a date
// (the patterns split from the record's texts).
ScanRules RulesFor(const briefcase::TBriefcaseComment& record, const std::string& localFolder,
                   plat::FileTime briefcaseDate);

// The rules of an open briefcase document: its local folder, the record's
// subfolders flag and the pattern lists the document keeps split.
ScanRules RulesFor(const briefcase::TBriefcaseDoc& doc, plat::FileTime briefcaseDate);

// The carry record of the briefcase at `containerPath` for the rules' local
// folder, its dates measured against the rules' briefcase date; the rules
// then use it.
std::unique_ptr<carry::Tracker> TrackFor(const std::string& containerPath, ScanRules* rules);

// The name test: included and not excluded (the bare name, never the folder).
bool PassesNameTest(const ScanRules& rules, const std::string& name);

// The folder of a candidate relative to the local folder: D without the local
// folder text's length, then without one leading '/'.
std::string RelativeFolder(const std::string& localFolder, const std::string& folder);

// Walks the local folder and calls `found` for each load candidate. With
// subfolders on, a folder is entered when its own name passes the name test
// and does not begin with '.'; symbolic links are neither reported nor
// followed. A folder that cannot be read contributes nothing.
// A folder more than kMaxScanDepth levels below the local folder is not
// read (a guard against loops of bind mounts, and deeper than any path a
// briefcase can hold); `tooDeep`, when set, receives each such folder, so
// that the files in it are reported as not loaded rather than passed over
// in silence.
constexpr int kMaxScanDepth = 256;
void ScanLocalFolder(const ScanRules& rules, const std::function<void(const LoadCandidate&)>& found,
                     const std::function<void(const std::string& folder)>& tooDeep = nullptr);

}  // namespace app
