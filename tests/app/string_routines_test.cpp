// Cutting names and URLs at a separator: the first empty piece ends a
// split, so a leading separator or two in a row hide what follows.
#include <gtest/gtest.h>

#include "app/string_routines.h"
#include "framework/string_list.h"

namespace {

TEST(StringRoutines, SplitToLinesAndNextToken) {
  struct Case {
    const char* text;
    char sep;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"img/v1.2/pic.jpg", '.', {"img/v1", "2/pic", "jpg"}},
      {"http://host/a.b.c.gif", '.', {"http://host/a", "b", "c", "gif"}},
      {"no separator", '.', {"no separator"}},
      {".starts.with.it", '.', {}},
      {"two..in.a.row", '.', {"two"}},
      {"ends.", '.', {"ends"}},
      {"", '.', {}},
      {"data\\1000", '\\', {"data", "1000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fw::TStringList lines;
    lines.Add("left over");
    app::SplitToLines(c.text, c.sep, lines);
    std::vector<std::string> got;
    for (int i = 0; i < lines.Count(); ++i) got.push_back(lines[i]);
    EXPECT_EQ(got, c.lines);
  }
  std::string s = "whole", token;
  app::NextToken(s, '.', token);
  EXPECT_EQ(token, "whole");
  EXPECT_EQ(s, "");
  s = "a.b.c";
  app::NextToken(s, '.', token);
  EXPECT_EQ(token, "a");
  EXPECT_EQ(s, "b.c");
}

TEST(StringRoutines, LanguageBases) {
  const std::pair<int, int> cases[] = {{7, 70000}, {10, 72000}, {12, 75000}, {16, 74000},
                                       {22, 76000}, {25, 73000}, {9, 71000},  {0, 71000}};
  for (const auto& [language, base] : cases) EXPECT_EQ(app::LanguageBase(language), base) << language;
}

}  // namespace
