// Where brc takes a briefcase's password from: a file, a file descriptor
// or the terminal (through the question interface, echo off); never the
// command line.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/operations.h"
#include "archive/encrypted.h"
#include "archive/errors.h"
#include "brc/briefcase_cmd.h"
#include "brc/cli.h"
#include "platform/ask.h"

namespace brc {
namespace {

constexpr size_t kMaxPassword = 4096;

// The first line of what `fd` gives (without its line end), read a byte at a
// time so that nothing after it is taken from a pipe. False on a read error
// or a line longer than kMaxPassword.
bool readLine(int fd, std::string* out) {
  out->clear();
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0 || c == '\n') break;
    if (out->size() == kMaxPassword) return false;
    out->push_back(c);
  }
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return true;
}

// From --password-file or --password-fd: kOk with *out set, or a code (said).
int fromOption(const std::string& command, const Args& args,
               std::optional<archive::aes::Password>* out) {
  int fd = -1;
  bool own = false;
  if (args.has("--password-file")) {
    fd = ::open(args.value("--password-file").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error("brc " + command + ": cannot read the password file " + args.value("--password-file") +
            ": " + std::strerror(errno) + ".");
      return archive::kBadParameters;
    }
    own = true;
  } else if (args.has("--password-fd")) {
    const std::string n = args.value("--password-fd");
    if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos) {
      error("brc " + command + ": --password-fd needs the number of an open file descriptor.");
      return archive::kBadParameters;
    }
    fd = std::stoi(n);
  } else {
    return archive::kOk;
  }
  std::string line;
  const bool ok = readLine(fd, &line);
  if (own) ::close(fd);
  archive::aes::Password password(line);
  std::fill(line.begin(), line.end(), '\0');
  if (!ok) {
    error("brc " + command +
          ": the password could not be read (a read error, or a line of more than " +
          std::to_string(kMaxPassword) + " bytes).");
    return archive::kBadParameters;
  }
  if (password.empty()) {
    error("brc " + command + ": the password given is empty.");
    return archive::kBadParameters;
  }
  *out = std::move(password);
  return archive::kOk;
}

}  // namespace

const std::vector<OptionSpec>& passwordOptions() {
  static const std::vector<OptionSpec> options = {
      {"--password-file", true, "FILE",
       "an encrypted briefcase's password: the first line of FILE"},
      {"--password-fd", true, "N",
       "an encrypted briefcase's password: the first line read from descriptor N"},
  };
  return options;
}

std::vector<OptionSpec> withPasswordOptions(std::vector<OptionSpec> options) {
  options.insert(options.end(), passwordOptions().begin(), passwordOptions().end());
  return options;
}

int takePassword(const std::string& command, const Args& args, archive::TCompress& engine,
                 bool load) {
  archive::EncryptionFound found;
  if (archive::readEncryption(engine.archivePath, &found) != archive::kOk || !found.isEncrypted())
    return archive::kOk;
  std::optional<archive::aes::Password> given;
  if (int rc = fromOption(command, args, &given)) return rc;
  int rc = archive::kOk;
  if (given) {
    // A password given is tried once: nobody is there to type another.
    engine.password = std::move(given);
    rc = app::CheckEncryption(engine, load);
    if (rc == archive::kPasswordWrong) engine.password.reset();
  } else {
    rc = app::ObtainPassword(engine, load);
  }
  if (rc == archive::kPasswordNeeded)
    error("brc " + command + ": " + archive::errorText(rc) +
          " (give it with --password-file FILE or --password-fd N).");
  else if (rc != archive::kOk)
    error("brc " + command + ": " + archive::errorText(rc) + ".");
  return rc;
}

int newPassword(const std::string& command, const Args& args,
                std::optional<archive::aes::Password>* out) {
  if (int rc = fromOption(command, args, out)) return rc;
  if (*out) return archive::kOk;
  plat::PasswordQuestion q;
  q.caption = app::kPasswordCaption;
  q.prompt = "Password for the briefcase";
  q.confirm = true;
  std::string typed;
  const bool given = plat::asker().askPassword(q, &typed);
  archive::aes::Password password(typed);
  std::fill(typed.begin(), typed.end(), '\0');
  if (!given) {
    error("brc " + command +
          ": no password was given (give it with --password-file FILE or --password-fd N).");
    return archive::kPasswordNeeded;
  }
  if (password.empty()) {
    error("brc " + command + ": the password given is empty.");
    return archive::kBadParameters;
  }
  *out = std::move(password);
  return archive::kOk;
}

}  // namespace brc
