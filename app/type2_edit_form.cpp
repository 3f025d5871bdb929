#include "app/type2_edit_form.h"

namespace app {

TType2EditForm::TType2EditForm(fw::TComponent* owner) : TForm(owner) {
  SetName("Type2EditForm");
  SetCaption("Capture Photos");
  SetClientSize(620, 440);
  SetPosition(fw::TPosition::poScreenCenter);
  ModeLabel = Make<fw::TLabel>("ModeLabel", this);
  ModeLabel->SetVisible(false);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Capture and Process Photos");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(620 - 174, 440 - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
  CancelBut = Make<fw::TBitBtn>("CancelBut", this);
  CancelBut->SetKind(fw::TBitBtnKind::bkCancel);
  CancelBut->SetBounds(620 - 87, 440 - 37, 75, 25);
  CancelBut->SetAnchors(fw::akRight | fw::akBottom);
}

}  // namespace app
