// Shared support of the GUI layer tests: an application object per test and
// a form class to put controls on.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "tests/common/scripted_messages.h"

namespace formstest {

class AppTest : public ::testing::Test {
 protected:
  AppTest() : app_(argc_, argv_) { app_.SetTitle("Morvella Software"); }
  fw::TApplication& App() { return app_; }

 private:
  static inline int argc_ = 1;
  static inline char arg0_[] = "forms_tests";
  static inline char* argv_[] = {arg0_, nullptr};
  fw::TApplication app_;
};

class TestForm : public fw::TForm {
 public:
  explicit TestForm(fw::TComponent* owner, const std::string& name = "") : TForm(owner) {
    SetName(name);
    SetCaption(name.empty() ? "TestForm" : name);
    SetClientSize(400, 300);
  }
};

}  // namespace formstest
