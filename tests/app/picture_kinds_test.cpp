// Icon and metafile photos on the program's road: captured from the
// clipboard, fetched from a local lighttpd by Process into picture files
// stored without an extension, shown fitted on the "Photos" page
// (screenshots <build>/screenshots/app_photo_<kind>.png) and printed in
// the album report (the PDF read back with poppler-utils, down to the
// pixels of each printed picture).
#include <QImage>

#include "app/report_form.h"
#include "app/type2_edit_form.h"
#include "framework/forms/clipboard.h"
#include "tests/app/app_test_support.h"
#include "tests/common/http_server.h"
#include "tests/common/picture_files.h"
#include "tests/common/widget_grab.h"
#include "tests/printing/printing_test_support.h"

namespace apptest {
namespace {

struct Kind {
  const char* file;  // as served
  std::string bytes;
  int fitted_width, fitted_height;  // in the 147 x 133 box of the page
  // Where the picture shows red and where green or blue, as parts of its
  // width and height.
  double red_x, red_y, other_x, other_y;
  QRgb other;
};

bool Near(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) <= 40 && std::abs(qGreen(a) - qGreen(b)) <= 40 &&
         std::abs(qBlue(a) - qBlue(b)) <= 40;
}

QRgb At(const QImage& img, double fx, double fy) {
  return img.pixel(static_cast<int>(fx * img.width()), static_cast<int>(fy * img.height()));
}

class PictureKindsTest : public StartedCatalogueTest {
 protected:
  void SetUp() override {
    StartedCatalogueTest::SetUp();
    if (!server_.Started()) GTEST_SKIP() << "lighttpd is not installed";
  }
  testsupport::LocalHttpServer server_;
};

TEST_F(PictureKindsTest, IconAndMetafilePhotosAreFetchedShownAndPrinted) {
  // In the order of their URLs, the album report's order.
  const std::vector<Kind> kinds = {
      {"scene.emf", testsupport::EmfScene(), 147, 74, 0.25, 0.35, 0.75, 0.35, 0xFF0000FF},
      {"tetra.ico", testsupport::IcoFile({{testsupport::Solid(16, 16, Qt::blue)}, {testsupport::Halves(64, 64)}}),
       133, 133, 0.25, 0.6, 0.75, 0.6, 0xFF00FF00},
      {"tetra.wmf", testsupport::WmfScene(96), 147, 74, 0.25, 0.35, 0.75, 0.35, 0xFF0000FF},
  };
  for (const Kind& k : kinds) server_.AddFile(k.file, k.bytes);

  // Captured and processed: each fetched into data\<n>, "Hide extension"
  // being checked.
  auto* capture = new app::TType2EditForm(app::MainForm);
  ASSERT_TRUE(capture->MaskCB->Checked());
  for (const Kind& k : kinds) {
    fw::Clipboard().SetAsText(server_.Url(k.file));
    capture->CaptureBut->Click();
  }
  capture->ProcessBut->Click();
  EXPECT_TRUE(capture->Image1->Visible());
  testsupport::GrabToPng(*capture, "app_photo_capture_view");
  delete capture;
  EXPECT_EQ(boxes_.Texts(), Names{});
  EXPECT_TRUE(Column(2, "ActivityName").empty());
  for (std::size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(ReadBytes(Data(std::to_string(i))), kinds[i].bytes);

  // Each on the "Photos" page, fitted into its box.
  app::TMainForm& m = Main();
  m.Type3But->Click();
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.file);
    Locate(3, "ResourceName", server_.Url(k.file));
    fw::Guarded([&] { m.ExpenseGrid->OnCellClick(m.ExpenseGrid); });
    EXPECT_TRUE(boxes_.requests.empty());
    ASSERT_TRUE(m.Image1->Visible());
    EXPECT_EQ(std::make_pair(m.Image1->Width(), m.Image1->Height()), std::make_pair(k.fitted_width, k.fitted_height));
    const std::string file = k.file;
    testsupport::GrabToPng(m, "app_photo_" + file.substr(file.rfind('.') + 1));
    const QImage shown = m.Image1->Snapshot();
    EXPECT_TRUE(Near(At(shown, k.red_x, k.red_y), 0xFFFF0000));
    EXPECT_TRUE(Near(At(shown, k.other_x, k.other_y), k.other));
  }
  // Showing them renamed nothing for good.
  EXPECT_EQ(ReadBytes(Data("1")), kinds[1].bytes);
  EXPECT_FALSE(fs::exists(Data("1.ico")));

  // The album report: one page with the three pictures, in order.
  auto* chooser = new app::TReportForm(app::MainForm);
  const std::string pdf = printtest::OutputPath("app_album_icon_metafile.pdf");
  PreviewToPdf([&] { chooser->Rep4But->Click(); }, *chooser, 4, pdf);
  delete chooser;
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(printtest::PdfPages(pdf), 1);
  std::vector<std::string> urls;
  for (const Kind& k : kinds) urls.push_back(server_.Url(k.file));
  EXPECT_TRUE(printtest::InOrder(printtest::PdfText(pdf), urls)) << printtest::PdfText(pdf);
  ASSERT_EQ(printtest::PdfImages(pdf).size(), kinds.size());
  const std::string prefix = printtest::OutputPath("app_album_icon_metafile");
  ASSERT_EQ(printtest::Run("pdfimages -png '" + pdf + "' '" + prefix + "'").status, 0);
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    SCOPED_TRACE(kinds[i].file);
    const QImage printed(QString::fromStdString(prefix + "-00" + std::to_string(i) + ".png"));
    ASSERT_FALSE(printed.isNull());
    EXPECT_NEAR(static_cast<double>(printed.width()) / printed.height(),
                static_cast<double>(kinds[i].fitted_width) / kinds[i].fitted_height, 0.05);
    EXPECT_TRUE(Near(At(printed, kinds[i].red_x, kinds[i].red_y), 0xFFFF0000));
    EXPECT_TRUE(Near(At(printed, kinds[i].other_x, kinds[i].other_y), kinds[i].other));
  }
}

}  // namespace
}  // namespace apptest
