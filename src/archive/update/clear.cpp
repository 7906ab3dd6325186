// Clear (the container becomes an empty archive that keeps the
// configuration) and the lock an engine holds across runs.

#include "archive/deletions.h"
#include "archive/errors.h"
#include "archive/replace.h"
#include "archive/update/update.h"

namespace archive {
namespace {

int lockResult(ContainerLock::Status status) {
  switch (status) {
    case ContainerLock::Status::Locked: return kOk;
    case ContainerLock::Status::Denied: return kWriteProtected;
    case ContainerLock::Status::Missing: return kMissingOrEmpty;
    default: return kCreateFailed;
  }
}

// The lock for a run outside Update: the engine's held one, or `own` taken
// now. Results: 0; 55 the container cannot be written; 23 it is missing;
// 25 another run holds it; 58 it changed since the engine locked it.
int lockFor(TCompress& engine, ContainerLock& own, ContainerLock** lock) {
  ContainerLock* held = engine.update.heldLock.get();
  if (held && held->held() && held->path() == engine.archivePath) {
    *lock = held;
    return held->unchanged() ? kOk : kInUse;
  }
  *lock = &own;
  return lockResult(own.acquire(engine.archivePath));
}

}  // namespace

int ClearBriefcase(TCompress& engine) {
  ContainerLock own;
  ContainerLock* lock = nullptr;
  if (int rc = lockFor(engine, own, &lock)) return rc;
  // The deletions stay (or become those given) in the empty archive.
  FoundDeletions carried;
  if (readBriefcaseDeletions(lock->realPath(), &carried) != kOk) carried = FoundDeletions();
  const std::optional<PasswordCheck> check =
      engine.newPasswordCheck ? engine.newPasswordCheck : carried.check;
  std::vector<DeletionRow> rows;
  if (engine.deletions) {
    rows = *engine.deletions;
    normalizeDeletions(&rows);
    const std::string why = deletionRowsProblem(rows);
    if (!why.empty()) {
      engine.sendConfigMessage("The deletions to carry cannot be written: " + why);
      return kBadParameters;
    }
  } else {
    rows = std::move(carried.rows);
    if (!carried.problem.empty())
      engine.sendConfigMessage(ignoredDeletionsText(engine.archivePath, carried.problem));
  }
  const std::vector<uint8_t> block = encodeDeletions(rows, check);
  const std::vector<uint8_t> head = block.empty() ? block : deletionsHead(block);
  int rc = replaceWithEmpty(*lock, engine.comment, nullptr,
                            [&engine](const std::string& s) { engine.sendConfigMessage(s); }, head);
  if (rc) return rc;
  engine.deletions.reset();
  engine.newPasswordCheck.reset();
  engine.endRecord = TEndCentralRecord();
  engine.endRecord.centralOffset = static_cast<uint32_t>(head.size());
  engine.endRecord.commentLength = static_cast<uint16_t>(engine.comment.size());
  return kOk;
}

int HoldLock(TCompress& engine) {
  engine.update.heldLock.reset();
  auto held = std::make_unique<ContainerLock>();
  int rc = lockResult(held->acquire(engine.archivePath));
  if (rc == kOk) engine.update.heldLock = std::move(held);
  return rc;
}

void RefreshLock(TCompress& engine) {
  if (engine.update.heldLock) engine.update.heldLock->refresh();
}

void ReleaseLock(TCompress& engine) { engine.update.heldLock.reset(); }

}  // namespace archive
