#pragma once
// The main window: the working surface of the program.
//
// It owns the commands (actions, menus, tool bar), the status line, the
// timers and the diagnostic output. While no briefcase is open the Briefcase
// and Options menus are hidden, the client area is hidden and the status line
// asks the user to open or create a briefcase.
//
// Hints are written "short|long": the short part is the tool tip, the long
// part shows in the status line while the pointer rests on the command; a
// hint without '|' serves as both.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/rows.h"
#include "dialogs/helpbrowser.h"  // the help window, whole for its users
#include "platform/filetime.h"

class QAction;
class QItemSelection;
class QLabel;
class QLineEdit;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeView;
class TDebugHelper;
class TDocManager;
class TDocument;
class TFolderMonitor;
class TListModel;

namespace archive {
class TCompress;
struct TExtractEntry;
}
namespace briefcase {
class TBriefcaseDoc;
struct TBriefcaseDocLinks;
}

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // What the command line asked for besides opening a briefcase.
  enum CommandLineMode : uint8_t { clmNone = 0, clmLoad = 1, clmUnload = 2 };

  // `arguments`: the command line without the program's name.
  explicit TMainForm(const QStringList& arguments = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // "l" wins over "u"; each introduced by '-' or '/', letter case ignored.
  static CommandLineMode ParseCommandLineMode(const QStringList& arguments);
  CommandLineMode commandLineMode() const { return commandLineMode_; }
  const QStringList& arguments() const { return arguments_; }

  // True while a briefcase is open.
  bool BriefcaseOpen() const { return briefcaseOpen_; }
  // The open briefcase and its archive engine (null while none is open).
  briefcase::TBriefcaseDoc* Briefcase() const { return briefcase_.get(); }
  archive::TCompress* Engine() const { return engine_; }

  // ---- operations shared by the briefcase commands ----

  // Both lists: the local scan first, then the briefcase's listing (which
  // sets the icons of the local rows the scan made).
  void RefreshLists();
  // Merges the load candidates into LocalList: kept rows keep their place and
  // selection (and take a changed file's size and date), new ones are
  // appended in scan order, vanished ones removed. The icons of the rows
  // concerned and of their entries follow what the disk holds now.
  void RefreshLocalList();
  // Rebuilds BriefcaseList from a listing run, comparing each entry with its
  // local file; entries selected before stay selected. An interrupted
  // listing closes the briefcase.
  void RefreshBriefcaseList();
  // Reads the briefcase date and shows it in BriefcaseLabel.
  void UpdateBriefcaseLabel();
  // The local folder and the briefcase path are known (kStrNoLocalFolder, kStrNoBriefcaseFile
  // otherwise); hands both to the engine without a trailing '/'.
  bool CheckFolders();
  // The configuration into the engine's comment; the briefcase becomes dirty.
  void StoreConfiguration();
  // Selects every row of both lists.
  void SelectAll1Click();
  // F5: a changed LocalEdit becomes the local folder (an emptied one shows
  // the stored folder again), then both lists.
  void Refresh1Click();

  // Which list a row accessor or a snapshot means.
  enum class List { Local, Briefcase };
  // The selected rows in ascending order.
  std::vector<int> SelectionSnapshot(List list) const;
  // The selection a load or unload works on, after CheckFolders; empty when
  // there is nothing to do.
  std::vector<int> OperationRows(List list);
  // Full local path of a local row; entry name ('/'-separated) of a briefcase row.
  std::string LocalPathOf(int row) const;
  std::string EntryNameOf(int row) const;
  // Selected count and size in kB, per list.
  int SelectedCount(List list) const;
  uint32_t SelectedKilobytes(List list) const;
  plat::FileTime BriefcaseDate() const { return briefcaseDate_; }

  // Whether an unload puts each local file it replaces into the trash first
  // (the per-user option "Keep replaced files in the trash", on by default).
  bool KeepReplacedInTrash() const { return keepReplacedInTrash_; }
  void SetKeepReplacedInTrash(bool on) { keepReplacedInTrash_ = on; }

  // ---- one operation at a time ----
  //
  // An operation (a listing, load, unload, delete, clear) runs inside its
  // command handler while the progress window dispatches events. While one
  // runs, every command of the window (the File menu and its recently used
  // entries included), the column headers, the keys of the lists and the
  // window's close are refused, so nothing can start a second run on the
  // engine, close the briefcase or end the program before it ends. Folder
  // changes reported meanwhile are refreshed once it has ended.
  class TOperation {
   public:
    explicit TOperation(TMainForm& form);
    ~TOperation();
    TOperation(const TOperation&) = delete;
    TOperation& operator=(const TOperation&) = delete;

   private:
    TMainForm& form_;
    std::vector<QAction*> disabled_;
  };
  bool OperationRunning() const { return operationDepth_ > 0; }

  // Enables, shows and hides the commands for the current state.
  void UpdateCommands();

  // A status text of a running operation: to the diagnostic output, to the
  // progress window's status line (repainted at once), then the pending
  // events are dispatched.
  void ShowStatus(const QString& text);

  // The status line's own text (also sent to the diagnostic output).
  void SetStatusText(const QString& text);
  QString StatusText() const;
  // What the status line shows now: a hint while one is shown, else the status text.
  QString StatusLineText() const;

  // Hints "short|long".
  static QString ShortHint(const QString& hint);
  static QString LongHint(const QString& hint);
  static void SetHint(QAction* action, const QString& hint);
  static void SetHint(QWidget* widget, const QString& hint);

  TDebugHelper& debugHelper() { return *debugHelper_; }
  // Watches the open briefcase's local folder.
  TFolderMonitor* FolderMonitor1() const { return folderMonitor_.get(); }

  // Commands.
  QAction* FileNew;
  QAction* FileOpen;
  QAction* FileSave;
  QAction* FileSaveAs;
  QAction* FileClose;
  QAction* FileExit;
  QAction* BriefcaseLoad1;
  QAction* BriefcaseUnload1;
  QAction* ClearItem;
  QAction* CompactItem;
  QAction* HistoryItem;
  QAction* UndoUnloadItem;
  QAction* BriefcaseSettings;
  QAction* SetLocalFolder1;
  QAction* IncludeFiles1;
  QAction* ExcludeFiles1;
  QAction* OptionsDeleteBriefcase;
  QAction* OptionsDeleteLocal;
  QAction* SelectAll1;
  QAction* OptionsRefresh;
  QAction* OptionsKeepInTrash;  // checkable: the per-user trash option
  // checkable: this computer carries deletions with the open briefcase
  QAction* OptionsCarryDeletions;
  QAction* HelpContentsItem;
  QAction* HelpSearchItem;
  QAction* HelpHowToUseItem;
  QAction* HelpAbout;

  // Menus ("&File", "&Briefcase", "&Options", "&Help").
  QMenu* FileMenu;
  QMenu* BriefcaseItem;
  QMenu* OptionsItem;
  QMenu* HelpMenu;

  QToolBar* ToolBar1;
  // The working area (the two lists and their panels); visible only while a
  // briefcase is open.
  QWidget* ClientPanel;
  QLabel* StatusLabel;  // the status line's simple panel

  // LeftPanel: the two list pictures and the two arrow buttons midway.
  QWidget* LeftPanel;
  QLabel* Image1;
  QLabel* Image2;
  QToolButton* LoadButton2;
  QToolButton* UnloadButton2;
  // MainPanel: TopPanel (local folder row and LocalList), Splitter1,
  // BriefcaseInfoPanel and BriefcaseList.
  QWidget* MainPanel;
  QSplitter* Splitter1;
  QWidget* TopPanel;
  QWidget* LocalInfoPanel;
  QLabel* LocalLabel;
  QLineEdit* LocalEdit;
  QLabel* LocalInfo;
  QTreeView* LocalList;
  QWidget* BottomPanel;
  QWidget* BriefcaseInfoPanel;
  QLabel* BriefcaseLabel;
  QLabel* BriefcaseInfo;
  QTreeView* BriefcaseList;
  TListModel* LocalModel;
  TListModel* BriefcaseModel;

  QTimer* RefreshTimer;       // deferred refresh after a folder change; one-shot
  QTimer* StartupDelayTimer;  // runs the command line once the event loop runs

  // The document framework: the File commands, the recently used entries of
  // the File menu and the caption "Carryvale - <briefcase>" (both owned).
  TDocManager* DocManager1 = nullptr;
  TDocument* Document1 = nullptr;

 signals:
  // The window closed (after FormCloseQuery allowed it).
  void closed();

 public slots:
  void HelpAboutExecute();
  // The manual's first page, its list of topics, its page on reading it.
  void HelpContents();
  void HelpSearch();
  void HelpHowToUse();

 public:
  // The manual window of the help commands (created on first use).
  THelpBrowser* HelpWindow() const { return helpWindow_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // May the window close now? Document1's close query decides (it may ask
  // whether to save the briefcase).
  virtual bool FormCloseQuery();

  // The document framework's events. Until the briefcase document exists,
  // New, Open and Commit report failure and Close has nothing to close.
  virtual void DocManager1NewDocument(TDocManager* sender, TDocument*& document);
  virtual void Document1New(TDocument* sender, bool& success);
  virtual void Document1Open(TDocument* sender, bool& success);
  virtual void Document1Commit(TDocument* sender, bool& success);
  virtual void Document1Close(TDocument* sender);

  // The briefcase commands. The operations run as:
  //   if (!CheckFolders()) return;            // kStrNoLocalFolder, kStrNoBriefcaseFile
  //   TOperation operation(*this);            // nothing else runs meanwhile
  //   rows = SelectionSnapshot(List::Local);  // LocalPathOf / EntryNameOf
  //   ... the core workflow on *Engine() with the progress window shown; the
  //   engine's callbacks already end in ShowStatus, TotalProgress,
  //   FileProgress, CancelCheck, WriteProtected and StoreConfiguration ...
  //   then empty the list concerned and RefreshLists() (after the lock ends,
  //   so that the refresh is not deferred).
  // The options commands (mainform_options.cpp).
  virtual void SettingsItemClick();
  virtual void SetLocalFolder1Click();
  virtual void IncludeFiles1Click();
  virtual void ExcludeFiles1Click();

  // ---- load, unload, delete and clear (mainform_ops.cpp) ----
  //
  // Each does nothing without a briefcase or while another operation runs.
  // The result of the last one (0, or the run's result code) is kept for the
  // command line's exit status.
 public:
  // Ctrl+L: the selected local rows into the briefcase.
  virtual void BriefcaseLoad();
  // Ctrl+U: the selected entries into the local folder, then removed from the
  // briefcase or the briefcase dated now.
  virtual void BriefcaseUnload();
  // Ctrl+Del: an empty briefcase that keeps its configuration.
  virtual void ClearButtonClick();
  virtual void CompactItemClick();
  virtual void HistoryItemClick();
  // Takes back the last unload (after asking); disabled, with the reason as
  // its hint, when there is none to take back.
  virtual void UndoUnloadItemClick();
  // The selected local files into the trash (after asking).
  virtual void DeleteLocalButtonClick();
  // The selected entries out of the briefcase (after asking).
  virtual void DeleteBriefcaseButtonClick();
  // Removes `names` from the briefcase behind the progress window;
  // kStrRemoveFailed on a failure; the briefcase is clean afterwards on
  // success. The run's result.
  int RemoveFromBriefcase(const std::vector<std::string>& names);
  // The manual at the topic of a help context (the Help button of a message).
  void HelpContext(int context);
  // The process's exit status: 0, or the result of a command-line run that failed.
  int ExitStatus() const { return exitStatus_; }
  int LastOperationResult() const { return lastResult_; }

 protected:
  // The command line: opens the first argument, runs the load or unload it
  // asks for and closes the window; every message also goes to stderr.
  void RunCommandLine();
  int exitStatus_ = 0;
  int lastResult_ = 0;

  // Engine callbacks that end in the window.
  void TotalProgress(int percent);
  void FileProgress(int percent);
  void CancelCheck(bool& cancel);
  void WriteProtected(const std::string& path, bool& abort);
  void ListEntry(const archive::TExtractEntry& entry);

  // Layout: the splitter at half the list area, Name and Folder sharing the
  // free width; the arrows midway between the list pictures.
  void FormResize();
  void Splitter1Moved();
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // Column clicks and keys of the lists.
  void ListColumnClick(List list, int column);
  void ListKeyUp(List list, int key, Qt::KeyboardModifiers modifiers);
  // LocalEdit: Enter released refreshes; leaving it with a changed text
  // refreshes (an emptied text gives the stored folder back); the shortcuts
  // of the window's commands go to their commands, never to the text.
  // LocalEditEvent returns true for an event it took.
  bool LocalEditEvent(QEvent* event);
  void LocalEditKeyUp(int key);

 private slots:
  void StartupDelayTimerTimer();
  void RefreshTimerTimer();

 private:
  QAction* makeAction(const QString& caption, const QString& shortcut, const QString& hint);
  void createActions();
  void createMenus();
  void createToolBar();
  void createDocumentFramework();
  void createClientPanel();
  void FormCreate();
  void FolderMonitor1ChangeInFolder();
  // ---- options commands (mainform_options.cpp) ----
  // The per-user option's menu item and LocalEdit's exit and Enter.
  void createOptions();
  void KeepInTrash1Click(bool on);
  void CarryDeletionsClick(bool on);
  // What the load and the unload do with a local folder chosen in place of
  // a missing one (nothing from the command line: nobody is asked there).
  std::function<void(const std::string&)> localFolderChooser();
  // An encrypted briefcase's password, asked once while it is open (and
  // again after a wrong one); false, with lastResult_ set and anything but
  // a cancel said, when the operation cannot go on.
  bool PasswordReady(bool load);
  // The engine callbacks and links a briefcase document gets from the window.
  briefcase::TBriefcaseDocLinks DocLinks();
  // Makes the briefcase document under the hourglass and takes it as the
  // open briefcase when it opened (lists filled, everything selected); drops
  // it otherwise.
  bool OpenBriefcase(
      const std::function<std::unique_ptr<briefcase::TBriefcaseDoc>(briefcase::TBriefcaseDocLinks)>& make);
  // The hourglass for as long as it lives.
  class WaitCursor {
   public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
  };
  // A page of the installed manual at an anchor; without an installed manual,
  // the page the program carries at `carriedAnchor`.
  void openHelp(const QString& page, const QString& anchor, const QString& carriedAnchor);
  void ListSelectionChanged(List list, const QItemSelection& selected,
                            const QItemSelection& deselected);
  void FullSummary(List list);
  void showSummary(List list);
  void closeBriefcase();
  QTreeView* view(List list) const;
  TListModel* model(List list) const;

  QStringList arguments_;
  CommandLineMode commandLineMode_ = clmNone;
  bool briefcaseOpen_ = false;
  std::string undoWhyNot_ = "No briefcase is open.";  // "" when the last unload can be undone
  bool carriesDeletions_ = false;  // Options > Carry deletions, as last read
  bool destroying_ = false;
  std::unique_ptr<TDebugHelper> debugHelper_;
  std::unique_ptr<TFolderMonitor> folderMonitor_;
  std::unique_ptr<briefcase::TBriefcaseDoc> briefcase_;
  archive::TCompress* engine_ = nullptr;
  plat::FileTime briefcaseDate_ = 0;
  struct Summary {
    uint32_t kilobytes = 0;
    int count = 0;
  } summary_[2];
  struct SortState {
    int column = 0;
    bool descending = false;
    bool applied = false;  // the rows were sorted by it
  } sort_[2];
  int stageStart_ = 0, stageEnd_ = 0;
  int operationDepth_ = 0;
  // The last key pressed in LocalEdit or a list, until its release.
  struct {
    QObject* widget = nullptr;
    int key = 0;
  } keyDown_;
  QElapsedTimer statusClock_;  // the last time ShowStatus served the events
  bool refreshPending_ = false;  // a folder change arrived during an operation
  bool keepReplacedInTrash_ = true;
  THelpBrowser* helpWindow_ = nullptr;
  // The briefcase rows of a listing, shown at once when it ends.
  std::vector<app::ListRow> pendingRows_;
  // The local rows by other spellings of their paths, made on the first
  // briefcase row a listing cannot match exactly (RefreshBriefcaseList).
  std::unique_ptr<app::LocalRowIndex> spelledRows_;
  // The carry record while the briefcase list is read; when the local list
  // was last scanned (ns since 1970).
  std::unique_ptr<carry::Tracker> listTracker_;
  int64_t lastScanNs_ = 0;
};
