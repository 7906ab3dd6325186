// The open briefcase document: opening with its questions, the first visit,
// saving in place, the patterns.

#include <gtest/gtest.h>

#include "archive/layout.h"
#include "briefcase/briefcasedoc.h"
#include "briefcase/open.h"
#include "platform/files.h"
#include "platform/strtable.h"
#include "scriptedasker.h"
#include "testenv.h"

namespace {

using briefcase::TBriefcaseDoc;

struct DocEnv : testenv::Env {
  ScriptedAsker asker;
  plat::ScopedAsker use{&asker};
  bool dirty = false;
  std::vector<std::string> messages;  // the engine's message callback

  briefcase::TBriefcaseDocLinks links() {
    briefcase::TBriefcaseDocLinks l;
    l.callbacks.message = [this](const std::string& s) { messages.push_back(s); };
    l.dirty = [this] { return dirty; };
    l.setDirty = [this](bool d) { dirty = d; };
    return l;
  }
  std::string brc(const std::string& args) {
    return std::string(CARRYVALE_BRC) + " " + args;
  }
  // A briefcase made by brc for `folder` (this computer).
  std::string made(const std::string& name, const std::string& folder,
                   const std::string& extra = "") {
    std::filesystem::create_directories(folder);
    const std::string p = work() + "/" + name;
    EXPECT_EQ(testenv::run(brc("new " + testenv::quote(p) + " --folder " +
                               testenv::quote(folder) + " " + extra)),
              0);
    return p;
  }
  plat::FileTime mtime(const std::string& p) {
    plat::FileInfo i;
    EXPECT_TRUE(plat::fileSystem().stat(p, &i, true));
    return i.writeTime;
  }
};

TEST(BriefcaseDoc, OpenFailuresAskRetryOrCancel) {
  struct Case {
    const char* what;
    std::string bytes;  // "" = no file at all
    std::vector<int> answers;
    int text;
    size_t asked;
    unsigned buttons;
  } cases[] = {
      {"missing, cancelled", "", {plat::mrCancel}, 710, 1, plat::btnRetryCancel},
      {"missing, retried once", "", {plat::mrRetry, plat::mrCancel}, 710, 2, plat::btnRetryCancel},
      {"nobody to ask ends the open", "", {}, 710, 1, plat::btnRetryCancel},
      {"not a container", "plain text, no end record", {plat::mrCancel}, 712, 1,
       plat::btnRetryCancel},
  };
  for (const Case& c : cases) {
    DocEnv env;
    const std::string p = env.work() + "/x.brc";
    if (!c.bytes.empty()) testenv::writeFile(p, c.bytes);
    env.asker.answers.assign(c.answers.begin(), c.answers.end());
    TBriefcaseDoc doc(p, env.links());
    EXPECT_FALSE(doc.Opened()) << c.what;
    ASSERT_EQ(env.asker.messages.size(), c.asked) << c.what;
    for (const auto& m : env.asker.messages) {
      EXPECT_EQ(m.text, plat::loadStr(c.text)) << c.what;
      EXPECT_EQ(m.buttons, c.buttons) << c.what;
      EXPECT_EQ(m.icon, plat::Icon::Warning) << c.what;
      EXPECT_EQ(m.caption, "") << c.what;
    }
    ASSERT_FALSE(env.messages.empty());
    EXPECT_EQ(env.messages.front(), plat::loadStr(802));
  }
}

TEST(BriefcaseDoc, RetryFindsTheContainerPutInPlace) {
  DocEnv env;
  const std::string folder = env.work() + "/local";
  const std::string made = env.made("a.brc", folder);
  const std::string p = env.work() + "/later.brc";
  // The "disk" arrives while the message is shown.
  struct Arriving : ScriptedAsker {
    std::string from, to;
    int message(const plat::MessageQuestion& q) override {
      std::filesystem::copy_file(from, to);
      return ScriptedAsker::message(q);
    }
  } arriving;
  arriving.from = made;
  arriving.to = p;
  arriving.answers = {plat::mrRetry};
  plat::ScopedAsker use(&arriving);
  TBriefcaseDoc doc(p, env.links());
  EXPECT_TRUE(doc.Opened());
  EXPECT_EQ(arriving.messages.size(), 1u);
  EXPECT_EQ(doc.LocalFolder(), folder);
}

TEST(BriefcaseDoc, DamagedConfigurationIsRefusedWithOk) {
  DocEnv env;
  const std::string p = env.work() + "/bad.brc";
  ASSERT_EQ(archive::createContainerAtomically(p, {'1', '.', '2', '0', '4', 0, '9', '9', 0}, nullptr,
                                               true),
            0);
  TBriefcaseDoc doc(p, env.links());
  EXPECT_FALSE(doc.Opened());
  ASSERT_EQ(env.asker.messages.size(), 1u);
  EXPECT_EQ(env.asker.messages[0].text, plat::loadStr(712));
  EXPECT_EQ(env.asker.messages[0].buttons, plat::btnOk);
}

TEST(BriefcaseDoc, FirstVisitAsksOnceAndSavesKeepingTheDate) {
  struct Case {
    const char* what;
    bool emptyComment;  // else: a folder of this computer that no longer exists
  } cases[] = {{"no configuration yet", true}, {"this computer's folder vanished", false}};
  for (const Case& c : cases) {
    DocEnv env;
    const std::string chosen = env.work() + "/chosen";
    std::filesystem::create_directories(chosen);
    std::string p = env.work() + "/b.brc";
    if (c.emptyComment) {
      ASSERT_EQ(archive::createContainerAtomically(p, {}, nullptr, true), 0);
    } else {
      p = env.made("b.brc", env.work() + "/gone", "--include '*.txt'");
      std::filesystem::remove(env.work() + "/gone");
    }
    const plat::FileTime date = env.mtime(p);
    env.asker.folders = {chosen + "/"};
    {
      TBriefcaseDoc doc(p, env.links());
      ASSERT_TRUE(doc.Opened()) << c.what;
      EXPECT_EQ(doc.LocalFolder(), chosen) << c.what;
      EXPECT_TRUE(env.dirty) << c.what;
      EXPECT_EQ(doc.Configuration().folders.count(), 1u) << c.what;
      EXPECT_EQ(doc.Configuration().FolderForThisComputer(), chosen) << c.what;
      EXPECT_TRUE(doc.Save(false));
      EXPECT_FALSE(env.dirty) << c.what;
    }
    EXPECT_EQ(env.mtime(p), date) << c.what << ": saving moved the briefcase date";
    EXPECT_TRUE(env.asker.messages.empty()) << c.what;
    // Opened again: no question, the same folder.
    TBriefcaseDoc again(p, env.links());
    ASSERT_TRUE(again.Opened()) << c.what;
    EXPECT_EQ(again.LocalFolder(), chosen) << c.what;
    EXPECT_FALSE(env.dirty) << c.what;
    EXPECT_EQ(again.Configuration().include, c.emptyComment ? "" : "*.txt") << c.what;
  }
}

TEST(BriefcaseDoc, FirstVisitCancelledEndsTheOpen) {
  DocEnv env;
  const std::string p = env.work() + "/b.brc";
  ASSERT_EQ(archive::createContainerAtomically(p, {}, nullptr, true), 0);
  env.asker.folders = {""};
  TBriefcaseDoc doc(p, env.links());
  EXPECT_FALSE(doc.Opened());
}

TEST(BriefcaseDoc, SaveWritesOnlyWhenDirtyOrForced) {
  DocEnv env;
  const std::string p = env.made("s.brc", env.work() + "/l");
  TBriefcaseDoc doc(p, env.links());
  ASSERT_TRUE(doc.Opened());
  const std::vector<uint8_t> before = testenv::readBytes(p);
  doc.Configuration().include = "*.doc";
  EXPECT_TRUE(doc.Save(false));
  EXPECT_EQ(testenv::readBytes(p), before);
  EXPECT_TRUE(doc.Save(true));
  EXPECT_NE(testenv::readBytes(p), before);
  // A container gone: 724, still dirty, Save still reports success.
  env.dirty = true;
  std::filesystem::remove(p);
  EXPECT_TRUE(doc.Save(false));
  EXPECT_TRUE(env.dirty);
  ASSERT_EQ(env.asker.messages.size(), 1u);
  EXPECT_EQ(env.asker.messages[0].text, plat::loadStr(724));
}

TEST(BriefcaseDoc, PatternsAreSplitOnOpen) {
  DocEnv env;
  std::string many;
  for (int i = 0; i < 31; ++i) many += "*.x" + std::to_string(i) + ";";
  const std::string p =
      env.made("p.brc", env.work() + "/l", "--exclude '*.TMP' --include " + testenv::quote(many));
  TBriefcaseDoc doc(p, env.links());
  ASSERT_TRUE(doc.Opened());
  ASSERT_EQ(env.asker.messages.size(), 1u);
  EXPECT_EQ(env.asker.messages[0].text, plat::loadStr(718));
  EXPECT_EQ(env.asker.messages[0].caption, "Warning");
  EXPECT_EQ(doc.IncludePatterns().patterns.size(), 30u);
  EXPECT_TRUE(doc.IsExcluded("a.tmp"));
  EXPECT_FALSE(doc.IsExcluded("a.txt"));
  EXPECT_TRUE(doc.IsIncluded("b.x29"));
  EXPECT_FALSE(doc.IsIncluded("b.x30"));
}

// The open both front ends share: this computer's folder from the record, or
// a folder given to adopt or only to look at.
TEST(OpenForThisComputer, TheLocalFolderFromTheRecordOrGiven) {
  using briefcase::LocalFolderState;
  struct Case {
    const char* what;
    const char* given;  // under work(); nullptr: none
    bool adopt;
    bool recordFolderGone;
    LocalFolderState state;
    const char* folder;    // the result's, under work()
    const char* recorded;  // this computer's in the record afterwards
    bool changed;
  } cases[] = {
      {"the record's", nullptr, true, false, LocalFolderState::Known, "/l", "/l", false},
      {"the record's, gone", nullptr, true, true, LocalFolderState::Missing, "/l", "/l", false},
      {"adopted", "/other", true, false, LocalFolderState::Known, "/other", "/other", true},
      {"adopted, the same", "/l", true, false, LocalFolderState::Known, "/l", "/l", false},
      {"adopted, not there", "/nowhere", true, false, LocalFolderState::OverrideGone, "", "/l",
       false},
      {"looked at", "/nowhere", false, false, LocalFolderState::Missing, "/nowhere", "/l", false},
  };
  for (const Case& c : cases) {
    DocEnv env;
    const std::string p = env.made("o.brc", env.work() + "/l");
    std::filesystem::create_directories(env.work() + "/other");
    if (c.recordFolderGone) std::filesystem::remove(env.work() + "/l");
    briefcase::OpenRequest request;
    if (c.given) request.folder = briefcase::FolderOverride{env.work() + c.given, c.adopt};
    archive::TCompress engine;
    briefcase::TBriefcaseComment record;
    const briefcase::OpenedBriefcase opened =
        briefcase::OpenForThisComputer(engine, p, record, request);
    EXPECT_EQ(opened.code, archive::kOk) << c.what;
    EXPECT_TRUE(opened.hasRecord) << c.what;
    EXPECT_EQ(opened.folder, c.state) << c.what;
    EXPECT_EQ(opened.localFolder, *c.folder ? env.work() + c.folder : "") << c.what;
    EXPECT_EQ(record.FolderForThisComputer(), env.work() + c.recorded) << c.what;
    EXPECT_EQ(opened.recordChanged, c.changed) << c.what;
  }
}

}  // namespace
