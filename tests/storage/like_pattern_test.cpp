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
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"abc", "a%", true},    {"abc", "a_c", true},  {"abc", "%c", true},   {"abc", "abc%%", true},
      {"abc", "A%", false},   {"abc", "ab", false},  {"", "%", true},       {"", "%%", true},
      {"", "_", false},       {"", "", true},        {"abc", "", false},    {"abc", "%", true},
      {"abc", "___", true},   {"abc", "____", false}, {"abc", "%b%", true}, {"abc", "%d%", false},
      {"aaa", "%a", true},    {"ab", "a%b%", true},  {"a%b", "a%b", true},  {"ab", "b%", false},
      {"mississippi", "%ss%pi", true}, {"mississippi", "m%s_p%i", true},
      {"\xE9t\xE9", "_t_", true},  // a 1252 byte is one character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchLikePattern(c.text, c.pattern), c.match) << c.text << " LIKE " << c.pattern;
    EXPECT_EQ(LikeRecursive(c.text, c.pattern), c.match) << c.text << " LIKE " << c.pattern;
  }
}

TEST(LikePattern, StopsAtNul) {
  EXPECT_TRUE(MatchLikePattern(std::string_view("ab\0cd", 5), "ab"));
  EXPECT_TRUE(MatchLikePattern("ab", std::string_view("a_\0zz", 5)));
}

class SqliteLike {
 public:
  SqliteLike() {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_, "PRAGMA case_sensitive_like=ON", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2", -1, &stmt_, nullptr), SQLITE_OK);
  }
  ~SqliteLike() {
    sqlite3_finalize(stmt_);
    sqlite3_close(db_);
  }
  bool Match(const std::string& text, const std::string& pattern) {
    sqlite3_reset(stmt_);
    sqlite3_bind_text(stmt_, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt_, 2, pattern.data(), static_cast<int>(pattern.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt_), SQLITE_ROW);
    return sqlite3_column_int(stmt_, 0) != 0;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

// SQLite's case-sensitive LIKE has the same wildcards and no escape
// character by default. Texts stay in ASCII: SQLite reads bytes >= 0x80 as
// UTF-8 sequences (one '_' per code point), the engine reads single bytes.
TEST(LikePattern, MatchesSqlite) {
  SqliteLike peer;
  std::mt19937 rng(4242);
  const std::string text_alpha = "aabAc%_";
  const std::string pat_alpha = "aabAc%%__";
  int matches = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string t, p;
    int tl = static_cast<int>(rng() % 11), pl = static_cast<int>(rng() % 9);
    for (int k = 0; k < tl; ++k) t.push_back(text_alpha[rng() % text_alpha.size()]);
    for (int k = 0; k < pl; ++k) p.push_back(pat_alpha[rng() % pat_alpha.size()]);
    // Half the time, derive the pattern from the text so matches are common.
    if (i % 2 == 0 && !t.empty()) {
      p.clear();
      for (char ch : t) {
        unsigned r = rng() % 6;
        if (r == 0) p.push_back('_');
        else if (r == 1) p.push_back('%');
        else if (r == 2) {}  // drop
        else p.push_back(ch);
        if (rng() % 8 == 0) p.push_back('%');
      }
    }
    bool expected = peer.Match(t, p);
    matches += expected;
    ASSERT_EQ(MatchLikePattern(t, p), expected) << "'" << t << "' LIKE '" << p << "'";
    ASSERT_EQ(LikeRecursive(t.c_str(), p.c_str()), expected) << "'" << t << "' LIKE '" << p << "'";
  }
  EXPECT_GT(matches, 2000);  // the sample exercises both outcomes
}

// Bytes above 0x7F are single characters to the engine; only the
// recursive definition serves as the reference there.
TEST(LikePattern, HighBytesMatchRecursiveDefinition) {
  std::mt19937 rng(99);
  const std::string alpha = "a\xE9\xFF\x80";
  const std::string pat_alpha = "a\xE9\xFF\x80%_";
  for (int i = 0; i < 20000; ++i) {
    std::string t, p;
    for (int k = static_cast<int>(rng() % 9); k > 0; --k) t.push_back(alpha[rng() % alpha.size()]);
    for (int k = static_cast<int>(rng() % 7); k > 0; --k) p.push_back(pat_alpha[rng() % pat_alpha.size()]);
    ASSERT_EQ(MatchLikePattern(t, p), LikeRecursive(t.c_str(), p.c_str())) << i;
  }
}

TEST(LikePattern, AdversarialPatternEndsQuickly) {
  // The recursive definition tries every split of the text among the '%'s:
  // about C(10000, 10) steps here. This test finishes only if the matcher
  // does bounded work.
  std::string text(10000, 'a');
  std::string pattern = "%a%a%a%a%a%a%a%a%a%a%b";
  EXPECT_FALSE(MatchLikePattern(text, pattern));
  text.back() = 'b';
  EXPECT_TRUE(MatchLikePattern(text, pattern));
  EXPECT_FALSE(MatchLikePattern(std::string(10000, '_'), "%_%_%_%_%_%_%_%_%_%_%x"));
}

}  // namespace
}  // namespace storage
