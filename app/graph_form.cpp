#include "app/graph_form.h"

#include <memory>

#include "app/generic_graph_form.h"
#include "framework/forms/application.h"

namespace app {

TGraphForm* GraphForm = nullptr;

TGraphForm::TGraphForm(fw::TComponent* owner) : TForm(owner) {
  constexpr int kWidth = 600;
  constexpr int kHeight = 260;
  SetName("GraphForm");
  SetCaption("View/Print Graphs");
  SetClientSize(kWidth, kHeight);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Select and Run Graph");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  fw::TPanel** panels[] = {&Type1Panel, &Type2Panel, &Type3Panel};
  fw::TDBChart** charts[] = {&Type1Chart, &Type2Chart, &Type3Chart};
  for (int n = 1; n <= 3; ++n) {
    const std::string suffix = std::to_string(n);
    fw::TPanel* panel = Make<fw::TPanel>("Type" + suffix + "Panel", this);
    panel->SetBevelOuter(fw::TPanelBevel::bvNone);
    panel->SetBounds(12 + (n - 1) * 197, 44, 185, 161);
    fw::TDBChart* chart = NewCountChart(this, "Type" + suffix + "Chart", n, *panel, false);
    // Small: its category names show whole on lines of their own.
    chart->SetCompact(true);
    chart->OnClick = [this, n](fw::TDBChart&) { fw::Guarded([&] { Graph(n); }, this); };
    *panels[n - 1] = panel;
    *charts[n - 1] = chart;
  }
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(kWidth - 87, kHeight - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);

  OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
}

void TGraphForm::FormActivate(fw::TComponent*) { PrepareData(); }

void TGraphForm::PrepareData() { PrepareGraphData(); }

void TGraphForm::Graph(int n) {
  std::unique_ptr<TGenericGraphForm> form(new TGenericGraphForm(this));
  form->ShowGraph(n);
  form->GraphPanel->Show();
  form->ShowModal();
}

}  // namespace app
