#pragma once
// Helpers of the document framework tests: a question interface that also
// records the file dialogs and can act before it answers, an environment
// variable set for one test, and a plain main window with a File menu, a
// document manager and one document whose handlers the test controls.

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "components/jstore.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "docframe/jmru.h"
#include "gui_helpers.h"

struct DialogCall {
  bool save;
  std::string caption, startPath, filter, defaultExt;
};

class DocAsker : public ScriptedAsker {
 public:
  std::vector<DialogCall> dialogs;
  // Runs before a message is answered (e.g. to insert the disk).
  std::function<void(const plat::MessageQuestion&)> beforeAnswer;

  int message(const plat::MessageQuestion& q) override {
    if (beforeAnswer) beforeAnswer(q);
    return ScriptedAsker::message(q);
  }
  std::optional<std::string> saveFile(const std::string& c, const std::string& s,
                                      const std::string& f, const std::string& e) override {
    dialogs.push_back({true, c, s, f, e});
    return ScriptedAsker::saveFile(c, s, f, e);
  }
  std::optional<std::string> openFile(const std::string& c, const std::string& s,
                                      const std::string& f, const std::string& e) override {
    dialogs.push_back({false, c, s, f, e});
    return ScriptedAsker::openFile(c, s, f, e);
  }
};

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline void touchFile(const std::string& path, const std::string& bytes = "PK") {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The stored recently used list, read straight from the settings storage.
inline std::vector<std::string> storedMru() {
  TJStorage s;
  s.SetKey(cvreg::kMruKey);
  s.Open();
  std::vector<std::string> out;
  const int n = s.ReadInteger("Count", 0);
  for (int i = 0; i < n; ++i) out.push_back(s.ReadString(std::to_string(i), "?"));
  s.Close();
  return out;
}

inline void storeMru(const std::vector<std::string>& names) {
  TJStorage s;
  s.SetKey(cvreg::kMruKey);
  s.Open();
  s.WriteInteger("Count", static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) s.WriteString(std::to_string(i), names[i]);
  s.Close();
}

// A main window as an application lays it out, with the manager configured
// as the program does and one document for New and Open.
class DocWindow {
 public:
  // Outcomes of the document's handlers, and what they saw.
  bool newOk = true, openOk = true, commitOk = true;
  std::vector<std::string> opened, committed, closed;
  int news = 0;

  QMainWindow window;
  QMenu* fileMenu = nullptr;
  TDocManager* manager = nullptr;
  TDocument* doc = nullptr;

  // `withExitSeparator`: the File menu has its separator before Exit.
  explicit DocWindow(bool makeCommands = true, bool withExitSeparator = true) {
    window.setWindowTitle(QStringLiteral("Carryvale"));
    fileMenu = window.menuBar()->addMenu(QStringLiteral("&File"));
    if (!makeCommands) {
      // The window lays out its own commands, named as the manager finds them.
      const char* names[] = {"FileNew", "FileOpen", "FileSave", "FileSaveAs", "FileClose"};
      const char* captions[] = {"&New", "&Open...", "&Save", "S&ave As...", "&Close"};
      for (int i = 0; i < 5; ++i) {
        auto* a = new QAction(QString::fromLatin1(captions[i]), &window);
        a->setObjectName(QString::fromLatin1(names[i]));
        fileMenu->addAction(a);
      }
      if (withExitSeparator)
        fileMenu->addSeparator()->setObjectName(QStringLiteral("ExitSeparator"));
      else
        fileMenu->addSeparator();
      auto* exit = new QAction(QStringLiteral("E&xit"), &window);
      exit->setObjectName(QStringLiteral("FileExit"));
      fileMenu->addAction(exit);
    }
    manager = new TDocManager(&window);
    manager->SetActionList(&window);
    manager->Storage().SetKey(cvreg::kMruKey);
    manager->Storage().SetRegistryRootKey(atrkCurrentUser);
    manager->SetFileMenuItem(fileMenu);
    manager->SetDefaultExt("brc");
    manager->SetFilter("Briefcase containers|*.brc");
    manager->SetRegisteredExtension(true);
    manager->SetHintNew(QStringLiteral("New|Create a new briefcase container"));
    manager->SetHintOpen(QStringLiteral("Open|Open an existing briefcase container"));
    manager->SetHintSave(QStringLiteral("Save|Save the settings for this briefcase"));
    manager->SetHintSaveAs(QStringLiteral("Save As|Save this briefcase with another name"));
    manager->SetHintClose(QStringLiteral("Close|Close this briefcase"));
    manager->SetHintExit(QStringLiteral("Exit|Exit the Carryvale program"));

    doc = new TDocument(&window);
    doc->SetOnNew([this](TDocument*, bool& ok) {
      ++news;
      ok = newOk;
    });
    doc->SetOnOpen([this](TDocument* d, bool& ok) {
      opened.push_back(d->FileName());
      ok = openOk;
    });
    doc->SetOnCommit([this](TDocument* d, bool& ok) {
      committed.push_back(d->FileName());
      ok = commitOk;
    });
    doc->SetOnClose([this](TDocument* d) { closed.push_back(d->FileName()); });
    manager->SetOnNewDocument([this](TDocManager*, TDocument*& d) { d = doc; });
  }
  void load() { manager->Loaded(); }
  ~DocWindow() {
    // The manager closes the document (its handlers use this object), then goes.
    delete manager;
    delete doc;
  }
  DocWindow(const DocWindow&) = delete;
  DocWindow& operator=(const DocWindow&) = delete;

  QAction* action(const char* name) const {
    return window.findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
  }
  // The File menu as text: separators "-", entries by caption.
  QStringList menuTexts() const {
    QStringList out;
    for (QAction* a : fileMenu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  }
};
