#include "platform/ticks.h"

#include <cerrno>
#include <ctime>
#include <sched.h>

namespace platform {

std::uint32_t GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // wraps about every 49.7 days
}

void Sleep(std::uint32_t ms) {
  if (ms == 0) {
    sched_yield();  // Sleep(0) gives up the rest of the time slice
    return;
  }
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

}  // namespace platform
