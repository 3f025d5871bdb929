// Checking of expression trees built by the SQL parser, before they are
// evaluated: resolves column names through the caller, turns string
// constants that name a column into columns, turns bare boolean columns and
// functions under NOT, AND and OR into comparisons with True, converts date
// and time literals, enforces the operand type rules and fills each node's
// type, subtype, size and decimals.
//
// Every fault raises the engine error the caller names, with the message as
// its extra text and no file, field or index context; every message ends
// with " in " + context. The first fault raises and nothing is undone.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "storage/expression_node.h"

namespace storage {

// True when node's column name (and correlation name) names a column of the
// query's tables; it then fills the node's field number, type, subtype, size
// and decimals.
using ColumnResolver = std::function<bool(TExpressionNode& node)>;

// Checks the tree under root (the root itself is never replaced; its
// operands may be). Trees nested deeper than kMaxExpressionDepth are refused
// with "Expression is nested too deeply in " + context, counted as the
// evaluator counts them: lists of IN and BETWEEN and chains of AND or of OR
// links grouped any way (expression_node.h) are walked in a loop and cost
// one level whatever their length.
void CheckExpression(std::uint16_t error_code, std::string_view context, TExpressionNode& root,
                     const ColumnResolver& resolve_column);

// "expression" for unary and binary nodes (and, by choice, string compare
// and extended predicate nodes), "column", "constant", "function".
std::string_view KindName(NodeKind kind);

}  // namespace storage
