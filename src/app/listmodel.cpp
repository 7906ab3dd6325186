#include "app/listmodel.h"

#include <QCollator>
#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <numeric>

namespace {

QString text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The locale's short time format without its seconds.
QString timeFormatNoSeconds(const QLocale& locale) {
  QString f = locale.timeFormat(QLocale::ShortFormat);
  f.remove(QRegularExpression(QStringLiteral("[:.]?s+")));
  return f.trimmed();
}

bool toLocal(plat::FileTime t, QDate* date, QTime* time) {
  // File times with the top bit set are not times.
  if (t > static_cast<plat::FileTime>(INT64_MAX)) return false;
  plat::SystemTime st;
  if (!plat::fileTimeToLocal(t, &st)) return false;
  *date = QDate(st.year, st.month, st.day);
  *time = QTime(st.hour, st.minute);
  return date->isValid() && time->isValid();
}

struct Formats {
  QLocale locale = QLocale::system();
  QString shortDate = locale.dateFormat(QLocale::ShortFormat);
  QString time = timeFormatNoSeconds(locale);
};

const Formats& formats() {
  static const Formats f;
  return f;
}

struct StateText {
  const char* tip;
  const char* status;
};

// Indexed by app::RowIcon.
constexpr StateText kStateTexts[] = {
    {"Same", "The file and the entry are the same (their times differ by less than 2 seconds)"},
    {"Older", "This side's copy is older than the other side's"},
    {"Newer", "This side's copy is newer than the other side's"},
    {"Only on this side", "There is no counterpart on the other side"},
    {"Changed on both computers", "Changed on both computers since it was last carried"},
    {"Newer here", "Newer here: this computer changed the file since it last carried it"},
    {"Deleted here", "Deleted here since it was last carried: a load carries the deletion"},
};
static_assert(std::size(kStateTexts) == app::kRowIconCount);

const StateText* stateText(app::RowIcon icon) {
  const int i = static_cast<int>(icon);
  return i >= 0 && i < app::kRowIconCount ? &kStateTexts[i] : nullptr;
}

}  // namespace

TListModel::TListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : size();
}

int TListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

int TListModel::kilobytes(int r) const {
  return static_cast<int>(static_cast<uint32_t>(row(r).size / 1024));
}

QVariant TListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= size()) return {};
  const app::ListRow& r = row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case colName: return text(r.name);
        case colFolder: return text(r.folder);
        case colSize: return QString::fromStdString(app::SizeText(r.size));
        case colDate: return DateText(r.time);
      }
      break;
    case Qt::DecorationRole:
      if (index.column() == colName && stateText(r.icon)) return icons_[static_cast<size_t>(r.icon)];
      break;
    case Qt::ToolTipRole:
      if (index.column() == colName) return StateTip(r.icon);
      break;
    case Qt::StatusTipRole:
      // Every cell: moving along the row keeps the text on the status line.
      return StateStatus(r.icon);
    case Qt::TextAlignmentRole:
      if (index.column() == colSize) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      break;
  }
  return {};
}

QVariant TListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    static const char* const titles[kColumns] = {"Name", "Folder", "Size", "Date"};
    if (section >= 0 && section < kColumns) return QString::fromLatin1(titles[section]);
  }
  if (role == Qt::TextAlignmentRole && section == colSize)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

std::string TListModel::key(const std::string& name, const std::string& folder) {
  std::string k;
  k.reserve(folder.size() + name.size() + 1);
  k += folder;
  k += '\0';  // never part of a name: the pair cannot be confused with another
  k += name;
  return k;
}

void TListModel::rebuildIndex() const {
  index_.clear();
  index_.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i)
    index_.emplace(key(rows_[i].name, rows_[i].folder), static_cast<int>(i));
  indexValid_ = true;
}

int TListModel::find(const std::string& name, const std::string& folder) const {
  if (!indexValid_) rebuildIndex();
  auto it = index_.find(key(name, folder));
  return it == index_.end() ? -1 : it->second;
}

void TListModel::clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  index_.clear();
  indexValid_ = true;
  endResetModel();
}

void TListModel::append(std::vector<app::ListRow> rows) {
  if (rows.empty()) return;
  const int first = size();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
  rows_.reserve(rows_.size() + rows.size());
  for (app::ListRow& r : rows) {
    if (indexValid_) index_.emplace(key(r.name, r.folder), static_cast<int>(rows_.size()));
    rows_.push_back(std::move(r));
  }
  endInsertRows();
}

void TListModel::removeUnkept(const std::vector<bool>& keep) {
  const int n = std::min(size(), static_cast<int>(keep.size()));
  int r = n - 1;
  bool removed = false;
  while (r >= 0) {
    if (keep[static_cast<size_t>(r)]) {
      --r;
      continue;
    }
    int first = r;
    while (first > 0 && !keep[static_cast<size_t>(first - 1)]) --first;
    beginRemoveRows(QModelIndex(), first, r);
    rows_.erase(rows_.begin() + first, rows_.begin() + r + 1);
    endRemoveRows();
    removed = true;
    r = first - 1;
  }
  if (removed) indexValid_ = false;
}

void TListModel::setIcon(int r, app::RowIcon icon) {
  rows_[static_cast<size_t>(r)].icon = icon;
  const QModelIndex i = index(r, colName);
  emit dataChanged(i, i, {Qt::DecorationRole});
}

void TListModel::setFile(int r, uint64_t size, plat::FileTime time) {
  app::ListRow& row = rows_[static_cast<size_t>(r)];
  row.size = size;
  row.time = time;
  emit dataChanged(index(r, colSize), index(r, colDate), {Qt::DisplayRole});
}

void TListModel::iconsChanged() {
  if (rows_.empty()) return;
  emit dataChanged(index(0, colName), index(size() - 1, colName), {Qt::DecorationRole});
}

void TListModel::sortBy(int column, bool descending) {
  const size_t n = rows_.size();
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  auto sortWith = [&](auto less) {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return descending ? less(b, a) : less(a, b);
    });
  };
  if (column == colName || column == colFolder) {
    QCollator collator;  // the user's locale
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(n);
    for (const app::ListRow& r : rows_)
      keys.push_back(collator.sortKey(text(column == colName ? r.name : r.folder)));
    sortWith([&](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
  } else if (column == colSize) {
    sortWith([&](int a, int b) { return rows_[size_t(a)].size < rows_[size_t(b)].size; });
  } else if (column == colDate) {
    sortWith([&](int a, int b) { return rows_[size_t(a)].time < rows_[size_t(b)].time; });
  } else {
    return;
  }

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newPlace(n);
  std::vector<app::ListRow> sorted;
  sorted.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    newPlace[static_cast<size_t>(order[i])] = static_cast<int>(i);
    sorted.push_back(std::move(rows_[static_cast<size_t>(order[i])]));
  }
  rows_ = std::move(sorted);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& i : from) to.append(index(newPlace[static_cast<size_t>(i.row())], i.column()));
  changePersistentIndexList(from, to);
  indexValid_ = false;
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QString TListModel::DateText(plat::FileTime t) {
  QDate d;
  QTime h;
  if (!toLocal(t, &d, &h)) return QStringLiteral("error with date");
  const Formats& f = formats();
  const QString date = f.locale.toString(d, f.shortDate);
  const QString time = f.locale.toString(h, f.time);
  if (date.isEmpty() || time.isEmpty()) return QStringLiteral("error with date");
  return date + QLatin1Char(' ') + time;
}

QString TListModel::LongDateText(plat::FileTime t) {
  QDate d;
  QTime h;
  if (!toLocal(t, &d, &h)) return {};
  return formats().locale.toString(d, QLocale::LongFormat);
}

QString TListModel::TimeText(plat::FileTime t) {
  QDate d;
  QTime h;
  if (!toLocal(t, &d, &h)) return {};
  return formats().locale.toString(h, formats().time);
}

QString TListModel::StateTip(app::RowIcon icon) {
  const StateText* t = stateText(icon);
  return t ? QString::fromLatin1(t->tip) : QString();
}

QString TListModel::StateStatus(app::RowIcon icon) {
  const StateText* t = stateText(icon);
  return t ? QString::fromLatin1(t->status) : QString();
}
