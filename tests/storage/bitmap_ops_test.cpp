// RecordBitmap against a model (one bool per record): random operations on
// bitmaps of every size around byte boundaries, with the spare bits past
// the last record checked after each step. A spare bit left set would show
// up as a phantom record in counts and searches; a rank directory not
// marked stale by a change would show up as a wrong rank or select (sizes
// span several of its 512-record blocks).
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "storage/record_bitmap.h"

namespace storage {
namespace {

using Model = std::vector<bool>;  // index 0 unused

void ExpectSame(const RecordBitmap& b, const Model& m) {
  ASSERT_EQ(b.Slots() + 1, m.size());
  ASSERT_EQ(b.Bytes().size(), b.Slots() / 8 + 1);
  for (std::size_t bit = b.Slots(); bit < b.Bytes().size() * 8; ++bit)
    ASSERT_EQ((b.Bytes()[bit / 8] >> (bit % 8)) & 1, 0) << "spare bit " << bit;
  std::uint32_t next = 0, prev = 0, count = 0;
  for (std::uint32_t r = b.Slots(); r >= 1; --r) {
    ASSERT_EQ(b.NextSet(r), next) << "after " << r;
    if (m[r]) next = r;
  }
  ASSERT_EQ(b.NextSet(0), next);
  for (std::uint32_t r = 1; r <= b.Slots() + 1; ++r) {
    ASSERT_EQ(b.PrevSet(r), prev) << "before " << r;
    if (r > b.Slots()) break;
    ASSERT_EQ(b.Test(r), m[r]) << "record " << r;
    if (m[r]) {
      prev = r, ++count;
      ASSERT_EQ(b.Select(count), r) << "set bit " << count;
    }
    ASSERT_EQ(b.CountUpTo(r), count);
  }
  EXPECT_EQ(b.Count(), count);
  EXPECT_EQ(b.Select(0), 0u);
  EXPECT_EQ(b.Select(count + 1), 0u);
  EXPECT_EQ(b.PrevSet(b.Slots() + 100), prev);
}

TEST(RecordBitmap, RandomOperationsMatchModel) {
  std::mt19937 rng(7);
  for (std::uint32_t slots : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 1000u, 4099u}) {
    SCOPED_TRACE(slots);
    RecordBitmap a(slots), b(slots);
    Model ma(slots + 1, false), mb(slots + 1, false);
    auto each = [&](const std::function<void(std::uint32_t)>& f) {
      for (std::uint32_t i = 1; i <= slots; ++i) f(i);
    };
    const std::function<void(std::uint32_t)> ops[] = {
        [&](std::uint32_t r) { if (r) a.Set(r), ma[r] = true; },
        [&](std::uint32_t r) { if (r) a.Clear(r), ma[r] = false; },
        [&](std::uint32_t) { a.Invert(); each([&](auto i) { ma[i] = !ma[i]; }); },
        [&](std::uint32_t) { a.SetAll(); each([&](auto i) { ma[i] = true; }); },
        [&](std::uint32_t) { a.ClearAll(); each([&](auto i) { ma[i] = false; }); },
        [&](std::uint32_t) { a.AndWith(b); each([&](auto i) { ma[i] = ma[i] && mb[i]; }); },
        [&](std::uint32_t) { a.OrWith(b); each([&](auto i) { ma[i] = ma[i] || mb[i]; }); },
        [&](std::uint32_t r) {
          if (r) b.Set(r), mb[r] = true;
          b.Invert();
          each([&](auto i) { mb[i] = !mb[i]; });
        },
    };
    for (int step = 0; step < 60; ++step) {
      ops[rng() % std::size(ops)](slots ? 1 + rng() % slots : 0);
      ExpectSame(a, ma);
      ExpectSame(b, mb);
    }
  }
}

// Growing adds clear bits; shrinking drops the bits of records that are
// gone, so growing again does not bring them back. Raw bytes from a filter
// object may carry bits past the last record: Assign drops them.
TEST(RecordBitmap, ResizeAndAssignClearSpareBits) {
  RecordBitmap b(10);
  b.SetAll();
  b.Resize(3);
  b.Resize(16);
  Model m(17, false);
  m[1] = m[2] = m[3] = true;
  ExpectSame(b, m);
  RecordBitmap c(9);
  const std::uint8_t raw[] = {0xFF, 0xFF};
  c.Assign(raw);
  std::uint8_t out[3] = {0xAA, 0xAA, 0xAA};
  c.CopyTo(out);
  EXPECT_EQ(c.Count(), 9u);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{0xFF, 0x01, 0x00}));
}

}  // namespace
}  // namespace storage
