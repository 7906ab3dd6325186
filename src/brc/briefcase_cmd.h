#pragma once
// What the commands that change a briefcase share: opening it with its
// configuration, and local paths as the engine wants them.

#include <optional>
#include <string>
#include <vector>

#include "archive/compress.h"
#include "brc/cli.h"
#include "briefcase/comment.h"
#include "briefcase/open.h"

namespace brc {

// How a command takes this computer's local folder.
enum class FolderUse {
  None,   // not at all
  Adopt,  // needed: the record's, or --folder DIR (which must exist) made this computer's
          // folder in the record first (the caller stores the record)
  Look,   // the record's, or --folder DIR for this command only
};

// Opens the briefcase for this computer (briefcase::OpenForThisComputer): the
// container's end record and configuration into the engine (its comment and
// level) and the record, and the local folder as `use` says, taken from
// `args`. An empty comment leaves a new record. Errors are printed with the
// command's name; the result is kOk or the exit status (the engine's code,
// kInvalidComment for a configuration this program cannot read,
// kBadParameters for a local folder that cannot be had). `opened`, when
// given, receives the folder and whether the record changed.
int openBriefcase(const std::string& command, const std::string& path, archive::TCompress& engine,
                  briefcase::TBriefcaseComment& record, FolderUse use = FolderUse::None,
                  const Args* args = nullptr, briefcase::OpenedBriefcase* opened = nullptr);

// Removes entries from the briefcase (an update run in delete mode, with the
// progress line and kStrDeletingEntries), storing the record again when `storeRecord`; the
// engine is back in add mode afterwards. Result: the run's.
int removeEntries(archive::TCompress& engine, briefcase::TBriefcaseComment& record,
                  bool storeRecord, const std::vector<std::string>& names);

// For a command that keeps the configuration exactly as stored: the one
// briefcase path of `args` into engine.archivePath and its end record read,
// configuration messages to standard error. kOk, or the code, already said.
int openStored(const std::string& command, const Args& args, archive::TCompress& engine);
// This computer's folder as the stored configuration names it ("": none, or
// no configuration this program reads).
std::string storedFolder(const archive::TCompress& engine);

// Prints the text of an engine code after a failed change of the briefcase;
// a lock held by another run is said as such.
void reportFailure(int code, const std::string& path);

// --threads N (1 to 999) into *threads; absent, *threads is left as it is.
// A bad value is printed with the command's name; the result is kOk or
// kBadParameters.
int threadsOption(const std::string& command, const Args& args, unsigned* threads);

// The options of every command that reads or writes an encrypted
// briefcase's entries: --password-file FILE and --password-fd N.
const std::vector<OptionSpec>& passwordOptions();
// `options` with the password options after them.
std::vector<OptionSpec> withPasswordOptions(std::vector<OptionSpec> options);

// When the briefcase at engine.archivePath is encrypted, its password into
// engine.password: from --password-file FILE or --password-fd N (the first
// line; tried once), else asked on the terminal with echo off (three
// tries); it is checked against the briefcase before anything runs. A plain briefcase
// takes none. `load`: the command writes entries (a briefcase holding both
// kinds is refused). Result: kOk, or the code (said): kPasswordNeeded with
// neither an option nor a terminal, kPasswordWrong, kMixedEncryption,
// kBadParameters for an option that cannot be read.
int takePassword(const std::string& command, const Args& args, archive::TCompress& engine,
                 bool load);

// A new password (brc new --encrypt, brc encrypt): from the options, else
// typed twice on the terminal. kOk with *out set, or the code (said).
int newPassword(const std::string& command, const Args& args,
                std::optional<archive::aes::Password>* out);

// An absolute path with "." and ".." resolved and no repeated or trailing '/'
// (text only: links are not resolved).
std::string normalPath(const std::string& path);

}  // namespace brc
