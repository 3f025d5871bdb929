// TSystemList against std::vector: growth steps, exact messages of refused
// calls, random operations, and the sort (against std::sort, and bounded
// for a comparison that is no order).
#include "storage/system_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "framework/exceptions.h"
#include "tests/common/error_text.h"

namespace storage {
namespace {

void* P(std::intptr_t v) { return reinterpret_cast<void*>(v); }
std::intptr_t V(void* p) { return reinterpret_cast<std::intptr_t>(p); }

TEST(SystemList, GrowthAndMessages) {
  TSystemList list;
  std::vector<std::int32_t> seen;
  for (int i = 0; i < 150; ++i) {
    list.Add(P(i + 1));
    if (seen.empty() || seen.back() != list.Capacity()) seen.push_back(list.Capacity());
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183}));
  list.SetCount(3);
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { (void)list.Get(-1); }, "List index out of bounds (-1)"},
      {[&] { (void)list.Get(3); }, "List index out of bounds (3)"},
      {[&] { list.Insert(4, nullptr); }, "List index out of bounds (4)"},
      {[&] { list.Delete(3); }, "List index out of bounds (3)"},
      {[&] { list.Move(7, 1); }, "List index out of bounds (7)"},
      {[&] { list.SetCapacity(2); }, "List capacity out of bounds (2)"},
      {[&] { list.SetCapacity(134217728); }, "List capacity out of bounds (134217728)"},
      {[&] { list.SetCount(-1); }, "List count out of bounds (-1)"},
      {[&] { list.SetCount(134217728); }, "List count out of bounds (134217728)"},
  };
  for (const auto& [op, message] : cases) EXPECT_EQ(testsupport::ErrorText<fw::EListError>(op), message);
  ASSERT_EQ(list.Count(), 3);  // nothing changed by the failed calls
  EXPECT_EQ(V(list.Last()), 3);
  list.Clear();
  EXPECT_EQ(testsupport::ErrorText<fw::EListError>([&] { (void)list.Last(); }), "List index out of bounds (-1)");
}

TEST(SystemList, MatchesVectorModel) {
  std::mt19937 rng(1);
  TSystemList list;
  std::vector<std::intptr_t> model;
  auto pick = [&](int bound) { return static_cast<int>(rng() % static_cast<unsigned>(bound)); };
  for (int step = 0; step < 12000; ++step) {
    const int n = static_cast<int>(model.size());
    const std::intptr_t v = pick(1000);
    switch (pick(6)) {
      case 0: EXPECT_EQ(list.Add(P(v)), n); model.push_back(v); break;
      case 1: { const int at = pick(n + 1); list.Insert(at, P(v)); model.insert(model.begin() + at, v); break; }
      case 2: if (n > 0) { const int at = pick(n); list.Delete(at); model.erase(model.begin() + at); } break;
      case 3:
        if (n > 0) {
          const int from = pick(n), to = pick(n);
          list.Move(from, to);
          const std::intptr_t x = model[from];
          model.erase(model.begin() + from);
          model.insert(model.begin() + to, x);
        }
        break;
      case 4: { const int count = pick(n + 5); list.SetCount(count); model.resize(count, 0); break; }
      default:
        if (n > 0) {
          const auto it = std::find(model.begin(), model.end(), model[pick(n)]);
          EXPECT_EQ(list.Remove(P(*it)), it - model.begin());
          model.erase(it);
        }
    }
    ASSERT_EQ(list.Count(), static_cast<std::int32_t>(model.size()));
    ASSERT_GE(list.Capacity(), list.Count());
  }
  for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(V(list.Get(static_cast<int>(i))), model[i]);
}

std::mt19937 sort_rng(11);
int CompareInts(const void* a, const void* b) {
  const auto x = reinterpret_cast<std::intptr_t>(a), y = reinterpret_cast<std::intptr_t>(b);
  return (x > y) - (x < y);
}
int CompareAtRandom(const void*, const void*) { return static_cast<int>(sort_rng() % 3) - 1; }

TEST(SystemList, SortOrdersLikeStdSort) {
  for (int size : {0, 1, 2, 3, 17, 1000, 5000}) {
    for (int kind = 0; kind < 5; ++kind) {  // random, few values, ascending, descending, pipe
      TSystemList list;
      std::vector<std::intptr_t> model;
      for (int i = 0; i < size; ++i) {
        const std::intptr_t v = kind == 0 ? sort_rng() % 1000000 : kind == 1 ? sort_rng() % 3
                              : kind == 2 ? i : kind == 3 ? size - i : std::min(i, size - i);
        list.Add(P(v));
        model.push_back(v);
      }
      list.Sort(CompareInts);
      std::sort(model.begin(), model.end());
      for (int i = 0; i < size; ++i) ASSERT_EQ(V(list.Get(i)), model[i]) << size << " kind " << kind;
      // A comparison that is not an order must still end and stay in
      // bounds (the sanitizer build checks the bounds).
      list.Sort(CompareAtRandom);
      EXPECT_EQ(list.Count(), size);
    }
  }
}

}  // namespace
}  // namespace storage
