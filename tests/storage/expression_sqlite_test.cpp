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

#include <array>
#include <string>
#include <vector>

#include "expression_test_support.h"
#include "tests/common/sqlite_peer.h"
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

const TestColumn kColumns[] = {
    {"s1", T::kString, 13}, {"s2", T::kString, 13}, {"i1", T::kInteger, 4},   {"i2", T::kInteger, 4},
    {"sm", T::kSmallInt, 2}, {"w", T::kWord, 2},    {"nz", T::kInteger, 4},   {"f1", T::kFloat, 8},
    {"f2", T::kFloat, 8},   {"fnz", T::kFloat, 8},  {"b1", T::kBoolean, 2},   {"d1", T::kDate, 4},
    {"d2", T::kDate, 4},    {"t1", T::kTimestamp, 8},
};
bool Resolve(TExpressionNode& node) { return ResolveColumn(kColumns, node); }
// Dates and timestamps are ISO texts in SQLite.
const char* SqlType(T type) {
  if (type == T::kFloat) return "REAL";
  return type == T::kString || type == T::kDate || type == T::kTimestamp ? "TEXT" : "INTEGER";
}

std::string IsoDate(std::uint32_t day) {
  int y, m, d;
  fw::DecodeDate(static_cast<double>(day) - fw::kDateDelta, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}
std::string IsoStamp(double ms) {
  const auto t = TimestampTimeOfDay(ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %02d:%02d:%02d", IsoDate(static_cast<std::uint32_t>(TimestampDays(ms))).c_str(),
                static_cast<int>(t / 3600000), static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60));
  return buf;
}
using testsupport::SqlReal;

class Generator : public testsupport::Dice {
 public:
  using Dice::Dice;

  std::string Word() { return Text(1, 6, "abcABx"); }
  double Quarter(int lo, int hi) { return Pick(lo * 8, hi * 8) / 8.0; }
  std::uint32_t Day() { return DayNumber(1000, 1, 1) + Pick(0, 365 * 8000); }
  double StampValue() { return static_cast<double>(Day()) * 86400000.0 + Pick(0, 86399) * 1000.0; }

  // One row: its values as engine nodes and as SQL literals, in the order
  // of kColumns; the second of a pair often equals the first.
  void RandomRow(Row& row, std::vector<std::string>& sql) {
    auto put = [&](const char* name, ExpressionPtr v, std::string literal) {
      row.Set(name, std::move(v));
      sql.push_back(std::move(literal));
    };
    const std::string s1 = Word(), s2 = Coin() ? s1 : Word();
    const int i1 = Pick(-100, 100), i2 = Coin() ? i1 : Pick(-100, 100), sm = Pick(-100, 100), w = Pick(0, 200);
    const int nz = Pick(1, 9) * (Coin() ? 1 : -1);
    const double f1 = Quarter(-50, 50), f2 = Coin() ? f1 : Quarter(-50, 50);
    const double fnz = Pick(1, 64) / 8.0 * (Coin() ? 1 : -1);
    const bool b1 = Coin();
    const std::uint32_t d1 = Day(), d2 = Coin() ? d1 : Day();
    const double t1 = Coin() ? static_cast<double>(d1) * 86400000.0 : StampValue();
    put("s1", Str(s1), "'" + s1 + "'");
    put("s2", Str(s2), "'" + s2 + "'");
    put("i1", Int(i1), std::to_string(i1));
    put("i2", Int(i2), std::to_string(i2));
    put("sm", Small(static_cast<std::int16_t>(sm)), std::to_string(sm));
    put("w", test::Word(static_cast<std::uint16_t>(w)), std::to_string(w));
    put("nz", Int(nz), std::to_string(nz));
    put("f1", Flt(f1), SqlReal(f1));
    put("f2", Flt(f2), SqlReal(f2));
    put("fnz", Flt(fnz), SqlReal(fnz));
    put("b1", Bool(b1), b1 ? "1" : "0");
    put("d1", Typed(T::kDate, d1), "'" + IsoDate(d1) + "'");
    put("d2", Typed(T::kDate, d2), "'" + IsoDate(d2) + "'");
    put("t1", Typed(T::kTimestamp, t1), "'" + IsoStamp(t1) + "'");
  }

  Expr Make(Kind kind, int depth) {
    switch (kind) {
      case Kind::kBool: return MakeBool(depth);
      case Kind::kInt: return MakeInt(depth);
      case Kind::kFloat: return MakeFloat(depth);
      default: return MakeString(depth);
    }
  }

 private:
  static Expr Column(const char* name) { return {Col(name), name}; }
  static Expr Binary(Op op, Expr a, Expr b, const char* sql_op) {
    std::string sql = "(" + a.sql + " " + sql_op + " " + b.sql + ")";
    return {Bin(op, std::move(a.tree), std::move(b.tree)), sql};
  }
  static Expr IntConst(int v) { return {Int(v), "(" + std::to_string(v) + ")"}; }
  static Expr FloatConst(double v) { return {Flt(v), "(" + SqlReal(v) + ")"}; }
  static Expr StrConst(const std::string& s) { return {Str(s), "'" + s + "'"}; }
  static Expr Function(Op op, Expr a, const std::string& sql, ExpressionPtr e1 = nullptr, ExpressionPtr e2 = nullptr) {
    return {Fn(op, std::move(a.tree), std::move(e1), std::move(e2)), sql};
  }

  Expr MakeInt(int depth) {
    switch (depth <= 0 ? Pick(0, 1) : Pick(0, 7)) {
      case 0: return Column(std::array{"i1", "i2", "sm", "w", "nz"}[Pick(0, 4)]);
      case 1: return IntConst(Pick(-100, 100));
      case 2: return Binary(Op::kAdd, MakeInt(depth - 1), MakeInt(depth - 1), "+");
      case 3: {
        // A bare word column on the left of - stays a word in the engine
        // (wrapping below zero); SQLite has no such type.
        Expr l = MakeInt(depth - 1);
        if (l.sql == "w") l = Column("i1");
        return Binary(Op::kSubtract, std::move(l), MakeInt(depth - 1), "-");
      }
      case 4: return Binary(Op::kMultiply, MakeInt(0), MakeInt(0), "*");  // the engine keeps 32 bits, SQLite 64
      case 5: {
        const int p = Pick(0, 2);
        Expr arg = Coin() ? MakeDate() : MakeStamp();
        const std::string sql =
            std::string("CAST(strftime('") + std::array{"%Y", "%m", "%d"}[p] + "', " + arg.sql + ") AS INTEGER)";
        return Function(std::array{Op::kExtractYear, Op::kExtractMonth, Op::kExtractDay}[p], std::move(arg), sql);
      }
      case 6: {
        Expr a = MakeDate(), b = MakeDate();
        std::string sql = "CAST(julianday(" + a.sql + ") - julianday(" + b.sql + ") AS INTEGER)";
        return {Bin(Op::kSubtract, std::move(a.tree), std::move(b.tree)), sql};
      }
      default: return Column("i2");
    }
  }

  Expr NonZero() {  // a divisor that is never zero
    switch (Pick(0, 3)) {
      case 0: return Column("nz");
      case 1: return Column("fnz");
      case 2: return IntConst(Pick(1, 9) * (Coin() ? 1 : -1));
      default: return FloatConst(Pick(1, 40) / 8.0);
    }
  }

  Expr MakeFloat(int depth) {
    switch (depth <= 0 ? Pick(0, 1) : Pick(0, 5)) {
      case 0: return Column(Coin() ? "f1" : "f2");
      case 1: return FloatConst(Quarter(-50, 50));
      case 2: {
        const bool add = Coin();
        Expr a = MakeFloat(depth - 1);
        return Binary(add ? Op::kAdd : Op::kSubtract, std::move(a), Coin() ? MakeFloat(depth - 1) : MakeInt(depth - 1),
                      add ? "+" : "-");
      }
      case 3: return Binary(Op::kMultiply, MakeInt(depth - 1), MakeFloat(depth - 1), "*");
      case 4: {  // integer / integer is a float in the engine
        Expr a = MakeInt(depth - 1), b = NonZero();
        std::string sql = "(CAST(" + a.sql + " AS REAL) / " + b.sql + ")";
        return {Bin(Op::kDivide, std::move(a.tree), std::move(b.tree)), sql};
      }
      default: return Binary(Op::kDivide, MakeFloat(depth - 1), NonZero(), "/");
    }
  }

  Expr MakeString(int depth) {
    switch (depth <= 0 ? Pick(0, 1) : Pick(0, 6)) {
      case 0: return Column(Coin() ? "s1" : "s2");
      case 1: return StrConst(Word());
      case 2: return Binary(Op::kAdd, MakeString(depth - 1), MakeString(depth - 1), "||");
      case 3: {
        const bool upper = Coin();
        Expr a = MakeString(depth - 1);
        const std::string sql = std::string(upper ? "upper(" : "lower(") + a.sql + ")";
        return Function(upper ? Op::kUpper : Op::kLower, std::move(a), sql);
      }
      case 4: {
        Expr a = MakeString(depth - 1);
        const int from = Pick(1, 8), count = Pick(1, 8);
        const std::string head = "substr(" + a.sql + ", " + std::to_string(from);
        if (Coin()) return Function(Op::kSubstring, std::move(a), head + ")", Int(from));
        return Function(Op::kSubstring, std::move(a), head + ", " + std::to_string(count) + ")", Int(from), Int(count));
      }
      case 5: {
        const int k = Pick(0, 2);
        const std::string c(1, "abcABx"[Pick(0, 5)]);
        Expr a = MakeString(depth - 1);
        const std::string sql = std::string(std::array{"ltrim", "rtrim", "trim"}[k]) + "(" + a.sql + ", '" + c + "')";
        return Function(std::array{Op::kTrimLeading, Op::kTrimTrailing, Op::kTrimBoth}[k], std::move(a), sql, Str(c));
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
    char mod[32];
    std::snprintf(mod, sizeof mod, "'%+d days'", minus ? -n : n);
    return {Bin(minus ? Op::kSubtract : Op::kAdd, std::move(base.tree), Int(n)), "date(" + base.sql + ", " + mod + ")"};
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
    if (kind == Kind::kDate) {
      Expr a = Coin() ? MakeDate() : MakeStamp(), b = Coin() ? MakeDate() : MakeStamp();
      std::string sql = "(julianday(" + a.sql + ") " + SqlOp(op) + " julianday(" + b.sql + "))";
      return {Bin(op, std::move(a.tree), std::move(b.tree)), sql};
    }
    if (kind == Kind::kString) return Binary(op, MakeString(2), MakeString(2), SqlOp(op));
    Expr a = Coin() ? MakeInt(2) : MakeFloat(2);
    return Binary(op, std::move(a), Coin() ? MakeInt(2) : MakeFloat(2), SqlOp(op));
  }

  // A constant of the kind, for IN lists and BETWEEN bounds; the value
  // tested against them.
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
    if (kind != Kind::kDate) return Make(kind, 2);
    Expr d = MakeDate();
    return {std::move(d.tree), "julianday(" + d.sql + ")"};
  }

  Expr MakeBool(int depth) {
    const int choice = depth <= 0 ? Pick(0, 3) : Pick(0, 10);
    const Kind kind = std::array{Kind::kInt, Kind::kFloat, Kind::kString, Kind::kDate}[Pick(0, 3)];
    switch (choice) {
      case 0: return Compare(kind);
      case 1: return Column("b1");
      case 2: {
        const bool truth = Coin(), eq = Coin();
        return {Bin(eq ? Op::kEqual : Op::kNotEqual, Col("b1"), Bool(truth)),
                std::string("(b1 ") + (eq ? "= " : "<> ") + (truth ? "1)" : "0)")};
      }
      case 3: {
        const bool like = Coin();
        Expr s = MakeString(2);
        const std::string pattern = Text(0, 5, "abcAB%%__");
        if (pattern.empty()) return Compare(Kind::kInt);  // '' is the NULL constant
        std::string sql = "(" + s.sql + (like ? " LIKE '" : " NOT LIKE '") + pattern + "')";
        return {Pred(like ? Op::kLike : Op::kNotLike, std::move(s.tree), Items(Str(pattern))), sql};
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
        const bool in = Coin();
        Expr x = Tested(kind);
        std::vector<ExpressionPtr> items;
        std::string sql = "(" + x.sql + (in ? " IN (" : " NOT IN (");
        for (int i = 0, n = Pick(1, 5); i < n; ++i) {
          Expr c = Constant(kind);
          sql += (i ? ", " : "") + c.sql;
          items.push_back(std::move(c.tree));
        }
        return {Pred(in ? Op::kIn : Op::kNotIn, std::move(x.tree), std::move(items)), sql + "))"};
      }
      default: {
        const bool between = Coin();
        Expr x = Tested(kind), lo = Constant(kind), hi = Constant(kind);
        std::string sql = "(" + x.sql + (between ? " BETWEEN " : " NOT BETWEEN ") + lo.sql + " AND " + hi.sql + ")";
        auto bounds = Items(std::move(lo.tree), std::move(hi.tree));
        return {Pred(between ? Op::kBetween : Op::kNotBetween, std::move(x.tree), std::move(bounds)), sql};
      }
    }
  }
};

void RunDifferential(std::uint32_t seed) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::string create = "CREATE TABLE t(id INTEGER PRIMARY KEY";
  for (const TestColumn& c : kColumns) create += std::string(", ") + c.name + " " + SqlType(c.type);
  testsupport::SqlitePeer db(create + ")");
  db.Exec("PRAGMA case_sensitive_like=ON");
  Generator gen(seed);
  constexpr int kRows = 24, kExpressions = 4000;
  std::vector<Row> rows(kRows);
  for (int r = 0; r < kRows; ++r) {
    std::vector<std::string> values;
    gen.RandomRow(rows[r], values);
    std::string insert = "INSERT INTO t VALUES(" + std::to_string(r);
    for (const std::string& v : values) insert += ", " + v;
    db.Exec(insert + ")");
  }
  int true_results = 0, bool_results = 0;
  for (int i = 0; i < kExpressions; ++i) {
    const Kind root =
        std::array{Kind::kBool, Kind::kBool, Kind::kBool, Kind::kInt, Kind::kFloat, Kind::kString}[gen.Pick(0, 5)];
    Expr e = gen.Make(root, 3);
    SCOPED_TRACE("expression " + std::to_string(i) + ": " + e.sql);
    ASSERT_NO_THROW(CheckExpression(11949, "source columns", *e.tree, Resolve));
    int r = 0;
    const int count = db.ForEachRow("SELECT " + e.sql + " FROM t ORDER BY id", [&](sqlite3_stmt* stmt) {
      TExpressionNode result;
      Evaluate(*e.tree, rows[r], result);
      SCOPED_TRACE("row " + std::to_string(r++));
      ASSERT_NE(sqlite3_column_type(stmt, 0), SQLITE_NULL);
      ASSERT_EQ(result.null, 0);
      switch (root) {
        case Kind::kBool:
          ASSERT_EQ(result.type, T::kBoolean);
          ASSERT_EQ(NodeIsTrue(result), sqlite3_column_int64(stmt, 0) != 0);
          true_results += NodeIsTrue(result);
          ++bool_results;
          break;
        case Kind::kInt:
          ASSERT_TRUE(IsIntegerType(result.type));
          ASSERT_EQ(result.type == T::kInteger ? NodeValue<std::int32_t>(result)
                    : result.type == T::kWord  ? NodeValue<std::uint16_t>(result)
                                               : NodeValue<std::int16_t>(result),
                    sqlite3_column_int64(stmt, 0));
          break;
        case Kind::kFloat:
          ASSERT_EQ(result.type, T::kFloat);
          ASSERT_DOUBLE_EQ(NodeValue<double>(result), sqlite3_column_double(stmt, 0));
          break;
        default:
          ASSERT_EQ(result.type, T::kString);
          ASSERT_EQ(NodeString(result), std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))));
      }
    });
    ASSERT_EQ(count, kRows);
    if (::testing::Test::HasFailure()) return;
  }
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
