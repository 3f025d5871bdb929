// The filter registry against a model: random adds, drops, activations and
// updates by handle, with stale, unknown and all-filter (0) handles mixed
// in.
#include "storage/filter_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "storage/engine_error.h"
#include "storage/filter_buffer.h"
#include "storage/session.h"
#include "tests/storage/filter_test_support.h"

namespace storage::test {
namespace {

// A callback's client data: it keeps records whose number has the parity
// of tag.
struct Tag {
  int tag;
};
bool KeepParity(void* data, std::span<const std::byte>, std::uint32_t record_number) {
  return static_cast<int>(record_number % 2) == static_cast<Tag*>(data)->tag % 2;
}

std::vector<std::byte> QtyEquals(std::int32_t v) {
  FilterExpressionBuffer b;
  const auto eq = b.AddBinary(ExprOperator::kEqual);
  b.SetOperand(eq, 0, b.AddField(2, "Qty"));
  b.SetOperand(eq, 1, b.AddIntegerConstant(v));
  return b.Finish();
}

struct ModelFilter {
  std::int32_t handle;
  bool callback;
  bool active;
  int tag;  // Qty value of an expression filter; parity of a callback
};

TEST(FilterRegistryTest, MatchesAModelUnderRandomOperations) {
  InitializeEngine();
  TestTable table;
  FilterRegistry reg(table);
  std::vector<ModelFilter> model;  // in order of addition
  std::vector<std::unique_ptr<Tag>> tags;
  std::vector<std::int32_t> ever;  // every handle given out, for stale ones
  std::int32_t next_id = 1;
  std::mt19937 rng(77);

  auto find = [&](std::int32_t h) {
    return std::find_if(model.begin(), model.end(), [&](const auto& m) { return m.handle == h; });
  };
  auto pick_handle = [&]() -> std::int32_t {
    switch (rng() % 4) {
      case 0:
        return 0;
      case 1:
        return static_cast<std::int32_t>(rng() % 40) - 20;  // anything
      default:
        return ever.empty() ? 1 : ever[rng() % ever.size()];  // live or stale
    }
  };

  for (int step = 0; step < 4000; ++step) {
    const unsigned op = rng() % 6;
    if (op == 0 && model.size() < 40) {
      const int tag = static_cast<int>(rng() % 5);
      std::int32_t h = 0;
      ASSERT_EQ(reg.AddFilter(false, QtyEquals(tag), h), ErrorCode::kNone);
      ASSERT_EQ(h, next_id++);
      model.push_back({h, false, false, tag});
      ever.push_back(h);
    } else if (op == 1 && model.size() < 40) {
      tags.push_back(std::make_unique<Tag>(Tag{static_cast<int>(rng() % 2)}));
      std::int32_t h = 0;
      ASSERT_EQ(reg.AddCallbackFilter(KeepParity, tags.back().get(), h), ErrorCode::kNone);
      ASSERT_EQ(h, -next_id++);
      model.push_back({h, true, false, tags.back()->tag});
      ever.push_back(h);
    } else if (op >= 2 && op <= 4) {
      // Drop, activate, deactivate; handle 0 means every filter.
      const std::int32_t h = pick_handle();
      const ErrorCode got = op == 2 ? reg.DropFilter(h) : op == 3 ? reg.ActivateFilter(h) : reg.DeactivateFilter(h);
      const auto it = find(h);
      if (h != 0 && it == model.end()) {
        ASSERT_EQ(got, ErrorCode::kInvalidFilterHandle) << h;
      } else {
        ASSERT_EQ(got, ErrorCode::kNone);
        if (op == 2) {
          model.erase(h == 0 ? model.begin() : it, h == 0 ? model.end() : it + 1);
        } else {
          for (auto& m : model) m.active = (h == 0 || m.handle == h) ? op == 3 : m.active;
        }
      }
    } else if (op == 5) {
      const std::int32_t h = pick_handle();
      const int tag = static_cast<int>(rng() % 5);
      const ErrorCode got = reg.UpdateFilter(QtyEquals(tag), h);
      auto it = find(h);
      if (it != model.end() && !it->callback && it->active) {
        it->tag = tag;
        ASSERT_EQ(got, ErrorCode::kNone);
      } else {
        ASSERT_EQ(got, ErrorCode::kInvalidFilterHandle) << h;
      }
    }

    // The registry's lists, flags and answers against the model.
    std::vector<std::int32_t> want_expr, want_cb, got_expr, got_cb;
    bool any_expr = false, any_cb = false;
    for (const auto& m : model) {
      (m.callback ? want_cb : want_expr).push_back(m.handle);
      (m.callback ? any_cb : any_expr) |= m.active;
    }
    for (std::size_t i = 0; i < reg.FilterCount(); ++i) got_expr.push_back(reg.FilterHandleAt(i));
    for (std::size_t i = 0; i < reg.CallbackFilterCount(); ++i) {
      got_cb.push_back(reg.CallbackFilterHandleAt(i));
    }
    ASSERT_EQ(got_expr, want_expr);
    ASSERT_EQ(got_cb, want_cb);
    ASSERT_EQ(reg.AnyFilterActive(), any_expr);
    ASSERT_EQ(reg.AnyCallbackFilterActive(), any_cb);
    for (const auto& m : model) {
      if (m.callback) {
        ASSERT_EQ(reg.FindCallbackFilter(m.handle)->Active(), m.active);
        continue;
      }
      TFilter* f = reg.FindFilter(m.handle);
      ASSERT_NE(f, nullptr);
      ASSERT_EQ(f->Active(), m.active);
      auto record = table.NewRecord();
      PutFieldValue<std::int32_t>(record, table.Slot("Qty"), m.tag);
      ASSERT_TRUE(f->Accepts(record));  // its current expression
    }
    const auto record = table.NewRecord();
    for (std::uint32_t r = 1; r <= 2; ++r) {
      bool want = true;
      for (const auto& m : model) {
        if (m.callback && m.active && static_cast<int>(r % 2) != m.tag % 2) want = false;
      }
      ASSERT_EQ(reg.PassesCallbackFilters(record, r), want);
    }
  }
}

// Adding or updating with nothing is refused; a bad buffer raises and adds
// nothing.
TEST(FilterRegistryTest, EmptyAndBadExpressionsAreRefused) {
  InitializeEngine();
  TestTable table;
  FilterRegistry reg(table);
  std::int32_t h = 0, e = 0;
  ASSERT_EQ(reg.AddFilter(false, QtyEquals(1), h), ErrorCode::kNone);
  ASSERT_EQ(reg.ActivateFilter(h), ErrorCode::kNone);
  EXPECT_EQ(reg.UpdateFilter(std::vector<std::byte>(), h), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.UpdateFilter(ExpressionPtr(), h), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.AddFilter(false, std::vector<std::byte>(), e), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.AddFilter(false, ExpressionPtr(), e), ErrorCode::kInvalidFilterExpression);
  EXPECT_EQ(reg.AddFilter(false, static_cast<TExpressionNode*>(nullptr), e), ErrorCode::kInvalidFilterExpression);
  EXPECT_THROW((void)reg.AddFilter(false, std::vector<std::byte>(12), e), ETolmidEngineError);
  EXPECT_EQ(reg.FilterCount(), 1u);
}

}  // namespace
}  // namespace storage::test
