// The file header: signature, logical screen descriptor and global colour
// table.
//
//   OFFSET SIZE DESCRIPTION
//      0     3  "GIF"
//      3     3  version, "87a" or "89a"
//      6     2  logical screen width
//      8     2  logical screen height
//     10     1  packed: 0x80 global table present, 0x70 colour resolution-1,
//               0x08 table sorted, 0x07 table size (2 << n entries)
//     11     1  background colour index
//     12     1  pixel aspect ratio
//     13   3*n  global colour table, when present
#pragma once

#include <cstdint>

#include "gif/gif_color_map.h"
#include "gif/gif_item.h"

namespace gif {

class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFImage* image);
  TGIFVersion RequiredVersion() const override;
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;
  void Clear();
  // Recomputes the packed byte from the colour tables of the image.
  void Prepare();
  void Assign(const TGIFHeader& source);

  std::uint16_t Width() const { return width_; }
  std::uint16_t Height() const { return height_; }
  void SetWidth(std::uint16_t w) { width_ = w; }
  void SetHeight(std::uint16_t h) { height_ = h; }
  std::uint8_t Packed() const { return packed_; }
  std::uint8_t BackgroundColorIndex() const { return background_index_; }
  void SetBackgroundColorIndex(std::uint8_t index) { background_index_ = index; }
  std::uint8_t AspectRatio() const { return aspect_ratio_; }
  void SetAspectRatio(std::uint8_t aspect) { aspect_ratio_ = aspect; }
  TGIFGlobalColorMap& ColorMap() { return color_map_; }
  const TGIFGlobalColorMap& ColorMap() const { return color_map_; }

 private:
  std::uint16_t width_ = 0;
  std::uint16_t height_ = 0;
  std::uint8_t packed_ = 0;
  std::uint8_t background_index_ = 0;
  std::uint8_t aspect_ratio_ = 0;
  TGIFGlobalColorMap color_map_;
};

}  // namespace gif
