// Byte-range locks of four handles, two here and two in a second process,
// under random locks, unlocks and re-opens against a model (a lock fails
// on any overlap with a range any handle holds, an unlock must name a held
// range exactly, a close drops only its handle's ranges), and against the
// ranges the kernel lists in /proc/locks.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "platform/file.h"
#include "tests/common/proc_locks.h"
#include "tests/common/scratch_dir.h"
#include "tests/platform/file_peer.h"

namespace platform {
namespace {

using testsupport::KernelLock;

constexpr std::uint64_t kSemaphore = 0x7FFFFFFF, kRecord1 = 0x7FFFFFFD, kTableLock = 2047483646;
constexpr std::uint64_t kTableLength = 100000000, kRes = kReservedLockBase;

// The descriptors' kinds: read-only here, read-only in the other process.
class LockTest : public ::testing::TestWithParam<std::pair<bool, bool>> {
 protected:
  void SetUp() override {
    testsupport::WriteFile(path_, "0123456789");
    internal::SetPreferReadOnlyDescriptors(GetParam().first);
    if (GetParam().second) { EXPECT_EQ(child_.Do("ro"), "ok"); }
  }
  void TearDown() override { internal::SetPreferReadOnlyDescriptors(false); }
  bool ReadOnly(int h) const { return h < 2 ? GetParam().first : GetParam().second; }
  std::string Open(int h) {
    if (h >= 2)
      return child_.Do("open " + std::to_string(h - 2) + " " + path_ + (ReadOnly(h) ? " r" : " rw") + " rw existing");
    return mine_[h].Open(path_, ReadOnly(h) ? Access::Read : Access::ReadWrite, Share::ReadWrite,
                         Disposition::OpenExisting)
               ? "ok"
               : Err(GetLastError());
  }
  std::string Lock(int h, bool lock, std::uint64_t off, std::uint64_t len) {
    if (h >= 2)
      return child_.Do((lock ? "lock " : "unlock ") + std::to_string(h - 2) + " " + std::to_string(off) + " " +
                       std::to_string(len));
    return (lock ? mine_[h].LockFile(off, len) : mine_[h].UnlockFile(off, len)) ? "ok" : Err(GetLastError());
  }

  testsupport::ScratchDir dir_;
  std::string path_ = dir_ / "T.DAT";
  testsupport::ForkedPeer child_{FileCommands()};
  File mine_[2];
};

TEST_P(LockTest, RandomLocksAgainstTheModelAndTheKernel) {
  // Starts and lengths around the engine's lock bytes: the table lock below
  // the record bytes, the semaphore, the index write lock, 2^31, 2^32, the
  // reserved region.
  const std::uint64_t starts[] = {0, 5, 99, 100, 1000, 1099, 1100, kTableLock - 1, kTableLock, kRecord1, kRecord1 + 1,
                                  0x7FFF0000, kSemaphore - 65535, kSemaphore - 7, kSemaphore, 1ull << 31,
                                  0xFFFFFFFFull, 1ull << 32, kRes - 1, kRes, ~0ull - 1};
  const std::uint64_t lengths[] = {0, 1, 2, 5, 10, 100, 101, 201, 65535, kTableLength};
  std::map<std::uint64_t, std::uint64_t> held[4];
  for (int h = 0; h < 4; ++h) { ASSERT_EQ(Open(h), "ok"); }
  std::mt19937 rng(GetParam().first * 2 + GetParam().second + 1);
  for (int step = 0; step < 600; ++step) {
    const int h = static_cast<int>(rng() % 4), op = static_cast<int>(rng() % 20);
    std::uint64_t off = starts[rng() % std::size(starts)], len = lengths[rng() % std::size(lengths)];
    if (op < 8 && !held[h].empty()) {  // unlock a held range, exactly or one byte off
      auto it = std::next(held[h].begin(), static_cast<long>(rng() % held[h].size()));
      off = it->first + (op == 0 ? 1 : 0);
      len = it->second - (op == 1 ? 1 : 0);
    }
    SCOPED_TRACE("step " + std::to_string(step) + " handle " + std::to_string(h) + " op " + std::to_string(op) + " " +
                 std::to_string(off) + "+" + std::to_string(len));
    if (op == 19) {  // close and open again: only this handle's ranges go
      if (h >= 2) { ASSERT_EQ(child_.Do("close " + std::to_string(h - 2)), "ok"); }
      else mine_[h].Close();
      held[h].clear();
      ASSERT_EQ(Open(h), "ok");
    } else if (op < 10) {
      auto it = held[h].find(off);
      const bool exact = it != held[h].end() && it->second == len;
      ASSERT_EQ(Lock(h, false, off, len), exact ? "ok" : Err(ERROR_NOT_LOCKED));
      if (exact) held[h].erase(it);
    } else {
      std::uint32_t error = 0;
      if (off >= kRes || len == 0 || len > kRes - off) error = ERROR_INVALID_PARAMETER;
      for (const auto& ranges : held)
        for (const auto& [o, l] : ranges)
          if (error == 0 && o < off + len && off < o + l) error = ERROR_LOCK_VIOLATION;
      ASSERT_EQ(Lock(h, true, off, len), error ? Err(error) : "ok");
      if (!error) held[h][off] = len;
    }
    if (step % 25 == 0 || step == 599) {
      // Each handle's ranges and its open byte; the kernel joins a handle's
      // ranges of one type that touch.
      std::vector<KernelLock> want;
      for (int k = 0; k < 4; ++k) {
        std::map<std::uint64_t, KernelLock> mine{{kRes, {"READ", kRes, kRes}}};
        for (const auto& [o, l] : held[k]) mine[o] = {ReadOnly(k) ? "READ" : "WRITE", o, o + l - 1};
        std::vector<KernelLock> joined;
        for (const auto& [o, lock] : mine) {
          if (!joined.empty() && std::get<0>(joined.back()) == std::get<0>(lock) &&
              std::get<2>(joined.back()) + 1 == o) {
            std::get<2>(joined.back()) = std::get<2>(lock);
          } else {
            joined.push_back(lock);
          }
        }
        want.insert(want.end(), joined.begin(), joined.end());
      }
      std::sort(want.begin(), want.end());
      ASSERT_EQ(testsupport::KernelLocks(path_, want), want);
    }
  }
  EXPECT_EQ(mine_[0].Size(), 10);  // locks do not grow the file
  mine_[0].Close();
  mine_[1].Close();
  ASSERT_EQ(child_.Do("close 0"), "ok");
  ASSERT_EQ(child_.Do("close 1"), "ok");
  EXPECT_EQ(testsupport::KernelLocks(path_, {}), std::vector<KernelLock>{});
}

TEST_P(LockTest, KilledChildReleasesEverything) {
  ASSERT_EQ(Open(2), "ok");
  ASSERT_EQ(Lock(2, true, kSemaphore, 1), "ok");
  ASSERT_EQ(Lock(2, true, 5, 5), "ok");
  ASSERT_EQ(Open(0), "ok");
  EXPECT_EQ(Lock(0, true, kSemaphore, 1), Err(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(Lock(0, true, 0, 6), Err(ERROR_LOCK_VIOLATION));
  child_.Kill();
  EXPECT_EQ(Lock(0, true, kSemaphore, 1), "ok");
  EXPECT_EQ(Lock(0, true, 0, 6), "ok");
}

INSTANTIATE_TEST_SUITE_P(Descriptors, LockTest,
                         ::testing::Values(std::pair{false, false}, std::pair{true, true}, std::pair{false, true}),
                         [](const auto& info) {
                           return std::string(info.param.first ? "ReadOnly" : "ReadWrite") +
                                  (info.param.second ? "AndReadOnlyFd" : "AndReadWriteFd");
                         });

}  // namespace
}  // namespace platform
