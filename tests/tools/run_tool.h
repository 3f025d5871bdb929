// Runs one of the independent Python checkers of tests/tools/ on a file and
// collects its exit status and output; RunToolBatch runs one checker on
// many files in one Python process.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

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

// Runs tests/tools/<tool> once per argument list (each as it would be given
// on the command line, the file first) in one Python process: the checker
// is imported and its main() called for each. One result per list, in
// order.
inline std::vector<ToolResult> RunToolBatch(const std::string& tool,
                                            const std::vector<std::vector<std::string>>& calls) {
  std::vector<ToolResult> results(calls.size());
  if (calls.empty()) return results;
  char dir[] = "/tmp/tool_batch_XXXXXX";
  if (mkdtemp(dir) == nullptr) return results;
  const std::string list_path = std::string(dir) + "/calls";
  const std::string driver_path = std::string(dir) + "/driver.py";
  {
    // One call per line, its arguments separated by NUL bytes.
    std::ofstream list(list_path, std::ios::binary);
    for (const auto& args : calls) {
      for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) list.put('\0');
        list << args[i];
      }
      list.put('\n');
    }
    std::ofstream driver(driver_path);
    driver << "import contextlib, io, runpy, sys\n"
              "checker = runpy.run_path(sys.argv[1], run_name='checker')\n"
              "for line in open(sys.argv[2], 'rb').read().decode().splitlines():\n"
              "    out = io.StringIO()\n"
              "    with contextlib.redirect_stdout(out):\n"
              "        try:\n"
              "            rc = checker['main']([sys.argv[1]] + line.split('\\0'))\n"
              "        except SystemExit as e:\n"
              "            rc = e.code\n"
              "        except Exception as e:\n"
              "            print('ERROR: ' + repr(e))\n"
              "            rc = 3\n"
              "    sys.stdout.write(out.getvalue() + '\\n' + sys.argv[3] + ' %d\\n' % (rc or 0))\n";
  }
  // Each call's output ends with a line of its own: this run's folder name
  // (no checker prints it) and the status.
  const std::string marker = dir;
  const std::string cmd = "python3 " + driver_path + " " + TOLMID_TOOLS_DIR + "/" + tool + " " +
                          list_path + " " + marker + " 2>&1";
  std::string output;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) output.append(buf, n);
    pclose(p);
  }
  unlink(list_path.c_str());
  unlink(driver_path.c_str());
  rmdir(dir);
  std::size_t pos = 0;
  const std::string end_line = "\n" + marker + " ";
  for (ToolResult& r : results) {
    const std::size_t mark = output.find(end_line, pos);
    if (mark == std::string::npos) {
      r.output = output.substr(pos);
      break;
    }
    const std::size_t status = mark + end_line.size();
    const std::size_t eol = output.find('\n', status);
    r.output = output.substr(pos, mark - pos);
    r.status = std::atoi(output.substr(status, eol - status).c_str());
    pos = eol == std::string::npos ? output.size() : eol + 1;
  }
  return results;
}

inline bool HasLine(const std::string& output, const std::string& line) {
  return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace tooltest
