#include "gif/gif_sub_image.h"

#include "gif/gif_encoder.h"
#include "gif/gif_exception.h"
#include "gif/gif_image.h"
#include "gif/gif_stream_io.h"
#include "gif/lzw_decoder.h"

namespace gif {

TGIFSubImage::TGIFSubImage(TGIFImage* image) : TGIFItem(image), color_map_(this) {}

TGIFSubImage::~TGIFSubImage() {
  // The extensions refer back to this frame while they are freed.
  extensions_.Clear();
  SetData({});
}

void TGIFSubImage::CheckSize(std::int64_t pixels) const {
  const std::int64_t frame_limit = image_ ? image_->MaxFramePixels() : TGIFImage::kDefaultMaxFramePixels;
  if (pixels > frame_limit) RaiseGIFError(kImageTooLarge);
  if (image_) {
    const std::int64_t others = image_->total_pixels_ - static_cast<std::int64_t>(data_.size());
    if (others + pixels > image_->MaxTotalPixels()) RaiseGIFError(kImageTooLarge);
  }
}

void TGIFSubImage::SetData(std::vector<std::uint8_t> data) {
  if (image_)
    image_->total_pixels_ += static_cast<std::int64_t>(data.size()) - static_cast<std::int64_t>(data_.size());
  data_ = std::move(data);
}

TGIFVersion TGIFSubImage::RequiredVersion() const {
  if (color_map_.Sorted() || extensions_.Count() > 0) return TGIFVersion::gv89a;
  return TGIFVersion::gv87a;
}

void TGIFSubImage::Clear() {
  extensions_.Clear();
  color_map_.Clear();
  SetData({});
  left_ = top_ = width_ = height_ = 0;
  packed_ = 0;
  has_transparency_ = false;
  gce_ = nullptr;
}

void TGIFSubImage::SetInterlaced(bool interlaced) {
  packed_ = static_cast<std::uint8_t>(interlaced ? (packed_ | 0x40) : (packed_ & ~0x40));
}

void TGIFSubImage::SetSize(int width, int height, std::uint8_t fill) {
  if (width < 0 || height < 0 || width > 0xFFFF || height > 0xFFFF) RaiseGIFError(kImageTooLarge);
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  CheckSize(pixels);
  SetData({});
  width_ = static_cast<std::uint16_t>(width);
  height_ = static_cast<std::uint16_t>(height);
  SetData(std::vector<std::uint8_t>(static_cast<std::size_t>(pixels), fill));
}

std::uint8_t* TGIFSubImage::Scanline(int y) {
  if (Empty()) RaiseGIFError(kImageIsEmpty);
  if (y < 0 || y >= height_) RaiseGIFError(kInvalidPixelCoordinates);
  return data_.data() + static_cast<std::size_t>(y) * width_;
}

std::uint8_t TGIFSubImage::Pixels(int x, int y) {
  if (Empty()) RaiseGIFError(kImageIsEmpty);
  if (x < 0 || x >= width_ || y < 0 || y >= height_) RaiseGIFError(kInvalidPixelCoordinates);
  return data_[static_cast<std::size_t>(y) * width_ + static_cast<std::size_t>(x)];
}

TGIFColorMap& TGIFSubImage::ActiveColorMap() {
  if (color_map_.Count() > 0) return color_map_;
  if (image_ && image_->GlobalColorMap().Count() > 0) return image_->GlobalColorMap();
  return color_map_;
}

void TGIFSubImage::Assign(const TGIFSubImage& source) {
  if (&source == this) return;
  Clear();
  if (!source.Empty()) {
    left_ = source.left_;
    top_ = source.top_;
    width_ = source.width_;
    height_ = source.height_;
    packed_ = source.packed_;
    CheckSize(static_cast<std::int64_t>(source.data_.size()));
    SetData(source.data_);
    color_map_.Assign(source.color_map_);
  }
  // The extensions are copied through their stored form.
  fw::TMemoryStream buffer;
  const_cast<TGIFExtensionList&>(source.extensions_).SaveToStream(buffer);
  const std::uint8_t end = kImageSeparator;
  buffer.WriteBuffer(&end, 1);
  buffer.SetPosition(0);
  extensions_.LoadFromStream(buffer, this);
  has_transparency_ = source.has_transparency_;
}

void TGIFSubImage::LoadFromStream(fw::TStream& stream) {
  Clear();
  extensions_.LoadFromStream(stream, this);
  const int b = ReadByteOrEnd(stream);
  if (b < 0) return;
  stream.Seek(-1, fw::TSeekOrigin::soCurrent);
  // Anything but an image descriptor ends the frame here; the frame list
  // then decides what the byte is.
  if (b != kImageSeparator) return;
  std::uint8_t d[10];
  ReadCheck(stream, d, 10);
  left_ = GetLE16(d + 1);
  top_ = GetLE16(d + 3);
  int width = GetLE16(d + 5);
  int height = GetLE16(d + 7);
  packed_ = d[9];
  const int screen_width = image_ ? image_->Width() : 0;
  const int screen_height = image_ ? image_->Height() : 0;
  if (width == 0 || height == 0) {
    width = screen_width;
    height = screen_height;
    Warning(kImageExceedsScreen);
  } else if (left_ + width > screen_width || top_ + height > screen_height) {
    Warning(kImageExceedsScreen);
  }
  // Checked here so that a hostile size fails before anything is read or
  // allocated for it.
  CheckSize(static_cast<std::int64_t>(width) * height);
  width_ = static_cast<std::uint16_t>(width);
  height_ = static_cast<std::uint16_t>(height);
  if (packed_ & 0x80) {
    color_map_.LoadFromStream(stream, 2 << (packed_ & 7));
    color_map_.SetSorted((packed_ & 0x20) != 0);
  }
  DecodeImageData(*this, stream);
}

void TGIFSubImage::SaveToStream(fw::TStream& stream) {
  extensions_.SaveToStream(stream);
  if (Empty()) return;
  // The interlace bit is kept in both cases: the encoder writes the rows in
  // the order this byte announces.
  if (color_map_.Count() > 0) {
    packed_ = static_cast<std::uint8_t>(0x80 | (color_map_.Sorted() ? 0x20 : 0) |
                                        ((BitsNeeded(color_map_.Count()) - 1) & 7) | (packed_ & 0x58));
  } else {
    packed_ &= 0x58;
  }
  std::uint8_t d[10];
  d[0] = kImageSeparator;
  PutLE16(d + 1, left_);
  PutLE16(d + 3, top_);
  PutLE16(d + 5, width_);
  PutLE16(d + 7, height_);
  d[9] = packed_;
  WriteBytes(stream, d, 10);
  color_map_.SaveToStream(stream);
  EncodeImageData(*this, stream);
}

void TGIFImageList::LoadFromStream(fw::TStream& stream, TGIFImage* parent) {
  int b = -1;
  for (;;) {
    do {
      b = ReadByteOrEnd(stream);
    } while (b == 0);
    if (b < 0 || b == kTrailer) break;
    if (b != kExtensionIntroducer && b != kImageSeparator) {
      parent->ReportWarning(parent, 1, kUnknownBlockType);
      break;
    }
    stream.Seek(-1, fw::TSeekOrigin::soCurrent);
    // Added before it loads, so that a frame cut short by an error stays
    // with what it had read.
    TGIFSubImage* frame = Add(std::make_unique<TGIFSubImage>(parent));
    frame->LoadFromStream(stream);
    const std::int64_t size = stream.Size();
    parent->Progress(parent, TProgressStage::psRunning,
                     size > 0 ? static_cast<int>(stream.Position() * 100 / size) : 0, kLoadingMessage);
  }
  if (b >= 0) stream.Seek(-1, fw::TSeekOrigin::soCurrent);
}

}  // namespace gif
