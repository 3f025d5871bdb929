// Hostile SQL text: deep nesting, long chains, huge tokens. Each parses or
// fails with its exact message; truncated and random texts are the fuzz
// target's (fuzz/corpus/fuzz_sql), hostile statements against real tables
// are in validate_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "sql_tables.h"
#include "sql_test_support.h"
#include "storage/expression_eval.h"

namespace sql::test {
namespace {


ParseOutcome Parse(const std::string& sql) {
  TDataQuery q;
  q.SetClock(FixedClock);
  return Prepare(q, sql);
}

constexpr const char* kTooDeepWhere = "Expression is nested too deeply in WHERE or JOIN clause";
constexpr const char* kTooDeepColumns = "Expression is nested too deeply in source columns";

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }
};

TEST_F(HostileInput, ParserRefusesWithTheExactMessage) {
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
    const ParseOutcome r = Parse(c.sql);
    EXPECT_EQ(r.ok, c.message.empty()) << c.sql.substr(0, 80) << ": " << r.message.substr(0, 80);
    EXPECT_EQ(r.message, c.message) << c.sql.substr(0, 80);
    if (!r.ok) EXPECT_EQ(r.code, 11949);
  }
  std::string joins = "SELECT a FROM t0";
  for (int i = 1; i < 20000; ++i) joins += " JOIN t" + std::to_string(i) + " ON t0.a = t" + std::to_string(i) + ".a";
  EXPECT_TRUE(Parse(joins).ok);
  std::string from = "SELECT a FROM t0";
  for (int i = 1; i < 3000; ++i) from += ", t" + std::to_string(i);
  EXPECT_TRUE(Parse(from).ok);
  EXPECT_EQ(Parse(from + ", T1234").message, "Duplicate table correlation name 'T1234' found in source tables");
}

}  // namespace
}  // namespace sql::test
