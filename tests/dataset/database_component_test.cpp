// The database component: names and the refusals while connected. The
// datasets bound to databases and sessions: the name checks, attaching on
// the first connection flag and detaching on the last, temporary databases
// named by a path, closing a database with datasets on it.
#include <gtest/gtest.h>

#include <memory>

#include "framework/component.h"
#include "dataset/tolmid_query.h"
#include "framework/db/data_link.h"
#include "session_test_support.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::sessiontest {
namespace {

using DatabaseTest = SessionTest;

TEST_F(DatabaseTest, NamesAndTheChecksOnThem) {
  TTolmidDatabase db(nullptr);
  EXPECT_EQ(ErrorOf([&] { db.Open(); }), "Database name is missing.");
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(Session().Active()) << "a refused open starts nothing";
  struct Case {
    const char* name;
    const char* error;
  };
  const Case cases[] = {
      {"C:\\Tables", "Database name C:\\Tables is not valid."},
      {"a:b", "Database name a:b is not valid."},
      {"back\\slash", "Database name back\\slash is not valid."},
      {"/srv/tables", "Database name /srv/tables is not valid."},
      {"Catalogue", ""},
      {"", ""},
      {"Name With Blanks", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTolmidDatabase d(nullptr);
    EXPECT_EQ(ErrorOf([&] { d.SetDatabaseName(c.name); }), c.error);
    EXPECT_EQ(d.DatabaseName(), *c.error ? "" : c.name);
  }
  db.SetDatabaseName("Cat");
  db.SetSessionName("Nowhere");
  EXPECT_EQ(ErrorOf([&] { db.Open(); }), "Session name Nowhere is not valid.");
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.Session(), &Session());
}

TEST_F(DatabaseTest, ConnectedDatabaseRefusesChanges) {
  TTolmidSession other(nullptr);
  other.SetSessionName("Other");
  TTolmidDatabase db(nullptr);
  db.SetDatabaseName("Cat");
  db.SetDirectory("/tmp/cat");
  db.SetConnected(true);
  ASSERT_TRUE(db.Connected());
  EXPECT_TRUE(Session().Active()) << "opening activates the session";
  const std::string open = "Cannot perform this operation on an open database.";
  EXPECT_EQ(ErrorOf([&] { db.SetDatabaseName("Other"); }), open);
  EXPECT_EQ(ErrorOf([&] { db.SetDatabaseName("Cat"); }), "") << "the same name again";
  EXPECT_EQ(ErrorOf([&] { db.SetDirectory("/tmp/x"); }), open);
  EXPECT_EQ(ErrorOf([&] { db.SetSessionName("Other"); }), open);
  EXPECT_EQ(db.DatabaseName(), "Cat");
  EXPECT_EQ(db.Directory(), "/tmp/cat");
  EXPECT_EQ(db.SessionName(), "Default");
  db.SetConnected(false);
  EXPECT_EQ(ErrorOf([&] { db.SetDirectory("/tmp/x"); }), "");
  EXPECT_EQ(ErrorOf([&] { db.SetSessionName("Other"); }), "");
  EXPECT_EQ(db.Session(), &other) << "re-resolved at once";
  EXPECT_FALSE(other.Active()) << "but not activated";
  db.Open();
  EXPECT_TRUE(other.Active());
  EXPECT_EQ(other.FindDatabase("cat"), &db);
  EXPECT_EQ(Session().FindDatabase("Cat"), nullptr);
}

}  // namespace
}  // namespace dataset::sessiontest

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
