#pragma once
// Decoding an entry's data, and writing entries on worker threads.
//
// EntryDecoder turns a stored or deflated entry's bytes into its file data,
// never more than the entry declares, and checks the CRC-32 and the size.
// The unload uses it on the calling thread (one thread), or inside a
// WriteJob on a worker of a WritePool: the calling thread reads the entry's
// compressed bytes from the briefcase and hands them over in chunks; the
// worker creates the unnamed file beside the target, decodes into it, sets
// its mode and times (and syncs it when it replaces a file). What the worker
// would have said (messages, the entry's progress) is kept as events for the
// calling thread, which replays them in archive order and alone puts files in
// place, calls back and decides.
//
// The compressed bytes in flight are bounded (the budget): the calling thread
// waits before it reads more while the workers have not taken what is there.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "archive/extract/localfile.h"
#include "archive/extract/state.h"
#include "platform/files.h"

namespace archive {

// Where an entry's compressed bytes come from.
class DataSource {
 public:
  virtual ~DataSource() = default;
  // Up to `max` bytes: a pointer and their count; 0 when the input has ended.
  virtual size_t peek(size_t max, const uint8_t** data) = 0;
  virtual void consume(size_t n) = 0;
};

// What decoding reports.
class DecodeSink {
 public:
  virtual ~DecodeSink() = default;
  virtual void message(const std::string& text) = 0;
  virtual void progress(int percent) = 0;  // of the current entry
};

class EntryDecoder {
 public:
  EntryDecoder() = default;
  ~EntryDecoder();
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;

  struct Params {
    uint16_t method = 0;      // 0 stored or 8 deflated
    uint32_t compressed = 0;  // bytes of input the entry has
    uint32_t declared = 0;    // its uncompressed size
    uint32_t crc = 0;         // its CRC-32
    std::string shown;        // its printable name, for messages
  };
  // Decodes into `out` (nothing is written when null). Returns 0, 2 damaged
  // data (with its message), 6 out of memory, or kDiskFull when a write
  // failed (message 8029 sent; writeFailed() is true).
  int run(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink);

  uint32_t crc() const { return crc_; }
  uint32_t written() const { return written_; }
  uint32_t remaining() const { return remaining_; }
  bool writeFailed() const { return writeFailed_; }

 private:
  bool emit(plat::File* out, const uint8_t* data, size_t n, const Params& p, DecodeSink& sink);
  int inflateData(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink);
  int inflateFailure(const Params& p, DecodeSink& sink, bool memory);

  z_stream zs_{};
  bool ready_ = false;
  std::unique_ptr<uint8_t[]> buf_;
  uint32_t crc_ = 0, written_ = 0, remaining_ = 0;
  bool writeFailed_ = false;
};

// A message or a progress step a worker kept for the calling thread.
struct JobEvent {
  bool progress = false;
  int percent = 0;
  std::string text;
};

class WritePool;

// One entry written on a worker.
struct WriteJob {
  // ---- set before it is submitted ----
  TExtractEntry entry;  // a copy: method, times, attributes
  std::string target;   // the path it is to have
  EntryDecoder::Params params;
  uint32_t mode = 0;     // the permission bits the file gets
  bool durable = false;  // synced before it is put in place (it replaces a file)

  // ---- read by the calling thread once done() ----
  LocalFileWriter writer;  // the new file, not yet in place
  int beginError = 0;      // the file could not be made (last error)
  int syncError = 0;       // the sync failed (last error)
  int result = 0;          // the decoder's result
  bool writeFailed = false;

 private:
  friend class WritePool;
  friend class JobSource;
  friend class JobSink;
  std::deque<std::vector<uint8_t>> input_;
  bool inputEnded_ = false;
  bool abandoned_ = false;
  bool done_ = false;
  std::vector<JobEvent> events_;
};
using WriteJobPtr = std::shared_ptr<WriteJob>;

class WritePool {
 public:
  // `budget`: compressed bytes in flight before push() makes the caller wait.
  WritePool(unsigned threads, size_t budget);
  // Abandons every job, lets the running ones end, and joins the workers.
  ~WritePool();
  WritePool(const WritePool&) = delete;
  WritePool& operator=(const WritePool&) = delete;

  unsigned threads() const { return static_cast<unsigned>(workers_.size()); }
  void submit(const WriteJobPtr& job);
  // Submits a job with the whole of its input.
  void submit(const WriteJobPtr& job, std::vector<uint8_t>&& whole);
  // Hands a chunk of input to the job (dropped when the job has ended).
  void push(WriteJob& job, std::vector<uint8_t>&& chunk);
  void endInput(WriteJob& job);
  // The job's work is stopped as soon as it can be (its file is not made, or
  // its input ends); it still becomes done().
  void abandon(WriteJob& job);
  // Whether `bytes` more may be pushed now.
  bool roomFor(size_t bytes);
  bool done(WriteJob& job);
  // The job's events from index `from` on (moved into *out); with `wait`,
  // first waits until there is one, the job is done, or room was made.
  void events(WriteJob& job, size_t from, std::vector<JobEvent>* out, bool wait);

 private:
  friend class JobSource;
  friend class JobSink;
  void work();
  void run(WriteJob& job, EntryDecoder& decoder);
  void wakeWorkers(std::unique_lock<std::mutex>& lock);  // unlocks

  std::mutex mutex_;
  std::condition_variable wake_;     // workers: a job or input came
  std::condition_variable changed_;  // the calling thread: an event, room, a job done
  std::deque<WriteJobPtr> queue_;
  size_t inFlight_ = 0;
  size_t budget_;
  uint64_t version_ = 0;  // counts changes, for events(wait)
  unsigned sleepers_ = 0;  // workers waiting on wake_
  bool watching_ = false;  // the calling thread waits on changed_
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace archive
