// SQL LIKE against its recursive definition and against SQLite.
#include "storage/like_pattern.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace storage {
namespace {

// The recursive definition, word for word: the reference for small inputs.
bool LikeRecursive(const char* t, const char* p) {
  const char* q = p;
  while (*q == '%') ++q;
  if (*p == '%' && *q == '\0') return true;  // only '%' left
  if (*t == '\0') return *p == '\0';
  if (*p == '%') return LikeRecursive(t, p + 1) || LikeRecursive(t + 1, p);
  if (*p == '_') return LikeRecursive(t + 1, p + 1);
  return *p == *t && LikeRecursive(t + 1, p + 1);
}

TEST(LikePattern, Table) {
  const struct {
    const char *text, *pattern;
    bool match;
  } cases[] = {
      {"abc", "a_c", true},  {"abc", "abc%%", true}, {"abc", "A%", false}, {"", "%%", true},
      {"", "_", false},      {"abc", "", false},     {"abc", "____", false}, {"aaa", "%a", true},
      {"ab", "a%b%", true},  {"ab", "b%", false},    {"mississippi", "m%s_p%i", true},
      {"\xE9t\xE9", "_t_", true},  // a 1252 byte is one character
  };
  for (const auto& c : cases) EXPECT_EQ(MatchLikePattern(c.text, c.pattern), c.match) << c.text << " LIKE " << c.pattern;
  EXPECT_TRUE(MatchLikePattern(std::string_view("ab\0cd", 5), "ab"));  // both stop at NUL
  EXPECT_TRUE(MatchLikePattern("ab", std::string_view("a_\0zz", 5)));
}

// SQLite's case-sensitive LIKE has the same wildcards and no escape by
// default. Texts stay in ASCII there (SQLite reads bytes >= 0x80 as UTF-8);
// high bytes are checked against the recursive definition only.
TEST(LikePattern, MatchesSqliteAndTheDefinition) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA case_sensitive_like=ON", nullptr, nullptr, nullptr);
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ?1 LIKE ?2", -1, &st, nullptr), SQLITE_OK);
  std::mt19937 rng(4242);
  int matches = 0;
  for (int i = 0; i < 40000; ++i) {
    const bool high = i % 4 == 3;
    const std::string alpha = high ? "a\xE9\xFF\x80" : "aabAc%_";
    const std::string pat_alpha = alpha + "%%__";
    std::string t, p;
    for (int k = static_cast<int>(rng() % 11); k > 0; --k) t.push_back(alpha[rng() % alpha.size()]);
    for (int k = static_cast<int>(rng() % 9); k > 0; --k) p.push_back(pat_alpha[rng() % pat_alpha.size()]);
    if (i % 2 == 0) {  // a pattern derived from the text: matches are common
      p.clear();
      for (char ch : t) {
        const unsigned r = rng() % 6;
        if (r < 2) p.push_back("_%"[r]);
        else if (r > 2) p.push_back(ch);  // 2: dropped
        if (rng() % 8 == 0) p.push_back('%');
      }
    }
    const bool want = LikeRecursive(t.c_str(), p.c_str());
    ASSERT_EQ(MatchLikePattern(t, p), want) << "'" << t << "' LIKE '" << p << "'";
    if (high) continue;
    sqlite3_reset(st);
    sqlite3_bind_text(st, 1, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, p.data(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    ASSERT_EQ(sqlite3_column_int(st, 0) != 0, want) << "'" << t << "' LIKE '" << p << "'";
    matches += want;
  }
  EXPECT_GT(matches, 2000);  // the sample exercises both outcomes
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// The recursive definition tries every split of the text among the '%'s:
// about C(10000, 10) steps here. This ends only if the matcher does bounded
// work.
TEST(LikePattern, AdversarialPatternEndsQuickly) {
  std::string text(10000, 'a');
  EXPECT_FALSE(MatchLikePattern(text, "%a%a%a%a%a%a%a%a%a%a%b"));
  text.back() = 'b';
  EXPECT_TRUE(MatchLikePattern(text, "%a%a%a%a%a%a%a%a%a%a%b"));
  EXPECT_FALSE(MatchLikePattern(std::string(10000, '_'), "%_%_%_%_%_%_%_%_%_%_%x"));
}

}  // namespace
}  // namespace storage
