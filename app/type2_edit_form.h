// TType2EditForm: the capture window, the editor of captured photo URLs.
// Shell only: its caption, header, hidden ModeLabel and the OK and Cancel
// buttons; the rest of the window is not built.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/label.h"

namespace app {

class TType2EditForm : public fw::TForm {
 public:
  explicit TType2EditForm(fw::TComponent* owner);

  fw::TLabel* ModeLabel;
  fw::TLabel* HeaderLabel;
  fw::TBitBtn* OKBut;
  fw::TBitBtn* CancelBut;
};

}  // namespace app
