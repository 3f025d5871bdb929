// The program's windows on the offscreen platform: the start going on
// without the home picture (one error box), the about window, and leaving
// the program (the question, a pending edit posted, the tables closed).
#include "app/about_form.h"
#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class WindowsTest : public CatalogueTest {};

TEST_F(WindowsTest, MissingHomePictureGivesOneBoxAndTheStartGoesOn) {
  fs::remove(home_ / "_tavlin2.jpg");
  boxes_.Answer(fw::mrOk);
  ASSERT_TRUE(Start());
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtError);
  EXPECT_EQ(boxes_.requests[0].caption, "Morvella Software");
  EXPECT_EQ(boxes_.requests[0].text, "Cannot open file " + home_.string() + "\\_tavlin2.jpg");
  EXPECT_EQ(Counter("NextType1Num"), 1000);
  Stop();
}

// Leaving: No keeps the program; Yes posts the edit under way and closes
// the tables.
TEST_F(WindowsTest, LeavingPostsThePendingEditAndClosesTheTables) {
  ASSERT_TRUE(Start());
  app::TMainForm& main = *app::MainForm;
  main.Show();
  EXPECT_EQ(main.DirectoryLabel->Caption(), home_.string());
  app_->OnModalShown = [&](fw::TForm& form) {
    auto& about = dynamic_cast<app::TAboutForm&>(form);
    EXPECT_EQ(about.Caption(), "About Morvella Software");
    EXPECT_EQ(about.PicImage->Width(), 297);
    about.ExitBut->Click();
  };
  main.About1->Click();
  app_->OnModalShown = nullptr;
  dataset::TTolmidTable* t1 = app::Datamodule1->Type1Table;
  t1->Append();
  t1->FieldByName("JournalName")->SetAsString("Left in insert state");
  t1->FieldByName("Type1Num")->SetAsInteger(1000);
  boxes_.Answer(fw::mrNo).Answer(fw::mrYes);
  main.BitBtn2->Click();
  EXPECT_FALSE(app_->Terminated());
  main.Exit1->Click();
  EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"Exit Morvella Software?", "Exit Morvella Software?"}));
  EXPECT_TRUE(app_->Terminated());
  for (int kind = 1; kind <= 4; ++kind) EXPECT_FALSE(app::Datamodule1->TypeTable(kind)->Active());
  Stop();
  ASSERT_EQ(Rows("type1.dat").size(), 1u);
  EXPECT_NE(Rows("type1.dat")[0].find("JournalName=Left in insert state|"), std::string::npos);
}

}  // namespace
}  // namespace apptest
