// Field values in record buffers (the layout the data file stores) and
// their loading into expression nodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "storage/expression_node.h"
#include "storage/field_types.h"

namespace storage {
namespace {

using T = FieldType;

std::vector<std::byte> Bytes(std::initializer_list<int> v) {
  std::vector<std::byte> out;
  for (int b : v) out.push_back(static_cast<std::byte>(b));
  return out;
}

TEST(FieldTypes, PhysicalSizes) {
  struct Case {
    T type;
    int declared;
    int size;
  };
  const Case cases[] = {
      {T::kString, 10, 11},  {T::kString, 250, 251}, {T::kDate, 0, 4},    {T::kBlob, 0, 4},
      {T::kBoolean, 0, 2},   {T::kSmallInt, 0, 2},   {T::kInteger, 0, 4}, {T::kFloat, 0, 8},
      {T::kCurrency, 0, 8},  {T::kBytes, 17, 17},    {T::kTime, 0, 4},    {T::kTimestamp, 0, 8},
      {T::kWord, 0, 2},      {T::kLongWord, 0, 4},   {T::kExtended, 0, 10}, {T::kVarBytes, 9, 9},
      {T::kCursor, 0, 0},    {T::kDataSet, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PhysicalSize(c.type, c.declared), c.size) << int(TypeCode(c.type));
  }
  // An auto-increment field and a 10-character string: 9 + 12 bytes.
  EXPECT_EQ(kRecordPrefixSize + 1 + PhysicalSize(T::kString, 10), 21);
}

TEST(FieldTypes, RecordValuesSitAfterTheirFlagByte) {
  // Record: prefix(9) | i32 field at 9 | string[5] at 14 | bool at 21 | date at 24
  std::vector<std::byte> rec(29, std::byte{0xEE});
  const FieldSlot i32{9, T::kInteger, FieldSubtype::kNone, 4};
  const FieldSlot str{14, T::kString, FieldSubtype::kNone, 6};
  const FieldSlot boolean{21, T::kBoolean, FieldSubtype::kNone, 2};
  const FieldSlot date{24, T::kDate, FieldSubtype::kNone, 4};

  PutFieldValue<std::int32_t>(rec, i32, -2);
  EXPECT_EQ(std::vector<std::byte>(rec.begin() + 9, rec.begin() + 14),
            Bytes({1, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(GetFieldValue<std::int32_t>(rec, i32), -2);

  PutFieldString(rec, str, "ab   ");  // trailing blanks go
  EXPECT_EQ(std::vector<std::byte>(rec.begin() + 14, rec.begin() + 21),
            Bytes({1, 'a', 'b', 0, 0, 0, 0}));
  EXPECT_EQ(GetFieldString(rec, str), "ab");
  PutFieldString(rec, str, "abcdefgh");  // cut to 5 characters
  EXPECT_EQ(GetFieldString(rec, str), "abcde");
  EXPECT_EQ(rec[20], std::byte{0});  // the terminator stays inside the field
  PutFieldString(rec, str, "   ");   // an empty string is stored as null
  EXPECT_FALSE(FieldHasValue(rec, str));
  EXPECT_EQ(std::vector<std::byte>(rec.begin() + 14, rec.begin() + 21), Bytes({0, 0, 0, 0, 0, 0, 0}));

  PutFieldBoolean(rec, boolean, true);
  EXPECT_EQ(std::vector<std::byte>(rec.begin() + 21, rec.begin() + 24), Bytes({1, 1, 0}));

  ClearField(rec, date);
  EXPECT_FALSE(FieldHasValue(rec, date));
  EXPECT_EQ(rec[0], std::byte{0xEE});  // nothing outside the slots was touched
  EXPECT_EQ(rec[8], std::byte{0xEE});

  // A string field without a terminator reads no further than its size.
  std::fill(rec.begin() + 15, rec.begin() + 21, std::byte{'z'});
  rec[14] = std::byte{1};
  EXPECT_EQ(GetFieldString(rec, str), "zzzzzz");
}

TEST(FieldTypes, AutoIncrementIsTheRecordId) {
  std::vector<std::byte> rec(9, std::byte{0});
  StoreLittle<std::uint32_t>(rec.data() + kRecordIdOffset, 77);
  const FieldSlot autoinc{kRecordIdOffset, T::kInteger, FieldSubtype::kAutoIncrement, 4};
  EXPECT_TRUE(FieldHasValue(rec, autoinc));
  EXPECT_EQ(GetFieldValue<std::int32_t>(rec, autoinc), 77);
  ClearField(rec, autoinc);
  PutFieldValue<std::int32_t>(rec, autoinc, 5);
  EXPECT_EQ(GetFieldValue<std::int32_t>(rec, autoinc), 77);
}

TEST(FieldTypes, ExtendedFloatBytes) {
  struct Case {
    double v;
    std::array<std::uint8_t, 10> bytes;
  };
  const Case cases[] = {
      {1.0, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {-2.0, {0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}},
      {0.5, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFE, 0x3F}},
      {0.0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {3.0, {0, 0, 0, 0, 0, 0, 0, 0xC0, 0x00, 0x40}},
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, 10> out{};
    DoubleToExtended(c.v, out.data());
    EXPECT_EQ(out, c.bytes) << c.v;
    EXPECT_EQ(ExtendedToDouble(c.bytes.data()), c.v);
  }
  for (double v : {1e300, -1e-300, 123.456, std::numeric_limits<double>::denorm_min(),
                   std::numeric_limits<double>::infinity()}) {
    std::array<std::uint8_t, 10> out{};
    DoubleToExtended(v, out.data());
    EXPECT_EQ(ExtendedToDouble(out.data()), v);
  }
  std::array<std::uint8_t, 10> nan{};
  DoubleToExtended(std::nan(""), nan.data());
  EXPECT_TRUE(std::isnan(ExtendedToDouble(nan.data())));
  // Beyond the double range: infinity, never undefined behaviour.
  const std::array<std::uint8_t, 10> huge = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFE, 0x7F};
  EXPECT_TRUE(std::isinf(ExtendedToDouble(huge.data())));
}

TEST(FieldTypes, LoadRecordValueGivesTheNodeEncoding) {
  std::vector<std::byte> rec(40, std::byte{0});
  const FieldSlot boolean{9, T::kBoolean, FieldSubtype::kNone, 2};
  const FieldSlot money{12, T::kFloat, FieldSubtype::kMoney, 8};
  const FieldSlot str{21, T::kString, FieldSubtype::kNone, 6};
  PutFieldBoolean(rec, boolean, true);
  PutFieldValue<double>(rec, money, 2.5);
  TExpressionNode n;
  LoadRecordValue(rec, boolean, n);
  EXPECT_EQ(n.type, T::kBoolean);
  EXPECT_EQ(n.null, 0);
  EXPECT_EQ(NodeValue<std::uint16_t>(n), 0xFFFF);  // records keep 1, nodes 0xFFFF
  LoadRecordValue(rec, money, n);
  EXPECT_EQ(n.subtype, 21);
  EXPECT_EQ(NodeValue<double>(n), 2.5);
  LoadRecordValue(rec, str, n);
  EXPECT_EQ(n.null, 1);
  EXPECT_EQ(n.size, 6);
  EXPECT_EQ(NodeString(n), "");
}

TEST(FieldTypes, StoreRecordValueIsTheReverseOfLoading) {
  std::vector<std::byte> rec(40, std::byte{0x5A});
  const FieldSlot boolean{9, T::kBoolean, FieldSubtype::kNone, 2};
  const FieldSlot str{12, T::kString, FieldSubtype::kNone, 6};
  const FieldSlot i16{19, T::kSmallInt, FieldSubtype::kNone, 2};
  TExpressionNode n;
  n.type = T::kBoolean;
  SetNodeBoolean(n, true);
  StoreRecordValue(n, rec, boolean);
  EXPECT_EQ(std::vector<std::byte>(rec.begin() + 9, rec.begin() + 12), Bytes({1, 1, 0}));
  n.type = T::kString;
  SetNodeString(n, "abcdefgh  ");
  StoreRecordValue(n, rec, str);
  EXPECT_EQ(GetFieldString(rec, str), "abcde");
  EXPECT_EQ(rec[18], std::byte{0});
  SetNodeString(n, "  ");
  StoreRecordValue(n, rec, str);
  EXPECT_FALSE(FieldHasValue(rec, str));
  n.type = T::kSmallInt;
  SetNodeValue<std::int16_t>(n, -3);
  StoreRecordValue(n, rec, i16);
  EXPECT_EQ(GetFieldValue<std::int16_t>(rec, i16), -3);
  TExpressionNode back;
  LoadRecordValue(rec, i16, back);
  EXPECT_EQ(NodeValue<std::int16_t>(back), -3);
  n.null = 1;
  StoreRecordValue(n, rec, i16);
  EXPECT_FALSE(FieldHasValue(rec, i16));
  EXPECT_EQ(rec[22], std::byte{0x5A});  // nothing past the slot
}

}  // namespace
}  // namespace storage
