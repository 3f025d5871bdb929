// Canonical SQL for a parsed query and a strict comparison of expression
// trees: the fuzz target renders what parses and checks that the rendering
// parses to the same query.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tests/sql/sql_test_support.h"

namespace sql::test {

// ---------------------------------------------------------------- rendering

// Syntactic levels, loosest first: a node of a looser level than its place
// asks for is put in parentheses.
enum Level { kExpr = 1, kAnd = 2, kNot = 3, kPred = 4, kAdd = 5, kMul = 6, kPrim = 7 };

inline bool IsPlainIdentifier(std::string_view s) {
  static const char* kSpecial[] = {"SUM",  "AVG",   "MIN",  "MAX",  "COUNT", "LOWER",
                                   "UPPER", "SUBSTRING", "TRIM", "EXTRACT", "TRUE", "FALSE",
                                   "NULL", "DATE",  "NOW",  "NOT"};
  if (s.empty()) return false;
  SqlLexer lex;
  lex.Reset(s);
  try {
    if (lex.NextToken() != kTokenIdentifier || lex.TokenSpan().size() != s.size()) return false;
  } catch (...) {
    return false;
  }
  for (const char* w : kSpecial) {
    if (lex.IsKeyword(w)) return false;
  }
  return true;
}

inline std::string RenderName(std::string_view s) { return Quote(s, '"'); }

// A correlation name before a column is reduced to a file name without
// extension when read: write one that reads back as itself.
inline std::string RenderCorrelation(std::string_view s) {
  if (IsPlainIdentifier(s)) return std::string(s);
  if (s.empty()) return "\":\"";
  if (s.find('.') != std::string_view::npos) return RenderName(std::string(s) + ".");
  return RenderName(s);
}

inline std::string RenderNode(const TExpressionNode& n, int level);

inline std::string RenderChainItem(const TExpressionNode& n, int level) {
  // The right link of a chained operand is the next operand: render the
  // node alone. Constants and columns never use their right link.
  return RenderNode(n, level);
}

inline std::string RenderLeaf(const TExpressionNode& n) {
  if (n.kind == NodeKind::kField) {
    const std::string_view name = n.column_name.View();
    if (n.correlation_name.empty() && (name == "*" || IsPlainIdentifier(name))) {
      return std::string(name);
    }
    // "*" is quoted after a correlation: t.* reads only where * may stand.
    const std::string column = IsPlainIdentifier(name) ? std::string(name) : RenderName(name);
    return RenderCorrelation(n.correlation_name.View()) + "." + column;
  }
  if (n.parameter != 0) return "?";
  if (n.type == FieldType::kString) {
    // The value as stored: its first size - 1 bytes (a zero byte included).
    const std::size_t len = n.size > 0 ? n.size - 1u : 0u;
    return Quote(std::string_view(reinterpret_cast<const char*>(n.value.data()), len));
  }
  if (n.null != 0 && n.token.empty()) return "''";
  if (n.token.size() >= 255 && n.type == FieldType::kInteger) {
    return std::to_string(storage::NodeValue<std::int32_t>(n));  // the token was cut
  }
  if (n.token.size() >= 255 && n.type == FieldType::kFloat) {
    const double v = storage::NodeValue<double>(n);
    std::string text = Num(v);
    if (text.find("e-") != std::string::npos) {
      char buf[512];
      std::snprintf(buf, sizeof buf, "%.400f", v);
      text = buf;
    } else if (text.find_first_of(".e") == std::string::npos) {
      text += ".";
    }
    return text;
  }
  return std::string(n.token.View());  // numbers, TRUE, FALSE, NULL, DATE, NOW as written
}

inline std::string RenderNode(const TExpressionNode& n, int level) {
  std::string s;
  int mine = kPrim;
  auto sub = [](const std::unique_ptr<TExpressionNode>& p, int lv) {
    return p ? RenderNode(*p, lv) : std::string("<missing>");
  };
  switch (n.kind) {
    case NodeKind::kField:
    case NodeKind::kConstant: s = RenderLeaf(n); break;
    case NodeKind::kUnary:
      mine = kNot;
      s = "NOT " + sub(n.left, kNot);
      break;
    case NodeKind::kBinary:
      // Operators of one level group to the left: the right operand of a
      // level's operator stands one level tighter.
      if (n.op == ExprOperator::kOr) {
        mine = kExpr;
        s = sub(n.left, kExpr) + " " + OperatorName(n) + " " + sub(n.right, kAnd);
      } else if (n.op == ExprOperator::kAnd) {
        mine = kAnd;
        s = sub(n.left, kAnd) + " " + OperatorName(n) + " " + sub(n.right, kNot);
      } else if (n.op >= ExprOperator::kEqual && n.op <= ExprOperator::kLessEqual) {
        mine = kPred;
        s = sub(n.left, kAdd) + " " + OperatorName(n) + " " + sub(n.right, kPred);
      } else if (n.op == ExprOperator::kAdd || n.op == ExprOperator::kSubtract) {
        mine = kAdd;
        s = sub(n.left, kAdd) + " " + OperatorName(n) + " " + sub(n.right, kMul);
      } else {
        mine = kMul;
        s = sub(n.left, kMul) + " " + OperatorName(n) + " " + sub(n.right, kPrim);
      }
      break;
    case NodeKind::kExtendedPredicate: {
      mine = kPred;
      const char* word = n.op == ExprOperator::kLike        ? "LIKE"
                         : n.op == ExprOperator::kNotLike   ? "NOT LIKE"
                         : n.op == ExprOperator::kIn        ? "IN"
                         : n.op == ExprOperator::kNotIn     ? "NOT IN"
                         : n.op == ExprOperator::kBetween   ? "BETWEEN"
                                                            : "NOT BETWEEN";
      s = sub(n.left, kAdd) + " " + word + " ";
      if (n.op == ExprOperator::kLike || n.op == ExprOperator::kNotLike) {
        s += sub(n.right, kPred);
      } else if (n.op == ExprOperator::kIn || n.op == ExprOperator::kNotIn) {
        s += "(";
        bool first = true;
        for (const TExpressionNode* r = n.right.get(); r != nullptr; r = r->right.get()) {
          if (!first) s += ", ";
          first = false;
          s += RenderChainItem(*r, kPred);
          if (!IsLeaf(*r)) break;
        }
        s += ")";
      } else {
        const TExpressionNode* low = n.right.get();
        s += (low ? RenderChainItem(*low, kPred) : "<missing>") + " AND " +
             (low && low->right ? RenderNode(*low->right, kPred) : "<missing>");
      }
      break;
    }
    case NodeKind::kFunction:
      switch (n.op) {
        case ExprOperator::kSubstring: {
          const TExpressionNode* start = n.right.get();
          s = "SUBSTRING(" + sub(n.left, kAdd) + " FROM " +
              (start ? RenderChainItem(*start, kPrim) : "<missing>");
          if (start && IsLeaf(*start) && start->right) s += " FOR " + RenderNode(*start->right, kPrim);
          s += ")";
          break;
        }
        case ExprOperator::kTrimLeading:
        case ExprOperator::kTrimTrailing:
        case ExprOperator::kTrimBoth:
          s = std::string("TRIM(") +
              (n.op == ExprOperator::kTrimLeading    ? "LEADING"
               : n.op == ExprOperator::kTrimTrailing ? "TRAILING"
                                                     : "BOTH") +
              " " + sub(n.right, kPrim) + " FROM " + sub(n.left, kAdd) + ")";
          break;
        case ExprOperator::kExtractYear:
        case ExprOperator::kExtractMonth:
        case ExprOperator::kExtractDay:
          s = std::string("EXTRACT(") +
              (n.op == ExprOperator::kExtractYear    ? "YEAR"
               : n.op == ExprOperator::kExtractMonth ? "MONTH"
                                                     : "DAY") +
              " FROM " + sub(n.left, kPrim) + ")";
          break;
        default: s = std::string(OperatorName(n)) + "(" + sub(n.left, kAdd) + ")"; break;
      }
      break;
    default: s = "<kind>"; break;
  }
  return mine < level ? "(" + s + ")" : s;
}

// The WHERE tree holds the ON conditions in text order and the WHERE
// condition last, each added on the right of a new AND: peel them off.
inline std::vector<const TExpressionNode*> SplitConditions(const TExpressionNode* where, int count) {
  std::vector<const TExpressionNode*> parts(count > 0 ? count : 0, nullptr);
  for (int i = count - 1; i > 0 && where != nullptr; --i) {
    parts[i] = where->right.get();
    where = where->left.get();
  }
  if (count > 0) parts[0] = where;
  return parts;
}

// Canonical SQL for a parsed query: names quoted, one blank between tokens,
// parentheses only where the grammar needs them. Sources are written in
// FROM order with their joins; the ON and WHERE conditions are taken back
// out of the WHERE tree.
inline std::string RenderQuery(const TDataQuery& q) {
  std::string s = "SELECT ";
  if (q.Flags().distinct) s += "DISTINCT ";
  for (std::int32_t i = 0; i < q.Columns().Count(); ++i) {
    const TResultDataField* c = q.Columns().Get(i);
    if (i != 0) s += ", ";
    s += c->tree_ ? RenderNode(*c->tree_, kExpr) : "<missing>";
    // A plain column is named after itself unless a name was written, even
    // an empty one.
    const bool named_by_default = !c->expression_ && c->aggregate_ == AggregateKind::kNone &&
                                  c->column_name_ != "*";
    if (!c->result_name_.empty() || named_by_default) s += " AS " + RenderName(c->result_name_);
  }
  if (!q.ResultTableName().empty()) {
    s += q.Flags().in_memory_result ? " INTO MEMORY " : " INTO ";
    s += RenderName(q.ResultTableName());
  }
  // Sources in text order.
  std::vector<const TSourceDataFile*> sources(q.Sources().Count(), nullptr);
  for (std::int32_t i = 0; i < q.Sources().Count(); ++i) {
    const TSourceDataFile* src = q.Sources().Get(i);
    if (src->from_sequence_ >= 1 && src->from_sequence_ <= q.Sources().Count()) {
      sources[src->from_sequence_ - 1] = src;
    }
  }
  int joins = 0;
  for (const TSourceDataFile* src : sources) {
    if (src == nullptr) return "<bad FROM sequence>";
    joins += src->join_kind_ != JoinKind::kNone ? 1 : 0;
  }
  auto conditions = SplitConditions(q.Where(), joins + (q.Flags().where ? 1 : 0));
  int next_condition = 0;
  s += " FROM ";
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const TSourceDataFile* src = sources[i];
    if (src->join_kind_ == JoinKind::kNone) {
      if (i != 0) s += ", ";
      if (src->in_memory_) s += "MEMORY ";
    } else {
      static const char* kJoin[] = {"", " JOIN ", " LEFT OUTER JOIN ", " RIGHT JOIN "};
      s += kJoin[static_cast<int>(src->join_kind_)];
    }
    s += RenderName(src->table_path_);
    if (src->correlation_name_ != storage::ExtractTableName(src->table_path_)) {
      s += " " + src->correlation_name_;
    }
    if (src->join_kind_ != JoinKind::kNone) {
      const TExpressionNode* on = conditions[next_condition++];
      s += " ON " + (on ? RenderNode(*on, kExpr) : std::string("<missing>"));
    }
  }
  if (q.Flags().where) {
    const TExpressionNode* w = conditions[next_condition];
    s += " WHERE " + (w ? RenderNode(*w, kExpr) : std::string("<missing>"));
  }
  auto item = [](const TGroupByDataField& g) {
    if (g.by_number_) return std::to_string(g.column_number_);
    return (g.correlation_name_.empty() ? "" : RenderName(g.correlation_name_) + ".") +
           RenderName(g.column_name_);
  };
  for (std::int32_t i = 0; i < q.GroupBy().Count(); ++i) {
    s += (i == 0 ? " GROUP BY " : ", ") + item(*q.GroupBy().Get(i));
  }
  for (std::int32_t i = 0; i < q.OrderBy().Count(); ++i) {
    const TOrderByDataField* o = q.OrderBy().Get(i);
    s += (i == 0 ? " ORDER BY " : ", ") + item(*o) + (o->descending_ ? " DESC" : "");
  }
  if (q.WithLocks()) s += " WITH LOCKS";
  return s;
}

// ---------------------------------------------------------------- comparing

// Every field the parser writes, operands included. String constants are
// compared by value: their token keeps the delimiters' doubling as written.
inline bool SameTree(const TExpressionNode* a, const TExpressionNode* b, std::string* why) {
  std::vector<std::pair<const TExpressionNode*, const TExpressionNode*>> stack{{a, b}};
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if ((x == nullptr) != (y == nullptr)) {
      if (why) *why = "shape";
      return false;
    }
    if (x == nullptr) continue;
    const bool string_constant = x->kind == NodeKind::kConstant && x->type == FieldType::kString;
    // Numbers keep their whole text for the value but a token of 255.
    const bool cut_number = x->kind == NodeKind::kConstant &&
                            (x->token.size() >= 255 || y->token.size() >= 255);
    if (x->kind != y->kind || x->op != y->op || x->type != y->type || x->size != y->size ||
        x->null != y->null || x->parameter != y->parameter || x->reserved1 != y->reserved1 ||
        x->column_name.View() != y->column_name.View() ||
        x->correlation_name.View() != y->correlation_name.View() || x->value != y->value ||
        (!string_constant && !cut_number && x->token.View() != y->token.View())) {
      if (why) *why = "node " + DescribeNode(x) + " vs " + DescribeNode(y);
      return false;
    }
    stack.push_back({x->left.get(), y->left.get()});
    stack.push_back({x->right.get(), y->right.get()});
  }
  return true;
}

}  // namespace sql::test
