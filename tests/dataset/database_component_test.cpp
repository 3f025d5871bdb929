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
