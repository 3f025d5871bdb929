// TGraphForm: the window of the three small bar charts. Shell only: its
// caption, header and OK button; the rest of the window is not built.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"

namespace app {

class TGraphForm : public fw::TForm {
 public:
  explicit TGraphForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TBitBtn* OKBut;
};

extern TGraphForm* GraphForm;

}  // namespace app
