#include "framework/gui/bitmap.h"

#include <algorithm>
#include <cstring>

#include <QBuffer>
#include <QImageReader>
#include <QByteArray>
#include <QPainter>

#include "framework/gui/canvas.h"

namespace fw {

namespace {

constexpr const char* kInvalidBitmapSize = "Invalid bitmap size";
constexpr const char* kInvalidBitmap = "Bitmap image is not valid";
constexpr const char* kScanLineRange = "Scan line index out of range";

QRgb ToQRgb(TColor c) {
  c = ColorToRGB(c);
  return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}

TColor FromQRgb(QRgb c) {
  return RGBColor(static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                  static_cast<std::uint8_t>(qBlue(c)));
}

TPixelFormat FormatOf(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_Mono:
      return TPixelFormat::pf1bit;
    case QImage::Format_Indexed8:
      return TPixelFormat::pf8bit;
    case QImage::Format_BGR888:
      return TPixelFormat::pf24bit;
    default:
      return TPixelFormat::pf32bit;
  }
}

void CheckSize(int width, int height) {
  if (width < 0 || height < 0 || width > TBitmap::kMaxSide || height > TBitmap::kMaxSide ||
      static_cast<std::int64_t>(width) * height > TBitmap::kMaxPixels)
    throw EInvalidGraphic(kInvalidBitmapSize);
}

}  // namespace

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

QImage::Format TBitmap::QtFormat(TPixelFormat f) {
  switch (f) {
    case TPixelFormat::pf1bit:
      return QImage::Format_Mono;
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit:
      return QImage::Format_Indexed8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
    case TPixelFormat::pf24bit:
      return QImage::Format_BGR888;
    default:
      return QImage::Format_RGB32;
  }
}

void TBitmap::SetSize(int width, int height) {
  CheckSize(width, height);
  if (width == Width() && height == Height() && !image_.isNull()) return;
  if (width == 0 || height == 0) {
    image_ = QImage();
  } else {
    QImage next(width, height, QtFormat(pixel_format_));
    if (next.isNull()) throw EOutOfResources("Out of system resources");
    if (next.format() == QImage::Format_Indexed8 || next.format() == QImage::Format_Mono) {
      QList<QRgb> table = image_.isNull() ? QList<QRgb>() : image_.colorTable();
      if (table.isEmpty()) table = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
      next.setColorTable(table);
      next.fill(0);
    } else {
      next.fill(Qt::white);
    }
    if (!image_.isNull()) {
      const int w = std::min(width, image_.width());
      const int h = std::min(height, image_.height());
      const int bits = image_.depth();
      for (int y = 0; y < h; ++y)
        std::memcpy(next.scanLine(y), image_.constScanLine(y), static_cast<std::size_t>((w * bits + 7) / 8));
    }
    image_ = std::move(next);
  }
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  const QImage::Format q = QtFormat(format);
  pixel_format_ = FormatOf(QImage(1, 1, q));
  if (!image_.isNull() && image_.format() != q) {
    image_ = image_.convertToFormat(q, Qt::ThresholdDither | Qt::AvoidDither);
    if (image_.isNull()) throw EOutOfResources("Out of system resources");
    Changed();
  }
}

std::uint8_t* TBitmap::ScanLine(int y) {
  if (Empty() || y < 0 || y >= image_.height()) throw EInvalidGraphicOperation(kScanLineRange);
  return image_.scanLine(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
  if (Empty() || y < 0 || y >= image_.height()) throw EInvalidGraphicOperation(kScanLineRange);
  return image_.constScanLine(y);
}

std::vector<TColor> TBitmap::Palette() const {
  std::vector<TColor> out;
  for (QRgb c : image_.colorTable()) out.push_back(FromQRgb(c));
  return out;
}

void TBitmap::SetPalette(const std::vector<TColor>& palette) {
  if (image_.isNull() || (image_.format() != QImage::Format_Indexed8 && image_.format() != QImage::Format_Mono))
    return;
  QList<QRgb> table;
  const std::size_t limit = image_.format() == QImage::Format_Mono ? 2 : 256;
  for (std::size_t i = 0; i < palette.size() && i < limit; ++i) table.push_back(ToQRgb(palette[i]));
  // Qt reads past the table for indexes beyond it; fill up with black.
  while (static_cast<std::size_t>(table.size()) < limit) table.push_back(qRgb(0, 0, 0));
  image_.setColorTable(table);
  SetPaletteModified(true);
  Changed();
}

TColor TBitmap::TransparentColor() const {
  if (transparent_color_ != clDefault) return ColorToRGB(transparent_color_);
  if (Empty()) return clBlack;
  return FromQRgb(image_.pixel(0, image_.height() - 1));
}

void TBitmap::SetTransparentColor(TColor color) {
  transparent_color_ = color;
  Changed();
}

TCanvas& TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
  return *canvas_;
}

void TBitmap::SetImage(QImage image) {
  CheckSize(image.width(), image.height());
  if (image.format() != QImage::Format_Mono && image.format() != QImage::Format_Indexed8 &&
      image.format() != QImage::Format_BGR888 && image.format() != QImage::Format_RGB32)
    image = image.convertToFormat(QImage::Format_RGB32);
  image_ = std::move(image);
  pixel_format_ = FormatOf(image_);
  Changed();
}

QImage& TBitmap::PaintImage() {
  if (!image_.isNull() && (image_.format() == QImage::Format_Mono || image_.format() == QImage::Format_Indexed8)) {
    image_ = image_.convertToFormat(QImage::Format_RGB32);
    pixel_format_ = TPixelFormat::pf32bit;
  }
  return image_;
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty()) return;
  if (!Transparent()) {
    canvas.StretchDrawImage(rect, image_.copy());
    return;
  }
  QImage img = image_.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = ToQRgb(TransparentColor()) & 0xFFFFFF;
  for (int y = 0; y < img.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x)
      if ((row[x] & 0xFFFFFF) == key) row[x] = 0;
  }
  canvas.StretchDrawImage(rect, img);
}

void TBitmap::LoadFromStream(TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  if (size <= 0 || size > (std::int64_t{1} << 30)) throw EInvalidGraphic(kInvalidBitmap);
  QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
  stream.ReadBuffer(bytes.data(), size);
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "BMP");
  const QSize dim = reader.size();
  if (!dim.isValid()) throw EInvalidGraphic(kInvalidBitmap);
  CheckSize(dim.width(), dim.height());
  QImage img;
  if (!reader.read(&img)) throw EInvalidGraphic(kInvalidBitmap);
  SetImage(std::move(img));
}

void TBitmap::SaveToStream(TStream& stream) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!Empty() && !image_.save(&buffer, "BMP")) throw EInvalidGraphic(kInvalidBitmap);
  stream.WriteBuffer(bytes.constData(), bytes.size());
}

void TBitmap::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* b = dynamic_cast<const TBitmap*>(&source)) {
    image_ = b->image_;
    pixel_format_ = b->pixel_format_;
    transparent_color_ = b->transparent_color_;
    TGraphic::SetTransparent(b->Transparent());
    Changed();
    return;
  }
  if (source.AssignTo(*this)) return;
  // Any other picture is drawn on a bitmap of its size.
  image_ = QImage();
  pixel_format_ = TPixelFormat::pf32bit;
  SetSize(source.Width(), source.Height());
  if (!Empty()) {
    image_.fill(Qt::white);
    const_cast<TGraphic&>(source).Draw(Canvas(), Rect(0, 0, Width(), Height()));
  }
  Changed();
}

bool TBitmap::AssignTo(TGraphic& dest) const {
  if (auto* b = dynamic_cast<TBitmap*>(&dest)) {
    b->Assign(*this);
    return true;
  }
  return false;
}

}  // namespace fw
