// TTimer: runs OnTimer every Interval milliseconds while Enabled (and an
// event loop runs). Timers are driven by the current TTimerService: the Qt
// one by default; a test installs a manual one and moves its clock.
#pragma once

#include <functional>

#include "framework/component.h"
#include "framework/forms/control.h"

namespace fw {

class TTimerService {
 public:
  virtual ~TTimerService() = default;
  // Starts a repeating timer; returns its id (never 0).
  virtual int Start(int interval_ms, std::function<void()> tick) = 0;
  virtual void Stop(int id) = 0;
};

TTimerService& TimerService();
// Installs service (nullptr: the Qt one again); returns the one replaced.
// Timers running keep the service they started with.
TTimerService* SetTimerService(TTimerService* service);

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  int Interval() const { return interval_; }
  void SetInterval(int ms);  // 0 stops the timer

  TNotifyEvent OnTimer;

 private:
  void Restart();
  bool enabled_ = true;
  int interval_ = 1000;
  int id_ = 0;
  TTimerService* service_ = nullptr;
};

}  // namespace fw
