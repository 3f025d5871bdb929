// Frame rendering against an independent compositing model built from
// giflib's decoding, and the frame operations around it.
#include <gtest/gtest.h>

#include "framework/gui/canvas.h"
#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gui_test_support.h"

namespace {

using namespace guitest;

constexpr std::uint32_t kBackground = 0x00563412;  // a colour none of the files use much

// Compares every played frame with the model; returns the frames compared.
int ExpectSameAsModel(const Bytes& data, const std::string& name,
                      std::uint16_t options = gif::goAnimate | gif::goTransparent) {
  int w = 0, h = 0;
  const std::vector<Picture> model = ModelComposite(data, kBackground, &w, &h);
  gif::TGIFGraphic g;
  LoadBytes(g, data);
  const std::vector<Picture> played = PlayFrames(g, kBackground, options);
  EXPECT_FALSE(model.empty()) << name;
  EXPECT_EQ(played.size(), model.size()) << name;
  for (std::size_t i = 0; i < std::min(played.size(), model.size()); ++i) {
    int bad = 0;
    for (std::size_t k = 0; k < model[i].size() && bad < 3; ++k)
      if (played[i][k] != model[i][k]) {
        ADD_FAILURE() << name << " frame " << i << " pixel (" << k % w << "," << k / w << ") got " << std::hex
                      << played[i][k] << " want " << model[i][k];
        ++bad;
      }
    if (bad) break;
  }
  return static_cast<int>(model.size());
}

TEST(GIFRender, CorpusFramesMatchModel) {
  int files = 0, frames = 0;
  for (const std::string& path : CorpusFiles()) {
    frames += ExpectSameAsModel(ReadFileBytes(path), path);
    ++files;
  }
  EXPECT_GE(files, 30);
  EXPECT_GT(frames, files);  // some files are animations
}

// Every disposal method, with and without transparency, local and global
// tables, frames partly outside the screen.
TEST(GIFRender, DisposalMethodsMatchModel) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    const int w = 8 + static_cast<int>(rng() % 20), h = 8 + static_cast<int>(rng() % 20);
    std::vector<FrameSpec> frames;
    const int n = 2 + static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) {
      FrameSpec f;
      f.left = static_cast<int>(rng() % w);
      f.top = static_cast<int>(rng() % h);
      f.width = 1 + static_cast<int>(rng() % w);
      f.height = 1 + static_cast<int>(rng() % h);
      if (rng() % 4 == 0) f.left = f.top = 0, f.width = w, f.height = h;
      f.disposal = static_cast<int>(rng() % 4);
      f.transparent = (round % 4 != 0 && rng() % 2) ? static_cast<int>(rng() % 16) : -1;
      f.local_map = rng() % 3 == 0;
      frames.push_back(f);
    }
    const Bytes data = MakeGif(w, h, frames, round);
    const std::string name = "round " + std::to_string(round);
    ExpectSameAsModel(data, name);
    // Clearing before the first frame changes nothing on a background screen.
    ExpectSameAsModel(data, name + " clear", gif::goAnimate | gif::goTransparent | gif::goClearOnLoop);
    // Without transparency the opaque paths (background fill) do the work.
    bool any_transparent = false;
    for (const auto& f : frames) any_transparent |= f.transparent >= 0;
    if (!any_transparent) ExpectSameAsModel(data, name + " opaque", gif::goAnimate);
  }
}

TEST(GIFRender, MaskLayoutAndOpaqueDrawing) {
  std::vector<FrameSpec> frames{{0, 0, 17, 2, 0, 3, 0, false, {}}};
  Bytes px(34, 1);
  px[0] = 3;    // (0,0)
  px[16] = 3;   // (16,0)
  px[17 + 9] = 3;  // (9,1)
  frames[0].pixels = px;
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(17, 2, frames, 1));
  const gif::TGIFFrameBitmap& r = g.FrameBitmap(0);
  ASSERT_TRUE(r.HasMask());
  EXPECT_EQ(r.Mask.Stride(), 4);  // (17 + 15) / 16 * 2
  const std::vector<std::uint8_t> want{0x80, 0x00, 0x80, 0x00, 0x00, 0x40, 0x00, 0x00};
  EXPECT_EQ(r.Mask.Bits(), want);
  // Without the transparent option a transparent frame draws opaque.
  fw::TBitmap screen;
  screen.SetSize(17, 2);
  screen.Canvas().SetBrushColor(kBackground);
  screen.Canvas().FillRect(fw::Rect(0, 0, 17, 2));
  g.DrawFrame(screen.Canvas(), fw::Rect(0, 0, 17, 2), 0, false, false);
  const fw::TColor c3 = gif::ColorValue(g.Image().GlobalColorMap().Colors(3));
  EXPECT_EQ(screen.Canvas().Pixel(0, 0), c3);
  g.DrawFrame(screen.Canvas(), fw::Rect(0, 0, 17, 2), 0, true, false);
  EXPECT_EQ(screen.Canvas().Pixel(0, 0), c3);  // stays what was there
}

TEST(GIFRender, TilingStepsByTheLogicalScreen) {
  // A 10 x 10 frame at (5, 5) of a 20 x 20 image over 50 x 50: cells at 5, 25, 45.
  std::vector<FrameSpec> frames{{5, 5, 10, 10, 0, -1, 0, false, Bytes(100, 2)}};
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(20, 20, frames, 3));
  fw::TBitmap screen;
  screen.SetSize(50, 50);
  screen.Canvas().SetBrushColor(kBackground);
  screen.Canvas().FillRect(fw::Rect(0, 0, 50, 50));
  g.DrawFrame(screen.Canvas(), fw::Rect(0, 0, 50, 50), 0, false, true);
  const fw::TColor c = gif::ColorValue(g.Image().GlobalColorMap().Colors(2));
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 50; ++x) {
      const bool in = ((x - 5) % 20 < 10 && x >= 5) && ((y - 5) % 20 < 10 && y >= 5);
      ASSERT_EQ(screen.Canvas().Pixel(x, y), in ? c : kBackground) << x << "," << y;
    }
}

TEST(GIFRender, ScaledFrameRectangle) {
  std::vector<FrameSpec> frames{{0, 0, 20, 10, 0, -1, 0, false, {}}, {5, 3, 10, 4, 0, -1, 0, false, {}}};
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(20, 10, frames, 3));
  // MulDiv rounding: 5*30/20 = 7.5 -> 8, 3*15/10 = 4.5 -> 5.
  EXPECT_EQ(gif::ScaleFrameRect(*g.Image().Images()[1], 20, 10, fw::Rect(100, 200, 130, 215)),
            fw::Rect(108, 205, 123, 211));
}

TEST(GIFRender, DitheredRenderUsesWebPalette) {
  std::vector<FrameSpec> frames{{0, 0, 16, 16, 0, 5, 0, false, {}}};
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(16, 16, frames, 9));
  g.DrawOptions = gif::goDither;
  ASSERT_TRUE(g.Dithering());
  const gif::TGIFFrameBitmap& r = g.FrameBitmap(0);
  const std::vector<fw::TColor> pal = r.Bitmap->Palette();
  for (int i = 0; i < 216; ++i) {
    const fw::TColor c = pal[static_cast<std::size_t>(i)];
    EXPECT_EQ(fw::GetRValue(c) % 51 + fw::GetGValue(c) % 51 + fw::GetBValue(c) % 51, 0);
  }
  gif::TGIFSubImage* f = g.Image().Images()[0];
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      EXPECT_LT(r.Bitmap->ScanLine(y)[x], 216);
      EXPECT_EQ(r.HasMask() && r.Mask.Test(x, y), f->Pixels(x, y) == 5);
    }
}

TEST(GIFRender, PixelAccessIsChecked) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {{0, 0, 4, 4, 0, -1, 0, false, {}}}, 1));
  gif::TGIFSubImage* f = g.Image().Images()[0];
  EXPECT_THROW(f->Pixels(4, 0), gif::GIFException);
  EXPECT_THROW(f->Scanline(-1), gif::GIFException);
}

TEST(GIFRender, CropRemovesTransparentBorders) {
  Bytes px(6 * 5, 7);
  px[2 * 6 + 3] = 1;
  px[3 * 6 + 2] = 2;
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(10, 10, {{1, 1, 6, 5, 0, 7, 0, false, px}}, 1));
  gif::TGIFSubImage* f = g.Image().Images()[0];
  gif::CropFrame(*f);
  EXPECT_EQ(f->Left(), 3);
  EXPECT_EQ(f->Top(), 3);
  EXPECT_EQ(f->Width(), 2);
  EXPECT_EQ(f->Height(), 2);
  EXPECT_EQ(f->Pixels(1, 0), 1);
  EXPECT_EQ(f->Pixels(0, 1), 2);
  EXPECT_EQ(f->Pixels(0, 0), 7);
}

}  // namespace
