// Code page 1252 tables: letters, case, UTF-8.
#include <gtest/gtest.h>

#include <set>

#include "platform/text.h"

namespace platform {
namespace {

TEST(Cp1252, LetterSetIsExactlyTheListedBytes) {
  std::set<int> letters = {0x83, 0x8A, 0x8C, 0x8E, 0x9A, 0x9C, 0x9E, 0x9F, 0xAA, 0xB5, 0xBA};
  for (int c = 'A'; c <= 'Z'; ++c) letters.insert(c), letters.insert(c + 32);
  for (int c = 0xC0; c <= 0xFF; ++c) {
    if (c != 0xD7 && c != 0xF7) letters.insert(c);
  }
  for (int c = 0; c < 256; ++c) {
    const bool letter = letters.count(c) != 0;
    EXPECT_EQ(IsCharAlphaA(static_cast<unsigned char>(c)), letter) << c;
    EXPECT_EQ(IsCharAlphaNumericA(static_cast<unsigned char>(c)), letter || (c >= '0' && c <= '9')) << c;
  }
}

TEST(Cp1252, CaseMapping) {
  // (lower, upper) pairs; every other byte maps to itself both ways.
  std::vector<std::pair<int, int>> pairs = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
  for (int c = 'a'; c <= 'z'; ++c) pairs.emplace_back(c, c - 32);
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) pairs.emplace_back(c, c - 32);
  }
  std::array<int, 256> up{}, low{};
  for (int c = 0; c < 256; ++c) up[c] = low[c] = c;
  for (auto [l, u] : pairs) up[l] = u, low[u] = l;
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    EXPECT_EQ(AnsiUpperChar(b), up[c]) << c;
    EXPECT_EQ(AnsiLowerChar(b), low[c]) << c;
    // Round trips: a cased letter comes back; upper(lower(x)) == upper(x).
    EXPECT_EQ(AnsiUpperChar(AnsiLowerChar(b)), AnsiUpperChar(b)) << c;
    EXPECT_EQ(AnsiLowerChar(AnsiUpperChar(b)), AnsiLowerChar(b)) << c;
  }
  for (int c : {0xDF, 0xB5, 0x83, 0xAA, 0xBA, 0xD7, 0xF7}) {
    EXPECT_EQ(AnsiUpperChar(static_cast<unsigned char>(c)), c);
    EXPECT_EQ(AnsiLowerChar(static_cast<unsigned char>(c)), c);
  }
  EXPECT_EQ(AnsiUpperCase("Stra\xDF" "e \xE9t\xE9 \x9A\xFF"), "STRA\xDF" "E \xC9T\xC9 \x8A\x9F");
  EXPECT_EQ(AnsiLowerCase("\xC0 LA CR\xC8ME \x8C"), "\xE0 la cr\xE8me \x9C");
}

TEST(Cp1252, Utf8RoundTripOfAllBytes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
  // Spot checks against the code page.
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");   // euro sign
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");       // unassigned: U+0081
  EXPECT_EQ(Cp1252ToUtf8("\x8D\x8F\x90\x9D"), "\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\xC5\xB8");       // Y diaeresis U+0178
  EXPECT_EQ(Cp1252ToUtf8("\x99"), "\xE2\x84\xA2");   // trade mark
  EXPECT_EQ(Cp1252ToUtf8("\xE9"), "\xC3\xA9");
}

TEST(Cp1252, Utf8WithoutACp1252FormBecomesQuestionMark) {
  const struct {
    std::string utf8, cp1252;
  } cases[] = {
      {"caf\xC3\xA9", "caf\xE9"},
      {"\xE2\x82\xAC 5", "\x80 5"},
      {"\xCE\xA9", "?"},                  // Greek omega
      {"\xF0\x9F\x98\x80!", "?!"},        // emoji
      {"\xC2\x80", "?"},                  // U+0080 is not in the code page
      {"a\xFF" "b", "a?b"},               // invalid byte
      {"\x80x", "?x"},                    // stray continuation byte
      {"\xE2\x82", "?"},                  // truncated sequence at the end
      {"\xE2\x82z", "?z"},                // truncated in the middle
      {"\xC0\xAF", "??"},                 // overlong '/'
      {"\xED\xA0\x80", "???"},            // surrogate
      {"\xF4\x90\x80\x80", "????"},       // above U+10FFFF
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

}  // namespace
}  // namespace platform
