// Evaluation of expression trees: hand-computed tables of what the SQLite
// differential cannot check (the engine's NULL rules, which deliberately
// differ from SQL; currency, word, time and timestamp arithmetic; high
// bytes and locales), the value-area limits and the nesting limit. Filter
// string-compare nodes are in filter_object_test.
#include "storage/expression_eval.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
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
using Typed64 = std::pair<T, std::int64_t>;
using Expected = std::variant<bool, IsNullResult, std::int32_t, double, std::string, Typed64>;
const IsNullResult kNull;

void ExpectResult(const TExpressionNode& r, const Expected& want, const std::string& what) {
  SCOPED_TRACE(what + ": type " + std::to_string(static_cast<int>(r.type)) + " null " + std::to_string(r.null));
  EXPECT_EQ(r.kind, NodeKind::kConstant);
  if (std::holds_alternative<IsNullResult>(want)) {
    EXPECT_EQ(r.null, 1);
    return;
  }
  if (!std::holds_alternative<std::string>(want)) {
    EXPECT_EQ(r.null, 0);
  }
  if (const bool* b = std::get_if<bool>(&want)) {
    EXPECT_EQ(r.type, T::kBoolean);
    EXPECT_EQ(NodeValue<std::uint16_t>(r), *b ? 0xFFFF : 0);
  } else if (const auto* i = std::get_if<std::int32_t>(&want)) {
    EXPECT_EQ(r.type, T::kInteger);
    EXPECT_EQ(NodeValue<std::int32_t>(r), *i);
  } else if (const double* d = std::get_if<double>(&want)) {
    EXPECT_EQ(r.type, T::kFloat);
    EXPECT_DOUBLE_EQ(NodeValue<double>(r), *d);
  } else if (const auto* s = std::get_if<std::string>(&want)) {
    EXPECT_EQ(r.type, T::kString);
    EXPECT_EQ(NodeString(r), *s);
  } else {
    const auto [type, v] = std::get<Typed64>(want);
    EXPECT_EQ(r.type, type);
    switch (type) {
      case T::kCurrency: EXPECT_EQ(NodeValue<std::int64_t>(r), v); break;
      case T::kWord: EXPECT_EQ(NodeValue<std::uint16_t>(r), v); break;
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
  row.Set("Name", Str("abc")).Set("Qty", Int(7)).Set("Day", Date(2000, 3, 1));
  row.Set("When", Stamp(2000, 3, 1, 13 * 3600000 + 5)).SetNull("NameN", T::kString, 21);
  row.SetNull("OtherN", T::kString, 11).SetNull("QtyN", T::kInteger).SetNull("SmallN", T::kSmallInt, 2);
  row.SetNull("FlagN", T::kBoolean, 2).SetNull("DayN", T::kDate).SetNull("AmountN", T::kCurrency, 8);
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
Typed64 Cur(std::int64_t v) { return {T::kCurrency, v}; }

TEST(ExpressionEval, NullRulesOfTheEngine) {
  RunCases({
      // = and <> with the NULL literal test for null; two nulls are equal.
      {"null = NULL", [] { return Eq(Col("NameN"), Null()); }, true},
      {"value = NULL", [] { return Eq(Col("Name"), Null()); }, false},
      {"null <> NULL", [] { return Ne(Col("NameN"), Null()); }, false},
      {"NULL = null (literal left)", [] { return Eq(Null(), Col("NameN")); }, true},
      {"null = value", [] { return Eq(Col("QtyN"), Int(0)); }, false},
      {"null <> value", [] { return Ne(Col("QtyN"), Int(0)); }, true},
      {"value = null", [] { return Eq(Str("abc"), Col("NameN")); }, false},
      {"null = null strings", [] { return Eq(Col("NameN"), Col("OtherN")); }, true},
      {"null int32 = null int16", [] { return Eq(Col("QtyN"), Col("SmallN")); }, true},
      // Ordering reads a null as zero / empty.
      {"null > 5", [] { return Bin(Op::kGreater, Col("QtyN"), Int(5)); }, false},
      {"null > -1", [] { return Bin(Op::kGreater, Col("QtyN"), Int(-1)); }, true},
      {"null >= 0", [] { return Bin(Op::kGreaterEqual, Col("QtyN"), Int(0)); }, true},
      {"null string < 'a'", [] { return Bin(Op::kLess, Col("NameN"), Str("a")); }, true},
      {"null currency > -1", [] { return Bin(Op::kGreater, Col("AmountN"), Int(-1)); }, true},
      {"null date < any date", [] { return Bin(Op::kLess, Col("DayN"), Date(1, 1, 1)); }, true},
      // Arithmetic reads a null as zero, except after a division by zero.
      {"null + 1", [] { return Bin(Op::kAdd, Col("QtyN"), Int(1)); }, std::int32_t{1}},
      {"null string || 'x'", [] { return Bin(Op::kAdd, Col("NameN"), Str("x")); }, std::string("x")},
      {"7 / null", [] { return Div(Int(7), Col("QtyN")); }, kNull},
      {"null / 2", [] { return Div(Col("QtyN"), Int(2)); }, 0.0},
      {"7 / 0", [] { return Div(Int(7), Int(0)); }, kNull},
      {"7.0 / 0.0", [] { return Div(Flt(7), Flt(0)); }, kNull},
      {"(7 / 0) = NULL", [] { return Eq(Div(Int(7), Int(0)), Null()); }, true},
      {"(7 / 0) = 0", [] { return Eq(Div(Int(7), Int(0)), Flt(0)); }, false},
      {"(7 / 0) < 1 reads zero", [] { return Bin(Op::kLess, Div(Int(7), Int(0)), Flt(1)); }, true},
      // A null boolean reads false; NOT of it is true.
      {"null AND true", [] { return Bin(Op::kAnd, Col("FlagN"), Bool(true)); }, false},
      {"null OR true", [] { return Bin(Op::kOr, Col("FlagN"), Bool(true)); }, true},
      {"NOT null", [] { return Un(Op::kNot, Col("FlagN")); }, true},
      {"NOT (null = 1)", [] { return Un(Op::kNot, Eq(Col("QtyN"), Int(1))); }, true},
      {"IS NULL of null", [] { return Un(Op::kIsNull, Col("QtyN")); }, true},
      {"IS NOT NULL of null", [] { return Un(Op::kIsNotNull, Col("QtyN")); }, false},
      {"IS NULL of value", [] { return Un(Op::kIsNull, Col("Qty")); }, false},
      {"IS NULL of NaN", [] { return Un(Op::kIsNull, Flt(std::nan(""))); }, true},
      {"IS NOT NULL of NaN", [] { return Un(Op::kIsNotNull, Flt(std::nan(""))); }, false},
      // LIKE is false on a null side; IN a chain of =; BETWEEN of orderings.
      {"null LIKE '%'", [] { return Pred(Op::kLike, Col("NameN"), Items(Str("%"))); }, false},
      {"null NOT LIKE '%'", [] { return Pred(Op::kNotLike, Col("NameN"), Items(Str("%"))); }, true},
      {"value LIKE null", [] { return Pred(Op::kLike, Col("Name"), Items(Null())); }, false},
      {"null IN (0, 1)", [] { return Pred(Op::kIn, Col("QtyN"), Items(Int(0), Int(1))); }, false},
      {"null NOT IN (0, 1)", [] { return Pred(Op::kNotIn, Col("QtyN"), Items(Int(0), Int(1))); }, true},
      {"null IN (1, NULL)", [] { return Pred(Op::kIn, Col("QtyN"), Items(Int(1), Null())); }, true},
      {"value IN (NULL)", [] { return Pred(Op::kIn, Col("Qty"), Items(Null())); }, false},
      {"null BETWEEN -1 AND 1", [] { return Pred(Op::kBetween, Col("QtyN"), Items(Int(-1), Int(1))); }, true},
      {"null BETWEEN 1 AND 2", [] { return Pred(Op::kBetween, Col("QtyN"), Items(Int(1), Int(2))); }, false},
      // Functions keep a null argument null.
      {"UPPER(null)", [] { return Fn(Op::kUpper, Col("NameN")); }, kNull},
      {"SUBSTRING(null FROM 1)", [] { return Substring(Col("NameN"), Int(1)); }, kNull},
      {"EXTRACT(YEAR FROM null)", [] { return Fn(Op::kExtractYear, Col("DayN")); }, kNull},
  });
}

TEST(ExpressionEval, TypesTheDifferentialDoesNotCover) {
  const std::int64_t day = 86400000, tod = 13 * 3600000 + 5;
  const std::int64_t d2000 = DayNumber(2000, 3, 1);
  RunCases({
      {"high bytes sort after ASCII", [] { return Bin(Op::kGreater, Str("\xE9"), Str("z")); }, true},
      {"currency 1 = int 1", [] { return Eq(Curr(10000), Int(1)); }, true},
      {"currency 1.5 > float 1.4", [] { return Bin(Op::kGreater, Curr(15000), Flt(1.4)); }, true},
      {"currency 0.0001 > int 0", [] { return Bin(Op::kGreater, Curr(1), Int(0)); }, true},
      {"int 2 > currency 1.9999", [] { return Bin(Op::kGreater, Int(2), Curr(19999)); }, true},
      {"word 65535 > int16 -1", [] { return Bin(Op::kGreater, Word(65535), Small(-1)); }, true},
      {"date = timestamp at midnight", [] { return Eq(Date(2000, 3, 1), Stamp(2000, 3, 1, 0)); }, true},
      {"date < timestamp after midnight", [] { return Bin(Op::kLess, Date(2000, 3, 1), Stamp(2000, 3, 1, 1)); }, true},
      {"time <= time", [] { return Bin(Op::kLessEqual, TimeMs(5), TimeMs(5)); }, true},
      {"booleans by truth: 1 = 0xFFFF", [] { return Eq(Typed<std::uint16_t>(T::kBoolean, 1), Bool(true)); }, true},
      {"AND reads any non-zero as true",
       [] { return Bin(Op::kAnd, Typed<std::uint16_t>(T::kBoolean, 1), Typed<std::uint16_t>(T::kBoolean, 2)); }, true},
      {"IN mixes numeric types", [] { return Pred(Op::kIn, Curr(20000), Items(Flt(1.0), Int(2))); }, true},
      {"int16 + word is int32", [] { return Bin(Op::kAdd, Small(-5), Word(65535)); }, std::int32_t{65530}},
      {"word - int16 is word", [] { return Bin(Op::kSubtract, Word(1), Small(2)); }, Typed64{T::kWord, 65535}},
      {"int32 sum keeps 32 bits", [] { return Bin(Op::kAdd, Int(2147483647), Int(1)); }, std::int32_t{-2147483647 - 1}},
      {"int32 product in 64 bits", [] { return Bin(Op::kMultiply, Int(100000), Int(100000)); }, 1410065408},
      {"currency + int", [] { return Bin(Op::kAdd, Curr(15000), Int(1)); }, Cur(25000)},
      {"int - currency", [] { return Bin(Op::kSubtract, Int(1), Curr(2500)); }, Cur(7500)},
      {"currency * currency", [] { return Bin(Op::kMultiply, Curr(15000), Curr(15000)); }, Cur(22500)},
      {"currency * int", [] { return Bin(Op::kMultiply, Curr(15000), Int(3)); }, Cur(45000)},
      {"currency / int, 4 decimals", [] { return Div(Curr(10000), Int(3)); }, Cur(3333)},
      {"currency / int, 2 decimals", [] { return Div(Curr(10000, 2), Int(3)); }, Cur(3300)},
      {"currency / int rounds halves away", [] { return Div(Curr(-10000, 2), Int(8)); }, Cur(-1300)},
      {"half unit rounds away", [] { return Div(Curr(5), Int(2)); }, Cur(3)},
      {"negative half unit", [] { return Div(Curr(-5), Int(2)); }, Cur(-3)},
      {"below half", [] { return Div(Curr(7), Int(4)); }, Cur(2)},
      {"currency * currency: half unit", [] { return Bin(Op::kMultiply, Curr(5), Curr(5000)); }, Cur(3)},
      {"int / currency", [] { return Div(Int(1), Curr(30000)); }, Cur(3333)},
      {"currency / currency", [] { return Div(Curr(30000), Curr(15000)); }, Cur(20000)},
      {"currency / 0", [] { return Div(Curr(30000), Curr(0)); }, kNull},
      {"currency * float is float", [] { return Bin(Op::kMultiply, Curr(15000), Flt(2.0)); }, 3.0},
      {"1 + date", [] { return Bin(Op::kAdd, Word(1), Col("Day")); }, Typed64{T::kDate, d2000 + 1}},
      {"time + int", [] { return Bin(Op::kAdd, TimeMs(1000), Int(500)); }, Typed64{T::kTime, 1500}},
      {"time - time", [] { return Bin(Op::kSubtract, TimeMs(1000), TimeMs(1500)); }, std::int32_t{-500}},
      {"time - int", [] { return Bin(Op::kSubtract, TimeMs(1000), Small(1)); }, Typed64{T::kTime, 999}},
      {"1 + timestamp", [&] { return Bin(Op::kAdd, Int(1), Col("When")); },
       Typed64{T::kTimestamp, (d2000 + 1) * day + tod}},
      {"timestamp - 2", [&] { return Bin(Op::kSubtract, Col("When"), Int(2)); },
       Typed64{T::kTimestamp, (d2000 - 2) * day + tod}},
      {"timestamp - timestamp: days of the dates",
       [] { return Bin(Op::kSubtract, Col("When"), Stamp(2000, 2, 29, 86399999)); }, std::int32_t{1}},
      {"timestamp - time", [] { return Bin(Op::kSubtract, Col("When"), TimeMs(5)); }, std::int32_t{13 * 3600000}},
      {"UPPER of high bytes", [] { return Fn(Op::kUpper, Str("abc\xE9z")); }, std::string("ABC\xC9Z")},
      {"LOWER of high bytes", [] { return Fn(Op::kLower, Str("AbC\xC9")); }, std::string("abc\xE9")},
      {"EXTRACT DAY rounds the milliseconds",
       [] { return Fn(Op::kExtractDay, Typed(T::kTimestamp, StampMs(2000, 2, 29, 86399999) + 0.6)); }, std::int32_t{1}},
      {"EXTRACT of day 0", [] { return Fn(Op::kExtractYear, Typed<std::uint32_t>(T::kDate, 0)); }, kNull},
      {"EXTRACT YEAR 1", [] { return Fn(Op::kExtractYear, Date(1, 1, 1)); }, std::int32_t{1}},
      {"EXTRACT YEAR 9999", [] { return Fn(Op::kExtractYear, Date(9999, 12, 31)); }, std::int32_t{9999}},
      {"SUM evaluates its argument", [] { return Fn(Op::kSum, Col("Qty")); }, std::int32_t{7}},
  });
}

TEST(ExpressionEval, CompareStringsWithALocale) {
  // With a locale, letters sort by base letter before case, so "a" < "B".
  EXPECT_EQ(CompareStrings(0x09, 0, "a", false, 0, "B"), -1);
  EXPECT_EQ(CompareStrings(0, 0, "a", false, 0, "B"), 1);
  EXPECT_EQ(CompareStrings(0x09, 0, "abc", true, 0, "ABC"), 0);
  EXPECT_EQ(CompareStrings(0x09, 0, "abcX", false, 3, "abcY"), 0);
  EXPECT_EQ(CompareStrings(0, 0, "abcX", true, 3, "ABCY"), 0);
  EXPECT_EQ(CompareStrings(0x7F, 0x0F, "a", false, 0, "B"), 1);  // not installed: byte order
  auto n = Fn(Op::kUpper, Str("stra\xDF" "e\xE9"));
  TExpressionNode r;
  Evaluate(*n, Row(), r, 0x09);
  EXPECT_EQ(NodeString(r).substr(0, 4), "STRA");
}

TEST(ExpressionEval, LongStringsStayWithinTheValueArea) {
  const std::string s250(250, 'a'), s254(254, 'b');
  Row row;
  row.Set("A", Str(s250)).Set("B", Str(s254));
  const std::vector<std::pair<std::function<ExpressionPtr()>, std::string>> cases = {
      {[] { return Bin(Op::kAdd, Col("A"), Col("A")); }, std::string(254, 'a')},
      {[] { return Bin(Op::kAdd, Col("B"), Str("c")); }, s254},
      {[] { return Bin(Op::kAdd, Str("c"), Col("B")); }, "c" + std::string(253, 'b')},
      {[] { return Fn(Op::kUpper, Col("B")); }, std::string(254, 'B')},
      {[] { return Substring(Col("B"), Int(250), Int(250)); }, std::string(5, 'b')},
      {[] { return Fn(Op::kTrimBoth, Col("B"), Str("b")); }, ""},
  };
  for (const auto& [tree, want] : cases) {
    auto t = tree();
    TExpressionNode r;
    Evaluate(*t, row, r);
    EXPECT_EQ(NodeString(r), want);
    Evaluate(*t, row, r, 0x09);  // the locale paths as well
    EXPECT_EQ(NodeString(r), want);
  }
  auto like = Pred(Op::kLike, Col("B"), Items(Str("%" + std::string(252, '_') + "%")));
  TExpressionNode r;
  Evaluate(*like, row, r);
  EXPECT_TRUE(NodeIsTrue(r));
}

ExpressionPtr NotChain(int depth) {
  ExpressionPtr e = Bool(true);
  for (int i = 0; i < depth; ++i) e = Un(Op::kNot, std::move(e));
  return e;
}

TEST(ExpressionEval, DeepTreesAreRefusedLongChainsCostNoStack) {
  InitializeEngine();
  TExpressionNode r;
  Evaluate(*NotChain(kMaxExpressionDepth - 1), Row(), r);
  EXPECT_EQ(NodeIsTrue(r), (kMaxExpressionDepth - 1) % 2 == 0);
  auto code = [&](const TExpressionNode& tree) {
    try {
      Evaluate(tree, Row(), r);
    } catch (const ETolmidEngineError& e) {
      return static_cast<int>(e.ErrorCode());
    }
    return 0;
  };
  for (int depth : {kMaxExpressionDepth + 1, 100000}) EXPECT_EQ(code(*NotChain(depth)), 10051) << depth;
  // Alternating groupings nest and are refused past the limit.
  ExpressionPtr zigzag = Bool(true);
  for (int i = 0; i < 2 * kMaxExpressionDepth; ++i) {
    zigzag = i % 2 ? Bin(Op::kAnd, std::move(zigzag), Bin(Op::kAnd, Bool(true), Bool(true)))
                   : Bin(Op::kOr, Bin(Op::kOr, Bool(false), Bool(false)), std::move(zigzag));
  }
  EXPECT_EQ(code(*zigzag), 10051);
  // Predicates and functions hold the most per level: nested to the limit
  // they fit (the sanitizer build too, with its larger frames).
  ExpressionPtr in = Int(1), upper = Str("abc");
  for (int i = 0; i < kMaxExpressionDepth - 1; ++i) {
    in = Pred(Op::kIn, std::move(in), Items(Bool(true)));
    upper = Fn(Op::kUpper, std::move(upper));
  }
  Evaluate(*in, Row(), r);
  EXPECT_EQ(r.type, T::kBoolean);
  Evaluate(*upper, Row(), r, 0x09);
  EXPECT_EQ(NodeString(r), "ABC");
  // Deep and long trees copy without recursion.
  auto deep_copy = CopyExpression(NotChain(300000).get());
  std::vector<ExpressionPtr> items;
  for (int i = 0; i < 300000; ++i) items.push_back(Int(i));
  auto long_in = CopyExpression(Pred(Op::kIn, Int(299999), std::move(items)).get());
  Evaluate(*long_in, Row(), r);
  EXPECT_TRUE(NodeIsTrue(r));
}

// Random AND/OR chains grouped to the right and to the left (as the
// parsers group them), against the recursive meaning; long chains of one
// operator are walked, not recursed.
TEST(ExpressionEval, AndOrChainsMatchTheRecursiveMeaning) {
  InitializeEngine();
  std::mt19937 rng(12345);
  for (int round = 0; round < 2000; ++round) {
    const bool long_chain = round >= 1990;
    const int n = 1 + static_cast<int>(rng() % (long_chain ? 20000 : 12));
    std::vector<bool> truth(n + 1);
    std::vector<Op> ops(n);
    const Op only = rng() % 2 ? Op::kAnd : Op::kOr;
    for (int i = 0; i <= n; ++i) truth[i] = long_chain ? rng() % 50 != 0 : rng() % 2;
    for (int i = 0; i < n; ++i) ops[i] = long_chain ? only : rng() % 2 ? Op::kAnd : Op::kOr;
    ExpressionPtr right = Bool(truth[n]), left = Bool(truth[0]);
    bool want_right = truth[n], want_left = truth[0];
    for (int i = n - 1; i >= 0; --i) {
      ExpressionPtr operand = Bool(truth[i]);
      if (!long_chain && rng() % 4 == 0) operand = Bin(Op::kAnd, std::move(operand), Bool(true));
      right = Bin(ops[i], std::move(operand), std::move(right));
      want_right = ops[i] == Op::kAnd ? (truth[i] && want_right) : (truth[i] || want_right);
    }
    for (int i = 0; i < n; ++i) {
      ExpressionPtr operand = long_chain ? Bool(truth[i + 1]) : Bin(Op::kOr, Bool(false), Bool(truth[i + 1]));
      left = Bin(ops[i], std::move(left), std::move(operand));
      want_left = ops[i] == Op::kAnd ? (want_left && truth[i + 1]) : (want_left || truth[i + 1]);
    }
    TExpressionNode r;
    Evaluate(*right, Row(), r);
    ASSERT_EQ(NodeIsTrue(r), want_right) << "round " << round;
    Evaluate(*left, Row(), r);
    ASSERT_EQ(NodeIsTrue(r), want_left) << "left-grouped round " << round;
  }
}

}  // namespace
}  // namespace storage
