#include "framework/chart/bar_series.h"

#include "framework/chart/db_chart.h"
#include "framework/db/data_link.h"
#include "framework/db/dataset.h"
#include "framework/db/dataset_walk.h"

namespace fw {

class TBarSeries::Link : public TDataLink {
 public:
  explicit Link(TBarSeries& series) : series_(series) {}

 protected:
  void ActiveChanged() override { series_.DataChanged(); }
  void DataSetChanged() override { series_.DataChanged(); }
  void LayoutChanged() override { series_.DataChanged(); }
  // Scrolling and field edits leave the records as they are; a post
  // follows as a data-set change.
  void DataSetScrolled(int) override {}
  void RecordChanged(TField*) override {}
  void EditingChanged() override {
    if (series_.pending_) series_.DataChanged();
  }

 private:
  TBarSeries& series_;
};

TBarSeries::TBarSeries(TDBChart* chart)
    : TComponent(chart), chart_(chart), source_(std::make_unique<TDataSource>(nullptr)),
      link_(std::make_unique<Link>(*this)) {
  link_->SetDataSource(source_.get());
  if (chart_ != nullptr) chart_->SeriesChanged();
}

TBarSeries::~TBarSeries() {
  link_.reset();
  source_.reset();
  if (chart_ != nullptr && !chart_->Destroying()) chart_->SeriesChanged();
}

void TBarSeries::SetTitle(const std::string& title) {
  title_ = title;
  Changed();
}

void TBarSeries::SetSeriesColor(TColor color) {
  color_ = color;
  Changed();
}

void TBarSeries::SetMarksVisible(bool v) {
  marks_visible_ = v;
  Changed();
}

TDataSet* TBarSeries::DataSource() const { return source_->DataSet(); }

void TBarSeries::SetDataSource(TDataSet* dataset) {
  source_->SetDataSet(dataset);
  DataChanged();
}

void TBarSeries::SetXLabelsSource(const std::string& field_name) {
  x_labels_source_ = field_name;
  DataChanged();
}

void TBarSeries::SetYValuesSource(const std::string& field_name) {
  y_values_source_ = field_name;
  DataChanged();
}

void TBarSeries::Clear() {
  labels_.clear();
  values_.clear();
  Changed();
}

void TBarSeries::Add(double value, const std::string& label) {
  labels_.push_back(label);
  values_.push_back(value);
  Changed();
}

void TBarSeries::CheckDataSource() {
  pending_ = false;
  std::vector<std::string> labels;
  std::vector<double> values;
  TDataSet* ds = DataSource();
  if (ds != nullptr && ds->Active()) {
    filling_ = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{filling_};
    DataSetWalk walk(*ds);
    const TField* label = x_labels_source_.empty() ? nullptr : ds->FieldByName(x_labels_source_);
    const TField* value = ds->FieldByName(y_values_source_);
    for (ds->First(); !ds->Eof(); ds->Next()) {
      labels.push_back(label != nullptr ? label->DisplayText() : std::string());
      values.push_back(value->IsNull() ? 0.0 : value->AsFloat());
    }
  }
  labels_ = std::move(labels);
  values_ = std::move(values);
  Changed();
}

void TBarSeries::DataChanged() {
  if (filling_ || chart_ == nullptr || !chart_->AutoRefresh()) return;
  TDataSet* ds = DataSource();
  if (ds != nullptr && ds->Active() && ds->State() != TDataSetState::dsBrowse) {
    pending_ = true;
    return;
  }
  try {
    CheckDataSource();
  } catch (const Exception&) {
    // Told by the dataset in the middle of its own work: no place to raise.
    Clear();
  }
}

void TBarSeries::Changed() {
  if (chart_ != nullptr) chart_->SeriesChanged();
}

}  // namespace fw
