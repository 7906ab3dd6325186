#include "platform/regstore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace plat {
namespace {

constexpr const char* kFileName = "settings";
constexpr const char* kNewName = "settings.new";
constexpr const char* kLockName = "settings.lock";
constexpr const char* kCorruptName = "settings.corrupt";
constexpr const char* kFormatLine = "carryvale-settings 1";
constexpr const char* kFormatWord = "carryvale-settings ";
constexpr size_t kMaxFileSize = 16u << 20;  // far beyond anything this program writes

std::mutex hookMu;
std::function<bool()> beforeRenameHook;

// ---- names ----

char foldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

// "\A\\B\" -> "A\B"; empty when the path names no key.
std::string normalizeKey(const std::string& key) {
  std::string out;
  size_t i = 0;
  while (i < key.size()) {
    size_t j = key.find('\\', i);
    if (j == std::string::npos) j = key.size();
    if (j > i) {
      if (!out.empty()) out += '\\';
      out.append(key, i, j - i);
    }
    i = j + 1;
  }
  return out;
}

std::string parentKey(const std::string& normalized) {
  size_t p = normalized.rfind('\\');
  return p == std::string::npos ? std::string() : normalized.substr(0, p);
}

// ---- the parsed store ----

struct Key {
  std::string path;  // normalized
  std::vector<std::pair<std::string, RegValue>> values;
};

struct Doc {
  std::vector<Key> keys;

  Key* find(const std::string& normalized) {
    for (auto& k : keys)
      if (sameName(k.path, normalized)) return &k;
    return nullptr;
  }
  // Adds the key and any missing parents, parents first.
  Key& ensure(const std::string& normalized) {
    if (Key* k = find(normalized)) return *k;
    std::string parent = parentKey(normalized);
    if (!parent.empty()) ensure(parent);
    keys.push_back(Key{normalized, {}});
    return keys.back();
  }
};

// ---- text encoding of fields ----

std::string encode(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F || c == '%') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string decode(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int hi = hexDigit(s[i + 1]), lo = hexDigit(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

bool parseInt32(const std::string& s, int32_t* out) {
  if (s.empty() || s.size() > 11) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-') {
    neg = true;
    i = 1;
    if (s.size() == 1) return false;
  }
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  if (neg) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> f;
  size_t i = 0;
  for (;;) {
    size_t j = line.find('\t', i);
    if (j == std::string::npos) {
      f.push_back(line.substr(i));
      return f;
    }
    f.push_back(line.substr(i, j - i));
    i = j + 1;
  }
}

bool blankLine(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// False when the text is not a store at all (no format line). A byte-order
// mark and blank lines before the format line, as an editor may leave them,
// are skipped.
bool parse(const std::string& text, Doc* doc) {
  static const std::string kByteOrderMark = "\xEF\xBB\xBF";
  size_t pos = text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0 ? kByteOrderMark.size() : 0;
  bool first = true;
  Key* current = nullptr;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      if (blankLine(line)) continue;
      if (line.compare(0, std::string(kFormatWord).size(), kFormatWord) != 0) return false;
      first = false;
      continue;
    }
    std::vector<std::string> f = splitTabs(line);
    if (f[0] == "key" && f.size() == 2) {
      std::string path = normalizeKey(decode(f[1]));
      current = path.empty() ? nullptr : &doc->ensure(path);
    } else if ((f[0] == "text" || f[0] == "int") && f.size() == 3 && current) {
      RegValue v;
      if (f[0] == "text") {
        v = RegValue::ofText(decode(f[2]));
      } else {
        int32_t n;
        if (!parseInt32(f[2], &n)) continue;
        v = RegValue::ofInt(n);
      }
      std::string name = decode(f[1]);
      bool dup = false;
      for (auto& nv : current->values)
        if (sameName(nv.first, name)) dup = true;
      if (!dup) current->values.emplace_back(std::move(name), std::move(v));
    }
    // Anything else is skipped.
  }
  return true;
}

std::string serialize(const Doc& doc) {
  std::string out = kFormatLine;
  out += '\n';
  for (const auto& k : doc.keys) {
    out += "key\t" + encode(k.path) + "\n";
    for (const auto& nv : k.values) {
      if (nv.second.type == RegValue::Type::Text)
        out += "text\t" + encode(nv.first) + "\t" + encode(nv.second.text) + "\n";
      else
        out += "int\t" + encode(nv.first) + "\t" + std::to_string(nv.second.number) + "\n";
    }
  }
  return out;
}

// ---- file access ----

enum class LoadResult { Ok, Corrupt, Error };

LoadResult loadFile(const std::string& path, Doc* doc) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? LoadResult::Ok : LoadResult::Error;
  std::string text;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return LoadResult::Error;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxFileSize) {
      ::close(fd);
      return LoadResult::Corrupt;
    }
  }
  ::close(fd);
  return parse(text, doc) ? LoadResult::Ok : LoadResult::Corrupt;
}

// Moves an unreadable store aside as `settings.corrupt`, or `settings.corrupt.1`,
// `.2` ... when earlier copies exist: no copy is ever overwritten.
bool keepCorruptCopy(const std::string& folder, const std::string& file) {
  constexpr int kMostCopies = 10000;
  const std::string base = joinPath(folder, kCorruptName);
  for (int n = 0; n < kMostCopies; ++n) {
    const std::string copy = n == 0 ? base : base + "." + std::to_string(n);
    if (realFileSystem().renameNoReplace(file, copy)) return true;
    if (lastError() != EEXIST) return false;
  }
  return false;
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Holds the store's lock for the lifetime of the object.
class StoreLock {
 public:
  explicit StoreLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Applies one change to the current store under the lock. `change` returns
// false when the store needs no rewrite.
bool mutate(const std::string& folder, const std::function<bool(Doc&)>& change) {
  if (!makePath(folder)) return false;
  StoreLock lock(joinPath(folder, kLockName));
  if (!lock.held()) return false;

  const std::string file = joinPath(folder, kFileName);
  Doc doc;
  switch (loadFile(file, &doc)) {
    case LoadResult::Ok:
      break;
    case LoadResult::Corrupt:
      // Keep the unreadable file for the user to look at; start afresh.
      if (!keepCorruptCopy(folder, file)) return false;
      doc = Doc();
      break;
    case LoadResult::Error:
      return false;  // never replace a store that could not be read
  }
  if (!change(doc)) return true;

  // Only the lock holder writes the new file, so a fixed name is safe, and a
  // file left by a crashed writer is simply replaced.
  const std::string tmp = joinPath(folder, kNewName);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = writeAll(fd, serialize(doc)) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  std::function<bool()> hook;
  {
    std::lock_guard<std::mutex> g(hookMu);
    hook = beforeRenameHook;
  }
  if (hook && !hook()) return false;
  if (::rename(tmp.c_str(), file.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  syncFolder(folder);
  return true;
}

}  // namespace

SettingsStore::SettingsStore(std::string folder) : folder_(std::move(folder)) {}

std::string SettingsStore::defaultFolder() { return joinPath(configHome(), "carryvale"); }

std::string SettingsStore::filePath() const { return joinPath(folder_, kFileName); }

std::optional<RegValue> SettingsStore::value(const std::string& key,
                                             const std::string& name) const {
  Doc doc;
  if (loadFile(filePath(), &doc) != LoadResult::Ok) return std::nullopt;
  Key* k = doc.find(normalizeKey(key));
  if (!k) return std::nullopt;
  for (auto& nv : k->values)
    if (sameName(nv.first, name)) return nv.second;
  return std::nullopt;
}

bool SettingsStore::keyExists(const std::string& key) const {
  std::string path = normalizeKey(key);
  if (path.empty()) return false;
  Doc doc;
  if (loadFile(filePath(), &doc) != LoadResult::Ok) return false;
  return doc.find(path) != nullptr;
}

std::vector<std::string> SettingsStore::valueNames(const std::string& key) const {
  std::vector<std::string> names;
  Doc doc;
  if (loadFile(filePath(), &doc) != LoadResult::Ok) return names;
  if (Key* k = doc.find(normalizeKey(key)))
    for (auto& nv : k->values) names.push_back(nv.first);
  return names;
}

std::vector<std::string> SettingsStore::subKeys(const std::string& key) const {
  std::vector<std::string> names;
  std::string path = normalizeKey(key);
  if (path.empty()) return names;
  Doc doc;
  if (loadFile(filePath(), &doc) != LoadResult::Ok) return names;
  for (auto& k : doc.keys)
    if (k.path.size() > path.size() && sameName(parentKey(k.path), path))
      names.push_back(k.path.substr(path.size() + 1));
  return names;
}

bool SettingsStore::createKey(const std::string& key) {
  std::string path = normalizeKey(key);
  if (path.empty()) return false;
  return mutate(folder_, [&](Doc& doc) {
    if (doc.find(path)) return false;
    doc.ensure(path);
    return true;
  });
}

bool SettingsStore::setValue(const std::string& key, const std::string& name,
                             const RegValue& v) {
  std::string path = normalizeKey(key);
  if (path.empty()) return false;
  return mutate(folder_, [&](Doc& doc) {
    Key& k = doc.ensure(path);
    for (auto& nv : k.values) {
      if (sameName(nv.first, name)) {
        if (nv.second == v) return false;
        nv.second = v;
        return true;
      }
    }
    k.values.emplace_back(name, v);
    return true;
  });
}

bool SettingsStore::deleteValue(const std::string& key, const std::string& name) {
  std::string path = normalizeKey(key);
  if (path.empty()) return false;
  return mutate(folder_, [&](Doc& doc) {
    Key* k = doc.find(path);
    if (!k) return false;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (sameName(it->first, name)) {
        k->values.erase(it);
        return true;
      }
    }
    return false;
  });
}

void SettingsStore::setBeforeRenameHookForTesting(std::function<bool()> hook) {
  std::lock_guard<std::mutex> g(hookMu);
  beforeRenameHook = std::move(hook);
}

}  // namespace plat
