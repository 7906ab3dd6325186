#pragma once
// The rows of one list of the main window (the local files or the briefcase's
// entries) as a table model: Name, Folder, Size ("%d kB") and Date, with the
// comparison icon and its tool tip in the Name column and the state's
// explanation as the status tip of the whole row.
//
// Rows are found by (Name, Folder) through a hash, so that merging a scan
// into the list or comparing every entry with its local row costs O(n) for
// the whole list. Rows keep their place when others are removed; sorting is
// applied once and rows appended later go to the end.

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/rows.h"

class TListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column : int { colName = 0, colFolder = 1, colSize = 2, colDate = 3, kColumns = 4 };

  explicit TListModel(QObject* parent = nullptr);

  // The row icons, one per app::RowIcon, shared by both lists.
  using Icons = std::array<QIcon, app::kRowIconCount>;
  void setIcons(const Icons& icons) { icons_ = icons; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const app::ListRow& row(int r) const { return rows_[static_cast<size_t>(r)]; }
  int size() const { return static_cast<int>(rows_.size()); }
  // The row's size as its Size text reads it, in kB.
  int kilobytes(int r) const;

  void clear();
  // Appends rows at the end, in one insertion.
  void append(std::vector<app::ListRow> rows);
  // Removes every row whose flag is false (`keep` covers the first
  // keep.size() rows; later rows stay), in runs from the end.
  void removeUnkept(const std::vector<bool>& keep);
  void setIcon(int r, app::RowIcon icon);
  // A row's file changed: its size and time.
  void setFile(int r, uint64_t size, plat::FileTime time);
  // Sets icons without telling the views row by row; iconsChanged() then
  // tells them once.
  void setIconQuietly(int r, app::RowIcon icon) { rows_[static_cast<size_t>(r)].icon = icon; }
  void iconsChanged();

  // The first row with exactly this Name and Folder, or -1.
  int find(const std::string& name, const std::string& folder) const;

  // Applies the order once: Name and Folder by the locale's case-sensitive
  // comparison, Size by bytes, Date by time; ties keep their order.
  void sortBy(int column, bool descending);

  // The date text of a row: short date, a space, the time without seconds,
  // in local time and the user's locale; "error with date" when it cannot be
  // formatted.
  static QString DateText(plat::FileTime t);
  // The long date and the time without seconds (the briefcase label); empty
  // texts when the time cannot be converted.
  static QString LongDateText(plat::FileTime t);
  static QString TimeText(plat::FileTime t);

  // What a row's state means: a few words for the Name column's tool tip and
  // a sentence for the status line while the pointer is on the row. Empty
  // for a value that is no state.
  static QString StateTip(app::RowIcon icon);
  static QString StateStatus(app::RowIcon icon);

 private:
  static std::string key(const std::string& name, const std::string& folder);
  void rebuildIndex() const;

  std::vector<app::ListRow> rows_;
  Icons icons_;
  // (Name, Folder) -> first row; rebuilt after a removal or a sort.
  mutable std::unordered_map<std::string, int> index_;
  mutable bool indexValid_ = true;
};
