// Runs the SQL case files of tests/data/sql/*.test. Each case is
//
//   statement ok|error [live] [dir=<directory>]
//   <SQL text, one or more lines>
//   ----
//   <expected description (ok) or the exact SQL message (error)>
//
// ended by a blank line. Lines starting with '#' between cases are comments.
// The description is sql::test::Describe of the parsed query.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sql_test_support.h"

namespace sql::test {
namespace {

struct Case {
  std::string file;
  int line = 0;
  bool expect_ok = true;
  bool live = false;
  std::string directory;
  std::string sql;
  std::string expected;
};

std::vector<Case> LoadCases(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  std::vector<Case> cases;
  std::size_t i = 0;
  while (i < lines.size()) {
    const std::string& l = lines[i];
    if (l.empty() || l[0] == '#') {
      ++i;
      continue;
    }
    Case c;
    c.file = path.filename().string();
    c.line = static_cast<int>(i + 1);
    if (l.rfind("statement ok", 0) == 0) {
      c.expect_ok = true;
    } else if (l.rfind("statement error", 0) == 0) {
      c.expect_ok = false;
    } else {
      ADD_FAILURE() << c.file << ":" << c.line << ": bad case header: " << l;
      ++i;
      continue;
    }
    c.live = l.find(" live") != std::string::npos;
    if (auto d = l.find(" dir="); d != std::string::npos) c.directory = l.substr(d + 5);
    ++i;
    bool first = true;
    while (i < lines.size() && lines[i] != "----") {
      c.sql += (first ? "" : "\n") + lines[i];
      first = false;
      ++i;
    }
    ++i;  // ----
    while (i < lines.size() && !lines[i].empty()) {
      c.expected += lines[i] + "\n";
      ++i;
    }
    cases.push_back(std::move(c));
  }
  return cases;
}

class SqlCases : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }
};

TEST_F(SqlCases, AllCaseFiles) {
  const std::filesystem::path dir = std::filesystem::path(TOLMID_TEST_DATA) / "sql";
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    // validate*.test and exec*.test need tables: validate_cases_test.cpp
    // and exec_cases_test.cpp run them.
    const std::string name = e.path().filename().string();
    if (e.path().extension() == ".test" && name.rfind("validate", 0) != 0 &&
        name.rfind("exec", 0) != 0) {
      files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  int run = 0;
  for (const auto& f : files) {
    for (const Case& c : LoadCases(f)) {
      ++run;
      SCOPED_TRACE(c.file + ":" + std::to_string(c.line) + ": " + c.sql);
      TDataQuery q;
      q.SetClock(FixedClock);
      q.SetLiveRequested(c.live);
      q.SetDirectory(c.directory);
      const ParseOutcome r = Prepare(q, c.sql);
      if (c.expect_ok) {
        EXPECT_TRUE(r.ok) << "raised: " << r.message;
        if (r.ok) {
          EXPECT_EQ(Describe(q), c.expected);
        }
      } else {
        EXPECT_FALSE(r.ok) << "parsed as:\n" << Describe(q);
        EXPECT_EQ(r.code, 11949);
        EXPECT_EQ(r.message + "\n", c.expected);
      }
    }
  }
  EXPECT_GT(run, 100);
}

}  // namespace
}  // namespace sql::test
