// A timer service with a hand-moved clock: Advance(ms) fires every timer
// that falls due, in time order, as often as it falls due.
#pragma once

#include <functional>
#include <map>

#include "framework/forms/timer.h"

namespace testsupport {

class ManualTimers : public fw::TTimerService {
 public:
  ManualTimers() : previous_(fw::SetTimerService(this)) {}
  ~ManualTimers() override { fw::SetTimerService(previous_); }

  int Start(int interval_ms, std::function<void()> tick) override {
    const int id = ++next_id_;
    timers_[id] = {interval_ms, now_ + interval_ms, std::move(tick)};
    return id;
  }
  void Stop(int id) override { timers_.erase(id); }

  void Advance(long long ms) {
    const long long end = now_ + ms;
    for (;;) {
      int due_id = 0;
      long long due = end + 1;
      for (const auto& [id, t] : timers_)
        if (t.next <= end && t.next < due) {
          due = t.next;
          due_id = id;
        }
      if (due_id == 0) break;
      now_ = due;
      Timer& t = timers_[due_id];
      t.next += t.interval;
      std::function<void()> tick = t.tick;  // the tick may stop its own timer
      tick();
    }
    now_ = end;
  }
  int Running() const { return static_cast<int>(timers_.size()); }

 private:
  struct Timer {
    int interval = 0;
    long long next = 0;
    std::function<void()> tick;
  };
  fw::TTimerService* previous_;
  std::map<int, Timer> timers_;
  long long now_ = 0;
  int next_id_ = 0;
};

}  // namespace testsupport
