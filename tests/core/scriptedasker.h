#pragma once
// A question interface for tests: records every question and answers from a script.

#include <deque>
#include <string>
#include <vector>

#include "platform/ask.h"

class ScriptedAsker : public plat::Asker {
 public:
  std::vector<plat::MessageQuestion> messages;
  std::vector<plat::ReplaceQuestion> replaces;
  std::deque<int> answers;             // message answers, in order (default answer when empty)
  std::deque<int> replaceAnswers;      // confirm-replace answers (mrNo when empty)
  std::deque<std::string> renamePaths; // paths given with mrRename
  std::deque<std::string> folders;     // folder browser results ("" = cancelled)
  std::deque<std::string> files;       // save/open dialog results ("" = cancelled)
  std::vector<std::string> folderCaptions;  // the folder browser's titles, in order
  std::vector<std::string> folderPrompts;   // and the texts above its chooser
  std::vector<plat::PasswordQuestion> passwordQuestions;
  std::deque<std::string> passwords;  // password answers ("" = cancelled; cancelled when empty)

  int message(const plat::MessageQuestion& q) override {
    messages.push_back(q);
    if (answers.empty()) return plat::defaultAnswer(q);
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  int confirmReplace(const plat::ReplaceQuestion& q, std::string* newPath) override {
    replaces.push_back(q);
    if (replaceAnswers.empty()) return plat::mrNo;
    int a = replaceAnswers.front();
    replaceAnswers.pop_front();
    if (a == plat::mrRename && !renamePaths.empty()) {
      *newPath = renamePaths.front();
      renamePaths.pop_front();
    }
    return a;
  }
  std::optional<std::string> browseFolder(const plat::FolderQuestion& q) override {
    folderCaptions.push_back(q.caption);
    folderPrompts.push_back(q.prompt);
    return take(folders);
  }
  using plat::Asker::browseFolder;
  std::optional<std::string> saveFile(const std::string&, const std::string&, const std::string&,
                                      const std::string&) override {
    return take(files);
  }
  std::optional<std::string> openFile(const std::string&, const std::string&, const std::string&,
                                      const std::string&) override {
    return take(files);
  }
  bool askPassword(const plat::PasswordQuestion& q, std::string* password) override {
    passwordQuestions.push_back(q);
    const std::optional<std::string> given = take(passwords);
    if (given) *password = *given;
    return given.has_value();
  }

 private:
  static std::optional<std::string> take(std::deque<std::string>& q) {
    if (q.empty()) return std::nullopt;
    std::string s = q.front();
    q.pop_front();
    if (s.empty()) return std::nullopt;
    return s;
  }
};
