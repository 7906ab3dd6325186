#pragma once
// The per-user settings store: a hierarchy of keys, each holding named values
// that are either texts or 32-bit integers. Key paths are written with '\'
// between their parts ("HKEY_CURRENT_USER\Software\Quillmarsh Software\Carryvale");
// key paths and value names are compared without regard to the case of ASCII
// letters and keep the case they were first written with.
//
// The store is one text file, `settings` in the store folder (by default
// $XDG_CONFIG_HOME/carryvale). Its format:
//
//   carryvale-settings 1
//   key<TAB>HKEY_CURRENT_USER\Software\Quillmarsh Software\Carryvale
//   int<TAB>debug<TAB>0
//   text<TAB>DontShowAgain<TAB>1
//
// The first line names the format. Each `key` line starts a key; the `int` and
// `text` lines that follow are its values. Every key lists its parents before
// it. In key paths, names and texts, the bytes 0x00-0x1F, 0x7F and '%' are
// written as '%' and two upper-case hex digits; integers are signed decimals.
// A byte-order mark and blank lines before the format line are skipped, and so
// are lines the reader does not understand. A file without the format line is
// moved aside by the next write to `settings.corrupt` (`settings.corrupt.1`,
// `.2` ... when that exists: no earlier copy is ever overwritten).
//
// Reads take the file as it is now (so values written by another running
// instance are seen at once). Each change holds an exclusive lock on
// `settings.lock`, reads the current file, applies only that change, writes
// the result to `settings.new`, syncs it and renames it over `settings`: a
// crash leaves either the old or the new file, never a half-written one, and
// two instances writing at once do not lose each other's changes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace plat {

struct RegValue {
  enum class Type { Text, Int32 };
  Type type = Type::Text;
  std::string text;     // Type::Text
  int32_t number = 0;   // Type::Int32

  static RegValue ofText(std::string s) {
    RegValue v;
    v.type = Type::Text;
    v.text = std::move(s);
    return v;
  }
  static RegValue ofInt(int32_t n) {
    RegValue v;
    v.type = Type::Int32;
    v.number = n;
    return v;
  }
  bool operator==(const RegValue&) const = default;
};

class SettingsStore {
 public:
  // A store kept in this folder (created with its parents on the first write).
  explicit SettingsStore(std::string folder);

  // $XDG_CONFIG_HOME/carryvale (default ~/.config/carryvale), as it is now.
  static std::string defaultFolder();

  const std::string& folder() const { return folder_; }
  std::string filePath() const;  // the store file itself

  // Reads. Nothing / false / empty when the key or value is missing or the
  // store cannot be read.
  std::optional<RegValue> value(const std::string& key, const std::string& name) const;
  bool keyExists(const std::string& key) const;
  std::vector<std::string> valueNames(const std::string& key) const;  // in stored order
  std::vector<std::string> subKeys(const std::string& key) const;     // direct children

  // Changes; each returns false when it could not be stored (the file then
  // stays as it was). A key is created with its parents when missing.
  bool createKey(const std::string& key);
  bool setValue(const std::string& key, const std::string& name, const RegValue& v);
  bool deleteValue(const std::string& key, const std::string& name);  // true also when absent

  // Test hook: called after the new file was written and synced, before it is
  // renamed over the store; returning false makes the change fail there, as
  // a crash at that point would (the new file is left behind, the store is
  // untouched). An empty function removes the hook.
  static void setBeforeRenameHookForTesting(std::function<bool()> hook);

 private:
  std::string folder_;
};

}  // namespace plat
