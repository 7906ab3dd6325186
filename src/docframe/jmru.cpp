#include "docframe/jmru.h"

#include <QAction>
#include <QDir>
#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>

#include <algorithm>

#include "docframe/nametext.h"

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool lessText(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) {
                                        return static_cast<unsigned char>(lowerAscii(x)) <
                                               static_cast<unsigned char>(lowerAscii(y));
                                      });
}

// A file name or path as menu text: '&' stands for itself, not for an accelerator.
QString menuText(const std::string& s) {
  QString t = FileNameText(s);
  t.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return t;
}

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder of a path as menu text: the home folder as "~", and a long
// one cut in the middle, so that the menu stays narrow.
QString folderText(const std::string& path) {
  constexpr qsizetype kLongest = 40, kHead = 12;
  const size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
  if (folder.empty()) folder = "/";
  const QByteArray home = QDir::homePath().toUtf8();
  const std::string h(home.constData(), static_cast<size_t>(home.size()));
  if (h.size() > 1 && (folder == h || folder.rfind(h + "/", 0) == 0))
    folder = "~" + folder.substr(h.size());
  QString t = FileNameText(folder);
  if (t.size() > kLongest) t = t.left(kHead) + QChar(0x2026) + t.right(kLongest - kHead - 1);
  t.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return t;
}

// A stored "Count" beyond this is taken as damage, not as a list to read.
constexpr int32_t kMostStoredEntries = 1024;

// Takes an action out of every menu it stands in.
void detachFromMenus(QAction* item) {
  for (QObject* o : item->associatedObjects())
    if (auto* w = qobject_cast<QWidget*>(o)) w->removeAction(item);
}

void insertAt(QMenu* menu, int index, QAction* item) {
  const QList<QAction*> actions = menu->actions();
  if (index >= 0 && index < actions.size())
    menu->insertAction(actions[index], item);
  else
    menu->addAction(item);
}

}  // namespace

TJMostRecentlyUsedList::TJMostRecentlyUsedList(QObject* owner) : QObject(owner), storage_(this) {}

TJMostRecentlyUsedList::~TJMostRecentlyUsedList() {
  destroying_ = true;
  if (autoSave_) {
    try {
      Save();
    } catch (...) {
      // A settings problem must not stop the program from closing.
    }
  }
}

// ---- the list ----

int TJMostRecentlyUsedList::indexOf(const std::string& name) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].name == name) return static_cast<int>(i);
  return -1;
}

int TJMostRecentlyUsedList::IndexOf(const std::string& name) const { return indexOf(name); }

std::string TJMostRecentlyUsedList::GetItem(int position) const {
  if (position < 0 || position >= GetCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(position) + ")");
  return entries_[static_cast<size_t>(position)].name;
}

QAction* TJMostRecentlyUsedList::GetMenuItem(const std::string& name) const {
  const int i = indexOf(name);
  return i < 0 ? nullptr : entries_[static_cast<size_t>(i)].item.data();
}

std::string TJMostRecentlyUsedList::ItemByMenu(const QObject* menuItem) const {
  if (!menuItem) return std::string();
  for (const Entry& e : entries_)
    if (e.item && e.item.data() == menuItem) return e.name;
  return std::string();
}

void TJMostRecentlyUsedList::CopyItems(std::vector<std::string>& strings) const {
  strings.clear();
  for (const Entry& e : entries_) strings.push_back(e.name);
}

void TJMostRecentlyUsedList::freeItem(Entry& e) {
  if (!e.item) return;
  QAction* item = e.item.data();
  e.item = nullptr;
  detachFromMenus(item);
  // The item may be the one whose click is being handled right now.
  item->deleteLater();
}

void TJMostRecentlyUsedList::sortEntries() {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return lessText(a.name, b.name); });
}

QAction* TJMostRecentlyUsedList::MakeMenuItem(const std::string& /*name*/) {
  auto* item = new QAction(this);
  connect(item, &QAction::triggered, this, [this, item] { HandleMenuClick(item); });
  return item;
}

void TJMostRecentlyUsedList::Add(const std::string& name) {
  if (name.empty()) return;
  if (indexOf(name) >= 0) {
    BringToTop(name);
    return;
  }
  Entry e{name, root_ ? MakeMenuItem(name) : nullptr};
  if (sortBy_ == skName)
    entries_.push_back(std::move(e));
  else
    entries_.insert(entries_.begin(), std::move(e));
  if (entries_.size() > maxItems_) TrimList();
  if (sortBy_ == skName) sortEntries();
  DoChange();
}

void TJMostRecentlyUsedList::BringToTop(const std::string& name) {
  if (sortBy_ != skMostRecent) return;
  const int i = indexOf(name);
  if (i < 0) throw EJMRUError("Cannot move " + name + " to top of MRU - it is not in the MRU");
  if (i == 0) return;
  Entry e = std::move(entries_[static_cast<size_t>(i)]);
  entries_.erase(entries_.begin() + i);
  entries_.insert(entries_.begin(), std::move(e));
  DoChange();
}

void TJMostRecentlyUsedList::Delete(const std::string& name) {
  const int i = indexOf(name);
  if (i < 0) return;
  freeItem(entries_[static_cast<size_t>(i)]);
  entries_.erase(entries_.begin() + i);
  DoChange();
}

void TJMostRecentlyUsedList::Clear() {
  for (Entry& e : entries_) freeItem(e);
  entries_.clear();
  DoChange();
}

bool TJMostRecentlyUsedList::Used(const std::string& name) {
  if (indexOf(name) >= 0) {
    BringToTop(name);
    return true;
  }
  Add(name);
  return false;
}

void TJMostRecentlyUsedList::InUse(const std::string& name) {
  if (hideInUse_) Delete(name);
}

void TJMostRecentlyUsedList::TrimList() {
  while (entries_.size() > maxItems_) {
    freeItem(entries_.back());
    entries_.pop_back();
  }
}

// ---- storage ----

void TJMostRecentlyUsedList::Init() {
  if (autoSave_) Load();
  DoChange();
}

void TJMostRecentlyUsedList::Load() {
  Clear();
  if (storage_.Key().empty()) return;
  const bool wasOpen = storage_.IsOpen();
  if (!wasOpen) storage_.Open();
  try {
    const int32_t count = std::clamp(storage_.ReadInteger("Count", 0), 0, kMostStoredEntries);
    for (int32_t i = count - 1; i >= 0; --i) {
      const std::string name = storage_.ReadString(std::to_string(i), std::string());
      if (!name.empty()) Add(name);
    }
  } catch (...) {
    if (!wasOpen) storage_.Close();
    throw;
  }
  if (!wasOpen) storage_.Close();
}

void TJMostRecentlyUsedList::Save() {
  if (storage_.Key().empty()) return;
  const bool wasOpen = storage_.IsOpen();
  if (!wasOpen) storage_.Open();
  try {
    storage_.WriteInteger("Count", GetCount());
    for (size_t i = 0; i < entries_.size(); ++i)
      storage_.WriteString(std::to_string(i), entries_[i].name);
  } catch (...) {
    if (!wasOpen) storage_.Close();
    throw;
  }
  if (!wasOpen) storage_.Close();
}

// ---- the menu ----

void TJMostRecentlyUsedList::DoChange() {
  if (destroying_) return;
  if (menuKind_ == mkSubMenu && root_) {
    if (entries_.empty()) {
      if (root_->isEnabled()) {
        root_->setEnabled(false);
        disabledRoot_ = true;
      }
    } else if (disabledRoot_) {
      root_->setEnabled(true);
      disabledRoot_ = false;
    }
  } else if (entries_.empty()) {
    KillSeparator();
  } else if (menuKind_ == mkInsertWithSeparator && root_ && root_ != separator_) {
    replacedRoot_ = root_;
    if (!separator_) {
      // A plain separator: the toolkit would show a separator's text as a heading.
      separator_ = new QAction(this);
      separator_->setSeparator(true);
      // A separator destroyed elsewhere hands the anchor back to the item it replaced.
      connect(separator_, &QObject::destroyed, this, [this] {
        if (!root_ && !separator_) {
          root_ = replacedRoot_;
          replacedRoot_ = nullptr;
        }
      });
    }
    root_ = separator_;
    AddAfter(separator_, replacedRoot_);
  }
  RefreshMenu();
  if (onChange_) onChange_(this);
}

void TJMostRecentlyUsedList::KillSeparator() {
  if (!separator_) return;
  root_ = replacedRoot_;
  replacedRoot_ = nullptr;
  QAction* sep = separator_.data();
  separator_ = nullptr;
  detachFromMenus(sep);
  delete sep;
}

void TJMostRecentlyUsedList::SetMenuKind(TJMRUMenuKind kind) {
  menuKind_ = kind;
  if (kind != mkInsertWithSeparator && root_ && root_ == separator_) KillSeparator();
  RefreshMenu();
}

QMenu* TJMostRecentlyUsedList::ParentMenu(const QAction* item) {
  if (!item) return nullptr;
  for (QObject* o : item->associatedObjects())
    if (auto* m = qobject_cast<QMenu*>(o)) return m;
  return nullptr;
}

void TJMostRecentlyUsedList::watchToolTips(QMenu* menu) {
  if (!menu || watched_.contains(menu)) return;
  watched_.append(menu);
  menu->installEventFilter(this);
}

QMenu* TJMostRecentlyUsedList::menuOf(QAction* destination, bool inside) {
  if (!inside) return ParentMenu(destination);
  if (QMenu* sub = destination->menu<QMenu*>()) return sub;
  // The root has no submenu yet: it gets one, owned by the menu it stands in.
  QMenu* parent = ParentMenu(destination);
  if (!parent) return nullptr;
  auto* sub = new QMenu(parent);
  destination->setMenu(sub);
  return sub;
}

QString TJMostRecentlyUsedList::CaptionFor(int position) const {
  const std::string& name = entries_.at(static_cast<size_t>(position)).name;
  const int n = position + numberOffset_;
  if (!numberAccelerators_ || n < 0 || n > 35) return menuText(name);
  QString caption = QStringLiteral("&") + QLatin1Char(kAccelerators[n]) + QLatin1Char(' ') +
                    menuText(baseName(name));
  // Two entries of one name (work.brc on the stick and at home) would read
  // alike: each then shows its folder.
  const std::string base = baseName(name);
  for (const Entry& e : entries_)
    if (e.name != name && baseName(e.name) == base) {
      caption += QStringLiteral(" (") + folderText(name) + QLatin1Char(')');
      break;
    }
  return caption;
}

bool TJMostRecentlyUsedList::eventFilter(QObject* watched, QEvent* event) {
  // The menu shows no tool tips of its own; an entry's is its full path.
  if (event->type() == QEvent::ToolTip)
    if (auto* menu = qobject_cast<QMenu*>(watched)) {
      auto* help = static_cast<QHelpEvent*>(event);
      QAction* item = menu->actionAt(help->pos());
      if (item && !ItemByMenu(item).empty()) {
        QToolTip::showText(help->globalPos(), item->toolTip(), menu);
        return true;
      }
    }
  return QObject::eventFilter(watched, event);
}

void TJMostRecentlyUsedList::RefreshMenu() {
  if (!root_) return;
  // Every item is taken out and put back in list order, so that the menu
  // always shows the list as it is, whatever was moved or removed.
  for (Entry& e : entries_)
    if (e.item) detachFromMenus(e.item);
  int placed = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    QAction* item = entries_[i].item;
    if (!item) continue;
    item->setText(CaptionFor(static_cast<int>(i)));
    const QString full = FileNameText(entries_[i].name);
    item->setToolTip(full);
    item->setStatusTip(full);
    if (menuKind_ == mkSubMenu) {
      AddAt(placed, item, root_, true);
      watchToolTips(ParentMenu(item));
    } else {
      QMenu* parent = ParentMenu(root_);
      if (!parent) return;
      watchToolTips(parent);
      const int rootAt = static_cast<int>(parent->actions().indexOf(root_.data()));
      AddAt(menuKind_ == mkInsertBefore ? rootAt : rootAt + placed + 1, item, root_, false);
    }
    ++placed;
  }
}

void TJMostRecentlyUsedList::AddAt(int index, QAction* item, QAction* destination, bool inside) {
  if (!item || !destination) throw EJMRUError("AddAt: src or dest is nil");
  QMenu* parent = menuOf(destination, inside);
  if (!parent) return;
  if (parent->actions().contains(item)) parent->removeAction(item);
  insertAt(parent, index, item);
}

void TJMostRecentlyUsedList::AddAfter(QAction* item, QAction* destination) {
  if (!item || !destination) throw EJMRUError("AddAfter: src or dest is nil");
  QMenu* parent = ParentMenu(destination);
  if (!parent) return;
  if (parent->actions().contains(item)) parent->removeAction(item);
  const int at = static_cast<int>(parent->actions().indexOf(destination));
  insertAt(parent, at + 1, item);
}

void TJMostRecentlyUsedList::HandleMenuClick(QObject* sender) {
  const std::string text = ItemByMenu(sender);
  bool opened = true;
  if (onSelect_) onSelect_(this, text, opened);
  if (opened) InUse(text);
}
