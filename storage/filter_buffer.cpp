#include "storage/filter_buffer.h"

#include <array>
#include <cassert>
#include <cstring>

#include "storage/engine_error.h"

namespace storage {
namespace {

// Which operands of a node of the class are node references.
bool IsNodeOperand(FilterNodeClass node_class, std::size_t i) {
  switch (node_class) {
    case FilterNodeClass::kUnary:
    case FilterNodeClass::kBinary: return true;
    case FilterNodeClass::kStringCompare: return i >= 2;
    default: return false;
  }
}

// An operand not yet linked; written as 0, which the reader refuses.
constexpr std::uint32_t kUnlinked = 0xFFFFFFFF;

}  // namespace

bool FilterExpressionBuffer::Narrow() const {
  const std::size_t nodes = kFilterNodeHeaderSize * nodes_.size() + 2 * operand_count_;
  return kFilterHeaderSize + nodes + literals_.size() <= kMaxFilterBufferSize;
}

std::size_t FilterExpressionBuffer::NodeAreaSize() const {
  return kFilterNodeHeaderSize * nodes_.size() + (Narrow() ? 2 : 4) * operand_count_;
}

std::uint32_t FilterExpressionBuffer::AddLiteral(std::span<const std::byte> bytes) {
  // Bounded as the wide layout would hold it.
  if (kFilterWideHeaderSize + kFilterNodeHeaderSize * nodes_.size() + 4 * operand_count_ +
          literals_.size() + bytes.size() >
      kMaxWideFilterBufferSize) {
    EngineError(ErrorCode::kInvalidFilterExpression);
  }
  const auto at = static_cast<std::uint32_t>(literals_.size());
  literals_.insert(literals_.end(), bytes.begin(), bytes.end());
  return at;
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddNode(
    FilterNodeClass node_class, std::uint32_t op, std::span<const std::uint32_t> operands) {
  assert(operands.size() == FilterOperandCount(static_cast<std::uint32_t>(node_class)));
  if (kFilterWideHeaderSize + kFilterNodeHeaderSize * (nodes_.size() + 1) +
          4 * (operand_count_ + operands.size()) + literals_.size() >
      kMaxWideFilterBufferSize) {
    EngineError(ErrorCode::kInvalidFilterExpression);
  }
  Node n{node_class, op, {}};
  for (std::size_t i = 0; i < operands.size(); ++i) n.operands[i] = operands[i];
  nodes_.push_back(n);
  operand_count_ += operands.size();
  return static_cast<NodeRef>(nodes_.size() - 1);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddUnary(ExprOperator op) {
  const std::array<std::uint32_t, 1> operands{kUnlinked};
  return AddNode(FilterNodeClass::kUnary, static_cast<std::uint32_t>(op), operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddBinary(ExprOperator op) {
  const std::array<std::uint32_t, 2> operands{kUnlinked, kUnlinked};
  return AddNode(FilterNodeClass::kBinary, static_cast<std::uint32_t>(op), operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddStringCompare(
    ExprOperator op, bool case_insensitive, std::uint8_t partial_length) {
  const std::array<std::uint32_t, 4> operands{case_insensitive ? 1u : 0u, partial_length,
                                              kUnlinked, kUnlinked};
  return AddNode(FilterNodeClass::kStringCompare, static_cast<std::uint32_t>(op), operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddField(std::uint16_t field_number,
                                                                 std::string_view name) {
  if (name.size() > kMaxFilterStringChars) name = name.substr(0, kMaxFilterStringChars);
  std::vector<std::byte> z(name.size() + 1);
  if (!name.empty()) std::memcpy(z.data(), name.data(), name.size());
  const std::uint32_t lit = AddLiteral(z);
  const std::array<std::uint32_t, 2> operands{field_number, lit};
  return AddNode(FilterNodeClass::kField, kFilterFieldOperator, operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddConstant(
    FieldType type, std::span<const std::byte> value) {
  const std::uint32_t lit = AddLiteral(value);
  const std::array<std::uint32_t, 3> operands{TypeCode(type),
                                              static_cast<std::uint32_t>(value.size()), lit};
  return AddNode(FilterNodeClass::kConstant, kFilterConstantOperator, operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddStringConstant(std::string_view text) {
  if (text.size() > kMaxFilterStringChars) text = text.substr(0, kMaxFilterStringChars);
  // Text with an embedded zero byte ends there, as the reader sees it.
  if (const auto z = text.find('\0'); z != std::string_view::npos) text = text.substr(0, z);
  std::vector<std::byte> z(text.size() + 1);
  if (!text.empty()) std::memcpy(z.data(), text.data(), text.size());
  return AddConstant(FieldType::kString, z);
}

template <class V>
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddFixed(FieldType type, V v) {
  std::array<std::byte, sizeof(V)> bytes;
  StoreLittle<V>(bytes.data(), v);
  return AddConstant(type, bytes);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddSmallIntConstant(std::int16_t v) {
  return AddFixed(FieldType::kSmallInt, v);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddIntegerConstant(std::int32_t v) {
  return AddFixed(FieldType::kInteger, v);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddWordConstant(std::uint16_t v) {
  return AddFixed(FieldType::kWord, v);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddBooleanConstant(std::uint16_t raw) {
  return AddFixed(FieldType::kBoolean, raw);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddFloatConstant(double v) {
  return AddFixed(FieldType::kFloat, v);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddBcdConstant(std::int64_t v) {
  return AddFixed(FieldType::kCurrency, v);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddDateConstant(std::uint32_t day) {
  return AddFixed(FieldType::kDate, day);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddTimeConstant(std::uint32_t msecs) {
  return AddFixed(FieldType::kTime, msecs);
}
FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddDateTimeConstant(double msecs) {
  return AddFixed(FieldType::kTimestamp, msecs);
}

void FilterExpressionBuffer::SetOperand(NodeRef parent, int index, NodeRef operand) {
  assert(parent < nodes_.size());
  assert(operand > parent && operand < nodes_.size());
  Node& n = nodes_[parent];
  assert(n.node_class == FilterNodeClass::kUnary || n.node_class == FilterNodeClass::kBinary ||
         n.node_class == FilterNodeClass::kStringCompare);
  assert(index == 0 || (index == 1 && n.node_class != FilterNodeClass::kUnary));
  // Node operands sit after the two flags of a string compare node.
  const std::size_t slot = static_cast<std::size_t>(index) +
                           (n.node_class == FilterNodeClass::kStringCompare ? 2 : 0);
  n.operands[slot] = operand;
}

std::vector<std::byte> FilterExpressionBuffer::Finish() const {
  const bool narrow = Narrow();
  const std::size_t width = narrow ? 2 : 4;
  const std::size_t header = narrow ? kFilterHeaderSize : kFilterWideHeaderSize;
  // Each node's offset in the node area.
  std::vector<std::uint32_t> offset(nodes_.size());
  std::size_t area = 0;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    offset[i] = static_cast<std::uint32_t>(area);
    area += kFilterNodeHeaderSize +
            width * FilterOperandCount(static_cast<std::uint32_t>(nodes_[i].node_class));
  }
  const std::size_t total = header + area + literals_.size();
  assert(total <= (narrow ? kMaxFilterBufferSize : kMaxWideFilterBufferSize));  // Add checked it
  std::vector<std::byte> out(total);
  auto put = [&](std::size_t at, std::uint32_t v) {
    if (narrow) {
      StoreLittle<std::uint16_t>(out.data() + at, static_cast<std::uint16_t>(v));
    } else {
      StoreLittle<std::uint32_t>(out.data() + at, v);
    }
  };
  put(0, narrow ? kFilterBufferVersion : kFilterWideBufferVersion);
  put(width, static_cast<std::uint32_t>(total));
  put(2 * width, narrow ? kFilterNodeCountUnknown : 0xFFFFFFFF);
  put(3 * width, static_cast<std::uint32_t>(header));
  put(4 * width, static_cast<std::uint32_t>(header + area));
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    const Node& n = nodes_[i];
    const std::size_t at = header + offset[i];
    StoreLittle<std::uint32_t>(out.data() + at, static_cast<std::uint32_t>(n.node_class));
    StoreLittle<std::uint32_t>(out.data() + at + 4, n.op);
    const std::size_t count = FilterOperandCount(static_cast<std::uint32_t>(n.node_class));
    for (std::size_t k = 0; k < count; ++k) {
      std::uint32_t v = n.operands[k];
      if (IsNodeOperand(n.node_class, k)) v = v == kUnlinked ? 0 : offset[v];
      put(at + kFilterNodeHeaderSize + width * k, v);
    }
  }
  if (!literals_.empty()) {
    std::memcpy(out.data() + header + area, literals_.data(), literals_.size());
  }
  return out;
}

}  // namespace storage
