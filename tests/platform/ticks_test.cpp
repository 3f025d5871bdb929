#include <gtest/gtest.h>

#include "platform/ticks.h"

namespace platform {
namespace {

// Two milliseconds, so that a unit slip (microseconds for milliseconds)
// shows: the tick count moves on by at least two.
TEST(Ticks, SleepWaitsAtLeastTheTimeAsked) {
  const std::uint32_t start = GetTickCount();
  Sleep(2);
  EXPECT_GE(static_cast<std::uint32_t>(GetTickCount() - start), 2u);
  Sleep(0);
}

}  // namespace
}  // namespace platform
