// Byte-range locks between handles and between processes.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/platform/test_util.h"

namespace platform {
namespace {

using platform_test::Child;
using platform_test::KernelLock;
using platform_test::KernelLocks;
using platform_test::KernelLocksSettled;
using platform_test::ScratchDir;

constexpr std::uint64_t kSemaphore = 0x7FFFFFFF;
constexpr std::uint64_t kRecord1 = 0x7FFFFFFD;  // 0x7FFFFFFE - 1
constexpr std::uint64_t kTableLock = 2047483646;
constexpr std::uint64_t kTableLength = 100000000;
constexpr std::uint64_t kOpen = kReservedLockBase;

std::string Err(std::uint32_t code) { return "err " + std::to_string(code); }

class LockTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    platform_test::WriteFileBytes(path_, "0123456789");
    // With the parameter set, read handles run on O_RDONLY descriptors (the
    // read-lock-then-probe path), as a non-root user on a read-only file.
    internal::SetPreferReadOnlyDescriptors(GetParam());
    if (GetParam()) {
      EXPECT_EQ(child_.Do("ro"), "ok");
    }
  }
  void TearDown() override { internal::SetPreferReadOnlyDescriptors(false); }
  Access access() const { return GetParam() ? Access::Read : Access::ReadWrite; }
  std::string acc() const { return GetParam() ? "r" : "rw"; }

  ScratchDir dir_;
  std::string path_ = dir_ / "T.DAT";
  Child child_;
};

TEST_P(LockTest, ConflictsBetweenProcessesBothWays) {
  File f;
  ASSERT_TRUE(f.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_EQ(child_.Do("open 0 " + path_ + " " + acc() + " rw existing"), "ok");

  ASSERT_TRUE(f.LockFile(kSemaphore, 1));
  EXPECT_EQ(child_.Do("lock 0 2147483647 1"), Err(ERROR_LOCK_VIOLATION));
  // The table lock ends at 0x7FFFFFFD and does not reach the semaphore.
  EXPECT_EQ(child_.Do("lock 0 2047483646 100000000"), "ok");
  EXPECT_FALSE(f.LockFile(kRecord1, 1));  // record 1 is under the table lock
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(f.LockFile(kRecord1 + 1, 1));  // record 0's byte is not
  EXPECT_FALSE(f.LockFile(kTableLock, 1));
  EXPECT_TRUE(f.LockFile(kTableLock - 1, 1));  // the byte before it is free

  EXPECT_EQ(child_.Do("unlock 0 2047483646 100000000"), "ok");
  EXPECT_TRUE(f.LockFile(kRecord1, 1));
  ASSERT_TRUE(f.UnlockFile(kSemaphore, 1));
  EXPECT_EQ(child_.Do("lock 0 2147483647 1"), "ok");
}

TEST_P(LockTest, KernelSeesExactRanges) {
  File f;
  ASSERT_TRUE(f.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_EQ(child_.Do("open 0 " + path_ + " " + acc() + " rw existing"), "ok");
  ASSERT_TRUE(f.LockFile(kSemaphore, 1));
  ASSERT_TRUE(f.LockFile(100, 10));
  ASSERT_EQ(child_.Do("lock 0 2047483646 100000000"), "ok");
  ASSERT_EQ(child_.Do("lock 0 4294967296 7"), "ok");  // past 2^32

  const std::string w = GetParam() ? "READ" : "WRITE";
  const std::vector<KernelLock> want = {
      {w, 100, 109},
      {w, kTableLock, kTableLock + kTableLength - 1},
      {w, kSemaphore, kSemaphore},
      {w, 4294967296, 4294967302},
      {"READ", kOpen, kOpen},  // one shared-open lock per handle
      {"READ", kOpen, kOpen},
  };
  auto sorted = want;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(KernelLocksSettled(path_, sorted), sorted);

  ASSERT_TRUE(f.UnlockFile(100, 10));
  ASSERT_EQ(child_.Do("close 0"), "ok");
  std::vector<KernelLock> left = {{w, kSemaphore, kSemaphore}, {"READ", kOpen, kOpen}};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(KernelLocksSettled(path_, left), left);
  f.Close();
  EXPECT_TRUE(KernelLocksSettled(path_, {}).empty());
}

TEST_P(LockTest, KilledChildReleasesEverything) {
  ASSERT_EQ(child_.Do("open 0 " + path_ + " " + acc() + " rw existing"), "ok");
  ASSERT_EQ(child_.Do("lock 0 2147483647 1"), "ok");
  ASSERT_EQ(child_.Do("lock 0 5 5"), "ok");
  File f;
  ASSERT_TRUE(f.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FALSE(f.LockFile(kSemaphore, 1));
  EXPECT_FALSE(f.LockFile(0, 6));
  child_.Kill();
  EXPECT_TRUE(f.LockFile(kSemaphore, 1));
  EXPECT_TRUE(f.LockFile(0, 6));
}

TEST_P(LockTest, TwoHandlesInOneProcessConflict) {
  File a, b;
  ASSERT_TRUE(a.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_TRUE(b.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_TRUE(a.LockFile(kSemaphore - 7, 1));
  EXPECT_FALSE(b.LockFile(kSemaphore - 7, 1));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_FALSE(b.LockFile(kSemaphore - 10, 5));
  // Closing b (which holds nothing there) must not drop a's lock, as a
  // per-process lock would.
  ASSERT_TRUE(b.LockFile(0, 1));
  b.Close();
  ASSERT_TRUE(b.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FALSE(b.LockFile(kSemaphore - 7, 1));
  a.Close();
  EXPECT_TRUE(b.LockFile(kSemaphore - 7, 1));
}

TEST_P(LockTest, SameHandleRulesAndExactUnlock) {
  File f;
  ASSERT_TRUE(f.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_TRUE(f.LockFile(1000, 100));
  struct Case {
    bool lock;
    std::uint64_t offset, length;
    bool ok;
    std::uint32_t error;
  } cases[] = {
      {true, 1000, 100, false, ERROR_LOCK_VIOLATION},   // the same range again
      {true, 1099, 1, false, ERROR_LOCK_VIOLATION},     // last byte
      {true, 900, 101, false, ERROR_LOCK_VIOLATION},    // reaches the first byte
      {true, 1050, 1, false, ERROR_LOCK_VIOLATION},     // inside
      {true, 900, 100, true, 0},                        // just before: fine
      {true, 1100, 1, true, 0},                         // just after: fine
      {false, 1000, 99, false, ERROR_NOT_LOCKED},       // not the exact range
      {false, 1001, 99, false, ERROR_NOT_LOCKED},
      {false, 900, 201, false, ERROR_NOT_LOCKED},       // spans three held ranges
      {false, 5000, 1, false, ERROR_NOT_LOCKED},        // never held
      {false, 1000, 100, true, 0},
      {false, 1000, 100, false, ERROR_NOT_LOCKED},      // already released
      {true, 1000, 0, false, ERROR_INVALID_PARAMETER},  // empty range
      {true, kReservedLockBase - 1, 2, false, ERROR_INVALID_PARAMETER},
      {true, ~0ull - 1, 5, false, ERROR_INVALID_PARAMETER},
      {true, kReservedLockBase - 1, 1, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
    SetLastError(0);
    const bool ok = c.lock ? f.LockFile(c.offset, c.length) : f.UnlockFile(c.offset, c.length);
    EXPECT_EQ(ok, c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  // Neighbours of a released range stay locked in the kernel.
  ASSERT_EQ(child_.Do("open 0 " + path_ + " " + acc() + " rw existing"), "ok");
  EXPECT_EQ(child_.Do("lock 0 1000 100"), "ok");
  EXPECT_EQ(child_.Do("lock 0 999 1"), Err(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(child_.Do("lock 0 1100 1"), Err(ERROR_LOCK_VIOLATION));
}

TEST_P(LockTest, LocksNearTwoToThe31AndBeyondEndOfFile) {
  File f;
  ASSERT_TRUE(f.Open(path_, access(), Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_EQ(child_.Do("open 0 " + path_ + " " + acc() + " rw existing"), "ok");
  // The index write lock and the read-lock bytes it covers.
  ASSERT_TRUE(f.LockFile(0x7FFF0000, 65535));
  for (std::uint64_t r : {1ull, 2ull, 65534ull}) {
    EXPECT_EQ(child_.Do("lock 0 " + std::to_string(0x7FFFFFFF - r) + " 1"), Err(ERROR_LOCK_VIOLATION));
  }
  EXPECT_EQ(child_.Do("lock 0 2147483647 1"), "ok");  // 0x7FFFFFFF is outside
  EXPECT_EQ(child_.Do("lock 0 2147483648 1"), "ok");  // 2^31
  EXPECT_EQ(child_.Do("lock 0 4294967295 2"), "ok");  // across 2^32
  EXPECT_FALSE(f.LockFile(0xFFFFFFFFull, 1));
  EXPECT_EQ(f.Size(), 10);  // locks do not grow the file
}

INSTANTIATE_TEST_SUITE_P(Descriptors, LockTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ReadOnlyFd" : "ReadWriteFd"; });

TEST(LockMixed, ReadOnlyAndWritableDescriptorsExcludeEachOther) {
  ScratchDir dir;
  const std::string path = dir / "m.dat";
  platform_test::WriteFileBytes(path, "x");
  Child ro;
  ASSERT_EQ(ro.Do("ro"), "ok");
  ASSERT_EQ(ro.Do("open 0 " + path + " r rw existing"), "ok");
  ASSERT_EQ(ro.Do("open 1 " + path + " r rw existing"), "ok");
  File rw;
  ASSERT_TRUE(rw.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_EQ(ro.Do("lock 0 10 1"), "ok");
  EXPECT_EQ(ro.Do("lock 1 10 1"), Err(ERROR_LOCK_VIOLATION));  // two read-only fds
  EXPECT_FALSE(rw.LockFile(10, 1));
  ASSERT_TRUE(rw.LockFile(20, 1));
  EXPECT_EQ(ro.Do("lock 0 20 1"), Err(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(ro.Do("lock 1 15 10"), Err(ERROR_LOCK_VIOLATION));
  // A failed attempt leaves nothing behind.
  EXPECT_TRUE(rw.UnlockFile(20, 1));
  EXPECT_EQ(ro.Do("lock 1 15 10"), "ok");
}

}  // namespace
}  // namespace platform
