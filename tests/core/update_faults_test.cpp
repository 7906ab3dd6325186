// The update engine under injected failures: a container that cannot be
// written or opened, a disk that fills up, a rename that fails, the copy
// over the container and its free-space refusal.

#include <gtest/gtest.h>

#include "platform/strtable.h"
#include "archive/leftovers.h"
#include "update_support.h"

using namespace utest;

namespace {

struct Loaded {
  Env e;
  std::string bytes;
  std::vector<std::string> names;
  Loaded() {
    Recorder r(e);
    if (r.load({e.file("a.txt", textBytes(30000, 1)), e.file("b.bin", randomBytes(50000, 2))}))
      throw std::runtime_error("first load failed");
    bytes = readAll(e.container);
    names = {e.file("c.txt", textBytes(200000, 3)), e.file("a.txt", textBytes(31000, 4))};
  }
  std::string box() const { return e.env.root() + "/box"; }
  void expectUnchanged() const {
    EXPECT_TRUE(readAll(e.container) == bytes) << "the container changed";
    EXPECT_EQ(listFolder(box()), std::set<std::string>{"b.brc"});
    EXPECT_TRUE(listFolder(e.temp).empty());
  }
};

TEST(UpdateFaults, AReadOnlyContainerAsksTheWriteProtectedQuestion) {
  Loaded l;
  FaultFs faults;
  faults.openError = [&](const std::string& p, plat::Access a) {
    return p == l.e.container && a != plat::Access::Read ? EACCES : 0;
  };
  plat::ScopedFileSystem scoped(&faults);
  Recorder r(l.e);
  std::vector<std::string> asked;
  r.engine.callbacks.writeProtected = [&](const std::string& path, bool& abort) {
    asked.push_back(path);
    abort = asked.size() == 2;  // Retry once, then Cancel
  };
  EXPECT_EQ(r.load(l.names), archive::kWriteProtected);
  EXPECT_EQ(asked, (std::vector<std::string>{l.e.container, l.e.container}));
  EXPECT_EQ(faults.tempsCreated, 0);
  l.expectUnchanged();

  // Without the callback the run fails at once.
  r.engine.callbacks.writeProtected = nullptr;
  EXPECT_EQ(r.load(l.names), archive::kWriteProtected);
}

TEST(UpdateFaults, AContainerThatCannotBeOpenedAsksTheOpenFailedQuestion) {
  Loaded l;
  FaultFs faults;
  int failures = 1;
  faults.openError = [&](const std::string& p, plat::Access a) {
    return p == l.e.container && a == plat::Access::ReadWrite && failures-- > 0 ? EIO : 0;
  };
  plat::ScopedFileSystem scoped(&faults);
  Recorder r(l.e);
  int openAsked = 0, protectedAsked = 0;
  r.engine.callbacks.openFailed = [&](bool& abort) {
    ++openAsked;
    abort = false;
  };
  r.engine.callbacks.writeProtected = [&](const std::string&, bool& abort) {
    ++protectedAsked;
    abort = false;  // Retry: the second attempt opens it
  };
  EXPECT_EQ(r.load(l.names), 0);
  EXPECT_EQ(openAsked, 1);
  EXPECT_EQ(protectedAsked, 1);

  failures = 1;
  r.engine.callbacks.openFailed = nullptr;
  std::string now = readAll(l.e.container);
  EXPECT_EQ(r.load(l.names), archive::kCreateFailed);
  EXPECT_TRUE(r.saw(plat::loadStr(8034)));
  EXPECT_TRUE(readAll(l.e.container) == now);
}

TEST(UpdateFaults, ASecondRunFindsTheContainerLocked) {
  Loaded l;
  // Another run holds the lock for the whole of its run.
  auto other = plat::fileSystem().open(l.e.container, plat::Access::ReadWrite,
                                       plat::Disposition::OpenExisting);
  ASSERT_TRUE(other && other->lockExclusive());
  Recorder r(l.e);
  int asked = 0;
  r.engine.callbacks.openFailed = [&](bool& abort) {
    ++asked;
    abort = true;
  };
  EXPECT_EQ(r.load(l.names), archive::kCreateFailed);
  EXPECT_EQ(asked, 1);
  l.expectUnchanged();
  // Nor does a clear replace it meanwhile.
  EXPECT_EQ(archive::ClearBriefcase(r.engine), archive::kCreateFailed);
  l.expectUnchanged();
  other.reset();
  EXPECT_EQ(r.load(l.names), 0);
}

TEST(UpdateFaults, ADiskThatFillsUpMidRunLeavesTheOldContainer) {
  int64_t full = 0;
  {
    Loaded l;
    Recorder r(l.e);
    ASSERT_EQ(r.load(l.names), 0);
    full = static_cast<int64_t>(fs::file_size(l.e.container));
  }
  // The disk fills up in the first header, in the copied entries, in a new
  // entry's data and in the central directory.
  for (int64_t budget : {int64_t(10), full / 4, full * 3 / 4, full - 60}) {
    SCOPED_TRACE(budget);
    Loaded l;
    FaultFs faults;
    faults.writeBudget = budget;
    plat::ScopedFileSystem scoped(&faults);
    Recorder r(l.e);
    EXPECT_EQ(r.load(l.names), archive::kDiskMayBeFull);
    EXPECT_TRUE(r.sawPart(archive::errorText(archive::kDiskMayBeFull)));
    l.expectUnchanged();
  }
}

TEST(UpdateFaults, AFailedRenameLeavesTheOldContainerAndNoTemporaryFile) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed);
    Loaded l;
    FaultFs faults;
    faults.unnamedSupported = unnamed;
    faults.failRename = true;
    plat::ScopedFileSystem scoped(&faults);
    Recorder r(l.e);
    EXPECT_EQ(r.load(l.names), archive::kMoveFailed);
    // "Error 57 while replacing file", then the run's error in the context.
    EXPECT_TRUE(r.saw(plat::loadStrFmt(8053, archive::kMoveFailed)));
    EXPECT_TRUE(r.sawPart(plat::loadStr(8039)));
    l.expectUnchanged();
  }
}

TEST(UpdateFaults, NamedTemporaryFilesWorkWhereUnnamedOnesCannot) {
  Loaded l;
  FaultFs faults;
  faults.unnamedSupported = false;
  std::string renamedFrom;
  faults.beforeRename = [&](const std::string& from, const std::string&) { renamedFrom = from; };
  plat::ScopedFileSystem scoped(&faults);
  Recorder r(l.e);
  ASSERT_EQ(r.load(l.names), 0);
  EXPECT_EQ(plat::parentFolder(renamedFrom), l.box());
  int pid = 0;
  EXPECT_TRUE(archive::isTemporaryName(plat::fileNamePart(renamedFrom), archive::TempKind::Container, &pid))
      << renamedFrom;
  EXPECT_TRUE(ztest::read(l.e.container).ok);
  EXPECT_EQ(listFolder(l.box()), std::set<std::string>{"b.brc"});
}

TEST(UpdateFaults, WithRoomForTheExactSizeTheCopyIsMadeNextToTheContainer) {
  Loaded l;
  FaultFs faults;
  // Less than the worst case of the new archive, more than its real size.
  faults.freeFor[l.box()] = (1u << 20) + 250000;
  std::vector<std::string> renamed;
  faults.beforeRename = [&](const std::string& from, const std::string&) { renamed.push_back(from); };
  plat::ScopedFileSystem scoped(&faults);
  Recorder r(l.e);
  ASSERT_EQ(r.load(l.names), 0);
  ASSERT_EQ(renamed.size(), 1u);
  EXPECT_EQ(plat::parentFolder(renamed[0]), l.box());
  EXPECT_TRUE(ztest::read(l.e.container).ok);
  EXPECT_EQ(listFolder(l.box()), std::set<std::string>{"b.brc"});
  EXPECT_TRUE(listFolder(l.e.temp).empty());
}

// The container is never overwritten in place: without room for the new
// archive beside it, the run is refused with 29 and says how much is needed.
TEST(UpdateFaults, WithoutRoomBesideTheContainerTheRunIsRefusedWith29) {
  struct Case {
    const char* what;
    uint64_t free;          // reported for the container's folder
    int64_t budgetBeside;   // bytes the copy beside the container may write (-1: all)
  } cases[] = {
      {"old room would have sufficed", 40000, -1},
      {"hardly any room", 100, -1},
      {"room reported, the copy beside falls short", 600000, 20000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Loaded l;
    FaultFs faults;
    faults.freeFor[l.box()] = c.free;
    plat::ScopedFileSystem scoped(&faults);
    Recorder r(l.e);
    r.engine.callbacks.message = [&](const std::string& s) {
      r.messages.push_back(s);
      // The budget starts as the new archive is finished (then comes the copy).
      if (s == plat::loadStr(8068) && c.budgetBeside >= 0) faults.writeBudget = c.budgetBeside;
    };
    EXPECT_EQ(r.load(l.names), archive::kDiskMayBeFull);
    EXPECT_TRUE(r.sawPart("There is no room for the new briefcase beside " + l.e.container));
    EXPECT_TRUE(r.sawPart("bytes free"));
    EXPECT_TRUE(r.engine.update.keptArchivePath.empty());
    l.expectUnchanged();
  }
}

}  // namespace

// Save As: the container copied whole to a new name, or to a file the user
// agreed to replace, in one step; every failure leaves both names as they
// were and no temporary file.
TEST(CopyContainer, CopiesWholeOrLeavesBothAsTheyWere) {
  const struct {
    const char* situation;
    bool replace;
    int rc;
    bool copied;  // the target holds the briefcase afterwards
  } cases[] = {
      {"new name", false, archive::kOk, true},
      {"other file", true, archive::kOk, true},
      {"other file, not agreed", false, archive::kMoveFailed, false},
      {"link to the briefcase", true, archive::kMoveFailed, false},
      {"folder", true, archive::kMoveFailed, false},
      {"disk fills up", false, archive::kDiskMayBeFull, false},
      {"other file, disk fills up", true, archive::kDiskMayBeFull, false},
      {"other file, rename fails", true, archive::kMoveFailed, false},
      {"briefcase in use", false, archive::kCreateFailed, false},
      {"other file in use", true, archive::kCreateFailed, false},
  };
  for (const auto& c : cases) {
    const std::string what = c.situation;
    SCOPED_TRACE(what);
    Loaded l;
    setMtime(l.e.container, 1700000000);  // the briefcase date
    ASSERT_EQ(chmod(l.e.container.c_str(), 0640), 0);
    const std::string other = l.e.env.root() + "/stick";
    fs::create_directories(other);
    std::string target = other + "/copy.brc";
    std::string before;  // what the target holds before
    if (what.rfind("other file", 0) == 0) {
      writeFile(target, "someone's file");
      before = "someone's file";
    }
    if (what == "link to the briefcase") fs::create_symlink(l.e.container, target);
    if (what == "folder") fs::create_directories(target);
    FaultFs faults;
    if (what.find("fills up") != std::string::npos) faults.writeBudget = 1000;
    if (what.find("rename fails") != std::string::npos) faults.failRename = true;
    std::unique_ptr<plat::File> holder;  // another run's lock
    if (what.find("in use") != std::string::npos) {
      holder = plat::fileSystem().open(what == "briefcase in use" ? l.e.container : target,
                                       plat::Access::ReadWrite, plat::Disposition::OpenExisting);
      ASSERT_TRUE(holder && holder->lockExclusive());
    }
    std::string message;
    {
      plat::ScopedFileSystem scoped(&faults);
      EXPECT_EQ(archive::copyContainer(l.e.container, target, c.replace, &message), c.rc);
    }
    EXPECT_EQ(message.empty(), c.rc == archive::kOk) << message;
    l.expectUnchanged();
    if (c.copied) {
      EXPECT_TRUE(readAll(target) == l.bytes);
      struct stat st {};
      ASSERT_EQ(::stat(target.c_str(), &st), 0);
      EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
      // A new file takes the briefcase's permissions, a replaced one keeps its own.
      EXPECT_EQ(st.st_mode & 0777, before.empty() ? 0640u : 0644u);
    } else if (!before.empty()) {
      EXPECT_EQ(readAll(target), before);
    } else if (what != "link to the briefcase" && what != "folder") {
      EXPECT_FALSE(fs::exists(target));
    }
    std::set<std::string> expected{"copy.brc"};
    if (before.empty() && !c.copied && what != "link to the briefcase" && what != "folder")
      expected.clear();
    EXPECT_EQ(listFolder(other), expected);
  }
}
