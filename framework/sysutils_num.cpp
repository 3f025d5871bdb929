// Number conversions: integers, floating point, currency and booleans.
//
// Floating-point text is produced from 18 significant digits of the value
// (std::to_chars, exact and locale-free) which are then rounded half away
// from zero to what the format asks, as an 80-bit floating-point unit
// conversion gives them. Parsing normalises the text and hands it
// to std::from_chars; currency text is parsed exactly in integers.
#include <time.h>

#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "framework/decimal_text.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace fw {

using internal::Decimal;
using internal::ScannedNumber;

namespace internal {

namespace {
void StripTrailingZeros(Decimal& d) {
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.exponent = 0;
}
}  // namespace

Decimal DoubleToDecimal(double value) {
  Decimal d;
  d.negative = std::signbit(value);
  double a = std::fabs(value);
  if (a == 0 || !std::isfinite(a)) {
    d.negative = false;
    return d;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 17);
  std::string_view t(buf, static_cast<std::size_t>(r.ptr - buf));
  std::size_t e = t.find('e');
  d.digits.push_back(t[0]);
  for (std::size_t i = 2; i < e; ++i) d.digits.push_back(t[i]);
  int exp10 = 0;
  std::from_chars(t.data() + e + (t[e + 1] == '+' ? 2 : 1), t.data() + t.size(), exp10);
  d.exponent = exp10 + 1;
  StripTrailingZeros(d);
  return d;
}

Decimal CurrencyToDecimal(std::int64_t raw) {
  Decimal d;
  d.negative = raw < 0;
  std::uint64_t a = raw < 0 ? 0 - static_cast<std::uint64_t>(raw) : static_cast<std::uint64_t>(raw);
  if (a == 0) {
    d.negative = false;
    return d;
  }
  d.digits = std::to_string(a);
  d.exponent = static_cast<int>(d.digits.size()) - 4;
  StripTrailingZeros(d);
  return d;
}

void RoundDecimal(Decimal& d, int max_significant, int max_decimals) {
  if (d.IsZero()) return;
  long long keep = max_significant;
  long long by_decimals = static_cast<long long>(d.exponent) + max_decimals;
  if (by_decimals < keep) keep = by_decimals;
  if (keep >= static_cast<long long>(d.digits.size())) return;
  if (keep < 0) {
    d.digits.clear();
    d.exponent = 0;
    d.negative = false;
    return;
  }
  bool up = d.digits[static_cast<std::size_t>(keep)] >= '5';
  d.digits.resize(static_cast<std::size_t>(keep));
  if (up) {
    int i = static_cast<int>(keep) - 1;
    while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9') d.digits[static_cast<std::size_t>(i--)] = '0';
    if (i >= 0) {
      ++d.digits[static_cast<std::size_t>(i)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  StripTrailingZeros(d);
  if (d.IsZero()) d.negative = false;
}

bool ScanFloatText(std::string_view s, ScannedNumber& out) {
  out = ScannedNumber();
  std::size_t i = 0, n = s.size();
  while (i < n && s[i] == ' ') ++i;
  if (i < n && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';
  bool any = false;
  while (i < n && s[i] >= '0' && s[i] <= '9') {
    out.mantissa.push_back(s[i++]);
    any = true;
  }
  if (i < n && s[i] == kDecimalSeparator) {
    ++i;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
      out.mantissa.push_back(s[i++]);
      ++out.fraction_digits;
      any = true;
    }
  }
  if (!any) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i >= n || s[i] < '0' || s[i] > '9') return false;
    std::int64_t e = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
      if (e < 100000000) e = e * 10 + (s[i] - '0');
      ++i;
    }
    out.exponent = neg ? -e : e;
  }
  while (i < n && s[i] == ' ') ++i;
  return i == n;
}

}  // namespace internal

namespace {

[[noreturn]] void ConvertError(const std::string& text, const char* what) {
  throw EConvertError("'" + text + "' is not a valid " + what);
}

// Val-style integer scan: leading spaces, sign, '$'/0x hexadecimal; the
// text must end after the digits. Hexadecimal accepts up to bits/4 digits
// (wrapping into the sign); decimal must fit the signed range.
bool ScanInteger(std::string_view s, int bits, std::int64_t& value) {
  std::size_t i = 0, n = s.size();
  while (i < n && s[i] == ' ') ++i;
  bool neg = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  bool hex = false;
  if (i < n && s[i] == '$') {
    hex = true;
    ++i;
  } else if (i < n && (s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  std::uint64_t acc = 0;
  const std::uint64_t limit = bits == 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1;
  if (hex) {
    for (; i < n; ++i) {
      char c = s[i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      if (acc > (limit >> 4)) return false;
      acc = (acc << 4) | static_cast<std::uint64_t>(d);
    }
    std::int64_t v = bits == 64 ? static_cast<std::int64_t>(acc)
                                : static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(acc)));
    value = neg ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(v)) : v;
    if (bits == 32) value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return true;
  }
  const std::uint64_t max_mag = (std::uint64_t{1} << (bits - 1)) - (neg ? 0 : 1);
  for (; i < n; ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return false;
    if (acc > (max_mag - static_cast<std::uint64_t>(c - '0')) / 10) return false;
    acc = acc * 10 + static_cast<std::uint64_t>(c - '0');
  }
  value = neg ? static_cast<std::int64_t>(0 - acc) : static_cast<std::int64_t>(acc);
  return true;
}

std::string IntegerPartWithThousands(const std::string& digits, bool thousands) {
  if (!thousands) return digits;
  std::string r;
  std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    r += digits[i];
    std::size_t left = n - 1 - i;
    if (left > 0 && left % 3 == 0) r += kThousandSeparator;
  }
  return r;
}

// Integer and fraction digits of a rounded decimal, fraction padded to
// decimals digits.
void SplitFixed(const Decimal& d, int decimals, std::string& int_part, std::string& frac_part) {
  int_part.clear();
  frac_part.clear();
  if (d.exponent > 0) {
    for (int i = 0; i < d.exponent; ++i)
      int_part += i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<std::size_t>(i)] : '0';
  }
  if (int_part.empty()) int_part = "0";
  for (int k = 0; k < decimals; ++k) {
    int idx = d.exponent + k;
    frac_part += (idx >= 0 && idx < static_cast<int>(d.digits.size())) ? d.digits[static_cast<std::size_t>(idx)] : '0';
  }
}

std::string ExponentText(int e, int min_digits, bool plus) {
  std::string r = "E";
  if (e < 0) r += '-';
  else if (plus) r += '+';
  std::string v = std::to_string(e < 0 ? -e : e);
  while (static_cast<int>(v.size()) < min_digits) v.insert(v.begin(), '0');
  return r + v;
}

std::string GeneralText(Decimal d, int precision, int digits) {
  internal::RoundDecimal(d, precision, INT_MAX / 2);
  if (d.IsZero()) return "0";
  std::string r = d.negative ? "-" : "";
  if (d.exponent > precision || d.exponent < -3) {
    r += d.digits[0];
    if (d.digits.size() > 1) r += kDecimalSeparator + d.digits.substr(1);
    return r + ExponentText(d.exponent - 1, digits, false);
  }
  if (d.exponent <= 0) {
    r += "0";
    r += kDecimalSeparator;
    r += std::string(static_cast<std::size_t>(-d.exponent), '0');
    return r + d.digits;
  }
  std::string ip, fp;
  SplitFixed(d, 0, ip, fp);
  r += ip;
  if (static_cast<int>(d.digits.size()) > d.exponent) r += kDecimalSeparator + d.digits.substr(static_cast<std::size_t>(d.exponent));
  return r;
}

std::string ExponentFormatText(Decimal d, int precision, int digits) {
  internal::RoundDecimal(d, precision, INT_MAX / 2);
  std::string r = d.negative ? "-" : "";
  std::string m = d.IsZero() ? std::string("0") : d.digits;
  m.resize(static_cast<std::size_t>(precision), '0');
  r += m[0];
  if (precision > 1) r += kDecimalSeparator + m.substr(1);
  return r + ExponentText(d.IsZero() ? 0 : d.exponent - 1, digits, true);
}

std::string FloatText(Decimal d, TFloatFormat format, int precision, int digits) {
  switch (format) {
    case TFloatFormat::ffGeneral:
      return GeneralText(d, precision, digits < 0 ? 0 : (digits > 4 ? 4 : digits));
    case TFloatFormat::ffExponent:
      return ExponentFormatText(d, precision, digits < 0 ? 0 : (digits > 4 ? 4 : digits));
    default:
      break;
  }
  if (digits < 0) digits = 0;
  if (digits > 18) digits = 18;
  internal::RoundDecimal(d, precision, digits);
  if (d.exponent > precision) return GeneralText(d, precision, 0);
  std::string ip, fp;
  SplitFixed(d, digits, ip, fp);
  std::string body = IntegerPartWithThousands(ip, format != TFloatFormat::ffFixed);
  if (digits > 0) body += kDecimalSeparator + fp;
  if (format == TFloatFormat::ffCurrency) {
    // CurrencyFormat 0: "$1"; NegCurrFormat 0: "($1)".
    body = kCurrencyString + body;
    return d.negative ? "(" + body + ")" : body;
  }
  return d.negative ? "-" + body : body;
}

}  // namespace

namespace internal {
std::string FloatTextOf(const Decimal& d, TFloatFormat format, int precision, int digits) {
  return FloatText(d, format, precision, digits);
}
}  // namespace internal

// ---------------------------------------------------------------------------
// Integers.

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

bool TryStrToInt(const std::string& s, int& value) {
  std::int64_t v;
  if (!ScanInteger(s, 32, v)) return false;
  value = static_cast<int>(v);
  return true;
}

bool TryStrToInt64(const std::string& s, std::int64_t& value) { return ScanInteger(s, 64, value); }

int StrToInt(const std::string& s) {
  int v;
  if (!TryStrToInt(s, v)) ConvertError(s, "integer value");
  return v;
}

int StrToIntDef(const std::string& s, int def) {
  int v;
  return TryStrToInt(s, v) ? v : def;
}

std::int64_t StrToInt64(const std::string& s) {
  std::int64_t v;
  if (!TryStrToInt64(s, v)) ConvertError(s, "integer value");
  return v;
}

std::int64_t StrToInt64Def(const std::string& s, std::int64_t def) {
  std::int64_t v;
  return TryStrToInt64(s, v) ? v : def;
}

std::string IntToHexU(std::uint64_t value, int digits) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value, 16);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
  if (digits > 32) digits = 32;
  while (static_cast<int>(s.size()) < digits) s.insert(s.begin(), '0');
  return s;
}

std::int64_t Round(double x) {
  if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0))
    throw EInvalidOp("Invalid floating point operation");
  double f = std::floor(x);
  double diff = x - f;
  std::int64_t r = static_cast<std::int64_t>(f);
  if (diff > 0.5 || (diff == 0.5 && (r & 1) != 0)) ++r;
  return r;
}

std::int64_t Trunc(double x) {
  if (!(x > -9223372036854777856.0 && x < 9223372036854775808.0))
    throw EInvalidOp("Invalid floating point operation");
  return static_cast<std::int64_t>(x);
}

// ---------------------------------------------------------------------------
// Random numbers.

namespace {
std::atomic<std::uint32_t> g_rand_seed{0};

std::uint32_t NextSeed() {
  std::uint32_t old = g_rand_seed.load(std::memory_order_relaxed);
  std::uint32_t next;
  do {
    next = old * 0x08088405u + 1u;
  } while (!g_rand_seed.compare_exchange_weak(old, next, std::memory_order_relaxed));
  return next;
}
}  // namespace

void Randomize() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  g_rand_seed = static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

void SetRandSeed(std::uint32_t seed) { g_rand_seed = seed; }
std::uint32_t RandSeed() { return g_rand_seed; }

int Random(int range) {
  std::uint32_t s = NextSeed();
  if (range <= 0) return 0;
  return static_cast<int>((static_cast<std::uint64_t>(s) * static_cast<std::uint32_t>(range)) >> 32);
}

double Random() { return static_cast<double>(NextSeed()) / 4294967296.0; }

// ---------------------------------------------------------------------------
// Floating point.

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (precision < 1) precision = 1;
  if (precision > 18) precision = 18;
  return FloatText(internal::DoubleToDecimal(value), format, precision, digits);
}

std::string FloatToStr(double value) { return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0); }

bool TryStrToFloat(const std::string& s, double& value) {
  ScannedNumber sn;
  if (!internal::ScanFloatText(s, sn)) return false;
  // Normalise to "<mantissa>e<exp>" for from_chars.
  std::size_t first = sn.mantissa.find_first_not_of('0');
  if (first == std::string::npos) {
    value = sn.negative ? -0.0 : 0.0;
    return true;
  }
  std::string digits = sn.mantissa.substr(first);
  std::int64_t exp = sn.exponent - sn.fraction_digits;
  // Very long mantissas: keep 800 digits (enough for correct rounding of
  // every double) and move the rest into the exponent, noting any non-zero
  // digit dropped with a sticky 1.
  if (digits.size() > 800) {
    bool sticky = digits.find_first_not_of('0', 800) != std::string::npos;
    exp += static_cast<std::int64_t>(digits.size() - 800);
    digits.resize(800);
    if (sticky) {
      digits += '1';
      --exp;
    }
  }
  const std::int64_t magnitude = exp + static_cast<std::int64_t>(digits.size());
  if (magnitude > 400) return false;  // overflow
  if (magnitude < -400) {
    value = sn.negative ? -0.0 : 0.0;
    return true;
  }
  std::string text = digits + "e" + std::to_string(exp);
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::scientific);
  if (r.ec == std::errc::result_out_of_range) {
    if (magnitude > 0) return false;
    v = 0;  // underflow
  } else if (r.ec != std::errc() || !std::isfinite(v)) {
    return false;
  }
  value = sn.negative ? -v : v;
  return true;
}

bool TextToFloat(const std::string& s, double& value) { return TryStrToFloat(s, value); }

double StrToFloat(const std::string& s) {
  double v;
  if (!TryStrToFloat(s, v)) ConvertError(s, "floating point value");
  return v;
}

double StrToFloatDef(const std::string& s, double def) {
  double v;
  return TryStrToFloat(s, v) ? v : def;
}

// ---------------------------------------------------------------------------
// Currency.

bool TryStrToCurr(const std::string& s, Currency& value) {
  ScannedNumber sn;
  if (!internal::ScanFloatText(s, sn)) return false;
  std::size_t first = sn.mantissa.find_first_not_of('0');
  if (first == std::string::npos) {
    value = Currency{0};
    return true;
  }
  std::string digits = sn.mantissa.substr(first);
  // value * 10000 = digits * 10^scale
  std::int64_t scale = sn.exponent - sn.fraction_digits + 4;
  const std::int64_t int_len = static_cast<std::int64_t>(digits.size()) + scale;
  if (int_len > 19) return false;
  unsigned __int128 acc = 0;
  bool round_up = false;
  if (scale >= 0) {
    for (char c : digits) acc = acc * 10 + static_cast<unsigned>(c - '0');
    for (std::int64_t k = 0; k < scale; ++k) acc *= 10;
  } else {
    std::size_t keep = int_len > 0 ? static_cast<std::size_t>(int_len) : 0;
    for (std::size_t i = 0; i < keep; ++i) acc = acc * 10 + static_cast<unsigned>(digits[i] - '0');
    // First dropped digit (a leading zero when int_len < 0).
    char first_dropped = int_len >= 0 ? digits[keep] : '0';
    bool rest_nonzero = false;
    std::size_t rest_from = int_len >= 0 ? keep + 1 : 0;
    if (int_len < 0) rest_nonzero = true;  // digits lie further right, all non-zero-led
    else rest_nonzero = digits.find_first_not_of('0', rest_from) != std::string::npos;
    if (first_dropped > '5') round_up = true;
    else if (first_dropped == '5') round_up = rest_nonzero || (acc & 1) != 0;
  }
  if (round_up) ++acc;
  const unsigned __int128 limit = sn.negative ? (static_cast<unsigned __int128>(1) << 63)
                                              : (static_cast<unsigned __int128>(1) << 63) - 1;
  if (acc > limit) return false;
  std::uint64_t a = static_cast<std::uint64_t>(acc);
  value = Currency{sn.negative ? static_cast<std::int64_t>(0 - a) : static_cast<std::int64_t>(a)};
  return true;
}

Currency StrToCurr(const std::string& s) {
  Currency c;
  if (!TryStrToCurr(s, c)) ConvertError(s, "floating point value");
  return c;
}

std::string CurrToStrF(Currency value, TFloatFormat format, int digits) {
  return FloatText(internal::CurrencyToDecimal(value.value), format, 19, digits);
}

std::string CurrToStr(Currency value) { return CurrToStrF(value, TFloatFormat::ffGeneral, 0); }

double CurrToDouble(Currency value) { return static_cast<double>(value.value) / 10000.0; }

Currency DoubleToCurr(double value) {
  double scaled = value * 10000.0;
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
    throw EConvertError("'" + FloatToStr(value) + "' is not a valid floating point value");
  return Currency{Round(scaled)};
}

// ---------------------------------------------------------------------------
// Booleans.

std::string BoolToStr(bool b, bool use_bool_strs) {
  if (use_bool_strs) return b ? "True" : "False";
  return b ? "-1" : "0";
}

bool TryStrToBool(const std::string& s, bool& value) {
  if (AnsiSameText(s, "True")) {
    value = true;
    return true;
  }
  if (AnsiSameText(s, "False")) {
    value = false;
    return true;
  }
  double d;
  if (TryStrToFloat(s, d)) {
    value = d != 0;
    return true;
  }
  return false;
}

bool StrToBool(const std::string& s) {
  bool b;
  if (!TryStrToBool(s, b)) ConvertError(s, "boolean value");
  return b;
}

}  // namespace fw
