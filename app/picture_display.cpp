#include "app/picture_display.h"

#include "app/picture_files.h"
#include "framework/forms/image.h"
#include "framework/forms/panels.h"

namespace app {

void LoadPictureHidden(fw::TImage& image, const std::string& file_name, std::string_view url) {
  image.SetAlign(fw::TAlign::alNone);
  image.Hide();
  image.SetAutoSize(true);
  image.SetStretch(false);
  try {
    LoadPictureFile(image.Picture(), file_name, url);
  } catch (...) {
    image.Picture().SetGraphic(nullptr);
    throw;
  }
}

void FitPicture(fw::TImage& image, int box_width, int box_height) {
  const FittedSize s = FitPictureSize(image.Picture().Width(), image.Picture().Height(), box_width, box_height);
  image.SetAutoSize(false);
  image.SetStretch(true);
  image.SetBounds(image.Left(), image.Top(), s.width, s.height);
}

void FramePicture(fw::TPanel& panel, fw::TBevel& bevel, fw::TImage& image) {
  bevel.SetAlign(fw::TAlign::alNone);
  bevel.SetBounds(bevel.Left(), bevel.Top(), image.Width() + 10, image.Height() + 10);
  image.SetBounds(bevel.Left() + 5, bevel.Top() + 5, image.Width(), image.Height());
  panel.SetAlign(fw::TAlign::alNone);
  panel.SetBounds(panel.Left(), panel.Top(), bevel.Width() + 8, bevel.Height() + 8);
}

void ClearPicture(fw::TImage& image) {
  image.Hide();
  image.Picture().SetGraphic(nullptr);
}

}  // namespace app
