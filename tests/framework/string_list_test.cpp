// TStringList: errors with their messages, name=value access, Text and
// CommaText in both directions, and a model test against std::vector under
// random operations (sorted and unsorted, each duplicates rule).
#include "framework/string_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "framework/exceptions.h"
#include "framework/streams.h"
#include "framework/sysutils.h"

namespace fw {
namespace {

using V = std::vector<std::string>;

template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const EStringListError& e) {
    return e.Message();
  }
  return "(none)";
}

TEST(StringList, IndexAndSortedErrors) {
  TStringList l;
  l.Add("a");
  EXPECT_EQ(ErrorOf([&] { l.Get(1); }), "List index out of bounds (1)");
  EXPECT_EQ(ErrorOf([&] { l.Get(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorOf([&] { l.Delete(5); }), "List index out of bounds (5)");
  EXPECT_EQ(ErrorOf([&] { l.Insert(2, "x"); }), "List index out of bounds (2)");
  EXPECT_EQ(ErrorOf([&] { l.Exchange(0, 3); }), "List index out of bounds (3)");
  l.SetSorted(true);
  EXPECT_EQ(ErrorOf([&] { l.Insert(0, "x"); }), "Operation not allowed on sorted list");
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
  l.SetValue("path", "d:\\");
  EXPECT_EQ(l.Get(0), "path=d:\\");
  l.SetValue("new", "1");
  EXPECT_EQ(l.Get(4), "new=1");
  l.SetValue("NAME", "");  // an empty value deletes
  EXPECT_EQ(l.IndexOfName("name"), -1);
  EXPECT_EQ(l.Count(), 4);
  TStringList s;
  s.SetSorted(true);
  s.SetValue("b", "2");
  s.SetValue("a", "1");
  s.SetValue("b", "3");
  EXPECT_EQ(s.ToVector(), (V{"a=1", "b=3"}));
}

TEST(StringList, TextSplitsAtCrLfLfAndCr) {
  struct Case { const char* text; V lines; };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc\r\n\r\nd", {"a", "b", "c", "", "d"}},
      {"\n\r", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},
      {"\r\r\n", {"", ""}},
  };
  for (const Case& c : cases) {
    TStringList l;
    l.SetText(c.text);
    EXPECT_EQ(l.ToVector(), c.lines) << c.text;
  }
  TStringList l;
  l.SetText(std::string("x\0y\nz", 5));
  EXPECT_EQ(l.ToVector(), (V{std::string("x\0y", 3), "z"}));
  EXPECT_EQ(l.Text(), std::string("x\0y\r\nz\r\n", 8));
}

TEST(StringList, CommaTextReadsAndWrites) {
  struct Case { const char* text; V items; };
  const Case cases[] = {
      {"", {}},
      {"a,b,c", {"a", "b", "c"}},
      {"a b", {"a", "b"}},
      {"  a , b  ", {"a", "b"}},
      {"\"a b\",c", {"a b", "c"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {",,", {"", "", ""}},
      {"a,", {"a", ""}},
      {"a, ", {"a"}},
      {"\"open", {"open"}},
      {"\"a\"b", {"a", "b"}},
      {"\"\"", {""}},
  };
  for (const Case& c : cases) {
    TStringList l;
    l.SetCommaText(c.text);
    EXPECT_EQ(l.ToVector(), c.items) << c.text;
  }
  TStringList w;
  for (const char* s : {"plain", "two words", "", "q\"t", "c,d"}) w.Add(s);
  EXPECT_EQ(w.CommaText(), "plain,\"two words\",,\"q\"\"t\",\"c,d\"");
  TStringList one;
  one.Add("");
  EXPECT_EQ(one.CommaText(), "\"\"");
  // Round trip over random items (the single empty item is special).
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    TStringList a;
    int n = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) {
      std::string s;
      int len = 1 + static_cast<int>(rng() % 5);
      for (int k = 0; k < len; ++k) s += " ,\"ab\tZ\x01"[rng() % 9];
      a.Add(s);
    }
    TStringList b;
    b.SetCommaText(a.CommaText());
    EXPECT_EQ(b.ToVector(), a.ToVector()) << a.CommaText();
  }
}

TEST(StringList, FileRoundTrip) {
  std::string name = testing::TempDir() + "fw_sl_" + std::to_string(::getpid());
  TStringList a;
  a.Add("one");
  a.Add("");
  a.Add("three=3");
  a.SaveToFile(name);
  TMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size())),
            "one\r\n\r\nthree=3\r\n");
  TStringList b;
  b.LoadFromFile(name);
  EXPECT_EQ(b.ToVector(), a.ToVector());
  ::unlink(name.c_str());
}

// Model: a vector of strings; sorted lists keep it ordered by the upper-case
// form, new equal strings going before existing ones.
void RunModel(bool sorted, TDuplicates dup, unsigned seed) {
  std::mt19937 rng(seed);
  TStringList l;
  l.SetSorted(sorted);
  l.SetDuplicates(dup);
  V model;
  auto key = [](const std::string& s) { return AnsiUpperCase(s); };
  auto random_string = [&] {
    std::string s;
    int len = static_cast<int>(rng() % 3);
    for (int i = 0; i < len; ++i) s += "aAbB\xE9\xC9"[rng() % 6];
    return s;
  };
  for (int op = 0; op < 2000; ++op) {
    int kind = static_cast<int>(rng() % 8);
    std::string s = random_string();
    if (kind <= 2) {
      if (!sorted) {
        EXPECT_EQ(l.Add(s), static_cast<int>(model.size()));
        model.push_back(s);
      } else {
        auto lb = std::lower_bound(model.begin(), model.end(), s,
                                   [&](const std::string& a, const std::string& b) { return key(a) < key(b); });
        int idx = static_cast<int>(lb - model.begin());
        bool exists = lb != model.end() && key(*lb) == key(s);
        if (exists && dup == TDuplicates::dupError) {
          EXPECT_THROW(l.Add(s), EStringListError);
        } else if (exists && dup == TDuplicates::dupIgnore) {
          EXPECT_EQ(l.Add(s), idx);
        } else {
          EXPECT_EQ(l.Add(s), idx);
          model.insert(lb, s);
        }
      }
    } else if (kind == 3) {
      int idx = static_cast<int>(rng() % (model.size() + 2)) - 1;
      if (sorted) {
        EXPECT_THROW(l.Insert(0, s), EStringListError);
      } else if (idx < 0 || idx > static_cast<int>(model.size())) {
        EXPECT_THROW(l.Insert(idx, s), EStringListError);
      } else {
        l.Insert(idx, s);
        model.insert(model.begin() + idx, s);
      }
    } else if (kind == 4) {
      int idx = static_cast<int>(rng() % (model.size() + 1));
      if (idx >= static_cast<int>(model.size())) {
        EXPECT_THROW(l.Delete(idx), EStringListError);
      } else {
        l.Delete(idx);
        model.erase(model.begin() + idx);
      }
    } else if (kind == 5) {
      int expected = -1;
      for (std::size_t i = 0; i < model.size(); ++i)
        if (key(model[i]) == key(s)) { expected = static_cast<int>(i); break; }
      EXPECT_EQ(l.IndexOf(s), expected);
    } else if (kind == 6 && !sorted && !model.empty()) {
      int from = static_cast<int>(rng() % model.size()), to = static_cast<int>(rng() % model.size());
      l.Move(from, to);
      std::string item = model[static_cast<std::size_t>(from)];
      model.erase(model.begin() + from);
      model.insert(model.begin() + to, item);
    } else if (kind == 7 && !model.empty()) {
      int i = static_cast<int>(rng() % model.size()), j = static_cast<int>(rng() % model.size());
      if (!sorted) {
        l.Exchange(i, j);
        std::swap(model[static_cast<std::size_t>(i)], model[static_cast<std::size_t>(j)]);
      }
    }
    ASSERT_EQ(l.ToVector(), model) << "op " << op;
  }
}

TEST(StringList, ModelUnsorted) { RunModel(false, TDuplicates::dupAccept, 1); }
TEST(StringList, ModelSortedIgnore) { RunModel(true, TDuplicates::dupIgnore, 2); }
TEST(StringList, ModelSortedAccept) { RunModel(true, TDuplicates::dupAccept, 3); }
TEST(StringList, ModelSortedError) { RunModel(true, TDuplicates::dupError, 4); }

TEST(StringList, SortIsStableAndCustomSortWorksOnUnsorted) {
  TStringList l;
  for (const char* s : {"b", "B", "a", "A"}) l.Add(s);
  TStringList c = l;
  l.Sort();
  EXPECT_EQ(l.ToVector(), (V{"a", "A", "b", "B"}));
  c.CustomSort([](const TStringList& list, int a, int b) {
    return CompareStr(list[b], list[a]);  // bytes, descending
  });
  EXPECT_EQ(c.ToVector(), (V{"b", "a", "B", "A"}));
  int obj = 5;
  c.AddObject("x", &obj);
  EXPECT_EQ(c.IndexOfObject(&obj), 4);
  EXPECT_EQ(c.GetObject(4), &obj);
}

}  // namespace
}  // namespace fw
