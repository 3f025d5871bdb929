// The message of the exception a call raises, for comparing exact texts:
// "(none)" when it raises nothing; an exception of another type goes on.
//
//   EXPECT_EQ(testsupport::ErrorText<fw::EListError>([&] { l.Get(1); }),
//             "List index out of bounds (1)");
#pragma once

#include <string>

namespace testsupport {

template <class E, class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const E& e) {
    if constexpr (requires { e.Message(); }) {
      return std::string(e.Message());
    } else {
      return e.what();
    }
  }
  return "(none)";
}

}  // namespace testsupport
