// Scoped holds on a table's locks. Each guard gives back exactly what it
// took, on every path: a failure anywhere in the guarded code leaves no
// lock of the guard behind. Release() ends the hold early and raises the
// first unlock failure (10242) after every release was tried; the
// destructor does the same silently.
#pragma once

#include <cstdint>
#include <exception>

#include "storage/data_file.h"

namespace storage {

// The frame of an insert, modify or delete: semaphore, index write lock,
// BLOB write lock, change checks (TDataFile::BeginWriteSection); then,
// through LockRecord, the record lock of the record written. Released in
// reverse: record lock, BLOB, index, semaphore.
class WriteSectionGuard {
 public:
  explicit WriteSectionGuard(TDataFile& file) : file_(file) { file_.BeginWriteSection(held_); }
  ~WriteSectionGuard() {
    try {
      Release();
    } catch (...) {
      // Everything was still released; the error is lost with the unwind.
    }
  }
  WriteSectionGuard(const WriteSectionGuard&) = delete;
  WriteSectionGuard& operator=(const WriteSectionGuard&) = delete;

  // The record lock of the record being written (0: the current record).
  // Released with the section unless this cursor held it before (an edit's
  // lock stays with the edit).
  void LockRecord(std::uint32_t record_no) {
    const std::size_t before = file_.LockedRecords().size();
    try {
      file_.LockRecord(record_no);
    } catch (...) {
      // A lock granted before the failure is not left behind.
      if (file_.LockedRecords().size() > before) {
        try {
          file_.UnlockRecord(file_.LockedRecords().back());
        } catch (...) {
          // The first failure is the one to report.
        }
      }
      throw;
    }
    if (file_.LockedRecords().size() > before) {
      record_ = file_.LockedRecords().back();
      record_taken_ = true;
    }
  }
  // Keeps the record lock beyond the section (nothing else).
  void KeepRecordLock() { record_taken_ = false; }

  void Release() {
    std::exception_ptr first;
    if (record_taken_) {
      record_taken_ = false;
      try {
        file_.UnlockRecord(record_);
      } catch (...) {
        first = std::current_exception();
      }
    }
    try {
      file_.EndWriteSection(held_);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    if (first) std::rethrow_exception(first);
  }

 private:
  TDataFile& file_;
  TDataFile::WriteLocks held_;
  std::uint32_t record_ = 0;
  bool record_taken_ = false;
};

// A read operation's index read lock and change check.
class ReadSectionGuard {
 public:
  explicit ReadSectionGuard(TDataFile& file) : file_(file) {
    file_.BeginReadSection();
    active_ = true;
  }
  ~ReadSectionGuard() {
    try {
      Release();
    } catch (...) {
      // Released all the same.
    }
  }
  ReadSectionGuard(const ReadSectionGuard&) = delete;
  ReadSectionGuard& operator=(const ReadSectionGuard&) = delete;
  void Release() {
    if (!active_) return;
    active_ = false;
    file_.EndReadSection();
  }

 private:
  TDataFile& file_;
  bool active_ = false;
};

// Opening a BLOB field: the BLOB file's read lock and change check.
class BlobReadSectionGuard {
 public:
  explicit BlobReadSectionGuard(TDataFile& file) : file_(file) {
    file_.BeginBlobReadSection();
    active_ = true;
  }
  ~BlobReadSectionGuard() {
    try {
      Release();
    } catch (...) {
      // Released all the same.
    }
  }
  BlobReadSectionGuard(const BlobReadSectionGuard&) = delete;
  BlobReadSectionGuard& operator=(const BlobReadSectionGuard&) = delete;
  void Release() {
    if (!active_) return;
    active_ = false;
    file_.EndBlobReadSection();
  }

 private:
  TDataFile& file_;
  bool active_ = false;
};

// A table lock for the length of a scope (SQL WITH LOCKS); one the cursor
// held already is left alone.
class TableLockGuard {
 public:
  explicit TableLockGuard(TDataFile& file) : file_(file) {
    const bool before = file_.TableLocked();
    file_.LockTable();
    taken_ = !before && file_.TableLocked();
  }
  ~TableLockGuard() {
    try {
      Release();
    } catch (...) {
      // Released all the same.
    }
  }
  TableLockGuard(const TableLockGuard&) = delete;
  TableLockGuard& operator=(const TableLockGuard&) = delete;
  void Release() {
    if (!taken_) return;
    taken_ = false;
    file_.UnlockTable();
  }

 private:
  TDataFile& file_;
  bool taken_ = false;
};

}  // namespace storage
