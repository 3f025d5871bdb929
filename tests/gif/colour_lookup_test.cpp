// Fixed palettes and colour lookups: palette contents, every lookup exact on
// its own palette's colours, the fast lookup against a brute-force nearest
// search, and the documented thresholds.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "colour_test_support.h"
#include "gif/color_lookup.h"

namespace colourtest {
namespace {

using gif::ColorPalette;

struct Entry {
  int index;
  TGIFColor color;
};

struct FixedPaletteCase {
  std::string name;
  std::function<ColorPalette()> make;
  std::size_t size;
  std::vector<Entry> entries;
};

TEST(ColourLookup, FixedPalettes) {
  const ColorPalette system = gif::SystemDefaultPalette();
  const std::vector<FixedPaletteCase> cases = {
      {"web", gif::WebSafePalette, 216,
       {{0, {0, 0, 0}}, {1, {0, 0, 51}}, {6, {0, 51, 0}}, {36, {51, 0, 0}}, {51, {51, 102, 153}},
        {180, {255, 0, 0}}, {30, {0, 255, 0}}, {5, {0, 0, 255}}, {215, {255, 255, 255}}}},
      {"grey 256", gif::GrayPalette256, 256, {{0, {0, 0, 0}}, {1, {1, 1, 1}}, {128, {128, 128, 128}}, {255, {255, 255, 255}}}},
      {"grey 4", gif::GrayPalette4, 4,
       {{0, {0, 0, 0}}, {1, {0x80, 0x80, 0x80}}, {2, {0xC0, 0xC0, 0xC0}}, {3, {0xFF, 0xFF, 0xFF}}}},
      {"black and white", gif::MonochromePalette, 2, {{0, {0, 0, 0}}, {1, {255, 255, 255}}}},
      {"system", gif::SystemDefaultPalette, 20,
       {{0, {0, 0, 0}}, {1, {0x80, 0, 0}}, {2, {0, 0x80, 0}}, {4, {0, 0, 0x80}}, {7, {0xC0, 0xC0, 0xC0}},
        {8, {0xC0, 0xDC, 0xC0}}, {9, {0xA6, 0xCA, 0xF0}}, {10, {0xFF, 0xFB, 0xF0}}, {11, {0xA0, 0xA0, 0xA4}},
        {12, {0x80, 0x80, 0x80}}, {13, {0xFF, 0, 0}}, {16, {0, 0, 0xFF}}, {19, {0xFF, 0xFF, 0xFF}}}},
      {"halftone", gif::HalftonePalette, 256,
       {{0, system[0]}, {9, system[9]}, {10, {0, 0, 0}}, {10 + 180, {255, 0, 0}}, {225, {255, 255, 255}},
        {246, system[10]}, {255, system[19]}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ColorPalette p = c.make();
    ASSERT_EQ(p.size(), c.size);
    for (const Entry& e : c.entries) { EXPECT_EQ(p.at(static_cast<std::size_t>(e.index)), e.color) << "entry " << e.index; }
  }
}

TEST(ColourLookup, WebPaletteIsTheCubeInIndexOrder) {
  const ColorPalette p = gif::WebSafePalette();
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) {
        const TGIFColor want{static_cast<std::uint8_t>(51 * r), static_cast<std::uint8_t>(51 * g),
                             static_cast<std::uint8_t>(51 * b)};
        ASSERT_EQ(p[static_cast<std::size_t>(36 * r + 6 * g + b)], want);
      }
}

// Each lookup with the palette it indexes.
struct LookupCase {
  std::string name;
  std::function<std::unique_ptr<gif::TColorLookup>()> make;
  ColorPalette palette;
};

std::vector<LookupCase> AllLookups() {
  std::vector<LookupCase> out = {
      {"web", [] { return std::make_unique<gif::TNetscapeColorLookup>(); }, gif::WebSafePalette()},
      {"grey", [] { return std::make_unique<gif::TGrayScaleLookup>(); }, gif::GrayPalette256()},
      {"mono", [] { return std::make_unique<gif::TMonochromeLookup>(); }, gif::MonochromePalette()},
  };
  const std::vector<std::pair<std::string, ColorPalette>> fast = {
      {"fast system", gif::SystemDefaultPalette()}, {"fast halftone", gif::HalftonePalette()},
      {"fast grey 4", gif::GrayPalette4()},         {"fast grey 256", gif::GrayPalette256()},
      {"fast web", gif::WebSafePalette()},          {"fast random 256", DistinctColors(256, 11)},
      {"fast random 7", DistinctColors(7, 12)},
      // Neighbours that share cache cells.
      {"fast close", {{0, 0, 0}, {1, 1, 1}, {7, 7, 7}, {8, 8, 8}, {6, 0, 0}, {200, 100, 50}, {201, 100, 50}}},
  };
  for (const auto& [name, p] : fast)
    out.push_back({name, [p] { return std::make_unique<gif::TFastColorLookup>(p); }, p});
  return out;
}

int Cell(const TGIFColor& c) { return (c.Red >> 3) | ((c.Green >> 3) << 5) | ((c.Blue >> 3) << 10); }

// Every palette colour maps to its own entry; through the fast lookup's
// cache, to the first entry of its cell (5 bits a channel), which is its
// own unless an earlier entry shares the cell.
TEST(ColourLookup, EveryPaletteColourMapsToItsEntry) {
  for (const auto& c : AllLookups()) {
    SCOPED_TRACE(c.name);
    const bool cached = c.name.rfind("fast", 0) == 0;
    auto lookup = c.make();
    EXPECT_EQ(lookup->Colors(), static_cast<int>(c.palette.size()));
    // Twice: the second pass goes through the cache.
    for (int pass = 0; pass < 2; ++pass)
      for (std::size_t i = 0; i < c.palette.size(); ++i) {
        std::size_t first = i;
        if (cached)
          for (std::size_t k = 0; k < i; ++k)
            if (Cell(c.palette[k]) == Cell(c.palette[i])) {
              first = k;
              break;
            }
        const TGIFColor want = c.palette[i];
        TGIFColor chosen{1, 2, 3};
        const int index = lookup->Lookup(want.Red, want.Green, want.Blue, chosen);
        EXPECT_EQ(index, static_cast<int>(first)) << "entry " << i;
        EXPECT_EQ(chosen, c.palette[first]) << "entry " << i;
      }
  }
}

TEST(ColourLookup, ChosenColourIsTheIndexedEntry) {
  std::mt19937 rng(5);
  for (const auto& c : AllLookups()) {
    SCOPED_TRACE(c.name);
    auto lookup = c.make();
    for (int n = 0; n < 5000; ++n) {
      const TGIFColor q = RandomColor(rng);
      TGIFColor chosen;
      const int index = lookup->Lookup(q.Red, q.Green, q.Blue, chosen);
      ASSERT_GE(index, 0);
      ASSERT_LT(index, static_cast<int>(c.palette.size()));
      ASSERT_EQ(chosen, c.palette[static_cast<std::size_t>(index)]);
    }
  }
}

int BruteNearest(const ColorPalette& p, const TGIFColor& q) {
  int best = 0;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (Distance(p[i], q) < Distance(p[static_cast<std::size_t>(best)], q)) best = static_cast<int>(i);
  return best;
}

TEST(ColourLookup, FastLookupFindsTheNearestOnAFreshCell) {
  std::mt19937 rng(6);
  for (int size : {1, 2, 20, 256}) {
    const ColorPalette p = DistinctColors(size, static_cast<unsigned>(size));
    gif::TFastColorLookup lookup(p);
    // Distinct cells, so each query is the first of its cell.
    std::vector<bool> seen(32768);
    for (int n = 0; n < 3000; ++n) {
      const TGIFColor q = RandomColor(rng);
      const int cell = (q.Red >> 3) | ((q.Green >> 3) << 5) | ((q.Blue >> 3) << 10);
      if (seen[static_cast<std::size_t>(cell)]) continue;
      seen[static_cast<std::size_t>(cell)] = true;
      TGIFColor chosen;
      const int index = lookup.Lookup(q.Red, q.Green, q.Blue, chosen);
      EXPECT_EQ(Distance(p[static_cast<std::size_t>(index)], q), Distance(p[static_cast<std::size_t>(BruteNearest(p, q))], q));
    }
  }
}

TEST(ColourLookup, FastLookupTiesAndDuplicatesGoToTheLowerIndex) {
  // Entries 1 and 3 are the same colour; (10, 10, 10) is as near to entry 0
  // as to entry 2.
  const ColorPalette p = {{0, 0, 10}, {100, 100, 100}, {20, 20, 10}, {100, 100, 100}};
  gif::TFastColorLookup lookup(p);
  TGIFColor chosen;
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(lookup.Lookup(100, 100, 100, chosen), 1);
    EXPECT_EQ(lookup.Lookup(98, 101, 100, chosen), 1);
    EXPECT_EQ(lookup.Lookup(10, 10, 10, chosen), 0);
  }
}

TEST(ColourLookup, FastLookupCellsShareTheFirstAnswer) {
  // (0..7, 0..7, 0..7) is one cell: the first colour asked decides for the
  // cell, as long as no palette colour lies in it.
  const ColorPalette p = {{0, 0, 9}, {9, 0, 0}};
  gif::TFastColorLookup lookup(p);
  TGIFColor chosen;
  EXPECT_EQ(lookup.Lookup(1, 0, 7, chosen), 0);
  EXPECT_EQ(lookup.Lookup(7, 0, 1, chosen), 0);  // nearer to entry 1, but cached
}

TEST(ColourLookup, FastLookupWithoutColours) {
  gif::TFastColorLookup lookup(ColorPalette{});
  EXPECT_EQ(lookup.Colors(), 0);
  TGIFColor chosen{9, 9, 9};
  EXPECT_EQ(lookup.Lookup(1, 2, 3, chosen), 0);
  EXPECT_EQ(chosen, (TGIFColor{0, 0, 0}));
}

TEST(ColourLookup, FastLookupTakesAtMost256Entries) {
  ColorPalette p = gif::GrayPalette256();
  p.push_back({1, 2, 3});
  gif::TFastColorLookup lookup(p);
  EXPECT_EQ(lookup.Colors(), 256);
  TGIFColor chosen;
  EXPECT_LT(lookup.Lookup(1, 2, 3, chosen), 256);
}

// Each channel c goes to step (c + 3) div 51: from 3 below a step up to 48
// above the one before.
TEST(ColourLookup, WebLookupStepsEachChannel) {
  gif::TNetscapeColorLookup lookup;
  TGIFColor chosen;
  EXPECT_EQ(lookup.Lookup(255, 0, 0, chosen), 180);
  EXPECT_EQ(chosen, (TGIFColor{255, 0, 0}));
  for (int v = 0; v < 256; ++v) {
    const auto c = static_cast<std::uint8_t>(v);
    const int step = (v + 3) / 51;
    EXPECT_EQ(lookup.Lookup(c, 0, 0, chosen), 36 * step) << v;
    EXPECT_EQ(chosen.Red, 51 * step) << v;
    EXPECT_EQ(lookup.Lookup(0, c, 0, chosen), 6 * step) << v;
    EXPECT_EQ(chosen.Green, 51 * step) << v;
    EXPECT_EQ(lookup.Lookup(0, 0, c, chosen), step) << v;
    EXPECT_EQ(chosen.Blue, 51 * step) << v;
  }
  struct {
    std::uint8_t in;
    std::uint8_t out;
  } const steps[] = {{47, 0}, {48, 51}, {98, 51}, {99, 102}, {149, 102}, {150, 153},
                     {200, 153}, {201, 204}, {251, 204}, {252, 255}, {255, 255}};
  for (const auto& r : steps) {
    EXPECT_EQ(lookup.Lookup(r.in, r.in, r.in, chosen), 43 * (r.out / 51)) << int{r.in};
    EXPECT_EQ(chosen, (TGIFColor{r.out, r.out, r.out})) << int{r.in};
  }
}

TEST(ColourLookup, GreyLookupUsesTheWeightedSum) {
  gif::TGrayScaleLookup lookup;
  TGIFColor chosen;
  struct {
    TGIFColor in;
    int grey;
  } const cases[] = {{{0, 0, 0}, 0},     {{255, 255, 255}, 255}, {{255, 0, 0}, 76},
                     {{0, 255, 0}, 149}, {{0, 0, 255}, 28},      {{10, 200, 30}, (770 + 30000 + 870) >> 8}};
  for (const auto& c : cases) {
    EXPECT_EQ(lookup.Lookup(c.in.Red, c.in.Green, c.in.Blue, chosen), c.grey);
    const auto g = static_cast<std::uint8_t>(c.grey);
    EXPECT_EQ(chosen, (TGIFColor{g, g, g}));
  }
}

TEST(ColourLookup, MonochromeThresholdIsLuminance32513) {
  gif::TMonochromeLookup lookup;
  TGIFColor chosen;
  int seen_black = 0, seen_white = 0;
  // Every colour of luminance 32512 is black and of 32513 white.
  for (int r = 0; r < 256; r += 1)
    for (int g = 100; g < 160; ++g)
      for (int b = 0; b < 256; b += 1) {
        const int lum = 77 * r + 150 * g + 29 * b;
        if (lum != 32512 && lum != 32513) continue;
        const int index = lookup.Lookup(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                        static_cast<std::uint8_t>(b), chosen);
        if (lum == 32512) {
          ++seen_black;
          EXPECT_EQ(index, 0);
          EXPECT_EQ(chosen, (TGIFColor{0, 0, 0}));
        } else {
          ++seen_white;
          EXPECT_EQ(index, 1);
          EXPECT_EQ(chosen, (TGIFColor{255, 255, 255}));
        }
      }
  EXPECT_GT(seen_black, 0);
  EXPECT_GT(seen_white, 0);
}

}  // namespace
}  // namespace colourtest
