#pragma once
// The engines' result codes and their error object.
//
// A run reports one integer code, 0 for success. A failure that ends a run is
// raised once as TXCompress (a code and a message) and caught at the run's
// top, where it becomes the run's result. The texts of codes 1-59 are the
// string table's entries of the same numbers.

#include <stdexcept>
#include <string>

namespace archive {

enum ErrorCode : int {
  kOk = 0,
  kWarning = 1,             // "Warning error"
  kCompressedError = 2,     // "Error in compressed file"
  kSevereError = 3,         // "Severe error in compressed file"
  kOutOfMemory = 4,         // "Out of memory"
  kNotFound = 9,            // "Compressed file not found"
  kBadParameters = 10,      // "Bad or illegal parameters specified"
  kNoFiles = 11,            // "No files found"
  kUnexpectedEnd = 12,      // "Unexpected end of briefcase file"
  kStructureInvalid = 13,   // "Briefcase file structure invalid"
  kInternalError = 15,      // "Internal logic error"
  kInvalidComment = 17,     // "Invalid comment format"
  kSpawnFailed = 18,        // "Briefcase file invalid or could not spawn unload"
  kInterrupted = 19,        // "Interrupted"
  kTempFileFailure = 20,    // "Temporary file failure"
  kReadSeekFailure = 21,    // "Input file read or seek failure"
  kNothingToDo = 22,        // "Nothing to do!"
  kMissingOrEmpty = 23,     // "Missing or empty briefcase file"
  kWriteFailure = 24,       // "Output file write failure"
  kCreateFailed = 25,       // "Could not create output file"
  kInvalidArguments = 26,   // "Invalid command arguments"
  kFileNotReadable = 28,    // "File not found or no read permission"
  kDiskMayBeFull = 29,      // "Disk may be full"
  kWrongSignature = 30,     // "Wrong signature"
  kTooLarge = 31,           // "File is too large to compress (>4GB)"
  kTooManyEntries = 32,     // "Too many entries (more than 65,535)"
  kGone = 33,               // "The disk or folder is gone"
  kNameRefused = 34,        // "File name not accepted by the disk" (an unload's target)
  kPasswordWrong = 35,      // "The password is not correct"
  kPasswordNeeded = 36,     // "The briefcase is encrypted, and its password was not given"
  kMixedEncryption = 37,    // "The briefcase holds encrypted and plain files: ..."
  kReadOnly = 49,           // "File is read-only"
  kDiskFull = 50,           // "Disk is full"
  kUnexpectedEof = 51,      // "Unexpected end of file"
  kWriteProtected = 55,     // "File is read-only or disk is write protected"
  kExplodeUnsupported = 56, // "Explode method not supported"
  kMoveFailed = 57,         // "File move failed"
  kInUse = 58,              // "File is in use"
  kCloseFailed = 59,        // "File could not be closed"
  kSkippedEntries = 81,     // entries left out of an unload
  kSystemError = 88,        // the platform's text for its last error
};

// The text of a code: the string table's entry of that number (at most 200
// characters), the platform's last-error text for 88, else "".
std::string errorText(int code);

class TXCompress : public std::runtime_error {
 public:
  // Code 88 takes the platform's text for the last error as its message.
  TXCompress(int code, const std::string& message);
  explicit TXCompress(int code);

  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  int code_;
  std::string message_;
};

}  // namespace archive
