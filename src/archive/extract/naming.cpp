#include "archive/extract/naming.h"

#include <cerrno>
#include <random>
#include <vector>

#include "archive/extract/names.h"
#include "archive/leftovers.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/textfold.h"

namespace archive {
namespace {

std::string upper(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const char c = s[i];
    if (static_cast<unsigned char>(c) < 0x80) {  // the common case, without a lookup
      out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t n = utf8Sequence(s, i, &cp);
    if (n == 0 || n == 4) {  // not UTF-8, or beyond the plane the fold tables cover
      out.append(s, i, n ? n : 1);
      i += n ? n : 1;
      continue;
    }
    appendUtf8(out, plat::upperCase(cp));
    i += n;
  }
  return out;
}

std::string withoutTrailing(std::string s, bool dots, bool spaces) {
  while (!s.empty() && ((dots && s.back() == '.') || (spaces && s.back() == ' '))) s.pop_back();
  return s;
}

std::vector<std::string> levels(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    out.push_back(path.substr(start, slash == std::string::npos ? slash : slash - start));
    if (slash == std::string::npos) return out;
    start = slash + 1;
  }
}

// The start of a probe's name, with six letters of its own: small ones,
// so that the same name in capitals is another spelling.
std::string probeName() {
  thread_local std::mt19937 random{std::random_device{}()};
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
  std::string name = temporaryPrefix(TempKind::Probe);
  for (int i = 0; i < 6; ++i) name += letters[random() % 26];
  return name;
}

// Makes a probe file with that tail in `folder`: its path, or "" (last error
// set) when the folder would not take it.
std::string makeProbe(const std::string& folder, const std::string& tail) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string path = plat::joinPath(folder, probeName() + tail);
    auto f = plat::fileSystem().open(path, plat::Access::Write, plat::Disposition::CreateNew);
    if (f) {
      f->close();
      return path;
    }
    if (plat::lastError() != EEXIST) return std::string();
  }
  return std::string();
}

bool isDeviceName(const std::string& name) {
  std::string stem = upper(name.substr(0, name.find('.')));
  stem = withoutTrailing(stem, false, true);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Whether a folder with this naming takes the two names (one level each) for one.
bool sameName(const FolderNaming& n, const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::string x = withoutTrailing(a, n.dropsTrailingDots, n.dropsTrailingSpaces);
  std::string y = withoutTrailing(b, n.dropsTrailingDots, n.dropsTrailingSpaces);
  if (n.foldsCase) {
    x = upper(x);
    y = upper(y);
  }
  return x == y;
}

}  // namespace

std::string looseKey(const std::string& path) {
  std::string key = upper(path);
  // Each level without its trailing dots and spaces.
  size_t out = 0;
  for (size_t i = 0; i <= key.size(); ++i) {
    if (i == key.size() || key[i] == '/') {
      while (out > 0 && (key[out - 1] == '.' || key[out - 1] == ' ')) --out;
      if (i == key.size()) break;
    }
    key[out++] = key[i];
  }
  key.resize(out);
  return key;
}

bool namesOneFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (looseKey(a) != looseKey(b)) return false;
  const std::vector<std::string> x = levels(a), y = levels(b);
  plat::FileInfo fi;
  if (x.size() != y.size() || !plat::fileSystem().stat(a, &fi, true) ||
      !plat::fileSystem().stat(b, &fi, true))
    return false;
  std::string folder = x[0].empty() ? "/" : ".";
  for (size_t i = x[0].empty() ? 1 : 0; i < x.size(); ++i) {
    if (x[i] != y[i]) {
      plat::FolderEnum listing;
      if (!listing.open(folder)) return false;
      plat::FindData d;
      while (listing.next(&d, false))
        if (d.name == y[i]) return false;  // a file of its own
    }
    folder = folder == "." ? x[i] : plat::joinPath(folder, x[i]);
  }
  return true;
}

FolderNaming FolderNames::naming(const std::string& folder) {
  auto it = naming_.find(folder);
  if (it != naming_.end()) return it->second;
  FolderNaming n;
  plat::FileInfo fi;
  if (!plat::fileSystem().stat(folder, &fi, true)) {
    // Not there: made on the file system of the folder above, it will be named so.
    const std::string parent = plat::parentFolder(folder);
    if (!parent.empty() && parent != folder) n = naming(parent);
  } else if (fi.isDirectory) {
    const std::string probe = makeProbe(folder, std::string());
    if (!probe.empty()) {
      const std::string name = plat::fileNamePart(probe);
      n.foldsCase = plat::fileSystem().stat(plat::joinPath(folder, upper(name)), &fi, false);
      n.dropsTrailingDots = plat::fileSystem().stat(probe + ".", &fi, false);
      n.dropsTrailingSpaces = plat::fileSystem().stat(probe + " ", &fi, false);
      plat::fileSystem().remove(probe);
    }
  }
  return naming_.emplace(folder, n).first->second;
}

bool FolderNames::sameTarget(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (looseKey(a) != looseKey(b)) return false;
  const std::vector<std::string> x = levels(a), y = levels(b);
  if (x.size() != y.size()) return false;
  // The folder that holds each level (the same for both, as far as they agree).
  std::string folder = ".";
  size_t i = 0;
  if (x[0].empty()) {
    folder = "/";
    i = 1;
  }
  for (; i < x.size(); ++i) {
    if (x[i] != y[i] && !sameName(naming(folder), x[i], y[i])) return false;
    folder = folder == "." ? x[i] : plat::joinPath(folder, x[i]);
  }
  return true;
}

bool FolderNames::refuses(const std::string& folder, const std::string& tail) {
  const std::string key = folder + '\0' + tail;
  auto it = refuses_.find(key);
  if (it != refuses_.end()) return it->second;
  bool refused = false;
  const std::string probe = makeProbe(folder, tail);
  if (!probe.empty()) {
    plat::fileSystem().remove(probe);
  } else if (!tail.empty()) {
    // Refused only where a name without it is taken.
    refused = !refuses(folder, std::string());
  } else {
    refused = true;
  }
  return refuses_.emplace(key, refused).first->second;
}

std::string FolderNames::refusal(const std::string& folder, const std::string& name, int error) {
  if (plat::isNameTooLong(error)) return "the disk does not accept a name this long";
  if (plat::isDiskFull(error) || plat::isTooManyOpenFiles(error) || refuses(folder, std::string()))
    return std::string();
  std::vector<std::string> tried;
  for (size_t i = 0; i < name.size();) {
    uint32_t cp = 0;
    const size_t n = utf8Sequence(name, i, &cp);
    const std::string ch = name.substr(i, n ? n : 1);
    i += n ? n : 1;
    const bool suspect = cp >= 0x80 || ch.find_first_of(":*?\"<>|\\") != std::string::npos;
    if (!suspect || n == 0) continue;
    bool seen = false;
    for (const std::string& t : tried) seen = seen || t == ch;
    if (seen) continue;
    tried.push_back(ch);
    if (refuses(folder, ch))
      return "the disk does not accept the character '" + printableName(ch) + "' in file names";
    if (tried.size() == 4) break;
  }
  if (!name.empty() && name.back() == '.' && refuses(folder, "."))
    return "the disk does not accept a name that ends with a dot";
  if (!name.empty() && name.back() == ' ' && refuses(folder, " "))
    return "the disk does not accept a name that ends with a space";
  if (isDeviceName(name))
    return "the disk does not accept " + printableName(name) + ", the name of a device";
  return std::string();
}

void FolderNames::clear() {
  naming_.clear();
  refuses_.clear();
}

}  // namespace archive
