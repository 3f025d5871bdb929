// Locking between two real processes on one table: the exact bytes each
// lock occupies as the kernel reports them in /proc/locks, record against
// record and table, a model of two cursors' locks, readers against readers
// and writers, the semaphore, a killed holder, and the tables that take no
// lock at all.
#include <algorithm>
#include <array>
#include <random>
#include <set>

#include "platform/file.h"
#include "storage/blob_file.h"
#include "storage/index_file.h"
#include "tests/storage/lock_test_support.h"

namespace storage {
namespace {

using namespace locktest;

// Adjacent or overlapping ranges joined (the kernel joins those of one
// holder).
std::vector<HeldRange> Coalesced(const std::multiset<HeldRange>& in) {
  std::vector<HeldRange> out;
  for (const HeldRange& r : in) {
    if (!out.empty() && r.start <= out.back().start + out.back().length) {
      out.back().length = std::max(out.back().start + out.back().length, r.start + r.length) - out.back().start;
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
    CreateTable(true);
  }
  [[nodiscard]] std::string Dat() const { return Path("T.DAT"); }
  [[nodiscard]] std::string Idx() const { return Path("T.IDX"); }
  [[nodiscard]] std::string Blb() const { return Path("T.BLB"); }
  void ExpectNoLocks() {
    for (const std::string& f : {Dat(), Idx(), Blb()}) EXPECT_EQ(ProcLocks(f), Ranges({})) << f;
  }
};

// The child takes each kind of lock in turn and holds it while the parent
// reads /proc/locks.
TEST_F(LockProcessTest, LockBytesAreExactlyTheProtocolsOffsets) {
  Peer child([&](Peer& p) {
    auto t = Open();
    auto step = [&](char c) { p.Send(c); return p.Receive() == 'n'; };
    t->LockSemaphore();
    for (std::uint32_t n : {1u, 7u, 100000001u}) t->LockRecord(n);  // the last beyond the table range
    if (!step('a')) return 1;
    t->UnlockSemaphore();
    t->UnlockAllRecords();
    t->LockTable();
    if (!step('b')) return 2;
    t->UnlockTable();
    {
      WriteSectionGuard w(*t);
      w.LockRecord(3);
      if (!step('c')) return 3;
    }
    {
      ReadSectionGuard r(*t);
      BlobReadSectionGuard b(*t);
      BlobReadSectionGuard nested(*t);  // takes nothing more
      if (!step('d')) return 4;
    }
    return step('e') ? 0 : 5;
  });
  ASSERT_EQ(child.Receive(), 'a');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kSemaphore, 1}, {kRecordTop - 1, 1}, {kRecordTop - 7, 1},
                                      {kRecordTop - 100000001, 1}}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({}));
  child.Send('n');
  ASSERT_EQ(child.Receive(), 'b');
  // The table range ends on the lock of record 1 and stops short of the
  // semaphore and of record 100000001.
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kRecordTop - 100000000, 100000000}}));
  child.Send('n');
  ASSERT_EQ(child.Receive(), 'c');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kSemaphore, 1}, {kRecordTop - 3, 1}}));
  EXPECT_EQ(ProcLocks(Idx()), Ranges({{kWriteStart, kWriteLength}}));
  EXPECT_EQ(ProcLocks(Blb()), Ranges({{kWriteStart, kWriteLength}}));
  child.Send('n');
  ASSERT_EQ(child.Receive(), 'd');
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
  for (const std::string& f : {Idx(), Blb()}) {
    const auto read = ProcLocks(f);
    ASSERT_EQ(read.size(), 1u) << f;
    EXPECT_EQ(read.begin()->length, 1);
    EXPECT_GE(read.begin()->start, kReadTop - 65534);
    EXPECT_LE(read.begin()->start, kReadTop - 1);
  }
  child.Send('n');
  ASSERT_EQ(child.Receive(), 'e');
  ExpectNoLocks();
  child.Send('n');
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(LockProcessTest, RecordAndTableLocksBetweenProcesses) {
  Peer child([&](Peer& p) {
    auto t = Open(0, 10);
    t->LockRecord(5);
    p.Send('h');
    if (p.Receive() != 'u') return 1;
    t->UnlockRecord(5);
    p.Send('f');
    if (p.Receive() != 't') return 2;
    // The parent holds record 5 and the table lock.
    const bool ok = CodeOf([&] { t->LockRecord(9); }) == 10258 && CodeOf([&] { t->LockRecord(5); }) == 10258 &&
                    CodeOf([&] { t->LockRecord(100000001); }) == 0 && CodeOf([&] { t->LockTable(); }) == 10241;
    p.Send(ok ? 'y' : 'z');
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'h');
  auto t = Open(0, 10);  // retry count 0: the first attempt decides
  EXPECT_EQ(CodeOf([&] { t->LockRecord(5); }), 10258);
  EXPECT_EQ(CodeOf([&] { t->LockTable(); }), 10241);
  EXPECT_FALSE(t->TableLocked());
  EXPECT_TRUE(t->LockedRecords().empty());
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kRecordTop - 5, 1}})) << "a failed attempt holds nothing";
  child.Send('u');
  ASSERT_EQ(child.Receive(), 'f');
  t->LockRecord(5);
  t->LockRecord(5);  // twice is one lock
  EXPECT_EQ(t->LockedRecords(), std::vector<std::uint32_t>{5});
  EXPECT_EQ(CodeOf([&] { t->LockTable(); }), 10241) << "its own record lock is in the way";
  t->UnlockRecord(5);
  EXPECT_EQ(CodeOf([&] { t->UnlockRecord(5); }), 10242) << "not held any more";
  t->LockTable();
  t->LockRecord(9);  // inside the table lock record locks are nothing
  EXPECT_TRUE(t->LockedRecords().empty());
  child.Send('t');
  EXPECT_EQ(child.Receive(), 'y');
  EXPECT_EQ(child.Wait(), 0);
  t->UnlockTable();
  EXPECT_EQ(CodeOf([&] { t->UnlockSemaphore(); }), 10242);
  // No current record: 0 is locked as it is, a byte above the table range.
  t->LockRecord(0);
  EXPECT_EQ(ProcLocks(Dat()), Ranges({{kRecordTop, 1}}));
  t->LockRecord(6);
  t->Close();
  EXPECT_EQ(ProcLocks(Dat()), Ranges({})) << "close releases every record lock";
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
    const int op = static_cast<int>(rng() % 4);
    SCOPED_TRACE(std::to_string(step) + " cursor " + std::to_string(c) + " op " + std::to_string(op) + " n " +
                 std::to_string(n));
    int expected = 0, got = 0;
    if (op == 0) {
      if (!me.table && !me.records.count(n)) {
        if (other.records.count(n) || (other.table && in_table(n))) expected = 10258;
        else me.records.insert(n);
      }
      got = CodeOf([&] { t[c]->LockRecord(n); });
    } else if (op == 1) {
      if (!me.table) expected = me.records.erase(n) ? 0 : 10242;
      got = CodeOf([&] { t[c]->UnlockRecord(n); });
    } else if (op == 2) {  // a cursor's own record locks stand in its way too
      if (!me.table) {
        bool busy = other.table;
        for (const Model* x : {static_cast<const Model*>(&me), &other})
          for (std::uint32_t r : x->records) busy = busy || in_table(r);
        if (busy) expected = 10241;
        else me.table = true;
      }
      got = CodeOf([&] { t[c]->LockTable(); });
    } else {
      me.table = false;
      got = CodeOf([&] { t[c]->UnlockTable(); });
    }
    ASSERT_EQ(got, expected);
    ASSERT_EQ(t[c]->TableLocked(), me.table);
    std::multiset<HeldRange> want;
    for (const Model& x : m) {
      for (std::uint32_t r : x.records) want.insert({kRecordTop - std::int64_t{r}, 1});
      if (x.table) want.insert({kTableStart, kTableLength});
    }
    ASSERT_EQ(Coalesced(ProcLocks(Dat())), Coalesced(want));
  }
  t = {};
  EXPECT_EQ(ProcLocks(Dat()), Ranges({}));
}

// In-memory tables lock the same ranges in the memory file's lock table.
TEST_F(LockProcessTest, InMemoryCursorsConflictTheSameWay) {
  Create("MEMLOCK", Definition({datatest::Field(1, "Id", FieldType::kInteger)}), true);
  auto open = [] {
    auto t = std::make_unique<TDataFile>();
    t->SetInMemory(true);
    t->SetFileName("MEMLOCK");
    t->SetLockRetryCount(0);
    t->Open();
    return t;
  };
  auto a = open(), b = open();
  a->LockRecord(4);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(4); }), 10258);
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), 10241);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(100000001); }), 0);
  a->UnlockRecord(4);
  EXPECT_EQ(CodeOf([&] { b->LockRecord(4); }), 0);
  {
    WriteSectionGuard w(*a);
    EXPECT_FALSE(b->LockRange(kSemaphore, 1, true));
    EXPECT_FALSE(b->IndexFile().LockRange(kReadTop - 77, 1, true)) << "a reader byte";
  }
  EXPECT_TRUE(b->LockRange(kSemaphore, 1, true));
  EXPECT_TRUE(b->IndexFile().LockRange(kReadTop - 77, 1, true));
}

// Two readers hold two different bytes; a writer holds back readers of
// the index and of the BLOB file, and another writer at the semaphore. The
// writer lets go 100 ms after the parent starts to wait, and leaves a mark
// just before: a parent that did not wait finds no mark.
TEST_F(LockProcessTest, ReadersPassEachOtherAndWritersHoldOthersBack) {
  Peer reader([&](Peer& p) {
    auto t = Open();
    ReadSectionGuard r(*t);
    BlobReadSectionGuard b(*t);
    p.Send('r');
    return p.Receive() == 'n' ? 0 : 1;
  });
  ASSERT_EQ(reader.Receive(), 'r');
  auto t = Open();
  {
    ReadSectionGuard r(*t);  // would fail if readers blocked each other
    BlobReadSectionGuard b(*t);
    EXPECT_EQ(ProcLocks(Idx()).size(), 2u);
    EXPECT_EQ(ProcLocks(Blb()).size(), 2u);
  }
  reader.Send('n');
  EXPECT_EQ(reader.Wait(), 0);
  const std::string mark = Path("mark");
  const std::function<void()> waits[] = {
      [&] { ReadSectionGuard r(*t); },
      [&] { BlobReadSectionGuard b(*t); },
      [&] {
        ASSERT_TRUE(t->LockSemaphore());
        t->UnlockSemaphore();
      },
  };
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Peer writer([&](Peer& p) {
      auto o = Open();
      WriteSectionGuard w(*o);
      p.Send('w');
      if (p.Receive() != 'g') return 1;
      usleep(100 * 1000);
      testsupport::WriteFile(mark, std::to_string(round));
      return 0;
    });
    ASSERT_EQ(writer.Receive(), 'w');
    writer.Send('g');
    waits[round]();
    EXPECT_EQ(testsupport::ReadFile(mark), std::to_string(round)) << "did not wait";
    EXPECT_EQ(writer.Wait(), 0);
  }
  {
    WriteSectionGuard w(*t);
    EXPECT_TRUE(t->HeaderChecked());
    EXPECT_TRUE(t->IndexFile().WriteLockHeld());
    EXPECT_TRUE(t->BlobFile().HeaderChecked());
  }
  EXPECT_FALSE(t->HeaderChecked());
  EXPECT_FALSE(t->IndexFile().WriteLockHeld());
  ExpectNoLocks();
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
  child.Kill();
  ExpectNoLocks();
  auto t = Open(0, 10);
  EXPECT_EQ(CodeOf([&] { t->LockTable(); }), 0);
  EXPECT_EQ(CodeOf([&] { WriteSectionGuard w(*t); }), 0);
}

// An exclusive table, and one whose files carry the read-only attribute
// (opened read-only by force), take no lock; a read-only table refuses a
// write before locking anything.
TEST_F(LockProcessTest, TablesThatTakeNoLock) {
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    const bool forced = kind == 1;
    for (const std::string& f : {Dat(), Idx(), Blb()}) ASSERT_TRUE(platform::SetReadOnly(f, forced));
    auto t = std::make_unique<TDataFile>();
    t->SetFileName(Table());
    t->SetExclusive(kind == 0);
    t->SetReadOnly(kind == 2);
    t->Open();
    EXPECT_EQ(t->ForcedReadOnly(), forced);
    if (kind < 2) {
      t->LockRecord(3);
      t->LockTable();
      ReadSectionGuard r(*t);
      BlobReadSectionGuard b(*t);
      ExpectNoLocks();
    }
    EXPECT_EQ(CodeOf([&] { WriteSectionGuard w(*t); }), kind == 0 ? 0 : 11013);
    ExpectNoLocks();
  }
  for (const std::string& f : {Dat(), Idx(), Blb()}) platform::SetReadOnly(f, false);
}

}  // namespace
}  // namespace storage
