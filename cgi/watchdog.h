// The request engine's watchdog: a thread that ends the whole process once a
// request has waited for its client beyond a deadline.
//
// The deadline is one process-wide value in milliseconds of the monotonic
// clock (0 = no deadline), written by the request thread (ReadClient moves
// it forward while input arrives) and only read by the watchdog, which polls
// it every poll interval. A monotonic clock is used so that a change of the
// wall clock or of daylight time neither fires the watchdog early nor holds
// it off.
//
// The period (30 s) and the poll interval (2 s) are process-wide settings so
// that a test program can shorten them; programs keep the defaults.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/thread.h"

namespace cgi {

// How long a request may wait for client input: 30 seconds.
inline constexpr int kWatchdogPeriodSeconds = 30;
inline constexpr int kWatchdogPollMs = 2000;
// Exit code of a process the watchdog ends: not 0, so that whoever runs the
// program can tell an overrun from a request that finished.
inline constexpr int kWatchdogExitCode = 124;

// Milliseconds of the monotonic clock.
std::int64_t MonotonicMs();

class TWatchDogThread : public fw::TThread {
 public:
  TWatchDogThread() : fw::TThread(true) {}

  // 0 clears the deadline.
  static void SetDeadline(std::int64_t monotonic_ms) { deadline_ms_.store(monotonic_ms); }
  // Now + the period.
  static void ArmDeadline() { SetDeadline(MonotonicMs() + period_ms_.load()); }
  static std::int64_t Deadline() { return deadline_ms_.load(); }

  // REQUIRES: period_ms > 0, poll_ms > 0.
  static void SetTiming(int period_ms, int poll_ms);
  // Checks of the deadline made so far by any watchdog of the process.
  static std::uint64_t Polls() { return polls_.load(); }

 protected:
  void Execute() override;

 private:
  static std::atomic<std::int64_t> deadline_ms_;
  static std::atomic<int> period_ms_;
  static std::atomic<int> poll_ms_;
  static std::atomic<std::uint64_t> polls_;
};

}  // namespace cgi
