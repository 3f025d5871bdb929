#include "storage/expression_types.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "framework/sysutils.h"
#include "storage/value_text.h"

namespace storage {

namespace {

using T = FieldType;
using Op = ExprOperator;

bool IsInt(T t) { return IsIntegerType(t); }
bool IsDateOrStamp(T t) { return t == T::kDate || t == T::kTimestamp; }

// Types that = and <> accept on the left of the NULL literal.
bool IsComparable(T t) {
  return t == T::kString || IsDateOrStamp(t) || t == T::kBoolean || IsNumericType(t) ||
         t == T::kTime;
}

bool OrderingAllowed(T l, T r) {
  return (l == T::kString && r == T::kString) || (IsDateOrStamp(l) && IsDateOrStamp(r)) ||
         (l == T::kBoolean && r == T::kBoolean) || (IsNumericType(l) && IsNumericType(r)) ||
         (l == T::kTime && r == T::kTime);
}

// Arithmetic result types, one row of the rule table per branch. kNone
// where the combination is not allowed.
T AddType(T l, T r) {
  if (l == T::kString) return r == T::kString ? T::kString : T::kNone;
  if (l == T::kDate) return IsInt(r) ? T::kDate : T::kNone;
  if (IsInt(l)) {
    if (r == T::kDate) return T::kDate;
    if (IsInt(r)) return T::kInteger;
    if (r == T::kFloat) return T::kFloat;
    if (r == T::kCurrency) return T::kCurrency;
    if (r == T::kTime) return T::kTime;
    if (r == T::kTimestamp) return T::kTimestamp;
    return T::kNone;
  }
  if (l == T::kFloat) return IsNumericType(r) ? T::kFloat : T::kNone;
  if (l == T::kCurrency) {
    if (IsInt(r) || r == T::kCurrency) return T::kCurrency;
    return r == T::kFloat ? T::kFloat : T::kNone;
  }
  if (l == T::kTime) return IsInt(r) ? T::kTime : T::kNone;
  if (l == T::kTimestamp) return IsInt(r) ? T::kTimestamp : T::kNone;
  return T::kNone;
}

T SubtractType(T l, T r) {
  if (l == T::kDate) {
    if (r == T::kDate) return T::kInteger;
    return IsInt(r) ? T::kDate : T::kNone;
  }
  if (l == T::kSmallInt || l == T::kInteger || l == T::kWord) {
    const T int_result = l == T::kWord ? T::kWord : T::kInteger;
    if (IsInt(r)) return int_result;
    if (r == T::kFloat) return T::kFloat;
    if (r == T::kCurrency) return T::kCurrency;
    return T::kNone;
  }
  if (l == T::kFloat) return IsNumericType(r) ? T::kFloat : T::kNone;
  if (l == T::kCurrency) {
    if (IsInt(r) || r == T::kCurrency) return T::kCurrency;
    return r == T::kFloat ? T::kFloat : T::kNone;
  }
  if (l == T::kTime) {
    if (r == T::kTime) return T::kInteger;
    return IsInt(r) ? T::kTime : T::kNone;
  }
  if (l == T::kTimestamp) {
    if (IsDateTimeType(r)) return T::kInteger;
    return IsInt(r) ? T::kTimestamp : T::kNone;
  }
  return T::kNone;
}

T MultiplyType(T l, T r) {
  if (IsInt(l)) {
    if (IsInt(r)) return T::kInteger;
    if (r == T::kFloat) return T::kFloat;
    return r == T::kCurrency ? T::kCurrency : T::kNone;
  }
  if (l == T::kFloat) return IsNumericType(r) ? T::kFloat : T::kNone;
  if (l == T::kCurrency) {
    if (IsInt(r) || r == T::kCurrency) return T::kCurrency;
    return r == T::kFloat ? T::kFloat : T::kNone;
  }
  return T::kNone;
}

T DivideType(T l, T r) {
  if (IsInt(l)) {
    if (IsInt(r) || r == T::kFloat) return T::kFloat;
    return r == T::kCurrency ? T::kCurrency : T::kNone;
  }
  return MultiplyType(l, r);  // float and currency rows are the same as for *
}

template <class I>
I SaturateTo(std::int64_t v) {
  return static_cast<I>(std::clamp<std::int64_t>(v, std::numeric_limits<I>::min(),
                                                 std::numeric_limits<I>::max()));
}

// Currency count to whole units, halves away from zero.
std::int64_t CurrencyToWhole(std::int64_t c) {
  std::int64_t q = c / kCurrencyScale;
  const std::int64_t r = c % kCurrencyScale;
  if (r >= kCurrencyScale / 2) ++q;
  if (r <= -kCurrencyScale / 2) --q;
  return q;
}

// Integer read from a value of an integer type (int16, int32, word).
std::int64_t LoadInteger(T type, const std::uint8_t* p) {
  switch (type) {
    case T::kSmallInt: return LoadLittle<std::int16_t>(p);
    case T::kInteger: return LoadLittle<std::int32_t>(p);
    default: return LoadLittle<std::uint16_t>(p);
  }
}

// Integer target from a source of integer, float or currency type. Integer
// sources keep their low bits (as a cast does); float and currency sources
// are rounded and saturate.
template <class I>
bool ConvertToInteger(T src, const std::uint8_t* p, I& out) {
  if (IsInt(src)) {
    out = static_cast<I>(LoadInteger(src, p));
  } else if (src == T::kFloat) {
    out = SaturateTo<I>(RoundToInt64(LoadLittle<double>(p)));
  } else if (src == T::kCurrency) {
    out = SaturateTo<I>(CurrencyToWhole(LoadLittle<std::int64_t>(p)));
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::int64_t RoundToInt64(double x) {
  if (std::isnan(x)) return 0;
  const double r = std::round(x);  // halves away from zero
  if (r >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (r <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(r);
}

std::size_t NodeValueWidth(FieldType type) {
  switch (type) {
    case T::kBoolean:
    case T::kSmallInt:
    case T::kWord: return 2;
    case T::kDate:
    case T::kInteger:
    case T::kTime: return 4;
    case T::kFloat:
    case T::kCurrency:
    case T::kTimestamp: return 8;
    default: return 0;
  }
}

std::int64_t TimestampDays(double msecs) {
  const std::int64_t ms = RoundToInt64(msecs);
  const std::int64_t day = static_cast<std::int64_t>(kMSecsPerDay);
  std::int64_t d = ms / day;
  if (ms % day < 0) --d;
  return d;
}

std::int64_t TimestampTimeOfDay(double msecs) {
  const std::int64_t ms = RoundToInt64(msecs);
  const std::int64_t day = static_cast<std::int64_t>(kMSecsPerDay);
  std::int64_t t = ms % day;
  if (t < 0) t += day;
  return t;
}

bool UnaryOperandAllowed(ExprOperator op, FieldType type) {
  return (op == Op::kIsNull || op == Op::kIsNotNull || op == Op::kNot) && type == T::kBoolean;
}

FieldType BinaryResultType(ExprOperator op, FieldType l, FieldType r) {
  switch (op) {
    case Op::kEqual:
    case Op::kNotEqual:
      if (OrderingAllowed(l, r) || (IsComparable(l) && r == T::kNone)) return T::kBoolean;
      return T::kNone;
    case Op::kGreater:
    case Op::kLess:
    case Op::kGreaterEqual:
    case Op::kLessEqual: return OrderingAllowed(l, r) ? T::kBoolean : T::kNone;
    case Op::kAnd:
    case Op::kOr: return l == T::kBoolean && r == T::kBoolean ? T::kBoolean : T::kNone;
    case Op::kAdd: return AddType(l, r);
    case Op::kSubtract: return SubtractType(l, r);
    case Op::kMultiply: return MultiplyType(l, r);
    case Op::kDivide: return DivideType(l, r);
    default: return T::kNone;
  }
}

bool BinaryOperandsAllowed(ExprOperator op, FieldType l, FieldType r) {
  return BinaryResultType(op, l, r) != T::kNone;
}

std::uint8_t BinaryResultSubtype(ExprOperator op, FieldType /*left_type*/,
                                 std::uint8_t left_subtype, std::uint8_t right_subtype,
                                 FieldType right_type) {
  constexpr std::uint8_t kMoney = SubtypeCode(FieldSubtype::kMoney);
  switch (op) {
    case Op::kAdd:
    case Op::kMultiply:
      if (left_subtype == 0) return right_subtype == kMoney ? kMoney : 0;
      if (left_subtype == kMoney) return IsNumericType(right_type) ? kMoney : 0;
      return 0;
    case Op::kSubtract:
    case Op::kDivide:
      if (left_subtype == kMoney) return IsNumericType(right_type) ? kMoney : 0;
      return 0;
    default: return 0;
  }
}

void ConvertExpressionValue(const TExpressionNode& source,
                            std::span<const std::uint8_t> source_value,
                            const TExpressionNode& target, std::span<std::uint8_t> dest) {
  const T from = source.type;
  const T to = target.type;
  if (from == to) {
    if (from == T::kString) {
      // Up to the terminator, bounded by both areas and the value limit.
      const std::size_t limit = std::min({source_value.size(), kMaxValueChars + 1, dest.size()});
      if (limit == 0) return;
      std::size_t n = 0;
      while (n < limit - 1 && source_value[n] != 0) ++n;
      std::memcpy(dest.data(), source_value.data(), n);
      dest[n] = 0;
    } else {
      std::size_t n = NodeValueWidth(from);
      if (n == 0) n = std::min<std::size_t>(source.size, kNodeValueSize);
      n = std::min({n, source_value.size(), dest.size()});
      std::memcpy(dest.data(), source_value.data(), n);
    }
    return;
  }
  // Every rule reads at most 8 bytes of the source and writes at most 8.
  const std::size_t in = NodeValueWidth(from);
  const std::size_t out = NodeValueWidth(to);
  if (in == 0 || out == 0 || source_value.size() < in || dest.size() < out) return;
  const std::uint8_t* p = source_value.data();
  std::uint8_t* d = dest.data();
  switch (to) {
    case T::kDate:
      if (from == T::kTimestamp) {
        StoreLittle<std::uint32_t>(d, static_cast<std::uint32_t>(
                                          TimestampDays(LoadLittle<double>(p))));
      }
      break;
    case T::kSmallInt: {
      std::int16_t v;
      if (ConvertToInteger(from, p, v)) StoreLittle(d, v);
      break;
    }
    case T::kInteger: {
      std::int32_t v;
      if (ConvertToInteger(from, p, v)) StoreLittle(d, v);
      break;
    }
    case T::kWord: {
      std::uint16_t v;
      if (ConvertToInteger(from, p, v)) StoreLittle(d, v);
      break;
    }
    case T::kFloat:
      if (IsInt(from)) {
        StoreLittle<double>(d, static_cast<double>(LoadInteger(from, p)));
      } else if (from == T::kCurrency) {
        StoreLittle<double>(d, static_cast<double>(LoadLittle<std::int64_t>(p)) /
                                   static_cast<double>(kCurrencyScale));
      }
      break;
    case T::kCurrency:
      if (IsInt(from)) {
        StoreLittle<std::int64_t>(d, LoadInteger(from, p) * kCurrencyScale);
      } else if (from == T::kFloat) {
        // Rounded to the currency's four decimals as decimal text would be,
        // then counted in 1/10000.
        const double units = FormatFloatDigits(LoadLittle<double>(p), 4);
        StoreLittle<std::int64_t>(d, RoundToInt64(units * static_cast<double>(kCurrencyScale)));
      }
      break;
    case T::kTimestamp:
      if (from == T::kDate) {
        StoreLittle<double>(d, static_cast<double>(LoadLittle<std::uint32_t>(p)) * kMSecsPerDay);
      }
      break;
    default: break;
  }
}

bool ConvertDateLiteral(std::span<std::uint8_t> value, FieldType target_type) {
  if (target_type != T::kDate && target_type != T::kTime && target_type != T::kTimestamp) {
    return true;
  }
  const std::size_t limit = std::min(value.size(), kMaxValueChars);
  std::size_t n = 0;
  while (n < limit && value[n] != 0) ++n;
  const std::string text(reinterpret_cast<const char*>(value.data()), n);
  fw::TDateTime dt = 0;
  switch (target_type) {
    case T::kDate: {
      if (!fw::TryStrToDate(text, dt) || value.size() < 4) return false;
      const fw::TTimeStamp ts = fw::DateTimeToTimeStamp(dt);
      StoreLittle<std::uint32_t>(value.data(), static_cast<std::uint32_t>(ts.Date));
      return true;
    }
    case T::kTime: {
      if (!fw::TryStrToTime(text, dt) || value.size() < 4) return false;
      const fw::TTimeStamp ts = fw::DateTimeToTimeStamp(dt);
      StoreLittle<std::uint32_t>(value.data(), static_cast<std::uint32_t>(ts.Time));
      return true;
    }
    default: {
      if (!fw::TryStrToDateTime(text, dt) || value.size() < 8) return false;
      const fw::TTimeStamp ts = fw::DateTimeToTimeStamp(dt);
      StoreLittle<double>(value.data(),
                          static_cast<double>(ts.Date) * kMSecsPerDay + ts.Time);
      return true;
    }
  }
}

}  // namespace storage
