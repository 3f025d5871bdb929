#include "app/report_form.h"

namespace app {

TReportForm* ReportForm = nullptr;

TReportForm::TReportForm(fw::TComponent* owner) : TForm(owner) {
  SetName("ReportForm");
  SetCaption("View/Print Reports");
  SetClientSize(330, 260);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Select and Run Report");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(330 - 87, 260 - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
}

}  // namespace app
