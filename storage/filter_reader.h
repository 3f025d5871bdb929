// The filter reader: turns a filter-expression buffer (filter_buffer.h) into
// an expression tree (expression_node.h) for the evaluator.
//
// The buffer comes from the dataset layer and is not trusted: every offset
// and size is checked against the buffer before it is used, and a buffer
// that does not hold one well-formed tree is refused with engine error
// 10051. Refused are, among others: a short or truncated buffer, a header
// whose areas do not fit in the stated total size, a version other than 0
// (narrow) or 1 (wide), a node or literal reaching past its area, a node
// reference that does not point past the referring node (which rules out
// cycles), a node reached twice, nesting deeper than the evaluator takes
// (kMaxExpressionDepth, counted as it counts: a chain of AND or of OR
// links is one level, read in a loop whatever its length), an
// unknown node class or an operator its class does not have, a unary,
// binary or string compare node without its operands, a node out of its
// place (the root and the operands of NOT, AND and OR must be conditions:
// unary, binary or string compare nodes; the operands of comparisons and
// of the blank tests must be fields or constants; a string compare node
// compares a string field with a string constant), a field name without
// its zero byte within 256 bytes, a string constant longer than 256 bytes,
// a partial length above 255, and a constant of an unknown type or of a
// size its type does not have. The checks prove only that the tree is
// well-formed; whether its operand types fit is left to the evaluator, as
// for every filter.
//
// What the nodes get:
//   unary, binary      kind and operator; operands
//   string compare     kind, operator, case-insensitive (1 when the u16 is
//                      non-zero), partial length; field and constant
//   field              kind, the name as column name and token; field
//                      number, type and size from the table's field of
//                      that name (an unknown name raises 9985)
//   constant           kind, type, size and value; a string constant with
//                      empty text (size 1) is NULL (null flag 1, type
//                      string); a longer one keeps as many characters as
//                      the value area holds (254), which never changes a
//                      comparison with a field (at most 250 characters);
//                      a Boolean true (1 or 0xFFFF) becomes 0xFFFF
#pragma once

#include <cstddef>
#include <span>

#include "storage/expression_node.h"
#include "storage/filter_table.h"

namespace storage {

// Reads the whole buffer (root at node offset 0) into a new tree, looking
// fields up in table. Raises 10051 for a malformed buffer and 9985 (with
// the field name) for a field the table does not have.
[[nodiscard]] ExpressionPtr ConvertFilterBlob(std::span<const std::byte> buffer,
                                              const FilterTable& table);

}  // namespace storage
