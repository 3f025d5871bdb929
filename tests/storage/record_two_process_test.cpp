// Two real processes insert into and update the same shared table at once:
// no record may be lost or doubled, no update lost (every update adds one
// to a counter under the record's lock), every index stays consistent; and
// a record being edited in one process refuses the other's edit with 10258.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace storage::rectest
