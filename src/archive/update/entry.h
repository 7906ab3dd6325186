#pragma once
// Writing one local file as one entry of the new archive.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/aes.h"
#include "archive/compress.h"
#include "archive/update/pdeflate.h"
#include "platform/files.h"

namespace archive {

// The compressor and the buffers of a run, made once and reused for every
// entry; the memory they take does not depend on the files' sizes.
class EntryWriter {
 public:
  // Input is read in blocks of this size. The first block bounds the
  // store-instead-of-deflate rule: a file shorter than one block (that is,
  // under 128 KiB) is compressed whole in memory first, and when its deflated
  // form is not smaller than its raw bytes the raw bytes are stored instead;
  // a larger file is deflated as it is read, whatever its data. The text bit
  // is judged over the same first block.
  static constexpr size_t kInputBlock = 131072;
  // A larger file is deflated in blocks of kInputBlock bytes on the workers,
  // at most this many blocks in flight per worker (and kMaxInFlight in all).
  static constexpr size_t kInFlightPerThread = 2;
  static constexpr size_t kMaxInFlight = 16;
  // Small files read and deflated ahead of their turn: at most this many.
  static constexpr size_t kMaxAhead = 64;
  // Stored data moves in blocks of this size.
  static constexpr size_t kStoreBlock = 16384;

  explicit EntryWriter(TCompress& engine);
  ~EntryWriter();
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // Writes the local file at `localPath` as the entry `item` (whose name is
  // already set) at the output offset. Result: 0 written (the item holds the
  // final headers, the offset is past the entry); 28 the file was not found
  // or could not be opened (nothing written); 19 cancelled while the data
  // was written; any other code ends the run (31, 88, 29, 24, 21, 15, 4).
  int write(zlitem& item, const std::string& localPath);

  // The local files the run will write, in their order: with more than one
  // thread, small files among them are read and deflated ahead of their turn
  // while earlier ones are written. A file whose size, date or identity
  // changed by its turn is read again then.
  void expect(std::vector<std::string> paths);

  // The output write of the run: checks the archive's size bound (31) and
  // advances the output offset.
  int put(const void* data, size_t size);
  // For bytes that reach the output another way: the size bound checked
  // before (31), the offset advanced after.
  void reserve(uint64_t size);
  void advanced(uint64_t size);
  // Takes back what was written since `offset`: the output continues there.
  int rewind(uint64_t offset);

 private:
  DeflatePool& pool();
  DeflateJobPtr newJob();
  void recycle(DeflateJobPtr job);
  // Reads and submits the next expected small files.
  void readAhead();
  // The job of a file read ahead, when the file is still as it was read
  // (`now` then gets the access time from before that read).
  DeflateJobPtr takeAhead(const std::string& path, plat::FileInfo* now);
  // The rest of a larger file, the first `got` bytes being in the input buffer.
  int deflateData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc, uint64_t* read,
                  uint64_t* written);
  int storeData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc, uint64_t* read,
                uint64_t* written);
  void progress(uint64_t done, uint64_t expected);
  bool cancelled();
  // An entry's data as it goes out: encrypted in place first when the
  // entry is (the buffer is the writer's own).
  int putData(uint8_t* data, size_t size);
  // An encrypted entry's salt and verifier, before its data, and its
  // authentication code after.
  int beginEncrypted();
  int endEncrypted();

  static constexpr uint64_t kWritebackStep = 8u << 20;
  struct Ahead {
    std::string path;
    plat::FileInfo info;
    DeflateJobPtr job;
  };

  TCompress& engine_;
  std::unique_ptr<DeflatePool> pool_;
  std::vector<DeflateJobPtr> spare_;
  std::vector<std::string> expected_;
  size_t nextExpected_ = 0;
  std::deque<Ahead> ahead_;
  std::vector<uint8_t> tail_;  // the dictionary of the next block
  std::vector<uint8_t> in_;
  std::vector<uint8_t> out_;
  uint64_t writtenBack_ = 0;
  bool encrypting_ = false;  // the current entry is encrypted
  uint8_t salt_[aes::kMaxSalt] = {};
  aes::Stream cipher_;
};

// True when the path ends with one of the suffixes (separated by ':' or
// ';'), letters compared without regard to case.
bool HasSuffix(const std::string& path, const std::string& suffixes);

}  // namespace archive
