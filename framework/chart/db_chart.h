// TDBChart: a chart of bar series filled from datasets, shown in a Qt
// Charts view, printed, and drawn to pictures.
//
//   auto* chart = new TDBChart(owner);
//   chart->SetTitle("Journal Entries");
//   chart->SetLegendVisible(false);
//   chart->SetView3D(false);
//   chart->SetBackWall({.Transparent = true});
//   auto* bars = new TBarSeries(chart);
//   bars->SetSeriesColor(clRed);
//   bars->SetXLabelsSource("category");
//   bars->SetYValuesSource("Count Of type1num");
//   bars->SetDataSource(query);          // fills now and when query changes
//   layout->addWidget(chart->View());    // or chart->Print(), Grab()
//
// The bars of every series stand over the labels of the first series.
// Labels are shown as they are, an empty label as an empty category; two
// bars with the same label stay two bars.
//
// Drawing is always flat; View3D is kept for callers that set it.
//
// A compact chart (a small one among others in a window) uses small type
// and narrow margins, leaves the value axis unlabelled (the bars' marks
// give the values) and breaks its category labels into lines at their
// blanks, so that they show whole where a normal chart would cut them
// short with "...".
//
// The chart deletes its view when it goes, unless Qt deleted the view
// first together with a parent widget it was placed in.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QChartView>
#include <QImage>
#include <QPointer>
#include <QSize>

#include "framework/chart/bar_series.h"
#include "framework/component.h"
#include "framework/gui/graphics.h"

class QChart;
class QPainter;
class QPrinter;
class QRectF;

namespace fw {

// The plot area behind the bars.
struct TChartWall {
  bool Transparent = false;
  TColor Color = 0xC0C0C0;
};

class TDBChart : public TComponent {
 public:
  explicit TDBChart(TComponent* owner);
  ~TDBChart() override;

  QChartView* View() const { return view_; }
  QChart* Chart() const { return chart_; }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  bool LegendVisible() const { return legend_visible_; }
  void SetLegendVisible(bool v);
  bool View3D() const { return view_3d_; }
  void SetView3D(bool v) { view_3d_ = v; }
  const TChartWall& BackWall() const { return back_wall_; }
  void SetBackWall(const TChartWall& wall);
  // Series refill themselves when their datasets change.
  bool AutoRefresh() const { return auto_refresh_; }
  void SetAutoRefresh(bool v) { auto_refresh_ = v; }
  bool Compact() const { return compact_; }
  void SetCompact(bool v);

  std::vector<TBarSeries*> Series() const;
  // Refills every series from its dataset.
  void RefreshData();

  // The chart drawn on white at size (default: the view's size once it
  // has one, else 640 x 480).
  QImage Grab(QSize size = {});
  // Grab as a PNG file; EFCreateError "Cannot create file <name>".
  void SaveToPngFile(const std::string& file_name, QSize size = {});
  // Prints on one page, as wide as the paper less half-inch margins (the
  // chart's proportions kept): on the default printer (EPrinter when
  // there is none) or on printer (a PDF file with QPrinter::PdfFormat).
  void Print();
  void PrintTo(QPrinter& printer);

  // A click on the view (mouse button released over it). An exception
  // from the handler is shown in a warning box.
  std::function<void(TDBChart& sender)> OnClick;

  // Called by the series when their points or looks change.
  void SeriesChanged();

 private:
  class ClickFilter;
  QSize LogicalSize() const;
  void Render(QPainter& painter, const QRectF& target, QSize size);
  void Rebuild();

  QPointer<QChartView> view_;
  QChart* chart_ = nullptr;  // owned by the view
  std::unique_ptr<ClickFilter> click_filter_;
  std::string title_;
  bool legend_visible_ = true;
  bool view_3d_ = true;
  TChartWall back_wall_;
  bool auto_refresh_ = true;
  bool compact_ = false;
};

}  // namespace fw
