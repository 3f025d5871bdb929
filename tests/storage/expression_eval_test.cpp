// Evaluation of expression trees: hand-computed tables of the engine's own
// value rules (NULL deliberately differs from SQL), arithmetic by type,
// functions, and hostile values and shapes.
#include "storage/expression_eval.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "expression_test_support.h"
#include "storage/engine_error.h"
#include "storage/session.h"

namespace storage {
namespace {

using namespace storage::test;  // NOLINT

// An expected outcome: a truth value, a NULL, or a typed value.
struct IsNullResult {};
using Expected = std::variant<bool, IsNullResult, std::int32_t, double, std::string,
                              std::pair<T, std::int64_t>>;

std::string Describe(const TExpressionNode& r) {
  std::string s = "type " + std::to_string(static_cast<int>(r.type)) + " null " +
                  std::to_string(r.null) + " value ";
  switch (r.type) {
    case T::kString: return s + "'" + std::string(NodeString(r)) + "'";
    case T::kFloat:
    case T::kTimestamp: return s + std::to_string(NodeValue<double>(r));
    case T::kCurrency: return s + std::to_string(NodeValue<std::int64_t>(r));
    default: return s + std::to_string(NodeValue<std::uint32_t>(r));
  }
}

void ExpectResult(const TExpressionNode& r, const Expected& want, const std::string& what) {
  SCOPED_TRACE(what + ": got " + Describe(r));
  EXPECT_EQ(r.kind, NodeKind::kConstant);
  if (std::holds_alternative<bool>(want)) {
    EXPECT_EQ(r.type, T::kBoolean);
    EXPECT_EQ(r.null, 0);
    EXPECT_EQ(NodeValue<std::uint16_t>(r), std::get<bool>(want) ? 0xFFFF : 0);
  } else if (std::holds_alternative<IsNullResult>(want)) {
    EXPECT_EQ(r.null, 1);
  } else if (std::holds_alternative<std::int32_t>(want)) {
    EXPECT_EQ(r.type, T::kInteger);
    EXPECT_EQ(r.null, 0);
    EXPECT_EQ(NodeValue<std::int32_t>(r), std::get<std::int32_t>(want));
  } else if (std::holds_alternative<double>(want)) {
    EXPECT_EQ(r.type, T::kFloat);
    EXPECT_EQ(r.null, 0);
    EXPECT_DOUBLE_EQ(NodeValue<double>(r), std::get<double>(want));
  } else if (std::holds_alternative<std::string>(want)) {
    EXPECT_EQ(r.type, T::kString);
    EXPECT_EQ(NodeString(r), std::get<std::string>(want));
  } else {
    auto [type, v] = std::get<std::pair<T, std::int64_t>>(want);
    EXPECT_EQ(r.type, type);
    EXPECT_EQ(r.null, 0);
    switch (type) {
      case T::kCurrency: EXPECT_EQ(NodeValue<std::int64_t>(r), v); break;
      case T::kWord: EXPECT_EQ(NodeValue<std::uint16_t>(r), v); break;
      case T::kSmallInt: EXPECT_EQ(NodeValue<std::int16_t>(r), v); break;
      case T::kTimestamp: EXPECT_EQ(NodeValue<double>(r), static_cast<double>(v)); break;
      default: EXPECT_EQ(NodeValue<std::uint32_t>(r), static_cast<std::uint32_t>(v)); break;
    }
  }
}

struct Case {
  const char* what;
  std::function<ExpressionPtr()> tree;
  Expected want;
};

// Field values every case can use; the *N names are null fields.
Row StandardRow() {
  Row row;
  row.Set("Name", Str("abc"))
      .Set("Qty", Int(7))
      .Set("Flag", Bool(true))
      .Set("Day", Date(2000, 3, 1))
      .Set("When", Stamp(2000, 3, 1, 13 * 3600000 + 5))
      .SetNull("NameN", T::kString, 21)
      .SetNull("OtherN", T::kString, 11)
      .SetNull("QtyN", T::kInteger)
      .SetNull("SmallN", T::kSmallInt, 2)
      .SetNull("FlagN", T::kBoolean, 2)
      .SetNull("DayN", T::kDate)
      .SetNull("AmountN", T::kCurrency, 8);
  return row;
}

void RunCases(const std::vector<Case>& cases) {
  const Row row = StandardRow();
  for (const Case& c : cases) {
    auto tree = c.tree();
    TExpressionNode result;
    Evaluate(*tree, row, result);
    ExpectResult(result, c.want, c.what);
  }
}

ExpressionPtr Eq(ExpressionPtr a, ExpressionPtr b) { return Bin(Op::kEqual, std::move(a), std::move(b)); }
ExpressionPtr Ne(ExpressionPtr a, ExpressionPtr b) { return Bin(Op::kNotEqual, std::move(a), std::move(b)); }
ExpressionPtr Div(ExpressionPtr a, ExpressionPtr b) { return Bin(Op::kDivide, std::move(a), std::move(b)); }
ExpressionPtr Substring(ExpressionPtr arg, ExpressionPtr from, ExpressionPtr for_ = nullptr) {
  return Fn(Op::kSubstring, std::move(arg), std::move(from), std::move(for_));
}

const IsNullResult kNull;

TEST(ExpressionEval, NullRulesOfTheEngine) {
  RunCases({
      // = and <> with the NULL literal test for null.
      {"null string = NULL", [] { return Eq(Col("NameN"), Null()); }, true},
      {"string = NULL", [] { return Eq(Col("Name"), Null()); }, false},
      {"null string <> NULL", [] { return Ne(Col("NameN"), Null()); }, false},
      {"string <> NULL", [] { return Ne(Col("Name"), Null()); }, true},
      {"NULL = null string (literal on the left)", [] { return Eq(Null(), Col("NameN")); }, true},
      {"NULL = NULL", [] { return Eq(Null(), Null()); }, true},
      // Exactly one null: = false, <> true.
      {"null = value", [] { return Eq(Col("QtyN"), Int(0)); }, false},
      {"null <> value", [] { return Ne(Col("QtyN"), Int(0)); }, true},
      {"value = null", [] { return Eq(Str("abc"), Col("NameN")); }, false},
      // Two nulls are equal, whatever their types.
      {"null = null strings", [] { return Eq(Col("NameN"), Col("OtherN")); }, true},
      {"null <> null strings", [] { return Ne(Col("NameN"), Col("OtherN")); }, false},
      {"null int32 = null int16", [] { return Eq(Col("QtyN"), Col("SmallN")); }, true},
      // Ordering reads a null as zero / empty.
      {"null > 5", [] { return Bin(Op::kGreater, Col("QtyN"), Int(5)); }, false},
      {"null > -1", [] { return Bin(Op::kGreater, Col("QtyN"), Int(-1)); }, true},
      {"null >= 0", [] { return Bin(Op::kGreaterEqual, Col("QtyN"), Int(0)); }, true},
      {"null string < 'a'", [] { return Bin(Op::kLess, Col("NameN"), Str("a")); }, true},
      {"null currency > -1", [] { return Bin(Op::kGreater, Col("AmountN"), Int(-1)); }, true},
      {"null date < any date", [] { return Bin(Op::kLess, Col("DayN"), Date(1, 1, 1)); }, true},
      // Arithmetic reads a null as zero and is not null...
      {"null + 1", [] { return Bin(Op::kAdd, Col("QtyN"), Int(1)); }, std::int32_t{1}},
      {"null * 2", [] { return Bin(Op::kMultiply, Col("QtyN"), Int(2)); }, std::int32_t{0}},
      {"null string || 'x'", [] { return Bin(Op::kAdd, Col("NameN"), Str("x")); }, std::string("x")},
      // ...except after a division by zero.
      {"7 / null", [] { return Div(Int(7), Col("QtyN")); }, kNull},
      {"null / null", [] { return Div(Col("QtyN"), Col("QtyN")); }, kNull},
      {"null / 2", [] { return Div(Col("QtyN"), Int(2)); }, 0.0},
      {"(7 / 0) = NULL", [] { return Eq(Div(Int(7), Int(0)), Null()); }, true},
      {"(7 / 0) = (1 / 0)", [] { return Eq(Div(Int(7), Int(0)), Div(Int(1), Int(0))); }, true},
      {"(7 / 0) = 0", [] { return Eq(Div(Int(7), Int(0)), Flt(0)); }, false},
      {"(7 / 0) < 1 reads zero", [] { return Bin(Op::kLess, Div(Int(7), Int(0)), Flt(1)); }, true},
      // Truth: a null boolean reads false; NOT of it is true.
      {"null AND true", [] { return Bin(Op::kAnd, Col("FlagN"), Bool(true)); }, false},
      {"null OR true", [] { return Bin(Op::kOr, Col("FlagN"), Bool(true)); }, true},
      {"NOT null", [] { return Un(Op::kNot, Col("FlagN")); }, true},
      {"NOT (null = 1)", [] { return Un(Op::kNot, Eq(Col("QtyN"), Int(1))); }, true},
      {"IS NULL of null", [] { return Un(Op::kIsNull, Col("QtyN")); }, true},
      {"IS NOT NULL of null", [] { return Un(Op::kIsNotNull, Col("QtyN")); }, false},
      {"IS NULL of value", [] { return Un(Op::kIsNull, Col("Qty")); }, false},
      // LIKE is false on a null side; NOT LIKE true.
      {"null LIKE '%'", [] { return Pred(Op::kLike, Col("NameN"), Items(Str("%"))); }, false},
      {"null NOT LIKE '%'", [] { return Pred(Op::kNotLike, Col("NameN"), Items(Str("%"))); }, true},
      {"value LIKE null", [] { return Pred(Op::kLike, Col("Name"), Items(Null())); }, false},
      // IN is a chain of = tests; BETWEEN of ordered tests.
      {"null IN (0, 1)", [] { return Pred(Op::kIn, Col("QtyN"), Items(Int(0), Int(1))); }, false},
      {"null NOT IN (0, 1)", [] { return Pred(Op::kNotIn, Col("QtyN"), Items(Int(0), Int(1))); }, true},
      {"null IN (1, NULL)", [] { return Pred(Op::kIn, Col("QtyN"), Items(Int(1), Null())); }, true},
      {"value IN (NULL)", [] { return Pred(Op::kIn, Col("Qty"), Items(Null())); }, false},
      {"null BETWEEN -1 AND 1", [] { return Pred(Op::kBetween, Col("QtyN"), Items(Int(-1), Int(1))); }, true},
      {"null NOT BETWEEN -1 AND 1", [] { return Pred(Op::kNotBetween, Col("QtyN"), Items(Int(-1), Int(1))); }, false},
      {"null BETWEEN 1 AND 2", [] { return Pred(Op::kBetween, Col("QtyN"), Items(Int(1), Int(2))); }, false},
      // Functions keep a null argument null.
      {"UPPER(null)", [] { return Fn(Op::kUpper, Col("NameN")); }, kNull},
      {"SUBSTRING(null FROM 1)", [] { return Substring(Col("NameN"), Int(1)); }, kNull},
      {"EXTRACT(YEAR FROM null)", [] { return Fn(Op::kExtractYear, Col("DayN")); }, kNull},
  });
}

TEST(ExpressionEval, ComparisonsByType) {
  RunCases({
      {"string order is bytewise", [] { return Bin(Op::kLess, Str("ab"), Str("abc")); }, true},
      {"case matters", [] { return Bin(Op::kLess, Str("B"), Str("a")); }, true},
      {"high bytes sort after ASCII", [] { return Bin(Op::kGreater, Str("\xE9"), Str("z")); }, true},
      {"currency 1 = int 1", [] { return Eq(Curr(10000), Int(1)); }, true},
      {"currency 1.5 > float 1.4", [] { return Bin(Op::kGreater, Curr(15000), Flt(1.4)); }, true},
      {"currency 1.0 = float 1.0", [] { return Eq(Curr(10000), Flt(1.0)); }, true},
      {"currency 0.0001 > int 0", [] { return Bin(Op::kGreater, Curr(1), Int(0)); }, true},
      {"int 2 > currency 1.9999", [] { return Bin(Op::kGreater, Int(2), Curr(19999)); }, true},
      {"word 65535 > int16 -1", [] { return Bin(Op::kGreater, Word(65535), Small(-1)); }, true},
      {"int 1 < float 1.5", [] { return Bin(Op::kLess, Int(1), Flt(1.5)); }, true},
      {"date = timestamp at midnight", [] { return Eq(Date(2000, 3, 1), Stamp(2000, 3, 1, 0)); }, true},
      {"date < timestamp at noon", [] { return Bin(Op::kLess, Date(2000, 3, 1), Stamp(2000, 3, 1, 1)); }, true},
      {"time <= time", [] { return Bin(Op::kLessEqual, TimeMs(5), TimeMs(5)); }, true},
      {"booleans by truth: 1 = 0xFFFF", [] { return Eq(Typed<std::uint16_t>(T::kBoolean, 1), Bool(true)); }, true},
      {"false < true", [] { return Bin(Op::kLess, Bool(false), Typed<std::uint16_t>(T::kBoolean, 7)); }, true},
      {"AND reads any non-zero as true",
       [] { return Bin(Op::kAnd, Typed<std::uint16_t>(T::kBoolean, 1), Typed<std::uint16_t>(T::kBoolean, 2)); }, true},
      {"BETWEEN is inclusive low", [] { return Pred(Op::kBetween, Int(1), Items(Int(1), Int(3))); }, true},
      {"BETWEEN is inclusive high", [] { return Pred(Op::kBetween, Int(3), Items(Int(1), Int(3))); }, true},
      {"BETWEEN reversed range", [] { return Pred(Op::kBetween, Int(2), Items(Int(3), Int(1))); }, false},
      {"NOT IN", [] { return Pred(Op::kNotIn, Int(4), Items(Int(1), Int(2), Int(3))); }, true},
      {"IN mixes numeric types", [] { return Pred(Op::kIn, Curr(20000), Items(Flt(1.0), Int(2))); }, true},
      {"LIKE is case-sensitive", [] { return Pred(Op::kLike, Str("abc"), Items(Str("A%"))); }, false},
      {"LIKE underscore", [] { return Pred(Op::kLike, Str("abc"), Items(Str("a_c"))); }, true},
  });
}

TEST(ExpressionEval, ArithmeticByType) {
  const std::int64_t day = 86400000;
  const std::uint32_t d2000 = DayNumber(2000, 3, 1);
  RunCases({
      {"7 / 2 is float 3.5", [] { return Div(Int(7), Int(2)); }, 3.5},
      {"7 / 0 is NULL", [] { return Div(Int(7), Int(0)); }, kNull},
      {"7.0 / 0.0 is NULL", [] { return Div(Flt(7), Flt(0)); }, kNull},
      {"int16 + word is int32", [] { return Bin(Op::kAdd, Small(-5), Word(65535)); }, std::int32_t{65530}},
      {"word - int16 is word", [] { return Bin(Op::kSubtract, Word(1), Small(2)); }, std::pair{T::kWord, std::int64_t{65535}}},
      {"int32 sum keeps the low 32 bits", [] { return Bin(Op::kAdd, Int(2147483647), Int(1)); }, std::int32_t{-2147483647 - 1}},
      {"int32 product is computed in 64 bits", [] { return Bin(Op::kMultiply, Int(100000), Int(100000)); }, std::int32_t{1410065408}},
      {"currency + int", [] { return Bin(Op::kAdd, Curr(15000), Int(1)); }, std::pair{T::kCurrency, std::int64_t{25000}}},
      {"int - currency", [] { return Bin(Op::kSubtract, Int(1), Curr(2500)); }, std::pair{T::kCurrency, std::int64_t{7500}}},
      {"currency * currency", [] { return Bin(Op::kMultiply, Curr(15000), Curr(15000)); }, std::pair{T::kCurrency, std::int64_t{22500}}},
      {"currency * int", [] { return Bin(Op::kMultiply, Curr(15000), Int(3)); }, std::pair{T::kCurrency, std::int64_t{45000}}},
      {"currency / int, 4 decimals", [] { return Div(Curr(10000), Int(3)); }, std::pair{T::kCurrency, std::int64_t{3333}}},
      {"currency / int, 2 decimals", [] { return Div(Curr(10000, 2), Int(3)); }, std::pair{T::kCurrency, std::int64_t{3300}}},
      {"currency / int rounds halves away", [] { return Div(Curr(-10000, 2), Int(8)); }, std::pair{T::kCurrency, std::int64_t{-1300}}},
      {"currency / int: a half unit rounds away", [] { return Div(Curr(5), Int(2)); }, std::pair{T::kCurrency, std::int64_t{3}}},
      {"currency / int: a negative half unit", [] { return Div(Curr(-5), Int(2)); }, std::pair{T::kCurrency, std::int64_t{-3}}},
      {"currency / int: below half", [] { return Div(Curr(7), Int(4)); }, std::pair{T::kCurrency, std::int64_t{2}}},
      {"currency * currency: half unit", [] { return Bin(Op::kMultiply, Curr(5), Curr(5000)); }, std::pair{T::kCurrency, std::int64_t{3}}},
      {"int / currency", [] { return Div(Int(1), Curr(30000)); }, std::pair{T::kCurrency, std::int64_t{3333}}},
      {"currency / currency", [] { return Div(Curr(30000), Curr(15000)); }, std::pair{T::kCurrency, std::int64_t{20000}}},
      {"currency / 0 is NULL", [] { return Div(Curr(30000), Curr(0)); }, kNull},
      {"currency * float is float", [] { return Bin(Op::kMultiply, Curr(15000), Flt(2.0)); }, 3.0},
      {"float + currency", [] { return Bin(Op::kAdd, Flt(1.5), Curr(5000)); }, 2.0},
      {"int / float", [] { return Div(Int(1), Flt(4)); }, 0.25},
      {"date - 30", [] { return Bin(Op::kSubtract, Col("Day"), Int(30)); }, std::pair{T::kDate, std::int64_t{DayNumber(2000, 1, 31)}}},
      {"date + 1", [] { return Bin(Op::kAdd, Col("Day"), Int(1)); }, std::pair{T::kDate, std::int64_t{d2000 + 1}}},
      {"1 + date", [] { return Bin(Op::kAdd, Word(1), Col("Day")); }, std::pair{T::kDate, std::int64_t{d2000 + 1}}},
      {"date - date", [] { return Bin(Op::kSubtract, Col("Day"), Date(1999, 3, 1)); }, std::int32_t{366}},
      {"time + int", [] { return Bin(Op::kAdd, TimeMs(1000), Int(500)); }, std::pair{T::kTime, std::int64_t{1500}}},
      {"time - time", [] { return Bin(Op::kSubtract, TimeMs(1000), TimeMs(1500)); }, std::int32_t{-500}},
      {"time - int", [] { return Bin(Op::kSubtract, TimeMs(1000), Small(1)); }, std::pair{T::kTime, std::int64_t{999}}},
      {"timestamp + 1 keeps the time of day", [] { return Bin(Op::kAdd, Col("When"), Int(1)); },
       std::pair{T::kTimestamp, std::int64_t{(d2000 + 1) * day + 13 * 3600000 + 5}}},
      {"1 + timestamp", [] { return Bin(Op::kAdd, Int(1), Col("When")); },
       std::pair{T::kTimestamp, std::int64_t{(d2000 + 1) * day + 13 * 3600000 + 5}}},
      {"timestamp - 2", [] { return Bin(Op::kSubtract, Col("When"), Int(2)); },
       std::pair{T::kTimestamp, std::int64_t{(d2000 - 2) * day + 13 * 3600000 + 5}}},
      {"timestamp - date: days", [] { return Bin(Op::kSubtract, Col("When"), Date(2000, 2, 1)); }, std::int32_t{29}},
      {"timestamp - timestamp: days of the date parts",
       [] { return Bin(Op::kSubtract, Col("When"), Stamp(2000, 2, 29, 86399999)); }, std::int32_t{1}},
      {"timestamp - time: time of day minus the time",
       [] { return Bin(Op::kSubtract, Col("When"), TimeMs(5)); }, std::int32_t{13 * 3600000}},
      {"string + string", [] { return Bin(Op::kAdd, Str("ab"), Str("cd")); }, std::string("abcd")},
  });
}

TEST(ExpressionEval, Functions) {
  RunCases({
      {"SUBSTRING FROM 3 FOR 2", [] { return Substring(Str("abcdef"), Int(3), Int(2)); }, std::string("cd")},
      {"SUBSTRING FROM 3", [] { return Substring(Str("abcdef"), Int(3)); }, std::string("cdef")},
      {"SUBSTRING FOR past the end", [] { return Substring(Str("abcdef"), Int(5), Int(200)); }, std::string("ef")},
      {"SUBSTRING FROM past the end", [] { return Substring(Str("abcdef"), Int(7)); }, std::string("")},
      {"SUBSTRING FROM the last", [] { return Substring(Str("abcdef"), Int(6)); }, std::string("f")},
      {"UPPER", [] { return Fn(Op::kUpper, Str("abc\xE9z")); }, std::string("ABC\xC9Z")},
      {"LOWER", [] { return Fn(Op::kLower, Str("AbC\xC9")); }, std::string("abc\xE9")},
      {"TRIM LEADING", [] { return Fn(Op::kTrimLeading, Str("xxaxx"), Str("x")); }, std::string("axx")},
      {"TRIM TRAILING", [] { return Fn(Op::kTrimTrailing, Str("xxaxx"), Str("x")); }, std::string("xxa")},
      {"TRIM BOTH", [] { return Fn(Op::kTrimBoth, Str("xxaxx"), Str("x")); }, std::string("a")},
      {"TRIM everything", [] { return Fn(Op::kTrimBoth, Str("xxxx"), Str("x")); }, std::string("")},
      {"EXTRACT YEAR of a date", [] { return Fn(Op::kExtractYear, Col("Day")); }, std::int32_t{2000}},
      {"EXTRACT MONTH of a date", [] { return Fn(Op::kExtractMonth, Col("Day")); }, std::int32_t{3}},
      {"EXTRACT DAY of a timestamp", [] { return Fn(Op::kExtractDay, Col("When")); }, std::int32_t{1}},
      {"EXTRACT DAY rounds the milliseconds",
       [] { return Fn(Op::kExtractDay, Typed(T::kTimestamp, StampMs(2000, 2, 29, 86399999) + 0.6)); }, std::int32_t{1}},
      {"EXTRACT of day 0 is NULL", [] { return Fn(Op::kExtractYear, Typed<std::uint32_t>(T::kDate, 0)); }, kNull},
      {"EXTRACT YEAR 1", [] { return Fn(Op::kExtractYear, Date(1, 1, 1)); }, std::int32_t{1}},
      {"EXTRACT YEAR 9999", [] { return Fn(Op::kExtractYear, Date(9999, 12, 31)); }, std::int32_t{9999}},
      {"SUM evaluates its argument", [] { return Fn(Op::kSum, Col("Qty")); }, std::int32_t{7}},
  });
}

TEST(ExpressionEval, StringCompareNodesOfFilters) {
  auto compare = [](Op op, ExpressionPtr l, ExpressionPtr r, std::uint8_t partial, bool ci) {
    auto n = NewNode(NodeKind::kStringCompare, op, "=");
    n->type = T::kBoolean;
    n->partial_length = partial;
    n->case_insensitive = ci;
    n->left = std::move(l);
    n->right = std::move(r);
    return n;
  };
  RunCases({
      {"partial, case-insensitive", [&] { return compare(Op::kEqual, Str("ABCdef"), Str("abc"), 3, true); }, true},
      {"partial, case-sensitive", [&] { return compare(Op::kEqual, Str("ABCdef"), Str("abc"), 3, false); }, false},
      {"whole, case-insensitive", [&] { return compare(Op::kEqual, Str("ABCdef"), Str("abc"), 0, true); }, false},
      {"<> whole", [&] { return compare(Op::kNotEqual, Str("abc"), Str("abd"), 0, false); }, true},
      {"partial longer than both", [&] { return compare(Op::kEqual, Str("ab"), Str("ab"), 200, false); }, true},
      {"null field = ''(null constant)", [&] { return compare(Op::kEqual, Col("NameN"), Null(), 0, false); }, true},
      {"value = null constant", [&] { return compare(Op::kEqual, Col("Name"), Null(), 0, false); }, false},
      {"null <> value", [&] { return compare(Op::kNotEqual, Col("NameN"), Str("a"), 1, false); }, true},
  });
}

TEST(ExpressionEval, CompareStringsWithALocale) {
  // With a locale, letters sort by base letter before case, so "a" < "B".
  EXPECT_EQ(CompareStrings(0x09, 0, "a", false, 0, "B"), -1);
  EXPECT_EQ(CompareStrings(0, 0, "a", false, 0, "B"), 1);
  EXPECT_EQ(CompareStrings(0x09, 0, "abc", true, 0, "ABC"), 0);
  EXPECT_EQ(CompareStrings(0x09, 0, "abcX", false, 3, "abcY"), 0);
  EXPECT_EQ(CompareStrings(0, 0, "abcX", true, 3, "ABCY"), 0);
  // A locale that is not installed falls back to byte order.
  EXPECT_EQ(CompareStrings(0x7F, 0x0F, "a", false, 0, "B"), 1);
  // UPPER with a locale.
  auto n = Fn(Op::kUpper, Str("stra\xDF" "e\xE9"));
  TExpressionNode r;
  Evaluate(*n, Row(), r, 0x09);
  EXPECT_EQ(NodeString(r).substr(0, 4), "STRA");
}

TEST(ExpressionEval, InStopsAtTheFirstMatch) {
  int calls = 0;
  FieldCallback probe = [&](TExpressionNode& r) {
    ++calls;
    r.type = T::kInteger;
    SetNodeValue<std::int32_t>(r, 2);
  };
  auto in = Pred(Op::kIn, Int(1), Items(Int(1), Col("P"), Col("P")));
  TExpressionNode result;
  EvaluateExpression(*in, probe, 0, 0, result);
  EXPECT_TRUE(NodeIsTrue(result));
  EXPECT_EQ(calls, 0);
  auto later = Pred(Op::kIn, Int(2), Items(Int(1), Col("P"), Col("P")));
  EvaluateExpression(*later, probe, 0, 0, result);
  EXPECT_TRUE(NodeIsTrue(result));
  EXPECT_EQ(calls, 1);
}

TEST(ExpressionEval, DisallowedPairsLeaveTheOperatorNode) {
  auto t = Eq(Str("abc"), Int(1));
  SetNodeValue<std::uint16_t>(*t, 0x1234);
  TExpressionNode r;
  Evaluate(*t, Row(), r);
  EXPECT_EQ(r.kind, NodeKind::kConstant);
  EXPECT_EQ(r.type, T::kBoolean);
  EXPECT_EQ(NodeValue<std::uint16_t>(r), 0x1234);
  auto a = Bin(Op::kSubtract, Str("abc"), Str("b"));
  Evaluate(*a, Row(), r);
  EXPECT_EQ(r.token.View(), "-");
}

// ---------------------------------------------------------------- limits

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(ExpressionEval, LongStringsStayWithinTheValueArea) {
  const std::string s250 = Repeat('a', 250);
  const std::string s254 = Repeat('b', 254);
  Row row;
  row.Set("A", Str(s250)).Set("B", Str(s254));
  struct Long {
    const char* what;
    std::function<ExpressionPtr()> tree;
    std::string want;
  };
  const Long cases[] = {
      {"250 + 250 is cut to 254", [] { return Bin(Op::kAdd, Col("A"), Col("A")); }, Repeat('a', 254)},
      {"254 + 1", [] { return Bin(Op::kAdd, Col("B"), Str("c")); }, s254},
      {"1 + 254", [] { return Bin(Op::kAdd, Str("c"), Col("B")); }, "c" + Repeat('b', 253)},
      {"UPPER of 254", [] { return Fn(Op::kUpper, Col("B")); }, Repeat('B', 254)},
      {"SUBSTRING FROM 250 FOR 250", [] { return Substring(Col("B"), Int(250), Int(250)); }, Repeat('b', 5)},
      {"TRIM of 254", [] { return Fn(Op::kTrimBoth, Col("B"), Str("b")); }, ""},
  };
  for (const Long& c : cases) {
    auto tree = c.tree();
    TExpressionNode r;
    Evaluate(*tree, row, r);
    EXPECT_EQ(NodeString(r), c.want) << c.what;
    Evaluate(*tree, row, r, 0x09);  // the locale paths as well
    EXPECT_EQ(NodeString(r), c.want) << c.what << " (locale)";
  }
  auto like = Pred(Op::kLike, Col("B"), Items(Str("%" + Repeat('_', 252) + "%")));
  TExpressionNode r;
  Evaluate(*like, row, r);
  EXPECT_TRUE(NodeIsTrue(r));
}

TEST(ExpressionEval, AllOnesValuesOfEveryTypeUnderEveryOperator) {
  // Values with every byte 0xFF and no string terminator: nothing may read
  // or write past a value area, whatever the operator.
  const Op binary_ops[] = {Op::kEqual, Op::kNotEqual, Op::kGreater, Op::kLess, Op::kGreaterEqual,
                           Op::kLessEqual, Op::kAnd, Op::kOr, Op::kAdd, Op::kSubtract,
                           Op::kMultiply, Op::kDivide};
  const Op function_ops[] = {Op::kSum, Op::kUpper, Op::kLower, Op::kSubstring, Op::kTrimLeading,
                             Op::kTrimTrailing, Op::kTrimBoth, Op::kExtractYear, Op::kExtractMonth,
                             Op::kExtractDay};
  const Op predicate_ops[] = {Op::kLike, Op::kNotLike, Op::kIn, Op::kNotIn, Op::kBetween,
                              Op::kNotBetween};
  auto ones = [](int type) {
    auto n = NewNode(NodeKind::kConstant, Op::kNone, "ff");
    n->type = static_cast<T>(type);
    n->value.fill(0xFF);
    n->size = 0xFF;
    n->decimals = 0xFF;
    n->subtype = 0xFF;
    return n;
  };
  int evaluated = 0;
  for (int lt = 0; lt <= 15; ++lt) {
    for (int rt = 0; rt <= 15; ++rt) {
      for (Op op : binary_ops) {
        auto t = Bin(op, ones(lt), ones(rt));
        TExpressionNode r;
        Evaluate(*t, Row(), r);
        Evaluate(*t, Row(), r, 0x09);
        ++evaluated;
      }
      for (Op op : function_ops) {
        auto t = Fn(op, ones(lt), ones(rt), ones(rt));
        TExpressionNode r;
        Evaluate(*t, Row(), r);
        ++evaluated;
      }
      for (Op op : predicate_ops) {
        auto t = Pred(op, ones(lt), Items(ones(rt), ones(rt)));
        TExpressionNode r;
        Evaluate(*t, Row(), r);
        ++evaluated;
      }
    }
    auto u = Un(Op::kNot, ones(lt));
    TExpressionNode r;
    Evaluate(*u, Row(), r);
  }
  EXPECT_EQ(evaluated, 16 * 16 * 28);
}

TEST(ExpressionEval, MalformedTreesAreHarmless) {
  // Operands missing where the operator needs them: the result is the copy
  // of the operator node.
  std::vector<ExpressionPtr> trees;
  trees.push_back(NewNode(NodeKind::kUnary, Op::kNot, "NOT"));
  trees.push_back(NewNode(NodeKind::kBinary, Op::kAdd, "+"));
  trees.push_back(NewNode(NodeKind::kStringCompare, Op::kEqual, "="));
  trees.push_back(NewNode(NodeKind::kFunction, Op::kSubstring, "SUBSTRING"));
  trees.push_back(Fn(Op::kSubstring, Str("abc")));  // no FROM
  trees.push_back(Fn(Op::kTrimBoth, Str("abc")));   // no character
  trees.push_back(NewNode(NodeKind::kExtendedPredicate, Op::kBetween, "BETWEEN"));
  trees.push_back(Pred(Op::kBetween, Int(1), Items(Int(0))));  // no upper bound
  trees.push_back(Pred(Op::kLike, Str("a"), Items()));
  trees.push_back(NewNode(static_cast<NodeKind>(77), static_cast<Op>(99), "?"));
  for (auto& t : trees) {
    TExpressionNode r;
    EXPECT_NO_THROW(Evaluate(*t, Row(), r));
    EXPECT_EQ(r.kind, NodeKind::kConstant);
  }
}

class ExpressionEvalDepth : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
};

ExpressionPtr NotChain(int depth) {
  ExpressionPtr e = Bool(true);
  for (int i = 0; i < depth; ++i) e = Un(Op::kNot, std::move(e));
  return e;
}

ExpressionPtr OrChain(int terms) {
  // a = 1 OR (a = 2 OR (...)), as the SQL parser groups it.
  ExpressionPtr e = Eq(Col("Qty"), Int(terms));
  for (int i = terms - 1; i >= 1; --i) e = Bin(Op::kOr, Eq(Col("Qty"), Int(i)), std::move(e));
  return e;
}

TEST_F(ExpressionEvalDepth, DeepTreesAreRefusedNotOverflowed) {
  TExpressionNode r;
  auto fine = NotChain(kMaxExpressionDepth - 1);
  Evaluate(*fine, Row(), r);
  EXPECT_EQ(NodeIsTrue(r), (kMaxExpressionDepth - 1) % 2 == 0);

  // Long conditions as the SQL parser and filter texts group them cost no
  // stack.
  auto ors = OrChain(20000);
  ExpressionPtr left_ors = Eq(Col("Qty"), Int(1));
  for (int i = 2; i <= 20000; ++i) left_ors = Bin(Op::kOr, std::move(left_ors), Eq(Col("Qty"), Int(i)));
  for (int qty : {1, 7777, 20000, 0, 20001}) {
    Row row;
    row.Set("Qty", Int(qty));
    Evaluate(*ors, row, r);
    EXPECT_EQ(NodeIsTrue(r), qty >= 1 && qty <= 20000) << qty;
    Evaluate(*left_ors, row, r);
    EXPECT_EQ(NodeIsTrue(r), qty >= 1 && qty <= 20000) << qty;
  }
  // Alternating groupings nest, and are refused past the limit.
  ExpressionPtr zigzag = Bool(true);
  for (int i = 0; i < 2 * kMaxExpressionDepth; ++i) {
    zigzag = i % 2 ? Bin(Op::kAnd, std::move(zigzag), Bin(Op::kAnd, Bool(true), Bool(true)))
                   : Bin(Op::kOr, Bin(Op::kOr, Bool(false), Bool(false)), std::move(zigzag));
  }
  EXPECT_THROW(Evaluate(*zigzag, Row(), r), ETolmidEngineError);

  for (int depth : {kMaxExpressionDepth + 1, 100000}) {
    auto deep = NotChain(depth);
    try {
      Evaluate(*deep, Row(), r);
      ADD_FAILURE() << "depth " << depth << " evaluated";
    } catch (const ETolmidEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), 10051);
    }
  }
}

TEST(ExpressionEval, MixedAndOrChainsMatchTheRecursiveMeaning) {
  // a op1 (b op2 (c ...)) with random operators and truths, against the
  // meaning written out recursively.
  std::uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 2000; ++round) {
    const int n = 1 + static_cast<int>(next() % 12);
    std::vector<bool> truth(n + 1);
    std::vector<Op> ops(n);
    for (int i = 0; i <= n; ++i) truth[i] = next() % 2;
    for (int i = 0; i < n; ++i) ops[i] = next() % 2 ? Op::kAnd : Op::kOr;
    ExpressionPtr e = Bool(truth[n]);
    bool want = truth[n];
    for (int i = n - 1; i >= 0; --i) {
      // Some operands are short chains of their own, grouped to the left.
      ExpressionPtr operand = Bool(truth[i]);
      if (next() % 4 == 0) operand = Bin(Op::kAnd, std::move(operand), Bool(true));
      e = Bin(ops[i], std::move(operand), std::move(e));
      want = ops[i] == Op::kAnd ? (truth[i] && want) : (truth[i] || want);
    }
    TExpressionNode r;
    Evaluate(*e, Row(), r);
    ASSERT_EQ(NodeIsTrue(r), want) << "round " << round;
    ASSERT_EQ(r.type, T::kBoolean);

    // The same operands grouped to the left, as filter texts group them:
    // ((t0 op0 t1) op1 t2) ...
    ExpressionPtr f = Bool(truth[0]);
    bool fwant = truth[0];
    for (int i = 0; i < n; ++i) {
      ExpressionPtr operand = Bool(truth[i + 1]);
      if (next() % 4 == 0) operand = Bin(Op::kOr, Bool(false), std::move(operand));
      f = Bin(ops[i], std::move(f), std::move(operand));
      fwant = ops[i] == Op::kAnd ? (fwant && truth[i + 1]) : (fwant || truth[i + 1]);
    }
    Evaluate(*f, Row(), r);
    ASSERT_EQ(NodeIsTrue(r), fwant) << "left-grouped round " << round;
  }
}

TEST_F(ExpressionEvalDepth, TheCostliestLevelsFitAtTheLimit) {
  // Predicates and functions hold the most per level; nest them to the
  // limit (this runs under the sanitizer build too, with its larger frames).
  ExpressionPtr in = Int(1);
  ExpressionPtr upper = Str("abc");
  ExpressionPtr substring = Str("abc");
  for (int i = 0; i < kMaxExpressionDepth - 1; ++i) {
    in = Pred(Op::kIn, std::move(in), Items(Bool(true)));
    upper = Fn(Op::kUpper, std::move(upper));
    substring = Substring(std::move(substring), Int(1), Int(250));
  }
  TExpressionNode r;
  Evaluate(*in, Row(), r);
  EXPECT_EQ(r.type, T::kBoolean);
  Evaluate(*upper, Row(), r, 0x09);
  EXPECT_EQ(NodeString(r), "ABC");
  Evaluate(*substring, Row(), r);
  EXPECT_EQ(NodeString(r), "abc");
}

TEST(ExpressionTrees, CopyIsDeepAndIndependent) {
  auto tree = Bin(Op::kAnd, Pred(Op::kIn, Col("Qty"), Items(Int(1), Int(7), Int(9))),
                  Pred(Op::kBetween, Col("Name"), Items(Str("a"), Str("b"))));
  auto copy = CopyExpression(tree.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(CopyExpression(nullptr), nullptr);
  // Every list node was copied, not shared.
  const TExpressionNode* s = tree->left->right.get();
  const TExpressionNode* c = copy->left->right.get();
  int n = 0;
  for (; s != nullptr; s = s->right.get(), c = c->right.get(), ++n) {
    ASSERT_NE(c, nullptr);
    EXPECT_NE(s, c);
    EXPECT_EQ(NodeValue<std::int32_t>(*s), NodeValue<std::int32_t>(*c));
  }
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(n, 3);
  const Row row = StandardRow();
  TExpressionNode before, after;
  Evaluate(*tree, row, before);
  FreeExpression(std::move(copy));
  Evaluate(*tree, row, after);
  EXPECT_TRUE(NodeIsTrue(before));
  EXPECT_TRUE(NodeIsTrue(after));

  // Deep and long trees copy and free without recursion.
  auto deep = NotChain(300000);
  auto deep_copy = CopyExpression(deep.get());
  std::vector<ExpressionPtr> items;
  for (int i = 0; i < 300000; ++i) items.push_back(Int(i));
  auto long_in = Pred(Op::kIn, Int(299999), std::move(items));
  auto long_copy = CopyExpression(long_in.get());
  TExpressionNode r;
  Evaluate(*long_copy, Row(), r);
  EXPECT_TRUE(NodeIsTrue(r));
}

TEST(ExpressionTrees, MakeBooleanTestAndNodeText) {
  auto t = MakeBooleanTest(Col("Flag"));
  TExpressionNode r;
  Row row;
  row.Set("Flag", Typed<std::uint16_t>(T::kBoolean, 1));
  Evaluate(*t, row, r);
  EXPECT_TRUE(NodeIsTrue(r));

  NodeText text(std::string(300, 'x'));
  EXPECT_EQ(text.size(), 255u);
  auto s = Str(std::string(300, 'y'));
  EXPECT_EQ(NodeString(*s).size(), kMaxValueChars);
  EXPECT_EQ(s->size, 255);
}

}  // namespace
}  // namespace storage
