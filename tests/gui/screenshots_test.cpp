// Renders every window to a PNG in "screenshots" next to the test binary, so
// that each can be looked at; checks that nothing is cut off on the way.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>

#include "app/mainform.h"
#include "components/artwork.h"
#include "components/urlstatic.h"
#include "components/versionlabel.h"
#include "dialogs/about.h"
#include "dialogs/history.h"
#include "dialogs/anim.h"
#include "dialogs/inputdia.h"
#include "dialogs/msgform.h"
#include "dialogs/replace.h"
#include "dialogs/settings.h"
#include "dialogs/wizard.h"
#include "gui_helpers.h"
#include "platform/strtable.h"

namespace {

QString shotDir() {
  const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(dir);
  return dir;
}

// At `scale` 2 the window is drawn as on a screen scaled to 200 %.
void shoot(QWidget* w, const QString& name, qreal scale = 1) {
  w->show();
  spinEvents(30);
  QPixmap pm = w->grab();
  if (scale != 1) {
    pm = QPixmap(w->size() * scale);
    pm.setDevicePixelRatio(scale);
    w->render(&pm);
  }
  ASSERT_FALSE(pm.isNull());
  EXPECT_TRUE(pm.save(shotDir() + "/" + name + ".png")) << name.toStdString();
}

// A label shows all of its text: each line fits its width, and the lines fit its height.
// A label with a buddy shows its access key underlined, without the '&'.
void expectWhole(const QLabel* label) {
  const QFontMetrics fm(label->font());
  QString text = label->text();
  if (label->buddy()) text.replace(QLatin1String("&&"), QString(QChar(1))).remove('&').replace(QChar(1), '&');
  if (label->wordWrap()) {
    const QRect need = fm.boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                       Qt::TextWordWrap | int(label->alignment()), text);
    EXPECT_LE(need.height(), label->contentsRect().height()) << text.toStdString();
  } else {
    for (const QString& line : text.split('\n'))
      EXPECT_LE(fm.horizontalAdvance(line), label->contentsRect().width()) << line.toStdString();
  }
}

QString str(int id) { return QString::fromStdString(plat::loadStr(id)); }

}  // namespace

TEST(Screenshots, MainWindow) {
  TMainForm form;
  shoot(&form, "mainform");
  form.HelpAbout->showStatusText(&form);
  shoot(&form, "mainform-hint");
  form.hide();
}

TEST(Screenshots, CommandImages) {
  // Every command image, enabled and disabled, at twice and at normal size.
  const int n = int(art::Image::About) + 1;
  QPixmap strip(n * 48, 48 + 24);
  strip.fill(QColor(0xef, 0xef, 0xef));
  QPainter p(&strip);
  for (int i = 0; i < n; ++i) {
    const QIcon icon = art::icon(art::Image(i));
    ASSERT_FALSE(icon.isNull());
    p.drawPixmap(i * 48 + 4, 4, icon.pixmap(QSize(20, 20), 2.0).scaled(40, 40));
    p.drawPixmap(i * 48 + 4, 48, icon.pixmap(QSize(20, 20), 1.0));
    p.drawPixmap(i * 48 + 26, 48, icon.pixmap(QSize(20, 20), 1.0, QIcon::Disabled));
  }
  p.end();
  EXPECT_TRUE(strip.save(shotDir() + "/command-images.png"));
}

TEST(Screenshots, AboutBoxStaysWholeAtLargerFontsAndScaling) {
  const QFont desktopFont = QApplication::font();
  const struct {
    double points;  // 0: the desktop's font
    qreal scale;
    const char* name;
  } cases[] = {{0, 1, "about"}, {13, 1, "about-13pt"}, {13, 2, "about-13pt-200"}};
  for (const auto& c : cases) {
    QFont font = desktopFont;
    if (c.points > 0) font.setPointSizeF(c.points);
    QApplication::setFont(font);
    TAboutBox box;
    shoot(&box, c.name, c.scale);
    for (QLabel* l : box.findChildren<QLabel*>()) expectWhole(l);
    EXPECT_GE(box.width(), TAboutBox::kDesignWidth) << c.name;
    EXPECT_GE(box.height(), TAboutBox::kDesignHeight) << c.name;
    for (QWidget* w : box.findChildren<QWidget*>())
      EXPECT_TRUE(box.rect().contains(w->geometry())) << c.name << " " << w->objectName().toStdString();
    // The texts keep clear of the artwork band.
    for (QWidget* w : std::initializer_list<QWidget*>{box.Label1, box.VersionLabel, box.NoticeLabel})
      EXPECT_LE(w->geometry().bottom(), TAboutBox::kArtworkTop * box.height()) << c.name;
    for (QWidget* w : std::initializer_list<QWidget*>{box.URLStatic1, box.URLStatic2, box.OKButton})
      EXPECT_GE(w->geometry().top(), TAboutBox::kArtworkBottom * box.height()) << c.name;
    box.hide();
  }
  QApplication::setFont(desktopFont);
}

TEST(Screenshots, ProgressDialogInEachKind) {
  TAnimatedForm form;
  const struct {
    int clip;
    const char* name;
    const char* status;
  } kinds[] = {
      {TAnimate::clipLoad, "progress-load", "Adding Letters/2024/january-report.doc"},
      {TAnimate::clipUnload, "progress-unload",
       "Extracting Projects/Carryvale/very/long/path/to/a/file/that/does/not/fit/the/line.txt"},
      {TAnimate::clipDelete, "progress-delete", "Deleting old-notes.txt"},
  };
  for (const auto& k : kinds) {
    form.Animate1->setClip(k.clip);
    form.Animate1->setFrame(8);
    form.show();
    form.setInfoText(k.status);
    form.OverallProgressBar->setValue(45);
    form.FileProgressBar->setValue(70);
    shoot(&form, k.name);
    expectWhole(form.Label1);
    expectWhole(form.InfoLabel);
    form.hide();
  }
}

// Briefcase > History with a trip of each kind, and the names of one; every
// column but the last (which takes the rest of the width) shows its text
// whole, with a gap.
TEST(Screenshots, HistoryAndItsNames) {
  std::vector<carry::Trip> trips;
  const int64_t day = 86400LL * 1000000000LL;
  const carry::TripKind kinds[] = {carry::TripKind::kUndo, carry::TripKind::kCompact,
                                   carry::TripKind::kUnload, carry::TripKind::kLoad};
  for (int i = 0; i < 4; ++i) {
    carry::Trip t;
    t.atNs = 1796000000LL * 1000000000LL - i * day;
    t.kind = kinds[i];
    t.files = i == 1 ? 0 : 3;
    t.bytes = 1536000u * (i + 1);
    t.outcome = i == 2 ? "completed, 3 entries removed from the briefcase" : "completed";
    if (i != 1) t.names = {"Reports/2026/annual report.odt", "notes.txt", "budget.ods"};
    trips.push_back(t);
  }
  THistoryDialog dialog("carry.brc", trips);
  shoot(&dialog, "history");
  const QTreeWidget* list = dialog.List();
  ASSERT_EQ(list->topLevelItemCount(), 4);
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col + 1 < list->columnCount(); ++col) {
      const QTreeWidgetItem* item = list->topLevelItem(row);
      EXPECT_LE(list->fontMetrics().horizontalAdvance(item->text(col)) + 12, list->columnWidth(col))
          << item->text(col).toStdString();
    }
  QDialog* names = dialog.ShowNames(2);
  ASSERT_NE(names, nullptr);
  shoot(names, "history-names");
  names->close();
  dialog.hide();
}

TEST(Screenshots, InputForm) {
  TInputForm form;
  form.setWindowTitle(str(705));
  form.Prompt->setText(str(706));
  form.Edit->setText("*.doc, *.txt");
  shoot(&form, "input-include");
  expectWhole(form.Prompt);
  form.hide();
  form.setWindowTitle(str(707));
  form.Prompt->setText(str(708));
  shoot(&form, "input-exclude");
  expectWhole(form.Prompt);
  form.hide();
}

TEST(Screenshots, MessageForm) {
  PrivateSettings settings;
  TMessageForm form;
  shoot(&form, "message-design");
  form.hide();
  form.SetMessage(QString::fromStdString(plat::loadStrFmt(8312, "2.1.0.0")));
  shoot(&form, "message");
  expectWhole(form.Label1);
  form.hide();
}

namespace {

// The new-briefcase wizard, the settings, replace and rename dialogs, at the
// desktop's font and at 13 points; "-200" marks a run with QT_SCALE_FACTOR=2.
void shootDialogs(const QString& suffix) {
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR") == "2" ? "-200" : "";
  const QString tag = suffix + scale;
  ScriptedAsker asker;
  plat::ScopedAsker scope(&asker);
  {
    TWizardForm w;
    w.show();
    for (int page = 1; page <= TWizardForm::kPages; ++page) {
      w.ShowPage(page);
      shoot(&w, QString("wizard-page%1%2").arg(page).arg(tag));
      for (QLabel* l : w.Page[page - 1]->findChildren<QLabel*>()) expectWhole(l);
    }
    w.hide();
  }
  {
    TSettingsForm form;
    TSettingsForm::Values v;
    v.localFolder = "/home/user/Documents/";
    v.include = "*.doc;*.txt";
    v.exclude = "*.bak;*.tmp";
    v.date = plat::nowFileTime();
    form.SetValues(v);
    shoot(&form, "settings" + tag);
    for (QLabel* l : form.findChildren<QLabel*>()) expectWhole(l);
    form.hide();
  }
  {
    TReplaceForm form;
    form.TargetPath = "/home/user/Documents/Letters/january-report.doc";
    form.ExistingSize = 1234;
    form.ExistingTime = plat::nowFileTime();
    form.ReplacementSize = 56789;
    form.ReplacementTime = plat::nowFileTime() - 86400ULL * plat::kTicksPerSecond;
    shoot(&form, "replace" + tag);
    for (QLabel* l : form.findChildren<QLabel*>()) expectWhole(l);
    form.hide();
    TRenameForm& rename = *form.RenameForm;
    rename.Label->setText("Rename " + form.TargetPath);
    rename.Memo->setText(form.TargetPath);
    shoot(&rename, "rename" + tag);
    expectWhole(rename.Label);
    rename.hide();
  }
}

}  // namespace

TEST(Screenshots, NewBriefcaseAndSettingsDialogs) { shootDialogs(""); }

TEST(Screenshots, NewBriefcaseAndSettingsDialogsAt13Points) {
  const QFont before = QApplication::font();
  QFont big = before;
  big.setPointSize(13);
  QApplication::setFont(big);
  shootDialogs("-13pt");
  QApplication::setFont(before);
}
