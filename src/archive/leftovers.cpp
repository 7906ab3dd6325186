#include "archive/leftovers.h"

#include "platform/unnamed.h"

namespace archive {
namespace {

constexpr size_t kProbeTail = 4;  // a probe's tried characters, after the unique part

plat::TemporaryPattern patternOf(TempKind kind) {
  return {temporaryStart(kind), kind == TempKind::Probe ? kProbeTail : 0};
}

}  // namespace

const char* temporaryStart(TempKind kind) {
  switch (kind) {
    case TempKind::Unload: return ".brc-unload-";
    case TempKind::Container: return ".brc-new-";
    case TempKind::Probe: return ".brc-probe-";
  }
  return ".brc-";
}

std::string temporaryPrefix(TempKind kind) { return plat::temporaryPrefix(temporaryStart(kind)); }

bool isTemporaryName(const std::string& name, TempKind kind, int* pid) {
  return plat::isTemporaryName(name, patternOf(kind), pid);
}

void removeLeftTemporaries(const std::string& folder, TempKind kind) {
  if (kind == TempKind::Unload)
    plat::removeLeftTemporaries(folder, {patternOf(kind), patternOf(TempKind::Probe)});
  else
    plat::removeLeftTemporaries(folder, {patternOf(kind)});
}

}  // namespace archive
