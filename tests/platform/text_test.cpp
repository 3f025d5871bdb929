// Code page 1252 tables: letters, case, UTF-8.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "platform/text.h"

namespace platform {
namespace {

TEST(Cp1252, LetterSetAndCaseMappingOfEveryByte) {
  std::set<int> letters = {0x83, 0x8A, 0x8C, 0x8E, 0x9A, 0x9C, 0x9E, 0x9F, 0xAA, 0xB5, 0xBA};
  // (lower, upper) pairs; every other byte maps to itself both ways
  // (0xDF, 0xB5, 0x83, 0xAA, 0xBA, 0xD7 and 0xF7 among them).
  std::vector<std::pair<int, int>> pairs = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
  for (int c = 'a'; c <= 'z'; ++c) letters.insert({c, c - 32}), pairs.emplace_back(c, c - 32);
  for (int c = 0xC0; c <= 0xFF; ++c)
    if (c != 0xD7 && c != 0xF7) letters.insert(c);
  for (int c = 0xE0; c <= 0xFE; ++c)
    if (c != 0xF7) pairs.emplace_back(c, c - 32);
  std::array<int, 256> up{}, low{};
  for (int c = 0; c < 256; ++c) up[c] = low[c] = c;
  for (auto [l, u] : pairs) up[l] = u, low[u] = l;
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    EXPECT_EQ(IsCharAlphaA(b), letters.count(c) != 0) << c;
    EXPECT_EQ(IsCharAlphaNumericA(b), letters.count(c) != 0 || (c >= '0' && c <= '9')) << c;
    EXPECT_EQ(AnsiUpperChar(b), up[c]) << c;
    EXPECT_EQ(AnsiLowerChar(b), low[c]) << c;
  }
  EXPECT_EQ(AnsiUpperCase("Stra\xDF" "e \xE9t\xE9 \x9A\xFF"), "STRA\xDF" "E \xC9T\xC9 \x8A\x9F");
  EXPECT_EQ(AnsiLowerCase("\xC0 LA CR\xC8ME \x8C"), "\xE0 la cr\xE8me \x9C");
}

TEST(Cp1252, Utf8RoundTripOfAllBytes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  const std::pair<std::string, std::string> spots[] = {
      {"\x80", "\xE2\x82\xAC"}, {"\x81", "\xC2\x81"},  // euro sign; unassigned: U+0081
      {"\x8D\x8F\x90\x9D", "\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"}, {"\x9F", "\xC5\xB8"}, {"\x99", "\xE2\x84\xA2"},
      {"\xE9", "\xC3\xA9"}};
  for (const auto& [cp, utf8] : spots) { EXPECT_EQ(Cp1252ToUtf8(cp), utf8); }
}

TEST(Cp1252, Utf8WithoutACp1252FormBecomesQuestionMark) {
  const std::pair<std::string, std::string> cases[] = {
      {"caf\xC3\xA9", "caf\xE9"}, {"\xE2\x82\xAC 5", "\x80 5"}, {"\xCE\xA9", "?"},  // Greek omega
      {"\xF0\x9F\x98\x80!", "?!"}, {"\xC2\x80", "?"},                              // emoji; U+0080
      {"a\xFF" "b", "a?b"}, {"\x80x", "?x"},                                        // invalid; stray continuation
      {"\xE2\x82", "?"}, {"\xE2\x82z", "?z"},                                       // truncated at the end, inside
      {"\xC0\xAF", "??"}, {"\xED\xA0\x80", "???"}, {"\xF4\x90\x80\x80", "????"},    // overlong, surrogate, > U+10FFFF
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& [utf8, cp] : cases) { EXPECT_EQ(Utf8ToCp1252(utf8), cp) << utf8; }
}

}  // namespace
}  // namespace platform
