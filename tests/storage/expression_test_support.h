// Tree builders and an evaluation harness shared by the expression tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "framework/sysutils.h"
#include "storage/expression_eval.h"
#include "storage/expression_node.h"

namespace storage::test {

using T = FieldType;
using Op = ExprOperator;

inline ExpressionPtr Int(std::int32_t v) { return NewIntegerConstant(v); }
inline ExpressionPtr Flt(double v) { return NewFloatConstant(v); }
inline ExpressionPtr Str(std::string_view s) { return NewStringConstant(s); }
inline ExpressionPtr Bool(bool b) { return NewBooleanConstant(b); }
inline ExpressionPtr Null() { return NewNullConstant(); }

template <class V>
ExpressionPtr Typed(T type, V v, std::uint8_t size = sizeof(V)) {
  auto n = NewNode(NodeKind::kConstant, Op::kNone, "c");
  n->type = type;
  n->size = size;
  SetNodeValue<V>(*n, v);
  return n;
}
inline ExpressionPtr Small(std::int16_t v) { return Typed(T::kSmallInt, v); }
inline ExpressionPtr Word(std::uint16_t v) { return Typed(T::kWord, v); }
// Currency from its count of 1/10000.
inline ExpressionPtr Curr(std::int64_t count, std::uint8_t decimals = 4) {
  auto n = Typed(T::kCurrency, count);
  n->decimals = decimals;
  return n;
}
inline std::uint32_t DayNumber(int y, int m, int d) {
  return static_cast<std::uint32_t>(fw::DateTimeToTimeStamp(fw::EncodeDate(y, m, d)).Date);
}
inline ExpressionPtr Date(int y, int m, int d) { return Typed(T::kDate, DayNumber(y, m, d)); }
inline ExpressionPtr TimeMs(std::uint32_t ms) { return Typed(T::kTime, ms); }
inline double StampMs(int y, int m, int d, std::int64_t ms) {
  return static_cast<double>(DayNumber(y, m, d)) * 86400000.0 + static_cast<double>(ms);
}
inline ExpressionPtr Stamp(int y, int m, int d, std::int64_t ms) {
  return Typed(T::kTimestamp, StampMs(y, m, d, ms));
}
inline ExpressionPtr Col(std::string_view name) { return NewFieldNode(name); }

inline const char* OpToken(Op op) {
  switch (op) {
    case Op::kEqual: return "=";
    case Op::kNotEqual: return "<>";
    case Op::kGreater: return ">";
    case Op::kLess: return "<";
    case Op::kGreaterEqual: return ">=";
    case Op::kLessEqual: return "<=";
    case Op::kAnd: return "AND";
    case Op::kOr: return "OR";
    case Op::kNot: return "NOT";
    case Op::kAdd: return "+";
    case Op::kSubtract: return "-";
    case Op::kMultiply: return "*";
    case Op::kDivide: return "/";
    default: return "op";
  }
}

inline ExpressionPtr Bin(Op op, ExpressionPtr l, ExpressionPtr r) {
  auto n = NewNode(NodeKind::kBinary, op, OpToken(op));
  if (op >= Op::kEqual && op <= Op::kOr) {
    n->type = T::kBoolean;
    n->size = 2;
  }
  n->left = std::move(l);
  n->right = std::move(r);
  return n;
}
inline ExpressionPtr Un(Op op, ExpressionPtr l) {
  auto n = NewNode(NodeKind::kUnary, op, OpToken(op));
  n->type = T::kBoolean;
  n->left = std::move(l);
  return n;
}
// A function node: left = argument, right chain = further arguments.
inline ExpressionPtr Fn(Op op, ExpressionPtr arg, ExpressionPtr extra1 = nullptr,
                        ExpressionPtr extra2 = nullptr) {
  auto n = NewNode(NodeKind::kFunction, op, "fn");
  n->left = std::move(arg);
  if (extra1) {
    extra1->right = std::move(extra2);
    n->right = std::move(extra1);
  }
  return n;
}
// An extended predicate: left = tested value, right chain = list items.
inline ExpressionPtr Pred(Op op, ExpressionPtr tested, std::vector<ExpressionPtr> items) {
  auto n = NewNode(NodeKind::kExtendedPredicate, op, "pred");
  n->type = T::kBoolean;
  n->size = 2;
  n->left = std::move(tested);
  ExpressionPtr chain;
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    (*it)->right = std::move(chain);
    chain = std::move(*it);
  }
  n->right = std::move(chain);
  return n;
}
template <class... A>
std::vector<ExpressionPtr> Items(A&&... items) {
  std::vector<ExpressionPtr> v;
  (v.push_back(std::forward<A>(items)), ...);
  return v;
}

// A column a test's resolver knows.
struct TestColumn {
  const char* name;
  T type;
  std::uint8_t size;
  std::uint8_t subtype = 0;
  std::uint8_t decimals = 0;
};

// Gives node the number (from 1), type, size, subtype and decimals of its
// column in cols; false when cols has none of its name.
inline bool ResolveColumn(std::span<const TestColumn> cols, TExpressionNode& node) {
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (node.column_name.View() != cols[i].name) continue;
    node.field_number = static_cast<std::uint16_t>(i + 1);
    node.type = cols[i].type;
    node.size = cols[i].size;
    node.subtype = cols[i].subtype;
    node.decimals = cols[i].decimals;
    return true;
  }
  return false;
}

// Rows of named field values handed to the evaluator through the field
// callback.
class Row {
 public:
  Row& Set(std::string name, ExpressionPtr value) {
    values_[std::move(name)] = std::move(value);
    return *this;
  }
  // A null field of the type, value bytes zero as a record keeps them.
  Row& SetNull(std::string name, T type, std::uint8_t size = 4) {
    auto n = NewNode(NodeKind::kConstant, Op::kNone, "null");
    n->type = type;
    n->size = size;
    n->null = 1;
    values_[std::move(name)] = std::move(n);
    return *this;
  }
  const TExpressionNode* Find(std::string_view name) const {
    auto it = values_.find(std::string(name));
    return it == values_.end() ? nullptr : it->second.get();
  }
  FieldCallback Callback() const {
    return [this](TExpressionNode& result) {
      const TExpressionNode* v = Find(result.column_name);
      if (v == nullptr) return;
      result.value = v->value;
      result.null = v->null;
      result.type = v->type;
      result.subtype = v->subtype;
      result.size = v->size;
      result.decimals = v->decimals;
    };
  }

 private:
  std::map<std::string, ExpressionPtr, std::less<>> values_;
};

inline void Evaluate(const TExpressionNode& tree, const Row& row, TExpressionNode& result,
                     std::uint8_t language = 0) {
  EvaluateExpression(tree, row.Callback(), language, 0, result);
}

}  // namespace storage::test
