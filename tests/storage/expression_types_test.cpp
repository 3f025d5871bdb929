// Type rules and value conversions of expression nodes.
#include "storage/expression_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "expression_test_support.h"

namespace storage {
namespace {

using T = FieldType;
using Op = ExprOperator;
using TypeSet = std::vector<T>;

const TypeSet kInts = {T::kSmallInt, T::kInteger, T::kWord};
const TypeSet kNums = {T::kSmallInt, T::kInteger, T::kWord, T::kFloat, T::kCurrency};

TypeSet Join(TypeSet a, const TypeSet& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Row {
  std::vector<Op> ops;
  TypeSet left;
  TypeSet right;
  T result;
};

// The rule tables written out row by row as they are given; every cell not
// named here must be refused.
std::vector<Row> RuleRows() {
  const std::vector<Op> eq = {Op::kEqual, Op::kNotEqual};
  const std::vector<Op> all_cmp = {Op::kEqual, Op::kNotEqual, Op::kGreater,
                                   Op::kLess,  Op::kGreaterEqual, Op::kLessEqual};
  const TypeSet date_stamp = {T::kDate, T::kTimestamp};
  const TypeSet comparable =
      Join(Join({T::kString, T::kDate, T::kTimestamp, T::kBoolean, T::kTime}, {}), kNums);
  const T B = T::kBoolean;
  return {
      // comparisons
      {all_cmp, {T::kString}, {T::kString}, B},
      {all_cmp, date_stamp, date_stamp, B},
      {all_cmp, {T::kBoolean}, {T::kBoolean}, B},
      {all_cmp, kNums, kNums, B},
      {all_cmp, {T::kTime}, {T::kTime}, B},
      {eq, comparable, {T::kNone}, B},
      {{Op::kAnd, Op::kOr}, {T::kBoolean}, {T::kBoolean}, B},
      // +
      {{Op::kAdd}, {T::kString}, {T::kString}, T::kString},
      {{Op::kAdd}, {T::kDate}, kInts, T::kDate},
      {{Op::kAdd}, kInts, {T::kDate}, T::kDate},
      {{Op::kAdd}, kInts, kInts, T::kInteger},
      {{Op::kAdd}, kInts, {T::kFloat}, T::kFloat},
      {{Op::kAdd}, kInts, {T::kCurrency}, T::kCurrency},
      {{Op::kAdd}, kInts, {T::kTime}, T::kTime},
      {{Op::kAdd}, kInts, {T::kTimestamp}, T::kTimestamp},
      {{Op::kAdd}, {T::kFloat}, kNums, T::kFloat},
      {{Op::kAdd}, {T::kCurrency}, Join(kInts, {T::kCurrency}), T::kCurrency},
      {{Op::kAdd}, {T::kCurrency}, {T::kFloat}, T::kFloat},
      {{Op::kAdd}, {T::kTime}, kInts, T::kTime},
      {{Op::kAdd}, {T::kTimestamp}, kInts, T::kTimestamp},
      // -
      {{Op::kSubtract}, {T::kDate}, {T::kDate}, T::kInteger},
      {{Op::kSubtract}, {T::kDate}, kInts, T::kDate},
      {{Op::kSubtract}, {T::kSmallInt, T::kInteger}, kInts, T::kInteger},
      {{Op::kSubtract}, {T::kSmallInt, T::kInteger}, {T::kFloat}, T::kFloat},
      {{Op::kSubtract}, {T::kSmallInt, T::kInteger}, {T::kCurrency}, T::kCurrency},
      {{Op::kSubtract}, {T::kWord}, kInts, T::kWord},
      {{Op::kSubtract}, {T::kWord}, {T::kFloat}, T::kFloat},
      {{Op::kSubtract}, {T::kWord}, {T::kCurrency}, T::kCurrency},
      {{Op::kSubtract}, {T::kFloat}, kNums, T::kFloat},
      {{Op::kSubtract}, {T::kCurrency}, Join(kInts, {T::kCurrency}), T::kCurrency},
      {{Op::kSubtract}, {T::kCurrency}, {T::kFloat}, T::kFloat},
      {{Op::kSubtract}, {T::kTime}, {T::kTime}, T::kInteger},
      {{Op::kSubtract}, {T::kTime}, kInts, T::kTime},
      {{Op::kSubtract}, {T::kTimestamp}, {T::kDate, T::kTime, T::kTimestamp}, T::kInteger},
      {{Op::kSubtract}, {T::kTimestamp}, kInts, T::kTimestamp},
      // *
      {{Op::kMultiply}, kInts, kInts, T::kInteger},
      {{Op::kMultiply}, kInts, {T::kFloat}, T::kFloat},
      {{Op::kMultiply}, kInts, {T::kCurrency}, T::kCurrency},
      {{Op::kMultiply}, {T::kFloat}, kNums, T::kFloat},
      {{Op::kMultiply}, {T::kCurrency}, Join(kInts, {T::kCurrency}), T::kCurrency},
      {{Op::kMultiply}, {T::kCurrency}, {T::kFloat}, T::kFloat},
      // /
      {{Op::kDivide}, kInts, Join(kInts, {T::kFloat}), T::kFloat},
      {{Op::kDivide}, kInts, {T::kCurrency}, T::kCurrency},
      {{Op::kDivide}, {T::kFloat}, kNums, T::kFloat},
      {{Op::kDivide}, {T::kCurrency}, Join(kInts, {T::kCurrency}), T::kCurrency},
      {{Op::kDivide}, {T::kCurrency}, {T::kFloat}, T::kFloat},
  };
}

TEST(ExpressionTypeRules, EveryCellOfTheResultTables) {
  std::map<std::tuple<Op, T, T>, T> expected;
  for (const Row& row : RuleRows()) {
    for (Op op : row.ops) {
      for (T l : row.left) {
        for (T r : row.right) {
          auto [it, inserted] = expected.emplace(std::make_tuple(op, l, r), row.result);
          ASSERT_TRUE(inserted || it->second == row.result) << "rule table contradicts itself";
        }
      }
    }
  }
  const std::vector<Op> ops = {Op::kIsNull, Op::kEqual,        Op::kNotEqual,  Op::kGreater,
                               Op::kLess,   Op::kGreaterEqual, Op::kLessEqual, Op::kNot,
                               Op::kAnd,    Op::kOr,           Op::kAdd,       Op::kSubtract,
                               Op::kMultiply, Op::kDivide,     Op::kLike,      Op::kIn};
  int allowed = 0;
  for (Op op : ops) {
    for (int l = 0; l <= 15; ++l) {
      for (int r = 0; r <= 15; ++r) {
        const T lt = static_cast<T>(l);
        const T rt = static_cast<T>(r);
        auto it = expected.find({op, lt, rt});
        const T want = it == expected.end() ? T::kNone : it->second;
        EXPECT_EQ(BinaryResultType(op, lt, rt), want)
            << "op " << static_cast<int>(op) << " left " << l << " right " << r;
        EXPECT_EQ(BinaryOperandsAllowed(op, lt, rt), want != T::kNone);
        allowed += want != T::kNone;
      }
    }
  }
  EXPECT_EQ(allowed, static_cast<int>(expected.size()));
}

TEST(ExpressionTypeRules, UnaryOnlyBooleanUnderNullTestsAndNot) {
  for (int op = 0; op <= 49; ++op) {
    for (int t = 0; t <= 15; ++t) {
      const bool want = (op == 1 || op == 2 || op == 9) && t == 4;
      EXPECT_EQ(UnaryOperandAllowed(static_cast<Op>(op), static_cast<T>(t)), want)
          << op << " " << t;
    }
  }
}

TEST(ExpressionTypeRules, MoneySubtype) {
  constexpr std::uint8_t M = 21;
  struct Case {
    Op op;
    std::uint8_t ls;
    std::uint8_t rs;
    T rt;
    std::uint8_t want;
  };
  const Case cases[] = {
      // + and *: money on either side spreads; left money needs a numeric right.
      {Op::kAdd, 0, M, T::kFloat, M},
      {Op::kAdd, 0, 0, T::kFloat, 0},
      {Op::kAdd, M, 0, T::kInteger, M},
      {Op::kAdd, M, 0, T::kDate, 0},
      {Op::kMultiply, M, 0, T::kInteger, M},  // a money column times an int32 column
      {Op::kMultiply, 0, M, T::kFloat, M},
      {Op::kMultiply, 5, M, T::kFloat, 0},
      // - and /: only left money counts.
      {Op::kSubtract, 0, M, T::kFloat, 0},  // int32 minus a money column is not money
      {Op::kSubtract, M, 0, T::kWord, M},
      {Op::kDivide, M, M, T::kFloat, M},
      {Op::kDivide, M, 0, T::kString, 0},
      {Op::kDivide, 0, M, T::kFloat, 0},
      // other operators never
      {Op::kEqual, M, M, T::kFloat, 0},
      {Op::kAnd, M, M, T::kFloat, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BinaryResultSubtype(c.op, T::kFloat, c.ls, c.rs, c.rt), c.want)
        << static_cast<int>(c.op) << " " << int(c.ls) << " " << int(c.rs);
  }
}

// ---------------------------------------------------------------- conversions

struct Bytes {
  std::array<std::uint8_t, 8> b{};
  template <class V>
  static Bytes Of(V v) {
    Bytes x;
    StoreLittle<V>(x.b.data(), v);
    return x;
  }
};

// Converts value (as bytes of from) into type to; returns the 8 bytes of a
// destination pre-filled with 0xAA, so "nothing written" shows.
std::array<std::uint8_t, 8> Convert(T from, Bytes value, T to) {
  TExpressionNode src;
  src.type = from;
  src.size = static_cast<std::uint8_t>(NodeValueWidth(from));
  TExpressionNode dst;
  dst.type = to;
  std::array<std::uint8_t, 8> out;
  out.fill(0xAA);
  ConvertExpressionValue(src, value.b, dst, out);
  return out;
}

template <class V>
V As(const std::array<std::uint8_t, 8>& out) {
  return LoadLittle<V>(out.data());
}

TEST(ExpressionConversions, RulesOfTheConversionTable) {
  using test::DayNumber;
  const double noon_ms = static_cast<double>(DayNumber(1999, 12, 31)) * 86400000.0 + 43200000.0;
  const double almost_midnight = static_cast<double>(DayNumber(1999, 12, 31)) * 86400000.0 +
                                 86399999.6;  // rounds into the next day
  // date <- timestamp
  EXPECT_EQ(As<std::uint32_t>(Convert(T::kTimestamp, Bytes::Of(noon_ms), T::kDate)),
            DayNumber(1999, 12, 31));
  EXPECT_EQ(As<std::uint32_t>(Convert(T::kTimestamp, Bytes::Of(almost_midnight), T::kDate)),
            DayNumber(2000, 1, 1));
  // int16 <- ...
  EXPECT_EQ(As<std::int16_t>(Convert(T::kInteger, Bytes::Of<std::int32_t>(0x12345), T::kSmallInt)),
            0x2345);
  EXPECT_EQ(As<std::int16_t>(Convert(T::kFloat, Bytes::Of(2.5), T::kSmallInt)), 3);
  EXPECT_EQ(As<std::int16_t>(Convert(T::kFloat, Bytes::Of(-2.5), T::kSmallInt)), -3);
  EXPECT_EQ(As<std::int16_t>(Convert(T::kFloat, Bytes::Of(1e9), T::kSmallInt)), 32767);
  EXPECT_EQ(As<std::int16_t>(Convert(T::kCurrency, Bytes::Of<std::int64_t>(15000), T::kSmallInt)),
            2);  // 1.5 rounds away from zero
  EXPECT_EQ(As<std::int16_t>(Convert(T::kWord, Bytes::Of<std::uint16_t>(0xFFFF), T::kSmallInt)), -1);
  // int32 <- ...
  EXPECT_EQ(As<std::int32_t>(Convert(T::kSmallInt, Bytes::Of<std::int16_t>(-5), T::kInteger)), -5);
  EXPECT_EQ(As<std::int32_t>(Convert(T::kWord, Bytes::Of<std::uint16_t>(0xFFFF), T::kInteger)),
            65535);
  EXPECT_EQ(As<std::int32_t>(Convert(T::kFloat, Bytes::Of(-7.49), T::kInteger)), -7);
  EXPECT_EQ(As<std::int32_t>(Convert(T::kFloat, Bytes::Of(std::nan("")), T::kInteger)), 0);
  EXPECT_EQ(As<std::int32_t>(Convert(T::kCurrency, Bytes::Of<std::int64_t>(-24999), T::kInteger)),
            -2);
  EXPECT_EQ(As<std::int32_t>(Convert(T::kCurrency, Bytes::Of<std::int64_t>(-25000), T::kInteger)),
            -3);
  // float <- ...
  EXPECT_EQ(As<double>(Convert(T::kInteger, Bytes::Of<std::int32_t>(-9), T::kFloat)), -9.0);
  EXPECT_EQ(As<double>(Convert(T::kWord, Bytes::Of<std::uint16_t>(65535), T::kFloat)), 65535.0);
  EXPECT_EQ(As<double>(Convert(T::kCurrency, Bytes::Of<std::int64_t>(10000), T::kFloat)), 1.0);
  EXPECT_EQ(As<double>(Convert(T::kCurrency, Bytes::Of<std::int64_t>(-12345), T::kFloat)), -1.2345);
  // currency <- ... keeps the 1/10000 scale
  EXPECT_EQ(As<std::int64_t>(Convert(T::kInteger, Bytes::Of<std::int32_t>(1), T::kCurrency)), 10000);
  EXPECT_EQ(As<std::int64_t>(Convert(T::kSmallInt, Bytes::Of<std::int16_t>(-3), T::kCurrency)),
            -30000);
  EXPECT_EQ(As<std::int64_t>(Convert(T::kFloat, Bytes::Of(1.0), T::kCurrency)), 10000);
  EXPECT_EQ(As<std::int64_t>(Convert(T::kFloat, Bytes::Of(2.71828), T::kCurrency)), 27183);
  EXPECT_EQ(As<std::int64_t>(Convert(T::kFloat, Bytes::Of(-1.23456), T::kCurrency)), -12346);
  // timestamp <- date
  EXPECT_EQ(As<double>(Convert(T::kDate, Bytes::Of<std::uint32_t>(3), T::kTimestamp)),
            3 * 86400000.0);
  // word <- ...
  EXPECT_EQ(As<std::uint16_t>(Convert(T::kSmallInt, Bytes::Of<std::int16_t>(-1), T::kWord)), 65535);
  EXPECT_EQ(As<std::uint16_t>(Convert(T::kInteger, Bytes::Of<std::int32_t>(65537), T::kWord)), 1);
  EXPECT_EQ(As<std::uint16_t>(Convert(T::kFloat, Bytes::Of(-4.0), T::kWord)), 0);
  EXPECT_EQ(As<std::uint16_t>(Convert(T::kCurrency, Bytes::Of<std::int64_t>(70000), T::kWord)), 7);
}

TEST(ExpressionConversions, CurrencyRoundTripsThroughFloatAndInteger) {
  for (double v : {1.0, -1.0, 0.5, 123.4567, -0.0001, 922337203.5}) {
    auto c = Convert(T::kFloat, Bytes::Of(v), T::kCurrency);
    Bytes cb;
    std::memcpy(cb.b.data(), c.data(), 8);
    EXPECT_DOUBLE_EQ(As<double>(Convert(T::kCurrency, cb, T::kFloat)), v);
  }
  for (std::int32_t v : {0, 1, -1, 2147483647, -2147483647 - 1}) {
    auto c = Convert(T::kInteger, Bytes::Of(v), T::kCurrency);
    Bytes cb;
    std::memcpy(cb.b.data(), c.data(), 8);
    EXPECT_EQ(As<std::int32_t>(Convert(T::kCurrency, cb, T::kInteger)), v);
  }
}

TEST(ExpressionConversions, PairsWithoutARuleWriteNothingAndEqualTypesCopy) {
  const std::array<std::uint8_t, 8> untouched = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(Convert(T::kDate, Bytes::Of<std::uint32_t>(5), T::kInteger), untouched);
  EXPECT_EQ(Convert(T::kInteger, Bytes::Of<std::int32_t>(5), T::kDate), untouched);
  EXPECT_EQ(Convert(T::kBoolean, Bytes::Of<std::uint16_t>(1), T::kInteger), untouched);
  EXPECT_EQ(Convert(T::kTime, Bytes::Of<std::uint32_t>(5), T::kTimestamp), untouched);
  // Equal types copy exactly the value's width.
  auto same = Convert(T::kCurrency, Bytes::Of<std::int64_t>(-7), T::kCurrency);
  EXPECT_EQ(As<std::int64_t>(same), -7);
  auto word = Convert(T::kWord, Bytes::Of<std::uint16_t>(0x1234), T::kWord);
  EXPECT_EQ(word[0], 0x34);
  EXPECT_EQ(word[2], 0xAA);

  // Strings copy up to the terminator, never past the destination.
  TExpressionNode s;
  s.type = T::kString;
  std::array<std::uint8_t, kNodeValueSize> src;
  src.fill(0xFF);  // no terminator at all
  std::array<std::uint8_t, 10> small;
  ConvertExpressionValue(s, src, s, small);
  EXPECT_EQ(small[9], 0);
  EXPECT_EQ(small[8], 0xFF);
  std::array<std::uint8_t, 300> big;
  big.fill(0xAA);
  ConvertExpressionValue(s, src, s, big);
  EXPECT_EQ(big[254], 0);  // cut to the 254-character value limit
  EXPECT_EQ(big[255], 0xAA);
}

TEST(ExpressionConversions, DateLiterals) {
  auto literal = [](const char* text) {
    std::array<std::uint8_t, kNodeValueSize> v{};
    std::memcpy(v.data(), text, std::strlen(text) + 1);
    return v;
  };
  auto v = literal("12/31/1999");
  ASSERT_TRUE(ConvertDateLiteral(v, T::kDate));
  EXPECT_EQ(LoadLittle<std::uint32_t>(v.data()), test::DayNumber(1999, 12, 31));
  EXPECT_EQ(LoadLittle<std::uint32_t>(v.data()), 730119u);  // 1999-12-31 counted from 0001-01-01

  for (const char* bad : {"02/30/1999", "31/12/1999", "", "hello", "13/01/2000"}) {
    auto b = literal(bad);
    const auto before = b;
    EXPECT_FALSE(ConvertDateLiteral(b, T::kDate)) << bad;
    EXPECT_EQ(b, before) << "a failed conversion must leave the value as it was";
  }

  auto t = literal("13:45:30");
  ASSERT_TRUE(ConvertDateLiteral(t, T::kTime));
  EXPECT_EQ(LoadLittle<std::uint32_t>(t.data()), (13u * 3600 + 45 * 60 + 30) * 1000);

  auto ts = literal("12/31/1999 13:45:30");
  ASSERT_TRUE(ConvertDateLiteral(ts, T::kTimestamp));
  EXPECT_EQ(LoadLittle<double>(ts.data()), test::StampMs(1999, 12, 31, (13 * 3600 + 45 * 60 + 30) * 1000));

  auto other = literal("whatever");
  const auto before = other;
  EXPECT_TRUE(ConvertDateLiteral(other, T::kInteger));
  EXPECT_EQ(other, before);

  // A value area without a terminator is read as its first 254 characters.
  std::array<std::uint8_t, kNodeValueSize> ff;
  ff.fill(0xFF);
  EXPECT_FALSE(ConvertDateLiteral(ff, T::kTimestamp));
}

}  // namespace
}  // namespace storage
