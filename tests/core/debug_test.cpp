#include "components/debug.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "component_env.h"
#include "platform/diag.h"
#include "platform/paths.h"
#include "platform/regstore.h"

namespace {


class DebugHelper : public ::testing::Test {
 protected:
  void SetUp() override { logPath = env.root() + "/log/carryvale.log"; }

  // A helper as the main window sets it up, on a clock the test moves.
  std::unique_ptr<TDebugHelper> make() {
    auto h = std::make_unique<TDebugHelper>([this] { return now.load(); });
    h->Storage().SetKey(cvreg::kAppKey);
    h->SetLogFilePath(logPath);
    return h;
  }

  void setDebug(int32_t v) {
    TJStorage s;
    s.SetKey(cvreg::kAppKey);
    s.Open();
    s.WriteInteger("debug", v);
  }

  std::optional<plat::RegValue> storedDebug() {
    return plat::SettingsStore(env.configDir())
        .value(std::string("HKEY_CURRENT_USER\\") + cvreg::kAppKey, "debug");
  }

  ComponentEnv env;
  std::string logPath;
  std::atomic<uint32_t> now{5000};
};

TEST_F(DebugHelper, LineFormatWithFixedClock) {
  setDebug(1);
  auto h = make();
  now = 5000 + 1234;
  h->Output("Opening briefcase");
  now = 5000;
  h->Output("at once");
  now = 5000 + 98765432;
  h->Output("");
  EXPECT_EQ(testenv::readText(logPath),
            "      1234ms :Opening briefcase\n"
            "         0ms :at once\n"
            "  98765432ms :\n");
}

TEST_F(DebugHelper, ElapsedTimeWrapsAt32Bits) {
  setDebug(1);
  now = 0xFFFFFF00u;
  auto h = make();
  now = 0x100;
  h->Output("x");
  EXPECT_EQ(testenv::readText(logPath), "       512ms :x\n");
}

TEST_F(DebugHelper, FirstRunCreatesDebugSwitchOff) {
  auto h = make();
  EXPECT_FALSE(storedDebug().has_value());
  h->Output("status");
  EXPECT_EQ(storedDebug(), plat::RegValue::ofInt(0));
  EXPECT_FALSE(h->LogOpen());
  EXPECT_FALSE(std::filesystem::exists(logPath));
  EXPECT_FALSE(h->Storage().IsOpen());
}

TEST_F(DebugHelper, SwitchingDebugWhileRunning) {
  auto h = make();
  h->Output("before");
  setDebug(1);  // switched on from outside while the program runs
  now = 5010;
  h->Output("first");
  EXPECT_TRUE(h->LogOpen());
  setDebug(0);
  h->Output("while off");
  EXPECT_TRUE(h->LogOpen());  // stays open until the end
  setDebug(7);                // any non-zero value is on
  now = 5020;
  h->Output("again");
  EXPECT_EQ(testenv::readText(logPath), "        10ms :first\n        20ms :again\n");
  h.reset();
  // A new run starts a fresh log with its first line.
  auto h2 = make();
  h2->Output("new run");
  EXPECT_EQ(testenv::readText(logPath), "         0ms :new run\n");
}

TEST_F(DebugHelper, AnUnchangedSettingsFileIsNotReadAgain) {
  auto h = make();
  h->Output("off");
  // The file as it stands, settled (written a minute ago).
  const std::string file = env.configDir() + "/settings";
  const auto minuteAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1);
  std::filesystem::last_write_time(file, minuteAgo);
  h->Output("still off");
  // The switch turned on behind the store's back, in place, with the same
  // size and time: not seen, since the file was not read again ...
  std::string text = testenv::readText(file);
  const size_t at = text.find("debug\t0");
  ASSERT_NE(at, std::string::npos);
  text[at + 6] = '1';
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  std::filesystem::last_write_time(file, minuteAgo);
  h->Output("not seen");
  EXPECT_FALSE(h->LogOpen());
  // ... until its time moves.
  std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now());
  h->Output("seen");
  EXPECT_EQ(testenv::readText(logPath), "         0ms :seen\n");
}

TEST_F(DebugHelper, SetActiveWritesTheSwitchAndRestoresStorageState) {
  auto h = make();
  h->SetActive(true);
  EXPECT_EQ(storedDebug(), plat::RegValue::ofInt(1));
  EXPECT_FALSE(h->Storage().IsOpen());
  h->Storage().Open();
  EXPECT_TRUE(h->GetActive());
  EXPECT_TRUE(h->Storage().IsOpen());  // open before, open after
  h->SetActive(false);
  EXPECT_TRUE(h->Storage().IsOpen());
  EXPECT_FALSE(h->GetActive());
}

TEST_F(DebugHelper, FixedStateLeavesRegistryAlone) {
  auto h = make();
  h->SetActiveOnCreation(aocYes);
  h->Output("forced on");
  h->SetActiveOnCreation(aocNo);
  h->Output("no more: the state is kept while the log is open");
  h->SetActive(false);
  h->Output("off");
  EXPECT_FALSE(storedDebug().has_value());
  EXPECT_EQ(testenv::readText(logPath), "         0ms :forced on\n"
                               "         0ms :no more: the state is kept while the log is open\n");
}

TEST_F(DebugHelper, UncreatableLogDropsLinesSilently) {
  setDebug(1);
  std::filesystem::create_directories(env.root() + "/log");
  { std::ofstream(env.root() + "/log/blocker") << "a file, not a folder"; }
  auto h = make();
  h->SetLogFilePath(env.root() + "/log/blocker/x.log");
  h->Output("lost");
  EXPECT_FALSE(h->LogOpen());
  std::filesystem::remove(env.root() + "/log/blocker");
  h->Output("lost too: no second try in this run");
  EXPECT_FALSE(h->LogOpen());
}

TEST_F(DebugHelper, DefaultLogPathIsThePlatformsOne) {
  TDebugHelper h;
  EXPECT_EQ(h.Storage().Key(), "Software");
  EXPECT_EQ(h.LogFilePath(), plat::logFilePath());
}

TEST_F(DebugHelper, ReceivesCoreDiagnosticsUntilDestroyed) {
  setDebug(1);
  auto h = make();
  h->InstallAsDiagReceiver();
  plat::diag("from the core");
  // Lines may also come from another thread.
  std::thread t([] {
    for (int i = 0; i < 20; ++i) plat::diag("worker line");
  });
  for (int i = 0; i < 20; ++i) h->Output("ui line");
  t.join();
  h.reset();
  plat::diag("after the helper is gone");  // dropped, no crash
  std::string log = testenv::readText(logPath);
  EXPECT_EQ(log.rfind("         0ms :from the core\n", 0), 0u);
  size_t lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 41u);
  EXPECT_EQ(log.find("after"), std::string::npos);
}

}  // namespace
