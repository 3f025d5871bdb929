#include "app/generic_graph_form.h"

#include <QChartView>
#include <QPrintDialog>
#include <QPrinter>
#include <QVBoxLayout>

#include "app/data_module.h"
#include "framework/forms/application.h"

namespace app {

namespace {

struct CountChart {
  const char* title;
  dataset::TTolmidQuery* TDatamodule1::*query;
  const char* sql;
  const char* value_column;
};

// Chart n's title and query (index n - 1). A bar counts every record of its
// category, numbered or not: COUNT(*), under the name the series reads.
constexpr CountChart kCharts[] = {
    {"Journal Entries", &TDatamodule1::Type1GraphQuery, "select category, count(*) as \"Count Of type1num\" from type1 group by category",
     "Count Of type1num"},
    {"Activity Entries", &TDatamodule1::Type2GraphQuery,
     "select category, count(*) as \"Count Of type2num\" from type2 group by category", "Count Of type2num"},
    {"Internet Links", &TDatamodule1::Type4GraphQuery, "select category, count(*) as \"Count Of type4num\" from type4 group by category",
     "Count Of type4num"},
};

}  // namespace

fw::TDBChart* NewCountChart(fw::TComponent* owner, const std::string& name, int n, fw::TWinControl& parent,
                            bool hidden) {
  const CountChart& chart_def = kCharts[n - 1];
  auto* chart = new fw::TDBChart(owner);
  chart->SetName(name);
  chart->SetTitle(chart_def.title);
  chart->SetLegendVisible(false);
  chart->SetView3D(false);
  chart->SetBackWall({.Transparent = true});
  auto* bars = new fw::TBarSeries(chart);
  bars->SetSeriesColor(fw::clRed);
  bars->SetMarksVisible(true);
  bars->SetXLabelsSource("category");
  bars->SetYValuesSource(chart_def.value_column);
  if (Datamodule1 != nullptr) bars->SetDataSource(Datamodule1->*chart_def.query);
  // The parent's layout gives the view the parent's client area (the
  // whole of it when the parent's other views are hidden).
  QWidget* client = parent.ClientWidget();
  auto* layout = static_cast<QVBoxLayout*>(client->layout());
  if (layout == nullptr) {
    layout = new QVBoxLayout(client);
    const int frame = dynamic_cast<fw::TPanel*>(&parent) ? static_cast<fw::TPanel&>(parent).FrameWidth() : 0;
    layout->setContentsMargins(frame, frame, frame, frame);
  }
  layout->addWidget(chart->View());
  chart->View()->setHidden(hidden);
  return chart;
}

void PrepareGraphData() {
  for (const CountChart& chart_def : kCharts) {
    dataset::TTolmidQuery& q = *(Datamodule1->*chart_def.query);
    q.Close();
    q.SetSQLText(chart_def.sql);
    q.Open();
  }
}

TGenericGraphForm::TGenericGraphForm(fw::TComponent* owner) : TForm(owner) {
  constexpr int kWidth = 640;
  constexpr int kHeight = 480;
  SetName("GenericGraphForm");
  SetCaption("View/Print Graph");
  SetClientSize(kWidth, kHeight);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("View/Print Graph");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  GraphPanel = Make<fw::TPanel>("GraphPanel", this);
  GraphPanel->SetBevelOuter(fw::TPanelBevel::bvLowered);
  GraphPanel->SetBounds(12, 40, kWidth - 24, kHeight - 90);
  GraphPanel->SetAnchors(fw::akLeft | fw::akTop | fw::akRight | fw::akBottom);
  GraphPanel->SetVisible(false);
  PrintBut = Make<fw::TButton>("PrintBut", this);
  PrintBut->SetCaption("Print");
  PrintBut->SetBounds(kWidth - 174, kHeight - 37, 75, 25);
  PrintBut->SetAnchors(fw::akRight | fw::akBottom);
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(kWidth - 87, kHeight - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
  Type1Graph = NewCountChart(this, "Type1Graph", 1, *GraphPanel, true);
  Type2Graph = NewCountChart(this, "Type2Graph", 2, *GraphPanel, true);
  Type3Graph = NewCountChart(this, "Type3Graph", 3, *GraphPanel, true);

  OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
  PrintBut->OnClick = [this](fw::TComponent* s) { PrintButClick(s); };
}

fw::TDBChart* TGenericGraphForm::Graph(int n) const {
  switch (n) {
    case 1: return Type1Graph;
    case 2: return Type2Graph;
    case 3: return Type3Graph;
    default: return nullptr;
  }
}

void TGenericGraphForm::ShowGraph(int n) {
  if (fw::TDBChart* chart = Graph(n)) chart->View()->setHidden(false);
}

bool TGenericGraphForm::GraphVisible(int n) const {
  fw::TDBChart* chart = Graph(n);
  return chart != nullptr && chart->View() != nullptr && !chart->View()->isHidden();
}

void TGenericGraphForm::FormActivate(fw::TComponent*) { PrepareData(); }

void TGenericGraphForm::PrepareData() { PrepareGraphData(); }

void TGenericGraphForm::PrintButClick(fw::TComponent*) {
  for (int n = 1; n <= 3; ++n) {
    if (!GraphVisible(n)) continue;
    QPrinter printer(QPrinter::HighResolution);
    bool go;
    if (OnPrinterSetup) {
      go = OnPrinterSetup(printer);
    } else {
      // As the report preview does: the user picks a printer, or a PDF
      // file when there is none.
      QPrintDialog dialog(&printer, Widget());
      go = dialog.exec() == QDialog::Accepted;
    }
    if (go) Graph(n)->PrintTo(printer);
  }
}

}  // namespace app
