// Value conversions of expression nodes, and field values in record
// buffers (the layout the data file stores) as nodes load and store them.
// The type rules themselves are exercised through the checker's sizes and
// messages and the SQLite differential.
#include "storage/expression_types.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "expression_test_support.h"

namespace storage {
namespace {

using T = FieldType;
using Op = ExprOperator;
// ---------------------------------------------------------------- conversions

// Converts the value (its bits in the low bytes) from one type to another
// into a destination pre-filled with 0xAA, so that "nothing written" shows.
std::uint64_t Convert(T from, std::uint64_t bits, T to) {
  TExpressionNode src, dst;
  src.type = from;
  src.size = static_cast<std::uint8_t>(NodeValueWidth(from));
  dst.type = to;
  std::array<std::uint8_t, 8> in{}, out;
  StoreLittle<std::uint64_t>(in.data(), bits);
  out.fill(0xAA);
  ConvertExpressionValue(src, in, dst, out);
  return LoadLittle<std::uint64_t>(out.data());
}
std::uint64_t D(double d) { return std::bit_cast<std::uint64_t>(d); }
// v in the low `bytes` bytes, the rest of the destination untouched.
std::uint64_t W(std::int64_t v, int bytes) {
  const std::uint64_t mask = bytes == 8 ? ~0ull : (1ull << (8 * bytes)) - 1;
  return (static_cast<std::uint64_t>(v) & mask) | (0xAAAAAAAAAAAAAAAAull & ~mask);
}
constexpr std::uint64_t kUntouched = 0xAAAAAAAAAAAAAAAAull;

TEST(ExpressionConversions, RulesOfTheConversionTable) {
  const double day = test::DayNumber(1999, 12, 31) * 86400000.0;
  struct Case {
    T from;
    std::uint64_t in;
    T to;
    std::uint64_t want;
  } cases[] = {
      {T::kTimestamp, D(day + 43200000.0), T::kDate, W(test::DayNumber(1999, 12, 31), 4)},
      {T::kTimestamp, D(day + 86399999.6), T::kDate, W(test::DayNumber(2000, 1, 1), 4)},  // rounds up
      {T::kInteger, 0x12345, T::kSmallInt, W(0x2345, 2)},
      {T::kFloat, D(2.5), T::kSmallInt, W(3, 2)},
      {T::kFloat, D(-2.5), T::kSmallInt, W(-3, 2)},
      {T::kFloat, D(1e9), T::kSmallInt, W(32767, 2)},
      {T::kCurrency, 15000, T::kSmallInt, W(2, 2)},  // 1.5 rounds away from zero
      {T::kWord, 0xFFFF, T::kSmallInt, W(-1, 2)},
      {T::kSmallInt, 0xFFFB, T::kInteger, W(-5, 4)},
      {T::kWord, 0xFFFF, T::kInteger, W(65535, 4)},
      {T::kFloat, D(-7.49), T::kInteger, W(-7, 4)},
      {T::kFloat, D(std::nan("")), T::kInteger, W(0, 4)},
      {T::kCurrency, static_cast<std::uint64_t>(-24999), T::kInteger, W(-2, 4)},
      {T::kCurrency, static_cast<std::uint64_t>(-25000), T::kInteger, W(-3, 4)},
      {T::kInteger, 0xFFFFFFF7, T::kFloat, D(-9.0)},
      {T::kWord, 65535, T::kFloat, D(65535.0)},
      {T::kCurrency, static_cast<std::uint64_t>(-12345), T::kFloat, D(-1.2345)},
      {T::kInteger, 1, T::kCurrency, 10000},
      {T::kSmallInt, 0xFFFD, T::kCurrency, static_cast<std::uint64_t>(-30000)},
      {T::kFloat, D(2.71828), T::kCurrency, 27183},
      {T::kFloat, D(-1.23456), T::kCurrency, static_cast<std::uint64_t>(-12346)},
      {T::kDate, 3, T::kTimestamp, D(3 * 86400000.0)},
      {T::kSmallInt, 0xFFFF, T::kWord, W(65535, 2)},
      {T::kInteger, 65537, T::kWord, W(1, 2)},
      {T::kFloat, D(-4.0), T::kWord, W(0, 2)},
      {T::kCurrency, 70000, T::kWord, W(7, 2)},
      // Equal types copy exactly the value's width; pairs without a rule
      // write nothing.
      {T::kCurrency, static_cast<std::uint64_t>(-7), T::kCurrency, static_cast<std::uint64_t>(-7)},
      {T::kWord, 0x1234, T::kWord, W(0x1234, 2)},
      {T::kDate, 5, T::kInteger, kUntouched},
      {T::kInteger, 5, T::kDate, kUntouched},
      {T::kBoolean, 1, T::kInteger, kUntouched},
      {T::kTime, 5, T::kTimestamp, kUntouched},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert(c.from, c.in, c.to), c.want)
        << static_cast<int>(c.from) << " -> " << static_cast<int>(c.to) << " of " << std::hex << c.in;
  }
  for (double v : {1.0, -1.0, 0.5, 123.4567, -0.0001, 922337203.5}) {
    const std::uint64_t currency = Convert(T::kFloat, D(v), T::kCurrency);
    EXPECT_DOUBLE_EQ(std::bit_cast<double>(Convert(T::kCurrency, currency, T::kFloat)), v);
  }

  // Strings copy up to the terminator, never past the destination.
  TExpressionNode s;
  s.type = T::kString;
  std::array<std::uint8_t, kNodeValueSize> src;
  src.fill(0xFF);  // no terminator at all
  std::array<std::uint8_t, 10> small;
  ConvertExpressionValue(s, src, s, small);
  EXPECT_EQ(small[9], 0);
  std::array<std::uint8_t, 300> big;
  big.fill(0xAA);
  ConvertExpressionValue(s, src, s, big);
  EXPECT_EQ(big[254], 0);  // cut to the 254-character value limit
  EXPECT_EQ(big[255], 0xAA);
}

TEST(ExpressionConversions, DateLiterals) {
  auto literal = [](const std::string& text) {
    std::array<std::uint8_t, kNodeValueSize> v{};
    std::memcpy(v.data(), text.c_str(), text.size() + 1);
    return v;
  };
  auto v = literal("12/31/1999");
  ASSERT_TRUE(ConvertDateLiteral(v, T::kDate));
  EXPECT_EQ(LoadLittle<std::uint32_t>(v.data()), 730119u);  // 1999-12-31 counted from 0001-01-01
  for (const char* bad : {"02/30/1999", "31/12/1999", "", "hello", "13/01/2000"}) {
    auto b = literal(bad);
    const auto before = b;
    EXPECT_FALSE(ConvertDateLiteral(b, T::kDate)) << bad;
    EXPECT_EQ(b, before) << "a failed conversion leaves the value as it was";
  }
  auto t = literal("13:45:30");
  ASSERT_TRUE(ConvertDateLiteral(t, T::kTime));
  EXPECT_EQ(LoadLittle<std::uint32_t>(t.data()), (13u * 3600 + 45 * 60 + 30) * 1000);
  auto ts = literal("12/31/1999 13:45:30");
  ASSERT_TRUE(ConvertDateLiteral(ts, T::kTimestamp));
  EXPECT_EQ(LoadLittle<double>(ts.data()), test::StampMs(1999, 12, 31, (13 * 3600 + 45 * 60 + 30) * 1000));
  std::array<std::uint8_t, kNodeValueSize> ff;
  ff.fill(0xFF);  // no terminator: read as its first 254 characters
  EXPECT_FALSE(ConvertDateLiteral(ff, T::kTimestamp));
}

// ---------------------------------------------------------------- record values

std::vector<std::byte> Bytes(std::initializer_list<int> v) {
  std::vector<std::byte> out;
  for (int b : v) out.push_back(static_cast<std::byte>(b));
  return out;
}

TEST(RecordValues, ValuesSitAfterTheirFlagByte) {
  // prefix(9) | i32 at 9 | string[5] at 14 | bool at 21 | small int at 24
  std::vector<std::byte> rec(29, std::byte{0xEE});
  const FieldSlot i32{9, T::kInteger, FieldSubtype::kNone, 4};
  const FieldSlot str{14, T::kString, FieldSubtype::kNone, 6};
  const FieldSlot boolean{21, T::kBoolean, FieldSubtype::kNone, 2};
  const FieldSlot i16{24, T::kSmallInt, FieldSubtype::kNone, 2};
  auto at = [&](int from, int to) { return std::vector<std::byte>(rec.begin() + from, rec.begin() + to); };
  PutFieldValue<std::int32_t>(rec, i32, -2);
  EXPECT_EQ(at(9, 14), Bytes({1, 0xFE, 0xFF, 0xFF, 0xFF}));
  PutFieldString(rec, str, "ab   ");  // trailing blanks go
  EXPECT_EQ(at(14, 21), Bytes({1, 'a', 'b', 0, 0, 0, 0}));
  PutFieldString(rec, str, "abcdefgh");  // cut to 5 characters, terminator inside
  EXPECT_EQ(at(14, 21), Bytes({1, 'a', 'b', 'c', 'd', 'e', 0}));
  PutFieldString(rec, str, "   ");  // an empty string is stored as null
  EXPECT_EQ(at(14, 21), Bytes({0, 0, 0, 0, 0, 0, 0}));
  PutFieldBoolean(rec, boolean, true);
  EXPECT_EQ(at(21, 24), Bytes({1, 1, 0}));
  std::fill(rec.begin() + 15, rec.begin() + 21, std::byte{'z'});
  rec[14] = std::byte{1};
  EXPECT_EQ(GetFieldString(rec, str), "zzzzzz");  // no terminator: no further than the size

  // Loading gives the node encoding: records keep true as 1, nodes 0xFFFF.
  TExpressionNode n;
  LoadRecordValue(rec, boolean, n);
  EXPECT_EQ(NodeValue<std::uint16_t>(n), 0xFFFF);
  const FieldSlot money{9, T::kFloat, FieldSubtype::kMoney, 8};
  std::vector<std::byte> m(20);
  PutFieldValue<double>(m, money, 2.5);
  LoadRecordValue(m, money, n);
  EXPECT_EQ(n.subtype, 21);
  EXPECT_EQ(NodeValue<double>(n), 2.5);
  // Storing is the reverse; a null node clears the field; nothing past the slot.
  n.type = T::kString;
  SetNodeString(n, "abcdefgh  ");
  StoreRecordValue(n, rec, str);
  EXPECT_EQ(at(14, 21), Bytes({1, 'a', 'b', 'c', 'd', 'e', 0}));
  n.type = T::kSmallInt;
  SetNodeValue<std::int16_t>(n, -3);
  StoreRecordValue(n, rec, i16);
  EXPECT_EQ(at(24, 29), Bytes({1, 0xFD, 0xFF, 0xEE, 0xEE}));
  n.null = 1;
  StoreRecordValue(n, rec, i16);
  EXPECT_FALSE(FieldHasValue(rec, i16));
  EXPECT_EQ(rec[0], std::byte{0xEE});

  // An auto-increment field is the record ID: it cannot be written.
  std::vector<std::byte> id(9);
  StoreLittle<std::uint32_t>(reinterpret_cast<std::uint8_t*>(id.data()) + kRecordIdOffset, 77);
  const FieldSlot autoinc{kRecordIdOffset, T::kInteger, FieldSubtype::kAutoIncrement, 4};
  PutFieldValue<std::int32_t>(id, autoinc, 5);
  EXPECT_EQ(GetFieldValue<std::int32_t>(id, autoinc), 77);
}

}  // namespace
}  // namespace storage
