// TReportForm: the report chooser. Shell only: its caption, header and OK
// button; the rest of the window is not built.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"

namespace app {

class TReportForm : public fw::TForm {
 public:
  explicit TReportForm(fw::TComponent* owner);

  fw::TLabel* HeaderLabel;
  fw::TBitBtn* OKBut;
};

extern TReportForm* ReportForm;

}  // namespace app
