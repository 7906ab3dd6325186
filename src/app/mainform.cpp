#include "app/mainform.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "components/artwork.h"
#include "components/debug.h"
#include "dialogs/about.h"
#include "dialogs/anim.h"
#include "docframe/docmanager.h"
#include "docframe/document.h"
#include "platform/strtable.h"

namespace {

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

}  // namespace

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), arguments_(arguments), debugHelper_(std::make_unique<TDebugHelper>()) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Carryvale"));
  resize(602, 434);

  debugHelper_->Storage().SetKey(cvreg::kAppKey);
  debugHelper_->Storage().SetRegistryRootKey(atrkCurrentUser);
  debugHelper_->InstallAsDiagReceiver();

  createActions();
  createMenus();
  createToolBar();
  createDocumentFramework();

  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  ClientPanel = new QWidget(central);
  ClientPanel->setObjectName(QStringLiteral("ClientPanel"));
  centralLayout->addWidget(ClientPanel);
  setCentralWidget(central);

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
  // The manager closes the document while the window is whole, then goes.
  delete DocManager1;
  DocManager1 = nullptr;
  delete Document1;
  Document1 = nullptr;
  destroying_ = true;
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
  FileNew->setIcon(art::icon(art::Image::New));
  FileOpen->setIcon(art::icon(art::Image::Open));
  FileSave->setIcon(art::icon(art::Image::Save));

  BriefcaseLoad1 = makeAction(QStringLiteral("&Load"), QStringLiteral("Ctrl+L"),
                              QStringLiteral("Load|Load the briefcase"));
  BriefcaseUnload1 = makeAction(QStringLiteral("&Unload"), QStringLiteral("Ctrl+U"),
                                QStringLiteral("Unload|Unload the briefcase"));
  ClearItem = makeAction(QStringLiteral("&Clear"), QStringLiteral("Ctrl+Del"), {});
  BriefcaseSettings = makeAction(QStringLiteral("&Settings..."), QStringLiteral("Alt+Return"),
                                 QStringLiteral("Settings|Modify the settings for this briefcase"));
  BriefcaseLoad1->setIcon(art::icon(art::Image::Load));
  BriefcaseUnload1->setIcon(art::icon(art::Image::Unload));
  BriefcaseSettings->setIcon(art::icon(art::Image::Settings));

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
  OptionsRefresh->setIcon(art::icon(art::Image::Refresh));

  HelpContentsItem = makeAction(QStringLiteral("&Contents"), QStringLiteral("F1"),
                                QStringLiteral("Display the help contents screen"));
  HelpSearchItem = makeAction(QStringLiteral("&Search for Help On..."), {},
                              QStringLiteral("Search help file for a topic"));
  HelpHowToUseItem = makeAction(QStringLiteral("&How to Use Help"), {},
                                QStringLiteral("Help on using the help system"));
  HelpAbout = makeAction(QStringLiteral("&About..."), {},
                         QStringLiteral("About|About the Carryvale program"));
  HelpAbout->setIcon(art::icon(art::Image::About));

  connect(FileExit, &QAction::triggered, this, &QWidget::close);
  connect(HelpAbout, &QAction::triggered, this, &TMainForm::HelpAboutExecute);

  // Not available yet: the document framework (New, Open, Save, Save As,
  // Close), the briefcase operations and the help viewer. Their commands stay
  // disabled until their handlers are connected.
  for (QAction* a : {FileNew, FileOpen, FileSave, FileSaveAs, FileClose, ClearItem,
                     SetLocalFolder1, IncludeFiles1, ExcludeFiles1, SelectAll1, HelpContentsItem,
                     HelpSearchItem, HelpHowToUseItem})
    a->setEnabled(false);
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
  BriefcaseItem->addAction(BriefcaseLoad1);
  BriefcaseItem->addAction(BriefcaseUnload1);
  BriefcaseItem->addAction(ClearItem);
  BriefcaseItem->addSeparator();
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
  const bool open = briefcaseOpen_;
  // Load and unload need a selection in their list; the lists arrive with the
  // briefcase views, until then there is nothing to select.
  const bool loadEnabled = open && false;
  const bool unloadEnabled = open && false;
  BriefcaseLoad1->setEnabled(loadEnabled);
  BriefcaseUnload1->setEnabled(unloadEnabled);
  OptionsDeleteBriefcase->setEnabled(unloadEnabled);
  OptionsDeleteLocal->setEnabled(loadEnabled);
  OptionsRefresh->setEnabled(open);
  BriefcaseSettings->setEnabled(open);
  BriefcaseItem->menuAction()->setVisible(open);
  OptionsItem->menuAction()->setVisible(open);
  ClientPanel->setVisible(open);
  if (!open) SetStatusText(str(803));
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
  if (AnimatedForm) {
    AnimatedForm->setInfoText(text);
    AnimatedForm->InfoLabel->repaint();
  }
  QCoreApplication::processEvents();
}

// ---- events ----

void TMainForm::HelpAboutExecute() {
  if (AboutBox) AboutBox->exec();
}

void TMainForm::StartupDelayTimerTimer() {
  StartupDelayTimer->stop();
  if (arguments_.isEmpty()) return;
  // Opening the briefcase named first, and the load or unload that a switch
  // asks for, arrive with the document framework.
}

void TMainForm::RefreshTimerTimer() {
  // The local list's refresh arrives with the briefcase views.
}

bool TMainForm::FormCloseQuery() { return !Document1 || Document1->CloseQuery(); }

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

  // Nothing can create or open a briefcase yet: New and Open stay off until
  // the briefcase document answers Document1New and Document1Open.
  FileNew->setEnabled(false);
  FileOpen->setEnabled(false);
}

void TMainForm::DocManager1NewDocument(TDocManager*, TDocument*& document) {
  document = Document1;
}

void TMainForm::Document1New(TDocument*, bool& success) { success = false; }

void TMainForm::Document1Open(TDocument*, bool& success) { success = false; }

void TMainForm::Document1Commit(TDocument*, bool& success) { success = false; }

void TMainForm::Document1Close(TDocument*) {}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}
