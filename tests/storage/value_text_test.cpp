// Value texts and the rounding of stored defaults and limits.
#include "storage/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "framework/exceptions.h"

namespace storage {
namespace {

TEST(ValueText, TextToBool) {
  EXPECT_TRUE(TextToBool("TRUE"));
  EXPECT_TRUE(TextToBool("true"));
  EXPECT_TRUE(TextToBool("tRuE"));
  EXPECT_FALSE(TextToBool("False"));
  EXPECT_EQ(BoolToText(true), "True");
  EXPECT_EQ(BoolToText(false), "False");
  for (const char* bad : {"yes", "", "1", " TRUE", "TRUEX"}) {
    try {
      TextToBool(bad);
      ADD_FAILURE() << "no exception for " << bad;
    } catch (const fw::EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid boolean value");
    }
  }
}

TEST(ValueText, TextChecks) {
  struct Case {
    bool (*check)(std::string_view);
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {IsWordText, "0", true},           {IsWordText, "65535", true},
      {IsWordText, "65536", false},      {IsWordText, "-1", false},
      {IsWordText, "12a", false},        {IsWordText, "", false},
      {IsSmallIntText, "-32768", true},  {IsSmallIntText, "32767", true},
      {IsSmallIntText, "32768", false},  {IsSmallIntText, "-32769", false},
      {IsIntegerText, "2147483647", true}, {IsIntegerText, "-2147483648", true},
      {IsIntegerText, "2147483648", false}, {IsIntegerText, "1.5", false},
      {IsIntegerText, "abc", false},
      {IsBooleanText, "True", true},     {IsBooleanText, "FALSE", true},
      {IsBooleanText, "yes", false},     {IsBooleanText, "1", false},
      {IsFloatText, "1.5", true},        {IsFloatText, "-2e10", true},
      {IsFloatText, "1.5.2", false},     {IsFloatText, "x", false},
      {IsCurrencyText, "12.3456", true}, {IsCurrencyText, "12.34x", false},
      {IsDateText, "12/31/1999", true},  {IsDateText, "02/30/1999", false},
      {IsDateText, "hello", false},
      {IsTimeText, "10:30", true},       {IsTimeText, "25:61", false},
      {IsDateTimeText, "12/31/1999 10:30", true}, {IsDateTimeText, "12/32/1999", false},
  };
  for (const Case& c : cases) {
    bool got = false;
    EXPECT_NO_THROW(got = c.check(c.text)) << c.text;
    EXPECT_EQ(got, c.ok) << c.text;
  }
}

TEST(ValueTextRounding, RoundCurrencyTable) {
  const Currency max = std::numeric_limits<std::int64_t>::max();
  const Currency min = std::numeric_limits<std::int64_t>::min();
  struct Case {
    Currency c;
    int n;
    Currency want;
  };
  const Case cases[] = {
      {25000, 0, 30000},  {-25000, 0, -30000}, {14999, 0, 10000}, {-14999, 0, -10000},
      {12345, 2, 12300},  {12350, 2, 12400},   {-12350, 2, -12400}, {12345, 3, 12350},
      {12345, 4, 12345},  {12345, 6, 12345},   {12345, 9, 12345},  {0, 2, 0},
      {5, 3, 10},         {4, 3, 0},           {-5, 3, -10},
      {12345, -2, 10000},  // negative counts as 0
      // The nearest whole unit is past the 64-bit range: toward zero instead.
      {max, 0, 9223372036854770000},  {min, 0, -9223372036854770000},
      {max, 3, 9223372036854775800},  {max - 8, 3, 9223372036854775800},
      {min, 2, -9223372036854775800},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundCurrency(c.c, c.n), c.want) << c.c << " " << c.n;
}

TEST(ValueTextRounding, RoundCurrencyModel) {
  // Against plain decimal reasoning over many values and all n.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    Currency c = static_cast<Currency>(rng() % 2000001) - 1000000;
    for (int n = 0; n <= 4; ++n) {
      std::int64_t unit = 1;
      for (int k = n; k < 4; ++k) unit *= 10;
      std::int64_t mag = c < 0 ? -c : c;
      std::int64_t q = mag / unit, r = mag % unit;
      if (2 * r >= unit) ++q;
      std::int64_t want = (c < 0 ? -q : q) * unit;
      ASSERT_EQ(RoundCurrency(c, n), want) << c << " " << n;
    }
  }
}

// Halves go away from zero; the result is the double nearest to the
// decimal with n decimals.
TEST(ValueTextRounding, FormatFloatDigitsTable) {
  struct Case {
    double x;
    int n;
    double want;
  };
  const Case cases[] = {
      {2.5, 0, 3.0},    {-2.5, 0, -3.0},  {2.4999, 0, 2.0}, {-0.5, 0, -1.0},   {0.0, 3, 0.0},
      {1.25, 1, 1.3},   {-1.25, 1, -1.3}, {3.14159, 2, 3.14}, {123.456, -1, 123.0},  // n < 0: 0
      {1e300, 400, 1e300},  // finer than a double holds: unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFloatDigits(c.x, c.n), c.want) << c.x << " " << c.n;
  EXPECT_TRUE(std::isinf(FormatFloatDigits(std::numeric_limits<double>::infinity(), 2)));
  EXPECT_TRUE(std::isnan(FormatFloatDigits(std::nan(""), 2)));
}

TEST(ValueTextRounding, FormatDigits) {
  EXPECT_EQ(FormatFloatDigits(1.23456, 2), 1.23);
  EXPECT_EQ(FormatFloatDigits(2.5, 0), 3.0);
  EXPECT_EQ(FormatFloatDigits(-2.675, 1), -2.7);
  EXPECT_EQ(FormatFloatDigits(3.14159, 4), 3.1416);  // the nearest double, not 31416 * 0.0001
  EXPECT_EQ(FormatFloatDigits(1e20, 2), 1e20);
  EXPECT_EQ(FormatFloatDigits(0.0, 2), 0.0);
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {
    double x = std::uniform_real_distribution<double>(-1e6, 1e6)(rng);
    int n = static_cast<int>(rng() % 6);
    double got = FormatFloatDigits(x, n);
    // The result is a decimal with at most n decimals, within half a step.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", n, got);
    ASSERT_EQ(std::strtod(buf, nullptr), got) << x << " " << n;
    ASSERT_LE(std::fabs(got - x), 0.5 * std::pow(10.0, -n) * (1 + 1e-9) + 1e-9) << x << " " << n;
  }
  EXPECT_EQ(FormatCurrencyDigits(12345, 2), 12300);
  EXPECT_EQ(FormatCurrencyDigits(12345, 8), 12345);
  EXPECT_EQ(FormatCurrencyDigits(-25000, 0), -30000);
}

}  // namespace
}  // namespace storage
