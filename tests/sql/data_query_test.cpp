// The query object around the grammar: preparation, the lists and trees it
// builds, and the node fields the later stages read.
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

}  // namespace
}  // namespace sql::test
