#include "cgi/watchdog.h"

#include <unistd.h>

#include <chrono>
#include <thread>

namespace cgi {

std::atomic<std::int64_t> TWatchDogThread::deadline_ms_{0};

std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TWatchDogThread::Execute() {
  while (!Terminated()) {
    const std::int64_t deadline = Deadline();
    if (deadline > 0 && MonotonicMs() > deadline) break;
    // Sleep one poll interval, but notice Terminate at once.
    for (int slept = 0; slept < kWatchdogPollMs && !Terminated(); slept += 100) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  if (Terminated()) return;
  // The request overran its deadline: end the process without running
  // destructors or exit handlers, which the stuck request thread may hold.
  ::_exit(kWatchdogExitCode);
}

}  // namespace cgi
