// libFuzzer target for the GIF reader and for what runs on what it reads.
// Any bytes are loaded into an image; whatever loads is written back with
// both codings and read again. A small image is also drawn, played through
// a synchronous painter, and optimised: the optimised image must show the
// same pictures for the same time as the image before it, must not be
// larger as written, and what it writes must read back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/gui/canvas.h"
#include "framework/streams.h"
#include "gif/gif_extension.h"
#include "gif/gif_image.h"
#include "gif/gui/gif_frame_render.h"
#include "gif/gui/gif_graphic.h"
#include "gif/gui/gif_optimizer.h"

namespace {

constexpr std::int64_t kFramePixels = std::int64_t{1} << 20;
constexpr std::int64_t kTotalPixels = std::int64_t{1} << 24;
// Drawing, playing and optimising cost time per pixel, not coverage.
constexpr std::int64_t kSmallPixels = std::int64_t{1} << 14;

void Limit(gif::TGIFImage& image) {
  image.SetMaxFramePixels(kFramePixels);
  image.SetMaxTotalPixels(kTotalPixels);
}

bool Load(gif::TGIFImage& image, const std::uint8_t* data, std::size_t size) {
  fw::TMemoryStream in;
  if (size > 0) in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  try {
    image.LoadFromStream(in);
  } catch (const gif::GIFException&) {
    return false;
  }
  return true;
}

// The image as written; empty when it cannot be written.
std::vector<std::uint8_t> Written(gif::TGIFImage& image) {
  fw::TMemoryStream out;
  try {
    image.SaveToStream(out);
  } catch (const gif::GIFException&) {
    return {};
  }
  std::vector<std::uint8_t> bytes(out.Bytes().size());
  if (!bytes.empty()) std::memcpy(bytes.data(), out.Bytes().data(), bytes.size());
  return bytes;
}

// The pictures the image shows, each with its time (1/100 s): frames in
// order on a background, transparent pixels left alone, disposal 2 puts the
// frame's rectangle back to the background and 3 the whole screen back to
// what it was. Frames without pixels show nothing; a picture equal to the
// one before adds its time to it. A pixel beyond its colour table shows a
// colour of its own value.
struct Shown {
  std::vector<std::uint32_t> picture;
  int delay;
};

std::vector<Shown> Timeline(gif::TGIFImage& image) {
  constexpr std::uint32_t kBackground = 0x01000000;
  const int w = image.Width(), h = image.Height();
  std::vector<std::uint32_t> screen(static_cast<std::size_t>(w) * h, kBackground);
  std::vector<Shown> out;
  for (const auto& f : image.Images()) {
    if (f->Empty() || f->DataSize() != static_cast<std::size_t>(f->Width()) * f->Height()) continue;
    const gif::TGIFGraphicControlExtension* gce = f->GraphicControlExtension();
    const int transparent = gif::TransparentIndex(*f);
    const gif::TGIFColorMap& map = f->ActiveColorMap();
    const std::vector<std::uint32_t> before = screen;
    for (int y = 0; y < f->Height(); ++y)
      for (int x = 0; x < f->Width(); ++x) {
        const int sx = f->Left() + x, sy = f->Top() + y;
        if (sx >= w || sy >= h) continue;
        const int v = f->Data()[static_cast<std::size_t>(y) * f->Width() + x];
        if (v == transparent) continue;
        screen[static_cast<std::size_t>(sy) * w + sx] =
            v < map.Count() ? gif::ColorValue(map.Colors(v)) : 0x02000000u | static_cast<std::uint32_t>(v);
      }
    const int delay = gce ? gce->Delay() : 0;
    if (!out.empty() && out.back().picture == screen)
      out.back().delay += delay;
    else
      out.push_back({screen, delay});
    const int disposal = gce ? gce->Disposal() : 0;
    if (disposal == 2) {
      for (int y = f->Top(); y < std::min(h, f->Top() + f->Height()); ++y)
        for (int x = f->Left(); x < std::min(w, f->Left() + f->Width()); ++x)
          screen[static_cast<std::size_t>(y) * w + x] = kBackground;
    } else if (disposal == 3) {
      screen = before;
    }
  }
  return out;
}

bool SameShown(const std::vector<Shown>& a, const std::vector<Shown>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].picture != b[i].picture) return false;
    // A single picture stays for ever, whatever its time.
    if (a.size() > 1 && a[i].delay != b[i].delay) return false;
  }
  return true;
}

class InstantClock : public gif::TGIFPainterClock {
 public:
  std::uint32_t Now() override { return now_; }
  void Sleep(int ms) override { now_ += static_cast<std::uint32_t>(ms); }
  bool Wait(gif::TGIFWakeEvent&, int ms) override {
    now_ += static_cast<std::uint32_t>(ms);
    return false;
  }

 private:
  std::uint32_t now_ = 0;
};

std::int64_t ScreenAndFramePixels(const gif::TGIFImage& image) {
  return static_cast<std::int64_t>(image.Width()) * image.Height() + image.TotalPixels();
}

void DrawPlayAndOptimise(const std::uint8_t* data, std::size_t size) {
  gif::TGIFGraphic g;
  Limit(g.Image());
  fw::TMemoryStream in;
  if (size > 0) in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  try {
    g.LoadFromStream(in);
  } catch (const fw::Exception&) {
  }
  if (g.Empty() || ScreenAndFramePixels(g.Image()) > kSmallPixels || g.Image().Images().Count() > 64) return;
  fw::TBitmap screen;
  screen.SetSize(24, 16);
  g.DrawOptions = gif::goTransparent | gif::goTile;
  g.Draw(screen.Canvas(), fw::Rect(0, 0, 24, 16));
  InstantClock clock;
  g.PainterClock = &clock;
  g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, 24, 16), gif::goAnimate | gif::goTransparent);
  g.PainterClock = nullptr;

  gif::TGIFImage before;
  Limit(before);
  before.Assign(g.Image());
  try {
    g.Optimize(0x1F, gif::TColorReduction::rmNone, gif::TDitherMode::dmNearest, 8);
  } catch (const fw::Exception&) {
    return;
  }
  if (before.Width() != g.Width() || before.Height() != g.Height() ||
      !SameShown(Timeline(before), Timeline(g.Image())))
    __builtin_trap();
  const std::vector<std::uint8_t> plain = Written(before);
  if (plain.empty()) return;
  const std::vector<std::uint8_t> optimised = Written(g.Image());
  if (optimised.empty() || optimised.size() > plain.size()) __builtin_trap();
  gif::TGIFImage again;
  Limit(again);
  if (!Load(again, optimised.data(), optimised.size())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gif::TGIFImage image;
  Limit(image);
  int warnings = 0;
  image.OnWarning = [&warnings](const void*, int, const std::string&) { ++warnings; };
  Load(image, data, size);
  // A copy, with its colour tables sorted by use, must stay writable too.
  gif::TGIFImage copy;
  Limit(copy);
  copy.Assign(image);
  copy.GlobalColorMap().Optimize();
  for (auto& frame : copy.Images()) frame->ColorMap().Optimize();
  Written(copy);
  for (auto compression : {gif::TGIFCompression::gcLZW, gif::TGIFCompression::gcRLE}) {
    image.SetCompression(compression);
    const std::vector<std::uint8_t> out = Written(image);
    if (out.empty()) continue;  // no frames, or a pixel beyond its colour table
    gif::TGIFImage again;
    Limit(again);
    if (!Load(again, out.data(), out.size())) __builtin_trap();  // what we write must read back
  }
  DrawPlayAndOptimise(data, size);
  return 0;
}
