#include "archive/extract/restore.h"

#include <cerrno>

#include "archive/compress.h"
#include "archive/extract/names.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace archive {
namespace {

using Message = std::function<void(const std::string&)>;

void conversionFailed(const Message& message, const TExtractEntry& e) {
  message(plat::strFormat("mapname:  conversion of %s failed\n",
                                printableName(e.displayName()).c_str()));
}

// Checks one folder of the output path (without its trailing '/'), creating
// it when it is missing. Below the target folder a symbolic link is not a
// folder; in a path the user typed (after a Rename) links are followed.
int checkFolder(TCompress& c, const Message& message, const std::string& path,
                const TExtractEntry& e, bool followLinks) {
  TExtractState& s = c.extract;
  if (!followLinks && s.checkedFolders.count(path)) return 0;
  const std::string shown = printableName(e.displayName());
  plat::FileInfo fi;
  bool exists = plat::fileSystem().stat(path, &fi, followLinks);
  if (!exists) {
    if (!plat::fileSystem().makeDir(path)) {
      const int err = plat::lastError();
      const std::string why =
          s.folderNames.refusal(plat::parentFolder(path), plat::fileNamePart(path), err);
      message(plat::strFormat(
          "checkdir error:  cannot create %s%s%s\n             unable to process %s.\n",
          printableName(path).c_str(), why.empty() ? "" : ":  ", why.c_str(), shown.c_str()));
      if (why.empty()) return kMapFailed;
      s.notWritten.push_back(TNotWritten{path, why});
      return kMapNameRefused;
    }
    s.created = true;
    s.entryFolders.push_back(path);
  } else if (!fi.isDirectory || fi.isSymlink) {
    message(plat::strFormat(
        "checkdir error:  %s exists but is not directory\n             unable to process %s.\n",
        printableName(path).c_str(), shown.c_str()));
    return kMapFailed;
  }
  if (!followLinks) s.checkedFolders.insert(path);
  return kMapOk;
}

void tooLong(const Message& message, const std::string& path) {
  message(
      plat::strFormat("checkdir error:  path too long: %s\n", printableName(path).c_str()));
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

plat::FileTime fromUnix(uint32_t t) {
  return plat::fileTimeFromUnixTime(static_cast<int64_t>(static_cast<int32_t>(t)));
}

}  // namespace

MappedPath mapPath(const std::string& prefix, const std::string& name, bool renamed) {
  MappedPath m;
  std::string out;
  size_t i = 0;
  if (renamed && !name.empty() && name[0] == '/') {
    out.assign(1, '/');
    i = 1;
  } else {
    if (!renamed) {
      // A name that would leave the target folder is not written.
      const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\');
      // A drive letter with a colon and a separator ("C:/x"); "x:y" is an
      // ordinary name.
      const bool drive = name.size() >= 3 && name[1] == ':' && (name[2] == '/' || name[2] == '\\') &&
                         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
      if (absolute || drive) {
        m.result = kMapFailed;
        return m;
      }
    }
    out = prefix;
  }

  // The whole name is read before anything is made of it.
  std::string part;  // the current folder or file name
  for (; i < name.size(); ++i) {
    const char ch = name[i];
    if (ch == '/') {
      if (part.empty() || part == ".") {  // "a//b" and "a/./b" are "a/b"
        part.clear();
        continue;
      }
      if (part == ".." && !renamed) {
        m.result = kMapFailed;
        return m;
      }
      out += part;
      m.folders.push_back(out);
      out += '/';
      part.clear();
    } else if (static_cast<unsigned char>(ch) >= 32) {
      part += ch;  // control characters are dropped
    }
  }
  m.folderEntry = !name.empty() && name.back() == '/';
  if (m.folderEntry) {
    m.path = m.folders.empty() ? plat::stripTrailingSlash(out) : m.folders.back();
  } else if (part.empty() || part == "." || part == "..") {
    m.result = kMapFailed;
    return m;
  } else {
    m.path = out + part;
  }

  // Every path against its bound, never cut to fit.
  for (const std::string& f : m.folders) {
    if (utf8Length(f) > kMaxFolderPath) {
      m.result = kMapTooLong;
      m.tooLong = f;
      return m;
    }
  }
  if (!m.folderEntry && utf8Length(m.path) > kMaxPath) {
    m.result = kMapTooLong;
    m.tooLong = m.path;
  }
  return m;
}

std::vector<std::string> namesBeyondPathBound(const std::string& folder,
                                              const std::vector<std::string>& names) {
  const std::string f = plat::stripTrailingSlash(folder);
  if (utf8Length(f) > kMaxFolderPath) return names;
  const std::string prefix = f == "/" ? f : f + "/";
  std::vector<std::string> out;
  for (const std::string& n : names)
    if (mapPath(prefix, n, false).result == kMapTooLong) out.push_back(n);
  return out;
}

int prepareTargetFolder(TCompress& c, const std::string& folder) {
  std::string f = folder;
  if (!f.empty() && (f.back() == '/' || f.back() == '\\')) f.pop_back();
  if (f.empty()) {
    // The root folder itself.
    c.extract.targetPrefix = folder.empty() ? std::string() : std::string("/");
    return 0;
  }
  if (utf8Length(f) > kMaxFolderPath) {
    tooLong([&c](const std::string& m) { c.sendMessage(m); }, f);
    return kMapTooLong;
  }
  plat::fileSystem().makeDir(f);  // only the last level; it may well exist
  c.extract.targetPrefix = f + "/";
  return 0;
}

int mapName(TCompress& c, const Message& message, const TExtractEntry& e, std::string* target,
            bool renamed) {
  TExtractState& s = c.extract;
  s.created = false;
  const MappedPath m = mapPath(s.targetPrefix, *target, renamed);
  if (m.result == kMapFailed) {
    conversionFailed(message, e);
    return kMapFailed;
  }
  if (m.result == kMapTooLong) {
    tooLong(message, m.tooLong);
    return kMapTooLong;
  }
  for (const std::string& f : m.folders) {
    const int rc = checkFolder(c, message, f, e, renamed);
    if (rc != kMapOk) return rc;
  }
  if (m.folderEntry) return s.created ? kMapFolderCreated : kMapSkip;
  *target = m.path;
  return kMapOk;
}

void removeEntryFolders(TCompress& c) {
  TExtractState& s = c.extract;
  for (auto it = s.entryFolders.rbegin(); it != s.entryFolders.rend(); ++it) {
    s.checkedFolders.erase(*it);
    plat::fileSystem().removeDir(*it);  // fails, as it should, when the folder is not empty
  }
  s.entryFolders.clear();
}

EntryTimes entryTimes(const std::vector<uint8_t>& extra, uint16_t dosDate, uint16_t dosTime,
                      const std::function<void(const std::string&)>& message) {
  EntryTimes t;
  // Negative (pre-1970) Unix times are believed only when the DOS stamp was
  // clamped to its first day, 1980-01-01.
  const bool clampedDos = dosDate == 0x21;
  bool sawExtended = false, sawOwner = false;
  size_t pos = 0;
  while (extra.size() - pos >= 4) {
    const uint16_t id = static_cast<uint16_t>(extra[pos] | (extra[pos + 1] << 8));
    const uint16_t len = static_cast<uint16_t>(extra[pos + 2] | (extra[pos + 3] << 8));
    if (len > extra.size() - pos - 4) break;
    const uint8_t* d = extra.data() + pos + 4;
    if (id == 0x5455 && len >= 1) {
      sawExtended = true;
      EntryTimes b;
      const uint8_t flags = d[0];
      size_t off = 1;
      plat::FileTime* slots[3] = {&b.modification, &b.access, &b.creation};
      bool dropAll = false;
      for (unsigned bit = 0; bit < 3; ++bit) {
        if (!(flags & (1u << bit))) continue;
        if (off + 4 > len) break;  // beyond the block: dropped, and so are later ones
        const uint32_t v = le32(d + off);
        off += 4;
        if ((v & 0x80000000u) && !clampedDos) {
          if (bit == 0) dropAll = true;
          continue;
        }
        *slots[bit] = fromUnix(v);
        b.known |= 1u << bit;
      }
      t = dropAll ? EntryTimes() : b;
    } else if (id == 0x7855) {
      sawOwner = true;
    } else if (id == 0x5855 && len >= 8 && !sawExtended && !sawOwner) {
      const uint32_t at = le32(d), mt = le32(d + 4);
      EntryTimes b;
      if (!(mt & 0x80000000u) || clampedDos) {
        b.modification = fromUnix(mt);
        b.known |= kTimeModification;
        if (!(at & 0x80000000u) || clampedDos) {
          b.access = fromUnix(at);
          b.known |= kTimeAccess;
        }
      }
      t = b;
    }
    pos += 4 + len;
  }
  if (t.known & kTimeModification) return t;

  t = EntryTimes();
  plat::FileTime ft = 0;
  if (!plat::fileTimeFromDosDateTime((static_cast<uint32_t>(dosDate) << 16) | dosTime, &ft)) {
    if (message) message(plat::strFormat("DosDateTime failed: %d\n", EINVAL));
    return t;
  }
  t.modification = t.access = ft;
  t.known = kTimeModification | kTimeAccess;
  return t;
}

plat::FileTime entryTime(const TExtractEntry& entry) {
  return entryTimes(entry.extra, entry.central.date, entry.central.time).modification;
}

void restoreAttributes(const std::function<void(const std::string&)>& message, plat::File& file,
                       const TExtractEntry& entry, uint32_t mode) {
  uint32_t m = mode & 0777;
  const uint32_t a = entry.attributes;
  const bool readOnly = (a & 0x5F) && ((a & 0x7F) & plat::kAttrReadOnly);
  if (readOnly) m &= ~0222u;
  if (file.setMode(m)) return;
  // A file system that keeps no permissions (FAT through its user-space
  // driver) loses nothing but the read-only mark.
  const int err = plat::lastError();
  if (!readOnly && (err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP)) return;
  message(plat::strFormat("\nwarning (%d): could not set file attributes\n", err));
}

void restoreTimes(const std::function<void(const std::string&)>& message, plat::File& file,
                  const TExtractEntry& entry) {
  EntryTimes t = entryTimes(entry.localExtra, entry.local.date, entry.local.time, message);
  if (!(t.known & (kTimeModification | kTimeAccess))) return;
  const plat::FileTime* access = (t.known & kTimeAccess) ? &t.access : nullptr;
  const plat::FileTime* write = (t.known & kTimeModification) ? &t.modification : nullptr;
  if (!file.setTimes(nullptr, access, write))
    message(plat::strFormat("\nSetFileTime failed: %d\n", plat::lastError()));
}

void restoreAttributes(TCompress& c, plat::File& file, const TExtractEntry& entry, uint32_t mode) {
  restoreAttributes([&c](const std::string& m) { c.sendMessage(m); }, file, entry, mode);
}

void restoreTimes(TCompress& c, plat::File& file, const TExtractEntry& entry) {
  restoreTimes([&c](const std::string& m) { c.sendMessage(m); }, file, entry);
}

}  // namespace archive
