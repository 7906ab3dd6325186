#pragma once
// The command-line companion's small framework: each command registers
// itself (name, one-line summary, help text, handler); the arguments are
// parsed against the options the command declares.

#include <map>
#include <set>
#include <string>
#include <vector>

namespace brc {

struct OptionSpec {
  std::string name;       // "--folder"
  bool takesValue = false;
  std::string valueName;  // "DIR"
  std::string help;
};

class Args {
 public:
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options with a value (last one wins)
  std::set<std::string> flags;                // options without a value

  bool has(const std::string& opt) const { return flags.count(opt) || values.count(opt); }
  std::string value(const std::string& opt, const std::string& fallback = "") const {
    auto it = values.find(opt);
    return it == values.end() ? fallback : it->second;
  }
};

struct Command {
  std::string name;
  std::string usage;    // "BRIEFCASE --folder DIR [options]"
  std::string summary;  // one line
  std::string details;  // paragraphs after the usage
  std::vector<OptionSpec> options;
  int (*run)(const Args& args) = nullptr;
};

// Registers a command at start-up: `static brc::Registrar r{Command{...}};`
struct Registrar {
  explicit Registrar(Command c);
};

const std::vector<Command>& commands();

// ---- shared helpers for the commands ----

// Prints a message on standard error, with a line end.
void error(const std::string& text);

// The engine's result text ("Briefcase file structure invalid") after a code.
void errorCode(int code, const std::string& context = "");

// An absolute path for a path given on the command line (no trailing '/').
std::string absolutePath(const std::string& path);

// A briefcase path with the ".brc" extension added when it has none.
std::string withBriefcaseExtension(const std::string& path);

// JSON text of a string (with the quotes).
std::string jsonString(const std::string& s);

// Installs the terminal's question interface: questions go to standard error,
// answers are read from standard input when it is a terminal; otherwise each
// question takes its default answer (and a message box is just printed).
void installTerminalAsker();

}  // namespace brc
