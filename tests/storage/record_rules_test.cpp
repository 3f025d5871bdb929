// The encodings the files and other programs rely on, case by case: key
// bytes of every key kind, default values and minimum/maximum checks.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "framework/sysutils.h"
#include "storage/index_file.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using datatest::Index;


class RecordRulesTest : public datatest::DataFileTestBase {
 protected:
  static std::string Hex(std::span<const std::uint8_t> b) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t x : b) {
      out += digits[x >> 4];
      out += digits[x & 15];
    }
    return out;
  }
};

// Three records (IDs 1, 2, 3; the third null in every key field) in one
// table with an index of each kind. Each index is walked: the records come
// in the order given and each stored key holds the bytes given (flag byte
// 1 for a value, 0 for null; big-endian values with the sign bit flipped,
// negative floats inverted; descending fields inverted, the last byte of a
// string slot excepted; the record ID appended to non-unique keys).
TEST_F(RecordRulesTest, KeysHoldTheDocumentedBytesInTheirOrder) {
  std::vector<TFieldDescriptor> f = {
      Field(1, "ID", FieldType::kInteger),    Field(2, "S", FieldType::kString, 4),
      Field(3, "D", FieldType::kDate),        Field(4, "T", FieldType::kTime),
      Field(5, "TS", FieldType::kTimestamp),  Field(6, "C", FieldType::kCurrency),
      Field(7, "W", FieldType::kWord),        Field(8, "SI", FieldType::kSmallInt),
      Field(9, "F", FieldType::kFloat),       Field(10, "B", FieldType::kBoolean)};
  DataTableDefinition def = Definition(f, {1});
  auto desc_field = Index("FDesc", {9}, true);
  desc_field.FieldDescending[0] = 1;
  auto desc_whole = Index("BDesc", {10});
  desc_whole.Descending = 1;
  auto ci = Index("SNoCase", {2});
  ci.CaseInsensitive = 1;
  auto compound = Index("SiS", {8, 2});
  compound.FieldDescending[1] = 1;
  def.secondary = {Index("S", {2}), ci, Index("D", {3}, true), Index("T", {4}, true),
                   Index("TS", {5}, true), Index("C", {6}, true), Index("W", {7}, true),
                   Index("SI", {8}, true), desc_field, desc_whole, compound};
  Create(Path("k.dat"), def);
  auto t = OpenTable(Path("k.dat"));
  {
    Rec r(*t);
    r.Num<std::int32_t>(1, 1).Str(2, std::string("ab")).Num<std::int32_t>(3, 738960);  // 2024-03-15
    r.Num<std::int32_t>(4, 45296789).Num<double>(5, 738960.0 * 86400000 + 45296789);  // 12:34:56.789
    r.Num<std::int64_t>(6, 123456).Num<std::uint16_t>(7, 513).Num<std::int16_t>(8, -2);
    r.Num<double>(9, 1.5).Num<std::uint16_t>(10, 1);
    t->InsertRecord(r.span());
  }
  {
    Rec r(*t);
    r.Num<std::int32_t>(1, 2).Str(2, std::string("aB")).Num<std::int32_t>(3, 1);  // 0001-01-01
    r.Num<std::int32_t>(4, 0).Num<double>(5, 86400000.0).Num<std::int64_t>(6, -1);
    r.Num<std::uint16_t>(7, 0).Num<std::int16_t>(8, 300).Num<double>(9, -1.5).Num<std::uint16_t>(10, 0);
    t->InsertRecord(r.span());
  }
  {
    Rec r(*t);
    r.Num<std::int32_t>(1, 3);
    t->InsertRecord(r.span());
  }
  struct KeyCase {
    const char* index;
    std::vector<std::int32_t> order;  // IDs as walked
    std::vector<std::string> keys;    // hex, in walk order
  };
  const KeyCase cases[] = {
      {"", {1, 2, 3}, {"0180000001", "0180000002", "0180000003"}},
      {"S", {3, 2, 1}, {"00000000000080000003", "01614200000080000002", "01616200000080000001"}},
      {"SNoCase", {3, 1, 2}, {"00000000000080000003", "01414200000080000001", "01414200000080000002"}},
      {"D", {3, 2, 1}, {"0080000000", "0180000001", "01800b4690"}},
      {"T", {3, 2, 1}, {"0080000000", "0180000000", "0182b32c95"}},
      {"TS", {3, 2, 1}, {"008000000000000000", "01c194997000000000", "01c2cd08acb7764a80"}},
      {"C", {3, 2, 1}, {"008000000000000000", "017fffffffffffffff", "01800000000001e240"}},
      {"W", {3, 2, 1}, {"000000", "010000", "010201"}},
      {"SI", {3, 1, 2}, {"008000", "017ffe", "01812c"}},
      {"FDesc", {1, 2, 3}, {"fe4007ffffffffffff", "febff8000000000000", "ff7fffffffffffffff"}},
      {"BDesc", {1, 2, 3}, {"01000180000001", "01000080000002", "00000080000003"}},
      {"SiS",
       {3, 1, 2},
       {"008000ffffffffff0080000003", "017ffefe9e9dffff0080000001", "01812cfe9ebdffff0080000002"}},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.index);
    t->SwitchToIndexByName(c.index);
    std::vector<std::int32_t> ids;
    std::vector<std::string> keys;
    EXPECT_EQ(t->MoveToBegin(), 0);
    for (Rec r(*t); t->ReadNextRecord(r.span()) == 0;) {
      ids.push_back(*r.GetNum<std::int32_t>(1));
      std::vector<std::uint8_t> key(t->GetBookmarkSize());
      t->GetBookmark(key);
      keys.push_back(Hex(key));
    }
    EXPECT_EQ(ids, c.order);
    EXPECT_EQ(keys, c.keys);
  }
  t->Close();
  const auto ic = datatest::RunTool("idxcheck.py", Path("k.IDX"));
  EXPECT_EQ(ic.status, 0) << ic.output;
}

// Default texts by type, as a new record buffer receives them. Today and
// now are read from the clock around the call.
TEST_F(RecordRulesTest, DefaultValuesByType) {
  struct DefaultCase {
    FieldType type;
    const char* text;
    std::uint8_t decimals;
    // The stored value, or (for the clock) the lowest and highest allowed.
    std::function<std::pair<double, double>()> expected;
  };
  const auto day = [] { return std::trunc(fw::Date()) + 693594.0; };
  const auto ms = [] {
    const double f = fw::Time();
    return std::round((f - std::trunc(f)) * 86400000.0);
  };
  const auto exact = [](double v) { return [v] { return std::make_pair(v, v); }; };
  const double d0 = day(), m0 = ms(), n0 = d0 * 86400000.0 + m0;
  const std::vector<DefaultCase> cases = {
      {FieldType::kDate, "DATE", 0, [&] { return std::make_pair(d0, day()); }},
      {FieldType::kDate, "date", 0, [&] { return std::make_pair(d0, day()); }},
      {FieldType::kDate, "3/15/2024", 0, exact(738960)},
      {FieldType::kTime, "TIME", 0, [&] { return std::make_pair(m0, ms()); }},
      {FieldType::kTime, "1:02:03 PM", 0, exact(46923000)},
      {FieldType::kTimestamp, "NOW", 0, [&] { return std::make_pair(n0, day() * 86400000.0 + ms()); }},
      {FieldType::kTimestamp, "DATE", 0,
       [&] { return std::make_pair(d0 * 86400000.0, day() * 86400000.0); }},
      {FieldType::kTimestamp, "TIME", 0,
       [&] { return std::make_pair(693594.0 * 86400000 + m0, 693594.0 * 86400000 + ms()); }},
      {FieldType::kTimestamp, "3/15/2024 1:02:03 PM", 0, exact(738960.0 * 86400000 + 46923000)},
      {FieldType::kCurrency, "12.3456", 2, exact(123500)},
      {FieldType::kCurrency, "-0.005", 2, exact(-100)},
      {FieldType::kCurrency, "7.25", 0, exact(70000)},
      {FieldType::kBoolean, "TRUE", 0, exact(1)},
      {FieldType::kBoolean, "false", 0, exact(0)},
      {FieldType::kSmallInt, "-12", 0, exact(-12)},
      {FieldType::kWord, "65535", 0, exact(65535)},
      {FieldType::kInteger, "-70000", 0, exact(-70000)},
      {FieldType::kFloat, "2.5", 0, exact(2.5)},
  };
  int k = 0;
  for (const DefaultCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " as type " + std::to_string(TypeCode(c.type)));
    std::vector<TFieldDescriptor> f = {Field(1, "ID", FieldType::kInteger), Field(2, "V", c.type),
                                       Field(3, "M", FieldType::kBlob)};
    f[1].DefaultValue.Assign(c.text);
    f[1].Decimals = c.decimals;
    const std::string name = Path("d" + std::to_string(k++) + ".dat");
    Create(name, Definition(f, {1}));
    auto t = OpenTable(name);
    Rec r(*t);  // ApplyDefaultValues
    const auto [lo, hi] = c.expected();
    double v = 0;
    switch (c.type) {
      case FieldType::kDate:
      case FieldType::kTime:
      case FieldType::kInteger: v = *r.GetNum<std::int32_t>(2); break;
      case FieldType::kTimestamp:
      case FieldType::kFloat: v = *r.GetNum<double>(2); break;
      case FieldType::kCurrency: v = static_cast<double>(*r.GetNum<std::int64_t>(2)); break;
      case FieldType::kSmallInt: v = *r.GetNum<std::int16_t>(2); break;
      default: v = *r.GetNum<std::uint16_t>(2); break;
    }
    EXPECT_GE(v, lo);
    EXPECT_LE(v, hi);
    EXPECT_FALSE(r.GetNum<std::uint32_t>(3).has_value());  // a BLOB takes no default
  }
}

// Minimum and maximum by type: below the minimum 9730, above the maximum
// 9731, both bounds themselves accepted; a blank value is compared as
// zero. Word limits compare unsigned, currency limits are rounded to the
// field's decimals first; booleans and bytes always pass.
TEST_F(RecordRulesTest, MinimumAndMaximumByType) {
  using Setter = std::function<void(Rec&)>;
  struct LimitCase {
    FieldType type;
    std::uint8_t size, decimals;
    const char* min;
    const char* max;
    std::vector<std::pair<Setter, int>> values;
  };
  auto i32 = [](std::optional<std::int32_t> v) -> Setter { return [v](Rec& r) { r.Num<std::int32_t>(2, v); }; };
  auto i16 = [](std::int16_t v) -> Setter { return [v](Rec& r) { r.Num<std::int16_t>(2, v); }; };
  auto u16 = [](std::uint16_t v) -> Setter { return [v](Rec& r) { r.Num<std::uint16_t>(2, v); }; };
  auto f64 = [](double v) -> Setter { return [v](Rec& r) { r.Num<double>(2, v); }; };
  auto i64 = [](std::int64_t v) -> Setter { return [v](Rec& r) { r.Num<std::int64_t>(2, v); }; };
  auto str = [](const char* v) -> Setter { return [v](Rec& r) { r.Str(2, std::string(v)); }; };
  const std::vector<LimitCase> cases = {
      {FieldType::kString, 5, 0, "b", "d", {{str("a"), 9730}, {str("b"), 0}, {str("d"), 0}, {str("dz"), 9731}}},
      {FieldType::kDate, 0, 0, "1/1/2000", "12/31/2000",
       {{i32(730119), 9730}, {i32(730120), 0}, {i32(730485), 0}, {i32(730486), 9731}}},
      {FieldType::kTime, 0, 0, "8:00:00 AM", "5:00:00 PM",
       {{i32(28799999), 9730}, {i32(28800000), 0}, {i32(61200000), 0}, {i32(61200001), 9731}}},
      {FieldType::kTimestamp, 0, 0, "1/1/2000 8:00:00 AM", "12/31/2000 5:00:00 PM",
       {{f64(63082396799999.0), 9730}, {f64(63082396800000.0), 0}, {f64(63113965200000.0), 0},
        {f64(63113965200001.0), 9731}}},
      {FieldType::kSmallInt, 0, 0, "-5", "5", {{i16(-6), 9730}, {i16(-5), 0}, {i16(5), 0}, {i16(6), 9731}}},
      {FieldType::kInteger, 0, 0, "1", "100000",
       {{i32(0), 9730}, {i32(std::nullopt), 9730}, {i32(1), 0}, {i32(100000), 0}, {i32(100001), 9731}}},
      {FieldType::kWord, 0, 0, "10", "60000", {{u16(9), 9730}, {u16(60000), 0}, {u16(65535), 9731}}},
      {FieldType::kFloat, 0, 0, "-1.5", "2.25",
       {{f64(-1.5000001), 9730}, {f64(-1.5), 0}, {f64(2.25), 0}, {f64(2.2500001), 9731}}},
      {FieldType::kCurrency, 0, 2, "1.005", "2",
       {{i64(10050), 9730}, {i64(10100), 0}, {i64(20000), 0}, {i64(20001), 9731}}},
      {FieldType::kBoolean, 0, 0, "TRUE", "TRUE", {{u16(0), 0}, {u16(1), 0}}},
  };
  int k = 0;
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(std::string("type ") + std::to_string(TypeCode(c.type)) + " " + c.min + ".." + c.max);
    std::vector<TFieldDescriptor> f = {Field(1, "ID", FieldType::kInteger), Field(2, "V", c.type, c.size)};
    f[1].MinValue.Assign(c.min);
    f[1].MaxValue.Assign(c.max);
    f[1].Decimals = c.decimals;
    const std::string name = Path("m" + std::to_string(k++) + ".dat");
    Create(name, Definition(f, {1}));
    auto t = OpenTable(name);
    std::int32_t id = 0;
    std::uint32_t accepted = 0;
    for (const auto& [set, code] : c.values) {
      Rec r(*t);
      r.Num<std::int32_t>(1, ++id);
      set(r);
      EXPECT_EQ(CodeOf([&] { t->InsertRecord(r.span()); }), code) << "value " << id;
      accepted += code == 0 ? 1 : 0;
    }
    EXPECT_EQ(t->RecordCount(), accepted);
  }
}

}  // namespace
}  // namespace storage::rectest
