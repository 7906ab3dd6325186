#pragma once
// The desktop's answer to plat::Asker: real message boxes and file dialogs.
//
// Message boxes get the question's caption ("Error" when it has none), its
// buttons, its icon and its default button, and return the modal result of
// the button pressed (OK 1, Cancel 2, Abort 3, Retry 4, Ignore 5, Yes 6, No 7,
// No to All 9, Yes to All 10). A box dismissed without a button (Escape where
// no button answers it) counts as Cancel. The Help button calls the help
// handler with the question's help context and shows the box again.
//
// The folder browser and the open and save dialogs are the toolkit's file
// dialogs; a filter is written "Description|*.ext;*.ex2|Other|*.*".

#include <functional>
#include <string>

#include <QString>

#include "platform/ask.h"

class QWidget;

class TQtAsker : public plat::Asker {
 public:
  TQtAsker() = default;

  int message(const plat::MessageQuestion& q) override;
  int confirmReplace(const plat::ReplaceQuestion& q, std::string* newPath) override;
  // A question with a prompt shows it whole above the chooser.
  std::optional<std::string> browseFolder(const plat::FolderQuestion& q) override;
  using plat::Asker::browseFolder;
  std::optional<std::string> saveFile(const std::string& caption, const std::string& startPath,
                                      const std::string& filter,
                                      const std::string& defaultExt) override;
  std::optional<std::string> openFile(const std::string& caption, const std::string& startPath,
                                      const std::string& filter,
                                      const std::string& defaultExt) override;
  // The password dialog (dialogs/password.h).
  bool askPassword(const plat::PasswordQuestion& q, std::string* password) override;

  // Called with the help context when the user presses a message box's Help button.
  void setHelpHandler(std::function<void(int context)> handler) { help_ = std::move(handler); }

  // The window the dialogs belong to; by default the active window of the
  // program (never a hidden one: then the window it belongs to, or the main
  // window).
  void setParentWindow(QWidget* parent) { parent_ = parent; }

  // "Briefcase containers|*.brc" -> "Briefcase containers (*.brc)".
  static QString qtFilter(const std::string& filter);

 private:
  QWidget* dialogParent() const;
  std::optional<std::string> fileDialog(bool save, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultExt);
  std::function<void(int)> help_;
  QWidget* parent_ = nullptr;
};
