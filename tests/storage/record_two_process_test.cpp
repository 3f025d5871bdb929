// Two real processes insert into and update the same shared table at once:
// no record may be lost or doubled, no update lost (every update adds one
// to a counter under the record's lock), every index stays consistent; a
// record being edited in one process refuses the other's edit with 10258;
// several programs adding one to the same record never stall each other;
// a record deleted or moved by another user is never taken for the record
// beside it; an insert never waits for its slot's record lock while it
// holds the index; and a table opened while the other inserts always
// opens.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

#include "tests/storage/lock_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using locktest::Peer;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kOpsPerProcess = 1500;
#else
constexpr int kOpsPerProcess = 10000;
#endif

class RecordTwoProcessTest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    // Key integer (primary), Owner small integer, Counter integer, Name
    // string[20]; "ByOwner" on (Owner, Counter) changes with every update.
    DataTableDefinition def = Definition({Field(1, "Key", FieldType::kInteger), Field(2, "Owner", FieldType::kSmallInt),
                                          Field(3, "Counter", FieldType::kInteger), Field(4, "Name", FieldType::kString, 20)});
    def.secondary = {datatest::Index("ByOwner", {2, 3})};
    Create(Path("s.dat"), def);
  }

  // One process: both open the table before either writes (opening reads
  // the headers without a lock). Leaves the number of updates it made in
  // a file.
  int Worker(Peer& p, int owner) {
    auto t = OpenTable(Path("s.dat"), false);
    t->SetLockRetryCount(50);
    t->SetLockWaitTime(2);
    p.Send('o');
    if (p.Receive() != 'g') return 1;
    std::mt19937 rng(100 + owner);
    int inserted = 0, updated = 0;
    for (int op = 0; op < kOpsPerProcess; ++op) {
      if (rng() % 10 < 6 || inserted == 0) {
        Rec r(*t);
        r.Num<std::int32_t>(1, owner * 1000000 + inserted).Num<std::int16_t>(2, static_cast<std::int16_t>(owner));
        r.Num<std::int32_t>(3, 0).Str(4, "p" + std::to_string(owner) + "-" + std::to_string(inserted));
        t->InsertRecord(r.span());
        ++inserted;
        continue;
      }
      // Either process's records: the nearest key at or after a guess.
      Rec key(*t), r(*t);
      key.Num<std::int32_t>(1, (1 + static_cast<int>(rng() % 2)) * 1000000 + static_cast<int>(rng() % (inserted + 1)));
      t->GotoKey(false, key.bytes.data(), 0, true, 0, {});
      int code = 0;
      try {
        code = t->ReadCurrentRecord(r.span(), true);
      } catch (const ETolmidEngineError& e) {
        if (e.ErrorCode() != 10258) throw;
        continue;  // the other process is editing it
      }
      if (code != 0) continue;
      r.Num<std::int32_t>(3, *r.GetNum<std::int32_t>(3) + 1);
      t->ModifyRecord(r.span(), true);
      ++updated;
    }
    testsupport::WriteFile(Path("updates" + std::to_string(owner)), std::to_string(updated));
    return 0;
  }
};

TEST_F(RecordTwoProcessTest, ConcurrentInsertsAndUpdatesLoseNothing) {
  Peer one([&](Peer& p) { return Worker(p, 1); }), two([&](Peer& p) { return Worker(p, 2); });
  ASSERT_EQ(one.Receive(), 'o');
  ASSERT_EQ(two.Receive(), 'o');
  one.Send('g');
  two.Send('g');
  ASSERT_EQ(one.Wait(), 0);
  ASSERT_EQ(two.Wait(), 0);
  const long total_updates = std::stol(testsupport::ReadFile(Path("updates1"))) +
                             std::stol(testsupport::ReadFile(Path("updates2")));
  // Every insert is there once, with a distinct record ID; the counters add
  // up to the updates made; the inserts of one owner have no gap.
  auto t = OpenTable(Path("s.dat"), true);
  std::set<std::int32_t> keys;
  std::set<std::uint32_t> ids;
  long counters = 0;
  std::map<int, int> per_owner;
  EXPECT_EQ(t->MoveToBegin(), 0);
  for (Rec r(*t); t->ReadNextRecord(r.span()) == 0;) {
    EXPECT_TRUE(keys.insert(*r.GetNum<std::int32_t>(1)).second);
    EXPECT_TRUE(ids.insert(r.Id()).second);
    counters += *r.GetNum<std::int32_t>(3);
    ++per_owner[*r.GetNum<std::int16_t>(2)];
  }
  EXPECT_EQ(t->RecordCount(), keys.size());
  EXPECT_EQ(counters, total_updates);
  for (int owner : {1, 2}) {
    const int n = per_owner[owner];
    EXPECT_GT(n, 0);
    EXPECT_TRUE(keys.count(owner * 1000000 + n - 1));
  }
  t->Close();
  for (const char* f : {"s.IDX", "s.dat"}) {
    const auto c = datatest::RunTool(f[2] == 'I' ? "idxcheck.py" : "datcheck.py", Path(f));
    EXPECT_EQ(c.status, 0) << c.output;
  }
}

TEST_F(RecordTwoProcessTest, ARecordBeingEditedRefusesTheOthersEdit) {
  auto t = OpenTable(Path("s.dat"), false);
  Rec r(*t);
  r.Num<std::int32_t>(1, 7).Num<std::int16_t>(2, 1).Num<std::int32_t>(3, 0);
  t->InsertRecord(r.span());
  ASSERT_EQ(t->ReadCurrentRecord(r.span(), true), 0);  // the edit begins
  auto other_edit = [&] {
    Peer other([&](Peer&) {
      auto u = OpenTable(Path("s.dat"), false);
      u->SetLockRetryCount(0);
      Rec e(*u);
      e.Num<std::int32_t>(1, 7);
      if (!u->GotoKey(false, e.bytes.data(), 0, false, 0, {})) return 98;
      const int code = CodeOf([&] { CheckEngineResult(u->ReadCurrentRecord(e.span(), true)); });
      if (code == 0) {
        e.Num<std::int32_t>(3, 5);
        u->ModifyRecord(e.span(), true);
      }
      return code == 10258 ? 1 : code;
    });
    return other.Wait();
  };
  EXPECT_EQ(other_edit(), 1);  // refused with 10258
  r.Num<std::int32_t>(3, 1);
  t->ModifyRecord(r.span(), true);  // posts and releases the lock
  EXPECT_EQ(other_edit(), 0);       // now the other's edit goes through
  Rec back(*t);
  ASSERT_EQ(t->ReadCurrentRecord(back.span(), false), 0);
  EXPECT_EQ(back.GetNum<std::int32_t>(3), 5);
}

// Several programs each "edit, +1, post" on one record (GotoKey,
// ReadCurrentRecord with the lock, ModifyRecord releasing it). A program
// that waited for the record lock inside its read section would keep the
// holder from its post (the index write lock) until the wait ran out: the
// waiter's 10258, after a stall of the whole budget. The budget here is
// far beyond any post's length; no increment may be lost or refused.
TEST_F(RecordTwoProcessTest, WritersOfOneRecordDoNotStallEachOther) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kIncrements = 60;
#else
  constexpr int kIncrements = 250;
#endif
  constexpr int kPrograms = 4;
  {
    auto t = OpenTable(Path("s.dat"), false);
    Rec r(*t);
    r.Num<std::int32_t>(1, 1).Num<std::int16_t>(2, 1).Num<std::int32_t>(3, 0);
    t->InsertRecord(r.span());
  }
  auto program = [&](Peer& p) {
    auto t = OpenTable(Path("s.dat"), false);
    t->SetLockRetryCount(255);
    t->SetLockWaitTime(8);
    Rec key(*t), r(*t);
    key.Num<std::int32_t>(1, 1);
    p.Send('o');
    if (p.Receive() != 'g') return 1;
    for (int i = 0; i < kIncrements; ++i) {
      if (!t->GotoKey(false, key.bytes.data(), 0, false, 0, {})) return 2;
      if (CodeOf([&] { CheckEngineResult(t->ReadCurrentRecord(r.span(), true)); }) != 0) return 3;
      r.Num<std::int32_t>(3, *r.GetNum<std::int32_t>(3) + 1);
      t->ModifyRecord(r.span(), true);
    }
    return 0;
  };
  std::vector<std::unique_ptr<Peer>> programs;
  for (int i = 0; i < kPrograms; ++i) programs.push_back(std::make_unique<Peer>(program));
  for (auto& p : programs) ASSERT_EQ(p->Receive(), 'o');
  for (auto& p : programs) p->Send('g');
  for (auto& p : programs) EXPECT_EQ(p->Wait(), 0) << "3: a 10258 met";
  auto t = OpenTable(Path("s.dat"), false);
  Rec r(*t);
  ASSERT_EQ(t->MoveToBegin(), 0);
  ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(3), kPrograms * kIncrements);
}

// Another user, in this process (a second cursor) or another, deletes the
// record a cursor stands on, deletes it and inserts its key anew (another
// record in the same slot), or gives it another key. The cursor's delete,
// edit (read with the lock, then post) or post without an edit then acts
// on that record, or, when it is gone, raises 8710 and changes nothing:
// never on the record beside it. Afterwards the cursor shows a record that
// exists. In the primary index, a secondary index and natural order;
// "count, delete" lets a read section meet the change before the write.
TEST_F(RecordTwoProcessTest, ARecordGoneElsewhereIsNeverTakenForItsNeighbour) {
  enum Change { kDelete, kReinsert, kRekey };
  enum Op { kOpDelete, kOpEdit, kOpPost, kOpCountDelete };
  using Table = std::map<std::int32_t, std::pair<std::int32_t, std::string>>;  // key -> counter, name
  auto contents = [&](const std::string& path) {
    Table out;
    auto t = OpenTable(path, false);
    EXPECT_EQ(t->MoveToBegin(), 0);
    for (Rec r(*t); t->ReadNextRecord(r.span()) == 0;)
      out[*r.GetNum<std::int32_t>(1)] = {*r.GetNum<std::int32_t>(3), *r.GetStr(4)};
    return out;
  };
  auto change = [](TDataFile& o, Change c) {
    Rec r(o);
    r.Num<std::int32_t>(1, 2);
    if (!o.GotoKey(false, r.bytes.data(), 0, false, 0, {})) throw std::runtime_error("no key 2");
    CheckEngineResult(o.ReadCurrentRecord(r.span(), true));
    if (c == kRekey) {
      r.Num<std::int32_t>(1, 20);
      o.ModifyRecord(r.span(), true);
      return;
    }
    o.DeleteRecord();
    if (c == kReinsert) {
      Rec n(o);
      n.Num<std::int32_t>(1, 2).Num<std::int16_t>(2, 1).Num<std::int32_t>(3, 77).Str(4, "new");
      o.InsertRecord(n.span());
    }
  };
  int row = 0;
  for (const bool forked : {false, true})
    for (const Change c : {kDelete, kReinsert, kRekey})
      for (const Op op : {kOpDelete, kOpEdit, kOpPost, kOpCountDelete})
        for (const int order : {0, 1, int{kNoIndex}}) {
          SCOPED_TRACE(testing::Message() << "forked " << forked << " change " << c << " op " << op << " order " << order);
          const std::string path = Path("g" + std::to_string(++row) + ".dat");
          DataTableDefinition def = Definition({Field(1, "Key", FieldType::kInteger), Field(2, "Owner", FieldType::kSmallInt),
                                                Field(3, "Counter", FieldType::kInteger), Field(4, "Name", FieldType::kString, 20)});
          def.secondary = {datatest::Index("ByOwner", {2, 3})};
          Create(path, def);
          Table want;
          auto a = OpenTable(path, false);
          for (std::int32_t k : {1, 2, 3}) {
            Rec r(*a);
            r.Num<std::int32_t>(1, k).Num<std::int16_t>(2, 1).Num<std::int32_t>(3, k * 10).Str(4, "k" + std::to_string(k));
            a->InsertRecord(r.span());
            want[k] = {k * 10, "k" + std::to_string(k)};
          }
          a->SwitchToIndex(static_cast<std::uint8_t>(order));
          Rec mine(*a);
          ASSERT_EQ(a->MoveToBegin(), 0);
          while (a->ReadNextRecord(mine.span()) == 0 && mine.GetNum<std::int32_t>(1) != 2) {
          }
          ASSERT_EQ(mine.GetNum<std::int32_t>(1), 2);
          std::unique_ptr<TDataFile> other;
          if (forked) {
            Peer p([&](Peer&) {
              auto o = OpenTable(path, false);
              change(*o, c);
              return 0;
            });
            ASSERT_EQ(p.Wait(), 0);
          } else {
            other = OpenTable(path, false);
            change(*other, c);
          }
          const std::pair<std::int32_t, std::string> moved = want[2];
          want.erase(2);
          if (c == kReinsert) want[2] = {77, "new"};
          if (c == kRekey) want[20] = moved;
          const int code = CodeOf([&] {
            switch (op) {
              case kOpCountDelete:
                (void)a->RecordCount();
                [[fallthrough]];
              case kOpDelete:
                a->DeleteRecord();
                break;
              case kOpEdit:
                CheckEngineResult(a->ReadCurrentRecord(mine.span(), true));
                mine.Num<std::int32_t>(3, 999);
                a->ModifyRecord(mine.span(), true);
                break;
              case kOpPost:
                mine.Num<std::int32_t>(3, 999);
                a->ModifyRecord(mine.span(), false);
                break;
            }
          });
          if (c == kRekey) {
            // The record itself: a post without an edit writes the whole
            // stale buffer, old key included.
            EXPECT_EQ(code, 0);
            if (op == kOpDelete || op == kOpCountDelete) {
              want.erase(20);
            } else if (op == kOpEdit) {
              want[20].first = 999;
            } else {
              want.erase(20);
              want[2] = {999, "k2"};
            }
          } else {
            EXPECT_EQ(code, 8710);
          }
          EXPECT_TRUE(a->LockedRecords().empty());
          // After its own delete of the last key the cursor may stand after
          // the last record; else it shows a record that exists.
          Rec shown(*a);
          const std::uint16_t rc = a->ReadCurrentRecord(shown.span(), false);
          if (code != 0 || rc != 8706) {
            ASSERT_EQ(rc, 0);
            EXPECT_TRUE(want.count(*shown.GetNum<std::int32_t>(1))) << "shows a record that is gone";
          }
          a.reset();
          other.reset();
          EXPECT_EQ(contents(path), want);
        }
}

// The record lock of an insert's new slot is never waited for inside the
// insert's write section. Its holder here (as one who stood on a deleted
// record that had the slot) goes on to read, which needs the index, and
// lets the lock go only then: an inserter waiting inside its section would
// keep that read waiting for the index write lock until its own wait ran
// out (10258), far beyond the moment the lock was free to be had.
class SlotLockWatch : public TDataFile {
 public:
  std::function<void(std::uint32_t)> on_wait;
  void LockRecord(std::uint32_t n) override {
    if (on_wait) on_wait(n);
    TDataFile::LockRecord(n);
  }
};

TEST_F(RecordTwoProcessTest, AnInsertWaitsForItsSlotsLockOutsideItsSection) {
  Peer holder([&](Peer& p) {
    auto o = OpenTable(Path("s.dat"), false);
    o->LockRecord(1);  // the slot the insert will take
    p.Send('h');
    if (p.Receive() != 'r') return 1;
    (void)o->RecordCount();
    o->UnlockRecord(1);
    return 0;
  });
  ASSERT_EQ(holder.Receive(), 'h');
  SlotLockWatch t;
  t.SetFileName(Path("s.dat"));
  t.Open();
  t.SetLockRetryCount(255);  // about 5 s: the holder needs milliseconds
  t.SetLockWaitTime(20);
  t.on_wait = [&](std::uint32_t n) {
    if (n == 1) holder.Send('r');
  };
  Rec r(t);
  r.Num<std::int32_t>(1, 5).Num<std::int16_t>(2, 1).Num<std::int32_t>(3, 0);
  EXPECT_EQ(CodeOf([&] { t.InsertRecord(r.span()); }), 0);
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_TRUE(t.LockedRecords().empty());
  EXPECT_EQ(t.RecordCount(), 1u);
}

// Opening while another process inserts: the opener may meet the headers
// half written and must still open (it tries again), never fail.
TEST_F(RecordTwoProcessTest, OpenWhileAnotherProcessInserts) {
  DataTableDefinition def = Definition({Field(1, "Key", FieldType::kInteger), Field(2, "Name", FieldType::kString, 30),
                                        Field(3, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)});
  def.secondary = {datatest::Index("ByName", {2})};
  Create(Path("o.dat"), def);
  Peer writer([&](Peer& p) {
    auto t = OpenTable(Path("o.dat"), false);
    const std::string memo(700, 'x');
    for (int k = 1; p.Receive(0) != 's'; ++k) {
      Rec r(*t);
      r.Num<std::int32_t>(1, k).Str(2, "row " + std::to_string(k * 7919 % 100003));
      if (k % 3 == 0) {
        CheckEngineResult(t->OpenBlobField(false, 3, r.span()));
        CheckEngineResult(t->WriteBlobField(false, 3, memo.data(), 0, 700, r.span()));
      }
      t->InsertRecord(r.span());
      t->FreeBlobBuffers();
      if (k == 1) p.Send('r');
    }
    t->Close();
    return 0;
  });
  ASSERT_EQ(writer.Receive(), 'r');
  // 200 opens rarely meet the window; a few thousand do.
  int failures = 0;
  std::string first_error;
  for (int i = 0; i < 3000; ++i) {
    try {
      OpenTable(Path("o.dat"), false)->Close();
    } catch (const ETolmidEngineError& e) {
      if (failures++ == 0) first_error = e.what();
    }
  }
  writer.Send('s');
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_EQ(failures, 0) << first_error;
  EXPECT_GT(OpenTable(Path("o.dat"), true)->RecordCount(), 0u);  // the table the writer left is whole
}

}  // namespace
}  // namespace storage::rectest
