#include "briefcase/newbrief.h"

#include "carry/tracker.h"

#include "archive/compress.h"
#include "archive/deletions.h"
#include "archive/encrypted.h"
#include "archive/errors.h"
#include "archive/layout.h"
#include "archive/replace.h"
#include "briefcase/brdate.h"
#include "platform/ask.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shortcut.h"
#include "platform/strtable.h"

namespace briefcase {
using namespace plat::strid;

namespace {

constexpr int kLevelCompressed = 6;
constexpr int kLevelStored = 0;
constexpr size_t kMaxPath = 259;

void cannotCreate(const std::string& reason) {
  std::string text = plat::loadStr(kStrCannotCreateBriefcase);
  if (!reason.empty()) text += "\n\n" + reason;
  plat::messageBox(text, "", plat::btnOk, plat::Icon::Warning);
}

}  // namespace

bool IsBriefcaseFile(const std::string& path) {
  plat::FileInfo info;
  if (!plat::fileSystem().stat(path, &info, true) || !info.isRegular) return false;
  archive::TCompress engine;
  engine.archivePath = path;
  if (engine.readEndRecord() != archive::kOk) return false;
  if (engine.comment.empty()) return true;
  // A record of a newer program is a briefcase too (its open says so).
  TBriefcaseComment record;
  int level = 0;
  bool newer = false;
  return record.ParseStored(engine.comment, &level, &newer) || newer;
}

bool CreateNewBriefcase(const NewBriefcaseAnswers& a, NewBriefcase* out) {
  NewBriefcase nb;
  nb.containerPath = a.containerPath;
  nb.localFolder = a.localFolder;
  nb.record.exclude = a.exclude;
  nb.record.include = a.include;
  nb.level = a.compress ? kLevelCompressed : kLevelStored;
  nb.record.subfolders = a.subfolders;

  if (nb.containerPath.empty()) {
    plat::messageBox(plat::loadStr(kStrNoFileName), "", plat::btnOk, plat::Icon::Warning);
    return false;
  }
  if (nb.containerPath.front() != '/')
    nb.containerPath = plat::joinPath(plat::currentFolder(), nb.containerPath);
  const std::string& path = nb.containerPath;
  if (path.size() > kMaxPath) {
    cannotCreate("The path is longer than 259 characters.");
    return false;
  }
  plat::FileInfo existing;
  if (plat::fileSystem().stat(path, &existing, false) &&
      (!a.replaceConsented || existing.isDirectory)) {
    cannotCreate(path + " already exists.");
    return false;
  }

  nb.record.AddEntry(nb.localFolder);
  std::vector<uint8_t> stored;
  try {
    stored = nb.record.Stored(nb.level);
  } catch (const RecordTooLarge& e) {
    cannotCreate(e.what());
    return false;
  }
  // An encrypted briefcase carries the check of its password from the start.
  std::vector<uint8_t> head;
  if (a.encrypt) {
    plat::PasswordQuestion q;
    q.caption = archive::kPasswordCaption;
    q.prompt = "The password for " + path + ". It is never stored: keep it where you will find it.";
    q.confirm = true;
    std::string typed;
    const bool given = plat::asker().askPassword(q, &typed);
    nb.password = archive::aes::Password(typed);
    std::fill(typed.begin(), typed.end(), '\0');
    if (!given || nb.password->empty()) return false;
    archive::PasswordCheck check;
    if (!archive::makePasswordCheck(*nb.password, &check)) {
      cannotCreate("The system's random source gave nothing to encrypt with.");
      return false;
    }
    head = archive::deletionsHead(archive::encodeDeletions({}, check));
  }
  if (archive::createContainerAtomically(path, stored, &a.date, a.replaceConsented, head) !=
      archive::kOk) {
    cannotCreate(plat::lastErrorText());
    return false;
  }
  nb.record.version = kRecordVersion;
  // A new briefcase holds nothing this computer carried with one that
  // was here before it.
  carry::forgetBriefcaseAt(path);
  ReadBriefcaseDate(path, &nb.date);
  nb.includeList = SplitPatterns(nb.record.include, PatternKind::Include);
  nb.excludeList = SplitPatterns(nb.record.exclude, PatternKind::Exclude);
  if (a.makeShortcut) nb.shortcutName = plat::CreateDesktopShortcut(path);
  if (out) *out = std::move(nb);
  return true;
}

}  // namespace briefcase
