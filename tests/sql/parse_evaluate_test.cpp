// Parsed trees through the engine's checker and evaluator: the shapes the
// parser builds (right grouping, AND/OR on one level, IN and BETWEEN chains,
// function arguments, IS NULL) must mean what the statement says.
#include <gtest/gtest.h>

#include <string>

#include "sql_test_support.h"
#include "storage/expression_check.h"
#include "storage/expression_eval.h"

namespace sql::test {
namespace {

// One row: a = 10, b = 4, c = 3 (int32), s = 'Smith' (string[20]),
// n NULL (int32), d = 2000-02-29 (date), flag = True.
struct Row {
  static bool Resolve(TExpressionNode& node) {
    const std::string_view name = node.column_name.View();
    node.size = 4;
    if (name == "a" || name == "b" || name == "c" || name == "n") {
      node.type = FieldType::kInteger;
    } else if (name == "s") {
      node.type = FieldType::kString;
      node.size = 21;
    } else if (name == "d") {
      node.type = FieldType::kDate;
    } else if (name == "flag") {
      node.type = FieldType::kBoolean;
      node.size = 2;
    } else {
      return false;
    }
    return true;
  }
  static void Value(TExpressionNode& node) {
    const std::string_view name = node.column_name.View();
    Resolve(node);
    node.null = 0;
    if (name == "a") storage::SetNodeValue<std::int32_t>(node, 10);
    if (name == "b") storage::SetNodeValue<std::int32_t>(node, 4);
    if (name == "c") storage::SetNodeValue<std::int32_t>(node, 3);
    if (name == "n") node.null = 1;
    if (name == "s") storage::SetNodeString(node, "Smith");
    if (name == "d") {
      storage::SetNodeValue<std::uint32_t>(
          node, static_cast<std::uint32_t>(fw::DateTimeToTimeStamp(fw::EncodeDate(2000, 2, 29)).Date));
    }
    if (name == "flag") storage::SetNodeBoolean(node, true);
  }
};

class ParseEvaluate : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }

  static bool Holds(const std::string& condition) {
    TDataQuery q;
    q.SetClock(FixedClock);
    const ParseOutcome r = Prepare(q, "SELECT a FROM t WHERE " + condition);
    EXPECT_TRUE(r.ok) << r.message;
    if (!r.ok) return false;
    TExpressionNode& tree = *q.WhereTree();
    storage::CheckExpression(11949, "WHERE or JOIN clause", tree, Row::Resolve);
    TExpressionNode result;
    storage::EvaluateExpression(tree, Row::Value, 0, 0, result);
    EXPECT_EQ(result.type, FieldType::kBoolean) << condition;
    return storage::NodeIsTrue(result);
  }
};

TEST_F(ParseEvaluate, ConditionsMeanWhatTheyParseTo) {
  const struct {
    const char* condition;
    bool holds;
  } cases[] = {
      // Right grouping: 10 - 4 - 3 is 10 - (4 - 3) = 9; 12 / 6 / 2 = 12 / 3.
      {"a - b - c = 9", true},
      {"a - b - c = 3", false},
      {"24 / b / 2 = 12", true},
      {"a + b * c = 22", true},
      {"(a + b) * c = 42", true},
      // AND and OR on one level, grouped right.
      {"a = 1 AND b = 2 OR c = 3", false},  // a = 1 AND (b = 2 OR c = 3)
      {"a = 10 AND b = 2 OR c = 3", true},
      {"a = 10 OR b = 2 AND c = 4", true},  // a = 10 OR (b = 2 AND c = 4)
      {"NOT a = 1", true},
      {"NOT NOT a = 1", false},
      {"a IN (1, 10, 3)", true},
      {"a NOT IN (1, 2)", true},
      {"b IN (1, 2)", false},
      {"c BETWEEN 3 AND 3", true},
      {"a NOT BETWEEN 1 AND 20", false},
      {"s LIKE 'Sm%'", true},
      {"s NOT LIKE '_mith'", false},
      {"n IS NULL AND a IS NOT NULL", true},
      {"s IS NULL", false},
      {"UPPER(s) = 'SMITH' AND LOWER(s) = 'smith'", true},
      {"SUBSTRING(s FROM 2 FOR 3) = 'mit'", true},
      {"SUBSTRING(s FROM 3) = 'ith'", true},
      {"TRIM(LEADING 'S' FROM s) = 'mith'", true},
      {"TRIM(BOTH 'h' FROM s) || '!' = 'Smit!'", true},
      {"EXTRACT(YEAR FROM d) = 2000 AND EXTRACT(MONTH FROM d) = 2 AND EXTRACT(DAY FROM d) = 29", true},
      {"d = '02/29/2000'", true},
      {"d < DATE", true},
      {"flag AND a = 10", true},
      {"NOT flag", false},
      {"'Smith' = s", true},
      {"s = 'it''s' OR s = \"Smith\"", true},  // "Smith" names no column: a string
      // A doubled quote stands for one.
      {"'it''s' = 'it' || '''s'", true},
      {"SUBSTRING('it''s' FROM 3 FOR 1) = ''''", true},
      {"a > 9.5 AND a < 1.05E+1", true},
  };
  for (const auto& c : cases) EXPECT_EQ(Holds(c.condition), c.holds) << c.condition;
}

}  // namespace
}  // namespace sql::test
