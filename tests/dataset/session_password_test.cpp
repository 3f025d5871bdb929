// A session's PasswordRequest as the password callback of an engine data
// file: the password an OnPassword handler or the dialog hook adds to the
// session is the one the engine finds when it opens an encrypted table.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "session_test_support.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/field_types.h"

namespace dataset::sessiontest {
namespace {

class SessionPassword : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    char tmpl[] = "/tmp/dataset_pw_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    Session().SetActive(true);
    storage::DataTableDefinition def;
    def.creator1 = 1;
    storage::TFieldDescriptor f;
    f.FieldNumber = 1;
    f.Name.Assign("Id");
    f.FieldType = storage::TypeCode(storage::FieldType::kInteger);
    def.fields = {f};
    def.primary.FieldNumbers[0] = 1;
    def.encrypted = true;
    def.password = "Secret";
    storage::TDataFile t;
    t.SetFileName(Table());
    t.SetExclusive(true);
    t.CreateDataTable(def);
    // Creating puts the password into the creating session: start clean.
    Session().RemoveAllPasswords();
  }
  void TearDown() override {
    SessionTest::TearDown();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Table() const { return dir_ + "/P.DAT"; }

  // Opens the table in session s with its PasswordRequest as callback; the
  // engine code raised, 0 when it opened. Never more than 50 requests.
  int OpenIn(TTolmidSession& s) {
    requests_ = 0;
    SessionLock lock(s);
    storage::TDataFile t;
    t.SetFileName(Table());
    t.SetPasswordCallback([&] { return ++requests_ <= 50 && s.PasswordRequest(); });
    try {
      t.Open();
    } catch (const storage::ETolmidEngineError& e) {
      return e.ErrorCode();
    }
    return 0;
  }

  std::string dir_;
  int requests_ = 0;
};

TEST_F(SessionPassword, OnPasswordAnswersForTheSession) {
  TTolmidSession s(nullptr);
  s.SetSessionName("Work");
  struct Case {
    const char* what;
    std::function<void(TTolmidSession&, bool&)> handler;
    int code;
    int requests;
  };
  const Case cases[] = {
      {"leaves Continue false", [](TTolmidSession&, bool&) {}, 10498, 1},
      {"adds the password", [](TTolmidSession& x, bool& go) { x.AddPassword("Secret"); go = true; }, 0, 1},
      {"adds it but gives up", [](TTolmidSession& x, bool&) { x.AddPassword("Secret"); }, 10498, 1},
      {"wrong case, then right",
       [n = 0](TTolmidSession& x, bool& go) mutable {
         x.AddPassword(++n == 1 ? "secret" : "Secret");
         go = true;
       },
       0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s.RemoveAllPasswords();
    TTolmidSession* sender = nullptr;
    s.OnPassword = [&](TTolmidSession& x, bool& go) {
      sender = &x;
      EXPECT_FALSE(go) << "Continue starts false";
      c.handler(x, go);
    };
    EXPECT_EQ(OpenIn(s), c.code);
    EXPECT_EQ(requests_, c.requests);
    EXPECT_EQ(sender, &s);
  }
  // The password went to that session only: the default one still asks.
  Session().OnPassword = [](TTolmidSession&, bool&) {};
  EXPECT_EQ(OpenIn(Session()), 10498);
  // Once known, nobody is asked.
  EXPECT_EQ(OpenIn(s), 0);
  EXPECT_EQ(requests_, 0);
}

TEST_F(SessionPassword, WithoutOnPasswordTheDialogHookAnswers) {
  TTolmidSession& s = Session();
  // No hook, no handler: the request is declined at once.
  EXPECT_EQ(OpenIn(s), 10498);
  EXPECT_EQ(requests_, 1);

  int shown = 0;
  SetPasswordDialogHook([&](TTolmidSession& asking) {
    ++shown;
    EXPECT_EQ(&asking, &s);
    return false;  // Cancel
  });
  EXPECT_EQ(OpenIn(s), 10498);
  EXPECT_EQ(shown, 1);

  SetPasswordDialogHook([&](TTolmidSession& asking) {
    ++shown;
    asking.AddPassword("Secret");
    return true;  // OK
  });
  EXPECT_EQ(OpenIn(s), 0);
  EXPECT_EQ(shown, 2);

  // OnPassword wins over the dialog.
  s.RemoveAllPasswords();
  s.OnPassword = [](TTolmidSession& x, bool& go) {
    x.AddPassword("Secret");
    go = true;
  };
  EXPECT_EQ(OpenIn(s), 0);
  EXPECT_EQ(shown, 2);
}

}  // namespace
}  // namespace dataset::sessiontest
