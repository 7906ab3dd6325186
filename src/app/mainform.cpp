#include "app/mainform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <unordered_set>

#include "app/listmodel.h"
#include "app/operations.h"
#include "app/rows.h"
#include "app/deletions.h"
#include "app/undo.h"
#include "archive/errors.h"
#include "archive/extract/extract.h"
#include "briefcase/briefcasedoc.h"
#include "components/artwork.h"
#include "components/debug.h"
#include "components/foldermonitor.h"
#include "dialogs/about.h"
#include "dialogs/anim.h"
#include "dialogs/helpbrowser.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "platform/ask.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/paths.h"
#include "platform/strtable.h"

// The manual's pages live in the program (a static library's resources must
// be named once to be linked in).
static void initHelpResources() { Q_INIT_RESOURCE(help); }

using namespace plat::strid;

namespace {

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

// Design sizes of the lists' columns.
constexpr int kNameWidth = 150, kFolderWidth = 150, kSizeWidth = 70, kDateWidth = 120;
// LeftPanel: room for the 32 x 32 pictures and the two 21 x 45 arrows side by side.
constexpr int kLeftPanelWidth = 46;

QIcon themed(const char* name, art::Image fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), art::icon(fallback));
}

// Calls fn(row) for every row of a selection (rows are selected whole, so
// each range spans every column and its rows count once).
template <typename Fn>
void forEachRow(const QItemSelection& selection, Fn fn) {
  for (const QItemSelectionRange& range : selection)
    for (int r = range.top(); r <= range.bottom(); ++r) fn(r);
}

std::string withoutTrailingSlash(std::string s) {
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), arguments_(arguments), debugHelper_(std::make_unique<TDebugHelper>()) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Carryvale"));
  resize(602, 434);

  debugHelper_->Storage().SetKey(cvreg::kAppKey);
  debugHelper_->Storage().SetRegistryRootKey(atrkCurrentUser);
  // The `debug` switch is watched: turned on or off while the program runs,
  // it takes effect at the next line.
  debugHelper_->InstallAsDiagReceiver();

  createActions();
  createMenus();
  createToolBar();
  createDocumentFramework();

  createClientPanel();
  createOptions();

  folderMonitor_ = std::make_unique<TFolderMonitor>();
  folderMonitor_->SetOnChangeInFolder([this](TFolderMonitor*) { FolderMonitor1ChangeInFolder(); });

  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLine"));
  StatusLabel->setTextFormat(Qt::PlainText);
  StatusLabel->setMinimumWidth(1);  // a long text is cut, it does not widen the window
  StatusLabel->setIndent(4);        // in line with the hints the status bar shows
  statusBar()->setObjectName(QStringLiteral("StatusLineBar"));
  statusBar()->addWidget(StatusLabel, 1);

  RefreshTimer = new QTimer(this);
  RefreshTimer->setSingleShot(true);
  RefreshTimer->setInterval(1000);
  connect(RefreshTimer, &QTimer::timeout, this, &TMainForm::RefreshTimerTimer);

  StartupDelayTimer = new QTimer(this);
  StartupDelayTimer->setSingleShot(true);
  StartupDelayTimer->setInterval(20);
  connect(StartupDelayTimer, &QTimer::timeout, this, &TMainForm::StartupDelayTimerTimer);
  StartupDelayTimer->start();  // ticks once the event loop runs

  commandLineMode_ = ParseCommandLineMode(arguments_);
  briefcaseOpen_ = false;
  UpdateCommands();
  FormCreate();
}

TMainForm::~TMainForm() {
  // No change report may arrive while the window goes.
  folderMonitor_->StopMonitoring();
  // The manager closes the document while the window is whole, then goes.
  delete DocManager1;
  DocManager1 = nullptr;
  delete Document1;
  Document1 = nullptr;
  destroying_ = true;
  briefcase_.reset();
  debugHelper_->RemoveAsDiagReceiver();
}

TMainForm::CommandLineMode TMainForm::ParseCommandLineMode(const QStringList& arguments) {
  bool load = false, unload = false;
  for (const QString& a : arguments) {
    if (a.size() != 2 || (a[0] != QLatin1Char('-') && a[0] != QLatin1Char('/'))) continue;
    const QChar c = a[1].toLower();
    if (c == QLatin1Char('l')) load = true;
    if (c == QLatin1Char('u')) unload = true;
  }
  return load ? clmLoad : (unload ? clmUnload : clmNone);
}

// ---- hints ----

QString TMainForm::ShortHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.left(bar);
}

QString TMainForm::LongHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.mid(bar + 1);
}

void TMainForm::SetHint(QAction* action, const QString& hint) {
  action->setToolTip(ShortHint(hint));
  action->setStatusTip(LongHint(hint));
}

void TMainForm::SetHint(QWidget* widget, const QString& hint) {
  widget->setToolTip(ShortHint(hint));
  widget->setStatusTip(LongHint(hint));
}

// ---- commands ----

QAction* TMainForm::makeAction(const QString& caption, const QString& shortcut,
                               const QString& hint) {
  auto* a = new QAction(caption, this);
  if (!shortcut.isEmpty()) a->setShortcut(QKeySequence(shortcut));
  if (!hint.isEmpty()) SetHint(a, hint);
  return a;
}

void TMainForm::createActions() {
  // The File commands belong to the document framework, with its hints.
  FileNew = makeAction(QStringLiteral("&New"), QStringLiteral("Ctrl+N"),
                       QStringLiteral("New|Create a new briefcase container"));
  FileOpen = makeAction(QStringLiteral("&Open..."), QStringLiteral("Ctrl+O"),
                        QStringLiteral("Open|Open an existing briefcase container"));
  FileSave = makeAction(QStringLiteral("&Save"), QStringLiteral("Ctrl+S"),
                        QStringLiteral("Save|Save the settings for this briefcase"));
  FileSaveAs = makeAction(QStringLiteral("S&ave As..."), {},
                          QStringLiteral("Save As|Save this briefcase with another name"));
  FileClose = makeAction(QStringLiteral("&Close"), {}, QStringLiteral("Close|Close this briefcase"));
  FileExit = makeAction(QStringLiteral("E&xit"), QStringLiteral("Alt+F4"),
                        QStringLiteral("Exit|Exit the Carryvale program"));
  // The desktop theme's images where it has them, our own otherwise.
  FileNew->setIcon(themed("document-new", art::Image::New));
  FileOpen->setIcon(themed("document-open", art::Image::Open));
  FileSave->setIcon(themed("document-save", art::Image::Save));

  BriefcaseLoad1 = makeAction(QStringLiteral("&Load"), QStringLiteral("Ctrl+L"),
                              QStringLiteral("Load|Load the briefcase"));
  BriefcaseUnload1 = makeAction(QStringLiteral("&Unload"), QStringLiteral("Ctrl+U"),
                                QStringLiteral("Unload|Unload the briefcase"));
  ClearItem = makeAction(QStringLiteral("&Clear"), QStringLiteral("Ctrl+Del"), {});
  CompactItem = makeAction(QStringLiteral("Co&mpact"), {},
                           QStringLiteral("Free the space that loads left unused in the briefcase"));
  UndoUnloadItem = makeAction(QStringLiteral("U&ndo Unload"), {}, {});
  HistoryItem = makeAction(QStringLiteral("&History..."), {},
                           QStringLiteral("Show what this computer did with the briefcase"));
  BriefcaseSettings = makeAction(QStringLiteral("&Settings..."), QStringLiteral("Alt+Return"),
                                 QStringLiteral("Settings|Modify the settings for this briefcase"));
  BriefcaseLoad1->setIcon(themed("go-down", art::Image::Load));
  BriefcaseUnload1->setIcon(themed("go-up", art::Image::Unload));
  BriefcaseSettings->setIcon(themed("document-properties", art::Image::Settings));

  SetLocalFolder1 = makeAction(QStringLiteral("&Set Local Folder..."), {}, {});
  IncludeFiles1 = makeAction(QStringLiteral("&Include Files..."), {}, {});
  ExcludeFiles1 = makeAction(QStringLiteral("&Exclude Files..."), {}, {});
  OptionsDeleteBriefcase = makeAction(QStringLiteral("&Delete selected briefcase files"), {},
                                      QStringLiteral("Delete the selected files in the briefcase"));
  OptionsDeleteLocal = makeAction(QStringLiteral("Delete selected &Local files"), {},
                                  QStringLiteral("Delete the selected local files"));
  SelectAll1 = makeAction(QStringLiteral("Select &All"), QStringLiteral("Ctrl+A"), {});
  OptionsRefresh = makeAction(QStringLiteral("&Refresh"), QStringLiteral("F5"),
                              QStringLiteral("Refresh|Refresh the lists with recent data"));
  OptionsDeleteBriefcase->setIcon(art::icon(art::Image::DeleteBriefcase));
  OptionsDeleteLocal->setIcon(art::icon(art::Image::DeleteLocal));
  OptionsRefresh->setIcon(themed("view-refresh", art::Image::Refresh));

  HelpContentsItem = makeAction(QStringLiteral("&Contents"), QStringLiteral("F1"),
                                QStringLiteral("Display the help contents screen"));
  HelpSearchItem = makeAction(QStringLiteral("&Search for Help On..."), {},
                              QStringLiteral("Search help file for a topic"));
  HelpHowToUseItem = makeAction(QStringLiteral("&How to Use Help"), {},
                                QStringLiteral("Help on using the help system"));
  HelpAbout = makeAction(QStringLiteral("&About..."), {},
                         QStringLiteral("About|About the Carryvale program"));
  HelpAbout->setIcon(themed("help-about", art::Image::About));

  connect(FileExit, &QAction::triggered, this, &QWidget::close);
  connect(HelpAbout, &QAction::triggered, this, &TMainForm::HelpAboutExecute);
  connect(HelpContentsItem, &QAction::triggered, this, &TMainForm::HelpContents);
  connect(HelpSearchItem, &QAction::triggered, this, &TMainForm::HelpSearch);
  connect(HelpHowToUseItem, &QAction::triggered, this, &TMainForm::HelpHowToUse);

  // The document framework enables these once a briefcase is open.
  for (QAction* a : {FileSave, FileSaveAs, FileClose}) a->setEnabled(false);

  // Every briefcase command does nothing without a briefcase or while an
  // operation runs; the handlers decide the rest.
  auto command = [this](QAction* a, void (TMainForm::*handler)()) {
    connect(a, &QAction::triggered, this, [this, handler] {
      if (briefcaseOpen_ && !OperationRunning()) (this->*handler)();
    });
  };
  command(BriefcaseLoad1, &TMainForm::BriefcaseLoad);
  command(BriefcaseUnload1, &TMainForm::BriefcaseUnload);
  command(ClearItem, &TMainForm::ClearButtonClick);
  command(CompactItem, &TMainForm::CompactItemClick);
  command(HistoryItem, &TMainForm::HistoryItemClick);
  command(UndoUnloadItem, &TMainForm::UndoUnloadItemClick);
  command(BriefcaseSettings, &TMainForm::SettingsItemClick);
  command(SetLocalFolder1, &TMainForm::SetLocalFolder1Click);
  command(IncludeFiles1, &TMainForm::IncludeFiles1Click);
  command(ExcludeFiles1, &TMainForm::ExcludeFiles1Click);
  command(OptionsDeleteBriefcase, &TMainForm::DeleteBriefcaseButtonClick);
  command(OptionsDeleteLocal, &TMainForm::DeleteLocalButtonClick);
  command(SelectAll1, &TMainForm::SelectAll1Click);
  command(OptionsRefresh, &TMainForm::Refresh1Click);
  // The window's commands work wherever the focus is in the window.
  addActions({BriefcaseLoad1, BriefcaseUnload1, ClearItem, BriefcaseSettings, SelectAll1,
              OptionsRefresh, HelpContentsItem});
}

void TMainForm::createMenus() {
  FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
  FileMenu->addAction(FileNew);
  FileMenu->addAction(FileOpen);
  FileMenu->addAction(FileSave);
  FileMenu->addAction(FileSaveAs);
  FileMenu->addAction(FileClose);
  FileMenu->addSeparator();
  FileMenu->addAction(FileExit);

  BriefcaseItem = menuBar()->addMenu(QStringLiteral("&Briefcase"));
  BriefcaseItem->setToolTipsVisible(true);
  BriefcaseItem->addAction(BriefcaseLoad1);
  BriefcaseItem->addAction(BriefcaseUnload1);
  BriefcaseItem->addAction(UndoUnloadItem);
  BriefcaseItem->addAction(ClearItem);
  BriefcaseItem->addAction(CompactItem);
  BriefcaseItem->addSeparator();
  BriefcaseItem->addAction(HistoryItem);
  BriefcaseItem->addAction(BriefcaseSettings);

  OptionsItem = menuBar()->addMenu(QStringLiteral("&Options"));
  OptionsItem->addAction(SetLocalFolder1);
  OptionsItem->addAction(IncludeFiles1);
  OptionsItem->addAction(ExcludeFiles1);
  OptionsItem->addSeparator();
  OptionsItem->addAction(OptionsDeleteBriefcase);
  OptionsItem->addAction(OptionsDeleteLocal);
  OptionsItem->addAction(SelectAll1);
  OptionsItem->addAction(OptionsRefresh);

  HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  HelpMenu->addAction(HelpContentsItem);
  HelpMenu->addAction(HelpSearchItem);
  HelpMenu->addAction(HelpHowToUseItem);
  HelpMenu->addSeparator();
  HelpMenu->addAction(HelpAbout);
}

void TMainForm::createToolBar() {
  ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar1->toggleViewAction()->setEnabled(false);
  ToolBar1->addAction(FileNew);
  ToolBar1->addAction(FileOpen);
  ToolBar1->addAction(FileSave);
  ToolBar1->addSeparator();
  ToolBar1->addAction(BriefcaseSettings);
  ToolBar1->addSeparator();  // the divider after Settings
  ToolBar1->addAction(OptionsRefresh);
  ToolBar1->addAction(BriefcaseLoad1);
  ToolBar1->addAction(BriefcaseUnload1);
  ToolBar1->addSeparator();
  ToolBar1->addAction(OptionsDeleteBriefcase);
  ToolBar1->addAction(OptionsDeleteLocal);
}

void TMainForm::FormCreate() {
  // The tool bar shows images only; hints go to the tool tips and the status line.
  for (QToolButton* b : ToolBar1->findChildren<QToolButton*>()) b->setText(QString());
}

void TMainForm::UpdateCommands() {
  if (destroying_) return;
  // While an operation runs its lock holds every command off; the commands
  // are set again when it ends.
  if (OperationRunning()) return;
  const bool open = briefcaseOpen_;
  const bool loadEnabled = open && LocalList->selectionModel()->hasSelection();
  const bool unloadEnabled = open && BriefcaseList->selectionModel()->hasSelection();
  BriefcaseLoad1->setEnabled(loadEnabled);
  BriefcaseUnload1->setEnabled(unloadEnabled);
  OptionsDeleteBriefcase->setEnabled(unloadEnabled);
  OptionsDeleteLocal->setEnabled(loadEnabled);
  LoadButton2->setEnabled(loadEnabled);
  UnloadButton2->setEnabled(unloadEnabled);
  OptionsRefresh->setEnabled(open);
  BriefcaseSettings->setEnabled(open);
  for (QAction* a : {ClearItem, CompactItem, HistoryItem, SetLocalFolder1, IncludeFiles1, ExcludeFiles1, SelectAll1})
    a->setEnabled(open);
  // Why there is nothing to undo is the disabled command's hint (the menu
  // shows hints as tooltips, and the status line shows them too).
  const QString undoHint = undoWhyNot_.empty()
                               ? QStringLiteral("Put the local folder and the briefcase back as "
                                                "they were before the last unload")
                               : QString::fromStdString(undoWhyNot_);
  UndoUnloadItem->setEnabled(open && undoWhyNot_.empty());
  OptionsCarryDeletions->setEnabled(open);
  OptionsCarryDeletions->setChecked(open && carriesDeletions_);
  UndoUnloadItem->setToolTip(undoHint);
  UndoUnloadItem->setStatusTip(undoHint);
  BriefcaseItem->menuAction()->setVisible(open);
  OptionsItem->menuAction()->setVisible(open);
  ClientPanel->setVisible(open);
  if (!open) SetStatusText(str(kStrNoBriefcase));
}

// ---- status ----

void TMainForm::SetStatusText(const QString& text) {
  StatusLabel->setText(text);
  debugHelper_->Output(text.toStdString());
}

QString TMainForm::StatusText() const { return StatusLabel->text(); }

QString TMainForm::StatusLineText() const {
  const QString hint = statusBar()->currentMessage();
  return hint.isEmpty() ? StatusLabel->text() : hint;
}

void TMainForm::ShowStatus(const QString& text) {
  debugHelper_->Output(text.toStdString());
  // A listing sends one text per entry: the progress window's line is
  // repainted and the pending events are served at most every 20 ms, which
  // keeps the windows live without spending the run in the event loop. A
  // shown progress window always holds the latest text.
  const bool shown = AnimatedForm && AnimatedForm->isVisible();
  if (shown) AnimatedForm->setInfoText(text);
  if (statusClock_.isValid() && statusClock_.elapsed() < 20) return;
  statusClock_.start();
  if (shown) AnimatedForm->InfoLabel->repaint();
  else if (AnimatedForm) AnimatedForm->setInfoText(text);
  QCoreApplication::processEvents();
}

// ---- events ----

void TMainForm::HelpAboutExecute() {
  if (AboutBox) AboutBox->exec();
}

void TMainForm::StartupDelayTimerTimer() {
  StartupDelayTimer->stop();
  if (arguments_.isEmpty()) return;
  RunCommandLine();
}

void TMainForm::FolderMonitor1ChangeInFolder() {
  // On the monitor's worker: only hand the arming of the timer to the window's
  // thread (dropped when the window is gone). A running timer keeps its tick.
  QMetaObject::invokeMethod(
      this, [this] { if (!RefreshTimer->isActive()) RefreshTimer->start(); },
      Qt::QueuedConnection);
}

void TMainForm::RefreshTimerTimer() {
  if (!briefcaseOpen_) return;
  RefreshTimer->stop();
  if (OperationRunning()) {
    // The operation's rows stay as they are; the rescan follows its end.
    refreshPending_ = true;
    return;
  }
  RefreshLocalList();
}

bool TMainForm::FormCloseQuery() {
  // Never while an operation runs: it works on the open briefcase.
  if (OperationRunning()) return false;
  return !Document1 || Document1->CloseQuery();
}

// ---- document framework ----

void TMainForm::createDocumentFramework() {
  // The names the document manager finds the File commands and the
  // separator before Exit by; the recently used entries go before that separator.
  FileNew->setObjectName(QStringLiteral("FileNew"));
  FileOpen->setObjectName(QStringLiteral("FileOpen"));
  FileSave->setObjectName(QStringLiteral("FileSave"));
  FileSaveAs->setObjectName(QStringLiteral("FileSaveAs"));
  FileClose->setObjectName(QStringLiteral("FileClose"));
  FileExit->setObjectName(QStringLiteral("FileExit"));
  const QList<QAction*> items = FileMenu->actions();
  const qsizetype exitAt = items.indexOf(FileExit);
  if (exitAt > 0 && items[exitAt - 1]->isSeparator())
    items[exitAt - 1]->setObjectName(QStringLiteral("ExitSeparator"));

  DocManager1 = new TDocManager(this);
  DocManager1->setObjectName(QStringLiteral("DocManager1"));
  DocManager1->SetActionList(this);
  DocManager1->Storage().SetKey(cvreg::kMruKey);
  DocManager1->Storage().SetRegistryRootKey(atrkCurrentUser);
  DocManager1->SetFileMenuItem(FileMenu);
  DocManager1->SetDefaultExt("brc");
  DocManager1->SetFilter("Briefcase containers|*.brc");
  DocManager1->SetRegisteredExtension(true);
  DocManager1->SetImages({art::icon(art::Image::New), art::icon(art::Image::Open),
                          art::icon(art::Image::Save)});
  DocManager1->SetImageIndexNew(0);
  DocManager1->SetImageIndexOpen(1);
  DocManager1->SetImageIndexSave(2);
  DocManager1->SetHintNew(QStringLiteral("New|Create a new briefcase container"));
  DocManager1->SetHintOpen(QStringLiteral("Open|Open an existing briefcase container"));
  DocManager1->SetHintSave(QStringLiteral("Save|Save the settings for this briefcase"));
  DocManager1->SetHintSaveAs(QStringLiteral("Save As|Save this briefcase with another name"));
  DocManager1->SetHintClose(QStringLiteral("Close|Close this briefcase"));
  DocManager1->SetHintExit(QStringLiteral("Exit|Exit the Carryvale program"));
  DocManager1->SetOnNewDocument(
      [this](TDocManager* sender, TDocument*& document) { DocManager1NewDocument(sender, document); });

  Document1 = new TDocument(this);
  Document1->setObjectName(QStringLiteral("Document1"));
  Document1->SetOnNew([this](TDocument* sender, bool& success) { Document1New(sender, success); });
  Document1->SetOnOpen([this](TDocument* sender, bool& success) { Document1Open(sender, success); });
  Document1->SetOnCommit(
      [this](TDocument* sender, bool& success) { Document1Commit(sender, success); });
  Document1->SetOnClose([this](TDocument* sender) { Document1Close(sender); });

  DocManager1->Loaded();
}

void TMainForm::DocManager1NewDocument(TDocManager*, TDocument*& document) {
  document = Document1;
}

void TMainForm::Document1Open(TDocument* sender, bool& success) {
  const std::string path = sender->FileName();
  success = OpenBriefcase([&path](briefcase::TBriefcaseDocLinks links) {
    return std::make_unique<briefcase::TBriefcaseDoc>(path, std::move(links));
  });
}

briefcase::TBriefcaseDocLinks TMainForm::DocLinks() {
  briefcase::TBriefcaseDocLinks links;
  links.callbacks.message = [this](const std::string& s) { ShowStatus(QString::fromStdString(s)); };
  links.callbacks.configMessage = links.callbacks.message;
  links.callbacks.totalProgress = [this](int v) { TotalProgress(v); };
  links.callbacks.fileProgress = [this](int v) { FileProgress(v); };
  links.callbacks.cancelCheck = [this](bool& cancel) { CancelCheck(cancel); };
  links.callbacks.configRefresh = [this] { StoreConfiguration(); };
  links.callbacks.writeProtected = [this](const std::string& path, bool& abort) {
    WriteProtected(path, abort);
  };
  links.extractCallbacks.listEntry = [this](const archive::TExtractEntry& e) { ListEntry(e); };
  links.dirty = [this] { return Document1->Dirty(); };
  links.setDirty = [this](bool d) { Document1->SetDirty(d); };
  links.monitor = folderMonitor_.get();
  return links;
}

TMainForm::WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TMainForm::WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

bool TMainForm::OpenBriefcase(
    const std::function<std::unique_ptr<briefcase::TBriefcaseDoc>(briefcase::TBriefcaseDocLinks)>& make) {
  SetStatusText(str(kStrOpening));
  {
    WaitCursor wait;
    briefcase_ = make(DocLinks());
    if (!briefcase_->Opened()) {
      briefcase_.reset();
      engine_ = nullptr;
      briefcaseOpen_ = false;
      UpdateCommands();
      return false;
    }
    engine_ = &briefcase_->Engine();
    briefcaseOpen_ = true;
    LocalEdit->setText(QString::fromStdString(briefcase_->LocalFolder()));
    ClientPanel->setVisible(true);
    FormResize();
    RefreshLists();
    if (briefcase_) {
      SelectAll1Click();
      UpdateCommands();
    }
  }
  if (!briefcase_) return true;
  SetStatusText(str(kStrReady));
  if (briefcase_->FolderChosenOnOpen()) {
    // The framework clears the dirty flag once the open has ended; the folder
    // chosen on this first visit must still be saved, so the flag is set
    // again right after.
    QMetaObject::invokeMethod(
        this, [this] { if (briefcase_ && Document1->Opened()) Document1->SetDirty(true); },
        Qt::QueuedConnection);
  }
  return true;
}

void TMainForm::Document1Commit(TDocument* sender, bool& success) {
  if (!briefcase_) {
    success = false;
    return;
  }
  // A name other than the container's is Save As: the container is copied
  // there first, and the briefcase goes on there.
  success = sender->FileName() != briefcase_->Engine().archivePath
                ? briefcase_->SaveAs(sender->FileName())
                : briefcase_->Save(false);
}

void TMainForm::Document1Close(TDocument*) {
  briefcase_.reset();  // also stops the folder monitor
  engine_ = nullptr;
  briefcaseOpen_ = false;
  RefreshTimer->stop();
  refreshPending_ = false;
  LocalModel->clear();
  BriefcaseModel->clear();
  for (List l : {List::Local, List::Briefcase}) {
    FullSummary(l);
    sort_[static_cast<int>(l)].applied = false;  // the next briefcase's rows are not sorted
    view(l)->header()->setSortIndicator(-1, Qt::AscendingOrder);
  }
  BriefcaseLabel->setText(QStringLiteral("No Briefcase loaded"));
  LocalEdit->clear();
  UpdateCommands();
}

void TMainForm::closeBriefcase() {
  if (Document1 && Document1->Opened()) Document1->Close();
}

// ---- the client panel ----

void TMainForm::createClientPanel() {
  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  ClientPanel = new QWidget(central);
  ClientPanel->setObjectName(QStringLiteral("ClientPanel"));
  centralLayout->addWidget(ClientPanel);
  setCentralWidget(central);

  auto* clientLayout = new QHBoxLayout(ClientPanel);
  clientLayout->setContentsMargins(0, 2, 2, 0);
  clientLayout->setSpacing(2);

  LeftPanel = new QWidget(ClientPanel);
  LeftPanel->setObjectName(QStringLiteral("LeftPanel"));
  LeftPanel->setFixedWidth(kLeftPanelWidth);
  clientLayout->addWidget(LeftPanel);
  Image1 = new QLabel(LeftPanel);
  Image2 = new QLabel(LeftPanel);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image2->setObjectName(QStringLiteral("Image2"));
  for (QLabel* l : {Image1, Image2}) l->setFixedSize(32, 32);
  LoadButton2 = new QToolButton(LeftPanel);
  UnloadButton2 = new QToolButton(LeftPanel);
  LoadButton2->setObjectName(QStringLiteral("LoadButton2"));
  UnloadButton2->setObjectName(QStringLiteral("UnloadButton2"));
  for (QToolButton* b : {LoadButton2, UnloadButton2}) {
    b->setFixedSize(21, 45);
    b->setAutoRaise(true);  // flat
    b->setCursor(Qt::PointingHandCursor);
    b->setIconSize(QSize(17, 41));
  }
  LoadButton2->setIcon(art::arrowIcon(true));
  UnloadButton2->setIcon(art::arrowIcon(false));
  SetHint(LoadButton2, QStringLiteral("Load|Load the briefcase"));
  SetHint(UnloadButton2, QStringLiteral("Unload|Unload the briefcase"));
  connect(LoadButton2, &QToolButton::clicked, BriefcaseLoad1, &QAction::trigger);
  connect(UnloadButton2, &QToolButton::clicked, BriefcaseUnload1, &QAction::trigger);

  MainPanel = new QWidget(ClientPanel);
  MainPanel->setObjectName(QStringLiteral("MainPanel"));
  clientLayout->addWidget(MainPanel, 1);
  auto* mainLayout = new QVBoxLayout(MainPanel);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  Splitter1 = new QSplitter(Qt::Vertical, MainPanel);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(3);
  Splitter1->setChildrenCollapsible(false);
  mainLayout->addWidget(Splitter1);

  auto makeList = [this](const char* name, const QString& hint, TListModel** model) {
    auto* v = new QTreeView;
    v->setObjectName(QString::fromLatin1(name));
    *model = new TListModel(this);
    TListModel::Icons icons;
    for (int i = 0; i < app::kRowIconCount; ++i) icons[static_cast<size_t>(i)] = art::rowIcon(i);
    (*model)->setIcons(icons);
    v->setModel(*model);
    v->setRootIsDecorated(false);
    v->setItemsExpandable(false);
    v->setUniformRowHeights(true);
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setAllColumnsShowFocus(true);
    v->setMouseTracking(true);  // hot tracking
    v->setIconSize(QSize(16, 16));
    v->setTextElideMode(Qt::ElideRight);
    v->header()->setStretchLastSection(false);
    v->header()->setSectionsMovable(false);
    v->header()->setSectionsClickable(true);
    // The column and direction of the last sort; none until the first.
    v->header()->setSortIndicatorShown(true);
    v->header()->setSortIndicator(-1, Qt::AscendingOrder);
    v->header()->resizeSection(TListModel::colName, kNameWidth);
    v->header()->resizeSection(TListModel::colFolder, kFolderWidth);
    // The Size and Date columns keep their design widths, or as much as their
    // widest texts need in a larger font.
    const QFontMetrics fm(v->font());
    const int pad = fm.averageCharWidth() + 8;
    // 28 December 2026, 23:58 local time: a wide day, month and hour.
    const plat::FileTime wideDate =
        plat::fileTimeFromUnixTime(static_cast<int64_t>(QDateTime(QDate(2026, 12, 28), QTime(23, 58))
                                                        .toSecsSinceEpoch()));
    v->header()->resizeSection(
        TListModel::colSize,
        std::max(kSizeWidth, fm.horizontalAdvance(QStringLiteral("8888888 kB")) + pad));
    v->header()->resizeSection(
        TListModel::colDate,
        std::max(kDateWidth, fm.horizontalAdvance(TListModel::DateText(wideDate)) + pad));
    v->installEventFilter(this);
    SetHint(v, hint);
    return v;
  };

  TopPanel = new QWidget;
  TopPanel->setObjectName(QStringLiteral("TopPanel"));
  auto* topLayout = new QVBoxLayout(TopPanel);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->setSpacing(2);
  LocalInfoPanel = new QWidget(TopPanel);
  LocalInfoPanel->setObjectName(QStringLiteral("LocalInfoPanel"));
  auto* infoLayout = new QHBoxLayout(LocalInfoPanel);
  infoLayout->setContentsMargins(0, 0, 0, 0);
  LocalLabel = new QLabel(QStringLiteral("Local folder:"), LocalInfoPanel);
  LocalLabel->setObjectName(QStringLiteral("LocalLabel"));
  LocalEdit = new QLineEdit(LocalInfoPanel);
  LocalEdit->setObjectName(QStringLiteral("LocalEdit"));
  SetHint(LocalEdit, QStringLiteral("Type the local folder here"));
  LocalInfo = new QLabel(LocalInfoPanel);
  LocalInfo->setObjectName(QStringLiteral("LocalInfo"));
  LocalLabel->setBuddy(LocalEdit);
  infoLayout->addWidget(LocalLabel);
  infoLayout->addWidget(LocalEdit, 1);
  infoLayout->addWidget(LocalInfo);
  topLayout->addWidget(LocalInfoPanel);
  LocalList = makeList("LocalList", QStringLiteral("This list contains the files that will be loaded"),
                       &LocalModel);
  topLayout->addWidget(LocalList, 1);
  Splitter1->addWidget(TopPanel);

  BottomPanel = new QWidget;
  BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
  auto* bottomLayout = new QVBoxLayout(BottomPanel);
  bottomLayout->setContentsMargins(0, 0, 0, 0);
  bottomLayout->setSpacing(0);  // the list starts where the info row ends
  BriefcaseInfoPanel = new QWidget(BottomPanel);
  BriefcaseInfoPanel->setObjectName(QStringLiteral("BriefcaseInfoPanel"));
  auto* bInfoLayout = new QHBoxLayout(BriefcaseInfoPanel);
  bInfoLayout->setContentsMargins(0, 2, 0, 2);
  BriefcaseLabel = new QLabel(QStringLiteral("No Briefcase loaded"), BriefcaseInfoPanel);
  BriefcaseLabel->setObjectName(QStringLiteral("BriefcaseLabel"));
  // No minimum width of its own: the label's whole text sets the window's
  // minimum, so a larger font or a long date widens the window, never cuts it.
  BriefcaseInfo = new QLabel(BriefcaseInfoPanel);
  BriefcaseInfo->setObjectName(QStringLiteral("BriefcaseInfo"));
  bInfoLayout->addWidget(BriefcaseLabel, 1);
  bInfoLayout->addWidget(BriefcaseInfo);
  bottomLayout->addWidget(BriefcaseInfoPanel);
  BriefcaseList = makeList("BriefcaseList", QStringLiteral("This list shows the briefcase files"),
                           &BriefcaseModel);
  bottomLayout->addWidget(BriefcaseList, 1);
  Splitter1->addWidget(BottomPanel);

  Image1->setPixmap(art::listPicture(art::ListPicture::LocalFolder, devicePixelRatioF()));
  Image2->setPixmap(art::listPicture(art::ListPicture::Briefcase, devicePixelRatioF()));

  for (List l : {List::Local, List::Briefcase}) {
    connect(view(l)->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, l](const QItemSelection& sel, const QItemSelection& desel) {
              ListSelectionChanged(l, sel, desel);
            });
    connect(view(l)->header(), &QHeaderView::sectionClicked, this,
            [this, l](int column) { ListColumnClick(l, column); });
    // A reset (clear) drops the selection without a selection signal.
    connect(model(l), &QAbstractItemModel::modelReset, this, [this, l] { FullSummary(l); });
  }
  connect(Splitter1, &QSplitter::splitterMoved, this, [this] { Splitter1Moved(); });
  FullSummary(List::Local);
  FullSummary(List::Briefcase);
}

QTreeView* TMainForm::view(List list) const {
  return list == List::Local ? LocalList : BriefcaseList;
}

TListModel* TMainForm::model(List list) const {
  return list == List::Local ? LocalModel : BriefcaseModel;
}

// ---- layout ----

void TMainForm::FormResize() {
  const int listArea = Splitter1->height() - Splitter1->handleWidth();
  const int top = MainPanel->height() / 2;
  Splitter1->setSizes({top, std::max(0, listArea - top)});
  Splitter1Moved();
  const int w = std::max(40, (LocalList->width() - LocalList->header()->sectionSize(TListModel::colSize) -
                              LocalList->header()->sectionSize(TListModel::colDate) - 20) / 2);
  for (QTreeView* v : {LocalList, BriefcaseList}) {
    v->header()->resizeSection(TListModel::colName, w);
    v->header()->resizeSection(TListModel::colFolder, w);
  }
}

void TMainForm::Splitter1Moved() {
  const int x = (kLeftPanelWidth - 32) / 2;
  Image1->move(x, LocalList->mapTo(ClientPanel, QPoint(0, 0)).y() - LeftPanel->y());
  const QPoint infoBottom =
      BriefcaseInfoPanel->mapTo(ClientPanel, QPoint(0, BriefcaseInfoPanel->height()));
  Image2->move(x, infoBottom.y() - LeftPanel->y());
  const int buttonsTop = (Image1->y() + Image2->y()) / 2;
  LoadButton2->move(kLeftPanelWidth / 2 - 21, buttonsTop);
  UnloadButton2->move(kLeftPanelWidth / 2, buttonsTop);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (ClientPanel->isVisible()) {
    // The panels take their new sizes first.
    ClientPanel->layout()->activate();
    MainPanel->layout()->activate();
    FormResize();
  }
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (ClientPanel->isVisible()) FormResize();
}

// ---- status, progress and the other engine callbacks ----

void TMainForm::TotalProgress(int v) {
  if (v == 0) stageStart_ = stageEnd_ = 0;
  stageStart_ = stageEnd_;
  stageEnd_ = v;
  if (AnimatedForm) AnimatedForm->OverallProgressBar->setValue(stageStart_);
}

void TMainForm::FileProgress(int f) {
  if (!AnimatedForm) return;
  AnimatedForm->FileProgressBar->setValue(f);
  AnimatedForm->OverallProgressBar->setValue(stageStart_ + f * (stageEnd_ - stageStart_) / 100);
}

void TMainForm::CancelCheck(bool& cancel) {
  cancel = AnimatedForm ? AnimatedForm->PollCancel() : false;
}

void TMainForm::WriteProtected(const std::string&, bool& abort) {
  abort = plat::messageBox(plat::loadStr(kStrWriteProtected), plat::loadStr(kStrWarning),
                           plat::btnRetryCancel, plat::Icon::Warning) == plat::mrCancel;
}

void TMainForm::StoreConfiguration() {
  if (!briefcase_) return;
  briefcase_->Configuration().Build(*engine_);
  Document1->SetDirty(true);
}

bool TMainForm::CheckFolders() {
  if (!briefcase_) return false;
  const std::string local = LocalEdit->text().toStdString();
  const std::string path = engine_->archivePath;
  for (const auto& [text, id] : {std::pair{path, kStrNoBriefcaseFile}, std::pair{local, kStrNoLocalFolder}}) {
    if (text.empty()) {
      plat::messageBox(plat::loadStr(id), plat::loadStr(kStrWarning), plat::btnOk,
                       plat::Icon::Warning);
      return false;
    }
  }
  engine_->archivePath = withoutTrailingSlash(path);
  engine_->update.baseFolder = withoutTrailingSlash(local);
  return true;
}

void TMainForm::UpdateBriefcaseLabel() {
  if (!briefcase_) return;
  const bool found = briefcase_->ReadBriefcaseDate(&briefcaseDate_);
  if (!found) {
    BriefcaseLabel->setText(QStringLiteral("Briefcase date not found"));
    return;
  }
  QString date = TListModel::LongDateText(briefcaseDate_);
  QString time = TListModel::TimeText(briefcaseDate_);
  if (date.isEmpty()) date = str(kStrError);
  if (time.isEmpty()) time = str(kStrError);
  BriefcaseLabel->setText(QString::fromStdString(plat::loadStrFmt(
      kStrLoadedOn, date.toUtf8().constData(), time.toUtf8().constData())));
}

// ---- the lists ----

void TMainForm::RefreshLists() {
  if (!briefcase_) return;
  // Every operation and every opening ends here: the last unload may have
  // changed (or become undoable).
  undoWhyNot_ = app::WhyNoUndo(engine_->archivePath, briefcase_->LocalFolder());
  carriesDeletions_ = app::CarriesDeletions(engine_->archivePath);
  RefreshLocalList();
  RefreshBriefcaseList();
}

void TMainForm::RefreshLocalList() {
  if (!briefcase_ || briefcase_->LocalFolder().empty()) return;
  // A not-found message may be shown on the way (its own event loop): the
  // briefcase must not be closed or replaced under the merge.
  TOperation operation(*this);
  const int n = LocalModel->size();
  std::vector<bool> found(static_cast<size_t>(n), false);
  UpdateBriefcaseLabel();
  if (!briefcase_) return;
  app::ScanRules rules = app::RulesFor(*briefcase_, briefcaseDate_);
  const std::unique_ptr<carry::Tracker> tracker = app::TrackFor(engine_->archivePath, &rules);
  lastScanNs_ = carry::nowNs();
  std::vector<app::ListRow> added;
  // A row and its entry compared again (a changed file, a new row); the row
  // keeps "only here" when the briefcase has no such entry.
  auto compare = [&](app::ListRow& row, const app::LoadCandidate& c) {
    const int b = BriefcaseModel->find(row.name, row.folder);
    if (b < 0) return;
    const app::ListRow& entry = BriefcaseModel->row(b);
    app::RowIcons icons = app::CompareTimes(row.time, entry.time);
    if (tracker)
      icons = app::IconsFor(tracker->entry(app::RowEntryName(row), c.path, &c.state,
                                           {entry.crc, entry.size, entry.time, entry.crcIsContent}),
                            icons);
    row.icon = icons.local;
    BriefcaseModel->setIcon(b, icons.entry);
  };
  app::ScanLocalFolder(rules, [&](const app::LoadCandidate& c) {
    const int r = LocalModel->find(c.name, c.relativeFolder);
    if (r < 0 || r >= n) {
      added.push_back(app::LocalRowFor(c));
      compare(added.back(), c);
      return;
    }
    found[static_cast<size_t>(r)] = true;
    const app::ListRow& old = LocalModel->row(r);
    if (old.size == c.size && old.time == c.writeTime) return;
    app::ListRow row = app::LocalRowFor(c);
    compare(row, c);
    LocalModel->setFile(r, row.size, row.time);
    LocalModel->setIcon(r, row.icon);
  });
  // With Options > Carry deletions, the files carried and deleted here
  // since: rows of their own, selectable like the others.
  if (carriesDeletions_) {
    for (const app::DeletedHere& d : app::DeletionsHere(engine_->archivePath, rules.localFolder)) {
      const app::ListRow row = app::DeletedRowFor(d);
      const int r = LocalModel->find(row.name, row.folder);
      if (r < 0 || r >= n) {
        added.push_back(row);
        continue;
      }
      found[static_cast<size_t>(r)] = true;
      LocalModel->setFile(r, row.size, row.time);
      LocalModel->setIcon(r, row.icon);
    }
  }
  LocalModel->append(std::move(added));
  // Rows gone from the scan: their entries compared with what the disk
  // holds now (a file deleted here leaves the briefcase the only copy).
  for (int r = n - 1; r >= 0; --r) {
    if (found[static_cast<size_t>(r)]) continue;
    const app::ListRow& row = LocalModel->row(r);
    const int b = BriefcaseModel->find(row.name, row.folder);
    if (b < 0) continue;
    const std::optional<app::RowIcons> icons =
        app::CompareWithLocalFile(rules.localFolder, BriefcaseModel->row(b));
    BriefcaseModel->setIcon(b, icons ? icons->entry : app::kIconOnly);
  }
  LocalModel->removeUnkept(found);
  FullSummary(List::Local);
}

void TMainForm::RefreshBriefcaseList() {
  if (!briefcase_ || engine_->archivePath.empty()) return;
  TOperation operation(*this);
  BriefcaseList->setUpdatesEnabled(false);
  // The entries selected before stay selected (a refresh must not grey out
  // Unload); new ones are not.
  std::unordered_set<std::string> selected;
  for (int r : SelectionSnapshot(List::Briefcase)) selected.insert(EntryNameOf(r));
  BriefcaseModel->clear();
  pendingRows_.clear();
  spelledRows_.reset();
  {
    app::ScanRules rules = app::RulesFor(*briefcase_, briefcaseDate_);
    listTracker_ = app::TrackFor(engine_->archivePath, &rules);
  }
  const int rc = archive::ListRun(*engine_);
  if (listTracker_) {
    const std::string warning = listTracker_->takeWarning();
    if (!warning.empty()) ShowStatus(QString::fromStdString(warning));
  }
  listTracker_.reset();
  spelledRows_.reset();
  BriefcaseModel->append(std::move(pendingRows_));
  pendingRows_.clear();
  if (!selected.empty()) {
    QItemSelection keep;
    for (int r = 0; r < BriefcaseModel->size(); ++r) {
      if (!selected.count(EntryNameOf(r))) continue;
      int last = r;
      while (last + 1 < BriefcaseModel->size() && selected.count(EntryNameOf(last + 1))) ++last;
      keep.select(BriefcaseModel->index(r, 0),
                  BriefcaseModel->index(last, TListModel::kColumns - 1));
      r = last;
    }
    BriefcaseList->selectionModel()->select(keep, QItemSelectionModel::Select);
  }
  LocalModel->iconsChanged();
  BriefcaseList->setUpdatesEnabled(true);
  BriefcaseList->viewport()->update();
  FullSummary(List::Briefcase);
  if (rc == archive::kInterrupted) {
    // The lock ends first: closing is refused while an operation runs.
    QMetaObject::invokeMethod(this, [this] { closeBriefcase(); }, Qt::QueuedConnection);
  }
}

void TMainForm::ListEntry(const archive::TExtractEntry& entry) {
  const std::string name = entry.displayName();
  ShowStatus(QStringLiteral("Listing ") + QString::fromStdString(name));
  if (!briefcase_) return;
  std::optional<app::RowIcon> localIcon;
  std::optional<app::ListRow> row =
      app::BriefcaseRowFor(entry, briefcase_->LocalFolder(), &localIcon, listTracker_.get());
  if (!row) return;
  if (localIcon) {
    int r = LocalModel->find(row->name, row->folder);
    if (r < 0) {
      // The local folder may take another spelling of the entry's path
      // for the file of a local row.
      if (!spelledRows_) {
        spelledRows_ = std::make_unique<app::LocalRowIndex>(briefcase_->LocalFolder());
        for (int i = 0; i < LocalModel->size(); ++i)
          spelledRows_->add(LocalModel->row(i), static_cast<size_t>(i));
      }
      r = static_cast<int>(spelledRows_->find(*row));
    }
    if (r >= 0) LocalModel->setIconQuietly(r, *localIcon);
  }
  pendingRows_.push_back(std::move(*row));
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}

// ---- selection ----

void TMainForm::ListSelectionChanged(List list, const QItemSelection& selected,
                                     const QItemSelection& deselected) {
  Summary& sum = summary_[static_cast<int>(list)];
  const TListModel* m = model(list);
  const int before = sum.count;
  forEachRow(selected, [&](int r) {
    sum.kilobytes += static_cast<uint32_t>(m->kilobytes(r));
    ++sum.count;
  });
  forEachRow(deselected, [&](int r) {
    if (r < m->size()) sum.kilobytes -= static_cast<uint32_t>(m->kilobytes(r));
    --sum.count;
  });
  showSummary(list);
  if ((before != 0) != (sum.count != 0)) UpdateCommands();
}

void TMainForm::FullSummary(List list) {
  Summary& sum = summary_[static_cast<int>(list)];
  sum = Summary();
  const TListModel* m = model(list);
  forEachRow(view(list)->selectionModel()->selection(), [&](int r) {
    sum.kilobytes += static_cast<uint32_t>(m->kilobytes(r));
    ++sum.count;
  });
  showSummary(list);
}

void TMainForm::showSummary(List list) {
  const Summary& sum = summary_[static_cast<int>(list)];
  const QString text = QString::fromStdString(
      plat::loadStrFmt(kStrSelected, sum.count, static_cast<unsigned long>(sum.kilobytes)));
  (list == List::Local ? LocalInfo : BriefcaseInfo)->setText(text);
}

int TMainForm::SelectedCount(List list) const { return summary_[static_cast<int>(list)].count; }

uint32_t TMainForm::SelectedKilobytes(List list) const {
  return summary_[static_cast<int>(list)].kilobytes;
}

void TMainForm::SelectAll1Click() {
  if (!briefcase_) return;
  for (List l : {List::Local, List::Briefcase}) {
    view(l)->selectAll();
    FullSummary(l);
  }
  UpdateCommands();
}

std::vector<int> TMainForm::SelectionSnapshot(List list) const {
  std::vector<int> rows;
  forEachRow(view(list)->selectionModel()->selection(), [&](int r) { rows.push_back(r); });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

std::string TMainForm::LocalPathOf(int row) const {
  return app::RowLocalPath(briefcase_ ? briefcase_->LocalFolder() : std::string(),
                           LocalModel->row(row));
}

std::string TMainForm::EntryNameOf(int row) const {
  return app::RowEntryName(BriefcaseModel->row(row));
}

// ---- sorting and keys ----

void TMainForm::ListColumnClick(List list, int column) {
  SortState& st = sort_[static_cast<int>(list)];
  if (briefcase_ && !OperationRunning()) {
    if (column == st.column) {
      st.descending = !st.descending;
    } else {
      st.column = column;
      st.descending = false;
    }
    model(list)->sortBy(st.column, st.descending);
    st.applied = true;
  }
  // The header turns its indicator on a click by itself: it shows the
  // order the rows are in.
  view(list)->header()->setSortIndicator(st.applied ? st.column : -1,
                                         st.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TMainForm::ListKeyUp(List list, int key, Qt::KeyboardModifiers modifiers) {
  if (key != Qt::Key_Delete) return;
  if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return;
  if (!briefcase_ || OperationRunning()) return;
  if (list == List::Local) DeleteLocalButtonClick();
  else DeleteBriefcaseButtonClick();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LocalEdit && LocalEditEvent(event)) return true;
  const bool list = watched == LocalList || watched == BriefcaseList;
  if (!list && watched != LocalEdit) return QMainWindow::eventFilter(watched, event);
  // A key acts on its release only where it was pressed: the press of a key
  // that closed a message box or a dialog must not act again, by its
  // release, in the window behind it.
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->isAutoRepeat()) return QMainWindow::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
      keyDown_ = {watched, k->key()};
    } else if (keyDown_.widget == watched && keyDown_.key == k->key()) {
      keyDown_ = {};
      if (list)
        ListKeyUp(watched == LocalList ? List::Local : List::Briefcase, k->key(), k->modifiers());
      else
        LocalEditKeyUp(k->key());
    }
  } else if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    keyDown_ = {};
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- refresh ----

void TMainForm::Refresh1Click() {
  if (!briefcase_ || OperationRunning()) return;
  WaitCursor wait;
  const std::string typed = LocalEdit->text().toStdString();
  // An emptied box is no folder: the stored one comes back.
  if (typed.empty()) LocalEdit->setText(QString::fromStdString(briefcase_->LocalFolder()));
  else if (typed != briefcase_->LocalFolder()) briefcase_->SetLocalFolder(typed);
  RefreshLists();
  UpdateCommands();
  // A folder renamed away or deleted (or its disk unmounted) is told, not
  // left to an empty list.
  if (briefcase_ && !plat::folderExists(briefcase_->LocalFolder()))
    plat::messageBox(app::MissingFolderText(briefcase_->LocalFolder()), plat::loadStr(kStrWarning),
                     plat::btnOk, plat::Icon::Warning);
}

// ---- one operation at a time ----

TMainForm::TOperation::TOperation(TMainForm& form) : form_(form) {
  if (form_.operationDepth_++ > 0) return;
  // Every enabled command of the window goes off, the File menu's recently
  // used entries and the document framework's commands included.
  for (QAction* a : form_.findChildren<QAction*>()) {
    if (a->isEnabled() && !a->isSeparator() && !a->menu()) {
      a->setEnabled(false);
      disabled_.push_back(a);
    }
  }
  form_.LoadButton2->setEnabled(false);
  form_.UnloadButton2->setEnabled(false);
}

TMainForm::TOperation::~TOperation() {
  if (--form_.operationDepth_ > 0) return;
  for (QAction* a : disabled_) a->setEnabled(true);
  // Save follows the document as the operation left it (a load or a removal
  // stores the configuration), not as it was when the operation began.
  if (form_.Document1) form_.Document1->SetDirty(form_.Document1->Dirty());
  form_.UpdateCommands();
  if (form_.refreshPending_ && form_.briefcaseOpen_) {
    form_.refreshPending_ = false;
    form_.RefreshTimer->start();
  }
}

// ---- help ----

void TMainForm::openHelp(const QString& page, const QString& anchor,
                         const QString& carriedAnchor) {
  if (!helpWindow_) {
    initHelpResources();
    helpWindow_ = new THelpBrowser(this);
    helpWindow_->setObjectName(QStringLiteral("HelpWindow"));
    helpWindow_->setWindowFlag(Qt::Window);
    helpWindow_->setWindowTitle(QStringLiteral("Carryvale Help"));
    helpWindow_->setOpenExternalLinks(true);
    // Escape and Ctrl+W close it, as they close a desktop's help window.
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
      auto* close = new QShortcut(key, helpWindow_);
      connect(close, &QShortcut::activated, helpWindow_, &QWidget::close);
    }
  }
  // The installed manual when there is one, else the page the program carries.
  const std::string folder = plat::manualFolder();
  QUrl url;
  if (!folder.empty() && QFileInfo::exists(QString::fromStdString(folder) + "/" + page)) {
    url = QUrl::fromLocalFile(QString::fromStdString(folder) + "/" + page);
    if (!anchor.isEmpty()) url.setFragment(anchor);
  } else {
    url = QUrl(QStringLiteral("qrc:/help/index.html"));
    if (!carriedAnchor.isEmpty()) url.setFragment(carriedAnchor);
  }
  helpWindow_->setSource(url);
  if (url.hasFragment()) helpWindow_->scrollToAnchor(url.fragment());
  helpWindow_->show();
  helpWindow_->raise();
}

void TMainForm::HelpContents() { openHelp(QStringLiteral("index.html"), {}, {}); }
void TMainForm::HelpSearch() {
  // The search page's index of topics works in any viewer.
  openHelp(QStringLiteral("search.html"), QStringLiteral("index"), QStringLiteral("topics"));
  helpWindow_->FocusSearch();
}
void TMainForm::HelpHowToUse() {
  openHelp(QStringLiteral("help.html"), {}, QStringLiteral("using-help"));
}
