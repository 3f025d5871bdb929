#include "storage/expression_eval.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>
#include <string>

#include "framework/sysutils.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "storage/engine_error.h"
#include "storage/expression_types.h"
#include "storage/like_pattern.h"
#include "storage/value_text.h"

namespace storage {

namespace {

using T = FieldType;
using Op = ExprOperator;

// Last day number of the calendar (9999-12-31), day 1 being 0001-01-01.
constexpr std::int64_t kMaxDayNumber = 3652059;

// ---------------------------------------------------------------- operand reads
// A null operand reads as zero (an empty string) wherever its value is used.

std::string_view Str(const TExpressionNode& n) {
  return n.null ? std::string_view() : NodeString(n);
}
template <class V>
V Val(const TExpressionNode& n) {
  return n.null ? V{} : NodeValue<V>(n);
}
bool Truth(const TExpressionNode& n) { return Val<std::uint16_t>(n) != 0; }

std::int64_t IntOf(const TExpressionNode& n) {
  switch (n.type) {
    case T::kSmallInt: return Val<std::int16_t>(n);
    case T::kInteger: return Val<std::int32_t>(n);
    default: return Val<std::uint16_t>(n);  // word
  }
}

// A numeric operand: integers exactly, currency as its count of 1/10000.
struct Number {
  enum Kind { kInt, kFloat, kCurrency } kind;
  std::int64_t i;  // integer value, or currency count
  double f;
};

Number NumOf(const TExpressionNode& n) {
  if (n.type == T::kFloat) return {Number::kFloat, 0, Val<double>(n)};
  if (n.type == T::kCurrency) return {Number::kCurrency, Val<std::int64_t>(n), 0};
  return {Number::kInt, IntOf(n), 0};
}

// Plain value as a double (currency in units).
double AsDouble(const Number& x) {
  switch (x.kind) {
    case Number::kFloat: return x.f;
    case Number::kCurrency: return static_cast<double>(x.i) / static_cast<double>(kCurrencyScale);
    default: return static_cast<double>(x.i);
  }
}

// Currency count of an integer or currency operand.
__int128 AsCount(const Number& x) {
  return x.kind == Number::kCurrency ? static_cast<__int128>(x.i)
                                     : static_cast<__int128>(x.i) * kCurrencyScale;
}

template <class V>
int Sign(V a, V b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareNumbers(const Number& a, const Number& b) {
  if (a.kind == Number::kInt && b.kind == Number::kInt) return Sign(a.i, b.i);
  if (a.kind != Number::kFloat && b.kind != Number::kFloat) return Sign(AsCount(a), AsCount(b));
  if (a.kind == Number::kCurrency || b.kind == Number::kCurrency) {
    // Compared on the currency scale: the other side times 10000.
    auto scaled = [](const Number& x) {
      return x.kind == Number::kCurrency ? static_cast<double>(x.i)
                                         : AsDouble(x) * static_cast<double>(kCurrencyScale);
    };
    return Sign(scaled(a), scaled(b));
  }
  return Sign(AsDouble(a), AsDouble(b));
}

double DateTimeMSecs(const TExpressionNode& n) {
  if (n.type == T::kDate) return static_cast<double>(Val<std::uint32_t>(n)) * kMSecsPerDay;
  return Val<double>(n);
}

bool ComparableTypes(T l, T r) {
  return BinaryResultType(Op::kLess, l, r) == T::kBoolean;
}

// REQUIRES: ComparableTypes(l.type, r.type).
int CompareValues(const TExpressionNode& l, const TExpressionNode& r, std::uint8_t language,
                  std::uint8_t sort) {
  const T lt = l.type;
  const T rt = r.type;
  if (lt == T::kString) return CompareStrings(language, sort, Str(l), false, 0, Str(r));
  if ((lt == T::kDate && rt == T::kDate) || lt == T::kTime) {
    return Sign(Val<std::uint32_t>(l), Val<std::uint32_t>(r));
  }
  if (lt == T::kDate || lt == T::kTimestamp) return Sign(DateTimeMSecs(l), DateTimeMSecs(r));
  if (lt == T::kBoolean) return Sign(Truth(l), Truth(r));
  return CompareNumbers(NumOf(l), NumOf(r));
}

void SetBooleanResult(TExpressionNode& result, bool b) {
  result.type = T::kBoolean;
  result.subtype = 0;
  result.null = 0;
  SetNodeBoolean(result, b);
}

void SetNullResult(TExpressionNode& result) {
  result.null = 1;
  result.value.fill(0);
}

// ---------------------------------------------------------------- arithmetic

template <class V>
void Store(TExpressionNode& result, T type, V v) {
  result.type = type;
  result.null = 0;
  SetNodeValue<V>(result, v);
}

// 128-bit quotient rounded half away from zero, saturated to 64 bits.
std::int64_t DivideRounded(__int128 num, __int128 den) {
  __int128 q = num / den;
  const __int128 r = num % den;
  const __int128 ar = r < 0 ? -r : r;
  const __int128 ad = den < 0 ? -den : den;
  if (2 * ar >= ad) q += ((num < 0) != (den < 0)) ? -1 : 1;
  constexpr __int128 kMax = std::numeric_limits<std::int64_t>::max();
  constexpr __int128 kMin = std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(std::clamp(q, kMin, kMax));
}

// Currency result: counts computed exactly in 128 bits, rounded to the
// decimals of the currency operands, saturated to 64 bits.
bool CurrencyArithmetic(Op op, const TExpressionNode& l, const TExpressionNode& r,
                        TExpressionNode& result) {
  const Number a = NumOf(l);
  const Number b = NumOf(r);
  const __int128 ca = AsCount(a);
  const __int128 cb = AsCount(b);
  std::int64_t count = 0;
  switch (op) {
    case Op::kAdd: count = DivideRounded(ca + cb, 1); break;
    case Op::kSubtract: count = DivideRounded(ca - cb, 1); break;
    case Op::kMultiply:
      // Integer x currency multiplies the count; currency x currency
      // carries the scale twice.
      if (a.kind == Number::kInt) {
        count = DivideRounded(static_cast<__int128>(a.i) * cb, 1);
      } else if (b.kind == Number::kInt) {
        count = DivideRounded(ca * b.i, 1);
      } else {
        count = DivideRounded(ca * cb, kCurrencyScale);
      }
      break;
    case Op::kDivide:
      if (cb == 0) return false;
      if (b.kind == Number::kInt) {
        count = DivideRounded(ca, b.i);
      } else {
        count = DivideRounded(ca * kCurrencyScale, cb);
      }
      break;
    default: return true;
  }
  int decimals = 0;
  if (l.type == T::kCurrency) decimals = l.decimals;
  if (r.type == T::kCurrency) decimals = std::max<int>(decimals, r.decimals);
  Store<std::int64_t>(result, T::kCurrency, FormatCurrencyDigits(count, std::min(decimals, 4)));
  return true;
}

void Arithmetic(Op op, const TExpressionNode& l, const TExpressionNode& r,
                TExpressionNode& result) {
  const T lt = l.type;
  const T rt = r.type;
  const T type = BinaryResultType(op, lt, rt);
  if (type == T::kNone) return;
  result.subtype = BinaryResultSubtype(op, lt, l.subtype, r.subtype, rt);
  const double kDay = kMSecsPerDay;

  if (type == T::kString) {
    const std::string_view a = Str(l);
    const std::string_view b = Str(r);
    const std::size_t na = std::min(a.size(), kMaxValueChars);
    const std::size_t nb = std::min(b.size(), kMaxValueChars - na);
    // result is a node of its own, never l or r: no overlap.
    std::copy_n(a.data(), na, reinterpret_cast<char*>(result.value.data()));
    std::copy_n(b.data(), nb, reinterpret_cast<char*>(result.value.data()) + na);
    result.value[na + nb] = 0;
    result.type = T::kString;
    result.null = 0;
    return;
  }

  // Dates, times and timestamps on either side.
  if (IsDateTimeType(lt) || IsDateTimeType(rt)) {
    if (op == Op::kAdd) {
      const TExpressionNode& dt = IsDateTimeType(lt) ? l : r;
      const std::int64_t n = IntOf(IsDateTimeType(lt) ? r : l);
      if (type == T::kDate) {
        Store<std::uint32_t>(result, type, static_cast<std::uint32_t>(Val<std::uint32_t>(dt) + n));
      } else if (type == T::kTime) {
        Store<std::uint32_t>(result, type, static_cast<std::uint32_t>(Val<std::uint32_t>(dt) + n));
      } else {
        Store<double>(result, type, Val<double>(dt) + static_cast<double>(n) * kDay);
      }
      return;
    }
    // Subtraction: the left side is the date, time or timestamp.
    if (IsIntegerType(rt)) {
      const std::int64_t n = IntOf(r);
      if (lt == T::kTimestamp) {
        Store<double>(result, type, Val<double>(l) - static_cast<double>(n) * kDay);
      } else {
        Store<std::uint32_t>(result, type, static_cast<std::uint32_t>(Val<std::uint32_t>(l) - n));
      }
      return;
    }
    std::int64_t diff = 0;
    if (lt == T::kTimestamp) {
      const double ts = Val<double>(l);
      if (rt == T::kDate) {
        diff = TimestampDays(ts) - Val<std::uint32_t>(r);
      } else if (rt == T::kTimestamp) {
        diff = TimestampDays(ts) - TimestampDays(Val<double>(r));
      } else {
        diff = TimestampTimeOfDay(ts) - static_cast<std::int64_t>(Val<std::uint32_t>(r));
      }
    } else {
      diff = static_cast<std::int64_t>(Val<std::uint32_t>(l)) - Val<std::uint32_t>(r);
    }
    Store<std::int32_t>(result, T::kInteger, static_cast<std::int32_t>(diff));
    return;
  }

  if (type == T::kCurrency) {
    if (!CurrencyArithmetic(op, l, r, result)) {
      result.type = T::kCurrency;
      SetNullResult(result);
    }
    return;
  }

  if (type == T::kFloat) {
    const double a = AsDouble(NumOf(l));
    const double b = AsDouble(NumOf(r));
    double v = 0;
    switch (op) {
      case Op::kAdd: v = a + b; break;
      case Op::kSubtract: v = a - b; break;
      case Op::kMultiply: v = a * b; break;
      default:
        if (b == 0) {
          result.type = T::kFloat;
          SetNullResult(result);
          return;
        }
        v = a / b;
        break;
    }
    Store<double>(result, T::kFloat, v);
    if (std::isnan(v)) SetNullResult(result);  // infinity - infinity, 0 x infinity
    return;
  }

  // int32 and word results from integer operands: 64-bit arithmetic, the
  // low 32 or 16 bits kept.
  const std::int64_t a = IntOf(l);
  const std::int64_t b = IntOf(r);
  std::int64_t v = 0;
  switch (op) {
    case Op::kAdd: v = a + b; break;
    case Op::kSubtract: v = a - b; break;
    case Op::kMultiply: v = a * b; break;
    default: return;  // integer / integer is a float
  }
  if (type == T::kWord) {
    Store<std::uint16_t>(result, T::kWord, static_cast<std::uint16_t>(v));
  } else {
    Store<std::int32_t>(result, T::kInteger, static_cast<std::int32_t>(v));
  }
}

// ---------------------------------------------------------------- the walk

class Evaluator {
 public:
  Evaluator(const FieldCallback& field, std::uint8_t language, std::uint8_t sort)
      : field_(field), language_(language), sort_(sort) {}

  void Eval(const TExpressionNode& node, TExpressionNode& result, int depth) const {
    if (depth > kMaxExpressionDepth) EngineError(ErrorCode::kInvalidFilterExpression);
    CopyNodeFields(node, result);
    switch (node.kind) {
      case NodeKind::kUnary: {
        if (!node.left) break;
        TExpressionNode l;
        Eval(*node.left, l, depth + 1);
        EvaluateUnary(node.op, l, result);
        break;
      }
      case NodeKind::kBinary:
      case NodeKind::kStringCompare: {
        if (!node.left || !node.right) break;
        if (IsChainLink(node)) {
          Chain(node, result, depth);
          break;
        }
        TExpressionNode l;
        TExpressionNode r;
        Eval(*node.left, l, depth + 1);
        Eval(*node.right, r, depth + 1);
        if (node.kind == NodeKind::kBinary) {
          EvaluateBinary(node.op, l, r, language_, sort_, result);
        } else {
          EvaluateStringCompare(node.op, node.partial_length, node.case_insensitive != 0, l, r,
                                language_, sort_, result);
        }
        break;
      }
      case NodeKind::kField:
        if (field_) field_(result);
        break;
      case NodeKind::kFunction: Function(node, result, depth); break;
      case NodeKind::kExtendedPredicate: Predicate(node, result, depth); break;
      default: break;  // constants are their own value
    }
    result.kind = NodeKind::kConstant;
  }

 private:
  // The operands of a chain of AND or of OR links (expression_node.h) are
  // evaluated in a loop, one level below the chain, so that its length
  // costs no stack. Every operand is evaluated, as the two operands of a
  // single link are. Walking down one side of a link needs no memory; only
  // a link both of whose sides are links of the chain leaves one for later.
  void Chain(const TExpressionNode& root, TExpressionNode& result, int depth) const {
    const bool is_and = root.op == Op::kAnd;
    bool truth = is_and;
    TExpressionNode operand;
    std::vector<const TExpressionNode*> later;
    auto in_chain = [&](const TExpressionNode& n) { return IsChainLink(n) && n.op == root.op; };
    auto take = [&](const TExpressionNode& n) {
      Eval(n, operand, depth + 1);
      if (Truth(operand) != is_and) truth = !is_and;
    };
    const TExpressionNode* link = &root;
    while (true) {
      const TExpressionNode& l = *link->left;
      const TExpressionNode& r = *link->right;
      const bool l_link = in_chain(l);
      const bool r_link = in_chain(r);
      if (!l_link) take(l);
      if (!r_link) take(r);
      if (l_link && r_link) later.push_back(&r);
      if (l_link) {
        link = &l;
      } else if (r_link) {
        link = &r;
      } else if (!later.empty()) {
        link = later.back();
        later.pop_back();
      } else {
        break;
      }
    }
    SetBooleanResult(result, truth);
  }

  void Function(const TExpressionNode& node, TExpressionNode& result, int depth) const {
    if (!node.left) return;
    switch (node.op) {
      case Op::kSum:
      case Op::kCount:
      case Op::kMin:
      case Op::kMax:
      case Op::kAvg: Eval(*node.left, result, depth + 1); break;
      case Op::kUpper:
      case Op::kLower:
        Eval(*node.left, result, depth + 1);
        if (node.op == Op::kUpper) {
          UpperCaseValue(result, language_, sort_);
        } else {
          LowerCaseValue(result, language_, sort_);
        }
        break;
      case Op::kSubstring: {
        Eval(*node.left, result, depth + 1);
        const std::string_view s = NodeString(result);
        // FROM counts from 1; 0 reads as 1. Without FOR, the rest.
        std::uint64_t start = node.right ? NodeValue<std::uint32_t>(*node.right) : 1;
        if (start == 0) start = 1;
        std::uint64_t count = s.size();
        if (node.right && node.right->right) count = NodeValue<std::uint32_t>(*node.right->right);
        std::string_view part;
        if (start <= s.size()) part = s.substr(start - 1, std::min<std::uint64_t>(count, s.size()));
        if (!part.empty()) std::memmove(result.value.data(), part.data(), part.size());
        result.value[part.size()] = 0;
        result.type = T::kString;
        break;
      }
      case Op::kTrimLeading:
      case Op::kTrimTrailing:
      case Op::kTrimBoth: {
        Eval(*node.left, result, depth + 1);
        std::string_view s = NodeString(result);
        const std::string_view c = node.right ? NodeString(*node.right) : std::string_view();
        if (!c.empty() && (node.right->type == T::kString)) {
          if (node.op != Op::kTrimTrailing) {
            while (!s.empty() && s.front() == c.front()) s.remove_prefix(1);
          }
          if (node.op != Op::kTrimLeading) {
            while (!s.empty() && s.back() == c.front()) s.remove_suffix(1);
          }
        }
        if (!s.empty()) std::memmove(result.value.data(), s.data(), s.size());  // may overlap
        result.value[s.size()] = 0;
        result.type = T::kString;
        break;
      }
      case Op::kExtractYear:
      case Op::kExtractMonth:
      case Op::kExtractDay: {
        Eval(*node.left, result, depth + 1);
        std::int64_t day = 0;
        if (result.type == T::kDate) {
          day = Val<std::uint32_t>(result);
        } else if (result.type == T::kTimestamp) {
          day = TimestampDays(Val<double>(result));
        }
        const bool valid = result.null == 0 && day >= 1 && day <= kMaxDayNumber;
        result.type = T::kInteger;
        result.subtype = 0;
        result.size = 4;
        result.value.fill(0);
        if (!valid) {
          result.null = 1;
          break;
        }
        int y = 0, m = 0, d = 0;
        fw::DecodeDate(static_cast<double>(day - fw::kDateDelta), y, m, d);
        const int part = node.op == Op::kExtractYear ? y : node.op == Op::kExtractMonth ? m : d;
        SetNodeValue<std::uint32_t>(result, static_cast<std::uint32_t>(part));
        break;
      }
      default: break;
    }
  }

  void Predicate(const TExpressionNode& node, TExpressionNode& result, int depth) const {
    if (!node.left) return;
    TExpressionNode l;
    TExpressionNode item;
    Eval(*node.left, l, depth + 1);
    switch (node.op) {
      case Op::kLike:
      case Op::kNotLike: {
        if (!node.right) return;
        Eval(*node.right, item, depth + 1);
        bool match = l.null == 0 && item.null == 0 && l.type == T::kString &&
                     item.type == T::kString && MatchLikePattern(NodeString(l), NodeString(item));
        SetBooleanResult(result, node.op == Op::kLike ? match : !match);
        return;
      }
      case Op::kIn:
      case Op::kNotIn: {
        result.type = T::kBoolean;
        SetNodeBoolean(result, false);
        for (const TExpressionNode* e = node.right.get(); e != nullptr; e = e->right.get()) {
          Eval(*e, item, depth + 1);
          EvaluateBinary(Op::kEqual, l, item, language_, sort_, result);
          if (Truth(result)) break;
        }
        const bool in = Truth(result);
        SetBooleanResult(result, node.op == Op::kIn ? in : !in);
        return;
      }
      case Op::kBetween:
      case Op::kNotBetween: {
        result.type = T::kBoolean;
        SetNodeBoolean(result, false);
        const TExpressionNode* low = node.right.get();
        if (low != nullptr) {
          Eval(*low, item, depth + 1);
          EvaluateBinary(Op::kGreaterEqual, l, item, language_, sort_, result);
          if (Truth(result) && low->right) {
            Eval(*low->right, item, depth + 1);
            EvaluateBinary(Op::kLessEqual, l, item, language_, sort_, result);
          }
        }
        const bool between = Truth(result);
        SetBooleanResult(result, node.op == Op::kBetween ? between : !between);
        return;
      }
      default: return;
    }
  }

  const FieldCallback& field_;
  std::uint8_t language_;
  std::uint8_t sort_;
};

platform::LCID LocaleId(std::uint8_t language, std::uint8_t sort) {
  return static_cast<platform::LCID>(language) + static_cast<platform::LCID>(sort) * 65536u;
}

void MapCase(TExpressionNode& node, std::uint8_t language, std::uint8_t sort, bool upper) {
  if (node.type != T::kString) return;
  const std::string_view s = NodeString(node);
  if (language != 0) {
    std::string mapped;
    if (platform::LCMapStringA(LocaleId(language, sort),
                               upper ? platform::LCMAP_UPPERCASE : platform::LCMAP_LOWERCASE, s,
                               mapped)) {
      SetNodeString(node, mapped);
      return;
    }
  }
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    node.value[i] = upper ? platform::AnsiUpperChar(c) : platform::AnsiLowerChar(c);
  }
}

}  // namespace

int CompareStrings(std::uint8_t language, std::uint8_t sort, std::string_view s1,
                   bool case_insensitive, std::uint8_t partial_length, std::string_view s2) {
  if (language != 0) {
    const std::string_view a = partial_length ? s1.substr(0, partial_length) : s1;
    const std::string_view b = partial_length ? s2.substr(0, partial_length) : s2;
    const int r = platform::CompareStringA(LocaleId(language, sort),
                                           case_insensitive ? platform::NORM_IGNORECASE : 0, a, b);
    if (r != 0) return r - 2;
    // A locale that is not installed falls back to byte order.
  }
  const std::size_t n = partial_length ? partial_length : std::max(s1.size(), s2.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto a = static_cast<unsigned char>(i < s1.size() ? s1[i] : 0);
    auto b = static_cast<unsigned char>(i < s2.size() ? s2[i] : 0);
    if (case_insensitive) {
      a = platform::AnsiUpperChar(a);
      b = platform::AnsiUpperChar(b);
    }
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;  // both ended
  }
  return 0;
}

namespace {

// A float or timestamp value that is NaN: null with the value 0, wherever
// it came from (field_types.h).
bool IsNanValue(const TExpressionNode& n) {
  return n.null == 0 && IsNotANumber(n.type, n.value.data());
}

void CopyAsNull(const TExpressionNode& from, TExpressionNode& to) {
  CopyNodeFields(from, to);
  if (!IsNanValue(to)) return;
  to.null = 1;
  to.value.fill(0);
}

}  // namespace

void EvaluateUnary(ExprOperator op, const TExpressionNode& l, TExpressionNode& result) {
  switch (op) {
    case Op::kIsNull: SetBooleanResult(result, l.null != 0 || IsNanValue(l)); break;
    case Op::kIsNotNull: SetBooleanResult(result, l.null == 0 && !IsNanValue(l)); break;
    case Op::kNot: SetBooleanResult(result, !Truth(l)); break;
    default: break;
  }
}

void EvaluateBinary(ExprOperator op, const TExpressionNode& l, const TExpressionNode& r,
                    std::uint8_t language, std::uint8_t sort, TExpressionNode& result) {
  if (IsNanValue(l) || IsNanValue(r)) {
    TExpressionNode a, b;
    CopyAsNull(l, a);
    CopyAsNull(r, b);
    EvaluateBinary(op, a, b, language, sort, result);
    return;
  }
  switch (op) {
    case Op::kEqual:
    case Op::kNotEqual: {
      const bool eq = op == Op::kEqual;
      if ((l.null != 0) != (r.null != 0)) {
        SetBooleanResult(result, !eq);
      } else if (r.type == T::kNone) {
        SetBooleanResult(result, (l.null != 0) == eq);
      } else if (l.type == T::kNone) {
        SetBooleanResult(result, (r.null != 0) == eq);
      } else if (l.null != 0) {
        // Two nulls are equal.
        if (ComparableTypes(l.type, r.type)) SetBooleanResult(result, eq);
      } else if (ComparableTypes(l.type, r.type)) {
        SetBooleanResult(result, (CompareValues(l, r, language, sort) == 0) == eq);
      }
      return;
    }
    case Op::kGreater:
    case Op::kLess:
    case Op::kGreaterEqual:
    case Op::kLessEqual: {
      if (!ComparableTypes(l.type, r.type)) return;
      const int c = CompareValues(l, r, language, sort);
      const bool b = op == Op::kGreater ? c > 0 : op == Op::kLess ? c < 0
                   : op == Op::kGreaterEqual ? c >= 0 : c <= 0;
      SetBooleanResult(result, b);
      return;
    }
    case Op::kAnd: SetBooleanResult(result, Truth(l) && Truth(r)); return;
    case Op::kOr: SetBooleanResult(result, Truth(l) || Truth(r)); return;
    case Op::kAdd:
    case Op::kSubtract:
    case Op::kMultiply:
    case Op::kDivide: Arithmetic(op, l, r, result); return;
    default: return;
  }
}

void EvaluateStringCompare(ExprOperator op, std::uint8_t partial_length, bool case_insensitive,
                           const TExpressionNode& l, const TExpressionNode& r,
                           std::uint8_t language, std::uint8_t sort, TExpressionNode& result) {
  if (op != Op::kEqual && op != Op::kNotEqual) return;
  const bool eq = op == Op::kEqual;
  if ((l.null != 0) != (r.null != 0)) {
    SetBooleanResult(result, !eq);
  } else if (r.type == T::kNone) {
    SetBooleanResult(result, (l.null != 0) == eq);
  } else if (l.type == T::kNone) {
    SetBooleanResult(result, (r.null != 0) == eq);
  } else if (l.type == T::kString && r.type == T::kString) {
    const int c = CompareStrings(language, sort, Str(l), case_insensitive, partial_length, Str(r));
    SetBooleanResult(result, (c == 0) == eq);
  }
}

void UpperCaseValue(TExpressionNode& node, std::uint8_t language, std::uint8_t sort) {
  MapCase(node, language, sort, true);
}

void LowerCaseValue(TExpressionNode& node, std::uint8_t language, std::uint8_t sort) {
  MapCase(node, language, sort, false);
}

void EvaluateExpression(const TExpressionNode& node, const FieldCallback& field,
                        std::uint8_t language, std::uint8_t sort, TExpressionNode& result) {
  Evaluator(field, language, sort).Eval(node, result, 1);
}

}  // namespace storage
