#pragma once
// Writing one local file as one entry of the new archive.

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/compress.h"

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
  // was written; any other code ends the run (31, 88, 29, 24, 21, 15).
  int write(zlitem& item, const std::string& localPath);

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
  int prepareCompressor();
  // Deflates the first `got` bytes of the input buffer whole into the output buffer.
  int deflateWhole(size_t got, size_t* produced);
  // The rest of a larger file, the first `got` bytes being in the input buffer.
  int deflateData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc, uint64_t* read,
                  uint64_t* written);
  int storeData(JNormFile& in, size_t got, uint64_t expected, uint32_t* crc, uint64_t* read,
                uint64_t* written);
  void progress(uint64_t done, uint64_t expected);
  bool cancelled();

  static constexpr uint64_t kWritebackStep = 8u << 20;
  TCompress& engine_;
  z_stream zs_{};
  bool zsReady_ = false;
  int zsLevel_ = -1;
  std::vector<uint8_t> in_;
  std::vector<uint8_t> out_;
  uint64_t writtenBack_ = 0;
};

// True when the path ends with one of the suffixes (separated by ':' or
// ';'), letters compared without regard to case.
bool HasSuffix(const std::string& path, const std::string& suffixes);

}  // namespace archive
