// TSplashForm: the borderless window that shows the home picture while the
// catalogue opens. It lives from the start of the program until OpenDBs is
// done; OpenDBs points the database at the absolute data folder, opens the
// five tables and, on a new catalogue, removes the sample records once.
#pragma once

#include "framework/forms/form.h"
#include "framework/forms/image.h"
#include "framework/forms/label.h"
#include "framework/forms/panels.h"
#include "framework/forms/progress_bar.h"

namespace app {

class TSplashForm : public fw::TForm {
 public:
  explicit TSplashForm(fw::TComponent* owner);

  fw::TPanel* Panel1;
  fw::TBevel* Bevel1;
  fw::TImage* PicImage;
  fw::TLabel* LoadingLabel;
  fw::TProgressBar* LoadPB;

  // Opens the catalogue (REQUIRES: Datamodule1 made). Raises what the
  // database, the tables or the sample removal raise.
  void OpenDBs();
  // Called after each step of OpenDBs.
  void Pause();
  void FormActivate(fw::TComponent* sender);

 private:
  void Step();
};

extern TSplashForm* SplashForm;

}  // namespace app
