#pragma once
// Deflating on several cores. A job is one piece of data to raw-deflate:
// either a whole small file (ended with the final block), or one block of a
// larger file, primed with the 32 KiB of data before it as its dictionary
// and ended with a sync flush (the file's last block with the final block
// instead). Such blocks, written one after another, form one raw deflate
// stream that any reader decodes; the CRC-32 of the file is the blocks'
// CRCs combined. The output depends only on the data, the block size and the
// level, never on the number of threads or the order in which the workers
// pick the jobs up.
//
// Workers only deflate and compute CRCs over memory: every file access, every
// callback and every write stays with the thread that submits the jobs.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

namespace archive {

// Workers of a run: the number set by SetDefaultThreads (brc --threads), else
// by CARRYVALE_THREADS, else the online cores; never more than kMaxThreads,
// so that memory stays bounded.
constexpr unsigned kMaxThreads = 32;
unsigned DefaultThreads();
// 0 goes back to the environment and the cores.
void SetDefaultThreads(unsigned threads);

struct DeflateJob {
  // ---- in ----
  std::vector<uint8_t> data;  // the dictionary (dictLength bytes), then the block
  size_t dictLength = 0;
  int level = 6;
  bool last = true;  // ends the stream; otherwise ends with a sync flush
  // ---- out ----
  std::vector<uint8_t> out;
  uint32_t crc = 0;  // of the block, without the dictionary
  bool ok = false;
  bool outOfMemory = false;  // not ok because memory ran out

  size_t blockLength() const { return data.size() - dictLength; }

 private:
  friend class DeflatePool;
  enum class Stage { Idle, Queued, Running, Done } stage = Stage::Idle;
};
using DeflateJobPtr = std::shared_ptr<DeflateJob>;

// A pool of workers. With one thread there are no workers: a job runs on the
// calling thread when it is submitted. The destructor lets running jobs end,
// drops queued ones, and joins every worker.
class DeflatePool {
 public:
  explicit DeflatePool(unsigned threads);
  ~DeflatePool();
  DeflatePool(const DeflatePool&) = delete;
  DeflatePool& operator=(const DeflatePool&) = delete;

  unsigned threads() const { return threads_; }
  void submit(const DeflateJobPtr& job);
  // Waits until the job has run (runs it here when no worker has taken it).
  void wait(DeflateJob& job);
  // Takes a job out of the queue when no worker has started it yet, then
  // waits for it; afterwards no worker touches it.
  void withdraw(DeflateJob& job);

 private:
  struct Compressor {
    z_stream zs{};
    int level = -1;
    ~Compressor();
  };
  // Runs the job; memory that runs out fails it (outOfMemory), never the thread.
  static void run(DeflateJob& job, Compressor& c);
  static void deflateJob(DeflateJob& job, Compressor& c);
  void work();

  unsigned threads_;
  std::mutex mutex_;
  std::condition_variable queued_, finished_;
  std::deque<DeflateJobPtr> queue_;
  bool stopping_ = false;
  Compressor here_;  // for jobs run on the calling thread
  std::vector<std::thread> workers_;
};

// Jobs of one entry in flight, oldest first; on any way out of the scope the
// unfinished ones are withdrawn, so no worker holds on to them.
class JobWindow {
 public:
  explicit JobWindow(DeflatePool& pool) : pool_(pool) {}
  ~JobWindow() { clear(); }
  JobWindow(const JobWindow&) = delete;
  JobWindow& operator=(const JobWindow&) = delete;

  void push(DeflateJobPtr job) {
    pool_.submit(job);
    jobs_.push_back(std::move(job));
  }
  bool empty() const { return jobs_.empty(); }
  size_t size() const { return jobs_.size(); }
  // The oldest job, finished.
  DeflateJobPtr pop() {
    DeflateJobPtr job = std::move(jobs_.front());
    jobs_.pop_front();
    pool_.wait(*job);
    return job;
  }
  void clear() {
    while (!jobs_.empty()) {
      pool_.withdraw(*jobs_.back());
      jobs_.pop_back();
    }
  }

 private:
  DeflatePool& pool_;
  std::deque<DeflateJobPtr> jobs_;
};

}  // namespace archive
