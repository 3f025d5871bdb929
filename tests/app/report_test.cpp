// The report chooser's five reports over a catalogue with records of every
// kind, each previewed by GenReport and printed from its preview to PDF
// (under <build>/test_output/app), read back with poppler-utils: the
// report's title, the rows in the SELECT's order, the pictures (none for
// a photo without a file), the page counts; the full-page photo's place;
// the photo editor's one-page print, where its photo lies on the page, and
// its refusal of a photo without a number.
#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <tuple>

#include "app/generic_report_form.h"
#include "app/photo_print.h"
#include "app/report_form.h"
#include "framework/report/report_preview.h"
#include "framework/sysutils.h"
#include "tests/app/app_test_support.h"
#include "tests/printing/printing_test_support.h"

namespace apptest {
namespace {

using Images = std::vector<std::tuple<int, int, int>>;  // page, width, height

Images PdfPictures(const std::string& pdf) {
  Images out;
  for (const printtest::PdfImage& im : printtest::PdfImages(pdf)) out.emplace_back(im.page, im.width, im.height);
  std::sort(out.begin(), out.end());
  return out;
}

class ReportTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    ASSERT_TRUE(Start());
    Put(1, {{"JournalName", "Plant Health"}, {"JournalDate", "03/05/2021"}, {"Details", "Leaves and roots"}});
    Put(1, {{"JournalName", "Fish Health"}, {"JournalDate", "01/10/2020"}, {"Details", "Fins, scales and gills"}});
    Put(1, {{"JournalName", "Research"}, {"JournalDate", "07/01/2022"}});
    Put(2, {{"ActivityName", "http://pictures.test/late.jpg"}, {"ActivityDate", "02/01/2023"}, {"Details", "later"}});
    Put(2, {{"ActivityName", "http://pictures.test/early.gif"}, {"ActivityDate", "06/30/2019"}, {"Details", "earlier"}});
    // Photos: a JPEG stored without an extension, one without a file, a
    // GIF and a BMP.
    WriteBytes(Data("0"), JpegBytes(1000, 500, QColor(30, 60, 200)));
    WriteBytes(Data("1.gif"), GifFile("cmake-CMakeLogo.gif"));
    printtest::MakeBmpFile(Data("2.bmp").string(), 300, 600, fw::clBlue);
    Put(3, {{"ResourceName", "Cichlid"}, {"Type3Num", "1002"}, {"Filename", "data\\1.gif"}, {"PhotoURL", "http://pictures.test/cichlid.gif"}});
    Put(3, {{"ResourceName", "Angel"}, {"Type3Num", "1000"}, {"Filename", "data\\0"}, {"PhotoURL", "http://pictures.test/angel.jpg"}});
    Put(3, {{"ResourceName", "Discus"}, {"Type3Num", "1003"}, {"Filename", "data\\2.bmp"}, {"PhotoURL", "http://pictures.test/discus.bmp"}});
    Put(3, {{"ResourceName", "Betta"}, {"Type3Num", "1001"}, {"PhotoURL", "http://pictures.test/betta.jpg"}});
    Put(4, {{"LinkName", "Zebra Danio Care"}, {"URL", "http://links.test/Z"}, {"pic", printtest::BmpBytes(50, 40, fw::clRed)}});
    Put(4, {{"LinkName", "Aquarium Forum"}, {"URL", "http://links.test/A"}});
  }

  GifPictures gif_;
};

TEST_F(ReportTest, EachReportPrintsItsRowsInOrder) {
  auto* chooser = new app::TReportForm(app::MainForm);
  EXPECT_FALSE(chooser->Rep1But->Visible());
  EXPECT_FALSE(chooser->Rep2But->Visible());
  EXPECT_EQ(chooser->Rep3But->Caption(), "Full Page Photo Print");
  EXPECT_EQ(chooser->Rep4But->Caption(), "Photo Album Listing");
  EXPECT_EQ(chooser->Rep5But->Caption(), "Internet Link List");
  struct Case {
    int n;
    const char* title;
    std::vector<std::string> text_in_order;
    int pages;
    // Pages that carry a picture, in order.
    std::vector<int> picture_pages;
  };
  const std::vector<Case> cases = {
      {1, "Morvella Journal Listing",
       {"Category Listing", "Fish Health", "Fins, scales and gills", "Plant Health", "Leaves and roots", "Research"},
       1, {}},
      {2, "Morvella Activity Listing",
       {"Captured Photo URL Listing", "http://pictures.test/early.gif", "earlier", "http://pictures.test/late.jpg",
        "later"},
       1, {}},
      // One photo a page; Betta has no file and no picture.
      {3, "Morvella Activity /To Do Listing", {}, 4, {1, 3, 4}},
      {4, "Morvella Photo Album Listing", {"Photo Album Listing", "Angel", "Betta", "Cichlid", "\f", "Discus"}, 2,
       {1, 1, 2}},
      {5, "Morvella Internet Link List",
       {"Internet Link List", "Aquarium Forum", "http://links.test/A", "Zebra Danio Care", "http://links.test/Z"}, 1,
       {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string pdf = printtest::OutputPath("app_report" + std::to_string(c.n) + ".pdf");
    fw::TButton* button[] = {chooser->Rep1But, chooser->Rep2But, chooser->Rep3But, chooser->Rep4But,
                             chooser->Rep5But};
    PreviewToPdf([&] { button[c.n - 1]->Click(); }, *chooser, c.n, pdf);
    EXPECT_EQ(chooser->FindComponent("GenericReportForm"), nullptr);  // freed
    EXPECT_TRUE(boxes_.requests.empty());
    EXPECT_EQ(printtest::PdfPages(pdf), c.pages);
    EXPECT_EQ(printtest::PdfInfo(pdf, "Title"), c.title);
    const std::string text = printtest::PdfText(pdf);
    EXPECT_TRUE(printtest::InOrder(text, c.text_in_order)) << text;
    std::vector<int> pages;
    for (const auto& [page, w, h] : PdfPictures(pdf)) pages.push_back(page);
    EXPECT_EQ(pages, c.picture_pages);
  }
  // The queries are closed again.
  EXPECT_FALSE(app::Datamodule1->Type3ReportQuery->Active());
  delete chooser;
}

TEST_F(ReportTest, PhotoPagePrintsOnePhotoAndRefusesAPhotoWithoutNumber) {
  app::TMainForm& owner = *app::MainForm;
  const std::string pdf = printtest::OutputPath("app_photo_page.pdf");
  PreviewToPdf([&] { app::PrintPhotoPage(&owner, 1003); }, owner, 3, pdf);
  EXPECT_EQ(owner.FindComponent("GenericReportForm"), nullptr);
  EXPECT_EQ(printtest::PdfPages(pdf), 1);
  EXPECT_EQ(PdfPictures(pdf).size(), 1u);
  EXPECT_FALSE(app::Datamodule1->Type3ReportQuery->Active());

  // The photo fitted into 700 x 850, centred on the band's 720 x 921 and 5
  // lower, the band at the page's half-inch margins; read from the page
  // drawn at 96 dots an inch, a report pixel each.
  const struct {
    int number;
    QRect box;
  } placed[] = {
      {1000, {48 + 10, 48 + 286 + 5, 700, 350}},  // 1000 x 500: (921 - 350) / 2 = 285.5 gives 286
      {1003, {48 + 148, 48 + 36 + 5, 425, 850}},  // 300 x 600: (720 - 425) / 2 = 147.5 gives 148
  };
  for (const auto& p : placed) {
    SCOPED_TRACE(p.number);
    const std::string page = printtest::OutputPath("app_photo_page_" + std::to_string(p.number) + ".pdf");
    PreviewToPdf([&] { app::PrintPhotoPage(&owner, p.number); }, owner, 3, page);
    const QRect ink = printtest::PdfInkBox(page, 1, 96);
    for (const auto& [got, want] : {std::pair{ink.left(), p.box.left()}, {ink.top(), p.box.top()},
                                    {ink.right(), p.box.right()}, {ink.bottom(), p.box.bottom()}})
      EXPECT_NEAR(got, want, 1) << "ink at " << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
  }

  boxes_.Answer(fw::mrOk);
  app::PrintPhotoPage(&owner, std::nullopt);
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].text, app::kNoPhotoNumberMessage);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtInformation);
  EXPECT_EQ(owner.FindComponent("GenericReportForm"), nullptr);
}

}  // namespace
}  // namespace apptest
