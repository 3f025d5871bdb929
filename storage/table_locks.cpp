#include "storage/table_locks.h"

#include <random>

#include "platform/ticks.h"
#include "storage/file_handler.h"

namespace storage {
namespace {

// r in 1..65534: a draw over 0..65534 with 0 replaced by 1.
std::uint16_t DrawReadByte() {
  thread_local std::minstd_rand rng{std::random_device{}()};
  const auto r = static_cast<std::uint16_t>(rng() % 65535);
  return r == 0 ? std::uint16_t{1} : r;
}

}  // namespace

bool TakeFileWriteLock(TFileHandler& file) {
  for (int failures = 0; !file.LockRange(kFileWriteLockStart, kFileWriteLockLength, true);) {
    if (++failures > kLockRetries) return false;
    platform::Sleep(kLockRetryWaitMs);
  }
  return true;
}

std::uint16_t TakeFileReadLock(TFileHandler& file) {
  std::uint16_t r = DrawReadByte();
  for (int failures = 0; !file.LockRange(kFileReadLockTop - r, 1, true);) {
    if (++failures > kLockRetries) return 0;
    r = DrawReadByte();
    platform::Sleep(kLockRetryWaitMs);
  }
  return r;
}

bool ReleaseFileWriteLock(TFileHandler& file) {
  return file.LockRange(kFileWriteLockStart, kFileWriteLockLength, false);
}

bool ReleaseFileReadLock(TFileHandler& file, std::uint16_t r) {
  return r != 0 && file.LockRange(kFileReadLockTop - r, 1, false);
}

void Delay(std::uint32_t ms) {
  // Elapsed time summed from unsigned tick differences: correct across the
  // 2^32 wrap of the tick count, and able to pass even ms = 0xFFFFFFFF.
  std::uint32_t last = platform::GetTickCount();
  std::uint64_t elapsed = 0;
  if (ms > 0) platform::Sleep(ms);
  for (;;) {
    std::uint32_t now = platform::GetTickCount();
    elapsed += static_cast<std::uint32_t>(now - last);
    last = now;
    if (elapsed > ms) return;
    platform::Sleep(1);
  }
}

bool WaitForLock(std::uint32_t ms, const std::function<bool()>& try_lock) {
  // Elapsed time summed as in Delay.
  std::uint32_t last = platform::GetTickCount();
  std::uint64_t elapsed = 0;
  for (;;) {
    platform::Sleep(kLockPollMs);
    const std::uint32_t now = platform::GetTickCount();
    elapsed += static_cast<std::uint32_t>(now - last);
    last = now;
    if (try_lock()) return true;
    if (elapsed > ms) return false;
  }
}

}  // namespace storage
