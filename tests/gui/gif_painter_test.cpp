// The painter: waits by the frames' delays (fake clock), loops, and the
// asynchronous thread (bounded waits only).
#include <gtest/gtest.h>

#include <chrono>

#include "framework/gui/canvas.h"
#include "gui_test_support.h"

namespace {

using namespace guitest;

FrameSpec Frame(int delay, bool with_gce = true) {
  FrameSpec f{0, 0, 4, 4, 0, -1, delay, false, {}};
  (void)with_gce;
  return f;
}

// Milliseconds waited before each painted frame of a synchronous run.
std::vector<int> Waits(const Bytes& data, int speed, std::uint16_t options, int* painted = nullptr) {
  gif::TGIFGraphic g;
  LoadBytes(g, data);
  g.AnimationSpeed = speed;
  FakeClock clock;
  g.PainterClock = &clock;
  std::vector<int> waits;
  g.OnFramePaint = [&](gif::TGIFPainter*) { waits.push_back(clock.TakeSlept()); };
  fw::TBitmap screen;
  screen.SetSize(g.Width(), g.Height());
  EXPECT_EQ(g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, g.Width(), g.Height()), options), nullptr);
  if (painted) *painted = static_cast<int>(waits.size());
  return waits;
}

TEST(GIFPainter, SynchronousDelays) {
  // Delays 1, 0, 20, 2000: waits come before the next frame.
  const Bytes data = MakeGif(4, 4, {Frame(1), Frame(0), Frame(20), Frame(2000), Frame(5)}, 1);
  const std::uint16_t opts = gif::goAnimate;
  // First frame: 1 unit. 1 plays as 3, 0 as 10, 2000 held to 1000.
  EXPECT_EQ(Waits(data, 100, opts), (std::vector<int>{12, 36, 120, 240, 12000}));
  EXPECT_EQ(Waits(data, 200, opts), (std::vector<int>{6, 18, 60, 120, 6000}));
  EXPECT_EQ(Waits(data, 50, opts), (std::vector<int>{24, 72, 240, 480, 24000}));
  // Speed 0 in a synchronous painter: every wait 1000 units.
  EXPECT_EQ(Waits(data, 0, opts), (std::vector<int>{12000, 12000, 12000, 12000, 12000}));
  EXPECT_EQ(gif::TGIFPainter::FrameWait(2000, 100, false), 24000);  // asynchronous: not held
  EXPECT_EQ(gif::TGIFPainter::FrameWait(2000, 100, true), 12000);
}

TEST(GIFPainter, LoopCounts) {
  const std::uint16_t opts = gif::goAnimate | gif::goLoop;
  int painted = 0;
  // Loop count 3: played 3 times.
  Waits(MakeGif(4, 4, {Frame(1), Frame(1), Frame(1)}, 2, 3), 100, opts, &painted);
  EXPECT_EQ(painted, 9);
  // Loop count 0 (for ever) in a synchronous painter: once.
  Waits(MakeGif(4, 4, {Frame(1), Frame(1), Frame(1)}, 2, 0), 100, opts, &painted);
  EXPECT_EQ(painted, 3);
  // No loop option: once, whatever the count.
  Waits(MakeGif(4, 4, {Frame(1), Frame(1)}, 2, 3), 100, gif::goAnimate, &painted);
  EXPECT_EQ(painted, 2);
  // Loop for ever option on a synchronous painter with a count: until stopped;
  // an event handler stops it after 10 frames.
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {Frame(1), Frame(1)}, 2, 3));
  FakeClock clock;
  g.PainterClock = &clock;
  int frames = 0;
  g.OnFrameAfterPaint = [&](gif::TGIFPainter* p) {
    if (++frames == 10) p->Stop();
  };
  fw::TBitmap screen;
  screen.SetSize(4, 4);
  g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, 4, 4), opts | gif::goLoopContinously);
  EXPECT_EQ(frames, 10);
}

TEST(GIFPainter, EventsInOrder) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {Frame(1), Frame(1)}, 2, 2));
  FakeClock clock;
  g.PainterClock = &clock;
  std::string log;
  g.OnPainterStart = [&](gif::TGIFPainter*) { log += "S"; };
  g.OnFramePaint = [&](gif::TGIFPainter* p) { log += "p" + std::to_string(p->ActiveImage()); };
  g.OnFrameAfterPaint = [&](gif::TGIFPainter*) { log += "a"; };
  g.OnPainterLoop = [&](gif::TGIFPainter*) { log += "L"; };
  g.OnPainterEnd = [&](gif::TGIFPainter* p) { log += "E" + std::to_string(p->ActiveImage()); };
  fw::TBitmap screen;
  screen.SetSize(4, 4);
  g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, 4, 4), gif::goAnimate | gif::goLoop);
  EXPECT_EQ(log, "Sp0ap1aLp0ap1aE-1");
  EXPECT_EQ(g.PainterCount(), 0);
}

bool WaitUntil(const std::function<bool()>& done, int max_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    fw::TThread::WaitAndCheckSynchronize(5);
  }
  return true;
}

TEST(GIFPainter, AsynchronousLoopsUntilStopped) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {Frame(1), Frame(1)}, 2, 0));
  int frames = 0;
  g.OnFrameAfterPaint = [&](gif::TGIFPainter*) { ++frames; };
  fw::TBitmap screen;
  screen.SetSize(4, 4);
  gif::TGIFPainter* p = g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, 4, 4),
                                           gif::goAsync | gif::goAnimate | gif::goLoop | gif::goDirectDraw);
  ASSERT_NE(p, nullptr);
  p->Start();
  // Loop count 0 plays for ever in its own thread.
  EXPECT_TRUE(WaitUntil([&] { return frames >= 6; }, 20000));
  g.StopAllPainters();
  EXPECT_EQ(g.PainterCount(), 0);
  const int after = frames;
  fw::TThread::WaitAndCheckSynchronize(50);
  EXPECT_EQ(frames, after);
}

TEST(GIFPainter, SpeedZeroHoldsUntilStop) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {Frame(1), Frame(1), Frame(1)}, 2, 0));
  g.AnimationSpeed = 0;
  int frames = 0;
  g.OnFrameAfterPaint = [&](gif::TGIFPainter*) { ++frames; };
  fw::TBitmap screen;
  screen.SetSize(4, 4);
  gif::TGIFPainter* p =
      g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, 4, 4), gif::goAsync | gif::goAnimate | gif::goLoop);
  ASSERT_NE(p, nullptr);
  p->Start();
  ASSERT_TRUE(WaitUntil([&] { return frames >= 1; }, 20000));
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(frames, 1);
  // Stop wakes the wait at once; the bound only keeps a hang from lasting.
  const auto t0 = std::chrono::steady_clock::now();
  g.StopAllPainters();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  EXPECT_EQ(g.PainterCount(), 0);
}

TEST(GIFImageDraw, SecondDrawDoesNotRestartAndCacheShowsAnimation) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(6, 5, {Frame(1), Frame(1)}, 2, 0));
  g.DrawOptions = gif::goAsync | gif::goAnimate | gif::goLoop | gif::goDirectDraw;
  fw::TBitmap screen;
  screen.SetSize(6, 5);
  g.Draw(screen.Canvas(), fw::Rect(0, 0, 6, 5));
  gif::TGIFPainter* first = g.CurrentPainter();
  ASSERT_NE(first, nullptr);
  g.Draw(screen.Canvas(), fw::Rect(0, 0, 6, 5));
  EXPECT_EQ(g.CurrentPainter(), first);
  g.StopAllPainters();
  EXPECT_EQ(g.CurrentPainter(), nullptr);
  // Drawn through the cache: the caller's canvas gets the first frame.
  g.DrawOptions = gif::goAsync | gif::goAnimate | gif::goLoop;
  fw::TBitmap other;
  other.SetSize(6, 5);
  g.Draw(other.Canvas(), fw::Rect(0, 0, 6, 5));
  ASSERT_NE(g.Bitmap(), nullptr);
  EXPECT_EQ(g.Bitmap()->Width(), 6);
  g.StopAllPainters();
}

TEST(GIFImageDraw, DrawFromChangeHandlerDoesNothing) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {Frame(1)}, 2));
  fw::TBitmap screen;
  screen.SetSize(4, 4);
  int nested = 0;
  screen.OnChange = [&](fw::TGraphic*) {
    if (nested++ < 3) g.Draw(screen.Canvas(), fw::Rect(0, 0, 4, 4));
  };
  g.Draw(screen.Canvas(), fw::Rect(0, 0, 4, 4));
  EXPECT_EQ(nested, 1);  // the inner Draw returned at once
}

}  // namespace
