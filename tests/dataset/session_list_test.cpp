// Sessions and the session list: the default session, names, starting and
// stopping the engine sessions, automatic names, the private directory and
// the nesting session lock.
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

TEST_F(SessionTest, StreamedActiveIsAppliedWhenLoaded) {
  TTolmidSession s(nullptr);
  s.SetLoading(true);
  s.SetActive(true);
  s.SetSessionName("Streamed");
  EXPECT_FALSE(s.Active());
  s.Loaded();
  EXPECT_TRUE(s.Active());
}

TEST_F(SessionTest, AutomaticSessionNames) {
  fw::TComponent form1(nullptr), form2(nullptr), form3(nullptr);
  auto* s1 = new TTolmidSession(&form1);
  s1->SetName("S1");
  s1->SetAutoSessionName(true);
  EXPECT_EQ(s1->SessionName(), "S1_1");
  EXPECT_EQ(ErrorOf([&] { s1->SetSessionName("Mine"); }),
            "Cannot perform this operation on the active auto-session.");
  // A second session on the same owner is refused before it exists.
  EXPECT_EQ(ErrorOf([&] { new TTolmidSession(&form1); }), "This auto-session already exists.");
  EXPECT_EQ(form1.ComponentCount(), 1);

  auto* s2 = new TTolmidSession(&form2);
  s2->SetName("S");
  s2->SetAutoSessionName(true);
  EXPECT_EQ(s2->SessionName(), "S_2");
  // Renaming the component rebuilds the name with the same number.
  s2->SetName("Other");
  EXPECT_EQ(s2->SessionName(), "Other_2");

  // The lowest free number is taken again.
  s1->SetAutoSessionName(false);
  EXPECT_EQ(s1->SessionName(), "S1_1");  // kept, but settable again
  EXPECT_EQ(ErrorOf([&] { s1->SetSessionName("Mine"); }), "");
  auto* s3 = new TTolmidSession(&form3);
  s3->SetName("S3");
  s3->SetAutoSessionName(true);
  EXPECT_EQ(s3->SessionName(), "S3_1");

  // An owner with two sessions cannot have an automatic one.
  auto* a = new TTolmidSession(&form1);
  EXPECT_EQ(ErrorOf([&] { a->SetAutoSessionName(true); }),
            "The active auto-session can be the only active session.");
  EXPECT_FALSE(a->AutoSessionName());

  // The database components of the owner follow the session.
  fw::TComponent form4(nullptr);
  auto* db = new TTolmidDatabase(&form4);
  EXPECT_EQ(db->SessionName(), "Default");
  auto* s4 = new TTolmidSession(&form4);
  s4->SetName("S4");
  s4->SetAutoSessionName(true);
  EXPECT_EQ(db->SessionName(), "S4_3");
  EXPECT_EQ(db->Session(), s4);
  auto* db2 = new TTolmidDatabase(&form4);  // made after the session
  EXPECT_EQ(db2->Session(), s4);
  EXPECT_EQ(db2->SessionName(), "S4_3");
}

// Random switches of AutoSessionName on many owners against a model: each
// switch-on takes the lowest number no other automatic session holds.
TEST_F(SessionTest, AutomaticNumbersFollowAModel) {
  constexpr int kOwners = 12;
  std::vector<std::unique_ptr<fw::TComponent>> owners;
  std::vector<TTolmidSession*> sessions;
  std::vector<int> model(kOwners, -1);  // number held, -1 none
  for (int i = 0; i < kOwners; ++i) {
    owners.push_back(std::make_unique<fw::TComponent>(nullptr));
    sessions.push_back(new TTolmidSession(owners.back().get()));
    sessions.back()->SetName("S" + std::to_string(i));
  }
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % kOwners; };
  for (int step = 0; step < 500; ++step) {
    const int i = static_cast<int>(next());
    if (model[i] < 0) {
      int n = 0;
      while (std::find(model.begin(), model.end(), n) != model.end()) ++n;
      sessions[i]->SetAutoSessionName(true);
      model[i] = n;
      ASSERT_EQ(sessions[i]->SessionName(), "S" + std::to_string(i) + "_" + std::to_string(n + 1))
          << "step " << step;
    } else {
      sessions[i]->SetAutoSessionName(false);
      model[i] = -1;
    }
    ASSERT_EQ(sessions[i]->AutoNumber(), model[i]);
  }
}

TEST_F(SessionTest, PrivateDirectoryReadsInUpperCase) {
  TTolmidSession& def = Session();
  def.SetPrivateDir("/tmp/lower");
  EXPECT_EQ(def.PrivateDir(), "/TMP/LOWER");
  def.SetActive(true);  // applied at start
  EXPECT_EQ(def.Handle()->PrivateDirectory(), "/tmp/lower");
  EXPECT_EQ(def.PrivateDir(), "/TMP/LOWER");
  const std::string longer(300, 'p');
  def.SetPrivateDir(longer);
  EXPECT_EQ(def.Handle()->PrivateDirectory(), std::string(255, 'p'));
  EXPECT_EQ(def.PrivateDir(), std::string(255, 'P'));
}

TEST_F(SessionTest, PasswordsReachTheEngineSession) {
  TTolmidSession s(nullptr);
  s.SetSessionName("P");
  s.AddPassword("Secret");  // activates the session
  ASSERT_TRUE(s.Active());
  storage::TFileSession& e = *s.Handle();
  EXPECT_TRUE(e.HasPassword("Secret"));
  EXPECT_FALSE(Session().Handle()->HasPassword("Secret"));
  s.RemovePassword("secret");  // case matters
  EXPECT_TRUE(e.HasPassword("Secret"));
  s.AddPassword("");
  EXPECT_EQ(e.Passwords().Count(), 1u);
  const std::string longer = std::string(255, 'a') + "TAIL";
  s.AddPassword(longer);
  EXPECT_TRUE(e.HasPassword(std::string(255, 'a')));
  s.RemovePassword(longer);  // cut the same way, so it matches
  EXPECT_FALSE(e.HasPassword(std::string(255, 'a')));
  s.AddPassword("x");
  s.RemoveAllPasswords();
  EXPECT_EQ(e.Passwords().Count(), 0u);
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

TEST_F(SessionTest, FreeingTheDefaultSessionByHandGetsANewOne) {
  TTolmidSession other(nullptr);
  other.SetSessionName("Other");
  other.SetActive(true);
  delete &Session();
  EXPECT_FALSE(other.Active()) << "the engine went down with the default session";
  EXPECT_FALSE(storage::EngineInitialized());
  EXPECT_EQ(Sessions().DefaultSession(), nullptr);
  TTolmidSession& def = Session();
  EXPECT_TRUE(def.IsDefault());
  EXPECT_EQ(def.SessionName(), "Default");
  other.SetActive(true);
  EXPECT_TRUE(def.Active());
  TTolmidDatabase db(nullptr);
  EXPECT_EQ(db.Session(), &def);
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

}  // namespace
}  // namespace dataset::sessiontest
