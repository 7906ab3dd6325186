#pragma once
// Briefcase > History: what this computer did with the open briefcase, one
// row per trip (date, operation, files, result), newest first; a double
// click (or Return) on a row shows the names of its files.

#include <QDialog>

#include <vector>

#include "carry/record.h"

class QDialogButtonBox;
class QLabel;
class QListWidget;
class QTreeWidget;

class THistoryDialog : public QDialog {
  Q_OBJECT
 public:
  THistoryDialog(const QString& briefcaseName, std::vector<carry::Trip> trips,
                 QWidget* parent = nullptr);

  QTreeWidget* List() const { return list_; }
  // The names of the trip in `row`, in a window of their own (not modal,
  // so that the list stays usable); the window, for the tests.
  QDialog* ShowNames(int row);

 private:
  std::vector<carry::Trip> trips_;
  QTreeWidget* list_;
  QLabel* empty_;
  QDialogButtonBox* buttons_;
};
