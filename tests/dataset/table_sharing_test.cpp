// One table shared by two cursors (a table component and a live query, as
// the catalogue uses them) and by two processes: a record being edited in
// one refuses Edit in the other with the engine's lock error once the
// lock retries are spent, and a record added by one is seen by the other
// after its next move. Lock retries are kept tiny: no test waits.
#include <gtest/gtest.h>

#include "dataset/tolmid_query.h"
#include "tests/common/forked_peer.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::Variant;

constexpr int kRecordInUse = 10258;

class TableSharing : public DataSetTest {
 protected:
  void SetUp() override {
    DataSetTest::SetUp();
    TTolmidTable* t = CreateTable("shared.dat",
                                  {{"ID", TFieldType::ftAutoInc, 0, true},
                                   {"Name", TFieldType::ftString, 20}},
                                  {{"", "ID", kPrimary}});
    t->Open();
    for (const char* n : {"one", "two", "three"}) t->AppendRecord({Variant(), Variant(n)});
    t->Close();
  }
  TTolmidTable* OpenShared() {
    TTolmidTable* t = NewTable("shared.dat");
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

}  // namespace
}  // namespace dataset::dstest
