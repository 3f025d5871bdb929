// Scoped holds on a table's locks, as LevelDB's MutexLock holds a mutex:
// every lock a cursor takes is held by one of these, so a failure anywhere
// in the guarded code leaves no lock of the guard behind. Each guard gives
// back exactly what it took (a lock the cursor held already stays held).
// Release() ends the hold early and raises the first unlock failure
// (10242) after every release was tried; the destructor does the same
// silently. Guards are movable, not copyable; a moved-from guard holds
// nothing.
//
// Lock order (and the order the guards are nested in): table lock; the
// record lock of the record stood on (an edit's, held until its post or
// cancel, or a delete's: RecordLockGuard), or of a new slot an insert had
// to wait for; semaphore, index write lock, BLOB write lock; the record
// lock of a new slot (an insert's), tried once without a wait. Read
// sections take only the index (or BLOB) read lock. Nobody waits for a
// record lock another user may hold while holding an index lock: that
// user's post, or the read that lets the user give the lock up, needs the
// index, and both would wait until the waiter's retries ran out (10258).
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "storage/data_file.h"

namespace storage {

// One record lock (TDataFile::LockRecord) for the length of a scope. Gives
// back only a lock it took: one the cursor held before (an edit's) stays
// held. Keep() leaves the lock with the cursor.
class RecordLockGuard {
 public:
  RecordLockGuard() = default;
  // 0: the current record. Raises what LockRecord raises (10258).
  RecordLockGuard(TDataFile& file, std::uint32_t record_no) {
    const std::size_t before = file.LockedRecords().size();
    try {
      file.LockRecord(record_no);
    } catch (...) {
      // A lock granted before the failure is not left behind.
      if (file.LockedRecords().size() > before) {
        try {
          file.UnlockRecord(file.LockedRecords().back());
        } catch (...) {
          // The first failure is the one to report.
        }
      }
      throw;
    }
    held_ = true;
    if (file.LockedRecords().size() > before) {
      file_ = &file;
      record_ = file.LockedRecords().back();
    }
  }
  // One attempt, no wait (TDataFile::TryLockRecord); Held() tells.
  enum TryTag { kTry };
  RecordLockGuard(TDataFile& file, std::uint32_t record_no, TryTag) {
    const std::size_t before = file.LockedRecords().size();
    held_ = file.TryLockRecord(record_no);
    if (file.LockedRecords().size() > before) {
      file_ = &file;
      record_ = file.LockedRecords().back();
    }
  }
  ~RecordLockGuard() {
    try {
      Release();
    } catch (...) {
      // Released all the same (the lock list no longer names it).
    }
  }
  RecordLockGuard(const RecordLockGuard&) = delete;
  RecordLockGuard& operator=(const RecordLockGuard&) = delete;
  RecordLockGuard(RecordLockGuard&& other) noexcept
      : file_(std::exchange(other.file_, nullptr)), record_(other.record_), held_(other.held_) {}
  RecordLockGuard& operator=(RecordLockGuard&& other) noexcept {
    if (this != &other) {
      try {
        Release();
      } catch (...) {
        // As in the destructor.
      }
      file_ = std::exchange(other.file_, nullptr);
      record_ = other.record_;
      held_ = other.held_;
    }
    return *this;
  }

  void Keep() { file_ = nullptr; }
  // The record is locked for this cursor (by this guard or before it).
  [[nodiscard]] bool Held() const { return held_; }
  // Gives the lock back now; 10242 when the unlock fails.
  void Release() {
    if (file_ != nullptr) std::exchange(file_, nullptr)->UnlockRecord(record_);
  }

 private:
  TDataFile* file_ = nullptr;
  std::uint32_t record_ = 0;
  bool held_ = false;
};

// The frame of an insert, modify or delete: semaphore, index write lock,
// BLOB write lock, change checks (TDataFile::BeginWriteSection); then,
// through LockRecord, the record lock of the record written. Released in
// reverse: record lock, BLOB, index, semaphore.
class WriteSectionGuard {
 public:
  explicit WriteSectionGuard(TDataFile& file) : file_(&file) { file.BeginWriteSection(held_); }
  ~WriteSectionGuard() {
    try {
      Release();
    } catch (...) {
      // Everything was still released; the error is lost with the unwind.
    }
  }
  WriteSectionGuard(const WriteSectionGuard&) = delete;
  WriteSectionGuard& operator=(const WriteSectionGuard&) = delete;
  WriteSectionGuard(WriteSectionGuard&& other) noexcept
      : file_(std::exchange(other.file_, nullptr)),
        held_(other.held_),
        record_(std::move(other.record_)) {}
  WriteSectionGuard& operator=(WriteSectionGuard&&) = delete;

  // The record lock of the record being written (0: the current record).
  // Released with the section unless this cursor held it before (an edit's
  // lock stays with the edit).
  void LockRecord(std::uint32_t record_no) { record_ = RecordLockGuard(*file_, record_no); }
  // The same with one attempt and no wait (TDataFile::TryLockRecord):
  // false, and nothing held, when another user holds the lock.
  bool TryLockRecord(std::uint32_t record_no) {
    RecordLockGuard lock(*file_, record_no, RecordLockGuard::kTry);
    if (!lock.Held()) return false;
    record_ = std::move(lock);
    return true;
  }
  // A record lock waited for before the section: released with it.
  void AdoptRecordLock(RecordLockGuard&& lock) { record_ = std::move(lock); }
  // Keeps the record lock beyond the section (nothing else).
  void KeepRecordLock() { record_.Keep(); }

  void Release() {
    if (file_ == nullptr) return;
    TDataFile& file = *std::exchange(file_, nullptr);
    std::exception_ptr first;
    KeepFirstError(first, [&] { record_.Release(); });
    KeepFirstError(first, [&] { file.EndWriteSection(held_); });
    if (first) std::rethrow_exception(first);
  }

 private:
  TDataFile* file_;
  TDataFile::WriteLocks held_;
  RecordLockGuard record_;
};

// What the guards below share: the cursor whose hold is given back by
// kRelease, none once released or moved from.
template <void (TDataFile::*kRelease)()>
class TableHold {
 public:
  TableHold() = default;
  ~TableHold() {
    try {
      Release();
    } catch (...) {
      // Released all the same.
    }
  }
  TableHold(const TableHold&) = delete;
  TableHold& operator=(const TableHold&) = delete;
  TableHold(TableHold&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
  TableHold& operator=(TableHold&&) = delete;
  void Release() {
    if (file_ != nullptr) (std::exchange(file_, nullptr)->*kRelease)();
  }

 protected:
  TDataFile* file_ = nullptr;
};

// A read operation's index read lock and change check
// (TDataFile::BeginReadSection); nested sections take nothing more.
class ReadSectionGuard : public TableHold<&TDataFile::EndReadSection> {
 public:
  explicit ReadSectionGuard(TDataFile& file) {
    file.BeginReadSection();
    file_ = &file;
  }
};

// Opening a BLOB field: the BLOB file's read lock and change check.
class BlobReadSectionGuard : public TableHold<&TDataFile::EndBlobReadSection> {
 public:
  explicit BlobReadSectionGuard(TDataFile& file) {
    file.BeginBlobReadSection();
    file_ = &file;
  }
};

// A table lock for the length of a scope (SQL WITH LOCKS); one the cursor
// held already is left alone.
class TableLockGuard : public TableHold<&TDataFile::UnlockTable> {
 public:
  explicit TableLockGuard(TDataFile& file) {
    const bool before = file.TableLocked();
    file.LockTable();
    if (!before && file.TableLocked()) file_ = &file;
  }
};

// Inside a lock primitive: a lock it has just taken, given back by unlock
// when a later step of the primitive fails, kept for the caller once
// Keep() is called. An unlock failure during the unwind is dropped: the
// step's error is the one to report.
template <class Unlock>
class TakenLock {
 public:
  explicit TakenLock(Unlock unlock) : unlock_(std::move(unlock)) {}
  ~TakenLock() {
    if (kept_) return;
    try {
      unlock_();
    } catch (...) {
    }
  }
  TakenLock(const TakenLock&) = delete;
  TakenLock& operator=(const TakenLock&) = delete;
  void Keep() { kept_ = true; }

 private:
  Unlock unlock_;
  bool kept_ = false;
};

}  // namespace storage
