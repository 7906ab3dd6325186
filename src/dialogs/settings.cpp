#include "dialogs/settings.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "app/application.h"
#include "components/dfromnow.h"
#include "dialogs/placement.h"
#include "platform/ask.h"
#include "platform/files.h"

TSettingsForm* SettingsForm = nullptr;

namespace {

const char* const kHelpContextProperty = "helpContext";
const char* const kChooseFolder = "Choose the local folder:";

void helpFor(QWidget* w, int context, const QString& hint) {
  w->setProperty(kHelpContextProperty, context);
  if (!hint.isEmpty()) w->setToolTip(hint);
  // What's This shows nothing of its own: the event opens the topic.
  w->setWhatsThis(hint.isEmpty() ? w->objectName() : hint);
}

}  // namespace

TSettingsForm::TSettingsForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint) {
  setObjectName(QStringLiteral("SettingsForm"));
  setWindowTitle(QStringLiteral("Briefcase settings"));
  VersionLabel = new QLabel(QStringLiteral("Version:"), this);
  // Every field and box has an access key of its own (Alt+letter).
  LocalLabel = new QLabel(QStringLiteral("&Local folder:"), this);
  LocalEdit = new QLineEdit(this);
  LocalEdit->setObjectName(QStringLiteral("LocalEdit"));
  LocalEdit->setMinimumWidth(280);
  BrowseButton = new QPushButton(QStringLiteral("&Browse..."), this);
  BrowseButton->setObjectName(QStringLiteral("BrowseButton"));
  SubdirsCheckBox = new QCheckBox(QStringLiteral("Include &subfolders"), this);
  SubdirsCheckBox->setObjectName(QStringLiteral("SubdirsCheckBox"));
  SubdirsCheckBox->setChecked(true);
  Label1 = new QLabel(QStringLiteral("&Include files:"), this);
  IncludeEdit = new QLineEdit(this);
  IncludeEdit->setObjectName(QStringLiteral("IncludeEdit"));
  Label2 = new QLabel(QStringLiteral("&Exclude files:"), this);
  ExcludeEdit = new QLineEdit(this);
  ExcludeEdit->setObjectName(QStringLiteral("ExcludeEdit"));
  DFromNow1 = new TDFromNow(this);
  DFromNow1->setTitle(QStringLiteral("For this briefcase, only select files that were modified:"));
  ComprCheckbox = new QCheckBox(QStringLiteral("&Compressed"), this);
  ComprCheckbox->setObjectName(QStringLiteral("ComprCheckbox"));
  ComprCheckbox->setChecked(true);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  LocalLabel->setBuddy(LocalEdit);
  Label1->setBuddy(IncludeEdit);
  Label2->setBuddy(ExcludeEdit);

  helpFor(LocalEdit, hcLocalFolder,
          QStringLiteral("Only local files within this folder can be transferred to the briefcase"));
  helpFor(BrowseButton, hcBrowse,
          QStringLiteral("Click this button to browse for the local folder on your disk."));
  helpFor(SubdirsCheckBox, hcSubfolders, QString());
  helpFor(IncludeEdit, hcIncludeFiles,
          QStringLiteral("Fill in specifications for files to be selected, e.g. *.doc;*.txt"));
  helpFor(ExcludeEdit, hcExcludeFiles,
          QStringLiteral("Fill in specifications for files to be excluded (you can use, e.g. "
                         "*.bak;*.exe"));
  helpFor(ComprCheckbox, hcCompressed,
          QStringLiteral("Do you want the briefcase to be compressed? Compression is slower, but "
                         "gives a smaller briefcase."));
  for (QWidget* w : {static_cast<QWidget*>(LocalEdit), static_cast<QWidget*>(BrowseButton),
                     static_cast<QWidget*>(SubdirsCheckBox), static_cast<QWidget*>(IncludeEdit),
                     static_cast<QWidget*>(ExcludeEdit), static_cast<QWidget*>(ComprCheckbox)})
    w->installEventFilter(this);
  installEventFilter(this);
  setProperty(kHelpContextProperty, int(hcDialog));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(VersionLabel);
  layout->addSpacing(4);
  layout->addWidget(LocalLabel);
  auto* local = new QHBoxLayout;
  local->addWidget(LocalEdit, 1);
  local->addWidget(BrowseButton);
  layout->addLayout(local);
  layout->addWidget(SubdirsCheckBox);
  layout->addWidget(Label1);
  layout->addWidget(IncludeEdit);
  layout->addWidget(Label2);
  layout->addWidget(ExcludeEdit);
  layout->addSpacing(4);
  layout->addWidget(DFromNow1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(ComprCheckbox);
  bottom->addStretch(1);
  bottom->addWidget(Button1);
  bottom->addWidget(Button2);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(Button1, &QPushButton::clicked, this, [this] { accept(); });
  connect(Button2, &QPushButton::clicked, this, [this] { reject(); });
  connect(BrowseButton, &QPushButton::clicked, this, [this] { BrowseButtonClick(); });
  connect(DFromNow1, &TDFromNow::Changed, this, [this] { dateChanged_ = true; });
}

TSettingsForm::~TSettingsForm() {
  if (SettingsForm == this) SettingsForm = nullptr;
}

void TSettingsForm::reject() { done(plat::mrCancel); }

// OK takes the values only when the date filter reads as a moment.
void TSettingsForm::accept() {
  try {
    DFromNow1->GetFileTime();
  } catch (const EConvertError& e) {
    TDFromNow::ReportConvertError(e);
    return;
  }
  done(plat::mrOk);
}

void TSettingsForm::SetValues(const Values& v) {
  VersionLabel->setText(QStringLiteral("Version 2.0"));
  LocalEdit->setText(v.localFolder);
  SubdirsCheckBox->setChecked(v.subfolders);
  IncludeEdit->setText(v.include);
  ExcludeEdit->setText(v.exclude);
  SetFileTime(v.date);
  ComprCheckbox->setChecked(v.compressed);
  dateChanged_ = false;
}

TSettingsForm::Values TSettingsForm::GetValues() const {
  Values v;
  v.localFolder = LocalEdit->text();
  v.subfolders = SubdirsCheckBox->isChecked();
  v.include = IncludeEdit->text();
  v.exclude = ExcludeEdit->text();
  v.date = GetFileTime();
  v.compressed = ComprCheckbox->isChecked();
  return v;
}

void TSettingsForm::SetFileTime(plat::FileTime ft) { DFromNow1->SetFileTime(ft); }

plat::FileTime TSettingsForm::GetFileTime() const { return DFromNow1->GetFileTime(); }

void TSettingsForm::BrowseButtonClick() {
  const auto chosen =
      plat::asker().browseFolder(kChooseFolder, LocalEdit->text().toStdString());
  if (!chosen || !plat::folderExists(*chosen)) return;
  QString folder = QString::fromStdString(*chosen);
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  LocalEdit->setText(folder);
}

int TSettingsForm::HelpContextOf(const QWidget* w) const {
  for (; w; w = w->parentWidget()) {
    const QVariant v = w->property(kHelpContextProperty);
    if (v.isValid()) return v.toInt();
    if (w == this) break;
  }
  return 0;
}

void TSettingsForm::ShowHelp(int context) {
  if (help_) {
    help_(context);
    return;
  }
  TApplication::ShowHelp(context);
}

bool TSettingsForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WhatsThis) {
    if (auto* w = qobject_cast<QWidget*>(watched)) {
      ShowHelp(HelpContextOf(w));
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TSettingsForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    const int context = HelpContextOf(focusWidget());
    ShowHelp(context ? context : int(hcDialog));
    return;
  }
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::ShiftModifier) {
    QWhatsThis::enterWhatsThisMode();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TSettingsForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    adjustSize();
    CentreOnScreen(this);
  }
  QDialog::showEvent(event);
}
