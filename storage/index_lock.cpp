// TIndexFile: its write and read locks. Readers each lock one random byte
// inside the writer's range, so readers pass each other and one writer
// keeps every reader out.
#include <cstdint>
#include <random>

#include "platform/ticks.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"

namespace storage {
namespace {

constexpr std::int64_t kWriteLockStart = 0x7FFF0000;
constexpr std::int64_t kWriteLockLength = 65535;
constexpr std::int64_t kReadLockTop = 0x7FFFFFFF;
constexpr int kLockRetries = 8192;
constexpr std::uint32_t kLockWaitMs = 10;

// r in 1..65534: a draw over 0..65534 with 0 replaced by 1.
std::uint16_t DrawReadByte() {
  thread_local std::minstd_rand rng{std::random_device{}()};
  const auto r = static_cast<std::uint16_t>(rng() % 65535);
  return r == 0 ? std::uint16_t{1} : r;
}

}  // namespace

void TIndexFile::LockIndexFile() {
  int failures = 0;
  while (!LockRange(kWriteLockStart, kWriteLockLength, true)) {
    if (++failures > kLockRetries) IndexStore::Fail(ErrorCode::kLockFailure);
    platform::Sleep(kLockWaitMs);
  }
  write_locked_ = !Exclusive();
}

void TIndexFile::UnlockIndexFile() {
  if (Exclusive() || ForcedReadOnly()) return;
  const bool was_locked = write_locked_;
  write_locked_ = false;
  SetWriteLockHeld(false);
  if (!LockRange(kWriteLockStart, kWriteLockLength, false) || !was_locked)
    IndexStore::Fail(ErrorCode::kCannotUnlock);
}

void TIndexFile::LockIndexFileShared() {
  std::uint16_t r = DrawReadByte();
  int failures = 0;
  while (!LockRange(kReadLockTop - r, 1, true)) {
    if (++failures > kLockRetries) IndexStore::Fail(ErrorCode::kLockFailure);
    r = DrawReadByte();
    platform::Sleep(kLockWaitMs);
  }
  read_lock_offset_ = Exclusive() ? 0 : r;
}

void TIndexFile::UnlockIndexFileShared() {
  if (Exclusive() || ForcedReadOnly()) return;
  const std::uint16_t r = read_lock_offset_;
  read_lock_offset_ = 0;
  SetWriteLockHeld(false);
  if (r == 0 || !LockRange(kReadLockTop - r, 1, false)) IndexStore::Fail(ErrorCode::kCannotUnlock);
}

}  // namespace storage
