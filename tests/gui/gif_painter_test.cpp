// The painter's timing with a fake clock: frame order, waits from the
// frames' delays (1/100 s), loop counts, speed 0 and negative speeds, for
// synchronous painters and for painters on their own thread; the canvas
// watch (option 0x0020); Draw's own rules.
#include <gtest/gtest.h>

#include "framework/gui/canvas.h"
#include "gui_test_support.h"

namespace {

using namespace guitest;

FrameSpec Frame(int delay, int disposal = 0) { return FrameSpec{0, 0, 4, 4, disposal, -1, delay, false, {}}; }

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

// A painter on its own thread, drawing on screen, with a fake clock; the
// frames it paints are logged on the main thread.
struct AsyncRun {
  FakeClock clock;
  fw::TBitmap screen;
  gif::TGIFGraphic g;  // last: its painters stop before the clock goes
  std::string log;
  std::size_t waits_seen = 0;

  AsyncRun(const Bytes& data, int speed) {
    LoadBytes(g, data);
    g.AnimationSpeed = speed;
    g.PainterClock = &clock;
    g.OnFramePaint = [this](gif::TGIFPainter* p) { log += std::to_string(p->ActiveImage()); };
    g.OnPainterLoop = [this](gif::TGIFPainter*) { log += "L"; };
    g.OnPainterEnd = [this](gif::TGIFPainter*) { log += "E"; };
    screen.SetSize(g.Width(), g.Height());
  }
  gif::TGIFPainter* Start(std::uint16_t options) {
    gif::TGIFPainter* p = g.CreateGIFPainter(screen.Canvas(), fw::Rect(0, 0, g.Width(), g.Height()),
                                             options | gif::goAsync | gif::goAnimate);
    if (p) p->Start();
    return p;
  }
  // The next wait's length; the clock then passes exactly that long.
  int NextWait() {
    const int ms = clock.AwaitWait(++waits_seen);
    if (ms > 0) clock.Advance(ms);
    return ms;
  }
};

TEST(GIFPainter, AsynchronousWaitsFollowTheDelays) {
  // Loop count 2 on frame 0; delays 1, 0, 20, 2000, 5.
  AsyncRun run(MakeGif(4, 4, {Frame(1), Frame(0), Frame(20), Frame(2000), Frame(5)}, 1, 2), 100);
  ASSERT_NE(run.Start(gif::goLoop), nullptr);
  std::vector<int> waits;
  for (int i = 0; i < 9; ++i) waits.push_back(run.NextWait());
  // The first frame comes at once; 2000 is not held to 1000 on a thread.
  EXPECT_EQ(waits, (std::vector<int>{36, 120, 240, 24000, 60, 36, 120, 240, 24000}));
  ServeUntil([&] { return run.g.PainterCount() == 0; });
  EXPECT_EQ(run.log, "01234L01234E");
  EXPECT_EQ(run.clock.Waits(), 9u);
}

TEST(GIFPainter, LateWaitsAreMadeUpByHalf) {
  AsyncRun run(MakeGif(4, 4, {Frame(10), Frame(10), Frame(10), Frame(10)}, 1), 200);
  ASSERT_NE(run.Start(0), nullptr);
  EXPECT_EQ(run.clock.AwaitWait(1), 60);  // 10 x 12 ms at speed 200
  run.clock.Advance(100);                 // 40 ms late
  // Next: (120 - 40 / 2) x 100 / 200.
  EXPECT_EQ(run.clock.AwaitWait(2), 50);
  run.clock.Advance(50);
  EXPECT_EQ(run.clock.AwaitWait(3), 60);
  run.g.StopAllPainters();
  EXPECT_EQ(run.log, "012");
}

TEST(GIFPainter, LoopCountZeroPlaysUntilStopped) {
  AsyncRun run(MakeGif(4, 4, {Frame(1), Frame(1)}, 2, 0), 100);
  ASSERT_NE(run.Start(gif::goLoop), nullptr);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(run.NextWait(), 36);
  // Events stop with the painter: no end event after Stop.
  run.g.StopAllPainters();
  EXPECT_EQ(run.g.PainterCount(), 0);
  EXPECT_EQ(run.log, "01L01L01L0");
}

TEST(GIFPainter, SpeedZeroHoldsTheFrameUntilStopped) {
  AsyncRun run(MakeGif(4, 4, {Frame(1), Frame(1), Frame(1)}, 2, 0), 0);
  ASSERT_NE(run.Start(gif::goLoop), nullptr);
  EXPECT_EQ(run.clock.AwaitWait(1), -1);
  run.clock.Advance(1000000);  // the painter looks at its wait again and keeps it
  EXPECT_TRUE(run.clock.Waiting());
  fw::TThread::CheckSynchronize();
  EXPECT_EQ(run.log, "0");
  run.g.StopAllPainters();  // Stop wakes the wait
  EXPECT_EQ(run.log, "0");
  EXPECT_EQ(run.g.PainterCount(), 0);
}

TEST(GIFPainter, NegativeSpeedDoesNotWait) {
  AsyncRun run(MakeGif(4, 4, {Frame(50), Frame(50)}, 2, 3), -1);
  ASSERT_NE(run.Start(gif::goLoop), nullptr);
  ServeUntil([&] { return run.g.PainterCount() == 0; });
  EXPECT_EQ(run.log, "01L01L01E");
  EXPECT_EQ(run.clock.Waits(), 0u);
}

// A painter with buffers (a frame restores to the background) whose canvas
// is destroyed: with the canvas watch it ends, without it skips the paint;
// neither touches the freed canvas.
TEST(GIFPainter, DestroyedCanvasIsNotPaintedOn) {
  for (const bool watch : {true, false}) {
    AsyncRun run(MakeGif(4, 4, {Frame(1, 2), Frame(1, 2)}, 3, 0), 100);
    auto canvas_owner = std::make_unique<fw::TBitmap>();
    canvas_owner->SetSize(4, 4);
    gif::TGIFPainter* p = run.g.CreateGIFPainter(canvas_owner->Canvas(), fw::Rect(0, 0, 4, 4),
                                                 gif::goAsync | gif::goAnimate | gif::goLoop |
                                                     (watch ? gif::goValidateCanvas : 0));
    ASSERT_NE(p, nullptr);
    p->Start();
    EXPECT_EQ(run.NextWait(), 36);
    canvas_owner.reset();
    if (watch) {
      ServeUntil([&] { return run.g.PainterCount() == 0; });
      EXPECT_EQ(run.log, "01");
    } else {
      EXPECT_EQ(run.NextWait(), 36);
      run.clock.AwaitWait(3);
      EXPECT_EQ(run.log, "01L0");
      run.g.StopAllPainters();
    }
  }
}

TEST(GIFImageDraw, SecondDrawDoesNotRestartAndCacheShowsAnimation) {
  gif::TGIFGraphic g;
  FakeClock clock;
  g.PainterClock = &clock;
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
  // Drawn through the cache: Draw returns once the first frame is in it and
  // the caller's canvas shows it.
  g.DrawOptions = gif::goAsync | gif::goAnimate | gif::goLoop;
  fw::TBitmap other;
  other.SetPixelFormat(fw::TPixelFormat::pf32bit);
  other.SetSize(6, 5);
  g.Draw(other.Canvas(), fw::Rect(0, 0, 6, 5));
  ASSERT_NE(g.Bitmap(), nullptr);
  EXPECT_EQ(Snapshot(other), Snapshot(*g.Bitmap()));
  int w = 0, h = 0;
  EXPECT_EQ(Snapshot(other), ModelComposite(SaveBytes(g), fw::clWhite, &w, &h)[0]);  // a white canvas
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
