#include "briefcase/comment.h"

#include <cstring>

#include "archive/compress.h"
#include "platform/ask.h"
#include "platform/computerid.h"
#include "platform/diag.h"
#include "platform/strtable.h"

namespace briefcase {
namespace {

constexpr const char* kUpgradeAddress = "https://carryvale.example.org/upgrade";

void putText(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

// A cursor over [pos, end) of the stored bytes.
struct Cursor {
  const std::vector<uint8_t>& bytes;
  size_t pos;
  size_t end;

  // A NUL-terminated text of at most `maxLength` characters that ends before
  // `end`; false when no NUL is found in range or the text is too long.
  bool text(size_t maxLength, std::string* out) {
    const void* nul = pos < end ? std::memchr(bytes.data() + pos, 0, end - pos) : nullptr;
    if (!nul) return false;
    size_t len = static_cast<const uint8_t*>(nul) - (bytes.data() + pos);
    if (len > maxLength) return false;
    out->assign(reinterpret_cast<const char*>(bytes.data() + pos), len);
    pos += len + 1;
    return true;
  }
  bool atEnd() const { return pos >= end; }
};

bool decimal(const std::string& s, size_t* out) {
  if (s.empty() || s.size() > 9) return false;
  size_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<size_t>(c - '0');
  }
  *out = v;
  return true;
}

}  // namespace

std::vector<uint8_t> TBriefcaseComment::Stored(int level) const {
  for (const TVolDir& v : folders.entries)
    if (v.computerId.size() > kMaxComputerIdLength || v.folder.size() > kMaxFolderLength)
      throw RecordTooLarge("A folder of the briefcase's folder table is longer than 259 characters");
  if (folders.entries.size() > kMaxVolDirs)
    throw RecordTooLarge("The briefcase's folder table holds more than 30 entries");
  if (level < 0 || level > 9) throw RecordTooLarge("The compression level must be 0 to 9");

  std::vector<uint8_t> body;
  putText(body, include);
  putText(body, exclude);
  putText(body, std::to_string(folders.entries.size()));
  for (const TVolDir& v : folders.entries) {
    putText(body, v.computerId);
    putText(body, v.folder);
  }
  body.push_back(static_cast<uint8_t>('0' + level));
  body.push_back(subfolders ? '1' : '0');

  std::vector<uint8_t> out;
  putText(out, kRecordVersion);
  putText(out, std::to_string(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (out.size() > kCommentBufferSize)
    throw RecordTooLarge(
        "The briefcase configuration is too large to be stored (more than 8600 bytes). "
        "Shorten the include or exclude patterns or the local folder paths.");
  return out;
}

void TBriefcaseComment::Build(archive::TCompress& engine) {
  std::vector<uint8_t> stored = Stored(engine.level);
  version = kRecordVersion;
  engine.comment = std::move(stored);
  engine.endRecord.commentLength = static_cast<uint16_t>(engine.comment.size());
}

bool TBriefcaseComment::ParseStored(const std::vector<uint8_t>& stored, int* level,
                                    bool* newerVersion) {
  *newerVersion = false;
  include.clear();
  exclude.clear();
  Cursor c{stored, 0, stored.size()};

  std::string v;
  if (!c.text(kMaxVersionLength, &v)) return false;
  version = v;
  plat::diag("ReadableWithVersion:" + version);
  if (std::strcmp(version.c_str(), kRecordVersion) > 0) {
    *newerVersion = true;
    return false;
  }
  if (c.atEnd()) return false;

  const bool hasSize = std::strcmp(version.c_str(), "1.200") >= 0;
  const bool hasSubdirs = std::strcmp(version.c_str(), "1.201") >= 0;
  bool mismatch = false;

  TVolDirSet table;
  int lvl = *level;
  bool subs = true;

  if (hasSize) {
    std::string sizeText;
    size_t size = 0;
    if (!c.text(9, &sizeText) || !decimal(sizeText, &size)) return false;
    plat::diag("Version 1.2 size:" + sizeText);
    if (c.pos + size != stored.size()) mismatch = true;
    if (c.pos + size < stored.size()) c.end = c.pos + size;

    std::string inc, exc;
    if (!c.text(c.end, &inc)) return false;
    plat::diag("Include:" + inc);
    if (c.atEnd()) return false;
    if (!c.text(c.end, &exc)) return false;
    plat::diag("Exclude:" + exc);
    if (c.atEnd()) return false;

    // The table's space: the rest of the body less the level character and,
    // from 1.201, the subfolders character.
    size_t trailer = hasSubdirs ? 2 : 1;
    if (c.end - c.pos < trailer) return false;
    const size_t bodyEnd = c.end;
    c.end = bodyEnd - trailer;

    std::string countText;
    size_t count = 0;
    if (!c.text(9, &countText) || !decimal(countText, &count)) return false;
    plat::diag("Number of voldirs:" + countText);
    if (count > kMaxVolDirs) return false;
    while (!c.atEnd() && table.entries.size() < count) {
      TVolDir vd;
      if (!c.text(kMaxComputerIdLength, &vd.computerId)) return false;
      plat::diag("Volume:" + vd.computerId);
      if (!c.text(kMaxFolderLength, &vd.folder)) return false;
      table.entries.push_back(std::move(vd));
    }
    // The pairs fill the table's space exactly. Fewer pairs than counted are
    // taken as they are when they end where the table ends (a writer that
    // counted an entry it then left out); pairs beyond the count are not.
    if (c.pos != c.end) return false;

    char levelChar = static_cast<char>(stored[bodyEnd - trailer]);
    if (levelChar < '0' || levelChar > '9') return false;
    plat::diag(std::string("level:") + levelChar);
    lvl = levelChar - '0';
    if (hasSubdirs) subs = stored[bodyEnd - 1] != '0';
    plat::diag(std::string("Subdirs:") + (subs ? "yes" : "no"));
    include = inc;
    exclude = exc;
  } else {
    // Records before 1.200: include, exclude, then (id, folder) pairs up to
    // the end of the comment; the last folder has no NUL after it.
    std::string inc, exc;
    if (!c.text(c.end, &inc)) return false;
    plat::diag("Include:" + inc);
    if (!c.text(c.end, &exc)) return false;
    plat::diag("Exclude:" + exc);
    while (!c.atEnd()) {
      TVolDir vd;
      if (!c.text(kMaxComputerIdLength, &vd.computerId)) return false;
      plat::diag("Volume:" + vd.computerId);
      if (c.atEnd()) return false;
      // The folder runs to the next NUL or the end of the comment.
      const void* nul = std::memchr(stored.data() + c.pos, 0, c.end - c.pos);
      size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - (stored.data() + c.pos))
                       : c.end - c.pos;
      if (len > kMaxFolderLength) return false;
      vd.folder.assign(reinterpret_cast<const char*>(stored.data() + c.pos), len);
      c.pos += len + (nul ? 1 : 0);
      if (table.entries.size() == kMaxVolDirs) return false;
      table.entries.push_back(std::move(vd));
    }
    include = inc;
    exclude = exc;
  }

  folders = std::move(table);
  subfolders = subs;
  *level = lvl;
  return !mismatch;
}

bool TBriefcaseComment::Parse(archive::TCompress& engine) {
  int level = engine.level;
  bool newer = false;
  bool ok = ParseStored(engine.comment, &level, &newer);
  if (newer) {
    std::string text =
        plat::loadStrFmt(plat::kStrNeedsNewerVersion, version.c_str()) + kUpgradeAddress + ".";
    plat::messageBox(text, "Error", plat::btnOk, plat::Icon::Error);
    return false;
  }
  if (ok) engine.level = level;
  return ok;
}

std::string TBriefcaseComment::FolderForThisComputer() const {
  const std::string id = plat::computerId();
  for (const TVolDir& v : folders.entries)
    if (v.computerId == id) return v.folder;
  return std::string();
}

std::string TBriefcaseComment::OtherComputerId() const {
  const std::string id = plat::computerId();
  for (const TVolDir& v : folders.entries)
    if (v.computerId != id && !v.computerId.empty()) return v.computerId;
  return std::string();
}

void TBriefcaseComment::SetFolderForThisComputer(const std::string& folder) {
  const std::string id = plat::computerId();
  for (TVolDir& v : folders.entries)
    if (v.computerId == id) v.folder = folder;
}

void TBriefcaseComment::AddEntry(const std::string& folder) {
  if (folders.entries.size() >= kMaxVolDirs) return;
  folders.entries.push_back(TVolDir{plat::computerId(), folder});
}

}  // namespace briefcase
