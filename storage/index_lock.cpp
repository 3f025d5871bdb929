// TIndexFile: its write and read locks. Readers each lock one random byte
// inside the writer's range, so readers pass each other and one writer
// keeps every reader out.
#include <cstdint>

#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/table_locks.h"

namespace storage {

void TIndexFile::LockIndexFile() {
  if (!TakeFileWriteLock(*this)) IndexStore::Fail(ErrorCode::kLockFailure);
  write_locked_ = !Exclusive();
}

void TIndexFile::UnlockIndexFile() {
  if (Exclusive() || ForcedReadOnly()) return;
  const bool was_locked = write_locked_;
  write_locked_ = false;
  SetWriteLockHeld(false);
  if (!ReleaseFileWriteLock(*this) || !was_locked) IndexStore::Fail(ErrorCode::kCannotUnlock);
}

void TIndexFile::LockIndexFileShared() {
  const std::uint16_t r = TakeFileReadLock(*this);
  if (r == 0) IndexStore::Fail(ErrorCode::kLockFailure);
  read_lock_offset_ = Exclusive() ? 0 : r;
}

void TIndexFile::UnlockIndexFileShared() {
  if (Exclusive() || ForcedReadOnly()) return;
  const std::uint16_t r = read_lock_offset_;
  read_lock_offset_ = 0;
  SetWriteLockHeld(false);
  if (!ReleaseFileReadLock(*this, r)) IndexStore::Fail(ErrorCode::kCannotUnlock);
}

}  // namespace storage
