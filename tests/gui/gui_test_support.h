// Helpers of the GIF picture-class tests: an independent compositing model
// of animations on giflib's decoding, animations written by giflib's
// encoder, and a fake painter clock.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>

#include "framework/gui/bitmap.h"
#include "gif/gui/gif_graphic.h"
#include "gif/gui/gif_painter.h"
#include "tests/gif/giflib_peer.h"

namespace guitest {

// Qt's platform plugin, should a test start one: never a display.
inline const bool kOffscreenPlatform = (::setenv("QT_QPA_PLATFORM", "offscreen", 0), true);

using giftest::Bytes;

inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> out;
  for (const auto& name : giftest::CorpusFiles()) out.push_back(giftest::CorpusDir() + "/" + name);
  return out;
}
using giftest::ReadFileBytes;

// One displayed picture: width x height colours 0x00BBGGRR.
using Picture = std::vector<std::uint32_t>;

// The pictures shown after each frame: frames composited in order on a
// screen filled with background, transparent pixels left alone, each
// frame's disposal applied before the next (2: its rectangle back to the
// background, 3: the screen back to what it was before the frame).
inline std::vector<Picture> ModelComposite(const Bytes& data, std::uint32_t background, int* width, int* height) {
  auto g = giftest::LoadGiflib(data);
  EXPECT_NE(g->file, nullptr);
  std::vector<Picture> out;
  if (!g->file) return out;
  GifFileType* gif = g->file;
  const int w = *width = gif->SWidth, h = *height = gif->SHeight;
  Picture screen(static_cast<std::size_t>(w) * h, background);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& im = gif->SavedImages[i];
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif, i, &gcb);
    const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
    const Picture before = screen;
    const GifImageDesc& d = im.ImageDesc;
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) {
        const int sx = d.Left + x, sy = d.Top + y, v = im.RasterBits[static_cast<std::size_t>(y) * d.Width + x];
        if (sx >= w || sy >= h || v == gcb.TransparentColor) continue;
        const GifColorType e = map && v < map->ColorCount ? map->Colors[v] : GifColorType{0, 0, 0};
        screen[static_cast<std::size_t>(sy) * w + sx] =
            e.Red | (e.Green << 8) | (static_cast<std::uint32_t>(e.Blue) << 16);
      }
    out.push_back(screen);
    if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
      for (int y = d.Top; y < std::min(h, d.Top + d.Height); ++y)
        for (int x = d.Left; x < std::min(w, d.Left + d.Width); ++x)
          screen[static_cast<std::size_t>(y) * w + x] = background;
    } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
      screen = before;
    }
  }
  return out;
}

inline Picture Snapshot(const fw::TBitmap& b) {
  const QImage img = b.Image().convertToFormat(QImage::Format_RGB32);
  Picture p(static_cast<std::size_t>(img.width()) * img.height());
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb c = img.pixel(x, y);
      p[static_cast<std::size_t>(y) * img.width() + x] =
          static_cast<std::uint32_t>(qRed(c) | (qGreen(c) << 8) | (qBlue(c) << 16));
    }
  return p;
}

// A clock that moves only when told. A synchronous painter's sleep moves it
// at once; an asynchronous painter's wait ends when Advance passes its
// deadline or Stop wakes it. Safe to call from painter threads.
class FakeClock : public gif::TGIFPainterClock {
 public:
  std::uint32_t Now() override { return now_; }
  void Sleep(int ms) override {
    now_ += static_cast<std::uint32_t>(ms);
    slept_ += ms;
  }
  bool Wait(gif::TGIFWakeEvent& event, int ms) override {
    const std::uint32_t deadline = now_ + static_cast<std::uint32_t>(ms);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.push_back(&event);
      waits_.push_back(ms);
    }
    const bool woken = event.WaitUntil([&] {
      {
        std::lock_guard<std::mutex> lock(looks_mutex_);
        ++looks_;
      }
      looks_cv_.notify_all();
      return ms >= 0 && static_cast<std::int32_t>(now_ - deadline) >= 0;
    });
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(waiting_, &event);
    return woken;
  }

  // Moves the clock on and lets every waiter look at its deadline; returns
  // once each has looked.
  void Advance(int ms) {
    std::unique_lock<std::mutex> looks(looks_mutex_);
    const int before = looks_;
    looks.unlock();
    now_ += static_cast<std::uint32_t>(ms);
    int waiters = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiters = static_cast<int>(waiting_.size());
      for (gif::TGIFWakeEvent* e : waiting_) e->Notify();
    }
    looks.lock();
    looks_cv_.wait(looks, [&] { return looks_ >= before + waiters; });
  }
  // Serves the painters' synchronised calls until wait number n (from 1)
  // has begun; returns its length in milliseconds (-1: no limit).
  int AwaitWait(std::size_t n) {
    while (true) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waits_.size() >= n) return waits_[n - 1];
      }
      fw::TThread::WaitAndCheckSynchronize(1);
    }
  }
  std::size_t Waits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waits_.size();
  }
  bool Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !waiting_.empty();
  }
  // Milliseconds slept since the last call.
  int TakeSlept() { return slept_.exchange(0); }

 private:
  std::atomic<std::uint32_t> now_{1000};
  std::atomic<int> slept_{0};
  // Lock order: mutex_ before an event's own mutex before looks_mutex_.
  std::mutex mutex_;
  std::vector<gif::TGIFWakeEvent*> waiting_;  // GUARDED_BY(mutex_)
  std::vector<int> waits_;                    // GUARDED_BY(mutex_)
  std::mutex looks_mutex_;
  std::condition_variable looks_cv_;
  int looks_ = 0;  // GUARDED_BY(looks_mutex_)
};

// Serves synchronised calls until done() holds.
inline void ServeUntil(const std::function<bool()>& done) {
  while (!done()) fw::TThread::WaitAndCheckSynchronize(1);
}

// Plays the whole image synchronously (fake clock, no waiting) on a screen
// filled with background; returns the picture after each frame.
inline std::vector<Picture> PlayFrames(gif::TGIFGraphic& g, std::uint32_t background, std::uint16_t options) {
  FakeClock clock;
  g.PainterClock = &clock;
  g.BackgroundColor = background;
  fw::TBitmap screen;
  screen.SetPixelFormat(fw::TPixelFormat::pf32bit);
  screen.SetSize(g.Width(), g.Height());
  screen.Canvas().SetBrushColor(background);
  screen.Canvas().FillRect(fw::Rect(0, 0, g.Width(), g.Height()));
  std::vector<Picture> out;
  g.OnFrameAfterPaint = [&](gif::TGIFPainter*) { out.push_back(Snapshot(screen)); };
  EXPECT_EQ(g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, g.Width(), g.Height()), options), nullptr);
  g.OnFrameAfterPaint = nullptr;
  g.PainterClock = nullptr;
  return out;
}

// A frame of a giflib-built animation.
struct FrameSpec {
  int left, top, width, height;
  int disposal = 0;
  int transparent = -1;
  int delay = 0;
  bool local_map = false;
  Bytes pixels;  // empty: random below colours
};

// Builds an animation with giflib: a global table of colors random
// entries, frames as given, each with a graphic control block, and a loop
// extension with loops when loops >= 0.
inline Bytes MakeGif(int w, int h, const std::vector<FrameSpec>& frames, std::uint32_t seed, int loops = -1,
                     int colors = 16) {
  std::mt19937 rng(seed);
  giftest::GenGif g{w, h, 0, giftest::Palette(colors, rng()), true, {}, {}};
  for (const FrameSpec& f : frames) {
    giftest::GenFrame frame = giftest::Frame(f.left, f.top, f.width, f.height, colors, rng(), true);
    if (!f.pixels.empty()) frame.pixels = f.pixels;
    if (f.local_map) frame.local = giftest::Palette(colors, rng());
    if (g.frames.empty() && loops >= 0)
      frame.extensions.push_back(
          giftest::App("NETSCAPE2.0", {{1, static_cast<std::uint8_t>(loops), static_cast<std::uint8_t>(loops >> 8)}}));
    frame.extensions.push_back(giftest::Gce(f.disposal, f.transparent >= 0, std::max(f.transparent, 0), f.delay));
    g.frames.push_back(std::move(frame));
  }
  return giftest::BuildWithGiflib(g);
}

inline void LoadBytes(gif::TGIFGraphic& g, const Bytes& data) {
  fw::TMemoryStream s;
  s.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  s.SetPosition(0);
  g.LoadFromStream(s);
}

inline Bytes SaveBytes(gif::TGIFGraphic& g) {
  fw::TMemoryStream s;
  g.SaveToStream(s);
  const auto& b = s.Bytes();
  Bytes out(b.size());
  std::memcpy(out.data(), b.data(), b.size());
  return out;
}

}  // namespace guitest
