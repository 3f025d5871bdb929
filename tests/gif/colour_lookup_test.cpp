// Fixed palettes and colour lookups: palette contents, every lookup exact on
// its own palette's colours, and the web lookup's steps.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "colour_test_support.h"
#include "gif/color_lookup.h"

namespace colourtest {
namespace {

using gif::ColorPalette;

// The web palette: the cube in index order, blue fastest (the palette the
// program reduces pictures to).
TEST(ColourLookup, WebPalette) {
  const ColorPalette web = gif::WebSafePalette();
  ASSERT_EQ(web.size(), 216u);
  for (int i = 0; i < 216; ++i) {
    const auto v = [&](int d) { return static_cast<std::uint8_t>(51 * (i / d % 6)); };
    ASSERT_EQ(web[static_cast<std::size_t>(i)], (TGIFColor{v(36), v(6), v(1)})) << i;
  }
  EXPECT_EQ(gif::MonochromePalette(), (ColorPalette{{0, 0, 0}, {255, 255, 255}}));
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
