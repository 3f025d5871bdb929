// TStringList: errors with their messages, name=value access, Text in
// both directions, and a model test against std::vector under
// random operations (sorted and unsorted, each duplicates rule).
#include "framework/string_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "framework/exceptions.h"
#include "framework/streams.h"
#include "framework/sysutils.h"
#include "tests/common/error_text.h"
#include "tests/common/scratch_dir.h"

namespace fw {
namespace {

using V = std::vector<std::string>;

template <typename F>
std::string ErrorOf(F f) {
  return testsupport::ErrorText<EStringListError>(f);
}

TEST(StringList, IndexAndSortedErrors) {
  TStringList l;
  l.Add("a");
  EXPECT_EQ(ErrorOf([&] { l.Get(1); }), "List index out of bounds (1)");
  EXPECT_EQ(ErrorOf([&] { l.Get(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorOf([&] { l.Exchange(0, 3); }), "List index out of bounds (3)");
  l.SetSorted(true);
  EXPECT_EQ(ErrorOf([&] { l.Put(0, "x"); }), "Operation not allowed on sorted list");
  l.SetDuplicates(TDuplicates::dupError);
  EXPECT_EQ(ErrorOf([&] { l.Add("A"); }), "String list does not allow duplicates");
  EXPECT_EQ(l.Count(), 1);
}

TEST(StringList, CaseInsensitiveByDefaultIncludingAnsiLetters) {
  TStringList l;
  l.Add("\xE9t\xE9");  // été
  l.Add("Zebra");
  EXPECT_EQ(l.IndexOf("\xC9T\xC9"), 0);
  EXPECT_EQ(l.IndexOf("zEBRA"), 1);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("zebra"), -1);
}

TEST(StringList, NamesAndValues) {
  TStringList l;
  l.SetText("Path=c:\\x\r\nname=a=b\r\nnovalue\r\nEmpty=\r\n");
  EXPECT_EQ(l.Names(0), "Path");
  EXPECT_EQ(l.Values("NAME"), "a=b");
  EXPECT_EQ(l.Names(2), "");
  EXPECT_EQ(l.ValueFromIndex(2), "");
  EXPECT_EQ(l.ValueFromIndex(1), "a=b");
  EXPECT_EQ(l.IndexOfName("empty"), 3);
}

TEST(StringList, TextSplitsAtCrLfLfAndCr) {
  const std::pair<std::string, V> cases[] = {
      {"", {}}, {"a", {"a"}}, {"a\r\n", {"a"}}, {"a\r\nb", {"a", "b"}}, {"a\nb\rc\r\n\r\nd", {"a", "b", "c", "", "d"}},
      {"\n\r", {"", ""}}, {"a\n\rb", {"a", "", "b"}}, {"\r\r\n", {"", ""}},
      {std::string("x\0y\nz", 5), {std::string("x\0y", 3), "z"}}};
  for (const auto& [text, lines] : cases) {
    TStringList l;
    l.SetText(text);
    EXPECT_EQ(l.ToVector(), lines) << text;
  }
  TStringList l;
  l.SetText(std::string("x\0y\nz", 5));
  EXPECT_EQ(l.Text(), std::string("x\0y\r\nz\r\n", 8));
}

TEST(StringList, FileRoundTrip) {
  testsupport::ScratchDir dir;
  TStringList a, b;
  for (const char* s : {"one", "", "three=3"}) a.Add(s);
  a.SaveToFile(dir / "list");
  EXPECT_EQ(testsupport::ReadFile(dir / "list"), "one\r\n\r\nthree=3\r\n");
  b.LoadFromFile(dir / "list");
  EXPECT_EQ(b.ToVector(), a.ToVector());
}

// Model: a vector of strings; sorted lists keep it ordered by the upper-case
// form, new equal strings going before existing ones. Every operation is
// also tried where it must fail: out of range, on a sorted list.
void RunModel(bool sorted, TDuplicates dup, unsigned seed) {
  std::mt19937 rng(seed);
  TStringList l;
  l.SetSorted(sorted);
  l.SetDuplicates(dup);
  V model;
  auto key = [](const std::string& s) { return AnsiUpperCase(s); };
  for (int op = 0; op < 2000; ++op) {
    const int kind = static_cast<int>(rng() % 8), n = static_cast<int>(model.size());
    std::string s(rng() % 3, ' ');
    for (char& c : s) c = "aAbB\xE9\xC9"[rng() % 6];
    if (kind <= 2 && !sorted) {
      EXPECT_EQ(l.Add(s), n);
      model.push_back(s);
    } else if (kind <= 2) {
      auto lb = std::lower_bound(model.begin(), model.end(), s, [&](auto& a, auto& b) { return key(a) < key(b); });
      const bool exists = lb != model.end() && key(*lb) == key(s);
      if (exists && dup == TDuplicates::dupError) {
        EXPECT_THROW(l.Add(s), EStringListError);
      } else {
        EXPECT_EQ(l.Add(s), lb - model.begin());
        if (!exists || dup == TDuplicates::dupAccept) model.insert(lb, s);
      }
    } else if (kind == 3) {
      const int idx = static_cast<int>(rng() % (model.size() + 2)) - 1;
      if (sorted) {
        EXPECT_EQ(ErrorOf([&] { l.Insert(0, s); }), "Operation not allowed on sorted list");
      } else if (idx < 0 || idx > n) {
        EXPECT_EQ(ErrorOf([&] { l.Insert(idx, s); }), "List index out of bounds (" + std::to_string(idx) + ")");
      } else {
        l.Insert(idx, s);
        model.insert(model.begin() + idx, s);
      }
    } else if (kind == 4) {
      const int idx = static_cast<int>(rng() % (model.size() + 1));
      if (idx >= n) {
        EXPECT_EQ(ErrorOf([&] { l.Delete(idx); }), "List index out of bounds (" + std::to_string(idx) + ")");
      } else {
        l.Delete(idx);
        model.erase(model.begin() + idx);
      }
    } else if (kind == 5) {
      auto it = std::find_if(model.begin(), model.end(), [&](auto& m) { return key(m) == key(s); });
      EXPECT_EQ(l.IndexOf(s), it == model.end() ? -1 : it - model.begin());
    } else if (kind == 6 && !sorted && n > 0) {
      const int from = static_cast<int>(rng() % model.size()), to = static_cast<int>(rng() % model.size());
      l.Move(from, to);
      const std::string item = model[static_cast<std::size_t>(from)];
      model.erase(model.begin() + from);
      model.insert(model.begin() + to, item);
    } else if (kind == 7 && !sorted && n > 0) {
      const int i = static_cast<int>(rng() % model.size()), j = static_cast<int>(rng() % model.size());
      l.Exchange(i, j);
      std::swap(model[static_cast<std::size_t>(i)], model[static_cast<std::size_t>(j)]);
    }
    ASSERT_EQ(l.ToVector(), model) << "op " << op;
  }
}

TEST(StringList, ModelUnderRandomOperations) {
  RunModel(false, TDuplicates::dupAccept, 1);
  RunModel(true, TDuplicates::dupIgnore, 2);
  RunModel(true, TDuplicates::dupAccept, 3);
  RunModel(true, TDuplicates::dupError, 4);
}

TEST(StringList, SortIsStable) {
  TStringList l;
  for (const char* s : {"b", "B", "a", "A"}) l.Add(s);
  l.Sort();
  EXPECT_EQ(l.ToVector(), (V{"a", "A", "b", "B"}));
}

}  // namespace
}  // namespace fw
