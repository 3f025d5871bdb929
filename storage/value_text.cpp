#include "storage/value_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace storage {
namespace {

using Int128 = __int128;

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// The framework's Try* conversions report failure without raising; the
// catch keeps the promise of no exception should one raise anyway.
template <class Fn>
bool Converts(Fn&& fn) {
  try {
    return fn();
  } catch (const fw::Exception&) {
    return false;
  }
}

// x to the n-th power by repeated multiplication (not pow(): the rounding
// below relies on the products of 0.1 as they are): 1 for n == 0, x for
// n == 1 or x == 0.
double PowerOf(double x, int n) {
  if (n == 0) return 1.0;
  if (n == 1 || x == 0.0) return x;
  double r = x;
  for (int i = 1; i < n; ++i) r *= x;
  return r;
}

// Rounds to n decimals, halves away from zero.
double RoundFloat(double x, int n) {
  if (x == 0.0 || !std::isfinite(x)) return x;
  if (n <= 0) return x > 0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5);
  double f = PowerOf(0.1, n);
  double q = x / f;
  if (f == 0.0 || !std::isfinite(q)) return x;  // finer than a double can hold
  return (x > 0 ? std::trunc(q + 0.5) : std::trunc(q - 0.5)) * f;
}

}  // namespace

std::string BoolToText(bool b) { return b ? "True" : "False"; }

bool TextToBool(std::string_view s) {
  if (EqualsNoCase(s, "TRUE")) return true;
  if (EqualsNoCase(s, "FALSE")) return false;
  throw fw::EConvertError("'" + std::string(s) + "'" + " is not a valid boolean value");
}

bool IsBooleanText(std::string_view s) {
  return EqualsNoCase(s, "TRUE") || EqualsNoCase(s, "FALSE");
}

bool IsWordText(std::string_view s) {
  return Converts([&] {
    int v = 0;
    return fw::TryStrToInt(std::string(s), v) && v >= 0 && v <= 65535;
  });
}

bool IsSmallIntText(std::string_view s) {
  return Converts([&] {
    int v = 0;
    return fw::TryStrToInt(std::string(s), v) && v >= -32768 && v <= 32767;
  });
}

bool IsIntegerText(std::string_view s) {
  return Converts([&] {
    int v = 0;
    return fw::TryStrToInt(std::string(s), v);
  });
}

bool IsFloatText(std::string_view s) {
  return Converts([&] {
    double v = 0;
    return fw::TryStrToFloat(std::string(s), v);
  });
}

bool IsCurrencyText(std::string_view s) {
  return Converts([&] {
    fw::Currency v;
    return fw::TryStrToCurr(std::string(s), v);
  });
}

bool IsDateText(std::string_view s) {
  return Converts([&] {
    fw::TDateTime v = 0;
    return fw::TryStrToDate(std::string(s), v);
  });
}

bool IsDateTimeText(std::string_view s) {
  return Converts([&] {
    fw::TDateTime v = 0;
    return fw::TryStrToDateTime(std::string(s), v);
  });
}

bool IsTimeText(std::string_view s) {
  return Converts([&] {
    fw::TDateTime v = 0;
    return fw::TryStrToTime(std::string(s), v);
  });
}

Currency RoundCurrency(Currency c, int n) {
  n = std::clamp(n, 0, 4);
  if (c == 0 || n == 4) return c;
  std::int64_t unit = 1;
  for (int i = n; i < 4; ++i) unit *= 10;
  const std::int64_t half = unit / 2;
  // (c +- half) / unit truncates toward zero: halves go away from zero.
  Int128 r = (static_cast<Int128>(c) + (c > 0 ? half : -half)) / unit * unit;
  if (r > kInt64Max) r -= unit;
  if (r < kInt64Min) r += unit;
  return static_cast<Currency>(r);
}

double FormatFloatDigits(double x, int n) {
  double r = RoundFloat(x, n);
  if (!std::isfinite(r)) return r;
  // Decimals beyond ~330 cannot change a double.
  int digits = std::clamp(n, 0, 340);
  char buf[720];
  auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, digits);
  if (res.ec != std::errc()) return r;
  double back = r;
  std::from_chars(buf, res.ptr, back);
  return back;
}

Currency FormatCurrencyDigits(Currency c, int n) { return RoundCurrency(c, std::min(n, 4)); }

}  // namespace storage
