#include "archive/leftovers.h"

#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace archive {
namespace {

constexpr size_t kRandomLength = 6;  // the unique part that the file layer adds
constexpr size_t kProbeTail = 4;     // a probe's tried character, after the unique part

const char* startOf(TempKind kind) {
  switch (kind) {
    case TempKind::Unload: return ".brc-unload-";
    case TempKind::Container: return ".brc-new-";
    case TempKind::Probe: return ".brc-probe-";
  }
  return ".brc-";
}

bool isAlnum(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

}  // namespace

std::string temporaryPrefix(TempKind kind) {
  return startOf(kind) + std::to_string(plat::processId()) + "-";
}

bool isTemporaryName(const std::string& name, TempKind kind, int* pid) {
  const std::string startText = startOf(kind);
  const size_t start = startText.size();
  if (name.compare(0, start, startText) != 0) return false;
  size_t i = start;
  long value = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 10)
    value = value * 10 + (name[i++] - '0');
  if (i == start || name[start] == '0' || value > 0x7FFFFFFF) return false;
  const size_t unique = i + 1 + kRandomLength;
  const size_t tail = kind == TempKind::Probe ? kProbeTail : 0;
  if (i >= name.size() || name[i] != '-' || name.size() < unique || name.size() > unique + tail)
    return false;
  for (size_t k = i + 1; k < unique; ++k)
    if (!isAlnum(name[k])) return false;
  *pid = static_cast<int>(value);
  return true;
}

void removeLeftTemporaries(const std::string& folder, TempKind kind) {
  plat::FolderEnum dir;
  if (!dir.open(folder)) return;
  const int self = plat::processId();
  plat::FindData d;
  while (dir.next(&d, false)) {
    int pid = 0;
    if (!isTemporaryName(d.name, kind, &pid) &&
        !(kind == TempKind::Unload && isTemporaryName(d.name, TempKind::Probe, &pid)))
      continue;
    // Another run of ours that is still going keeps its file.
    if (pid != self && plat::processRunning(pid)) continue;
    if (!dir.readInfo(&d) || !d.info.isRegular || d.info.isSymlink) continue;
    plat::fileSystem().remove(plat::joinPath(folder, d.name));
  }
}

}  // namespace archive
