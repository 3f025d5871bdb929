// The byte ranges by which programs (and cursors: each holds its own
// handle) share a table's three files. This is the one statement of them.
// None of these bytes exist in the files; only the locks matter. Offsets
// are absolute byte offsets in the file named, lengths in bytes.
//
//   LOCK          FILE         OFFSET                         LENGTH
//   semaphore     .DAT         0x7FFFFFFF                     1
//   record n      .DAT         0x7FFFFFFE - n                 1
//   table lock    .DAT         2047483646 (0x7A0A1EFE)        100000000
//   write lock    .IDX, .BLB   0x7FFF0000                     65535
//   read lock     .IDX, .BLB   0x7FFFFFFF - r, r in 1..65534  1
//
// Invariants the protocol rests on (asserted below):
//  (1) the table lock covers exactly the record-lock bytes of records 1 to
//      100000000 (its last byte is record 1's), so a table lock and another
//      user's record lock exclude each other; it does not cover the
//      semaphore, nor the byte of "record 0" just above it;
//  (2) the write lock of an index or BLOB file covers every read-lock byte,
//      so one writer excludes all readers, while readers (each on a byte
//      drawn at random) do not exclude each other.
//
// Who takes which, in which order, and how long a caller waits: data_file.h
// (the data file's locks and the write frame), index_file.h, blob_file.h;
// the guards that hold them: lock_guards.h.
#pragma once

#include <cstdint>
#include <functional>

namespace storage {

class TFileHandler;

constexpr std::int64_t kSemaphoreByte = 0x7FFFFFFF;
constexpr std::int64_t kRecordLockTop = 0x7FFFFFFE;  // record n: this - n
constexpr std::int64_t kTableLockStart = 2047483646;
constexpr std::int64_t kTableLockLength = 100000000;
constexpr std::int64_t kFileWriteLockStart = 0x7FFF0000;
constexpr std::int64_t kFileWriteLockLength = 65535;
constexpr std::int64_t kFileReadLockTop = 0x7FFFFFFF;  // read byte r: this - r

static_assert(kTableLockStart == kRecordLockTop - kTableLockLength &&
                  kTableLockStart + kTableLockLength - 1 == kRecordLockTop - 1,
              "invariant (1): records 100000000 down to 1");
static_assert(kFileWriteLockStart <= kFileReadLockTop - 65534 &&
                  kFileWriteLockStart + kFileWriteLockLength - 1 >= kFileReadLockTop - 1,
              "invariant (2): every read byte");

// The semaphore and the index and BLOB locks are tried every 10 ms, 8192
// times at most (about 82 s), then 10249.
constexpr int kLockRetries = 8192;
constexpr std::uint32_t kLockRetryWaitMs = 10;

// The wait between two attempts of a lock (and of a shared open that met
// half-written headers): until more than ms milliseconds have passed on
// the tick count. Sleeps for the bulk and polls the tick count for the
// rest.
void Delay(std::uint32_t ms);

// One wait of the record and table lock rule (data_file.h): as long as
// Delay(ms), but the lock is tried every kLockPollMs meanwhile and once
// at the end; true as soon as try_lock takes it. A holder that gives the
// lock up and takes it again a moment later (one program posting edit
// after edit of one record) leaves it free only for microseconds: a waiter
// that looked once per wait would nearly never see it free and would run
// out of retries while the holder went on.
constexpr std::uint32_t kLockPollMs = 1;
[[nodiscard]] bool WaitForLock(std::uint32_t ms, const std::function<bool()>& try_lock);

// The index and BLOB files' write and read locks, one protocol for both.
// A failed attempt waits kLockRetryWaitMs (a sleep) and tries again.
// False when the write lock was not had after kLockRetries attempts.
[[nodiscard]] bool TakeFileWriteLock(TFileHandler& file);
// The read byte's r, drawn anew for each attempt; 0 when no attempt
// succeeded.
[[nodiscard]] std::uint16_t TakeFileReadLock(TFileHandler& file);
// False when the unlock failed.
[[nodiscard]] bool ReleaseFileWriteLock(TFileHandler& file);
[[nodiscard]] bool ReleaseFileReadLock(TFileHandler& file, std::uint16_t r);

}  // namespace storage
