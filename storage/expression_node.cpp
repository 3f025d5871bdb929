#include "storage/expression_node.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace storage {

void NodeText::Assign(std::string_view s) {
  length_ = static_cast<std::uint8_t>(std::min<std::size_t>(s.size(), chars_.size()));
  if (length_ != 0) std::memcpy(chars_.data(), s.data(), length_);
}

TExpressionNode::~TExpressionNode() {
  // Tear the subtrees down by right rotations: a node with a left operand
  // is rotated so that the left operand becomes the top; a node without
  // one is deleted and its right operand taken next. Every node is visited
  // a constant number of times and no node's destructor finds operands to
  // recurse into.
  std::unique_ptr<TExpressionNode> pending[2] = {std::move(left), std::move(right)};
  for (auto& top : pending) {
    TExpressionNode* cur = top.release();
    while (cur != nullptr) {
      if (cur->left) {
        TExpressionNode* l = cur->left.release();
        cur->left.reset(l->right.release());
        l->right.reset(cur);
        cur = l;
      } else {
        TExpressionNode* next = cur->right.release();
        delete cur;
        cur = next;
      }
    }
  }
}

std::string_view NodeString(const TExpressionNode& node) {
  const char* p = reinterpret_cast<const char*>(node.value.data());
  const void* z = std::memchr(p, 0, kMaxValueChars);
  return std::string_view(p, z ? static_cast<const char*>(z) - p : kMaxValueChars);
}

void SetNodeString(TExpressionNode& node, std::string_view text) {
  const std::size_t n = std::min(text.size(), kMaxValueChars);
  std::memcpy(node.value.data(), text.data(), n);
  node.value[n] = 0;
}

void LoadRecordValue(std::span<const std::byte> record, const FieldSlot& slot,
                     TExpressionNode& node) {
  auto bytes = FieldValueBytes(record, slot);
  node.null = FieldHasValue(record, slot) ? 0 : 1;
  node.type = slot.type;
  node.subtype = slot.subtype == FieldSubtype::kMoney ? SubtypeCode(FieldSubtype::kMoney) : 0;
  node.size = slot.IsAutoIncrement() ? 4 : slot.physical_size;
  node.value.fill(0);
  const std::size_t n = std::min(bytes.size(), node.value.size());
  // A NaN is null with the value 0 (field_types.h): in ordering
  // comparisons a null field takes part with the value it holds.
  if (node.null == 0 || n < 8 || !IsNotANumber(slot.type, bytes.data()))
    std::memcpy(node.value.data(), bytes.data(), n);
  if (slot.type == FieldType::kBoolean) {
    SetNodeBoolean(node, LoadLittle<std::uint16_t>(bytes.data()) != 0);
  } else if (slot.type == FieldType::kString) {
    node.value[std::min(n, kMaxValueChars)] = 0;
  }
}

void StoreRecordValue(const TExpressionNode& node, std::span<std::byte> record,
                      const FieldSlot& slot) {
  if (node.null != 0) {
    ClearField(record, slot);
  } else if (slot.type == FieldType::kString) {
    PutFieldString(record, slot, NodeString(node));
  } else if (slot.type == FieldType::kBoolean) {
    PutFieldBoolean(record, slot, NodeIsTrue(node));
  } else {
    const std::size_t n = std::min<std::size_t>(slot.physical_size, node.value.size());
    PutFieldBytes(record, slot, std::as_bytes(std::span<const std::uint8_t>(node.value.data(), n)));
  }
}

ExpressionPtr NewNode(NodeKind kind, ExprOperator op, std::string_view token) {
  auto n = std::make_unique<TExpressionNode>();
  n->kind = kind;
  n->op = op;
  n->token = token;
  return n;
}

ExpressionPtr NewStringConstant(std::string_view text) {
  if (text.empty()) return NewNullConstant();
  auto n = NewNode(NodeKind::kConstant, ExprOperator::kNone, text);
  n->type = FieldType::kString;
  SetNodeString(*n, text);
  n->size = static_cast<std::uint8_t>(std::min(text.size(), kMaxValueChars) + 1);
  return n;
}

ExpressionPtr NewIntegerConstant(std::int32_t v) {
  auto n = NewNode(NodeKind::kConstant, ExprOperator::kNone, std::to_string(v));
  n->type = FieldType::kInteger;
  n->size = 4;
  SetNodeValue<std::int32_t>(*n, v);
  return n;
}

ExpressionPtr NewFloatConstant(double v) {
  auto n = NewNode(NodeKind::kConstant, ExprOperator::kNone, std::to_string(v));
  n->type = FieldType::kFloat;
  n->size = 8;
  SetNodeValue<double>(*n, v);
  return n;
}

ExpressionPtr NewBooleanConstant(bool v) {
  auto n = NewNode(NodeKind::kConstant, ExprOperator::kNone, v ? "True" : "False");
  n->type = FieldType::kBoolean;
  n->size = 2;
  SetNodeBoolean(*n, v);
  return n;
}

ExpressionPtr NewNullConstant() {
  auto n = NewNode(NodeKind::kConstant, ExprOperator::kNone, "NULL");
  n->null = 1;
  return n;
}

ExpressionPtr NewFieldNode(std::string_view name) {
  auto n = NewNode(NodeKind::kField, ExprOperator::kNone, name);
  n->column_name = name;
  return n;
}

void CopyNodeFields(const TExpressionNode& s, TExpressionNode& d) {
  d.token = s.token;
  d.kind = s.kind;
  d.op = s.op;
  d.reserved1 = s.reserved1;
  d.column_name = s.column_name;
  d.field_number = s.field_number;
  d.correlation_name = s.correlation_name;
  d.reserved2 = s.reserved2;
  d.value = s.value;
  d.null = s.null;
  d.parameter = s.parameter;
  d.partial_length = s.partial_length;
  d.case_insensitive = s.case_insensitive;
  d.type = s.type;
  d.subtype = s.subtype;
  d.size = s.size;
  d.decimals = s.decimals;
  d.reserved3 = s.reserved3;
}

ExpressionPtr CopyExpression(const TExpressionNode* node) {
  if (node == nullptr) return nullptr;
  auto root = std::make_unique<TExpressionNode>();
  // Work list of (source, copy) pairs whose operands still need copying.
  std::vector<std::pair<const TExpressionNode*, TExpressionNode*>> work;
  work.emplace_back(node, root.get());
  while (!work.empty()) {
    auto [src, dst] = work.back();
    work.pop_back();
    CopyNodeFields(*src, *dst);
    if (src->left) {
      dst->left = std::make_unique<TExpressionNode>();
      work.emplace_back(src->left.get(), dst->left.get());
    }
    if (src->right) {
      dst->right = std::make_unique<TExpressionNode>();
      work.emplace_back(src->right.get(), dst->right.get());
    }
  }
  return root;
}

ExpressionPtr MakeBooleanTest(ExpressionPtr operand) {
  auto test = NewNode(NodeKind::kBinary, ExprOperator::kEqual, "=");
  test->type = FieldType::kBoolean;
  test->size = 2;
  auto t = NewNode(NodeKind::kConstant, ExprOperator::kNone, "True");
  t->type = FieldType::kBoolean;
  t->size = 2;
  SetNodeBoolean(*t, true);
  test->left = std::move(operand);
  test->right = std::move(t);
  return test;
}

}  // namespace storage
