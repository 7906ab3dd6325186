// A new briefcase from the wizard's answers, and the desktop shortcut.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/localscan.h"
#include "archive/compress.h"
#include "briefcase/newbrief.h"
#include "component_env.h"
#include "platform/files.h"
#include "platform/shortcut.h"
#include "scriptedasker.h"
#include "update_support.h"

namespace {

namespace fs = std::filesystem;

// The names in a folder, to see that no temporary file stayed.
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class NewBriefcaseTest : public ::testing::Test {
 protected:
  ComponentEnv env;
  ScriptedAsker asker;
  plat::ScopedAsker scope{&asker};
  briefcase::NewBriefcaseAnswers answers() const {
    briefcase::NewBriefcaseAnswers a;
    a.containerPath = env.path("stick/work.brc");
    a.localFolder = env.work() + "/";
    a.include = "*.doc;*.txt";
    a.exclude = "*.bak";
    a.date = plat::nowFileTime() / plat::kTicksPerSecond * plat::kTicksPerSecond -
             7ULL * 86400 * plat::kTicksPerSecond;
    a.makeShortcut = false;
    return a;
  }
  void SetUp() override { fs::create_directories(env.path("stick")); }
};

}  // namespace

TEST_F(NewBriefcaseTest, CreatesTheContainerWithItsRecordAndDate) {
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    auto a = answers();
    a.compress = compress;
    fs::remove(a.containerPath);
    briefcase::NewBriefcase nb;
    ASSERT_TRUE(briefcase::CreateNewBriefcase(a, &nb));
    EXPECT_TRUE(asker.messages.empty());
    EXPECT_EQ(nb.date, a.date);
    plat::FileInfo info;
    ASSERT_TRUE(plat::fileSystem().stat(a.containerPath, &info, true));
    EXPECT_EQ(info.writeTime, a.date);
    EXPECT_EQ(namesIn(env.path("stick")), std::vector<std::string>{"work.brc"});

    // Reopened: the record holds this computer's folder, the texts and the level.
    archive::TCompress engine;
    engine.archivePath = a.containerPath;
    ASSERT_EQ(engine.readEndRecord(), 0);
    briefcase::TBriefcaseComment record;
    ASSERT_TRUE(record.Parse(engine));
    EXPECT_EQ(record.FolderForThisComputer(), a.localFolder);
    EXPECT_EQ(record.folders.count(), 1u);
    EXPECT_EQ(record.include, "*.doc;*.txt");
    EXPECT_EQ(record.exclude, "*.bak");
    EXPECT_EQ(engine.level, compress ? 6 : 0);
    EXPECT_EQ(nb.includeList.patterns.size(), 2u);
  }
}

// The first scan after New takes exactly the files changed after the date.
TEST_F(NewBriefcaseTest, FilesNewerThanTheDateAreTheCandidates) {
  const auto a = answers();
  const uint64_t day = 86400ULL * plat::kTicksPerSecond;
  const struct {
    const char* name;
    plat::FileTime written;
    bool candidate;
  } files[] = {{"new.doc", a.date + day, true},
               {"new.txt", a.date + 2 * plat::kTicksPerSecond, true},
               {"old.doc", a.date - day, false},
               {"same.doc", a.date, false},
               {"new.bak", a.date + day, false}};
  for (const auto& f : files) {
    const std::string path = env.work() + "/" + f.name;
    testenv::writeFile(path, "x");
    ASSERT_TRUE(plat::fileSystem().setTimes(path, nullptr, &f.written, &f.written));
  }
  briefcase::NewBriefcase nb;
  ASSERT_TRUE(briefcase::CreateNewBriefcase(a, &nb));
  std::vector<std::string> found;
  app::ScanLocalFolder(app::RulesFor(nb.record, nb.localFolder, nb.date),
                       [&](const app::LoadCandidate& c) { found.push_back(c.path); });
  std::sort(found.begin(), found.end());
  std::vector<std::string> expected;
  for (const auto& f : files)
    if (f.candidate) expected.push_back(env.work() + "/" + f.name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
}

TEST_F(NewBriefcaseTest, RefusesWithoutTouchingAnything) {
  testenv::writeFile(env.path("stick/old.brc"), "someone's briefcase");
  fs::create_directories(env.path("stick/folder.brc"));
  const struct {
    const char* path;
    bool consent;
    const char* text;
  } cases[] = {
      {"", false, "No file name"},
      {"stick/old.brc", false, "Could not create new briefcase\n\n"},  // found by the scan
      {"stick/folder.brc", true, "Could not create new briefcase\n\n"},
      {"missing/new.brc", false, "Could not create new briefcase\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto a = answers();
    a.containerPath = *c.path ? env.path(c.path) : "";
    a.replaceConsented = c.consent;
    asker.messages.clear();
    EXPECT_FALSE(briefcase::CreateNewBriefcase(a, nullptr));
    ASSERT_EQ(asker.messages.size(), 1u);
    EXPECT_EQ(asker.messages[0].text.rfind(c.text, 0), 0u) << asker.messages[0].text;
    EXPECT_EQ(asker.messages[0].icon, plat::Icon::Warning);
  }
  EXPECT_EQ(testenv::readText(env.path("stick/old.brc")), "someone's briefcase");
  EXPECT_EQ(namesIn(env.path("stick")), (std::vector<std::string>{"folder.brc", "old.brc"}));

  // The save dialog's consent replaces it; a full disk on the way leaves it.
  auto a = answers();
  a.containerPath = env.path("stick/old.brc");
  a.replaceConsented = true;
  utest::FaultFs faults;
  faults.writeBudget = 10;
  {
    plat::ScopedFileSystem scoped(&faults);
    EXPECT_FALSE(briefcase::CreateNewBriefcase(a, nullptr));
  }
  EXPECT_EQ(testenv::readText(env.path("stick/old.brc")), "someone's briefcase");
  EXPECT_EQ(namesIn(env.path("stick")), (std::vector<std::string>{"folder.brc", "old.brc"}));
  EXPECT_TRUE(briefcase::CreateNewBriefcase(a, nullptr));
  EXPECT_NE(testenv::readText(env.path("stick/old.brc")), "someone's briefcase");
}

TEST_F(NewBriefcaseTest, ShortcutStartsTheInstalledProgramOrTheRunningOne) {
  // Two programs named carryvale: the installed one and one in a build folder.
  const std::string installed = env.path("usr/bin/carryvale");
  const std::string built = env.path("src/build/carryvale");
  for (const std::string& p : {installed, built}) {
    testenv::writeFile(p, "#!/bin/sh\n");
    ASSERT_EQ(chmod(p.c_str(), 0755), 0);
  }
  testenv::writeFile(env.path("bin/carryvale"), "not executable");
  std::filesystem::create_directories(env.path("links"));
  std::filesystem::create_symlink(installed, env.path("links/carryvale"));
  const struct {
    std::string running, path, command;
  } cases[] = {
      {installed, env.path("bin") + ":" + env.path("usr/bin"), "carryvale"},
      {installed, env.path("links"), "carryvale"},  // reached through a link
      {built, env.path("usr/bin"), built},          // the PATH finds another one
      {built, "", built},
      {built, "src/build:" + env.path("bin"), built},  // a relative entry is not ours
      {installed, env.path("src/build") + ":" + env.path("usr/bin"), installed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(plat::launchCommand(c.running, c.path), c.command) << c.running << " " << c.path;
}

TEST_F(NewBriefcaseTest, ShortcutNamesAndEntry) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {{"/media/stick/work.brc", "Shortcut to work"},
               {"/media/stick/data.brcx", "Shortcut to data.brcx"},
               {"/media/stick/a.b", "Shortcut to a.b"},
               {"work.brc", ""}};
  for (const auto& c : cases) EXPECT_EQ(plat::shortcutDisplayName(c.path), c.name) << c.path;

  const std::string desk = env.path("home/Bureau");
  testenv::writeFile(env.path("config/user-dirs.dirs"),
                     "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  EXPECT_EQ(plat::desktopFolder(), desk);

  const std::string target = "/media/my stick/50% \"done\"/work.brc";
  auto a = answers();
  a.makeShortcut = true;
  a.containerPath = env.path("stick/work.brc");
  ASSERT_TRUE(briefcase::CreateNewBriefcase(a, nullptr));
  EXPECT_EQ(plat::CreateDesktopShortcut(target), "Shortcut to work");  // replaces the first
  const std::string file = desk + "/Shortcut to work.desktop";
  // Written for the running program (this test, not installed as carryvale).
  EXPECT_EQ(testenv::readText(file),
            plat::desktopEntryText("Shortcut to work", target, plat::executablePath()));
  EXPECT_EQ(plat::desktopEntryText("Shortcut to work", target, "carryvale"),
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Shortcut to work\n"
            "Exec=carryvale \"/media/my stick/50%% \\\\\"done\\\\\"/work.brc\"\n"
            "Icon=carryvale\nTerminal=false\n");
  EXPECT_EQ(plat::desktopEntryText("S", "/w.brc", "/opt/my apps/carryvale"),
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=S\n"
            "Exec=\"/opt/my apps/carryvale\" \"/w.brc\"\nIcon=carryvale\nTerminal=false\n");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(namesIn(desk), std::vector<std::string>{"Shortcut to work.desktop"});
  EXPECT_TRUE(asker.messages.empty());

  // A failed replacement is told once and leaves the old shortcut and nothing
  // else; a name without a folder tells nothing.
  const std::string before = testenv::readText(file);
  utest::FaultFs faults;
  faults.failRename = true;
  {
    plat::ScopedFileSystem scoped(&faults);
    EXPECT_EQ(plat::CreateDesktopShortcut("/media/stick/work.brc"), "");
    EXPECT_EQ(plat::CreateDesktopShortcut("other.brc"), "");
  }
  EXPECT_EQ(testenv::readText(file), before);
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "Could not create shortcut");
  EXPECT_EQ(asker.messages[0].caption, "");
  EXPECT_EQ(namesIn(desk), std::vector<std::string>{"Shortcut to work.desktop"});
}
