#include "framework/gui/icon.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "platform/little_endian.h"

namespace fw {

namespace {

constexpr const char* kInvalidIcon = "Icon image is not valid";
constexpr const char* kChangeSize = "Cannot change the size of an icon";
constexpr std::int64_t kMaxFileSize = std::int64_t{16} << 20;
constexpr std::size_t kDirSize = 6;
constexpr std::size_t kEntrySize = 16;

// The index of the image shown, or -1 when the layout does not hold.
int ChooseImage(const std::vector<std::uint8_t>& b) {
  using platform::LoadLittle;
  if (b.size() < kDirSize || LoadLittle<std::uint16_t>(b.data()) != 0 || LoadLittle<std::uint16_t>(b.data() + 2) != 1)
    return -1;
  const unsigned count = LoadLittle<std::uint16_t>(b.data() + 4);
  const std::size_t dir_end = kDirSize + kEntrySize * count;
  if (count == 0 || dir_end > b.size()) return -1;
  int best = -1;
  unsigned best_pixels = 0;
  for (unsigned i = 0; i < count; ++i) {
    const std::size_t e = kDirSize + kEntrySize * i;
    const unsigned w = b[e] != 0 ? b[e] : 256, h = b[e + 1] != 0 ? b[e + 1] : 256;
    const std::uint32_t size = LoadLittle<std::uint32_t>(b.data() + e + 8);
    const std::uint32_t offset = LoadLittle<std::uint32_t>(b.data() + e + 12);
    if (size == 0 || offset < dir_end || offset > b.size() || size > b.size() - offset) return -1;
    if (best < 0 || w * h > best_pixels) {
      best = static_cast<int>(i);
      best_pixels = w * h;
    }
  }
  return best;
}

}  // namespace

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

std::unique_ptr<TGraphic> NewIcon() { return std::make_unique<TIcon>(); }

void TIcon::SetWidth(int) { throw EInvalidGraphicOperation(kChangeSize); }
void TIcon::SetHeight(int) { throw EInvalidGraphicOperation(kChangeSize); }

void TIcon::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty()) return;
  canvas.StretchDrawImage(rect, image_);
}

void TIcon::LoadFromStream(TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  if (size <= 0 || size > kMaxFileSize) throw EInvalidGraphic(kInvalidIcon);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  stream.ReadBuffer(bytes.data(), size);
  const int index = ChooseImage(bytes);
  if (index < 0) throw EInvalidGraphic(kInvalidIcon);
  QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(size));
  QBuffer buffer(&raw);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "ico");
  QImage image;
  if (!reader.jumpToImage(index) || !reader.read(&image) || image.isNull() || image.width() > TBitmap::kMaxSide ||
      image.height() > TBitmap::kMaxSide)
    throw EInvalidGraphic(kInvalidIcon);
  image_ = image.convertToFormat(QImage::Format_ARGB32);
  if (image_.isNull()) throw EOutOfResources("Out of system resources");
  data_ = std::move(bytes);
  Changed();
}

void TIcon::SaveToStream(TStream& stream) {
  if (!data_.empty()) stream.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

void TIcon::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* icon = dynamic_cast<const TIcon*>(&source)) {
    image_ = icon->image_;
    data_ = icon->data_;
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

}  // namespace fw
