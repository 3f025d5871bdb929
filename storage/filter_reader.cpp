#include "storage/filter_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "storage/engine_error.h"
#include "storage/expression_eval.h"
#include "storage/filter_buffer.h"

namespace storage {
namespace {

enum class ReadStatus { kOk, kCorrupt, kUnknownField };

// What a node stands for where it is referenced.
enum class Role { kCondition, kValue };

bool UnaryOperator(std::uint32_t op) { return op == 1 || op == 2 || op == 9; }
bool BinaryOperator(std::uint32_t op) { return (op >= 3 && op <= 8) || op == 10 || op == 11; }
bool CompareOperator(std::uint32_t op) { return op == 3 || op == 4; }

// Value width of a constant type the buffer may carry; 0 for strings and
// for types that never appear in a buffer.
std::size_t ConstantWidth(std::uint16_t type) {
  switch (type) {
    case 4:   // Boolean
    case 5:   // SmallInt
    case 12:  // Word
      return 2;
    case 2:   // Date
    case 6:   // Integer
    case 10:  // Time
      return 4;
    case 7:   // Float
    case 8:   // BCD
    case 11:  // DateTime
      return 8;
    default:
      return 0;
  }
}

// Walks the buffer from the root. Every failure sets status_ and makes the
// walk return nullptr; ConvertFilterBlob raises once at the end.
class BlobReader {
 public:
  BlobReader(std::span<const std::byte> buffer, const FilterTable& table)
      : buf_(buffer), table_(table) {}

  ExpressionPtr Read() {
    if (!ReadHeader()) return Fail();
    visited_.assign(literal_start_ - node_start_, false);
    return ReadNode(0, 1, Role::kCondition);
  }

  ReadStatus status() const { return status_; }
  const std::string& bad_field() const { return bad_field_; }

 private:
  std::uint16_t U16(std::size_t at) const { return LoadLittle<std::uint16_t>(buf_.data() + at); }
  std::uint32_t U32(std::size_t at) const { return LoadLittle<std::uint32_t>(buf_.data() + at); }
  // A header field or node operand: a u16 narrow, a u32 wide.
  std::size_t Word(std::size_t at) const { return width_ == 2 ? U16(at) : U32(at); }

  ExpressionPtr Fail() {
    if (status_ == ReadStatus::kOk) status_ = ReadStatus::kCorrupt;
    return nullptr;
  }

  bool ReadHeader() {
    if (buf_.size() < kFilterHeaderSize) return false;
    std::size_t header = kFilterHeaderSize;
    std::size_t limit = kMaxFilterBufferSize;
    switch (U16(kFilterVersionOffset)) {
      case kFilterBufferVersion: width_ = 2; break;
      case kFilterWideBufferVersion:
        width_ = 4;
        header = kFilterWideHeaderSize;
        limit = kMaxWideFilterBufferSize;
        if (buf_.size() < header || U32(0) != kFilterWideBufferVersion) return false;
        break;
      default: return false;
    }
    const std::size_t total = Word(width_);
    if (total < header || total > buf_.size() || total > limit) return false;
    buf_ = buf_.first(total);  // bytes past the stated size are not ours
    node_start_ = Word(3 * width_);
    literal_start_ = Word(4 * width_);
    // The node count (the third field) is never counted by the writer: not
    // read.
    return node_start_ >= header && node_start_ <= literal_start_ && literal_start_ <= total &&
           literal_start_ - node_start_ >= kFilterNodeHeaderSize;
  }

  // Where the node at offset begins in the buffer, when its whole header
  // lies in the node area; 0 when not.
  std::size_t NodeAt(std::size_t offset) const {
    const std::size_t area = literal_start_ - node_start_;
    if (offset >= area || area - offset < kFilterNodeHeaderSize) return 0;
    return node_start_ + offset;
  }

  // True when the node at offset is an AND or OR link of operator op.
  bool IsLinkOf(std::size_t offset, std::uint32_t op) const {
    const std::size_t at = NodeAt(offset);
    return at != 0 && U32(at) == static_cast<std::uint32_t>(FilterNodeClass::kBinary) &&
           U32(at + 4) == op;
  }

  // The node at offset (from the node-area start), nesting level depth
  // (the root is 1), standing where a node of role is expected.
  ExpressionPtr ReadNode(std::size_t offset, int depth, Role role) {
    if (depth > kMaxExpressionDepth) return Fail();
    const std::size_t at = NodeAt(offset);
    if (at == 0) return Fail();
    const std::uint32_t node_class = U32(at);
    const std::uint32_t op = U32(at + 4);
    if (role == Role::kCondition && node_class == 2 && (op == 10 || op == 11)) {
      return ReadChain(offset, depth);
    }
    const std::size_t area = literal_start_ - node_start_;
    if (visited_[offset]) return Fail();
    visited_[offset] = true;
    const std::size_t operands = FilterOperandCount(node_class);
    if (operands == 0) return Fail();  // unknown class
    // Conditions (classes 1 to 3) stand at the root and under NOT, AND and
    // OR; fields and constants (4, 5) under comparisons and blank tests.
    if ((role == Role::kCondition) != (node_class <= 3)) return Fail();
    const std::size_t node_size = kFilterNodeHeaderSize + width_ * operands;
    if (area - offset < node_size) return Fail();
    const std::size_t end = offset + node_size;  // operands lie at or past here
    auto operand = [&](std::size_t i) { return Word(at + kFilterNodeHeaderSize + width_ * i); };
    auto child = [&](std::size_t i, Role child_role) -> ExpressionPtr {
      const std::size_t ref = operand(i);
      if (ref < end) return Fail();  // also refuses 0 and any cycle
      return ReadNode(ref, depth + 1, child_role);
    };

    auto node = std::make_unique<TExpressionNode>();
    node->kind = static_cast<NodeKind>(node_class);
    switch (static_cast<FilterNodeClass>(node_class)) {
      case FilterNodeClass::kUnary:
        if (!UnaryOperator(op)) return Fail();
        node->op = static_cast<ExprOperator>(op);
        if (!(node->left = child(0, op == 9 ? Role::kCondition : Role::kValue))) return nullptr;
        break;
      case FilterNodeClass::kBinary: {
        if (!BinaryOperator(op)) return Fail();
        node->op = static_cast<ExprOperator>(op);
        const Role operand_role = op >= 10 ? Role::kCondition : Role::kValue;
        if (!(node->left = child(0, operand_role))) return nullptr;
        if (!(node->right = child(1, operand_role))) return nullptr;
        break;
      }
      case FilterNodeClass::kStringCompare: {
        if (!CompareOperator(op)) return Fail();
        const std::size_t partial = operand(1);
        if (partial > 0xFF) return Fail();
        node->op = static_cast<ExprOperator>(op);
        node->case_insensitive = operand(0) != 0 ? 1 : 0;
        node->partial_length = static_cast<std::uint8_t>(partial);
        if (!(node->left = child(2, Role::kValue))) return nullptr;
        if (!(node->right = child(3, Role::kValue))) return nullptr;
        // A string field compared with a string constant, nothing else.
        if (node->left->kind != NodeKind::kField || node->left->type != FieldType::kString ||
            node->right->kind != NodeKind::kConstant || node->right->type != FieldType::kString) {
          return Fail();
        }
        break;
      }
      case FilterNodeClass::kField:
        if (op != kFilterFieldOperator || !ReadField(operand(1), *node)) return Fail();
        break;
      case FilterNodeClass::kConstant:
        if (op != kFilterConstantOperator ||
            !ReadConstant(operand(0), operand(1), operand(2), *node)) {
          return Fail();
        }
        break;
    }
    return node;
  }

  // A chain of AND or of OR links (expression_node.h) is read in a loop so
  // that its length costs no stack: its links stand at the chain's depth
  // and only its other operands one level deeper. Nodes are read in the
  // order recursion would read them, left side first.
  ExpressionPtr ReadChain(std::size_t offset, int depth) {
    const std::size_t at = NodeAt(offset);
    const std::uint32_t op = U32(at + 4);
    struct Pending {
      ExpressionPtr* into;
      std::size_t offset;
      bool link;
    };
    ExpressionPtr root;
    std::vector<Pending> todo{{&root, offset, true}};
    while (!todo.empty()) {
      const Pending p = todo.back();
      todo.pop_back();
      if (!p.link) {
        *p.into = ReadNode(p.offset, depth + 1, Role::kCondition);
        if (!*p.into) return nullptr;
        continue;
      }
      if (visited_[p.offset]) return Fail();
      visited_[p.offset] = true;
      const std::size_t node_size = kFilterNodeHeaderSize + 2 * width_;
      if (literal_start_ - node_start_ - p.offset < node_size) return Fail();
      const std::size_t end = p.offset + node_size;
      const std::size_t node_at = node_start_ + p.offset;
      auto link = std::make_unique<TExpressionNode>();
      link->kind = NodeKind::kBinary;
      link->op = static_cast<ExprOperator>(op);
      ExpressionPtr* sides[2] = {&link->left, &link->right};
      *p.into = std::move(link);
      for (int i = 1; i >= 0; --i) {
        const std::size_t ref = Word(node_at + kFilterNodeHeaderSize + width_ * i);
        if (ref < end) return Fail();  // also refuses 0 and any cycle
        todo.push_back({sides[i], ref, IsLinkOf(ref, op)});
      }
    }
    return root;
  }

  // The literal area from lit on, at most its end.
  std::span<const std::byte> Literal(std::size_t lit) const {
    const std::size_t area = buf_.size() - literal_start_;
    if (lit > area) return {};
    return buf_.subspan(literal_start_ + lit);
  }

  bool ReadField(std::size_t name_offset, TExpressionNode& node) {
    const std::span<const std::byte> lit = Literal(name_offset);
    if (lit.empty()) return false;  // no room even for the zero byte
    const std::size_t scan = std::min(lit.size(), kMaxFilterStringChars + 1);
    const void* zero = std::memchr(lit.data(), 0, scan);
    if (zero == nullptr) return false;  // no terminator where one must be
    const std::string_view name(reinterpret_cast<const char*>(lit.data()),
                                static_cast<const std::byte*>(zero) - lit.data());
    const std::optional<FilterField> field = table_.FindFilterField(name);
    if (!field) {
      status_ = ReadStatus::kUnknownField;
      bad_field_ = std::string(name);
      return false;
    }
    node.column_name = name;
    node.token = name;
    node.field_number = field->number;
    node.type = field->type;
    node.size = field->size;
    return true;
  }

  bool ReadConstant(std::size_t type, std::size_t size, std::size_t lit_offset,
                    TExpressionNode& node) {
    const std::span<const std::byte> lit = Literal(lit_offset);
    if (size > lit.size()) return false;
    const std::span<const std::byte> value = lit.first(size);
    if (type == TypeCode(FieldType::kString)) {
      if (size < 1 || size > kMaxFilterStringChars + 1) return false;
      // The text ends at its zero byte or with the stated size.
      std::string_view text(reinterpret_cast<const char*>(value.data()), size - 1u);
      text = text.substr(0, text.find('\0'));
      node.type = FieldType::kString;
      node.size = static_cast<std::uint8_t>(std::min<std::size_t>(size, 0xFF));
      if (text.empty()) {
        node.null = 1;  // '' is the engine's NULL
        return true;
      }
      SetNodeString(node, text);
      node.token = text;
      return true;
    }
    const std::size_t width = ConstantWidth(type);
    if (width == 0 || size != width) return false;
    node.type = static_cast<FieldType>(type);
    node.size = static_cast<std::uint8_t>(size);
    std::memcpy(node.value.data(), value.data(), size);
    if (node.type == FieldType::kBoolean) SetNodeBoolean(node, NodeIsTrue(node));
    return true;
  }

  std::span<const std::byte> buf_;
  const FilterTable& table_;
  std::size_t width_ = 2;  // of header fields and operands: 2 narrow, 4 wide
  std::size_t node_start_ = 0;
  std::size_t literal_start_ = 0;
  std::vector<bool> visited_;  // by node offset
  ReadStatus status_ = ReadStatus::kOk;
  std::string bad_field_;
};

}  // namespace

ExpressionPtr ConvertFilterBlob(std::span<const std::byte> buffer, const FilterTable& table) {
  BlobReader reader(buffer, table);
  ExpressionPtr tree = reader.Read();
  switch (reader.status()) {
    case ReadStatus::kOk:
      break;
    case ReadStatus::kCorrupt:
      tree.reset();
      EngineError(ErrorCode::kInvalidFilterExpression, table.DataFileName());
    case ReadStatus::kUnknownField:
      tree.reset();
      EngineError(ErrorCode::kInvalidField, table.DataFileName(), reader.bad_field());
  }
  return tree;
}

}  // namespace storage
