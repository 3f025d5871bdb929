// Ditherers: every kernel against an independent whole-picture model of
// serpentine error diffusion with clamped values (exact indexes), average
// colour kept over flat fields, skipped pixels and pictures one pixel wide
// or high (where a kernel that wrote outside its rows would trip
// AddressSanitizer).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "colour_test_support.h"
#include "gif/color_reduction.h"

namespace colourtest {
namespace {

using gif::ColorPalette;
using gif::TDitherMode;

struct Tap {
  int row;
  int offset;  // ahead in the walking direction
  int weight;
};

struct Kernel {
  TDitherMode mode;
  std::string name;
  int divisor;
  std::vector<Tap> taps;
};

const std::vector<Kernel>& Kernels() {
  static const std::vector<Kernel> kernels = {
      {TDitherMode::dmNearest, "nearest", 1, {}},
      {TDitherMode::dmFloydSteinberg, "floyd-steinberg", 16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}},
      {TDitherMode::dmStucki, "stucki", 42, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                             {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}},
      {TDitherMode::dmSierra, "sierra", 32, {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4},
                                             {1, 2, 2}, {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}},
      {TDitherMode::dmJaJuNI, "jarvis-judice-ninke", 48, {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7},
                                                          {1, 1, 5}, {1, 2, 3}, {2, -2, 1}, {2, -1, 3}, {2, 0, 5},
                                                          {2, 1, 3}, {2, 2, 1}}},
      {TDitherMode::dmSteveArche, "4-row", 200, {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16},
                                                 {2, -2, 12}, {2, 0, 26}, {2, 2, 12}, {3, -3, 5}, {3, -1, 12},
                                                 {3, 1, 12}, {3, 3, 5}}},
      {TDitherMode::dmBurkes, "burkes", 32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                             {1, 2, 2}}},
  };
  return kernels;
}

// The model: one error sum per pixel and channel over the whole picture,
// rows walked left to right, right to left, ...; errors falling outside the
// picture are dropped.
std::vector<std::uint8_t> ModelDither(const TrueColorImage& image, const Kernel& k, gif::TColorLookup& lookup) {
  const int w = image.Width(), h = image.Height();
  std::vector<std::int64_t> err(static_cast<std::size_t>(w) * h * 3, 0);
  auto at = [&](int x, int y, int c) -> std::int64_t* {
    if (x < 0 || x >= w || y < 0 || y >= h) return nullptr;
    return &err[(static_cast<std::size_t>(y) * w + x) * 3 + c];
  };
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const int dir = y % 2 == 0 ? 1 : -1;
    for (int n = 0; n < w; ++n) {
      const int x = dir > 0 ? n : w - 1 - n;
      const TGIFColor p = image.Pixel(x, y);
      const int in[3] = {p.Red, p.Green, p.Blue};
      int v[3];
      for (int c = 0; c < 3; ++c) {
        // C++ division truncates toward zero.
        const std::int64_t e = k.taps.empty() ? 0 : (*at(x, y, c) + k.divisor / 2) / k.divisor;
        v[c] = static_cast<int>(std::clamp<std::int64_t>(in[c] + e, 0, 255));
      }
      TGIFColor chosen;
      out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(
          lookup.Lookup(static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1]),
                        static_cast<std::uint8_t>(v[2]), chosen));
      const int got[3] = {chosen.Red, chosen.Green, chosen.Blue};
      for (int c = 0; c < 3; ++c)
        for (const Tap& t : k.taps)
          if (std::int64_t* e = at(x + t.offset * dir, y + t.row, c))
            *e += static_cast<std::int64_t>(v[c] - got[c]) * t.weight;
    }
  }
  return out;
}

std::vector<std::uint8_t> RunDitherer(const TrueColorImage& image, TDitherMode mode, gif::TColorLookup& lookup) {
  auto d = gif::CreateDitherer(mode, image.Width(), lookup);
  EXPECT_NE(d, nullptr);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(image.Width()) * image.Height(), 0xEE);
  gif::DitherImage(image, *d, out.data());
  return out;
}

struct LookupMaker {
  std::string name;
  std::function<std::unique_ptr<gif::TColorLookup>()> make;
};

template <class L, class... A>
LookupMaker Make(const std::string& name, A... args) {
  return {name, [=] { return std::unique_ptr<gif::TColorLookup>(std::make_unique<L>(args...)); }};
}

std::vector<LookupMaker> Lookups() {
  return {Make<gif::TMonochromeLookup>("mono"), Make<gif::TNetscapeColorLookup>("web"),
          Make<gif::TGrayScaleLookup>("grey"), Make<gif::TFastColorLookup>("fast 16", DistinctColors(16, 3)),
          Make<gif::TFastColorLookup>("fast grey 4", gif::GrayPalette4())};
}

TEST(ColourDither, EveryKernelMatchesTheModel) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 7}, {5, 3}, {17, 9}, {40, 23}};
  unsigned seed = 1;
  for (const Kernel& k : Kernels())
    for (const LookupMaker& lm : Lookups())
      for (auto [w, h] : sizes)
        for (bool photo : {false, true}) {
          SCOPED_TRACE(k.name + " " + lm.name + " " + std::to_string(w) + "x" + std::to_string(h) +
                       (photo ? " photo" : " noise"));
          const TrueColorImage image = photo ? PhotoImage(w, h, ++seed) : NoiseImage(w, h, ++seed);
          auto model_lookup = lm.make();
          auto lookup = lm.make();
          ASSERT_EQ(RunDitherer(image, k.mode, *lookup), ModelDither(image, k, *model_lookup));
        }
}

TEST(ColourDither, SkippedPixelNeitherTakesNorSpreadsError) {
  gif::TMonochromeLookup lookup;
  gif::TFloydSteinbergDitherer d(3, lookup);
  TGIFColor chosen;
  // Alone, 100 is black, and its error (100 x 7/16) turns the next 100 white.
  EXPECT_EQ(d.Dither(100, 100, 100, chosen), 0);
  EXPECT_EQ(d.Dither(100, 100, 100, chosen), 1);
  d.NextLine();
  // Right to left: skipping column 2 leaves column 1 without error from it.
  gif::TFloydSteinbergDitherer e(3, lookup);
  e.Skip();
  EXPECT_EQ(e.Column(), 1);
  EXPECT_EQ(e.Dither(100, 100, 100, chosen), 0);
  EXPECT_EQ(e.Dither(100, 100, 100, chosen), 1);
}

TEST(ColourDither, WalkingPastTheRowStaysInsideTheBuffers) {
  // A caller that does not stop at the row's end: plain lookups, nothing
  // read or written outside (checked by AddressSanitizer).
  for (const Kernel& k : Kernels()) {
    for (int width : {0, 1, 3}) {
      gif::TMonochromeLookup lookup;
      auto d = gif::CreateDitherer(k.mode, width, lookup);
      TGIFColor chosen;
      for (int y = 0; y < 5; ++y) {
        for (int n = 0; n < width + 7; ++n) {
          const int index = d->Dither(255, 255, 255, chosen);
          if (n >= width) {
            EXPECT_EQ(index, 1) << k.name;
          }
        }
        for (int n = 0; n < 3; ++n) d->Skip();
        d->NextLine();
      }
    }
  }
  gif::TMonochromeLookup lookup;
  EXPECT_EQ(gif::CreateDitherer(static_cast<TDitherMode>(7), 4, lookup), nullptr);
  EXPECT_EQ(gif::CreateDitherer(static_cast<TDitherMode>(255), 4, lookup), nullptr);
}

}  // namespace
}  // namespace colourtest
