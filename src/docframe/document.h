#pragma once
// One open document of the application: its file name, whether it is open
// and whether it has unsaved changes. It turns New, Open, Save, Save As and
// Close into calls of the application's handlers, asks the standard
// questions in between (through the question interface) and keeps the
// owner window's caption in step.
//
// A document works with a document manager (docmanager.h), which creates it,
// owns the actions whose enabled state it updates, supplies the Save dialog
// and the recently used list, and forgets it when it closes.
//
// States: closed (not Opened, no file name) and open, clean or dirty. A new,
// never saved document is named "Untitled" (or "Untitled" and a number in the
// multiple-document layout); a name whose first 8 characters are "Untitled"
// counts as untitled, and saving it asks for a name.

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

class QWidget;
class TDocManager;

class TDocument : public QObject {
  Q_OBJECT

 public:
  // A handler reports its outcome through `success`.
  using TSuccessEvent = std::function<void(TDocument* sender, bool& success)>;
  using TNotifyEvent = std::function<void(TDocument* sender)>;

  static constexpr const char* kUntitled = "Untitled";

  // `owner`: the window the document belongs to (the main window in the
  // single-document layout, the child window in the multiple-document one).
  explicit TDocument(QObject* owner = nullptr);
  // Closes the document first (which may ask to save it); the manager forgets
  // it in any case.
  ~TDocument() override;

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }
  bool Dirty() const { return dirty_; }
  // Sets the dirty flag; the manager's Save command is enabled to match.
  void SetDirty(bool value);
  bool Opened() const { return opened_; }
  bool DirtyAtCreation() const { return dirtyAtCreation_; }
  void SetDirtyAtCreation(bool value) { dirtyAtCreation_ = value; }
  TDocManager* DocManager() const;
  void SetDocManager(TDocManager* manager);

  // Make a new document / read the document named by FileName / write it to
  // FileName. Each handler's `success` starts false.
  void SetOnNew(TSuccessEvent handler) { onNew_ = std::move(handler); }
  void SetOnOpen(TSuccessEvent handler) { onOpen_ = std::move(handler); }
  void SetOnCommit(TSuccessEvent handler) { onCommit_ = std::move(handler); }
  // The document is being closed.
  void SetOnClose(TNotifyEvent handler) { onClose_ = std::move(handler); }
  // The document's child window became active (multiple-document layout).
  void SetOnActivate(TNotifyEvent handler) { onActivate_ = std::move(handler); }

  // OnNew (when set) decides; then open, named "Untitled" unless it has a
  // name already, dirty as DirtyAtCreation.
  bool New();
  // Needs a manager ("Document has no DocManager" otherwise). An open
  // document is closed first (a refusal ends here). OnOpen (when set)
  // decides; an exception from it is shown and counts as failure. On failure
  // the document is closed and has no name.
  bool Open();
  // Not open: false. Untitled: SaveAs. Otherwise OnCommit; success makes the
  // document clean.
  bool Save();
  // Asks for a name with the manager's Save dialog (and before replacing an
  // existing file) and commits under that name as Save does. Only when the
  // commit succeeds does the name become the document's (caption, in use in
  // the recently used list, the name left behind recorded there); a failed
  // commit keeps the old name.
  bool SaveAs();
  // May the document close? A dirty one asks whether to save it first.
  bool CloseQuery();
  // CloseQuery, then OnClose; a titled name goes to the top of the recently
  // used list; the manager forgets the document; the name is cleared.
  bool Close();
  // The child window became active: the document becomes the manager's
  // active one, with Save (when dirty), Save As and Close enabled.
  void Activate(QObject* sender);
  // The owner window's caption: "<title> - <file name>" while open, the
  // title alone when closed (single-document layout); the full file name in
  // the child window (multiple-document layout).
  void UpdateCaption();

  bool IsUntitled() const;
  // The part of a path after its last '/'.
  static std::string NameWithoutFolder(const std::string& path);

 private:
  QWidget* captionWindow() const;
  bool commit();

  std::string fileName_;
  bool dirty_ = false;
  bool opened_ = false;
  bool dirtyAtCreation_ = false;
  QPointer<TDocManager> manager_;
  TSuccessEvent onNew_, onOpen_, onCommit_;
  TNotifyEvent onClose_, onActivate_;
};
