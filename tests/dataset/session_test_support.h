// Helpers of the session and database component tests: a fixture that
// starts every test with a fresh session list (and no engine) and frees it
// afterwards, and the message of an EDatabaseError raised by a call.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dataset/component_errors.h"
#include "dataset/tolmid_database.h"
#include "dataset/tolmid_session.h"
#include "framework/exceptions.h"
#include "storage/session.h"

namespace dataset::sessiontest {

// "" when f raises nothing; the message of the EDatabaseError it raises;
// "other: ..." for any other exception.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const fw::EDatabaseError& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return {};
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FinalizeSessions();
    storage::ShutdownEngine();
    previous_hook_ = SetPasswordDialogHook(nullptr);
  }
  void TearDown() override {
    FinalizeSessions();
    EXPECT_FALSE(storage::EngineInitialized()) << "the default session must shut the engine down";
    SetPasswordDialogHook(previous_hook_);
  }
  PasswordDialogHook previous_hook_;
};

}  // namespace dataset::sessiontest
