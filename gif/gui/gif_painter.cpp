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

std::uint32_t SystemMilliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

TGIFPainter::TGIFPainter(TGIFGraphic* image, fw::TCanvas* canvas, const fw::TRect& rect, std::uint16_t options,
                         TGIFPainterClock* clock)
    : fw::TThread(true),
      image_(image),
      canvas_(canvas),
      rect_(rect),
      options_(options),
      speed_(image->AnimationSpeed),
      clock_(clock) {
  SetOnTerminate([this] { EndPainter(); });
  TGIFImage& gif = image_->Image();
  if ((options_ & goAsync) && (options_ & goAnimate) && gif.Images().Count() >= 2 && speed_ >= 0) has_event_ = true;
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
    if (frame->GraphicControlExtension()) methods.insert(frame->GraphicControlExtension()->Disposal());
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
  // The thread has ended (the image joins it before freeing the painter).
  if (!Suspended()) {
    Stop();
    if (!Finished()) WaitFor();
  }
}

void TGIFPainter::Start() {
  if (Asynchronous()) Resume();
}

void TGIFPainter::Stop() {
  Terminate();
  if (Asynchronous()) {
    {
      std::lock_guard<std::mutex> lock(wake_mutex_);
      wake_signalled_ = true;
    }
    wake_cv_.notify_all();
    SetPriority(fw::TThreadPriority::tpNormal);
  }
}

int TGIFPainter::FrameWait(int delay, int speed, bool synchronous) {
  if (delay <= 0) delay = kDefaultDelay;
  delay = std::max(delay, kMinimumDelay);
  if (synchronous) delay = std::min(delay, kMaximumDelay);
  if (speed < 1) return synchronous ? kMaximumDelay * kDelayScale : kInfinite;
  return fw::MulDiv(delay * kDelayScale, 100, speed);
}

std::uint32_t TGIFPainter::Now() { return clock_ ? clock_->Now() : SystemMilliseconds(); }

void TGIFPainter::Pause(int ms) {
  if (clock_)
    clock_->Sleep(ms);
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool TGIFPainter::WaitWake(int ms) {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  if (clock_) {
    // The fake clock passes the time at once; a Stop that came before still
    // counts as a wake-up.
    lock.unlock();
    if (ms > 0) clock_->Sleep(ms);
    lock.lock();
  } else if (ms < 0) {
    wake_cv_.wait(lock, [&] { return wake_signalled_; });
  } else {
    wake_cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return wake_signalled_; });
  }
  const bool woken = wake_signalled_;
  wake_signalled_ = false;  // auto-reset
  return woken;
}

void TGIFPainter::OnMain(const std::function<void()>& method) {
  if (Asynchronous())
    Synchronize(method);
  else
    method();
}

void TGIFPainter::Fire(const TGIFPainterEvent& event) {
  if (!event || Terminated()) return;
  OnMain([&] { event(this); });
}

void TGIFPainter::Execute() {
  try {
    Body();
  } catch (...) {
    Terminate();
    kept_exception_ = std::current_exception();
  }
}

void TGIFPainter::RunSynchronous() {
  Execute();
  EndPainter();
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
        TGIFImage& gif = image_->Image();
        const int index = active_image_;
        if (index < 0 || index >= gif.Images().Count() || Terminated() || restart_) break;
        TGIFSubImage* frame = gif.Images()[index];
        if (frame->Empty()) break;
        if (delay > 0) {
          OnMain([&] { image_->FrameBitmap(index); });  // rendered before the wait
          const std::uint32_t now = Now();
          if (speed_ < 1) {
            delay = async ? kInfinite : kMaximumDelay * kDelayScale;
          } else {
            const long long overrun =
                (static_cast<long long>(static_cast<std::int32_t>(now - reference)) - previous_delay) / 2;
            const long long d = (static_cast<long long>(delay) * kDelayScale - overrun) * 100 / speed_;
            if (d > INT_MAX || d < INT_MIN) {
              delay = kMaximumDelay * kDelayScale;
              previous_delay = 0;
            } else {
              delay = fw::MulDiv(static_cast<int>(static_cast<long long>(delay) * kDelayScale - overrun), 100, speed_);
              previous_delay = delay;
            }
          }
          reference = now;
        }
        if (async) {
          if (delay > 0 || (delay == kInfinite && speed_ == 0)) {
            if (WaitWake(delay)) {
              previous_delay = 0;
              reference = Now();
            }
          }
        } else {
          int left = std::max(delay, 1);
          while (left > 0 && !Terminated() && !restart_) {
            const std::uint32_t before = Now();
            Pause(std::min(left, 100));
            const int passed = static_cast<int>(Now() - before);
            left -= std::max(passed, 1);
            if (fw::TThread::IsMainThread()) fw::TThread::CheckSynchronize();
          }
        }
        if (delay <= 0 && delay != kInfinite) std::this_thread::yield();
        if (Terminated()) break;
        Fire(OnFramePaint);
        disposal_ = 1;
        for (const auto& ext_ptr : frame->Extensions()) {
          TGIFExtension* ext = ext_ptr.get();
          if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(ext)) {
            if (loop_seen) continue;
            loop_seen = true;
            loop_counter = loop->Loops();
            if (loop_counter != 0 && !(options_ & goLoopContinously)) {
              loop_start = index;
            } else if (async) {
              loop_counter = -1;  // for ever
              loop_start = index;
            }
          } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext)) {
            disposal_ = gce->Disposal();
          }
        }
        OnMain([&] { Paint(); });
        previous_disposal_ = disposal_;
        const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
        if (gce && gce->Delay() > 0) {
          delay = std::max<int>(gce->Delay(), kMinimumDelay);
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
  if (frame_buffer_)
    BufferedPaint();
  else
    DirectPaint();
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
  ended_ = true;
  if (image_) image_->PainterEnded(this);
  image_ = nullptr;
  frame_buffer_.reset();
  previous_buffer_.reset();
  background_buffer_.reset();
}

}  // namespace gif
