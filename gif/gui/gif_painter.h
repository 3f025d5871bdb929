// TGIFPainter: plays an animated GIF on a canvas. It walks the frames,
// waits each frame's delay scaled by the image's AnimationSpeed, applies the
// disposal methods through off-screen buffers, follows the loop count of the
// loop extension and fires the image's painter events.
//
// It runs as its own thread (option goAsync) or synchronously inside
// TGIFGraphic::CreateGIFPainter. An asynchronous painter touches the canvas,
// the frames' bitmaps and the events only inside TThread::Synchronize calls,
// i.e. on the main thread; it reads the frame list and the frames'
// extensions directly, so the image stops its painters (StopAllPainters)
// before it changes them.
//
// Timing: a frame's delay (graphic control extension, 1/100 s) times 12 is
// its wait in milliseconds at speed 100; no delay gives 10, a delay below 3
// gives 3; synchronous painters hold delays to 1000.
//
// Lifetime: the image owns its painters. A painter's end handler (on the
// main thread) takes it off the image's list of running painters; the image
// frees ended painters after joining their threads. A painter whose body
// raised keeps the exception (KeptException); the image reports it as a
// warning when it frees the painter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/thread.h"

namespace gif {

class TGIFGraphic;
class TGIFPainter;

using TGIFPainterEvent = std::function<void(TGIFPainter* sender)>;

// Milliseconds and sleeping for painters; tests pass a fake one.
class TGIFPainterClock {
 public:
  virtual ~TGIFPainterClock() = default;
  virtual std::uint32_t Now() = 0;
  virtual void Sleep(int ms) = 0;
};

class TGIFPainter : public fw::TThread {
 public:
  static constexpr int kDelayScale = 12;     // ms per delay unit at speed 100
  static constexpr int kDefaultDelay = 10;   // a frame without a delay
  static constexpr int kMinimumDelay = 3;
  static constexpr int kMaximumDelay = 1000;  // synchronous painters only

  // Prepares the buffers from the canvas (main thread). clock nullptr: the
  // system's clock.
  TGIFPainter(TGIFGraphic* image, fw::TCanvas* canvas, const fw::TRect& rect, std::uint16_t options,
              TGIFPainterClock* clock);
  ~TGIFPainter() override;

  // Resumes the thread of an asynchronous painter.
  void Start();
  // Marks the painter terminated and ends a wait at once.
  void Stop();
  // Asks the body to begin again from frame 0 (from an event handler).
  void Restart() { restart_ = true; }

  bool Asynchronous() const { return (options_ & 0x0001) != 0; }
  // Index of the frame being painted; -1 when not painting. Event handlers
  // may set it to jump.
  int ActiveImage() const { return active_image_; }
  void SetActiveImage(int index) { active_image_ = index; }
  // True once a frame has been painted.
  bool Started() const { return started_; }
  bool Ended() const { return ended_; }
  fw::TCanvas* Canvas() const { return canvas_; }
  const fw::TRect& Rect() const { return rect_; }
  std::uint16_t Options() const { return options_; }
  TGIFGraphic* Image() const { return image_; }
  std::exception_ptr KeptException() const { return kept_exception_; }

  // The wait before a frame of the given delay value (1/100 s units), as the
  // painter computes it after a wait that ended on time.
  static int FrameWait(int delay, int speed, bool synchronous);

  TGIFPainterEvent OnPainterStart, OnFramePaint, OnFrameAfterPaint, OnPainterLoop, OnPainterEnd;

 protected:
  void Execute() override;

 private:
  friend class TGIFGraphic;
  void Body();
  void Fire(const TGIFPainterEvent& event);
  void OnMain(const std::function<void()>& method);
  // Waits up to ms (-1: until woken); true when Stop woke it.
  bool WaitWake(int ms);
  void Pause(int ms);
  std::uint32_t Now();
  void Paint();
  void DirectPaint();
  void BufferedPaint();
  void RestoreBackground();
  void EndPainter();
  // Runs the body in the caller's thread (synchronous painters).
  void RunSynchronous();

  TGIFGraphic* image_;
  fw::TCanvas* canvas_;
  fw::TRect rect_;
  std::uint16_t options_;
  int speed_;
  TGIFPainterClock* clock_;
  std::atomic<int> active_image_{-1};
  int disposal_ = 1;
  int previous_disposal_ = 1;
  std::unique_ptr<fw::TBitmap> frame_buffer_;
  std::unique_ptr<fw::TBitmap> previous_buffer_;
  std::unique_ptr<fw::TBitmap> background_buffer_;
  fw::TColor background_color_ = fw::clWhite;
  std::atomic<bool> restart_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> ended_{false};
  // Wake-up event (auto-reset); has_event_ false: no event was made.
  bool has_event_ = false;
  std::mutex wake_mutex_;
  std::condition_variable wake_cv_;
  bool wake_signalled_ = false;
  std::exception_ptr kept_exception_;
};

}  // namespace gif
