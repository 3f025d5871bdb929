// Runs the validation case files tests/data/sql/validate*.test against the
// tables of ValidateTestBase. Each case is
//
//   validate ok|error [live]
//   <SQL text, one or more lines>
//   ----
//   <expected DescribeResult (ok), the exact SQL message (error), or
//    "code <n>" for an engine error other than 11949>
//
// ended by a blank line; lines starting with '#' between cases are
// comments. Table names in the SQL are found in the test directory. After
// every case the query is freed; then no table may be open and no file may
// be left in the directory (INTO tables are named in the case and removed).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "validate_test_support.h"

namespace sql::vtest {
namespace {

struct Case {
  std::string file;
  int line = 0;
  bool expect_ok = true;
  bool live = false;
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
    if (l.rfind("validate ok", 0) == 0) {
      c.expect_ok = true;
    } else if (l.rfind("validate error", 0) == 0) {
      c.expect_ok = false;
    } else {
      ADD_FAILURE() << c.file << ":" << c.line << ": bad case header: " << l;
      ++i;
      continue;
    }
    c.live = l.find(" live") != std::string::npos;
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

class ValidateCases : public ValidateTestBase {};

TEST_F(ValidateCases, AllCaseFiles) {
  const std::filesystem::path data = std::filesystem::path(TOLMID_TEST_DATA) / "sql";
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(data)) {
    if (e.path().extension() == ".test" && e.path().filename().string().rfind("validate", 0) == 0) {
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
      std::string into;
      {
        TDataQuery q;
        Setup(q, c.live);
        const Outcome r = Validate(q, c.sql);
        if (c.expect_ok) {
          EXPECT_TRUE(r.ok) << "raised " << r.code << ": " << r.message;
          if (r.ok) {
            EXPECT_EQ(DescribeResult(q), c.expected);
          }
          if (!q.Flags().in_memory_result) into = q.ResultTableName();
        } else {
          EXPECT_FALSE(r.ok) << "validated as:\n" << DescribeResult(q);
          if (c.expected.rfind("code ", 0) == 0) {
            EXPECT_EQ("code " + std::to_string(r.code) + "\n", c.expected);
          } else {
            EXPECT_EQ(r.code, 11949);
            EXPECT_EQ(r.message + "\n", c.expected);
          }
          // A refused statement holds no table open, even before it is freed.
          EXPECT_TRUE(AllFree());
          EXPECT_EQ(q.ResultDataFile(), nullptr);
        }
      }
      EXPECT_TRUE(AllFree());
      std::set<std::string> left = NewFiles();
      if (!into.empty()) {
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) left.erase(into + ext);
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
          std::filesystem::remove(std::filesystem::path(dir_) / (into + ext));
        }
      }
      EXPECT_TRUE(left.empty()) << "left behind: " << *left.begin();
    }
  }
  EXPECT_GT(run, 40);
}

}  // namespace
}  // namespace sql::vtest
