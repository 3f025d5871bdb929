// The query object around the grammar: preparation, the lists and trees it
// builds, the node fields the later stages read, and hostile text.
#include <gtest/gtest.h>

#include "sql_tables.h"
#include "sql_test_support.h"
#include "storage/expression_eval.h"

namespace sql::test {
namespace {

constexpr const char* kTooDeepWhere = "Expression is nested too deeply in WHERE or JOIN clause";
constexpr const char* kTooDeepColumns = "Expression is nested too deeply in source columns";

class DataQuery : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }

  // Prepares sql and expects it to parse.
  void Parse(TDataQuery& q, std::string_view sql) {
    q.SetClock(FixedClock);
    const ParseOutcome r = Prepare(q, sql);
    ASSERT_TRUE(r.ok) << r.message;
  }
  static ParseOutcome Parsed(const std::string& sql) {
    TDataQuery q;
    q.SetClock(FixedClock);
    return Prepare(q, sql);
  }
};

// A second preparation must not add to what the first one parsed (the
// duplicate check would otherwise see the first statement's tables).
TEST_F(DataQuery, SecondPreparationStartsFromNothing) {
  TDataQuery q;
  Parse(q, "SELECT DISTINCT a, b FROM t WHERE a = ? ORDER BY a WITH LOCKS");
  Parse(q, "SELECT c FROM t");
  EXPECT_EQ(Describe(q), "col 1: c column=c name=\"c\"\nsource 1: t as t\n");
  EXPECT_EQ(q.ParameterCount(), 0);
  EXPECT_FALSE(q.WithLocks());
}

TEST_F(DataQuery, ParametersPointIntoTheWhereTreeInTextOrder) {
  TDataQuery q;
  Parse(q, "SELECT a FROM t JOIN u ON t.x = ? WHERE b IN (?, 5) AND c = ?");
  ASSERT_EQ(q.ParameterCount(), 3);
  EXPECT_TRUE(q.Flags().parameters);
  // Text order: the ON parameter, then the two of WHERE.
  const TExpressionNode* on = q.Where()->left.get();
  EXPECT_EQ(q.Parameter(0), on->right.get());
  const TExpressionNode* in = q.Where()->right->left.get();
  EXPECT_EQ(q.Parameter(1), in->right.get());
  EXPECT_EQ(q.Parameter(2), q.Where()->right->right->right.get());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(q.Parameter(i)->kind, NodeKind::kConstant);
    EXPECT_EQ(q.Parameter(i)->parameter, 1);
    EXPECT_EQ(q.Parameter(i)->type, FieldType::kNone);
    EXPECT_EQ(q.Parameter(i)->token.View(), "?");
  }
}

// A condition that fails frees its parameter nodes: the list must not keep
// pointers to them (ASan catches a use after free otherwise).
TEST_F(DataQuery, FailedConditionLeavesNoDanglingParameters) {
  TDataQuery q;
  EXPECT_FALSE(Prepare(q, "SELECT a FROM t WHERE a = ? AND b = ? + 1 ORDER BY (").ok);
  // The WHERE condition itself parsed: its two parameters stay.
  ASSERT_EQ(q.ParameterCount(), 2);
  EXPECT_EQ(q.Parameter(1)->parameter, 1);
  TDataQuery q2;
  const ParseOutcome r = Prepare(q2, "SELECT a FROM t WHERE ? + 1");
  EXPECT_EQ(r.message, "WHERE or JOIN clause must be a boolean expression");
  EXPECT_EQ(q2.ParameterCount(), 0);
  TDataQuery q3;
  EXPECT_FALSE(Prepare(q3, "SELECT a FROM t JOIN u ON u.a = ? WHERE b = ? AND (").ok);
  ASSERT_EQ(q3.ParameterCount(), 1);
  EXPECT_EQ(q3.Parameter(0), q3.Where()->right.get());
}

// An expression's text is kept up to 255 characters; line breaks do not
// count.
TEST_F(DataQuery, ExpressionTextLimit) {
  TDataQuery q2;
  Parse(q2, "SELECT a\r\n+\r\n" + std::string(251, 'b') + " FROM t");
  EXPECT_EQ(q2.Columns().Get(0)->expression_text_, "a+" + std::string(251, 'b'));
}

// A zero byte inside a quoted string is part of the string.
TEST_F(DataQuery, NulByteInAString) {
  TDataQuery q;
  Parse(q, std::string("SELECT a FROM t WHERE a = 'x\0y'", 31));
  EXPECT_EQ(storage::NodeString(*q.Where()->right), "x");
}

// Hostile text: deep nesting, long chains, huge tokens. Truncated and
// random texts are the fuzz target's (fuzz/corpus/fuzz_sql); hostile
// statements against real tables are in validate_test.cpp.
TEST_F(DataQuery, HostileTextParsesOrFailsWithTheExactMessage) {
  const int kDeep = 100000;
  const int kBound = storage::kMaxExpressionDepth - 2;  // a = 1 takes two levels
  const std::string big(1 << 20, '9');
  const struct {
    std::string sql;
    std::string message;  // "" = parses
  } cases[] = {
      {"SELECT a FROM t WHERE " + Repeat("(", kDeep) + "a = 1" + Repeat(")", kDeep), kTooDeepWhere},
      {"SELECT a FROM t WHERE " + Repeat("NOT ", kDeep) + "a = 1", kTooDeepWhere},
      {"SELECT a FROM t WHERE a = " + Repeat("b + ", kDeep) + "1", kTooDeepWhere},
      {"SELECT a FROM t WHERE a = " + Repeat("b * ", kDeep) + "1", kTooDeepWhere},
      {"SELECT a FROM t WHERE " + Repeat("a = ", kDeep) + "1", kTooDeepWhere},
      {"SELECT a FROM t WHERE a LIKE " + Repeat("b LIKE ", kDeep) + "'x'", kTooDeepWhere},
      {"SELECT " + Repeat("UPPER(", kDeep) + "a" + Repeat(")", kDeep) + " FROM t", kTooDeepColumns},
      {"SELECT " + Repeat("SUM(", kDeep) + "a" + Repeat(")", kDeep) + " FROM t", kTooDeepColumns},
      {"SELECT " + Repeat("EXTRACT(DAY FROM (", kDeep) + "a" + Repeat("))", kDeep) + " FROM t", kTooDeepColumns},
      {"SELECT a FROM t WHERE " + Repeat("(", kDeep), kTooDeepWhere},  // bound before the missing ')'
      {"SELECT a FROM t WHERE " + Repeat("(", kBound) + "a = 1" + Repeat(")", kBound), ""},
      {"SELECT a FROM t WHERE " + Repeat("(", kBound + 1) + "a = 1" + Repeat(")", kBound + 1), kTooDeepWhere},
      // Long chains are read in loops, and freed without recursion.
      {"SELECT a FROM t WHERE x IN (" + Repeat("7", 200000, ",") + ")", ""},
      {"SELECT a FROM t WHERE " + Repeat("a = 1 AND b = 2 OR ", 200000) + "c = 3", ""},
      {"SELECT " + Repeat("a + 1", 50000, ", ") + " FROM t", ""},
      // Huge tokens: messages and names are cut to 255 characters.
      {"SELECT a FROM t WHERE a = " + big, ("'" + big).substr(0, 255)},
      {"SELECT a FROM t WHERE a = " + big + ".5", ("'" + big).substr(0, 255)},
      {"SELECT a FROM t WHERE a = 0." + big, ""},
      {"SELECT a FROM t WHERE a = '" + std::string(1 << 20, 'x') + "'", ""},
      {"SELECT " + std::string(1 << 20, 'c') + " FROM t", ""},
      {"SELECT a AS [" + std::string(1 << 20, ' ') + "] FROM t", ""},
      {"SELECT a FROM t WHERE a = '" + std::string(1 << 20, 'x'), "Missing single quote after '" + std::string(227, 'x')},
      {"SELECT a /*" + std::string(1 << 20, ' '), "Missing ending comment slash and asterisk in SQL statement"},
      {"SELECT a FROM t " + std::string(400, 'n') + " " + std::string(400, 'n'),
       ("End of SELECT statement expected, instead found '" + std::string(400, 'n')).substr(0, 255)},
      {"SELECT a + " + std::string(252, 'b') + " FROM t",
       "Source column expression exceeds maximum expression length of 255 characters"},
      {std::string("SELECT a FROM t\0 WHERE x", 24), std::string("End of SELECT statement expected, instead found '\0'", 51)},
  };
  for (const auto& c : cases) {
    const ParseOutcome r = Parsed(c.sql);
    EXPECT_EQ(r.ok, c.message.empty()) << c.sql.substr(0, 80) << ": " << r.message.substr(0, 80);
    EXPECT_EQ(r.message, c.message) << c.sql.substr(0, 80);
    if (!r.ok) { EXPECT_EQ(r.code, 11949); }
  }
  std::string joins = "SELECT a FROM t0";
  for (int i = 1; i < 20000; ++i) joins += " JOIN t" + std::to_string(i) + " ON t0.a = t" + std::to_string(i) + ".a";
  EXPECT_TRUE(Parsed(joins).ok);
  std::string from = "SELECT a FROM t0";
  for (int i = 1; i < 3000; ++i) from += ", t" + std::to_string(i);
  EXPECT_TRUE(Parsed(from).ok);
  EXPECT_EQ(Parsed(from + ", T1234").message, "Duplicate table correlation name 'T1234' found in source tables");
}

}  // namespace
}  // namespace sql::test
