#include "app/auto_capture_help_form.h"

#include <string>

namespace app {

TAutoCaptureHelpForm* AutoCaptureHelpForm = nullptr;

TAutoCaptureHelpForm::TAutoCaptureHelpForm(fw::TComponent* owner) : TForm(owner) {
  constexpr int kWidth = 480;
  constexpr int kHeight = 400;
  SetName("AutoCaptureHelpForm");
  SetCaption("Auto-Capture Help");
  SetClientSize(kWidth, kHeight);
  SetPosition(fw::TPosition::poScreenCenter);
  HeaderLabel = Make<fw::TLabel>("HeaderLabel", this);
  HeaderLabel->SetFont({"", 12, fw::clNavy, true});
  HeaderLabel->SetCaption("Auto-Capture Help");
  HeaderLabel->SetBounds(12, 10, HeaderLabel->Width(), HeaderLabel->Height());
  HelpMemo = Make<fw::TMemo>("HelpMemo", this);
  HelpMemo->SetBounds(12, 40, kWidth - 24, kHeight - 90);
  HelpMemo->SetAnchors(fw::akLeft | fw::akTop | fw::akRight | fw::akBottom);
  HelpMemo->SetReadOnly(true);
  HelpMemo->SetText(std::string(
      "1. In your web browser, copy the address (URL) of a picture, for example\r\n"
      "   ") + kExampleURL + ".\r\n"
      "2. Press \"Paste\" in the Auto-Capture Details window: the address goes into \"URL Prefix\".\r\n"
      "3. If the picture is one of a numbered series, delete its running number from the end of "
      "\"URL Prefix\" together with everything after it. Keep all but one of the number's leading "
      "zeroes (for aqua07.jpg the prefix ends in \"aqua\").\r\n"
      "4. Put the part after the number into \"URL Suffix\", for example \".jpg\".\r\n"
      "5. Give the low and the high end of the range in \"Range Low\" and \"Range High\". Check "
      "\"Embed Leading Zeroes\" when the number had a leading zero: a range of 1 to 10 then gives "
      "01, 02, ... 09, 10.\r\n"
      "6. Check \"Run Unattended\" to download every picture of the range without being asked "
      "whether to keep it.\r\n"
      "7. Press OK to start.");
  OKBut = Make<fw::TBitBtn>("OKBut", this);
  OKBut->SetKind(fw::TBitBtnKind::bkOK);
  OKBut->SetBounds(kWidth - 87, kHeight - 37, 75, 25);
  OKBut->SetAnchors(fw::akRight | fw::akBottom);
  OKBut->OnClick = [this](fw::TComponent* s) { OKButClick(s); };
}

void TAutoCaptureHelpForm::OKButClick(fw::TComponent*) { Close(); }

}  // namespace app
