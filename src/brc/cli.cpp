#include "brc/cli.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>

#include "archive/errors.h"
#include "archive/extract/names.h"
#include "platform/ask.h"
#include "platform/paths.h"
#include "platform/terminal.h"

namespace brc {
namespace {

std::vector<Command>& registry() {
  static std::vector<Command> r;
  return r;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Questions on the terminal. A message box prints its text and, when it has
// more than one button and standard input is a terminal, asks for a choice.
class TerminalAsker final : public plat::Asker {
 public:
  int message(const plat::MessageQuestion& q) override {
    std::string caption = q.caption.empty() ? "Error" : q.caption;
    std::cerr << caption << ": " << q.text << "\n";
    struct Choice {
      unsigned button;
      const char* word;
      int result;
    };
    static const Choice all[] = {
        {plat::btnOk, "ok", plat::mrOk},           {plat::btnYes, "yes", plat::mrYes},
        {plat::btnYesToAll, "all", plat::mrYesToAll}, {plat::btnNo, "no", plat::mrNo},
        {plat::btnNoToAll, "none", plat::mrNoToAll}, {plat::btnRetry, "retry", plat::mrRetry},
        {plat::btnAbort, "abort", plat::mrAbort},  {plat::btnIgnore, "ignore", plat::mrIgnore},
        {plat::btnCancel, "cancel", plat::mrCancel}};
    std::vector<Choice> offered;
    for (const Choice& c : all)
      if (q.buttons & c.button) offered.push_back(c);
    if (offered.size() <= 1 || !plat::stdinIsTerminal()) return plat::defaultAnswer(q);
    for (;;) {
      std::cerr << "[";
      for (size_t i = 0; i < offered.size(); ++i) std::cerr << (i ? "/" : "") << offered[i].word;
      std::cerr << "] ";
      std::string line;
      if (!plat::readLine(&line)) {
        // The end of input never agrees to anything: No, else Cancel.
        std::cerr << "\n";
        if (q.buttons & plat::btnNo) return plat::mrNo;
        if (q.buttons & plat::btnCancel) return plat::mrCancel;
        return plat::defaultAnswer(q);
      }
      line = lower(line);
      for (const Choice& c : offered)
        if (line == c.word || (line.size() == 1 && line[0] == c.word[0])) return c.result;
    }
  }

  int confirmReplace(const plat::ReplaceQuestion& q, std::string* newPath) override {
    std::cerr << "Replace " << q.existingPath << "?\n";
    if (!q.note.empty()) std::cerr << "  " << q.note << "\n";
    // Each file's details (its size, then its date) line up under the first line.
    auto details = [](const char* label, std::string text) {
      for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        text.insert(at + 1, 12, ' ');
      if (!text.empty()) std::cerr << label << text << "\n";
    };
    details("  existing: ", q.existingDetails);
    details("  with:     ", q.newDetails);
    if (!plat::stdinIsTerminal()) return plat::mrNo;
    for (;;) {
      std::cerr << "[y]es, yes to [a]ll, [n]o, n[o] to all, [r]ename, [c]ancel: ";
      std::string line;
      if (!plat::readLine(&line)) {
        std::cerr << "\n";
        return plat::mrNo;  // the end of input keeps the local file
      }
      line = lower(line);
      if (line == "y" || line == "yes") return plat::mrYes;
      if (line == "a" || line == "all") return plat::mrYesToAll;
      if (line == "n" || line == "no") return plat::mrNo;
      if (line == "o" || line == "none") return plat::mrNoToAll;
      if (line == "c" || line == "cancel") return plat::mrCancel;
      if ((line == "r" || line == "rename") && q.allowRename) {
        std::cerr << "New path: ";
        std::string p;
        if (!plat::readLine(&p) || p.empty()) continue;
        *newPath = p;
        return plat::mrRename;
      }
    }
  }

  std::optional<std::string> browseFolder(const plat::FolderQuestion& q) override {
    if (!q.prompt.empty() && plat::stdinIsTerminal()) std::cerr << q.prompt << "\n";
    return askPath(q.caption);
  }
  std::optional<std::string> saveFile(const std::string& caption, const std::string&,
                                      const std::string&, const std::string&) override {
    return askPath(caption);
  }
  std::optional<std::string> openFile(const std::string& caption, const std::string&,
                                      const std::string&, const std::string&) override {
    return askPath(caption);
  }
  // On the controlling terminal, with echo off; a new password twice.
  bool askPassword(const plat::PasswordQuestion& q, std::string* password) override {
    if (!q.problem.empty()) std::cerr << q.problem << "\n";
    if (!plat::readSecretLine(q.prompt + ": ", password)) return false;
    if (!q.confirm) return true;
    std::string again;
    const bool same =
        plat::readSecretLine("The same password again: ", &again) && again == *password;
    std::fill(again.begin(), again.end(), '\0');
    if (same) return true;
    std::cerr << "The two passwords differ.\n";
    std::fill(password->begin(), password->end(), '\0');
    password->clear();
    return false;
  }

 private:
  std::optional<std::string> askPath(const std::string& caption) {
    if (!plat::stdinIsTerminal()) return std::nullopt;
    std::cerr << caption << ": ";
    std::string line;
    if (!plat::readLine(&line) || line.empty()) return std::nullopt;
    return line;
  }
};

}  // namespace

Registrar::Registrar(Command c) { registry().push_back(std::move(c)); }

const std::vector<Command>& commands() { return registry(); }

void error(const std::string& text) { std::cerr << text << "\n"; }

void errorCode(int code, const std::string& context) {
  std::string text = archive::errorText(code);
  if (text.empty()) text = "Error " + std::to_string(code);
  if (!context.empty()) text += ": " + context;
  error(text);
}

std::string absolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::string p = path;
  if (p[0] != '/') {
    p = plat::joinPath(plat::currentFolder(), p);
  }
  return plat::stripTrailingSlash(p);
}

std::string withBriefcaseExtension(const std::string& path) {
  std::string name = plat::fileNamePart(path);
  if (name.size() >= 4 && lower(name.substr(name.size() - 4)) == ".brc") return path;
  return path + ".brc";
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    const size_t n = archive::utf8Sequence(s, i, &cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // a byte that is no UTF-8: U+FFFD
      ++i;
      continue;
    }
    if (cp == '"') {
      out += "\\\"";
    } else if (cp == '\\') {
      out += "\\\\";
    } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
    } else {
      out.append(s, i, n);
    }
    i += n;
  }
  return out + "\"";
}

void installTerminalAsker() {
  static TerminalAsker asker;
  plat::setAsker(&asker);
}

}  // namespace brc
