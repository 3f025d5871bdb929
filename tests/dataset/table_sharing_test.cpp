// One table shared by two cursors (a table component and a live query, as
// the catalogue uses them) and by two processes: a record being edited in
// one refuses Edit in the other with the engine's lock error once the
// lock retries are spent, a cancelled edit frees the record, a record
// added by one is seen by the other after its next move, and a record
// deleted by one is never taken for its neighbour by the other. Lock
// retries are kept tiny: no test waits.
#include <gtest/gtest.h>

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
    auto* source = new fw::TDataSource(owner_.get());
    source->SetDataSet(t);
    fw::TDataLink grid;
    grid.SetBufferCount(rows);
    grid.SetDataSource(source);
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
