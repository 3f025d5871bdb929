#include "framework/report/report_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/db/field.h"
#include "framework/gui/bitmap.h"
#include "framework/streams.h"

namespace fw {

namespace {

// Picture pixels kept per report pixel of the printed area.
constexpr double kImageDetail = 2.0;

bool StartsWith(std::span<const std::byte> bytes, const char* signature) {
  const std::size_t n = std::strlen(signature);
  return bytes.size() >= n && std::memcmp(bytes.data(), signature, n) == 0;
}

QImage Snapshot(TGraphic* graphic) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(graphic)) return bitmap->Image();
  // Other classes draw themselves onto a bitmap (an animation: its first
  // frame).
  TBitmap bitmap;
  bitmap.Assign(*graphic);
  return bitmap.Image();
}

}  // namespace

std::string PictureKindOf(std::span<const std::byte> bytes) {
  if (StartsWith(bytes, "BM")) return "bmp";
  if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) return "gif";
  if (StartsWith(bytes, "\xFF\xD8\xFF")) return "jpg";
  return {};
}

bool LoadPictureFromBytes(TPicture& picture, std::span<const std::byte> bytes) {
  const TGraphicClass cls = TPicture::FindGraphicClass(PictureKindOf(bytes));
  if (cls == nullptr) {
    picture.SetGraphic(nullptr);
    return false;
  }
  std::unique_ptr<TGraphic> graphic = cls();
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  try {
    graphic->LoadFromStream(stream);
  } catch (const Exception&) {
    picture.SetGraphic(nullptr);
    return false;
  }
  picture.SetGraphic(std::move(graphic));
  return true;
}

bool PictureItem(TGraphic* graphic, const QRectF& rect, bool stretch, bool center, TQRImageItem& item) {
  if (graphic == nullptr || graphic->Empty() || rect.width() <= 0 || rect.height() <= 0) return false;
  QImage image = Snapshot(graphic);
  if (image.isNull()) return false;
  item.Clip = rect;
  if (stretch) {
    item.Rect = rect;
    const int max_w = static_cast<int>(std::ceil(rect.width() * kImageDetail));
    const int max_h = static_cast<int>(std::ceil(rect.height() * kImageDetail));
    if (image.width() > max_w || image.height() > max_h)
      image = image.scaled(std::min(image.width(), max_w), std::min(image.height(), max_h), Qt::IgnoreAspectRatio,
                           Qt::SmoothTransformation);
    item.Image = std::move(image);
    return true;
  }
  QRectF whole(rect.topLeft(), QSizeF(image.width(), image.height()));
  if (center) whole.moveCenter(rect.center());
  const QRectF shown = whole.intersected(rect);
  if (shown.isEmpty()) return false;
  // Only the part inside the control is kept.
  const QRect source = shown.translated(-whole.topLeft()).toAlignedRect().intersected(image.rect());
  item.Image = image.copy(source);
  item.Rect = QRectF(whole.topLeft() + QPointF(source.topLeft()), QSizeF(source.size()));
  return true;
}

TQRImage::TQRImage(TQRBand* parent) : TQRPrintable(parent) {
  picture_.OnChange = [this](TPicture*) { PictureChanged(); };
}

TQRImage::~TQRImage() { picture_.OnChange = nullptr; }

void TQRImage::SetAutoSize(bool v) {
  auto_size_ = v;
  PictureChanged();
}

void TQRImage::PictureChanged() {
  if (!auto_size_ || picture_.Graphic() == nullptr || picture_.Graphic()->Empty()) return;
  SetWidth(picture_.Width());
  SetHeight(picture_.Height());
}

void TQRImage::EmitContent(std::vector<TQRItem>& items, const QRectF& rect) {
  TQRImageItem item;
  if (PictureItem(picture_.Graphic(), rect, stretch_, center_, item)) items.push_back(std::move(item));
}

double TQRDBImage::PrepareContent() {
  picture_.SetGraphic(nullptr);
  TDataSet* dataset = EffectiveDataSet(binding_.DataSet());
  if (dataset == nullptr || binding_.DataField().empty()) return 0;
  dataset->CheckActive();
  auto* field = dynamic_cast<TBlobField*>(dataset->FieldByName(binding_.DataField()));
  if (field == nullptr || field->IsNull()) return 0;
  TMemoryStream stream;
  field->SaveToStream(stream);
  LoadPictureFromBytes(picture_, stream.Bytes());
  return 0;
}

void TQRDBImage::EmitContent(std::vector<TQRItem>& items, const QRectF& rect) {
  TQRImageItem item;
  if (PictureItem(picture_.Graphic(), rect, stretch_, center_, item)) items.push_back(std::move(item));
}

void TQRDBImage::Notification(TComponent* component, bool inserting) {
  TQRPrintable::Notification(component, inserting);
  if (!inserting) binding_.Forget(component);
}

}  // namespace fw
