#include "framework/gui/canvas.h"

#include <QPainter>

#include "framework/gui/bitmap.h"

namespace fw {

namespace {

QColor ToQColor(TColor c) {
  c = ColorToRGB(c);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

}  // namespace

QImage& TCanvas::PaintImage() { return owner_.PaintImage(); }

void TCanvas::Changed() {
  owner_.NotifyChanged();
  if (OnChange) OnChange(this);
}

void TCanvas::FillRect(const TRect& rect) {
  if (owner_.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  QPainter p(&PaintImage());
  p.fillRect(ToQRect(rect), ToQColor(brush_color_));
  p.end();
  Changed();
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
  graphic.Draw(*this, Bounds(x, y, graphic.Width(), graphic.Height()));
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) { graphic.Draw(*this, rect); }

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& source_rect) {
  if (owner_.Empty() || source.owner_.Empty() || dest.Width() == 0 || dest.Height() == 0) return;
  // A copy, so that a canvas may copy from itself.
  const QImage from = source.PaintImage().copy(ToQRect(source_rect));
  QPainter p(&PaintImage());
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(ToQRect(dest), from);
  p.end();
  Changed();
}

void TCanvas::StretchDrawImage(const TRect& rect, const QImage& image) {
  if (owner_.Empty() || image.isNull() || rect.Width() == 0 || rect.Height() == 0) return;
  QPainter p(&PaintImage());
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.drawImage(ToQRect(rect), image);
  p.end();
  Changed();
}

TColor TCanvas::Pixel(int x, int y) {
  const QImage& img = owner_.Image();
  if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return clNone;
  const QRgb c = img.pixel(x, y);
  return RGBColor(static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                  static_cast<std::uint8_t>(qBlue(c)));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  QImage& img = PaintImage();
  if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return;
  const TColor c = ColorToRGB(color);
  img.setPixel(x, y, qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
  Changed();
}

}  // namespace fw
