#include "gif/color_lookup.h"

#include <algorithm>
#include <cstdlib>

namespace gif {

namespace {

// The display's static colours: the first ten at the bottom of a system
// palette, the last ten at the top.
constexpr TGIFColor kSystemColors[20] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00}, {0x00, 0x00, 0x80},
    {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0}, {0xC0, 0xDC, 0xC0}, {0xA6, 0xCA, 0xF0},
    {0xFF, 0xFB, 0xF0}, {0xA0, 0xA0, 0xA4}, {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00},
    {0xFF, 0xFF, 0x00}, {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};

std::uint8_t Step51(int step) { return static_cast<std::uint8_t>(51 * step); }

}  // namespace

ColorPalette WebSafePalette() {
  ColorPalette p;
  p.reserve(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back({Step51(r), Step51(g), Step51(b)});
  return p;
}

ColorPalette GrayPalette256() {
  ColorPalette p(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    p[static_cast<std::size_t>(i)] = {v, v, v};
  }
  return p;
}

ColorPalette GrayPalette4() { return {{0x00, 0x00, 0x00}, {0x80, 0x80, 0x80}, {0xC0, 0xC0, 0xC0}, {0xFF, 0xFF, 0xFF}}; }

ColorPalette MonochromePalette() { return {{0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF}}; }

ColorPalette SystemDefaultPalette() { return ColorPalette(std::begin(kSystemColors), std::end(kSystemColors)); }

// A display-independent stand-in for the screen's halftone palette: the
// static colours where a system palette keeps them, the web cube and a ramp
// of greys between the cube's grey steps.
ColorPalette HalftonePalette() {
  ColorPalette p(std::begin(kSystemColors), std::begin(kSystemColors) + 10);
  const ColorPalette cube = WebSafePalette();
  p.insert(p.end(), cube.begin(), cube.end());
  for (int k = 1; k <= 20; ++k) {
    const auto v = static_cast<std::uint8_t>((255 * k + 10) / 21);
    p.push_back({v, v, v});
  }
  p.insert(p.end(), std::begin(kSystemColors) + 10, std::end(kSystemColors));
  return p;
}

TFastColorLookup::TFastColorLookup(const ColorPalette& palette)
    : TColorLookup(static_cast<int>(std::min<std::size_t>(palette.size(), 256))) {
  cache_.fill(kEmpty);
  for (int i = 0; i < colors_; ++i) {
    const TGIFColor c = palette[static_cast<std::size_t>(i)];
    entries_[static_cast<std::size_t>(i)] = c;
    std::uint16_t& slot = cache_[static_cast<std::size_t>(Cell(c.Red, c.Green, c.Blue))];
    if (slot == kEmpty) slot = static_cast<std::uint16_t>(i);
  }
}

int TFastColorLookup::Nearest(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const {
  int best = 0;
  int best_distance = 3 * 256;  // above any possible distance
  for (int i = 0; i < colors_; ++i) {
    const TGIFColor& e = entries_[static_cast<std::size_t>(i)];
    const int d = std::abs(e.Red - red) + std::abs(e.Green - green) + std::abs(e.Blue - blue);
    if (d < best_distance) {
      best_distance = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

int TFastColorLookup::Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) {
  if (colors_ == 0) {
    chosen = {0, 0, 0};
    return 0;
  }
  std::uint16_t& slot = cache_[static_cast<std::size_t>(Cell(red, green, blue))];
  if (slot == kEmpty) slot = static_cast<std::uint16_t>(Nearest(red, green, blue));
  const int index = slot;
  chosen = entries_[static_cast<std::size_t>(index)];
  return index;
}

int TNetscapeColorLookup::Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) {
  // (c + 3) div 51: a channel goes up to the next step only from 3 below
  // it (48 -> 51, 47 -> 0); the error is at most 47, and dithering carries
  // it on.
  const int r = (red + 3) / 51;
  const int g = (green + 3) / 51;
  const int b = (blue + 3) / 51;
  chosen = {Step51(r), Step51(g), Step51(b)};
  return 36 * r + 6 * g + b;
}

int TGrayScaleLookup::Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) {
  const auto grey = static_cast<std::uint8_t>((77 * red + 150 * green + 29 * blue) >> 8);
  chosen = {grey, grey, grey};
  return grey;
}

int TMonochromeLookup::Lookup(std::uint8_t red, std::uint8_t green, std::uint8_t blue, TGIFColor& chosen) {
  if (77 * red + 150 * green + 29 * blue < 32513) {
    chosen = {0, 0, 0};
    return 0;
  }
  chosen = {0xFF, 0xFF, 0xFF};
  return 1;
}

}  // namespace gif
