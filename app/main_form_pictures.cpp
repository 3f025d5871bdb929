// The main window's pictures: the current photo on the "Photos" page and
// the front picture of the introduction panel.
#include "app/data_module.h"
#include "app/home.h"
#include "app/main_form.h"
#include "app/picture_display.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"

namespace app {

void TMainForm::Updateimage() {
  dataset::TTolmidTable* photos = Datamodule1->Type3Table;
  const std::string file = photos->FieldByName("filename")->AsString();
  if (file.empty()) {
    // Nothing of the photo before stays on show.
    ClearPicture(*Image1);
    return;
  }
  Panel4->SetBounds(Panel4->Left(), Panel4->Top(), 165, 151);
  LoadPictureHidden(*Image1, file, photos->FieldByName("Photourl")->AsString());
  FitPicture(*Image1, Panel4->Width() - 18, Panel4->Height() - 18);
  FramePicture(*Panel4, *PicBevel, *Image1);
  Image1->Show();
}

// Every activation fetches the picture again. The fetch runs the event
// loop, so another activation can start a fetch of its own meanwhile: its
// Disconnect cancels this one, and the later call alone places the
// picture (front_fetch_ tells an earlier call that it was overtaken).
void TMainForm::PlaceFrontImage() {
  const int fetch = ++front_fetch_;
  try {
    NMHTTP1->Disconnect();
    NMHTTP1->SetInputFileMode(true);
    NMHTTP1->SetBody(kFrontPicture);
    fw::TStringList sponsor;
    sponsor.LoadFromFile(DirectoryLabel->Caption() + "\\" + kSponsorFile);
    NMHTTP1->Get(sponsor[0]);
    if (fetch != front_fetch_) return;
    ShowFrontPicture(kFrontPicture);
  } catch (...) {
    if (fetch != front_fetch_) return;
    // Any failure shows the home picture instead, and says nothing.
    try {
      ShowFrontPicture(kHomePicture);
    } catch (...) {
      FrontImage->Picture().SetGraphic(nullptr);
      SizeFrontPanels();
      FrontImage->Show();
    }
  }
}

void TMainForm::ShowFrontPicture(const std::string& file_name) {
  FrontImage->Hide();
  FrontImage->SetAutoSize(true);
  FrontImage->SetStretch(false);
  if (fw::FileExists(file_name))
    FrontImage->Picture().LoadFromFile(file_name);
  else
    FrontImage->Picture().SetGraphic(nullptr);
  SizeFrontPanels();
  FrontImage->Show();
}

void TMainForm::SizeFrontPanels() {
  FrontPanel->SetBounds(FrontPanel->Left(), FrontPanel->Top(), FrontImage->Width() + 9, FrontImage->Height() + 9);
  OptionsGB->SetBounds(OptionsGB->Left(), OptionsGB->Top(), FrontPanel->Width() + 10, FrontPanel->Height() + 20);
}

}  // namespace app
