// The expression grammar of TDataQuery, lowest precedence first:
//
//   expression     := and {OR and}
//   and            := not {AND not}
//   not            := NOT not | predicate
//   predicate      := additive [comparison predicate | [NOT] LIKE predicate
//                     | [NOT] BETWEEN predicate AND predicate
//                     | [NOT] IN (predicate, ...) | IS [NOT] NULL]
//   comparison     := = | < | < > | < = | > | > =   (two tokens; blanks may
//                                                    stand between them)
//   additive       := multiplicative {(+ | - | ||) multiplicative}
//   multiplicative := primary {(* | /) primary}
//   primary        := (expression) | * | ? | number | function | constant
//                     | [correlation.]column | quoted string
//
// AND binds tighter than OR, and the operators of one level group to the
// left as every SQL reader takes them: a - b - c is (a - b) - c, and
// a = 1 AND b = 2 OR c = 3 is (a = 1 AND b = 2) OR c = 3. A comparison's
// right operand is a whole predicate (a = b = c is a = (b = c)). There is
// no unary minus. Lists (IN items, BETWEEN bounds, SUBSTRING's FROM and
// FOR) chain through the right link of each operand.
//
// Nesting is bounded: every level the parser descends (parentheses,
// function arguments, NOT, a comparison's right operand) counts, and so
// does every operator of an arithmetic chain, whose tree grows one level
// deeper with each; more than storage::kMaxExpressionDepth levels are
// refused with the SQL error instead of running out of stack. A chain of
// AND or of OR is flat: it is read in a loop and costs one level however
// long it is (the checker and the evaluator walk it in a loop too), and so
// do IN lists.
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "sql/data_query.h"
#include "sql/sql_error.h"
#include "storage/expression_eval.h"
#include "storage/table_names.h"

namespace sql {

using storage::ExpressionPtr;
using storage::ExprOperator;
using storage::FieldType;
using storage::NewNode;
using storage::NodeKind;
using storage::TExpressionNode;

class TDataQuery::DepthGuard {
 public:
  DepthGuard(TDataQuery& query, const ParseContext& context, int levels = 1)
      : query_(query), context_(context) {
    Deeper(levels);
  }
  ~DepthGuard() { query_.depth_ -= levels_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

  // levels more, held until the guard ends.
  void Deeper(int levels = 1) {
    if (query_.depth_ + levels > storage::kMaxExpressionDepth) {
      SqlError(std::string("Expression is nested too deeply in ") + context_.name);
    }
    query_.depth_ += levels;
    levels_ += levels;
  }

 private:
  TDataQuery& query_;
  const ParseContext& context_;
  int levels_ = 0;
};

namespace {

// s with every CR and LF deleted (column names made from expression texts).
std::string RemoveLineBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

bool IsName(int type) { return type == kTokenIdentifier || type == kTokenQuoted; }

ExpressionPtr Boolean(NodeKind kind, ExprOperator op, const char* token) {
  ExpressionPtr node = NewNode(kind, op, token);
  node->type = FieldType::kBoolean;
  return node;
}

bool IsComparison(const TExpressionNode& n) {
  return n.kind == NodeKind::kBinary && n.op >= ExprOperator::kEqual &&
         n.op <= ExprOperator::kLessEqual;
}

// True when the subtree under node (right chains included) holds a column.
bool HoldsColumn(const TExpressionNode* node) {
  std::vector<const TExpressionNode*> stack{node};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == NodeKind::kField) return true;
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
  return false;
}

bool IsAggregate(const TExpressionNode& n) {
  return n.kind == NodeKind::kFunction && n.op >= ExprOperator::kSum && n.op <= ExprOperator::kAvg;
}

// True when an aggregate stands anywhere under node (right chains
// included).
bool HoldsAggregate(const TExpressionNode* node) {
  std::vector<const TExpressionNode*> stack{node};
  while (!stack.empty()) {
    const TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (IsAggregate(*n)) return true;
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
  return false;
}

// Marks every comparison of tree whose two sides both hold a column.
void MarkJoinComparisons(TExpressionNode& tree, std::uint8_t mark) {
  std::vector<TExpressionNode*> stack{&tree};
  while (!stack.empty()) {
    TExpressionNode* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (IsComparison(*n) && HoldsColumn(n->left.get()) && HoldsColumn(n->right.get())) {
      n->reserved1 = mark;
    }
    stack.push_back(n->left.get());
    stack.push_back(n->right.get());
  }
}

}  // namespace

void TDataQuery::ExpectedIn(std::string_view text, const ParseContext& context) const {
  SqlError(std::string(text) + TokenText() + "'" + " in " + context.name);
}

// ---------------------------------------------------------------- items

void TDataQuery::ParseSelectItem(TResultDataField& column) {
  item_start_ = lexer_.TokenStart();
  ExpressionPtr tree = ParseExpression(kSelectItemContext);
  if (!tree) SqlError("Source column expression is empty");
  AggregateKind aggregate = AggregateKind::kNone;
  if (tree->kind == NodeKind::kFunction) {
    switch (tree->op) {
      case ExprOperator::kSum: aggregate = AggregateKind::kSum; break;
      case ExprOperator::kMin: aggregate = AggregateKind::kMin; break;
      case ExprOperator::kMax: aggregate = AggregateKind::kMax; break;
      case ExprOperator::kAvg: aggregate = AggregateKind::kAvg; break;
      case ExprOperator::kCount: aggregate = AggregateKind::kCount; break;
      default: break;
    }
  }
  // An aggregate is computed over a group and stored as its column's value:
  // one inside an expression (SUM(x) + 1) or around another (SUM(COUNT(x)))
  // would be taken per row. Such items are refused.
  const TExpressionNode* below = aggregate != AggregateKind::kNone ? tree->left.get() : tree.get();
  if (HoldsAggregate(below)) {
    const std::string_view text = lexer_.Text();
    const std::size_t end = std::max(lexer_.PreviousEnd(), item_start_);
    SqlError("Invalid use of aggregate function inside expression '" +
             RemoveLineBreaks(text.substr(item_start_, end - item_start_)) + "'" +
             " in source columns");
  }
  // An aggregate over an expression stays an aggregate: its kind names it
  // ("Sum Of Expr") and combines its values.
  column.aggregate_ = aggregate;
  if (aggregate == AggregateKind::kAvg) flags_.avg_used = true;
  const TExpressionNode* lone = nullptr;
  if (tree->kind == NodeKind::kField) {
    lone = tree.get();
  } else if (aggregate != AggregateKind::kNone && tree->left &&
             tree->left->kind == NodeKind::kField) {
    lone = tree->left.get();
  }
  if (lone != nullptr) {
    column.correlation_name_ = std::string(lone->correlation_name.View());
    column.SetColumnName(lone->column_name.View());
    if (aggregate != AggregateKind::kNone) column.result_name_.clear();
  } else {
    const std::string_view text = lexer_.Text();
    const std::size_t end = std::max(lexer_.PreviousEnd(), item_start_);
    std::string expression = RemoveLineBreaks(text.substr(item_start_, end - item_start_));
    if (expression.size() > kMaxShortString) {
      SqlError("Source column expression exceeds maximum expression length of " +
               std::to_string(kMaxShortString) + " characters");
    }
    column.expression_text_ = std::move(expression);
    column.expression_ = true;
    flags_.expression_columns = true;
  }
  column.tree_ = std::move(tree);
}

void TDataQuery::ParseCondition(std::uint8_t join_mark) {
  // Parameter nodes of a condition that fails are freed with it: drop them
  // from the list too.
  const std::int32_t parameters_before = parameters_.Count();
  try {
    ExpressionPtr tree = ParseExpression(kConditionContext);
    if (!tree) SqlError("WHERE or JOIN clause is empty");
    // A bare column is a truth value: WHERE active reads WHERE active = TRUE
    // (the checker refuses it when the column is not boolean).
    if (tree->kind == NodeKind::kField) {
      // The nodes the parser makes of "column = TRUE".
      ExpressionPtr test = Boolean(NodeKind::kBinary, ExprOperator::kEqual, "=");
      test->left = std::move(tree);
      test->right = storage::NewBooleanConstant(true);
      test->right->token = "TRUE";
      tree = std::move(test);
    }
    if (tree->type != FieldType::kBoolean) {
      SqlError("WHERE or JOIN clause must be a boolean expression");
    }
    if (join_mark != 0) MarkJoinComparisons(*tree, join_mark);
    condition_sources_.push_back(on_source_);
    if (!where_) {
      where_ = std::move(tree);
    } else {
      ExpressionPtr both = Boolean(NodeKind::kBinary, ExprOperator::kAnd, "AND");
      both->left = std::move(where_);
      both->right = std::move(tree);
      where_ = std::move(both);
    }
  } catch (...) {
    parameters_.SetCount(parameters_before);
    throw;
  }
}

// ---------------------------------------------------------------- levels

ExpressionPtr TDataQuery::ParseExpression(const ParseContext& context) {
  if (IsTokenType(kTokenEnd)) return nullptr;
  DepthGuard guard(*this, context);
  ExpressionPtr tree = ParseAnd(context);
  while (IsKeyword("OR")) {
    NextToken();
    ExpressionPtr link = Boolean(NodeKind::kBinary, ExprOperator::kOr, "OR");
    link->left = std::move(tree);
    link->right = ParseAnd(context);
    tree = std::move(link);
  }
  return tree;
}

ExpressionPtr TDataQuery::ParseAnd(const ParseContext& context) {
  ExpressionPtr tree = ParseNot(context);
  if (!IsKeyword("AND")) return tree;
  // An AND chain under an OR is one level deeper than the OR chain.
  DepthGuard guard(*this, context);
  while (IsKeyword("AND")) {
    NextToken();
    ExpressionPtr link = Boolean(NodeKind::kBinary, ExprOperator::kAnd, "AND");
    link->left = std::move(tree);
    link->right = ParseNot(context);
    tree = std::move(link);
  }
  return tree;
}

ExpressionPtr TDataQuery::ParseNot(const ParseContext& context) {
  int nots = 0;
  while (IsKeyword("NOT")) {
    ++nots;
    NextToken();
  }
  DepthGuard guard(*this, context, nots);
  ExpressionPtr tree = ParsePredicate(context);
  for (int i = 0; i < nots; ++i) {
    ExpressionPtr node = Boolean(NodeKind::kUnary, ExprOperator::kNot, "NOT");
    node->left = std::move(tree);
    tree = std::move(node);
  }
  return tree;
}

ExpressionPtr TDataQuery::ParsePredicate(const ParseContext& context) {
  ExpressionPtr left = ParseAdditive(context);
  ExprOperator op = ExprOperator::kNone;
  const char* token = "";
  if (IsTokenType('=')) {
    op = ExprOperator::kEqual;
    token = "=";
    NextToken();
  } else if (IsTokenType('<')) {
    NextToken();
    if (IsTokenType('>')) {
      op = ExprOperator::kNotEqual;
      token = "<>";
      NextToken();
    } else if (IsTokenType('=')) {
      op = ExprOperator::kLessEqual;
      token = "<=";
      NextToken();
    } else {
      op = ExprOperator::kLess;
      token = "<";
    }
  } else if (IsTokenType('>')) {
    NextToken();
    if (IsTokenType('=')) {
      op = ExprOperator::kGreaterEqual;
      token = ">=";
      NextToken();
    } else {
      op = ExprOperator::kGreater;
      token = ">";
    }
  }
  if (op != ExprOperator::kNone) {
    DepthGuard guard(*this, context);
    ExpressionPtr node = Boolean(NodeKind::kBinary, op, token);
    node->left = std::move(left);
    node->right = ParsePredicate(context);
    return node;
  }

  auto need_extended = [&] {
    if ((context.bits & ParseContext::kExtendedPredicates) == 0) {
      SqlError(std::string("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not "
                           "allowed in ") +
               context.name);
    }
  };
  auto like = [&](ExprOperator like_op, const char* name) {
    DepthGuard guard(*this, context);
    ExpressionPtr node = Boolean(NodeKind::kExtendedPredicate, like_op, name);
    node->left = std::move(left);
    node->right = ParsePredicate(context);
    return node;
  };
  auto between = [&](ExprOperator between_op, const char* name) {
    DepthGuard guard(*this, context);
    ExpressionPtr node = Boolean(NodeKind::kExtendedPredicate, between_op, name);
    node->left = std::move(left);
    ExpressionPtr low = ParsePredicate(context);
    if (!IsKeyword("AND")) ExpectedIn("Expected AND operator in BETWEEN operator, instead found '", context);
    NextToken();
    ExpressionPtr high = ParsePredicate(context);
    if (low->right) {
      // Bounds chain through their right links; an operand that needs its
      // own right link is no constant and would lose an operand.
      SqlError(std::string("Constant expression expected after ") + name + " operator, " +
               "instead found " + "'" + std::string(low->token.View()) + "'" + " in " +
               context.name);
    }
    low->right = std::move(high);
    node->right = std::move(low);
    return node;
  };

  if (IsKeyword("LIKE")) {
    need_extended();
    NextToken();
    return like(ExprOperator::kLike, "LIKE");
  }
  if (IsKeyword("BETWEEN")) {
    need_extended();
    NextToken();
    return between(ExprOperator::kBetween, "BETWEEN");
  }
  if (IsKeyword("IN")) {
    need_extended();
    NextToken();
    if (!IsTokenType('(')) ExpectedIn("Expected left parentheses after IN operator, instead found '", context);
    return ParseInList(context, ExprOperator::kIn, std::move(left));
  }
  if (IsKeyword("NOT")) {
    NextToken();
    if (IsKeyword("BETWEEN")) {
      need_extended();
      NextToken();
      return between(ExprOperator::kNotBetween, "NOT BETWEEN");
    }
    if (IsKeyword("LIKE")) {
      need_extended();
      NextToken();
      return like(ExprOperator::kNotLike, "NOT LIKE");
    }
    if (IsKeyword("IN")) {
      need_extended();
      NextToken();
      if (!IsTokenType('(')) ExpectedIn("Expected left parentheses for IN operator, instead found '", context);
      return ParseInList(context, ExprOperator::kNotIn, std::move(left));
    }
    SqlError("Unknown or unexpected symbol '" + TokenText() + "'" + " in " + context.name);
  }
  if (IsKeyword("IS")) {
    need_extended();
    NextToken();
    bool is_null = true;
    if (IsKeyword("NOT")) {
      is_null = false;
      NextToken();
    }
    if (!IsKeyword("NULL")) {
      SqlError("Unknown or unexpected symbol '" + TokenText() + "'" + " found in " + context.name);
    }
    NextToken();
    ExpressionPtr node = Boolean(NodeKind::kBinary,
                                 is_null ? ExprOperator::kEqual : ExprOperator::kNotEqual,
                                 is_null ? "=" : "<>");
    node->left = std::move(left);
    node->right = storage::NewNullConstant();
    return node;
  }
  return left;
}

ExpressionPtr TDataQuery::ParseInList(const ParseContext& context, ExprOperator op,
                                      ExpressionPtr tested) {
  const char* name = op == ExprOperator::kIn ? "IN" : "NOT IN";
  NextToken();  // past '('
  if (IsTokenType(')')) {
    SqlError(std::string("You must provide at least one value as an operand of the IN operator "
                         " in ") +
             context.name);
  }
  DepthGuard guard(*this, context);
  ExpressionPtr node = Boolean(NodeKind::kExtendedPredicate, op, name);
  node->left = std::move(tested);
  TExpressionNode* tail = nullptr;
  while (true) {
    ExpressionPtr item = ParsePredicate(context);
    if (tail == nullptr) {
      node->right = std::move(item);
      tail = node->right.get();
    } else {
      if (tail->right) {
        SqlError(std::string("Constant expression expected after ") + name + " operator, " +
                 "instead found " + "'" + std::string(tail->token.View()) + "'" + " in " +
                 context.name);
      }
      tail->right = std::move(item);
      tail = tail->right.get();
    }
    if (!IsTokenType(',')) break;
    NextToken();
  }
  if (!IsTokenType(')')) ExpectedIn("Expected right parentheses after IN operator, instead found '", context);
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseAdditive(const ParseContext& context) {
  ExpressionPtr tree = ParseMultiplicative(context);
  // Each operator puts the chain so far one level deeper.
  DepthGuard guard(*this, context, 0);
  while (true) {
    const char* token;
    ExprOperator op;
    if (IsTokenType('+')) {
      op = ExprOperator::kAdd;
      token = "+";
    } else if (IsTokenType('-')) {
      op = ExprOperator::kSubtract;
      token = "-";
    } else if (IsTokenType('|')) {
      NextToken();
      if (!IsTokenType('|')) {
        ExpectedIn("Second concatenation symbol '|' expected after first concatentation symbol, "
                   "instead found '",
                   context);
      }
      op = ExprOperator::kAdd;
      token = "||";
    } else {
      break;
    }
    NextToken();
    guard.Deeper();
    ExpressionPtr node = NewNode(NodeKind::kBinary, op, token);
    node->type = tree->type;
    node->left = std::move(tree);
    node->right = ParseMultiplicative(context);
    tree = std::move(node);
  }
  return tree;
}

ExpressionPtr TDataQuery::ParseMultiplicative(const ParseContext& context) {
  ExpressionPtr tree = ParsePrimary(context);
  DepthGuard guard(*this, context, 0);
  while (IsTokenType('*') || IsTokenType('/')) {
    const bool multiply = IsTokenType('*');
    NextToken();
    guard.Deeper();
    ExpressionPtr node = NewNode(NodeKind::kBinary,
                                 multiply ? ExprOperator::kMultiply : ExprOperator::kDivide,
                                 multiply ? "*" : "/");
    node->type = tree->type;
    node->left = std::move(tree);
    node->right = ParsePrimary(context);
    tree = std::move(node);
  }
  return tree;
}

// ---------------------------------------------------------------- primaries

ExpressionPtr TDataQuery::ParsePrimary(const ParseContext& context) {
  const int type = lexer_.TokenType();
  if (type == '(') {
    NextToken();
    ExpressionPtr tree = ParseExpression(context);
    if (!IsTokenType(')')) ExpectedIn("Right parentheses expected, instead found '", context);
    NextToken();
    return tree;
  }
  if (type == '*') {
    if ((context.bits & ParseContext::kAllColumns) == 0) {
      SqlError(std::string("* (all columns) symbol is not allowed in ") + context.name);
    }
    NextToken();
    return storage::NewFieldNode("*");
  }
  if (type == '?') return ParseParameter(context);
  if (type == kTokenInteger || type == kTokenNumber) return ParseNumber(context);
  if (type == kTokenIdentifier) return ParseIdentifier(context);
  if (type == kTokenQuoted) {
    if (IsQuotedWord("TRUE") || IsQuotedWord("FALSE")) {
      ExpressionPtr node = storage::NewBooleanConstant(IsQuotedWord("TRUE"));
      node->token = TokenText();
      NextToken();
      return node;
    }
    const std::string value = lexer_.TokenValue();
    const std::string token = TokenText();
    NextToken();
    if (IsTokenType('.')) return ParseColumn(context, value);
    ExpressionPtr node = storage::NewStringConstant(value);
    node->token = token;
    return node;
  }
  SqlError("Unknown or unexpected symbol '" + TokenText() + "'" + " found in " + context.name);
}

ExpressionPtr TDataQuery::ParseParameter(const ParseContext& context) {
  if ((context.bits & ParseContext::kParameters) == 0) {
    SqlError(std::string("Parameters are not allowed in ") + context.name);
  }
  ExpressionPtr node = NewNode(NodeKind::kConstant, ExprOperator::kNone, "?");
  node->parameter = 1;
  parameters_.Add(node.get());
  flags_.parameters = true;
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseNumber(const ParseContext& /*context*/) {
  // Converted from the whole token: a cut text would be another number.
  const std::string text(lexer_.TokenSpan());
  ExpressionPtr node;
  if (IsTokenType(kTokenInteger)) {
    int value = 0;
    if (!fw::TryStrToInt(text, value)) SqlError("'" + TokenText() + "' is not a valid integer value");
    node = storage::NewIntegerConstant(value);
  } else {
    double value = 0;
    if (!fw::TextToFloat(text, value)) {
      SqlError("'" + TokenText() + "' is not a valid floating point value");
    }
    node = storage::NewFloatConstant(value);
  }
  node->token = TokenText();
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseColumn(const ParseContext& context, std::string_view correlation) {
  NextToken();  // past '.'
  std::string column;
  if (IsName(lexer_.TokenType())) {
    column = ShortString(lexer_.TokenValue());
  } else if (IsTokenType('*') && (context.bits & ParseContext::kAllColumns) != 0) {
    column = "*";
  } else {
    ExpectedIn("Symbol or string expression expected after table correlation name separator '.', "
               "instead found '",
               context);
  }
  NextToken();
  ExpressionPtr node = storage::NewFieldNode(column);
  node->correlation_name = storage::ExtractTableName(correlation);
  return node;
}

ExpressionPtr TDataQuery::ParseIdentifier(const ParseContext& context) {
  static constexpr struct {
    const char* word;
    ExprOperator op;
  } kAggregates[] = {{"SUM", ExprOperator::kSum},
                     {"AVG", ExprOperator::kAvg},
                     {"MIN", ExprOperator::kMin},
                     {"MAX", ExprOperator::kMax},
                     {"COUNT", ExprOperator::kCount}};
  for (const auto& a : kAggregates) {
    if (IsKeyword(a.word)) return ParseAggregate(context, a.op);
  }
  if (IsKeyword("LOWER")) return ParseCaseFunction(context, ExprOperator::kLower);
  if (IsKeyword("UPPER")) return ParseCaseFunction(context, ExprOperator::kUpper);
  if (IsKeyword("SUBSTRING")) return ParseSubstring(context);
  if (IsKeyword("TRIM")) return ParseTrim(context);
  if (IsKeyword("EXTRACT")) return ParseExtract(context);
  const std::string name = TokenText();
  ExpressionPtr node;
  if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    node = storage::NewBooleanConstant(IsKeyword("TRUE"));
  } else if (IsKeyword("NULL")) {
    node = storage::NewNullConstant();
  } else if (IsKeyword("DATE") || IsKeyword("NOW")) {
    // Read when the statement is parsed.
    const fw::TTimeStamp now = fw::DateTimeToTimeStamp(clock_());
    node = NewNode(NodeKind::kConstant, ExprOperator::kNone, name);
    if (IsKeyword("DATE")) {
      node->type = FieldType::kDate;
      node->size = 4;
      storage::SetNodeValue<std::uint32_t>(*node, static_cast<std::uint32_t>(now.Date));
    } else {
      node->type = FieldType::kTimestamp;
      node->size = 8;
      storage::SetNodeValue<double>(*node, fw::TimeStampToMSecs(now));
    }
  }
  if (node) {
    node->token = name;
    NextToken();
    return node;
  }
  NextToken();
  if (IsTokenType('(')) {
    SqlError("Unknown or unexpected function '" + name + "'" + " found in " + context.name);
  }
  if (IsTokenType('.')) return ParseColumn(context, name);
  return storage::NewFieldNode(name);
}

ExpressionPtr TDataQuery::ParseAggregate(const ParseContext& context, ExprOperator op) {
  const std::string name = TokenText();
  if ((context.bits & ParseContext::kAggregates) == 0) {
    SqlError(std::string("Aggregate functions are not allowed in ") + context.name);
  }
  NextToken();
  if (!IsTokenType('(')) {
    SqlError("Left parentheses expectedafter aggregate function '" + name + "'" +
             ", instead found " + "'" + TokenText() + "'" + " in " + context.name);
  }
  NextToken();
  DepthGuard guard(*this, context);
  static constexpr const char* kNames[] = {"SUM", "COUNT", "MIN", "MAX", "AVG"};
  ExpressionPtr node = NewNode(NodeKind::kFunction, op,
                               kNames[static_cast<int>(op) - static_cast<int>(ExprOperator::kSum)]);
  node->left = ParseAdditive(context);
  if (!IsTokenType(')')) {
    SqlError("Right parentheses expectedafter aggregate " + name +
             " function argument, instead found " + "'" + TokenText() + "'" + " in " +
             context.name);
  }
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseCaseFunction(const ParseContext& context, ExprOperator op) {
  const std::string word = op == ExprOperator::kLower ? "LOWER" : "UPPER";
  NextToken();
  if (!IsTokenType('(')) {
    ExpectedIn("Left parentheses expectedafter " + word + " keyword, instead found '", context);
  }
  NextToken();
  DepthGuard guard(*this, context);
  ExpressionPtr node = NewNode(NodeKind::kFunction, op, word);
  node->type = FieldType::kString;
  node->left = ParseAdditive(context);
  if (!IsTokenType(')')) {
    ExpectedIn("Right parentheses expectedafter " + word + " function argument, instead found '",
               context);
  }
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseSubstring(const ParseContext& context) {
  NextToken();
  if (!IsTokenType('(')) {
    ExpectedIn("Left parentheses expected after SUBSTRING keyword, instead found '", context);
  }
  NextToken();
  DepthGuard guard(*this, context);
  ExpressionPtr node = NewNode(NodeKind::kFunction, ExprOperator::kSubstring, "SUBSTRING");
  node->left = ParseAdditive(context);
  if (!IsKeyword("FROM")) {
    ExpectedIn("FROM keyword expected after first SUBSTRING function argument, instead found '",
               context);
  }
  NextToken();
  ExpressionPtr start = ParsePrimary(context);
  if (IsKeyword("FOR")) {
    NextToken();
    ExpressionPtr length = ParsePrimary(context);
    if (start->right) {
      SqlError(std::string("FROM argument of SUBSTRING function must be an integer constant in ") +
               context.name);
    }
    start->right = std::move(length);
  }
  node->right = std::move(start);
  if (!IsTokenType(')')) {
    ExpectedIn("Right parentheses expected after SUBSTRING function arguments, instead found '",
               context);
  }
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseTrim(const ParseContext& context) {
  NextToken();
  if (!IsTokenType('(')) {
    ExpectedIn("Left parentheses expected after TRIM keyword, instead found '", context);
  }
  NextToken();
  ExprOperator op;
  if (IsKeyword("LEADING")) {
    op = ExprOperator::kTrimLeading;
  } else if (IsKeyword("TRAILING")) {
    op = ExprOperator::kTrimTrailing;
  } else if (IsKeyword("BOTH")) {
    op = ExprOperator::kTrimBoth;
  } else {
    ExpectedIn("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '",
               context);
  }
  NextToken();
  DepthGuard guard(*this, context);
  ExpressionPtr node = NewNode(NodeKind::kFunction, op, "TRIM");
  ExpressionPtr character = ParsePrimary(context);
  if (!IsKeyword("FROM")) {
    ExpectedIn("FROM keyword expected after second TRIM function argument, instead found '",
               context);
  }
  NextToken();
  node->left = ParseAdditive(context);
  node->right = std::move(character);
  if (!IsTokenType(')')) {
    ExpectedIn("Right parentheses expected after TRIM function arguments, instead found '",
               context);
  }
  NextToken();
  return node;
}

ExpressionPtr TDataQuery::ParseExtract(const ParseContext& context) {
  NextToken();
  if (!IsTokenType('(')) {
    ExpectedIn("Left parentheses expected after EXTRACT keyword, instead found '", context);
  }
  NextToken();
  ExprOperator op;
  if (IsKeyword("YEAR")) {
    op = ExprOperator::kExtractYear;
  } else if (IsKeyword("MONTH")) {
    op = ExprOperator::kExtractMonth;
  } else if (IsKeyword("DAY")) {
    op = ExprOperator::kExtractDay;
  } else {
    ExpectedIn("YEAR, MONTH, or DAY keyword expected after EXTRACT keyword, instead found '",
               context);
  }
  NextToken();
  if (!IsKeyword("FROM")) {
    ExpectedIn("FROM keyword expected after second EXTRACT function argument, instead found '",
               context);
  }
  NextToken();
  DepthGuard guard(*this, context);
  ExpressionPtr node = NewNode(NodeKind::kFunction, op, "EXTRACT");
  node->type = FieldType::kInteger;
  node->left = ParsePrimary(context);
  if (!IsTokenType(')')) {
    ExpectedIn("Right parentheses expected after EXTRACT function arguments, instead found '",
               context);
  }
  NextToken();
  return node;
}

}  // namespace sql
