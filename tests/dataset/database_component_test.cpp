// The database component: names and the refusals while connected. The
// datasets bound to databases and sessions: the name checks, attaching on
// the first connection flag and detaching on the last, temporary databases
// named by a path, closing a database with datasets on it, connections
// kept or not, shared handles, and a table's password asked through the
// session.
#include <gtest/gtest.h>

#include <memory>

#include "framework/component.h"
#include "dataset/tolmid_query.h"
#include "framework/db/data_link.h"
#include "session_test_support.h"
#include "tests/common/encrypted_table.h"
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

// A database that no dataset uses stays connected while KeepConnection is
// on and closes when it goes off; a temporary one is freed then, and when
// its session stops.
TEST_F(DBDataSet, UnusedDatabasesCloseOrGo) {
  TTolmidTable* t = NewTable("t.dat");
  t->Open();
  t->Close();
  EXPECT_TRUE(db_->Connected());
  db_->SetKeepConnection(false);
  EXPECT_FALSE(db_->Connected());
  t->Open();
  EXPECT_TRUE(db_->Connected());
  t->Close();
  EXPECT_FALSE(db_->Connected());

  TTolmidTable* by_path = NewTable("t.dat");
  by_path->SetDatabaseName(dir_);
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    Session().SetKeepConnections(keep);
    by_path->Open();
    ASSERT_NE(Session().FindDatabase(dir_), nullptr);
    by_path->Close();
    EXPECT_EQ(Session().FindDatabase(dir_) != nullptr, keep);
  }
  Session().SetActive(false);
  EXPECT_EQ(Session().FindDatabase(dir_), nullptr);
  EXPECT_EQ(Session().FindDatabase("DB"), db_);
}

// Database components of one name may exist side by side when both share
// their handle; only the first connects itself, and a dataset takes the one
// of its own owner.
TEST_F(DBDataSet, SharedHandles) {
  testsupport::ScratchDir other_dir;
  TTolmidTable* t = CreateTable("two.dat", {{"A", TFieldType::ftInteger, 0, true}}, {{"", "A", kPrimary}});
  t->SetDatabaseName("Shared");
  std::vector<std::unique_ptr<fw::TComponent>> owners;
  std::vector<TTolmidDatabase*> dbs;
  for (const std::string& dir : {dir_, other_dir.path()}) {
    owners.push_back(std::make_unique<fw::TComponent>(nullptr));
    auto* d = new TTolmidDatabase(owners.back().get());
    d->SetHandleShared(true);
    d->SetDatabaseName(dbs.empty() ? "Shared" : "SHARED");
    d->SetDirectory(dir);
    dbs.push_back(d);
  }
  auto* lone = new TTolmidDatabase(owner_.get());
  EXPECT_EQ(ErrorOf([&] { lone->SetDatabaseName("shared"); }), "Database name shared already exists.");
  int opened = 0;
  Session().OnDatabaseEvent = [&](TTolmidSession::DatabaseEvent e, TTolmidDatabase&) {
    opened += e == TTolmidSession::DatabaseEvent::kOpened;
  };
  for (TTolmidDatabase* d : dbs) d->Open();
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(dbs[1]->Connected());
  Session().OnDatabaseEvent = nullptr;
  auto* theirs = new TTolmidTable(owners[1].get());
  theirs->SetDatabaseName("Shared");
  theirs->SetTableName("two.dat");
  EXPECT_EQ(CodeOf([&] { theirs->Open(); }), 11010) << "the table is not in the second owner's directory";
  t->Open();  // the fixture's owner has no database of that name: the first one
  EXPECT_EQ(t->Database(), dbs[0]);
  t->Close();
}

// A table with a password asks the session: its OnPassword handler, else
// the password dialog; a session that gives up makes the open fail with
// engine error 10498.
TEST_F(DBDataSet, PasswordAskedThroughTheSession) {
  testsupport::CreateEncryptedTable(Path("secret.dat"), "Secret");
  TTolmidTable* t = NewTable("secret.dat");
  TTolmidSession& s = Session();
  const PasswordDialogHook previous = SetPasswordDialogHook(nullptr);
  int asked = 0;
  auto answer = [&](const char* password, bool again) {
    return [&asked, password, again](TTolmidSession& sender, bool& continue_) {
      ++asked;
      if (*password != '\0') sender.AddPassword(password);
      continue_ = again && asked < 3;
    };
  };
  const struct {
    const char* what;
    TTolmidSession::TTolmidPasswordEvent handler;
    bool dialog;  // with a dialog that types the password and says OK
    int asked;
    int code;
  } cases[] = {
      {"no handler, no dialog", nullptr, false, 0, 10498},
      {"handler gives up", answer("", false), false, 1, 10498},
      {"wrong password, asked again", answer("secret", true), false, 3, 10498},
      {"handler gives the password", answer("Secret", true), false, 1, 0},
      {"dialog", nullptr, true, 0, 0},
      {"handler before dialog", answer("", false), true, 1, 10498},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    s.RemoveAllPasswords();
    asked = 0;
    s.OnPassword = c.handler;
    SetPasswordDialogHook(c.dialog ? PasswordDialogHook([](TTolmidSession& sender) {
      sender.AddPassword("Secret");
      return true;
    })
                                   : nullptr);
    EXPECT_EQ(CodeOf([&] { t->Open(); }), c.code);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(t->Active(), c.code == 0);
    t->Close();
  }
  s.OnPassword = nullptr;
  SetPasswordDialogHook(previous);
}

}  // namespace
}  // namespace dataset::dstest
