// ConvertFieldValue between the stored forms of the field types, and the
// field comparison that decides whether a restructure copies records.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "framework/sysutils.h"
#include "storage/table_restructure.h"
#include "tests/storage/data_file_test_support.h"

namespace storage {
namespace {

TFieldDescriptor F(FieldType type, std::uint8_t size = 0, std::uint8_t decimals = 0) {
  TFieldDescriptor f = datatest::Field(1, "F", type, size);
  f.Decimals = decimals;
  f.PhysicalSize = static_cast<std::uint8_t>(PhysicalSize(type, size));
  return f;
}

using Value = std::array<std::uint8_t, 256>;

template <class T>
Value Of(T x) {
  Value v{};
  std::memcpy(v.data(), &x, sizeof(T));
  return v;
}
Value Text(const std::string& s) {
  Value v{};
  std::memcpy(v.data(), s.data(), s.size());
  return v;
}
template <class T>
T As(const Value& v) {
  T x;
  std::memcpy(&x, v.data(), sizeof(T));
  return x;
}
std::string AsText(const Value& v) { return std::string(reinterpret_cast<const char*>(v.data())); }

struct Converted {
  bool ok;
  bool lossy;
  Value value;
};
Converted Convert(const TFieldDescriptor& s, const TFieldDescriptor& t, Value v) {
  bool lossy = false;
  const bool ok = ConvertFieldValue(s, t, v, &lossy);
  return {ok, lossy, v};
}

const std::int32_t kDay2024_02_29 =
    fw::DateTimeToTimeStamp(fw::EncodeDate(2024, 2, 29)).Date;  // day number, 0001-01-01 = 1

TEST(RestructureConvert, TextConversions) {
  struct Case {
    FieldType from;
    Value value;
    FieldType to;
    std::uint8_t size;
    std::string text;  // expected text of a string target
    bool lossy;
  };
  const Case cases[] = {
      {FieldType::kInteger, Of<std::int32_t>(-1234), FieldType::kString, 10, "-1234", false},
      {FieldType::kInteger, Of<std::int32_t>(-1234), FieldType::kString, 3, "-12", true},
      {FieldType::kSmallInt, Of<std::int16_t>(77), FieldType::kString, 5, "77", false},
      {FieldType::kWord, Of<std::uint16_t>(65535), FieldType::kString, 5, "65535", false},
      {FieldType::kBoolean, Of<std::uint16_t>(1), FieldType::kString, 5, "True", false},
      {FieldType::kBoolean, Of<std::uint16_t>(0), FieldType::kString, 5, "False", false},
      {FieldType::kFloat, Of<double>(2.5), FieldType::kString, 10, "2.5", false},
      {FieldType::kCurrency, Of<std::int64_t>(12345000), FieldType::kString, 10, "1234.5", false},
      {FieldType::kDate, Of<std::int32_t>(kDay2024_02_29), FieldType::kString, 12, "2/29/2024", false},
      {FieldType::kTime, Of<std::int32_t>(13 * 3600000 + 5 * 60000 + 7000), FieldType::kString, 12,
       "1:05:07 PM", false},
      {FieldType::kTimestamp,
       Of<double>(kDay2024_02_29 * 86400000.0 + 9 * 3600000.0), FieldType::kString, 25,
       "2/29/2024 9:00:00 AM", false},
      // Same type: cut to the new width, a loss when non-blank text goes.
      {FieldType::kString, Text("abcdefgh"), FieldType::kString, 4, "abcd", true},
      {FieldType::kString, Text("abcd    "), FieldType::kString, 4, "abcd", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TFieldDescriptor s = F(c.from, c.from == FieldType::kString ? 20 : 0);
    const Converted r = Convert(s, F(FieldType::kString, c.size), c.value);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(AsText(r.value), c.text);
    EXPECT_EQ(r.lossy, c.lossy);
  }
}

// Into numbers, dates and bytes: the target's bytes and whether the
// conversion lost something. Text that is no number or date gives zero
// bytes, counted as converted and reported lossy.
TEST(RestructureConvert, IntoNumbersDatesAndBytes) {
  const TFieldDescriptor text = F(FieldType::kString, 30);
  const double ts = kDay2024_02_29 * 86400000.0 + 3723004;
  const struct {
    TFieldDescriptor from;
    Value in;
    TFieldDescriptor to;
    Value want;
    bool lossy;
  } cases[] = {
      {text, Text("-42"), F(FieldType::kInteger), Of<std::int32_t>(-42), false},
      {text, Text("abc"), F(FieldType::kInteger), Of<std::int32_t>(0), true},
      {text, Text("70000"), F(FieldType::kSmallInt), Of<std::int16_t>(static_cast<std::int16_t>(70000 & 0xFFFF)), true},
      {text, Text("1.25"), F(FieldType::kFloat), Of<double>(1.25), false},
      {text, Text("3.14159"), F(FieldType::kCurrency, 0, 2), Of<std::int64_t>(31400), false},  // two decimals
      {text, Text("true"), F(FieldType::kBoolean), Of<std::uint16_t>(1), false},
      {text, Text("2/29/2024"), F(FieldType::kDate), Of<std::int32_t>(kDay2024_02_29), false},
      {text, Text("2/30/2024"), F(FieldType::kDate), Of<std::int32_t>(0), true},
      {text, Text("1:05:07 PM"), F(FieldType::kTime), Of<std::int32_t>(13 * 3600000 + 5 * 60000 + 7000), false},
      {text, Text("2/29/2024 9:00:00 AM"), F(FieldType::kTimestamp),
       Of<double>(kDay2024_02_29 * 86400000.0 + 9 * 3600000.0), false},
      {text, Text("xyz!"), F(FieldType::kBytes, 3), Text("xyz"), true},
      {F(FieldType::kInteger), Of<std::int32_t>(-5), F(FieldType::kSmallInt), Of<std::int16_t>(-5), false},
      {F(FieldType::kInteger), Of<std::int32_t>(65536 + 7), F(FieldType::kWord), Of<std::uint16_t>(7), true},
      {F(FieldType::kInteger), Of<std::int32_t>(3), F(FieldType::kCurrency, 0, 4), Of<std::int64_t>(30000), false},
      {F(FieldType::kSmallInt), Of<std::int16_t>(9), F(FieldType::kBoolean),
       Of<std::uint16_t>(9), false},  // stored as 1
      {F(FieldType::kFloat), Of<double>(2.6), F(FieldType::kInteger), Of<std::int32_t>(3), false},
      {F(FieldType::kFloat), Of<double>(1e300), F(FieldType::kInteger), Of<std::int32_t>(0), true},  // out of range
      {F(FieldType::kCurrency), Of<std::int64_t>(15000), F(FieldType::kFloat), Of<double>(1.5), false},
      {F(FieldType::kCurrency), Of<std::int64_t>(27000), F(FieldType::kInteger), Of<std::int32_t>(3), false},
      {F(FieldType::kBoolean), Of<std::uint16_t>(1), F(FieldType::kCurrency),
       Of<std::int64_t>(1), false},  // raw 0.0001
      {F(FieldType::kBoolean), Of<std::uint16_t>(1), F(FieldType::kInteger), Of<std::int32_t>(1), false},
      {F(FieldType::kDate), Of<std::int32_t>(kDay2024_02_29), F(FieldType::kTimestamp),
       Of<double>(kDay2024_02_29 * 86400000.0), false},
      {F(FieldType::kTime), Of<std::int32_t>(1000), F(FieldType::kTimestamp),
       Of<double>(693594.0 * 86400000.0 + 1000), false},
      {F(FieldType::kTimestamp), Of<double>(ts), F(FieldType::kDate), Of<std::int32_t>(kDay2024_02_29), false},
      {F(FieldType::kTimestamp), Of<double>(ts), F(FieldType::kTime), Of<std::int32_t>(3723004), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(reinterpret_cast<const char*>(c.in.data())) + " -> type " +
                 std::to_string(static_cast<int>(c.to.Type())));
    const Converted r = Convert(c.from, c.to, c.in);
    EXPECT_TRUE(r.ok);
    const std::size_t width = std::min<std::size_t>(c.to.PhysicalSize, 8);
    EXPECT_TRUE(std::equal(r.value.begin(), r.value.begin() + static_cast<std::ptrdiff_t>(width), c.want.begin()));
    EXPECT_EQ(r.lossy, c.lossy);
  }
}

TEST(RestructureConvert, PairsWithoutConversion) {
  const std::pair<FieldType, FieldType> none[] = {
      {FieldType::kInteger, FieldType::kBoolean}, {FieldType::kInteger, FieldType::kDate},
      {FieldType::kFloat, FieldType::kBoolean},   {FieldType::kDate, FieldType::kTime},
      {FieldType::kDate, FieldType::kInteger},    {FieldType::kTime, FieldType::kDate},
      {FieldType::kBoolean, FieldType::kFloat},   {FieldType::kString, FieldType::kBlob},
      {FieldType::kTimestamp, FieldType::kFloat}, {FieldType::kCurrency, FieldType::kBoolean},
      // Nothing but a BLOB is a chain offset.
      {FieldType::kBytes, FieldType::kBlob},      {FieldType::kVarBytes, FieldType::kBlob},
      {FieldType::kLongWord, FieldType::kBlob},   {FieldType::kExtended, FieldType::kBlob},
      {FieldType::kInteger, FieldType::kBlob},
  };
  for (auto [from, to] : none) {
    SCOPED_TRACE(static_cast<int>(from) * 100 + static_cast<int>(to));
    Value v = Of<std::int32_t>(5);
    bool lossy = true;
    EXPECT_FALSE(ConvertFieldValue(F(from, from == FieldType::kString ? 5 : 0), F(to), v, &lossy));
    EXPECT_FALSE(lossy);
  }
  // Bytes and the other types copy raw into anything; the cut is a loss
  // only when it drops non-zero bytes.
  Value v{};
  v[0] = 1;
  v[1] = 2;
  v[5] = 9;
  auto r = Convert(F(FieldType::kBytes, 6), F(FieldType::kInteger), v);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.lossy);
  EXPECT_EQ(As<std::int32_t>(r.value), 0x0201);
  EXPECT_EQ(r.value[5], 0);
}

TEST(RestructureConvert, FieldComparisonIgnoresNamesAndLetterCase) {
  TFieldDescriptor a = F(FieldType::kString, 10);
  TFieldDescriptor b = a;
  b.Name.Assign("Other");
  b.SecondText.Assign("description");
  a.DefaultValue.Assign("abc");
  b.DefaultValue.Assign("ABC");
  EXPECT_TRUE(SameFieldDefinition(a, b));
  b.Required = 1;  // a new check needs a copy
  EXPECT_FALSE(SameFieldDefinition(a, b));
  b = a;
  b.MaxValue.Assign("z");
  EXPECT_FALSE(SameFieldDefinition(a, b));
  b = a;
  b.FieldNumber = 2;
  EXPECT_FALSE(SameFieldDefinition(a, b));
}

}  // namespace
}  // namespace storage
