#pragma once
// The document manager: owns the File commands (New, Open, Save, Save As,
// Close, Exit) of a main window, keeps the open documents (document.h), runs
// the Open and Save dialogs, and keeps the recently used files list in the
// File menu, stored under Storage's key.
//
// The owner window lays out its commands and menus, sets the manager's
// properties and then calls Loaded(), which hooks everything up:
//  - ActionList is the object whose child actions form the action list
//    (normally the window); the actions are found by their object names
//    FileNew, FileOpen, FileSave, FileSaveAs, FileClose and FileExit. When
//    the list has no FileNew, the six actions are made (with their menu
//    items, tool buttons and hints).
//  - FileMenuItem is the File menu. The recently used entries follow the
//    item just before the one named ExitSeparator, after a separator of
//    their own; a menu without ExitSeparator shows no entries.
//  - An action has one handler: AssignActions takes the place of any handler
//    the owner window had connected to the six actions.
//
// Layouts: single-document (one document in the main window) or, when the
// owner is a main window whose central widget is a QMdiArea at creation,
// multiple-document (one child window per document).

#include <QIcon>
#include <QList>
#include <QMdiArea>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QToolBar>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "components/jstore.h"

class QAction;
class QMdiSubWindow;
class QWidget;
class TDocument;
class TJMostRecentlyUsedList;

// An Open or Save dialog as the manager configures it; shown through the
// question interface.
struct TDocFileDialog {
  bool save = false;
  std::string title;
  std::string defaultExt;  // without the dot
  std::string filter;      // "Description|*.ext"
  // The chosen path, or nothing when cancelled.
  std::optional<std::string> Execute(const std::string& startPath) const;
};

class TDocManager : public QObject {
  Q_OBJECT

 public:
  using TNewDocumentEvent = std::function<void(TDocManager* sender, TDocument*& document)>;
  // `document`: the active document when the command ran (may be none).
  using TCloseEvent = std::function<void(TDocManager* sender, TDocument* document)>;

  static constexpr int kMaxDocuments = 100;

  // `owner`: the main window. Its caption now is the saved title.
  explicit TDocManager(QObject* owner = nullptr);
  // Closes every document (Exit).
  ~TDocManager() override;

  // ---- properties ----
  QObject* ActionList() const { return actionList_; }
  void SetActionList(QObject* list) { actionList_ = list; }
  // Only its key and root key are used: the recently used list is kept there.
  TJStorage& Storage() { return storage_; }
  QMenu* FileMenuItem() const { return fileMenu_; }
  void SetFileMenuItem(QMenu* menu) { fileMenu_ = menu; }
  QToolBar* ToolBar() const { return toolBar_; }
  void SetToolBar(QToolBar* bar) { toolBar_ = bar; }
  const std::string& DefaultExt() const { return defaultExt_; }
  void SetDefaultExt(const std::string& ext) { defaultExt_ = ext; }
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& filter) { filter_ = filter; }
  // Kept with the window's settings; nothing acts on it.
  bool RegisteredExtension() const { return registeredExtension_; }
  void SetRegisteredExtension(bool v) { registeredExtension_ = v; }

  // The images that the image indexes below refer to (the action list's images).
  const QList<QIcon>& Images() const { return images_; }
  void SetImages(const QList<QIcon>& images) { images_ = images; }
  // -1: no image (the default). After Loaded, a change adds or removes the
  // command's tool button as CreateToolBtn does.
  int ImageIndexNew() const { return imageIndex_[kNew]; }
  int ImageIndexOpen() const { return imageIndex_[kOpen]; }
  int ImageIndexSave() const { return imageIndex_[kSave]; }
  int ImageIndexSaveAs() const { return imageIndex_[kSaveAs]; }
  int ImageIndexClose() const { return imageIndex_[kClose]; }
  int ImageIndexExit() const { return imageIndex_[kExit]; }
  void SetImageIndexNew(int i) { setImageIndex(kNew, i); }
  void SetImageIndexOpen(int i) { setImageIndex(kOpen, i); }
  void SetImageIndexSave(int i) { setImageIndex(kSave, i); }
  void SetImageIndexSaveAs(int i) { setImageIndex(kSaveAs, i); }
  void SetImageIndexClose(int i) { setImageIndex(kClose, i); }
  void SetImageIndexExit(int i) { setImageIndex(kExit, i); }

  // Hints "short|long" of the commands the manager makes.
  const QString& HintNew() const { return hint_[kNew]; }
  const QString& HintOpen() const { return hint_[kOpen]; }
  const QString& HintSave() const { return hint_[kSave]; }
  const QString& HintSaveAs() const { return hint_[kSaveAs]; }
  const QString& HintClose() const { return hint_[kClose]; }
  const QString& HintExit() const { return hint_[kExit]; }
  void SetHintNew(const QString& h) { hint_[kNew] = h; }
  void SetHintOpen(const QString& h) { hint_[kOpen] = h; }
  void SetHintSave(const QString& h) { hint_[kSave] = h; }
  void SetHintSaveAs(const QString& h) { hint_[kSaveAs] = h; }
  void SetHintClose(const QString& h) { hint_[kClose] = h; }
  void SetHintExit(const QString& h) { hint_[kExit] = h; }

  // Supplies the document object for New and Open.
  void SetOnNewDocument(TNewDocumentEvent handler) { onNewDocument_ = std::move(handler); }
  // After the Close command (and, single-document, before Exit closes the window).
  void SetOnClose(TCloseEvent handler) { onClose_ = std::move(handler); }

  // Hooks up actions, dialogs and the recently used list (see above).
  void Loaded();

  // ---- operations ----
  // A new document, or none (refused, failed, or the limit reached).
  TDocument* New();
  // Opens a file; an empty name asks with the Open dialog.
  bool Open(const std::string& name);
  // May the application close? Closes every open document, last first.
  bool Exit();
  // Forgets a document (called when it closes).
  void Remove(TDocument* document);
  TDocument* CreateDocument();
  // The action of the action list with this object name, or nullptr.
  QAction* FindAction(const QString& name) const;

  void CreateActions();
  void AssignActions();
  void CreateMenuItems();
  void CreateToolBarButtons();
  void CreateToolBtn(int imageIndex, const QString& buttonName, QAction* action);
  void CreateHints();

  void RecentlyUsedSelect(TJMostRecentlyUsedList* sender, const std::string& item, bool& opened);

  void NewActionExecute();
  void OpenActionExecute();
  void SaveActionExecute();
  void SaveAsActionExecute();
  void CloseActionExecute();
  void ExitActionExecute();

  // ---- run-time state ----
  const std::vector<TDocument*>& Documents() const { return documents_; }
  TDocument* ActiveDocument() const { return active_; }
  void SetActiveDocument(TDocument* document) { active_ = document; }
  bool IsMultipleDocument() const { return mdiArea_ != nullptr; }
  QMdiArea* MdiArea() const { return mdiArea_; }
  const QString& SavedTitle() const { return savedTitle_; }
  QWidget* OwnerWindow() const;
  QAction* NewAction() const { return actions_[kNew]; }
  QAction* OpenAction() const { return actions_[kOpen]; }
  QAction* SaveAction() const { return actions_[kSave]; }
  QAction* SaveAsAction() const { return actions_[kSaveAs]; }
  QAction* CloseAction() const { return actions_[kClose]; }
  QAction* ExitAction() const { return actions_[kExit]; }
  // Present after Loaded.
  const TDocFileDialog* SaveDialog() const { return dialogsMade_ ? &saveDialog_ : nullptr; }
  const TDocFileDialog* OpenDialog() const { return dialogsMade_ ? &openDialog_ : nullptr; }
  TJMostRecentlyUsedList* RecentlyUsed() const { return mru_; }
  // The File menu item after which the recently used entries appear.
  QAction* RootItem() const { return rootItem_; }

  // The name as the user gave it, made absolute and without "." and ".."
  // steps; links are kept (a link to a briefcase stays its name). Only the
  // letter case of each step is taken from the disk, where a folder that
  // ignores case (a FAT or exFAT stick) spells it otherwise.
  static std::string LongFileName(const std::string& name);
  // The folder the Open dialog starts in: that of the last briefcase (the
  // top of the recently used list), when it is there; else none.
  std::string OpenDialogFolder() const;
  // The child window a document belongs to (multiple-document layout), or nullptr.
  QMdiSubWindow* ChildWindowOf(const TDocument* document) const;

 private:
  enum Command { kNew, kOpen, kSave, kSaveAs, kClose, kExit, kCommands };
  static const char* const kActionNames[kCommands];
  static const char* const kButtonNames[kCommands];

  void setImageIndex(Command c, int index);
  QIcon imageAt(int index) const;
  void enable(Command c, bool on);
  bool atDocumentLimit() const;

  QPointer<QObject> actionList_;
  TJStorage storage_;
  QPointer<QMenu> fileMenu_;
  QPointer<QToolBar> toolBar_;
  std::string defaultExt_;
  std::string filter_;
  bool registeredExtension_ = false;
  QList<QIcon> images_;
  int imageIndex_[kCommands] = {-1, -1, -1, -1, -1, -1};
  QString hint_[kCommands];
  TNewDocumentEvent onNewDocument_;
  TCloseEvent onClose_;

  bool loaded_ = false;
  std::vector<TDocument*> documents_;
  TDocument* active_ = nullptr;
  QPointer<QMdiArea> mdiArea_;
  QString savedTitle_;
  QPointer<QAction> actions_[kCommands];
  TDocFileDialog saveDialog_;
  TDocFileDialog openDialog_;
  bool dialogsMade_ = false;
  TJMostRecentlyUsedList* mru_ = nullptr;
  QPointer<QAction> rootItem_;
};
