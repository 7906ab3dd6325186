#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QWhatsThis>
#include <QDateEdit>
#include <QHelpEvent>

#include "components/dfromnow.h"
#include "dialogs/settings.h"
#include "gui_helpers.h"
#include "platform/paths.h"

namespace {

TSettingsForm::Values briefcaseValues() {
  TSettingsForm::Values v;
  v.localFolder = "/home/user/Documents/";
  v.subfolders = false;
  v.include = "*.doc";
  v.exclude = "*.bak";
  plat::SystemTime lt;
  lt.year = 2026, lt.month = 3, lt.day = 3, lt.hour = 14, lt.minute = 35, lt.second = 11;
  plat::localToFileTime(lt, &v.date);
  v.compressed = false;
  return v;
}

}  // namespace

TEST(SettingsForm, TheDateCountsAsChangedOnlyWhenTheUserChangedIt) {
  TSettingsForm form;
  const struct {
    const char* edit;  // what the user does
    bool changed;
  } cases[] = {{"nothing", false}, {"days", true}, {"hour", true}, {"date", true},
               {"include", false}};
  for (const auto& c : cases) {
    form.SetValues(briefcaseValues());
    EXPECT_EQ(form.VersionLabel->text(), "Version 2.0");
    const std::string what = c.edit;
    if (what == "days") form.DFromNow1->DaysEdit->setValue(2);
    if (what == "hour") {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, "9");
      QApplication::sendEvent(form.DFromNow1->HourEdit, &key);
    }
    if (what == "date") form.DFromNow1->DatePart->setDate(QDate(2026, 3, 2));
    if (what == "include") form.IncludeEdit->setText("*.txt");
    EXPECT_EQ(form.DateChanged(), c.changed) << c.edit;
  }
  // The filter holds whole hours: read back unchanged it is not the briefcase date.
  form.SetValues(briefcaseValues());
  const auto v = form.GetValues();
  EXPECT_EQ(v.localFolder, "/home/user/Documents/");
  EXPECT_FALSE(v.subfolders);
  EXPECT_FALSE(v.compressed);
  EXPECT_EQ(v.include, "*.doc");
  EXPECT_EQ(briefcaseValues().date - v.date, (35ULL * 60 + 11) * plat::kTicksPerSecond);

  // A briefcase date before 1980 shows as the earliest date the filter holds,
  // not as the date shown before, and is not taken for a change.
  auto old = briefcaseValues();
  old.date = plat::kUnixEpochFileTime;
  form.SetValues(old);
  EXPECT_EQ(form.DFromNow1->DatePart->date(), QDate(1980, 1, 1));
  EXPECT_FALSE(form.DateChanged());
}

// Every field and box can be reached with Alt and a letter of its own (OK
// and Cancel are Enter and Escape).
TEST(SettingsForm, EveryFieldHasAnAccessKeyOfItsOwn) {
  TSettingsForm form;
  form.SetValues(briefcaseValues());
  std::map<QChar, QStringList> keys = accessKeys(&form);
  EXPECT_EQ(keys[QChar()].join(", ").toStdString(), "OK, Cancel");
  keys.erase(QChar());
  EXPECT_EQ(keys.size(), 8u);
  for (const auto& [key, texts] : keys) EXPECT_EQ(texts.size(), 1) << texts.join(", ").toStdString();
}

TEST(SettingsForm, OkNeedsADateFilterThatReads) {
  ScriptedAsker asker;
  plat::ScopedAsker scope(&asker);
  TSettingsForm form;
  form.SetValues(briefcaseValues());
  form.DFromNow1->HourEdit->setText("late");
  onNextModal([&](QWidget*) {
    form.Button1->click();  // refused: the dialog stays
    EXPECT_TRUE(form.isVisible());
    form.DFromNow1->HourEdit->setText("8");
    form.Button1->click();
  });
  EXPECT_EQ(form.exec(), plat::mrOk);
  ASSERT_EQ(asker.messages.size(), 1u);
  EXPECT_EQ(asker.messages[0].text, "'late' is not a valid floating point value.");
  onNextModal([&](QWidget*) { form.Button2->click(); });
  EXPECT_EQ(form.exec(), plat::mrCancel);
}

TEST(SettingsForm, HintsAndHelpTopics) {
  TSettingsForm form;
  std::vector<int> opened;
  form.SetHelpHandler([&](int context) { opened.push_back(context); });
  const struct {
    QWidget* w;
    int context;
    const char* hint;
  } cases[] = {
      {form.LocalEdit, 801,
       "Only local files within this folder can be transferred to the briefcase"},
      {form.BrowseButton, 808, "Click this button to browse for the local folder on your disk."},
      {form.SubdirsCheckBox, 809, ""},
      {form.IncludeEdit, 802, "Fill in specifications for files to be selected, e.g. *.doc;*.txt"},
      {form.ExcludeEdit, 803,
       "Fill in specifications for files to be excluded (you can use, e.g. *.bak;*.exe"},
      {form.ComprCheckbox, 807,
       "Do you want the briefcase to be compressed? Compression is slower, but gives a smaller "
       "briefcase."},
      {form.VersionLabel, 802, ""},  // no topic of its own: the dialog's
  };
  for (const auto& c : cases) {
    opened.clear();
    EXPECT_EQ(c.w->toolTip().toStdString(), c.hint);
    QHelpEvent whatsThis(QEvent::WhatsThis, QPoint(1, 1), QPoint(1, 1));
    QApplication::sendEvent(c.w, &whatsThis);
    EXPECT_EQ(opened, std::vector<int>{c.context});
    EXPECT_EQ(form.HelpContextOf(c.w), c.context);
  }
  form.show();
  form.IncludeEdit->setFocus();
  opened.clear();
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(&form, &f1);
  EXPECT_EQ(opened, std::vector<int>{802});
  QKeyEvent shiftF1(QEvent::KeyPress, Qt::Key_F1, Qt::ShiftModifier);
  QApplication::sendEvent(&form, &shiftF1);
  EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
  QWhatsThis::leaveWhatsThisMode();
  form.hide();
}

TEST(SettingsForm, BrowseTakesOnlyAFolder) {
  ScriptedAsker asker;
  plat::ScopedAsker scope(&asker);
  TSettingsForm form;
  form.LocalEdit->setText("before");
  const std::string tmp = plat::tempDir();
  asker.folders = {"", "/no/such/folder", tmp, "/"};
  const char* expected[] = {"before", "before", nullptr, "/"};
  for (const char* e : expected) {
    form.BrowseButton->click();
    EXPECT_EQ(form.LocalEdit->text().toStdString(), e ? std::string(e) : tmp + "/");
  }
}
