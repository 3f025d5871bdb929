// Datasets bound to databases and sessions: the name checks, attaching on
// the first connection flag and detaching on the last, temporary databases
// named by a path, closing a database with datasets on it.
#include <gtest/gtest.h>

#include "dataset/tolmid_query.h"
#include "framework/db/data_link.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::Variant;

class DBDataSet : public DataSetTest {
 protected:
  void SetUp() override {
    DataSetTest::SetUp();
    TTolmidTable* t = CreateTable("t.dat", {{"A", TFieldType::ftInteger, 0, true}}, {{"", "A", kPrimary}});
    t->Open();
    t->AppendRecord({Variant(1)});
    delete t;
  }
};

TEST_F(DBDataSet, NamesAreChecked) {
  TTolmidTable* t = NewTable("t.dat");
  t->Open();
  EXPECT_EQ(ErrorOf([&] { t->SetDatabaseName("Other"); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { t->SetSessionName("Other"); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(t->Database(), db_);
  EXPECT_EQ(t->DBFlags(), 1);
  EXPECT_EQ(db_->DataSetCount(), 1);
  t->Close();
  EXPECT_EQ(t->Database(), nullptr);
  EXPECT_EQ(db_->DataSetCount(), 0);

  // A prepared query holds its database: its name cannot change.
  auto* q = new TTolmidQuery(owner_.get());
  q->SetDatabaseName("DB");
  q->SetSQLText("select * from t");
  q->Prepare();
  EXPECT_EQ(ErrorOf([&] { q->SetDatabaseName("Other"); }),
            "Cannot perform this operation on an open database.");
  EXPECT_EQ(ErrorOf([&] { q->SetDatabaseName("DB"); }), "");  // unchanged: no check
  q->UnPrepare();
  EXPECT_EQ(q->Database(), nullptr);
  q->SetDatabaseName("Other");

  TTolmidTable* bad = NewTable("t.dat");
  bad->SetSessionName("NoSuchSession");
  EXPECT_EQ(ErrorOf([&] { bad->Open(); }), "Session name NoSuchSession is not valid.");
  EXPECT_EQ(bad->DBFlags(), 0);
}

TEST_F(DBDataSet, PathDatabaseIsTemporaryAndCounted) {
  TTolmidTable* t = NewTable("t.dat");
  t->SetDatabaseName(dir_);  // a path: no database component of that name
  t->Open();
  TTolmidDatabase* temp = t->Database();
  ASSERT_NE(temp, nullptr);
  EXPECT_TRUE(temp->Temporary());
  EXPECT_EQ(temp->Directory(), dir_);
  EXPECT_EQ(temp->RefCount(), 1);
  EXPECT_EQ(t->RecordCount(), 1);
  TTolmidTable* t2 = NewTable("t.dat");
  t2->SetDatabaseName(dir_);
  t2->Open();
  EXPECT_EQ(t2->Database(), temp);
  EXPECT_EQ(temp->RefCount(), 2);
  t2->Close();
  t->Close();
  EXPECT_EQ(temp->RefCount(), 0);
  EXPECT_TRUE(temp->Connected());  // the session keeps connections

  // Closing a database closes the datasets on it.
  TTolmidTable* on_db = NewTable("t.dat");
  on_db->Open();
  db_->Close();
  EXPECT_FALSE(on_db->Active());
  EXPECT_EQ(on_db->Database(), nullptr);
}

}  // namespace
}  // namespace dataset::dstest
