#include "archive/update/pdeflate.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace archive {
namespace {

std::atomic<unsigned> g_threads{0};

unsigned clampThreads(unsigned long n) {
  return static_cast<unsigned>(std::clamp<unsigned long>(n, 1, kMaxThreads));
}

}  // namespace

unsigned DefaultThreads() {
  if (unsigned n = g_threads.load()) return n;
  if (const char* env = std::getenv("CARRYVALE_THREADS"); env && *env) {
    char* end = nullptr;
    unsigned long n = std::strtoul(env, &end, 10);
    if (end && *end == '\0' && n > 0) return clampThreads(n);
  }
  return clampThreads(std::max(1u, std::thread::hardware_concurrency()));
}

void SetDefaultThreads(unsigned threads) { g_threads = threads ? clampThreads(threads) : 0; }

DeflatePool::Compressor::~Compressor() {
  if (level >= 0) deflateEnd(&zs);
}

DeflatePool::DeflatePool(unsigned threads) : threads_(clampThreads(threads)) {
  if (threads_ < 2) return;
  workers_.reserve(threads_);
  try {
    for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { work(); });
  } catch (...) {
    // Fewer workers than asked (the system refused a thread): those started
    // do the work; the output is the same.
    if (workers_.empty()) threads_ = 1;
  }
}

DeflatePool::~DeflatePool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& job : queue_) job->stage = DeflateJob::Stage::Idle;
    queue_.clear();
  }
  queued_.notify_all();
  for (auto& t : workers_) t.join();
}

void DeflatePool::run(DeflateJob& job, Compressor& c) {
  job.ok = job.outOfMemory = false;
  try {
    deflateJob(job, c);
  } catch (const std::bad_alloc&) {
    job.ok = false;
    job.outOfMemory = true;
  }
}

void DeflatePool::deflateJob(DeflateJob& job, Compressor& c) {
  job.out.clear();
  const uint8_t* block = job.data.data() + job.dictLength;
  const size_t length = job.blockLength();
  job.crc = static_cast<uint32_t>(crc32(0L, block, static_cast<uInt>(length)));
  if (c.level != job.level) {
    if (c.level >= 0) deflateEnd(&c.zs);
    c.zs = z_stream{};
    c.level = -1;
    const int rc = deflateInit2(&c.zs, job.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
      job.outOfMemory = rc == Z_MEM_ERROR;
      return;
    }
    c.level = job.level;
  } else if (deflateReset(&c.zs) != Z_OK) {
    return;
  }
  z_stream& zs = c.zs;
  if (job.dictLength &&
      deflateSetDictionary(&zs, job.data.data(), static_cast<uInt>(job.dictLength)) != Z_OK)
    return;
  // Room for the worst case, the sync marker and the final block: one call
  // to deflate normally does all of it.
  job.out.resize(deflateBound(&zs, static_cast<uLong>(length)) + 64);
  zs.next_in = const_cast<Bytef*>(block);
  zs.avail_in = static_cast<uInt>(length);
  const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
  size_t produced = 0;
  for (;;) {
    zs.next_out = job.out.data() + produced;
    zs.avail_out = static_cast<uInt>(job.out.size() - produced);
    int rc = deflate(&zs, flush);
    produced = job.out.size() - zs.avail_out;
    if (rc == Z_STREAM_ERROR) return;
    if (job.last ? rc == Z_STREAM_END : (zs.avail_in == 0 && zs.avail_out != 0)) break;
    job.out.resize(job.out.size() * 2);
  }
  job.out.resize(produced);
  job.ok = true;
}

void DeflatePool::work() {
  Compressor c;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    DeflateJobPtr job = std::move(queue_.front());
    queue_.pop_front();
    job->stage = DeflateJob::Stage::Running;
    lock.unlock();
    run(*job, c);
    lock.lock();
    job->stage = DeflateJob::Stage::Done;
    finished_.notify_all();
  }
}

void DeflatePool::submit(const DeflateJobPtr& job) {
  if (workers_.empty()) {
    run(*job, here_);
    job->stage = DeflateJob::Stage::Done;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job->stage = DeflateJob::Stage::Queued;
    queue_.push_back(job);
  }
  queued_.notify_one();
}

void DeflatePool::wait(DeflateJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (job.stage == DeflateJob::Stage::Queued) {
    // No worker has it yet: the calling thread does it rather than wait.
    auto it = std::find_if(queue_.begin(), queue_.end(),
                           [&](const DeflateJobPtr& p) { return p.get() == &job; });
    if (it != queue_.end()) {
      DeflateJobPtr keep = *it;
      queue_.erase(it);
      job.stage = DeflateJob::Stage::Running;
      lock.unlock();
      run(job, here_);
      lock.lock();
      job.stage = DeflateJob::Stage::Done;
      return;
    }
  }
  finished_.wait(lock, [&] { return job.stage != DeflateJob::Stage::Running &&
                                    job.stage != DeflateJob::Stage::Queued; });
}

void DeflatePool::withdraw(DeflateJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (job.stage == DeflateJob::Stage::Queued) {
    auto it = std::find_if(queue_.begin(), queue_.end(),
                           [&](const DeflateJobPtr& p) { return p.get() == &job; });
    if (it != queue_.end()) queue_.erase(it);
    job.stage = DeflateJob::Stage::Idle;
    job.ok = false;
    return;
  }
  finished_.wait(lock, [&] { return job.stage != DeflateJob::Stage::Running; });
}

}  // namespace archive
