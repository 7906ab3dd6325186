#include "components/jstore.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "component_env.h"
#include "components/setting.h"
#include "platform/regstore.h"

namespace {


std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EJStorageError& e) {
    return e.what();
  }
  return "(no error)";
}

class JStorage : public ::testing::Test {
 protected:
  ComponentEnv env;
};

TEST_F(JStorage, TypedReadsFallBackToDefaults) {
  TJStorage s;
  s.SetKey(cvreg::kAppKey);
  s.Open();
  EXPECT_EQ(s.ReadString("missing", "dflt"), "dflt");
  EXPECT_FALSE(s.ValueExists("missing"));  // reading creates nothing
  EXPECT_EQ(s.ReadInteger("missing", -5), -5);
  EXPECT_TRUE(s.ReadBool("missing", true));

  s.WriteString("text", "1");
  EXPECT_EQ(s.ReadString("text", "d"), "1");
  EXPECT_FALSE(s.ReadBool("text", false));  // a text is not a boolean
  EXPECT_EQ(s.ReadInteger("text", 42), 42);

  s.WriteInteger("num", -123456);
  EXPECT_EQ(s.ReadInteger("num", 0), -123456);
  EXPECT_EQ(s.ReadString("num", "d"), "d");  // nor is an integer a text
  EXPECT_TRUE(s.ReadBool("num", false));     // any non-zero integer is true
  s.WriteInteger("num", 0);
  EXPECT_FALSE(s.ReadBool("num", true));
  s.WriteBool("flag", true);
  EXPECT_EQ(s.ReadInteger("flag", 0), 1);

  // Value names ignore ASCII case.
  EXPECT_EQ(s.ReadInteger("NUM", 9), 0);
  s.WriteString("Text", "2");
  EXPECT_EQ(s.ReadString("TEXT", ""), "2");
}

TEST_F(JStorage, ClosedStorageAndBlankKeyRaise) {
  TJStorage s;
  EXPECT_EQ(errorOf([&] { s.ReadString("a", ""); }), "JStorage not Open");
  EXPECT_EQ(errorOf([&] { s.WriteInteger("a", 1); }), "JStorage not Open");
  EXPECT_EQ(errorOf([&] { s.Open(); }), "Cannot open registry because TJStorage.Key is blank");
  EXPECT_FALSE(s.IsOpen());
  EXPECT_EQ(errorOf([&] { s.ReadBool("a", false); }), "JStorage not Open");
  s.SetKey("Software\\Test");
  s.Open();
  s.Open();  // a second Open changes nothing
  EXPECT_TRUE(s.IsOpen());
  s.Close();
  EXPECT_EQ(errorOf([&] { s.WriteString("a", "x"); }), "JStorage not Open");
}

TEST_F(JStorage, OpenCreatesKeyPathUnderItsRoot) {
  plat::SettingsStore store(plat::SettingsStore::defaultFolder());
  EXPECT_EQ(store.folder(), env.configDir());
  TJStorage s;
  s.SetKey(cvreg::kMruKey);
  s.Open();
  EXPECT_TRUE(store.keyExists("HKEY_CURRENT_USER\\Software\\Quillmarsh Software\\Carryvale\\MRU"));
  EXPECT_TRUE(store.keyExists("hkey_current_user\\software"));
  EXPECT_EQ(store.subKeys("HKEY_CURRENT_USER\\Software\\Quillmarsh Software\\Carryvale"),
            std::vector<std::string>{"MRU"});
  s.WriteInteger("Count", 2);

  TJStorage other;
  other.SetKey(cvreg::kMruKey);
  other.SetRegistryRootKey(atrkLocalMachine);
  other.Open();
  EXPECT_EQ(other.ReadInteger("Count", -1), -1);  // roots are kept apart
}

TEST_F(JStorage, KeyAndRootChangesWhileOpen) {
  TJStorage s;
  s.SetKey("Software\\A");
  s.Open();
  s.WriteString("v", "in A");
  s.SetKey("Software\\B");
  ASSERT_TRUE(s.IsOpen());  // re-opened on the new key
  EXPECT_EQ(s.ReadString("v", "none"), "none");
  s.WriteString("v", "in B");
  s.SetRegistryRootKey(atrkCurrentConfig);
  ASSERT_TRUE(s.IsOpen());
  EXPECT_EQ(s.ReadString("v", "none"), "none");
  s.SetRegistryRootKey(atrkCurrentUser);
  EXPECT_EQ(s.ReadString("v", "none"), "in B");
  s.SetKey("");
  EXPECT_FALSE(s.IsOpen());  // an empty key leaves it closed
  s.SetKey("Software\\A");
  EXPECT_FALSE(s.IsOpen());  // a closed storage stays closed
  s.Open();
  EXPECT_EQ(s.ReadString("v", "none"), "in A");
}

TEST_F(JStorage, AssignCopiesKeyRootOwnerAndOpenState) {
  int ownerA = 0, ownerB = 0;
  TJStorage src(&ownerA), dst(&ownerB);
  src.SetKey("Software\\Src");
  src.SetRegistryRootKey(atrkUsers);
  dst.SetKey("Software\\Dst");
  dst.Open();
  dst.Assign(src);
  EXPECT_EQ(dst.Key(), "Software\\Src");
  EXPECT_EQ(dst.RegistryRootKey(), atrkUsers);
  EXPECT_EQ(dst.Owner(), &ownerA);
  EXPECT_FALSE(dst.IsOpen());  // the source is closed
  src.Open();
  src.WriteInteger("x", 5);
  dst.Assign(src);
  ASSERT_TRUE(dst.IsOpen());
  EXPECT_EQ(dst.ReadInteger("x", 0), 5);
}

TEST_F(JStorage, WritesSeenAcrossStorageObjects) {
  TJStorage a, b;
  a.SetKey(cvreg::kAppKey);
  b.SetKey(cvreg::kAppKey);
  a.Open();
  b.Open();
  a.WriteString("one", "1");
  EXPECT_EQ(b.ReadString("one", ""), "1");
  b.WriteInteger("two", 2);
  a.WriteString("one", "uno");  // a's write must not drop b's value
  EXPECT_EQ(b.ReadString("one", ""), "uno");
  EXPECT_EQ(a.ReadInteger("two", 0), 2);
  a.Close();
  b.Close();
  TJStorage c;
  c.SetKey(cvreg::kAppKey);
  c.Open();
  EXPECT_EQ(c.ReadString("one", ""), "uno");
  EXPECT_EQ(c.ReadInteger("two", 0), 2);
}

TEST_F(JStorage, TextsAndNamesSurviveTheFileFormat) {
  const std::string odd = "tab\there\nline two\r%41 100% \xC3\xA9 C:\\path=x";
  TJStorage s;
  s.SetKey("Software\\Odd Key");
  s.Open();
  s.WriteString(odd, odd);
  s.WriteString("", "default value");
  s.WriteInteger("min", INT32_MIN);
  s.WriteInteger("max", INT32_MAX);
  s.Close();
  s.Open();
  EXPECT_EQ(s.ReadString(odd, ""), odd);
  EXPECT_EQ(s.ReadString("", ""), "default value");
  EXPECT_EQ(s.ReadInteger("min", 0), INT32_MIN);
  EXPECT_EQ(s.ReadInteger("max", 0), INT32_MAX);

  // The file is the documented line format.
  std::string text = testenv::readText(env.configDir() + "/settings");
  EXPECT_EQ(text.rfind("carryvale-settings 1\nkey\tHKEY_CURRENT_USER\n"
                       "key\tHKEY_CURRENT_USER\\Software\n"
                       "key\tHKEY_CURRENT_USER\\Software\\Odd Key\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("int\tmin\t-2147483648\n"), std::string::npos) << text;
}

TEST_F(JStorage, StoreWithByteOrderMarkOrBlankLinesIsRead) {
  const std::string body = "carryvale-settings 1\nkey\tHKEY_CURRENT_USER\\Software\\Quillmarsh "
                           "Software\\Carryvale\nint\tdebug\t1\n";
  const std::string prefixes[] = {"", "\xEF\xBB\xBF", "\n", "\r\n \n", "\xEF\xBB\xBF\n"};
  std::filesystem::create_directories(env.configDir());
  for (const std::string& prefix : prefixes) {
    { std::ofstream(env.configDir() + "/settings", std::ios::binary) << prefix << body; }
    TJStorage s;
    s.SetKey(cvreg::kAppKey);
    s.Open();
    EXPECT_EQ(s.ReadInteger("debug", 7), 1) << testing::PrintToString(prefix);
    s.WriteString("DontShowAgain", "1");  // a write keeps the earlier values
    EXPECT_EQ(s.ReadInteger("debug", 7), 1) << testing::PrintToString(prefix);
    EXPECT_FALSE(std::filesystem::exists(env.configDir() + "/settings.corrupt"));
  }
}

TEST_F(JStorage, UnreadableStoresAreKeptAsideNeverOverwritten) {
  std::filesystem::create_directories(env.configDir());
  const char* const copies[] = {"settings.corrupt", "settings.corrupt.1", "settings.corrupt.2"};
  for (int round = 0; round < 3; ++round) {
    const std::string garbage = "garbage " + std::to_string(round) + "\n";
    { std::ofstream(env.configDir() + "/settings") << garbage; }
    TJStorage s;
    s.SetKey(cvreg::kAppKey);
    s.Open();  // the key is created in a fresh store
    EXPECT_EQ(s.ReadInteger("debug", 7), 7);
    s.WriteInteger("debug", 1);
    EXPECT_EQ(s.ReadInteger("debug", 7), 1);
    for (int k = 0; k <= round; ++k)
      EXPECT_EQ(testenv::readText(env.configDir() + "/" + copies[k]),
                "garbage " + std::to_string(k) + "\n");
  }
}

TEST_F(JStorage, FailedOrCrashedWriteLeavesOldValues) {
  TJStorage s;
  s.SetKey(cvreg::kAppKey);
  s.Open();
  s.WriteString("v", "old");
  s.WriteInteger("n", 1);

  // A failure just before the new file replaces the store is swallowed.
  plat::SettingsStore::setBeforeRenameHookForTesting([] { return false; });
  s.WriteString("v", "new");
  plat::SettingsStore::setBeforeRenameHookForTesting({});
  EXPECT_EQ(s.ReadString("v", ""), "old");

  // A process that dies at that point leaves the old store readable.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    plat::SettingsStore::setBeforeRenameHookForTesting([]() -> bool { _exit(3); });
    s.WriteString("v", "from the crashed child");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_TRUE(std::filesystem::exists(env.configDir() + "/settings.new"));  // its half-way file
  EXPECT_EQ(s.ReadString("v", ""), "old");
  EXPECT_EQ(s.ReadInteger("n", 0), 1);

  // The next write goes through and replaces the leftover.
  s.WriteInteger("n", 2);
  EXPECT_EQ(s.ReadInteger("n", 0), 2);
  EXPECT_EQ(s.ReadString("v", ""), "old");
  EXPECT_FALSE(std::filesystem::exists(env.configDir() + "/settings.new"));
}

// Several writers at once, each with values of its own: none may be lost.
TEST_F(JStorage, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 3, kValues = 20;
  auto writeMine = [](int who) {
    TJStorage s;
    s.SetKey(cvreg::kMruKey);
    s.Open();
    for (int i = 0; i < kValues; ++i)
      s.WriteString(std::to_string(who) + "-" + std::to_string(i), std::to_string(i * who));
  };
  std::vector<pid_t> children;
  for (int p = 0; p < kWriters; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      writeMine(100 + p);
      _exit(0);
    }
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) threads.emplace_back(writeMine, t + 1);
  for (auto& t : threads) t.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TJStorage s;
  s.SetKey(cvreg::kMruKey);
  s.Open();
  int missing = 0;
  for (int who : {1, 2, 3, 100, 101, 102})
    for (int i = 0; i < kValues; ++i)
      if (s.ReadString(std::to_string(who) + "-" + std::to_string(i), "") !=
          std::to_string(i * who))
        ++missing;
  EXPECT_EQ(missing, 0);
}

TEST_F(JStorage, StoreListsAndDeletesValues) {
  plat::SettingsStore store(env.configDir());
  const std::string key = "HKEY_CURRENT_USER\\Software\\X";
  EXPECT_TRUE(store.setValue(key, "b", plat::RegValue::ofInt(1)));
  EXPECT_TRUE(store.setValue(key, "a", plat::RegValue::ofText("t")));
  EXPECT_EQ(store.valueNames(key), (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(store.deleteValue(key, "B"));
  EXPECT_TRUE(store.deleteValue(key, "absent"));
  EXPECT_EQ(store.valueNames(key), std::vector<std::string>{"a"});
  EXPECT_FALSE(store.setValue("\\\\", "a", plat::RegValue::ofInt(1)));  // names no key
}

TEST_F(JStorage, SettingWithBlankKeyUsesDefault) {
  TJSetting setting;
  setting.SetKeyName(cvreg::kDontShowAgainValue);
  setting.SetDefaultValue("0");
  setting.Storage().SetKey("");
  EXPECT_EQ(setting.GetValue(), "0");  // raises nothing
  setting.SetValue("1");               // does nothing
  EXPECT_FALSE(std::filesystem::exists(env.configDir() + "/settings"));
  EXPECT_EQ(setting.Storage().Owner(), &setting);

  setting.Storage().SetKey(cvreg::kAppKey);
  EXPECT_EQ(setting.GetValue(), "0");  // missing: the default
  setting.SetValue("1");
  EXPECT_FALSE(setting.Storage().IsOpen());
  EXPECT_EQ(setting.GetValue(), "1");
  EXPECT_FALSE(setting.Storage().IsOpen());
  plat::SettingsStore store(env.configDir());
  EXPECT_EQ(store.value("HKEY_CURRENT_USER\\" + std::string(cvreg::kAppKey), "DontShowAgain"),
            plat::RegValue::ofText("1"));
}

}  // namespace
