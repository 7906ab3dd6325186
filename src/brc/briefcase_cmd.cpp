#include "brc/briefcase_cmd.h"

#include <cstring>
#include <vector>

#include "app/operations.h"
#include "archive/append.h"
#include "archive/errors.h"
#include "archive/update/update.h"
#include "brc/cli.h"
#include "brc/progress.h"
#include "briefcase/open.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strtable.h"

namespace brc {

int threadsOption(const std::string& command, const Args& args, unsigned* threads) {
  if (!args.has("--threads")) return archive::kOk;
  const std::string n = args.value("--threads");
  if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(n) < 1) {
    error("brc " + command + ": --threads needs a number of threads, 1 or more.");
    return archive::kBadParameters;
  }
  *threads = static_cast<unsigned>(std::stoi(n));
  return archive::kOk;
}

int openBriefcase(const std::string& command, const std::string& path, archive::TCompress& engine,
                  briefcase::TBriefcaseComment& record, FolderUse use, const Args* args,
                  briefcase::OpenedBriefcase* out) {
  briefcase::OpenRequest request;
  if (use != FolderUse::None && args && args->has("--folder"))
    request.folder =
        briefcase::FolderOverride{normalPath(args->value("--folder")), use == FolderUse::Adopt};
  engine.callbacks.configMessage = [](const std::string& s) { error(s); };
  const briefcase::OpenedBriefcase opened =
      briefcase::OpenForThisComputer(engine, path, record, request);
  engine.callbacks.configMessage = nullptr;
  if (opened.appendUndone) error("brc " + command + ": " + archive::kAppendUndoneText);
  if (out) *out = opened;
  if (!opened.endRecordRead) {
    errorCode(opened.code, path);
    return opened.code;
  }
  if (opened.code != archive::kOk) {
    // A newer record was already reported by Parse itself.
    if (std::strcmp(record.version.c_str(), briefcase::kRecordVersion) <= 0)
      error("brc " + command + ": " + plat::loadStr(plat::kStrCorruptConfiguration));
    return opened.code;
  }
  if (use != FolderUse::Adopt) return archive::kOk;
  switch (opened.folder) {
    case briefcase::LocalFolderState::OverrideGone:
      error("brc " + command + ": the local folder " + request.folder->folder +
            " does not exist or is not a folder.");
      return archive::kBadParameters;
    case briefcase::LocalFolderState::TableFull:
      error("brc " + command + ": the briefcase's folder table is full (30 computers); no "
            "folder can be added for this computer.");
      return archive::kBadParameters;
    case briefcase::LocalFolderState::None:
      error("brc " + command + ": the briefcase has no local folder for this computer; give it "
            "with --folder DIR.");
      return archive::kBadParameters;
    case briefcase::LocalFolderState::Known:
    case briefcase::LocalFolderState::Missing:
      break;
  }
  return archive::kOk;
}

int removeEntries(archive::TCompress& engine, briefcase::TBriefcaseComment& record,
                  bool storeRecord, const std::vector<std::string>& names) {
  Progress progress;
  progress.attach(engine);
  std::function<void()> store;
  if (storeRecord) store = [&] { record.Build(engine); };
  int rc = app::DeleteEntries(engine, names, store, record.FolderForThisComputer());
  progress.finish();
  return rc;
}

int openStored(const std::string& command, const Args& args, archive::TCompress& engine) {
  if (args.positional.size() != 1) {
    error("brc " + command + ": give exactly one briefcase path.");
    return archive::kBadParameters;
  }
  engine.archivePath = normalPath(args.positional[0]);
  engine.callbacks.configMessage = [](const std::string& s) { error(s); };
  if (int rc = engine.readEndRecord()) {
    errorCode(rc, engine.archivePath);
    return rc;
  }
  return archive::kOk;
}

std::string storedFolder(const archive::TCompress& engine) {
  briefcase::TBriefcaseComment record;
  int level = 0;
  bool newer = false;
  if (engine.comment.empty() || !record.ParseStored(engine.comment, &level, &newer)) return {};
  return record.FolderForThisComputer();
}

void reportFailure(int code, const std::string& path) {
  if (code == archive::kCreateFailed && app::BriefcaseBusy(path))
    error(app::noticeFor(app::LoadOutcome::BriefcaseBusy, path).message());
  else
    errorCode(code, path);
}

std::string normalPath(const std::string& path) {
  std::string abs = absolutePath(path);
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= abs.size()) {
    size_t j = abs.find('/', i);
    if (j == std::string::npos) j = abs.size();
    std::string part = abs.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

}  // namespace brc
