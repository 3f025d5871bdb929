// The database component: names and the refusals while connected.
#include <gtest/gtest.h>

#include <memory>

#include "framework/component.h"
#include "session_test_support.h"

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
