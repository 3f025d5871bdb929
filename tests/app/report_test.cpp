// The report chooser's five reports over a catalogue with records of every
// kind, each previewed by GenReport and printed from its preview to PDF
// (under <build>/test_output/app), read back with poppler-utils: the
// report's title, the rows in the SELECT's order, the pictures (none for
// a photo without a file), the page counts; the full-page photo's place;
// the photo editor's one-page print, and its refusal of a photo without a
// number.
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
#include "tests/app/picture_test_support.h"
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
    app::TDatamodule1& dm = *app::Datamodule1;
    struct Entry {
      const char* name;
      int y, m, d;
      const char* details;
    };
    for (const Entry& e : {Entry{"Plant Health", 2021, 3, 5, "Leaves and roots"},
                           Entry{"Fish Health", 2020, 1, 10, "Fins, scales and gills"},
                           Entry{"Research", 2022, 7, 1, ""}}) {
      dm.Type1Table->Append();
      dm.Type1Table->FieldByName("JournalName")->SetAsString(e.name);
      dm.Type1Table->FieldByName("JournalDate")->SetAsDateTime(fw::EncodeDate(e.y, e.m, e.d));
      dm.Type1Table->FieldByName("Details")->SetAsString(e.details);
      dm.Type1Table->Post();
    }
    for (const Entry& e : {Entry{"http://pictures.test/late.jpg", 2023, 2, 1, "later"},
                           Entry{"http://pictures.test/early.gif", 2019, 6, 30, "earlier"}}) {
      dm.Type2Table->Append();
      dm.Type2Table->FieldByName("ActivityName")->SetAsString(e.name);
      dm.Type2Table->FieldByName("ActivityDate")->SetAsDateTime(fw::EncodeDate(e.y, e.m, e.d));
      dm.Type2Table->FieldByName("Details")->SetAsString(e.details);
      dm.Type2Table->Post();
    }
    // Photos: a JPEG stored without an extension, one without a file, a
    // GIF and a BMP.
    fs::create_directories(Data());
    std::ofstream(Data("0"), std::ios::binary) << JpegBytes(1000, 500, 200, 60, 30);
    std::ofstream(Data("1.gif"), std::ios::binary) << GifBytes("cmake-CMakeLogo.gif");
    printtest::MakeBmpFile(Data("2.bmp").string(), 300, 600, fw::clBlue);
    struct Photo {
      const char* name;
      int number;
      const char* file;
      const char* url;
    };
    for (const Photo& p : {Photo{"Cichlid", 1002, "data\\1.gif", "http://pictures.test/cichlid.gif"},
                           Photo{"Angel", 1000, "data\\0", "http://pictures.test/angel.jpg"},
                           Photo{"Discus", 1003, "data\\2.bmp", "http://pictures.test/discus.bmp"},
                           Photo{"Betta", 1001, "", "http://pictures.test/betta.jpg"}}) {
      dm.Type3Table->Append();
      dm.Type3Table->FieldByName("ResourceName")->SetAsString(p.name);
      dm.Type3Table->FieldByName("Type3Num")->SetAsInteger(p.number);
      if (*p.file) dm.Type3Table->FieldByName("Filename")->SetAsString(p.file);
      dm.Type3Table->FieldByName("PhotoURL")->SetAsString(p.url);
      dm.Type3Table->Post();
    }
    for (const char* link : {"Zebra Danio Care", "Aquarium Forum"}) {
      dm.Type4Table->Append();
      dm.Type4Table->FieldByName("LinkName")->SetAsString(link);
      dm.Type4Table->FieldByName("URL")->SetAsString(std::string("http://links.test/") + link[0]);
      if (link[0] == 'Z') dm.Type4Table->FieldByName("pic")->SetAsString(printtest::BmpBytes(50, 40, fw::clRed));
      dm.Type4Table->Post();
    }
  }

  // Runs step, which previews a report of a TGenericReportForm owned by
  // owner; prints the previewed report n to pdf from the preview's Print
  // button and closes the preview.
  void PreviewToPdf(const std::function<void()>& step, fw::TComponent& owner, int n, const std::string& pdf) {
    WithModalLoop(step, [&] {
      auto* form = dynamic_cast<app::TGenericReportForm*>(owner.FindComponent("GenericReportForm"));
      ASSERT_NE(form, nullptr);
      form->Report(n)->OnPrinterSetup = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
      };
      fw::TQRPreview* preview = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = dynamic_cast<fw::TQRPreview*>(w); p != nullptr && p->isVisible()) preview = p;
      ASSERT_NE(preview, nullptr);
      preview->findChild<QPushButton*>("PrintButton")->click();
      preview->findChild<QPushButton*>("CloseButton")->click();
    });
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

TEST_F(ReportTest, PhotosAreFittedAndPlaced) {
  app::TGenericReportForm form(nullptr);
  dataset::TTolmidQuery& q = *app::Datamodule1->Type3ReportQuery;
  q.SetSQLText("select * from type3 order by resourcename");
  q.Open();
  struct Case {
    const char* name;
    int album_w, album_h;
    int page_left, page_top, page_w, page_h;
  };
  // Album box 281 x 233; page box 700 x 850 centred on the 720 x 921 band,
  // 5 lower. 1000 x 500 gives 281 x 140.5 (140, halves to even) and on
  // the page 700 x 350 at (10, 291: 285.5 to 286, + 5).
  for (const Case& c : {Case{"Angel", 281, 140, 10, 291, 700, 350}, Case{"Cichlid", 281, 114, 10, 323, 700, 285},
                        Case{"Discus", 116, 233, 148, 41, 425, 850}}) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(q.Locate("ResourceName", {fw::Variant(std::string(c.name))}, {}));
    form.UpdateImage();
    form.UpdateLargeImage();
    EXPECT_EQ(std::make_tuple(form.QRImage1->Left(), form.QRImage1->Top(), form.QRImage1->Width(),
                              form.QRImage1->Height()),
              std::make_tuple(31, 43, c.album_w, c.album_h));
    EXPECT_EQ(std::make_tuple(form.QRImage2->Left(), form.QRImage2->Top(), form.QRImage2->Width(),
                              form.QRImage2->Height()),
              std::make_tuple(c.page_left, c.page_top, c.page_w, c.page_h));
    EXPECT_NE(form.QRImage1->Picture().Graphic(), nullptr);
  }
  // A photo without a file keeps no picture of the one before it.
  ASSERT_TRUE(q.Locate("ResourceName", {fw::Variant(std::string("Betta"))}, {}));
  form.UpdateImage();
  form.UpdateLargeImage();
  EXPECT_EQ(form.QRImage1->Picture().Graphic(), nullptr);
  EXPECT_EQ(form.QRImage2->Picture().Graphic(), nullptr);
  q.Close();
}

TEST_F(ReportTest, PhotoPagePrintsOnePhotoAndRefusesAPhotoWithoutNumber) {
  app::TMainForm& owner = *app::MainForm;
  const std::string pdf = printtest::OutputPath("app_photo_page.pdf");
  PreviewToPdf([&] { app::PrintPhotoPage(&owner, 1003); }, owner, 3, pdf);
  EXPECT_EQ(owner.FindComponent("GenericReportForm"), nullptr);
  EXPECT_EQ(printtest::PdfPages(pdf), 1);
  EXPECT_EQ(PdfPictures(pdf).size(), 1u);
  EXPECT_FALSE(app::Datamodule1->Type3ReportQuery->Active());

  boxes_.Answer(fw::mrOk);
  app::PrintPhotoPage(&owner, std::nullopt);
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].text, app::kNoPhotoNumberMessage);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtInformation);
  EXPECT_EQ(owner.FindComponent("GenericReportForm"), nullptr);
}

}  // namespace
}  // namespace apptest
