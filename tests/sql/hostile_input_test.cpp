// Hostile SQL text: deep nesting, huge tokens, zero bytes, bytes >= 0x80,
// random bytes and every truncation of valid statements. Each must either
// parse or raise engine error 11949 - never another exception, a crash or a
// read past the text (the sanitizer build checks the last two).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sql_test_support.h"
#include "storage/expression_eval.h"

namespace sql::test {
namespace {

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override { storage::InitializeEngine(); }

  // Parses sql; only the SQL engine error may come out.
  static ParseOutcome Run(std::string_view sql) {
    TDataQuery q;
    q.SetClock(FixedClock);
    try {
      return Prepare(q, sql);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "unexpected exception " << e.what();
    }
    return {};
  }
  static void ExpectParsesOrSqlError(std::string_view sql) {
    const ParseOutcome r = Run(sql);
    if (!r.ok) {
      EXPECT_EQ(r.code, 11949) << sql;
    }
  }
  static std::string Repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  }
};

constexpr const char* kTooDeepWhere = "Expression is nested too deeply in WHERE or JOIN clause";

TEST_F(HostileInput, NestingIsBoundedNotAStackOverflow) {
  const int kDeep = 100000;
  struct Case {
    std::string sql;
    const char* message;
  } cases[] = {
      {"SELECT a FROM t WHERE " + Repeat("(", kDeep) + "a = 1" + Repeat(")", kDeep), kTooDeepWhere},
      {"SELECT a FROM t WHERE " + Repeat("NOT ", kDeep) + "a = 1", kTooDeepWhere},
      {"SELECT a FROM t WHERE a = " + Repeat("b + ", kDeep) + "1", kTooDeepWhere},
      {"SELECT a FROM t WHERE a = " + Repeat("b * ", kDeep) + "1", kTooDeepWhere},
      {"SELECT a FROM t WHERE " + Repeat("a = ", kDeep) + "1", kTooDeepWhere},
      {"SELECT a FROM t WHERE a LIKE " + Repeat("b LIKE ", kDeep) + "'x'", kTooDeepWhere},
      {"SELECT " + Repeat("UPPER(", kDeep) + "a" + Repeat(")", kDeep) + " FROM t",
       "Expression is nested too deeply in source columns"},
      {"SELECT " + Repeat("SUM(", kDeep) + "a" + Repeat(")", kDeep) + " FROM t",
       "Expression is nested too deeply in source columns"},
      {"SELECT " + Repeat("EXTRACT(DAY FROM (", kDeep) + "a" + Repeat("))", kDeep) + " FROM t",
       "Expression is nested too deeply in source columns"},
      // Unclosed: the bound comes before the missing parenthesis.
      {"SELECT a FROM t WHERE " + Repeat("(", kDeep), kTooDeepWhere},
  };
  for (const Case& c : cases) {
    const ParseOutcome r = Run(c.sql);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, c.message) << c.sql.substr(0, 60);
  }
}

// Every parenthesis and operator level counts against the checker's bound:
// a = 1 (two levels with its condition) inside 254 parentheses is read, one
// more is refused.
TEST_F(HostileInput, NestingBoundIsExact) {
  const int levels = storage::kMaxExpressionDepth - 2;
  EXPECT_TRUE(Run("SELECT a FROM t WHERE " + Repeat("(", levels) + "a = 1" + Repeat(")", levels)).ok);
  EXPECT_EQ(Run("SELECT a FROM t WHERE " + Repeat("(", levels + 1) + "a = 1" + Repeat(")", levels + 1))
                .message,
            kTooDeepWhere);
}

// Long AND/OR chains, IN lists and joins are read in loops: they are not
// nesting, and freeing them must not recurse either.
TEST_F(HostileInput, LongChainsAreNotNesting) {
  const int kLong = 200000;
  std::string in = "SELECT a FROM t WHERE x IN (0";
  for (int i = 1; i < kLong; ++i) in += "," + std::to_string(i);
  EXPECT_TRUE(Run(in + ")").ok);
  EXPECT_TRUE(Run("SELECT a FROM t WHERE " + Repeat("a = 1 AND b = 2 OR ", kLong) + "c = 3").ok);
  std::string joins = "SELECT a FROM t0";
  for (int i = 1; i < 20000; ++i) {
    joins += " JOIN t" + std::to_string(i) + " ON t0.a = t" + std::to_string(i) + ".a";
  }
  EXPECT_TRUE(Run(joins).ok);
  std::string items = "SELECT a0";
  for (int i = 1; i < 50000; ++i) items += ", a" + std::to_string(i) + " + 1";
  EXPECT_TRUE(Run(items + " FROM t").ok);
}

TEST_F(HostileInput, HugeTokens) {
  const std::string big(1 << 20, '9');
  EXPECT_EQ(Run("SELECT a FROM t WHERE a = " + big).message,
            ("'" + big).substr(0, 255));
  EXPECT_EQ(Run("SELECT a FROM t WHERE a = " + big + ".5").message, ("'" + big).substr(0, 255));
  EXPECT_EQ(Run("SELECT a FROM t WHERE a = 0." + big).code, 0);  // a long fraction is a float
  EXPECT_TRUE(Run("SELECT a FROM t WHERE a = '" + std::string(1 << 20, 'x') + "'").ok);
  EXPECT_TRUE(Run("SELECT " + std::string(1 << 20, 'c') + " FROM t").ok);
  EXPECT_TRUE(Run("SELECT a AS [" + std::string(1 << 20, ' ') + "] FROM t").ok);
  ExpectParsesOrSqlError("SELECT a FROM t WHERE a = 1" + std::string(1 << 20, 'e'));
  EXPECT_EQ(Run("SELECT a FROM t WHERE a = '" + std::string(1 << 20, 'x')).message.size(), 255u);
  EXPECT_EQ(Run("SELECT a /*" + std::string(1 << 20, ' ')).message,
            "Missing ending comment slash and asterisk in SQL statement");
}

TEST_F(HostileInput, EveryTruncationOfValidStatements) {
  const std::string statements[] = {
      "SELECT DISTINCT t.a AS \"x\", SUM(b * 2) s, COUNT(*) INTO MEMORY 'r' FROM MEMORY t "
      "LEFT OUTER JOIN [u v] w ON t.a = w.a AND w.b IN (1, 2.5, 'x''y') RIGHT JOIN z ON z.q = t.a "
      "WHERE NOT t.c BETWEEN ? AND DATE OR t.d IS NOT NULL GROUP BY 1, t.a "
      "ORDER BY s DESC, \"x\" ASCENDING WITH LOCKS",
      "select substring(a from 2 for 3) || trim(both 'x' from b), extract(year from d), "
      "upper(e), lower(f) from t /* c */ where g not like 'a%' and h not in (now) "
      "and i <> 1E5 and j < = 2 and k > = 3",
  };
  for (const std::string& s : statements) {
    ASSERT_TRUE(Run(s).ok) << s;
    for (std::size_t n = 0; n < s.size(); ++n) {
      // A copy of exactly n bytes: the sanitizer sees any read past it.
      const std::string cut = s.substr(0, n);
      ExpectParsesOrSqlError(cut);
      std::string with_nul = s;
      with_nul[n] = '\0';
      ExpectParsesOrSqlError(with_nul);
      std::string high = s;
      high[n] = static_cast<char>(0x80 + n % 128);
      ExpectParsesOrSqlError(high);
    }
  }
}

TEST_F(HostileInput, RandomBytesAndMutations) {
  std::mt19937 rng(12345);
  static const char kPieces[][12] = {"SELECT ", "FROM ", "WHERE ", "(", ")", "'", "\"", "[", "]",
                                     "/*", "*/", "*", ",", ".", "?", "1", "1.5E+", "a", " AND ",
                                     " NOT ", " IN ", " IS ", "NULL", "|", "<", ">", "=", "\xe9",
                                     "\xff", "\x00", "JOIN ", "ON ", "ORDER BY ", "GROUP BY "};
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) {
      if (rng() % 3 == 0) {
        s += static_cast<char>(rng() % 256);
      } else {
        const char* p = kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
        s += p[0] == '\0' ? std::string(1, '\0') : std::string(p);
      }
    }
    if (rng() % 2 == 0) s = "SELECT " + s;
    ExpectParsesOrSqlError(s);
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace sql::test
