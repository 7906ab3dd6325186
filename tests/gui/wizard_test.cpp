#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <filesystem>

#include "../core/removable_disk.h"
#include "../core/testenv.h"
#include "archive/compress.h"
#include "archive/encrypted.h"
#include "archive/replace.h"
#include "briefcase/comment.h"
#include "components/dfromnow.h"
#include "dialogs/wizard.h"
#include "gui_helpers.h"
#include "platform/files.h"
#include "platform/strtable.h"

namespace {

namespace fs = std::filesystem;

class Wizard : public ::testing::Test {
 protected:
  testenv::Env env{"C0FFEE03"};
  ScriptedAsker asker;
  plat::ScopedAsker scope{&asker};
  TWizardForm w;
  void SetUp() override {
    env.set("CARRYVALE_REMOVABLE_ROOTS", "");
    w.show();
  }
  void TearDown() override { w.hide(); }
  std::string caption() const { return w.windowTitle().toStdString(); }
  // Next, and the warnings it gave.
  std::vector<std::string> next() {
    asker.messages.clear();
    w.NextButton->click();
    std::vector<std::string> texts;
    for (const auto& m : asker.messages) texts.push_back(m.text);
    return texts;
  }
};

const std::string kChooseFile =
    "Please choose a filename. Push the \"Browse\" button to browse your computer.";
const std::string kChooseFolder =
    "Please choose an existing folder. Push the \"Browse\" button to browse your computer.";

}  // namespace

TEST_F(Wizard, PagesCheckTheNameAndTheFolder) {
  EXPECT_EQ(caption(), "New Briefcase Wizard");
  EXPECT_FALSE(w.BackButton->isEnabled());
  EXPECT_TRUE(w.FinishButton->isHidden());
  EXPECT_TRUE(w.NextButton->isDefault());
  EXPECT_EQ(w.Memo[6]->text().toStdString(),
            "Congratulations! When you click the \"Finish\" button, a new\nbriefcase file will be "
            "created.\n\nWould you like to put a shortcut on your desktop, so you can\naccess "
            "the briefcase easily at any time?");
  next();
  EXPECT_EQ(caption(), "New Briefcase Wizard - Step 1 of 6");

  const struct {
    const char* typed;
    const char* kept;  // null: refused with 8207
  } names[] = {{"<briefcase file here>", nullptr}, {"", nullptr},
               {"/m/backup", "/m/backup.brc"},   {"/m/X.BRC", "/m/X.BRC"},
               {"/m/data.zip", "/m/data.zip.brc"}, {"/m.d/work", "/m.d/work.brc"}};
  for (const auto& c : names) {
    w.BriefcaseEdit->setText(c.typed);
    const auto said = next();
    if (!c.kept) {
      EXPECT_EQ(said, std::vector<std::string>{kChooseFile}) << c.typed;
      EXPECT_EQ(asker.messages[0].caption, "Warning");
      EXPECT_EQ(asker.messages[0].icon, plat::Icon::Warning);
      EXPECT_EQ(w.CurrentPage, 2);
      continue;
    }
    EXPECT_TRUE(said.empty());
    EXPECT_EQ(w.BriefcaseEdit->text().toStdString(), c.kept);
    EXPECT_EQ(w.CurrentPage, 3);
    w.BackButton->click();
  }
  next();

  testenv::writeFile(env.path("work/file.txt"), "x");
  const struct {
    std::string typed;
    bool passes;
  } folders[] = {{"<local folder here>", false}, {"", false},
                 {env.path("work/file.txt"), false}, {env.path("missing"), false},
                 {env.work() + "/", true},            {env.work(), true}};
  for (const auto& c : folders) {
    w.LocalEdit->setText(QString::fromStdString(c.typed));
    const auto said = next();
    EXPECT_EQ(said.empty(), c.passes) << c.typed;
    if (!c.passes) {
      EXPECT_EQ(said, std::vector<std::string>{kChooseFolder});
      EXPECT_EQ(w.CurrentPage, 3);
      continue;
    }
    EXPECT_EQ(w.LocalEdit->text().toStdString(), c.typed);  // the separator stays
    w.BackButton->click();
  }
  next();
  for (int page = 4; page <= 7; ++page) {
    EXPECT_EQ(w.CurrentPage, page);
    EXPECT_EQ(caption(), plat::loadStr(8199 + page));
    if (page < 7) next();
  }
  EXPECT_TRUE(w.NextButton->isHidden());
  EXPECT_TRUE(w.FinishButton->isVisible());
  EXPECT_TRUE(w.FinishButton->isDefault());
  w.RadioButton2->click();
  EXPECT_FALSE(w.MakeShortcut);
  w.BackButton->click();
  EXPECT_TRUE(w.NextButton->isVisible());
  EXPECT_TRUE(w.FinishButton->isHidden());

  // A bad hour is told at Next on the date page, which stays.
  w.DFromNow1->HourEdit->setText("x");
  EXPECT_EQ(next(), std::vector<std::string>{"'x' is not a valid floating point value."});
  EXPECT_EQ(w.CurrentPage, 6);
}

TEST_F(Wizard, ScanOffersBriefcasesOnRemovableDrives) {
  for (const char* f : {"stick/a.brc", "stick/sub/x.BRC", "disk/b.brc"}) {
    fs::create_directories(fs::path(env.path(f)).parent_path());
    ASSERT_EQ(archive::createContainerAtomically(env.path(f), {}, nullptr, false), 0);
  }
  // Named like briefcases, but none: an empty name, a file that is no ZIP.
  for (const char* f : {"stick/.brc", "stick/fake.brc", "stick/notes.txt"})
    testenv::writeFile(env.path(f), "not a briefcase");
  env.set("CARRYVALE_REMOVABLE_ROOTS", env.path("stick") + ":" + env.path("disk"));
  asker.answers = {plat::mrNo, plat::mrNo, plat::mrNo};
  next();
  ASSERT_EQ(asker.messages.size(), 3u);
  EXPECT_EQ(asker.messages[0].text, "An existing briefcase was found in " + env.path("stick") +
                                        "/: a.brc\nDo you want to use it?");
  EXPECT_EQ(asker.messages[0].caption, "Briefcase found");
  EXPECT_EQ(asker.messages[0].buttons, unsigned(plat::btnYesNo));
  EXPECT_EQ(asker.messages[1].text, "An existing briefcase was found in " +
                                        env.path("stick/sub") + "/: x.BRC\nDo you want to use it?");
  EXPECT_EQ(asker.messages[2].text, "An existing briefcase was found in " + env.path("disk") +
                                        "/: b.brc\nDo you want to use it?");
  EXPECT_EQ(w.BriefcaseEdit->text(), "<briefcase file here>");  // No to all keeps the field

  // Coming back from page 3 asks again; Yes uses that briefcase: the wizard
  // ends there, with Yes.
  w.BriefcaseEdit->setText(QString::fromStdString(env.path("new")));
  next();
  ASSERT_EQ(w.CurrentPage, 3);
  asker.answers = {plat::mrNo, plat::mrYes};
  asker.messages.clear();
  w.BackButton->click();
  EXPECT_EQ(asker.messages.size(), 2u);
  EXPECT_EQ(w.result(), plat::mrYes);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.ExistingBriefcase(), env.path("stick/sub/x.BRC"));
}

TEST_F(Wizard, ATypedNameThatExistsIsSaidAtNextOnItsPage) {
  ASSERT_EQ(archive::createContainerAtomically(env.path("bag.brc"), {}, nullptr, false), 0);
  testenv::writeFile(env.path("letter.brc"), "a letter, not a briefcase");
  const struct {
    std::string typed;
    int answer;  // to the question; 0: a warning only
    int page;    // afterwards; 0: the wizard ended with Yes
  } cases[] = {
      {env.path("letter"), 0, 2},
      {env.path("bag"), plat::mrNo, 2},
      {env.path("fresh"), 0, 3},
      {env.path("bag"), plat::mrYes, 0},
  };
  next();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    if (w.CurrentPage == 3) w.BackButton->click();
    w.BriefcaseEdit->setText(QString::fromStdString(c.typed));
    if (c.answer) asker.answers = {c.answer};
    const auto said = next();
    if (c.page == 3) {
      EXPECT_TRUE(said.empty());
    } else if (c.answer) {
      ASSERT_EQ(said.size(), 1u);
      EXPECT_EQ(said[0], "An existing briefcase was found in " + env.root() +
                             "/: bag.brc\nDo you want to use it?");
    } else {
      EXPECT_EQ(said, std::vector<std::string>{c.typed + ".brc already exists and is not a "
                                                        "briefcase.\n" + kChooseFile});
      EXPECT_EQ(asker.messages[0].icon, plat::Icon::Warning);
    }
    if (c.page) {
      EXPECT_EQ(w.CurrentPage, c.page);
    }
  }
  EXPECT_EQ(w.result(), plat::mrYes);
  EXPECT_EQ(w.ExistingBriefcase(), env.path("bag.brc"));
}

// No two controls of a page (with the buttons under it) share an access key:
// Alt+B was both Back and Browse.
TEST_F(Wizard, AccessKeysAreUniqueOnEveryPage) {
  for (int page = 1; page <= 7; ++page) {
    w.ShowPage(page);
    std::map<QChar, QStringList> keys = accessKeys(&w);
    keys.erase(QChar());
    for (const auto& [key, texts] : keys)
      EXPECT_EQ(texts.size(), 1) << "page " << page << ": " << texts.join(", ").toStdString();
  }
}

TEST_F(Wizard, SecondShowingResetsAllButTheFields) {
  w.ComprCheckbox->setChecked(false);
  w.SubdirsCheckBox->setChecked(false);
  w.IncludeEdit->setText("*.doc");
  w.ExcludeEdit->setText("*.bak");
  w.DFromNow1->SetDays(30);
  w.ShowPage(7);
  w.RadioButton2->click();
  w.hide();
  w.show();
  EXPECT_EQ(w.CurrentPage, 1);
  EXPECT_TRUE(w.ComprCheckbox->isChecked());
  EXPECT_TRUE(w.SubdirsCheckBox->isChecked());
  EXPECT_EQ(w.DFromNow1->GetDays(), 7);
  EXPECT_TRUE(w.MakeShortcut);
  EXPECT_TRUE(w.RadioButton1->isChecked());
  EXPECT_TRUE(w.FinishButton->isHidden());
  EXPECT_EQ(w.IncludeEdit->text(), "*.doc");
  EXPECT_EQ(w.ExcludeEdit->text(), "*.bak");
}

TEST_F(Wizard, BrowseButtonsAndTheSaveDialogsConsent) {
  testenv::writeFile(env.path("stick/old.brc"), "kept");
  const struct {
    std::string chosen;  // "" = cancelled
    int replaceAnswer;
    std::string field;
    bool consent;
  } cases[] = {{env.path("stick/new"), 0, env.path("stick/new.brc"), false},
               {"", 0, env.path("stick/new.brc"), false},
               {env.path("stick/old.brc"), plat::mrNo, env.path("stick/new.brc"), false},
               {env.path("stick/old"), plat::mrYes, env.path("stick/old.brc"), true}};
  for (const auto& c : cases) {
    asker.files = {c.chosen};
    asker.messages.clear();
    if (c.replaceAnswer) asker.answers = {c.replaceAnswer};
    w.BrowseBriefcaseButton->click();
    EXPECT_EQ(asker.messages.size(), c.replaceAnswer ? 1u : 0u);
    EXPECT_EQ(w.BriefcaseEdit->text().toStdString(), c.field);
    EXPECT_EQ(w.Answers().replaceConsented, c.consent);
  }
  w.BriefcaseEdit->setText(w.BriefcaseEdit->text() + "x");
  EXPECT_FALSE(w.Answers().replaceConsented);

  w.LocalEdit->setText("before");
  asker.folders = {"", env.work(), "/"};
  w.BrowseLocalButton->click();
  EXPECT_EQ(w.LocalEdit->text(), "before");
  w.BrowseLocalButton->click();
  EXPECT_EQ(w.LocalEdit->text().toStdString(), env.work() + "/");
  w.BrowseLocalButton->click();
  EXPECT_EQ(w.LocalEdit->text(), "/");
}

// File|New from the wizard: the answers become the briefcase; Cancel makes nothing.
TEST(NewFromWizard, FinishCreatesAndCancelDoesNot) {
  testenv::Env env{"C0FFEE04"};
  env.set("CARRYVALE_REMOVABLE_ROOTS", "");
  ScriptedAsker asker;
  plat::ScopedAsker scope(&asker);
  const std::string path = env.path("work.brc");
  for (bool finish : {false, true}) {
    onNextModal([&](QWidget* dialog) {
      auto* w = qobject_cast<TWizardForm*>(dialog);
      ASSERT_NE(w, nullptr);
      w->NextButton->click();
      w->BriefcaseEdit->setText(QString::fromStdString(env.path("work")));
      w->NextButton->click();
      w->LocalEdit->setText(QString::fromStdString(env.work()));
      for (int i = 0; i < 4; ++i) w->NextButton->click();
      w->ComprCheckbox->setChecked(false);  // not on the page shown, but read all the same
      if (finish) w->FinishButton->click();
      else w->CancelButton->click();
    });
    briefcase::NewBriefcase nb;
    std::string existing;
    const plat::FileTime before = plat::nowFileTime();
    EXPECT_EQ(NewBriefcaseFromWizard(nullptr, &nb, &existing),
              finish ? WizardOutcome::Created : WizardOutcome::Cancelled);
    EXPECT_EQ(fs::exists(path), finish);
    if (!finish) continue;
    EXPECT_EQ(nb.containerPath, path);
    EXPECT_EQ(nb.level, 0);
    EXPECT_EQ(nb.record.FolderForThisComputer(), env.work());
    // Seven days back, at the whole hour of the moment the wizard was shown.
    const int64_t back = static_cast<int64_t>(before - nb.date) / int64_t(plat::kTicksPerSecond);
    EXPECT_GE(back, 7 * 86400 - 5);
    EXPECT_LE(back, 7 * 86400 + 3600 + 5);
    EXPECT_EQ(nb.shortcutName, "Shortcut to work");
    EXPECT_TRUE(fs::exists(env.path("home/Desktop/Shortcut to work.desktop")));
  }
  EXPECT_TRUE(asker.messages.empty());
}

// Encrypt: the password is asked (typed twice) before the briefcase is made;
// without one nothing is made, with one the briefcase is encrypted from the
// start and the open briefcase keeps it.
TEST(NewFromWizard, EncryptAsksThePasswordFirst) {
  testenv::Env env{"C0FFEE05"};
  env.set("CARRYVALE_REMOVABLE_ROOTS", "");
  ScriptedAsker asker;
  plat::ScopedAsker scope(&asker);
  const std::string path = env.path("secret.brc");
  for (const bool typed : {false, true}) {
    SCOPED_TRACE(typed ? "typed" : "cancelled");
    asker.passwords = {typed ? "a long pass phrase" : ""};
    asker.passwordQuestions.clear();
    onNextModal([&](QWidget* dialog) {
      auto* w = qobject_cast<TWizardForm*>(dialog);
      ASSERT_NE(w, nullptr);
      w->NextButton->click();
      w->BriefcaseEdit->setText(QString::fromStdString(env.path("secret")));
      w->EncryptCheckbox->setChecked(true);
      w->NextButton->click();
      w->LocalEdit->setText(QString::fromStdString(env.work()));
      for (int i = 0; i < 4; ++i) w->NextButton->click();
      w->FinishButton->click();
    });
    briefcase::NewBriefcase nb;
    std::string existing;
    EXPECT_EQ(NewBriefcaseFromWizard(nullptr, &nb, &existing),
              typed ? WizardOutcome::Created : WizardOutcome::Cancelled);
    ASSERT_EQ(asker.passwordQuestions.size(), 1u);
    EXPECT_TRUE(asker.passwordQuestions[0].confirm);
    EXPECT_EQ(fs::exists(path), typed);
    if (!typed) continue;
    archive::EncryptionFound found;
    ASSERT_EQ(archive::readEncryption(path, &found), 0);
    EXPECT_TRUE(found.isEncrypted());
    ASSERT_TRUE(nb.password.has_value());
    EXPECT_EQ(nb.password->text(), "a long pass phrase");
  }
}

// Finish with the briefcase on a stick (each kind of disk a desktop mounts
// through its own driver): created whole, its folder recorded, nothing else
// left on the stick.
TEST(NewFromWizard, FinishOntoARemovableDisk) {
  for (testdisk::Kind kind : {testdisk::Kind::ExFat, testdisk::Kind::Ntfs, testdisk::Kind::Fat}) {
    SCOPED_TRACE(testdisk::name(kind));
    testenv::Env env{"C0FFEE05"};
    env.set("CARRYVALE_REMOVABLE_ROOTS", "");
    std::string why;
    auto disk = testdisk::Mounted::make(kind, 64, &why);
    if (!disk) GTEST_SKIP() << why;
    ScriptedAsker asker;
    plat::ScopedAsker scope(&asker);
    const std::string path = disk->root() + "/work.brc";
    onNextModal([&](QWidget* dialog) {
      auto* w = qobject_cast<TWizardForm*>(dialog);
      ASSERT_NE(w, nullptr);
      w->NextButton->click();
      w->BriefcaseEdit->setText(QString::fromStdString(disk->root() + "/work"));
      w->NextButton->click();
      w->LocalEdit->setText(QString::fromStdString(env.work()));
      for (int i = 0; i < 4; ++i) w->NextButton->click();
      w->FinishButton->click();
    });
    briefcase::NewBriefcase nb;
    std::string existing;
    ASSERT_EQ(NewBriefcaseFromWizard(nullptr, &nb, &existing), WizardOutcome::Created);
    EXPECT_TRUE(asker.messages.empty());
    archive::TCompress reader;
    reader.archivePath = path;
    ASSERT_EQ(reader.readEndRecord(), 0);
    briefcase::TBriefcaseComment record;
    ASSERT_TRUE(record.Parse(reader));
    EXPECT_EQ(record.FolderForThisComputer(), env.work());
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(disk->root())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"work.brc"});
  }
}
