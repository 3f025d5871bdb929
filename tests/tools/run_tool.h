// Runs one of the independent Python checkers of tests/tools/ on a file and
// collects its exit status and output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tooltest {

struct ToolResult {
  int status = -1;
  std::string output;
};

// Runs python3 tests/tools/<tool> on path (extra arguments appended as
// given).
inline ToolResult RunTool(const std::string& tool, const std::string& path,
                          const std::string& extra = {}) {
  ToolResult r;
  std::string cmd = std::string("python3 ") + TOLMID_TOOLS_DIR + "/" + tool + " '" + path + "'";
  if (!extra.empty()) cmd += " " + extra;
  cmd += " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline bool HasLine(const std::string& output, const std::string& line) {
  return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace tooltest
