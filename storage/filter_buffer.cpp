#include "storage/filter_buffer.h"

#include <array>
#include <cassert>
#include <cstring>

#include "storage/engine_error.h"

namespace storage {
namespace {

void Put16(std::vector<std::byte>& v, std::size_t at, std::uint16_t x) {
  StoreLittle<std::uint16_t>(v.data() + at, x);
}

std::size_t NodeBytes(std::size_t operands) { return kFilterNodeHeaderSize + 2 * operands; }

}  // namespace

std::uint16_t FilterExpressionBuffer::AddLiteral(std::span<const std::byte> bytes,
                                                 std::size_t node_bytes) {
  // The literal and the node that refers to it must both still fit.
  if (kFilterHeaderSize + nodes_.size() + literals_.size() + bytes.size() + node_bytes >
      kMaxFilterBufferSize) {
    EngineError(ErrorCode::kInvalidFilterExpression);
  }
  const auto at = static_cast<std::uint16_t>(literals_.size());
  literals_.insert(literals_.end(), bytes.begin(), bytes.end());
  return at;
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddNode(
    FilterNodeClass node_class, std::uint32_t op, std::span<const std::uint16_t> operands) {
  const std::size_t size = NodeBytes(operands.size());
  if (kFilterHeaderSize + nodes_.size() + literals_.size() + size > kMaxFilterBufferSize) {
    EngineError(ErrorCode::kInvalidFilterExpression);
  }
  const auto at = static_cast<NodeRef>(nodes_.size());
  nodes_.resize(nodes_.size() + size);
  StoreLittle<std::uint32_t>(nodes_.data() + at, static_cast<std::uint32_t>(node_class));
  StoreLittle<std::uint32_t>(nodes_.data() + at + 4, op);
  for (std::size_t i = 0; i < operands.size(); ++i) Put16(nodes_, at + 8 + 2 * i, operands[i]);
  return at;
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddUnary(ExprOperator op) {
  const std::array<std::uint16_t, 1> operands{0};
  return AddNode(FilterNodeClass::kUnary, static_cast<std::uint32_t>(op), operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddBinary(ExprOperator op) {
  const std::array<std::uint16_t, 2> operands{0, 0};
  return AddNode(FilterNodeClass::kBinary, static_cast<std::uint32_t>(op), operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddStringCompare(
    ExprOperator op, bool case_insensitive, std::uint8_t partial_length) {
  const std::array<std::uint16_t, 4> operands{
      case_insensitive ? std::uint16_t{1} : std::uint16_t{0}, partial_length, 0, 0};
  return AddNode(FilterNodeClass::kStringCompare, static_cast<std::uint32_t>(op), operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddField(std::uint16_t field_number,
                                                                 std::string_view name) {
  if (name.size() > kMaxFilterStringChars) name = name.substr(0, kMaxFilterStringChars);
  std::vector<std::byte> z(name.size() + 1);
  if (!name.empty()) std::memcpy(z.data(), name.data(), name.size());
  const std::uint16_t lit = AddLiteral(z, NodeBytes(2));
  const std::array<std::uint16_t, 2> operands{field_number, lit};
  return AddNode(FilterNodeClass::kField, kFilterFieldOperator, operands);
}

FilterExpressionBuffer::NodeRef FilterExpressionBuffer::AddConstant(
    FieldType type, std::span<const std::byte> value) {
  const std::uint16_t lit = AddLiteral(value, NodeBytes(3));
  const std::array<std::uint16_t, 3> operands{TypeCode(type),
                                              static_cast<std::uint16_t>(value.size()), lit};
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
  assert(parent + kFilterNodeHeaderSize <= nodes_.size());
  assert(operand > parent);
  assert(index == 0 || index == 1);
  const auto node_class = LoadLittle<std::uint32_t>(nodes_.data() + parent);
  // Node operands sit after the two u16 flags of a string compare node.
  std::size_t slot = kFilterNodeHeaderSize + 2 * static_cast<std::size_t>(index);
  if (node_class == static_cast<std::uint32_t>(FilterNodeClass::kStringCompare)) slot += 4;
  assert(node_class >= 1 && node_class <= 3);
  assert(index < static_cast<int>(node_class == 1 ? 1 : 2));
  Put16(nodes_, parent + slot, operand);
}

std::vector<std::byte> FilterExpressionBuffer::Finish() const {
  const std::size_t total = kFilterHeaderSize + nodes_.size() + literals_.size();
  assert(total <= kMaxFilterBufferSize);  // every Add checked it
  std::vector<std::byte> out(total);
  Put16(out, kFilterVersionOffset, kFilterBufferVersion);
  Put16(out, kFilterTotalSizeOffset, static_cast<std::uint16_t>(total));
  Put16(out, kFilterNodeCountOffset, kFilterNodeCountUnknown);
  Put16(out, kFilterNodeStartOffset, static_cast<std::uint16_t>(kFilterHeaderSize));
  Put16(out, kFilterLiteralStartOffset,
        static_cast<std::uint16_t>(kFilterHeaderSize + nodes_.size()));
  if (!nodes_.empty()) std::memcpy(out.data() + kFilterHeaderSize, nodes_.data(), nodes_.size());
  if (!literals_.empty()) {
    std::memcpy(out.data() + kFilterHeaderSize + nodes_.size(), literals_.data(), literals_.size());
  }
  return out;
}

}  // namespace storage
