// TAutoCaptureForm: the settings of an auto-capture run. Shell only: its
// caption, header and OK button; the rest of the window is not built.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"

namespace app {

class TAutoCaptureForm : public fw::TForm {
 public:
  explicit TAutoCaptureForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TBitBtn* OKBut;
};

extern TAutoCaptureForm* AutoCaptureForm;

}  // namespace app
