#include "gif/gif_image.h"

#include <algorithm>

#include "gif/gif_stream_io.h"

namespace gif {

TGIFImage::TGIFImage() : header_(this) {}

TGIFImage::~TGIFImage() { images_.Clear(); }

void TGIFImage::ReportWarning(const void* sender, int severity, const std::string& message) {
  if (OnWarning) OnWarning(sender, severity, message);
}

void TGIFImage::Progress(const void* sender, TProgressStage stage, int percent, const std::string& message) {
  if (OnProgress) OnProgress(sender, stage, percent, message);
}

void TGIFImage::Clear() {
  images_.Clear();
  header_.Clear();
  header_.Prepare();
}

int TGIFImage::Add(std::unique_ptr<TGIFSubImage> frame) {
  images_.Add(std::move(frame));
  return images_.Count() - 1;
}

void TGIFImage::SetWidth(int width) {
  for (auto& f : images_)
    if (f->Left() + f->Width() > width) RaiseGIFError(kImageWidthTooSmall);
  header_.SetWidth(static_cast<std::uint16_t>(width));
}

void TGIFImage::SetHeight(int height) {
  for (auto& f : images_)
    if (f->Top() + f->Height() > height) RaiseGIFError(kImageHeightTooSmall);
  header_.SetHeight(static_cast<std::uint16_t>(height));
}

TGIFVersion TGIFImage::Version() const {
  if (images_.Count() == 0) return TGIFVersion::gvUnknown;
  // The header counts too: a sorted global table or an aspect ratio are
  // 89a fields.
  if (header_.RequiredVersion() == TGIFVersion::gv89a) return TGIFVersion::gv89a;
  for (auto& f : images_)
    if (f->RequiredVersion() == TGIFVersion::gv89a) return TGIFVersion::gv89a;
  return TGIFVersion::gv87a;
}

int TGIFImage::BitsPerPixel() const {
  int bits = BitsNeeded(header_.ColorMap().Count());
  for (auto& f : images_) bits = std::max(bits, BitsNeeded(f->ColorMap().Count()));
  return bits;
}

int TGIFImage::ColorResolution() const { return std::max(0, BitsPerPixel() - 1); }

void TGIFImage::LoadFromStream(fw::TStream& stream) {
  Progress(this, TProgressStage::psStarting, 0, kLoadingMessage);
  try {
    Clear();
    header_.LoadFromStream(stream);
    images_.LoadFromStream(stream, this);
    const int b = ReadByteOrEnd(stream);
    if (b != kTrailer) ReportWarning(this, 1, kInvalidTrailer);
  } catch (...) {
    Progress(this, TProgressStage::psEnding, 0, kLoadingMessage);
    throw;
  }
  Progress(this, TProgressStage::psEnding, 100, kLoadingMessage);
}

void TGIFImage::SaveToStream(fw::TStream& stream) {
  Progress(this, TProgressStage::psStarting, 0, kSavingMessage);
  try {
    header_.SaveToStream(stream);
    const int count = images_.Count();
    for (int i = 0; i < count; ++i) {
      images_[i]->SaveToStream(stream);
      Progress(this, TProgressStage::psRunning, (i + 1) * 100 / count, kSavingMessage);
    }
    WriteByte(stream, kTrailer);
  } catch (...) {
    Progress(this, TProgressStage::psEnding, 0, kSavingMessage);
    throw;
  }
  Progress(this, TProgressStage::psEnding, 100, kSavingMessage);
}

void TGIFImage::LoadFromFile(const std::string& file_name) {
  fw::TFileStream stream(file_name, fw::fmOpenRead | fw::fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGIFImage::SaveToFile(const std::string& file_name) {
  fw::TFileStream stream(file_name, fw::fmCreate);
  SaveToStream(stream);
}

void TGIFImage::Assign(const TGIFImage& source) {
  if (&source == this) return;
  Clear();
  header_.Assign(source.header_);
  compression_ = source.compression_;
  max_frame_pixels_ = source.max_frame_pixels_;
  for (auto& f : source.images_) {
    auto copy = std::make_unique<TGIFSubImage>(this);
    copy->Assign(*f);
    images_.Add(std::move(copy));
  }
}

}  // namespace gif
