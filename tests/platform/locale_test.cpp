// CompareStringA, LCMapStringA and IsValidLocale.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/locale.h"
#include "platform/text.h"

namespace platform {
namespace {

int Cmp(std::string_view a, std::string_view b, std::uint32_t flags = SORT_STRINGSORT) {
  return CompareStringA(kLocaleEnglishUS, flags, a, b);
}

TEST(Locale, InstalledLocales) {
  for (LCID id : {0x0409u, 0x0809u, 0x0407u, 0x040Cu, 0x0C0Au, 0x040Au, 0x0410u, 0x0413u, 0x0416u, 0x0816u, 0x0406u,
                  0x0414u, 0x041Du, 0x040Bu, 0x040Fu, 0x0400u, 0x0800u, 0x0009u, 0x0007u}) {
    EXPECT_TRUE(IsValidLocale(id)) << std::hex << id;
    EXPECT_EQ(CompareStringA(id, 0, "a", "b"), CSTR_LESS_THAN) << std::hex << id;
  }
  for (LCID id : {0x0000u, 0x0411u, 0x0419u, 0x0804u, 0x0401u, 0x10407u, 0x0415u}) {
    EXPECT_FALSE(IsValidLocale(id)) << id;
  }
  for (LCID id : {0x0411u, 0x0419u, 0x10407u}) {
    EXPECT_EQ(CompareStringA(id, 0, "a", "b"), 0) << std::hex << id;
    std::string out;
    EXPECT_FALSE(LCMapStringA(id, LCMAP_UPPERCASE, "a", out));
  }
}

TEST(Locale, TableDrivenOrder) {
  // Each row: a < b.
  const std::pair<std::string, std::string> less[] = {
      {"", "a"}, {"abc", "abcd"}, {"abc", std::string("abc\0", 4)}, {std::string("ab\0", 3), "ab "},  // prefixes first
      {"!", "0"}, {"-", "9"}, {"9", "a"},                      // symbols < digits < letters
      {"\xB2", "3"}, {"2", "\xB2"},                            // superscript two is a 2
      {"a", "A"}, {"A", "b"}, {"Z", "\xFE"},                   // lower before upper; thorn after z
      {"e", "\xE9"}, {"\xE9", "f"}, {"\xC9", "f"},             // e < é < f
      {"resume", "r\xE9sum\xE9"}, {"r\xE9sum\xE9", "resumes"}, {"r\xE9sum\xE9", "R\xC9SUM\xC9"},
      {"cote", "cot\xE9"}, {"cot\xE9", "c\xF4te"},             // accents compared left to right
      {"co-op", "coop"}, {"co op", "co-op"},                   // punctuation counts (string sort)
      {"Strasse", "Stra\xDF" "e"}, {"Stra\xDF" "e", "Strassen"},  // ß = ss at the first level
      {"ae", "\xE6"}, {"\xE6", "af"}, {"\x9C", "of"}, {"\xE4", "b"},  // ä among the a's (default sort)
      {"o", "\xF8"}, {"\xF8", "p"}, {"s", "\x9A"}, {"\x9A", "t"}, {"y", "\xFF"}, {"\xFF", "\x9F"}, {"\x9F", "z"},
      {"ab", "aB"}, {"aB", "Ab"},                              // case decided left to right
      {"Ez", "\xE9z"},                                         // the accent decides before the case
  };
  for (const auto& [a, b] : less) {
    EXPECT_EQ(Cmp(a, b), CSTR_LESS_THAN) << '"' << a << "\" < \"" << b << '"';
    EXPECT_EQ(Cmp(b, a), CSTR_GREATER_THAN) << '"' << b << "\" > \"" << a << '"';
  }
  // The engine compares a key from a string field onward, zero padding and
  // the following fields included: a shorter string sorts first whatever
  // comes after its padding.
  EXPECT_EQ(Cmp(std::string("ab\0\0\0\x01zzz", 9), std::string("abc\0\0\x01" "aaa", 9)), CSTR_LESS_THAN);
}

TEST(Locale, IgnoreCase) {
  const std::pair<std::string, std::string> equal[] = {
      {"abc", "ABC"}, {"r\xE9sum\xE9", "R\xC9SUM\xC9"}, {"\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F"}, {"", ""},
      {"Stra\xDF" "e", "STRA\xDF" "E"}};
  for (const auto& [a, b] : equal) {
    EXPECT_EQ(Cmp(a, b, NORM_IGNORECASE), CSTR_EQUAL) << a;
    EXPECT_EQ(Cmp(a, b, NORM_IGNORECASE | SORT_STRINGSORT), CSTR_EQUAL) << a;
  }
  EXPECT_EQ(Cmp("resume", "R\xC9SUM\xC9", NORM_IGNORECASE), CSTR_LESS_THAN);  // accents still count
  EXPECT_EQ(Cmp("abc", "ABD", NORM_IGNORECASE), CSTR_LESS_THAN);
  EXPECT_EQ(Cmp("same", "same"), CSTR_EQUAL);
}

// Random strings over an alphabet rich in accents, case and symbols: the
// order is a strict total order, equal only for equal bytes (equal
// upper-case forms with NORM_IGNORECASE).
TEST(Locale, RandomStringsFormATotalOrder) {
  std::mt19937 rng(1234);
  const std::string alphabet = "aAbBeE\xE9\xC9\xE8sS\xDF\xE6\xC6 -0129\xB2z\x9A\x8A\xFF\x9F";
  std::vector<std::string> sample(400);
  for (auto& s : sample) {
    s.assign(rng() % 6, ' ');
    for (char& c : s) c = rng() % 8 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
  }
  for (std::uint32_t flags : {0u, static_cast<std::uint32_t>(NORM_IGNORECASE)}) {
    for (std::size_t i = 0; i < sample.size(); ++i)
      for (std::size_t j = 0; j < 60; ++j) {
        const auto &a = sample[i], &b = sample[(i * 7 + j) % sample.size()];
        const int ab = Cmp(a, b, flags), ba = Cmp(b, a, flags);
        ASSERT_NE(ab, 0);
        ASSERT_EQ(ab + ba, 4) << a << " / " << b;  // antisymmetric
        ASSERT_EQ(ab == CSTR_EQUAL, flags == 0 ? a == b : AnsiUpperCase(a) == AnsiUpperCase(b)) << a << " / " << b;
      }
    auto sorted = sample;
    std::sort(sorted.begin(), sorted.end(), [&](auto& a, auto& b) { return Cmp(a, b, flags) == CSTR_LESS_THAN; });
    for (std::size_t i = 0; i < sorted.size(); ++i)  // transitive: nothing earlier sorts after anything later
      for (std::size_t j = i + 1; j < sorted.size(); j += 7)
        ASSERT_NE(Cmp(sorted[i], sorted[j], flags), CSTR_GREATER_THAN) << sorted[i] << " / " << sorted[j];
  }
}

// Every pair of single bytes: symbols (in byte order) < digits < letters.
TEST(Locale, ClassesOfAllBytes) {
  auto cls = [](int c) {
    if (IsCharAlphaA(static_cast<unsigned char>(c))) return 2;
    return (c >= '0' && c <= '9') || c == 0xB2 || c == 0xB3 || c == 0xB9 ? 1 : 0;
  };
  for (int x = 0; x < 256; ++x)
    for (int y = 0; y < 256; ++y) {
      const int r = Cmp(std::string(1, static_cast<char>(x)), std::string(1, static_cast<char>(y)));
      if (cls(x) < cls(y)) { ASSERT_EQ(r, CSTR_LESS_THAN) << x << " " << y; }
      ASSERT_EQ(r == CSTR_EQUAL, x == y) << x << " " << y;
      if (cls(x) == 0 && cls(y) == 0) { ASSERT_EQ(r == CSTR_LESS_THAN, x < y) << x << " " << y; }
    }
}

// Case-insensitive indexes hold keys upper-cased by LCMapStringA and compare
// them without NORM_IGNORECASE, while filters compare the original texts
// with NORM_IGNORECASE: both must give the same order.
TEST(Locale, UpperCasedKeysOrderLikeIgnoreCase) {
  std::mt19937 rng(99);
  auto random_string = [&] {
    std::string s(rng() % 12, ' ');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? rng() % 256 : "aAeE\xE9\xC9\xDF\xFF\x9F-1"[rng() % 11]);
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = random_string(), b = random_string();
    std::string ua, ub;
    ASSERT_TRUE(LCMapStringA(0x0407, LCMAP_HALFWIDTH | LCMAP_UPPERCASE, a, ua));
    ASSERT_TRUE(LCMapStringA(0x0407, LCMAP_HALFWIDTH | LCMAP_UPPERCASE, b, ub));
    ASSERT_EQ(CompareStringA(0x0407, SORT_STRINGSORT, ua, ub), CompareStringA(0x0407, NORM_IGNORECASE, a, b))
        << a << " / " << b;
  }
}

TEST(Locale, MapString) {
  std::string out, all;
  ASSERT_TRUE(LCMapStringA(0x0407, LCMAP_HALFWIDTH | LCMAP_UPPERCASE, "stra\xDF" "e \xE4\xFF\x9A", out));
  EXPECT_EQ(out, "STRA\xDF" "E \xC4\x9F\x8A");
  ASSERT_TRUE(LCMapStringA(0x040C, LCMAP_LOWERCASE, "\xC9T\xC9", out));
  EXPECT_EQ(out, "\xE9t\xE9");
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  ASSERT_TRUE(LCMapStringA(kLocaleSystemDefault, LCMAP_HALFWIDTH, all, out));
  EXPECT_EQ(out, all);
  EXPECT_FALSE(LCMapStringA(0x0409, LCMAP_UPPERCASE | LCMAP_LOWERCASE, "a", out));
}

}  // namespace
}  // namespace platform
