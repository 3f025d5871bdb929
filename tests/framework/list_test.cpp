// TList: errors and a model test.
#include "framework/list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "framework/exceptions.h"
#include "tests/common/error_text.h"

namespace fw {
namespace {

void* P(std::intptr_t v) { return reinterpret_cast<void*>(v); }

template <class F>
std::string Error(F f) {
  return testsupport::ErrorText<EListError>(f);
}

TEST(List, GrowthAndErrors) {
  TList l;
  l.Add(P(1));
  EXPECT_EQ(Error([&] { l.Get(1); }), "List index out of bounds (1)");
  EXPECT_EQ(Error([&] { l.Insert(3, nullptr); }), "List index out of bounds (3)");
  EXPECT_EQ(Error([&] { l.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(Error([&] { l.Move(0, 1); }), "List index out of bounds (1)");
  EXPECT_EQ(Error([&] { l.SetCapacity(0); }), "List capacity out of bounds (0)");
  EXPECT_EQ(Error([&] { l.SetCapacity(134217728); }), "List capacity out of bounds (134217728)");
  EXPECT_EQ(Error([&] { l.SetCount(-1); }), "List count out of bounds (-1)");
  l.SetCount(5);
  EXPECT_EQ(l.Get(4), nullptr);
  l.Pack();
  EXPECT_EQ(l.Count(), 1);
}

TEST(List, ModelUnderRandomOperations) {
  std::mt19937 rng(11);
  TList l;
  std::vector<void*> model;
  for (int op = 0; op < 20000; ++op) {
    const int k = static_cast<int>(rng() % 6);
    void* v = P(static_cast<std::intptr_t>(rng() % 50 + 1));
    const int n = static_cast<int>(model.size());
    if (k <= 1) {
      l.Add(v);
      model.push_back(v);
    } else if (k == 2) {
      const int i = static_cast<int>(rng() % (model.size() + 1));
      l.Insert(i, v);
      model.insert(model.begin() + i, v);
    } else if (k == 3 && n > 0) {
      const int i = static_cast<int>(rng() % model.size());
      l.Delete(i);
      model.erase(model.begin() + i);
    } else if (k == 4 && n > 0) {
      const int a = static_cast<int>(rng() % model.size()), b = static_cast<int>(rng() % model.size());
      l.Move(a, b);
      void* x = model[static_cast<std::size_t>(a)];
      model.erase(model.begin() + a);
      model.insert(model.begin() + b, x);
    } else if (k == 5) {
      auto it = std::find(model.begin(), model.end(), v);
      EXPECT_EQ(l.Remove(v), it == model.end() ? -1 : static_cast<int>(it - model.begin()));
      if (it != model.end()) model.erase(it);
    }
    ASSERT_EQ(l.Count(), static_cast<int>(model.size()));
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < l.Count(); ++i) { ASSERT_EQ(l[i], model[static_cast<std::size_t>(i)]); }
    l.Sort([](void* a, void* b) { std::less<void*> lt; return lt(a, b) ? -1 : lt(b, a) ? 1 : 0; });
    std::sort(model.begin(), model.end());
  }
}

}  // namespace
}  // namespace fw
