// Sessions and the session list: the default session, names, starting and
// stopping the engine sessions, the nesting session lock, and the
// component-misuse messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "framework/component.h"
#include "session_test_support.h"

namespace dataset::sessiontest {
namespace {

using M = ComponentMessage;

TEST_F(SessionTest, TheListStartsWithTheDefaultSession) {
  TTolmidSessionList& list = Sessions();
  ASSERT_EQ(list.Count(), 1);
  TTolmidSession& def = Session();
  EXPECT_EQ(list.Sessions(0), &def);
  EXPECT_TRUE(def.IsDefault());
  EXPECT_EQ(def.SessionName(), "Default");
  EXPECT_FALSE(def.Active());
  EXPECT_FALSE(storage::EngineInitialized());
  EXPECT_TRUE(def.KeepConnections());

  TTolmidSession s(nullptr);
  s.SetSessionName("Second");
  EXPECT_FALSE(s.IsDefault());
  struct Case {
    const char* name;
    TTolmidSession* found;
  };
  const Case cases[] = {{"", &def}, {"Default", &def}, {"DEFAULT", &def}, {"second", &s},
                        {"Secon", nullptr}, {"Second ", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(list.FindSession(c.name), c.found);
    if (c.found != nullptr) {
      EXPECT_EQ(&list.GetSession(c.name), c.found);
    } else {
      EXPECT_EQ(ErrorOf([&] { (void)list.GetSession(c.name); }),
                FormatComponentMessage(M::kInvalidSessionName, c.name));
    }
  }
}

TEST_F(SessionTest, SessionNamesAreUniqueIgnoringCase) {
  TTolmidSession a(nullptr), b(nullptr);
  EXPECT_EQ(ErrorOf([&] { a.SetSessionName("Work"); }), "");
  EXPECT_EQ(ErrorOf([&] { a.SetSessionName("WORK"); }), "");  // its own name
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("work"); }), "Session name work already exists.");
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("default"); }), "Session name default already exists.");
  EXPECT_EQ(b.SessionName(), "");
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName(""); }), "");
  // A freed session's name is free again.
  {
    TTolmidSession c(nullptr);
    c.SetSessionName("Temp");
  }
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("Temp"); }), "");
}

TEST_F(SessionTest, StartingAndStoppingEngineSessions) {
  TTolmidSession& def = Session();
  TTolmidSession s(nullptr);
  int startups = 0;
  s.OnStartup = [&](TTolmidSession& sender) {
    EXPECT_EQ(&sender, &s);
    ++startups;
  };
  // No name: OnStartup has run, the session stays inactive and so does the
  // engine.
  EXPECT_EQ(ErrorOf([&] { s.SetActive(true); }), "Session name is missing.");
  EXPECT_EQ(startups, 1);
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(def.Active());

  s.SetSessionName("S");
  s.SetActive(true);
  EXPECT_EQ(startups, 2);
  ASSERT_TRUE(s.Active());
  ASSERT_TRUE(def.Active()) << "the default session starts first";
  EXPECT_TRUE(storage::EngineInitialized());
  EXPECT_NE(s.Handle(), def.Handle());
  EXPECT_EQ(ErrorOf([&] { s.SetSessionName("T"); }), "Cannot perform this operation on an active session.");
  EXPECT_EQ(ErrorOf([&] { s.SetAutoSessionName(true); }),
            "Cannot perform this operation on an active session.");
  s.SetActive(true);  // nothing
  EXPECT_EQ(startups, 2);

  // Stopping a non-default session leaves the engine running on the default.
  s.LockSession();
  EXPECT_EQ(storage::CurrentSession(), s.Handle());
  s.UnlockSession();
  s.SetActive(false);
  EXPECT_FALSE(s.Active());
  EXPECT_TRUE(def.Active());
  EXPECT_TRUE(storage::EngineInitialized());
  EXPECT_EQ(storage::CurrentSession(), def.Handle());

  // Stopping the default session stops every other one first, then the
  // engine: no session is left on an engine that is gone.
  s.SetActive(true);
  TTolmidSession t(nullptr);
  t.SetSessionName("T");
  t.SetActive(true);
  def.SetActive(false);
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(t.Active());
  EXPECT_FALSE(storage::EngineInitialized());
  // And it all starts again.
  t.SetActive(true);
  EXPECT_TRUE(def.Active());
  EXPECT_TRUE(storage::EngineInitialized());
}

TEST_F(SessionTest, SessionLockNestsAndExcludesOtherThreads) {
  TTolmidSession s(nullptr);
  s.SetSessionName("L");
  auto other_thread_gets_lock = [] {
    bool got = false;
    std::thread t([&] {
      got = Sessions().Lock().TryEnter();
      if (got) Sessions().Lock().Leave();
    });
    t.join();
    return got;
  };
  s.LockSession();
  ASSERT_TRUE(s.Active());
  EXPECT_EQ(storage::CurrentSession(), s.Handle());
  s.LockSession();
  s.UnlockSession();
  EXPECT_FALSE(other_thread_gets_lock());
  s.UnlockSession();
  EXPECT_TRUE(other_thread_gets_lock());
  s.UnlockSession();  // unbalanced: nothing
  EXPECT_TRUE(other_thread_gets_lock());

  // A start that fails inside LockSession leaves the lock and the depth.
  TTolmidSession unnamed(nullptr);
  EXPECT_EQ(ErrorOf([&] { unnamed.LockSession(); }), "Session name is missing.");
  EXPECT_TRUE(other_thread_gets_lock());
  EXPECT_EQ(ErrorOf([&] { unnamed.AddPassword("x"); }), "Session name is missing.");
  EXPECT_TRUE(other_thread_gets_lock());
  unnamed.SetSessionName("Named");
  unnamed.AddPassword("x");
  EXPECT_TRUE(unnamed.Handle()->HasPassword("x"));
  EXPECT_TRUE(other_thread_gets_lock());
}

TEST_F(SessionTest, FinalizeFreesEverySessionAndStopsTheEngine) {
  auto* owned = new fw::TComponent(nullptr);
  auto* s = new TTolmidSession(owned);
  s->SetSessionName("Owned");
  s->SetActive(true);
  auto* loose = new TTolmidSession(nullptr);
  loose->SetSessionName("Loose");
  loose->SetActive(true);
  FinalizeSessions();  // frees both sessions; the owner loses its component
  EXPECT_EQ(owned->ComponentCount(), 0);
  EXPECT_FALSE(storage::EngineInitialized());
  delete owned;
  // A fresh list starts with a fresh default session.
  EXPECT_EQ(Sessions().Count(), 1);
  EXPECT_EQ(Session().SessionName(), "Default");
}

// The component-misuse messages with the name filled into "%s" as it
// stands.
TEST(ComponentMessages, RaisedAsDatabaseErrorWithTheNameFilledIn) {
  struct Case {
    ComponentMessage id;
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {ComponentMessage::kUnknownFieldType, "Price", "Field 'Price' is of unknown type"},
      {ComponentMessage::kUnsupportedFieldType, "P", "Field 'P' is of an unsupported type"},
      {ComponentMessage::kNoParameterValue, "Id", "No value for parameter 'Id'"},
      {ComponentMessage::kCannotAccessField, "Memo", "Cannot access field Memo."},
      {ComponentMessage::kDuplicateDatabaseName, "DB", "Database name DB already exists."},
      {ComponentMessage::kDuplicateSessionName, "S", "Session name S already exists."},
      {ComponentMessage::kInvalidSessionName, "", "Session name  is not valid."},
      {ComponentMessage::kInvalidDatabaseName, "C:\\x", "Database name C:\\x is not valid."},
      // A name is text, never a format of its own.
      {ComponentMessage::kInvalidSessionName, "%s%d%%", "Session name %s%d%% is not valid."},
      // Texts without "%s" ignore the name.
      {ComponentMessage::kDatabaseNameMissing, "X", "Database name is missing."},
      {ComponentMessage::kSessionActive, "X", "Cannot perform this operation on an active session."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(FormatComponentMessage(c.id, c.name), c.message);
    try {
      RaiseComponentError(c.id, c.name);
      ADD_FAILURE() << "nothing raised";
    } catch (const fw::EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace dataset::sessiontest
