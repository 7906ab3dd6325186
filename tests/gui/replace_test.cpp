#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "archive/extract/extract.h"
#include "dialogs/qtasker.h"
#include "dialogs/replace.h"
#include "gui_helpers.h"

namespace {

plat::ReplaceQuestion question() {
  plat::ReplaceQuestion q;
  q.existingPath = "/home/user/Data/Letters/a.doc";
  q.existingSize = 1234;
  q.existingTime = plat::kUnixEpochFileTime + 1700000000ULL * plat::kTicksPerSecond;
  q.newSize = 3000000000ULL;  // beyond 32 bits, shown in full
  q.newTime = plat::kUnixEpochFileTime + 1700086400ULL * plat::kTicksPerSecond;
  return q;
}

}  // namespace

TEST(ReplaceForm, NamesTheFolderAndTheFile) {
  const struct {
    const char* path;
    const char* text;
  } cases[] = {
      {"/home/user/Data/Letters/a.doc",
       "The folder 'Letters' already contains a file called 'a.doc'."},
      {"Letters/a%s.doc", "The folder 'Letters' already contains a file called 'a%s.doc'."},
      {"/a.doc", "The folder '' already contains a file called 'a.doc'."},
  };
  for (const auto& c : cases) EXPECT_EQ(TReplaceForm::ReplaceText(c.path), c.text);
  const QString details = TReplaceForm::DetailsText(1234, question().existingTime);
  EXPECT_TRUE(details.startsWith("1234 bytes\nmodified on ")) << details.toStdString();
  EXPECT_TRUE(details.contains("2023")) << details.toStdString();
  EXPECT_EQ(TReplaceForm::DateText(~0ULL), "error with date");
}

// Each button's answer through the question interface, and what the window showed.
TEST(ReplaceForm, AnswersThroughTheQuestionInterface) {
  TQtAsker asker;
  const struct {
    QPushButton* TReplaceForm::*button;  // null: the close box
    int result;
  } cases[] = {{&TReplaceForm::YesButton, plat::mrYes},
               {&TReplaceForm::YestoAllButton, plat::mrYesToAll},
               {&TReplaceForm::NoButton, plat::mrNo},
               {&TReplaceForm::NotoAllButton, plat::mrNoToAll},
               {nullptr, plat::mrCancel}};
  for (const auto& c : cases) {
    onNextModal([&](QWidget* w) {
      auto* form = qobject_cast<TReplaceForm*>(w);
      ASSERT_NE(form, nullptr);
      EXPECT_EQ(form->windowTitle(), "Confirm File Replace");
      EXPECT_EQ(form->ReplaceLabel->text(),
                "The folder 'Letters' already contains a file called 'a.doc'.");
      EXPECT_TRUE(form->ExistingLabel->text().startsWith("1234 bytes\nmodified on "));
      EXPECT_TRUE(form->ReplaceWithLabel->text().startsWith("3000000000 bytes\nmodified on "));
      EXPECT_FALSE(form->ExistingIcon->pixmap().isNull());
      EXPECT_FALSE(form->ReplaceWithIcon->pixmap().isNull());
      EXPECT_TRUE(form->YesButton->isDefault());
      if (c.button) (form->*c.button)->click();
      else form->reject();
    });
    std::string path = "unchanged";
    EXPECT_EQ(asker.confirmReplace(question(), &path), c.result);
    EXPECT_EQ(path, "unchanged");
  }
}

// A file changed on both computers: the question says so above the dates;
// any other question shows no such line.
TEST(ReplaceForm, SaysWhenBothComputersChangedTheFile) {
  TQtAsker asker;
  for (const std::string& note : {std::string(), std::string(archive::kBothChangedNote)}) {
    plat::ReplaceQuestion q = question();
    q.note = note;
    onNextModal([&](QWidget* w) {
      auto* form = qobject_cast<TReplaceForm*>(w);
      ASSERT_NE(form, nullptr);
      EXPECT_EQ(form->NoteLabel->isVisible(), !note.empty());
      EXPECT_EQ(form->NoteLabel->text().toStdString(), note);
      form->reject();
    });
    std::string path;
    EXPECT_EQ(asker.confirmReplace(q, &path), plat::mrCancel);
  }
}

TEST(ReplaceForm, RenameGivesTheEditedPathAndItsCancelReturns) {
  TReplaceForm form;
  ReplaceForm = &form;
  TQtAsker asker;
  const struct {
    const char* typed;  // null: Cancel in the rename dialog, then No
    int result;
    const char* path;
  } cases[] = {{"/home/user/Data/Letters/b.doc", plat::mrRename, "/home/user/Data/Letters/b.doc"},
               {"", plat::mrRename, "/home/user/Data/Letters/a.doc"},  // unchanged path
               {nullptr, plat::mrNo, "-"}};
  for (const auto& c : cases) {
    onNextModal([&](QWidget*) {
      onNextModal([&](QWidget* w) {
        auto* rename = qobject_cast<TRenameForm*>(w);
        ASSERT_NE(rename, nullptr);
        EXPECT_EQ(rename->Label->text(), "Rename /home/user/Data/Letters/a.doc");
        EXPECT_EQ(rename->Memo->text(), "/home/user/Data/Letters/a.doc");
        if (!c.typed) {
          rename->Cancel->click();
          QMetaObject::invokeMethod(&form, [&] { form.NoButton->click(); }, Qt::QueuedConnection);
          return;
        }
        if (*c.typed) rename->Memo->setText(c.typed);
        rename->Rename->click();
      });
      form.RenameButton->click();
    });
    std::string path = "-";
    EXPECT_EQ(asker.confirmReplace(question(), &path), c.result);
    EXPECT_EQ(path, c.path);
  }
  ReplaceForm = nullptr;
}
