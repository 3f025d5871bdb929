// Value texts and the rounding of stored defaults and limits.
#include "storage/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "framework/exceptions.h"
#include "storage/data_file.h"
#include "tests/common/error_text.h"

namespace storage {
namespace {

TEST(ValueText, Booleans) {
  EXPECT_TRUE(TextToBool("tRuE"));
  EXPECT_FALSE(TextToBool("False"));
  EXPECT_EQ(BoolToText(true), "True");
  for (const char* bad : {"yes", "", "1", " TRUE", "TRUEX"}) {
    EXPECT_EQ(testsupport::ErrorText<fw::EConvertError>([&] { TextToBool(bad); }),
              "'" + std::string(bad) + "' is not a valid boolean value");
  }
}

// The text checks, directly and through the value texts a field type takes
// (defaults and limits of a definition).
TEST(ValueText, TextChecks) {
  const struct {
    bool (*check)(std::string_view);
    const char* text;
    bool ok;
  } cases[] = {
      {IsWordText, "65535", true},          {IsWordText, "65536", false},
      {IsWordText, "-1", false},            {IsWordText, "", false},
      {IsSmallIntText, "-32768", true},     {IsSmallIntText, "-32769", false},
      {IsIntegerText, "-2147483648", true}, {IsIntegerText, "2147483648", false},
      {IsIntegerText, "1.5", false},        {IsBooleanText, "FALSE", true},
      {IsBooleanText, "1", false},          {IsFloatText, "-2e10", true},
      {IsFloatText, "1.5.2", false},        {IsCurrencyText, "12.34x", false},
      {IsDateText, "12/31/1999", true},     {IsDateText, "02/30/1999", false},
      {IsTimeText, "10:30", true},          {IsTimeText, "25:61", false},
      {IsDateTimeText, "12/31/1999 10:30", true}, {IsDateTimeText, "12/32/1999", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.check(c.text), c.ok) << c.text;
  const struct {
    const char* text;
    FieldType type;
    bool valid;
  } typed[] = {
      {"", FieldType::kInteger, true},       {"anything", FieldType::kBytes, true},
      {"70000", FieldType::kSmallInt, false}, {"date", FieldType::kDate, true},
      {"NOW", FieldType::kDate, false},       {"time", FieldType::kTime, true},
      {"Now", FieldType::kTimestamp, true},   {"zzz", FieldType::kTimestamp, false},
  };
  for (const auto& c : typed) EXPECT_EQ(TDataFile::IsValidValueText(c.text, TypeCode(c.type)), c.valid) << c.text;
}

TEST(ValueTextRounding, RoundCurrencyTableAndModel) {
  const Currency max = std::numeric_limits<std::int64_t>::max();
  const Currency min = std::numeric_limits<std::int64_t>::min();
  const struct {
    Currency c;
    int n;
    Currency want;
  } cases[] = {
      {25000, 0, 30000}, {-25000, 0, -30000}, {-14999, 0, -10000}, {12350, 2, 12400},
      {5, 3, 10},        {-5, 3, -10},        {12345, 9, 12345},   {12345, -2, 10000},
      // The nearest whole unit is past the 64-bit range: toward zero instead.
      {max, 0, 9223372036854770000}, {min, 0, -9223372036854770000},
      {max - 8, 3, 9223372036854775800}, {min, 2, -9223372036854775800},
  };
  for (const auto& c : cases) EXPECT_EQ(RoundCurrency(c.c, c.n), c.want) << c.c << " " << c.n;
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    const Currency c = static_cast<Currency>(rng() % 2000001) - 1000000;
    for (int n = 0; n <= 4; ++n) {
      std::int64_t unit = 1;
      for (int k = n; k < 4; ++k) unit *= 10;
      const std::int64_t mag = c < 0 ? -c : c;
      const std::int64_t q = mag / unit + (2 * (mag % unit) >= unit ? 1 : 0);
      ASSERT_EQ(RoundCurrency(c, n), (c < 0 ? -q : q) * unit) << c << " " << n;
    }
  }
  EXPECT_EQ(FormatCurrencyDigits(12345, 2), 12300);
}

// Halves go away from zero; the result is the double nearest to the
// decimal with n decimals.
TEST(ValueTextRounding, FormatFloatDigits) {
  const struct {
    double x;
    int n;
    double want;
  } cases[] = {
      {2.5, 0, 3.0},   {-0.5, 0, -1.0}, {-1.25, 1, -1.3}, {-2.675, 1, -2.7},
      {3.14159, 4, 3.1416},  // the nearest double, not 31416 * 0.0001
      {123.456, -1, 123.0}, {1e300, 400, 1e300},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFloatDigits(c.x, c.n), c.want) << c.x << " " << c.n;
  EXPECT_TRUE(std::isinf(FormatFloatDigits(INFINITY, 2)));
  EXPECT_TRUE(std::isnan(FormatFloatDigits(std::nan(""), 2)));
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {
    const double x = std::uniform_real_distribution<double>(-1e6, 1e6)(rng);
    const int n = static_cast<int>(rng() % 6);
    const double got = FormatFloatDigits(x, n);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", n, got);
    ASSERT_EQ(std::strtod(buf, nullptr), got) << x << " " << n;
    ASSERT_LE(std::fabs(got - x), 0.5 * std::pow(10.0, -n) * (1 + 1e-9) + 1e-9) << x << " " << n;
  }
}

}  // namespace
}  // namespace storage
