// The whole-image optimiser: the optimised file, decoded by giflib and
// composited independently, shows the same pictures for the same time as
// the input, and is never larger than the input as this codec writes it.
#include <gtest/gtest.h>

#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gui_test_support.h"
#include "tests/common/error_text.h"

namespace {

using namespace guitest;

constexpr std::uint8_t kAll = gif::ooCrop | gif::ooMerge | gif::ooCleanup | gif::ooColorMap | gif::ooReduceColors;

// What a viewer shows: each picture with how long it stays (1/100 s); a
// frame that shows nothing new adds its time to the picture before it.
struct Shown {
  Picture picture;
  int delay;
  bool operator==(const Shown&) const = default;
};

std::vector<Shown> Timeline(const Bytes& data, int* w, int* h) {
  const std::vector<Picture> pictures = ModelComposite(data, 0x00FEDCBA, w, h);
  auto g = giftest::LoadGiflib(data);
  GifFileType* gif = g->file;
  std::vector<Shown> out;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    GraphicsControlBlock gcb{};
    gcb.DelayTime = 0;
    DGifSavedExtensionToGCB(gif, static_cast<int>(i), &gcb);
    if (!out.empty() && out.back().picture == pictures[i])
      out.back().delay += gcb.DelayTime;
    else
      out.push_back({pictures[i], gcb.DelayTime});
  }
  return out;
}

// Optimises data; the result shows the same and is no larger than data as
// written without optimising. Returns the optimised bytes.
Bytes ExpectOptimisedSame(const Bytes& data, const std::string& name, std::uint8_t options = kAll) {
  gif::TGIFGraphic g;
  LoadBytes(g, data);
  const Bytes plain = SaveBytes(g);
  g.Optimize(options, gif::TColorReduction::rmNone, gif::TDitherMode::dmNearest, 8);
  const Bytes out = SaveBytes(g);
  EXPECT_LE(out.size(), plain.size()) << name;
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  const auto before = Timeline(data, &w1, &h1);
  const auto after = Timeline(out, &w2, &h2);
  EXPECT_EQ(w1, w2) << name;
  EXPECT_EQ(h1, h2) << name;
  EXPECT_EQ(before.size(), after.size()) << name;
  for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
    EXPECT_TRUE(before[i].picture == after[i].picture) << name << " picture " << i;
    // A single picture stays for ever, whatever its delay.
    if (before.size() > 1) {
      EXPECT_EQ(before[i].delay, after[i].delay) << name << " picture " << i;
    }
  }
  return out;
}

TEST(GIFOptimizer, CorpusShowsTheSameAndNeverGrows) {
  for (const std::string& path : CorpusFiles()) {
    const Bytes data = ReadFileBytes(path);
    const Bytes out = ExpectOptimisedSame(data, path);
    // These files are written as this codec writes them or a little larger.
    // (qt-spinner: merging would need a 129th colour, which doubles its
    // table of 128 and widens every code; it must be kept as it was.)
    EXPECT_LE(out.size(), data.size()) << path;
  }
}

// Random animations with repeated content and every disposal method.
TEST(GIFOptimizer, RandomAnimationsShowTheSameAndNeverGrow) {
  std::mt19937 rng(99);
  for (int round = 0; round < 100; ++round) {
    const int w = 6 + static_cast<int>(rng() % 14), h = 6 + static_cast<int>(rng() % 14);
    const int n = 2 + static_cast<int>(rng() % 5);
    std::vector<FrameSpec> frames;
    Bytes base(static_cast<std::size_t>(w) * h);
    for (auto& b : base) b = static_cast<std::uint8_t>(rng() % 4);
    for (int i = 0; i < n; ++i) {
      FrameSpec f;
      f.left = static_cast<int>(rng() % (w / 2));
      f.top = static_cast<int>(rng() % (h / 2));
      f.width = 1 + static_cast<int>(rng() % (w - f.left));
      f.height = 1 + static_cast<int>(rng() % (h - f.top));
      if (rng() % 3 == 0) f.left = f.top = 0, f.width = w, f.height = h;
      f.disposal = static_cast<int>(rng() % 4);
      f.transparent = rng() % 2 ? static_cast<int>(rng() % 6) : -1;
      f.delay = static_cast<int>(rng() % 5);
      f.local_map = rng() % 4 == 0;
      // Mostly the base picture again, so that merging has work.
      f.pixels.resize(static_cast<std::size_t>(f.width) * f.height);
      for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
          f.pixels[static_cast<std::size_t>(y) * f.width + x] =
              rng() % 5 == 0 ? static_cast<std::uint8_t>(rng() % 6)
                             : base[static_cast<std::size_t>(f.top + y) * w + f.left + x];
      if (rng() % 6 == 0)
        std::fill(f.pixels.begin(), f.pixels.end(), static_cast<std::uint8_t>(f.transparent < 0 ? 0 : f.transparent));
      frames.push_back(f);
    }
    // Tables of 16 colours: no room for a transparent one without widening
    // the codes, unless unused colours are dropped first.
    const Bytes data = MakeGif(w, h, frames, static_cast<std::uint32_t>(round), round % 2 ? 0 : -1);
    for (std::uint8_t options : {kAll, std::uint8_t(gif::ooMerge), std::uint8_t(gif::ooCrop | gif::ooCleanup)}) {
      const std::string name = "round " + std::to_string(round) + " options " + std::to_string(options);
      EXPECT_LE(ExpectOptimisedSame(data, name, options).size(), data.size()) << name;
    }
  }
}

// Codes are as wide as the widest table: with a local table of 16 colours
// in the image, a frame on a global table of 4 may hold pixels up to 15,
// which show black. Merging the second frame needs a transparent colour;
// the next free global entry, 4, is what some of its pixels hold, so it
// must not become the transparent one.
TEST(GIFOptimizer, PixelsBeyondTheTableKeepTheirColour) {
  gif::TGIFGraphic g;
  g.Image().Header().SetWidth(32);
  g.Image().Header().SetHeight(32);
  for (const fw::TColor c : {fw::clRed, fw::clLime, fw::clBlue, fw::clWhite}) g.Image().GlobalColorMap().Add(c);
  for (int i = 0; i < 3; ++i) {
    auto f = std::make_unique<gif::TGIFSubImage>(&g.Image());
    f->SetSize(i < 2 ? 32 : 4, i < 2 ? 32 : 4);
    for (std::size_t k = 0; k < f->DataSize(); ++k) f->Data()[k] = static_cast<std::uint8_t>(k * 7 % 13 % 4);
    if (i == 1) f->Data()[100] = f->Data()[517] = 4;
    if (i == 2)
      for (int c = 0; c < 16; ++c) f->ColorMap().Add(fw::RGBColor(static_cast<std::uint8_t>(c), 0, 0));
    g.Add(std::move(f));
  }
  const Bytes data = SaveBytes(g);
  ExpectOptimisedSame(data, "beyond", gif::ooMerge);
  ExpectOptimisedSame(data, "beyond all");
}

TEST(GIFOptimizer, PaletteReductionNeedsCleanup) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(6, 6, {{0, 0, 6, 6, 0, -1, 0, false, {}}}, 1));
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] {
              g.Optimize(gif::ooReduceColors, gif::TColorReduction::rmPalette, gif::TDitherMode::dmNearest, 8);
            }),
            "Invalid reduction method");
}

TEST(GIFOptimizer, RepeatedFrameBecomesMostlyTransparent) {
  Bytes a(100);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<std::uint8_t>(i % 5);
  Bytes b = a;
  b[55] = 9;
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(10, 10, {{0, 0, 10, 10, 1, -1, 5, false, a}, {0, 0, 10, 10, 1, -1, 5, false, b}}, 1, 0));
  // The table's unused colours go first, leaving room for a transparent one.
  g.Optimize(gif::ooColorMap | gif::ooMerge, gif::TColorReduction::rmNone, gif::TDitherMode::dmNearest, 8);
  gif::TGIFSubImage* f = g.Image().Images()[1];
  ASSERT_TRUE(f->Transparent());
  const int t = f->GraphicControlExtension()->TransparentColorIndex();
  int opaque = 0;
  for (std::size_t i = 0; i < f->DataSize(); ++i) opaque += f->Data()[i] != t;
  EXPECT_EQ(opaque, 1);
  // Cropping then leaves the one pixel that changed.
  g.Optimize(gif::ooCrop, gif::TColorReduction::rmNone, gif::TDitherMode::dmNearest, 8);
  f = g.Image().Images()[1];
  EXPECT_EQ(f->Width(), 1);
  EXPECT_EQ(f->Left(), 5);
  EXPECT_EQ(f->Top(), 5);
}

}  // namespace
