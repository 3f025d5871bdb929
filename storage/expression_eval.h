// Evaluation of expression trees for one record: the one definition of
// what a filter or SQL condition means.
//
// Value rules (deliberately the engine's own, not standard SQL):
//   - An empty string is NULL (records store it as null; the filter reader
//     and the SQL parser make '' the NULL constant).
//   - = and <>: when exactly one side is null, = is false and <> true; a
//     NULL literal (type 0) on either side tests the other side for null;
//     two nulls are equal.
//   - Ordering comparisons and arithmetic read a null operand as zero (an
//     empty string); arithmetic results are null only after a division by
//     zero.
//   - AND, OR and NOT look at truth only: a boolean is true when non-zero.
//   - LIKE is false when either side is null; IN is a chain of = tests and
//     BETWEEN of >= and <=, with those rules; NOT forms invert the result.
//   - Currency values are counts of 1/10000 in every comparison and
//     arithmetic; an integer n counts as n x 10000, a float x as x x 10000.
//   - String results are cut to 254 characters; integer results are
//     computed in 64 bits and stored in 32 (or 16 for word results).
//   - A combination the type rules do not allow leaves the result as the
//     copy of the operator node.
//
// Evaluation recurses over left and right operands and keeps two node-sized
// operands per level on the stack; nothing is allocated on the heap but
// for a chain grouped both ways at once. Lists of IN and BETWEEN and chains
// of AND or of OR links, grouped any way (expression_node.h), are walked
// in a loop: a chain costs one level whatever its length. A tree nested
// deeper than kMaxExpressionDepth is refused with engine error 10051
// (invalid filter expression) rather than running out of stack; the
// checker counts levels the same way and refuses the same trees first, so
// a checked tree always evaluates.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "storage/expression_node.h"

namespace storage {

// Deepest operand nesting evaluated or checked. A level of evaluation
// takes about 2.3 KB of stack, so the deepest tree runs in 640 KB (under
// 2 MB with AddressSanitizer at -O0; the tests run it there).
inline constexpr int kMaxExpressionDepth = 256;

// Fills result (a copy of the field node: column name and field number
// set) with the field's value of the current record in the node encoding,
// and sets its null flag, type, size and decimals. The record and table are
// whatever the callback captured.
using FieldCallback = std::function<void(TExpressionNode& result)>;

// Computes the value of node for one record into result; result's kind is
// then 5 (constant). language and sort are the low bytes of the table's
// locale ids; language 0 means no locale (plain byte order).
void EvaluateExpression(const TExpressionNode& node, const FieldCallback& field,
                        std::uint8_t language, std::uint8_t sort, TExpressionNode& result);

// -1, 0 or 1. With a locale: the locale's string order on partial_length
// characters of each (whole strings when 0). Without one: unsigned bytes,
// upper-cased first when case_insensitive, over partial_length bytes or the
// length of the longer string (the shorter one reads as zero-padded).
int CompareStrings(std::uint8_t language, std::uint8_t sort, std::string_view s1,
                   bool case_insensitive, std::uint8_t partial_length, std::string_view s2);

// The steps of EvaluateExpression. result holds a copy of the operator node
// on entry and is left so when the operand types are not allowed.
void EvaluateUnary(ExprOperator op, const TExpressionNode& l, TExpressionNode& result);
void EvaluateBinary(ExprOperator op, const TExpressionNode& l, const TExpressionNode& r,
                    std::uint8_t language, std::uint8_t sort, TExpressionNode& result);
void EvaluateStringCompare(ExprOperator op, std::uint8_t partial_length, bool case_insensitive,
                           const TExpressionNode& l, const TExpressionNode& r,
                           std::uint8_t language, std::uint8_t sort, TExpressionNode& result);
// Upper- or lower-cases a string value in place (the locale's mapping with
// a locale, plain ANSI mapping without); other types are left alone.
void UpperCaseValue(TExpressionNode& node, std::uint8_t language, std::uint8_t sort);
void LowerCaseValue(TExpressionNode& node, std::uint8_t language, std::uint8_t sort);

}  // namespace storage
