#pragma once
// Decoding an entry's data, and writing entries on worker threads.
//
// EntryDecoder turns a stored or deflated entry's bytes into its file data,
// never more than the entry declares, and checks the CRC-32 and the size.
// The unload uses it on the calling thread (one thread), or inside a
// WriteJob on a worker of a WritePool: the calling thread hands a small
// entry's compressed bytes over whole, a large entry's worker reads them from
// the briefcase itself; the worker creates the unnamed file beside the
// target, decodes into it, sets its mode and times (and syncs it when it
// replaces a file), and gives a new file its name. What the worker would
// have said (messages, the entry's progress) is kept as events for the
// calling thread, which replays them in archive order, puts a file that
// replaces another in place, calls back and decides.
//
// The compressed bytes handed over are bounded (the budget): the calling
// thread waits before it reads more while the workers have not taken them.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <zlib.h>

#include "archive/aes.h"
#include "archive/extract/localfile.h"
#include "carry/digest.h"
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
    bool digest = false;      // the bytes written are hashed too (content())
    bool checkCrc = true;     // false: the CRC is not the file's (AES version 2)
    // An encrypted entry: its AES block and the password; `compressed` then
    // counts the salt, the verifier and the authentication code too.
    bool encrypted = false;
    aes::Info aes;
    const aes::Password* password = nullptr;
  };
  // Decodes into `out` (nothing is written when null). Returns 0, 2 damaged
  // data (with its message), 6 out of memory, or kDiskFull when a write
  // failed (message 8029 sent; writeFailed() is true).
  int run(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink);

  uint32_t crc() const { return crc_; }
  // With Params::digest, the SHA-256 of the bytes written (false: none).
  bool content(carry::Digest* out) { return digesting_ && digester_.finish(out); }
  uint32_t written() const { return written_; }
  uint32_t remaining() const { return remaining_; }
  bool writeFailed() const { return writeFailed_; }

 private:
  bool emit(plat::File* out, const uint8_t* data, size_t n, const Params& p, DecodeSink& sink);
  int inflateData(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink);
  int inflateFailure(const Params& p, DecodeSink& sink, bool memory);
  // An encrypted entry: the password checked by the verifier, the data
  // decrypted as it is decoded, the authentication code checked at the end.
  int runEncrypted(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink);

  z_stream zs_{};
  bool ready_ = false;
  std::unique_ptr<uint8_t[]> buf_;
  uint32_t crc_ = 0, written_ = 0, remaining_ = 0;
  bool writeFailed_ = false;
  carry::Digester digester_;
  bool digesting_ = false;
  std::unique_ptr<aes::Stream> cipher_;
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
  plat::RunFolders* folders = nullptr;  // the run's, its folder already cleared
  EntryDecoder::Params params;
  uint32_t mode = 0;     // the permission bits the file gets
  bool durable = false;  // synced before it is put in place (it replaces a file)
  // Where the worker reads the compressed bytes itself (a large entry), at
  // `sourceAt`, params.compressed of them; null: the calling thread hands
  // them over. The file must allow reads from several threads (readAt).
  plat::File* source = nullptr;
  uint64_t sourceAt = 0;
  // A new file (nothing is at the target) is given its name by the worker as
  // soon as it is sound; the calling thread reports it in turn, or removes
  // it again when the run ends before its turn.
  bool placeEarly = false;

  // ---- read by the calling thread once done() ----
  LocalFileWriter writer;  // the new file, not yet in place
  int beginError = 0;      // the file could not be made (last error)
  int syncError = 0;       // the sync failed (last error)
  int result = 0;          // the decoder's result
  bool writeFailed = false;
  bool readFailed = false;  // the briefcase could not be read (source)
  bool outOfMemory = false;  // memory ran out in the job (its file was dropped)
  bool placed = false;      // placeEarly: the file has its name
  int placeError = 0;       // placeEarly: naming it failed (last error)
  plat::FileInfo written;   // placed: the file's identity
  carry::Digest content;    // params.digest: what was written
  bool hasContent = false;

 private:
  friend class WritePool;
  friend class JobSource;
  friend class JobSink;
  friend class FileSource;
  std::vector<uint8_t> input_;  // handed over whole, until the worker takes it
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
  // Submits a job that reads its input itself (source), or with the whole
  // of its input.
  void submit(const WriteJobPtr& job);
  void submit(const WriteJobPtr& job, std::vector<uint8_t>&& whole);
  // The job's work is stopped as soon as it can be (its file is not made,
  // or a large entry's reading ends); it still becomes done().
  void abandon(WriteJob& job);
  // Whether `bytes` more may be handed over now.
  bool roomFor(size_t bytes);
  bool done(WriteJob& job);
  // Waits until the job is done.
  void waitFor(WriteJob& job);
  // Whether the file is one a worker put in place early (or is about to).
  bool placedHere(const plat::FileInfo& file);
  // The job's events from index `from` on (copied into *out); with `wait`
  // and none there, first waits until the job is done or a moment (a
  // fraction of a second) has passed.
  void events(WriteJob& job, size_t from, std::vector<JobEvent>* out, bool wait);

 private:
  friend class JobSource;
  friend class JobSink;
  friend class FileSource;
  void work();
  bool abandoned(WriteJob& job);
  void run(WriteJob& job, EntryDecoder& decoder);
  void wakeWorkers(std::unique_lock<std::mutex>& lock);  // unlocks

  std::mutex mutex_;
  std::condition_variable wake_;     // workers: a job came
  std::condition_variable changed_;  // the calling thread: its job is done
  std::deque<WriteJobPtr> queue_;
  size_t inFlight_ = 0;
  size_t budget_;
  unsigned sleepers_ = 0;  // workers waiting on wake_
  const WriteJob* watched_ = nullptr;  // the job the calling thread waits to be done
  bool stopping_ = false;
  std::set<std::pair<uint64_t, uint64_t>> placedFiles_;  // device and inode
  std::vector<std::thread> workers_;
};

}  // namespace archive
