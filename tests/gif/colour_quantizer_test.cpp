// Octree quantizer: lossless on pictures with few colours, clusters found
// when few colours are asked, the system colours kept in place, and hostile
// parameters held to their ranges.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "colour_test_support.h"
#include "gif/color_lookup.h"
#include "gif/color_quantizer.h"
#include "gif/color_reduction.h"

namespace colourtest {
namespace {

using gif::ColorPalette;
using gif::TColorReduction;
using gif::TDitherMode;

std::set<std::tuple<int, int, int>> AsSet(const std::vector<TGIFColor>& colors) {
  std::set<std::tuple<int, int, int>> s;
  for (const auto& c : colors) s.insert({c.Red, c.Green, c.Blue});
  return s;
}

// Mean L1 distance between each pixel and its palette colour.
double MeanError(const TrueColorImage& image, const gif::IndexedImage& reduced) {
  double sum = 0;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint8_t i = reduced.pixels[static_cast<std::size_t>(y) * image.Width() + x];
      sum += Distance(image.Pixel(x, y), reduced.palette.at(i));
    }
  return sum / (static_cast<double>(image.Width()) * image.Height());
}

TEST(ColourQuantizer, FewColoursReduceLosslessly) {
  // (distinct colours, colour count asked); colours in distinct lookup
  // cache cells (colours sharing a cell take the cell's first entry).
  const std::vector<std::pair<int, int>> cases = {{1, 2},   {2, 2},   {3, 4},    {4, 4},   {17, 32},
                                                  {100, 128}, {200, 256}, {256, 256}};
  for (auto [distinct, asked] : cases) {
    SCOPED_TRACE(std::to_string(distinct) + " colours, " + std::to_string(asked) + " asked");
    std::vector<TGIFColor> colors = DistinctColors(distinct, static_cast<unsigned>(distinct));
    if (distinct >= 4) colors[1] = {0, 0, 0};
    const TrueColorImage image = ImageOfColors(37, 23, colors, 9);
    const ColorPalette p = gif::OctreePalette(image, asked, 8, false);
    EXPECT_EQ(AsSet(p), AsSet(colors));
    EXPECT_EQ(p.size(), colors.size());
    int bits = 1;
    while ((1 << bits) < asked) ++bits;
    for (TDitherMode mode : {TDitherMode::dmNearest, TDitherMode::dmFloydSteinberg, TDitherMode::dmStucki}) {
      const gif::IndexedImage r = gif::ReduceColors(image, TColorReduction::rmQuantize, mode, nullptr, bits);
      ASSERT_FALSE(r.Empty());
      EXPECT_EQ(r.palette, p);
      for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
          ASSERT_EQ(r.palette.at(r.pixels[static_cast<std::size_t>(y) * image.Width() + x]), image.Pixel(x, y));
    }
  }
}

TEST(ColourQuantizer, SystemColoursStayInPlace) {
  const std::vector<TGIFColor> colors = DistinctColors(236, 4);
  const TrueColorImage image = ImageOfColors(40, 30, colors, 5);
  const ColorPalette system = gif::SystemDefaultPalette();
  const ColorPalette p = gif::OctreePalette(image, 256, 8, true);
  ASSERT_EQ(p.size(), 256u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(p[static_cast<std::size_t>(i)], system[static_cast<std::size_t>(i)]);
    EXPECT_EQ(p[static_cast<std::size_t>(246 + i)], system[static_cast<std::size_t>(10 + i)]);
  }
  EXPECT_EQ(AsSet(ColorPalette(p.begin() + 10, p.begin() + 246)), AsSet(colors));
  // And on a picture of many colours, through the reduction method.
  const TrueColorImage noise = NoiseImage(50, 50, 6);
  const gif::IndexedImage r =
      gif::ReduceColors(noise, TColorReduction::rmQuantizeWindows, TDitherMode::dmFloydSteinberg, nullptr, 8);
  ASSERT_EQ(r.palette.size(), 256u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(r.palette[static_cast<std::size_t>(i)], system[static_cast<std::size_t>(i)]);
    EXPECT_EQ(r.palette[static_cast<std::size_t>(246 + i)], system[static_cast<std::size_t>(10 + i)]);
  }
}

TEST(ColourQuantizer, FewColoursAskedFindTheClusters) {
  // Four tight clusters far apart, asked for 4 (and 2) colours: folding
  // the root would leave one colour for everything.
  const TGIFColor centres[] = {{20, 20, 20}, {230, 30, 30}, {30, 230, 30}, {220, 220, 230}};
  std::mt19937 rng(12);
  TrueColorImage image(40, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const TGIFColor c = centres[(x / 10 + y / 20) % 4];
      auto j = [&](std::uint8_t v) { return static_cast<std::uint8_t>(v + static_cast<int>(rng() % 5) - 2); };
      image.Pixel(x, y) = {j(c.Red), j(c.Green), j(c.Blue)};
    }
  const gif::IndexedImage four =
      gif::ReduceColors(image, TColorReduction::rmQuantize, TDitherMode::dmNearest, nullptr, 2);
  EXPECT_EQ(four.palette.size(), 4u);
  EXPECT_LT(MeanError(image, four), 6.0);
  const gif::IndexedImage two =
      gif::ReduceColors(image, TColorReduction::rmQuantize, TDitherMode::dmNearest, nullptr, 1);
  EXPECT_EQ(two.palette.size(), 2u);
  EXPECT_GT(MeanError(image, two), MeanError(image, four));
}

TEST(ColourQuantizer, HostileParametersAreHeldToTheirRanges) {
  const TrueColorImage image = NoiseImage(20, 20, 10);
  const std::tuple<int, int, std::size_t> cases[] = {
      {0, 8, 2}, {-5, 8, 2}, {1, 8, 2}, {1000, 8, 256}, {256, 0, 256}, {256, 99, 256}, {256, -3, 256}};
  for (auto [colors, bits, most] : cases) {
    const ColorPalette p = gif::OctreePalette(image, colors, bits, false);
    EXPECT_GE(p.size(), 1u);
    EXPECT_LE(p.size(), most) << colors << " " << bits;
  }
  for (int bits : {-1, 0, 9, 1000}) {
    const gif::IndexedImage r =
        gif::ReduceColors(image, TColorReduction::rmQuantize, TDitherMode::dmNearest, nullptr, bits);
    ASSERT_FALSE(r.Empty());
    EXPECT_LE(r.palette.size(), 256u);
    for (std::uint8_t i : r.pixels) { ASSERT_LT(i, r.palette.size()); }
  }
  // A quantizer of one colour keeps up to 8 leaves and merges them.
  gif::TColorQuantizer one(1, 8);
  one.ProcessImage(image);
  EXPECT_LE(one.LeafCount(), 8);
  EXPECT_EQ(one.Palette().size(), 1u);
  // No pixels, no colours.
  EXPECT_TRUE(gif::OctreePalette(TrueColorImage(), 256, 8, false).empty());
}

}  // namespace
}  // namespace colourtest
