// One table shared by two cursors (a table component and a live query, as
// the catalogue uses them) and by two processes: a record being edited in
// one refuses Edit in the other with the engine's lock error once the
// lock retries are spent, a cancelled edit frees the record, a record
// added by one is seen by the other after its next move, a record
// deleted by one is never taken for its neighbour by the other, nor for
// the record that later took its slot, and a walk of the other meets
// every record it did not delete. Lock retries are kept tiny: no test
// waits.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>

#include "dataset/tolmid_query.h"
#include "framework/db/data_link.h"
#include "tests/common/forked_peer.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::Variant;

constexpr int kRecordInUse = 10258;
constexpr int kRecordNotFound = 8710;

class TableSharing : public DataSetTest {
 protected:
  void SetUp() override {
    DataSetTest::SetUp();
    MakeTable("shared.dat");
  }
  // Records "one", "two", "three" with IDs 1 to 3.
  void MakeTable(const std::string& name) {
    TTolmidTable* t = CreateTable(name,
                                  {{"ID", TFieldType::ftAutoInc, 0, true},
                                   {"Name", TFieldType::ftString, 20}},
                                  {{"", "ID", kPrimary}});
    t->Open();
    for (const char* n : {"one", "two", "three"}) t->AppendRecord({Variant(), Variant(n)});
    t->Close();
  }
  TTolmidTable* OpenShared(const std::string& name = "shared.dat") {
    TTolmidTable* t = NewTable(name);
    t->SetLockRetryCount(2);
    t->SetLockWaitTime(1);
    t->Open();
    return t;
  }
  // Puts d behind a data link that buffers rows rows, as a grid does.
  void ShowInGrid(fw::TDataSet* d, fw::TDataLink& grid, int rows) {
    auto* source = new fw::TDataSource(owner_.get());
    source->SetDataSet(d);
    grid.SetBufferCount(rows);
    grid.SetDataSource(source);
  }
};

TEST_F(TableSharing, TableAndLiveQueryOnOneTable) {
  TTolmidTable* t = OpenShared();
  auto* q = new TTolmidQuery(owner_.get());
  q->SetDatabaseName("DB");
  q->SetRequestLive(true);
  q->SetLockRetryCount(2);
  q->SetLockWaitTime(1);
  q->SetSQLText("select * from shared");
  q->Open();
  ASSERT_NE(q->Handle(), t->Handle());
  EXPECT_EQ(q->Handle()->LockRetryCount(), 2);
  EXPECT_EQ(q->Handle()->LockWaitTime(), 1);
  EXPECT_TRUE(q->CanModify());

  t->First();
  t->Edit();
  t->FieldByName("Name")->SetAsString("ONE");
  q->First();
  EXPECT_EQ(CodeOf([&] { q->Edit(); }), kRecordInUse);
  EXPECT_EQ(q->State(), fw::TDataSetState::dsBrowse);
  q->Next();
  q->Edit();  // another record is free
  q->FieldByName("Name")->SetAsString("TWO");
  q->Post();
  t->Post();
  q->First();
  EXPECT_EQ(q->FieldByName("Name")->AsString(), "ONE");
  q->Edit();  // free again
  q->Cancel();

  t->AppendRecord({Variant(), Variant("four")});
  q->Last();
  EXPECT_EQ(q->FieldByName("Name")->AsString(), "four");
  EXPECT_EQ(q->RecordCount(), 4);
  q->AppendRecord({Variant(), Variant("five")});
  t->Next();
  t->Last();
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "five");
}

TEST_F(TableSharing, TwoProcesses) {
  // The peer process: its own table component (own file handles and locks).
  TTolmidTable* theirs = nullptr;
  testsupport::ForkedPeer peer([&](const std::string& command) -> std::string {
    try {
      if (command == "edit") {
        theirs = OpenShared();
        theirs->First();
        theirs->Edit();
        theirs->FieldByName("Name")->SetAsString("child");
      } else {
        theirs->Post();
        theirs->AppendRecord({Variant(), Variant("from child")});
        theirs->Close();
      }
      return "ok";
    } catch (const std::exception& e) {
      return e.what();
    }
  });
  ASSERT_EQ(peer.Do("edit"), "ok");
  TTolmidTable* t = OpenShared();
  t->First();
  EXPECT_EQ(CodeOf([&] { t->Edit(); }), kRecordInUse);
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "one");
  ASSERT_EQ(peer.Do("post"), "ok");
  t->Last();
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "from child");
  EXPECT_EQ(t->RecordCount(), 4);
  t->First();
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "child");
  t->Edit();
  t->Cancel();
}

// The table shows "two"; a live query on the same table, or another
// program, deletes it. Delete, or Edit and Post, of the table then raise
// the engine's "Record not found" and change nothing: "three" keeps its
// value. The table shows a record that exists. With a grid's window of
// rows the table's cursor goes back to "two" by its bookmark first.
TEST_F(TableSharing, ARecordDeletedElsewhereIsNotTakenForItsNeighbour) {
  for (int row = 0; row < 8; ++row) {
    const bool forked = (row & 4) != 0, edit = (row & 2) != 0;
    const int rows = (row & 1) != 0 ? 5 : 1;
    SCOPED_TRACE(testing::Message() << "forked " << forked << " edit " << edit << " rows " << rows);
    const std::string name = "gone" + std::to_string(row);
    MakeTable(name + ".dat");
    TTolmidTable* t = OpenShared(name + ".dat");
    fw::TDataLink grid;
    ShowInGrid(t, grid, rows);
    t->First();
    t->Next();
    ASSERT_EQ(t->FieldByName("Name")->AsString(), "two");
    if (forked) {
      testsupport::ForkedPeer peer([&](const std::string&) -> std::string {
        try {
          TTolmidTable* o = OpenShared(name + ".dat");
          o->First();
          o->Next();
          o->Delete();
          o->Close();
          return "ok";
        } catch (const std::exception& e) {
          return e.what();
        }
      });
      ASSERT_EQ(peer.Do("delete"), "ok");
    } else {
      auto* q = new TTolmidQuery(owner_.get());
      q->SetDatabaseName("DB");
      q->SetRequestLive(true);
      q->SetSQLText("select * from " + name);
      q->Open();
      q->First();
      q->Next();
      q->Delete();
      q->Close();
    }
    std::string message;
    try {
      if (edit) {
        t->Edit();
        t->FieldByName("Name")->SetAsString("meant for two");
        t->Post();
      } else {
        t->Delete();
      }
    } catch (const storage::ETolmidEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), kRecordNotFound);
      message = e.what();
    }
    EXPECT_EQ(message.rfind("Tolmid Engine Error # 8710 Record not found in data file ", 0), 0u) << message;
    EXPECT_EQ(t->State(), fw::TDataSetState::dsBrowse);
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "three");
    t->Close();
    t->Open();
    std::vector<std::string> names;
    for (t->First(); !t->Eof(); t->Next()) names.push_back(t->FieldByName("Name")->AsString());
    EXPECT_EQ(names, (std::vector<std::string>{"one", "three"}));
    t->Close();
    grid.SetDataSource(nullptr);
  }
}

class TableSharingNumbered : public TableSharing {
 protected:
  // Num (primary) 10, 20, ... and Name "n10", "n20", ...
  void MakeNumberedTable(const std::string& name, int count) {
    TTolmidTable* t = CreateTable(name, {{"Num", TFieldType::ftInteger, 0, true}, {"Name", TFieldType::ftString, 20}},
                                  {{"", "Num", kPrimary}});
    t->Open();
    for (int k = 1; k <= count; ++k) t->AppendRecord({Variant(k * 10), Variant("n" + std::to_string(k * 10))});
    t->Close();
  }
  // Stands o on the record whose Num is num.
  static void Find(TTolmidTable& o, int num) {
    if (!o.Locate("Num", {Variant(num)}, {})) throw std::runtime_error("no Num " + std::to_string(num));
  }
  // Num -> Name of every record, read afresh.
  std::map<int, std::string> Contents(const std::string& name) {
    TTolmidTable* t = NewTable(name);
    t->Open();
    std::map<int, std::string> out;
    for (t->First(); !t->Eof(); t->Next()) out[t->FieldByName("Num")->AsInteger()] = t->FieldByName("Name")->AsString();
    t->Close();
    return out;
  }
  // Runs change on a second table component on name: in this process, or
  // in a forked one.
  void Elsewhere(bool forked, const std::string& name, const std::function<void(TTolmidTable&)>& change) {
    if (!forked) {
      TTolmidTable* o = OpenShared(name);
      change(*o);
      o->Close();
      return;
    }
    testsupport::ForkedPeer peer([&](const std::string&) -> std::string {
      try {
        TTolmidTable* o = OpenShared(name);
        change(*o);
        o->Close();
        return "ok";
      } catch (const std::exception& e) {
        return e.what();
      }
    });
    ASSERT_EQ(peer.Do("change"), "ok");
  }
};

// A grid (or a single row) shows Num 30; another user deletes 30 and adds
// 99, which takes 30's slot. Delete, and Edit with Post, of the row that
// shows 30 raise "Record not found" and change nothing; 30's bookmark is
// not valid, and GotoBookmark does not take 99 for it.
TEST_F(TableSharingNumbered, ARecordInTheSlotOfAGoneOneIsNeverTakenForIt) {
  enum Op { kDelete, kEdit, kBookmark };
  int row = 0;
  for (const bool forked : {false, true})
    for (const int rows : {1, 5})
      for (const Op op : {kDelete, kEdit, kBookmark}) {
        SCOPED_TRACE(testing::Message() << "forked " << forked << " rows " << rows << " op " << op);
        const std::string name = "slot" + std::to_string(++row) + ".dat";
        MakeNumberedTable(name, 5);
        TTolmidTable* t = OpenShared(name);
        fw::TDataLink grid;
        ShowInGrid(t, grid, rows);
        t->First();
        t->Next();
        t->Next();
        ASSERT_EQ(t->FieldByName("Num")->AsInteger(), 30);
        const fw::TBookmark thirty = t->GetBookmark();
        Elsewhere(forked, name, [](TTolmidTable& o) {
          Find(o, 30);
          o.Delete();
          o.AppendRecord({Variant(99), Variant("n99")});
        });
        {
          // 99 has taken the third slot, the one 30 had.
          storage::TDataFile f;
          f.SetFileName(Path(name));
          f.SetReadOnly(true);
          f.Open();
          const storage::RecordPin r(f.GetRecordBuffer(3, false, storage::ReadDirection::kForward, false));
          std::int32_t num = 0;
          bool blank = true;
          f.GetFieldValue(false, 1, blank, &num, r->Data());
          ASSERT_EQ(num, 99);
        }
        int code = 0;
        switch (op) {
          case kDelete:
            code = CodeOf([&] { t->Delete(); });
            break;
          case kEdit:
            code = CodeOf([&] {
              t->Edit();
              EXPECT_NE(t->FieldByName("Name")->AsString(), "n99");
              t->FieldByName("Name")->SetAsString("meant for 30");
              t->Post();
            });
            break;
          case kBookmark:
            EXPECT_FALSE(t->BookmarkValid(thirty));
            t->GotoBookmark(thirty);
            EXPECT_NE(t->FieldByName("Num")->AsInteger(), 99);
            break;
        }
        EXPECT_EQ(code, op == kBookmark ? 0 : kRecordNotFound);
        EXPECT_EQ(t->State(), fw::TDataSetState::dsBrowse);
        t->Close();
        grid.SetDataSource(nullptr);
        EXPECT_EQ(Contents(name),
                  (std::map<int, std::string>{{10, "n10"}, {20, "n20"}, {40, "n40"}, {50, "n50"}, {99, "n99"}}));
      }
}

// A First/Next walk, through a table with one row or a grid's five or
// through a live query, while another user deletes the record the walk's
// cursor stands on (60: the row shown, which is the last row the grid has
// read): every record is met once, none after 60 is skipped.
TEST_F(TableSharingNumbered, AWalkMeetsEveryRecordWhenAnotherUserDeletesItsRecord) {
  enum Walker { kOneRow, kGrid, kLiveQuery };
  int row = 0;
  for (const bool forked : {false, true})
    for (const Walker walker : {kOneRow, kGrid, kLiveQuery}) {
      SCOPED_TRACE(testing::Message() << "forked " << forked << " walker " << walker);
      const std::string name = "walk" + std::to_string(++row);
      MakeNumberedTable(name + ".dat", 10);
      fw::TDataSet* d;
      if (walker == kLiveQuery) {
        auto* q = new TTolmidQuery(owner_.get());
        q->SetDatabaseName("DB");
        q->SetRequestLive(true);
        q->SetSQLText("select * from " + name);
        q->Open();
        d = q;
      } else {
        d = OpenShared(name + ".dat");
      }
      fw::TDataLink grid;
      ShowInGrid(d, grid, walker == kGrid ? 5 : 1);
      std::vector<int> met;
      for (d->First(); !d->Eof(); d->Next()) {
        met.push_back(d->FieldByName("Num")->AsInteger());
        if (met.back() == 60) {
          Elsewhere(forked, name + ".dat", [](TTolmidTable& o) {
            Find(o, 60);
            o.Delete();
          });
        }
      }
      EXPECT_EQ(met, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
      d->Close();
      grid.SetDataSource(nullptr);
    }
}

TEST_F(TableSharing, CancelReleasesTheRecordLock) {
  TTolmidTable* t = OpenShared();
  TTolmidTable* other = OpenShared();
  t->First();
  t->Edit();
  t->FieldByName("Name")->SetAsString("not kept");
  t->Cancel();
  other->First();
  EXPECT_EQ(CodeOf([&] { other->Edit(); }), 0);
  other->Cancel();
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "one");
}

}  // namespace
}  // namespace dataset::dstest
