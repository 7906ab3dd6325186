#include "dialogs/history.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/history.h"
#include "archive/extract/names.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// The files column: the count, and the bytes where there are any.
QString filesText(const carry::Trip& t) {
  QString text = QString::number(static_cast<qulonglong>(t.files));
  if (t.kind == carry::TripKind::kCompact)
    text += QStringLiteral(" (") + q(app::BytesText(t.bytes)) + QStringLiteral(" freed)");
  else if (t.bytes)
    text += QStringLiteral(" (") + q(app::BytesText(t.bytes)) + QStringLiteral(")");
  return text;
}

}  // namespace

THistoryDialog::THistoryDialog(const QString& briefcaseName, std::vector<carry::Trip> trips,
                               QWidget* parent)
    : QDialog(parent), trips_(std::move(trips)) {
  setObjectName(QStringLiteral("HistoryDialog"));
  setWindowTitle(QStringLiteral("History of ") + briefcaseName);
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(QStringLiteral("What this computer did with the briefcase, newest "
                                          "first. Double-click a row to see its files."),
                           this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("HistoryList"));
  list_->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Operation"),
                          QStringLiteral("Files"), QStringLiteral("Result")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  for (const carry::Trip& t : trips_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, q(app::TripDateText(t)));
    item->setText(1, q(app::TripKindTitle(t.kind)));
    item->setText(2, filesText(t));
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(3, q(t.outcome));
    item->setToolTip(3, q(t.outcome));
  }
  // Each column as wide as its text and a gap, so that the right-aligned
  // file counts do not run into the results.
  const int gap = 2 * list_->fontMetrics().averageCharWidth();
  for (int c = 0; c < 3; ++c) {
    list_->resizeColumnToContents(c);
    list_->setColumnWidth(c, list_->columnWidth(c) + gap);
  }
  list_->header()->setStretchLastSection(true);
  if (!trips_.empty()) list_->setCurrentItem(list_->topLevelItem(0));
  connect(list_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { ShowNames(list_->indexOfTopLevelItem(item)); });
  layout->addWidget(list_, 1);

  empty_ = new QLabel(QStringLiteral("Nothing was done with this briefcase on this computer yet."),
                      this);
  empty_->setVisible(trips_.empty());
  layout->addWidget(empty_);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons_);
  resize(640, 360);
}

QDialog* THistoryDialog::ShowNames(int row) {
  if (row < 0 || static_cast<size_t>(row) >= trips_.size()) return nullptr;
  const carry::Trip& t = trips_[static_cast<size_t>(row)];
  auto* names = new QDialog(this);
  names->setObjectName(QStringLiteral("TripNames"));
  names->setAttribute(Qt::WA_DeleteOnClose);
  names->setWindowTitle(q(app::TripKindTitle(t.kind)) + QStringLiteral(" of ") +
                        q(app::TripDateText(t)));
  auto* layout = new QVBoxLayout(names);
  QString heading = q(app::TripSummary(t));  // "unload of 3 files ...", as a sentence
  if (!heading.isEmpty()) heading[0] = heading[0].toUpper();
  auto* summary = new QLabel(heading, names);
  summary->setWordWrap(true);
  layout->addWidget(summary);
  auto* list = new QListWidget(names);
  list->setObjectName(QStringLiteral("TripNameList"));
  for (const std::string& n : t.names) list->addItem(q(archive::printableName(n)));
  if (t.names.empty()) list->addItem(QStringLiteral("(no files)"));
  layout->addWidget(list, 1);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, names);
  connect(close, &QDialogButtonBox::rejected, names, &QDialog::reject);
  layout->addWidget(close);
  names->resize(480, 320);
  names->show();
  return names;
}
