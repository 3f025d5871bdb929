// TBitmap: a picture held as pixels (a QImage), with a pixel format, a
// palette for pf1bit/pf8bit, scan-line access and a transparent colour.
// Stored in streams and files as BMP.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "framework/gui/graphic.h"

namespace fw {

class TCanvas;

class TBitmap : public TGraphic {
 public:
  // Largest side and pixel count: sizes come from files and pictures and
  // are checked before anything is allocated.
  static constexpr int kMaxSide = 0xFFFF;
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

  TBitmap();
  ~TBitmap() override;

  const char* ClassName() const override { return "TBitmap"; }
  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  void SetWidth(int width) override { SetSize(width, Height()); }
  void SetHeight(int height) override { SetSize(Width(), height); }
  // Keeps the pixels that still fit; new pixels are white (palette index 0
  // for palette formats). EInvalidGraphic "Invalid bitmap size" for a
  // negative or too large size.
  void SetSize(int width, int height);
  bool Empty() const override { return image_.isNull() || image_.width() == 0 || image_.height() == 0; }
  void Draw(TCanvas& canvas, const TRect& rect) override;
  // BMP; EInvalidGraphic "Bitmap image is not valid" for anything else.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void Assign(const TGraphic& source) override;
  bool AssignTo(TGraphic& dest) const override;

  TPixelFormat PixelFormat() const { return pixel_format_; }
  // Converts the pixels (palette formats map colours to the nearest entry).
  void SetPixelFormat(TPixelFormat format);
  // Row y; EInvalidGraphicOperation "Scan line index out of range".
  std::uint8_t* ScanLine(int y);
  const std::uint8_t* ScanLine(int y) const;
  int BytesPerLine() const { return static_cast<int>(image_.bytesPerLine()); }

  // Palette of a pf1bit/pf8bit bitmap (empty for other formats). Setting
  // one on a palette bitmap replaces it (at most 256 entries; indexes
  // beyond the new palette show black).
  std::vector<TColor> Palette() const;
  void SetPalette(const std::vector<TColor>& palette);

  // clDefault: the bottom-left pixel's colour.
  TColor TransparentColor() const;
  void SetTransparentColor(TColor color);
  TCanvas& Canvas();

  const QImage& Image() const { return image_; }
  // Replaces the pixels (the format follows the picture); for drawing code.
  void SetImage(QImage image);
  // The pixels as a painter may draw on them (converts palette formats).
  QImage& PaintImage();
  void NotifyChanged() { Changed(); }

 private:
  static QImage::Format QtFormat(TPixelFormat f);
  QImage image_;
  TPixelFormat pixel_format_ = TPixelFormat::pfDevice;
  TColor transparent_color_ = clDefault;
  std::unique_ptr<TCanvas> canvas_;
};

}  // namespace fw
