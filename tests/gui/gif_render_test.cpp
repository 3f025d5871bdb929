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

TEST(GIFRender, ScaledFrameRectangle) {
  std::vector<FrameSpec> frames{{0, 0, 20, 10, 0, -1, 0, false, {}}, {5, 3, 10, 4, 0, -1, 0, false, {}}};
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(20, 10, frames, 3));
  // MulDiv rounding: 5*30/20 = 7.5 -> 8, 3*15/10 = 4.5 -> 5.
  EXPECT_EQ(gif::ScaleFrameRect(*g.Image().Images()[1], 20, 10, fw::Rect(100, 200, 130, 215)),
            fw::Rect(108, 205, 123, 211));
}

}  // namespace
