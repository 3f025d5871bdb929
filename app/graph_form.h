// TGraphForm: "View/Print Graphs", the three count charts side by side,
// each filling a 185 x 161 panel (app/generic_graph_form.h lists them),
// compact so that their category names show whole.
// Activating the window reopens the charts' queries; a click on a chart
// opens it large in a TGenericGraphForm (Graph).
#pragma once

#include "framework/chart/db_chart.h"
#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"
#include "framework/forms/panels.h"

namespace app {

class TGraphForm : public fw::TForm {
 public:
  explicit TGraphForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TPanel* Type1Panel;
  fw::TPanel* Type2Panel;
  fw::TPanel* Type3Panel;
  fw::TDBChart* Type1Chart;
  fw::TDBChart* Type2Chart;
  fw::TDBChart* Type3Chart;
  fw::TBitBtn* OKBut;

  void FormActivate(fw::TComponent* sender);
  void PrepareData();
  // Shows chart n (1..3) large, modally, in a new TGenericGraphForm owned
  // by this window, and frees it.
  void Graph(int n);
};

extern TGraphForm* GraphForm;

}  // namespace app
