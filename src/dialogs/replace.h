#pragma once
// "Confirm File Replace": asked for every file that an unload would write
// over. It names the folder and the file, shows both versions with size, date
// and the file type's icon, and answers Yes (6), Yes to All (10), No (7), No
// to All (9) or Rename (3, after the rename dialog gave a new path); the close
// box answers Cancel (2). "Rename File" edits the target path: Rename (1) or
// Cancel (2), which returns to the replace question.

#include <QDialog>
#include <QString>

#include "platform/ask.h"
#include "platform/filetime.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TRenameForm : public QDialog {
  Q_OBJECT

 public:
  explicit TRenameForm(QWidget* parent = nullptr);

  QLabel* Label;  // "Rename <path>", word-wrapped
  QLabel* pto;    // "to"
  QLineEdit* Memo;
  QPushButton* Rename;  // result 1, default button
  QPushButton* Cancel;  // result 2

  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
};

class TReplaceForm : public QDialog {
  Q_OBJECT

 public:
  explicit TReplaceForm(QWidget* parent = nullptr);
  ~TReplaceForm() override;

  // Set by the caller before each showing; TargetPath holds the new path after Rename.
  QString TargetPath;
  plat::FileTime ExistingTime = 0;
  plat::FileTime ReplacementTime = 0;
  qint64 ExistingSize = 0;
  qint64 ReplacementSize = 0;
  QString Note;  // a line above the question ("" none): a file changed on both computers

  QLabel* Image1;
  QLabel* ReplaceLabel;
  QLabel* NoteLabel;
  QLabel* Label2;
  QLabel* ExistingIcon;
  QLabel* ExistingLabel;
  QLabel* withthisone;
  QLabel* ReplaceWithIcon;
  QLabel* ReplaceWithLabel;
  QPushButton* YesButton;
  QPushButton* YestoAllButton;
  QPushButton* NoButton;
  QPushButton* NotoAllButton;
  QPushButton* RenameButton;
  TRenameForm* RenameForm;

  // Fills the labels and icons from the fields (each showing does it).
  void FormShow();
  void RenameButtonClick();

  // Asks the question: fills the fields from it, shows the window modally and
  // returns the result; after Rename *newPath receives the edited path.
  int Ask(const plat::ReplaceQuestion& q, std::string* newPath);

  // "The folder 'Letters' already contains a file called 'a.doc'." for .../Letters/a.doc.
  static QString ReplaceText(const QString& targetPath);
  // "1234 bytes\nmodified on <long date> <time>"; "error with date" for a bad time.
  static QString DetailsText(qint64 size, plat::FileTime time);
  static QString DateText(plat::FileTime time);

  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};

// The one replace dialog of the program (made by the main window at start-up;
// the question interface makes its own while there is none).
extern TReplaceForm* ReplaceForm;
