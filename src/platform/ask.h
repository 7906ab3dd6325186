#pragma once
// The one narrow interface through which the program asks or tells the user
// anything: message boxes, confirm-replace, folder browser, save dialog.
//
// The desktop program installs an implementation that shows real dialogs,
// `brc` installs one that talks on the terminal, and tests install a scripted
// one that records every question and answers it. The core (engines,
// configuration record, scan rules) only ever talks to the user through here.

#include <memory>
#include <optional>
#include <string>

#include "platform/filetime.h"

namespace plat {

// Modal results, numbered as the rest of the program passes them on.
enum ModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrRename = 3,  // also "Abort" in a plain message box
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrNoToAll = 9,
  mrYesToAll = 10,
};

// Buttons of a message box (a set of flags).
enum Buttons : unsigned {
  btnOk = 1u << 0,
  btnCancel = 1u << 1,
  btnYes = 1u << 2,
  btnNo = 1u << 3,
  btnRetry = 1u << 4,
  btnAbort = 1u << 5,
  btnIgnore = 1u << 6,
  btnYesToAll = 1u << 7,
  btnNoToAll = 1u << 8,
  btnHelp = 1u << 9,
  btnOkCancel = btnOk | btnCancel,
  btnYesNo = btnYes | btnNo,
  btnYesNoCancel = btnYes | btnNo | btnCancel,
  btnRetryCancel = btnRetry | btnCancel,
};

enum class Icon { None, Information, Warning, Error, Question };

struct MessageQuestion {
  std::string text;
  std::string caption;  // empty: the caption "Error"
  unsigned buttons = btnOk;
  Icon icon = Icon::None;
  int defaultResult = mrNone;  // the button that Enter presses; mrNone: the first
  int helpContext = 0;         // non-zero: the Help button opens this topic
};

// A file that an unload would replace.
struct ReplaceQuestion {
  std::string existingPath;     // the local file that would be replaced
  std::string existingDetails;  // its size and date as a terminal shows them
  std::string newDetails;       // the entry's size and date
  std::string note;             // a line above the two dates ("" none)
  bool allowRename = true;
  // The same facts for a window that formats them itself.
  uint64_t existingSize = 0;
  FileTime existingTime = 0;  // last-write time of the local file (UTC)
  uint64_t newSize = 0;       // the entry's uncompressed size
  FileTime newTime = 0;       // the entry's time (UTC)
};

// The folder browser: its title, a text shown inside the window above the
// chooser (a question too long for a title bar), and the folder it starts in.
struct FolderQuestion {
  std::string caption;
  std::string prompt;  // "" for none
  std::string startFolder;
};

// The password question: a password field (its text never shown), OK and
// Cancel. A new password (`confirm`) is typed twice, with a hint of its
// strength.
struct PasswordQuestion {
  std::string caption;
  std::string prompt;   // what the password opens
  std::string problem;  // a line above the field ("The password is not correct"), "" none
  bool confirm = false;
};

class Asker {
 public:
  virtual ~Asker() = default;

  // A message box; returns the modal result of the button pressed.
  virtual int message(const MessageQuestion& q) = 0;

  // The confirm-replace question of an unload. Returns mrYes, mrYesToAll,
  // mrNo, mrNoToAll, mrCancel or mrRename; for mrRename, *newPath receives
  // the path to write to instead.
  virtual int confirmReplace(const ReplaceQuestion& q, std::string* newPath) = 0;

  // The folder browser: the chosen folder, or nothing when cancelled.
  virtual std::optional<std::string> browseFolder(const FolderQuestion& q) = 0;
  std::optional<std::string> browseFolder(const std::string& caption,
                                          const std::string& startFolder) {
    return browseFolder(FolderQuestion{caption, std::string(), startFolder});
  }

  // The save dialog: the chosen path, or nothing when cancelled.
  virtual std::optional<std::string> saveFile(const std::string& caption,
                                              const std::string& startPath,
                                              const std::string& filter,
                                              const std::string& defaultExt) = 0;

  // The open dialog: the chosen path, or nothing when cancelled.
  virtual std::optional<std::string> openFile(const std::string& caption,
                                              const std::string& startPath,
                                              const std::string& filter,
                                              const std::string& defaultExt) = 0;

  // The password question: true with the password in *password (which the
  // caller wipes), false when cancelled or when nobody can be asked.
  virtual bool askPassword(const PasswordQuestion& q, std::string* password) = 0;
};

// The asker in force. Until one is installed, a silent one answers every
// question with its default (the first button, Cancel for dialogs).
Asker& asker();

// Installs an asker for the rest of the run (or until replaced); nullptr
// restores the silent default. The caller keeps ownership.
void setAsker(Asker* a);

// Installs an asker for the lifetime of this object, then restores the one before.
class ScopedAsker {
 public:
  explicit ScopedAsker(Asker* a);
  ~ScopedAsker();
  ScopedAsker(const ScopedAsker&) = delete;
  ScopedAsker& operator=(const ScopedAsker&) = delete;

 private:
  Asker* previous_;
};

// The answer a message box gives when nobody can be asked: its default
// button, else the first of OK, Yes, Yes to All, Retry, No, No to All, Abort,
// Ignore, Cancel that it has.
int defaultAnswer(const MessageQuestion& q);

// Shorthand for a message box through the current asker.
int messageBox(const std::string& text, const std::string& caption, unsigned buttons, Icon icon,
               int defaultResult = mrNone);

}  // namespace plat
