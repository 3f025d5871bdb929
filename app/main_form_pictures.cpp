// The main window's pictures: the current photo on the "Photos" page and
// the front picture of the introduction panel.
#include "app/data_module.h"
#include "app/home.h"
#include "app/main_form.h"
#include "app/picture_display.h"
#include "framework/forms/application.h"
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

// Every activation fetches the picture again. The fetch runs on the
// program's own event loop, not in a loop of its own: an activation (one
// comes as an editor closes, before its result is applied) returns at once,
// so no click of the user's can run inside it or inside any other action.
// The picture is placed when the fetch ends. A later placing cancels the
// fetch under way, and front_fetch_ tells a fetch that ends all the same
// that it was overtaken: the later placing alone shows its picture.
void TMainForm::PlaceFrontImage() {
  const int fetch = ++front_fetch_;
  front_pending_ = false;
  try {
    NMHTTP1->Disconnect();
    NMHTTP1->SetInputFileMode(true);
    NMHTTP1->SetBody(kFrontPicture);
    fw::TStringList sponsor;
    sponsor.LoadFromFile(DirectoryLabel->Caption() + "\\" + kSponsorFile);
    NMHTTP1->GetAsync(sponsor[0], [this, fetch](std::exception_ptr error) {
      if (fetch != front_fetch_) return;
      fw::Guarded([&] { FrontPictureArrived(error); }, this);
    });
    front_pending_ = true;
  } catch (...) {
    // No sponsor file, no URL in it, a URL that cannot be fetched.
    FrontPictureArrived(std::current_exception());
  }
}

void TMainForm::FrontPictureArrived(std::exception_ptr error) {
  front_pending_ = false;
  try {
    if (error) std::rethrow_exception(error);
    ShowFrontPicture(kFrontPicture);
  } catch (...) {
    // Any failure shows the home picture instead, and says nothing.
    ShowHomePicture();
  }
  // The introduction, unless the user has listed a kind meanwhile: in the
  // middle at the picture's size.
  if (ModeLabel->Caption() == "Program Options" && !FunctionPad->Visible()) {
    CentreIntroduction();
    OptionsGB->Show();
  }
}

void TMainForm::ShowHomePicture() {
  try {
    ShowFrontPicture(kHomePicture);
  } catch (...) {
    FrontImage->Picture().SetGraphic(nullptr);
    SizeFrontPanels();
    FrontImage->Show();
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
