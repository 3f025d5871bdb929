// The fast paths of query execution against a model of the same rows: a
// live WHERE answered from an index (and the parts it cannot answer, and
// columns renumbered by the select list), edits through such a cursor,
// and GROUP BY / DISTINCT keyed by the bytes of whole-number columns.
#include <functional>
#include <map>
#include <set>

#include "exec_test_support.h"
#include "storage/fault_injection.h"
#include "storage/filter_engine.h"

namespace sql::xtest {
namespace {

struct Row {
  std::int32_t id;
  std::optional<std::int32_t> v;
  std::string name;  // empty: NULL
  std::optional<std::int32_t> d;
};

class SpeedPathsTest : public ExecTestBase {
 protected:
  void SetUp() override {
    ExecTestBase::SetUp();
    storage::TIndexDescriptor by_id, by_name;
    by_id.SetName("ById");
    by_id.FieldCount = 1;
    by_id.FieldNumbers[0] = 1;
    by_name.SetName("ByName");
    by_name.FieldCount = 1;
    by_name.FieldNumbers[0] = 3;
    Create("t",
           {Field(1, "id", FieldType::kInteger), Field(2, "v", FieldType::kSmallInt),
            Field(3, "name", FieldType::kString, 12), Field(4, "d", FieldType::kDate),
            Field(5, "x", FieldType::kInteger)},
           {by_id, by_name});
    std::vector<std::vector<Value>> rows;
    for (std::int32_t i = 1; i <= 90; ++i) {
      Row r{i, std::nullopt, "", std::nullopt};
      if (i % 7 != 0) r.v = (i * 37) % 11 - 5;
      if (i % 5 != 0) r.name = "k" + std::to_string((i * 13) % 40);
      if (i % 4 != 0) r.d = 730000 - (i % 6);
      model_.push_back(r);
      rows.push_back({Value{r.id}, r.v ? Value{*r.v} : Value{}, Value{r.name},
                      r.d ? Value{*r.d} : Value{}, Value{i % 50}});
    }
    Insert("t", rows);
  }

  static std::string Opt(const std::optional<std::int32_t>& v) {
    return v ? std::to_string(*v) : "NULL";
  }
  static std::string Name(const std::string& s) { return s.empty() ? "NULL" : s; }

  std::vector<Row> model_;
};

// Live results: rows as the model gives them, and a WHERE made only of
// parts an index answers leaves no per-record routine on the table.
TEST_F(SpeedPathsTest, LiveWhereAnsweredFromIndexes) {
  auto starts = [](const std::string& s, const char* p) { return !s.empty() && s.rfind(p, 0) == 0; };
  struct Case {
    std::string sql;
    std::function<bool(const Row&)> keep;
    std::function<std::string(const Row&)> print;
    bool index_only;
    bool ordered = false;  // ORDER BY id: the rows in the model's order
  };
  auto all = [&](const Row& r) {
    return std::to_string(r.id) + "|" + Opt(r.v) + "|" + Name(r.name) + "|" + Opt(r.d) + "|" +
           std::to_string(r.id % 50);
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM t WHERE name LIKE 'k1%'", [&](const Row& r) { return starts(r.name, "k1"); },
       all, true},
      {"SELECT * FROM t WHERE id >= 10 AND id < 30", [](const Row& r) { return r.id >= 10 && r.id < 30; },
       all, true},
      {"SELECT * FROM t WHERE name LIKE 'k2%' ORDER BY id",
       [&](const Row& r) { return starts(r.name, "k2"); }, all, true, true},
      {"SELECT * FROM t WHERE id > 40 AND v > 0 AND name LIKE 'k2%'",
       [&](const Row& r) { return r.id > 40 && r.v && *r.v > 0 && starts(r.name, "k2"); }, all, false},
      {"SELECT * FROM t WHERE id < 20 OR v = 3",
       [](const Row& r) { return r.id < 20 || (r.v && *r.v == 3); }, all, false},
      // Working field 1 is v here and 2 is id: the index on id answers
      // nothing about working field 1.
      {"SELECT v, id FROM t WHERE id = 3 OR v = 2",
       [](const Row& r) { return r.id == 3 || (r.v && *r.v == 2); },
       [](const Row& r) { return Opt(r.v) + "|" + std::to_string(r.id); }, false},
      {"SELECT name, id FROM t WHERE name LIKE 'k3%' AND id > 5",
       [&](const Row& r) { return starts(r.name, "k3") && r.id > 5; },
       [](const Row& r) { return Name(r.name) + "|" + std::to_string(r.id); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::vector<std::string> want;
    for (const Row& r : model_) {
      if (c.keep(r)) want.push_back(c.print(r));
    }
    TDataQuery q;
    q.SetDirectory(dir_);
    q.SetLiveRequested(true);
    ASSERT_EQ(q.PrepareQuery(c.sql), 0);
    storage::TDataFile* cursor = nullptr;
    ASSERT_EQ(q.ExecuteQuery(cursor), 0);
    ASSERT_TRUE(q.Flags().live);
    std::vector<std::string> got = Rows(*cursor);
    if (!c.ordered) {
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(cursor->RecordCount(), want.size());
    if (c.index_only) {
      EXPECT_FALSE(cursor->Filters().CallbackActive());
    }
  }
}

// Edits through a live cursor: a record whose name is edited out of an
// indexed LIKE leaves the view; with the columns renumbered by the select
// list (working field 1 is x, an integer like id), editing x of a record
// kept for its id keeps it there.
TEST_F(SpeedPathsTest, LiveViewsFollowEdits) {
  struct Case {
    const char* sql;
    int field;       // working field number of the column edited
    int change;      // rows the view gains by the edit
  };
  for (const Case& c : {Case{"SELECT * FROM t WHERE name LIKE 'k1%'", 3, -1},
                        Case{"SELECT x, id FROM t WHERE id < 10", 1, 0}}) {
    SCOPED_TRACE(c.sql);
    TDataQuery q;
    q.SetDirectory(dir_);
    q.SetLiveRequested(true);
    ASSERT_EQ(q.PrepareQuery(c.sql), 0);
    storage::TDataFile* cursor = nullptr;
    ASSERT_EQ(q.ExecuteQuery(cursor), 0);
    const std::size_t before = Rows(*cursor).size();
    ASSERT_GT(before, 1u);
    std::vector<std::byte> buf(cursor->GetRecordBufferSize());
    ASSERT_EQ(cursor->MoveToBegin(), 0);
    ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
    ASSERT_EQ(cursor->ReadCurrentRecord(buf, true), 0);
    const char other[] = "zz";
    const std::int32_t big = 1000;
    cursor->SetFieldValue(true, c.field, false,
                          c.field == 3 ? static_cast<const void*>(other) : &big, buf);
    cursor->ModifyRecord(buf, true);
    const std::vector<std::string> after = Rows(*cursor);
    EXPECT_EQ(static_cast<int>(after.size()), static_cast<int>(before) + c.change);
    EXPECT_EQ(cursor->RecordCount(), after.size());
    const bool kept = std::any_of(after.begin(), after.end(),
                                  [](const std::string& r) {
                                    return r.find("zz") != std::string::npos || r.rfind("1000|", 0) == 0;
                                  });
    EXPECT_EQ(kept, c.change == 0);
  }
}

// A live cursor walking its view takes the records it already holds
// without a read of the files (an armed read fault stays unfired), and
// still sees each write another cursor has ended before its next read: a
// record renamed out of the view, one deleted, and a change of a column no
// index holds (which moves only the data header's counter).
TEST_F(SpeedPathsTest, LiveWalkSeesOtherCursorsWrites) {
  std::vector<const Row*> matches;
  for (const Row& r : model_) {
    if (!r.name.empty() && r.name.rfind("k1", 0) == 0) matches.push_back(&r);
  }
  ASSERT_GE(matches.size(), 7u);
  auto print = [](const Row& r, std::int32_t x) {
    return std::to_string(r.id) + "|" + Opt(r.v) + "|" + Name(r.name) + "|" + Opt(r.d) + "|" +
           std::to_string(x);
  };
  TDataQuery q;
  q.SetDirectory(dir_);
  q.SetLiveRequested(true);
  ASSERT_EQ(q.PrepareQuery("SELECT * FROM t WHERE name LIKE 'k1%'"), 0);
  storage::TDataFile* cursor = nullptr;
  ASSERT_EQ(q.ExecuteQuery(cursor), 0);
  std::vector<std::byte> buf(cursor->GetRecordBufferSize());
  auto line = [&] {
    std::string s;
    for (int n = 1; n <= cursor->WorkingFieldCount(); ++n) s += (n > 1 ? "|" : "") + PrintField(*cursor, n, buf);
    return s;
  };
  ASSERT_EQ(cursor->MoveToBegin(), 0);
  ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
  EXPECT_EQ(line(), print(*matches[0], matches[0]->id % 50));
  storage::ArmFault(storage::FaultSite::kRead, 1);
  ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
  EXPECT_FALSE(storage::FaultFired());
  storage::DisarmFault();
  EXPECT_EQ(line(), print(*matches[1], matches[1]->id % 50));

  // Another cursor on the table, as another program would be.
  storage::TDataFile other;
  other.SetFileName(dir_ + "/t");
  other.Open();
  std::vector<std::byte> rec(other.GetRecordBufferSize());
  auto edit = [&](std::int32_t id, const std::function<void()>& change) {
    ASSERT_EQ(other.MoveToBegin(), 0);
    while (other.ReadNextRecord(rec) == 0) {
      std::int32_t got = 0;
      bool blank = true;
      other.GetFieldValue(true, 1, blank, &got, rec);
      if (got != id) continue;
      ASSERT_EQ(other.ReadCurrentRecord(rec, true), 0);
      change();
      return;
    }
    ADD_FAILURE() << "no record " << id;
  };
  const char renamed[] = "zz";
  const std::int32_t x = 777;
  edit(matches[2]->id, [&] {
    other.SetFieldValue(true, 3, false, renamed, rec);
    other.ModifyRecord(rec, true);
  });
  edit(matches[3]->id, [&] { other.DeleteRecord(); });
  ASSERT_EQ(cursor->ReadNextRecord(buf), 0);
  EXPECT_EQ(line(), print(*matches[4], matches[4]->id % 50));
  edit(matches[5]->id, [&] {
    other.SetFieldValue(true, 5, false, &x, rec);
    other.ModifyRecord(rec, true);
  });
  std::vector<std::string> rest, want;
  while (cursor->ReadNextRecord(buf) == 0) rest.push_back(line());
  for (std::size_t i = 5; i < matches.size(); ++i)
    want.push_back(print(*matches[i], i == 5 ? x : matches[i]->id % 50));
  EXPECT_EQ(rest, want);
}

// GROUP BY and DISTINCT over whole-number and date columns with NULLs and
// negative values: one row per distinct key, NULLs forming one group.
TEST_F(SpeedPathsTest, WholeNumberKeysGroupLikeTheModel) {
  std::map<std::string, std::pair<int, long>> groups;  // v -> count, sum of id
  std::set<std::string> pairs;                          // v|d
  for (const Row& r : model_) {
    auto& g = groups[Opt(r.v)];
    ++g.first;
    g.second += r.id;
    pairs.insert(Opt(r.v) + "|" + Opt(r.d));
  }
  std::vector<std::string> want_groups;
  for (const auto& [key, g] : groups) {
    want_groups.push_back(key + "|" + std::to_string(g.first) + "|" + std::to_string(g.second));
  }
  for (const bool ordered : {false, true}) {
    std::vector<std::string> got =
        Run(std::string("SELECT v, COUNT(*), SUM(id) FROM t GROUP BY v") + (ordered ? " ORDER BY v" : ""));
    std::sort(got.begin(), got.end());
    std::vector<std::string> want = want_groups;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
  std::vector<std::string> got = Run("SELECT DISTINCT v, d FROM t");
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, std::vector<std::string>(pairs.begin(), pairs.end()));
}

}  // namespace
}  // namespace sql::xtest
