// ReduceColors: the palette of every method, indexes always inside it,
// empty results for what cannot be reduced, size checks on pictures, and
// reduced pictures written as GIF and read back (by our reader and by
// giflib) with the same indexes and palette, and the octree quantizer
// lossless on pictures with few colours.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "colour_test_support.h"
#include "gif/color_lookup.h"
#include "gif/color_quantizer.h"
#include "gif/color_reduction.h"
#include "tests/gif/gif_test_support.h"

namespace colourtest {
namespace {

using gif::ColorPalette;
using gif::TColorReduction;
using gif::TDitherMode;

std::string RaisedMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const gif::GIFException& e) {
    return e.Message();
  }
  return "";
}

constexpr TDitherMode kAllModes[] = {TDitherMode::dmNearest, TDitherMode::dmFloydSteinberg, TDitherMode::dmStucki,
                                     TDitherMode::dmSierra,  TDitherMode::dmJaJuNI,         TDitherMode::dmSteveArche,
                                     TDitherMode::dmBurkes};

TEST(ColourReduction, EveryMethodGivesItsPalette) {
  const TrueColorImage image = PhotoImage(33, 21, 1);
  const ColorPalette caller = DistinctColors(5, 2);
  struct Case {
    TColorReduction method;
    ColorPalette palette;  // expected; empty: any of at most `most` colours
    std::size_t most;
  };
  const std::vector<Case> cases = {
      {TColorReduction::rmWindows20, gif::SystemDefaultPalette(), 20},
      {TColorReduction::rmWindows256, gif::HalftonePalette(), 256},
      {TColorReduction::rmWindowsGray, gif::GrayPalette4(), 4},
      {TColorReduction::rmMonochrome, gif::MonochromePalette(), 2},
      {TColorReduction::rmGrayScale, gif::GrayPalette256(), 256},
      {TColorReduction::rmNetscape, gif::WebSafePalette(), 216}, {TColorReduction::rmQuantize, {}, 64},
      {TColorReduction::rmQuantizeWindows, {}, 256}, {TColorReduction::rmPalette, caller, 5},
  };
  for (const Case& c : cases)
    for (TDitherMode mode : kAllModes) {
      SCOPED_TRACE("method " + std::to_string(static_cast<int>(c.method)) + " dither " +
                   std::to_string(static_cast<int>(mode)));
      const gif::IndexedImage r = gif::ReduceColors(image, c.method, mode, &caller, 6);
      ASSERT_FALSE(r.Empty());
      EXPECT_EQ(r.width, 33);
      EXPECT_EQ(r.height, 21);
      ASSERT_EQ(r.pixels.size(), 33u * 21u);
      if (!c.palette.empty()) {
        EXPECT_EQ(r.palette, c.palette);
      }
      EXPECT_LE(r.palette.size(), c.most);
      for (std::uint8_t i : r.pixels) { ASSERT_LT(i, r.palette.size()); }
    }
}

TEST(ColourReduction, NothingToReduceGivesAnEmptyResult) {
  const TrueColorImage image = NoiseImage(8, 8, 3);
  const ColorPalette none;
  struct Case {
    std::string what;
    TColorReduction method;
    TDitherMode mode;
    const ColorPalette* palette;
  };
  const Case cases[] = {
      {"no reduction", TColorReduction::rmNone, TDitherMode::dmNearest, nullptr},
      {"method 10", static_cast<TColorReduction>(10), TDitherMode::dmNearest, nullptr},
      {"method 255", static_cast<TColorReduction>(255), TDitherMode::dmNearest, nullptr},
      {"dither 7", TColorReduction::rmNetscape, static_cast<TDitherMode>(7), nullptr},
      {"dither 200", TColorReduction::rmQuantize, static_cast<TDitherMode>(200), nullptr},
      {"no palette", TColorReduction::rmPalette, TDitherMode::dmNearest, nullptr},
      {"empty palette", TColorReduction::rmPalette, TDitherMode::dmFloydSteinberg, &none},
  };
  for (const Case& c : cases) {
    const gif::IndexedImage r = gif::ReduceColors(image, c.method, c.mode, c.palette, 8);
    EXPECT_TRUE(r.Empty()) << c.what;
    EXPECT_TRUE(r.palette.empty()) << c.what;
  }
}

TEST(ColourReduction, CallerPaletteIsCutAt256) {
  ColorPalette big = gif::GrayPalette256();
  big.insert(big.end(), 44, TGIFColor{255, 0, 0});
  const TrueColorImage red(3, 3, TGIFColor{255, 0, 0});
  const gif::IndexedImage r = gif::ReduceColors(red, TColorReduction::rmPalette, TDitherMode::dmNearest, &big, 8);
  ASSERT_EQ(r.palette.size(), 256u);
  for (std::uint8_t i : r.pixels) { EXPECT_LT(i, 256); }
}

TEST(ColourReduction, PictureSizesAreChecked) {
  const std::pair<int, int> too_large[] = {{-1, 5}, {5, -1}, {65536, 1}, {1, 65536}, {65535, 65535}, {20000, 20000}};
  for (auto [w, h] : too_large)
    EXPECT_EQ(RaisedMessage([&] { TrueColorImage image(w, h); }), gif::kImageTooLarge) << w << "x" << h;
  EXPECT_EQ(RaisedMessage([] { TrueColorImage image(65535, 2); }), "");
  EXPECT_EQ(RaisedMessage([] { TrueColorImage image(2, 65535); }), "");
  for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 7}, std::pair{7, 0}}) {
    const TrueColorImage empty(w, h);
    EXPECT_EQ(RaisedMessage([&] {
                gif::ReduceColors(empty, TColorReduction::rmNetscape, TDitherMode::dmFloydSteinberg, nullptr, 8);
              }),
              gif::kInvalidImageDimensions);
  }
  TrueColorImage image(4, 3);
  EXPECT_EQ(RaisedMessage([&] { image.ScanLine(3); }), gif::kInvalidPixelCoordinates);
  EXPECT_EQ(RaisedMessage([&] { image.Pixel(4, 0); }), gif::kInvalidPixelCoordinates);
  EXPECT_EQ(RaisedMessage([&] { image.Pixel(-1, 0); }), gif::kInvalidPixelCoordinates);
}

TEST(ColourReduction, ReducedPictureSurvivesAGifRoundTrip) {
  const TrueColorImage photo = PhotoImage(61, 37, 5);
  const TrueColorImage thin = NoiseImage(1, 40, 6);
  const TrueColorImage flat = NoiseImage(40, 1, 7);
  struct Case {
    const TrueColorImage* image;
    TColorReduction method;
    TDitherMode mode;
    int bits;
  };
  const Case cases[] = {
      {&photo, TColorReduction::rmQuantize, TDitherMode::dmStucki, 3},
      {&photo, TColorReduction::rmQuantize, TDitherMode::dmNearest, 1},
      {&photo, TColorReduction::rmQuantizeWindows, TDitherMode::dmJaJuNI, 8},
      {&thin, TColorReduction::rmGrayScale, TDitherMode::dmFloydSteinberg, 8},
      {&flat, TColorReduction::rmWindowsGray, TDitherMode::dmStucki, 8},
  };
  for (const Case& c : cases)
    for (gif::TGIFCompression compression : {gif::TGIFCompression::gcLZW, gif::TGIFCompression::gcRLE}) {
      SCOPED_TRACE("method " + std::to_string(static_cast<int>(c.method)) + " dither " +
                   std::to_string(static_cast<int>(c.mode)) +
                   (compression == gif::TGIFCompression::gcRLE ? " rle" : ""));
      const gif::IndexedImage r = gif::ReduceColors(*c.image, c.method, c.mode, nullptr, c.bits);
      ASSERT_FALSE(r.Empty());
      gif::TGIFImage image;
      image.Header().SetWidth(static_cast<std::uint16_t>(r.width));
      image.Header().SetHeight(static_cast<std::uint16_t>(r.height));
      auto frame = std::make_unique<gif::TGIFSubImage>(&image);
      gif::AssignToFrame(r, *frame);
      image.Add(std::move(frame));
      const giftest::Bytes bytes = giftest::SaveOurs(image, compression);

      // The table is padded to a power of two; its first entries are ours.
      auto ours = giftest::LoadOurs(bytes);
      ASSERT_EQ(ours->error, "");
      const gif::TGIFColorMap& map = ours->image->Images()[0]->ColorMap();
      EXPECT_EQ(ColorPalette(map.Data(), map.Data() + std::min<int>(map.Count(), r.palette.size())), r.palette);
      auto theirs = giftest::LoadGiflib(bytes);
      ASSERT_NE(theirs->file, nullptr);
      ASSERT_EQ(theirs->file->ImageCount, 1);
      const SavedImage& s = theirs->file->SavedImages[0];
      ASSERT_EQ(s.ImageDesc.Width * s.ImageDesc.Height, static_cast<int>(r.pixels.size()));
      EXPECT_EQ(std::vector<std::uint8_t>(s.RasterBits, s.RasterBits + r.pixels.size()), r.pixels);
    }
}

std::set<std::tuple<int, int, int>> AsSet(const std::vector<TGIFColor>& colors) {
  std::set<std::tuple<int, int, int>> s;
  for (const auto& c : colors) s.insert({c.Red, c.Green, c.Blue});
  return s;
}

// The octree quantizer is lossless on pictures with few colours.
TEST(ColourReduction, FewColoursReduceLosslessly) {
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

}  // namespace
}  // namespace colourtest
