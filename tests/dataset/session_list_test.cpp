// Sessions and the session list: the default session, names, starting and
// stopping the engine sessions, the nesting session lock, the private
// directory, automatic session names, and the component-misuse messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "dataset/tolmid_table.h"
#include "framework/component.h"
#include "framework/sysutils.h"
#include "session_test_support.h"

namespace dataset::sessiontest {
namespace {

using M = ComponentMessage;

TEST_F(SessionTest, TheListStartsWithTheDefaultSession) {
  TTolmidSession& def = Session();
  ASSERT_EQ(Sessions().Count(), 1);
  EXPECT_TRUE(def.IsDefault());
  EXPECT_FALSE(storage::EngineInitialized());
  TTolmidSession s(nullptr);
  s.SetSessionName("Second");
  TTolmidSession other(nullptr);
  EXPECT_EQ(ErrorOf([&] { other.SetSessionName("second"); }), "Session name second already exists.");
  const struct {
    const char* name;
    TTolmidSession* found;
  } cases[] = {{"", &def}, {"DEFAULT", &def}, {"second", &s}, {"Secon", nullptr}, {"Second ", nullptr}};
  for (const auto& c : cases) {
    EXPECT_EQ(Sessions().FindSession(c.name), c.found) << c.name;
    if (c.found == nullptr) {
      EXPECT_EQ(ErrorOf([&] { (void)Sessions().GetSession(c.name); }),
                FormatComponentMessage(M::kInvalidSessionName, c.name));
    }
  }
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

// The private directory reads back in upper case, active or not; the engine
// session keeps it as given.
TEST_F(SessionTest, PrivateDirReadsUpperCase) {
  const std::string given = "/srv/Catalogue/Private";
  TTolmidSession s(nullptr);
  s.SetSessionName("P");
  s.SetPrivateDir(given);
  EXPECT_EQ(s.PrivateDir(), fw::UpperCase(given));
  s.SetActive(true);
  EXPECT_EQ(s.Handle()->PrivateDirectory(), given);
  EXPECT_EQ(s.PrivateDir(), fw::UpperCase(given));
}

// Switching AutoSessionName on names the session after the component and
// passes the name to the datasets and databases of its owner; when one of
// them refuses it, every name stays as it was.
TEST_F(SessionTest, RefusedAutoSessionNameChangesNoName) {
  fw::TComponent owner(nullptr);
  auto* s = new TTolmidSession(&owner);
  s->SetName("S1");
  s->SetSessionName("Mine");
  auto* table = new TTolmidTable(&owner);
  auto* db = new TTolmidDatabase(&owner);
  db->SetDatabaseName("D");
  db->Open();  // on the default session
  EXPECT_EQ(ErrorOf([&] { s->SetAutoSessionName(true); }),
            "Cannot perform this operation on an open database.");
  EXPECT_EQ(s->SessionName(), "Mine");
  EXPECT_FALSE(s->AutoSessionName());
  EXPECT_EQ(s->AutoNumber(), -1);
  EXPECT_EQ(table->SessionName(), "");
  EXPECT_EQ(db->SessionName(), "Default");
  db->Close();
  s->SetAutoSessionName(true);
  EXPECT_EQ(s->SessionName(), "S1_1");
  EXPECT_EQ(table->SessionName(), "S1_1");
  EXPECT_EQ(db->SessionName(), "S1_1");
}

// A name filled into a component-misuse message is text, never a format.
TEST(ComponentMessages, RaisedWithTheNameFilledInAsText) {
  EXPECT_EQ(FormatComponentMessage(ComponentMessage::kInvalidSessionName, "%s%d%%"),
            "Session name %s%d%% is not valid.");
  EXPECT_EQ(FormatComponentMessage(ComponentMessage::kSessionActive, "X"),
            "Cannot perform this operation on an active session.");
  try {
    RaiseComponentError(ComponentMessage::kNoParameterValue, "Id");
    ADD_FAILURE() << "nothing raised";
  } catch (const fw::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "No value for parameter 'Id'");
  }
}

}  // namespace
}  // namespace dataset::sessiontest
