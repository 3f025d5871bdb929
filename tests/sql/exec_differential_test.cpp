// Differential test of query execution against SQLite: the same random
// rows (integers, strings, floats, dates as day numbers, BLOB texts) go
// into engine tables and into an in-memory SQLite database, random SELECTs
// run on both, and the rows must agree (as multisets, or in order for
// ORDER BY over a total order). Every seed runs once on tables without
// secondary indexes and once on tables indexed on their join and filter
// columns.
//
// Conditions mix AND, OR and NOT with and without parentheses, and
// arithmetic mixes + - * / unparenthesised, so that both sides must agree
// on precedence and on left grouping; COUNT and AVG of columns with NULLs
// run grouped and as a single group.
//
// The engine's own value rules are kept out of the generated queries
// rather than translated: NULL only in columns that are never compared
// with <> or ordered (s, t, f, m) nor computed with, strings of lower-case
// letters (SQLite's LIKE ignores case), no SUM, MIN or MAX over a nullable
// column (the engine's of NULLs only is 0), no comparison of an outer
// join's blank column with = or ordering (a blank column compares as
// NULL = NULL), no NOT over a LIKE (LIKE on NULL is false, so its NOT is
// true), no division of integers (SQLite's drops the fraction), and an AVG
// of no rows or of NULLs only reads 0 (SQLite's NULL is mapped).

#include <functional>
#include <random>

#include "sql_tables.h"
#include "tests/common/flat_chain.h"
#include "tests/common/sqlite_peer.h"

namespace sql::test {
namespace {

std::string SqlValue(const Value& v) {
  if (!v) return "NULL";
  if (auto* p = std::get_if<std::int32_t>(&*v)) return std::to_string(*p);
  if (auto* d = std::get_if<double>(&*v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f", *d);
    return buf;
  }
  const std::string& s = std::get<std::string>(*v);
  return s.empty() ? "NULL" : "'" + s + "'";
}

class ExecDifferentialTest : public SqlTables {
 protected:
  void Load(const std::string& name, const std::string& columns,
            const std::vector<std::vector<Value>>& rows) {
    Insert(name, rows);
    sqlite_->Exec("CREATE TABLE " + name + " (" + columns + ")");
    for (const auto& row : rows) {
      std::string sql = "INSERT INTO " + name + " VALUES (";
      for (std::size_t i = 0; i < row.size(); ++i) sql += (i ? ", " : "") + SqlValue(row[i]);
      sqlite_->Exec(sql + ")");
    }
  }

  static storage::TIndexDescriptor On(const char* name, std::uint16_t field) { return Index(name, {field}); }

  // Runs sql on both (the peer's words when given) and compares the rows,
  // in order or as multisets.
  void Agree(const std::string& sql, bool live = false, bool ordered = false, const std::string& peer = "") {
    std::vector<std::string> mine = Run(sql, live), theirs = sqlite_->Query(peer.empty() ? sql : peer);
    if (live) { EXPECT_TRUE(last_live_) << sql; }
    if (!ordered) {
      std::sort(mine.begin(), mine.end());
      std::sort(theirs.begin(), theirs.end());
    }
    ASSERT_EQ(mine, theirs) << sql;
  }
  void Restart() {
    SqlTables::Restart();
    sqlite_.emplace();
  }

  // Table c is scrambled on disk with a password when encrypted: read as
  // it is scanned and joined, it must give the same rows as a plain one.
  void MakeTables(std::mt19937& rng, bool indexed, bool encrypted) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto text = [&]() -> Value {
      const int len = pick(4);
      if (len == 0) return std::nullopt;
      std::string s;
      for (int i = 0; i < len; ++i) s += static_cast<char>('a' + pick(3));
      return s;
    };
    using Indexes = std::vector<storage::TIndexDescriptor>;
    Create("a",
           {Field(1, "id", FieldType::kInteger), Field(2, "x", FieldType::kInteger),
            Field(3, "s", FieldType::kString, 10), Field(4, "f", FieldType::kFloat),
            Field(5, "d", FieldType::kDate)},
           indexed ? Indexes{On("ById", 1), On("ByX", 2), On("ByS", 3), On("ByF", 4)} : Indexes{});
    Create("b",
           {Field(1, "aid", FieldType::kInteger), Field(2, "y", FieldType::kInteger),
            Field(3, "t", FieldType::kString, 10), Field(4, "m", FieldType::kBlob)},
           indexed ? Indexes{On("ByAid", 1), On("ByY", 2)} : Indexes{});
    if (encrypted) storage::CurrentSession()->AddPassword("Hush");
    Create("c", {Field(1, "cid", FieldType::kInteger), Field(2, "z", FieldType::kInteger)},
           indexed ? Indexes{On("ByCid", 1)} : Indexes{}, {.password = encrypted ? "Hush" : ""});
    // 1,200 16-bit values: their sum leaves the range of the type.
    Create("big", {Field(1, "k", FieldType::kInteger), Field(2, "v", FieldType::kSmallInt)},
           indexed ? Indexes{On("ByK", 1)} : Indexes{});
    std::vector<std::vector<Value>> a, b, c, big;
    const int na = 20 + pick(40);
    for (int i = 1; i <= na; ++i) {
      std::vector<Value> row{Value{i}, Value{pick(10)}, text(), Value{}, Value{730000 + pick(6)}};
      if (pick(5) != 0) row[3] = Value{(pick(80) - 40) * 0.25};
      a.push_back(std::move(row));
    }
    for (int i = 0, nb = 10 + pick(30); i < nb; ++i) {
      // BLOB texts long enough to take several blocks now and then.
      Value memo;
      if (pick(4) != 0) memo = "m" + std::to_string(i) + std::string(pick(3) == 0 ? 700 : 3, 'q');
      b.push_back({pick(12), pick(8), text(), memo});
    }
    for (int i = 0, nc = 5 + pick(10); i < nc; ++i) c.push_back({pick(8), pick(100)});
    for (int i = 0; i < 1200; ++i) big.push_back({i % 7, 30000 - pick(2000)});
    Load("a", "id INTEGER, x INTEGER, s TEXT, f REAL, d INTEGER", a);
    Load("b", "aid INTEGER, y INTEGER, t TEXT, m TEXT", b);
    Load("c", "cid INTEGER, z INTEGER", c);
    Load("big", "k INTEGER, v INTEGER", big);
  }

  std::optional<testsupport::SqlitePeer> sqlite_{std::in_place};
};

// strings: may test the nullable s (not under NOT: the engine's NOT of a
// LIKE on NULL is true).
std::string Condition(std::mt19937& rng, const std::string& p, int depth = 0,
                      bool strings = true) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto k = [&] { return std::to_string(pick(10)); };
  const std::string x = p + "x";
  const std::string s = p + "s";
  int choice = pick(depth < 2 ? 16 : 12);
  if (!strings && choice >= 5 && choice <= 7) choice = 2;
  switch (choice) {
    // Arithmetic of the columns that are never NULL, left to right.
    case 10: return x + " - " + p + "id + " + k() + " > " + k();
    case 11: return p + "id * 2 - " + x + " * 3 + " + k() + " <= " + p + "id / 4.0 * " + x;
    case 12: {
      // Two to five terms, each perhaps under NOT, joined by AND and OR
      // without parentheses: NOT binds tightest, then AND, then OR.
      std::string out;
      for (int i = 0, n = 2 + pick(4); i < n; ++i) {
        if (i > 0) out += pick(2) ? " AND " : " OR ";
        const bool negated = pick(3) == 0;
        out += (negated ? "NOT " : "") + Condition(rng, p, 2, strings && !negated);
      }
      return out;
    }
    case 0: return x + " > " + k();
    case 1: return x + " <= " + k();
    case 2: return x + " = " + k();
    case 3: return x + " BETWEEN " + k() + " AND " + k();
    case 4: return x + " IN (" + k() + ", " + k() + ", " + k() + ")";
    case 5: return s + " LIKE 'a%'";
    case 6: return s + " LIKE '%b'";
    case 7: return s + " = 'ab'";
    case 8: return k() + " < " + x;
    case 9: return x + " <> " + k();
    case 13:
      return "(" + Condition(rng, p, depth + 1, strings) + " AND " +
             Condition(rng, p, depth + 1, strings) + ")";
    case 14:
      return "(" + Condition(rng, p, depth + 1, strings) + " OR " +
             Condition(rng, p, depth + 1, strings) + ")";
    default: return "NOT (" + Condition(rng, p, depth + 1, false) + ")";
  }
}

struct Generated {
  std::string sql;
  bool ordered = false;
  std::string peer_sql;  // when SQLite needs other words for the same result
  Generated(std::string text, bool in_order = false, std::string peer = "")
      : sql(std::move(text)), ordered(in_order), peer_sql(std::move(peer)) {}
};

Generated Query(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string k = std::to_string(pick(8));
  switch (pick(34)) {
    // Arithmetic grouped left, in the select list.
    case 24:
      return {"SELECT id, x - id + 3, id * 2 - x * 3 + 1, id / 4.0 * x, x - id - 1, "
              "30 - x / 2.0 / 4.0 * id FROM a WHERE " + Condition(rng, "")};
    // COUNT and AVG of columns with NULLs, grouped and as a single group.
    case 25: {
      const std::string rest = " FROM a WHERE " + Condition(rng, "") + " GROUP BY x";
      return {"SELECT x, COUNT(f), AVG(f), COUNT(s), COUNT(*), AVG(id)" + rest, false,
              "SELECT x, COUNT(f), COALESCE(AVG(f), 0.0), COUNT(s), COUNT(*), AVG(id)" + rest};
    }
    case 26: {
      const std::string where = " FROM a WHERE " + Condition(rng, "");
      return {"SELECT AVG(f), COUNT(s), AVG(x), COUNT(f)" + where, false,
              "SELECT COALESCE(AVG(f), 0.0), COUNT(s), COALESCE(AVG(x), 0.0), COUNT(f)" + where};
    }
    case 27: return {pick(2) ? "SELECT COUNT(s) FROM a WHERE " + Condition(rng, "") : "SELECT COUNT(f) FROM a"};
    case 28:
      return {"SELECT d, AVG(f), COUNT(f), AVG(x) FROM a GROUP BY d ORDER BY d", true,
              "SELECT d, COALESCE(AVG(f), 0.0), COUNT(f), AVG(x) FROM a GROUP BY d ORDER BY d"};
    case 29:
      return {"SELECT a.x, COUNT(b.t), AVG(b.y), COUNT(b.m) FROM a, b WHERE a.x = b.aid GROUP BY a.x"};
    case 30: return {"SELECT a.id, COUNT(b.y), COUNT(b.t) FROM a LEFT JOIN b ON a.x = b.aid GROUP BY a.id"};
    // Keys of several fields and descending ones; DISTINCT over a string;
    // results of thousands of rows (the result table written in blocks).
    case 31:
      return {"SELECT id, d, x FROM a WHERE " + Condition(rng, "") + " ORDER BY d DESC, x, id DESC",
              true};
    case 32: return {"SELECT DISTINCT d, s FROM a WHERE " + Condition(rng, "")};
    case 33:
      return {"SELECT big.v, a.id, big.k FROM big, a WHERE big.k = a.x ORDER BY big.v DESC, a.id",
              true};
    // Few rows before the joined table: with an index each seeks it.
    case 22:
      return {"SELECT a.id, b.y, b.m FROM a, b WHERE a.id = " + std::to_string(1 + pick(20)) +
              " AND a.x = b.aid"};
    case 23:
      return {"SELECT b.aid, a.id, a.f FROM b, a WHERE b.y = " + k +
              " AND b.t = a.s AND a.s IS NOT NULL"};
    // BLOB columns of a table that is not the last of the join.
    case 13: return {"SELECT b.m, a.id, b.aid FROM b, a WHERE a.x = b.aid AND " + Condition(rng, "a.")};
    case 14: return {"SELECT a.id, b.m, c.z FROM a, b, c WHERE a.x = b.aid AND b.y = c.cid"};
    // Outer joins whose optional side holds an inner join, and WHERE
    // conditions on the optional table.
    case 15:
      return {"SELECT a.id, b.y, c.z FROM a JOIN b ON a.x = b.aid RIGHT JOIN c ON b.y = c.cid"};
    case 16:
      return {"SELECT c.cid, a.id, b.m FROM c LEFT JOIN b ON b.y = c.cid JOIN a ON a.x = b.aid"};
    case 17:
      return {"SELECT a.id, b.y FROM a LEFT JOIN b ON a.x = b.aid WHERE b.y = " + k};
    case 18:
      return {"SELECT a.id, b.y, c.z FROM a LEFT JOIN b ON a.x = b.aid AND b.y > " + k +
              " LEFT JOIN c ON b.y = c.cid WHERE b.aid IS NULL OR c.z > 50"};
    // Aggregates over no rows and over many.
    case 19:
      return {"SELECT COUNT(*), SUM(x), MIN(x), MAX(d) FROM a WHERE " + Condition(rng, "")};
    case 20: return {"SELECT k, COUNT(*), SUM(v), MIN(v) FROM big GROUP BY k"};
    case 21: return {"SELECT SUM(v), COUNT(*) FROM big WHERE k < " + k};
    case 11:
      return {"SELECT d, COUNT(*), MIN(id), MAX(x) FROM a WHERE " + Condition(rng, "") +
              " GROUP BY d ORDER BY d", true};
    case 12: return {"SELECT MIN(d), MAX(d) FROM a WHERE " + Condition(rng, "")};
    case 0: return {"SELECT id, x, s, f, d FROM a WHERE " + Condition(rng, "")};
    case 1:
      return {"SELECT a.id, b.y, b.t FROM a, b WHERE a.x = b.aid AND " + Condition(rng, "a.") +
              " AND b.y > " + std::to_string(pick(8))};
    case 2: return {"SELECT a.id, b.y FROM a INNER JOIN b ON a.x = b.aid"};
    case 3:
      return {"SELECT a.id, b.y, c.z FROM a, b, c WHERE a.x = b.aid AND b.y = c.cid"};
    case 4:
      return {"SELECT x, COUNT(*), SUM(id), MIN(id), MAX(id), AVG(id) FROM a WHERE " +
              Condition(rng, "") + " GROUP BY x"};
    case 5: return {"SELECT DISTINCT x FROM a WHERE " + Condition(rng, "")};
    case 6:
      return {"SELECT id, x FROM a WHERE " + Condition(rng, "") + " ORDER BY x, id", true};
    case 7: return {"SELECT a.id, b.y FROM a LEFT JOIN b ON a.x = b.aid"};
    case 8:
      return {"SELECT a.id, b.y FROM a, b WHERE a.x = b.aid AND (a.x = " +
              std::to_string(pick(10)) + " OR b.y = " + std::to_string(pick(8)) + ")"};
    case 9: return {"SELECT COUNT(*) FROM a WHERE " + Condition(rng, "")};
    default: {
      // The average of no rows is 0 here.
      const std::string where = " FROM a WHERE " + Condition(rng, "");
      return {"SELECT SUM(x), MIN(x), MAX(x), AVG(x)" + where, false,
              "SELECT SUM(x), MIN(x), MAX(x), COALESCE(AVG(x), 0.0)" + where};
    }
  }
}

// Every seed: random canned queries, random WHERE clauses through a live
// result (the cursor is the table itself under the filters), and a WHERE
// of many conditions on one table, which is one filter canned as live
// (each condition its own filter would pass the engine's 128 filters).
TEST_F(ExecDifferentialTest, RandomQueriesAgreeWithSqlite) {
  std::string many = "id > 0";
  for (int i = 0; i < 200; ++i) many += " AND x <> " + std::to_string(100 + i);
  for (std::uint32_t run = 0; run < 12; ++run) {
    const std::uint32_t seed = run / 2 + 1;
    const bool indexed = run % 2 == 1;
    SCOPED_TRACE("seed " + std::to_string(seed) + (indexed ? " indexed" : "") + (seed % 2 ? " encrypted" : ""));
    Restart();
    std::mt19937 rng(seed);
    MakeTables(rng, indexed, seed % 2 == 1);
    for (int i = 0; i < 80; ++i) {
      const Generated g = Query(rng);
      Agree(g.sql, false, g.ordered, g.peer_sql);
      if (i % 4 == 0) Agree("SELECT id, x, s FROM a WHERE " + Condition(rng, ""), true);
      if (HasFatalFailure()) return;
    }
    for (const bool live : {false, true})
      Agree("SELECT id FROM a WHERE " + many + " AND x < 5", live, false, "SELECT id FROM a WHERE x < 5");
    // Result tables kept on disk (INTO) as each kind of fill leaves them,
    // read by the independent checkers.
    const std::vector<std::string> kept = {
        "SELECT id, d, x INTO r1 FROM a ORDER BY d DESC, x",
        "SELECT x, COUNT(*), AVG(id) INTO r2 FROM a GROUP BY x",
        "SELECT DISTINCT d, s INTO r3 FROM a",
        "SELECT big.v, a.id INTO r4 FROM big, a WHERE big.k = a.x",
        "SELECT a.id, b.m INTO r5 FROM a, b WHERE a.x = b.aid",
    };
    std::vector<std::vector<std::string>> calls;
    for (std::size_t i = 0; i < kept.size(); ++i) {
      ASSERT_NE(Run(kept[i]), std::vector<std::string>{"error prepare"}) << kept[i];
      calls.push_back({dir_ + "/r" + std::to_string(i + 1) + ".DAT"});
    }
    for (const tooltest::ToolResult& r : tooltest::RunToolBatch("tablecheck.py", calls))
      EXPECT_EQ(r.status, 0) << r.output;
    // Rows are stored in the order of their ORDER BY key, so that each key
    // goes to the end of the index: record IDs ascend along it.
    storage::TDataFile r1;
    r1.SetFileName(dir_ + "/r1");
    r1.Open();
    r1.SwitchToIndexByName("OrderBy");
    ASSERT_EQ(r1.MoveToBegin(), 0);
    std::vector<std::byte> rec(r1.GetRecordBufferSize());
    std::uint32_t id = 0;
    while (r1.ReadNextRecord(rec) == 0) ASSERT_EQ(storage::TDataFile::GetRecordID(rec), ++id);
    EXPECT_EQ(id, r1.RecordCount());
  }
}

// Flat chains of 201 OR terms, of 5,000 and 10,000 AND terms and of 2,000
// AND pairs under OR, live and canned, with and without indexes, select
// what their short equivalents select in SQLite (whose own parser stops
// at 1,000 levels); a chain costs one level, while real nesting is still
// refused at the limit.
TEST_F(ExecDifferentialTest, LongFlatChainsAgreeWithSqlite) {
  const auto chain = testsupport::FlatChain;
  const std::string odd_ids = chain(201, " OR ", [](int i) { return "id = " + std::to_string(2 * i + 1); });
  const std::string not_even = chain(5000, " AND ", [](int i) { return "id <> " + std::to_string(2 * i + 2); });
  const std::string not_x = chain(10000, " AND ", [](int i) { return "x <> " + std::to_string(i + 5); });
  const std::string mixed = chain(2000, " OR ", [](int i) {
    return "id = " + std::to_string(i) + " AND x = " + std::to_string(i % 3 == 0 ? i % 10 : 99);
  });
  const struct {
    std::string where, peer;
    bool joined;  // also grouped and in a join
  } cases[] = {
      {odd_ids, "id % 2 = 1", true},
      {odd_ids + " AND x > 3", "id % 2 = 1 OR id = 401 AND x > 3", true},
      {not_even + " AND x < 5", "(id % 2 = 1 OR id > 10000) AND x < 5", false},
      {not_x, "x < 5", false},
      {"NOT x = 1 AND " + not_even + " OR id < 3", "x <> 1 AND (id % 2 = 1 OR id > 10000) OR id < 3", false},
      {mixed, "id % 3 = 0 AND x = id % 10", false},
  };
  for (const bool indexed : {false, true}) {
    Restart();
    std::mt19937 rng(7);
    MakeTables(rng, indexed, false);
    for (const auto& c : cases) {
      for (const bool live : {false, true}) {
        Agree("SELECT id, x FROM a WHERE " + c.where, live, false, "SELECT id, x FROM a WHERE " + c.peer);
        if (HasFatalFailure()) return;
      }
      if (!c.joined) continue;
      Agree("SELECT x, COUNT(*) FROM a WHERE " + c.where + " GROUP BY x", false, false,
            "SELECT x, COUNT(*) FROM a WHERE " + c.peer + " GROUP BY x");
      Agree("SELECT a.id, b.y FROM a, b WHERE a.x = b.aid AND (" + c.where + ")", false, false,
            "SELECT a.id, b.y FROM a, b WHERE a.x = b.aid AND (" + c.peer + ")");
    }
  }
  const std::string deep = std::string(300, '(') + "x = 1" + std::string(300, ')');
  const std::string nots = Repeat("NOT ", 300) + "x = 1";
  for (const std::string& where : {deep, nots}) {
    const std::vector<std::string> r = Run("SELECT id FROM a WHERE " + where);
    EXPECT_EQ(r, std::vector<std::string>{"error 11949: Expression is nested too deeply in WHERE or JOIN clause"});
  }
}

}  // namespace
}  // namespace sql::test
