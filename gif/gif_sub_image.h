// One frame of a GIF file: its extensions, the image descriptor, the local
// colour table and the decoded pixels.
//
// Image descriptor (10 bytes):
//   OFFSET SIZE DESCRIPTION
//      0     1  "," (0x2C)
//      1     2  left
//      3     2  top
//      5     2  width
//      7     2  height
//      9     1  packed: 0x80 local table present, 0x40 interlaced,
//               0x20 table sorted, 0x07 table size (2 << n entries)
// followed by the local table and the image data (code size byte and a
// sub-block chain).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gif/gif_color_map.h"
#include "gif/gif_extension.h"
#include "gif/gif_item.h"

namespace gif {

class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGIFImage* image);
  ~TGIFSubImage() override;

  TGIFVersion RequiredVersion() const override;
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;
  // Frees the extensions, the local table and the pixels.
  void Clear();
  // A copy of another frame: descriptor, pixels, local table, extensions.
  void Assign(const TGIFSubImage& source);

  bool Empty() const { return data_.empty() || width_ == 0 || height_ == 0; }
  std::uint16_t Left() const { return left_; }
  std::uint16_t Top() const { return top_; }
  std::uint16_t Width() const { return width_; }
  std::uint16_t Height() const { return height_; }
  void SetLeft(std::uint16_t v) { left_ = v; }
  void SetTop(std::uint16_t v) { top_ = v; }
  std::uint8_t Packed() const { return packed_; }
  bool Interlaced() const { return (packed_ & 0x40) != 0; }
  void SetInterlaced(bool interlaced);
  // Gives the frame a new size and a pixel buffer filled with fill.
  // Raises "Image dimensions too large" past the image's pixel limits.
  void SetSize(int width, int height, std::uint8_t fill = 0);

  // Pixels, one byte each, rows top to bottom.
  std::uint8_t* Data() { return data_.data(); }
  const std::uint8_t* Data() const { return data_.data(); }
  std::size_t DataSize() const { return data_.size(); }
  // "Image is empty" / "Invalid pixel coordinates".
  std::uint8_t* Scanline(int y);
  std::uint8_t Pixels(int x, int y);

  TGIFLocalColorMap& ColorMap() { return color_map_; }
  const TGIFLocalColorMap& ColorMap() const { return color_map_; }
  // The local table when it has colours, else the global table when that
  // has colours, else the (empty) local table.
  TGIFColorMap& ActiveColorMap();
  TGIFExtensionList& Extensions() { return extensions_; }
  const TGIFExtensionList& Extensions() const { return extensions_; }
  bool Transparent() const { return has_transparency_; }
  TGIFGraphicControlExtension* GraphicControlExtension() const { return gce_; }

 private:
  friend class TGIFGraphicControlExtension;
  // Raises "Image dimensions too large" when a frame of pixels would pass
  // the image's limits.
  void CheckSize(std::int64_t pixels) const;
  // Replaces the pixel buffer, keeping the image's pixel count.
  void SetData(std::vector<std::uint8_t> data);
  friend void DecodeImageData(TGIFSubImage& frame, fw::TStream& stream);

  std::uint16_t left_ = 0;
  std::uint16_t top_ = 0;
  std::uint16_t width_ = 0;
  std::uint16_t height_ = 0;
  std::uint8_t packed_ = 0;
  TGIFLocalColorMap color_map_;
  TGIFExtensionList extensions_;
  std::vector<std::uint8_t> data_;
  bool has_transparency_ = false;
  TGIFGraphicControlExtension* gce_ = nullptr;  // first graphic control of the frame
};

class TGIFImageList : public TGIFList<TGIFSubImage> {
 public:
  // Reads frames up to the trailer (not consumed).
  void LoadFromStream(fw::TStream& stream, TGIFImage* parent);
};

}  // namespace gif
