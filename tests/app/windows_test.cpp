// The program's windows on the offscreen platform: the splash window with
// the home picture, the start going on without it (one error box), the
// main window's layout after a real start, the about window, and leaving
// the program (the question, a pending edit posted, the tables closed).
// Screenshots go to <build>/screenshots/app_*.png.
#include <QWidget>

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
  EXPECT_FALSE(splash->LoadingLabel->Visible());
  splash->LoadingLabel->Show();
  testsupport::GrabToPng(*splash, "app_splash_opening");
  delete splash;
}

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

TEST_F(WindowsTest, MainWindowAfterTheStartAndLeavingTheProgram) {
  ASSERT_TRUE(Start());
  app::TMainForm& main = *app::MainForm;
  EXPECT_EQ(app::SplashForm, nullptr);
  main.Show();
  const QImage shot = testsupport::GrabToPng(main, "app_main");
  EXPECT_EQ(shot.size(), QSize(634, 481));
  EXPECT_EQ(main.Caption(), "Morvella Software");
  EXPECT_EQ(main.DirectoryLabel->Caption(), home_.string());
  EXPECT_EQ(main.ModeLabel->Caption(), "Program Options");  // the first activation
  EXPECT_FALSE(main.InitialLoadCB->Checked());
  EXPECT_EQ(main.ActionLabel->Caption(), "Click One of the Buttons Above to Begin");
  struct Control {
    const char* name;
    const char* caption;
    bool visible;
    bool enabled;
  };
  for (const Control& c : std::initializer_list<Control>{{"Type1But", "Category", true, true},
                                                          {"Type4But", "Internet", true, true},
                                                          {"NewBut", "New", true, false},
                                                          {"EditBut", "Edit", true, false},
                                                          {"DeleteBut", "Delete", true, false},
                                                          {"ReportsBut", "Reports", true, true},
                                                          {"BitBtn2", "Exit", true, true},
                                                          {"GraphsBut", "Graphs", false, true},
                                                          {"zapbut", "zapbut", false, true},
                                                          {"FunctionPad", "", false, true},
                                                          {"OptionsGB", "", true, true},
                                                          {"ModeLabel", "Program Options", false, true}}) {
    SCOPED_TRACE(c.name);
    auto* control = dynamic_cast<fw::TControl*>(main.FindComponent(c.name));
    ASSERT_NE(control, nullptr);
    EXPECT_NE(main.Widget()->findChild<QWidget*>(c.name), nullptr);  // the widget carries the name
    if (*c.caption) {
      EXPECT_EQ(control->Caption(), c.caption);
    }
    EXPECT_EQ(control->Visible(), c.visible);
    EXPECT_EQ(control->Enabled(), c.enabled);
  }
  EXPECT_FALSE(main.New1->Enabled());
  EXPECT_EQ(main.FunctionPad->PageCount(), 4);
  EXPECT_EQ(main.ExpenseGrid->Columns(0).TitleCaption, "Photo Name");
  EXPECT_EQ(main.ExpenseGrid->DataSource(), app::Datamodule1->Type3Source);

  // A larger window: the panels grow, the right-hand buttons keep their
  // distance to the edge.
  const int exit_gap = main.ButtonPanel->Width() - main.BitBtn2->Left();
  const QSize results(main.ResultsPanel->Width(), main.ResultsPanel->Height());
  main.SetBounds(main.Left(), main.Top(), 900, 650);
  EXPECT_EQ(main.ButtonPanel->Width() - main.BitBtn2->Left(), exit_gap);
  EXPECT_EQ(main.TopPanel->Width() - main.ExitBut->Left(), 98);
  EXPECT_EQ(QSize(main.ResultsPanel->Width(), main.ResultsPanel->Height()), results + QSize(266, 169));
  main.SetBounds(main.Left(), main.Top(), 634, 481);

  // The Photos page as ListData shows it.
  main.FunctionPad->SetVisible(true);
  main.FunctionPad->SetActivePage("Photos");
  testsupport::GrabToPng(main, "app_main_photos");

  // The about window, shown modally with the home picture.
  app_->OnModalShown = [&](fw::TForm& form) {
    auto& about = dynamic_cast<app::TAboutForm&>(form);
    EXPECT_EQ(about.Caption(), "About Morvella Software");
    EXPECT_EQ(about.PicImage->Width(), 297);
    testsupport::GrabToPng(about, "app_about");
    about.ExitBut->Click();
  };
  main.About1->Click();
  EXPECT_EQ(main.ModeLabel->Caption(), "Help-About");
  app_->OnModalShown = nullptr;

  // Leaving: No keeps the program; Yes posts the edit under way and
  // closes the tables.
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
