#include <gtest/gtest.h>

#include "platform/ticks.h"

namespace platform {
namespace {

// Only a lower bound: the machine may be slow, never fast.
TEST(Ticks, SleepWaitsAtLeastTheTimeAsked) {
  const std::uint32_t start = GetTickCount();
  Sleep(30);
  EXPECT_GE(static_cast<std::uint32_t>(GetTickCount() - start), 30u);
  Sleep(0);
}

}  // namespace
}  // namespace platform
