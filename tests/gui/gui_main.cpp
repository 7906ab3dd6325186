// The window tests run under the offscreen platform in a private home: HOME,
// the XDG folders, TMPDIR and the computer id point into a fresh temporary
// folder that is removed at the end.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "app/application.h"

namespace {

// The offscreen platform reports, for every window it shows, that it cannot
// pass size hints on (and for every raise that it cannot raise); those lines
// say nothing about the program.
QtMessageHandler previousHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("propagateSizeHints")) ||
      message.contains(QLatin1String("does not support raise()")))
    return;
  if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  std::string root = (std::filesystem::temp_directory_path() / "cvgui-XXXXXX").string();
  if (!mkdtemp(root.data())) return 2;
  for (const char* d : {"/home", "/config", "/state", "/data", "/tmp", "/runtime"})
    std::filesystem::create_directories(root + d);
  chmod((root + "/runtime").c_str(), 0700);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
  setenv("TMPDIR", (root + "/tmp").c_str(), 1);
  setenv("CARRYVALE_COMPUTER_ID", "C0FFEE02", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);

  previousHandler = qInstallMessageHandler(quietHandler);
  int result;
  {
    TApplication app(argc, argv);
    app.SetTitle(QStringLiteral("Carryvale"));
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return result;
}
