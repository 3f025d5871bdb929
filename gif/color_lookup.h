// Fixed palettes and colour lookups: a lookup maps a true colour to the index
// of a palette entry and tells which colour that entry holds.
//
// Fixed palettes:
//   WebSafePalette       216  index = 36 r + 6 g + b, r, g, b in 0..5, channel = 51 x step
//   GrayPalette256       256  entry i = (i, i, i)
//   GrayPalette4           4  0x00, 0x80, 0xC0, 0xFF on all channels
//   MonochromePalette      2  black, white
//   SystemDefaultPalette  20  the display's 20 static colours
//   HalftonePalette      256  static colours at 0..9 and 246..255, the web
//                             cube at 10..225, 20 greys at 226..245
#pragma once

#include <array>
#include <cstdint>

#include "gif/true_color_image.h"

namespace gif {

ColorPalette WebSafePalette();
ColorPalette GrayPalette256();
ColorPalette GrayPalette4();
ColorPalette MonochromePalette();
ColorPalette SystemDefaultPalette();
ColorPalette HalftonePalette();

class TColorLookup {
 public:
  explicit TColorLookup(int colors) : colors_(colors) {}
  virtual ~TColorLookup() = default;
  TColorLookup(const TColorLookup&) = delete;
  TColorLookup& operator=(const TColorLookup&) = delete;

  // The palette index for a colour; chosen receives the entry's colour.
  virtual int Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) = 0;
  int Colors() const { return colors_; }

 protected:
  int colors_;
};

// Any palette of up to 256 entries (more are ignored). The nearest entry by
// the sum of absolute channel differences, the lowest index on ties, with a
// cache of one index per 5-bit-per-channel colour cell: a colour takes the
// answer found for the first colour of its cell. Palette entries are entered
// in their cells first, the first entry of a cell winning: a palette colour
// whose cell holds an earlier entry maps to that entry (the cache is as
// coarse for palette colours as for any other).
class TFastColorLookup : public TColorLookup {
 public:
  explicit TFastColorLookup(const ColorPalette& palette);
  int Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) override;

 private:
  static constexpr std::uint16_t kEmpty = 0xFFFF;
  // Cell of a colour: bits 0..4 red, 5..9 green, 10..14 blue (top 5 bits each).
  static int Cell(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return (red >> 3) | ((green & 0xF8) << 2) | ((blue & 0xF8) << 7);
  }
  int Nearest(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const;

  std::array<TGIFColor, 256> entries_{};
  std::array<std::uint16_t, 32768> cache_;
};

// The web palette: each channel c goes to step (c + 3) div 51 of 0, 51,
// ..., 255.
class TNetscapeColorLookup : public TColorLookup {
 public:
  TNetscapeColorLookup() : TColorLookup(216) {}
  int Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) override;
};

// 256 greys: grey = (77 red + 150 green + 29 blue) >> 8 is index and colour.
class TGrayScaleLookup : public TColorLookup {
 public:
  TGrayScaleLookup() : TColorLookup(256) {}
  int Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) override;
};

// Black (0) below luminance 77 red + 150 green + 29 blue = 32513, else white (1).
class TMonochromeLookup : public TColorLookup {
 public:
  TMonochromeLookup() : TColorLookup(2) {}
  int Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) override;
};

}  // namespace gif
