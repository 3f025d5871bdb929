// TIcon: the framework graphic class for Windows icons, registered with
// TPicture for the extension "ico" ("Icons"). Decoded by Qt's ICO reader.
//
// ICO layout (little-endian), checked here before Qt reads the image:
//   ICONDIR, 6 bytes:        reserved (0), type (1 = icon), count (>= 1)
//   count ICONDIRENTRY, 16 bytes each:
//     OFFSET SIZE
//        0     1   width (0 means 256)
//        1     1   height (0 means 256)
//        2     1   colours in the palette (0: none)
//        3     1   reserved
//        4     2   colour planes
//        6     2   bits per pixel
//        8     4   size of the image data in bytes (> 0)
//       12     4   offset of the image data from the start of the file
//   the image data: a DIB without its file header (BITMAPINFOHEADER with
//   twice the icon's height, the colour rows, then the 1-bit AND mask)
//   or a whole PNG file.
// Every image's data must lie inside the file, after the directory.
//
// An icon file holds the same picture at several sizes; the picture shown
// is the largest (the one with the most pixels, the first of equals).
// Saving writes the bytes as they were loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "framework/gui/graphic.h"

namespace fw {

class TIcon : public TGraphic {
 public:
  TIcon();
  ~TIcon() override;

  const char* ClassName() const override { return "TIcon"; }
  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  // EInvalidGraphicOperation "Cannot change the size of an icon".
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  bool Empty() const override { return image_.isNull(); }
  // Blends by the icon's transparency.
  void Draw(TCanvas& canvas, const TRect& rect) override;
  // Reads the rest of the stream; EInvalidGraphic "Icon image is not
  // valid" for anything but a whole icon file, and the picture stays as it
  // was.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // Another icon is copied; anything else: EConvertError.
  void Assign(const TGraphic& source) override;

  // The picture shown (ARGB).
  const QImage& Image() const { return image_; }

 private:
  QImage image_;
  std::vector<std::uint8_t> data_;  // the file
};

std::unique_ptr<TGraphic> NewIcon();

}  // namespace fw
