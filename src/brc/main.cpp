// brc: the briefcase engines without a window, for scripts and terminals.

#include <iostream>
#include <new>

#include "archive/errors.h"
#include "brc/cli.h"
#include "version.h"

namespace {

void printUsage(std::ostream& out) {
  out << "Usage: brc COMMAND [ARGUMENTS]\n\n"
         "Works with Carryvale briefcases from the terminal.\n\nCommands:\n";
  for (const brc::Command& c : brc::commands()) {
    std::string n = c.name;
    n.resize(10, ' ');
    out << "  " << n << c.summary << "\n";
  }
  out << "\n'brc COMMAND --help' describes a command's options.\n"
         "Every command exits with 0 on success and with the engine's result code otherwise.\n";
}

void printCommandHelp(const brc::Command& c) {
  std::cout << "Usage: brc " << c.name << " " << c.usage << "\n\n" << c.summary << "\n";
  if (!c.details.empty()) std::cout << "\n" << c.details << "\n";
  if (!c.options.empty()) {
    std::cout << "\nOptions:\n";
    for (const brc::OptionSpec& o : c.options) {
      std::string left = o.name + (o.takesValue ? " " + o.valueName : "");
      if (left.size() < 22) left.resize(22, ' ');
      std::cout << "  " << left << " " << o.help << "\n";
    }
  }
  std::cout << "  --help                 show this help\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(std::cerr);
    return archive::kBadParameters;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    printUsage(std::cout);
    return archive::kOk;
  }
  if (name == "--version") {
    std::cout << "brc " << CARRYVALE_VERSION << "\n";
    return archive::kOk;
  }
  const brc::Command* cmd = nullptr;
  for (const brc::Command& c : brc::commands())
    if (c.name == name) cmd = &c;
  if (!cmd) {
    brc::error("brc: unknown command '" + name + "'. 'brc --help' lists the commands.");
    return archive::kBadParameters;
  }

  brc::Args args;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      args.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      printCommandHelp(*cmd);
      return archive::kOk;
    }
    std::string value;
    bool inlineValue = false;
    if (size_t eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      inlineValue = true;
    }
    const brc::OptionSpec* option = nullptr;
    for (const brc::OptionSpec& o : cmd->options)
      if (o.name == a) option = &o;
    if (!option) {
      brc::error("brc " + name + ": unknown option '" + a + "'. 'brc " + name +
                 " --help' lists the options.");
      return archive::kBadParameters;
    }
    if (option->takesValue) {
      if (!inlineValue) {
        if (i + 1 >= argc) {
          brc::error("brc " + name + ": option " + a + " needs a value (" + option->valueName + ").");
          return archive::kBadParameters;
        }
        value = argv[++i];
      }
      args.values[a] = value;
    } else {
      if (inlineValue) {
        brc::error("brc " + name + ": option " + a + " takes no value.");
        return archive::kBadParameters;
      }
      args.flags.insert(a);
    }
  }
  brc::installTerminalAsker();
  try {
    return cmd->run(args);
  } catch (const std::bad_alloc&) {
    brc::error("brc " + name + ": Not enough memory.");
    return archive::kOutOfMemory;
  } catch (const std::exception& e) {
    brc::error(std::string("brc ") + name + ": " + e.what());
    return archive::kInternalError;
  }
}
