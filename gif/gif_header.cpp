#include "gif/gif_header.h"

#include <cctype>

#include "gif/gif_exception.h"
#include "gif/gif_image.h"
#include "gif/gif_stream_io.h"

namespace gif {

namespace {

bool HasSignature(const std::uint8_t* p) {
  return std::toupper(p[0]) == 'G' && std::toupper(p[1]) == 'I' && std::toupper(p[2]) == 'F';
}

}  // namespace

TGIFHeader::TGIFHeader(TGIFImage* image) : TGIFItem(image), color_map_(image) {}

TGIFVersion TGIFHeader::RequiredVersion() const {
  if (color_map_.Sorted() || aspect_ratio_ != 0) return TGIFVersion::gv89a;
  return TGIFItem::RequiredVersion();
}

void TGIFHeader::Clear() {
  width_ = height_ = 0;
  packed_ = background_index_ = aspect_ratio_ = 0;
  color_map_.Clear();
}

void TGIFHeader::Assign(const TGIFHeader& source) {
  width_ = source.width_;
  height_ = source.height_;
  packed_ = source.packed_;
  background_index_ = source.background_index_;
  aspect_ratio_ = source.aspect_ratio_;
  color_map_.Assign(source.color_map_);
}

void TGIFHeader::LoadFromStream(fw::TStream& stream) {
  const std::int64_t start = stream.Position();
  std::uint8_t sig[6];
  ReadCheck(stream, sig, 6);
  if (!HasSignature(sig)) {
    // Some files carry 4 bytes of other data in front of the signature.
    stream.SetPosition(start + 4);
    ReadCheck(stream, sig, 6);
    if (!HasSignature(sig)) RaiseGIFError(kInvalidSignature);
  }
  std::uint8_t lsd[7];
  ReadCheck(stream, lsd, 7);
  width_ = GetLE16(lsd);
  height_ = GetLE16(lsd + 2);
  packed_ = lsd[4];
  background_index_ = lsd[5];
  aspect_ratio_ = lsd[6];
  if (packed_ & 0x80) {
    color_map_.LoadFromStream(stream, 2 << (packed_ & 7));
    color_map_.SetSorted((packed_ & 0x08) != 0);
  } else {
    color_map_.Clear();
  }
}

void TGIFHeader::Prepare() {
  const int global = color_map_.Count();
  std::uint8_t packed = 0;
  if (global > 0) packed |= 0x80;
  if (global > 0 && color_map_.Sorted()) packed |= 0x08;
  const int resolution = image_ ? image_->ColorResolution() : (global > 0 ? BitsNeeded(global) - 1 : 0);
  packed |= static_cast<std::uint8_t>((resolution << 4) & 0x70);
  // The size field tells a reader how many table bytes follow, so it comes
  // from the global table itself, not from the largest table of the file.
  if (global > 0) {
    packed |= static_cast<std::uint8_t>((BitsNeeded(global) - 1) & 7);
  } else {
    const int bits = image_ ? image_->BitsPerPixel() : 0;
    packed |= static_cast<std::uint8_t>((bits - 1) & 7);
  }
  packed_ = packed;
}

void TGIFHeader::SaveToStream(fw::TStream& stream) {
  const TGIFVersion version = image_ ? image_->Version() : RequiredVersion();
  if (version == TGIFVersion::gvUnknown) RaiseGIFError(kUnsupportedVersion);
  WriteBytes(stream, version == TGIFVersion::gv89a ? "GIF89a" : "GIF87a", 6);
  Prepare();
  std::uint8_t lsd[7];
  PutLE16(lsd, width_);
  PutLE16(lsd + 2, height_);
  lsd[4] = packed_;
  lsd[5] = background_index_;
  lsd[6] = aspect_ratio_;
  WriteBytes(stream, lsd, 7);
  if (packed_ & 0x80) color_map_.SaveToStream(stream);
}

}  // namespace gif
