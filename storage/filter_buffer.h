// The filter-expression buffer: the self-contained binary form in which a
// dataset's filter condition (and the key values of Locate and Lookup)
// passes from the dataset layer to the engine. It is built in memory and
// handed over whole; it is never stored in a file. The engine reads it with
// ConvertFilterBlob (filter_reader.h).
//
// All integers little-endian. A header, the node area, then the literal
// area. A buffer comes in one of two widths: narrow (version 0), the form
// every buffer that fits in 65535 bytes takes, and wide (version 1), the
// same layout with every u16 below made a u32, for a filter too large for
// 16-bit offsets (a condition of thousands of terms). The first u16 tells
// them apart: a wide buffer's u32 version 1 begins with the u16 1.
//
//   narrow  wide
//   OFFSET  OFFSET  SIZE (narrow, wide)  DESCRIPTION
//      0       0    2, 4   version: 0 narrow, 1 wide
//      2       4    2, 4   total size of the buffer in bytes
//      4       8    2, 4   node count: always all ones (not counted; never
//                          read)
//      6      12    2, 4   node-area start: the header size (10, 20)
//      8      16    2, 4   literal-area start: node-area start + its size
//
// A node is a u32 class, a u32 operator code and then its operands, each a
// u16 (narrow) or a u32 (wide); its size is 8 + 2 (or 4) x operand count. A
// node reference is the node's offset from the start of the node area; a
// literal reference is an offset from the start of the literal area. The
// root is at node offset 0 and every node comes before the nodes it refers
// to, so a reference is never 0 and always points past the referring node.
//
//   class  name            operator               operands (in order)
//     1    unary           9 NOT, 1 is blank,     operand node
//                          2 is not blank
//     2    binary          3..8 comparisons,      left node, right node
//                          10 AND, 11 OR
//     3    string compare  3 =, 4 <>              case-insensitive (1 or 0),
//                                                 partial length (leading
//                                                 characters compared;
//                                                 0 = whole value),
//                                                 field node, constant node
//     4    field           13                     field number, literal
//                                                 offset of the name (zero-
//                                                 terminated)
//     5    constant        14                     engine field type, size in
//                                                 bytes, literal offset of
//                                                 the value
//
// Constant values in the literal area:
//
//   type  size        value
//    1    length + 1  text of at most 255 characters, zero-terminated;
//                     size 1 (the empty string) is read as NULL
//    5    2           i16
//    6    4           i32
//   12    2           u16
//    4    2           u16: 1 true, 0 false (0xFFFF from a lone Boolean
//                     field; any non-zero value is true)
//    7    8           IEEE double (float and currency fields)
//    8    8           i64: the value x 10000 (BCD fields)
//    2    4           u32 day number, 0001-01-01 = day 1
//   10    4           u32 milliseconds since midnight
//   11    8           IEEE double: days x 86400000 + milliseconds of the day
//
// A 255-character string has the size 256, which needs the whole u16: the
// reader takes the size as 16 bits and never as its low byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "storage/expression_node.h"
#include "storage/field_types.h"

namespace storage {

// Node classes of the buffer; the reader gives each node the same number as
// its node kind.
enum class FilterNodeClass : std::uint32_t {
  kUnary = 1,
  kBinary = 2,
  kStringCompare = 3,
  kField = 4,
  kConstant = 5,
};

// Operator codes of field and constant nodes (the others are those of
// ExprOperator, 1 to 11).
inline constexpr std::uint32_t kFilterFieldOperator = 13;
inline constexpr std::uint32_t kFilterConstantOperator = 14;

inline constexpr std::uint16_t kFilterBufferVersion = 0;
inline constexpr std::uint16_t kFilterWideBufferVersion = 1;
inline constexpr std::size_t kFilterHeaderSize = 10;
inline constexpr std::size_t kFilterWideHeaderSize = 20;
inline constexpr std::uint16_t kFilterNodeCountUnknown = 0xFFFF;
inline constexpr std::size_t kFilterNodeHeaderSize = 8;  // class + operator
// Largest total size a narrow header can state.
inline constexpr std::size_t kMaxFilterBufferSize = 0xFFFF;
// Largest wide buffer written or read: far beyond any filter a person
// writes, and a bound on what a hostile one makes the reader allocate.
inline constexpr std::size_t kMaxWideFilterBufferSize = std::size_t{1} << 26;
// Longest string constant: 255 characters plus the zero byte.
inline constexpr std::size_t kMaxFilterStringChars = 255;

// Header field offsets of a narrow buffer; a wide one has them at twice
// these.
inline constexpr std::size_t kFilterVersionOffset = 0;
inline constexpr std::size_t kFilterTotalSizeOffset = 2;
inline constexpr std::size_t kFilterNodeCountOffset = 4;
inline constexpr std::size_t kFilterNodeStartOffset = 6;
inline constexpr std::size_t kFilterLiteralStartOffset = 8;

// Number of operands a node of the class carries; 0 for an unknown class.
constexpr std::size_t FilterOperandCount(std::uint32_t node_class) {
  switch (node_class) {
    case 1:
      return 1;
    case 2:
      return 2;
    case 3:
      return 4;
    case 4:
      return 2;
    case 5:
      return 3;
    default:
      return 0;
  }
}

// Builds a buffer. Nodes are appended to the node area and literals to the
// literal area in the order they are added; the first node added is the
// root. A parent is added before its operands and linked to them once they
// exist:
//
//   FilterExpressionBuffer b;
//   auto cmp = b.AddBinary(ExprOperator::kEqual);
//   b.SetOperand(cmp, 0, b.AddField(2, "Name"));
//   b.SetOperand(cmp, 1, b.AddStringConstant("Smith"));
//   std::vector<std::byte> bytes = b.Finish();
//
// Finish lays the buffer out narrow when it fits in 65535 bytes, else wide;
// a buffer that would grow past kMaxWideFilterBufferSize raises engine
// error 10051.
class FilterExpressionBuffer {
 public:
  // A node: its number in the order of adding (the root is 0).
  using NodeRef = std::uint32_t;

  // Operator 1 (is blank), 2 (is not blank) or 9 (NOT).
  NodeRef AddUnary(ExprOperator op);
  // Operators 3 to 8 (comparisons), 10 (AND), 11 (OR).
  NodeRef AddBinary(ExprOperator op);
  // Operator 3 or 4; partial_length leading characters are compared (0 =
  // the whole value). Operand 0 is the field node, operand 1 the constant.
  NodeRef AddStringCompare(ExprOperator op, bool case_insensitive, std::uint8_t partial_length);
  // A field by its dataset field number and name.
  NodeRef AddField(std::uint16_t field_number, std::string_view name);
  // A constant with raw value bytes in the encoding of the table above.
  NodeRef AddConstant(FieldType type, std::span<const std::byte> value);
  // Text cut to 255 characters, zero-terminated; "" has size 1 (NULL).
  NodeRef AddStringConstant(std::string_view text);
  NodeRef AddSmallIntConstant(std::int16_t v);
  NodeRef AddIntegerConstant(std::int32_t v);
  NodeRef AddWordConstant(std::uint16_t v);
  // raw: 1 or 0 from a constant, 0xFFFF for a lone Boolean field.
  NodeRef AddBooleanConstant(std::uint16_t raw);
  NodeRef AddFloatConstant(double v);
  NodeRef AddBcdConstant(std::int64_t ten_thousandths);
  NodeRef AddDateConstant(std::uint32_t day_number);
  NodeRef AddTimeConstant(std::uint32_t msecs);
  NodeRef AddDateTimeConstant(double msecs);

  // Links operand index (0 = first node operand: the unary operand, the
  // left side, or the string compare's field node; 1 = the right side or
  // the constant node) of parent to operand. REQUIRES: parent was added by
  // AddUnary, AddBinary or AddStringCompare, and operand after it.
  void SetOperand(NodeRef parent, int index, NodeRef operand);

  // The finished buffer: header filled in, node area, literal area. The
  // builder stays usable (more nodes may be added and Finish called again).
  [[nodiscard]] std::vector<std::byte> Finish() const;

  // Sizes of the node area as Finish lays it out, and of the literal area.
  [[nodiscard]] std::size_t NodeAreaSize() const;
  [[nodiscard]] std::size_t LiteralAreaSize() const { return literals_.size(); }

 private:
  struct Node {
    FilterNodeClass node_class;
    std::uint32_t op;
    std::array<std::uint32_t, 4> operands;  // node operands: NodeRefs
  };
  [[nodiscard]] bool Narrow() const;
  NodeRef AddNode(FilterNodeClass node_class, std::uint32_t op,
                  std::span<const std::uint32_t> operands);
  std::uint32_t AddLiteral(std::span<const std::byte> bytes);
  template <class V>
  NodeRef AddFixed(FieldType type, V v);

  std::vector<Node> nodes_;
  std::size_t operand_count_ = 0;  // of all nodes
  std::vector<std::byte> literals_;
};

}  // namespace storage
