#include "framework/gui/graphic.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace fw {

TColor ColorToRGB(TColor color) {
  if (color == clNone || color == clDefault) return clBlack;
  if ((color & clSystemColor) == 0) return color & 0xFFFFFF;
  switch (color & 0xFF) {
    case 5:  // window background
      return clWhite;
    case 8:  // window text
      return clBlack;
    case 15:  // button face
      return RGBColor(0xF0, 0xF0, 0xF0);
    default:
      return RGBColor(0xC0, 0xC0, 0xC0);
  }
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  long long q = p / c;
  const long long r = p % c;
  // Halves round away from zero.
  if (2 * std::llabs(r) >= std::llabs(static_cast<long long>(c))) q += ((p < 0) != (c < 0)) ? -1 : 1;
  if (q > INT_MAX || q < INT_MIN) return -1;
  return static_cast<int>(q);
}

void TGraphic::LoadFromFile(const std::string& file_name) {
  TFileStream stream(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& file_name) {
  TFileStream stream(file_name, fmCreate);
  SaveToStream(stream);
}

void TGraphic::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (source.AssignTo(*this)) return;
  throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " + ClassName());
}

bool TGraphic::AssignTo(TGraphic&) const { return false; }

void TGraphic::SetTransparent(bool transparent) {
  if (transparent == transparent_) return;
  transparent_ = transparent;
  Changed();
}

void TGraphic::Changed() {
  modified_ = true;
  if (OnChange) OnChange(this);
}

}  // namespace fw
