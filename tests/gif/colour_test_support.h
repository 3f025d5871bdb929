// Helpers of the colour reduction tests: generated pictures and error
// measures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "gif/true_color_image.h"

namespace colourtest {

using gif::TGIFColor;
using gif::TrueColorImage;

inline TGIFColor RandomColor(std::mt19937& rng) {
  return {static_cast<std::uint8_t>(rng() & 0xFF), static_cast<std::uint8_t>(rng() & 0xFF),
          static_cast<std::uint8_t>(rng() & 0xFF)};
}

// Every pixel random.
inline TrueColorImage NoiseImage(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  TrueColorImage image(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.Pixel(x, y) = RandomColor(rng);
  return image;
}

// Smooth gradients with a little noise: a photo-like picture.
inline TrueColorImage PhotoImage(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  TrueColorImage image(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int n = static_cast<int>(rng() % 9) - 4;
      auto ch = [&](int v) { return static_cast<std::uint8_t>(std::clamp(v + n, 0, 255)); };
      image.Pixel(x, y) = {ch(x * 255 / std::max(1, w - 1)), ch(y * 255 / std::max(1, h - 1)),
                           ch(((x + y) * 255 / std::max(1, w + h - 2) + 128) % 256)};
    }
  return image;
}

// A picture drawn from the given colours only.
inline TrueColorImage ImageOfColors(int w, int h, const std::vector<TGIFColor>& colors, unsigned seed) {
  std::mt19937 rng(seed);
  TrueColorImage image(w, h);
  std::size_t next = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Every colour at least once, then at random.
      const std::size_t i = next < colors.size() ? next++ : rng() % colors.size();
      image.Pixel(x, y) = colors[i];
    }
  return image;
}

// Distinct random colours.
// Colours that also lie in distinct cells of the fast lookup's cache (5 bits
// a channel), where each takes its own entry.
inline std::vector<TGIFColor> DistinctColors(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<TGIFColor> out;
  auto cell = [](const TGIFColor& c) { return (c.Red >> 3) | ((c.Green >> 3) << 5) | ((c.Blue >> 3) << 10); };
  while (static_cast<int>(out.size()) < count) {
    const TGIFColor c = RandomColor(rng);
    if (std::none_of(out.begin(), out.end(), [&](const TGIFColor& o) { return cell(o) == cell(c); })) out.push_back(c);
  }
  return out;
}

inline int Distance(const TGIFColor& a, const TGIFColor& b) {
  return std::abs(a.Red - b.Red) + std::abs(a.Green - b.Green) + std::abs(a.Blue - b.Blue);
}

}  // namespace colourtest
