#include "dialogs/wizard.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <vector>

#include "components/artwork.h"
#include "components/dfromnow.h"
#include "dialogs/placement.h"
#include "platform/ask.h"
#include "platform/files.h"
#include "platform/findfile.h"
#include "platform/paths.h"
#include "platform/strtable.h"
#include "platform/volumes.h"

TWizardForm* WizardForm = nullptr;

using namespace plat::strid;

namespace {

// A page's caption is this + its page number (kStrWizardTitle for page 1).
constexpr int kStrFirstCaption = plat::kStrWizardTitle - 1;
constexpr int kDefaultDays = 7;
constexpr int kPictureWidth = 120;
const char* const kExtension = ".brc";
const char* const kSaveTitle = "Select briefcase container";
const char* const kSaveFilter = "Briefcase containers|*.brc";

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

// The lines of each page's text; "" is an empty line.
const char* const kPageLines[TWizardForm::kPages][12] = {
    {"You can use the briefcase to help you organize and keep your",
     "documents up-to-date between two computers.", "",
     "This wizard will help you to configure the new briefcase in six steps.", "",
     "Remember that you will have to open the briefcase file on the other",
     "computer, when you bring your briefcase to it.", nullptr},
    {"The briefcase contents will be stored in a single briefcase file.", "",
     "In this first step, choose the folder (e.g. on the removable disk) and the",
     "filename of the briefcase. It may be in the root folder.", "",
     "You will have to select the same file on the other computer in order",
     "to retrieve your documents.", nullptr},
    {"Choose the folder on this computer, that contains the data files",
     "you want to transport.", "",
     "Don't choose the root of your hard disk, because too many files",
     "may not fit on the target disk.", nullptr},
    {"What files do you want to be included in the briefcase?", "",
     "To include all files, leave the field blank.", "",
     "Type filenames with wildcards, separated by semicolons.", "", "Example:", "",
     "*.doc;*.txt;*.bmp", nullptr},
    {"What files do you want to be excluded from the briefcase?", "",
     "Type the filenames with wildcards, separated by semicolons;", "", "Example:", "",
     "*.exe;*.dll;*.tmp;*.bak", nullptr},
    {"For this first time, you can choose a date for the included files.", "",
     "Only files modified after this date will be included.", "",
     "Don't choose a date that's too old, because this will overload the",
     "number of files.", "", "In the future, this date will be updated automatically by the",
     "briefcase.", "", "Include only files that were modified:", nullptr},
    {"Congratulations! When you click the \"Finish\" button, a new",
     "briefcase file will be created.", "",
     "Would you like to put a shortcut on your desktop, so you can",
     "access the briefcase easily at any time?", nullptr},
};

// The side picture: documents travelling into a briefcase, painted at any size.
class SidePicture : public QWidget {
 public:
  explicit SidePicture(QWidget* parent) : QWidget(parent) {
    setFixedWidth(kPictureWidth);
    setMinimumHeight(200);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
    sky.setColorAt(1, QColor(0x6f, 0xa8, 0xdc));
    p.fillRect(rect(), sky);
    const double w = width();
    const double base = height() * 0.62;
    art::drawDocument(p, QPointF(w * 0.30, base - 70), 1.3, 0.55);
    art::drawDocument(p, QPointF(w * 0.62, base - 48), 1.5, 0.8);
    art::drawBriefcase(p, QRectF(w * 0.18, base, w * 0.64, w * 0.48));
  }
};

bool hasBriefcaseExtension(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot >= 0 && name.mid(dot).compare(QLatin1String(kExtension), Qt::CaseInsensitive) == 0;
}

QString withBriefcaseExtension(const QString& name) {
  return hasBriefcaseExtension(name) ? name : name + QLatin1String(kExtension);
}

// A name the scan offers: more than four characters, ending in ".brc" (the
// file must also be a briefcase: a file so named that is no ZIP is not offered).
bool offeredByScan(const std::string& name) {
  return name.size() > 4 && hasBriefcaseExtension(QString::fromStdString(name.substr(name.size() - 4)));
}

// Walks a folder (files first, then its subfolders, each in name order, links
// never followed); true when the user took a briefcase, whose path is in *taken.
bool scanFolder(const std::string& folder, std::string* taken) {
  std::vector<std::string> files, folders;
  {
    plat::FolderEnum e;
    if (!e.open(folder)) return false;
    plat::FindData d;
    while (e.next(&d, true)) {
      if (d.name == "." || d.name == ".." || d.info.isSymlink) continue;
      if (d.info.isDirectory) folders.push_back(d.name);
      else if (d.info.isRegular && offeredByScan(d.name) &&
               briefcase::IsBriefcaseFile(plat::joinPath(folder, d.name)))
        files.push_back(d.name);
    }
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  const std::string withSlash = folder == "/" ? folder : folder + "/";
  for (const std::string& name : files) {
    const int answer = plat::messageBox(
        plat::loadStrFmt(kStrBriefcaseFound, withSlash.c_str(), name.c_str()),
        plat::loadStr(kStrBriefcaseFoundCaption), plat::btnYesNo, plat::Icon::Question);
    if (answer == plat::mrYes) {
      *taken = withSlash + name;
      return true;
    }
  }
  for (const std::string& name : folders)
    if (scanFolder(withSlash + name, taken)) return true;
  return false;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QLatin1String(name));
  return e;
}

}  // namespace

QString TWizardForm::PageText(int page) {
  QStringList lines;
  for (const char* const* l = kPageLines[page - 1]; *l; ++l) lines << QString::fromUtf8(*l);
  return lines.join(QLatin1Char('\n'));
}

TWizardForm::TWizardForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("WizardForm"));
  setWindowTitle(QStringLiteral("New Briefcase Wizard"));
  Image1 = new SidePicture(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Pages = new QStackedWidget(this);

  for (int i = 0; i < kPages; ++i) {
    Page[i] = new QWidget(Pages);
    Page[i]->setObjectName(QStringLiteral("Page%1").arg(i + 1));
    Memo[i] = new QLabel(PageText(i + 1), Page[i]);
    Memo[i]->setObjectName(QStringLiteral("Memo%1").arg(i + 1));
    Memo[i]->setTextFormat(Qt::PlainText);
    Memo[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* layout = new QVBoxLayout(Page[i]);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo[i]);
    Pages->addWidget(Page[i]);
  }

  BriefcaseEdit = edit(Page[1], "BriefcaseEdit", QStringLiteral("<briefcase file here>"));
  // Alt+B is Back; the Browse buttons answer Alt+R.
  BrowseBriefcaseButton = new QPushButton(QStringLiteral("B&rowse..."), Page[1]);
  ComprCheckbox = new QCheckBox(QStringLiteral("Use compression (recommended)"), Page[1]);
  EncryptCheckbox = new QCheckBox(QStringLiteral("&Encrypt the files with a password"), Page[1]);
  EncryptCheckbox->setToolTip(QStringLiteral(
      "Whoever finds the briefcase cannot read the files without the password; their names, "
      "sizes and dates stay readable"));
  LocalEdit = edit(Page[2], "LocalEdit", QStringLiteral("<local folder here>"));
  BrowseLocalButton = new QPushButton(QStringLiteral("B&rowse..."), Page[2]);
  SubdirsCheckBox = new QCheckBox(QStringLiteral("Include subfolders"), Page[2]);
  SubdirsCheckBox->setToolTip(
      QStringLiteral("Choose whether files in subfolders are also included"));
  IncludeEdit = edit(Page[3], "IncludeEdit");
  ExcludeEdit = edit(Page[4], "ExcludeEdit");
  DFromNow1 = new TDFromNow(Page[5]);
  RadioButton1 = new QRadioButton(QStringLiteral("Yes, put a shortcut on my desktop"), Page[6]);
  RadioButton2 =
      new QRadioButton(QStringLiteral("No, I will start the briefcase program when necessary"),
                       Page[6]);

  auto pageLayout = [this](int page) { return static_cast<QVBoxLayout*>(Page[page - 1]->layout()); };
  auto row = [](QWidget* field, QWidget* button) {
    auto* r = new QHBoxLayout;
    r->addWidget(field, 1);
    r->addWidget(button);
    return r;
  };
  pageLayout(2)->addLayout(row(BriefcaseEdit, BrowseBriefcaseButton));
  pageLayout(2)->addWidget(ComprCheckbox);
  pageLayout(2)->addWidget(EncryptCheckbox);
  pageLayout(3)->addLayout(row(LocalEdit, BrowseLocalButton));
  pageLayout(3)->addWidget(SubdirsCheckBox);
  pageLayout(4)->addWidget(IncludeEdit);
  pageLayout(5)->addWidget(ExcludeEdit);
  pageLayout(6)->addWidget(DFromNow1);
  pageLayout(7)->addWidget(RadioButton1);
  pageLayout(7)->addWidget(RadioButton2);
  for (int i = 1; i <= kPages; ++i) pageLayout(i)->addStretch(1);

  BackButton = new QPushButton(QStringLiteral("< &Back"), this);
  NextButton = new QPushButton(QStringLiteral("&Next >"), this);
  FinishButton = new QPushButton(QStringLiteral("&Finish"), this);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);

  auto* top = new QHBoxLayout;
  top->setSpacing(12);
  top->addWidget(Image1);
  top->addWidget(Pages, 1);
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BackButton);
  buttons->addWidget(NextButton);
  buttons->addWidget(FinishButton);
  buttons->addSpacing(8);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(line);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
  connect(NextButton, &QPushButton::clicked, this, [this] { NextButtonClick(); });
  connect(FinishButton, &QPushButton::clicked, this, [this] { done(plat::mrOk); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(plat::mrCancel); });
  connect(BrowseBriefcaseButton, &QPushButton::clicked, this,
          [this] { BrowseBriefcaseButtonClick(); });
  connect(BrowseLocalButton, &QPushButton::clicked, this, [this] { BrowseLocalButtonClick(); });
  connect(RadioButton1, &QRadioButton::clicked, this, [this] { MakeShortcut = true; });
  connect(RadioButton2, &QRadioButton::clicked, this, [this] { MakeShortcut = false; });
}

TWizardForm::~TWizardForm() {
  if (WizardForm == this) WizardForm = nullptr;
}

void TWizardForm::reject() { done(plat::mrCancel); }

void TWizardForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormActivate();
    adjustSize();
    CentreOnScreen(this);
  }
  QDialog::showEvent(event);
}

void TWizardForm::FormActivate() {
  existing_.clear();
  ComprCheckbox->setChecked(true);
  EncryptCheckbox->setChecked(false);
  SubdirsCheckBox->setChecked(true);
  ShowPage(1);
  FinishButton->hide();
  NextButton->show();
  NextButton->setDefault(true);
  MakeShortcut = true;
  RadioButton1->setChecked(true);
  DFromNow1->SetDays(kDefaultDays);
}

void TWizardForm::ShowPage(int n) {
  n = std::clamp(n, 1, kPages);
  Pages->setCurrentIndex(n - 1);
  CurrentPage = n;
  setWindowTitle(str(kStrFirstCaption + n));
  BackButton->setEnabled(n != 1);
  switch (n) {
    case 2:
      BriefcaseEdit->setFocus();
      ScanRemovableDrives();
      break;
    case 3: LocalEdit->setFocus(); break;
    case 4: IncludeEdit->setFocus(); break;
    case 5: ExcludeEdit->setFocus(); break;
    case 6:
      FinishButton->hide();
      FinishButton->setDefault(false);
      NextButton->show();
      NextButton->setDefault(true);
      break;
    case 7:
      NextButton->hide();
      NextButton->setDefault(false);
      FinishButton->show();
      FinishButton->setDefault(true);
      break;
    default: break;
  }
}

void TWizardForm::ScanRemovableDrives() {
  for (const std::string& root : plat::removableRoots()) {
    std::string taken;
    if (scanFolder(root, &taken)) {
      useExisting(taken);
      return;
    }
  }
}

void TWizardForm::useExisting(const std::string& path) {
  BriefcaseEdit->setText(QString::fromStdString(path));
  existing_ = path;
  done(plat::mrYes);
}

bool TWizardForm::checkNameIsFree() {
  std::string path = BriefcaseEdit->text().toStdString();
  plat::FileInfo info;
  if (path == consentedPath_ || !plat::fileSystem().stat(path, &info, false)) return true;
  if (path.front() != '/') path = plat::joinPath(plat::currentFolder(), path);
  if (briefcase::IsBriefcaseFile(path)) {
    const std::string folder = plat::parentFolder(path);
    const std::string shown = folder == "/" ? folder : folder + "/";
    if (plat::messageBox(plat::loadStrFmt(kStrBriefcaseFound, shown.c_str(),
                                          plat::fileNamePart(path).c_str()),
                         plat::loadStr(kStrBriefcaseFoundCaption), plat::btnYesNo,
                         plat::Icon::Question) == plat::mrYes)
      useExisting(path);
    return false;
  }
  plat::messageBox(path + " already exists and is not a briefcase.\n" +
                       plat::loadStr(kStrChooseFileName),
                   plat::loadStr(kStrWarning), plat::btnOk, plat::Icon::Warning);
  return false;
}

bool TWizardForm::checkBriefcaseName() {
  const QString text = BriefcaseEdit->text();
  // The untouched placeholder, or nothing at all.
  if (text.isEmpty() || text.startsWith(QLatin1Char('<'))) {
    plat::messageBox(plat::loadStr(kStrChooseFileName), plat::loadStr(kStrWarning), plat::btnOk,
                     plat::Icon::Warning);
    return false;
  }
  BriefcaseEdit->setText(withBriefcaseExtension(text));
  return true;
}

bool TWizardForm::checkLocalFolder() {
  QString folder = LocalEdit->text();
  if (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
  if (!folder.isEmpty() && plat::folderExists(folder.toStdString())) return true;
  plat::messageBox(plat::loadStr(kStrChooseExistingFolder), plat::loadStr(kStrWarning), plat::btnOk,
                   plat::Icon::Warning);
  return false;
}

bool TWizardForm::checkDateFilter() {
  try {
    DFromNow1->GetFileTime();
    return true;
  } catch (const EConvertError& e) {
    TDFromNow::ReportConvertError(e);
    return false;
  }
}

void TWizardForm::NextButtonClick() {
  if (CurrentPage == 2 && !(checkBriefcaseName() && checkNameIsFree())) {
    BriefcaseEdit->setFocus();
    return;
  }
  if (CurrentPage == 3 && !checkLocalFolder()) {
    LocalEdit->setFocus();
    return;
  }
  if (CurrentPage == 6 && !checkDateFilter()) return;
  if (CurrentPage < kPages) ShowPage(CurrentPage + 1);
}

void TWizardForm::BackButtonClick() {
  if (CurrentPage > 1) ShowPage(CurrentPage - 1);
}

void TWizardForm::BrowseBriefcaseButtonClick() {
  // The first removable drive that can be read, else the home folder.
  std::string start = plat::homeDir();
  for (const std::string& root : plat::removableRoots())
    if (plat::folderExists(root)) {
      start = root;
      break;
    }
  const auto chosen = plat::asker().saveFile(kSaveTitle, start, kSaveFilter, "brc");
  if (!chosen) return;
  const QString path = withBriefcaseExtension(QString::fromStdString(*chosen));
  plat::FileInfo info;
  if (plat::fileSystem().stat(path.toStdString(), &info, false)) {
    // The only way to have New replace a file: the user's word here.
    const int answer = plat::messageBox(
        path.toStdString() + " already exists.\nDo you want to replace it?", kSaveTitle,
        plat::btnYesNo, plat::Icon::Warning, plat::mrNo);
    if (answer != plat::mrYes) return;
    consentedPath_ = path.toStdString();
  }
  BriefcaseEdit->setText(path);
}

void TWizardForm::BrowseLocalButtonClick() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  const auto chosen =
      plat::asker().browseFolder(plat::loadStr(kStrChooseFolder), documents.toStdString());
  if (!chosen || chosen->empty()) return;
  QString folder = QString::fromStdString(*chosen);
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  LocalEdit->setText(folder);
}

briefcase::NewBriefcaseAnswers TWizardForm::Answers() const {
  briefcase::NewBriefcaseAnswers a;
  a.containerPath = BriefcaseEdit->text().toStdString();
  a.localFolder = LocalEdit->text().toStdString();
  a.exclude = ExcludeEdit->text().toStdString();
  a.include = IncludeEdit->text().toStdString();
  a.compress = ComprCheckbox->isChecked();
  a.encrypt = EncryptCheckbox->isChecked();
  a.subfolders = SubdirsCheckBox->isChecked();
  try {
    a.date = DFromNow1->GetFileTime();
  } catch (const EConvertError&) {
    a.date = plat::nowFileTime();  // not reached: Next on the date page checked it
  }
  a.makeShortcut = MakeShortcut;
  a.replaceConsented = !consentedPath_.empty() && consentedPath_ == a.containerPath;
  return a;
}

WizardOutcome NewBriefcaseFromWizard(QWidget* owner, briefcase::NewBriefcase* out,
                                     std::string* existing) {
  std::unique_ptr<TWizardForm> own;
  TWizardForm* wizard = WizardForm;
  if (!wizard) {
    own = std::make_unique<TWizardForm>(owner);
    wizard = own.get();
  }
  const int result = wizard->exec();
  if (result == plat::mrYes) {
    *existing = wizard->ExistingBriefcase();
    return WizardOutcome::UseExisting;
  }
  if (result != plat::mrOk) return WizardOutcome::Cancelled;
  return briefcase::CreateNewBriefcase(wizard->Answers(), out) ? WizardOutcome::Created
                                                               : WizardOutcome::Cancelled;
}
