#pragma once
// "Briefcase settings": the open briefcase's local folder, subfolders flag,
// include and exclude patterns, date filter and compression. The caller fills
// it (SetValues), shows it modally and, after OK (1), reads the values back;
// Cancel (2) changes nothing. Each field shows its hint when the pointer rests
// on it; its help topic opens from What's This (the title bar's "?" button,
// or Shift+F1) and from F1.

#include <QDialog>
#include <QString>

#include <functional>

#include "platform/filetime.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TDFromNow;

class TSettingsForm : public QDialog {
  Q_OBJECT

 public:
  // The help contexts of the dialog and its fields.
  enum HelpContext {
    hcDialog = 802,
    hcLocalFolder = 801,
    hcIncludeFiles = 802,
    hcExcludeFiles = 803,
    hcCompressed = 807,
    hcBrowse = 808,
    hcSubfolders = 809,
  };

  explicit TSettingsForm(QWidget* parent = nullptr);
  ~TSettingsForm() override;

  QLabel* VersionLabel;
  QLabel* LocalLabel;
  QLineEdit* LocalEdit;
  QPushButton* BrowseButton;
  QCheckBox* SubdirsCheckBox;
  QLabel* Label1;
  QLineEdit* IncludeEdit;
  QLabel* Label2;
  QLineEdit* ExcludeEdit;
  TDFromNow* DFromNow1;
  QCheckBox* ComprCheckbox;
  QPushButton* Button1;  // OK: result 1, default button
  QPushButton* Button2;  // Cancel: result 2

  struct Values {
    QString localFolder;
    bool subfolders = true;
    QString include;
    QString exclude;
    plat::FileTime date = 0;  // the briefcase date
    bool compressed = true;
  };
  // Fills the fields ("Version 2.0" in the version line) and forgets earlier edits.
  void SetValues(const Values& v);
  // The fields as they stand; the date at the filter's two-second resolution.
  Values GetValues() const;
  // True when the user changed the date, the hour or the days since SetValues:
  // only then is the briefcase date to be written (the filter holds whole
  // hours, so writing it back unchanged would move the briefcase date).
  bool DateChanged() const { return dateChanged_; }

  void SetFileTime(plat::FileTime ft);
  plat::FileTime GetFileTime() const;

  void BrowseButtonClick();

  // The help context of a field (0 when it has none); the dialog's own is hcDialog.
  int HelpContextOf(const QWidget* w) const;
  // Opens the help topic; by default in the program's help window
  // (TApplication::ShowHelp).
  void SetHelpHandler(std::function<void(int context)> handler) { help_ = std::move(handler); }
  void ShowHelp(int context);

  void accept() override;  // only with a date filter that reads as a moment
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  std::function<void(int)> help_;
  bool dateChanged_ = false;
};

extern TSettingsForm* SettingsForm;
