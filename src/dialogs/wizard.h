#pragma once
// The new-briefcase wizard: a welcome page and six steps (briefcase file and
// compression, local folder and subfolders, include patterns, exclude
// patterns, date filter, desktop shortcut). It checks the briefcase name and
// the local folder, offers the briefcases it finds on removable drives, and
// creates nothing itself: after Finish (result 1) its caller reads the answers
// (Answers()) and creates the briefcase (NewBriefcaseFromWizard). A briefcase
// the user chose to use instead (one the scan found, or the file the typed
// name already names) closes it with result 6 (Yes), in ExistingBriefcase().

#include <QDialog>
#include <QString>

#include <string>

#include "briefcase/newbrief.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class TDFromNow;

class TWizardForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPages = 7;

  explicit TWizardForm(QWidget* parent = nullptr);
  ~TWizardForm() override;

  QWidget* Image1;  // the side picture
  QStackedWidget* Pages;
  QWidget* Page[kPages];  // Page1 ... Page7
  QLabel* Memo[kPages];   // Memo1 ... Memo7
  QLineEdit* BriefcaseEdit;
  QPushButton* BrowseBriefcaseButton;
  QCheckBox* ComprCheckbox;
  QCheckBox* EncryptCheckbox;
  QLineEdit* LocalEdit;
  QPushButton* BrowseLocalButton;
  QCheckBox* SubdirsCheckBox;
  QLineEdit* IncludeEdit;
  QLineEdit* ExcludeEdit;
  TDFromNow* DFromNow1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QPushButton* BackButton;
  QPushButton* NextButton;
  QPushButton* FinishButton;
  QPushButton* CancelButton;

  int CurrentPage = 1;
  bool MakeShortcut = true;

  // The page texts, line by line.
  static QString PageText(int page);

  void FormActivate();
  void ShowPage(int n);
  void NextButtonClick();
  void BackButtonClick();
  void BrowseBriefcaseButtonClick();
  void BrowseLocalButtonClick();
  // Offers each briefcase found on a removable drive until one is taken;
  // the one taken is used (the wizard closes with Yes).
  void ScanRemovableDrives();
  // The existing briefcase the user chose to use.
  const std::string& ExistingBriefcase() const { return existing_; }

  // The answers in the order New takes them (the date filter's conversion
  // error, if any, was told at Next on the date page).
  briefcase::NewBriefcaseAnswers Answers() const;

  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool checkBriefcaseName();
  // A typed name that names a file already: said now, on its page; an
  // existing briefcase may be used (closing the wizard).
  bool checkNameIsFree();
  void useExisting(const std::string& path);
  bool checkLocalFolder();
  bool checkDateFilter();
  // The path whose replacement the user agreed to in the save dialog.
  std::string consentedPath_;
  std::string existing_;
};

// The one wizard of the program (made by the main window at start-up; New
// makes its own while there is none).
extern TWizardForm* WizardForm;

enum class WizardOutcome { Cancelled, Created, UseExisting };

// File|New: shows the wizard and, after Finish, creates the briefcase from
// its answers (with the desktop shortcut when asked). Created: *out holds
// what the new open briefcase needs. UseExisting: the user chose an existing
// briefcase instead, whose path is in *existing. Cancelled (also when the
// creation failed, which was told): nothing created.
WizardOutcome NewBriefcaseFromWizard(QWidget* owner, briefcase::NewBriefcase* out,
                                     std::string* existing);
