#pragma once
// How a local file compares with its briefcase entry: the icons of both rows.

#include <cstdint>

#include "platform/filetime.h"

namespace app {

enum RowIcon : int {
  kIconSame = 0,   // the two times differ by less than 2 seconds
  kIconOlder = 1,  // this side's copy is the older one
  kIconNewer = 2,  // this side's copy is the newer one
  kIconOnly = 3,   // only on this side
  // From the carry record (see carry/rules.h):
  kIconConflict = 4,   // both computers changed the file since it was last carried
  kIconNewerHere = 5,  // an entry that is what this computer last carried, while the
                       // local file changed since: the local file is the newer news
  // Carried deletions (app/deletions.h):
  kIconDeletedHere = 6,  // a local row: carried, then deleted here; a load carries the deletion
};
constexpr int kRowIconCount = 7;

struct RowIcons {
  RowIcon local;
  RowIcon entry;
};

// d = local last-write time - entry time: |d| < 2 s same; local newer gives
// local 2 / entry 1; entry newer gives local 1 / entry 2.
RowIcons CompareTimes(plat::FileTime localWriteTime, plat::FileTime entryTime);

// The state word of an icon as `brc status` prints it.
const char* RowStateName(RowIcon icon);

}  // namespace app
