#include "gif/gui/gif_painter.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <set>
#include <thread>

#include "gif/gif_extension.h"
#include "gif/gui/gif_graphic.h"

namespace gif {

namespace {

constexpr int kInfinite = -1;

std::atomic<std::uint64_t> g_next_serial{1};

class SystemClock : public TGIFPainterClock {
 public:
  std::uint32_t Now() override {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  bool Wait(TGIFWakeEvent& event, int ms) override { return event.WaitFor(ms); }
};

// Holds the change notices of a canvas and of its bitmap while a frame is
// painted, so that no handler runs while the painter holds frames and
// canvases; Replay puts the handlers back and passes on what came in, one
// notice of each kind.
class NoticeHold {
 public:
  explicit NoticeHold(fw::TCanvas& canvas) : canvas_(canvas), bitmap_(canvas.Bitmap()) {
    bitmap_handler_ = bitmap_.OnChange;
    canvas_handler_ = canvas_.OnChange;
    bitmap_.OnChange = [this](fw::TGraphic*) { bitmap_changed_ = true; };
    canvas_.OnChange = [this](fw::TCanvas*) { canvas_changed_ = true; };
  }
  ~NoticeHold() { Restore(); }
  NoticeHold(const NoticeHold&) = delete;
  NoticeHold& operator=(const NoticeHold&) = delete;

  // The bitmap's handler goes first, as TCanvas signals them; it may free
  // the canvas, which the handle tells.
  void Replay() {
    Restore();
    const std::weak_ptr<const void> alive = canvas_.Handle();
    const auto bitmap_handler = bitmap_handler_;
    const auto canvas_handler = canvas_handler_;
    fw::TCanvas* canvas = &canvas_;
    fw::TBitmap* bitmap = &bitmap_;
    if (bitmap_changed_ && bitmap_handler) bitmap_handler(bitmap);
    if (canvas_changed_ && canvas_handler && !alive.expired()) canvas_handler(canvas);
  }

 private:
  void Restore() {
    if (restored_) return;
    restored_ = true;
    bitmap_.OnChange = bitmap_handler_;
    canvas_.OnChange = canvas_handler_;
  }

  fw::TCanvas& canvas_;
  fw::TBitmap& bitmap_;
  std::function<void(fw::TGraphic*)> bitmap_handler_;
  std::function<void(fw::TCanvas*)> canvas_handler_;
  bool bitmap_changed_ = false;
  bool canvas_changed_ = false;
  bool restored_ = false;
};

}  // namespace

TGIFPainterClock& SystemPainterClock() {
  static SystemClock clock;
  return clock;
}

void TGIFWakeEvent::Signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void TGIFWakeEvent::Notify() {
  // Taking the lock orders this with a waiter that is between looking at
  // its time limit and going to sleep.
  { std::lock_guard<std::mutex> lock(mutex_); }
  cv_.notify_all();
}

bool TGIFWakeEvent::WaitFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ms < 0)
    cv_.wait(lock, [&] { return signalled_; });
  else
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return signalled_; });
  const bool woken = signalled_;
  signalled_ = false;
  return woken;
}

bool TGIFWakeEvent::WaitUntil(const std::function<bool()>& time_is_up) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return signalled_ || time_is_up(); });
  const bool woken = signalled_;
  signalled_ = false;
  return woken;
}

TGIFPainter::TGIFPainter(TGIFGraphic* image, fw::TCanvas* canvas, const fw::TRect& rect, std::uint16_t options,
                         TGIFPainterClock* clock)
    : fw::TThread(true),
      image_(image),
      canvas_(canvas),
      canvas_handle_(canvas->Handle()),
      rect_(rect),
      options_(options),
      speed_(image->AnimationSpeed),
      clock_(clock ? clock : &SystemPainterClock()),
      serial_(g_next_serial++) {
  UpdateTiming();
  TGIFImage& gif = image_->Image();
  // Background colour.
  if (image_->BackgroundColor != fw::clNone) {
    background_color_ = fw::ColorToRGB(image_->BackgroundColor);
  } else if (gif.GlobalColorMap().Count() == 0) {
    background_color_ = fw::ColorToRGB(fw::clWindow);
  } else {
    const int index = gif.Header().BackgroundColorIndex();
    background_color_ =
        index < gif.GlobalColorMap().Count() ? ColorValue(gif.GlobalColorMap().Colors(index)) : fw::clBlack;
  }
  std::set<int> methods;
  for (const auto& frame : gif.Images())
    for (const auto& ext : frame->Extensions())
      if (auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(ext.get())) methods.insert(gce->Disposal());
  if (options_ & goClearOnLoop) methods.insert(2);
  const int w = rect_.Width();
  const int h = rect_.Height();
  if (w <= 0 || h <= 0) return;
  auto make_buffer = [&](bool copy_canvas) {
    auto b = std::make_unique<fw::TBitmap>();
    b->SetPixelFormat(fw::TPixelFormat::pf32bit);
    b->SetSize(w, h);
    b->Canvas().SetBrushColor(background_color_);
    b->Canvas().FillRect(fw::Rect(0, 0, w, h));
    if (copy_canvas) b->Canvas().CopyRect(fw::Rect(0, 0, w, h), *canvas_, rect_);
    return b;
  };
  if (methods.count(2) && (options_ & goTransparent)) background_buffer_ = make_buffer(true);
  if (methods.count(2) || methods.count(3)) {
    frame_buffer_ = make_buffer(true);
    previous_buffer_ = make_buffer(false);
  }
}

TGIFPainter::~TGIFPainter() {
  // The image joins its painters before freeing them; a painter that frees
  // itself does so on its own thread after its body. What is left is a
  // started painter freed by someone else: it must end before its members go.
  if (!Suspended() && !FreeOnTerminate()) {
    Stop();
    WaitFor();
  }
}

void TGIFPainter::UpdateTiming() {
  std::vector<TGIFFrameTiming> timing;
  if (image_) {
    for (const auto& frame : image_->Image().Images()) {
      TGIFFrameTiming t;
      t.Empty = frame->Empty();
      if (const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension()) t.Delay = gce->Delay();
      for (const auto& ext : frame->Extensions()) {
        if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(ext.get())) {
          if (t.Loops < 0) t.Loops = loop->Loops();
        } else if (auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(ext.get())) {
          t.Disposal = gce->Disposal();
        }
      }
      timing.push_back(t);
    }
  }
  std::lock_guard<std::mutex> lock(timing_mutex_);
  timing_ = std::move(timing);
}

TGIFFrameTiming TGIFPainter::Timing(int index, int* count) {
  std::lock_guard<std::mutex> lock(timing_mutex_);
  *count = static_cast<int>(timing_.size());
  if (index < 0 || index >= *count) return {};
  return timing_[static_cast<std::size_t>(index)];
}

void TGIFPainter::Start() {
  if (Asynchronous()) Resume();
}

void TGIFPainter::Stop() {
  Terminate();
  if (Asynchronous()) {
    wake_.Signal();
    SetPriority(fw::TThreadPriority::tpNormal);
  }
}

void TGIFPainter::Detach() {
  Stop();
  image_ = nullptr;
  detached_ = true;
}

int TGIFPainter::FrameWait(int delay, int speed, bool synchronous) {
  if (delay <= 0) delay = kDefaultDelay;
  delay = std::max(delay, kMinimumDelay);
  if (synchronous) delay = std::min(delay, kMaximumDelay);
  if (speed < 1) return synchronous ? kMaximumDelay * kDelayScale : kInfinite;
  return fw::MulDiv(delay * kDelayScale, 100, speed);
}

std::uint32_t TGIFPainter::Now() { return clock_->Now(); }

void TGIFPainter::OnMain(const std::function<void()>& method) {
  if (!Asynchronous()) {
    method();
    return;
  }
  Synchronize([&] {
    ++in_call_;
    try {
      method();
    } catch (...) {
      --in_call_;
      throw;
    }
    --in_call_;
  });
}

void TGIFPainter::Fire(const TGIFPainterEvent& event) {
  if (!event || Terminated()) return;
  OnMain([&] {
    if (image_ && !Terminated()) event(this);
  });
}

void TGIFPainter::Execute() {
  try {
    Body();
  } catch (...) {
    Terminate();
    kept_exception_ = std::current_exception();
  }
  // A painter the image gave up on has nothing left to do there.
  if (!detached_) OnMain([this] { EndPainter(); });
}

void TGIFPainter::RunSynchronous() {
  ++in_call_;
  try {
    Execute();
  } catch (...) {
    --in_call_;
    throw;
  }
  --in_call_;
}

void TGIFPainter::Body() {
  const bool async = Asynchronous();
  restart_ = true;
  while (restart_ && !Terminated()) {
    active_image_ = 0;
    Fire(OnPainterStart);
    started_ = false;
    restart_ = false;
    int loop_counter = 1;
    int loop_start = 0;
    bool loop_seen = false;
    int delay = async ? 0 : 1;
    previous_disposal_ = 1;
    std::uint32_t reference = Now();
    int previous_delay = 0;
    // One pass at least; more while the options ask for looping.
    do {
      if ((loop_counter == 0 && !(options_ & goLoopContinously)) || Terminated() || restart_) break;
      active_image_ = loop_start;
      if (started_) Fire(OnPainterLoop);
      // Without the animate option only the current frame is painted.
      for (bool first = true; first || (options_ & goAnimate); first = false) {
        const int index = active_image_;
        int count = 0;
        const TGIFFrameTiming timing = Timing(index, &count);
        if (index < 0 || index >= count || Terminated() || restart_ || timing.Empty) break;
        if (delay > 0) {
          // Rendered before the wait, so that the wait covers the work.
          OnMain([&] {
            if (image_) image_->RenderFrame(index);
          });
          const std::uint32_t now = Now();
          if (speed_ < 1) {
            delay = async ? kInfinite : kMaximumDelay * kDelayScale;
          } else {
            const long long overrun =
                (static_cast<long long>(static_cast<std::int32_t>(now - reference)) - previous_delay) / 2;
            const long long wanted = static_cast<long long>(delay) * kDelayScale - overrun;
            const long long d = wanted * 100 / speed_;
            if (d > INT_MAX || d < INT_MIN) {
              delay = kMaximumDelay * kDelayScale;
              previous_delay = 0;
            } else {
              delay = fw::MulDiv(static_cast<int>(wanted), 100, speed_);
              previous_delay = delay;
            }
          }
          reference = now;
        }
        if (async) {
          if (delay > 0 || (delay == kInfinite && speed_ == 0)) {
            if (clock_->Wait(wake_, delay)) {
              previous_delay = 0;
              reference = Now();
            }
          }
        } else {
          int left = std::max(delay, 1);
          while (left > 0 && !Terminated() && !restart_) {
            const std::uint32_t before = Now();
            clock_->Sleep(std::min(left, 100));
            const int passed = static_cast<int>(Now() - before);
            left -= std::max(passed, 1);
            if (fw::TThread::IsMainThread()) fw::TThread::CheckSynchronize();
          }
        }
        if (delay <= 0 && delay != kInfinite) std::this_thread::yield();
        if (Terminated()) break;
        Fire(OnFramePaint);
        disposal_ = timing.Disposal;
        if (timing.Loops >= 0 && !loop_seen) {
          loop_seen = true;
          loop_counter = timing.Loops;
          if (loop_counter != 0 && !(options_ & goLoopContinously)) {
            loop_start = index;
          } else if (async) {
            loop_counter = -1;  // for ever
            loop_start = index;
          }
        }
        OnMain([&] { Paint(); });
        previous_disposal_ = disposal_;
        if (timing.Delay > 0) {
          delay = std::max(timing.Delay, kMinimumDelay);
          if (!async) delay = std::min(delay, kMaximumDelay);
        } else {
          delay = kDefaultDelay;
        }
        Fire(OnFrameAfterPaint);
        if (active_image_ == index) active_image_ = index + 1;
      }
      if (loop_counter > 0) --loop_counter;
    } while ((options_ & goAnimate) && (options_ & goLoop));
  }
  active_image_ = -1;
  Fire(OnPainterEnd);
}

void TGIFPainter::Paint() {
  if (!image_ || Terminated()) return;
  // Rendering may signal a change, whose handler may stop this painter or
  // free the canvas: done before any frame or canvas is held.
  image_->RenderFrame(active_image_);
  if (!image_ || Terminated()) return;
  if (canvas_handle_.expired()) {
    // The canvas is gone; a buffered painter told to watch it ends.
    if ((options_ & goValidateCanvas) && frame_buffer_) Terminate();
    return;
  }
  NoticeHold hold(*canvas_);
  if (frame_buffer_)
    BufferedPaint();
  else
    DirectPaint();
  hold.Replay();
}

void TGIFPainter::DirectPaint() {
  image_->DrawFrame(*canvas_, rect_, active_image_, (options_ & goTransparent) != 0, (options_ & goTile) != 0);
  started_ = true;
}

void TGIFPainter::BufferedPaint() {
  const int index = active_image_;
  const bool clear_first = (options_ & goClearOnLoop) && index == 0;
  const fw::TRect buffer_rect = fw::Rect(0, 0, rect_.Width(), rect_.Height());
  fw::TCanvas* target = nullptr;
  fw::TRect target_rect = buffer_rect;
  bool copy = false;
  bool restore = false;
  switch (disposal_) {
    case 0:
    case 1:
      target = &frame_buffer_->Canvas();
      copy = true;
      break;
    case 2:
      target = &frame_buffer_->Canvas();
      copy = true;
      restore = true;
      break;
    case 3:
      if (previous_disposal_ == 0 || previous_disposal_ == 1) {
        // The frame buffer keeps the picture from before this frame.
        target = canvas_;
        target_rect = rect_;
      } else if (previous_disposal_ == 2 || previous_disposal_ == 3) {
        previous_buffer_->Canvas().CopyRect(buffer_rect, frame_buffer_->Canvas(), buffer_rect);
        target = &previous_buffer_->Canvas();
        copy = true;
      }
      break;
    default:
      break;
  }
  if (!target) return;
  if (clear_first) RestoreBackground();
  image_->DrawFrame(*target, target_rect, index, (options_ & goTransparent) != 0, (options_ & goTile) != 0);
  if (copy) canvas_->CopyRect(rect_, *target, buffer_rect);
  if (restore) RestoreBackground();
  started_ = true;
}

void TGIFPainter::RestoreBackground() {
  TGIFImage& gif = image_->Image();
  const int index = active_image_;
  if (index < 0 || index >= gif.Images().Count()) return;
  TGIFSubImage* frame = gif.Images()[index];
  const fw::TRect buffer_rect = fw::Rect(0, 0, rect_.Width(), rect_.Height());
  const bool tile = (options_ & goTile) != 0;
  fw::TCanvas& canvas = frame_buffer_->Canvas();
  const int sw = gif.Width() > 0 ? gif.Width() : frame->Width();
  const int sh = gif.Height() > 0 ? gif.Height() : frame->Height();
  auto for_tiles = [&](const std::function<void(const fw::TRect&)>& f) {
    if (sw <= 0 || sh <= 0) return;
    for (int x = frame->Left(); x < buffer_rect.Right; x += sw)
      for (int y = frame->Top(); y < buffer_rect.Bottom; y += sh) f(fw::Bounds(x, y, frame->Width(), frame->Height()));
  };
  if (!(options_ & goTransparent) || !background_buffer_) {
    if (tile && frame->Width() < gif.Width() && frame->Height() < gif.Height()) {
      const fw::TColor old = canvas.BrushColor();
      canvas.SetBrushColor(image_->BackgroundColor);
      for_tiles([&](const fw::TRect& r) { canvas.FillRect(r); });
      canvas.SetBrushColor(old);
    } else {
      canvas.SetBrushColor(background_color_);
      canvas.FillRect(ScaleFrameRect(*frame, gif.Width(), gif.Height(), buffer_rect));
    }
  } else if (tile) {
    for_tiles([&](const fw::TRect& r) { canvas.CopyRect(r, background_buffer_->Canvas(), r); });
  } else {
    const fw::TRect r = ScaleFrameRect(*frame, gif.Width(), gif.Height(), buffer_rect);
    canvas.CopyRect(r, background_buffer_->Canvas(), r);
  }
}

void TGIFPainter::EndPainter() {
  if (image_) image_->PainterEnded(this);
  image_ = nullptr;
  frame_buffer_.reset();
  previous_buffer_.reset();
  background_buffer_.reset();
  ended_ = true;
}

}  // namespace gif
