// Values written as text: Booleans, the checks of default, minimum and
// maximum texts of fields, and the decimal rounding of floats and
// currency values that stored defaults and limits go through.
//
// Strings are single-byte text in code page 1252, held in std::string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace storage {

// Fixed-point decimal: signed count of 1/10000.
using Currency = std::int64_t;
constexpr Currency kCurrencyScale = 10000;

std::string BoolToText(bool b);  // "True" / "False"
// "TRUE" / "FALSE" in any letter case; anything else throws
// fw::EConvertError("'" + s + "' is not a valid boolean value").
bool TextToBool(std::string_view s);

// True when the framework's conversion of the text succeeds (current
// locale formats) and, for the 16-bit types, the value is in range. Never
// throws.
bool IsWordText(std::string_view s);
bool IsSmallIntText(std::string_view s);
bool IsIntegerText(std::string_view s);
bool IsBooleanText(std::string_view s);
bool IsFloatText(std::string_view s);
bool IsCurrencyText(std::string_view s);
bool IsDateText(std::string_view s);
bool IsDateTimeText(std::string_view s);
bool IsTimeText(std::string_view s);

// Rounds a currency value to n decimals (n limited to 0..4), halves away
// from zero, exactly. A value whose rounding would leave the 64-bit range
// is rounded toward zero instead.
Currency RoundCurrency(Currency c, int n);
// Rounded to n decimals, halves away from zero (trunc(x / f +- 0.5) * f
// with f = 0.1 multiplied n times; 0 stays 0, n < 0 counts as 0, NaN and
// infinities come back unchanged), then the nearest double to that decimal
// text with n decimals.
double FormatFloatDigits(double x, int n);
// RoundCurrency with n limited to 4 (the decimal text of a currency value is
// exact, so formatting and reading it back changes nothing further).
Currency FormatCurrencyDigits(Currency c, int n);

}  // namespace storage
