// Bar charts over a dataset: the bars equal the dataset's label/value
// pairs (an empty label is a bar of its own), the series follows the
// dataset as it opens, changes and closes but not while a record is being
// edited, the user's position stays, a missing field empties the series,
// the grab to PNG shows red bars in the values' proportions, and the
// printed PDF carries the title, labels and value marks.
#include <gtest/gtest.h>

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QApplication>
#include <QChart>

#include <map>
#include <sstream>

#include "framework/chart/db_chart.h"
#include "framework/db/dataset.h"
#include "platform/text.h"
#include "printing_test_support.h"
#include "tests/common/error_text.h"

namespace fw {
namespace {

using testing::MemoryDataSet;

constexpr const char* kCount = "Count Of type1num";

class ChartTest : public ::testing::Test {
 protected:
  ChartTest()
      : ds_(nullptr, {{"category", TFieldType::ftString, 30}, {kCount, TFieldType::ftInteger}}), chart_(nullptr) {
    chart_.SetTitle("Journal Entries");
    chart_.SetLegendVisible(false);
    chart_.SetView3D(false);
    chart_.SetBackWall({.Transparent = true});
    series_ = new TBarSeries(&chart_);
    series_->SetSeriesColor(clRed);
    series_->SetMarksVisible(true);
    series_->SetXLabelsSource("category");
    series_->SetYValuesSource(kCount);
  }
  void Add(const std::string& category, int count) {
    ds_.AppendRecord({category.empty() ? Variant() : Variant(category), Variant(count)});
  }
  using Pairs = std::vector<std::pair<std::string, double>>;
  Pairs SeriesPairs() const {
    Pairs out;
    for (int i = 0; i < series_->Count(); ++i) out.emplace_back(series_->XLabel(i), series_->YValue(i));
    return out;
  }
  // What the Qt chart shows: category texts (without the zero-width
  // spaces that keep them apart) and bar heights.
  Pairs ShownPairs() const {
    Pairs out;
    const auto bars = chart_.Chart()->series();
    if (bars.isEmpty()) return out;
    auto* bar = static_cast<QBarSeries*>(bars.front());
    auto* axis = static_cast<QBarCategoryAxis*>(chart_.Chart()->axes(Qt::Horizontal).front());
    const QStringList categories = axis->categories();
    QBarSet* set = bar->barSets().front();
    EXPECT_EQ(categories.size(), set->count());
    for (int i = 0; i < set->count() && i < categories.size(); ++i)
      out.emplace_back(QString(categories[i]).remove(QChar(0x200B)).toStdString(), set->at(i));
    return out;
  }

  MemoryDataSet ds_;
  TDBChart chart_;
  TBarSeries* series_;
};

TEST_F(ChartTest, BarsEqualTheDataSetsPairsAndFollowIt) {
  ds_.Open();
  Add("Feeding Habits", 3);
  Add("", 2);
  Add("Research", 7);
  series_->SetDataSource(&ds_);
  const Pairs want = {{"Feeding Habits", 3}, {"", 2}, {"Research", 7}};
  EXPECT_EQ(SeriesPairs(), want);
  EXPECT_EQ(ShownPairs(), want);
  auto* bar = static_cast<QBarSeries*>(chart_.Chart()->series().front());
  EXPECT_TRUE(bar->isLabelsVisible());
  EXPECT_EQ(bar->barSets().front()->color(), QColor(Qt::red));
  EXPECT_FALSE(chart_.Chart()->legend()->isVisible());
  EXPECT_FALSE(chart_.Chart()->isPlotAreaBackgroundVisible());

  // A new record, posted: one bar more; the user's position stays.
  ds_.First();
  ds_.Next();
  Add("Purchases", 1);
  EXPECT_EQ(SeriesPairs().size(), 4u);
  ds_.First();
  ds_.Next();
  // An edit shows only once posted.
  ds_.Edit();
  ds_.FieldByName(kCount)->SetAsInteger(5);
  EXPECT_EQ(SeriesPairs()[1].second, 2);
  ds_.Post();
  EXPECT_EQ(SeriesPairs()[1], (std::pair<std::string, double>{"", 5}));
  EXPECT_EQ(ds_.RecNo(), 2);
  // Scrolling does not refill; closing empties; opening fills again.
  ds_.Next();
  EXPECT_EQ(ShownPairs().size(), 4u);
  ds_.Close();
  EXPECT_EQ(series_->Count(), 0);
  EXPECT_TRUE(ShownPairs().empty());
  ds_.Open();
  EXPECT_EQ(series_->Count(), 4);

  // Without AutoRefresh the series waits for RefreshData.
  chart_.SetAutoRefresh(false);
  Add("Various / Other", 9);
  EXPECT_EQ(series_->Count(), 4);
  chart_.RefreshData();
  EXPECT_EQ(series_->Count(), 5);
}

TEST_F(ChartTest, MissingFieldEmptiesTheSeries) {
  ds_.Open();
  Add("Research", 7);
  series_->SetYValuesSource("Count Of type2num");
  series_->SetDataSource(&ds_);
  EXPECT_EQ(series_->Count(), 0);
  EXPECT_EQ(testsupport::ErrorText<EDatabaseError>([&] { series_->CheckDataSource(); }),
            "Field 'Count Of type2num' not found");
}

TEST_F(ChartTest, DataSetGoneFirst) {
  auto* ds = new MemoryDataSet(nullptr, {{"category", TFieldType::ftString, 30}, {kCount, TFieldType::ftInteger}});
  ds->Open();
  ds->AppendRecord({Variant("Research"), Variant(4)});
  series_->SetDataSource(ds);
  EXPECT_EQ(series_->Count(), 1);
  delete ds;
  EXPECT_EQ(series_->DataSource(), nullptr);
  EXPECT_EQ(series_->Count(), 0);
}

// Heights of the runs of red columns in image, left to right.
std::vector<int> RedBarHeights(const QImage& image) {
  std::vector<int> heights;
  bool in_bar = false;
  for (int x = 0; x < image.width(); ++x) {
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 60 && c.blue() < 60) ++red;
    }
    if (red > 0 && !in_bar) heights.push_back(red);
    if (red > 0 && in_bar) heights.back() = std::max(heights.back(), red);
    in_bar = red > 0;
  }
  return heights;
}

// Whitespace-separated words of text, counted.
std::map<std::string, int> WordCounts(const std::string& text) {
  std::map<std::string, int> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) ++out[w];
  return out;
}

TEST_F(ChartTest, GrabAndPrint) {
  ds_.Open();
  Add("Feeding Habits", 3);
  Add("Plant Health", 5);
  Add("Research", 11);
  series_->SetDataSource(&ds_);

  const std::string png = printtest::OutputPath("chart.png");
  chart_.SaveToPngFile(png, QSize(640, 480));
  QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(640, 480));
  const std::vector<int> heights = RedBarHeights(image);
  ASSERT_EQ(heights.size(), 3u);
  // Heights grow with the values: 8 units from the first bar to the third
  // take four times the pixels of the 2 to the second.
  EXPECT_GT(heights[0], 20);
  EXPECT_NEAR(heights[2] - heights[0], 4 * (heights[1] - heights[0]), 4);
  // A grab at another size leaves the chart's own layout as it was.
  EXPECT_EQ(chart_.Grab(QSize(320, 240)).size(), QSize(320, 240));
  EXPECT_EQ(RedBarHeights(chart_.Grab(QSize(640, 480))), heights);

  const std::string pdf = printtest::OutputPath("chart.pdf");
  chart_.PrintTo(*printtest::PdfPrinter(pdf));
  EXPECT_EQ(printtest::PdfPages(pdf), 1);
  EXPECT_EQ(printtest::PdfInfo(pdf, "Title"), "Journal Entries");
  const std::string text = printtest::PdfText(pdf);
  for (const char* s : {"Journal Entries", "Feeding Habits", "Plant Health", "Research"})
    EXPECT_NE(text.find(s), std::string::npos) << s << " in\n" << text;
  // The value marks are the words that go when the marks are switched off.
  series_->SetMarksVisible(false);
  const std::string bare = printtest::OutputPath("chart_bare.pdf");
  chart_.PrintTo(*printtest::PdfPrinter(bare));
  std::map<std::string, int> marks = WordCounts(text);
  for (const auto& [word, n] : WordCounts(printtest::PdfText(bare)))
    if ((marks[word] -= n) == 0) marks.erase(word);
  EXPECT_EQ(marks, (std::map<std::string, int>{{"11", 1}, {"3", 1}, {"5", 1}}));
}

// Labels are the user's text, shown as written: nothing in them is taken
// for markup. Each label is checked in a chart of its own, printed to PDF.
TEST_F(ChartTest, LabelsShowAsWritten) {
  ds_.Open();
  series_->SetDataSource(&ds_);
  for (const char* label : {"a<b", "<b>Bold</b>&Co", "x&amp;y", "<img src=\"x\">Caf\xE9"}) {
    SCOPED_TRACE(label);
    while (!ds_.IsEmpty()) ds_.Delete();
    Add(label, 1);
    // The old axis's label items go with the event loop's deferred deletes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const std::string pdf = printtest::OutputPath("chart_label.pdf");
    chart_.PrintTo(*printtest::PdfPrinter(pdf));
    const std::string text = printtest::PdfText(pdf);
    EXPECT_NE(text.find(platform::Cp1252ToUtf8(label)), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace fw
