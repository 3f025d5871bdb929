// How a report fills its pages, read from the prepared pages: bands that
// do not fit start a new page, page headers and footers on every page,
// stretching texts grow their band and push what lies below, text breaks
// within its width without losing a word, before-print events see the
// record about to print and may leave a band out or clear a picture, and
// a failing event keeps the pages built so far and leaves the dataset as
// it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "framework/report/quick_rep.h"
#include "printing_test_support.h"
#include "tests/common/error_text.h"

namespace fw {
namespace {

using testing::MemoryDataSet;

// Content area of a Letter page with half-inch margins.
constexpr double kTop = 48;
constexpr double kBottom = 48 + 960;

class ReportLayoutTest : public ::testing::Test {
 protected:
  ReportLayoutTest()
      : ds_(nullptr,
            {{"Name", TFieldType::ftString, 40}, {"Notes", TFieldType::ftMemo}, {"File", TFieldType::ftString, 200}}),
        rep_(nullptr) {
    rep_.SetDataSet(&ds_);
  }
  void Fill(int records) {
    ds_.Open();
    for (int i = 1; i <= records; ++i) ds_.AppendRecord({Variant("rec" + std::to_string(i))});
  }
  void Fill(const std::vector<std::vector<std::string>>& rows) {
    ds_.Open();
    for (const auto& row : rows) {
      ds_.Append();
      for (std::size_t i = 0; i < row.size(); ++i) ds_.Fields(static_cast<int>(i))->SetAsString(row[i]);
      ds_.Post();
    }
  }
  TQRBand* Band(TQRBandType type, int height) {
    auto* band = new TQRBand(&rep_, type);
    band->SetHeight(height);
    return band;
  }
  // The record numbers of the detail bands, page by page.
  std::vector<std::vector<int>> DetailsPerPage() const {
    std::vector<std::vector<int>> out;
    for (int p = 0; p < rep_.Prepared()->PageCount(); ++p) {
      out.emplace_back();
      for (const TQRPlacedBand& b : rep_.Prepared()->Page(p).Bands)
        if (b.Type == TQRBandType::rbDetail) out.back().push_back(b.Record);
    }
    return out;
  }
  const TQRPlacedBand& Placed(int page, TQRBandType type, int nth = 0) const {
    for (const TQRPlacedBand& b : rep_.Prepared()->Page(page).Bands)
      if (b.Type == type && nth-- == 0) return b;
    throw std::runtime_error("band not placed");
  }

  MemoryDataSet ds_;
  TQuickRep rep_;
};

struct OverflowCase {
  const char* name;
  int header, title, detail, footer, records;
  std::vector<std::size_t> per_page;
};

TEST_F(ReportLayoutTest, BandsThatDoNotFitStartANewPage) {
  const OverflowCase cases[] = {
      // 960 - 40 footer = 920 for the body: title 41 + 12 x 69, then 13 x 69.
      {"list", 0, 41, 69, 40, 30, {12, 13, 5}}, {"exactly full", 0, 0, 96, 0, 20, {10, 10}},
      {"one a page", 0, 0, 921, 0, 3, {1, 1, 1}},
      // Page header 50 on every page: 910 left, 9 bands of 100.
      {"page header", 50, 0, 100, 0, 20, {9, 9, 2}},
      // Taller than a page: alone on each page all the same.
      {"too tall", 0, 41, 1000, 0, 2, {0, 1, 1}}, {"empty dataset", 0, 41, 69, 40, 0, {0}},
  };
  for (const OverflowCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryDataSet ds(nullptr, {{"Name", TFieldType::ftString, 40}});
    ds.Open();
    for (int i = 1; i <= c.records; ++i) ds.AppendRecord({Variant("r" + std::to_string(i))});
    TQuickRep rep(nullptr);
    rep.SetDataSet(&ds);
    for (auto [type, h] : {std::pair{TQRBandType::rbPageHeader, c.header}, {TQRBandType::rbTitle, c.title},
                           {TQRBandType::rbDetail, c.detail}, {TQRBandType::rbPageFooter, c.footer}})
      if (h > 0) (new TQRBand(&rep, type))->SetHeight(h);
    rep.Prepare();
    ASSERT_EQ(rep.PageCount(), static_cast<int>(c.per_page.size()));
    int next = 1;
    for (int p = 0; p < rep.PageCount(); ++p) {
      const TQRPreparedPage& page = rep.Prepared()->Page(p);
      std::size_t details = 0;
      double y = kTop;
      for (const TQRPlacedBand& b : page.Bands) {
        if (b.Type == TQRBandType::rbPageFooter) {
          EXPECT_DOUBLE_EQ(b.Rect.bottom(), kBottom) << "footer on page " << p + 1;
          EXPECT_LE(y, b.Rect.top()) << "body runs into the footer on page " << p + 1;
          continue;
        }
        // Bands follow each other down the page in the order they print.
        EXPECT_DOUBLE_EQ(b.Rect.top(), y);
        y = b.Rect.bottom();
        if (b.Type == TQRBandType::rbTitle) {
          EXPECT_EQ(p, 0);
        }
        if (b.Type == TQRBandType::rbPageHeader) {
          EXPECT_DOUBLE_EQ(b.Rect.top(), kTop);
        }
        if (b.Type == TQRBandType::rbDetail) {
          EXPECT_EQ(b.Record, next++);
          ++details;
        }
      }
      EXPECT_EQ(details, c.per_page[static_cast<std::size_t>(p)]) << "page " << p + 1;
      const bool has_header = std::any_of(page.Bands.begin(), page.Bands.end(),
                                          [](const TQRPlacedBand& b) { return b.Type == TQRBandType::rbPageHeader; });
      const bool has_footer = std::any_of(page.Bands.begin(), page.Bands.end(),
                                          [](const TQRPlacedBand& b) { return b.Type == TQRBandType::rbPageFooter; });
      EXPECT_EQ(has_header, c.header > 0);
      EXPECT_EQ(has_footer, c.footer > 0);
    }
    EXPECT_EQ(next, c.records + 1);
  }
}

// Items of the prepared page that a text control made, by its first line.
const TQRTextItem* TextItem(const TQRPreparedPage& page, const QString& first_line) {
  for (const TQRItem& item : page.Items)
    if (const auto* t = std::get_if<TQRTextItem>(&item);
        t != nullptr && !t->Lines.isEmpty() && t->Lines[0] == first_line)
      return t;
  return nullptr;
}

TEST_F(ReportLayoutTest, StretchingTextsGrowTheBandAndPushWhatLiesBelow) {
  // A link-list band: URL and notes stretch, a line at the bottom, a label
  // beside the URL that does not move.
  Fill({{"u1\nu2\nu3", "n1\nn2\nn3\nn4"}, {"short", "short"}});
  TQRBand* detail = Band(TQRBandType::rbDetail, 136);
  auto text = [&](const char* field, int top) {
    auto* t = new TQRDBText(detail);
    t->SetDataField(field);
    t->SetAutoSize(false);
    t->SetAutoStretch(true);
    t->SetBounds(60, top, 505, 17);
  };
  text("Name", 25);
  text("Notes", 50);
  auto* side = new TQRLabel(detail);
  side->SetCaption("beside");
  side->SetBounds(600, 30, 60, 17);
  auto* line = new TQRShape(detail);
  line->SetShape(TQRShapeType::qrsHorLine);
  line->SetBounds(0, 128, 720, 8);
  rep_.Prepare();

  // Growth of a 17-high text of n lines, from the line height of the font
  // the machine has for the default face (even one line can grow).
  const double lh = ReportLineHeight(TQRFont());
  auto growth = [lh](int lines) { return std::max(0.0, std::ceil(lines * lh - 17)); };
  const double g1 = growth(3), g2 = growth(4), g0 = growth(1);
  const TQRPreparedPage& page = rep_.Prepared()->Page(0);
  const TQRPlacedBand& first = Placed(0, TQRBandType::rbDetail, 0);
  EXPECT_DOUBLE_EQ(first.Rect.height(), 136 + g1 + g2);
  const TQRTextItem* url = TextItem(page, "u1");
  const TQRTextItem* notes = TextItem(page, "n1");
  ASSERT_TRUE(url && notes);
  EXPECT_EQ(url->Lines, QStringList({"u1", "u2", "u3"}));
  EXPECT_EQ(notes->Lines, QStringList({"n1", "n2", "n3", "n4"}));
  EXPECT_DOUBLE_EQ(url->Rect.top(), first.Rect.top() + 25);
  EXPECT_DOUBLE_EQ(notes->Rect.top(), first.Rect.top() + 50 + g1);
  EXPECT_DOUBLE_EQ(TextItem(page, "beside")->Rect.top(), first.Rect.top() + 30);
  std::vector<double> line_ys;
  for (const TQRItem& item : page.Items)
    if (const auto* l = std::get_if<TQRLineItem>(&item)) line_ys.push_back(l->From.y());
  ASSERT_EQ(line_ys.size(), 2u);
  EXPECT_DOUBLE_EQ(line_ys[0], first.Rect.top() + 132 + g1 + g2);
  // The second record's one-line texts grow only where a line is taller
  // than 17.
  const TQRPlacedBand& second = Placed(0, TQRBandType::rbDetail, 1);
  EXPECT_DOUBLE_EQ(second.Rect.top(), first.Rect.bottom());
  EXPECT_DOUBLE_EQ(second.Rect.height(), 136 + 2 * g0);
  EXPECT_DOUBLE_EQ(line_ys[1], second.Rect.top() + 132 + 2 * g0);
}

TEST(ReportTextTest, LinesBreakWithinTheWidthAndKeepEveryCharacter) {
  const QString long_word(90, QChar('x'));
  const QString texts[] = {
      QStringLiteral("The quick brown fox jumps over the lazy dog while the catalogue prints its notes"),
      long_word,
      QStringLiteral("before ") + long_word + QStringLiteral(" after"),
  };
  TQRFont font;
  for (const QString& text : texts) {
    for (double width : {60.0, 120.0, 505.0}) {
      std::vector<double> widths;
      const QStringList lines = BreakTextLines(text, font, width, &widths);
      ASSERT_EQ(widths.size(), static_cast<std::size_t>(lines.size()));
      for (double w : widths) EXPECT_LE(w, width + 0.5) << text.toStdString() << " at " << width;
      // Breaks fall on spaces (dropped) or inside a word too long for a line.
      QString joined = lines.join(QString());
      QString expected = text;
      expected.remove(QChar(' '));
      EXPECT_EQ(joined.remove(QChar(' ')), expected);
    }
  }
  EXPECT_EQ(BreakTextLines("a\r\nb\rc\n\nd", font, 0, nullptr), QStringList({"a", "b", "c", "", "d"}));
}

TEST_F(ReportLayoutTest, FixedHeightTextShowsTheLinesThatFit) {
  Fill({{"l1\nl2\nl3\nl4\nl5"}});
  TQRBand* detail = Band(TQRBandType::rbDetail, 200);
  const double lh = ReportLineHeight(TQRFont());
  for (int height : {5, 17, 40, 200}) {
    auto* t = new TQRDBText(detail);
    t->SetDataField("Name");
    t->SetBounds(0, 0, 300, height);
  }
  rep_.Prepare();
  std::vector<qsizetype> shown;
  for (const TQRItem& item : rep_.Prepared()->Page(0).Items)
    if (const auto* t = std::get_if<TQRTextItem>(&item)) {
      shown.push_back(t->Lines.size());
      // Never more lines than the height holds, but always the first.
      EXPECT_TRUE(t->Lines.size() == 1 || t->Lines.size() * lh <= t->Rect.height() + 0.01);
    }
  // As many whole lines of the machine's font as the height holds, at
  // least one, at most the five there are.
  std::vector<qsizetype> fit;
  for (int height : {5, 17, 40, 200})
    fit.push_back(std::clamp<qsizetype>(static_cast<qsizetype>(std::floor((height + 0.01) / lh)), 1, 5));
  EXPECT_EQ(shown, fit);
  EXPECT_DOUBLE_EQ(Placed(0, TQRBandType::rbDetail).Rect.height(), 200);
}

TEST_F(ReportLayoutTest, BeforePrintSeesTheRecordAndMayLeaveTheBandOut) {
  Fill(6);
  TQRBand* title = Band(TQRBandType::rbTitle, 30);
  TQRBand* detail = Band(TQRBandType::rbDetail, 30);
  std::string title_saw;
  title->BeforePrint = [&](TQRBand&, bool&) { title_saw = ds_.FieldByName("Name")->AsString(); };
  std::vector<std::string> saw;
  detail->BeforePrint = [&](TQRBand& band, bool& print) {
    EXPECT_EQ(&band, detail);
    saw.push_back(ds_.FieldByName("Name")->AsString() + "#" + std::to_string(rep_.RecordNumber()));
    print = rep_.RecordNumber() % 2 == 0;
  };
  ds_.First();
  ds_.MoveBy(3);
  rep_.Prepare();
  EXPECT_EQ(title_saw, "rec1");
  EXPECT_EQ(saw, (std::vector<std::string>{"rec1#1", "rec2#2", "rec3#3", "rec4#4", "rec5#5", "rec6#6"}));
  EXPECT_EQ(DetailsPerPage(), (std::vector<std::vector<int>>{{2, 4, 6}}));
  // Left out bands take no room.
  EXPECT_DOUBLE_EQ(Placed(0, TQRBandType::rbDetail, 1).Rect.top(), kTop + 30 + 30);
  EXPECT_EQ(ds_.FieldByName("Name")->AsString(), "rec4");
}

TEST_F(ReportLayoutTest, ClearedPictureShowsNone) {
  const std::string file = printtest::OutputPath("layout_pic.bmp");
  printtest::MakeBmpFile(file, 40, 30, clRed);
  Fill({{"a", "", file}, {"b", "", ""}, {"c", "", file}, {"d", "", ""}});
  TQRBand* detail = Band(TQRBandType::rbDetail, 100);
  auto* image = new TQRImage(detail);
  image->SetBounds(10, 10, 50, 50);
  detail->BeforePrint = [&](TQRBand&, bool&) {
    const std::string f = ds_.FieldByName("File")->AsString();
    if (f.empty())
      image->Picture().Assign(nullptr);
    else
      image->Picture().LoadFromFile(f);
  };
  rep_.Prepare();
  std::vector<bool> has_picture;
  const TQRPreparedPage& page = rep_.Prepared()->Page(0);
  for (const TQRPlacedBand& b : page.Bands) {
    bool found = false;
    for (const TQRItem& item : page.Items)
      if (const auto* im = std::get_if<TQRImageItem>(&item); im != nullptr && b.Rect.contains(im->Rect)) found = true;
    has_picture.push_back(found);
  }
  EXPECT_EQ(has_picture, (std::vector<bool>{true, false, true, false}));
}

TEST_F(ReportLayoutTest, FailingEventKeepsPagesBuiltAndTheDataSet) {
  Fill(5);
  Band(TQRBandType::rbPageFooter, 40);
  TQRBand* detail = Band(TQRBandType::rbDetail, 400);
  detail->BeforePrint = [&](TQRBand&, bool&) {
    if (rep_.RecordNumber() == 4) throw EInvalidGraphic("Unknown picture file extension (.xyz)");
  };
  ds_.First();
  ds_.Next();
  EXPECT_EQ(testsupport::ErrorText<Exception>([&] { rep_.Prepare(); }), "Unknown picture file extension (.xyz)");
  ASSERT_NE(rep_.Prepared(), nullptr);
  EXPECT_EQ(DetailsPerPage(), (std::vector<std::vector<int>>{{1, 2}, {3}}));
  // The unfinished page still gets its footer.
  EXPECT_DOUBLE_EQ(Placed(1, TQRBandType::rbPageFooter).Rect.bottom(), kBottom);
  EXPECT_FALSE(ds_.ControlsDisabled());
  EXPECT_EQ(ds_.FieldByName("Name")->AsString(), "rec2");
  EXPECT_EQ(rep_.PageNumber(), 0);
  EXPECT_EQ(rep_.RecordNumber(), 0);
}

TEST_F(ReportLayoutTest, ClosedDataSetIsRefused) {
  Band(TQRBandType::rbDetail, 40);
  EXPECT_EQ(testsupport::ErrorText<EDatabaseError>([&] { rep_.Prepare(); }),
            "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(rep_.Prepared(), nullptr);
}

TEST_F(ReportLayoutTest, DataSetGoneBeforeTheReport) {
  auto* ds = new MemoryDataSet(nullptr, {{"Name", TFieldType::ftString, 40}});
  TQRBand* detail = Band(TQRBandType::rbDetail, 40);
  auto* text = new TQRDBText(detail);
  text->SetDataSet(ds);
  text->SetDataField("Name");
  rep_.SetDataSet(ds);
  delete ds;
  EXPECT_EQ(rep_.DataSet(), nullptr);
  EXPECT_EQ(text->DataSet(), nullptr);
  // Without a dataset the detail band prints once.
  rep_.Prepare();
  EXPECT_EQ(DetailsPerPage(), (std::vector<std::vector<int>>{{1}}));
}

}  // namespace
}  // namespace fw
