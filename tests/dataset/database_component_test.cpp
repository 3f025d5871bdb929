// The database component: names, the refusals while connected, the session
// it belongs to, shared handles, temporary databases made by a session and
// the datasets attached to a database.
#include <gtest/gtest.h>

#include <memory>

#include "framework/component.h"
#include "session_test_support.h"

namespace dataset::sessiontest {
namespace {

using DatabaseTest = SessionTest;

// A dataset as a database sees it: Disconnect detaches it (or, when told
// not to, forgets to).
class FakeDataSet : public AttachedDataSet {
 public:
  FakeDataSet(TTolmidDatabase* db, bool detaches) : db_(db), detaches_(detaches) {
    db_->AddDataSet(this);
  }
  void Disconnect() override {
    ++disconnects;
    if (detaches_) db_->RemoveDataSet(this);
  }
  int disconnects = 0;

 private:
  TTolmidDatabase* db_;
  bool detaches_;
};

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

TEST_F(DatabaseTest, SessionMakesTemporaryDatabases) {
  TTolmidSession& def = Session();
  def.SetKeepConnections(false);
  TTolmidDatabase* t = def.OpenDatabase("/srv/tables", nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(def.Active());
  EXPECT_TRUE(t->Temporary());
  EXPECT_TRUE(t->Connected());
  EXPECT_EQ(t->Owner(), &def);
  EXPECT_EQ(t->RefCount(), 1);
  EXPECT_FALSE(t->KeepConnection());
  EXPECT_EQ(t->Directory(), "/srv/tables") << "a temporary database named by a path is that path";
  EXPECT_EQ(def.OpenDatabase("/SRV/TABLES", nullptr), t) << "found again";
  EXPECT_EQ(t->RefCount(), 2);
  def.CloseDatabase(t);
  EXPECT_EQ(def.DatabaseCount(), 1);
  def.CloseDatabase(t);  // the last user: freed
  EXPECT_EQ(def.DatabaseCount(), 0);
  EXPECT_EQ(def.ComponentCount(), 0);

  // KeepConnections on: a temporary database outlives its users.
  def.SetKeepConnections(true);
  TTolmidDatabase* kept = def.OpenDatabase("Pets", nullptr);
  def.CloseDatabase(kept);
  ASSERT_EQ(def.DatabaseCount(), 1);
  EXPECT_TRUE(kept->Connected());
  EXPECT_EQ(kept->Directory(), "") << "not a path: no directory of its own";
  // A component taking its name while it is unused makes it go away ...
  TTolmidDatabase named(nullptr);
  named.SetDatabaseName("pets");
  EXPECT_EQ(def.DatabaseCount(), 1);
  EXPECT_EQ(def.FindDatabase("Pets"), &named);
  // ... and a named component is what OpenDatabase finds and counts.
  EXPECT_EQ(def.OpenDatabase("PETS", nullptr), &named);
  EXPECT_TRUE(named.Connected());
  EXPECT_EQ(named.RefCount(), 1);
  // A temporary one still in use keeps its name.
  TTolmidDatabase* busy = def.OpenDatabase("Busy", nullptr);
  TTolmidDatabase other(nullptr);
  EXPECT_EQ(ErrorOf([&] { other.SetDatabaseName("Busy"); }), "Database name Busy already exists.");
  // Stopping the session frees its temporary databases and closes the rest.
  (void)busy;
  def.SetActive(false);
  EXPECT_FALSE(named.Connected());
  EXPECT_EQ(def.FindDatabase("Busy"), nullptr);
}

TEST_F(DatabaseTest, ClosingDisconnectsEveryAttachedDataSet) {
  TTolmidDatabase db(nullptr);
  db.SetDatabaseName("D");
  db.Open();
  FakeDataSet a(&db, true), b(&db, false), c(&db, true);
  ASSERT_EQ(db.DataSetCount(), 3);
  db.Close();
  EXPECT_EQ(db.DataSetCount(), 0);
  EXPECT_EQ(a.disconnects + b.disconnects + c.disconnects, 3);
  EXPECT_EQ(db.RefCount(), 0);
  EXPECT_FALSE(db.Connected());
}

}  // namespace
}  // namespace dataset::sessiontest
