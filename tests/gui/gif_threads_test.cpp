// The image changed while painters play it: every call that frees or
// replaces the bitmap cache, the frame list or a frame, made many times
// while animations run on their own threads, from the test's main thread
// and from the painters' own event handlers. Meant for the address and
// thread sanitizer builds: a painter drawing into a freed cache or reading
// frames while they change is what they catch.
#include <gtest/gtest.h>

#include "framework/gui/canvas.h"
#include "gif/gif_exception.h"
#include "gui_test_support.h"

namespace {

using namespace guitest;

// Three frames, one restoring to the background (painters then keep
// buffers), looping for ever.
Bytes Animation() {
  return MakeGif(8, 6, {{0, 0, 8, 6, 1, -1, 1, false, {}}, {1, 1, 5, 4, 2, 3, 1, false, {}}, {2, 0, 6, 6, 0, -1, 1, true, {}}},
                 7, 0);
}

struct Change {
  const char* name;
  bool stops_all;  // else only the painter drawing into the cache stops
  std::function<void(gif::TGIFGraphic&)> run;
};

std::vector<Change> Changes() {
  static const Bytes data = Animation();
  return {
      {"SetWidth", false, [](gif::TGIFGraphic& g) { g.SetWidth(g.Width() + 1); }},
      {"SetHeight", false, [](gif::TGIFGraphic& g) { g.SetHeight(g.Height() + 1); }},
      {"Add graphic", false,
       [](gif::TGIFGraphic& g) {
         fw::TBitmap b;
         b.SetSize(3, 2);
         g.Add(&b);
       }},
      {"Add frame", false,
       [](gif::TGIFGraphic& g) {
         auto f = std::make_unique<gif::TGIFSubImage>(&g.Image());
         f->SetSize(2, 2);
         g.Add(std::move(f));
       }},
      {"SetPalette", false, [](gif::TGIFGraphic& g) { g.SetPalette({fw::clRed, fw::clBlue}); }},
      {"StopGIFPainters", true, [](gif::TGIFGraphic& g) { g.StopGIFPainters(); }},
      {"InvalidateFrames", true, [](gif::TGIFGraphic& g) { g.InvalidateFrames(); }},
      {"Clear", true,
       [](gif::TGIFGraphic& g) {
         g.Clear();
         LoadBytes(g, data);
       }},
      {"LoadFromStream", true, [](gif::TGIFGraphic& g) { LoadBytes(g, data); }},
      {"LoadFromClipboardFormat", true,
       [](gif::TGIFGraphic& g) { g.LoadFromClipboardFormat(gif::GIFClipboardFormat(), data); }},
      {"Assign", true,
       [](gif::TGIFGraphic& g) {
         gif::TGIFGraphic other;
         LoadBytes(other, data);
         g.Assign(other);
       }},
      {"Optimize", true,
       [](gif::TGIFGraphic& g) { g.Optimize(0x1F, gif::TColorReduction::rmNone, gif::TDitherMode::dmNearest, 8); }},
  };
}

constexpr std::uint16_t kAsyncLoop = gif::goAsync | gif::goAnimate | gif::goLoop | gif::goTransparent;

// An animation through the bitmap cache (Draw) and one straight on a second
// screen; returns how many painters run.
int StartPainters(gif::TGIFGraphic& g, fw::TBitmap& screen, fw::TBitmap& other) {
  g.DrawOptions = kAsyncLoop;
  g.Draw(screen.Canvas(), fw::Rect(0, 0, screen.Width(), screen.Height()));
  gif::TGIFPainter* direct =
      g.CreateGIFPainter(other.Canvas(), fw::Rect(0, 0, other.Width(), other.Height()), kAsyncLoop);
  if (direct) direct->Start();
  return g.PainterCount();
}

// With a fake clock the painters paint exactly when told: after each
// change the clock moves on, and a painter left drawing into a freed cache
// or over freed frames would paint at once.
TEST(GIFThreads, ChangesBetweenFramesStopThePaintersTheyConcern) {
  for (const Change& change : Changes()) {
    FakeClock clock;
    gif::TGIFGraphic g;
    g.PainterClock = &clock;
    LoadBytes(g, Animation());
    fw::TBitmap screen, other;
    screen.SetSize(16, 12);
    other.SetSize(8, 6);
    for (int round = 0; round < 4; ++round) {
      std::size_t waits = clock.Waits();
      ASSERT_EQ(StartPainters(g, screen, other), 2) << change.name;
      clock.AwaitWait(waits + 2);
      clock.Advance(36);
      clock.AwaitWait(waits + 4);  // both painted once more
      change.run(g);
      ASSERT_EQ(g.PainterCount(), change.stops_all ? 0 : 1) << change.name;
      waits = clock.Waits();
      clock.Advance(36);
      if (!change.stops_all) clock.AwaitWait(waits + 1);  // the one left goes on
      g.StopAllPainters();
    }
  }
}

// Painters that never wait (negative speed) run over the frames while the
// main thread changes them between serving their calls.
TEST(GIFThreads, ChangesWhileFreeRunningPaintersPlay) {
  const std::vector<Change> changes = Changes();
  auto g = std::make_unique<gif::TGIFGraphic>();
  fw::TBitmap screen, other;
  screen.SetSize(16, 12);
  other.SetSize(8, 6);
  for (int i = 0; i < 120; ++i) {
    if (i % 40 == 39) g = std::make_unique<gif::TGIFGraphic>();  // freed while painting
    if (g->Empty()) LoadBytes(*g, Animation());
    g->AnimationSpeed = -1;
    if (g->PainterCount() == 0) StartPainters(*g, screen, other);
    for (int k = 0; k < 3; ++k) fw::TThread::WaitAndCheckSynchronize(1);
    changes[static_cast<std::size_t>(i) % changes.size()].run(*g);
  }
  g->StopAllPainters();
  EXPECT_EQ(g->PainterCount(), 0);
}

// An event handler of a painter changes the image: the painter's own call
// is running, so the image cannot wait for it and gives it up; the other
// painter is waited for. The given-up painter frees itself once its thread
// leaves the handler (its copy of the handler holds the token).
TEST(GIFThreads, HandlersThatChangeTheImageGiveUpTheirPainter) {
  std::vector<Change> changes = Changes();
  changes.push_back({"destroy", true, nullptr});
  for (const Change& change : changes) {
    for (const bool async : {true, false}) {
      if (!async && !change.run) continue;  // a synchronous painter runs inside the image's own call
      FakeClock clock;  // synchronous painters: waits pass at once
      auto g = std::make_unique<gif::TGIFGraphic>();
      LoadBytes(*g, Animation());
      g->AnimationSpeed = -1;  // threads: no waits
      g->PainterClock = &clock;
      fw::TBitmap screen, other;
      screen.SetSize(16, 12);
      other.SetSize(8, 6);
      auto token = std::make_shared<int>(0);
      const std::weak_ptr<int> alive = token;
      bool changed = false;
      int after = -1;
      g->OnFrameAfterPaint = [&, token](gif::TGIFPainter* p) {
        if (changed || p->Canvas() != &other.Canvas() || p->ActiveImage() != 1) return;
        changed = true;
        if (change.run) {
          change.run(*g);
          after = g->PainterCount();
        } else {
          g.reset();
        }
      };
      if (async) {
        StartPainters(*g, screen, other);
      } else {
        g->CreateGIFPainter(other.Canvas(), fw::Rect(0, 0, 8, 6), gif::goAnimate | gif::goLoop);
      }
      if (g) g->OnFrameAfterPaint = nullptr;
      token.reset();
      ServeUntil([&] { return changed; });
      if (change.run && async) {
        EXPECT_EQ(after, change.stops_all ? 0 : 1) << change.name;
      }
      if (g) g->StopAllPainters();
      // Every painter is freed in the end, the given-up one by itself.
      ServeUntil([&] { return alive.expired(); });
    }
  }
}

}  // namespace
