// TAutoCaptureHelpForm: the help text of auto-capture. Shell only: its
// caption, header and OK button; the rest of the window is not built.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"

namespace app {

class TAutoCaptureHelpForm : public fw::TForm {
 public:
  explicit TAutoCaptureHelpForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TBitBtn* OKBut;
};

extern TAutoCaptureHelpForm* AutoCaptureHelpForm;

}  // namespace app
