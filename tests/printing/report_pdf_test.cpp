// A photo album report printed to PDF and read back with poppler-utils:
// the title once, the rows in the dataset's order, a stretching memo whole
// and in order, the pictures the before-print event loads (fitted, and
// kept at no more than twice their printed size), the pictures of a
// graphic field, none for a row whose event clears the picture or whose
// field holds no picture, Letter pages and the report title as the PDF's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "framework/printing/print_job.h"
#include "framework/report/quick_rep.h"
#include "printing_test_support.h"
#include "tests/common/error_text.h"

namespace fw {
namespace {

using printtest::PdfImage;
using testing::MemoryDataSet;

struct Photo {
  std::string name;
  std::string notes;
  std::string file;  // picture file, "" for none
  std::string pic;   // graphic field bytes, "" for null
};

std::string Words(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += (i > 1 ? " note" : "note") + std::to_string(100 + i);
  return s;
}

// A picture fitted into a box by the catalogue's rule: the long side
// touches the box, proportions kept.
void LoadFitted(TQRImage& image, const std::string& file, int box_w, int box_h) {
  image.SetAutoSize(true);
  image.SetStretch(false);
  image.Picture().LoadFromFile(file);
  const int w = image.Width(), h = image.Height();
  image.SetAutoSize(false);
  image.SetStretch(true);
  if (h - box_h <= w - box_w) {
    image.SetWidth(box_w);
    image.SetHeight(static_cast<int>(std::nearbyint(static_cast<double>(h) * box_w / w)));
  } else {
    image.SetHeight(box_h);
    image.SetWidth(static_cast<int>(std::nearbyint(static_cast<double>(w) * box_h / h)));
  }
}

class AlbumReport {
 public:
  explicit AlbumReport(const std::vector<Photo>& photos)
      : ds_(nullptr, {{"Name", TFieldType::ftString, 40},
                      {"Notes", TFieldType::ftMemo}, {"FileName", TFieldType::ftString, 200},
                      {"Pic", TFieldType::ftGraphic}}),
        rep_(nullptr) {
    ds_.Open();
    for (const Photo& p : photos) {
      ds_.Append();
      ds_.FieldByName("Name")->SetAsString(p.name);
      ds_.FieldByName("Notes")->SetAsString(p.notes);
      ds_.FieldByName("FileName")->SetAsString(p.file);
      if (!p.pic.empty()) ds_.FieldByName("Pic")->SetAsString(p.pic);
      ds_.Post();
    }
    rep_.SetDataSet(&ds_);
    rep_.SetReportTitle("Photo Album");
    auto* title = new TQRBand(&rep_, TQRBandType::rbTitle);
    title->SetHeight(41);
    auto* heading = new TQRLabel(title);
    heading->SetCaption("Photo Album Listing");
    heading->SetBounds(260, 10, 200, 20);

    auto* detail = new TQRBand(&rep_, TQRBandType::rbDetail);
    detail->SetHeight(288);
    auto* name_label = new TQRLabel(detail);
    name_label->SetCaption("Name:");
    name_label->SetBounds(31, 8, 45, 17);
    auto* name = new TQRDBText(detail);
    name->SetDataField("Name");
    name->SetAutoSize(false);
    name->SetBounds(80, 8, 297, 17);
    auto* notes = new TQRDBText(detail);
    notes->SetDataField("Notes");
    notes->SetAutoSize(false);
    notes->SetAutoStretch(true);
    notes->SetBounds(330, 43, 250, 17);
    auto* pic = new TQRDBImage(detail);
    pic->SetDataField("Pic");
    pic->SetStretch(true);
    pic->Frame().SetAll(true);
    pic->SetBounds(600, 43, 100, 80);
    auto* line = new TQRShape(detail);
    line->SetShape(TQRShapeType::qrsHorLine);
    line->SetBounds(0, 280, 720, 8);
    image_ = new TQRImage(detail);
    image_->Frame().SetAll(true);
    image_->SetBounds(31, 43, 281, 233);
    detail->BeforePrint = [this](TQRBand&, bool&) {
      const std::string file = ds_.FieldByName("FileName")->AsString();
      if (file.empty()) {
        image_->Picture().Assign(nullptr);
        return;
      }
      LoadFitted(*image_, file, 281, 233);
    };
  }

  TQuickRep& Report() { return rep_; }

 private:
  MemoryDataSet ds_;
  TQuickRep rep_;
  TQRImage* image_ = nullptr;
};

TEST(ReportPdfTest, AlbumRowsPicturesAndPages) {
  const std::string wide = printtest::OutputPath("wide.bmp");
  const std::string big = printtest::OutputPath("big.bmp");
  const std::string tall = printtest::OutputPath("tall.bmp");
  printtest::MakeBmpFile(wide, 400, 100, clRed);
  printtest::MakeBmpFile(big, 1200, 900, clLime);
  printtest::MakeBmpFile(tall, 100, 400, clBlue);
  const std::string long_notes = Words(60);
  AlbumReport album({
      {"Aquarium", "First line\r\nSecond line", wide, printtest::BmpBytes(50, 40, clBlue)},
      {"Betta", long_notes, big, ""}, {"Cichlid", "no picture here", "", "this is not a picture"},
      {"Discus", "tall one", tall, ""},
  });
  const std::string pdf = printtest::OutputPath("album.pdf");
  album.Report().PrintTo(*printtest::PdfPrinter(pdf));

  // Betta's notes stretch its band so that Cichlid starts page 2: with the
  // machine's font, the title and the first three bands, grown by their
  // notes' lines, overrun the 960 pixels of a page.
  const double lh = ReportLineHeight(TQRFont());
  double used = 41;
  for (const std::string& notes : {std::string("First line\r\nSecond line"), long_notes, std::string("no picture here")}) {
    const auto lines = BreakTextLines(QString::fromStdString(notes), TQRFont(), 250, nullptr).size();
    used += 288 + std::max(0.0, std::ceil(static_cast<double>(lines) * lh - 17));
  }
  ASSERT_GT(used, 960) << "the notes are too short to fill page 1 with this font";
  ASSERT_EQ(printtest::PdfPages(pdf), 2);
  EXPECT_EQ(album.Report().PageCount(), 2);
  EXPECT_EQ(printtest::PdfInfo(pdf, "Title"), "Photo Album");
  EXPECT_NE(printtest::PdfInfo(pdf, "Page size").find("612 x 792 pts (letter)"), std::string::npos);

  const std::string text = printtest::PdfText(pdf);
  EXPECT_EQ(printtest::Occurrences(text, "Photo Album Listing"), 1u);
  EXPECT_TRUE(printtest::InOrder(text, {"Photo Album Listing", "Aquarium", "Betta", "Cichlid", "Discus"})) << text;
  EXPECT_EQ(printtest::Occurrences(text, "Name:"), 4u);
  std::vector<std::string> words;
  for (int i = 1; i <= 60; ++i) words.push_back("note" + std::to_string(100 + i));
  EXPECT_TRUE(printtest::InOrder(text, words)) << text;
  // A line break in a memo starts a new printed line.
  EXPECT_TRUE(printtest::InOrder(text, {"First line", "\n", "Second line"}));

  // Pictures: Aquarium's file and field picture, Betta's file (cut down to
  // twice its fitted 281 x 211), none for Cichlid (cleared picture, bytes
  // that are no picture), Discus's file.
  const std::vector<PdfImage> images = printtest::PdfImages(pdf);
  std::vector<std::tuple<int, int, int>> got;
  for (const PdfImage& im : images) got.emplace_back(im.page, im.width, im.height);
  std::sort(got.begin(), got.end());
  const std::vector<std::tuple<int, int, int>> want = {{1, 50, 40}, {1, 400, 100}, {1, 562, 422}, {2, 100, 400}};
  EXPECT_EQ(got, want);
}

TEST(ReportPdfTest, UnwritablePdfFails) {
  AlbumReport album({{"Aquarium", "", "", ""}});
  auto printer = printtest::PdfPrinter("/nonexistent-folder/report.pdf");
  EXPECT_EQ(testsupport::ErrorText<EPrinter>([&] { album.Report().PrintTo(*printer); }),
            "Cannot create file /nonexistent-folder/report.pdf");
}

}  // namespace
}  // namespace fw
