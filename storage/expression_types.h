// Type rules of expression nodes, shared by the checker and the evaluator,
// and conversions of node values between types.
//
// Comparisons (=, <>, >, <, >=, <=) and AND/OR give booleans. Numeric types
// are int16, int32, float, currency and word; "integer" below means int16,
// int32 or word.
//
//   =, <>       string/string, date|timestamp with date|timestamp,
//               boolean/boolean, numeric/numeric, time/time; any of these
//               on the left with the NULL literal (type 0) on the right
//   > < >= <=   the same without the NULL literal
//   AND, OR     boolean/boolean
//
// Arithmetic result types: see BinaryResultType in expression_types.cpp,
// which holds the table row by row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/expression_node.h"

namespace storage {

// True only for IS NULL, IS NOT NULL and NOT with a boolean operand.
bool UnaryOperandAllowed(ExprOperator op, FieldType type);

bool BinaryOperandsAllowed(ExprOperator op, FieldType left, FieldType right);
// The result type of an allowed combination; kNone when not allowed.
FieldType BinaryResultType(ExprOperator op, FieldType left, FieldType right);
// The money rule: for + and *, 21 when either side is money (the left
// side only with a numeric right type); for - and /, 21 when the left side
// is money and the right type numeric; 0 for all other operators.
std::uint8_t BinaryResultSubtype(ExprOperator op, FieldType left_type, std::uint8_t left_subtype,
                                 std::uint8_t right_subtype, FieldType right_type);

// Converts the value at source_value (of source's type) into the type of
// target, written at dest. Equal types copy the value (strings cut to dest).
// Pairs without a rule write nothing. Currency values are always counts of
// 1/10000: 1 becomes 10000, 1.5 becomes 15000 and back. Floats out of the
// target's range saturate (NaN gives 0).
//   date      <- timestamp
//   int16     <- int32, float, currency, word
//   int32     <- int16, float, currency, word
//   float     <- int16, int32, word, currency
//   currency  <- int16, int32, word, float
//   timestamp <- date
//   word      <- int16, int32, float, currency
void ConvertExpressionValue(const TExpressionNode& source,
                            std::span<const std::uint8_t> source_value,
                            const TExpressionNode& target, std::span<std::uint8_t> dest);

// Turns the string in value into a date (u32 days), time (u32 ms since
// midnight) or timestamp (double ms) in place, reading it with the fixed
// format set mm/dd/yyyy and '/'. False, value unchanged, when the text is
// not a valid date or time; other target types change nothing and give
// true.
bool ConvertDateLiteral(std::span<std::uint8_t> value, FieldType target_type);

// Rounds to the nearest integer, halves away from zero, saturating at the
// int64 range; NaN gives 0.
std::int64_t RoundToInt64(double x);

// Width in bytes of a fixed-width value of type in the node encoding; 0 for
// strings and types without a node encoding.
std::size_t NodeValueWidth(FieldType type);

// Day number (0001-01-01 = 1) of a timestamp's milliseconds, rounded to a
// whole millisecond first, and the milliseconds of its day.
std::int64_t TimestampDays(double msecs);
std::int64_t TimestampTimeOfDay(double msecs);

}  // namespace storage
