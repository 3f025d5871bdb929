// TAutoCaptureHelpForm: how to fill in the auto-capture settings, as a
// fixed text of numbered steps. Shown (not modally) from the settings
// window; its OK button closes it.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"
#include "framework/forms/memo.h"

namespace app {

class TAutoCaptureHelpForm : public fw::TForm {
 public:
  explicit TAutoCaptureHelpForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TMemo* HelpMemo;
  fw::TBitBtn* OKBut;

  void OKButClick(fw::TComponent* sender);

  // The example picture of the help text, on the maker's web site.
  static constexpr const char* kExampleURL = "http://www.morvella.example/images/aqua07.jpg";
};

extern TAutoCaptureHelpForm* AutoCaptureHelpForm;

}  // namespace app
