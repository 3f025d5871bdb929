// Runs the execution case files tests/data/sql/exec*.test against the
// tables made below. Each case is
//
//   query [rowsort] [live]
//   <SQL text, one or more lines>
//   ----
//   <expected rows, fields joined by '|', NULL for a null field; or the one
//    line "error <code>: <message>">
//
// ended by a blank line; '#' lines between cases are comments. Rows are
// compared in cursor order unless rowsort is given.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "exec_test_support.h"

namespace sql::xtest {
namespace {

struct Case {
  std::string where;
  bool rowsort = false;
  bool live = false;
  std::string sql;
  std::vector<std::string> expected;
};

std::vector<Case> LoadCases(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  std::vector<Case> cases;
  for (std::size_t i = 0; i < lines.size();) {
    if (lines[i].empty() || lines[i][0] == '#') {
      ++i;
      continue;
    }
    Case c;
    c.where = path.filename().string() + ":" + std::to_string(i + 1);
    std::istringstream header(lines[i]);
    std::string word;
    header >> word;
    if (word != "query") {
      ADD_FAILURE() << c.where << ": bad case header: " << lines[i];
      ++i;
      continue;
    }
    while (header >> word) {
      if (word == "rowsort") c.rowsort = true;
      if (word == "live") c.live = true;
    }
    ++i;
    for (; i < lines.size() && lines[i] != "----"; ++i) c.sql += (c.sql.empty() ? "" : " ") + lines[i];
    ++i;
    for (; i < lines.size() && !lines[i].empty(); ++i) c.expected.push_back(lines[i]);
    cases.push_back(std::move(c));
  }
  return cases;
}

class ExecCases : public ExecTestBase {
 protected:
  // emp: id, name (string 20), dept, pay (float), bonus (int32; NULL for 3
  // and 6), with the index ByName (name).
  // dept: did, dname (string 20); dept 40 has nobody, dept 30 is missing.
  // neg: v (int32), all negative.
  // small: s (int16), 1,000 rows of 100. flags: id, active (boolean).
  void MakeTables() {
    storage::TIndexDescriptor by_name;
    by_name.SetName("ByName");
    by_name.FieldNumbers[0] = 2;
    Create("emp",
           {Field(1, "id", FieldType::kInteger), Field(2, "name", FieldType::kString, 20),
            Field(3, "dept", FieldType::kInteger), Field(4, "pay", FieldType::kFloat),
            Field(5, "bonus", FieldType::kInteger)},
           {by_name});
    Insert("emp", {{1, std::string("Smith"), 10, 100.0, 5},
                   {2, std::string("Jones"), 20, 200.0, 7},
                   {3, std::string("Smythe"), 10, 150.0, Value{}},
                   {4, std::string("Brown"), 20, 50.0, 1},
                   {5, std::string("Keith"), 30, 75.5, 2},
                   {6, std::string("Smart"), 10, 80.0, Value{}}});
    Create("dept", {Field(1, "did", FieldType::kInteger), Field(2, "dname", FieldType::kString, 20)});
    Insert("dept", {{10, std::string("Sales")}, {20, std::string("Parts")},
                    {40, std::string("Empty")}});
    Create("neg", {Field(1, "v", FieldType::kInteger)});
    Insert("neg", {{-5}, {-2}, {-9}});
    Create("small", {Field(1, "s", FieldType::kSmallInt)});
    Insert("small", std::vector<std::vector<Value>>(1000, {100}));
    Create("flags", {Field(1, "id", FieldType::kInteger), Field(2, "active", FieldType::kBoolean)});
    Insert("flags", {{1, 1}, {2, 0}, {3, 1}, {4, Value{}}});
  }
};

TEST_F(ExecCases, AllCaseFiles) {
  MakeTables();
  const std::filesystem::path data = std::filesystem::path(TOLMID_TEST_DATA) / "sql";
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(data)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() == ".test" && name.rfind("exec", 0) == 0) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  int run = 0;
  for (const auto& f : files) {
    for (Case& c : LoadCases(f)) {
      ++run;
      SCOPED_TRACE(c.where + ": " + c.sql);
      std::vector<std::string> rows = Run(c.sql, c.live);
      if (c.live) {
        EXPECT_TRUE(last_live_);
      }
      if (c.rowsort) {
        std::sort(rows.begin(), rows.end());
        std::sort(c.expected.begin(), c.expected.end());
      }
      EXPECT_EQ(rows, c.expected);
    }
  }
  EXPECT_GT(run, 10);
}

}  // namespace
}  // namespace sql::xtest
