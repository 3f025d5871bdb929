// Number conversions: tables of texts and exact messages, exact currency
// parsing on random decimal texts, round-half-even, and independence from
// the process's C locale.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <random>

#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "tests/common/error_text.h"
#include "tests/common/scratch_dir.h"

namespace fw {
namespace {

template <typename F>
std::string ConvertErrorOf(F f) {
  return testsupport::ErrorText<EConvertError>(f);
}

TEST(SysUtilsNumbers, StrToInt) {
  struct Case { const char* text; bool ok; int value; };
  const Case cases[] = {
      {"123", true, 123},          {"  12", true, 12},           {"-5", true, -5},
      {"+7", true, 7},             {"007", true, 7},             {"$FF", true, 255},
      {"$ff", true, 255},          {"0x1F", true, 31},           {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},     {"2147483647", true, INT_MAX}, {"-2147483648", true, INT_MIN},
      {"2147483648", false, 0},    {"$100000000", false, 0},     {"12 ", false, 0},
      {"", false, 0},              {"1a", false, 0},             {"$", false, 0},
      {"- 1", false, 0},           {"\t1", false, 0},            {"1.0", false, 0},
  };
  for (const Case& c : cases) {
    if (c.ok) {
      EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    } else {
      EXPECT_EQ(ConvertErrorOf([&] { StrToInt(c.text); }),
                std::string("'") + c.text + "' is not a valid integer value");
      EXPECT_EQ(StrToIntDef(c.text, -99), -99);
    }
  }
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
}

TEST(SysUtilsNumbers, RoundHalvesToEven) {
  struct Case { double x; std::int64_t r; };
  const Case cases[] = {{0.5, 0},    {1.5, 2},   {2.5, 2},    {3.5, 4},   {-0.5, 0},  {-1.5, -2},
                        {-2.5, -2},  {2.4999, 2}, {2.5001, 3}, {-2.51, -3}, {0.0, 0},  {1e15 + 0.5, 1000000000000000},
                        {4503599627370497.0, 4503599627370497}, {-9.2e18, -9200000000000000000}};
  for (const Case& c : cases) { EXPECT_EQ(Round(c.x), c.r) << c.x; }
  EXPECT_THROW(Round(1e19), EInvalidOp);
  EXPECT_THROW(Round(std::nan("")), EInvalidOp);
  EXPECT_EQ(testsupport::ErrorText<EInvalidOp>([] { Round(-1e300); }), "Invalid floating point operation");
  EXPECT_EQ(Trunc(-2.7), -2);
}

TEST(SysUtilsNumbers, FloatToStr) {
  struct Case { double x; const char* text; };
  const Case cases[] = {
      {0.0, "0"},         {-0.0, "0"},      {1.0, "1"},           {-1.5, "-1.5"},
      {0.1, "0.1"},       {1.0 / 3, "0.333333333333333"},        {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"}, {1e14, "100000000000000"},              {1e15, "1E15"},
      {1e20, "1E20"},     {123456789012345678.0, "1.23456789012346E17"},
      {0.0001, "0.0001"}, {0.00001, "1E-5"}, {1.5e-7, "1.5E-7"}, {1234.5, "1234.5"},
      {999999999999999.9, "1E15"},          {-3.25e-10, "-3.25E-10"},
  };
  for (const Case& c : cases) { EXPECT_EQ(FloatToStr(c.x), c.text) << c.x; }
  EXPECT_EQ(FloatToStrF(1234.5, TFloatFormat::ffExponent, 4, 2), "1.235E+03");
  EXPECT_EQ(FloatToStrF(0, TFloatFormat::ffExponent, 4, 2), "0.000E+00");
  EXPECT_EQ(FloatToStrF(-0.00123, TFloatFormat::ffExponent, 3, 0), "-1.23E-3");
  EXPECT_EQ(FloatToStrF(1234567.891, TFloatFormat::ffFixed, 15, 2), "1234567.89");
  EXPECT_EQ(FloatToStrF(1234567.891, TFloatFormat::ffNumber, 15, 2), "1,234,567.89");
  EXPECT_EQ(FloatToStrF(-1234.5, TFloatFormat::ffCurrency, 15, 2), "($1,234.50)");
  EXPECT_EQ(FloatToStrF(0.5, TFloatFormat::ffCurrency, 15, 0), "$1");
  EXPECT_EQ(FloatToStrF(2.5, TFloatFormat::ffFixed, 15, 0), "3");
  EXPECT_EQ(FloatToStrF(1.23456789, TFloatFormat::ffFixed, 4, 6), "1.235000");
}

TEST(SysUtilsNumbers, FormatFloatMasks) {
  struct Case { const char* mask; double x; const char* text; };
  const Case cases[] = {
      {"##############0.000", 3.14159, "3.142"}, {"##############0.000", -2.5, "-2.500"},
      {"##############0.000", 0, "0.000"}, {"##############0", 2.5, "3"}, {"##############0", -2.5, "-3"},
      {"##############0.00", 0.125, "0.13"}, {"##############0.00", 1.005, "1.00"},  // 1.005 is 1.00499999...
      {"##############0.0000", 123456789.12346, "123456789.1235"},
      {"##############0.0000", 123456789.12345, "123456789.1234"},  // held as ...1234499
      {"#,##0.00", 1234567.891, "1,234,567.89"}, {"#,##0", 999, "999"}, {"#,##0", -1000, "-1,000"},
      {"0.00E+00", 1234.5, "1.23E+03"}, {"0.00E+00", 0.000123, "1.23E-04"}, {"00.0E-0", 1234.5, "12.3E2"},
      {"0.###", 1.5, "1.5"}, {"0.###", 2, "2"}, {"000", 7, "007"}, {"#", 0, ""}, {"#.##", 0.5, ".5"},
      {"0.0;(0.0);zero", -1.25, "(1.3)"}, {"0.0;(0.0);zero", 0, "zero"}, {"0.0;(0.0);zero", 2, "2.0"},
      {"\"$\"#,##0", 1000, "$1,000"}, {"0.00", -0.001, "0.00"}, {"", 1.5, "1.5"}, {".00", 12.5, "12.50"},
      {"0 'kg'", 3, "3 kg"}, {"#,##0.00;(#,##0.00)", -1234.5, "(1,234.50)"}, {"0.00", 1e20, "1E20"},
      {"###-####", 5551234, "555-1234"}, {"#,##0", 1234567890123.0, "1,234,567,890,123"},
  };
  for (const Case& c : cases) { EXPECT_EQ(FormatFloat(c.mask, c.x), c.text) << c.mask << " " << c.x; }
}

TEST(SysUtilsNumbers, StrToFloat) {
  struct Case { const char* text; bool ok; double value; };
  const Case cases[] = {
      {"1.5", true, 1.5},   {" 2.5 ", true, 2.5}, {"-1e3", true, -1000}, {"1.", true, 1},
      {".5", true, 0.5},    {"+0.25E+1", true, 2.5}, {"1e-400", true, 0}, {"0.1", true, 0.1},
      {"1e", false, 0},     {"1,5", false, 0},    {"abc", false, 0},     {"", false, 0},
      {".", false, 0},      {"1e400", false, 0},  {"\t1", false, 0},     {"1 2", false, 0},
      {"INF", false, 0},    {"NAN", false, 0},
  };
  for (const Case& c : cases) {
    if (c.ok) {
      EXPECT_EQ(StrToFloat(c.text), c.value) << c.text;
    } else {
      EXPECT_EQ(ConvertErrorOf([&] { StrToFloat(c.text); }),
                std::string("'") + c.text + "' is not a valid floating point value");
    }
  }
  // Every double survives FloatToStrF with 17 digits and back.
  std::mt19937_64 rng(99);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    std::string t = FloatToStrF(x, TFloatFormat::ffExponent, 17, 0);
    ASSERT_EQ(StrToFloat(t), x) << t;
  }
}

TEST(SysUtilsNumbers, CurrencyTextTables) {
  struct Case { std::int64_t raw; const char* text; };
  const Case to_text[] = {{10000, "1"},        {15000, "1.5"},       {-12345678, "-1234.5678"},
                          {1, "0.0001"},       {0, "0"},             {INT64_MAX, "922337203685477.5807"},
                          {INT64_MIN, "-922337203685477.5808"}};
  for (const Case& c : to_text) { EXPECT_EQ(CurrToStr(Currency{c.raw}), c.text); }
  struct ParseCase { const char* text; bool ok; std::int64_t raw; };
  const ParseCase parse[] = {
      {"1.23455", true, 12346}, {"1.23445", true, 12344},  // ties: to the even neighbour
      {"1.234451", true, 12345}, {"-1.23455", true, -12346}, {"0.00005", true, 0}, {"0.000051", true, 1},
      {"1e2", true, 1000000}, {"  -12.5  ", true, -125000}, {"922337203685477.5807", true, INT64_MAX},
      {"-922337203685477.5808", true, INT64_MIN}, {"922337203685477.5808", false, 0}, {"1e15", false, 0},
      {"1e-30", true, 0}, {"12,5", false, 0},
  };
  for (const ParseCase& c : parse) {
    if (c.ok) {
      EXPECT_EQ(StrToCurr(c.text).value, c.raw) << c.text;
    } else {
      EXPECT_EQ(ConvertErrorOf([&] { StrToCurr(c.text); }),
                std::string("'") + c.text + "' is not a valid floating point value");
    }
  }
  EXPECT_EQ(FormatCurr("#,##0.00", Currency{-12345678}), "-1,234.57");
  EXPECT_EQ(CurrToStrF(Currency{12345678}, TFloatFormat::ffCurrency, 2), "$1,234.57");
  EXPECT_EQ(DoubleToCurr(-0.25).value, -2500);
  EXPECT_EQ(DoubleToCurr(0.00025).value, 2);  // 2.5 to even
  EXPECT_EQ(DoubleToCurr(0.00035).value, 4);  // 3.5 to even
  EXPECT_THROW(DoubleToCurr(1e16), EConvertError);
  EXPECT_EQ(CurrToDouble(Currency{-25000}), -2.5);
}

// Random decimal texts with up to four decimals parse to exactly their
// value, also where a double could not hold them, and print back the same.
TEST(SysUtilsNumbers, StrToCurrIsExact) {
  std::mt19937_64 rng(2024);
  for (int i = 0; i < 50000; ++i) {
    std::int64_t raw = static_cast<std::int64_t>(rng() >> (1 + rng() % 63));
    if (rng() & 1) raw = -raw;
    std::int64_t a = raw < 0 ? -raw : raw;
    std::string text = (raw < 0 ? "-" : "") + std::to_string(a / 10000);
    int decimals = static_cast<int>(rng() % 5);
    std::string frac = std::to_string(a % 10000);
    frac.insert(0, 4 - frac.size(), '0');
    // Drop decimals only when they are zeros, so the value stays exact.
    while (static_cast<int>(frac.size()) > decimals && frac.back() == '0') frac.pop_back();
    if (!frac.empty()) text += "." + frac;
    ASSERT_EQ(StrToCurr(text).value, raw) << text;
    ASSERT_EQ(StrToCurr(CurrToStr(Currency{raw})).value, raw);
  }
}

TEST(SysUtilsNumbers, Booleans) {
  EXPECT_TRUE(StrToBool("true") && !StrToBool("FALSE") && StrToBool("-1") && StrToBool("2.5") && !StrToBool("0"));
  EXPECT_EQ(ConvertErrorOf([] { StrToBool("yes"); }), "'yes' is not a valid boolean value");
}

TEST(SysUtilsNumbers, Format) {
  EXPECT_EQ(Format("%d items", {5}), "5 items");
  EXPECT_EQ(Format("%5d|%-5d|", {5, 5}), "    5|5    |");
  EXPECT_EQ(Format("%.3d %.3d", {5, -5}), "005 -005");
  EXPECT_EQ(Format("%x %.4X", {255, 255}), "FF 00FF");
  EXPECT_EQ(Format("%s and %s", {"this", std::string("that")}), "this and that");
  EXPECT_EQ(Format("%.2f|%f|%.0f", {3.14159, 2.0, 2.5}), "3.14|2.00|3");
  EXPECT_EQ(Format("%g %g", {1e20, 0.5}), "1E20 0.5");
  EXPECT_EQ(Format("%e", {1234.5}), "1.23450000000000E+003");
  EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
  EXPECT_EQ(Format("%m", {-5.0}), "($5.00)");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%.1s|%8s|", {"abc", "r"}), "a|       r|");
  EXPECT_EQ(Format("%1:s %0:s", {"a", "b"}), "b a");
  EXPECT_EQ(Format("%*d", {4, 7}), "   7");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
  EXPECT_EQ(Format("List index out of bounds (%d)", {-1}), "List index out of bounds (-1)");
  EXPECT_EQ(ConvertErrorOf([] { Format("%d", {"x"}); }), "Format '%d' invalid or incompatible with argument");
  EXPECT_EQ(ConvertErrorOf([] { Format("%d %d", {1}); }), "No argument for format '%d %d'");
  EXPECT_EQ(ConvertErrorOf([] { Format("%q", {1}); }), "Format '%q' invalid or incompatible with argument");
}

// Conversions must not follow the C locale, which the GUI library may set.
TEST(SysUtilsNumbers, CLocaleDoesNotChangeConversions) {
  std::string old = std::setlocale(LC_ALL, nullptr);
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
  bool set = false;
  for (const char* n : names) {
    if (std::setlocale(LC_ALL, n)) {
      set = true;
      break;
    }
  }
  testsupport::ScratchDir dir;
  if (!set && std::system(("localedef -i de_DE -f UTF-8 " + dir / "de_DE.UTF-8 >/dev/null 2>&1").c_str()) >= 0 &&
      std::filesystem::is_directory(dir / "de_DE.UTF-8")) {
    ::setenv("LOCPATH", dir.path().c_str(), 1);  // a comma-decimal locale of our own when none is installed
    set = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  }
  if (!set) GTEST_SKIP() << "no comma-decimal locale available";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(FloatToStr(1.5), "1.5");
  EXPECT_EQ(StrToFloat("2.25"), 2.25);
  EXPECT_THROW(StrToFloat("2,25"), EConvertError);
  EXPECT_EQ(FormatFloat("#,##0.00", 1234.5), "1,234.50");
  EXPECT_EQ(Format("%.2f", {0.5}), "0.50");
  EXPECT_EQ(StrToCurr("1.5").value, 15000);
  EXPECT_EQ(DateTimeToStr(EncodeDate(2000, 1, 1) + EncodeTime(13, 0, 0, 0)), "1/1/2000 1:00:00 PM");
  std::setlocale(LC_ALL, old.c_str());
  ::unsetenv("LOCPATH");
}

}  // namespace
}  // namespace fw
