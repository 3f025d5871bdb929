// Fixed palettes and colour lookups: palette contents, every lookup exact on
// its own palette's colours, the fast lookup against a brute-force nearest
// search, and the web lookup's steps.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "colour_test_support.h"
#include "gif/color_lookup.h"

namespace colourtest {
namespace {

using gif::ColorPalette;

TEST(ColourLookup, FixedPalettes) {
  const ColorPalette web = gif::WebSafePalette(), grey = gif::GrayPalette256(), halftone = gif::HalftonePalette();
  const ColorPalette system = gif::SystemDefaultPalette();
  ASSERT_EQ(web.size(), 216u);
  for (int i = 0; i < 216; ++i) {  // the cube in index order, blue fastest
    const auto v = [&](int d) { return static_cast<std::uint8_t>(51 * (i / d % 6)); };
    ASSERT_EQ(web[static_cast<std::size_t>(i)], (TGIFColor{v(36), v(6), v(1)})) << i;
  }
  ASSERT_EQ(grey.size(), 256u);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(grey[static_cast<std::size_t>(i)], (TGIFColor{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)}));
  EXPECT_EQ(gif::GrayPalette4(), (ColorPalette{{0, 0, 0}, {0x80, 0x80, 0x80}, {0xC0, 0xC0, 0xC0}, {0xFF, 0xFF, 0xFF}}));
  EXPECT_EQ(gif::MonochromePalette(), (ColorPalette{{0, 0, 0}, {255, 255, 255}}));
  ASSERT_EQ(system.size(), 20u);
  const std::pair<int, TGIFColor> entries[] = {
      {0, {0, 0, 0}}, {1, {0x80, 0, 0}}, {2, {0, 0x80, 0}}, {4, {0, 0, 0x80}}, {7, {0xC0, 0xC0, 0xC0}},
      {8, {0xC0, 0xDC, 0xC0}}, {9, {0xA6, 0xCA, 0xF0}}, {10, {0xFF, 0xFB, 0xF0}}, {11, {0xA0, 0xA0, 0xA4}},
      {12, {0x80, 0x80, 0x80}}, {13, {0xFF, 0, 0}}, {16, {0, 0, 0xFF}}, {19, {0xFF, 0xFF, 0xFF}}};
  for (const auto& [i, c] : entries) EXPECT_EQ(system[static_cast<std::size_t>(i)], c) << i;
  // Halftone: the first ten system colours, the web cube, the last ten.
  ASSERT_EQ(halftone.size(), 256u);
  EXPECT_EQ(ColorPalette(halftone.begin(), halftone.begin() + 10), ColorPalette(system.begin(), system.begin() + 10));
  EXPECT_EQ(ColorPalette(halftone.begin() + 10, halftone.begin() + 226), web);
  EXPECT_EQ(ColorPalette(halftone.begin() + 246, halftone.end()), ColorPalette(system.begin() + 10, system.end()));
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
      EXPECT_EQ(Distance(p[static_cast<std::size_t>(index)], q),
                Distance(p[static_cast<std::size_t>(BruteNearest(p, q))], q));
    }
  }
}

TEST(ColourLookup, FastLookupTiesDuplicatesCellsAndSizes) {
  TGIFColor chosen{9, 9, 9};
  // Entries 1 and 3 are the same colour; (10, 10, 10) is as near to entry 0
  // as to entry 2: the lower index, also from the cache.
  gif::TFastColorLookup ties({{0, 0, 10}, {100, 100, 100}, {20, 20, 10}, {100, 100, 100}});
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(ties.Lookup(100, 100, 100, chosen), 1);
    EXPECT_EQ(ties.Lookup(98, 101, 100, chosen), 1);
    EXPECT_EQ(ties.Lookup(10, 10, 10, chosen), 0);
  }
  // (0..7, 0..7, 0..7) is one cell: the first colour asked decides for the
  // cell, as long as no palette colour lies in it.
  gif::TFastColorLookup cells({{0, 0, 9}, {9, 0, 0}});
  EXPECT_EQ(cells.Lookup(1, 0, 7, chosen), 0);
  EXPECT_EQ(cells.Lookup(7, 0, 1, chosen), 0);  // nearer to entry 1, but cached
  gif::TFastColorLookup none(ColorPalette{});
  EXPECT_EQ(none.Colors(), 0);
  EXPECT_EQ(none.Lookup(1, 2, 3, chosen), 0);
  EXPECT_EQ(chosen, (TGIFColor{0, 0, 0}));
  ColorPalette p = gif::GrayPalette256();
  p.push_back({1, 2, 3});
  gif::TFastColorLookup big(p);  // at most 256 entries
  EXPECT_EQ(big.Colors(), 256);
  EXPECT_LT(big.Lookup(1, 2, 3, chosen), 256);
}

// Each channel c goes to step (c + 3) div 51: from 3 below a step up to 48
// above the one before.
TEST(ColourLookup, WebLookupStepsEachChannel) {
  gif::TNetscapeColorLookup lookup;
  TGIFColor chosen;
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
}

}  // namespace
}  // namespace colourtest
