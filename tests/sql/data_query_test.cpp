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
  std::string MessageOf(std::string_view sql) {
    TDataQuery q;
    const ParseOutcome r = Prepare(q, sql);
    EXPECT_FALSE(r.ok);
    return r.message;
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

TEST_F(DataQuery, NodeFieldsForTheChecker) {
  TDataQuery q;
  Parse(q,
        "SELECT a FROM t WHERE s = 'abc' AND i = 42 AND f = 2.5 AND b = TRUE AND x LIKE 'a%' "
        "AND y IS NULL AND UPPER(s) = 'X' AND n = ''");
  std::vector<const TExpressionNode*> conj;
  const TExpressionNode* w = q.Where();
  while (w->op == ExprOperator::kAnd) {
    EXPECT_EQ(w->kind, NodeKind::kBinary);
    EXPECT_EQ(w->token.View(), "AND");
    EXPECT_EQ(w->type, FieldType::kBoolean);
    conj.push_back(w->left.get());
    w = w->right.get();
  }
  conj.push_back(w);
  ASSERT_EQ(conj.size(), 8u);
  const TExpressionNode& str = *conj[0]->right;
  EXPECT_EQ(str.type, FieldType::kString);
  EXPECT_EQ(str.size, 4);
  EXPECT_EQ(storage::NodeString(str), "abc");
  EXPECT_EQ(str.parameter, 0);
  const TExpressionNode& i = *conj[1]->right;
  EXPECT_EQ(i.type, FieldType::kInteger);
  EXPECT_EQ(i.size, 4);
  EXPECT_EQ(storage::NodeValue<std::int32_t>(i), 42);
  const TExpressionNode& f = *conj[2]->right;
  EXPECT_EQ(f.type, FieldType::kFloat);
  EXPECT_EQ(f.size, 8);
  EXPECT_EQ(f.token.View(), "2.5");
  const TExpressionNode& b = *conj[3]->right;
  EXPECT_EQ(b.type, FieldType::kBoolean);
  EXPECT_EQ(b.size, 2);
  EXPECT_EQ(storage::NodeValue<std::uint16_t>(b), 0xFFFF);
  EXPECT_EQ(conj[4]->kind, NodeKind::kExtendedPredicate);
  EXPECT_EQ(conj[4]->op, ExprOperator::kLike);
  EXPECT_EQ(conj[5]->kind, NodeKind::kBinary);
  EXPECT_EQ(conj[5]->op, ExprOperator::kEqual);
  EXPECT_EQ(conj[5]->right->null, 1);
  EXPECT_EQ(conj[5]->right->type, FieldType::kNone);
  EXPECT_EQ(conj[6]->left->kind, NodeKind::kFunction);
  EXPECT_EQ(conj[6]->left->op, ExprOperator::kUpper);
  EXPECT_EQ(conj[7]->right->null, 1);
  // Column nodes carry their name in both token and column name.
  EXPECT_EQ(conj[0]->left->kind, NodeKind::kField);
  EXPECT_EQ(conj[0]->left->column_name.View(), "s");
}

TEST_F(DataQuery, KindsOfEveryOperator) {
  TDataQuery q;
  Parse(q,
        "SELECT SUM(a), COUNT(a), MIN(a), MAX(a), AVG(a), UPPER(a), LOWER(a), "
        "SUBSTRING(a FROM 1), TRIM(BOTH 'x' FROM a), EXTRACT(DAY FROM a), a + b, a * b FROM t "
        "WHERE NOT a = 1 AND a IN (1) AND a NOT IN (1) AND a BETWEEN 1 AND 2 AND a NOT LIKE 'x'");
  for (std::int32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(q.Columns().Get(i)->tree_->kind, NodeKind::kFunction) << i;
  }
  EXPECT_EQ(q.Columns().Get(10)->tree_->kind, NodeKind::kBinary);
  const TExpressionNode* w = q.Where();
  EXPECT_EQ(w->left->kind, NodeKind::kUnary);
  for (w = w->right.get(); w->op == ExprOperator::kAnd; w = w->right.get()) {
    EXPECT_EQ(w->left->kind, NodeKind::kExtendedPredicate);
    EXPECT_EQ(w->left->type, FieldType::kBoolean);
  }
  EXPECT_EQ(w->op, ExprOperator::kNotLike);
}

TEST_F(DataQuery, SelectItemKinds) {
  TDataQuery q;
  Parse(q, "SELECT t.a x, COUNT(*) AS n, a + 1, AVG(t.b), * FROM t");
  const TResultDataField* c0 = q.Columns().Get(0);
  EXPECT_FALSE(c0->expression_);
  EXPECT_EQ(c0->correlation_name_, "t");
  EXPECT_EQ(c0->column_name_, "a");
  EXPECT_EQ(c0->result_name_, "x");
  const TResultDataField* c1 = q.Columns().Get(1);
  EXPECT_EQ(c1->aggregate_, AggregateKind::kCount);
  EXPECT_EQ(c1->column_name_, "*");
  EXPECT_EQ(c1->result_name_, "n");
  const TResultDataField* c2 = q.Columns().Get(2);
  EXPECT_TRUE(c2->expression_);
  EXPECT_EQ(c2->expression_text_, "a + 1");
  EXPECT_TRUE(c2->result_name_.empty());
  const TResultDataField* c3 = q.Columns().Get(3);
  EXPECT_EQ(c3->aggregate_, AggregateKind::kAvg);
  EXPECT_TRUE(c3->result_name_.empty());  // a generated name comes later
  EXPECT_TRUE(q.Flags().avg_used);
  EXPECT_EQ(q.Columns().Get(4)->column_name_, "*");
  EXPECT_TRUE(q.Columns().Get(4)->result_name_.empty());
}

TEST_F(DataQuery, ExpressionTextLimit) {
  const std::string item = "a + " + std::string(251, 'b');  // 255 characters
  TDataQuery q;
  Parse(q, "SELECT " + item + " FROM t");
  EXPECT_EQ(q.Columns().Get(0)->expression_text_, item);
  EXPECT_EQ(MessageOf("SELECT " + item + "c FROM t"),
            "Source column expression exceeds maximum expression length of 255 characters");
  // Line breaks do not count.
  TDataQuery q2;
  Parse(q2, "SELECT a\r\n+\r\n" + std::string(251, 'b') + " FROM t");
  EXPECT_EQ(q2.Columns().Get(0)->expression_text_, "a+" + std::string(251, 'b'));
}

// Messages and token texts are short strings.
TEST_F(DataQuery, LongTokensAreCutInMessagesAndNames) {
  const std::string name(400, 'n');
  const std::string m = MessageOf("SELECT a FROM t " + name + " " + name);
  EXPECT_EQ(m.size(), 255u);
  EXPECT_EQ(m, ("End of SELECT statement expected, instead found '" + name).substr(0, 255));
  TDataQuery q;
  Parse(q, "SELECT " + name + " FROM t");
  EXPECT_EQ(q.Columns().Get(0)->column_name_, name.substr(0, 255));
  EXPECT_EQ(q.Columns().Get(0)->tree_->column_name.View(), name.substr(0, 255));
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

// Table paths are not cut: a cut path would name another file.
TEST_F(DataQuery, LongTablePathIsKeptWhole) {
  const std::string path = "C:\\" + std::string(300, 'd') + "\\table.dat";
  TDataQuery q;
  Parse(q, "SELECT a INTO '" + path + "' FROM '" + path + "'");
  EXPECT_EQ(q.Sources().Get(0)->table_path_, path);
  EXPECT_EQ(q.Sources().Get(0)->correlation_name_, "table");
  EXPECT_EQ(q.ResultTableName(), path);
}

TEST_F(DataQuery, DirectoryGoesBeforeNamesWithoutOne) {
  TDataQuery q;
  q.SetDirectory("/data/catalogue");
  Parse(q, "SELECT a FROM type1, 'x:y', '/abs/t.dat' z");
  EXPECT_EQ(q.Sources().Get(0)->table_path_, "/data/catalogue\\type1");
  EXPECT_EQ(q.Sources().Get(1)->table_path_, "x:y");
  EXPECT_EQ(q.Sources().Get(1)->correlation_name_, "y");
  EXPECT_EQ(q.Sources().Get(2)->table_path_, "/abs/t.dat");
  EXPECT_EQ(q.Sources().Get(2)->correlation_name_, "z");
}

TEST_F(DataQuery, ManyTablesAreCheckedForDuplicates) {
  std::string sql = "SELECT a FROM t0";
  for (int i = 1; i < 3000; ++i) sql += ", t" + std::to_string(i);
  TDataQuery q;
  Parse(q, sql);
  EXPECT_EQ(q.Sources().Count(), 3000);
  EXPECT_EQ(MessageOf(sql + ", T1234"), "Duplicate table correlation name 'T1234' found in source tables");
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

struct TokenCase {
  const char* text;
  std::vector<std::pair<int, std::string>> tokens;  // type, TokenText
};

TEST_F(DataQuery, LexerTokens) {
  const TokenCase cases[] = {
      {"a1_b  _x", {{kTokenIdentifier, "a1_b"}, {kTokenIdentifier, "_x"}}},
      {"'it''s' \"q\"\"q\" [a''b]", {{kTokenQuoted, "it''s"}, {kTokenQuoted, "q\"\"q"}, {kTokenQuoted, "a''b"}}},
      {"1.5E+3 1E-3 12e", {{kTokenNumber, "1.5E+3"}, {kTokenNumber, "1E"}, {'-', "-"}, {kTokenInteger, "3"}, {kTokenNumber, "12e"}}},
      {"<>= ||", {{'<', "<"}, {'>', ">"}, {'=', "="}, {'|', "|"}, {'|', "|"}}},
      {"/* c */ a /* d */ /* e */", {{kTokenIdentifier, "a"}, {'/', "/"}, {'*', "*"}, {kTokenIdentifier, "e"}, {'*', "*"}, {'/', "/"}}},
      {"\x01\x1f\x20x\x7f", {{kTokenIdentifier, "x"}, {0x7f, "\x7f"}}},
      {"\xe9t\xe9 \xa7", {{kTokenIdentifier, "\xe9t\xe9"}, {0xa7, "\xa7"}}},
  };
  for (const TokenCase& c : cases) {
    SqlLexer lex;
    lex.Reset(c.text);
    for (const auto& [type, text] : c.tokens) {
      EXPECT_EQ(lex.NextToken(), type) << c.text;
      EXPECT_EQ(lex.TokenText(), text) << c.text;
    }
    EXPECT_EQ(lex.NextToken(), kTokenEnd) << c.text;
    EXPECT_EQ(lex.NextToken(), kTokenEnd) << c.text;  // stays at the end
  }
  // A zero byte inside the text is a token of its own, not the end.
  SqlLexer lex;
  lex.Reset(std::string_view("a\0b", 3));
  EXPECT_EQ(lex.NextToken(), kTokenIdentifier);
  EXPECT_EQ(lex.NextToken(), kTokenNulByte);
  EXPECT_EQ(lex.NextToken(), kTokenIdentifier);
  EXPECT_EQ(lex.TokenText(), "b");
  // Doubled delimiters read as one in the value; brackets keep them.
  lex.Reset("'it''s' \"a\"\"\" [x'']");
  lex.NextToken();
  EXPECT_EQ(lex.TokenValue(), "it's");
  lex.NextToken();
  EXPECT_EQ(lex.TokenValue(), "a\"");
  lex.NextToken();
  EXPECT_EQ(lex.TokenValue(), "x''");
  // Keywords: case-insensitive, identifiers only.
  lex.Reset("sElEcT 'select'");
  lex.NextToken();
  EXPECT_TRUE(lex.IsKeyword("SELECT"));
  EXPECT_FALSE(lex.IsQuotedWord("SELECT"));
  lex.NextToken();
  EXPECT_FALSE(lex.IsKeyword("SELECT"));
  EXPECT_TRUE(lex.IsQuotedWord("SELECT"));
}

TEST_F(DataQuery, NulByteDoesNotEndTheStatement) {
  EXPECT_EQ(MessageOf(std::string("SELECT a FROM t\0 WHERE x", 24)),
            std::string("End of SELECT statement expected, instead found '\0'", 51));
  // Inside a quoted string it is part of the string.
  TDataQuery q;
  Parse(q, std::string("SELECT a FROM t WHERE a = 'x\0y'", 31));
  EXPECT_EQ(storage::NodeString(*q.Where()->right), "x");
}

// Expression trees the renderer does not write (the round trip covers
// the rest): the join marks are on comparisons of two columns only.
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
