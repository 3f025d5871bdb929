// Locking between two real processes on one table: record against record,
// table against record, readers against readers and writers, the
// semaphore, the retry rule, a killed holder, and the exact bytes each
// lock occupies as the kernel reports them in /proc/locks.
#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <set>

#include "platform/file.h"
#include "storage/index_file.h"
#include "tests/storage/lock_test_support.h"

namespace storage {
namespace {

using namespace locktest;
using Clock = std::chrono::steady_clock;

// Adjacent or overlapping ranges joined.
std::vector<HeldRange> Coalesced(const std::multiset<HeldRange>& in) {
  std::vector<HeldRange> out;
  for (const HeldRange& r : in) {
    if (!out.empty() && r.start <= out.back().start + out.back().length) {
      out.back().length =
          std::max(out.back().start + out.back().length, r.start + r.length) - out.back().start;
    } else {
      out.push_back(r);
    }
  }
  return out;
}

class LockProcessTest : public LockTestBase {
 protected:
  void SetUp() override {
    LockTestBase::SetUp();
    CreateTable(false);
  }
  [[nodiscard]] std::string Dat() const { return Path("T.DAT"); }
  [[nodiscard]] std::string Idx() const { return Path("T.IDX"); }
};

// The child takes each kind of lock in turn and holds it while the parent
// reads /proc/locks.
TEST_F(LockProcessTest, LockBytesAreExactlyTheProtocolsOffsets) {
  Peer child([&](Peer& p) {
    auto t = Open();
    t->LockSemaphore();
    t->LockRecord(1);
    t->LockRecord(7);
    t->LockRecord(100000001);  // beyond the table-lock range
    p.Send('a');
    if (p.Receive() != 'n') return 1;
    t->UnlockSemaphore();
    t->UnlockAllRecords();
    t->LockTable();
    p.Send('b');
    if (p.Receive() != 'n') return 2;
    t->UnlockTable();
    {
      WriteSectionGuard w(*t);
      w.LockRecord(3);
      p.Send('c');
      if (p.Receive() != 'n') return 3;
    }
    {
      ReadSectionGuard r(*t);
      p.Send('d');
      if (p.Receive() != 'n') return 4;
    }
    p.Send('e');
    if (p.Receive() != 'n') return 5;
    return 0;
  });
  ASSERT_TRUE(child.Started());

  ASSERT_EQ(child.Receive(), 'a');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kSemaphore, 1},
                                      {0x7FFFFFFD, 1},
                                      {0x7FFFFFF7, 1},
                                      {kRecordTop - 100000001, 1}}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
  child.Send('n');

  ASSERT_EQ(child.Receive(), 'b');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kTableStart, kTableLength}}));
  // The table range ends on the record lock of record 1 and stops short of
  // the semaphore and of record 100000001.
  EXPECT_EQ(kTableStart + kTableLength - 1, kRecordTop - 1);
  EXPECT_EQ(kTableStart, kRecordTop - 100000000);
  child.Send('n');

  ASSERT_EQ(child.Receive(), 'c');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kSemaphore, 1}, {kRecordTop - 3, 1}}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({{kWriteStart, kWriteLength}}));
  child.Send('n');

  ASSERT_EQ(child.Receive(), 'd');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  const auto read = ProcLocks(Idx());
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read.begin()->length, 1);
  EXPECT_GE(read.begin()->start, 0x7FFFFFFF - 65534);
  EXPECT_LE(read.begin()->start, 0x7FFFFFFF - 1);
  child.Send('n');

  ASSERT_EQ(child.Receive(), 'e');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
  child.Send('n');
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(LockProcessTest, RecordLockAgainstRecordLock) {
  Peer child([&](Peer& p) {
    auto t = Open();
    t->LockRecord(5);
    p.Send('h');
    if (p.Receive() != 'u') return 1;
    t->UnlockRecord(5);
    p.Send('f');
    if (p.Receive() != 'x') return 2;
    // The parent holds 5 now.
    t->SetLockRetryCount(0);
    p.Send(CodeOf([&] { t->LockRecord(5); }) == 10258 ? 'y' : 'z');
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'h');
  auto t = Open(0, 100);

  auto t0 = Clock::now();
  EXPECT_EQ(CodeOf([&] { t->LockRecord(5); }), 10258);
  EXPECT_LT(SecondsSince(t0), 1.0) << "retry count 0 fails at the first attempt";
  EXPECT_TRUE(t->LockedRecords().empty());
  EXPECT_EQ(CodeOf([&] { t->LockRecord(6); }), 0);

  t->SetLockRetryCount(15);
  t->SetLockWaitTime(100);
  t0 = Clock::now();
  EXPECT_EQ(CodeOf([&] { t->LockRecord(5); }), 10258);
  EXPECT_GE(SecondsSince(t0), 1.45) << "15 waits of 100 ms";

  // A retry count of 255 still comes to an end.
  t->SetLockRetryCount(255);
  t->SetLockWaitTime(1);
  t0 = Clock::now();
  EXPECT_EQ(CodeOf([&] { t->LockRecord(5); }), 10258);
  EXPECT_GE(SecondsSince(t0), 0.255);

  child.Send('u');
  ASSERT_EQ(child.Receive(), 'f');
  t->SetLockRetryCount(0);
  ASSERT_EQ(CodeOf([&] { t->LockRecord(5); }), 0);
  // Twice is one lock; one unlock releases it.
  ASSERT_EQ(CodeOf([&] { t->LockRecord(5); }), 0);
  EXPECT_EQ(t->LockedRecords(), (std::vector<std::uint32_t>{6, 5}));
  child.Send('x');
  EXPECT_EQ(child.Receive(), 'y');
  EXPECT_EQ(child.Wait(), 0);
  t->UnlockRecord(5);
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kRecordTop - 6, 1}}));
  EXPECT_EQ(CodeOf([&] { t->UnlockRecord(5); }), 10242) << "not held any more";
  t->Close();
  EXPECT_EQ(ProcLocks(Dat()), Ranges({})) << "close releases every record lock";
}

TEST_F(LockProcessTest, TableLockAgainstRecordLock) {
  Peer child([&](Peer& p) {
    auto t = Open(0, 10);
    t->LockRecord(9);
    p.Send('h');
    if (p.Receive() != 'u') return 1;
    t->UnlockRecord(9);
    p.Send('f');
    if (p.Receive() != 't') return 2;
    // The parent holds the table lock.
    const int inside = CodeOf([&] { t->LockRecord(9); });
    const int outside = CodeOf([&] { t->LockRecord(100000001); });
    const int table = CodeOf([&] { t->LockTable(); });
    p.Send(inside == 10258 && outside == 0 && table == 10241 ? 'y' : 'z');
    if (p.Receive() != 'r') return 3;
    p.Send(CodeOf([&] { t->LockRecord(9); }) == 0 ? 'y' : 'z');
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'h');
  auto t = Open(2, 10);
  EXPECT_EQ(CodeOf([&] { t->LockTable(); }), 10241);
  EXPECT_FALSE(t->TableLocked());
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kRecordTop - 9, 1}})) << "a failed attempt holds nothing";
  child.Send('u');
  ASSERT_EQ(child.Receive(), 'f');
  ASSERT_EQ(CodeOf([&] { t->LockTable(); }), 0);
  EXPECT_TRUE(t->TableLocked());
  // Inside the table lock record locks are nothing.
  t->LockRecord(9);
  t->UnlockRecord(9);
  EXPECT_TRUE(t->LockedRecords().empty());
  child.Send('t');
  EXPECT_EQ(child.Receive(), 'y');
  t->UnlockTable();
  EXPECT_FALSE(t->TableLocked());
  child.Send('r');
  EXPECT_EQ(child.Receive(), 'y');
  EXPECT_EQ(child.Wait(), 0);
}

// A second cursor in the same program conflicts like another program.
TEST_F(LockProcessTest, TwoCursorsInOneProgramConflict) {
  auto a = Open(0, 10);
  auto b = Open(0, 10);
  a->LockRecord(4);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(4); }), 10258);
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), 10241);
  a->UnlockRecord(4);
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), 0);
  EXPECT_EQ(CodeOf([&] { a->LockRecord(4); }), 10258);
  b->Close();  // close releases the table lock
  EXPECT_EQ(CodeOf([&] { a->LockRecord(4); }), 0);
  a->UnlockRecord(4);
  // A record above the table range, locked beside the table lock, still
  // goes with the rest.
  a->LockRecord(100000005);
  a->LockTable();
  EXPECT_EQ(a->LockedRecords().size(), 1u);
  a->UnlockAllRecords();
  a->UnlockTable();
  EXPECT_TRUE(a->LockedRecords().empty());
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
}

// Two cursors against a model of who holds what: random record and table
// locks and unlocks (retry count 0), each result and the bytes the kernel
// shows checked after every step.
TEST_F(LockProcessTest, RandomLocksOfTwoCursorsFollowTheModel) {
  struct Model {
    std::set<std::uint32_t> records;
    bool table = false;
  };
  const std::array<std::uint32_t, 7> numbers = {1, 2, 3, 99999999, 100000000, 100000001, 100000002};
  auto in_table = [](std::uint32_t n) { return n >= 1 && n <= 100000000; };
  std::array<std::unique_ptr<TDataFile>, 2> t = {Open(0, 1), Open(0, 1)};
  std::array<Model, 2> m;
  std::mt19937 rng(20261206);
  for (int step = 0; step < 400; ++step) {
    const int c = static_cast<int>(rng() % 2);
    Model& me = m[c];
    const Model& other = m[1 - c];
    const std::uint32_t n = numbers[rng() % numbers.size()];
    int expected = 0;
    int got = 0;
    const int op = static_cast<int>(rng() % 4);
    SCOPED_TRACE(std::to_string(step) + " cursor " + std::to_string(c) + " op " +
                 std::to_string(op) + " n " + std::to_string(n));
    switch (op) {
      case 0:  // LockRecord
        if (!me.table && !me.records.count(n)) {
          if (other.records.count(n) || (other.table && in_table(n)))
            expected = 10258;
          else
            me.records.insert(n);
        }
        got = CodeOf([&] { t[c]->LockRecord(n); });
        break;
      case 1:  // UnlockRecord
        if (!me.table) {
          if (me.records.count(n))
            me.records.erase(n);
          else
            expected = 10242;
        }
        got = CodeOf([&] { t[c]->UnlockRecord(n); });
        break;
      case 2: {  // LockTable; a handle's own record locks stand in its way too
        if (!me.table) {
          bool busy = other.table;
          for (std::uint32_t r : other.records) busy = busy || in_table(r);
          for (std::uint32_t r : me.records) busy = busy || in_table(r);
          if (busy)
            expected = 10241;
          else
            me.table = true;
        }
        got = CodeOf([&] { t[c]->LockTable(); });
        break;
      }
      default:  // UnlockTable
        me.table = false;
        got = CodeOf([&] { t[c]->UnlockTable(); });
        break;
    }
    ASSERT_EQ(got, expected);
    ASSERT_EQ(t[c]->TableLocked(), me.table);
    std::multiset<HeldRange> want;
    for (const Model& x : m) {
      for (std::uint32_t r : x.records) want.insert({kRecordTop - std::int64_t{r}, 1});
      if (x.table) want.insert({kTableStart, kTableLength});
    }
    // The kernel joins adjacent ranges of one holder (record 100000001
    // touches the table range): compare the covered bytes.
    ASSERT_EQ(Coalesced(ProcLocks(Dat())), Coalesced(want));
  }
  t[0]->Close();
  t[1]->Close();
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
}

// In-memory tables lock the same ranges in the memory file's lock table.
TEST_F(LockProcessTest, InMemoryCursorsConflictTheSameWay) {
  DataTableDefinition def;
  def.fields = {Field(1, "Id", FieldType::kInteger)};
  def.primary.FieldNumbers[0] = 1;
  {
    TDataFile c;
    c.SetInMemory(true);
    c.SetFileName("MEMLOCK");
    c.SetExclusive(true);
    c.CreateDataTable(def);
  }
  auto open = [] {
    auto t = std::make_unique<TDataFile>();
    t->SetInMemory(true);
    t->SetFileName("MEMLOCK");
    t->SetLockRetryCount(0);
    t->Open();
    return t;
  };
  auto a = open();
  auto b = open();
  a->LockRecord(4);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(4); }), 10258);
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), 10241);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(100000001); }), 0);
  a->UnlockRecord(4);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(4); }), 0);
  {
    WriteSectionGuard w(*a);
    EXPECT_FALSE(b->LockRange(kSemaphore, 1, true));
    EXPECT_FALSE(b->IndexFile().LockRange(0x7FFFFFFF - 77, 1, true)) << "a reader byte";
  }
  EXPECT_TRUE(b->LockRange(kSemaphore, 1, true));
  EXPECT_TRUE(b->LockRange(kSemaphore, 1, false));
  EXPECT_TRUE(b->IndexFile().LockRange(0x7FFFFFFF - 77, 1, true));
  EXPECT_TRUE(b->IndexFile().LockRange(0x7FFFFFFF - 77, 1, false));
}

TEST_F(LockProcessTest, ReadersPassEachOtherAndAWriterHoldsThemBack) {
  Peer child([&](Peer& p) {
    auto t = Open();
    {
      ReadSectionGuard r(*t);
      p.Send('r');
      if (p.Receive() != 'n') return 1;
    }
    {
      WriteSectionGuard w(*t);
      p.Send('w');
      if (p.Receive() != 'g') return 2;
      usleep(400 * 1000);
    }
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'r');
  auto t = Open();
  {
    ReadSectionGuard r(*t);  // would wait 82 s and fail if readers blocked
    const auto held = ProcLocks(Idx());
    ASSERT_EQ(held.size(), 2u) << "two readers on two different bytes";
    for (const HeldRange& h : held) EXPECT_EQ(h.length, 1);
  }
  child.Send('n');
  ASSERT_EQ(child.Receive(), 'w');
  const auto t0 = Clock::now();
  child.Send('g');
  {
    ReadSectionGuard r(*t);
    EXPECT_GE(SecondsSince(t0), 0.35) << "the reader waited for the writer";
  }
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
}

TEST_F(LockProcessTest, TheSemaphoreAdmitsOneWriterAtATime) {
  Peer child([&](Peer& p) {
    auto t = Open();
    WriteSectionGuard w(*t);
    p.Send('w');
    if (p.Receive() != 'g') return 1;
    usleep(400 * 1000);
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'w');
  auto t = Open();
  const auto t0 = Clock::now();
  child.Send('g');
  ASSERT_TRUE(t->LockSemaphore());
  EXPECT_GE(SecondsSince(t0), 0.35);
  t->UnlockSemaphore();
  EXPECT_EQ(child.Wait(), 0);
  // And a whole second write section after the first.
  {
    WriteSectionGuard w(*t);
    EXPECT_TRUE(t->HeaderChecked());
    EXPECT_TRUE(t->IndexFile().WriteLockHeld());
  }
  EXPECT_FALSE(t->HeaderChecked());
  EXPECT_FALSE(t->IndexFile().WriteLockHeld());
}

TEST_F(LockProcessTest, AKilledHolderLeavesNoLock) {
  Peer child([&](Peer& p) {
    auto t = Open();
    t->LockTable();
    WriteSectionGuard w(*t);
    p.Send('h');
    (void)p.Receive(120000);
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'h');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kSemaphore, 1}, {kTableStart, kTableLength}}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({{kWriteStart, kWriteLength}}));
  child.Kill();
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
  auto t = Open(0, 10);
  EXPECT_EQ(CodeOf([&] { t->LockTable(); }), 0);
  EXPECT_EQ(CodeOf([&] { WriteSectionGuard w(*t); }), 0);
}

TEST_F(LockProcessTest, AnExclusiveTableTakesNoLock) {
  auto t = Open(0, 10, /*exclusive=*/true);
  t->LockRecord(3);
  t->LockTable();
  {
    WriteSectionGuard w(*t);
    ReadSectionGuard r(*t);
    EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
    EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
  }
  t->UnlockTable();
  t->UnlockRecord(3);
}

// A table whose files carry the read-only attribute is opened read-only
// by force: it locks nothing and refuses writes.
TEST_F(LockProcessTest, AForcedReadOnlyTableTakesNoLock) {
  ASSERT_TRUE(platform::SetReadOnly(Dat(), true));
  ASSERT_TRUE(platform::SetReadOnly(Idx(), true));
  {
    auto t = Open(0, 10);
    ASSERT_TRUE(t->ForcedReadOnly());
    t->LockRecord(3);
    t->LockTable();
    {
      ReadSectionGuard r(*t);
      EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
      EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
    }
    EXPECT_EQ(CodeOf([&] { WriteSectionGuard w(*t); }), 11013);
    EXPECT_EQ(CodeOf([&] { t->UnlockSemaphore(); }), 0);
  }
  platform::SetReadOnly(Dat(), false);
  platform::SetReadOnly(Idx(), false);
}

TEST_F(LockProcessTest, RefusedAndFailedLockCalls) {
  auto t = Open(0, 10);
  // No current record: 0 is locked as it is, a byte above the table-lock
  // range. Another program's table lock is not held up by it; its lock of
  // record 0 is. UnlockRecord(0) gives it back, and once more finds
  // nothing to give.
  EXPECT_EQ(CodeOf([&] { t->LockRecord(0); }), 0);
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{0x7FFFFFFE, 1}}));
  EXPECT_EQ(t->LockedRecords(), std::vector<std::uint32_t>{0});
  Peer other([&](Peer&) {
    auto o = Open(0, 10);
    if (CodeOf([&] { o->LockTable(); }) != 0) return 1;
    o->UnlockTable();
    return CodeOf([&] { o->LockRecord(0); }) == 10258 ? 0 : 2;
  });
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(CodeOf([&] { t->UnlockRecord(0); }), 0);
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  EXPECT_TRUE(t->LockedRecords().empty());
  EXPECT_EQ(CodeOf([&] { t->UnlockRecord(0); }), 0);
  // Unlocking what this cursor never locked.
  EXPECT_EQ(CodeOf([&] { t->UnlockRecord(12); }), 10242);
  EXPECT_EQ(CodeOf([&] { t->UnlockSemaphore(); }), 10242);
  // A read-only table refuses a write before locking anything.
  t->Close();
  t = std::make_unique<TDataFile>();
  t->SetFileName(Table());
  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(CodeOf([&] { WriteSectionGuard w(*t); }), 11013);
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
}

}  // namespace
}  // namespace storage
