#pragma once
// The recently used files list: an ordered list of file paths, shown as
// numbered items of a menu, kept in the settings storage from one run to the
// next.
//
// Menu items are the toolkit's actions. The list's anchor in a menu is
// RootMenuItem, an action that stands in a menu (its parent menu is the first
// menu the action was added to); with mkSubMenu the entries go into the
// root's own submenu, which the list creates when the root has none. Each
// entry's menu item is owned by the list; an item, the root or the separator
// that is destroyed elsewhere is forgotten.
//
// Names are paths, compared by their exact bytes (two names that differ only
// in letter case are two files); the sorted order (skName) ignores the case
// of ASCII letters.
//
// Storage layout under Storage's key: the integer "Count", then the texts
// "0", "1", ... "Count - 1" in list order ("0" is the most recent with
// skMostRecent). Values left from a longer earlier list are not removed.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "components/jstore.h"

class QAction;
class QMenu;

enum TJMRUSortKind { skName, skMostRecent };
enum TJMRUMenuKind { mkInsertBefore, mkInsertAfter, mkInsertWithSeparator, mkSubMenu };

// Misuse of the list: moving an absent name to the top, placing a missing item.
class EJMRUError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class TJMostRecentlyUsedList : public QObject {
  Q_OBJECT

 public:
  using TChangeEvent = std::function<void(TJMostRecentlyUsedList* sender)>;
  // `opened` starts true; a handler that leaves it true lets the list treat
  // the entry as opened (InUse).
  using TSelectEvent =
      std::function<void(TJMostRecentlyUsedList* sender, const std::string& item, bool& opened)>;

  // The characters that number the entries' captions.
  static constexpr const char* kAccelerators = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

  explicit TJMostRecentlyUsedList(QObject* owner = nullptr);
  // Saves the list when AutoSave is on (a storage failure is dropped here).
  ~TJMostRecentlyUsedList() override;

  // ---- properties ----
  TJStorage& Storage() { return storage_; }
  const TJStorage& Storage() const { return storage_; }
  bool AutoSave() const { return autoSave_; }  // default true
  void SetAutoSave(bool v) { autoSave_ = v; }
  bool HideInUse() const { return hideInUse_; }  // default true
  void SetHideInUse(bool v) { hideInUse_ = v; }
  bool NumberAccelerators() const { return numberAccelerators_; }  // default true
  void SetNumberAccelerators(bool v) { numberAccelerators_ = v; }
  int NumberOffset() const { return numberOffset_; }  // default 0
  void SetNumberOffset(int v) { numberOffset_ = v; }
  TJMRUSortKind SortBy() const { return sortBy_; }  // default skMostRecent
  void SetSortBy(TJMRUSortKind v) { sortBy_ = v; }
  unsigned MaxItems() const { return maxItems_; }  // default 10
  void SetMaxItems(unsigned v) { maxItems_ = v; }
  TJMRUMenuKind MenuKind() const { return menuKind_; }  // default mkSubMenu
  // Stores the kind; leaving mkInsertWithSeparator takes the list's separator
  // away again; then RefreshMenu.
  void SetMenuKind(TJMRUMenuKind kind);
  QAction* RootMenuItem() const { return root_; }
  // Only stores the anchor; entries added from now on get menu items.
  void SetRootMenuItem(QAction* item) { root_ = item; }
  void SetOnChange(TChangeEvent handler) { onChange_ = std::move(handler); }
  void SetOnSelect(TSelectEvent handler) { onSelect_ = std::move(handler); }

  // ---- operations ----
  // Loads (when AutoSave), then DoChange.
  void Init();
  // Clears the list and reads it from the storage (nothing more while the
  // storage's key is empty). Storage errors reach the caller after the
  // storage has been closed again (unless it was open before).
  void Load();
  // Writes the list (nothing while the key is empty).
  void Save();

  // An empty name is ignored; a present one goes to the top; a new one is
  // added (at the top with skMostRecent, sorted in with skName) and the list
  // is trimmed to MaxItems.
  void Add(const std::string& name);
  void Delete(const std::string& name);
  void Clear();
  // Present: to the top, true. Absent: added, false.
  bool Used(const std::string& name);
  // With HideInUse the name leaves the list.
  void InUse(const std::string& name);
  // Only with skMostRecent. Raises EJMRUError
  // "Cannot move %s to top of MRU - it is not in the MRU" for an absent name.
  void BringToTop(const std::string& name);

  int IndexOf(const std::string& name) const;  // -1 when absent
  // Raises std::out_of_range for a position outside the list.
  std::string GetItem(int position) const;
  int GetCount() const { return static_cast<int>(entries_.size()); }
  QAction* GetMenuItem(const std::string& name) const;  // nullptr when none
  std::string ItemByMenu(const QObject* menuItem) const;  // "" when none
  void CopyItems(std::vector<std::string>& strings) const;

  // Drops every entry beyond the first MaxItems.
  void TrimList();
  // Captions and places of the entries' menu items.
  void RefreshMenu();
  // The root's enabled state or the separator, RefreshMenu, then OnChange.
  virtual void DoChange();
  // Puts the replaced root back and frees the list's separator.
  void KillSeparator();
  // A new menu item for an entry: owned by the list, empty caption, clicks go
  // to HandleMenuClick.
  QAction* MakeMenuItem(const std::string& name);
  // Places `item` right after `destination` in the destination's menu.
  // Raises EJMRUError "AddAfter: src or dest is nil".
  void AddAfter(QAction* item, QAction* destination);
  // Places `item` at `index` of the destination's menu (of the destination's
  // own submenu when `inside`). Raises EJMRUError "AddAt: src or dest is nil".
  void AddAt(int index, QAction* item, QAction* destination, bool inside);
  // A click on an entry's menu item.
  void HandleMenuClick(QObject* sender);

  // The separator the list made (nullptr when none) and the root it replaced.
  QAction* Separator() const { return separator_; }
  QAction* ReplacedRoot() const { return replacedRoot_; }

  // The caption of the entry at `position` as the menu shows it: its number
  // and file name, with its folder when another entry has the same name.
  // The full path is the item's tool tip and status hint.
  QString CaptionFor(int position) const;

  bool eventFilter(QObject* watched, QEvent* event) override;
  // The menu an action stands in (the first one it was added to), or nullptr.
  static QMenu* ParentMenu(const QAction* item);

 private:
  struct Entry {
    std::string name;
    QPointer<QAction> item;
  };
  int indexOf(const std::string& name) const;
  void freeItem(Entry& e);
  void sortEntries();
  QMenu* menuOf(QAction* destination, bool inside);
  // Shows the entries' tool tips in this menu.
  void watchToolTips(QMenu* menu);

  TJStorage storage_;
  bool autoSave_ = true;
  bool hideInUse_ = true;
  bool numberAccelerators_ = true;
  int numberOffset_ = 0;
  TJMRUSortKind sortBy_ = skMostRecent;
  unsigned maxItems_ = 10;
  TJMRUMenuKind menuKind_ = mkSubMenu;
  QPointer<QAction> root_;
  QPointer<QAction> separator_;
  QPointer<QAction> replacedRoot_;
  bool disabledRoot_ = false;
  bool destroying_ = false;
  std::vector<Entry> entries_;
  QList<QPointer<QMenu>> watched_;
  TChangeEvent onChange_;
  TSelectEvent onSelect_;
};
