// The program's windows on the offscreen platform: the splash window with
// the home picture, the start going on without it (one error box), the
// about window, and leaving the program (the question, a pending edit
// posted, the tables closed). Screenshots go to
// <build>/screenshots/app_*.png.
#include "app/about_form.h"
#include "app/splash_form.h"
#include "framework/gui/jpeg_image.h"
#include "tests/app/app_test_support.h"
#include "tests/common/widget_grab.h"

namespace apptest {
namespace {

class WindowsTest : public CatalogueTest {};

// Pixels of a grab inside rect that differ from picture by more than a
// little (the grab goes through the window's own painting).
int DifferingPixels(const QImage& grab, QPoint at, const QImage& picture) {
  int differ = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const QColor a(grab.pixel(at.x() + x, at.y() + y)), b(picture.pixel(x, y));
      if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 6) ++differ;
    }
  return differ;
}

QImage HomePicture() {
  fw::TJPEGImage jpeg;
  jpeg.LoadFromFile(TOLMID_HOME_PICTURE);
  return jpeg.Bitmap().Image();
}

TEST_F(WindowsTest, SplashWindowShowsTheHomePicture) {
  auto* splash = fw::NewForm<app::TSplashForm>(app_.get());
  splash->Show();
  EXPECT_TRUE(boxes_.requests.empty());
  const QImage shot = testsupport::GrabToPng(*splash, "app_splash");
  ASSERT_EQ(shot.size(), QSize(323, 246));
  EXPECT_TRUE(splash->Widget()->windowFlags() & Qt::FramelessWindowHint);
  const QImage picture = HomePicture();
  ASSERT_EQ(picture.size(), QSize(297, 220));
  EXPECT_EQ(splash->PicImage->Width(), 297);
  EXPECT_EQ(DifferingPixels(shot, QPoint(13, 13), picture), 0);
  EXPECT_EQ(QColor(shot.pixel(3, 3)), QColor(0xC0, 0xC0, 0xC0));
  delete splash;
}

TEST_F(WindowsTest, MissingHomePictureGivesOneBoxAndTheStartGoesOn) {
  fs::remove(home_ / "_tavlin2.jpg");
  boxes_.Answer(fw::mrOk);
  ASSERT_TRUE(Start());
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtError);
  EXPECT_EQ(boxes_.requests[0].caption, "Morvella Software");
  // The platform's separator, though the program joins the name with a backslash.
  EXPECT_EQ(boxes_.requests[0].text, "Cannot open file " + home_.string() + "/_tavlin2.jpg");
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
