#include "sql/record_condition.h"

#include <cstring>

#include "storage/like_pattern.h"

namespace sql {

using storage::ExprOperator;
using storage::FieldType;
using storage::NodeKind;
using storage::TExpressionNode;

namespace {

bool IsComparison(ExprOperator op) {
  return op >= ExprOperator::kEqual && op <= ExprOperator::kLessEqual;
}

ExprOperator Mirrored(ExprOperator op) {
  switch (op) {
    case ExprOperator::kGreater: return ExprOperator::kLess;
    case ExprOperator::kLess: return ExprOperator::kGreater;
    case ExprOperator::kGreaterEqual: return ExprOperator::kLessEqual;
    case ExprOperator::kLessEqual: return ExprOperator::kGreaterEqual;
    default: return op;
  }
}

bool IntegerType(FieldType t) {
  return t == FieldType::kSmallInt || t == FieldType::kWord || t == FieldType::kInteger;
}

template <class V>
int Sign(V a, V b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// The unsigned bytes of two strings, the shorter read as zero-padded, over
// n bytes (0: the longer's length): the evaluator's order without a locale.
int CompareBytes(std::string_view a, std::string_view b, std::size_t n) {
  if (n == 0) n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

}  // namespace

std::unique_ptr<RecordCondition> RecordCondition::Compile(
    const TExpressionNode& tree, const std::vector<storage::FieldSlot>& slots,
    std::uint8_t language) {
  return CompileNode(tree, slots, language);
}

bool RecordCondition::ReadConstant(const TExpressionNode& c, Family family, Constant& out) {
  if (c.kind != NodeKind::kConstant || (c.parameter != 0 && c.type == FieldType::kNone)) return false;
  out.null = c.null != 0;
  if (c.type == FieldType::kNone) {
    out.literal_null = true;
    return true;
  }
  switch (family) {
    case Family::kInteger:
    case Family::kFloat:
      if (IntegerType(c.type)) {
        switch (c.type) {
          case FieldType::kSmallInt: out.i = out.null ? 0 : storage::NodeValue<std::int16_t>(c); break;
          case FieldType::kInteger: out.i = out.null ? 0 : storage::NodeValue<std::int32_t>(c); break;
          default: out.i = out.null ? 0 : storage::NodeValue<std::uint16_t>(c); break;
        }
        out.f = static_cast<double>(out.i);
        return true;
      }
      if (c.type == FieldType::kFloat) {
        out.is_float = true;
        out.f = out.null ? 0 : storage::NodeValue<double>(c);
        return true;
      }
      return false;
    case Family::kDate:
      if (c.type != FieldType::kDate) return false;
      out.u = out.null ? 0 : storage::NodeValue<std::uint32_t>(c);
      return true;
    case Family::kString:
      if (c.type != FieldType::kString) return false;
      out.s = out.null ? std::string() : std::string(storage::NodeString(c));
      return true;
  }
  return false;
}

std::unique_ptr<RecordCondition> RecordCondition::CompileNode(
    const TExpressionNode& n, const std::vector<storage::FieldSlot>& slots, std::uint8_t language) {
  auto made = std::unique_ptr<RecordCondition>(new RecordCondition());
  RecordCondition& c = *made;
  if (n.kind == NodeKind::kBinary && (n.op == ExprOperator::kAnd || n.op == ExprOperator::kOr)) {
    if (!n.left || !n.right) return nullptr;
    c.kind_ = n.op == ExprOperator::kAnd ? Kind::kAnd : Kind::kOr;
    // A chain of any length is compiled in a loop (expression_node.h).
    bool compiled = true;
    storage::ForEachChainOperand(n, [&](const TExpressionNode& operand) {
      if (!compiled) return;
      auto part = CompileNode(operand, slots, language);
      if (!part) {
        compiled = false;
        return;
      }
      c.operands_.push_back(std::move(part));
    });
    if (!compiled) return nullptr;
    return made;
  }
  if (n.kind == NodeKind::kUnary && n.op == ExprOperator::kNot) {
    if (!n.left) return nullptr;
    auto operand = CompileNode(*n.left, slots, language);
    if (!operand) return nullptr;
    c.kind_ = Kind::kNot;
    c.operands_.push_back(std::move(operand));
    return made;
  }

  // The rest test one column.
  const TExpressionNode* field = n.left.get();
  const TExpressionNode* other = n.right.get();
  ExprOperator op = n.op;
  if (n.kind == NodeKind::kBinary && IsComparison(op) && field && other &&
      field->kind != NodeKind::kField && other->kind == NodeKind::kField) {
    std::swap(field, other);
    op = Mirrored(op);
  }
  if (field == nullptr || other == nullptr || field->kind != NodeKind::kField ||
      field->field_number == 0 || field->field_number >= slots.size()) {
    return nullptr;
  }
  c.slot_ = slots[field->field_number];
  if (c.slot_.IsAutoIncrement()) return nullptr;
  switch (c.slot_.type) {
    case FieldType::kSmallInt:
    case FieldType::kWord:
    case FieldType::kInteger: c.family_ = Family::kInteger; break;
    case FieldType::kFloat: c.family_ = Family::kFloat; break;
    case FieldType::kDate: c.family_ = Family::kDate; break;
    case FieldType::kString:
      if (language != 0) return nullptr;
      c.family_ = Family::kString;
      break;
    default: return nullptr;
  }
  // A column node typed otherwise than its slot was not read as stored.
  if (field->type != c.slot_.type) return nullptr;
  c.op_ = op;
  auto constant = [&](const TExpressionNode& k) {
    Constant v;
    if (!ReadConstant(k, c.family_, v)) return false;
    c.constants_.push_back(std::move(v));
    return true;
  };

  if (n.kind == NodeKind::kBinary && IsComparison(op)) {
    if (other->right && other->kind == NodeKind::kConstant) return nullptr;
    c.kind_ = Kind::kCompare;
    if (!constant(*other)) return nullptr;
    // Ordering against the NULL literal compares types the evaluator does
    // not compare.
    if (c.constants_[0].literal_null && op != ExprOperator::kEqual &&
        op != ExprOperator::kNotEqual) {
      return nullptr;
    }
    return made;
  }
  if (n.kind == NodeKind::kStringCompare) {
    if (c.family_ != Family::kString || n.case_insensitive != 0 ||
        (op != ExprOperator::kEqual && op != ExprOperator::kNotEqual)) {
      return nullptr;
    }
    c.kind_ = Kind::kPartial;
    c.partial_ = n.partial_length;
    if (!constant(*other)) return nullptr;
    return made;
  }
  if (n.kind != NodeKind::kExtendedPredicate) return nullptr;
  switch (n.op) {
    case ExprOperator::kBetween:
    case ExprOperator::kNotBetween: {
      if (!other->right || other->right->right) return nullptr;
      c.kind_ = Kind::kBetween;
      c.inverted_ = n.op == ExprOperator::kNotBetween;
      if (!constant(*other) || !constant(*other->right)) return nullptr;
      for (const Constant& k : c.constants_)
        if (k.literal_null) return nullptr;
      return made;
    }
    case ExprOperator::kIn:
    case ExprOperator::kNotIn:
      c.kind_ = Kind::kIn;
      c.inverted_ = n.op == ExprOperator::kNotIn;
      for (const TExpressionNode* e = other; e != nullptr; e = e->right.get()) {
        if (!constant(*e)) return nullptr;
      }
      return made;
    case ExprOperator::kLike:
    case ExprOperator::kNotLike:
      if (c.family_ != Family::kString || other->right) return nullptr;
      c.kind_ = Kind::kLike;
      c.inverted_ = n.op == ExprOperator::kNotLike;
      if (!constant(*other) || c.constants_[0].literal_null) return nullptr;
      return made;
    default: return nullptr;
  }
}

std::int64_t RecordCondition::IntegerOf(std::span<const std::byte> record) const {
  if (!storage::FieldHasValue(record, slot_)) return 0;
  const auto* v = reinterpret_cast<const std::uint8_t*>(storage::FieldValueBytes(record, slot_).data());
  switch (slot_.type) {
    case FieldType::kSmallInt: return storage::LoadLittle<std::int16_t>(v);
    case FieldType::kInteger: return storage::LoadLittle<std::int32_t>(v);
    default: return storage::LoadLittle<std::uint16_t>(v);
  }
}

int RecordCondition::CompareTo(std::span<const std::byte> record, const Constant& c) const {
  const bool has = storage::FieldHasValue(record, slot_);
  const auto bytes = storage::FieldValueBytes(record, slot_);
  const auto* v = reinterpret_cast<const std::uint8_t*>(bytes.data());
  switch (family_) {
    case Family::kInteger: {
      const std::int64_t i = IntegerOf(record);
      if (!c.is_float) return Sign(i, c.i);
      return Sign(static_cast<double>(i), c.f);
    }
    case Family::kFloat: return Sign(has ? storage::LoadLittle<double>(v) : 0.0, c.f);
    case Family::kDate: return Sign(has ? storage::LoadLittle<std::uint32_t>(v) : 0u, c.u);
    case Family::kString: {
      std::string_view s;
      if (has) {
        std::size_t len = 0;
        while (len < bytes.size() && v[len] != 0) ++len;
        s = std::string_view(reinterpret_cast<const char*>(v), len);
      }
      return CompareBytes(s, c.s, kind_ == Kind::kPartial ? partial_ : 0);
    }
  }
  return 0;
}

bool RecordCondition::Equal(std::span<const std::byte> record, const Constant& c) const {
  const bool null = !storage::FieldHasValue(record, slot_);
  if (null != c.null) return false;
  if (c.literal_null) return null;
  if (null) return true;  // two nulls are equal
  return CompareTo(record, c) == 0;
}

bool RecordCondition::Compare(std::span<const std::byte> record, ExprOperator op,
                              const Constant& c) const {
  switch (op) {
    case ExprOperator::kEqual: return Equal(record, c);
    case ExprOperator::kNotEqual: return !Equal(record, c);
    default: break;
  }
  const int r = CompareTo(record, c);
  switch (op) {
    case ExprOperator::kGreater: return r > 0;
    case ExprOperator::kLess: return r < 0;
    case ExprOperator::kGreaterEqual: return r >= 0;
    default: return r <= 0;
  }
}

bool RecordCondition::Holds(std::span<const std::byte> record) const {
  switch (kind_) {
    case Kind::kAnd:
      for (const auto& o : operands_)
        if (!o->Holds(record)) return false;
      return true;
    case Kind::kOr:
      for (const auto& o : operands_)
        if (o->Holds(record)) return true;
      return false;
    case Kind::kNot: return !operands_[0]->Holds(record);
    case Kind::kCompare:
    case Kind::kPartial: return Compare(record, op_, constants_[0]);
    case Kind::kBetween: {
      if (family_ == Family::kInteger && !constants_[0].is_float && !constants_[1].is_float) {
        // The value read once for both bounds (null as zero, as CompareTo).
        const std::int64_t i = IntegerOf(record);
        return (i >= constants_[0].i && i <= constants_[1].i) != inverted_;
      }
      const bool in = Compare(record, ExprOperator::kGreaterEqual, constants_[0]) &&
                      Compare(record, ExprOperator::kLessEqual, constants_[1]);
      return in != inverted_;
    }
    case Kind::kIn: {
      bool in = false;
      for (const Constant& k : constants_) {
        if (Equal(record, k)) {
          in = true;
          break;
        }
      }
      return in != inverted_;
    }
    case Kind::kLike: {
      bool match = false;
      if (storage::FieldHasValue(record, slot_) && !constants_[0].null) {
        match = storage::MatchLikePattern(storage::GetFieldString(record, slot_), constants_[0].s);
      }
      return match != inverted_;
    }
  }
  return false;
}

}  // namespace sql
