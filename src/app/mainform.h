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

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;
class TDebugHelper;
class TDocManager;
class TDocument;

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
  QAction* BriefcaseSettings;
  QAction* SetLocalFolder1;
  QAction* IncludeFiles1;
  QAction* ExcludeFiles1;
  QAction* OptionsDeleteBriefcase;
  QAction* OptionsDeleteLocal;
  QAction* SelectAll1;
  QAction* OptionsRefresh;
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

 private slots:
  void StartupDelayTimerTimer();
  void RefreshTimerTimer();

 private:
  QAction* makeAction(const QString& caption, const QString& shortcut, const QString& hint);
  void createActions();
  void createMenus();
  void createToolBar();
  void createDocumentFramework();
  void FormCreate();

  QStringList arguments_;
  CommandLineMode commandLineMode_ = clmNone;
  bool briefcaseOpen_ = false;
  bool destroying_ = false;
  std::unique_ptr<TDebugHelper> debugHelper_;
};
