#include "brc/briefcase_cmd.h"

#include <cstring>
#include <vector>

#include "app/operations.h"
#include "archive/errors.h"
#include "archive/update/update.h"
#include "brc/cli.h"
#include "brc/progress.h"
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

int openBriefcase(const std::string& command, const std::string& path,
                  archive::TCompress& engine, briefcase::TBriefcaseComment& record) {
  engine.archivePath = path;
  engine.callbacks.configMessage = [](const std::string& s) { error(s); };
  int rc = engine.readEndRecord();
  engine.callbacks.configMessage = nullptr;
  if (rc) {
    errorCode(rc, path);
    return rc;
  }
  if (engine.comment.empty()) return archive::kOk;
  if (!record.Parse(engine)) {
    // A newer record was already reported by Parse itself.
    if (std::strcmp(record.version.c_str(), briefcase::kRecordVersion) <= 0)
      error("brc " + command + ": " + plat::loadStr(plat::kStrCorruptConfiguration));
    return archive::kInvalidComment;
  }
  return archive::kOk;
}

int localFolderFor(const std::string& command, const Args& args,
                   briefcase::TBriefcaseComment& record, std::string* folder, bool* changed) {
  *changed = false;
  if (args.has("--folder")) {
    const std::string wanted = normalPath(args.value("--folder"));
    if (!plat::folderExists(wanted)) {
      error("brc " + command + ": the local folder " + wanted + " does not exist or is not a folder.");
      return archive::kBadParameters;
    }
    if (record.FolderForThisComputer() != wanted) {
      if (record.FolderForThisComputer().empty())
        record.AddEntry(wanted);
      else
        record.SetFolderForThisComputer(wanted);
      if (record.FolderForThisComputer().empty()) {
        error("brc " + command + ": the briefcase's folder table is full (30 computers); no "
              "folder can be added for this computer.");
        return archive::kBadParameters;
      }
      *changed = true;
    }
  }
  *folder = record.FolderForThisComputer();
  if (folder->empty()) {
    error("brc " + command + ": the briefcase has no local folder for this computer; give it "
          "with --folder DIR.");
    return archive::kBadParameters;
  }
  return archive::kOk;
}

int removeEntries(archive::TCompress& engine, briefcase::TBriefcaseComment& record,
                  bool storeRecord, const std::vector<std::string>& names) {
  Progress progress;
  progress.attach(engine);
  std::function<void()> store;
  if (storeRecord) store = [&] { record.Build(engine); };
  int rc = app::RemoveEntries(engine, names, store);
  progress.finish();
  return rc;
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
