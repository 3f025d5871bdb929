#include "framework/gui/jpeg_image.h"

#include <cstring>

#include "framework/gui/canvas.h"
#include "framework/gui/picture.h"

namespace fw {

namespace {

constexpr const char* kChangeSize = "Cannot change the size of a JPEG image";
// A JPEG file cannot be larger than this for any picture we accept.
constexpr std::int64_t kMaxFileSize = std::int64_t{1} << 30;

}  // namespace

TJPEGImage::TJPEGImage() { bitmap_.SetPixelFormat(TPixelFormat::pf32bit); }
TJPEGImage::~TJPEGImage() = default;

jpeg::DecodeLimits& TJPEGImage::Limits() {
  static jpeg::DecodeLimits limits{TBitmap::kMaxSide, TBitmap::kMaxPixels, 1000};
  return limits;
}

std::unique_ptr<TGraphic> NewJPEGImage() { return std::make_unique<TJPEGImage>(); }

void RegisterJPEGImage() {
  TPicture::RegisterFileFormat("jpg", "JPEG Image File", &NewJPEGImage);
  TPicture::RegisterFileFormat("jpeg", "JPEG Image File", &NewJPEGImage);
}

void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation(kChangeSize); }
void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation(kChangeSize); }

void TJPEGImage::SetCompressionQuality(int quality) {
  options_.quality = quality < 1 ? 1 : (quality > 100 ? 100 : quality);
}

void TJPEGImage::SetGrayscale(bool v) {
  if (v == grayscale_) return;
  grayscale_ = v;
  options_.grayscale = v;
  data_.clear();
  Changed();
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty()) return;
  canvas.StretchDrawImage(rect, bitmap_.Image());
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  if (size > kMaxFileSize) throw EJPEG("JPEG image too large");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size > 0 ? size : 0));
  if (size > 0) stream.ReadBuffer(bytes.data(), size);
  jpeg::DecodedImage decoded;
  const jpeg::Status status = jpeg::Decode(bytes.data(), bytes.size(), Limits(), decoded);
  if (!status.ok()) throw EJPEG(status.Message());
  QImage image(decoded.width, decoded.height, QImage::Format_RGB32);
  if (image.isNull()) throw EOutOfResources("Out of system resources");
  for (int y = 0; y < decoded.height; ++y)
    std::memcpy(image.scanLine(y), decoded.bgrx.data() + static_cast<std::size_t>(y) * decoded.width * 4,
                static_cast<std::size_t>(decoded.width) * 4);
  bitmap_.SetImage(std::move(image));
  data_ = std::move(bytes);
  grayscale_ = decoded.grayscale;
  options_.grayscale = decoded.grayscale;
  Changed();
}

void TJPEGImage::Compress() {
  if (!data_.empty() || Empty()) return;
  const QImage image = bitmap_.Image().convertToFormat(QImage::Format_RGB32);
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(image.width()) * image.height() * 4);
  for (int y = 0; y < image.height(); ++y)
    std::memcpy(rows.data() + static_cast<std::size_t>(y) * image.width() * 4, image.constScanLine(y),
                static_cast<std::size_t>(image.width()) * 4);
  const jpeg::Status status = jpeg::Encode(rows.data(), image.width(), image.height(), options_, data_);
  if (!status.ok()) throw EJPEG(status.Message());
}

const std::vector<std::uint8_t>& TJPEGImage::Data() {
  Compress();
  return data_;
}

void TJPEGImage::SaveToStream(TStream& stream) {
  Compress();
  if (!data_.empty()) stream.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

void TJPEGImage::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* j = dynamic_cast<const TJPEGImage*>(&source)) {
    bitmap_.Assign(j->bitmap_);
    data_ = j->data_;
    options_ = j->options_;
    grayscale_ = j->grayscale_;
    Changed();
    return;
  }
  if (source.AssignTo(*this)) return;
  // Anything else is drawn as a bitmap and encoded anew.
  TBitmap b;
  b.Assign(source);
  bitmap_.SetImage(b.Image().convertToFormat(QImage::Format_RGB32));
  data_.clear();
  Compress();
  Changed();
}

bool TJPEGImage::AssignTo(TGraphic& dest) const {
  if (auto* b = dynamic_cast<TBitmap*>(&dest)) {
    b->Assign(bitmap_);
    return true;
  }
  return false;
}

}  // namespace fw
