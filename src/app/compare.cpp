#include "app/compare.h"

namespace app {

RowIcons CompareTimes(plat::FileTime localWriteTime, plat::FileTime entryTime) {
  const int64_t d = static_cast<int64_t>(localWriteTime - entryTime);
  const int64_t twoSeconds = 2 * static_cast<int64_t>(plat::kTicksPerSecond);
  if (d > -twoSeconds && d < twoSeconds) return {kIconSame, kIconSame};
  if (d >= twoSeconds) return {kIconNewer, kIconOlder};
  return {kIconOlder, kIconNewer};
}

const char* RowStateName(RowIcon icon) {
  switch (icon) {
    case kIconSame: return "same";
    case kIconOlder: return "older";
    case kIconNewer: return "newer";
    case kIconOnly: return "only";
    case kIconConflict: return "conflict";
    case kIconNewerHere: return "newer here";
    case kIconDeletedHere: return "deleted here";
  }
  return "only";
}

}  // namespace app
