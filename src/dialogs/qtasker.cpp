#include "dialogs/qtasker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QVBoxLayout>

#include "dialogs/password.h"
#include "dialogs/replace.h"
#include "platform/strtable.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

struct ButtonMap {
  unsigned flag;
  QMessageBox::StandardButton button;
  int result;
};

// In the order the buttons of a box read from left to right.
const ButtonMap kButtons[] = {
    {plat::btnYes, QMessageBox::Yes, plat::mrYes},
    {plat::btnYesToAll, QMessageBox::YesToAll, plat::mrYesToAll},
    {plat::btnNo, QMessageBox::No, plat::mrNo},
    {plat::btnNoToAll, QMessageBox::NoToAll, plat::mrNoToAll},
    {plat::btnOk, QMessageBox::Ok, plat::mrOk},
    {plat::btnAbort, QMessageBox::Abort, plat::mrAbort},
    {plat::btnRetry, QMessageBox::Retry, plat::mrRetry},
    {plat::btnIgnore, QMessageBox::Ignore, plat::mrIgnore},
    {plat::btnCancel, QMessageBox::Cancel, plat::mrCancel},
    {plat::btnHelp, QMessageBox::Help, plat::mrNone},
};

QMessageBox::Icon qtIcon(plat::Icon icon) {
  switch (icon) {
    case plat::Icon::Information: return QMessageBox::Information;
    case plat::Icon::Warning: return QMessageBox::Warning;
    case plat::Icon::Error: return QMessageBox::Critical;
    case plat::Icon::Question: return QMessageBox::Question;
    case plat::Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

// A box at least as wide as its caption needs in the title bar (which the
// window manager draws with the buttons and the icon beside it, in a bold
// face), so that a short question does not cut its caption.
void widenForCaption(QMessageBox& box) {
  QFont bold = box.font();
  bold.setBold(true);
  const QFontMetrics title(bold);
  const int wanted = title.horizontalAdvance(box.windowTitle()) * 11 / 10 + 8 * title.height();
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

QString errorCaption() {
  const std::string text = plat::loadStr(plat::kStrError);
  return text.empty() ? QStringLiteral("Error") : qs(text);
}

// The arrow over a question asked while a command shows the hourglass; the
// hourglass again afterwards.
class ArrowWhileAsking {
 public:
  ArrowWhileAsking() : busy_(QApplication::overrideCursor() != nullptr) {
    if (busy_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~ArrowWhileAsking() {
    if (busy_) QApplication::restoreOverrideCursor();
  }
  ArrowWhileAsking(const ArrowWhileAsking&) = delete;
  ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

 private:
  bool busy_;
};

}  // namespace

QWidget* TQtAsker::dialogParent() const {
  if (parent_) return parent_;
  // The window the user works in: the modal dialog on top, else the active
  // window. One just hidden (the progress window at the end of a run) hands
  // over to the window it belongs to; with none, the program's main window.
  QWidget* w = QApplication::activeModalWidget();
  if (!w || !w->isVisible()) w = QApplication::activeWindow();
  while (w && !w->isVisible()) w = w->parentWidget() ? w->parentWidget()->window() : nullptr;
  if (w) return w;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && qobject_cast<QMainWindow*>(top)) return top;
  return nullptr;
}

int TQtAsker::message(const plat::MessageQuestion& q) {
  unsigned buttons = q.buttons;
  if ((buttons & ~unsigned(plat::btnHelp)) == 0) buttons |= plat::btnOk;
  if (!help_) buttons &= ~unsigned(plat::btnHelp);  // no help viewer: no Help button

  const ArrowWhileAsking arrow;
  QMessageBox box(dialogParent());
  box.setWindowTitle(q.caption.empty() ? errorCaption() : qs(q.caption));
  box.setText(qs(q.text));
  box.setTextFormat(Qt::PlainText);
  box.setIcon(qtIcon(q.icon));
  QMessageBox::StandardButtons set;
  for (const auto& b : kButtons)
    if (buttons & b.flag) set |= b.button;
  box.setStandardButtons(set);

  // Enter presses the asked-for button, else the first one.
  QMessageBox::StandardButton def = QMessageBox::NoButton;
  for (const auto& b : kButtons) {
    if (!(buttons & b.flag) || b.flag == plat::btnHelp) continue;
    if (def == QMessageBox::NoButton) def = b.button;
    if (q.defaultResult != plat::mrNone && b.result == q.defaultResult) {
      def = b.button;
      break;
    }
  }
  if (def != QMessageBox::NoButton) box.setDefaultButton(def);
  // Escape answers Cancel when there is one; else (one button alone, or
  // Yes/No) the toolkit's own choice.
  if (buttons & plat::btnCancel) box.setEscapeButton(QMessageBox::Cancel);
  widenForCaption(box);

  for (;;) {
    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    if (pressed == QMessageBox::Help) {
      if (help_) help_(q.helpContext);
      continue;
    }
    for (const auto& b : kButtons)
      if (b.button == pressed && pressed != QMessageBox::NoButton) return b.result;
    return plat::mrCancel;
  }
}

int TQtAsker::confirmReplace(const plat::ReplaceQuestion& q, std::string* newPath) {
  // The program's one replace dialog; while there is none, one for this question.
  const ArrowWhileAsking arrow;
  if (ReplaceForm) return ReplaceForm->Ask(q, newPath);
  TReplaceForm form(dialogParent());
  return form.Ask(q, newPath);
}

bool TQtAsker::askPassword(const plat::PasswordQuestion& q, std::string* password) {
  const ArrowWhileAsking arrow;
  TPasswordForm form(q, dialogParent());
  return form.Ask(password);
}

std::optional<std::string> TQtAsker::browseFolder(const plat::FolderQuestion& q) {
  const ArrowWhileAsking arrow;
  auto choose = [&q](QFileDialog& dialog) {
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // With no folder to start from, the home folder (not wherever the
    // program happened to be started).
    dialog.setDirectory(q.startFolder.empty() ? QDir::homePath() : qs(q.startFolder));
  };
  auto chosenFolder = [](const QFileDialog& dialog) -> std::optional<std::string> {
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front().toStdString();
  };
  if (q.prompt.empty()) {
    QFileDialog dialog(dialogParent(), qs(q.caption));
    choose(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return chosenFolder(dialog);
  }
  // A question too long for a title bar stands whole above the chooser,
  // which is then the toolkit's own, inside the question's window.
  QDialog window(dialogParent());
  window.setObjectName(QStringLiteral("FolderQuestion"));
  window.setWindowTitle(qs(q.caption));
  auto* prompt = new QLabel(qs(q.prompt), &window);
  prompt->setObjectName(QStringLiteral("Prompt"));
  prompt->setTextFormat(Qt::PlainText);
  prompt->setWordWrap(true);
  auto* dialog = new QFileDialog(&window);
  dialog->setWindowFlags(Qt::Widget);  // a part of the window, not a window of its own
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  choose(*dialog);
  // The text lines up with the chooser's own fields.
  if (dialog->layout()) {
    const QMargins m = dialog->layout()->contentsMargins();
    prompt->setContentsMargins(m.left(), m.top(), m.right(), 0);
  }
  auto* layout = new QVBoxLayout(&window);
  layout->setSpacing(0);
  layout->addWidget(prompt);
  layout->addWidget(dialog, 1);
  dialog->setVisible(true);  // a dialog stays hidden until told, also inside another window
  QObject::connect(dialog, &QDialog::accepted, &window, &QDialog::accept);
  QObject::connect(dialog, &QDialog::rejected, &window, &QDialog::reject);
  // As roomy as the chooser is on its own, within the screen.
  const QFontMetrics fm(window.font());
  QSize size = window.sizeHint().expandedTo(QSize(fm.averageCharWidth() * 90, fm.height() * 26));
  if (const QScreen* screen = window.screen())
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  window.resize(size);
  if (window.exec() != QDialog::Accepted) return std::nullopt;
  return chosenFolder(*dialog);
}

QString TQtAsker::qtFilter(const std::string& filter) {
  const QStringList parts = qs(filter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    patterns = patterns.simplified();
    if (patterns.isEmpty()) continue;
    out << QStringLiteral("%1 (%2)").arg(parts[i].trimmed(), patterns);
  }
  return out.join(QStringLiteral(";;"));
}

std::optional<std::string> TQtAsker::fileDialog(bool save, const std::string& caption,
                                                const std::string& startPath,
                                                const std::string& filter,
                                                const std::string& defaultExt) {
  QFileDialog dialog(dialogParent(), qs(caption));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The document asks "The file already exists. Overwrite?" itself.
  if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  const QString filters = qtFilter(filter);
  if (!filters.isEmpty()) dialog.setNameFilter(filters);
  if (!defaultExt.empty()) dialog.setDefaultSuffix(qs(defaultExt));
  if (!startPath.empty()) {
    const QFileInfo start(qs(startPath));
    if (start.isDir()) {
      dialog.setDirectory(start.absoluteFilePath());
    } else {
      dialog.setDirectory(start.absolutePath());
      dialog.selectFile(start.fileName());
    }
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
  return chosen.front().toStdString();
}

std::optional<std::string> TQtAsker::saveFile(const std::string& caption,
                                              const std::string& startPath,
                                              const std::string& filter,
                                              const std::string& defaultExt) {
  return fileDialog(true, caption, startPath, filter, defaultExt);
}

std::optional<std::string> TQtAsker::openFile(const std::string& caption,
                                              const std::string& startPath,
                                              const std::string& filter,
                                              const std::string& defaultExt) {
  return fileDialog(false, caption, startPath, filter, defaultExt);
}
