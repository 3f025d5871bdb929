// The whole program on its typical road, started as main() starts it
// (RunProgram on a fresh home directory holding only the home picture, as
// `make run` prepares run/) and driven from inside its message loop: a
// category through its editor (typed as keys), a photo URL captured from
// the clipboard and processed into a picture file fetched from a local
// lighttpd, an internet link, the album report's preview, the graph
// windows, and Exit answered Yes. What a user sees is checked on the way
// (window captions, grid rows, buttons, the photo on its page), and what
// stays on disk once the program has ended (records, counters, files, the
// tables' soundness by the independent checkers). Screenshots go to
// <build>/screenshots/app_e2e_*.png.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/generic_graph_form.h"
#include "app/graph_form.h"
#include "app/report_form.h"
#include "app/type1_edit_form.h"
#include "app/type2_edit_form.h"
#include "app/type4_edit_form.h"
#include "framework/chart/db_chart.h"
#include "framework/forms/clipboard.h"
#include "framework/report/report_preview.h"
#include "tests/app/app_test_support.h"
#include "tests/common/http_server.h"
#include "tests/common/widget_grab.h"

namespace apptest {
namespace {

// Runs script once, from the message loop, when the main window first
// shows; a script that stops early ends the loop so the program returns.
class WhenMainWindowShows : public QObject {
 public:
  explicit WhenMainWindowShows(std::function<void()> script) : script_(std::move(script)) {
    qApp->installEventFilter(this);
  }
  ~WhenMainWindowShows() override { qApp->removeEventFilter(this); }
  bool ran() const { return ran_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!ran_ && event->type() == QEvent::Show && watched->isWidgetType() && watched->objectName() == "MainForm") {
      ran_ = true;
      QTimer::singleShot(0, this, [this] {
        script_();
        if (app::MainForm != nullptr && app::MainForm->Visible()) fw::Application->Terminate();
      });
    }
    return false;
  }

 private:
  std::function<void()> script_;
  bool ran_ = false;
};

// Runs body on the next modal window of type Form, then closes it if body
// did not.
template <class Form>
void OnNextModal(const std::function<void(Form&)>& body, bool* shown = nullptr) {
  fw::Application->OnModalShown = [body, shown](fw::TForm& f) {
    // Dropping the handler frees this closure: what it needs is copied.
    const std::function<void(Form&)> run = body;
    bool* const was_shown = shown;
    fw::Application->OnModalShown = nullptr;
    auto* form = dynamic_cast<Form*>(&f);
    if (was_shown != nullptr) *was_shown = form != nullptr;
    if (form != nullptr) run(*form);
    if (f.ModalResult() == fw::mrNone) f.SetModalResult(fw::mrCancel);
  };
}

std::vector<std::string> GridRows(fw::TDBGrid& grid) {
  std::vector<std::string> rows;
  for (int r = 0; r < grid.Model().rowCount(); ++r) rows.push_back(grid.Model().CellText(r, 0).toStdString());
  return rows;
}

class EndToEndTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    if (!server_.Started()) GTEST_SKIP() << "lighttpd is not installed";
    picture_ = JpegBytes(320, 240, QColor(60, 140, 30));
    server_.AddFile("neon.jpg", picture_);
    // The program makes its own application object, as main() does.
    app_.reset();
  }
  void TearDown() override {
    if (fw::Application != nullptr && fw::Application->OnModalShown) fw::Application->OnModalShown = nullptr;
    CatalogueTest::TearDown();
  }
  int RunProgram() {
    static int argc = 1;
    static char arg0[] = "morvella";
    static char* argv[] = {arg0, nullptr};
    return app::RunProgram(argc, argv);
  }

  testsupport::LocalHttpServer server_;
  std::string picture_;
};

TEST_F(EndToEndTest, TypicalRoadThroughTheWholeProgram) {
  const std::string url = server_.Url("neon.jpg");
  WhenMainWindowShows script([&] {
    app::TMainForm& main = *app::MainForm;
    // The introduction: the home picture, nothing listed, New waits.
    EXPECT_EQ(main.Caption(), "Morvella Software");
    EXPECT_TRUE(main.OptionsGB->Visible());
    EXPECT_FALSE(main.FunctionPad->Visible());
    EXPECT_FALSE(main.NewBut->Enabled());
    EXPECT_EQ(main.FrontImage->Picture().Width(), 297);
    testsupport::GrabToPng(main, "app_e2e_start");

    // A category, typed into its editor.
    main.Type1But->Click();
    EXPECT_EQ(main.Caption(), "Browsing All Morvella Category Entries");
    EXPECT_FALSE(main.EditBut->Enabled());
    bool shown = false;
    OnNextModal<app::TType1EditForm>(
        [&](app::TType1EditForm& e) {
          EXPECT_EQ(e.Caption(), "Edit Category Entry");
          QTest::keyClicks(e.AffNameTE->Widget(), "Neon Tetras");
          QTest::keyClicks(e.DetailsMemo->Widget(), "Small, bright, in shoals");
          testsupport::GrabToPng(e, "app_e2e_category_editor");
          e.OKBut->Click();
        },
        &shown);
    main.NewBut->Click();
    ASSERT_TRUE(shown);
    EXPECT_EQ(GridRows(*main.RecipientGrid), Names{"Neon Tetras"});
    EXPECT_EQ(main.RecipientDetailsMemo->Text(), "Small, bright, in shoals");
    EXPECT_TRUE(main.EditBut->Enabled());
    EXPECT_TRUE(main.RecipientScrollBox->Visible());

    // A photo URL from the clipboard, given the category and processed:
    // the picture is fetched into data\0 and shown in the capture window.
    main.Type2But->Click();
    EXPECT_EQ(main.Caption(), "Browsing All Morvella Captured Photo Entries");
    fw::Clipboard().SetAsText(url);
    OnNextModal<app::TType2EditForm>(
        [&](app::TType2EditForm& c) {
          EXPECT_EQ(c.Caption(), "Capture Photos");
          c.CaptureBut->Click();
          EXPECT_EQ(GridRows(*c.URLGrid), Names{url});
          ASSERT_EQ(c.CategoryLookup->ListModel().rowCount(), 1);
          c.CategoryLookup->SelectRow(0);
          c.ProcessBut->Click();
          EXPECT_TRUE(GridRows(*c.URLGrid).empty());
          EXPECT_TRUE(c.Image1->Visible());
          testsupport::GrabToPng(c, "app_e2e_capture");
          c.OKBut->Click();
        },
        &shown);
    main.NewBut->Click();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(GridRows(*main.RevenueGrid).empty());
    EXPECT_FALSE(main.EditBut->Enabled());

    // The photo on its page, fitted into its 147 x 133 box.
    main.Type3But->Click();
    EXPECT_EQ(main.Caption(), "Browsing All Morvella Photos");
    EXPECT_EQ(GridRows(*main.ExpenseGrid), Names{url});
    EXPECT_TRUE(main.Image1->Visible());
    EXPECT_EQ(std::make_pair(main.Image1->Width(), main.Image1->Height()), std::make_pair(147, 110));
    testsupport::GrabToPng(main, "app_e2e_photos");

    // An internet link in the category.
    main.Type4But->Click();
    OnNextModal<app::TType4EditForm>(
        [&](app::TType4EditForm& e) {
          EXPECT_EQ(e.Caption(), "Edit Internet Link");
          QTest::keyClicks(e.LinkNameTE->Widget(), "Tetra Society");
          QTest::keyClicks(e.URLEdit->Widget(), "http://tetras.example/");
          e.CategoryLookup->SelectRow(0);
          e.OKBut->Click();
        },
        &shown);
    main.NewBut->Click();
    ASSERT_TRUE(shown);
    EXPECT_EQ(main.Caption(), "Browsing All Morvella Internet Links");
    EXPECT_EQ(GridRows(*main.InternetGrid), Names{"Tetra Society"});
    EXPECT_EQ(main.InternetURLEdit->Text(), "http://tetras.example/");

    // The album report previewed from the chooser, then closed.
    std::string pages;
    OnNextModal<app::TReportForm>(
        [&](app::TReportForm& r) {
          EXPECT_EQ(r.Caption(), "View/Print Reports");
          testsupport::GrabToPng(r, "app_e2e_reports");
          WithModalLoop([&] { r.Rep4But->Click(); },
                        [&] {
                          for (QWidget* w : QApplication::topLevelWidgets())
                            if (auto* p = dynamic_cast<fw::TQRPreview*>(w); p != nullptr && p->isVisible()) {
                              EXPECT_EQ(p->windowTitle().toStdString(), "Morvella Photo Album Listing");
                              pages = p->findChild<QLabel*>("PageLabel")->text().toStdString();
                              p->grab().save(QString::fromStdString(testsupport::ScreenshotDir() +
                                                                    "/app_e2e_report_preview.png"));
                              p->findChild<QPushButton*>("CloseButton")->click();
                            }
                        });
          r.OKBut->Click();
        },
        &shown);
    main.ReportsBut->Click();
    ASSERT_TRUE(shown);
    EXPECT_EQ(pages, "Page 1 of 1");

    // The graphs, through the hidden button's handler: the links' chart
    // opened large.
    OnNextModal<app::TGraphForm>(
        [&](app::TGraphForm& g) {
          EXPECT_EQ(g.Caption(), "View/Print Graphs");
          fw::TBarSeries& links = *g.Type3Chart->Series().at(0);
          ASSERT_EQ(links.Count(), 1);
          EXPECT_EQ(links.XLabel(0), "Neon Tetras");
          EXPECT_EQ(links.YValue(0), 1);
          bool large_shown = false;
          OnNextModal<app::TGenericGraphForm>(
              [&](app::TGenericGraphForm& large) {
                EXPECT_EQ(large.Caption(), "View/Print Graph");
                EXPECT_TRUE(large.GraphVisible(3));
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                testsupport::GrabToPng(large, "app_e2e_graph");
                large.OKBut->Click();
              },
              &large_shown);
          g.Type3Chart->OnClick(*g.Type3Chart);
          EXPECT_TRUE(large_shown);
          g.OKBut->Click();
        },
        &shown);
    main.GraphsBut->Click();
    ASSERT_TRUE(shown);

    boxes_.Answer(fw::mrYes);
    main.BitBtn2->Click();
  });

  EXPECT_EQ(RunProgram(), 0);
  ASSERT_TRUE(script.ran());
  EXPECT_EQ(boxes_.Texts(), Names{"Exit Morvella Software?"});
  EXPECT_EQ(app::MainForm, nullptr);

  // What stays on disk.
  EXPECT_EQ(ReadBytes(Data("0")), picture_);
  EXPECT_EQ(ReadBytes(home_ / "temp"), picture_);
  EXPECT_EQ(Counter("NextType1Num"), 1001);
  EXPECT_EQ(Counter("NextType2Num"), 1001);
  EXPECT_EQ(Counter("NextType3Num"), 1001);
  EXPECT_EQ(Counter("NextType4Num"), 1001);
  EXPECT_EQ(Counter("NextPicNum"), 1);
  const std::vector<std::string> type1 = Rows("type1.dat");
  ASSERT_EQ(type1.size(), 1u);
  EXPECT_NE(type1[0].find("JournalName=Neon Tetras|"), std::string::npos) << type1[0];
  EXPECT_NE(type1[0].find("Details=Small, bright, in shoals|"), std::string::npos) << type1[0];
  EXPECT_NE(type1[0].find("Type1Num=1000|"), std::string::npos) << type1[0];
  EXPECT_TRUE(Rows("type2.dat").empty());
  const std::vector<std::string> type3 = Rows("type3.dat");
  ASSERT_EQ(type3.size(), 1u);
  for (const std::string& want : Names{"ResourceName=" + url + "|", "Type3Num=1000|", "Filename=data\\0|",
                                       "PhotoURL=" + url + "|", "Category=Neon Tetras|"})
    EXPECT_NE(type3[0].find(want), std::string::npos) << want << " in " << type3[0];
  const std::vector<std::string> type4 = Rows("type4.dat");
  ASSERT_EQ(type4.size(), 1u);
  for (const char* want :
       {"LinkName=Tetra Society|", "URL=http://tetras.example/|", "Type4Num=1000|", "Category=Neon Tetras|"})
    EXPECT_NE(type4[0].find(want), std::string::npos) << want << " in " << type4[0];
  const std::string tables = "'" + Data("type1.dat").string() + "' '" + Data("type2.dat").string() + "' '" +
                             Data("type3.dat").string() + "' '" + Data("type4.dat").string() + "'";
  const tooltest::ToolResult check = Check("tablecheck.py", Data("defaults.dat"), tables);
  EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
}  // namespace apptest
