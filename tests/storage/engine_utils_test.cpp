#include "storage/engine_utils.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/exceptions.h"

namespace storage {
namespace {

template <std::size_t N>
std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, N>& a) {
  return std::vector<std::uint8_t>(a.begin(), a.end());
}

template <class T>
int Cmp(T a, T b) {
  return (a > b) - (a < b);
}

template <class T, class Enc>
void CheckOrder(const std::vector<T>& values, Enc enc) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    auto ki = enc(values[i]);
    for (std::size_t j = 0; j < values.size(); j += 1 + values.size() / 64) {
      auto kj = enc(values[j]);
      ASSERT_EQ(CompareKeyBytes(ki.data(), kj.data(), ki.size(), false), Cmp(values[i], values[j]))
          << "values " << values[i] << " and " << values[j];
      ASSERT_EQ(CompareKeyBytes(ki.data(), kj.data(), ki.size(), true), -Cmp(values[i], values[j]));
    }
  }
}

// ---------------------------------------------------------------- keys

TEST(EngineUtilsKeys, ExactBytes) {
  using V = std::vector<std::uint8_t>;
  EXPECT_EQ(Bytes(EncodeIntegerKey(-1)), (V{0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeIntegerKey(0)), (V{0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Bytes(EncodeIntegerKey(0x01020304)), (V{0x81, 0x02, 0x03, 0x04}));
  EXPECT_EQ(Bytes(EncodeIntegerKey(std::numeric_limits<std::int32_t>::min())), (V{0, 0, 0, 0}));
  EXPECT_EQ(Bytes(EncodeSmallIntKey(-2)), (V{0x7F, 0xFE}));
  EXPECT_EQ(Bytes(EncodeSmallIntKey(0x1234)), (V{0x92, 0x34}));
  EXPECT_EQ(Bytes(EncodeWordKey(0x1234)), (V{0x12, 0x34}));
  EXPECT_EQ(Bytes(EncodeWordKey(0xFFFF)), (V{0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeInt64Key(-1)), (V{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeInt64Key(1)), (V{0x80, 0, 0, 0, 0, 0, 0, 1}));
  // 1.0 = 3FF0000000000000 -> top bit set; -1.0 = BFF0... -> all inverted.
  EXPECT_EQ(Bytes(EncodeFloatKey(1.0)), (V{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(EncodeFloatKey(-1.0)), (V{0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(EncodeFloatKey(0.0)), (V{0x80, 0, 0, 0, 0, 0, 0, 0}));
  // Minus zero is not below zero: it must not land below +0.0 (or above it).
  EXPECT_EQ(Bytes(EncodeFloatKey(-0.0)), Bytes(EncodeFloatKey(0.0)));
}

TEST(EngineUtilsKeys, FloatSpecialsOrder) {
  const double inf = std::numeric_limits<double>::infinity();
  const double dmin = std::numeric_limits<double>::denorm_min();
  const double nmin = std::numeric_limits<double>::min();
  const double dmax = std::numeric_limits<double>::max();
  std::vector<double> v = {-inf, -dmax, -1.0, -nmin, -nmin / 2, -dmin, -0.0, 0.0,
                           dmin, nmin / 2, nmin, 1.0, dmax, inf};
  CheckOrder(v, EncodeFloatKey);
  // -1.0 < -0.0 = 0.0 < 1.0
  auto a = EncodeFloatKey(-1.0), b = EncodeFloatKey(-0.0), c = EncodeFloatKey(0.0),
       d = EncodeFloatKey(1.0);
  EXPECT_EQ(CompareKeyBytes(a.data(), b.data(), 8, false), -1);
  EXPECT_EQ(CompareKeyBytes(b.data(), c.data(), 8, false), 0);
  EXPECT_EQ(CompareKeyBytes(c.data(), d.data(), 8, false), -1);
  // NaN of either sign lands above +inf rather than among the negatives.
  auto top = EncodeFloatKey(inf);
  for (double nan : {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()}) {
    auto k = EncodeFloatKey(nan);
    EXPECT_EQ(CompareKeyBytes(k.data(), top.data(), 8, false), 1);
  }
}

TEST(EngineUtilsKeys, RandomValuesSortLikeTheirKeys) {
  std::mt19937_64 rng(1234);
  std::vector<std::int32_t> i32 = {0, -1, 1, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max()};
  std::vector<std::int16_t> i16 = {0, -1, 1, -32768, 32767};
  std::vector<std::uint16_t> u16 = {0, 1, 0x7FFF, 0x8000, 0xFFFF};
  std::vector<std::int64_t> i64 = {0, -1, 1, std::numeric_limits<std::int64_t>::min(),
                                   std::numeric_limits<std::int64_t>::max()};
  std::vector<double> f64 = {0.0, -0.0};
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t r = rng();
    i32.push_back(static_cast<std::int32_t>(r));
    i16.push_back(static_cast<std::int16_t>(r >> 20));
    u16.push_back(static_cast<std::uint16_t>(r >> 40));
    i64.push_back(static_cast<std::int64_t>(r));
    // Random bit patterns cover denormals, huge and tiny values of both
    // signs; NaN has no order and is left out.
    double d = std::bit_cast<double>(rng());
    if (!std::isnan(d)) f64.push_back(d);
    f64.push_back(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));
    // Small integers produce many equal values.
    i32.push_back(static_cast<std::int32_t>(r % 7) - 3);
    f64.push_back(static_cast<double>(static_cast<int>(r % 5) - 2));
  }
  CheckOrder(i32, EncodeIntegerKey);
  CheckOrder(i16, EncodeSmallIntKey);
  CheckOrder(u16, EncodeWordKey);
  CheckOrder(i64, EncodeInt64Key);
  CheckOrder(f64, EncodeFloatKey);
}

TEST(EngineUtilsKeys, CompareKeyBytesTable) {
  struct Case {
    std::vector<std::uint8_t> a, b;
    std::size_t n;
    int asc;
  };
  const Case cases[] = {
      {{1, 2, 3}, {1, 2, 4}, 3, -1},
      {{1, 2, 3}, {1, 2, 4}, 2, 0},   // difference past n does not count
      {{9}, {1}, 0, 0},                // n = 0 is always equal
      {{0x80}, {0x7F}, 1, 1},          // bytes compare unsigned
      {{0xFF, 0}, {0x01, 0xFF}, 2, 1},
      {{5, 5}, {5, 5}, 2, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareKeyBytes(c.a.data(), c.b.data(), c.n, false), c.asc);
    EXPECT_EQ(CompareKeyBytes(c.a.data(), c.b.data(), c.n, true), -c.asc);
  }
}

TEST(EngineUtilsKeys, IncrementDecrementTable) {
  using V = std::vector<std::uint8_t>;
  struct Case {
    V in, inc, dec;
  };
  const Case cases[] = {
      {{0x00, 0xFF, 0xFF}, {0x01, 0x00, 0x00}, {0x00, 0xFF, 0xFE}},
      {{0xFF, 0xFF}, {0xFF, 0xFF}, {0xFF, 0xFE}},
      {{0x00, 0x00}, {0x00, 0x01}, {0x00, 0x00}},
      {{0x12, 0x00, 0x00}, {0x12, 0x00, 0x01}, {0x11, 0xFF, 0xFF}},
      {{0x7F}, {0x80}, {0x7E}},
      {{}, {}, {}},
  };
  for (const Case& c : cases) {
    V a = c.in, b = c.in;
    IncrementKey(a.data(), a.size());
    DecrementKey(b.data(), b.size());
    EXPECT_EQ(a, c.inc);
    EXPECT_EQ(b, c.dec);
  }
}

TEST(EngineUtilsKeys, IncrementDecrementMatchArithmetic) {
  // Every 2-byte key against the number it spells.
  for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
    std::uint8_t k[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    IncrementKey(k, 2);
    std::uint32_t up = std::min<std::uint32_t>(v + 1, 0xFFFF);
    ASSERT_EQ((k[0] << 8) | k[1], static_cast<int>(up));
    k[0] = static_cast<std::uint8_t>(v >> 8);
    k[1] = static_cast<std::uint8_t>(v);
    DecrementKey(k, 2);
    std::uint32_t down = v == 0 ? 0 : v - 1;
    ASSERT_EQ((k[0] << 8) | k[1], static_cast<int>(down));
  }
}

TEST(EngineUtilsKeys, FillAndInvert) {
  std::uint8_t k[5] = {1, 2, 3, 4, 5};
  FillKeyHigh(k, 2, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF, 0xFF}));
  FillKeyLow(k, 4, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF, 0}));
  FillKeyLow(k, 7, 5);  // from past the end: nothing
  FillKeyHigh(k, 5, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF, 0}));
  InvertKeyBytes(k, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(k, k + 5), (std::vector<std::uint8_t>{0xFE, 0xFD, 0, 0, 0xFF}));
  // An inverted key sorts in reverse.
  auto a = EncodeIntegerKey(5), b = EncodeIntegerKey(6);
  InvertKeyBytes(a.data(), 4);
  InvertKeyBytes(b.data(), 4);
  EXPECT_EQ(CompareKeyBytes(a.data(), b.data(), 4, false), 1);
}

TEST(EngineUtilsKeys, Negate) {
  EXPECT_EQ(Negate(5), -5);
  EXPECT_EQ(Negate(-7), 7);
  EXPECT_EQ(Negate(0), 0);
  EXPECT_EQ(Negate(std::numeric_limits<std::int32_t>::min()), std::numeric_limits<std::int32_t>::min());
}

// ---------------------------------------------------------------- scrambler

TEST(EngineUtilsScrambler, KnownBytes) {
  std::uint8_t b[3] = {0, 0, 0};
  ScrambleBuffer(b, 3, 1, 2);  // 1^2, 2^1, 3^0
  EXPECT_EQ(std::vector<std::uint8_t>(b, b + 3), (std::vector<std::uint8_t>{3, 3, 3}));
  std::uint8_t c[4] = {0x10, 0x20, 0x30, 0x40};
  ScrambleBuffer(c, 4, 0xFE, 0x01);  // low FE FF 00 01, high 01 00 FF FE
  EXPECT_EQ(std::vector<std::uint8_t>(c, c + 4),
            (std::vector<std::uint8_t>{0x10 ^ 0xFF, 0x20 ^ 0xFF, 0x30 ^ 0xFF, 0x40 ^ 0xFF}));
  std::uint8_t z[2] = {7, 8};
  ScrambleBuffer(z, 0, 0x55, 0xAA);
  EXPECT_EQ(z[0], 7);
  EXPECT_EQ(z[1], 8);
}

TEST(EngineUtilsScrambler, LongRunWrapsBothCounters) {
  // 600 zero bytes from (0, 0): byte i = (i mod 256) ^ (-i mod 256).
  std::vector<std::uint8_t> buf(600, 0);
  ScrambleBuffer(buf.data(), static_cast<std::uint16_t>(buf.size()), 0, 0);
  for (std::size_t i = 0; i < buf.size(); ++i) {
    ASSERT_EQ(buf[i], static_cast<std::uint8_t>((i & 0xFF) ^ ((256 - (i & 0xFF)) & 0xFF))) << i;
  }
}

TEST(EngineUtilsScrambler, Involution) {
  std::mt19937 rng(77);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> orig(rng() % 2000);
    for (auto& b : orig) b = static_cast<std::uint8_t>(rng());
    auto low = static_cast<std::uint8_t>(rng()), high = static_cast<std::uint8_t>(rng());
    auto buf = orig;
    ScrambleBuffer(buf.data(), static_cast<std::uint16_t>(buf.size()), low, high);
    if (orig.size() > 8) {
      ASSERT_NE(buf, orig);
    }
    auto twice = buf;
    UnscrambleBuffer(twice.data(), static_cast<std::uint16_t>(twice.size()), low, high);
    ASSERT_EQ(twice, orig);
    // The two names are the same transformation.
    auto other = orig;
    UnscrambleBuffer(other.data(), static_cast<std::uint16_t>(other.size()), low, high);
    ASSERT_EQ(other, buf);
  }
}

// ---------------------------------------------------------------- LIKE

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

TEST(EngineUtilsLike, Table) {
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

TEST(EngineUtilsLike, StopsAtNul) {
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
TEST(EngineUtilsLike, MatchesSqlite) {
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
TEST(EngineUtilsLike, HighBytesMatchRecursiveDefinition) {
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

TEST(EngineUtilsLike, AdversarialPatternEndsQuickly) {
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

// ---------------------------------------------------------------- strings

TEST(EngineUtilsStrings, Table) {
  EXPECT_EQ(PadLeft("42", 5, '0'), "00042");
  EXPECT_EQ(PadLeft("123456", 5, '0'), "123456");
  EXPECT_EQ(PadLeft("ab", -3, ' '), "ab");
  EXPECT_EQ(PadRight("ab", 4, '.'), "ab..");
  EXPECT_EQ(PadRight("abcd", 2, '.'), "abcd");
  EXPECT_EQ(RepeatText("ab", 3), "ababab");
  EXPECT_EQ(RepeatText("ab", 0), "");
  EXPECT_EQ(RepeatText("x", 255).size(), 255u);
  EXPECT_EQ(LeftStr("abcdef", 2), "ab");
  EXPECT_EQ(LeftStr("ab", 10), "ab");
  EXPECT_EQ(LeftStr("ab", 0), "");
  EXPECT_EQ(RightStr("abcdef", 2), "ef");
  EXPECT_EQ(RightStr("ab", 10), "ab");
  EXPECT_EQ(RightStr("ab", -1), "");
  EXPECT_EQ(LastPos("b", "abcabc"), 5);
  EXPECT_EQ(LastPos("abc", "abcabc"), 4);
  EXPECT_EQ(LastPos("aa", "aaaa"), 3);
  EXPECT_EQ(LastPos("x", "abc"), 0);
  EXPECT_EQ(LastPos("", "abc"), 0);
  EXPECT_EQ(LastPos("abcd", "abc"), 0);
  EXPECT_EQ(TrimChar("xxaxbxx", 'x'), "axb");
  EXPECT_EQ(TrimChar("xxxx", 'x'), "");
  EXPECT_EQ(TrimRightChar("xxaxx", 'x'), "xxa");
  EXPECT_EQ(TrimLeftChar("xxaxx", 'x'), "axx");
  EXPECT_EQ(CountChar('a', "banana"), 3);
  EXPECT_EQ(CountChar('z', ""), 0);
  EXPECT_EQ(RemoveLineBreaks("a\r\nb\nc\rd"), "abcd");
  EXPECT_EQ(BoolToText(true), "True");
  EXPECT_EQ(BoolToText(false), "False");
  EXPECT_EQ(MakeLong(0x0409, 0x0001), 0x00010409u);
  EXPECT_EQ(MakeLong(0xFFFF, 0xFFFF), 0xFFFFFFFFu);
}

TEST(EngineUtilsStrings, TrimTrailingBlanksInPlace) {
  char buf[] = "name   \0tail";
  TrimTrailingBlanks(buf);
  EXPECT_STREQ(buf, "name");
  EXPECT_EQ(std::memcmp(buf + 8, "tail", 4), 0);  // nothing past the terminator touched
  char blank[] = "   ";
  TrimTrailingBlanks(blank);
  EXPECT_STREQ(blank, "");
  char inner[] = " a b\t ";
  TrimTrailingBlanks(inner);
  EXPECT_STREQ(inner, " a b\t");
  std::string s = "abc  ";
  TrimTrailingBlanks(s);
  EXPECT_EQ(s, "abc");
}

TEST(EngineUtilsFileNames, Table) {
  struct Case {
    const char* in;
    const char* no_ext;
    const char* table;
    const char* with_slash;
    bool has_dir;
  };
  const Case cases[] = {
      {"C:\\DIR.X\\FILE", "C:\\DIR.X\\FILE", "FILE", "C:\\DIR.X\\FILE\\", true},
      {"C:\\DIR\\FILE.DAT", "C:\\DIR\\FILE", "FILE", "C:\\DIR\\FILE.DAT\\", true},
      {"type1.dat", "type1", "type1", "type1.dat\\", false},
      {"a.b.c", "a.b", "a.b", "a.b.c\\", false},
      {"C:name.dat", "C:name", "name", "C:name.dat\\", true},
      {"dir\\", "dir\\", "", "dir\\", true},
      {"", "", "", "", true},
      {".dat", "", "", ".dat\\", false},
      // '/' separates like '\\'.
      {"/home/u/data/type1.dat", "/home/u/data/type1", "type1", "/home/u/data/type1.dat\\", true},
      {"/home/u.v/data", "/home/u.v/data", "data", "/home/u.v/data\\", true},
      {"/home/u/", "/home/u/", "", "/home/u/", true},
      {"/", "/", "", "/", true},
      {"/home\\data.x/t", "/home\\data.x/t", "t", "/home\\data.x/t\\", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RemoveFileExt(c.in), c.no_ext) << c.in;
    EXPECT_EQ(ExtractTableName(c.in), c.table) << c.in;
    EXPECT_EQ(IncludeTrailingBackslash(c.in), c.with_slash) << c.in;
    EXPECT_EQ(HasDirectoryPart(c.in), c.has_dir) << c.in;
  }
  EXPECT_EQ(IncludeTrailingBackslash("  C:\\data  "), "C:\\data\\");
  EXPECT_EQ(IncludeTrailingBackslash("   "), "");
  EXPECT_EQ(IncludeTrailingBackslash("\tdata\\\r\n"), "data\\");
  // The name is cut to 255 characters before the extension goes.
  std::string long_name = "C:\\" + std::string(300, 'n') + ".dat";
  EXPECT_EQ(ExtractTableName(long_name), std::string(255, 'n'));
  std::string near = "X:" + std::string(252, 'n') + ".dat";  // 256 chars after ':'
  EXPECT_EQ(ExtractTableName(near), std::string(252, 'n'));
}

TEST(EngineUtilsValues, TextToBool) {
  EXPECT_TRUE(TextToBool("TRUE"));
  EXPECT_TRUE(TextToBool("true"));
  EXPECT_TRUE(TextToBool("tRuE"));
  EXPECT_FALSE(TextToBool("False"));
  for (const char* bad : {"yes", "", "1", " TRUE", "TRUEX"}) {
    try {
      TextToBool(bad);
      ADD_FAILURE() << "no exception for " << bad;
    } catch (const fw::EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid boolean value");
    }
  }
}

// ---------------------------------------------------------------- min/max

TEST(EngineUtilsMinMax, ValuesAndTies) {
  EXPECT_EQ(MaxInt(-3, 7), 7);
  EXPECT_EQ(MinInt(-3, 7), -3);
  EXPECT_EQ(MaxWord(65535, 1), 65535);
  EXPECT_EQ(MinWord(65535, 1), 1);
  EXPECT_EQ(MaxSmallInt(-32768, 32767), 32767);
  EXPECT_EQ(MinSmallInt(-32768, 32767), -32768);
  EXPECT_EQ(MaxByte(200, 100), 200);
  // 64-bit integers compare exactly, even where doubles cannot tell them apart.
  const std::int64_t big = (std::int64_t{1} << 60);
  EXPECT_EQ(MaxInt64(big, big + 1), big + 1);
  EXPECT_EQ(MinInt64(big + 1, big), big);
  EXPECT_EQ(MaxInt64(std::numeric_limits<std::int64_t>::min(), -1), -1);
  EXPECT_EQ(MaxFloat(1.5, -2.0), 1.5);
  EXPECT_EQ(MinFloat(1.5, -2.0), -2.0);
  // Ties among floats show which argument comes back: -0.0 == 0.0.
  EXPECT_TRUE(std::signbit(MaxFloat(-0.0, 0.0)));   // the first
  EXPECT_FALSE(std::signbit(MaxFloat(0.0, -0.0)));
  EXPECT_TRUE(std::signbit(MinFloat(-0.0, 0.0)));   // the first
  EXPECT_FALSE(std::signbit(MinFloat(0.0, -0.0)));
  std::mt19937 rng(9);
  for (int i = 0; i < 1000; ++i) {
    auto a = static_cast<std::int32_t>(rng() % 5), b = static_cast<std::int32_t>(rng() % 5);
    ASSERT_EQ(MaxInt(a, b), std::max(a, b));
    ASSERT_EQ(MinInt(a, b), std::min(a, b));
    ASSERT_EQ(MaxInt64(a, b), std::max<std::int64_t>(a, b));
    ASSERT_EQ(MinInt64(a, b), std::min<std::int64_t>(a, b));
  }
}

// ---------------------------------------------------------------- value texts

TEST(EngineUtilsValues, TextChecks) {
  struct Case {
    bool (*check)(std::string_view);
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {IsWordText, "0", true},           {IsWordText, "65535", true},
      {IsWordText, "65536", false},      {IsWordText, "-1", false},
      {IsWordText, "12a", false},        {IsWordText, "", false},
      {IsSmallIntText, "-32768", true},  {IsSmallIntText, "32767", true},
      {IsSmallIntText, "32768", false},  {IsSmallIntText, "-32769", false},
      {IsIntegerText, "2147483647", true}, {IsIntegerText, "-2147483648", true},
      {IsIntegerText, "2147483648", false}, {IsIntegerText, "1.5", false},
      {IsIntegerText, "abc", false},
      {IsBooleanText, "True", true},     {IsBooleanText, "FALSE", true},
      {IsBooleanText, "yes", false},     {IsBooleanText, "1", false},
      {IsFloatText, "1.5", true},        {IsFloatText, "-2e10", true},
      {IsFloatText, "1.5.2", false},     {IsFloatText, "x", false},
      {IsCurrencyText, "12.3456", true}, {IsCurrencyText, "12.34x", false},
      {IsDateText, "12/31/1999", true},  {IsDateText, "02/30/1999", false},
      {IsDateText, "hello", false},
      {IsTimeText, "10:30", true},       {IsTimeText, "25:61", false},
      {IsDateTimeText, "12/31/1999 10:30", true}, {IsDateTimeText, "12/32/1999", false},
  };
  for (const Case& c : cases) {
    bool got = false;
    EXPECT_NO_THROW(got = c.check(c.text)) << c.text;
    EXPECT_EQ(got, c.ok) << c.text;
  }
}

// ---------------------------------------------------------------- rounding

TEST(EngineUtilsRounding, PowerOf) {
  EXPECT_EQ(PowerOf(7.0, 0), 1.0);
  EXPECT_EQ(PowerOf(7.0, 1), 7.0);
  EXPECT_EQ(PowerOf(0.0, 5), 0.0);
  EXPECT_EQ(PowerOf(2.0, 10), 1024.0);
  EXPECT_EQ(PowerOf(0.1, 2), 0.1 * 0.1);  // repeated multiplication, not pow()
  EXPECT_EQ(PowerOf(2.0, -2), 0.25);
  EXPECT_EQ(CurrencyPowerOf(1000, 0), 10000);     // 0.1^0 = 1
  EXPECT_EQ(CurrencyPowerOf(1000, 1), 1000);      // 0.1
  EXPECT_EQ(CurrencyPowerOf(1000, 2), 100);       // 0.01
  EXPECT_EQ(CurrencyPowerOf(1000, 4), 1);         // 0.0001
  EXPECT_EQ(CurrencyPowerOf(1000, 5), 0);         // below 1/10000
  EXPECT_EQ(CurrencyPowerOf(20000, 3), 80000);    // 2^3
  EXPECT_EQ(CurrencyPowerOf(15000, 2), 22500);    // 1.5^2
  EXPECT_EQ(CurrencyPowerOf(-20000, 3), -80000);
  EXPECT_EQ(CurrencyPowerOf(std::numeric_limits<std::int64_t>::max(), 2),
            std::numeric_limits<std::int64_t>::max());  // saturates
}

TEST(EngineUtilsRounding, RoundFloatTable) {
  struct Case {
    double x;
    int n;
    double want;
  };
  const Case cases[] = {
      {2.5, 0, 3.0},   {-2.5, 0, -3.0}, {2.4999, 0, 2.0}, {-0.5, 0, -1.0},
      {0.0, 3, 0.0},   {1.25, 1, 13 * 0.1}, {-1.25, 1, -13 * 0.1},
      {3.14159, 2, 314 * (0.1 * 0.1)}, {3.14159, 4, 31416 * (0.1 * 0.1 * 0.1 * 0.1)},
      {123.456, -1, 123.0},  // negative counts as 0
      {1e300, 400, 1e300},    // finer than a double holds: unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(RoundFloat(c.x, c.n), c.want) << c.x << " " << c.n;
  EXPECT_TRUE(std::isinf(RoundFloat(std::numeric_limits<double>::infinity(), 2)));
  EXPECT_TRUE(std::isnan(RoundFloat(std::nan(""), 2)));
}

TEST(EngineUtilsRounding, RoundCurrencyTable) {
  const Currency max = std::numeric_limits<std::int64_t>::max();
  const Currency min = std::numeric_limits<std::int64_t>::min();
  struct Case {
    Currency c;
    int n;
    Currency want;
  };
  const Case cases[] = {
      {25000, 0, 30000},  {-25000, 0, -30000}, {14999, 0, 10000}, {-14999, 0, -10000},
      {12345, 2, 12300},  {12350, 2, 12400},   {-12350, 2, -12400}, {12345, 3, 12350},
      {12345, 4, 12345},  {12345, 6, 12345},   {12345, 9, 12345},  {0, 2, 0},
      {5, 3, 10},         {4, 3, 0},           {-5, 3, -10},
      {12345, -2, 10000},  // negative counts as 0
      // The nearest whole unit is past the 64-bit range: toward zero instead.
      {max, 0, 9223372036854770000},  {min, 0, -9223372036854770000},
      {max, 3, 9223372036854775800},  {max - 8, 3, 9223372036854775800},
      {min, 2, -9223372036854775800},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundCurrency(c.c, c.n), c.want) << c.c << " " << c.n;
}

TEST(EngineUtilsRounding, RoundCurrencyModel) {
  // Against plain decimal reasoning over many values and all n.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    Currency c = static_cast<Currency>(rng() % 2000001) - 1000000;
    for (int n = 0; n <= 4; ++n) {
      std::int64_t unit = 1;
      for (int k = n; k < 4; ++k) unit *= 10;
      std::int64_t mag = c < 0 ? -c : c;
      std::int64_t q = mag / unit, r = mag % unit;
      if (2 * r >= unit) ++q;
      std::int64_t want = (c < 0 ? -q : q) * unit;
      ASSERT_EQ(RoundCurrency(c, n), want) << c << " " << n;
    }
  }
}

TEST(EngineUtilsRounding, FormatDigits) {
  EXPECT_EQ(FormatMask(0), "##############0");
  EXPECT_EQ(FormatMask(3), "##############0.000");
  EXPECT_EQ(FormatFloatDigits(1.23456, 2), 1.23);
  EXPECT_EQ(FormatFloatDigits(2.5, 0), 3.0);
  EXPECT_EQ(FormatFloatDigits(-2.675, 1), -2.7);
  EXPECT_EQ(FormatFloatDigits(3.14159, 4), 3.1416);  // the nearest double, not 31416 * 0.0001
  EXPECT_EQ(FormatFloatDigits(1e20, 2), 1e20);
  EXPECT_EQ(FormatFloatDigits(0.0, 2), 0.0);
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {
    double x = std::uniform_real_distribution<double>(-1e6, 1e6)(rng);
    int n = static_cast<int>(rng() % 6);
    double got = FormatFloatDigits(x, n);
    // The result is a decimal with at most n decimals, within half a step.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", n, got);
    ASSERT_EQ(std::strtod(buf, nullptr), got) << x << " " << n;
    ASSERT_LE(std::fabs(got - x), 0.5 * std::pow(10.0, -n) * (1 + 1e-9) + 1e-9) << x << " " << n;
  }
  EXPECT_EQ(FormatCurrencyDigits(12345, 2), 12300);
  EXPECT_EQ(FormatCurrencyDigits(12345, 8), 12345);
  EXPECT_EQ(FormatCurrencyDigits(-25000, 0), -30000);
}

TEST(EngineUtilsRounding, AdjustPrecision) {
  struct Case {
    double x, want;
  };
  const Case cases[] = {
      {12345, 0.01234}, {-1502, -1.5},   {7, 0.0},        {0, 0.0},       {10, 1.0},
      {1230, 123.0},    {123452, 123.45}, {-10, -1.0},    {1.5, 1.5},     {1e20, 1e20},
  };
  for (const Case& c : cases) EXPECT_EQ(AdjustFloatPrecision(c.x), c.want) << c.x;
  EXPECT_TRUE(std::isnan(AdjustFloatPrecision(std::nan(""))));
  // Currency reads whole units: 1234.0000 -> "1234" -> 0.0123 units.
  EXPECT_EQ(AdjustCurrencyPrecision(12340000), 123);
  EXPECT_EQ(AdjustCurrencyPrecision(-15020000), -15000);
  EXPECT_EQ(AdjustCurrencyPrecision(12345), 12345);  // 1.2345: not whole, unchanged
  EXPECT_EQ(AdjustCurrencyPrecision(0), 0);
  // Beyond four decimals the text is rounded to 1/10000, halves away from
  // zero as the framework reads currency text: "1234567" -> 0.0123456.
  EXPECT_EQ(AdjustCurrencyPrecision(12345670000), 123);
  EXPECT_EQ(AdjustCurrencyPrecision(12346550000), 12347);    // 1.234655
  EXPECT_EQ(AdjustCurrencyPrecision(-12346550000), -12347);
}

// ---------------------------------------------------------------- quicksort

int CompareInts(void* a, void* b) {
  int x = *static_cast<int*>(a), y = *static_cast<int*>(b);
  return (x > y) - (x < y);
}

TEST(EngineUtilsQuickSort, MatchesStdSort) {
  std::mt19937 rng(11);
  std::vector<std::vector<int>> inputs = {{}, {1}, {2, 1}, {1, 1, 1}, {3, 1, 2}};
  for (int size : {10, 100, 1000, 5000}) {
    std::vector<int> r(size), few(size), asc(size), desc(size), pipe(size);
    for (int i = 0; i < size; ++i) {
      r[i] = static_cast<int>(rng());
      few[i] = static_cast<int>(rng() % 3);  // many equal keys
      asc[i] = i;
      desc[i] = size - i;
      pipe[i] = i < size / 2 ? i : size - i;
    }
    inputs.insert(inputs.end(), {r, few, asc, desc, pipe, std::vector<int>(size, 7)});
  }
  for (const auto& in : inputs) {
    std::vector<int> values = in;
    std::vector<void*> ptrs;
    for (int& v : values) ptrs.push_back(&v);
    if (!ptrs.empty()) {
      QuickSortPointers(ptrs.data(), 0, static_cast<int>(ptrs.size()) - 1, CompareInts);
    }
    std::vector<int> got;
    for (void* p : ptrs) got.push_back(*static_cast<int*>(p));
    std::vector<int> want = in;
    std::sort(want.begin(), want.end());
    ASSERT_EQ(got, want) << "size " << in.size();
    // A permutation of the same pointers.
    std::vector<void*> sorted_ptrs = ptrs;
    std::sort(sorted_ptrs.begin(), sorted_ptrs.end());
    ASSERT_EQ(std::adjacent_find(sorted_ptrs.begin(), sorted_ptrs.end()), sorted_ptrs.end());
  }
}

TEST(EngineUtilsQuickSort, SubrangeAndInconsistentCompare) {
  std::vector<int> v = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  std::vector<void*> p;
  for (int& x : v) p.push_back(&x);
  QuickSortPointers(p.data(), 2, 6, CompareInts);
  std::vector<int> got;
  for (void* q : p) got.push_back(*static_cast<int*>(q));
  EXPECT_EQ(got, (std::vector<int>{9, 8, 3, 4, 5, 6, 7, 2, 1, 0}));
  // A comparison that is not an order must still end and stay in bounds
  // (the sanitizer build checks the bounds).
  std::mt19937 rng(1);
  auto random_cmp = [&](void*, void*) { return static_cast<int>(rng() % 3) - 1; };
  std::vector<void*> big(2000, nullptr);
  for (int round = 0; round < 20; ++round) QuickSortPointers(big.data(), 0, 1999, random_cmp);
  auto always_less = [](void*, void*) { return -1; };
  QuickSortPointers(big.data(), 0, 1999, always_less);
  auto always_more = [](void*, void*) { return 1; };
  QuickSortPointers(big.data(), 0, 1999, always_more);
}

// ---------------------------------------------------------------- file copy

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/engine_utils_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    [[maybe_unused]] int rc = std::system(cmd.c_str());
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<char> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

TEST(EngineUtilsCopy, SizesAroundTheChunk) {
  TempDir dir;
  std::mt19937 rng(8);
  for (int size : {0, 1, 8191, 8192, 8193, 16384, 20000}) {
    std::vector<char> data(size);
    for (char& c : data) c = static_cast<char>(rng());
    std::string src = dir.File("src" + std::to_string(size));
    std::string dst = dir.File("dst" + std::to_string(size));
    {
      std::ofstream out(src, std::ios::binary);
      out.write(data.data(), size);
    }
    // A longer existing destination is replaced, not overwritten in part.
    {
      std::ofstream out(dst, std::ios::binary);
      out << std::string(30000, 'z');
    }
    ASSERT_EQ(CopyDiskFile(src, dst), 0) << size;
    EXPECT_EQ(ReadAll(dst), data) << size;
  }
}

TEST(EngineUtilsCopy, Failures) {
  TempDir dir;
  EXPECT_EQ(CopyDiskFile(dir.File("missing"), dir.File("out")), -2);  // ERROR_FILE_NOT_FOUND
  {
    std::ofstream out(dir.File("src"));
    out << "x";
  }
  EXPECT_LT(CopyDiskFile(dir.File("src"), dir.File("no_dir/out")), 0);
}

// ---------------------------------------------------------------- delay

TEST(EngineUtilsDelay, WaitsAtLeastTheTimeAsked) {
  for (std::uint32_t ms : {0u, 1u, 15u, 40u}) {
    auto t0 = std::chrono::steady_clock::now();
    Delay(ms);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(ms)) << ms;
  }
}

}  // namespace
}  // namespace storage
