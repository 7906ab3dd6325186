#include "archive/extract/writejobs.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "archive/errors.h"
#include "archive/extract/restore.h"
#include "platform/errors.h"
#include "platform/strtable.h"

namespace archive {
namespace {
constexpr size_t kOutputChunk = 32768;
}  // namespace

// ---- decoding ----

EntryDecoder::~EntryDecoder() {
  if (ready_) inflateEnd(&zs_);
}

bool EntryDecoder::emit(plat::File* out, const uint8_t* data, size_t n, const Params& p,
                        DecodeSink& sink) {
  if (n == 0) return true;
  if (out) {
    size_t put = 0;
    if (!out->write(data, n, &put) || put != n) {
      sink.message(plat::loadStrFmt(plat::kStrWriteDiskFull, p.shown.c_str()));
      writeFailed_ = true;
      return false;
    }
  }
  crc_ = static_cast<uint32_t>(crc32(crc_, data, static_cast<uInt>(n)));
  if (digesting_) digester_.update(data, n);
  written_ += static_cast<uint32_t>(n);
  return true;
}

namespace {

// An encrypted entry's compressed bytes, decrypted as the decoder reads
// them; the authentication code covers every byte taken from the input.
class DecryptingSource : public DataSource {
 public:
  DecryptingSource(DataSource& in, aes::Stream& cipher, uint32_t length)
      : in_(in), cipher_(cipher), left_(length) {}
  size_t peek(size_t max, const uint8_t** data) override {
    if (at_ == buffer_.size() && left_ > 0 && !failed_) {
      const uint8_t* d = nullptr;
      const size_t got = in_.peek(std::min<size_t>(left_, kOutputChunk), &d);
      buffer_.assign(d, d + got);
      at_ = 0;
      in_.consume(got);
      left_ -= static_cast<uint32_t>(got);
      if (!cipher_.decrypt(buffer_.data(), buffer_.size())) failed_ = true, buffer_.clear();
      if (got == 0) left_ = 0;  // the file ends before the entry does
    }
    *data = buffer_.data() + at_;
    return std::min(max, buffer_.size() - at_);
  }
  void consume(size_t n) override { at_ += n; }
  // Takes the rest of the entry's bytes, so that the code covers them all.
  void drain() {
    const uint8_t* d;
    while (peek(kOutputChunk, &d) > 0) consume(buffer_.size() - at_);
  }
  bool failed() const { return failed_; }
  uint32_t left() const { return left_; }

 private:
  DataSource& in_;
  aes::Stream& cipher_;
  uint32_t left_;
  std::vector<uint8_t> buffer_;
  size_t at_ = 0;
  bool failed_ = false;
};

// Up to `n` bytes of the input into `out`: how many there were.
size_t takeBytes(DataSource& in, uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    const uint8_t* d = nullptr;
    const size_t m = in.peek(n - got, &d);
    if (m == 0) break;
    std::memcpy(out + got, d, m);
    in.consume(m);
    got += m;
  }
  return got;
}

}  // namespace

int EntryDecoder::runEncrypted(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink) {
  const size_t salt = aes::saltSize(p.aes.strength);
  const size_t overhead = aes::overhead(p.aes.strength);
  auto damaged = [&](const char* why) {
    sink.message(plat::strFormat("%-22s  %s\n", p.shown.c_str(), why));
    return kCompressedError;
  };
  crc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
  written_ = 0;
  remaining_ = p.compressed;
  writeFailed_ = false;
  if (!p.password) return damaged("encrypted, and no password was given");
  if (p.compressed < overhead) return damaged("too short for an encrypted entry");
  uint8_t head[aes::kMaxSalt + aes::kVerifierSize];
  const size_t headLength = salt + aes::kVerifierSize;
  if (takeBytes(in, head, headLength) != headLength) return damaged("cut short");
  remaining_ -= static_cast<uint32_t>(headLength);
  aes::Keys keys;
  if (!aes::deriveKeys(*p.password, head, p.aes.strength, &keys)) return inflateFailure(p, sink, true);
  if (!aes::sameCode(keys.verifier, head + salt, aes::kVerifierSize))
    return damaged("the password is not correct");
  if (!cipher_) cipher_ = std::make_unique<aes::Stream>();
  if (!cipher_->begin(keys)) return inflateFailure(p, sink, true);

  Params inner = p;
  inner.encrypted = false;
  inner.method = p.aes.method;
  inner.compressed = p.compressed - static_cast<uint32_t>(overhead);
  inner.checkCrc = p.aes.version == aes::kVersionCrc;
  DecryptingSource data(in, *cipher_, inner.compressed);
  int result = run(inner, data, out, sink);
  if (data.failed()) return inflateFailure(p, sink, true);
  if (writeFailed_) return result;
  data.drain();
  remaining_ = data.left() + static_cast<uint32_t>(aes::kAuthCodeSize);
  uint8_t expected[aes::kAuthCodeSize], stored[aes::kAuthCodeSize];
  const bool whole = takeBytes(in, stored, sizeof stored) == sizeof stored;
  if (whole) remaining_ = 0;
  if (!cipher_->finish(expected)) return inflateFailure(p, sink, true);
  if (!whole || data.left() > 0 || !aes::sameCode(expected, stored, sizeof stored))
    return result > kWarning ? result : damaged("bad authentication code");
  return result;
}

int EntryDecoder::run(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink) {
  if (p.encrypted) return runEncrypted(p, in, out, sink);
  crc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
  written_ = 0;
  remaining_ = p.compressed;
  writeFailed_ = false;
  digesting_ = p.digest && out != nullptr;
  if (digesting_) digester_.reset();
  int result = 0;
  if (p.method == 8) {
    result = inflateData(p, in, out, sink);
  } else {
    while (remaining_ > 0 && !writeFailed_) {
      const uint8_t* d;
      size_t got = in.peek(std::min<size_t>(remaining_, kOutputChunk), &d);
      if (got == 0) break;  // the end of the file ends the input
      // Never more than the entry declares.
      size_t n = std::min<size_t>(got, p.declared - written_);
      if (!emit(out, d, n, p, sink)) break;
      in.consume(got);
      remaining_ -= static_cast<uint32_t>(got);
      if (n < got) break;
    }
  }
  if (writeFailed_) return kDiskFull;
  if (result <= 1 && p.checkCrc && crc_ != p.crc) {
    sink.message(plat::strFormat("%-22s ", p.shown.c_str()));
    sink.message(plat::strFormat(" bad CRC %08lx  (should be %08lx)\n",
                                 static_cast<unsigned long>(crc_),
                                 static_cast<unsigned long>(p.crc)));
    result = kCompressedError;
  } else if (result <= 1 && written_ != p.declared) {
    sink.message(plat::strFormat("%-22s ", p.shown.c_str()));
    sink.message(plat::strFormat(" bad size %lu  (should be %lu)\n",
                                 static_cast<unsigned long>(written_),
                                 static_cast<unsigned long>(p.declared)));
    result = kCompressedError;
  }
  return result;
}

int EntryDecoder::inflateFailure(const Params& p, DecodeSink& sink, bool memory) {
  sink.message(plat::strFormat("  error:  %s%s %s\n",
                               memory ? "not enough memory to " : "invalid compressed data to ",
                               "inflate", p.shown.c_str()));
  return memory ? 6 : kCompressedError;
}

int EntryDecoder::inflateData(const Params& p, DataSource& in, plat::File* out, DecodeSink& sink) {
  if (!ready_) {
    std::memset(&zs_, 0, sizeof zs_);
    if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK) return inflateFailure(p, sink, true);
    ready_ = true;
  } else if (inflateReset(&zs_) != Z_OK) {
    return inflateFailure(p, sink, false);
  }
  if (!buf_) buf_.reset(new uint8_t[kOutputChunk]);
  // Output is written in whole chunks of 32,768 bytes (the last one shorter).
  zs_.next_out = buf_.get();
  zs_.avail_out = static_cast<uInt>(kOutputChunk);
  for (;;) {
    const uint8_t* d = nullptr;
    size_t got = 0;
    if (remaining_ > 0) got = in.peek(remaining_, &d);
    zs_.next_in = const_cast<Bytef*>(d);
    zs_.avail_in = static_cast<uInt>(got);
    const uInt roomBefore = zs_.avail_out;
    const int ret = inflate(&zs_, Z_NO_FLUSH);
    const size_t used = got - zs_.avail_in;
    in.consume(used);
    remaining_ -= static_cast<uint32_t>(used);
    const size_t produced = roomBefore - zs_.avail_out;
    const size_t pending = kOutputChunk - zs_.avail_out;
    // Never more than the entry declares.
    if (pending > p.declared - written_) return inflateFailure(p, sink, false);
    if (zs_.avail_out == 0 || ret == Z_STREAM_END) {
      if (!emit(out, buf_.get(), pending, p, sink)) return kDiskFull;
      if (p.declared)
        sink.progress(static_cast<int>(uint64_t(written_) * 100 / p.declared));
      zs_.next_out = buf_.get();
      zs_.avail_out = static_cast<uInt>(kOutputChunk);
    }
    if (ret == Z_STREAM_END) return 0;
    if (ret == Z_MEM_ERROR) return inflateFailure(p, sink, true);
    if (ret != Z_OK && ret != Z_BUF_ERROR) return inflateFailure(p, sink, false);
    // No progress possible: the input has ended before the stream did.
    if (produced == 0 && used == 0) return inflateFailure(p, sink, false);
  }
}

// ---- a job's input and events on the worker ----

// A small entry's compressed bytes, handed over whole; once the job has
// them they are no longer in flight when it ends (room for the calling thread).
class JobSource : public DataSource {
 public:
  JobSource(WritePool& pool, WriteJob& job) : pool_(pool) {
    std::lock_guard<std::mutex> lock(pool_.mutex_);
    data_ = std::move(job.input_);
    job.input_.clear();
  }
  ~JobSource() override {
    std::lock_guard<std::mutex> lock(pool_.mutex_);
    pool_.inFlight_ -= data_.size();
  }

  size_t peek(size_t max, const uint8_t** data) override {
    *data = data_.data() + at_;
    return std::min(max, data_.size() - at_);
  }
  void consume(size_t n) override { at_ += n; }

 private:
  WritePool& pool_;
  std::vector<uint8_t> data_;
  size_t at_ = 0;
};

// A large entry's compressed bytes, read by the worker itself from the
// briefcase, a piece at a time; nothing once the job is abandoned.
class FileSource : public DataSource {
 public:
  struct ReadFailure {};  // thrown through the decoder: the job ends there

  FileSource(WritePool& pool, WriteJob& job)
      : pool_(pool), job_(job), at_(job.sourceAt), left_(job.params.compressed) {}

  size_t peek(size_t max, const uint8_t** data) override {
    if (pos_ >= len_) {
      if (left_ == 0 || abandoned()) return 0;
      if (!buf_) buf_.reset(new uint8_t[kPiece]);
      const size_t want = std::min<uint64_t>(left_, kPiece);
      size_t got = 0;
      if (!job_.source->readAt(at_, buf_.get(), want, &got)) throw ReadFailure();
      at_ += got;
      left_ = got < want ? 0 : left_ - got;  // the end of the file ends the input
      pos_ = 0;
      len_ = got;
      if (got == 0) return 0;
    }
    *data = buf_.get() + pos_;
    return std::min(max, len_ - pos_);
  }
  void consume(size_t n) override { pos_ += n; }

 private:
  static constexpr size_t kPiece = 256 * 1024;
  bool abandoned() {
    std::lock_guard<std::mutex> lock(pool_.mutex_);
    return job_.abandoned_ || pool_.stopping_;
  }
  WritePool& pool_;
  WriteJob& job_;
  uint64_t at_;
  uint64_t left_;
  std::unique_ptr<uint8_t[]> buf_;
  size_t pos_ = 0, len_ = 0;
};

class JobSink : public DecodeSink {
 public:
  JobSink(WritePool& pool, WriteJob& job) : pool_(pool), job_(job) {}
  void message(const std::string& text) override { add(JobEvent{false, 0, text}); }
  void progress(int percent) override { add(JobEvent{true, percent, std::string()}); }

 private:
  // Kept for the calling thread, which looks at them at its own pace (a
  // wake-up for each progress step would cost more than the step).
  void add(JobEvent&& ev) {
    std::lock_guard<std::mutex> lock(pool_.mutex_);
    job_.events_.push_back(std::move(ev));
  }
  WritePool& pool_;
  WriteJob& job_;
};

// ---- the pool ----

WritePool::WritePool(unsigned threads, size_t budget) : budget_(budget) {
  workers_.reserve(threads);
  try {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  } catch (...) {
    // Fewer workers than asked (the system refused a thread): those started
    // do the work. With none, the caller takes the one-thread path.
  }
}

WritePool::~WritePool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& job : queue_) {
      job->abandoned_ = true;
      job->done_ = true;
    }
    queue_.clear();
  }
  wake_.notify_all();
  changed_.notify_all();
  for (auto& t : workers_) t.join();
}

void WritePool::submit(const WriteJobPtr& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  queue_.push_back(job);
  wakeWorkers(lock);
}

void WritePool::submit(const WriteJobPtr& job, std::vector<uint8_t>&& whole) {
  std::unique_lock<std::mutex> lock(mutex_);
  inFlight_ += whole.size();
  job->input_ = std::move(whole);
  queue_.push_back(job);
  wakeWorkers(lock);
}

void WritePool::abandon(WriteJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  job.abandoned_ = true;
}

void WritePool::wakeWorkers(std::unique_lock<std::mutex>& lock) {
  // Only a worker that waits needs the system call.
  const bool sleeping = sleepers_ > 0;
  lock.unlock();
  if (sleeping) wake_.notify_all();
}

bool WritePool::roomFor(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  return inFlight_ == 0 || inFlight_ + bytes <= budget_;
}

bool WritePool::done(WriteJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return job.done_;
}

void WritePool::waitFor(WriteJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  watched_ = &job;
  changed_.wait(lock, [&] { return job.done_; });
  watched_ = nullptr;
}

void WritePool::events(WriteJob& job, size_t from, std::vector<JobEvent>* out, bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wait && job.events_.size() <= from && !job.done_) {
    watched_ = &job;
    changed_.wait_for(lock, std::chrono::milliseconds(40), [&] { return job.done_; });
    watched_ = nullptr;
  }
  for (size_t i = from; i < job.events_.size(); ++i) out->push_back(job.events_[i]);
}

void WritePool::work() {
  EntryDecoder decoder;
  for (;;) {
    WriteJobPtr job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++sleepers_;
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      --sleepers_;
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      run(*job, decoder);
    } catch (const std::bad_alloc&) {
      // The run ends there (the calling thread sees it); the file goes.
      job->writer.rollback();
      job->outOfMemory = true;
    }
    bool watched;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Input the job never took (it was abandoned) is no longer in flight.
      inFlight_ -= job->input_.size();
      job->input_.clear();
      job->done_ = true;
      watched = watched_ == job.get();
    }
    if (watched) changed_.notify_all();
  }
}

void WritePool::run(WriteJob& job, EntryDecoder& decoder) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job.abandoned_ || stopping_) return;
  }
  // The folder was cleared of leftovers by the calling thread.
  if (!job.writer.begin(job.target, job.folders)) {
    job.beginError = plat::lastError();
    return;
  }
  JobSink sink(*this, job);
  if (job.source) {
    FileSource source(*this, job);
    try {
      job.result = decoder.run(job.params, source, job.writer.file(), sink);
    } catch (const FileSource::ReadFailure&) {
      job.readFailed = true;
      job.writer.rollback();
      return;
    }
  } else {
    JobSource source(*this, job);
    job.result = decoder.run(job.params, source, job.writer.file(), sink);
  }
  job.writeFailed = decoder.writeFailed();
  if (abandoned(job) || job.writeFailed || job.result != 0) return;
  job.hasContent = decoder.content(&job.content);
  // Only a sound file is put in place: attributes and times first.
  const auto message = [&sink](const std::string& s) { sink.message(s); };
  restoreAttributes(message, *job.writer.file(), job.entry, job.mode);
  restoreTimes(message, *job.writer.file(), job.entry);
  if (job.durable && !job.writer.file()->sync()) job.syncError = plat::lastError();
  if (job.placeEarly && !job.syncError && !abandoned(job)) {
    // Known before it has its name, so that the calling thread, finding a
    // file, can tell whether it is one of this run's.
    plat::FileInfo id;
    if (job.writer.file()->info(&id)) {
      std::lock_guard<std::mutex> lock(mutex_);
      placedFiles_.insert({id.device, id.inode});
    }
    job.placed = job.writer.commit(false, false, &job.written);
    if (!job.placed) job.placeError = plat::lastError();
  }
}

bool WritePool::placedHere(const plat::FileInfo& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  return placedFiles_.count({file.device, file.inode}) > 0;
}

bool WritePool::abandoned(WriteJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return job.abandoned_ || stopping_;
}

}  // namespace archive
