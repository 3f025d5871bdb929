#include "cgi/watchdog.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <thread>

#include "cgi/upload_files.h"

namespace cgi {

std::atomic<std::int64_t> TWatchDogThread::deadline_ms_{0};
std::atomic<int> TWatchDogThread::period_ms_{kWatchdogPeriodSeconds * 1000};
std::atomic<int> TWatchDogThread::poll_ms_{kWatchdogPollMs};
std::atomic<std::uint64_t> TWatchDogThread::polls_{0};

std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TWatchDogThread::SetTiming(int period_ms, int poll_ms) {
  assert(period_ms > 0 && poll_ms > 0);
  period_ms_.store(period_ms);
  poll_ms_.store(poll_ms);
}

void TWatchDogThread::Execute() {
  while (!Terminated()) {
    const std::int64_t deadline = Deadline();
    const bool overrun = deadline > 0 && MonotonicMs() > deadline;
    polls_.fetch_add(1);
    if (overrun) break;
    // Sleep one poll interval in naps of at most 100 ms, so that Terminate
    // and a new poll interval are noticed soon.
    for (int slept = 0; slept < poll_ms_.load() && !Terminated();) {
      const int nap = std::min(100, poll_ms_.load() - slept);
      if (nap > 0) std::this_thread::sleep_for(std::chrono::milliseconds(nap));
      slept += std::max(nap, 1);
    }
  }
  if (Terminated()) return;
  // The request overran its deadline: end the process without running
  // destructors or exit handlers, which the stuck request thread may hold.
  // Its upload files would outlive it.
  RemoveUploadFilesOfThisProcess();
  ::_exit(kWatchdogExitCode);
}

}  // namespace cgi
