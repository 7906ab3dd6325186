// The update engine against what users and other programs do to a briefcase
// and its files: links to the container, a container changed during a run,
// files changed while they are read, names that differ only in letter case
// or are not UTF-8, paths too long to unload.

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/localscan.h"
#include "archive/extract/restore.h"
#include "archive/replace.h"
#include "platform/strtable.h"
#include "craftzip.h"
#include "stickfs.h"
#include "update_support.h"

using namespace utest;

namespace {

std::string box(const Env& e) { return e.env.root() + "/box"; }

// ---- a briefcase reached through links ----

using Operation = std::function<int(Recorder&, Env&)>;

struct Op {
  const char* name;
  Operation run;
  std::vector<std::string> names;  // entries afterwards
};

const std::vector<Op>& operations() {
  static const std::vector<Op> ops = {
      {"load", [](Recorder& r, Env& e) { return r.load({e.file("c.txt", "c\n")}); },
       {"a.txt", "b.txt", "c.txt"}},
      {"delete", [](Recorder& r, Env&) { return r.remove({"a.txt"}); }, {"b.txt"}},
      {"clear", [](Recorder& r, Env&) { return archive::ClearBriefcase(r.engine); }, {}},
  };
  return ops;
}

void loadTwo(Env& e) {
  Recorder first(e);
  ASSERT_EQ(first.load({e.file("a.txt", "a\n"), e.file("b.txt", "b\n")}), 0);
}

TEST(UpdateHostile, ASymbolicLinkStaysALinkAndTheFileItLeadsToIsReplaced) {
  for (const Op& op : operations()) {
    for (bool linkedFolder : {false, true}) {
      SCOPED_TRACE(std::string(op.name) + (linkedFolder ? " through a linked folder" : " through a link"));
      Env e;
      loadTwo(e);
      const std::string home = e.env.root() + "/home";
      fs::create_directories(home);
      std::string path;
      if (linkedFolder) {
        fs::create_directory_symlink(box(e), home + "/stick");
        path = home + "/stick/b.brc";
      } else {
        fs::create_symlink(e.container, home + "/work.brc");
        path = home + "/work.brc";
      }
      Recorder r(e);
      r.engine.archivePath = path;
      ASSERT_EQ(op.run(r, e), 0);
      ztest::Archive a = ztest::read(e.container);
      ASSERT_TRUE(a.ok) << a.error;
      EXPECT_EQ(a.names(), op.names);
      if (!linkedFolder) {
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::read_symlink(path), e.container);
      }
      EXPECT_EQ(listFolder(box(e)), std::set<std::string>{"b.brc"});
      EXPECT_TRUE(listFolder(e.temp).empty());
    }
  }
}

TEST(UpdateHostile, AContainerWithSeveralNamesIsNotReplaced) {
  for (const Op& op : operations()) {
    SCOPED_TRACE(op.name);
    Env e;
    e.env.set("CARRYVALE_UPDATE", "rewrite");
    loadTwo(e);
    const std::string other = box(e) + "/other.brc";
    ASSERT_EQ(::link(e.container.c_str(), other.c_str()), 0);
    const std::string bytes = readAll(e.container);
    Recorder r(e);
    EXPECT_EQ(op.run(r, e), archive::kMoveFailed);
    EXPECT_TRUE(r.sawPart("has 2 names (hard links)"));
    EXPECT_TRUE(readAll(e.container) == bytes);
    EXPECT_EQ(fs::hard_link_count(other), 2u);
    EXPECT_EQ(listFolder(box(e)), (std::set<std::string>{"b.brc", "other.brc"}));
    // The configuration is rewritten in place, which every name sees.
    r.engine.comment = {'x'};
    EXPECT_EQ(r.engine.rewriteComment(), 0);
    EXPECT_EQ(ztest::read(other).comment, std::vector<uint8_t>{'x'});
  }
  // An append changes the file in place: every name sees the new archive.
  Env e;
  loadTwo(e);
  const std::string other = box(e) + "/other.brc";
  ASSERT_EQ(::link(e.container.c_str(), other.c_str()), 0);
  Recorder r(e);
  EXPECT_EQ(r.load({e.file("c.txt", "c\n")}), 0);
  EXPECT_EQ(ztest::read(other).names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(fs::hard_link_count(other), 2u);
}

// ---- a container changed by another program during a run ----

TEST(UpdateHostile, AContainerChangedDuringTheRunIsNotOverwritten) {
  struct Case {
    const char* what;
    std::function<void(Env&)> change;
  } cases[] = {
      {"renamed over", [](Env& e) {
         const std::string side = e.env.root() + "/side.brc";
         ASSERT_EQ(archive::createContainerAtomically(side, {'o', 't', 'h'}, nullptr, false), 0);
         fs::rename(side, e.container);
       }},
      {"copied over in place", [](Env& e) {
         std::ofstream f(e.container, std::ios::binary | std::ios::trunc);
         f << "PK\x05\x06" << std::string(18, '\0');
       }},
  };
  for (bool rewrite : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (rewrite ? ", rewrite" : ", append"));
      Env e;
      if (rewrite) e.env.set("CARRYVALE_UPDATE", "rewrite");
      loadTwo(e);
      Recorder r(e);
      std::string other;
      r.engine.callbacks.message = [&](const std::string& s) {
        r.messages.push_back(s);
        if (s == plat::loadStr(8068)) {
          c.change(e);
          other = readAll(e.container);
        }
      };
      EXPECT_EQ(r.load({e.file("c.txt", "c\n")}), archive::kInUse);
      // Rewritten in place under an append, the other program's bytes stay
      // and only what the run added after the old end goes.
      const std::string now = readAll(e.container);
      EXPECT_TRUE(now.compare(0, other.size(), other) == 0 &&
                  (rewrite || &c == &cases[0] ? now.size() == other.size()
                                              : now.find("c.txt") == std::string::npos))
          << "the other program's container was replaced";
      EXPECT_TRUE(r.sawPart("was changed or replaced by another program"));
      const std::string kept = r.engine.update.keptArchivePath;
      if (!rewrite) {
        // An append leaves nothing beside it: the files are still to load.
        EXPECT_TRUE(r.sawPart("nothing was added to it"));
        EXPECT_EQ(kept, "");
        EXPECT_EQ(listFolder(box(e)), std::set<std::string>{"b.brc"});
        continue;
      }
      EXPECT_EQ(kept, box(e) + "/b (new).brc");
      EXPECT_TRUE(r.sawPart(kept));
      ztest::Archive a = ztest::read(kept);
      ASSERT_TRUE(a.ok) << a.error;
      EXPECT_EQ(a.names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    }
  }
}

TEST(UpdateHostile, AHeldLockSpansRunsAndCarriesOverToTheNewContainer) {
  Env e;
  loadTwo(e);
  Recorder holder(e), other(e);
  ASSERT_EQ(archive::HoldLock(holder.engine), 0);
  EXPECT_EQ(other.load({e.file("x.txt", "x\n")}), archive::kCreateFailed);
  EXPECT_EQ(archive::ClearBriefcase(other.engine), archive::kCreateFailed);
  // The holder's own runs go on under it, and after each replacement the new
  // container is still locked.
  ASSERT_EQ(holder.load({e.file("c.txt", "c\n")}), 0);
  EXPECT_EQ(other.load({e.file("x.txt", "x\n")}), archive::kCreateFailed);
  ASSERT_EQ(holder.remove({"a.txt"}), 0);
  EXPECT_EQ(other.remove({"b.txt"}), archive::kCreateFailed);
  holder.engine.comment = e.comment;
  ASSERT_EQ(holder.engine.rewriteComment(), 0);
  ASSERT_EQ(holder.remove({"b.txt"}), 0);
  EXPECT_EQ(ztest::read(e.container).names(), std::vector<std::string>{"c.txt"});

  // A container changed between two runs of the holder is left alone.
  setMtime(e.container, 1200000000);
  const std::string bytes = readAll(e.container);
  EXPECT_EQ(holder.remove({"c.txt"}), archive::kInUse);
  EXPECT_TRUE(readAll(e.container) == bytes);
  archive::RefreshLock(holder.engine);
  EXPECT_EQ(holder.remove({"c.txt"}), 0);

  archive::ReleaseLock(holder.engine);
  EXPECT_EQ(other.load({e.file("x.txt", "x\n")}), 0);
}

// ---- files that change while they are read ----

TEST(UpdateHostile, AFileThatChangesWhileItIsReadIsNotStored) {
  struct Case {
    const char* what;
    bool existing;  // the file has an entry already
    std::function<void(const std::string&)> change;
  } cases[] = {
      {"truncated", true, [](const std::string& p) { fs::resize_file(p, 200000); }},
      {"truncated, new", false, [](const std::string& p) { fs::resize_file(p, 200000); }},
      {"grown", true, [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }},
      {"replaced", true, [](const std::string& p) {
         writeFile(p + ".new", "replacement\n");
         fs::rename(p + ".new", p);
       }},
      {"touched", true, [](const std::string& p) { setMtime(p, 1100000000); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Env e;
    const std::string victim = e.local + "/v.bin";
    Recorder first(e);
    std::vector<std::string> names = {e.file("keep.txt", "keep\n")};
    if (c.existing) names.push_back(e.file("v.bin", "first version\n"));
    ASSERT_EQ(first.load(names), 0);
    const ztest::Archive before = ztest::read(e.container);

    writeFile(victim, randomBytes(600000, 3));
    Recorder r(e);
    bool reading = false, changed = false;
    r.engine.callbacks.message = [&](const std::string& s) {
      r.messages.push_back(s);
      reading = s.find("v.bin") != std::string::npos;
    };
    r.onFileProgress = [&] {
      if (reading && !changed) {
        changed = true;
        c.change(victim);
      }
    };
    EXPECT_EQ(r.load({victim, e.file("new.txt", "new\n")}), archive::kFileNotReadable);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(r.sawPart("Warning - " + victim + " changed while it was being loaded"));
    EXPECT_EQ(r.engine.update.notLoaded, std::vector<std::string>{victim});
    ztest::Archive a = ztest::read(e.container);
    ASSERT_TRUE(a.ok) << a.error;
    if (c.existing) {
      EXPECT_EQ(a.names(), (std::vector<std::string>{"keep.txt", "v.bin", "new.txt"}));
      EXPECT_EQ(a.find("v.bin")->raw, before.find("v.bin")->raw);
    } else {
      EXPECT_EQ(a.names(), (std::vector<std::string>{"keep.txt", "new.txt"}));
    }
  }
}

// ---- names ----

TEST(UpdateHostile, NamesAreMatchedByTheirBytesOrByTheNameTheyAreListedBy) {
  Env e;
  const std::string latin1 = "caf\xe9.txt";             // not UTF-8: listed as Windows-1252
  const std::string utf8 = "caf\xc3\xa9.txt";           // the same name as listed
  Recorder r(e);
  ASSERT_EQ(r.load({e.file("Report.txt", "upper\n")}), 0);
  ASSERT_EQ(r.load({e.file("report.txt", "lower\n"), e.file(latin1, "latin-1 name\n")}), 0);
  ztest::Archive a = ztest::read(e.container);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.names(), (std::vector<std::string>{"Report.txt", latin1, "report.txt"}));
  EXPECT_EQ(a.find("Report.txt")->text(), "upper\n");
  EXPECT_EQ(a.find("report.txt")->text(), "lower\n");
  EXPECT_EQ(a.find(latin1)->flags & archive::kFlagUtf8, 0);  // stored as it is, without the flag

  // Deleting one of two names that differ in letter case keeps the other;
  // an entry stored in Windows-1252 is found by the name it is listed by.
  ASSERT_EQ(r.remove({"report.txt", utf8}), 0);
  EXPECT_EQ(ztest::read(e.container).names(), std::vector<std::string>{"Report.txt"});

  // Refreshed from a local file of the listed name, the entry takes that name.
  ASSERT_EQ(r.load({e.local + "/" + latin1}), 0);
  ASSERT_EQ(r.load({e.file(utf8, "utf-8 name\n")}), 0);
  a = ztest::read(e.container);
  EXPECT_EQ(a.names(), (std::vector<std::string>{"Report.txt", utf8}));
  EXPECT_EQ(a.find(utf8)->text(), "utf-8 name\n");
  EXPECT_EQ(a.find(utf8)->flags & archive::kFlagUtf8, archive::kFlagUtf8);

  // Two local files that would be listed alike are refused, both named.
  ASSERT_EQ(r.remove({utf8}), 0);
  EXPECT_EQ(r.load({e.local + "/" + latin1, e.local + "/" + utf8}), archive::kInvalidArguments);
  EXPECT_TRUE(r.sawPart(e.local + "/" + utf8 + " and " + e.local + "/" + latin1));
}

TEST(UpdateHostile, TheFileOfAnEntryIsItsOwnUnderAnySpellingItsFolderTakes) {
  // Of two entries of one name (tools that append) the last is the one a
  // name refreshes; on a stick that ignores letter case, the file of an
  // entry spelled otherwise refreshes that entry under its own name.
  for (bool stick : {false, true}) {
    SCOPED_TRACE(stick);
    Env e;
    testenv::writeBytes(e.container, craftzip::build({craftzip::entry("d.txt", "old d", 0),
                                                      craftzip::entry("d.txt", "new d", 0),
                                                      craftzip::entry("Report.txt", "one", 0)},
                                                     e.comment)
                                         .bytes);
    e.file("d.txt", "newer d");
    e.file("REPORT.TXT", "changed");
    testenv::StickFs disk(e.local, {});
    plat::ScopedFileSystem scoped(stick ? &disk : nullptr);
    Recorder r(e);
    ASSERT_EQ(r.load({e.local + "/d.txt", e.local + "/REPORT.TXT"}), 0);
    const ztest::Archive a = ztest::read(e.container);
    std::vector<std::string> texts;
    for (const auto& x : a.entries) texts.push_back(x.name + "=" + x.text());
    const std::vector<std::string> expected =
        stick ? std::vector<std::string>{"d.txt=old d", "d.txt=newer d", "Report.txt=changed"}
              : std::vector<std::string>{"d.txt=old d", "d.txt=newer d", "Report.txt=one",
                                         "REPORT.TXT=changed"};
    EXPECT_EQ(texts, expected);
  }
}

TEST(UpdateHostile, APathTooLongToUnloadIsNotLoaded) {
  Env e;
  const size_t room = archive::kMaxPath - e.local.size() - 1;  // for the name below the folder
  auto nameOf = [](size_t length) {
    std::string name;
    while (length > 101) name += std::string(100, 'd') + "/", length -= 101;
    return name + std::string(length, 'f');
  };
  const std::string fits = e.file(nameOf(room), "fits\n");
  // One character more than there is room for, in fewer bytes than the bound.
  const std::string tooLong = e.file("x/" + nameOf(room - 2) + "\xc3\xa9", "too long\n");
  Recorder r(e);
  EXPECT_EQ(r.load({tooLong, fits}), archive::kFileNotReadable);
  EXPECT_TRUE(r.sawPart("Warning - " + tooLong + " was not loaded: its path is longer than 259"));
  EXPECT_EQ(r.engine.update.notLoaded, std::vector<std::string>{tooLong});
  EXPECT_EQ(ztest::read(e.container).names(), std::vector<std::string>{fits.substr(e.local.size() + 1)});
}

TEST(UpdateHostile, FoldersTooDeepToScanAreReported) {
  Env e;
  std::string deep = e.local;
  for (int i = 0; i <= app::kMaxScanDepth; ++i) deep += "/d";
  writeFile(deep + "/lost.txt", "x");
  writeFile(e.local + "/found.txt", "y");
  app::ScanRules rules;
  rules.localFolder = e.local;
  std::vector<std::string> found, tooDeep;
  app::ScanLocalFolder(
      rules, [&](const app::LoadCandidate& c) { found.push_back(c.name); },
      [&](const std::string& folder) { tooDeep.push_back(folder); });
  EXPECT_EQ(found, std::vector<std::string>{"found.txt"});
  EXPECT_EQ(tooDeep, std::vector<std::string>{deep});
}

}  // namespace
