// Differential test of the expression checker and evaluator against
// SQLite: random typed expression trees over random rows without NULLs,
// checked and evaluated by the engine and run by SQLite on the same values.
//
// Mapping to SQLite: integer division is written CAST(a AS REAL) / b;
// SUBSTRING is substr; TRIM LEADING/TRAILING/BOTH are ltrim/rtrim/trim;
// LIKE runs under PRAGMA case_sensitive_like=ON; dates and timestamps are
// ISO texts compared and subtracted through julianday and taken apart with
// strftime; a date plus n days is date(d, '+n days'). Divisors are never
// zero and integers stay small, so neither side meets a NULL or an
// overflow: NULL behaviour is tested by hand, since it deliberately
// differs from SQL.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "expression_test_support.h"
#include "storage/expression_check.h"
#include "storage/expression_types.h"
#include "storage/session.h"

namespace storage {
namespace {

using namespace storage::test;  // NOLINT

struct Expr {
  ExpressionPtr tree;
  std::string sql;
};

enum class Kind { kBool, kInt, kFloat, kString, kDate, kStamp };

struct ColumnDef {
  const char* name;
  const char* sql_type;
  T type;
  std::uint8_t size;
};

const ColumnDef kColumns[] = {
    {"s1", "TEXT", T::kString, 13},     {"s2", "TEXT", T::kString, 13},
    {"i1", "INTEGER", T::kInteger, 4},  {"i2", "INTEGER", T::kInteger, 4},
    {"sm", "INTEGER", T::kSmallInt, 2}, {"w", "INTEGER", T::kWord, 2},
    {"nz", "INTEGER", T::kInteger, 4},  {"f1", "REAL", T::kFloat, 8},
    {"f2", "REAL", T::kFloat, 8},       {"fnz", "REAL", T::kFloat, 8},
    {"b1", "INTEGER", T::kBoolean, 2},  {"d1", "TEXT", T::kDate, 4},
    {"d2", "TEXT", T::kDate, 4},        {"t1", "TEXT", T::kTimestamp, 8},
};

bool Resolve(TExpressionNode& node) {
  for (const ColumnDef& c : kColumns) {
    if (node.column_name.View() == c.name) {
      node.type = c.type;
      node.size = c.size;
      return true;
    }
  }
  return false;
}

std::string IsoDate(std::uint32_t day) {
  int y, m, d;
  fw::DecodeDate(static_cast<double>(day) - fw::kDateDelta, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string IsoStamp(double ms) {
  const auto day = static_cast<std::uint32_t>(TimestampDays(ms));
  const auto t = TimestampTimeOfDay(ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %02d:%02d:%02d", IsoDate(day).c_str(),
                static_cast<int>(t / 3600000), static_cast<int>(t / 60000 % 60),
                static_cast<int>(t / 1000 % 60));
  return buf;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Coin() { return Pick(0, 1) == 1; }

  std::string Text(int min_len, int max_len, const char* alphabet) {
    std::string s;
    const int n = Pick(min_len, max_len);
    const int k = static_cast<int>(std::char_traits<char>::length(alphabet));
    for (int i = 0; i < n; ++i) s += alphabet[Pick(0, k - 1)];
    return s;
  }
  std::string Word() { return Text(1, 6, "abcABx"); }
  double Quarter(int lo, int hi) { return Pick(lo * 8, hi * 8) / 8.0; }
  std::uint32_t Day() { return DayNumber(1000, 1, 1) + Pick(0, 365 * 8000); }
  double StampValue() { return static_cast<double>(Day()) * 86400000.0 + Pick(0, 86399) * 1000.0; }

  // Row values, in the order of kColumns.
  struct RowValues {
    std::string s1, s2;
    int i1, i2, sm, w, nz;
    double f1, f2, fnz;
    bool b1;
    std::uint32_t d1, d2;
    double t1;
  };
  RowValues RandomRow() {
    RowValues v;
    v.s1 = Word();
    v.s2 = Coin() ? v.s1 : Word();
    v.i1 = Pick(-100, 100);
    v.i2 = Coin() ? v.i1 : Pick(-100, 100);
    v.sm = Pick(-100, 100);
    v.w = Pick(0, 200);
    v.nz = Pick(1, 9) * (Coin() ? 1 : -1);
    v.f1 = Quarter(-50, 50);
    v.f2 = Coin() ? v.f1 : Quarter(-50, 50);
    v.fnz = Pick(1, 64) / 8.0 * (Coin() ? 1 : -1);
    v.b1 = Coin();
    v.d1 = Day();
    v.d2 = Coin() ? v.d1 : Day();
    v.t1 = Coin() ? static_cast<double>(v.d1) * 86400000.0 : StampValue();
    return v;
  }

  Expr Make(Kind kind, int depth) {
    switch (kind) {
      case Kind::kBool: return MakeBool(depth);
      case Kind::kInt: return MakeInt(depth);
      case Kind::kFloat: return MakeFloat(depth);
      case Kind::kString: return MakeString(depth);
      case Kind::kDate: return MakeDate();
      default: return MakeStamp();
    }
  }

 private:
  static Expr Column(const char* name) { return {Col(name), name}; }
  static Expr Binary(Op op, Expr a, Expr b, const char* sql_op) {
    std::string sql = "(" + a.sql + " " + sql_op + " " + b.sql + ")";
    return {Bin(op, std::move(a.tree), std::move(b.tree)), sql};
  }
  static Expr IntConst(int v) { return {Int(v), "(" + std::to_string(v) + ")"}; }
  static Expr FloatConst(double v) {
    // Always with a point: SQLite reads "27" as an integer.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    std::string text = buf;
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return {Flt(v), "(" + text + ")"};
  }
  static Expr StrConst(const std::string& s) { return {Str(s), "'" + s + "'"}; }

  Expr MakeInt(int depth) {
    const int choice = depth <= 0 ? Pick(0, 1) : Pick(0, 7);
    switch (choice) {
      case 0: {
        static const char* kInts[] = {"i1", "i2", "sm", "w", "nz"};
        return Column(kInts[Pick(0, 4)]);
      }
      case 1: return IntConst(Pick(-100, 100));
      case 2: return Binary(Op::kAdd, MakeInt(depth - 1), MakeInt(depth - 1), "+");
      case 3: {
        // A bare word column on the left of - stays a word in the engine
        // (wrapping below zero); SQLite has no such type.
        Expr l = MakeInt(depth - 1);
        if (l.sql == "w") l = Column("i1");
        return Binary(Op::kSubtract, std::move(l), MakeInt(depth - 1), "-");
      }
      case 4:
        // Products of leaves only: the engine keeps 32 bits, SQLite 64.
        return Binary(Op::kMultiply, MakeInt(0), MakeInt(0), "*");
      case 5: {
        static const Op kParts[] = {Op::kExtractYear, Op::kExtractMonth, Op::kExtractDay};
        static const char* kFormats[] = {"%Y", "%m", "%d"};
        const int p = Pick(0, 2);
        Expr arg = Coin() ? MakeDate() : MakeStamp();
        std::string sql = "CAST(strftime('" + std::string(kFormats[p]) + "', " + arg.sql +
                          ") AS INTEGER)";
        return {Fn(kParts[p], std::move(arg.tree)), sql};
      }
      case 6: {
        Expr a = MakeDate();
        Expr b = MakeDate();
        std::string sql = "CAST(julianday(" + a.sql + ") - julianday(" + b.sql + ") AS INTEGER)";
        return {Bin(Op::kSubtract, std::move(a.tree), std::move(b.tree)), sql};
      }
      default: return Column("i2");
    }
  }

  // A divisor that is never zero.
  Expr NonZero() {
    switch (Pick(0, 3)) {
      case 0: return Column("nz");
      case 1: return Column("fnz");
      case 2: return IntConst(Pick(1, 9) * (Coin() ? 1 : -1));
      default: return FloatConst(Pick(1, 40) / 8.0);
    }
  }

  Expr MakeFloat(int depth) {
    const int choice = depth <= 0 ? Pick(0, 1) : Pick(0, 5);
    switch (choice) {
      case 0: return Column(Coin() ? "f1" : "f2");
      case 1: return FloatConst(Quarter(-50, 50));
      case 2: {
        const bool add = Coin();
        Expr a = MakeFloat(depth - 1);
        Expr b = Coin() ? MakeFloat(depth - 1) : MakeInt(depth - 1);
        return Binary(add ? Op::kAdd : Op::kSubtract, std::move(a), std::move(b), add ? "+" : "-");
      }
      case 3: return Binary(Op::kMultiply, MakeInt(depth - 1), MakeFloat(depth - 1), "*");
      case 4: {
        // Integer / integer is a float in the engine.
        Expr a = MakeInt(depth - 1);
        Expr b = NonZero();
        std::string sql = "(CAST(" + a.sql + " AS REAL) / " + b.sql + ")";
        return {Bin(Op::kDivide, std::move(a.tree), std::move(b.tree)), sql};
      }
      default: return Binary(Op::kDivide, MakeFloat(depth - 1), NonZero(), "/");
    }
  }

  Expr MakeString(int depth) {
    const int choice = depth <= 0 ? Pick(0, 1) : Pick(0, 6);
    switch (choice) {
      case 0: return Column(Coin() ? "s1" : "s2");
      case 1: return StrConst(Word());
      case 2: return Binary(Op::kAdd, MakeString(depth - 1), MakeString(depth - 1), "||");
      case 3: {
        const bool upper = Coin();
        Expr a = MakeString(depth - 1);
        std::string sql = std::string(upper ? "upper(" : "lower(") + a.sql + ")";
        return {Fn(upper ? Op::kUpper : Op::kLower, std::move(a.tree)), sql};
      }
      case 4: {
        Expr a = MakeString(depth - 1);
        const int from = Pick(1, 8);
        if (Coin()) {
          std::string sql = "substr(" + a.sql + ", " + std::to_string(from) + ")";
          return {Fn(Op::kSubstring, std::move(a.tree), Int(from)), sql};
        }
        const int count = Pick(1, 8);
        std::string sql =
            "substr(" + a.sql + ", " + std::to_string(from) + ", " + std::to_string(count) + ")";
        return {Fn(Op::kSubstring, std::move(a.tree), Int(from), Int(count)), sql};
      }
      case 5: {
        static const Op kOps[] = {Op::kTrimLeading, Op::kTrimTrailing, Op::kTrimBoth};
        static const char* kFns[] = {"ltrim", "rtrim", "trim"};
        const int k = Pick(0, 2);
        const std::string c(1, "abcABx"[Pick(0, 5)]);
        Expr a = MakeString(depth - 1);
        std::string sql = std::string(kFns[k]) + "(" + a.sql + ", '" + c + "')";
        return {Fn(kOps[k], std::move(a.tree), Str(c)), sql};
      }
      default: return Column("s1");
    }
  }

  Expr MakeDate() {
    if (Coin()) return Column(Coin() ? "d1" : "d2");
    if (Coin()) {
      const std::uint32_t d = Day();
      return {Typed(T::kDate, d), "'" + IsoDate(d) + "'"};
    }
    Expr base = Column(Coin() ? "d1" : "d2");
    const int n = Pick(-400, 400);
    const bool minus = Coin();
    const int shift = minus ? -n : n;
    char mod[32];
    std::snprintf(mod, sizeof mod, "'%+d days'", shift);
    std::string sql = "date(" + base.sql + ", " + mod + ")";
    return {Bin(minus ? Op::kSubtract : Op::kAdd, std::move(base.tree), Int(n)), sql};
  }

  Expr MakeStamp() {
    if (Coin()) return Column("t1");
    if (Coin()) {
      const double v = StampValue();
      return {Typed(T::kTimestamp, v), "'" + IsoStamp(v) + "'"};
    }
    const int n = Pick(-400, 400);
    char mod[32];
    std::snprintf(mod, sizeof mod, "'%+d days'", n);
    return {Bin(Op::kAdd, Col("t1"), Int(n)), "datetime(t1, " + std::string(mod) + ")"};
  }

  static const char* SqlOp(Op op) {
    switch (op) {
      case Op::kEqual: return "=";
      case Op::kNotEqual: return "<>";
      case Op::kGreater: return ">";
      case Op::kLess: return "<";
      case Op::kGreaterEqual: return ">=";
      default: return "<=";
    }
  }

  Expr Compare(Kind kind) {
    const Op op = static_cast<Op>(Pick(3, 8));
    if (kind == Kind::kDate || kind == Kind::kStamp) {
      Expr a = Coin() ? MakeDate() : MakeStamp();
      Expr b = Coin() ? MakeDate() : MakeStamp();
      std::string sql = "(julianday(" + a.sql + ") " + SqlOp(op) + " julianday(" + b.sql + "))";
      return {Bin(op, std::move(a.tree), std::move(b.tree)), sql};
    }
    if (kind == Kind::kString) return Binary(op, MakeString(2), MakeString(2), SqlOp(op));
    auto number = [&] { return Coin() ? MakeInt(2) : MakeFloat(2); };
    Expr a = number();
    Expr b = number();
    return Binary(op, std::move(a), std::move(b), SqlOp(op));
  }

  // A constant of the kind, for IN lists and BETWEEN bounds.
  Expr Constant(Kind kind) {
    switch (kind) {
      case Kind::kInt: return IntConst(Pick(-100, 100));
      case Kind::kFloat: return FloatConst(Quarter(-50, 50));
      case Kind::kString: return StrConst(Word());
      default: {
        const std::uint32_t d = Day();
        return {Typed(T::kDate, d), "julianday('" + IsoDate(d) + "')"};
      }
    }
  }

  Expr Tested(Kind kind) {
    switch (kind) {
      case Kind::kInt: return MakeInt(2);
      case Kind::kFloat: return MakeFloat(2);
      case Kind::kString: return MakeString(2);
      default: {
        Expr d = MakeDate();
        return {std::move(d.tree), "julianday(" + d.sql + ")"};
      }
    }
  }

  Expr MakeBool(int depth) {
    const int choice = depth <= 0 ? Pick(0, 3) : Pick(0, 10);
    static const Kind kCompared[] = {Kind::kInt, Kind::kFloat, Kind::kString, Kind::kDate};
    switch (choice) {
      case 0: return Compare(kCompared[Pick(0, 3)]);
      case 1: return Column("b1");
      case 2: {
        const bool truth = Coin();
        const bool eq = Coin();
        return {Bin(eq ? Op::kEqual : Op::kNotEqual, Col("b1"), Bool(truth)),
                std::string("(b1 ") + (eq ? "= " : "<> ") + (truth ? "1)" : "0)")};
      }
      case 3: {
        const bool like = Coin();
        Expr s = MakeString(2);
        const std::string pattern = Text(0, 5, "abcAB%%__");
        std::string sql = "(" + s.sql + (like ? " LIKE '" : " NOT LIKE '") + pattern + "')";
        if (pattern.empty()) return Compare(Kind::kInt);  // '' is the NULL constant
        return {Pred(like ? Op::kLike : Op::kNotLike, std::move(s.tree), Items(Str(pattern))),
                sql};
      }
      case 4: {
        Expr a = MakeBool(depth - 1);
        return {Un(Op::kNot, std::move(a.tree)), "(NOT " + a.sql + ")"};
      }
      case 5:
      case 6:
        return Binary(choice == 5 ? Op::kAnd : Op::kOr, MakeBool(depth - 1), MakeBool(depth - 1),
                      choice == 5 ? "AND" : "OR");
      case 7:
      case 8: {
        const Kind kind = kCompared[Pick(0, 3)];
        const bool in = Coin();
        Expr x = Tested(kind);
        std::vector<ExpressionPtr> items;
        std::string sql = "(" + x.sql + (in ? " IN (" : " NOT IN (");
        const int n = Pick(1, 5);
        for (int i = 0; i < n; ++i) {
          Expr c = Constant(kind);
          sql += (i ? ", " : "") + c.sql;
          items.push_back(std::move(c.tree));
        }
        return {Pred(in ? Op::kIn : Op::kNotIn, std::move(x.tree), std::move(items)), sql + "))"};
      }
      default: {
        const Kind kind = kCompared[Pick(0, 3)];
        const bool between = Coin();
        Expr x = Tested(kind);
        Expr lo = Constant(kind);
        Expr hi = Constant(kind);
        std::string sql = "(" + x.sql + (between ? " BETWEEN " : " NOT BETWEEN ") + lo.sql +
                          " AND " + hi.sql + ")";
        return {Pred(between ? Op::kBetween : Op::kNotBetween, std::move(x.tree),
                     Items(std::move(lo.tree), std::move(hi.tree))),
                sql};
      }
    }
  }

  std::mt19937 rng_;
};

class Sqlite {
 public:
  Sqlite() {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Exec("PRAGMA case_sensitive_like=ON");
  }
  ~Sqlite() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK)
        << sql << ": " << (err ? err : "");
    sqlite3_free(err);
  }
  sqlite3* db() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void RunDifferential(std::uint32_t seed) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  Sqlite sql;
  std::string create = "CREATE TABLE t(id INTEGER PRIMARY KEY";
  for (const ColumnDef& c : kColumns) create += std::string(", ") + c.name + " " + c.sql_type;
  sql.Exec(create + ")");

  Generator gen(seed);
  constexpr int kRows = 24;
  std::vector<Row> rows(kRows);
  for (int r = 0; r < kRows; ++r) {
    const auto v = gen.RandomRow();
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "INSERT INTO t VALUES(%d, %s, %s, %d, %d, %d, %d, %d, %.17g, %.17g, %.17g, %d, "
                  "%s, %s, %s)",
                  r, Quote(v.s1).c_str(), Quote(v.s2).c_str(), v.i1, v.i2, v.sm, v.w, v.nz, v.f1,
                  v.f2, v.fnz, v.b1 ? 1 : 0, Quote(IsoDate(v.d1)).c_str(),
                  Quote(IsoDate(v.d2)).c_str(), Quote(IsoStamp(v.t1)).c_str());
    sql.Exec(buf);
    rows[r]
        .Set("s1", Str(v.s1))
        .Set("s2", Str(v.s2))
        .Set("i1", Int(v.i1))
        .Set("i2", Int(v.i2))
        .Set("sm", Small(static_cast<std::int16_t>(v.sm)))
        .Set("w", test::Word(static_cast<std::uint16_t>(v.w)))
        .Set("nz", Int(v.nz))
        .Set("f1", Flt(v.f1))
        .Set("f2", Flt(v.f2))
        .Set("fnz", Flt(v.fnz))
        .Set("b1", Bool(v.b1))
        .Set("d1", Typed(T::kDate, v.d1))
        .Set("d2", Typed(T::kDate, v.d2))
        .Set("t1", Typed(T::kTimestamp, v.t1));
  }

  constexpr int kExpressions = 4000;
  int compared = 0;
  int true_results = 0;
  int bool_results = 0;
  for (int i = 0; i < kExpressions; ++i) {
    static const Kind kRoots[] = {Kind::kBool, Kind::kBool, Kind::kBool, Kind::kInt,
                                  Kind::kFloat, Kind::kString};
    const Kind root = kRoots[gen.Pick(0, 5)];
    Expr e = gen.Make(root, 3);
    SCOPED_TRACE("expression " + std::to_string(i) + ": " + e.sql);
    ASSERT_NO_THROW(CheckExpression(11949, "source columns", *e.tree, Resolve));

    sqlite3_stmt* stmt = nullptr;
    const std::string query = "SELECT id, " + e.sql + " FROM t ORDER BY id";
    ASSERT_EQ(sqlite3_prepare_v2(sql.db(), query.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(sql.db());
    int r = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      TExpressionNode result;
      Evaluate(*e.tree, rows[r], result);
      SCOPED_TRACE("row " + std::to_string(r));
      ASSERT_NE(sqlite3_column_type(stmt, 1), SQLITE_NULL);
      ASSERT_EQ(result.null, 0);
      switch (root) {
        case Kind::kBool: {
          const bool want = sqlite3_column_int64(stmt, 1) != 0;
          ASSERT_EQ(result.type, T::kBoolean);
          ASSERT_EQ(NodeIsTrue(result), want);
          true_results += want;
          ++bool_results;
          break;
        }
        case Kind::kInt:
          ASSERT_TRUE(IsIntegerType(result.type));
          ASSERT_EQ(result.type == T::kInteger  ? NodeValue<std::int32_t>(result)
                    : result.type == T::kWord ? NodeValue<std::uint16_t>(result)
                                              : NodeValue<std::int16_t>(result),
                    sqlite3_column_int64(stmt, 1));
          break;
        case Kind::kFloat:
          ASSERT_EQ(result.type, T::kFloat);
          ASSERT_DOUBLE_EQ(NodeValue<double>(result), sqlite3_column_double(stmt, 1));
          break;
        default: {
          ASSERT_EQ(result.type, T::kString);
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
          ASSERT_EQ(NodeString(result), std::string(text));
          break;
        }
      }
      ++r;
      ++compared;
    }
    sqlite3_finalize(stmt);
    ASSERT_EQ(r, kRows);
  }
  EXPECT_EQ(compared, kExpressions * kRows);
  // The generator must produce both outcomes often enough to mean something.
  EXPECT_GT(true_results, bool_results / 10);
  EXPECT_LT(true_results, bool_results - bool_results / 10);
}

TEST(ExpressionDifferential, RandomTreesAgreeWithSqlite) {
  InitializeEngine();
  for (std::uint32_t seed : {20261206u, 7u, 4242u}) {
    RunDifferential(seed);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace storage
