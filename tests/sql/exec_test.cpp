// Query execution beyond the rows (those are in tests/data/sql/exec*.test
// and the SQLite differential): the progress callback and abort, the COUNT
// shortcut, WITH LOCKS, one execution per query, writes through a live
// cursor, parameters, and which file an error names.
#include <cstring>

#include "sql/sql_error.h"
#include "sql_tables.h"
#include "tests/common/error_text.h"

namespace sql::test {
namespace {

class Exec : public SqlTables {
 protected:
  void SetUp() override {
    SqlTables::SetUp();
    Create("big", {Field(1, "n", FieldType::kInteger), Field(2, "x", FieldType::kInteger)});
    std::vector<std::vector<Value>> rows;
    for (int i = 1; i <= 200; ++i) rows.push_back({i, i % 4});
    Insert("big", rows);
  }
  // Runs sql recording each progress call as "record:percent"; the
  // callback aborts at call abort_at (0: never).
  std::vector<std::string> Progress(const std::string& sql, std::vector<std::string>& calls, int abort_at = 0) {
    return Run(sql, false, [&](TDataQuery&, std::int32_t r, std::uint16_t p, bool& abort) {
      calls.push_back(std::to_string(r) + ":" + std::to_string(p));
      abort = static_cast<int>(calls.size()) == abort_at;
    });
  }
};

TEST_F(Exec, ProgressOneCallPerDrivingRecordWithTruncatedPercent) {
  std::vector<std::string> calls;
  ASSERT_EQ(Progress("SELECT n FROM big", calls).size(), 200u);
  ASSERT_EQ(calls.size(), 200u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"1:0", "2:1", "3:1", "4:2"}));
  EXPECT_EQ(calls.back(), "200:100");
  calls.clear();  // the percent counts through the filters
  ASSERT_EQ(Progress("SELECT n FROM big WHERE x = 1", calls).size(), 50u);
  EXPECT_EQ(calls.front() + " " + calls.back(), "1:2 50:100");
  calls.clear();  // COUNT alone reads no record and calls once
  EXPECT_EQ(Progress("SELECT COUNT(*) FROM big WHERE x = 1", calls), std::vector<std::string>{"50"});
  EXPECT_EQ(calls, std::vector<std::string>{"50:100"});
  EXPECT_EQ(Run("SELECT COUNT(*) FROM big"), std::vector<std::string>{"200"});
}

TEST_F(Exec, AbortKeepsTheRowsSoFar) {
  std::vector<std::string> calls;
  EXPECT_EQ(Progress("SELECT n FROM big", calls, 1), std::vector<std::string>{"1"});
  Create("pair", {Field(1, "k", FieldType::kInteger)});
  Insert("pair", {{7}, {8}});
  calls.clear();  // in a join the rows of the first driving record stay
  EXPECT_EQ(Progress("SELECT b.n, p.k FROM big b, pair p", calls, 1), std::vector<std::string>{"1|7"});
  Create("g", {Field(1, "k", FieldType::kInteger), Field(2, "v", FieldType::kInteger)});
  Insert("g", {{1, 4}, {1, 6}, {2, 5}});
  calls.clear();  // an aborted group still averages
  EXPECT_EQ(Progress("SELECT k, AVG(v) FROM g GROUP BY k", calls, 2), std::vector<std::string>{"1|5.0000"});
}

// With a WHERE clause the driving records are those its conditions keep:
// by an index, through the filter's bitmap, or tested as each record is
// read, or tested on the joined rows. An abort on the first call leaves
// the rows of the first driving record that reached it, up to the row of
// the call, and no further call is made.
TEST_F(Exec, AbortStopsAQueryWithAWhereClause) {
  Create("ix", {Field(1, "n", FieldType::kInteger), Field(2, "x", FieldType::kInteger)},
         {Index("ByX", {2})});
  std::vector<std::vector<Value>> rows;
  for (int i = 1; i <= 200; ++i) rows.push_back({i, i % 4});
  Insert("ix", rows);
  Create("pair", {Field(1, "k", FieldType::kInteger)});
  Insert("pair", {{7}, {8}});
  for (const std::string t : {"big", "ix"}) {
    const struct {
      std::string sql;
      std::vector<std::string> rows;
    } cases[] = {
        {"SELECT n FROM " + t + " WHERE x = 1", {"1"}},
        {"SELECT n FROM " + t + " WHERE x = 2 OR n > 190", {"2"}},
        {"SELECT n FROM " + t + " WHERE x <> 0 AND n - x > 5", {"9"}},
        {"SELECT n FROM " + t + " WHERE x = 3 ORDER BY n DESC", {"3"}},
        {"SELECT x, COUNT(*) FROM " + t + " WHERE x > 1 GROUP BY x", {"2|1"}},
        {"SELECT SUM(n), COUNT(*) FROM " + t + " WHERE x = 3", {"3|1"}},
        {"SELECT DISTINCT x FROM " + t + " WHERE n > 100", {"1"}},
        {"SELECT b.n, p.k FROM " + t + " b, pair p WHERE b.x = 2 AND p.k > 7", {"2|8"}},
        {"SELECT b.n, p.k FROM " + t + " b, pair p WHERE b.x = 1 OR p.k = 9", {"1|7"}},
        {"SELECT b.n, p.k FROM " + t + " b, pair p WHERE b.x = 2 OR p.k = 9", {}},  // n = 1 has none
        {"SELECT b.n, p.k FROM " + t + " b, pair p WHERE b.n + p.k > 7 ORDER BY p.k", {"1|7"}},
        {"SELECT b.n, p.k FROM " + t + " b LEFT JOIN pair p ON b.x = p.k WHERE b.n > 5", {"6|NULL"}},
        {"SELECT p.k, COUNT(*) FROM " + t + " b, pair p WHERE b.n > p.k GROUP BY p.k", {"7|1"}},
    };
    for (const auto& c : cases) {
      std::vector<std::string> calls;
      EXPECT_EQ(Progress(c.sql, calls, 1), c.rows) << c.sql;
      EXPECT_EQ(calls.size(), 1u) << c.sql;
    }
  }
}

TEST_F(Exec, WithLocksReleasesTheTablesAndALiveResultIgnoresIt) {
  EXPECT_EQ(Run("SELECT COUNT(*) FROM big WHERE x = 2 WITH LOCKS"), std::vector<std::string>{"50"});
  EXPECT_TRUE(Free("big"));
  EXPECT_EQ(Run("SELECT n FROM big WHERE n < 3 WITH LOCKS", true), (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(last_live_);
}

TEST_F(Exec, AQueryRunsOnceAndItsLiveCursorWritesTheTable) {
  {
    TDataQuery q;
    Setup(q, true);
    ASSERT_EQ(q.PrepareQuery("SELECT n, x FROM big WHERE n = 7"), 0);
    storage::TDataFile* cursor = nullptr;
    ASSERT_EQ(q.ExecuteQuery(cursor), 0);
    ASSERT_TRUE(q.Flags().live && q.Executed());
    // Neither the statement nor the directory of an executed query changes.
    EXPECT_EQ(q.PrepareQuery("SELECT n FROM big"), TDataQuery::kErrorExecuted);
    q.SetDirectory("/elsewhere");
    EXPECT_EQ(q.Directory(), dir_);
    EXPECT_EQ(q.Columns().Count(), 2);
    std::vector<std::byte> buf(cursor->GetRecordBufferSize());
    ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
    std::int32_t x = 99;
    cursor->SetFieldValue(true, 2, false, &x, buf);
    cursor->ModifyRecord(buf, false);
  }
  EXPECT_EQ(Run("SELECT x FROM big WHERE n = 7"), std::vector<std::string>{"99"});
}

// ? values bound after preparation reach the filters, canned and live; a
// ? without a value is refused, not compared as NULL.
TEST_F(Exec, ParametersBindTypesAndValues) {
  Create("p", {Field(1, "id", FieldType::kInteger), Field(2, "name", FieldType::kString, 10)});
  Insert("p", {{1, std::string("ann")}, {2, std::string("bob")}, {3, std::string("cy")}, {4, Value{}}});
  // A record of three values: 1, 'cy' and NULL.
  TFieldDescriptor fields[3] = {Field(1, "a", FieldType::kInteger), Field(2, "b", FieldType::kString, 10)};
  fields[0].PhysicalSize = 4;
  fields[1].PhysicalSize = 11;
  fields[1].Offset = 5;
  fields[2] = fields[1];
  fields[2].Offset = 17;
  std::vector<std::byte> record(40, std::byte{0});
  record[0] = record[5] = std::byte{1};
  storage::StoreLittle<std::int32_t>(reinterpret_cast<std::uint8_t*>(record.data() + 1), 1);
  std::memcpy(record.data() + 6, "cy", 2);
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live);
    TDataQuery q;
    Setup(q, live);
    ASSERT_EQ(q.PrepareQuery("SELECT id FROM p WHERE id > ? AND (name = ? OR name = ?)"), 0);
    ASSERT_EQ(q.SetQueryParams(3, fields, record), 0);
    storage::TDataFile* cursor = nullptr;
    ASSERT_EQ(q.ExecuteQuery(cursor), 0);
    auto rows = Rows(*cursor);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"3", "4"}));

    TDataQuery unbound;
    Setup(unbound, live);
    ASSERT_EQ(unbound.PrepareQuery("SELECT id FROM p WHERE id > 0 AND name = ?"), 0);
    cursor = nullptr;
    EXPECT_EQ(testsupport::ErrorText<storage::ETolmidEngineError>([&] { (void)unbound.ExecuteQuery(cursor); }),
              "Tolmid Engine Error # 11949 SQL - No value for parameter 1 in WHERE or JOIN clause");
    EXPECT_EQ(cursor, nullptr);
  }
  TDataQuery q;
  Setup(q);
  ASSERT_EQ(q.PrepareQuery("SELECT id FROM p WHERE id = ?"), 0);
  EXPECT_EQ(testsupport::ErrorText<storage::ETolmidEngineError>([&] { (void)q.SetQueryParams(2, fields, record); }),
            "Tolmid Engine Error # 11949 SQL - Internal parameter error");
}

// A code a table's routine returns is raised naming that table, not the
// file of whatever error the session saw before.
TEST_F(Exec, ReturnedCodesNameTheirOwnFile) {
  storage::TDataFile missing, mine;
  missing.SetFileName(dir_ + "/missing");
  EXPECT_THROW(missing.Open(), storage::ETolmidEngineError);
  mine.SetFileName(dir_ + "/big");
  mine.Open();
  EXPECT_EQ(testsupport::ErrorText<storage::ETolmidEngineError>([&] { CheckFileResult(mine, 10030); }).substr(0, 26),
            "Tolmid Engine Error # 1003");
  EXPECT_EQ(storage::CurrentSession()->Context().data_file_name, mine.FileName());
  EXPECT_NO_THROW(CheckFileResult(mine, 0));
}

}  // namespace
}  // namespace sql::test
