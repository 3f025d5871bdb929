// Frames as pictures: a frame's pixels rendered into a framework bitmap and
// a transparency mask, drawn scaled, tiled or through the mask; and the
// other way, a framework picture imported into a frame.
//
// Mask layout (one bit a pixel, as the display's monochrome bitmaps):
//   rows of (width + 15) / 16 * 2 bytes, top row first; within a byte the
//   leftmost pixel is the highest bit; a bit is 1 where the pixel is the
//   frame's transparent colour index.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "gif/color_reduction.h"
#include "gif/gif_sub_image.h"

namespace fw {
class TPicture;
}

namespace gif {

inline constexpr const char* kRenderingMessage = "Rendering...";
inline constexpr const char* kConvertingMessage = "Converting...";

class TGIFFrameMask {
 public:
  TGIFFrameMask() = default;
  TGIFFrameMask(int width, int height);
  bool Empty() const { return bits_.empty(); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }
  bool Test(int x, int y) const {
    return (bits_[static_cast<std::size_t>(y) * stride_ + (x >> 3)] & (0x80 >> (x & 7))) != 0;
  }
  void Set(int x, int y) { bits_[static_cast<std::size_t>(y) * stride_ + (x >> 3)] |= (0x80 >> (x & 7)); }
  const std::vector<std::uint8_t>& Bits() const { return bits_; }

 private:
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  std::vector<std::uint8_t> bits_;
};

// A rendered frame: an 8-bit bitmap of the frame's size and, when the frame
// has transparency and at least one pixel is transparent, its mask.
struct TGIFFrameBitmap {
  std::unique_ptr<fw::TBitmap> Bitmap;
  TGIFFrameMask Mask;
  bool HasMask() const { return !Mask.Empty(); }
};

// The frame's transparent colour index, or -1 when it has none.
int TransparentIndex(const TGIFSubImage& frame);
// The active colour table as 256 framework colours (missing entries black).
std::vector<fw::TColor> FramePalette(TGIFSubImage& frame);

// Renders the frame's pixels. Plain: the bitmap's palette is the frame's
// active table and the rows are the pixels. Dithered: web palette with
// Floyd-Steinberg dithering in serpentine order; transparent pixels keep the
// web index of the transparent colour and take no part in the dithering.
// An empty frame gives an empty bitmap. Progress goes to the frame's image
// ("Rendering...", every 32 rows).
TGIFFrameBitmap RenderFrame(TGIFSubImage& frame, bool dither);

// The frame's rectangle scaled from the image's logical screen into dest.
fw::TRect ScaleFrameRect(const TGIFSubImage& frame, int image_width, int image_height, const fw::TRect& dest);

// Draws the rendered frame on the canvas. Not tiled: into the frame's
// rectangle scaled into rect. Tiled: in the frame's own size at every
// (rect.Left + frame left + i x image width, rect.Top + frame top + j x image
// height) that starts inside rect. Through the mask when transparent is set
// and the frame has one, else opaque.
void DrawFrame(fw::TCanvas& canvas, const fw::TRect& rect, TGIFSubImage& frame, const TGIFFrameBitmap& rendered,
               bool transparent, bool tile);

// Stretches source into dest_rect of the canvas, leaving the canvas as it
// was where the mask (of source's size) has a 1 bit.
void TransparentStretchBlt(fw::TCanvas& canvas, const fw::TRect& dest_rect, const fw::TBitmap& source,
                           const TGIFFrameMask& mask);

struct TGIFImportSettings {
  TColorReduction Reduction = TColorReduction::rmNetscape;
  TDitherMode Dither = TDitherMode::dmNearest;
  int ReductionBits = 8;
};

// Makes the frame a copy of a picture. A 1-, 4- or 8-bit bitmap keeps its
// palette and indexes; any other is reduced by settings (rmNone: the
// picture's own colours, "Color table overflow" past 256). A transparent
// bitmap's pixels of its transparent colour, and those of any other
// transparent graphic that differ between drawing it on white and on black,
// become the frame's transparent index. The image grows to hold the frame.
// Progress "Converting..." goes to the frame's image, every 32 rows.
void ImportFrame(TGIFSubImage& frame, const fw::TGraphic& source, const TGIFImportSettings& settings);
// A picture holder's graphic; a holder without one clears the frame.
void ImportFrame(TGIFSubImage& frame, const fw::TPicture& source, const TGIFImportSettings& settings);
// marks: one byte a pixel, non-zero where the frame becomes transparent.
void ImportFrameMask(TGIFSubImage& frame, const std::vector<std::uint8_t>& marks);

// Removes the outer columns, then rows, that hold only the transparent
// index, moving the frame's left and top; a frame transparent throughout
// loses its pixels (its extensions stay). Frames without transparency stay.
void CropFrame(TGIFSubImage& frame);

}  // namespace gif
