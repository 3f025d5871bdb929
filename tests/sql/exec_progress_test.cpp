// Progress callback, abort, the COUNT shortcut, WITH LOCKS and the
// one-execution rule of query execution.
#include <cstring>

#include "exec_test_support.h"
#include "sql/sql_error.h"

namespace sql::xtest {
namespace {

class ExecProgressTest : public ExecTestBase {
 protected:
  void SetUp() override {
    ExecTestBase::SetUp();
    Create("big", {Field(1, "n", FieldType::kInteger), Field(2, "x", FieldType::kInteger)});
    std::vector<std::vector<Value>> rows;
    for (int i = 1; i <= 200; ++i) rows.push_back({i, i % 4});
    Insert("big", rows);
  }

  struct Call {
    std::int32_t record;
    std::uint16_t percent;
    bool operator==(const Call&) const = default;
  };
};

TEST_F(ExecProgressTest, OneCallPerDrivingRecordWithTruncatedPercent) {
  std::vector<Call> calls;
  const auto rows = Run("SELECT n FROM big", false, [&](TDataQuery&, std::int32_t r,
                                                         std::uint16_t p, bool&) {
    calls.push_back({r, p});
  });
  ASSERT_EQ(rows.size(), 200u);
  ASSERT_EQ(calls.size(), 200u);
  EXPECT_EQ(calls[0], (Call{1, 0}));
  EXPECT_EQ(calls[1], (Call{2, 1}));
  EXPECT_EQ(calls[2], (Call{3, 1}));
  EXPECT_EQ(calls[3], (Call{4, 2}));
  EXPECT_EQ(calls[199], (Call{200, 100}));
}

TEST_F(ExecProgressTest, PercentCountsThroughTheFilters) {
  std::vector<Call> calls;
  const auto rows = Run("SELECT n FROM big WHERE x = 1", false,
                        [&](TDataQuery&, std::int32_t r, std::uint16_t p, bool&) {
                          calls.push_back({r, p});
                        });
  ASSERT_EQ(rows.size(), 50u);
  ASSERT_EQ(calls.size(), 50u);
  EXPECT_EQ(calls[0], (Call{1, 2}));
  EXPECT_EQ(calls[49], (Call{50, 100}));
}

TEST_F(ExecProgressTest, CountAloneReadsNoRecordAndCallsOnce) {
  std::vector<Call> calls;
  const auto rows = Run("SELECT COUNT(*) FROM big WHERE x = 1", false,
                        [&](TDataQuery&, std::int32_t r, std::uint16_t p, bool&) {
                          calls.push_back({r, p});
                        });
  EXPECT_EQ(rows, std::vector<std::string>{"50"});
  EXPECT_EQ(calls, (std::vector<Call>{{50, 100}}));
}

TEST_F(ExecProgressTest, AbortKeepsTheRowsSoFar) {
  const auto rows = Run("SELECT n FROM big", false,
                        [&](TDataQuery&, std::int32_t, std::uint16_t, bool& abort) {
                          abort = true;
                        });
  EXPECT_EQ(rows, std::vector<std::string>{"1"});
  // In a join the rows of the first driving record stay.
  Create("pair", {Field(1, "k", FieldType::kInteger)});
  Insert("pair", {{7}, {8}});
  const auto joined = Run("SELECT b.n, p.k FROM big b, pair p", false,
                          [&](TDataQuery&, std::int32_t, std::uint16_t, bool& abort) {
                            abort = true;
                          });
  EXPECT_EQ(joined, std::vector<std::string>{"1|7"});
}

TEST_F(ExecProgressTest, AbortInAGroupStillAverages) {
  Create("g", {Field(1, "k", FieldType::kInteger), Field(2, "v", FieldType::kInteger)});
  Insert("g", {{1, 4}, {1, 6}, {2, 5}});
  int calls = 0;
  const auto rows = Run("SELECT k, AVG(v) FROM g GROUP BY k", false,
                        [&](TDataQuery&, std::int32_t, std::uint16_t, bool& abort) {
                          abort = ++calls == 2;
                        });
  EXPECT_EQ(rows, std::vector<std::string>{"1|5.0000"});
}

TEST_F(ExecProgressTest, CountWithoutWhere) {
  EXPECT_EQ(Run("SELECT COUNT(*) FROM big"), std::vector<std::string>{"200"});
}

TEST_F(ExecProgressTest, WithLocksReleasesTheTables) {
  const auto rows = Run("SELECT COUNT(*) FROM big WHERE x = 2 WITH LOCKS");
  EXPECT_EQ(rows, std::vector<std::string>{"50"});
  // Nobody holds the table now.
  storage::TDataFile file;
  file.SetFileName(dir_ + "/big");
  file.SetExclusive(true);
  EXPECT_NO_THROW(file.Open());
}

TEST_F(ExecProgressTest, WithLocksOnALiveResultHasNoEffect) {
  const auto rows = Run("SELECT n FROM big WHERE n < 3 WITH LOCKS", true);
  EXPECT_TRUE(last_live_);
  EXPECT_EQ(rows, (std::vector<std::string>{"1", "2"}));
}

TEST_F(ExecProgressTest, AQueryRunsOnce) {
  TDataQuery q;
  q.SetDirectory(dir_);
  ASSERT_EQ(q.PrepareQuery("SELECT n FROM big WHERE n = 5"), 0);
  storage::TDataFile* cursor = nullptr;
  ASSERT_EQ(q.ExecuteQuery(cursor), 0);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(Rows(*cursor), std::vector<std::string>{"5"});
  EXPECT_TRUE(q.Executed());
  EXPECT_EQ(q.PrepareQuery("SELECT n FROM big"), TDataQuery::kErrorExecuted);
}

// The live cursor is the table: a record written through it is in the table.
TEST_F(ExecProgressTest, LiveCursorWritesReachTheTable) {
  TDataQuery q;
  q.SetDirectory(dir_);
  q.SetLiveRequested(true);
  ASSERT_EQ(q.PrepareQuery("SELECT n, x FROM big WHERE n = 7"), 0);
  storage::TDataFile* cursor = nullptr;
  ASSERT_EQ(q.ExecuteQuery(cursor), 0);
  ASSERT_TRUE(q.Flags().live);
  std::vector<std::byte> buf(cursor->GetRecordBufferSize());
  ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
  std::int32_t x = 99;
  cursor->SetFieldValue(true, 2, false, &x, buf);
  cursor->ModifyRecord(buf, false);
  q.~TDataQuery();
  new (&q) TDataQuery();
  EXPECT_EQ(Run("SELECT x FROM big WHERE n = 7"), std::vector<std::string>{"99"});
}

}  // namespace
}  // namespace sql::xtest

namespace sql::xtest {
namespace {

class ExecBlobTest : public ExecTestBase {};

// BLOB columns are copied whole into the result's own BLOB file.
TEST_F(ExecBlobTest, BlobColumnsAreCopied) {
  TFieldDescriptor memo = Field(2, "memo", FieldType::kBlob);
  memo.Subtype = storage::SubtypeCode(storage::FieldSubtype::kMemo);
  Create("m", {Field(1, "id", FieldType::kInteger), memo});
  const std::string big(3000, 'q');
  const std::vector<std::string> texts = {"first", "", big};
  {
    storage::TDataFile file;
    file.SetFileName(dir_ + "/m");
    file.Open();
    std::vector<std::byte> buf(file.GetRecordBufferSize());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      file.ApplyDefaultValues(buf);
      const std::int32_t id = static_cast<std::int32_t>(i + 1);
      file.SetFieldValue(false, 1, false, &id, buf);
      if (!texts[i].empty()) {
        ASSERT_EQ(file.OpenBlobField(false, 2, buf), 0);
        ASSERT_EQ(file.WriteBlobField(false, 2, texts[i].data(), 0,
                                      static_cast<std::int32_t>(texts[i].size()), buf),
                  0);
      }
      file.InsertRecord(buf);
      file.FreeBlobBuffers();
    }
  }
  TDataQuery q;
  q.SetDirectory(dir_);
  ASSERT_EQ(q.PrepareQuery("SELECT id, memo FROM m ORDER BY id"), 0);
  storage::TDataFile* cursor = nullptr;
  ASSERT_EQ(q.ExecuteQuery(cursor), 0);
  ASSERT_NE(cursor, nullptr);
  std::vector<std::byte> buf(cursor->GetRecordBufferSize());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
    EXPECT_EQ(PrintField(*cursor, 1, buf), std::to_string(i + 1));
    bool blank = false;
    cursor->GetFieldValue(true, 2, blank, nullptr, buf);
    if (texts[i].empty()) {
      EXPECT_TRUE(blank);
      continue;
    }
    ASSERT_EQ(cursor->OpenBlobField(true, 2, buf), 0);
    std::int32_t size = 0;
    ASSERT_EQ(cursor->GetBlobFieldSize(true, 2, size, buf), 0);
    std::string got(static_cast<std::size_t>(size), '\0');
    std::int32_t read = 0;
    ASSERT_EQ(cursor->ReadBlobField(true, 2, read, 0, got.data(), size, buf), 0);
    EXPECT_EQ(got, texts[i]);
    cursor->FreeBlobBuffers();
  }
}

}  // namespace
}  // namespace sql::xtest

namespace sql::xtest {
namespace {

class ExecParamTest : public ExecTestBase {};

// ? values bound after preparation reach the filters; a second binding is
// not possible after execution, but each value is read at execution.
TEST_F(ExecParamTest, ParametersBindTypesAndValues) {
  Create("p", {Field(1, "id", FieldType::kInteger), Field(2, "name", FieldType::kString, 10)});
  Insert("p", {{1, std::string("ann")}, {2, std::string("bob")}, {3, std::string("cy")},
               {4, Value{}}});
  TFieldDescriptor fields[3];
  fields[0] = Field(1, "a", FieldType::kInteger);
  fields[0].PhysicalSize = 4;
  fields[0].Offset = 0;
  fields[1] = Field(2, "b", FieldType::kString, 10);
  fields[1].PhysicalSize = 11;
  fields[1].Offset = 5;
  fields[2] = fields[1];
  fields[2].Offset = 17;
  std::vector<std::byte> record(40, std::byte{0});
  record[0] = std::byte{1};
  storage::StoreLittle<std::int32_t>(reinterpret_cast<std::uint8_t*>(record.data() + 1), 1);
  record[5] = std::byte{1};
  std::memcpy(record.data() + 6, "cy", 2);
  // record[17] == 0: the third value is NULL.

  for (const bool live : {false, true}) {
    SCOPED_TRACE(live);
    TDataQuery q;
    q.SetDirectory(dir_);
    q.SetLiveRequested(live);
    ASSERT_EQ(q.PrepareQuery("SELECT id FROM p WHERE id > ? AND (name = ? OR name = ?)"), 0);
    ASSERT_EQ(q.ParameterCount(), 3);
    ASSERT_EQ(q.SetQueryParams(3, fields, record), 0);
    storage::TDataFile* cursor = nullptr;
    ASSERT_EQ(q.ExecuteQuery(cursor), 0);
    ASSERT_NE(cursor, nullptr);
    auto rows = Rows(*cursor);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"3", "4"}));
  }

  // A ? that never got a value is refused, not compared as NULL.
  for (const bool live : {false, true}) {
    TDataQuery unbound;
    unbound.SetDirectory(dir_);
    unbound.SetLiveRequested(live);
    ASSERT_EQ(unbound.PrepareQuery("SELECT id FROM p WHERE id > 0 AND name = ?"), 0);
    storage::TDataFile* cursor = nullptr;
    try {
      (void)unbound.ExecuteQuery(cursor);
      ADD_FAILURE() << "no error";
    } catch (const storage::ETolmidEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), 11949);
      EXPECT_EQ(storage::CurrentSession()->Context().extra_text,
                "No value for parameter 1 in WHERE or JOIN clause");
    }
    EXPECT_EQ(cursor, nullptr);
  }

  TDataQuery q;
  q.SetDirectory(dir_);
  ASSERT_EQ(q.PrepareQuery("SELECT id FROM p WHERE id = ?"), 0);
  try {
    (void)q.SetQueryParams(2, fields, record);
    ADD_FAILURE() << "no error";
  } catch (const storage::ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 11949);
    EXPECT_EQ(storage::CurrentSession()->Context().extra_text, "Internal parameter error");
  }
}

}  // namespace
}  // namespace sql::xtest

namespace sql::xtest {
namespace {

class ExecErrorTest : public ExecTestBase {};

// A code a table's routine returns is raised naming that table, not the
// file of whatever error the session saw before.
TEST_F(ExecErrorTest, ReturnedCodesNameTheirOwnFile) {
  Create("mine", {Field(1, "id", FieldType::kInteger)});
  storage::TDataFile missing;
  missing.SetFileName(dir_ + "/missing");
  EXPECT_THROW(missing.Open(), storage::ETolmidEngineError);
  ASSERT_NE(storage::CurrentSession()->Context().data_file_name.find("missing"), std::string::npos)
      << storage::CurrentSession()->Context().data_file_name;
  storage::TDataFile mine;
  mine.SetFileName(dir_ + "/mine");
  mine.Open();
  try {
    CheckFileResult(mine, 10030);
    ADD_FAILURE() << "no error";
  } catch (const storage::ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 10030);
    EXPECT_EQ(storage::CurrentSession()->Context().data_file_name, mine.FileName());
  }
  EXPECT_NO_THROW(CheckFileResult(mine, 0));
}

}  // namespace
}  // namespace sql::xtest
