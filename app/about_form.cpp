#include "app/about_form.h"

#include "app/home.h"

namespace app {

TAboutForm::TAboutForm(fw::TComponent* owner) : TForm(owner) {
  SetName("AboutForm");
  SetCaption("About Morvella Software");
  SetBorderStyle(fw::TFormBorderStyle::bsDialog);
  SetClientSize(337, 338);
  SetPosition(fw::TPosition::poScreenCenter);

  Panel1 = Make<fw::TPanel>("Panel1", this);
  Panel1->SetBounds(8, 8, 321, 244);
  Panel1->SetBevelOuter(fw::TPanelBevel::bvLowered);
  Bevel1 = Make<fw::TBevel>("Bevel1", Panel1);
  Bevel1->SetBounds(6, 6, 309, 232);
  // The home picture is drawn 297 x 220 (app/tools).
  PicImage = Make<fw::TImage>("PicImage", Panel1);
  PicImage->SetBounds(12, 12, 297, 220);
  PicImage->SetAutoSize(true);
  PicImage->SetCenter(true);
  VersionLabel = Make<fw::TLabel>("VersionLabel", this);
  VersionLabel->SetFont({"", 10, fw::clWindowText, true});
  VersionLabel->SetCaption("Version 1.1");
  VersionLabel->SetBounds(8, 260, VersionLabel->Width(), VersionLabel->Height());
  RightsLabel = Make<fw::TLabel>("RightsLabel", this);
  RightsLabel->SetCaption("Copyright (C) Morvella Software. All rights reserved.");
  RightsLabel->SetBounds(8, 282, RightsLabel->Width(), RightsLabel->Height());
  DirectoryLabel = Make<fw::TLabel>("DirectoryLabel", this);
  DirectoryLabel->SetBounds(8, 310, DirectoryLabel->Width(), DirectoryLabel->Height());
  DirectoryLabel->SetVisible(false);
  ExitBut = Make<fw::TBitBtn>("ExitBut", this);
  ExitBut->SetKind(fw::TBitBtnKind::bkOK);
  ExitBut->SetBounds(254, 305, 75, 25);
  ExitBut->SetHint("Click Exit button to return to previous screen");

  OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
}

void TAboutForm::FormActivate(fw::TComponent*) {
  PicImage->Picture().LoadFromFile(DirectoryLabel->Caption() + "\\" + kHomePicture);
}

}  // namespace app
