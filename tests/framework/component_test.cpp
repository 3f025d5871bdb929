// Component ownership: owned components die with the owner, last first; a
// component destroyed on its own leaves its owner; notifications; names.
#include "framework/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "tests/common/error_text.h"

namespace fw {
namespace {

std::vector<std::string>* g_log = nullptr;

class Logged : public TComponent {
 public:
  Logged(TComponent* owner, const std::string& tag) : TComponent(owner), tag_(tag) { SetName(tag); }
  ~Logged() override {
    if (g_log) g_log->push_back("~" + tag_ + (Destroying() ? "!" : ""));
  }
  TComponent* watched = nullptr;
  std::vector<std::string> notes;

 protected:
  void Notification(TComponent* c, bool inserting) override {
    TComponent::Notification(c, inserting);
    notes.push_back(std::string(inserting ? "+" : "-") + (c ? c->Name() : "?"));
    if (!inserting && c == watched) watched = nullptr;
  }

 private:
  std::string tag_;
};

TEST(Component, OwnerDestroysOwnedInReverseOrderAndTellsThemSo) {
  std::vector<std::string> log;
  g_log = &log;
  auto* owner = new Logged(nullptr, "owner");
  new Logged(owner, "a");
  auto* b = new Logged(owner, "b");
  new Logged(b, "b1");
  new Logged(owner, "c");
  EXPECT_EQ(owner->ComponentCount(), 3);
  delete owner;
  g_log = nullptr;
  EXPECT_EQ(log, (std::vector<std::string>{"~owner", "~c!", "~b!", "~b1!", "~a!"}));
}

TEST(Component, DestroyedComponentLeavesItsOwnerAndOwnerIsTold) {
  Logged owner(nullptr, "owner");
  auto* a = new Logged(&owner, "A");
  auto* b = new Logged(&owner, "B");
  EXPECT_EQ(owner.FindComponent("a"), a);  // case-insensitive
  delete a;
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_EQ(owner.FindComponent("A"), nullptr);
  EXPECT_EQ(owner.notes.back(), "-A");
  EXPECT_EQ(b->notes.back(), "-A");  // the sibling heard it as well
}

TEST(Component, FreeNotificationClearsReferencesAcrossOwners) {
  auto* x = new Logged(nullptr, "X");
  auto* y = new Logged(nullptr, "y");
  y->watched = x;
  y->FreeNotification(x);
  delete x;
  EXPECT_EQ(y->watched, nullptr);
  delete y;  // must not touch the freed x
}

TEST(Component, NamesAreCheckedAndUniquePerOwner) {
  TComponent owner(nullptr);
  auto* a = new TComponent(&owner);
  auto* b = new TComponent(&owner);
  a->SetName("Table1");
  EXPECT_EQ(testsupport::ErrorText<EComponentError>([&] { b->SetName("TABLE1"); }),
            "A component named TABLE1 already exists");
  EXPECT_EQ(testsupport::ErrorText<EComponentError>([&] { b->SetName("1x"); }), "'1x' is not a valid component name");
  b->SetName("_Table2");
  EXPECT_EQ(owner.FindComponent("_table2"), b);
}

}  // namespace
}  // namespace fw
