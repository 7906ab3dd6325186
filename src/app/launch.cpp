#include "app/launch.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "version.h"

namespace {

constexpr const char* kProgram = "carryvale";

bool isSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// Messages held while the guard is up; the guard's previous handler.
struct Held {
  QtMsgType type;
  QString text;
};
std::vector<Held> heldMessages;
QtMessageHandler previousHandler = nullptr;
QString firstWindowSystemMessage;

void reportNoWindow(const char* cause) {
  std::fprintf(stderr,
               "%s: cannot open a window: %s (start it in a desktop session, or with "
               "QT_QPA_PLATFORM=offscreen)\n",
               kProgram, cause);
  std::fflush(stderr);
}

void holdMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    if (firstWindowSystemMessage.isEmpty() && context.category &&
        std::strncmp(context.category, "qt.qpa", 6) == 0)
      firstWindowSystemMessage = text;
    heldMessages.push_back({type, text});
    return;
  }
  // The toolkit gives up: no window system. One line, no plugin list.
  const QString cause = firstWindowSystemMessage.isEmpty()
                            ? QStringLiteral("no window system could be reached")
                            : firstWindowSystemMessage;
  reportNoWindow(cause.toLocal8Bit().constData());
  std::_Exit(1);
}

}  // namespace

std::string CommandLineHelp() {
  return std::string("Usage: ") + kProgram +
         " [BRIEFCASE [-l | -u]]\n"
         "\n"
         "Keeps the documents of two computers in step through a briefcase file (.brc).\n"
         "\n"
         "  BRIEFCASE    the briefcase to open; it must be the first argument\n"
         "  -l, /l       load: put every changed local file into the briefcase, then quit\n"
         "  -u, /u       unload: write every entry into the local folder, replacing\n"
         "               existing files without asking, remove the unloaded entries\n"
         "               from the briefcase, then quit\n"
         "  -h, --help   show this help and exit\n"
         "  --version    show the version and exit\n"
         "\n"
         "The letters of -l and -u may be upper or lower case; -l wins when both are given.\n"
         "After -l or -u the exit status is 0 when the operation succeeded, else its result\n"
         "code; its messages are then written to standard error as well.\n"
         "'brc --help' describes the command-line companion, which works without a window.\n";
}

std::optional<int> AnswerInfoOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(CommandLineHelp().c_str(), stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("%s %s\n", kProgram, CARRYVALE_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

std::optional<int> RefuseWithoutDisplay() {
  if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
    return std::nullopt;
  reportNoWindow("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
  return 1;
}

DisplayFailureGuard::DisplayFailureGuard() {
  heldMessages.clear();
  firstWindowSystemMessage.clear();
  previousHandler = qInstallMessageHandler(holdMessage);
}

DisplayFailureGuard::~DisplayFailureGuard() {
  qInstallMessageHandler(previousHandler);
  const QMessageLogContext context;
  for (const Held& m : heldMessages) {
    if (previousHandler)
      previousHandler(m.type, context, m.text);
    else
      std::fprintf(stderr, "%s\n", m.text.toLocal8Bit().constData());
  }
  heldMessages.clear();
}
