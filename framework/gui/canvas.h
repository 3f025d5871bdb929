// TCanvas: drawing on a bitmap's pixels. Each operation paints through a
// QPainter of its own, so the pixels may be read and written through
// TBitmap::ScanLine between operations. A canvas belongs to one TBitmap and
// lives as long as it.
//
// Drawing on a pf1bit or pf8bit bitmap first turns it into pf32bit (a
// palette picture cannot be painted on directly).
#pragma once

#include <functional>
#include <memory>

#include <QImage>

#include "framework/gui/graphics.h"
#include "framework/sync.h"

namespace fw {

class TBitmap;
class TGraphic;

class TCanvas {
 public:
  explicit TCanvas(TBitmap& owner) : owner_(owner) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TColor BrushColor() const { return brush_color_; }
  void SetBrushColor(TColor color) { brush_color_ = color; }
  TColor PenColor() const { return pen_color_; }
  void SetPenColor(TColor color) { pen_color_ = color; }

  // Fills rect with the brush colour.
  void FillRect(const TRect& rect);
  // Draws graphic at (x, y) in its own size / scaled into rect.
  void Draw(int x, int y, TGraphic& graphic);
  void StretchDraw(const TRect& rect, TGraphic& graphic);
  // Copies source_rect of source into dest, scaled, replacing the pixels.
  void CopyRect(const TRect& dest, TCanvas& source, const TRect& source_rect);
  // Draws a picture scaled into rect (nearest pixel), blending by its alpha.
  void StretchDrawImage(const TRect& rect, const QImage& image);
  TColor Pixel(int x, int y);
  void SetPixel(int x, int y, TColor color);

  // The pixels, in a format that can be painted on.
  QImage& PaintImage();
  TBitmap& Bitmap() { return owner_; }
  // Held by code that paints from another thread.
  void Lock() { lock_.Enter(); }
  void Unlock() { lock_.Leave(); }
  std::function<void(TCanvas* sender)> OnChange;
  // Expires when the canvas is destroyed: code that keeps a canvas between
  // calls (an animation painter) checks it before drawing.
  std::weak_ptr<const void> Handle() const { return handle_; }

 private:
  void Changed();
  TBitmap& owner_;
  TColor brush_color_ = clWhite;
  TColor pen_color_ = clBlack;
  TCriticalSection lock_;
  std::shared_ptr<const void> handle_ = std::make_shared<char>(0);
};

}  // namespace fw
