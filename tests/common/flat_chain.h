// A flat chain of n terms joined by op ("a = 0 OR a = 1 OR ..."), for the
// tests of long AND/OR chains in filter texts and SQL.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

inline std::string FlatChain(int n, const char* op, const std::function<std::string(int)>& term) {
  std::string out;
  for (int i = 0; i < n; ++i) out += (i ? op : "") + term(i);
  return out;
}

}  // namespace testsupport
