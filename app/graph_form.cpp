#include "app/graph_form.h"

namespace app {

TGraphForm* GraphForm = nullptr;

TGraphForm::TGraphForm(fw::TComponent* owner) : TForm(owner) {
  SetName("GraphForm");
  SetCaption("View/Print Graphs");
  SetClientSize(600, 260);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Select and Run Graph");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(600 - 87, 260 - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
}

}  // namespace app
