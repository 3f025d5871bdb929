// Expression nodes: the fixed-size node record of filter and SQL expression
// trees, its kinds and operator codes, the value encodings inside a node,
// and building, copying and freeing trees.
//
// A node's value area holds the value in the node encoding (the first bytes
// of the 255-byte area; the rest is not read):
//
//   type          encoding
//    1 string     characters ending in a zero byte (at most 254 characters)
//    2 date       u32 days, 0001-01-01 is day 1
//    4 boolean    u16: 0 false, 0xFFFF true (any non-zero value reads true)
//    5 int16      i16
//    6 int32      i32
//    7 float      IEEE double
//    8 currency   i64 count of 1/10000 (1.0 is stored as 10000)
//   10 time       u32 milliseconds since midnight
//   11 timestamp  double: days (as for date) x 86400000 + ms of the day
//   12 word       u16
//    0 NULL       no value; null = 1
//
// These are the record encodings of the data file except for booleans,
// which records keep as 0/1 (LoadRecordValue maps them).
//
// Ownership: a node owns its left and right operands. In the lists of IN and
// BETWEEN and in function arguments, the right link of each operand chains
// to the next operand, so a long list is a long right chain. Trees are
// destroyed without recursion, so any depth is safe to free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "storage/field_types.h"

namespace storage {

// Bytes of a node's value area; a string value has at most 254 characters
// plus its terminating zero.
inline constexpr std::size_t kNodeValueSize = 255;
inline constexpr std::size_t kMaxValueChars = kNodeValueSize - 1;
// Largest size a string node may declare: 250 characters + 1, as a field.
inline constexpr int kMaxStringNodeSize = kMaxDeclaredSize + 1;

// Bounded text of a node (a short string of at most 255 characters). Longer
// text is cut on assignment. Holds no heap memory, so nodes copy cheaply.
class NodeText {
 public:
  NodeText() = default;
  NodeText(std::string_view s) { Assign(s); }  // NOLINT: implicit on purpose
  // Copies only the characters in use: nodes are copied for every
  // evaluation step (about 30% of a simple comparison, bench_expr).
  NodeText(const NodeText& other) { Assign(other.View()); }
  NodeText& operator=(const NodeText& other) {
    if (this != &other) Assign(other.View());
    return *this;
  }
  NodeText& operator=(std::string_view s) {
    Assign(s);
    return *this;
  }
  void Assign(std::string_view s);
  std::string_view View() const { return std::string_view(chars_.data(), length_); }
  operator std::string_view() const { return View(); }  // NOLINT
  bool empty() const { return length_ == 0; }
  std::size_t size() const { return length_; }
  void clear() { length_ = 0; }

 private:
  std::uint8_t length_ = 0;
  std::array<char, 255> chars_{};
};

// Node kinds.
enum class NodeKind : std::uint32_t {
  kNone = 0,
  kUnary = 1,              // left
  kBinary = 2,             // left, right
  kStringCompare = 3,      // filters only: left, right; partial length, case flag
  kField = 4,              // column name, field number
  kConstant = 5,           // value
  kFunction = 10,          // left = argument; right = further arguments
  kExtendedPredicate = 12  // left = tested value; right = list / range chain
};

// Operator codes.
enum class ExprOperator : std::uint32_t {
  kNone = 0,
  kIsNull = 1,
  kIsNotNull = 2,
  kEqual = 3,
  kNotEqual = 4,
  kGreater = 5,
  kLess = 6,
  kGreaterEqual = 7,
  kLessEqual = 8,
  kNot = 9,
  kAnd = 10,
  kOr = 11,
  kAdd = 16,  // + and || (string concatenation)
  kSubtract = 17,
  kMultiply = 18,
  kDivide = 19,
  kSum = 22,
  kCount = 23,
  kMin = 24,
  kMax = 25,
  kAvg = 26,
  kLike = 30,
  kIn = 31,
  kUpper = 33,
  kLower = 34,
  kBetween = 38,
  kNotBetween = 39,
  kNotLike = 40,
  kNotIn = 41,
  kSubstring = 42,     // right = FROM constant, its right = optional FOR constant
  kTrimLeading = 43,   // right = trim character constant
  kTrimTrailing = 44,
  kTrimBoth = 45,
  kExtractYear = 47,
  kExtractMonth = 48,
  kExtractDay = 49,
};

// The node record. Zero-filled when made; the three reserved fields are
// written by the SQL parser or left zero and never read here.
struct TExpressionNode {
  NodeText token;  // the text as written: operator, column, literal, function
  NodeKind kind = NodeKind::kNone;
  ExprOperator op = ExprOperator::kNone;  // 0 for field and constant nodes
  std::uint8_t reserved1 = 0;
  NodeText column_name;
  std::uint16_t field_number = 0;
  NodeText correlation_name;  // table correlation name before the column
  std::uint32_t reserved2 = 0;
  std::array<std::uint8_t, kNodeValueSize> value{};
  std::uint8_t null = 0;       // 1 when the value is NULL
  std::uint8_t parameter = 0;  // non-zero for a ? placeholder
  std::uint8_t partial_length = 0;    // string compare: 0 = whole strings
  std::uint8_t case_insensitive = 0;  // string compare
  FieldType type = FieldType::kNone;  // 0 = the NULL literal
  std::uint8_t subtype = 0;           // 21 for money, else 0
  std::uint8_t size = 0;              // size as a field (strings: chars + 1)
  std::uint8_t decimals = 0;
  std::uint32_t reserved3 = 0;
  std::unique_ptr<TExpressionNode> left;
  std::unique_ptr<TExpressionNode> right;

  TExpressionNode() = default;
  TExpressionNode(const TExpressionNode&) = delete;
  TExpressionNode& operator=(const TExpressionNode&) = delete;
  // Frees the operands iteratively (no recursion, whatever the depth).
  ~TExpressionNode();
};

using ExpressionPtr = std::unique_ptr<TExpressionNode>;

// ---------------------------------------------------------------- values

// The string value: up to the first zero byte, never more than 254
// characters (a value area without a terminator reads as its first 254).
std::string_view NodeString(const TExpressionNode& node);
// Stores text cut to 254 characters, zero-terminated.
void SetNodeString(TExpressionNode& node, std::string_view text);

template <class T>
T NodeValue(const TExpressionNode& node) {
  return LoadLittle<T>(node.value.data());
}
template <class T>
void SetNodeValue(TExpressionNode& node, T v) {
  StoreLittle<T>(node.value.data(), v);
}

inline constexpr std::uint16_t kNodeTrue = 0xFFFF;
// The truth of a boolean value: true when non-zero.
inline bool NodeIsTrue(const TExpressionNode& node) { return NodeValue<std::uint16_t>(node) != 0; }
inline void SetNodeBoolean(TExpressionNode& node, bool b) {
  SetNodeValue<std::uint16_t>(node, b ? kNodeTrue : 0);
}

// Loads a record's field value into node in the node encoding: null flag,
// type, subtype (21 only), size and value. Booleans become 0/0xFFFF; values
// of more than 255 bytes are cut to the value area.
void LoadRecordValue(std::span<const std::byte> record, const FieldSlot& slot,
                     TExpressionNode& node);

// The reverse: stores node's value into the record slot in the record
// encoding. A null node clears the field; booleans become 0/1; strings lose
// trailing blanks, are cut to the field and stored as null when empty; other
// types copy the slot's physical size from the value area. The node's type
// is taken to be the slot's (convert first with ConvertExpressionValue).
void StoreRecordValue(const TExpressionNode& node, std::span<std::byte> record,
                      const FieldSlot& slot);

// ---------------------------------------------------------------- building

// A new zero-filled node.
ExpressionPtr NewNode(NodeKind kind, ExprOperator op, std::string_view token);
// Constants as the SQL parser makes them. A string constant of "" is the
// NULL constant (type 0, null flag set).
ExpressionPtr NewStringConstant(std::string_view text);
ExpressionPtr NewIntegerConstant(std::int32_t v);
ExpressionPtr NewFloatConstant(double v);
ExpressionPtr NewBooleanConstant(bool v);
ExpressionPtr NewNullConstant();
// A column node named name (token = name).
ExpressionPtr NewFieldNode(std::string_view name);

// Copies every field of source into dest except the operand links, which
// dest keeps.
void CopyNodeFields(const TExpressionNode& source, TExpressionNode& dest);

// Deep copy; nullptr for nullptr. Each node is copied whole and its links
// point to copies of the operands. Works without recursion, so any depth is
// safe.
ExpressionPtr CopyExpression(const TExpressionNode* node);

// Frees a tree (nothing for nullptr); kept for callers that think in the
// free routine. Resetting the owning pointer does the same.
inline void FreeExpression(ExpressionPtr node) { node.reset(); }

// ---------------------------------------------------------------- chains
//
// A chain is a tree of AND links, or of OR links, grouped any way:
// a AND (b AND c), (a AND b) AND c and (a AND b) AND (c AND d) are one
// chain of four operands. Its operands are the nodes reached from its root
// through links of the root's operator only. A chain is flat: whatever its
// length its operands stand one nesting level below its root (an AND chain
// under an OR, or under a NOT, is a level deeper), and every walker takes
// it in a loop, so that a condition of 10,000 terms costs no stack.

// True for an AND or OR node with both operands.
inline bool IsChainLink(const TExpressionNode& n) {
  return n.kind == NodeKind::kBinary && (n.op == ExprOperator::kAnd || n.op == ExprOperator::kOr) &&
         n.left && n.right;
}

// Calls visit(operand) for every operand of the chain whose root is root
// (IsChainLink), left to right, without recursion. Node is TExpressionNode
// or const TExpressionNode.
template <class Node, class Visit>
void ForEachChainOperand(Node& root, Visit&& visit) {
  std::vector<Node*> stack{&root};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    if (n != &root && !(IsChainLink(*n) && n->op == root.op)) {
      visit(*n);
      continue;
    }
    stack.push_back(n->right.get());
    stack.push_back(n->left.get());
  }
}

// Turns a bare boolean operand into operand = True: a new binary node
// (token "=", operator 3, boolean, size 2) whose left is operand and whose
// right is a new constant "True" (boolean, size 2, value 0xFFFF).
ExpressionPtr MakeBooleanTest(ExpressionPtr operand);

}  // namespace storage
