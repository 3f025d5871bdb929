// The query object around the grammar: preparation, the lists and trees it
// builds, the node fields the later stages read, and the engine error.
#include <gtest/gtest.h>

#include <string>

#include "sql_test_support.h"

namespace sql::test {
namespace {

class DataQuery : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }

  // Prepares sql and expects it to parse.
  void Parse(TDataQuery& q, std::string_view sql) {
    q.SetClock(FixedClock);
    const ParseOutcome r = Prepare(q, sql);
    ASSERT_TRUE(r.ok) << r.message;
  }
};

TEST_F(DataQuery, SyntaxFaultIsEngineError11949WithTheMessageOnly) {
  TDataQuery q;
  try {
    (void)q.PrepareQuery("SELECT a FROM t HAVING x");
    FAIL() << "no error";
  } catch (const storage::ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 11949);
    EXPECT_EQ(e.Message(),
              "Tolmid Engine Error # 11949 SQL - End of SELECT statement expected, instead found "
              "'HAVING'");
    const storage::ErrorContext& c = storage::CurrentSession()->Context();
    EXPECT_EQ(c.code, 11949);
    EXPECT_TRUE(c.data_file_name.empty());
    EXPECT_TRUE(c.field_name.empty());
    EXPECT_TRUE(c.index_name.empty());
  }
}

TEST_F(DataQuery, ExecutedQueryRefusesPreparationAndDirectory) {
  TDataQuery q;
  Parse(q, "SELECT a FROM t");
  q.SetDirectory("C:\\one");
  q.SetExecuted();
  q.SetDirectory("C:\\two");
  EXPECT_EQ(q.Directory(), "C:\\one");
  EXPECT_EQ(q.PrepareQuery("SELECT b FROM u"), 11047);
  // Nothing of the first statement was dropped.
  ASSERT_EQ(q.Columns().Count(), 1);
  EXPECT_EQ(q.Columns().Get(0)->column_name_, "a");
}

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

TEST_F(DataQuery, LiveRequestSurvivesPreparationUnlessInto) {
  TDataQuery q;
  q.SetLiveRequested(true);
  Parse(q, "SELECT a FROM t");
  EXPECT_TRUE(q.Flags().live_requested);
  Parse(q, "SELECT a INTO r FROM t");
  EXPECT_FALSE(q.Flags().live_requested);
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

// A string literal keeps at most 254 characters, as the value area allows;
// the size byte never wraps.
TEST_F(DataQuery, LongLiteralIsBoundedByTheValueArea) {
  TDataQuery q;
  Parse(q, "SELECT a FROM t WHERE a = '" + std::string(1000, 'x') + "'");
  const TExpressionNode& c = *q.Where()->right;
  EXPECT_EQ(storage::NodeString(c).size(), 254u);
  EXPECT_EQ(c.size, 255);
  EXPECT_EQ(c.token.size(), 255u);
}

TEST_F(DataQuery, DateAndNowAreTakenWhenParsed) {
  TDataQuery q;
  int calls = 0;
  q.SetClock([&] {
    ++calls;
    return fw::EncodeDate(1999, 12, 31) + 0.5;
  });
  ASSERT_EQ(q.ParseQuery("SELECT a FROM t WHERE d = date AND n = NOW"), 0);
  EXPECT_EQ(calls, 2);
  const TExpressionNode& date = *q.Where()->left->right;
  EXPECT_EQ(date.type, FieldType::kDate);
  EXPECT_EQ(date.size, 4);
  EXPECT_EQ(storage::NodeValue<std::uint32_t>(date),
            static_cast<std::uint32_t>(fw::DateTimeToTimeStamp(fw::EncodeDate(1999, 12, 31)).Date));
  const TExpressionNode& now = *q.Where()->right->right;
  EXPECT_EQ(now.type, FieldType::kTimestamp);
  EXPECT_EQ(now.size, 8);
  EXPECT_EQ(storage::NodeValue<double>(now),
            storage::NodeValue<std::uint32_t>(date) * 86400000.0 + 43200000.0);
}

// A zero byte inside a quoted string is part of the string.
TEST_F(DataQuery, NulByteInAString) {
  TDataQuery q;
  Parse(q, std::string("SELECT a FROM t WHERE a = 'x\0y'", 31));
  EXPECT_EQ(storage::NodeString(*q.Where()->right), "x");
}

// Expression trees the renderer does not write (the fuzz target's round
// trip covers the rest): the join marks are on comparisons of two columns only.
TEST_F(DataQuery, JoinMarksOnlyOnColumnComparisons) {
  TDataQuery q;
  Parse(q, "SELECT a FROM t LEFT JOIN u ON t.a = u.a AND u.b = 1 AND 2 < t.c AND (t.x + 1) >= UPPER(u.y)");
  std::vector<int> marks;
  for (const TExpressionNode* w = q.Where(); w != nullptr;) {
    const TExpressionNode* cmp = w->op == ExprOperator::kAnd ? w->left.get() : w;
    marks.push_back(cmp->reserved1);
    w = w->op == ExprOperator::kAnd ? w->right.get() : nullptr;
  }
  EXPECT_EQ(marks, (std::vector<int>{2, 0, 0, 2}));
}

}  // namespace
}  // namespace sql::test
