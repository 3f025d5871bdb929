// TDataFile: sharing a table between programs. Byte-range locks far beyond
// the data of the .DAT (semaphore, record locks, table lock), the index and
// BLOB files' write and read locks, and the change checks that make a
// cursor drop what it cached when another user wrote a file.
//
// Whatever a step takes it gives back when a later step fails (TakenLock,
// lock_guards.h): the write frame remembers what it took (WriteLocks)
// rather than trusting the section flags, which are set only once every
// lock is held.
#include <algorithm>
#include <cstdint>
#include <exception>

#include "storage/blob_file.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/lock_guards.h"
#include "storage/table_locks.h"

namespace storage {

void TDataFile::ResetLockState() {
  locked_records_.clear();
  record_lost_ = false;
  between_ = false;
  check_key_valid_ = check_followed_ = false;
  read_depth_ = 0;
  read_lock_taken_ = false;
  blob_read_depth_ = 0;
  blob_read_lock_taken_ = false;
  semaphore_locked_ = false;
  blob_write_locked_ = false;
  data_checked_ = false;
}

// ------------------------------------------------------------------ semaphore

bool TDataFile::LockSemaphore() {
  if (Exclusive() || ForcedReadOnly()) return true;
  int failures = 0;
  while (!LockRange(kSemaphoreByte, 1, true)) {
    if (++failures > kLockRetries) Fail(ErrorCode::kLockFailure);
    Delay(kLockRetryWaitMs);
  }
  semaphore_locked_ = true;
  return true;
}

void TDataFile::UnlockSemaphore() {
  if (Exclusive() || ForcedReadOnly()) return;
  header_checked_ = false;
  semaphore_locked_ = false;
  if (!LockRange(kSemaphoreByte, 1, false)) Fail(ErrorCode::kCannotUnlock);
}

// ------------------------------------------------------------------ records

bool TDataFile::LockRangeRetried(std::int64_t offset, std::int64_t length) {
  const auto attempt = [&] { return LockRange(offset, length, true); };
  if (attempt()) return true;
  for (unsigned waits = 0; waits < lock_retry_count_; ++waits)
    if (WaitForLock(lock_wait_time_, attempt)) return true;
  return false;
}

void TDataFile::LockRecord(std::uint32_t record_no) {
  if (!TakeRecordLock(record_no, true)) Fail(ErrorCode::kRecordInUse);
}

bool TDataFile::TryLockRecord(std::uint32_t record_no) { return TakeRecordLock(record_no, false); }

bool TDataFile::TakeRecordLock(std::uint32_t record_no, bool wait) {
  if (Exclusive() || ForcedReadOnly() || table_locked_) return true;
  // 0 without a current record stays 0: its byte lies above the table-lock
  // range and below the semaphore, so it guards nothing but another
  // cursor's lock of record 0.
  if (record_no == 0 && current_ != nullptr) record_no = current_->RecordNumber();
  if (std::find(locked_records_.begin(), locked_records_.end(), record_no) !=
      locked_records_.end())
    return true;
  // Room first, so that a lock once taken is always on the list.
  locked_records_.reserve(locked_records_.size() + 1);
  const std::int64_t byte = kRecordLockTop - std::int64_t{record_no};
  if (!(wait ? LockRangeRetried(byte, 1) : LockRange(byte, 1, true))) return false;
  locked_records_.push_back(record_no);
  return true;
}

void TDataFile::UnlockRecord(std::uint32_t record_no) {
  if (Exclusive() || ForcedReadOnly() || table_locked_) return;
  if (record_no == 0) {
    if (current_ != nullptr) {
      record_no = current_->RecordNumber();
    } else if (std::find(locked_records_.begin(), locked_records_.end(), 0u) ==
               locked_records_.end()) {
      return;  // no current record and no lock of record 0: nothing to release
    }
  }
  const auto it = std::find(locked_records_.begin(), locked_records_.end(), record_no);
  if (it != locked_records_.end()) locked_records_.erase(it);
  if (!LockRange(kRecordLockTop - std::int64_t{record_no}, 1, false))
    Fail(ErrorCode::kCannotUnlock);
}

void TDataFile::UnlockAllRecords() {
  // Every entry is a lock this handle holds (records above the table range
  // may be locked beside a table lock), so all go, table lock or not.
  if (Exclusive() || ForcedReadOnly()) {
    locked_records_.clear();
    return;
  }
  bool failed = false;
  while (!locked_records_.empty()) {
    const std::uint32_t n = locked_records_.back();
    locked_records_.pop_back();
    if (!LockRange(kRecordLockTop - std::int64_t{n}, 1, false)) failed = true;
  }
  if (failed) Fail(ErrorCode::kCannotUnlock);
}

// ------------------------------------------------------------------ table

void TDataFile::LockTable() {
  CheckNotFailed();
  if (Exclusive() || ForcedReadOnly() || table_locked_) return;
  if (!LockRangeRetried(kTableLockStart, kTableLockLength)) Fail(ErrorCode::kTableLocked);
  TakenLock lock([this] { LockRange(kTableLockStart, kTableLockLength, false); });
  const bool had_current = current_ != nullptr;
  const PlaceBeforeCheck before = BeforeChangeCheck();
  if (index_file_->IsOpen()) {
    // Outside this cursor's own sections the flag can only be stale.
    if (read_depth_ == 0 && !index_file_->IndexWriteLocked())
      index_file_->SetWriteLockHeld(false);
    index_file_->CheckIndexHeaderChanged();
  }
  CheckHeaderChanged();
  // Nobody else writes while the table lock is held: the view is made
  // current now, once.
  AfterChangeCheck(before);
  if (had_current && current_ == nullptr) RefreshCurrentRecord();
  if (header_.BlobCount() > 0) blob_file_->CheckBlobHeaderChanged();
  lock.Keep();
  table_locked_ = true;
}

void TDataFile::UnlockTable() {
  if (!table_locked_ || Exclusive() || ForcedReadOnly()) return;
  table_locked_ = false;
  if (!LockRange(kTableLockStart, kTableLockLength, false)) Fail(ErrorCode::kCannotUnlock);
}

// ------------------------------------------------------------------ read sections

void TDataFile::BeginReadSection() {
  CheckNotFailed();
  if (Exclusive() || ForcedReadOnly() || table_locked_ || !index_file_->IsOpen()) return;
  // Nested, or inside this cursor's write section: the lock held covers it.
  if (read_depth_ > 0 || index_file_->IndexWriteLocked()) {
    ++read_depth_;
    return;
  }
  const PlaceBeforeCheck before = BeforeChangeCheck();
  index_file_->LockIndexFileShared();
  TakenLock lock([this] {
    data_checked_ = false;
    index_file_->UnlockIndexFileShared();
  });
  // The flag can only be stale here (no lock of ours was held): the check
  // must run.
  index_file_->SetWriteLockHeld(false);
  index_file_->CheckIndexHeaderChanged();
  index_file_->SetWriteLockHeld(true);
  CheckHeaderChanged();
  data_checked_ = true;
  AfterChangeCheck(before);
  lock.Keep();
  read_depth_ = 1;
  read_lock_taken_ = true;
}

TDataFile::PlaceBeforeCheck TDataFile::BeforeChangeCheck() {
  check_key_valid_ = check_followed_ = false;
  PlaceBeforeCheck p;
  p.seen = changes_seen_;
  if (!index_file_->IsOpen()) return p;
  p.bof = CursorBof();
  p.eof = CursorEof();
  p.record = StoodOn();
  return p;
}

void TDataFile::AfterChangeCheck(const PlaceBeforeCheck& before) {
  // Another program's change (here, or found by an earlier check whose
  // rebuild did not run): the view is rebuilt before the operation uses
  // it, and the cursor goes back to its place: the one after the index
  // check (which found the record again by its key, or where its key
  // went), with the flags from before it. Nothing is done when both
  // counters stood still.
  if (!index_file_->IsOpen() || (!table_changed_ && changes_seen_ == before.seen)) return;
  CursorPlace place = SaveCursorPlace();
  // The key of the record stood on, at its old place: the one the index
  // check took before it looked for the record again, else (the index
  // did not change) the entry the cursor still stands on.
  const std::uint8_t* old_key = check_key_valid_ ? check_key_.data()
                                : place.on_record ? place.key.data()
                                                  : nullptr;
  place.bof = before.bof;
  place.eof = before.eof;
  RefreshRangeAndFilters();
  RepositionInView(place);
  NoteRecordLeft(before.record, old_key);
  check_key_valid_ = check_followed_ = false;
}

void TDataFile::EndReadSection() {
  if (read_depth_ == 0) return;
  if (--read_depth_ > 0) return;
  data_checked_ = false;
  if (!read_lock_taken_) return;
  read_lock_taken_ = false;
  index_file_->UnlockIndexFileShared();
}

void TDataFile::BeginBlobReadSection() {
  CheckNotFailed();
  if (Exclusive() || ForcedReadOnly() || table_locked_ || header_.BlobCount() == 0 ||
      blob_file_->LockFree())
    return;
  if (blob_read_depth_ > 0 || blob_file_->HeaderChecked()) {
    ++blob_read_depth_;
    return;
  }
  blob_file_->LockBlobFileShared();
  TakenLock lock([this] { blob_file_->UnlockBlobFileShared(); });
  blob_file_->CheckBlobHeaderChanged();
  blob_file_->SetHeaderChecked(true);
  lock.Keep();
  blob_read_depth_ = 1;
  blob_read_lock_taken_ = true;
}

void TDataFile::EndBlobReadSection() {
  if (blob_read_depth_ == 0) return;
  if (--blob_read_depth_ > 0) return;
  if (!blob_read_lock_taken_) return;
  blob_read_lock_taken_ = false;
  blob_file_->UnlockBlobFileShared();
}

// ------------------------------------------------------------------ write sections

void TDataFile::LockIndexForWrite() { index_file_->LockIndexFile(); }

void TDataFile::UnlockIndexForWrite() { index_file_->UnlockIndexFile(); }

void TDataFile::LockBlobForWrite() {
  if (!blob_file_->LockFree()) blob_file_->LockBlobFile();
}

void TDataFile::UnlockBlobForWrite() {
  if (!blob_file_->LockFree()) blob_file_->UnlockBlobFile();
}

void TDataFile::CheckHeadersForWrite() {
  const bool has_blob = header_.BlobCount() > 0 && !blob_file_->LockFree();
  if (table_locked_) {
    // Checked when the table lock was taken; nobody wrote since.
    header_checked_ = true;
    index_file_->SetWriteLockHeld(true);
    if (has_blob) blob_file_->SetHeaderChecked(true);
    return;
  }
  const bool had_current = current_ != nullptr;
  const PlaceBeforeCheck before = BeforeChangeCheck();
  index_file_->CheckIndexHeaderChanged();
  index_file_->SetWriteLockHeld(true);
  CheckHeaderChanged();
  header_checked_ = true;
  // The write acts on the current record: it must still be the one the
  // caller stood on (DeleteRecord and ModifyRecord refuse a lost record).
  AfterChangeCheck(before);
  if (had_current && current_ == nullptr) LoadCursorRecord(ReadDirection::kForward);
  if (has_blob) {
    blob_file_->CheckBlobHeaderChanged();
    blob_file_->SetHeaderChecked(true);
  }
}

void TDataFile::BeginWriteSection(WriteLocks& held) {
  CheckNotFailed();
  if (ReadOnly()) Fail(ErrorCode::kAccessDenied);
  // An exclusive table takes no lock and checks no header.
  if (Exclusive() || ForcedReadOnly()) return;
  const bool semaphore_before = semaphore_locked_;
  const bool index_before = index_file_->IndexWriteLocked();
  const bool blob_before = blob_write_locked_;
  // What this section took is read from the lock states themselves, so a
  // step that fails after its lock was granted still gets it released.
  auto note_taken = [&] {
    held.semaphore = held.semaphore || (!semaphore_before && semaphore_locked_);
    held.index = held.index || (!index_before && index_file_->IndexWriteLocked());
    held.blob = held.blob || (!blob_before && blob_write_locked_);
  };
  TakenLock taken([&] {
    note_taken();
    EndWriteSection(held);
  });
  // A read lock of this cursor's own would stand in the way of the write
  // lock over the same bytes: the write lock replaces it, and the read
  // section it belonged to ends without unlocking.
  if (read_lock_taken_) {
    read_lock_taken_ = false;
    data_checked_ = false;
    index_file_->UnlockIndexFileShared();
  }
  if (blob_read_lock_taken_) {
    blob_read_lock_taken_ = false;
    blob_file_->UnlockBlobFileShared();
  }
  if (!header_checked_ && !semaphore_locked_) LockSemaphore();
  if (!index_file_->IndexWriteLocked()) LockIndexForWrite();
  if (header_.BlobCount() > 0 && !blob_file_->LockFree() && !blob_write_locked_ &&
      !blob_file_->HeaderChecked())
    LockBlobForWrite();
  CheckHeadersForWrite();
  taken.Keep();
  note_taken();
}

void TDataFile::EndWriteSection(WriteLocks& held) {
  std::exception_ptr first;
  if (held.blob) {
    held.blob = false;
    KeepFirstError(first, [&] { UnlockBlobForWrite(); });
  }
  if (held.index) {
    held.index = false;
    KeepFirstError(first, [&] { UnlockIndexForWrite(); });
  }
  if (held.semaphore) {
    held.semaphore = false;
    KeepFirstError(first, [&] { UnlockSemaphore(); });
  }
  if (first) std::rethrow_exception(first);
}

}  // namespace storage
