#pragma once
// Two computers and one briefcase: each computer has its own id and its own
// state folder (so its own carry record and history); the workflows are the
// ones the window and brc share. The world starts with a briefcase on a
// stick, loaded by A with a.txt and b.txt and unloaded by B: both computers
// hold both files and have carried them.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/localscan.h"
#include "app/operations.h"
#include "archive/compress.h"
#include "archive/errors.h"
#include "briefcase/brdate.h"
#include "briefcase/open.h"
#include "carry/tracker.h"
#include "scriptedasker.h"
#include "testenv.h"

namespace two {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct Computer {
  std::string id, state, folder;
};

struct World {
  testenv::Env env{"AAAA1111"};
  ScriptedAsker asker;
  plat::ScopedAsker useAsker{&asker};
  Computer a{"AAAA1111", env.path("stateA"), env.work() + "/home"};
  Computer b{"BBBB2222", env.path("stateB"), env.work() + "/office"};
  std::string bc = env.work() + "/stick/carry.brc";

  // With a password the briefcase is encrypted from its first load on.
  std::optional<std::string> password;
  explicit World(std::optional<std::string> pw = std::nullopt) : password(std::move(pw)) {
    for (const auto& d : {a.folder, b.folder, env.work() + "/stick"}) fs::create_directories(d);
    write(a, "a.txt", "a1");
    write(a, "b.txt", "b1");
    EXPECT_EQ(testenv::run("CARRYVALE_COMPUTER_ID=AAAA1111 XDG_STATE_HOME=" + a.state + " " +
                           CARRYVALE_BRC + " new " + testenv::quote(bc) + " --folder " +
                           testenv::quote(a.folder) + " --days 1 2>&1"),
              0);
    EXPECT_EQ(load(a).code, archive::kOk);
    EXPECT_EQ(unload(b, app::ReplaceMode::YesToAll, app::AfterUnload::Keep).code, archive::kOk);
  }

  void as(const Computer& c) {
    env.set("XDG_STATE_HOME", c.state);
    env.set("CARRYVALE_COMPUTER_ID", c.id);
  }
  static void write(const Computer& c, const std::string& rel, const std::string& text) {
    testenv::writeFile(c.folder + "/" + rel, text);
  }
  static std::string text(const Computer& c, const std::string& rel) {
    return testenv::readText(c.folder + "/" + rel);
  }

  struct Opened {
    archive::TCompress engine;
    briefcase::TBriefcaseComment record;
    std::function<void()> store;
  };
  std::unique_ptr<Opened> open(const Computer& c) {
    as(c);
    auto o = std::make_unique<Opened>();
    briefcase::OpenRequest request;
    request.folder = briefcase::FolderOverride{c.folder, true};
    const briefcase::OpenedBriefcase opened =
        briefcase::OpenForThisComputer(o->engine, bc, o->record, request);
    EXPECT_EQ(opened.code, archive::kOk);
    o->store = [p = o.get()] { p->record.Build(p->engine); };
    if (password) o->engine.password = archive::aes::Password(*password);
    if (opened.recordChanged) app::StoreConfigurationKeepingDate(o->engine, o->store);
    return o;
  }

  // The load candidates, by relative path.
  Strings candidates(const Computer& c) {
    auto o = open(c);
    plat::FileTime date = 0;
    briefcase::ReadBriefcaseDate(bc, &date);
    app::ScanRules rules = app::RulesFor(o->record, c.folder, date);
    const auto tracker = app::TrackFor(bc, &rules);
    Strings out;
    app::ScanLocalFolder(rules, [&](const app::LoadCandidate& x) {
      out.push_back(carry::relativePath(x.relativeFolder, x.name));
    });
    std::sort(out.begin(), out.end());
    return out;
  }

  // Loads the files given, or every candidate as a load of all rows does.
  app::LoadResult load(const Computer& c, const Strings& rels = {},
                       const std::function<void(archive::TCompress&)>& arm = {}) {
    std::optional<int64_t> scanned;
    Strings files;
    if (rels.empty()) {
      scanned = carry::nowNs();
      for (const std::string& r : candidates(c)) files.push_back(c.folder + "/" + r);
    } else {
      for (const std::string& r : rels) files.push_back(c.folder + "/" + r);
    }
    auto o = open(c);
    if (arm) arm(o->engine);
    app::LoadRequest request{files, c.folder, o->store};
    request.everyCandidateSince = scanned;
    return app::Load(o->engine, request);
  }

  app::UnloadResult unload(const Computer& c, app::ReplaceMode mode, app::AfterUnload after) {
    auto o = open(c);
    app::UnloadRequest request;
    request.localFolder = c.folder;
    request.replace = mode;
    request.after = after;
    request.space = app::SpaceCheck::Refuse;
    request.storeConfiguration = o->store;
    request.otherComputer = o->record.OtherComputerId();
    return app::Unload(o->engine, request);
  }

  int remove(const Computer& c, const Strings& names) {
    auto o = open(c);
    return app::RemoveEntries(o->engine, names, o->store);
  }
};

}  // namespace two
