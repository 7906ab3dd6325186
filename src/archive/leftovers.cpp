#include "archive/leftovers.h"

#include "platform/unnamed.h"

namespace archive {

const char* temporaryStart(TempKind kind) {
  return kind == TempKind::Unload ? ".brc-unload-" : ".brc-new-";
}

std::string temporaryPrefix(TempKind kind) { return plat::temporaryPrefix(temporaryStart(kind)); }

bool isTemporaryName(const std::string& name, TempKind kind, int* pid) {
  return plat::isTemporaryName(name, temporaryStart(kind), pid);
}

void removeLeftTemporaries(const std::string& folder, TempKind kind) {
  plat::removeLeftTemporaries(folder, temporaryStart(kind));
}

}  // namespace archive
