// TAboutForm: the program's version and rights notice beside the home
// picture, shown modally by the main window's "About..." and freed after.
// The caller puts the home directory into DirectoryLabel; each activation
// loads the picture from there.
#pragma once

#include "framework/forms/buttons.h"
#include "framework/forms/form.h"
#include "framework/forms/image.h"
#include "framework/forms/label.h"
#include "framework/forms/panels.h"

namespace app {

class TAboutForm : public fw::TForm {
 public:
  explicit TAboutForm(fw::TComponent* owner);

  fw::TPanel* Panel1;
  fw::TBevel* Bevel1;
  fw::TImage* PicImage;
  fw::TLabel* VersionLabel;
  fw::TLabel* RightsLabel;
  fw::TLabel* DirectoryLabel;
  fw::TBitBtn* ExitBut;

  void FormActivate(fw::TComponent* sender);
};

}  // namespace app
