// Filters on real tables against SQLite: random conditions (=, <>, <, >,
// <=, >=, partial string match, IS NULL, AND, OR, NOT) over random tables
// give the same records as SQLite's WHERE, translated to the engine's
// rules (an empty string is null; = and <> compare a null with a value as
// different; ordering comparisons read null as zero or the empty string).
// Each condition runs on a table whose indexes can answer it, on one
// without secondary indexes and on one whose indexes cannot; all must
// agree with SQLite. A difference between the tables is an index path that
// means something other than the evaluator. Float values include NaN (stored as it comes, read as null:
// SQLite stores a NaN as NULL) and both infinities.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "datafilter_test_support.h"
#include "tests/common/sqlite_peer.h"

namespace storage::filtertest {
namespace {

using Op = ExprOperator;

struct Cond {
  enum Kind { kCmp, kIsNull, kIsNotNull, kPrefix, kAnd, kOr, kNot, kIn, kBetween } kind = kCmp;
  bool negate = false;       // NOT IN, NOT BETWEEN
  std::vector<Cond> items;   // IN: the list; BETWEEN: low, high (constants only)
  int field = kS;
  Op op = Op::kEqual;
  enum CType { kStr, kInt, kFloat, kBool, kNullConst } ctype = kStr;
  std::string str;
  std::int64_t i = 0;
  double d = 0;
  bool b = false;
  std::unique_ptr<Cond> l, r;
};

const char* FieldName(int f) {
  static const char* names[] = {"", "Id", "S", "N", "T", "M", "B", "F"};
  return names[f];
}
const char* Column(int f) {
  static const char* cols[] = {"", "id", "s", "n", "tt", "m", "b", "f"};
  return cols[f];
}
const char* SqlOp(Op op) {
  switch (op) {
    case Op::kEqual: return "=";
    case Op::kNotEqual: return "<>";
    case Op::kLess: return "<";
    case Op::kGreater: return ">";
    case Op::kLessEqual: return "<=";
    default: return ">=";
  }
}

const std::vector<std::string> kStrings = {"a", "ab", "abc", "b", "ba", "bb", "abd",
                                           "A", "aB", "zzzzz", "abcdefghij", "b ", "ab"};
const std::vector<std::string> kPrefixes = {"a", "ab", "b", "abc", "zz", "aB", "bb"};
const Op kOps[] = {Op::kEqual,   Op::kNotEqual,     Op::kLess,
                   Op::kGreater, Op::kGreaterEqual, Op::kLessEqual};

class Generator : public testsupport::Dice {
 public:
  using Dice::Dice;

  Row RandomRow(std::int32_t id) {
    Row r;
    r.id = id;
    static const std::vector<std::string> pool = {"a", "ab", "abc", "b", "ba", "bb",
                                                  "abd", "A", "aB", "zzzzz", "ab"};
    if (Below(5) != 0) r.s = Of(pool);
    if (Below(5) != 0) r.t = Of(pool);
    if (Below(5) != 0) r.n = Below(11) - 5;
    if (Below(5) != 0) r.m = static_cast<std::int16_t>(Below(7) - 3);
    if (Below(3) != 0) r.b = Below(2) == 1;
    if (Below(5) != 0) {
      static const double odd[] = {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL};
      r.f = Below(8) == 0 ? odd[Below(4)] : (Below(13) - 6) / 2.0;
    }
    return r;
  }

  std::unique_ptr<Cond> Leaf() {
    auto c = std::make_unique<Cond>();
    const int f = kS + Below(6);  // S..F
    c->field = f;
    const int shape = Below(10);
    if (shape == 0) {
      c->kind = Below(2) ? Cond::kIsNull : Cond::kIsNotNull;
      return c;
    }
    if (shape <= 2 && (f == kS || f == kT)) {
      c->kind = Cond::kPrefix;
      c->op = Below(4) ? Op::kEqual : Op::kNotEqual;
      c->str = Of(kPrefixes);
      return c;
    }
    if (shape == 3 && f != kB) {
      // IN of 1 to 3 values, or BETWEEN two values; sometimes negated.
      c->kind = Below(2) ? Cond::kIn : Cond::kBetween;
      c->negate = Below(3) == 0;
      const int n = c->kind == Cond::kBetween ? 2 : 1 + Below(3);
      for (int i = 0; i < n; ++i) {
        Cond item;
        item.field = f;
        item.op = c->kind == Cond::kIn ? Op::kEqual : i == 0 ? Op::kGreaterEqual : Op::kLessEqual;
        FillConstant(item);
        c->items.push_back(std::move(item));
      }
      return c;
    }
    c->kind = Cond::kCmp;
    c->op = kOps[Below(6)];
    FillConstant(*c);
    return c;
  }

  void FillConstant(Cond& cr) {
    Cond* c = &cr;
    const int f = c->field;
    switch (f) {
      case kS:
      case kT:
        if (Below(10) == 0 && (c->op == Op::kEqual || c->op == Op::kNotEqual)) {
          c->ctype = Cond::kNullConst;
        } else {
          c->ctype = Cond::kStr;
          c->str = Of(kStrings);
        }
        break;
      case kN:
      case kM: {
        c->ctype = Cond::kInt;
        static const std::int64_t extremes[] = {40000, -40000, 32767, -32768};
        c->i = Below(8) == 0 ? extremes[Below(4)] : Below(13) - 6;
        break;
      }
      case kF:
        if (Below(2)) {
          c->ctype = Cond::kInt;
          c->i = Below(9) - 4;
        } else {
          static const double ds[] = {-2.5, -0.5, 0.0,      0.25,      1.5,
                                      3.0,  -3.0, HUGE_VAL, -HUGE_VAL, std::nan("")};
          c->ctype = Cond::kFloat;
          c->d = ds[Below(10)];
        }
        break;
      default:  // B
        c->op = Below(2) ? Op::kEqual : Op::kNotEqual;
        c->ctype = Cond::kBool;
        c->b = Below(2) == 1;
        break;
    }
  }

  std::unique_ptr<Cond> Random(int depth) {
    if (depth == 0 || Below(3) == 0) return Leaf();
    auto c = std::make_unique<Cond>();
    const int k = Below(5);
    if (k == 0) {
      c->kind = Cond::kNot;
      c->l = Random(depth - 1);
      return c;
    }
    c->kind = k <= 2 ? Cond::kAnd : Cond::kOr;
    c->l = Random(depth - 1);
    c->r = Random(depth - 1);
    return c;
  }
};

ExpressionPtr Constant(const Cond& c) {
  switch (c.ctype) {
    case Cond::kStr: return NewStringConstant(c.str);
    case Cond::kInt: return NewIntegerConstant(static_cast<std::int32_t>(c.i));
    case Cond::kFloat: return NewFloatConstant(c.d);
    case Cond::kBool: return NewBooleanConstant(c.b);
    default: return NewNullConstant();
  }
}

ExpressionPtr Tree(TDataFile& t, const Cond& c) {
  switch (c.kind) {
    case Cond::kIsNull: return Unary(Op::kIsNull, FieldRef(t, FieldName(c.field)));
    case Cond::kIsNotNull: return Unary(Op::kIsNotNull, FieldRef(t, FieldName(c.field)));
    case Cond::kPrefix: return Prefix(c.op, FieldRef(t, FieldName(c.field)), c.str);
    case Cond::kAnd: return Binary(Op::kAnd, Tree(t, *c.l), Tree(t, *c.r));
    case Cond::kOr: return Binary(Op::kOr, Tree(t, *c.l), Tree(t, *c.r));
    case Cond::kNot: return Unary(Op::kNot, Tree(t, *c.l));
    case Cond::kIn:
    case Cond::kBetween: {
      const Op op = c.kind == Cond::kIn ? (c.negate ? Op::kNotIn : Op::kIn)
                                        : (c.negate ? Op::kNotBetween : Op::kBetween);
      ExpressionPtr n = NewNode(NodeKind::kExtendedPredicate, op, "");
      n->left = FieldRef(t, FieldName(c.field));
      ExpressionPtr chain;
      for (auto it = c.items.rbegin(); it != c.items.rend(); ++it) {
        ExpressionPtr item = Constant(*it);
        item->right = std::move(chain);
        chain = std::move(item);
      }
      n->right = std::move(chain);
      return n;
    }
    default: return Binary(c.op, FieldRef(t, FieldName(c.field)), Constant(c));
  }
}

// A NaN constant is the engine's null of value 0.
std::string FloatLiteral(double d) { return std::isnan(d) ? "0" : testsupport::SqlReal(d); }

std::string Literal(const Cond& c) {
  switch (c.ctype) {
    case Cond::kStr: return "'" + c.str + "'";
    case Cond::kInt: return std::to_string(c.i);
    case Cond::kFloat: return FloatLiteral(c.d);
    case Cond::kBool: return c.b ? "1" : "0";
    default: return "NULL";
  }
}

// The engine's meaning in SQLite; every part is 0 or 1, never NULL.
std::string Sql(const Cond& c) {
  const std::string col = Column(c.field);
  switch (c.kind) {
    case Cond::kIsNull: return "(" + col + " IS NULL)";
    case Cond::kIsNotNull: return "(" + col + " IS NOT NULL)";
    case Cond::kPrefix: {
      const std::string sub =
          "substr(" + col + ",1," + std::to_string(c.str.size()) + ")";
      return c.op == Op::kEqual
                 ? "(CASE WHEN " + col + " IS NULL THEN 0 ELSE " + sub + " = '" + c.str + "' END)"
                 : "(CASE WHEN " + col + " IS NULL THEN 1 ELSE " + sub + " <> '" + c.str + "' END)";
    }
    case Cond::kAnd: return "(" + Sql(*c.l) + " AND " + Sql(*c.r) + ")";
    case Cond::kOr: return "(" + Sql(*c.l) + " OR " + Sql(*c.r) + ")";
    case Cond::kNot: return "(NOT " + Sql(*c.l) + ")";
    case Cond::kIn: {
      std::string any = "(0";
      for (const Cond& item : c.items) any += " OR " + Sql(item);
      any += ")";
      return c.negate ? "(NOT " + any + ")" : any;
    }
    case Cond::kBetween: {
      const std::string both = "(" + Sql(c.items[0]) + " AND " + Sql(c.items[1]) + ")";
      return c.negate ? "(NOT " + both + ")" : both;
    }
    default: break;
  }
  const bool null_constant = c.ctype == Cond::kNullConst || (c.ctype == Cond::kFloat && std::isnan(c.d));
  if (null_constant && (c.op == Op::kEqual || c.op == Op::kNotEqual)) {
    return c.op == Op::kEqual ? "(" + col + " IS NULL)" : "(" + col + " IS NOT NULL)";
  }
  const std::string lit = Literal(c);
  if (c.op == Op::kEqual)
    return "(CASE WHEN " + col + " IS NULL THEN 0 ELSE " + col + " = " + lit + " END)";
  if (c.op == Op::kNotEqual)
    return "(CASE WHEN " + col + " IS NULL THEN 1 ELSE " + col + " <> " + lit + " END)";
  const std::string zero = (c.field == kS || c.field == kT) ? "''" : "0";
  return "(COALESCE(" + col + ", " + zero + ") " + SqlOp(c.op) + " " + lit + ")";
}

class Peer : public testsupport::SqlitePeer {
 public:
  Peer() : SqlitePeer("CREATE TABLE t(id INTEGER, s TEXT, n INTEGER, tt TEXT, m INTEGER, b INTEGER, f REAL)") {}
  void Insert(const Row& r) {
    auto text = [](const std::optional<std::string>& s) { return s ? "'" + *s + "'" : std::string("NULL"); };
    auto num = [](auto v) { return v ? std::to_string(*v) : std::string("NULL"); };
    const std::string f = r.f && !std::isnan(*r.f) ? FloatLiteral(*r.f) : "NULL";
    Exec("INSERT INTO t VALUES(" + std::to_string(r.id) + "," + text(r.s) + "," + num(r.n) + "," + text(r.t) + "," +
         num(r.m) + "," + (r.b ? (*r.b ? "1" : "0") : "NULL") + "," + f + ")");
  }
  std::set<std::int32_t> Ids(const std::string& where) {
    std::set<std::int32_t> out;
    ForEachRow("SELECT id FROM t WHERE " + where, [&](sqlite3_stmt* st) { out.insert(sqlite3_column_int(st, 0)); });
    return out;
  }
};

using TreeOf = std::function<ExpressionPtr(TDataFile&)>;

class FilterDifferential : public datatest::DataFileTestBase {
 protected:
  // The same rows in an indexed table, in one without secondary indexes
  // and in SQLite.
  void Fill(const std::vector<Row>& rows) {
    Create(Path("A.DAT"), FilterTableDefinition(true));
    Create(Path("B.DAT"), FilterTableDefinition(false));
    ta_ = OpenTable(Path("A.DAT"));
    tb_ = OpenTable(Path("B.DAT"));
    for (const Row& r : rows) {
      InsertRow(*ta_, r);
      InsertRow(*tb_, r);
      peer_.Insert(r);
    }
  }
  void ExpectAgree(const TreeOf& tree, const std::string& where) {
    const auto expect = peer_.Ids(where);
    EXPECT_EQ(FilteredIds(*ta_, tree(*ta_)), expect) << where << " (indexed)";
    EXPECT_EQ(FilteredIds(*tb_, tree(*tb_)), expect) << where << " (scan)";
  }
  std::unique_ptr<TDataFile> ta_, tb_;
  Peer peer_;
};

// A third table has only indexes whose key order is not the evaluator's
// (a descending index, a descending first key field, a case-insensitive
// string index): they must not be used, its filters read records.
TEST_F(FilterDifferential, RandomConditionsAgreeWithSqliteWithAndWithoutIndexes) {
  DataTableDefinition other = FilterTableDefinition(false);
  TIndexDescriptor whole = Index("NDesc", {3}), field = Index("MDesc", {5}), nocase = Index("SNoCase", {2});
  whole.Descending = 1;
  field.FieldDescending[0] = 1;
  nocase.CaseInsensitive = 1;
  other.secondary = {whole, field, nocase};
  std::uint64_t index_ranges = 0;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator gen(seed);
    const std::string names[] = {"IDX", "SCAN", "ORDER"};
    Create(Path(names[0] + std::to_string(seed) + ".DAT"), FilterTableDefinition(true));
    Create(Path(names[1] + std::to_string(seed) + ".DAT"), FilterTableDefinition(false, seed % 2 == 0));
    Create(Path(names[2] + std::to_string(seed) + ".DAT"), other);
    std::unique_ptr<TDataFile> tables[3];
    for (int i = 0; i < 3; ++i) tables[i] = OpenTable(Path(names[i] + std::to_string(seed) + ".DAT"));
    Peer peer;
    const int rows = seed == 1 ? 0 : 20 + gen.Below(400);
    for (int i = 1; i <= rows; ++i) {
      const Row r = gen.RandomRow(i);
      for (auto& t : tables) InsertRow(*t, r);
      if (gen.Below(8) == 0) {
        // Deleted slots: reused by the next insert with a primary key,
        // left in place without one; never part of a filter's view.
        for (auto& t : tables) t->DeleteRecord();
        continue;
      }
      peer.Insert(r);
    }
    for (int k = 0; k < 100; ++k) {
      const auto c = gen.Random(3);
      const std::string where = Sql(*c);
      SCOPED_TRACE(where);
      const auto expect = peer.Ids(where);
      const auto before = tables[0]->Filters().RangesWalked();
      for (int i = 0; i < 3; ++i) ASSERT_EQ(FilteredIds(*tables[i], Tree(*tables[i], *c)), expect) << names[i];
      index_ranges += tables[0]->Filters().RangesWalked() - before;
    }
    EXPECT_EQ(tables[1]->Filters().RangesWalked(), 0u);
    EXPECT_EQ(tables[2]->Filters().RangesWalked(), 0u);
  }
  // The indexed table did answer conditions from its indexes.
  EXPECT_GT(index_ranges, 50u);
}

// The corrections of the index path, one by one, each against the scan of
// the same table without indexes.
TEST_F(FilterDifferential, IndexPathCornerCases) {
  std::vector<Row> rows;
  using S = std::optional<std::string>;
  using N = std::optional<std::int32_t>;
  using B = std::optional<bool>;
  for (S s : {S{}, S{"a"}, S{"abcde"}}) {
    for (N n : {N{}, N{-1}, N{0}, N{1}}) {
      for (B b : {B{}, B{false}, B{true}}) {
        const auto m = n ? std::optional<std::int16_t>(static_cast<std::int16_t>(*n * 32767)) : std::nullopt;
        rows.push_back({.id = static_cast<std::int32_t>(rows.size() + 1), .s = s, .n = n, .m = m, .b = b});
      }
    }
  }
  Fill(rows);
  // A constant from its text: true/false, 'string', a number with a point
  // (float) or without (integer).
  auto constant = [](const std::string& v) {
    if (v == "true" || v == "false") return NewBooleanConstant(v == "true");
    if (v[0] == '\'') return NewStringConstant(v.substr(1, v.size() - 2));
    return v.find('.') != std::string::npos ? NewFloatConstant(std::stod(v)) : NewIntegerConstant(std::stoi(v));
  };
  const struct {
    const char* field;
    Op op;
    std::string value;
    const char* where;
  } cases[] = {
      {"B", Op::kEqual, "true", "b = 1"},  // 0xFFFF in the tree, 1 in the key
      {"B", Op::kNotEqual, "false", "b IS NULL OR b <> 0"},
      {"N", Op::kLess, "1", "COALESCE(n,0) < 1"},  // null reads as zero
      {"N", Op::kGreaterEqual, "0", "COALESCE(n,0) >= 0"},
      {"N", Op::kGreater, "-1", "COALESCE(n,0) > -1"},
      {"M", Op::kLess, "40000", "COALESCE(m,0) < 40000"},  // beyond a small integer
      {"N", Op::kLessEqual, "0.5", "COALESCE(n,0) <= 0.5"},  // a float against an integer
      {"S", Op::kLess, "'abcdef'", "COALESCE(s,'') < 'abcdef'"},  // longer than the field
      {"S", Op::kGreater, "'abcdef'", "COALESCE(s,'') > 'abcdef'"},
      {"M", Op::kGreater, "32767", "COALESCE(m,0) > 32767"},  // the largest value
      {"M", Op::kLess, "-32768", "COALESCE(m,0) < -32768"},   // the smallest
      {"S", Op::kEqual, "''", "s IS NULL"},
  };
  for (const auto& c : cases)
    ExpectAgree([&](TDataFile& t) { return Binary(c.op, FieldRef(t, c.field), constant(c.value)); }, c.where);
  ExpectAgree([](TDataFile& t) { return Unary(Op::kNot, Binary(Op::kEqual, FieldRef(t, "N"), NewIntegerConstant(0))); },
              "NOT (n IS NOT NULL AND n = 0)");
}

// NaN means null everywhere: a stored NaN reads as null (value 0) in the
// evaluator and keys as null in the index, so F = 5, F > 1, F = 0 and the
// rest give the same records through the index, through a scan and in
// SQLite (which stores NaN as NULL). Infinities order at both ends.
TEST_F(FilterDifferential, NanIsNullAndInfinitiesOrderThroughIndexAndScan) {
  std::vector<Row> rows;
  for (const std::optional<double> f : {std::optional<double>{}, std::optional(std::nan("")),
                                        std::optional(-std::nan("")), std::optional(HUGE_VAL),
                                        std::optional(-HUGE_VAL), std::optional(0.0), std::optional(1.0),
                                        std::optional(5.0), std::optional(-1.0), std::optional(1e308)})
    rows.push_back({.id = static_cast<std::int32_t>(rows.size() + 1), .f = f});
  Fill(rows);
  const struct {
    Op op;
    double constant;
    const char* where;
  } cases[] = {
      {Op::kEqual, 5, "f IS NOT NULL AND f = 5"},
      {Op::kGreater, 1, "COALESCE(f,0) > 1"},
      {Op::kEqual, 0, "f IS NOT NULL AND f = 0"},
      {Op::kLess, 1, "COALESCE(f,0) < 1"},
      {Op::kNotEqual, 0, "f IS NULL OR f <> 0"},
      {Op::kGreaterEqual, HUGE_VAL, "COALESCE(f,0) >= 1e999"},
      {Op::kLessEqual, -HUGE_VAL, "COALESCE(f,0) <= -1e999"},
      {Op::kEqual, HUGE_VAL, "f IS NOT NULL AND f = 1e999"},
      {Op::kLess, HUGE_VAL, "COALESCE(f,0) < 1e999"},
      {Op::kGreater, -HUGE_VAL, "COALESCE(f,0) > -1e999"},
      {Op::kEqual, std::nan(""), "f IS NULL"},
      {Op::kNotEqual, std::nan(""), "f IS NOT NULL"},
      {Op::kGreaterEqual, std::nan(""), "COALESCE(f,0) >= 0"},
  };
  for (const auto& c : cases)
    ExpectAgree([&](TDataFile& t) { return Binary(c.op, FieldRef(t, "F"), NewFloatConstant(c.constant)); }, c.where);
  ExpectAgree([](TDataFile& t) { return Unary(Op::kIsNull, FieldRef(t, "F")); }, "f IS NULL");
  ExpectAgree([](TDataFile& t) { return Unary(Op::kIsNotNull, FieldRef(t, "F")); }, "f IS NOT NULL");
  // Arithmetic that makes a NaN makes a null: F - F is null for the
  // infinities (and for null fields only through the null of F itself:
  // 0 - 0 is 0, not null).
  EXPECT_EQ(FilteredIds(*tb_, Unary(Op::kIsNull, Binary(Op::kSubtract, FieldRef(*tb_, "F"), FieldRef(*tb_, "F")))),
            (std::set<std::int32_t>{4, 5}));
}

}  // namespace
}  // namespace storage::filtertest
