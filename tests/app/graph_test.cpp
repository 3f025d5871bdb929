// The graph windows over a catalogue with categories (some empty, one
// record without a number, which counts all the same): each chart's bars
// equal SQLite's GROUP BY over a dump of the tables, the small charts show
// their labels whole; a click opens the chart large, alone, and "Print"
// prints only it (to PDF), through the print dialog when no printer was
// set up.
#include <QApplication>
#include <QBarCategoryAxis>
#include <QChart>
#include <QLineEdit>
#include <QPrintDialog>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <QTimer>

#include "app/generic_graph_form.h"
#include "app/graph_form.h"
#include "tests/app/app_test_support.h"
#include "tests/common/sqlite_peer.h"
#include "tests/common/widget_grab.h"
#include "tests/printing/printing_test_support.h"

namespace apptest {
namespace {

using Counts = std::map<std::string, double>;  // category ("" for none) -> count

class GraphTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    ASSERT_TRUE(Start());
    // category ("" none), with a number? (kinds 1, 2, 4)
    const std::vector<std::pair<std::string, bool>> rows[] = {
        {{"Fish Health", true}, {"Research", true}, {"Fish Health", true}, {"", true}, {"Research", false},
         {"Fish Health", true}, {"", true}},
        {{"Plant Health", true}, {"Plant Health", true}, {"Tank Maintenance", true}},
        {{"Purchases", true}, {"Various / Other", true}, {"", true}, {"Various / Other", true}},
    };
    for (int k = 0; k < 3; ++k) {
      int number = 1000;
      for (const auto& [category, numbered] : rows[k]) {
        FieldValues values;
        if (!category.empty()) values.push_back({"Category", category});
        if (numbered) values.push_back({"Type" + std::to_string(kKinds[k]) + "Num", std::to_string(number++)});
        Put(kKinds[k], values);
      }
    }
  }
  void TearDown() override {
    CatalogueTest::TearDown();
    // What the charts left to deleteLater (see the grab below).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // The table's category and number columns, copied into SQLite.
  void Dump(int kind) {
    const std::string table = "type" + std::to_string(kind), number = table + "num";
    peer_.Exec("create table " + table + " (category text, " + number + " integer)");
    WithTable(table + ".dat", [&](dataset::TTolmidTable& t) {
      t.Open();
      for (t.First(); !t.Eof(); t.Next()) {
        fw::TField* c = t.FieldByName("Category");
        fw::TField* n = t.FieldByName(number);
        peer_.Exec("insert into " + table + " values (" + (c->IsNull() ? "NULL" : "'" + c->AsString() + "'") + ", " +
                   (n->IsNull() ? "NULL" : n->AsString()) + ")");
      }
    });
  }
  // A bar counts every record of its category, numbered or not: SQLite's
  // COUNT(*).
  Counts SqliteCounts(int kind) {
    Counts out;
    for (const std::string& row :
         peer_.Query("select coalesce(category, ''), count(*) from type" + std::to_string(kind) + " group by category"))
      out[row.substr(0, row.rfind('|'))] = std::stod(row.substr(row.rfind('|') + 1));
    return out;
  }
  static Counts ChartCounts(fw::TDBChart& chart) {
    Counts out;
    fw::TBarSeries& s = *chart.Series().at(0);
    for (int i = 0; i < s.Count(); ++i) {
      EXPECT_EQ(out.count(s.XLabel(i)), 0u) << "two bars for " << s.XLabel(i);
      out[s.XLabel(i)] = s.YValue(i);
    }
    return out;
  }

  static constexpr int kKinds[] = {1, 2, 4};
  testsupport::SqlitePeer peer_;
};

TEST_F(GraphTest, BarsCountEachCategoryAndPrintAlone) {
  for (int kind : {1, 2, 4}) Dump(kind);
  auto* graphs = new app::TGraphForm(app::MainForm);
  graphs->Show();  // its activation opens the queries
  fw::TDBChart* charts[] = {graphs->Type1Chart, graphs->Type2Chart, graphs->Type3Chart};
  const char* titles[] = {"Journal Entries", "Activity Entries", "Internet Links"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(titles[i]);
    EXPECT_EQ(charts[i]->Title(), titles[i]);
    const Counts want = SqliteCounts(kKinds[i]);
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(ChartCounts(*charts[i]), want);
  }
  EXPECT_EQ(SqliteCounts(1), (Counts{{"", 2}, {"Fish Health", 3}, {"Research", 2}}));  // the dump is whole
  // The charts drop the items of their old axes through deleteLater, which
  // only an event loop at this level would carry out; a test has none.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // The small charts' labels show whole: nothing cut to "...", and each
  // line within its category's share of the plot's width in the font of
  // the labels.
  testsupport::GrabToPng(*graphs, "app_graphs_small");
  for (fw::TDBChart* chart : charts) {
    SCOPED_TRACE(chart->Title());
    auto* axis = qobject_cast<QBarCategoryAxis*>(chart->Chart()->axes(Qt::Horizontal).value(0));
    ASSERT_NE(axis, nullptr);
    EXPECT_FALSE(axis->truncateLabels() && axis->labelsTruncated());
    const QFontMetricsF metrics(axis->labelsFont());
    const double room = chart->Chart()->plotArea().width() / axis->count();
    for (const QString& label : axis->categories())
      for (const QString& line : QTextDocumentFragment::fromHtml(label).toPlainText().split(
               QRegularExpression(QStringLiteral("[\\n\\x{2028}]"))))
        EXPECT_LE(metrics.horizontalAdvance(line), room) << line.toStdString();
  }

  // A click on the third chart opens it large and alone; Print prints it.
  const std::string pdf = printtest::OutputPath("app_graph_links.pdf");
  int printed = 0;
  bool shown = false;
  app_->OnModalShown = [&](fw::TForm& f) {
    auto& large = dynamic_cast<app::TGenericGraphForm&>(f);
    shown = true;
    EXPECT_EQ(std::make_tuple(large.GraphVisible(1), large.GraphVisible(2), large.GraphVisible(3)),
              std::make_tuple(false, false, true));
    EXPECT_EQ(ChartCounts(*large.Type3Graph), SqliteCounts(4));
    QApplication::processEvents();
    EXPECT_GT(large.Type3Graph->View()->width(), 500);  // it fills the panel
    large.OnPrinterSetup = [&](QPrinter& printer) {
      ++printed;
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(pdf));
      return true;
    };
    large.PrintBut->Click();
    large.OKBut->Click();
  };
  graphs->Type3Chart->OnClick(*graphs->Type3Chart);
  app_->OnModalShown = nullptr;
  EXPECT_TRUE(shown);
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(printed, 1);
  EXPECT_EQ(printtest::PdfPages(pdf), 1);
  EXPECT_TRUE(printtest::InOrder(printtest::PdfText(pdf), {"Internet Links"}));
  const std::string text = printtest::PdfText(pdf);
  for (const char* label : {"Purchases", "Various / Other"}) EXPECT_NE(text.find(label), std::string::npos) << label;
  EXPECT_EQ(graphs->FindComponent("GenericGraphForm"), nullptr);
  delete graphs;
}

// With no printer set up by the caller, "Print" offers the print dialog,
// which prints to a PDF file when there is no printer.
TEST_F(GraphTest, PrintOffersThePrintDialog) {
  auto* graphs = new app::TGraphForm(app::MainForm);
  graphs->Show();
  const std::string pdf = printtest::OutputPath("app_graph_dialog.pdf");
  int dialogs = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QPrintDialog*>(w); d != nullptr && d->isVisible()) {
        ++dialogs;
        // The file name as the user types it (the dialog's own field,
        // which it hands to the printer on OK).
        auto* file = d->findChild<QLineEdit*>(QStringLiteral("filename"));
        if (file == nullptr) {
          ADD_FAILURE() << "the print dialog has no file name field";
          d->reject();
          return;
        }
        file->setText(QString::fromStdString(pdf));
        d->accept();
      }
  });
  app_->OnModalShown = [&](fw::TForm& f) {
    auto& large = dynamic_cast<app::TGenericGraphForm&>(f);
    ticker.start(0);
    fw::Guarded([&] { large.PrintBut->Click(); });
    ticker.stop();
    large.OKBut->Click();
  };
  graphs->Type1Chart->OnClick(*graphs->Type1Chart);
  app_->OnModalShown = nullptr;
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(boxes_.requests.empty()) << boxes_.Texts().front();
  EXPECT_EQ(printtest::PdfPages(pdf), 1);
  EXPECT_TRUE(printtest::InOrder(printtest::PdfText(pdf), {"Journal Entries"}));
  delete graphs;
}

}  // namespace
}  // namespace apptest
