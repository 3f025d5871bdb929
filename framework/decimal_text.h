// Decimal digit strings shared by the number conversions: a value is
// 0.digits x 10^exponent with the sign apart. Internal to the framework.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fw::internal {

struct Decimal {
  bool negative = false;
  std::string digits;  // no leading zeros; empty means zero
  int exponent = 0;    // position of the decimal point
  bool IsZero() const { return digits.empty(); }
};

// The value with 18 significant digits, as an 80-bit floating-point unit
// produces them (the digits are then rounded half away from zero).
Decimal DoubleToDecimal(double value);
// The exact value of a currency raw count of 1/10000.
Decimal CurrencyToDecimal(std::int64_t raw);
// Rounds half away from zero to at most max_significant digits and at most
// max_decimals digits after the point.
void RoundDecimal(Decimal& d, int max_significant, int max_decimals);

// Scanned number text: sign, all mantissa digits (point removed), the count
// of digits after the point and the exponent. Leading spaces are skipped;
// trailing spaces allowed when trailing_blanks.
struct ScannedNumber {
  bool negative = false;
  std::string mantissa;
  int fraction_digits = 0;
  std::int64_t exponent = 0;
};
bool ScanFloatText(std::string_view s, ScannedNumber& out);

}  // namespace fw::internal
