// TBarSeries: the bars of a chart, one a record of a dataset: the label
// from the field XLabelsSource, the height from the field YValuesSource,
// in the dataset's order. A series can also be filled by hand (Add).
//
// Following the dataset. The series watches its dataset through a data
// link; when the parent chart's AutoRefresh is on it refills whenever the
// dataset opens or its data change (not when the user only scrolls), and
// empties when it closes. A change that arrives while a record is being
// edited waits until the dataset is back in browse state. A refill started
// by the dataset that fails (a field missing) leaves the series empty;
// CheckDataSource raises the error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/gui/graphics.h"

namespace fw {

class TDataSet;
class TDataSource;
class TDBChart;

class TBarSeries : public TComponent {
 public:
  // The chart owns the series and shows it.
  explicit TBarSeries(TDBChart* chart);
  ~TBarSeries() override;

  TDBChart* ParentChart() const { return chart_; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  TColor SeriesColor() const { return color_; }
  void SetSeriesColor(TColor color);
  // Value marks: each bar's value printed above it.
  bool MarksVisible() const { return marks_visible_; }
  void SetMarksVisible(bool v);

  TDataSet* DataSource() const;
  void SetDataSource(TDataSet* dataset);
  const std::string& XLabelsSource() const { return x_labels_source_; }
  void SetXLabelsSource(const std::string& field_name);
  const std::string& YValuesSource() const { return y_values_source_; }
  void SetYValuesSource(const std::string& field_name);

  int Count() const { return static_cast<int>(values_.size()); }
  const std::string& XLabel(int index) const { return labels_.at(static_cast<std::size_t>(index)); }
  double YValue(int index) const { return values_.at(static_cast<std::size_t>(index)); }
  void Clear();
  void Add(double value, const std::string& label);

  // Refills from the data source: every record from first to last (the
  // dataset keeps its position); empty when there is no open dataset. A
  // null value counts as 0. Raises "Field '<name>' not found".
  void CheckDataSource();

 private:
  class Link;
  void DataChanged();
  void Changed();

  TDBChart* chart_;
  std::string title_;
  TColor color_ = clRed;
  bool marks_visible_ = true;
  std::string x_labels_source_;
  std::string y_values_source_;
  std::vector<std::string> labels_;
  std::vector<double> values_;
  std::unique_ptr<TDataSource> source_;
  std::unique_ptr<Link> link_;
  bool filling_ = false;
  bool pending_ = false;
};

}  // namespace fw
