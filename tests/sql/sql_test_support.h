// Helpers for the SQL front-end tests and the fuzz target: a compact
// description of a parsed query (the expected text of the case files) and
// parsing that reports the SQL message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sql/data_query.h"
#include "sql/sql_lexer.h"
#include "storage/engine_error.h"
#include "storage/session.h"
#include "storage/table_names.h"

namespace sql::test {

using storage::ExprOperator;
using storage::FieldType;
using storage::NodeKind;
using storage::TExpressionNode;

inline std::string Num(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

inline const char* OperatorName(const TExpressionNode& n) {
  using enum ExprOperator;
  static const std::pair<ExprOperator, const char*> kNames[] = {
      {kEqual, "="}, {kNotEqual, "<>"}, {kGreater, ">"}, {kLess, "<"}, {kGreaterEqual, ">="}, {kLessEqual, "<="},
      {kNot, "NOT"}, {kAnd, "AND"}, {kOr, "OR"}, {kSubtract, "-"}, {kMultiply, "*"}, {kDivide, "/"},
      {kSum, "SUM"}, {kCount, "COUNT"}, {kMin, "MIN"}, {kMax, "MAX"}, {kAvg, "AVG"}, {kLike, "LIKE"}, {kIn, "IN"},
      {kUpper, "UPPER"}, {kLower, "LOWER"}, {kBetween, "BETWEEN"}, {kNotBetween, "NOT_BETWEEN"},
      {kNotLike, "NOT_LIKE"}, {kNotIn, "NOT_IN"}, {kSubstring, "SUBSTRING"}, {kTrimLeading, "TRIM_LEADING"},
      {kTrimTrailing, "TRIM_TRAILING"}, {kTrimBoth, "TRIM_BOTH"}, {kExtractYear, "EXTRACT_YEAR"},
      {kExtractMonth, "EXTRACT_MONTH"}, {kExtractDay, "EXTRACT_DAY"}};
  if (n.op == kAdd) return n.token.View() == "||" ? "||" : "+";
  for (const auto& [op, name] : kNames)
    if (op == n.op) return name;
  return "?op";
}

inline const char* TypeLetter(FieldType t) {
  static const std::pair<FieldType, const char*> kLetters[] = {
      {FieldType::kString, "s"}, {FieldType::kDate, "d"},   {FieldType::kBoolean, "b"},
      {FieldType::kInteger, "i"}, {FieldType::kFloat, "f"}, {FieldType::kTimestamp, "ts"}};
  for (const auto& [type, letter] : kLetters)
    if (type == t) return letter;
  return "?";
}

inline std::string Quote(std::string_view s, char q = '\'') {
  std::string out(1, q);
  for (char c : s) {
    out += c;
    if (c == q) out += q;
  }
  out += q;
  return out;
}

inline bool IsLeaf(const TExpressionNode& n) {
  return n.kind == NodeKind::kField || n.kind == NodeKind::kConstant;
}

// Leaves: t.a, *, 5, f:1.5, 'text', TRUE, NULL, ?, DATE:<days>, NOW:<ms>.
// Other nodes: (OP[:type][@mark] operands...), with IN lists, BETWEEN
// bounds and SUBSTRING arguments flattened from their right chains.
inline std::string DescribeNode(const TExpressionNode* n) {
  if (n == nullptr) return "<null>";
  switch (n->kind) {
    case NodeKind::kField: {
      std::string s;
      if (!n->correlation_name.empty()) s = std::string(n->correlation_name.View()) + ".";
      return s + std::string(n->column_name.View());
    }
    case NodeKind::kConstant:
      if (n->parameter != 0) return "?";
      if (n->null != 0) return "NULL";
      switch (n->type) {
        case FieldType::kInteger: return std::to_string(storage::NodeValue<std::int32_t>(*n));
        case FieldType::kFloat: return "f:" + Num(storage::NodeValue<double>(*n));
        case FieldType::kString: return Quote(storage::NodeString(*n));
        case FieldType::kBoolean: return storage::NodeIsTrue(*n) ? "TRUE" : "FALSE";
        case FieldType::kDate: return "DATE:" + std::to_string(storage::NodeValue<std::uint32_t>(*n));
        case FieldType::kTimestamp: return "NOW:" + Num(storage::NodeValue<double>(*n));
        default: return "?const";
      }
    default: break;
  }
  std::string s = "(";
  s += OperatorName(*n);
  if (n->type != FieldType::kNone) s += std::string(":") + TypeLetter(n->type);
  if (n->reserved1 != 0) s += "@" + std::to_string(n->reserved1);
  if (n->left) s += " " + DescribeNode(n->left.get());
  const bool chained = n->kind == NodeKind::kExtendedPredicate || n->op == ExprOperator::kSubstring;
  if (chained) {
    // The right link of a column or constant in the chain is the next
    // operand; any other node uses it for its own operand, which ends the
    // chain.
    for (const TExpressionNode* r = n->right.get(); r != nullptr; r = r->right.get()) {
      s += " " + DescribeNode(r);
      if (!IsLeaf(*r)) break;
    }
  } else if (n->right) {
    s += " " + DescribeNode(n->right.get());
  }
  return s + ")";
}

inline const char* AggregateName(AggregateKind k) {
  switch (k) {
    case AggregateKind::kSum: return "SUM";
    case AggregateKind::kMin: return "MIN";
    case AggregateKind::kMax: return "MAX";
    case AggregateKind::kAvg: return "AVG";
    case AggregateKind::kCount: return "COUNT";
    default: return "";
  }
}

// One line per part of the query, in this order (lines without content are
// left out): "flags: ..." (live distinct avg exprs params join where grouped
// order memory locks), "into: <name>", "col <n>: <tree> [agg=K]
// [column=[corr.]name] [expr[=\"text\"]] [name=\"result\"]" per select item,
// "source <seq>: <path> as <corr> [inner|left|right] [memory]" in list order,
// "where: <tree>", "group: <item>", "order: <item> [desc]" (an item is
// [corr.]name or #number) and "params: <n>".
inline std::string Describe(const TDataQuery& q, bool with_expression_text = true) {
  std::string out;
  const QueryFlags& f = q.Flags();
  std::string flags;
  auto flag = [&](bool on, const char* name) {
    if (on) flags += std::string(flags.empty() ? "" : " ") + name;
  };
  flag(f.live_requested, "live");
  flag(f.distinct, "distinct");
  flag(f.avg_used, "avg");
  flag(f.expression_columns, "exprs");
  flag(f.parameters, "params");
  flag(f.join, "join");
  flag(f.where, "where");
  flag(f.grouped, "grouped");
  flag(f.order_by, "order");
  flag(f.in_memory_result, "memory");
  flag(q.WithLocks(), "locks");
  if (!flags.empty()) out += "flags: " + flags + "\n";
  if (!q.ResultTableName().empty()) out += "into: " + q.ResultTableName() + "\n";
  for (std::int32_t i = 0; i < q.Columns().Count(); ++i) {
    const TResultDataField* c = q.Columns().Get(i);
    out += "col " + std::to_string(i + 1) + ": " + DescribeNode(c->tree_.get());
    if (c->aggregate_ != AggregateKind::kNone) out += std::string(" agg=") + AggregateName(c->aggregate_);
    if (!c->column_name_.empty()) {
      out += " column=" + (c->correlation_name_.empty() ? "" : c->correlation_name_ + ".") +
             c->column_name_;
    }
    if (c->expression_) out += " expr";
    if (c->expression_ && with_expression_text) out += "=" + Quote(c->expression_text_, '"');
    if (!c->result_name_.empty()) out += " name=" + Quote(c->result_name_, '"');
    out += "\n";
  }
  for (std::int32_t i = 0; i < q.Sources().Count(); ++i) {
    const TSourceDataFile* s = q.Sources().Get(i);
    static const char* kJoins[] = {"", " inner", " left", " right"};
    out += "source " + std::to_string(s->from_sequence_) + ": " + s->table_path_ + " as " +
           s->correlation_name_ + kJoins[static_cast<int>(s->join_kind_) & 3] +
           (s->in_memory_ ? " memory" : "") + "\n";
  }
  if (q.Where() != nullptr) out += "where: " + DescribeNode(q.Where()) + "\n";
  auto item = [](const TGroupByDataField& g) {
    if (g.by_number_) return "#" + std::to_string(g.column_number_);
    return (g.correlation_name_.empty() ? "" : g.correlation_name_ + ".") + g.column_name_;
  };
  for (std::int32_t i = 0; i < q.GroupBy().Count(); ++i) {
    out += "group: " + item(*q.GroupBy().Get(i)) + "\n";
  }
  for (std::int32_t i = 0; i < q.OrderBy().Count(); ++i) {
    const TOrderByDataField* o = q.OrderBy().Get(i);
    out += "order: " + item(*o) + (o->descending_ ? " desc" : "") + "\n";
  }
  if (q.ParameterCount() != 0) out += "params: " + std::to_string(q.ParameterCount()) + "\n";
  return out;
}

// ---------------------------------------------------------------- parsing

struct ParseOutcome {
  bool ok = false;
  std::string message;  // the SQL message when not ok
  std::uint16_t code = 0;
};

// Parses q with sql (no table is opened); a raised engine error becomes
// the outcome.
inline ParseOutcome Prepare(TDataQuery& q, std::string_view sql) {
  ParseOutcome r;
  try {
    r.code = q.ParseQuery(sql);
    r.ok = r.code == 0;
  } catch (const storage::ETolmidEngineError& e) {
    r.code = static_cast<std::uint16_t>(e.ErrorCode());
    r.message = storage::CurrentSession()->Context().extra_text;
  }
  return r;
}

// A fixed clock for DATE and NOW: 2001-02-03 04:05:06.789.
inline fw::TDateTime FixedClock() {
  return fw::EncodeDate(2001, 2, 3) + fw::EncodeTime(4, 5, 6, 789);
}

}  // namespace sql::test
