#include "storage/system_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "framework/exceptions.h"

namespace storage {
namespace {

void* P(std::intptr_t v) { return reinterpret_cast<void*>(v); }
std::intptr_t V(void* p) { return reinterpret_cast<std::intptr_t>(p); }

TEST(SystemList, GrowthFromEmpty) {
  TSystemList list;
  std::vector<std::int32_t> seen;
  for (int i = 0; i < 150; ++i) {
    list.Add(P(i));
    if (seen.empty() || seen.back() != list.Capacity()) seen.push_back(list.Capacity());
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183}));
  for (int i = 0; i < 150; ++i) ASSERT_EQ(V(list.Get(i)), i);
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const fw::EListError& e) {
    return e.Message();
  }
  return "no error";
}

TEST(SystemList, ErrorMessages) {
  TSystemList list;
  for (int i = 0; i < 3; ++i) list.Add(P(i + 1));
  struct Case {
    std::function<void()> op;
    const char* message;
  } cases[] = {
      {[&] { (void)list.Get(-1); }, "List index out of bounds (-1)"},
      {[&] { (void)list.Get(3); }, "List index out of bounds (3)"},
      {[&] { list.Insert(4, nullptr); }, "List index out of bounds (4)"},
      {[&] { list.Insert(-2, nullptr); }, "List index out of bounds (-2)"},
      {[&] { list.Delete(3); }, "List index out of bounds (3)"},
      {[&] { list.Move(0, 3); }, "List index out of bounds (3)"},
      {[&] { list.Move(7, 1); }, "List index out of bounds (7)"},
      {[&] { list.SetCapacity(2); }, "List capacity out of bounds (2)"},
      {[&] { list.SetCapacity(134217728); }, "List capacity out of bounds (134217728)"},
      {[&] { list.SetCount(-1); }, "List count out of bounds (-1)"},
      {[&] { list.SetCount(134217728); }, "List count out of bounds (134217728)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.op), c.message);
  // Nothing changed by the failed calls.
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(V(list.First()), 1);
  EXPECT_EQ(V(list.Last()), 3);
  list.Clear();
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(ErrorOf([&] { (void)list.First(); }), "List index out of bounds (0)");
  EXPECT_EQ(ErrorOf([&] { (void)list.Last(); }), "List index out of bounds (-1)");
}

// Random operations against std::vector.
TEST(SystemList, MatchesVectorModel) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    TSystemList list;
    std::vector<std::intptr_t> model;
    for (int step = 0; step < 4000; ++step) {
      const int n = static_cast<int>(model.size());
      auto pick = [&](int bound) { return static_cast<int>(rng() % static_cast<unsigned>(bound)); };
      switch (pick(7)) {
        case 0:
        case 1: {
          const std::intptr_t v = pick(1000);
          EXPECT_EQ(list.Add(P(v)), n);
          model.push_back(v);
          break;
        }
        case 2: {
          const int at = pick(n + 1);
          const std::intptr_t v = pick(1000);
          list.Insert(at, P(v));
          model.insert(model.begin() + at, v);
          break;
        }
        case 3:
          if (n > 0) {
            const int at = pick(n);
            list.Delete(at);
            model.erase(model.begin() + at);
          }
          break;
        case 4:
          if (n > 0) {
            const int from = pick(n), to = pick(n);
            list.Move(from, to);
            const std::intptr_t v = model[from];
            model.erase(model.begin() + from);
            model.insert(model.begin() + to, v);
          }
          break;
        case 5: {
          const int count = pick(n + 5);
          list.SetCount(count);
          model.resize(count, 0);
          break;
        }
        case 6:
          if (n > 0) {
            const std::intptr_t v = model[pick(n)];
            const auto it = std::find(model.begin(), model.end(), v);
            EXPECT_EQ(list.Remove(P(v)), it - model.begin());
            model.erase(it);
          }
          break;
      }
      ASSERT_EQ(list.Count(), static_cast<std::int32_t>(model.size()));
      ASSERT_GE(list.Capacity(), list.Count());
    }
    for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(V(list.Get(static_cast<int>(i))), model[i]);
  }
}

int CompareInts(const void* a, const void* b) {
  const auto x = reinterpret_cast<std::intptr_t>(a), y = reinterpret_cast<std::intptr_t>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

TEST(SystemList, SortOrdersLikeStdSort) {
  std::mt19937 rng(7);
  for (int size : {0, 1, 2, 3, 17, 1000}) {
    for (int range : {3, 1000000}) {  // many duplicates, then few
      TSystemList list;
      std::vector<std::intptr_t> model;
      for (int i = 0; i < size; ++i) {
        const std::intptr_t v = static_cast<std::intptr_t>(rng() % static_cast<unsigned>(range));
        list.Add(P(v));
        model.push_back(v);
      }
      list.Sort(CompareInts);
      std::sort(model.begin(), model.end());
      for (int i = 0; i < size; ++i) ASSERT_EQ(V(list.Get(i)), model[i]) << size;
    }
  }
}

int ComparePointedInts(void* a, void* b) {
  int x = *static_cast<int*>(a), y = *static_cast<int*>(b);
  return (x > y) - (x < y);
}

TEST(QuickSortPointers, MatchesStdSort) {
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
      QuickSortPointers(ptrs.data(), 0, static_cast<int>(ptrs.size()) - 1, ComparePointedInts);
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

TEST(QuickSortPointers, SubrangeAndInconsistentCompare) {
  std::vector<int> v = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  std::vector<void*> p;
  for (int& x : v) p.push_back(&x);
  QuickSortPointers(p.data(), 2, 6, ComparePointedInts);
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

}  // namespace
}  // namespace storage
