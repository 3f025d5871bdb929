#include "storage/expression_check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/expression_eval.h"
#include "storage/expression_types.h"

namespace storage {

namespace {

using T = FieldType;
using Op = ExprOperator;

bool IsColumnOrFunction(const TExpressionNode& n) {
  return n.kind == NodeKind::kField || n.kind == NodeKind::kFunction;
}

std::string Quoted(std::string_view s) {
  std::string q = "'";
  q += s;
  q += "'";
  return q;
}

std::uint8_t ClampSize(std::int64_t size) {
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(size, 0, kMaxStringNodeSize));
}

class Checker {
 public:
  Checker(std::uint16_t code, std::string_view context, const ColumnResolver& resolve)
      : code_(code), context_(context), resolve_(resolve) {}

  void Check(TExpressionNode& node, int depth) {
    if (depth > kMaxExpressionDepth) Fail("Expression is nested too deeply");
    // A string constant whose text names a column becomes that column.
    if (node.kind == NodeKind::kConstant && node.type == T::kString && node.parameter == 0) {
      node.column_name = NodeString(node);
      if (!node.column_name.empty()) {
        if (resolve_ && resolve_(node)) {
          node.kind = NodeKind::kField;
          return;
        }
        node.column_name.clear();
      }
    }
    switch (node.kind) {
      case NodeKind::kUnary: Unary(node, depth); break;
      case NodeKind::kBinary: Binary(node, depth); break;
      case NodeKind::kField:
        if (node.column_name.View() != "*" && !(resolve_ && resolve_(node))) {
          Fail("Invalid column name " + Quoted(node.column_name) + " or table correlation name " +
               Quoted(node.correlation_name) + " specified");
        }
        break;
      case NodeKind::kFunction: Function(node, depth); break;
      case NodeKind::kExtendedPredicate: Predicate(node, depth); break;
      default: break;  // string compare and constants need nothing more
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    EngineError(code_, {}, {}, {}, message + " in " + std::string(context_));
  }

  // Checks an operand and, after its column is resolved, turns a bare
  // boolean column or function into operand = True.
  void CheckTruthOperand(std::unique_ptr<TExpressionNode>& operand, int depth) {
    Check(*operand, depth);
    if (IsColumnOrFunction(*operand) && operand->type == T::kBoolean) {
      operand = MakeBooleanTest(std::move(operand));
    }
  }

  void Unary(TExpressionNode& node, int depth) {
    if (!node.left) Fail("Boolean expression expected after NOT operator, instead found ''");
    CheckTruthOperand(node.left, depth + 1);
    if (!UnaryOperandAllowed(node.op, node.left->type)) {
      Fail("Boolean expression expected after NOT operator, instead found " +
           Quoted(node.left->token));
    }
    node.type = T::kBoolean;
    node.subtype = 0;
    node.size = node.left->size;
    node.decimals = node.left->decimals;
  }

  void ConvertDate(TExpressionNode& literal, const TExpressionNode& like) {
    if (!ConvertDateLiteral(literal.value, like.type)) {
      Fail("Date, time, or timestamp expression expected, instead found " +
           Quoted(literal.token));
    }
    literal.type = like.type;
    literal.size = like.size;
    literal.decimals = like.decimals;
  }

  void Binary(TExpressionNode& node, int depth) {
    if (!node.left || !node.right) {
      Fail("Type mismatch between expression '" +
           std::string(node.left ? node.left->token.View() : "") + "' and expression '" +
           std::string(node.right ? node.right->token.View() : "") + "'");
    }
    if (IsChainLink(node)) {
      Chain(node, depth);
      return;
    }
    Check(*node.left, depth + 1);
    Check(*node.right, depth + 1);
    FinishBinary(node);
  }

  // A chain of AND or of OR links (expression_node.h) is walked in a loop
  // so that its length costs no stack: its operands are checked one level
  // below it, and operands and links are taken in the order recursion
  // would take them (a link's left side, its right side, then the link).
  void Chain(TExpressionNode& root, int depth) {
    struct Pending {
      TExpressionNode* link;
      int next;  // 0: left side, 1: right side, 2: the link itself
    };
    std::vector<Pending> stack{{&root, 0}};
    while (!stack.empty()) {
      Pending& top = stack.back();
      if (top.next == 2) {
        FinishBinary(*top.link);
        stack.pop_back();
        continue;
      }
      ExpressionPtr& side = top.next == 0 ? top.link->left : top.link->right;
      ++top.next;
      if (IsChainLink(*side) && side->op == root.op) {
        stack.push_back({side.get(), 0});
      } else {
        CheckTruthOperand(side, depth + 1);
      }
    }
  }

  // Date literals, the type rule and the node's type of a binary node whose
  // operands are checked.
  void FinishBinary(TExpressionNode& node) {
    TExpressionNode& l = *node.left;
    TExpressionNode& r = *node.right;
    // Date and time literals compared with or added to a column or function.
    // Only the constant side is converted.
    if (r.kind == NodeKind::kConstant && IsColumnOrFunction(l) && IsDateTimeType(l.type) &&
        r.type == T::kString) {
      ConvertDate(r, l);
    } else if (l.kind == NodeKind::kConstant && IsColumnOrFunction(r) &&
               IsDateTimeType(r.type) && l.type == T::kString) {
      ConvertDate(l, r);
    }
    if (!BinaryOperandsAllowed(node.op, l.type, r.type)) {
      Fail("Type mismatch between " + std::string(KindName(l.kind)) + " " + Quoted(l.token) +
           " and " + std::string(KindName(r.kind)) + " " + Quoted(r.token));
    }
    node.type = BinaryResultType(node.op, l.type, r.type);
    node.subtype = BinaryResultSubtype(node.op, l.type, l.subtype, r.subtype, r.type);
    if (node.op == Op::kAdd && l.type == T::kString && r.type == T::kString) {
      // Computed wide and capped: two long strings never wrap the size byte.
      node.size = ClampSize(std::int64_t{l.size} + r.size - 1);
      node.decimals = 0;
    } else {
      node.size = std::max(l.size, r.size);
      node.decimals = std::max(l.decimals, r.decimals);
    }
  }

  // The FROM or FOR constant of SUBSTRING: an int32 constant from 1 to 250.
  std::int32_t SubstringBound(const TExpressionNode* n, const char* which) {
    const std::string name = which;
    if (n == nullptr || n->kind != NodeKind::kConstant || n->type != T::kInteger) {
      Fail(name + " argument of SUBSTRING function must be an integer constant");
    }
    const std::int32_t v = NodeValue<std::int32_t>(*n);
    if (v < 1 || v > kMaxDeclaredSize) {
      Fail(name + " argument of SUBSTRING function must be an integer constant between 1 and " +
           std::to_string(kMaxDeclaredSize));
    }
    return v;
  }

  // Checks the argument of a function; a missing one reads as untyped.
  T Argument(TExpressionNode& node, int depth) {
    if (!node.left) return T::kNone;
    Check(*node.left, depth + 1);
    return node.left->type;
  }

  void Function(TExpressionNode& node, int depth) {
    switch (node.op) {
      case Op::kSum:
      case Op::kMin:
      case Op::kMax:
      case Op::kAvg: {
        const T t = Argument(node, depth);
        if (!(IsNumericType(t) || IsDateTimeType(t))) {
          const char* name = node.op == Op::kSum ? "SUM"
                             : node.op == Op::kMin ? "MIN"
                             : node.op == Op::kMax ? "MAX" : "AVG";
          Fail(std::string(name) +
               " aggregate function must contain a numeric, date, time, or timestamp expression");
        }
        node.type = t;
        node.subtype = node.left->subtype;
        node.size = node.left->size;
        node.decimals = node.left->decimals;
        break;
      }
      case Op::kCount:
        Argument(node, depth);
        SetType(node, T::kInteger, 4);
        break;
      case Op::kUpper:
      case Op::kLower:
        if (Argument(node, depth) != T::kString) {
          Fail(std::string("Type mismatch between ") + (node.op == Op::kUpper ? "UPPER" : "LOWER") +
               " function and function argument");
        }
        SetType(node, T::kString, node.left->size);
        break;
      case Op::kSubstring: {
        if (Argument(node, depth) != T::kString) {
          Fail("Expression argument of SUBSTRING function must be a string");
        }
        const std::int32_t from = SubstringBound(node.right.get(), "FROM");
        std::int64_t count = std::int64_t{node.left->size} - from;
        if (node.right->right) count = SubstringBound(node.right->right.get(), "FOR");
        SetType(node, T::kString, ClampSize(std::max<std::int64_t>(count, 0) + 1));
        break;
      }
      case Op::kTrimLeading:
      case Op::kTrimTrailing:
      case Op::kTrimBoth: {
        if (Argument(node, depth) != T::kString) {
          Fail("FROM argument of TRIM function must be a string");
        }
        const TExpressionNode* c = node.right.get();
        if (c == nullptr || c->kind != NodeKind::kConstant || c->type != T::kString ||
            c->size != 2) {
          Fail("Trim character argument of TRIM function must be a single character constant");
        }
        SetType(node, T::kString, node.left->size);
        break;
      }
      case Op::kExtractYear:
      case Op::kExtractMonth:
      case Op::kExtractDay: {
        const T t = Argument(node, depth);
        if (t != T::kDate && t != T::kTimestamp) {
          Fail("FROM argument of EXTRACT function must be a date or date and time");
        }
        SetType(node, T::kInteger, 4);
        break;
      }
      default: Argument(node, depth); break;
    }
  }

  static void SetType(TExpressionNode& node, T type, std::uint8_t size) {
    node.type = type;
    node.subtype = 0;
    node.size = size;
    node.decimals = 0;
  }

  // One element of an IN list or BETWEEN range: a constant of a type that
  // compares with the tested value.
  void ListOperand(TExpressionNode* e, const TExpressionNode& tested, const std::string& opname,
                   Op rule, int depth) {
    if (e == nullptr || e->kind != NodeKind::kConstant) {
      Fail("Constant expression expected after " + opname + " operator, instead found " +
           Quoted(e ? e->token.View() : ""));
    }
    Check(*e, depth + 1);
    if (!BinaryOperandsAllowed(rule, tested.type, e->type)) {
      Fail("Type mismatch between " + opname + " operator and expression " + Quoted(e->token));
    }
  }

  void MaybeConvertDate(TExpressionNode* e, const TExpressionNode& tested) {
    if (e != nullptr && e->kind == NodeKind::kConstant && IsDateTimeType(tested.type) &&
        e->type == T::kString) {
      ConvertDate(*e, tested);
    }
  }

  void Predicate(TExpressionNode& node, int depth) {
    std::string opname;
    switch (node.op) {
      case Op::kLike: opname = "LIKE"; break;
      case Op::kNotLike: opname = "NOT LIKE"; break;
      case Op::kIn: opname = "IN"; break;
      case Op::kNotIn: opname = "NOT IN"; break;
      case Op::kBetween: opname = "BETWEEN"; break;
      case Op::kNotBetween: opname = "NOT BETWEEN"; break;
      default: return;
    }
    if (!node.left) Fail("Type mismatch between " + opname + " operator and expression ''");
    TExpressionNode& tested = *node.left;
    Check(tested, depth + 1);
    if (node.op == Op::kLike || node.op == Op::kNotLike) {
      if (tested.type != T::kString) {
        Fail("Type mismatch between " + opname + " operator and expression " +
             Quoted(tested.token));
      }
      TExpressionNode* pattern = node.right.get();
      if (pattern == nullptr || pattern->kind != NodeKind::kConstant) {
        Fail("Constant expression expected after " + opname + " operator, instead found " +
             Quoted(pattern ? pattern->token.View() : ""));
      }
      Check(*pattern, depth + 1);
      if (pattern->type != T::kString) {
        Fail("Type mismatch between " + opname + " operator and expression " +
             Quoted(pattern->token));
      }
    } else if (node.op == Op::kIn || node.op == Op::kNotIn) {
      for (TExpressionNode* e = node.right.get(); e != nullptr; e = e->right.get()) {
        MaybeConvertDate(e, tested);
        ListOperand(e, tested, opname, Op::kEqual, depth);
      }
    } else {
      // BETWEEN bounds are ordered comparisons: the NULL literal is no bound.
      TExpressionNode* low = node.right.get();
      TExpressionNode* high = low ? low->right.get() : nullptr;
      MaybeConvertDate(low, tested);
      MaybeConvertDate(high, tested);
      ListOperand(low, tested, opname, Op::kGreaterEqual, depth);
      ListOperand(high, tested, opname, Op::kGreaterEqual, depth);
    }
    SetType(node, T::kBoolean, 2);
  }

  std::uint16_t code_;
  std::string_view context_;
  const ColumnResolver& resolve_;
};

}  // namespace

std::string_view KindName(NodeKind kind) {
  switch (kind) {
    case NodeKind::kField: return "column";
    case NodeKind::kConstant: return "constant";
    case NodeKind::kFunction: return "function";
    default: return "expression";
  }
}

void CheckExpression(std::uint16_t error_code, std::string_view context, TExpressionNode& root,
                     const ColumnResolver& resolve_column) {
  Checker(error_code, context, resolve_column).Check(root, 1);
}

}  // namespace storage
