// The expression checker: its messages, word for word, and how it reshapes
// and types trees.
#include "storage/expression_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "expression_test_support.h"
#include "filter_test_support.h"
#include "storage/engine_error.h"
#include "storage/session.h"

namespace storage {
namespace {

using namespace storage::test;  // NOLINT

constexpr const char* kContext = "WHERE or JOIN clause";

const TestColumn kColumns[] = {
    {"Name", T::kString, 21},       {"Other", T::kString, 11},     {"Long", T::kString, 251},
    {"Active", T::kBoolean, 2},     {"Qty", T::kInteger, 4},       {"Small", T::kSmallInt, 2},
    {"Cnt", T::kWord, 2},           {"Price", T::kFloat, 8, 21},   {"Amount", T::kCurrency, 8, 0, 2},
    {"OrderDate", T::kDate, 4},     {"At", T::kTime, 4},           {"Stamp", T::kTimestamp, 8},
};

// Resolves the columns above; a correlation name other than "" or "t" names
// no table.
bool Resolve(TExpressionNode& node) {
  return (node.correlation_name.empty() || node.correlation_name.View() == "t") && ResolveColumn(kColumns, node);
}

class ExpressionCheck : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }

  // Checks tree and returns the message raised ("" when none).
  static std::string MessageOf(TExpressionNode& tree, std::uint16_t code = 11949) {
    try {
      CheckExpression(code, kContext, tree, Resolve);
    } catch (const ETolmidEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), code);
      EXPECT_EQ(CurrentSession()->Context().code, code);
      EXPECT_TRUE(CurrentSession()->Context().data_file_name.empty());
      return CurrentSession()->Context().extra_text;
    }
    return "";
  }
};

ExpressionPtr Named(ExpressionPtr n, std::string_view token) {
  n->token = token;
  return n;
}

ExpressionPtr Substring(ExpressionPtr arg, ExpressionPtr from, ExpressionPtr for_ = nullptr) {
  return Named(Fn(Op::kSubstring, std::move(arg), std::move(from), std::move(for_)), "SUBSTRING");
}

ExpressionPtr DeepNot(int depth) {
  ExpressionPtr e = Bin(Op::kEqual, Col("Qty"), Int(1));
  for (int i = 0; i < depth; ++i) e = Un(Op::kNot, std::move(e));
  return e;
}

TEST_F(ExpressionCheck, MessagesAreExact) {
  const std::pair<std::function<ExpressionPtr()>, std::string> cases[] = {
      {[] { return Un(Op::kNot, Col("Qty")); }, "Boolean expression expected after NOT operator, instead found 'Qty'"},
      {[] { return Un(Op::kNot, Str("abc")); }, "Boolean expression expected after NOT operator, instead found 'abc'"},
      {[] { return Bin(Op::kEqual, Col("OrderDate"), Str("31/12/1999")); },
       "Date, time, or timestamp expression expected, instead found '31/12/1999'"},
      {[] { return Bin(Op::kLess, Str("02/30/1999"), Col("OrderDate")); },
       "Date, time, or timestamp expression expected, instead found '02/30/1999'"},
      {[] { return Bin(Op::kEqual, Col("At"), Str("25:99")); },
       "Date, time, or timestamp expression expected, instead found '25:99'"},
      {[] { return Bin(Op::kEqual, Col("Name"), Int(5)); }, "Type mismatch between column 'Name' and constant '5'"},
      {[] { return Bin(Op::kAdd, Col("Name"), Col("Qty")); }, "Type mismatch between column 'Name' and column 'Qty'"},
      {[] { return Bin(Op::kAdd, Named(Fn(Op::kUpper, Col("Name")), "UPPER"), Int(5)); },
       "Type mismatch between function 'UPPER' and constant '5'"},
      {[] { return Bin(Op::kAdd, Bin(Op::kEqual, Col("Qty"), Int(1)), Int(2)); },
       "Type mismatch between expression '=' and constant '2'"},
      {[] { return Bin(Op::kGreater, Col("Name"), Null()); },
       "Type mismatch between column 'Name' and constant 'NULL'"},
      {[] { return Bin(Op::kAnd, Col("Qty"), Col("Small")); }, "Type mismatch between column 'Qty' and column 'Small'"},
      {[] { return Bin(Op::kSubtract, Col("Name"), Col("Other")); },
       "Type mismatch between column 'Name' and column 'Other'"},
      {[] { return Bin(Op::kEqual, Col("Nope"), Int(1)); },
       "Invalid column name 'Nope' or table correlation name '' specified"},
      {[] { auto c = Col("Qty"); c->correlation_name = "x"; return Bin(Op::kEqual, std::move(c), Int(1)); },
       "Invalid column name 'Qty' or table correlation name 'x' specified"},
      {[] { return Fn(Op::kSum, Col("Name")); },
       "SUM aggregate function must contain a numeric, date, time, or timestamp expression"},
      {[] { return Fn(Op::kMin, Col("Active")); },
       "MIN aggregate function must contain a numeric, date, time, or timestamp expression"},
      {[] { return Fn(Op::kMax, Col("Name")); },
       "MAX aggregate function must contain a numeric, date, time, or timestamp expression"},
      {[] { return Fn(Op::kAvg, Col("Name")); },
       "AVG aggregate function must contain a numeric, date, time, or timestamp expression"},
      {[] { return Fn(Op::kUpper, Col("Qty")); }, "Type mismatch between UPPER function and function argument"},
      {[] { return Fn(Op::kLower, Col("OrderDate")); }, "Type mismatch between LOWER function and function argument"},
      {[] { return Substring(Col("Qty"), Int(1)); }, "Expression argument of SUBSTRING function must be a string"},
      {[] { return Substring(Col("Name"), Str("a")); },
       "FROM argument of SUBSTRING function must be an integer constant"},
      {[] { return Substring(Col("Name"), Col("Qty")); },
       "FROM argument of SUBSTRING function must be an integer constant"},
      {[] { return Substring(Col("Name"), Flt(2.0)); },
       "FROM argument of SUBSTRING function must be an integer constant"},
      {[] { return Substring(Col("Name"), Int(0)); },
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250"},
      {[] { return Substring(Col("Name"), Int(251)); },
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250"},
      {[] { return Substring(Col("Name"), Int(-1)); },
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250"},
      {[] { return Substring(Col("Name"), Int(1), Flt(1.5)); },
       "FOR argument of SUBSTRING function must be an integer constant"},
      {[] { return Substring(Col("Name"), Int(1), Int(0)); },
       "FOR argument of SUBSTRING function must be an integer constant between 1 and 250"},
      {[] { return Substring(Col("Name"), Int(1), Int(251)); },
       "FOR argument of SUBSTRING function must be an integer constant between 1 and 250"},
      {[] { return Fn(Op::kTrimBoth, Col("Qty"), Str("a")); }, "FROM argument of TRIM function must be a string"},
      {[] { return Fn(Op::kTrimLeading, Col("Name"), Str("ab")); },
       "Trim character argument of TRIM function must be a single character constant"},
      {[] { return Fn(Op::kTrimTrailing, Col("Name"), Col("Other")); },
       "Trim character argument of TRIM function must be a single character constant"},
      {[] { return Fn(Op::kTrimBoth, Col("Name"), Int(1)); },
       "Trim character argument of TRIM function must be a single character constant"},
      {[] { return Fn(Op::kExtractYear, Col("Name")); },
       "FROM argument of EXTRACT function must be a date or date and time"},
      {[] { return Fn(Op::kExtractDay, Col("At")); },
       "FROM argument of EXTRACT function must be a date or date and time"},
      {[] { return Pred(Op::kLike, Col("Qty"), Items(Str("a%"))); },
       "Type mismatch between LIKE operator and expression 'Qty'"},
      {[] { return Pred(Op::kLike, Col("Name"), Items(Col("OtherColumn"))); },
       "Constant expression expected after LIKE operator, instead found 'OtherColumn'"},
      {[] { return Pred(Op::kNotLike, Col("Name"), Items(Int(5))); },
       "Type mismatch between NOT LIKE operator and expression '5'"},
      {[] { return Pred(Op::kIn, Col("Qty"), Items(Int(1), Str("a"))); },
       "Type mismatch between IN operator and expression 'a'"},
      {[] { return Pred(Op::kNotIn, Col("Qty"), Items(Int(1), Col("Small"))); },
       "Constant expression expected after NOT IN operator, instead found 'Small'"},
      {[] { return Pred(Op::kIn, Col("OrderDate"), Items(Str("12/31/1999"), Str("99/99/1999"))); },
       "Date, time, or timestamp expression expected, instead found '99/99/1999'"},
      {[] { return Pred(Op::kBetween, Col("Qty"), Items(Int(1), Str("x"))); },
       "Type mismatch between BETWEEN operator and expression 'x'"},
      {[] { return Pred(Op::kNotBetween, Col("Qty"), Items(Col("Small"), Int(1))); },
       "Constant expression expected after NOT BETWEEN operator, instead found 'Small'"},
      {[] { return Pred(Op::kBetween, Col("Qty"), Items(Null(), Int(1))); },
       "Type mismatch between BETWEEN operator and expression 'NULL'"},
      {[] { return Pred(Op::kBetween, Col("Stamp"), Items(Str("1/1/2000"), Str("1/32/2000"))); },
       "Date, time, or timestamp expression expected, instead found '1/32/2000'"},
      {[] { return DeepNot(kMaxExpressionDepth + 5); }, "Expression is nested too deeply"},
  };
  for (const auto& [tree, message] : cases) {
    auto t = tree();
    EXPECT_EQ(MessageOf(*t), message + " in " + kContext);
  }
}

TEST_F(ExpressionCheck, RaisesTheCallersCode) {
  auto tree = Un(Op::kNot, Col("Qty"));
  EXPECT_EQ(MessageOf(*tree, 10051),
            std::string("Boolean expression expected after NOT operator, instead found 'Qty' in ") +
                kContext);
}

// How the checker reshapes trees, as kinds, operators, fields (number,
// type, size) and constants (type, size, value bytes): a bare boolean
// column becomes "= True" (also a quoted name of one, and under NOT); a
// string constant naming a column becomes the column, unless it is a
// parameter; a date, time or timestamp literal takes the type of the
// column it meets. Two constants are not converted.
TEST_F(ExpressionCheck, ReshapedTrees) {
  auto parameter = [] {
    auto t = Bin(Op::kEqual, Col("Other"), Str("Name"));
    t->right->parameter = 1;
    return t;
  };
  const std::pair<std::function<ExpressionPtr()>, std::string> cases[] = {
      {[] { return Bin(Op::kAnd, Col("Active"), Bin(Op::kEqual, Col("Qty"), Int(1))); },
       "bin10(bin3(f:Active#4/t4/s2,c/t4/s2=ffff),bin3(f:Qty#5/t6/s4,c/t6/s4=01000000))"},
      {[] { return Un(Op::kNot, Col("Active")); }, "un9(bin3(f:Active#4/t4/s2,c/t4/s2=ffff))"},
      {[] { return Bin(Op::kOr, Str("Active"), Bool(false)); },
       "bin11(bin3(f:Active#4/t4/s2,c/t4/s2=ffff),c/t4/s2=0000)"},
      {[] { return Bin(Op::kEqual, Col("Active"), Bool(false)); }, "bin3(f:Active#4/t4/s2,c/t4/s2=0000)"},
      {[] { return Bin(Op::kEqual, Col("Other"), Str("Name")); }, "bin3(f:Other#2/t1/s11,f:Name#1/t1/s21)"},
      {[] { return Bin(Op::kEqual, Col("Other"), Str("Nobody")); }, "bin3(f:Other#2/t1/s11,c/t1/s7'Nobody')"},
      {parameter, "bin3(f:Other#2/t1/s11,c/t1/s5'Name')"},
      {[] { return Bin(Op::kEqual, Col("OrderDate"), Str("12/31/1999")); },
       "bin3(f:OrderDate#10/t2/s4,c/t2/s4=07240b00)"},
      {[] { return Bin(Op::kGreaterEqual, Str("1/2/2003 10:00:00"), Col("Stamp")); },
       "bin7(c/t11/s8=008036d4cabacc42,f:Stamp#12/t11/s8)"},
  };
  for (const auto& [tree, shape] : cases) {
    auto t = tree();
    ASSERT_EQ(MessageOf(*t), "");
    EXPECT_EQ(Describe(t.get()), shape);
  }
  auto in = Pred(Op::kIn, Col("OrderDate"), Items(Str("1/1/2000"), Str("2/29/2000")));
  ASSERT_EQ(MessageOf(*in), "");
  EXPECT_EQ(NodeValue<std::uint32_t>(*in->right->right), DayNumber(2000, 2, 29));
  EXPECT_EQ(MessageOf(*Bin(Op::kEqual, Date(2000, 1, 1), Str("1/1/2000"))),
            std::string("Type mismatch between constant 'c' and constant '1/1/2000' in ") + kContext);
}

TEST_F(ExpressionCheck, SizesTypesAndDecimals) {
  struct Case {
    const char* what;
    std::function<ExpressionPtr()> tree;
    T type;
    std::uint8_t subtype;
    std::uint8_t size;
    std::uint8_t decimals;
  };
  const Case cases[] = {
      {"SUBSTRING FROM 3 of size 21", [] { return Substring(Col("Name"), Int(3)); }, T::kString, 0, 19, 0},
      {"SUBSTRING FOR 5", [] { return Substring(Col("Name"), Int(3), Int(5)); }, T::kString, 0, 6, 0},
      {"SUBSTRING FROM past the end", [] { return Substring(Col("Name"), Int(250)); }, T::kString, 0, 1, 0},
      {"SUBSTRING FOR 250", [] { return Substring(Col("Name"), Int(1), Int(250)); }, T::kString, 0, 251, 0},
      {"concatenation", [] { return Bin(Op::kAdd, Col("Name"), Col("Other")); }, T::kString, 0, 31, 0},
      {"long concatenation is capped, not wrapped",
       [] { return Bin(Op::kAdd, Col("Long"), Col("Long")); }, T::kString, 0, 251, 0},
      {"UPPER", [] { return Fn(Op::kUpper, Col("Name")); }, T::kString, 0, 21, 0},
      {"TRIM", [] { return Fn(Op::kTrimBoth, Col("Other"), Str("x")); }, T::kString, 0, 11, 0},
      {"EXTRACT", [] { return Fn(Op::kExtractMonth, Col("Stamp")); }, T::kInteger, 0, 4, 0},
      {"COUNT of a string", [] { return Fn(Op::kCount, Col("Name")); }, T::kInteger, 0, 4, 0},
      {"COUNT(*)", [] { return Fn(Op::kCount, Col("*")); }, T::kInteger, 0, 4, 0},
      {"SUM of currency", [] { return Fn(Op::kSum, Col("Amount")); }, T::kCurrency, 0, 8, 2},
      {"MAX of money", [] { return Fn(Op::kMax, Col("Price")); }, T::kFloat, 21, 8, 0},
      {"money times int32", [] { return Bin(Op::kMultiply, Col("Price"), Col("Qty")); }, T::kFloat, 21, 8, 0},
      {"int32 minus money", [] { return Bin(Op::kSubtract, Col("Qty"), Col("Price")); }, T::kFloat, 0, 8, 0},
      {"int16 + word", [] { return Bin(Op::kAdd, Col("Small"), Col("Cnt")); }, T::kInteger, 0, 2, 0},
      {"word - int16", [] { return Bin(Op::kSubtract, Col("Cnt"), Col("Small")); }, T::kWord, 0, 2, 0},
      {"int32 / int32", [] { return Bin(Op::kDivide, Col("Qty"), Col("Qty")); }, T::kFloat, 0, 4, 0},
      {"currency / int32", [] { return Bin(Op::kDivide, Col("Amount"), Col("Qty")); }, T::kCurrency, 0, 8, 2},
      {"date - date", [] { return Bin(Op::kSubtract, Col("OrderDate"), Col("OrderDate")); }, T::kInteger, 0, 4, 0},
      {"NOT keeps the operand's size", [] { return Un(Op::kNot, Col("Active")); }, T::kBoolean, 0, 2, 0},
      {"name IS NULL", [] { return Bin(Op::kEqual, Col("Name"), Null()); }, T::kBoolean, 0, 21, 0},
      {"LIKE", [] { return Pred(Op::kLike, Col("Name"), Items(Str("a%"))); }, T::kBoolean, 0, 2, 0},
  };
  for (const Case& c : cases) {
    auto tree = c.tree();
    ASSERT_EQ(MessageOf(*tree), "") << c.what;
    EXPECT_EQ(tree->type, c.type) << c.what;
    EXPECT_EQ(tree->subtype, c.subtype) << c.what;
    EXPECT_EQ(tree->size, c.size) << c.what;
    EXPECT_EQ(tree->decimals, c.decimals) << c.what;
  }
}

TEST_F(ExpressionCheck, DeepTreesAtTheLimitPassDeeperAreRefused) {
  EXPECT_EQ(MessageOf(*DeepNot(kMaxExpressionDepth - 3)), "");
  EXPECT_EQ(MessageOf(*DeepNot(200000)), std::string("Expression is nested too deeply in ") + kContext);
}

TEST_F(ExpressionCheck, LongAndOrChainsAreWalkedNotRecursed) {
  // Active OR Qty = 1 OR Active OR Qty = 2 ... grouped to the right.
  ExpressionPtr e = Col("Active");
  for (int i = 20000; i >= 1; --i) {
    ExpressionPtr operand = i % 2 ? Col("Active") : Bin(Op::kEqual, Col("Qty"), Int(i));
    e = Bin(Op::kOr, std::move(operand), std::move(e));
  }
  ASSERT_EQ(MessageOf(*e), "");
  // AND and OR taking turns nest: a OR (b AND (c OR ...)) is deep.
  ExpressionPtr turns = Col("Active");
  for (int i = 0; i < 20000; ++i) turns = Bin(i % 2 ? Op::kOr : Op::kAnd, Col("Active"), std::move(turns));
  EXPECT_EQ(MessageOf(*turns), std::string("Expression is nested too deeply in ") + kContext);
  // Every bare column on the chain became a test, the last right one too.
  const TExpressionNode* link = e.get();
  int links = 0;
  while (link->kind == NodeKind::kBinary && (link->op == Op::kAnd || link->op == Op::kOr)) {
    EXPECT_EQ(link->type, T::kBoolean);
    EXPECT_EQ(link->left->op, Op::kEqual);
    link = link->right.get();
    ++links;
  }
  EXPECT_EQ(links, 20000);
  EXPECT_EQ(link->op, Op::kEqual);
  EXPECT_EQ(link->left->column_name.View(), "Active");

  // Long IN lists too.
  std::vector<ExpressionPtr> items;
  for (int i = 0; i < 20000; ++i) items.push_back(Int(i));
  auto in = Pred(Op::kIn, Col("Qty"), std::move(items));
  EXPECT_EQ(MessageOf(*in), "");

  // A fault deep in the chain still names its operands.
  ExpressionPtr bad = Bin(Op::kAnd, Col("Qty"), Col("Active"));
  for (int i = 0; i < 5000; ++i) bad = Bin(Op::kOr, Col("Active"), std::move(bad));
  EXPECT_EQ(MessageOf(*bad),
            std::string("Type mismatch between column 'Qty' and expression '=' in ") + kContext);
  ExpressionPtr left_bad = Bin(Op::kOr, Col("Active"), Col("Name"));
  for (int i = 0; i < 5000; ++i) left_bad = Bin(Op::kAnd, std::move(left_bad), Col("Active"));
  EXPECT_EQ(MessageOf(*left_bad),
            std::string("Type mismatch between expression '=' and column 'Name' in ") + kContext);
}

}  // namespace
}  // namespace storage
