#include "app/auto_capture_help_form.h"

namespace app {

TAutoCaptureHelpForm* AutoCaptureHelpForm = nullptr;

TAutoCaptureHelpForm::TAutoCaptureHelpForm(fw::TComponent* owner) : TForm(owner) {
  SetName("AutoCaptureHelpForm");
  SetCaption("Auto-Capture Help");
  SetClientSize(440, 330);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Auto-Capture Help");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(440 - 87, 330 - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
}

}  // namespace app
