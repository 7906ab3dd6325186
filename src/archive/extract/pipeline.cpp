// The queue every entry of an unload or a test goes through, in archive
// order, and the unload on several threads.
//
// On one thread each entry's slot is live from the start: it is decided,
// written by the inline writer and finished before the next one, and what
// it says passes straight through. With the pool, the calling thread prepares the entries in archive order as on one
// thread (local header, checks, name, folders, the file found, the
// policies) and hands each to a worker with its compressed bytes (a large
// entry's worker reads them from the briefcase itself). The worker decodes
// them into a new unnamed file beside the target; a new file (nothing was
// at its path) it also names as soon as the file is sound.
// What the calling thread would have told the caller meanwhile is kept in
// the entry's slot; finishFront replays it, entry after entry, then
// replays what the worker said and puts a replacing file in place. So every
// callback comes on this thread, in the order and with the content of a
// one-thread run. Whatever needs an answer now (a replace question), or
// depends on an entry still being written (the same path, a folder where
// that file goes, a file an earlier entry has just named), or takes another
// path (other methods) first finishes the entries before it and then goes
// on "live", as on one thread. A cancel, a full disk or an error seen while
// replaying abandons every later entry: its file is dropped (or, when
// already named, removed again), the folders made for it go again, and it
// counts as not handled.
#include "archive/extract/run.h"

#include <algorithm>
#include <cerrno>

#include "archive/errors.h"
#include "archive/extract/restore.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace archive::engine {

// Writes on the workers, ahead of the entries' turn. The methods the
// workers decode go to them; any other is written here, in turn.
class Run::PoolWriter : public Run::Writer {
 public:
  explicit PoolWriter(Run& run) : run_(run) {}
  int write(TExtractEntry& e, const EntryPlan& plan, const std::string& shown, bool exists,
            bool replacing, uint32_t mode) override {
    if (run_.ahead()) {
      if (e.local.method == kMethodStored || e.local.method == kMethodDeflated ||
          e.local.method == aes::kMethodAes)
        return run_.startWrite(e, plan, shown, exists, replacing, mode);
      run_.goLive();
    }
    return run_.writeHere(e, plan, shown, exists, replacing, mode);
  }

 private:
  Run& run_;
};

std::unique_ptr<Run::Writer> Run::poolWriter() { return std::make_unique<PoolWriter>(*this); }

// Every entry in archive order through the slot queue, the one place that
// orders what the run tells the caller. With the inline writer each entry
// is handled in its turn (its slot is live from the start, and finished at
// once); with the pool, entries are prepared ahead and finished in turn.
int Run::entryLoop(uint64_t total, bool test, bool* stopPass) {
  passResult_ = 0;
  stopped_ = stopPass_ = false;
  testing_ = test;
  uint64_t running = 0;
  try {
    for (TExtractEntry& e : s_.entries) {
      if (stopped_ || (slots_.empty() && c_.cancelled)) break;
      slots_.emplace_back();
      cur_ = &slots_.back();
      cur_->e = &e;
      cur_->events.push_back({Event::CancelCheck, 0, {}});
      if (!pool_) {
        cur_->live = true;
        if (!replayEvents(*cur_)) {
          stopped_ = true;
          break;
        }
      }
      bool failed = false;
      if (e.selected) {
        if (!cur_->live) toSlot();
        running += e.central.uncompressedSize;
        if (total) totalProgress(static_cast<int>(running * 100 / total));
        ++entryNumber_;
        try {
          prepare(e);
        } catch (const Abandoned&) {
          toCaller();
          cur_ = nullptr;
          break;
        } catch (...) {
          // A failure of an earlier entry that ended the run left no entry
          // to prepare.
          if (slots_.empty() || cur_ != &slots_.back()) throw;
          cur_->error = std::current_exception();
          cur_->folders.insert(cur_->folders.end(), s_.entryFolders.begin(),
                               s_.entryFolders.end());
          s_.entryFolders.clear();
          if (cur_->job) pool_->abandon(*cur_->job);
          failed = true;
        }
        toCaller();
      }
      cur_ = nullptr;
      if (failed) break;
      while (!slots_.empty() && !stopped_ && ready(slots_.front())) finishFront();
      while ((slots_.size() >= kMaxSlots || heldOpen_ >= kMaxHeld) && !stopped_) finishFront();
      if (!slots_.empty() && !stopped_) replayFront();
    }
    while (!slots_.empty() && !stopped_) finishFront();
  } catch (...) {
    cur_ = nullptr;
    toCaller();
    abandonAll();
    pool_.reset();
    throw;
  }
  abandonAll();
  pool_.reset();  // joins the workers
  *stopPass = stopPass_;
  return passResult_;
}

// What is done with an entry, its steps ordered against the entries before
// it. An entry prepared ahead of its turn goes live (the entries before it
// finished first) where its decision depends on them: a file one of them is
// still writing at its path or on the way to it, a path the run spells in
// more than one way, a file one of them has just named there, and the
// question, which comes after everything they have to say. After a Rename
// the steps are taken again with the path the user gave.
Decision Run::decideEntry(const TExtractEntry& e, EntryPlan& plan, const std::string& shown,
                          int* result) {
  plan.renamed = false;
  plan.target = localNameOf(e);
  for (;;) {
    if (auto d = named(e, plan, shown, result)) return *d;
    if (ahead()) {
      const MappedPath mp = mapPath(s_.targetPrefix, plan.target, plan.renamed);
      if (writingAnyOf(mp) || spelledOtherwise(mp)) goLive();
    }
    if (auto d = mapped(e, plan, result)) return *d;
    if (lookAt(plan) && ahead() && pool_->placedHere(plan.found.info)) {
      goLive();
      lookAt(plan);
    }
    Decision d = judge(e, plan, shown, result);
    if (d == Decision::Ask) {
      if (ahead()) goLive();
      d = answer(plan, shown);
      if (d == Decision::Renamed) continue;
    }
    if (d != Decision::Beside) return d;
    // The copy beside the local file is written in turn.
    if (ahead()) goLive();
    if (!besideTarget(e, plan, shown, result)) return Decision::Skipped;
    if (auto m = mapped(e, plan, result)) return *m;
    if (lookAt(plan)) {
      msg(plat::strFormat("Skipping %s:  %s is there already\n", shown.c_str(),
                          printableName(plan.target).c_str()));
      *result = raise(*result, kCompressedError);
      return Decision::Skipped;
    }
    return Decision::Write;
  }
}

// What the first entry and its worker said so far reaches the caller
// while the entries after it are prepared (its progress, the cancel check).
void Run::replayFront() {
  Slot& sl = slots_.front();
  if (!replayEvents(sl)) {
    stopped_ = true;
    abandonAll();
    return;
  }
  if (!sl.job) return;
  std::vector<JobEvent> evs;
  pool_->events(*sl.job, sl.jobEvents, &evs, false);
  sl.jobEvents += evs.size();
  replayJobEvents(evs);
}

void Run::prepare(TExtractEntry& e) {
  Slot& sl = *cur_;
  bool stop = false;
  if (testing_) {
    sl.result = handleEntryData(e, true, sl.plan, &stop);
    sl.stop = stop;
    return;
  }
  s_.entryFolders.clear();
  e.outcome = UnloadOutcome::Failed;
  sl.result = handleEntryData(e, false, sl.plan, &stop);
  if (sl.live) {
    // Handled in its turn: its folders are settled now.
    sl.stop = stop;
    settleFolders(e);
    return;
  }
  sl.folders = std::move(s_.entryFolders);
  s_.entryFolders.clear();
  if (sl.job) return;
  if (e.outcome == UnloadOutcome::Unloaded) {
    // A folder entry: its folders stay, unless it is abandoned.
    sl.keeps = true;
    sl.target = mapPath(s_.targetPrefix, sl.plan.target, sl.plan.renamed).path;
  } else {
    sl.notAll = true;
    removeFolders(sl.folders);
  }
}

// Whether an entry still being written has its file at the mapped path or
// at one of the folders on its way, or made a folder at the mapped path
// (which goes again if that entry fails).
bool Run::writingAnyOf(const MappedPath& mp) const {
  for (const Slot& sl : slots_) {
    if (!sl.job || &sl == cur_) continue;
    if (sl.target == mp.path) return true;
    for (const std::string& f : mp.folders)
      if (sl.target == f) return true;
    for (const std::string& f : sl.folders)
      if (f == mp.path) return true;
  }
  return false;
}

// Finishes the entries before the current one; from then on the current
// one is handled as on one thread.
void Run::goLive() {
  while (&slots_.front() != cur_) drainFront();
  toCaller();
  if (!replayEvents(*cur_)) {
    stopped_ = true;
    abandonAll();
    throw Abandoned();
  }
  cur_->live = true;
}

// Finishes the first entry while the current one is being prepared.
void Run::drainFront() {
  toCaller();
  finishFront();
  if (stopped_) throw Abandoned();
  if (!cur_->live) toSlot();
}

int Run::startWrite(TExtractEntry& e, const EntryPlan& plan, const std::string& shown, bool exists,
                    bool replacing, uint32_t mode) {
  Slot& sl = *cur_;
  LocalFileWriter::sweep(plan.target, &s_.folders);
  auto job = std::make_shared<WriteJob>();
  job->entry = e;
  job->target = plan.target;
  job->folders = &s_.folders;
  job->params = params(e, plan, shown);
  job->mode = mode;
  job->durable = replacing;
  job->placeEarly = !exists;
  sl.target = plan.target;
  sl.shown = shown;
  sl.exists = exists;
  sl.replacing = replacing;
  // A small entry goes with the whole of its compressed bytes; a large one
  // is read by its worker, while this thread goes on to the next entries.
  // The slot has its job only once the job is submitted (abandoning waits
  // for a submitted job to end).
  const uint32_t left = plan.compressed;
  if (left <= kLargeEntry) {
    waitForRoom(sl, left);
    std::vector<uint8_t> data = readChunk(left);
    sl.job = job;
    pool_->submit(job, std::move(data));
  } else {
    job->source = file_.platformFile();
    job->sourceAt = static_cast<uint64_t>(input_->position());
    sl.job = job;
    pool_->submit(job);
  }
  if (!job->placeEarly) ++heldOpen_;
  return kWriting;
}

// Up to `want` bytes of the briefcase; fewer at its end.
std::vector<uint8_t> Run::readChunk(size_t want) {
  std::vector<uint8_t> chunk;
  chunk.reserve(want);
  while (chunk.size() < want) {
    const uint8_t* p;
    const size_t got = input_->peek(want - chunk.size(), &p);
    if (got == 0) break;
    chunk.insert(chunk.end(), p, p + got);
    input_->consume(got);
  }
  return chunk;
}

// Waits until `bytes` more compressed bytes may be in flight: finishes
// the entries before the current one (with none before it, it goes).
void Run::waitForRoom(Slot& sl, size_t bytes) {
  while (!pool_->roomFor(bytes) && &slots_.front() != &sl) drainFront();
}

// Replays what an entry's preparation said; false when the run was
// cancelled before its turn.
bool Run::replayEvents(Slot& sl) {
  while (sl.emitted < sl.events.size()) {
    const Recorded& ev = sl.events[sl.emitted++];
    switch (ev.kind) {
      case Event::CancelCheck:
        if (c_.cancelled) return false;
        if (c_.callbacks.cancelCheck) c_.callbacks.cancelCheck(c_.cancelled);
        break;
      case Event::Message: msg(ev.text); break;
      case Event::TotalProgress: totalProgress(ev.value); break;
      case Event::FileProgress: fileProgress(ev.value); break;
    }
  }
  return true;
}

void Run::replayJobEvents(const std::vector<JobEvent>& evs) {
  for (const JobEvent& ev : evs) {
    if (ev.progress)
      fileProgress(ev.percent);
    else
      msg(ev.text);
  }
}

// The first entry, in turn: what it said, what its worker said, its file
// put in place, its result. Called with the caller's callbacks in force.
void Run::finishFront() {
  Slot& sl = slots_.front();
  if (sl.job && !pool_->done(*sl.job)) waitForSeveral();
  if (!replayEvents(sl)) {
    stopped_ = true;
    abandonAll();
    return;
  }
  if (sl.error) {
    // As on one thread: the run ends with this entry's failure.
    std::exception_ptr error = sl.error;
    s_.entryFolders = std::move(sl.folders);
    slots_.pop_front();
    std::rethrow_exception(error);
  }
  TExtractEntry& e = *sl.e;
  int result = sl.result;
  bool stop = sl.stop;
  if (sl.job) {
    result = raise(result, finishWrite(sl, &stop));
    if (e.outcome != UnloadOutcome::Unloaded) {
      s_.notAllUnloaded = true;
      dropFolders(sl);
    }
    release(sl);
  } else if (sl.notAll) {
    s_.notAllUnloaded = true;
  }
  passResult_ = raise(passResult_, result);
  if (testing_ && s_.callbacks.entryTested) s_.callbacks.entryTested(e, result);
  slots_.pop_front();
  if (stop) {
    stopPass_ = stopped_ = true;
    abandonAll();
  }
}

// The first entry is still being written: rather than wake up for each
// entry, waits until a few entries after it are done too (the workers take
// them in order, so those before are most likely done as well).
void Run::waitForSeveral() {
  WriteJob* last = nullptr;
  const size_t n = std::min(slots_.size(), kWaitBatch);
  for (size_t i = n; i-- > 1;) {
    if (slots_[i].job) {
      last = slots_[i].job.get();
      break;
    }
  }
  if (last) pool_->waitFor(*last);
}

// The end of writeEntry for an entry written on a worker.
int Run::finishWrite(Slot& sl, bool* stop) {
  WriteJob& job = *sl.job;
  for (;;) {
    const bool done = pool_->done(job);
    std::vector<JobEvent> evs;
    pool_->events(job, sl.jobEvents, &evs, !done);
    sl.jobEvents += evs.size();
    replayJobEvents(evs);
    if (done && evs.empty()) break;
  }
  if (job.readFailed || job.outOfMemory) {
    // As on one thread, the run ends here: the entries after this one are
    // left as if never reached, and its folders go.
    const bool memory = job.outOfMemory;
    std::vector<std::string> folders = std::move(sl.folders);
    release(sl);
    slots_.pop_front();
    stopped_ = true;
    abandonAll();
    s_.entryFolders = std::move(folders);
    if (memory) throw std::bad_alloc();
    throw ReadFailure();
  }
  TExtractEntry& e = *sl.e;
  s_.diskFull = false;
  e.content = job.content;
  e.hasContent = job.hasContent;
  int r = 0;
  if (job.beginError) {
    r = cannotCreate(sl.target, job.beginError);
  } else if (job.writeFailed || job.result != 0) {
    job.writer.rollback();
    if (job.writeFailed) s_.diskFull = true;
    r = job.writeFailed ? kDiskFull : job.result;
  } else {
    plat::FileInfo written;
    const auto keepOld = [&] { return oldFileStep(e, sl.replacing, sl.target); };
    bool inPlace = false;
    if (job.syncError) {
      job.writer.rollback();
      plat::setLastError(job.syncError);
    } else if (job.placeEarly) {
      inPlace = job.placed;
      written = job.written;
      if (!inPlace) plat::setLastError(job.placeError);
    } else {
      inPlace = job.writer.commit(sl.exists, false, &written, keepOld);
    }
    r = placed(e, sl.target, sl.shown, inPlace, inPlace ? 0 : plat::lastError(), written);
  }
  if (s_.diskFull)
    *stop = true;
  else
    fileProgress(100);
  return r;
}

bool Run::under(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() &&
                            path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

// The folders made for an entry that was not written go again, except
// those a later entry already prepared has its path in: on one thread
// that entry would have made them again, so they become its own.
void Run::dropFolders(Slot& sl) {
  for (auto it = sl.folders.rbegin(); it != sl.folders.rend(); ++it) {
    std::vector<std::string>* heir = nullptr;
    for (Slot& later : slots_) {
      if (&later == &sl) continue;
      const bool current = &later == cur_;
      const std::string& path = current ? later.plan.target : later.target;
      if ((current || later.job || later.keeps) && under(path, *it)) {
        heir = current ? &s_.entryFolders : &later.folders;
        break;
      }
    }
    if (heir) {
      heir->insert(heir->begin(), *it);
    } else {
      std::vector<std::string> one{*it};
      removeFolders(one);
    }
  }
  sl.folders.clear();
}

// Removes folders made in this run, innermost first, when they are empty.
void Run::removeFolders(std::vector<std::string>& folders) {
  std::vector<std::string> current = std::move(s_.entryFolders);
  s_.entryFolders = std::move(folders);
  removeEntryFolders(c_);
  s_.entryFolders = std::move(current);
  folders.clear();
}

// Every entry prepared but not finished is left as if never reached.
void Run::abandonAll() {
  for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) {
    Slot& sl = *it;
    if (&sl == cur_) {
      sl.folders.insert(sl.folders.end(), s_.entryFolders.begin(), s_.entryFolders.end());
      s_.entryFolders.clear();
    }
    if (sl.job) {
      pool_->abandon(*sl.job);
      while (!pool_->done(*sl.job)) {
        std::vector<JobEvent> ignored;
        pool_->events(*sl.job, sl.jobEvents, &ignored, true);
        sl.jobEvents += ignored.size();
      }
      sl.job->writer.rollback();
      if (sl.job->placed) removePlaced(*sl.job);
    }
    sl.e->outcome = UnloadOutcome::NotHandled;
    removeFolders(sl.folders);
  }
  slots_.clear();
  heldOpen_ = 0;
}

// A new file a worker named before its turn, when its turn never came: it
// goes again (nothing was at its path), unless something else is there now.
void Run::removePlaced(const WriteJob& job) {
  plat::FileInfo now;
  if (plat::fileSystem().stat(job.target, &now, false) && now.device == job.written.device &&
      now.inode == job.written.inode)
    plat::fileSystem().remove(job.target);
}

// The entry's job is over; a file it kept open for its turn is closed.
void Run::release(Slot& sl) {
  if (sl.job && !sl.job->placeEarly && heldOpen_ > 0) --heldOpen_;
  sl.job.reset();
}

}  // namespace archive::engine
