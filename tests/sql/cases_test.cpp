// Runs the SQL case files tests/data/sql/*.test. Each case is a header
// line, the SQL text (one or more lines), "----", the expected text, and a
// blank line; '#' lines between cases are comments. Headers:
//
//   statement ok|error [live] [dir=<directory>]   parse only: Describe of
//       the query, or the exact SQL message (engine error 11949)
//   validate ok|error [live]   validation against the ValidateTables:
//       DescribeResult, the exact SQL message, or "code <n>" for another
//       engine error; afterwards no table is open and no file is left
//   query [rowsort] [live]     execution against the tables below: the
//       rows (fields joined by '|'), or "error <code>: <message>"
#include <fstream>
#include <sstream>

#include "sql_tables.h"
#include "sql_test_support.h"

namespace sql::test {
namespace {

struct Case {
  std::string where;          // file:line
  std::vector<std::string> header;
  std::string sql;            // lines joined by '\n'
  std::string expected;       // lines, each ended by '\n'
  bool Has(const std::string& word) const {
    return std::find(header.begin(), header.end(), word) != header.end();
  }
};

// The cases of every tests/data/sql/<prefix>*.test, in file order.
std::vector<Case> LoadCases(const std::string& prefix) {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(TOLMID_TEST_DATA) / "sql"))
    if (e.path().extension() == ".test" && e.path().filename().string().rfind(prefix, 0) == 0) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Case> cases;
  for (const auto& path : files) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      lines.push_back(l);
    }
    for (std::size_t i = 0; i < lines.size();) {
      if (lines[i].empty() || lines[i][0] == '#') {
        ++i;
        continue;
      }
      Case c;
      c.where = path.filename().string() + ":" + std::to_string(i + 1);
      std::istringstream words(lines[i++]);
      for (std::string w; words >> w;) c.header.push_back(w);
      for (; i < lines.size() && lines[i] != "----"; ++i) c.sql += (c.sql.empty() ? "" : "\n") + lines[i];
      for (++i; i < lines.size() && !lines[i].empty(); ++i) c.expected += lines[i] + "\n";
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

// The expected text of a refused statement: the SQL message, or "code <n>"
// for an engine error other than 11949.
std::string Refusal(int code, const std::string& message) {
  return (code == 11949 ? message : "code " + std::to_string(code)) + "\n";
}

class SqlCases : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }
};

TEST_F(SqlCases, ParseCases) {
  int run = 0;
  for (const Case& c : LoadCases("")) {
    if (c.header[0] != "statement") {
      EXPECT_TRUE(c.header[0] == "validate" || c.header[0] == "query") << c.where << ": bad header";
      continue;
    }
    ++run;
    SCOPED_TRACE(c.where + ": " + c.sql);
    TDataQuery q;
    q.SetClock(FixedClock);
    q.SetLiveRequested(c.Has("live"));
    for (const std::string& w : c.header)
      if (w.rfind("dir=", 0) == 0) q.SetDirectory(w.substr(4));
    const ParseOutcome r = Prepare(q, c.sql);
    EXPECT_EQ(r.ok ? "ok" : "error", c.header[1]);
    EXPECT_EQ(r.ok ? Describe(q) : Refusal(r.code, r.message), c.expected);
  }
  EXPECT_GT(run, 100);
}

class ValidateCases : public ValidateTables {};

TEST_F(ValidateCases, AllCases) {
  int run = 0;
  for (const Case& c : LoadCases("validate")) {
    ++run;
    SCOPED_TRACE(c.where + ": " + c.sql);
    std::string into;
    {
      TDataQuery q;
      Setup(q, c.Has("live"));
      const Outcome r = Validate(q, c.sql);
      EXPECT_EQ(r.ok ? "ok" : "error", c.header[1]);
      EXPECT_EQ(r.ok ? DescribeResult(q) : Refusal(r.code, r.message), c.expected);
      if (r.ok && !q.Flags().in_memory_result) into = q.ResultTableName();
      // A refused statement holds no table open, even before it is freed.
      if (!r.ok) { EXPECT_TRUE(AllFree() && q.ResultDataFile() == nullptr); }
    }
    EXPECT_TRUE(AllFree());
    for (const char* ext : {".DAT", ".IDX", ".BLB"})
      if (!into.empty()) std::filesystem::remove(std::filesystem::path(dir_) / (into + ext));
    EXPECT_EQ(NewFiles(), std::set<std::string>{});
  }
  EXPECT_GT(run, 40);
}

// emp: id, name (string 20), dept, pay (float), bonus (int32; NULL for 3
// and 6), with the index ByName (name). dept: did, dname; dept 40 has
// nobody, dept 30 is missing. neg: v, all negative. small: s (int16),
// 1,000 rows of 100. flags: id, active (boolean). one: the row of
// exec_conditions.test.
class ExecCases : public SqlTables {};

TEST_F(ExecCases, AllCases) {
  Create("emp",
         {Field(1, "id", FieldType::kInteger), Field(2, "name", FieldType::kString, 20),
          Field(3, "dept", FieldType::kInteger), Field(4, "pay", FieldType::kFloat),
          Field(5, "bonus", FieldType::kInteger)},
         {Index("ByName", {2})});
  Insert("emp", {{1, std::string("Smith"), 10, 100.0, 5},
                 {2, std::string("Jones"), 20, 200.0, 7},
                 {3, std::string("Smythe"), 10, 150.0, Value{}},
                 {4, std::string("Brown"), 20, 50.0, 1},
                 {5, std::string("Keith"), 30, 75.5, 2},
                 {6, std::string("Smart"), 10, 80.0, Value{}}});
  Create("dept", {Field(1, "did", FieldType::kInteger), Field(2, "dname", FieldType::kString, 20)});
  Insert("dept", {{10, std::string("Sales")}, {20, std::string("Parts")}, {40, std::string("Empty")}});
  Create("neg", {Field(1, "v", FieldType::kInteger)});
  Insert("neg", {{-5}, {-2}, {-9}});
  Create("small", {Field(1, "s", FieldType::kSmallInt)});
  Insert("small", std::vector<std::vector<Value>>(1000, {100}));
  Create("flags", {Field(1, "id", FieldType::kInteger), Field(2, "active", FieldType::kBoolean)});
  Insert("flags", {{1, 1}, {2, 0}, {3, 1}, {4, Value{}}});
  Create("one", {Field(1, "a", FieldType::kInteger), Field(2, "b", FieldType::kInteger), Field(3, "c", FieldType::kInteger),
                 Field(4, "s", FieldType::kString, 20), Field(5, "n", FieldType::kInteger), Field(6, "d", FieldType::kDate),
                 Field(7, "flag", FieldType::kBoolean)});
  Insert("one", {{10, 4, 3, std::string("Smith"), Value{}, 730179, 1}});  // d: 2000-02-29
  int run = 0;
  for (const Case& c : LoadCases("exec")) {
    ++run;
    SCOPED_TRACE(c.where + ": " + c.sql);
    std::string sql = c.sql;
    std::replace(sql.begin(), sql.end(), '\n', ' ');
    std::vector<std::string> rows = Run(sql, c.Has("live"));
    std::vector<std::string> expected;
    for (std::istringstream in(c.expected); std::getline(in, sql);) expected.push_back(sql);
    if (c.Has("live")) { EXPECT_TRUE(last_live_); }
    if (c.Has("rowsort")) {
      std::sort(rows.begin(), rows.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(rows, expected);
  }
  EXPECT_GT(run, 10);
}

}  // namespace
}  // namespace sql::test
