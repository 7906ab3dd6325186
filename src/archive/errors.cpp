#include "archive/errors.h"

#include "platform/errors.h"
#include "platform/strtable.h"

namespace archive {

std::string errorText(int code) {
  if (code == kSystemError) return plat::lastErrorText();
  if (code >= 1 && code <= 59) return plat::loadStr(code);
  return std::string();
}

namespace {
std::string messageFor(int code, const std::string& message) {
  return code == kSystemError ? plat::lastErrorText() : message;
}
}  // namespace

TXCompress::TXCompress(int code, const std::string& message)
    : std::runtime_error(messageFor(code, message)), code_(code), message_(messageFor(code, message)) {}

TXCompress::TXCompress(int code) : TXCompress(code, std::string()) {}

}  // namespace archive
