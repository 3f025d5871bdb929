// Helpers of the graphics tests: an independent compositing model of GIF
// animations built on giflib's DGifSlurp, a giflib-built animation maker,
// and a fake painter clock.
#pragma once

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "framework/gui/bitmap.h"
#include "gif/gui/gif_graphic.h"
#include "gif/gui/gif_painter.h"

namespace guitest {

// Qt's platform plugin, should a test start one: never a display.
inline const bool kOffscreenPlatform = (::setenv("QT_QPA_PLATFORM", "offscreen", 0), true);

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(std::string(TOLMID_TEST_DATA) + "/gif"))
    if (e.path().extension() == ".gif") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

// One displayed picture: width x height colours 0x00BBGGRR.
using Picture = std::vector<std::uint32_t>;

struct ReadState {
  const Bytes* data;
  std::size_t pos;
};

inline int ReadMem(GifFileType* gif, GifByteType* buf, int n) {
  auto* s = static_cast<ReadState*>(gif->UserData);
  const std::size_t left = s->data->size() - s->pos;
  const std::size_t k = std::min<std::size_t>(left, static_cast<std::size_t>(n));
  std::memcpy(buf, s->data->data() + s->pos, k);
  s->pos += k;
  return static_cast<int>(k);
}

// The pictures shown after each frame: frames composited in order on a
// screen filled with background, transparent pixels left alone, each
// frame's disposal applied before the next (2: its rectangle back to the
// background, 3: the screen back to what it was before the frame).
inline std::vector<Picture> ModelComposite(const Bytes& data, std::uint32_t background, int* width, int* height) {
  ReadState st{&data, 0};
  int err = 0;
  GifFileType* gif = DGifOpen(&st, ReadMem, &err);
  EXPECT_NE(gif, nullptr);
  std::vector<Picture> out;
  if (!gif) return out;
  EXPECT_EQ(DGifSlurp(gif), GIF_OK);
  const int w = gif->SWidth, h = gif->SHeight;
  *width = w;
  *height = h;
  Picture screen(static_cast<std::size_t>(w) * h, background);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& im = gif->SavedImages[i];
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    DGifSavedExtensionToGCB(gif, i, &gcb);
    const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
    const Picture before = screen;
    const GifImageDesc& d = im.ImageDesc;
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) {
        const int sx = d.Left + x, sy = d.Top + y;
        if (sx >= w || sy >= h) continue;
        const int v = im.RasterBits[static_cast<std::size_t>(y) * d.Width + x];
        if (v == gcb.TransparentColor) continue;
        std::uint32_t c = 0;
        if (map && v < map->ColorCount) {
          const GifColorType& e = map->Colors[v];
          c = e.Red | (e.Green << 8) | (static_cast<std::uint32_t>(e.Blue) << 16);
        }
        screen[static_cast<std::size_t>(sy) * w + sx] = c;
      }
    out.push_back(screen);
    if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
      for (int y = d.Top; y < std::min(h, d.Top + d.Height); ++y)
        for (int x = d.Left; x < std::min(w, d.Left + d.Width); ++x) screen[static_cast<std::size_t>(y) * w + x] = background;
    } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
      screen = before;
    }
  }
  DGifCloseFile(gif, &err);
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

struct WriteState {
  Bytes* out;
};

inline int WriteMem(GifFileType* gif, const GifByteType* buf, int n) {
  auto* s = static_cast<WriteState*>(gif->UserData);
  s->out->insert(s->out->end(), buf, buf + n);
  return n;
}

// Builds an animation with giflib: a 16-colour global table, frames as
// given, a loop extension with loops when loops >= 0.
inline Bytes MakeGif(int w, int h, const std::vector<FrameSpec>& frames, std::uint32_t seed, int loops = -1,
                     int colors = 16) {
  Bytes out;
  WriteState st{&out};
  int err = 0;
  GifFileType* gif = EGifOpen(&st, WriteMem, &err);
  gif->SWidth = w;
  gif->SHeight = h;
  gif->SColorResolution = 8;
  gif->SBackGroundColor = 0;
  std::mt19937 rng(seed);
  auto make_map = [&]() {
    std::vector<GifColorType> c(static_cast<std::size_t>(colors));
    for (auto& e : c) e = {static_cast<GifByteType>(rng()), static_cast<GifByteType>(rng()), static_cast<GifByteType>(rng())};
    return GifMakeMapObject(colors, c.data());
  };
  gif->SColorMap = make_map();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameSpec& f = frames[i];
    SavedImage* im = GifMakeSavedImage(gif, nullptr);
    im->ImageDesc.Left = f.left;
    im->ImageDesc.Top = f.top;
    im->ImageDesc.Width = f.width;
    im->ImageDesc.Height = f.height;
    im->ImageDesc.Interlace = false;
    im->ImageDesc.ColorMap = f.local_map ? make_map() : nullptr;
    const std::size_t n = static_cast<std::size_t>(f.width) * f.height;
    im->RasterBits = static_cast<GifByteType*>(malloc(n));
    for (std::size_t k = 0; k < n; ++k)
      im->RasterBits[k] = f.pixels.empty() ? static_cast<GifByteType>(rng() % colors) : f.pixels[k];
    if (i == 0 && loops >= 0) {
      GifAddExtensionBlock(&im->ExtensionBlockCount, &im->ExtensionBlocks, APPLICATION_EXT_FUNC_CODE, 11,
                           reinterpret_cast<unsigned char*>(const_cast<char*>("NETSCAPE2.0")));
      unsigned char sub[3] = {1, static_cast<unsigned char>(loops & 0xFF), static_cast<unsigned char>(loops >> 8)};
      GifAddExtensionBlock(&im->ExtensionBlockCount, &im->ExtensionBlocks, CONTINUE_EXT_FUNC_CODE, 3, sub);
    }
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = f.disposal;
    gcb.UserInputFlag = false;
    gcb.DelayTime = f.delay;
    gcb.TransparentColor = f.transparent;
    EGifGCBToSavedExtension(&gcb, gif, static_cast<int>(i));
  }
  // giflib 5.2.1's EGifSpew closes the file but leaves the saved images.
  SavedImage* images = gif->SavedImages;
  const int count = gif->ImageCount;
  // It also writes the screen through a copy of the global table.
  ColorMapObject* global = gif->SColorMap;
  EXPECT_EQ(EGifSpew(gif), GIF_OK);
  GifFreeMapObject(global);
  for (int i = 0; i < count; ++i) {
    if (images[i].ImageDesc.ColorMap) GifFreeMapObject(images[i].ImageDesc.ColorMap);
    free(images[i].RasterBits);
    GifFreeExtensions(&images[i].ExtensionBlockCount, &images[i].ExtensionBlocks);
  }
  free(images);
  return out;
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
