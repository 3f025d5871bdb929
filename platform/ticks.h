// Millisecond ticks and sleeping.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start (monotonic), wrapping at 2^32 like
// GetTickCount.
std::uint32_t GetTickCount();
// Sleeps at least ms milliseconds.
void Sleep(std::uint32_t ms);

}  // namespace platform
