// FormatFloat/FormatCurr masks and Format.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <vector>

#include "framework/decimal_text.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace fw {

namespace internal {
std::string FloatTextOf(const Decimal& d, TFloatFormat format, int precision, int digits);
}  // namespace internal

using internal::Decimal;

namespace {

// Sections split at ';' outside quotes.
std::vector<std::string> SplitSections(const std::string& format) {
  std::vector<std::string> sections(1);
  char quote = 0;
  for (char c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

struct SectionInfo {
  int int_placeholders = 0;
  int first_zero_int = -1;  // index among the integer placeholders
  int frac_placeholders = 0;
  int last_zero_frac = 0;   // minimum decimals
  bool has_point = false;
  bool thousands = false;
  bool scientific = false;
};

SectionInfo Analyse(const std::string& s) {
  SectionInfo info;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' || c == '\'') {
      std::size_t e = s.find(c, i + 1);
      i = e == std::string::npos ? s.size() : e + 1;
      continue;
    }
    if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      info.scientific = true;
      i += 2;
      while (i < s.size() && s[i] == '0') ++i;
      continue;
    }
    if (c == '0' || c == '#') {
      if (!info.has_point) {
        if (c == '0' && info.first_zero_int < 0) info.first_zero_int = info.int_placeholders;
        ++info.int_placeholders;
      } else {
        ++info.frac_placeholders;
        if (c == '0') info.last_zero_frac = info.frac_placeholders;
      }
    } else if (c == '.' && !info.has_point) {
      info.has_point = true;
    } else if (c == ',' && !info.has_point) {
      info.thousands = true;
    }
    ++i;
  }
  return info;
}

std::string FormatSection(const std::string& s, const SectionInfo& info, Decimal d, bool with_sign) {
  std::string ip, fp;  // integer digits (maybe empty), fraction digits
  int exponent = 0;
  const int max_dec = info.frac_placeholders;
  if (info.scientific) {
    int int_ph = info.int_placeholders > 0 ? info.int_placeholders : 1;
    int total = int_ph + max_dec;
    if (total > 18) total = 18;
    internal::RoundDecimal(d, total, INT_MAX / 2);
    std::string m = d.digits;
    exponent = d.IsZero() ? 0 : d.exponent - int_ph;
    m.resize(static_cast<std::size_t>(int_ph + max_dec), '0');
    ip = m.substr(0, static_cast<std::size_t>(int_ph));
    fp = m.substr(static_cast<std::size_t>(int_ph));
    if (info.int_placeholders == 0) ip.clear();
  } else {
    internal::RoundDecimal(d, 18, max_dec);
    if (d.exponent > 18) return internal::FloatTextOf(d, TFloatFormat::ffGeneral, 18, 0);
    for (int i = 0; i < d.exponent; ++i)
      ip += i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<std::size_t>(i)] : '0';
    for (int k = 0; k < max_dec; ++k) {
      int idx = d.exponent + k;
      fp += (idx >= 0 && idx < static_cast<int>(d.digits.size())) ? d.digits[static_cast<std::size_t>(idx)] : '0';
    }
  }
  int min_int = info.first_zero_int >= 0 ? info.int_placeholders - info.first_zero_int : 0;
  if (info.scientific) min_int = static_cast<int>(ip.size());
  while (static_cast<int>(ip.size()) < min_int) ip.insert(ip.begin(), '0');
  while (static_cast<int>(fp.size()) > info.last_zero_frac && fp.back() == '0') fp.pop_back();

  std::string out;
  if (with_sign && d.negative && !d.IsZero()) out += '-';
  const int L = static_cast<int>(ip.size());
  const bool thousands = info.thousands && !info.scientific;
  auto emit_int_digit = [&](int idx) {
    out += ip[static_cast<std::size_t>(idx)];
    int left = L - 1 - idx;
    if (thousands && left > 0 && left % 3 == 0) out += kThousandSeparator;
  };
  bool int_done = false;
  auto emit_all_int = [&] {
    if (!int_done) {
      for (int k = 0; k < L; ++k) emit_int_digit(k);
      int_done = true;
    }
  };
  int p = 0, f = 0;
  bool after_point = false;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' || c == '\'') {
      std::size_t e = s.find(c, i + 1);
      std::size_t end = e == std::string::npos ? s.size() : e;
      out.append(s, i + 1, end - i - 1);
      i = end == s.size() ? end : end + 1;
      continue;
    }
    if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      if (info.int_placeholders == 0) emit_all_int();
      bool plus = s[i + 1] == '+';
      i += 2;
      int zeros = 0;
      while (i < s.size() && s[i] == '0') {
        ++zeros;
        ++i;
      }
      if (zeros > 4) zeros = 4;
      out += c;
      if (exponent < 0) out += '-';
      else if (plus) out += '+';
      std::string v = std::to_string(exponent < 0 ? -exponent : exponent);
      while (static_cast<int>(v.size()) < zeros) v.insert(v.begin(), '0');
      out += v;
      continue;
    }
    if ((c == '0' || c == '#') && !after_point) {
      int idx = L - info.int_placeholders + p;
      if (p == 0) {
        for (int k = 0; k <= idx && k < L; ++k) emit_int_digit(k);
        if (idx >= L - 1) int_done = true;
      } else if (idx >= 0) {
        emit_int_digit(idx);
      }
      if (p == info.int_placeholders - 1) int_done = true;
      ++p;
    } else if ((c == '0' || c == '#') && after_point) {
      if (f < static_cast<int>(fp.size())) out += fp[static_cast<std::size_t>(f)];
      ++f;
    } else if (c == '.' && !after_point) {
      emit_all_int();
      after_point = true;
      if (!fp.empty()) out += kDecimalSeparator;
    } else if (c == ',' && !after_point) {
      // the thousands flag only
    } else {
      out += c;
    }
    ++i;
  }
  emit_all_int();
  return out;
}

std::string FormatDecimal(const std::string& format, const Decimal& value, TFloatFormat fallback_precision_kind,
                          int fallback_precision) {
  std::vector<std::string> sections = SplitSections(format);
  int index = 0;
  if (value.IsZero() && sections.size() >= 3 && !sections[2].empty()) index = 2;
  else if (value.negative && sections.size() >= 2 && !sections[1].empty()) index = 1;
  const std::string& s = sections[static_cast<std::size_t>(index)];
  if (s.empty()) return internal::FloatTextOf(value, fallback_precision_kind, fallback_precision, 0);
  SectionInfo info = Analyse(s);
  return FormatSection(s, info, value, index == 0);
}

}  // namespace

std::string FormatFloat(const std::string& format, double value) {
  if (std::isnan(value) || std::isinf(value)) return FloatToStr(value);
  return FormatDecimal(format, internal::DoubleToDecimal(value), TFloatFormat::ffGeneral, 15);
}

std::string FormatCurr(const std::string& format, Currency value) {
  return FormatDecimal(format, internal::CurrencyToDecimal(value.value), TFloatFormat::ffGeneral, 19);
}

// ---------------------------------------------------------------------------
// Format.

namespace {

[[noreturn]] void InvalidFormat(const std::string& format) {
  throw EConvertError("Format '" + format + "' invalid or incompatible with argument");
}

[[noreturn]] void ArgumentMissing(const std::string& format) {
  throw EConvertError("No argument for format '" + format + "'");
}

}  // namespace

std::string Format(const std::string& format, std::initializer_list<TVarRec> args) {
  const TVarRec* argv = args.begin();
  const int argc = static_cast<int>(args.size());
  int next = 0;
  std::string out;
  std::size_t i = 0;
  const std::size_t n = format.size();
  auto read_number = [&](int& value) -> bool {
    if (i < n && format[i] == '*') {
      ++i;
      if (next >= argc) ArgumentMissing(format);
      const auto* v = std::get_if<std::int64_t>(&argv[next].value);
      if (!v) InvalidFormat(format);
      value = static_cast<int>(*v);
      ++next;
      return true;
    }
    if (i >= n || format[i] < '0' || format[i] > '9') return false;
    value = 0;
    while (i < n && format[i] >= '0' && format[i] <= '9') {
      if (value < 100000) value = value * 10 + (format[i] - '0');
      ++i;
    }
    return true;
  };
  while (i < n) {
    char c = format[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i < n && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // [index ":"] ["-"] [width] ["." prec] type
    int number = -1;
    bool left = false;
    int width = -1, prec = -1;
    std::size_t save = i;
    if (i < n && format[i] >= '0' && format[i] <= '9' && read_number(number) && i < n && format[i] == ':') {
      ++i;
      next = number;
      number = -1;
    } else {
      i = save;
      number = -1;
    }
    if (i < n && format[i] == '-') {
      left = true;
      ++i;
    }
    read_number(width);
    if (i < n && format[i] == '.') {
      ++i;
      if (!read_number(prec)) prec = 0;
    }
    if (i >= n) InvalidFormat(format);
    char type = static_cast<char>(format[i] >= 'a' && format[i] <= 'z' ? format[i] - 32 : format[i]);
    ++i;
    if (next >= argc) ArgumentMissing(format);
    const FormatArg& a = argv[next++].value;
    std::string text;
    const auto* iv = std::get_if<std::int64_t>(&a);
    const auto* uv = std::get_if<std::uint64_t>(&a);
    const auto* dv = std::get_if<double>(&a);
    const auto* sv = std::get_if<std::string>(&a);
    const auto* cv = std::get_if<Currency>(&a);
    auto min_digits = [&](std::string digits) {
      bool neg = !digits.empty() && digits[0] == '-';
      if (neg) digits.erase(digits.begin());
      while (prec > 0 && static_cast<int>(digits.size()) < prec) digits.insert(digits.begin(), '0');
      return neg ? "-" + digits : digits;
    };
    switch (type) {
      case 'D':
        if (iv) text = min_digits(std::to_string(*iv));
        else if (uv) text = min_digits(std::to_string(*uv));
        else InvalidFormat(format);
        break;
      case 'U':
        if (iv) {
          std::uint64_t u = *iv >= INT32_MIN && *iv < 0 ? static_cast<std::uint32_t>(*iv) : static_cast<std::uint64_t>(*iv);
          text = min_digits(std::to_string(u));
        } else if (uv) {
          text = min_digits(std::to_string(*uv));
        } else {
          InvalidFormat(format);
        }
        break;
      case 'X':
        if (iv) {
          std::uint64_t u = *iv >= INT32_MIN && *iv <= INT32_MAX ? static_cast<std::uint32_t>(*iv) : static_cast<std::uint64_t>(*iv);
          text = IntToHexU(u, prec > 0 ? prec : 0);
        } else if (uv) {
          text = IntToHexU(*uv, prec > 0 ? prec : 0);
        } else {
          InvalidFormat(format);
        }
        break;
      case 'S':
        if (!sv) InvalidFormat(format);
        text = *sv;
        if (prec >= 0 && static_cast<int>(text.size()) > prec) text.resize(static_cast<std::size_t>(prec));
        break;
      case 'E': case 'F': case 'G': case 'N': case 'M': {
        Decimal d;
        bool nan_inf = false;
        if (dv) {
          if (!std::isfinite(*dv)) nan_inf = true;
          else d = internal::DoubleToDecimal(*dv);
        } else if (cv) {
          d = internal::CurrencyToDecimal(cv->value);
        } else {
          InvalidFormat(format);
        }
        if (nan_inf) {
          text = FloatToStr(*dv);
          break;
        }
        const int max_prec = cv ? 19 : 18;
        switch (type) {
          case 'E': text = internal::FloatTextOf(d, TFloatFormat::ffExponent, prec < 0 ? 15 : (prec < 1 ? 1 : std::min(prec, max_prec)), 3); break;
          case 'F': text = internal::FloatTextOf(d, TFloatFormat::ffFixed, max_prec, prec < 0 ? 2 : prec); break;
          case 'G': text = internal::FloatTextOf(d, TFloatFormat::ffGeneral, prec < 0 ? 15 : (prec < 1 ? 1 : std::min(prec, max_prec)), 0); break;
          case 'N': text = internal::FloatTextOf(d, TFloatFormat::ffNumber, max_prec, prec < 0 ? 2 : prec); break;
          default: text = internal::FloatTextOf(d, TFloatFormat::ffCurrency, max_prec, prec < 0 ? kCurrencyDecimals : prec); break;
        }
        break;
      }
      default:
        InvalidFormat(format);
    }
    if (width > 0 && static_cast<int>(text.size()) < width) {
      std::string pad(static_cast<std::size_t>(width) - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

}  // namespace fw
