// TGIFPainter: plays an animated GIF on a canvas. It walks the frames,
// waits each frame's delay scaled by the image's AnimationSpeed, applies the
// disposal methods through off-screen buffers, follows the loop count of the
// loop extension and fires the image's painter events.
//
// It runs as its own thread (option goAsync) or synchronously inside
// TGIFGraphic::CreateGIFPainter.
//
// Sharing between the painter's thread and the main thread:
//   (1) The thread reads only what the painter owns: its options, its flags
//       and the timing of every frame (TGIFFrameTiming: emptiness, disposal,
//       delay, loop count), copied from the frames on the main thread. The
//       image hands a painter a fresh copy when frames are added
//       (UpdateTiming); the copy is guarded by timing_mutex_.
//   (2) The image, its frames, their bitmaps, the canvas and the event
//       handlers are touched only on the main thread, inside synchronised
//       calls (OnMain), and only while the painter still has its image and
//       is not terminated.
//   (3) Before the image frees or replaces its frames or the bitmap cache
//       a painter draws into, it stops those painters and waits for their
//       end (TGIFGraphic::StopAllPainters).
// A painter whose own code is on the main thread's stack when it is stopped
// (one of its synchronised calls, e.g. an event handler that clears the
// image, or the body of a synchronous painter) cannot be waited for: the
// image gives up on it (Detach). It is terminated, forgets the image and,
// when asynchronous, frees itself at the end of its thread without another
// synchronised call.
//
// Timing: a frame's delay (graphic control extension, 1/100 s) times 12 is
// its wait in milliseconds at speed 100; no delay gives 10, a delay below 3
// gives 3; synchronous painters hold delays to 1000. Speed 0 holds a frame
// until the painter is stopped; a negative speed does not wait.
//
// Lifetime: the image owns its painters. A painter's end (on the main
// thread) takes it off the image's list of running painters; the image frees
// ended painters after joining their threads. A painter whose body raised
// keeps the exception (KeptException); the image reports it as a warning
// when it frees the painter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/thread.h"

namespace gif {

class TGIFGraphic;
class TGIFPainter;

using TGIFPainterEvent = std::function<void(TGIFPainter* sender)>;

// Auto-reset event that ends a painter's wait: Stop signals it.
class TGIFWakeEvent {
 public:
  // A signal given while nobody waits ends the next wait at once.
  void Signal();
  // Wakes a waiter of WaitUntil to look at its time limit again.
  void Notify();
  // Waits up to ms milliseconds of real time (-1: no limit); true when
  // signalled (the event is reset).
  bool WaitFor(int ms);
  // Waits until signalled (true) or until time_is_up() holds when looked at
  // (false), which happens at the start and after every Notify.
  bool WaitUntil(const std::function<bool()>& time_is_up);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;  // GUARDED_BY(mutex_)
};

// Milliseconds, sleeping and waiting for painters; tests pass a fake one.
// An asynchronous painter calls it from its own thread.
class TGIFPainterClock {
 public:
  virtual ~TGIFPainterClock() = default;
  virtual std::uint32_t Now() = 0;
  // Synchronous painters: lets ms milliseconds pass.
  virtual void Sleep(int ms) = 0;
  // Asynchronous painters: waits until the event is signalled (true) or ms
  // milliseconds have passed (false); -1: no time limit.
  virtual bool Wait(TGIFWakeEvent& event, int ms) = 0;
};

// The steady system clock.
TGIFPainterClock& SystemPainterClock();

// What the painter's thread needs to know of a frame.
struct TGIFFrameTiming {
  bool Empty = true;
  int Disposal = 1;  // set by the frame's graphic control extensions, last wins
  int Delay = 0;     // of the frame's first graphic control extension, 1/100 s
  int Loops = -1;    // of the frame's first loop extension; -1 without one
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
  // Main thread only.
  TGIFGraphic* Image() const { return image_; }
  std::exception_ptr KeptException() const { return kept_exception_; }
  // Unique among all painters of the process, never reused.
  std::uint64_t Serial() const { return serial_; }

  // The wait before a frame of the given delay value (1/100 s units), as the
  // painter computes it after a wait that ended on time.
  static int FrameWait(int delay, int speed, bool synchronous);

  TGIFPainterEvent OnPainterStart, OnFramePaint, OnFrameAfterPaint, OnPainterLoop, OnPainterEnd;

 protected:
  void Execute() override;

 private:
  friend class TGIFGraphic;
  void Body();
  TGIFFrameTiming Timing(int index, int* count);
  // Main thread: copies the frames' timing from the image.
  void UpdateTiming();
  void Fire(const TGIFPainterEvent& event);
  // Runs method on the main thread (at once for a synchronous painter).
  void OnMain(const std::function<void()>& method);
  std::uint32_t Now();
  void Paint();
  void DirectPaint();
  void BufferedPaint();
  void RestoreBackground();
  void EndPainter();
  // Runs the body in the caller's thread (synchronous painters).
  void RunSynchronous();
  // True while code of this painter runs on the calling (main) thread: one
  // of its synchronised calls, or a synchronous painter's body.
  bool InCall() const { return in_call_ > 0; }
  // REQUIRES: main thread, InCall() or not yet started.
  void Detach();

  TGIFGraphic* image_;  // main thread only
  fw::TCanvas* canvas_;
  std::weak_ptr<const void> canvas_handle_;
  fw::TRect rect_;
  const std::uint16_t options_;
  const int speed_;
  TGIFPainterClock* const clock_;
  const std::uint64_t serial_;
  std::mutex timing_mutex_;
  std::vector<TGIFFrameTiming> timing_;  // GUARDED_BY(timing_mutex_)
  std::atomic<int> active_image_{-1};
  // Written by the body, read by the painting calls it synchronises.
  int disposal_ = 1;
  int previous_disposal_ = 1;
  std::unique_ptr<fw::TBitmap> frame_buffer_;
  std::unique_ptr<fw::TBitmap> previous_buffer_;
  std::unique_ptr<fw::TBitmap> background_buffer_;
  fw::TColor background_color_ = fw::clWhite;
  std::atomic<bool> restart_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> detached_{false};
  int in_call_ = 0;  // main thread only
  TGIFWakeEvent wake_;
  std::exception_ptr kept_exception_;
};

}  // namespace gif
