// A small in-test table for the filter tests: fields laid out as the data
// file lays out records, records kept in memory, field values handed to the
// evaluator through LoadRecordValue; and raw buffer bytes written field by
// field from the documented layout, independent of the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/sysutils.h"
#include "storage/expression_node.h"
#include "storage/filter_buffer.h"
#include "storage/filter_object.h"
#include "storage/filter_table.h"

namespace storage::test {

struct TestField {
  std::string name;
  FieldType type;
  int declared = 0;  // strings only
};

// Name string[20], Qty int32, Small int16, Active boolean, Price float,
// Amount BCD, Born date, At time, Stamp timestamp, W word.
inline std::vector<TestField> DefaultFields() {
  return {{"Name", FieldType::kString, 20}, {"Qty", FieldType::kInteger},
          {"Small", FieldType::kSmallInt},  {"Active", FieldType::kBoolean},
          {"Price", FieldType::kFloat},     {"Amount", FieldType::kCurrency},
          {"Born", FieldType::kDate},       {"At", FieldType::kTime},
          {"Stamp", FieldType::kTimestamp}, {"W", FieldType::kWord}};
}

inline bool SameName(std::string_view a, std::string_view b) { return fw::AnsiSameText(a, b); }

class TestTable : public FilterTable {
 public:
  explicit TestTable(std::vector<TestField> fields = DefaultFields()) : fields_(std::move(fields)) {
    std::uint16_t offset = kRecordPrefixSize;
    for (const auto& f : fields_) {
      FieldSlot s;
      s.offset = offset;
      s.type = f.type;
      s.physical_size = static_cast<std::uint8_t>(PhysicalSize(f.type, f.declared));
      slots_.push_back(s);
      offset = static_cast<std::uint16_t>(offset + 1 + s.physical_size);
    }
    record_size_ = offset;
  }

  std::string DataFileName() const override { return "TEST.DAT"; }

  std::optional<FilterField> FindFilterField(std::string_view name) const override {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (SameName(fields_[i].name, name)) {
        return FilterField{static_cast<std::uint16_t>(i + 1), slots_[i].type,
                           slots_[i].physical_size};
      }
    }
    return std::nullopt;
  }

  void LoadFilterFieldValue(std::span<const std::byte> record,
                            TExpressionNode& result) const override {
    ++field_loads;
    const std::size_t n = result.field_number;
    if (n < 1 || n > slots_.size()) return;
    LoadRecordValue(record, slots_[n - 1], result);
  }

  FilterLevel AnalyzeFilter(TExpressionNode& /*tree*/) override {
    ++analyses;
    return analysis_level;
  }

  // A scan over the stored records: with parent AND, the set bits are
  // tested and cleared when the record fails.
  FilterLevel BuildFilterBitmap(std::span<std::uint8_t> bitmap, ExprOperator parent,
                                TExpressionNode& tree) override {
    for (std::size_t r = 1; r <= records_.size(); ++r) {
      const std::size_t byte = (r - 1) / 8;
      const auto bit = static_cast<std::uint8_t>(1u << ((r - 1) % 8));
      if (byte >= bitmap.size()) break;
      if (parent == ExprOperator::kAnd && (bitmap[byte] & bit) == 0) continue;
      if (EvaluateFilterRecord(tree, *this, records_[r - 1])) {
        bitmap[byte] |= bit;
      } else {
        bitmap[byte] &= static_cast<std::uint8_t>(~bit);
      }
    }
    return FilterLevel::kByRecords;
  }

  const FieldSlot& Slot(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (SameName(fields_[i].name, name)) return slots_[i];
    }
    throw std::logic_error("no field " + std::string(name));
  }

  // A blank record: every field null.
  std::vector<std::byte> NewRecord() const { return std::vector<std::byte>(record_size_); }
  std::size_t AddRecord(std::vector<std::byte> r) {
    records_.push_back(std::move(r));
    return records_.size();
  }
  const std::vector<std::byte>& Record(std::size_t r) const { return records_.at(r - 1); }
  std::size_t RecordCount() const { return records_.size(); }
  const std::vector<TestField>& Fields() const { return fields_; }

  FilterLevel analysis_level = FilterLevel::kByRecords;
  int analyses = 0;
  mutable int field_loads = 0;

 private:
  std::vector<TestField> fields_;
  std::vector<FieldSlot> slots_;
  std::uint16_t record_size_ = 0;
  std::vector<std::vector<std::byte>> records_;
};

// Raw bytes of a buffer, written value by value.
class Raw {
 public:
  Raw& U8(std::uint8_t v) {
    bytes_.push_back(static_cast<std::byte>(v));
    return *this;
  }
  Raw& U16(std::uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Raw& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Raw& U64(std::uint64_t v) { return U32(static_cast<std::uint32_t>(v)).U32(v >> 32); }
  Raw& F64(double d) {
    std::uint64_t v;
    std::memcpy(&v, &d, 8);
    return U64(v);
  }
  Raw& Text(std::string_view s) {  // with its zero byte
    for (char c : s) U8(static_cast<std::uint8_t>(c));
    return U8(0);
  }
  Raw& Append(const Raw& other) {
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    return *this;
  }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::byte>& bytes() const { return bytes_; }

 private:
  std::vector<std::byte> bytes_;
};

// A whole buffer from its node area and literal area, header as the writer
// fills it.
inline std::vector<std::byte> Assemble(const Raw& nodes, const Raw& literals) {
  Raw b;
  b.U16(0)
      .U16(static_cast<std::uint16_t>(10 + nodes.size() + literals.size()))
      .U16(0xFFFF)
      .U16(10)
      .U16(static_cast<std::uint16_t>(10 + nodes.size()));
  b.Append(nodes).Append(literals);
  return b.bytes();
}

// A one-line description of a tree: kinds, operators, fields, constants.
inline std::string Describe(const TExpressionNode* n) {
  if (n == nullptr) return "-";
  const auto op = std::to_string(static_cast<std::uint32_t>(n->op));
  switch (n->kind) {
    case NodeKind::kUnary:
      return "un" + op + "(" + Describe(n->left.get()) + ")";
    case NodeKind::kBinary:
      return "bin" + op + "(" + Describe(n->left.get()) + "," + Describe(n->right.get()) + ")";
    case NodeKind::kStringCompare:
      return "cmp" + op + "/ci" + std::to_string(n->case_insensitive) + "/p" +
             std::to_string(n->partial_length) + "(" + Describe(n->left.get()) + "," +
             Describe(n->right.get()) + ")";
    case NodeKind::kField:
      return "f:" + std::string(n->column_name.View()) + "#" + std::to_string(n->field_number) +
             "/t" + std::to_string(TypeCode(n->type)) + "/s" + std::to_string(n->size);
    case NodeKind::kConstant: {
      std::string s = "c/t" + std::to_string(TypeCode(n->type)) + "/s" + std::to_string(n->size);
      if (n->null) return s + "/null";
      if (n->type == FieldType::kString) return s + "'" + std::string(NodeString(*n)) + "'";
      std::string hex;
      const std::size_t w = n->size;
      for (std::size_t i = 0; i < w && i < n->value.size(); ++i) {
        static const char* d = "0123456789abcdef";
        hex += d[n->value[i] >> 4];
        hex += d[n->value[i] & 15];
      }
      return s + "=" + hex;
    }
    default:
      return "kind" + std::to_string(static_cast<std::uint32_t>(n->kind));
  }
}

// Writes a tree of kinds 1 to 5 with the buffer writer, parents first.
// The field number written is random (the reader goes by the name); a
// true constant is 1 or 0xFFFF (a lone field's form) at random.
inline FilterExpressionBuffer::NodeRef WriteTree(const TExpressionNode& n, FilterExpressionBuffer& b,
                                                 std::mt19937& rng) {
  switch (n.kind) {
    case NodeKind::kUnary: {
      const auto at = b.AddUnary(n.op);
      b.SetOperand(at, 0, WriteTree(*n.left, b, rng));
      return at;
    }
    case NodeKind::kBinary:
    case NodeKind::kStringCompare: {
      const auto at = n.kind == NodeKind::kBinary ? b.AddBinary(n.op)
                                                  : b.AddStringCompare(n.op, n.case_insensitive != 0, n.partial_length);
      b.SetOperand(at, 0, WriteTree(*n.left, b, rng));
      b.SetOperand(at, 1, WriteTree(*n.right, b, rng));
      return at;
    }
    case NodeKind::kField: return b.AddField(static_cast<std::uint16_t>(rng() % 100), n.column_name.View());
    default: break;
  }
  switch (n.type) {
    case FieldType::kString: {
      if (n.null) return b.AddStringConstant("");
      // A 255-character constant (cut to 254 in the node) goes out whole.
      const std::string_view s = NodeString(n);
      return b.AddStringConstant(s.size() == kMaxValueChars ? std::string(255, s[0]) : std::string(s));
    }
    case FieldType::kBoolean: return b.AddBooleanConstant(NodeIsTrue(n) ? (rng() % 2 ? 1 : 0xFFFF) : 0);
    case FieldType::kSmallInt: return b.AddSmallIntConstant(NodeValue<std::int16_t>(n));
    case FieldType::kWord: return b.AddWordConstant(NodeValue<std::uint16_t>(n));
    case FieldType::kFloat: return b.AddFloatConstant(NodeValue<double>(n));
    case FieldType::kTimestamp: return b.AddDateTimeConstant(NodeValue<double>(n));
    case FieldType::kCurrency: return b.AddBcdConstant(NodeValue<std::int64_t>(n));
    case FieldType::kDate: return b.AddDateConstant(NodeValue<std::uint32_t>(n));
    case FieldType::kTime: return b.AddTimeConstant(NodeValue<std::uint32_t>(n));
    default: return b.AddIntegerConstant(NodeValue<std::int32_t>(n));
  }
}

inline std::vector<std::byte> Buffer(const ExpressionPtr& tree, std::uint32_t seed = 1) {
  std::mt19937 rng(seed);
  FilterExpressionBuffer b;
  (void)WriteTree(*tree, b, rng);
  return b.Finish();
}

}  // namespace storage::test
