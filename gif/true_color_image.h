// Plain pixel buffers for colour reduction: a true-colour picture going in
// and a palette picture (a palette plus one index byte per pixel) coming out.
//
// These stand in for the framework's bitmaps, which do not exist yet: the
// picture classes will wrap a TrueColorImage (the 24-bit rows the reducer
// reads) and take an IndexedImage as their 8-bit bitmap with its palette.
// Both keep rows top to bottom without padding, the order TGIFSubImage
// keeps its pixels in.
#pragma once

#include <cstdint>
#include <vector>

#include "gif/gif_color_map.h"

namespace gif {

class TGIFSubImage;

// A palette of up to 256 colours in index order.
using ColorPalette = std::vector<TGIFColor>;

// A picture with zero width or height where one is needed.
inline constexpr const char* kInvalidImageDimensions = "Invalid image dimensions";

class TrueColorImage {
 public:
  // Largest side (the largest a GIF frame can have) and largest pixel count
  // (the codec's default frame limit): sizes come from untrusted pictures
  // and are checked before anything is allocated.
  static constexpr int kMaxSide = 0xFFFF;
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

  TrueColorImage() = default;
  // "Image dimensions too large" for a negative side, a side past kMaxSide
  // or more than kMaxPixels pixels.
  TrueColorImage(int width, int height, TGIFColor fill = {0, 0, 0});

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Row y, Width() pixels; "Invalid pixel coordinates" outside the picture.
  TGIFColor* ScanLine(int y);
  const TGIFColor* ScanLine(int y) const;
  TGIFColor& Pixel(int x, int y);
  const TGIFColor& Pixel(int x, int y) const;
  const std::vector<TGIFColor>& Pixels() const { return pixels_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<TGIFColor> pixels_;
};

// The result of a reduction; empty (no pixels, no palette) when nothing was
// reduced. Every pixel is an index below palette.size().
struct IndexedImage {
  int width = 0;
  int height = 0;
  ColorPalette palette;
  std::vector<std::uint8_t> pixels;

  bool Empty() const { return pixels.empty(); }
};

// Gives a frame the picture's size, pixels and (as its local table) palette.
// Raises "Image dimensions too large" past the frame's limits and
// "Invalid image dimensions" for an empty picture.
void AssignToFrame(const IndexedImage& image, TGIFSubImage& frame);

}  // namespace gif
