// RecordBitmap against a model (one bool per record): random operations on
// bitmaps of every size around byte boundaries, with the spare bits past
// the last record checked after each step. A spare bit left set would show
// up as a phantom record in counts and searches.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "storage/record_bitmap.h"

namespace storage {
namespace {

using Model = std::vector<bool>;  // index 0 unused

void ExpectSame(const RecordBitmap& b, const Model& m) {
  ASSERT_EQ(b.Slots() + 1, m.size());
  ASSERT_EQ(b.Bytes().size(), b.Slots() / 8 + 1);
  std::uint32_t count = 0;
  for (std::uint32_t r = 1; r <= b.Slots(); ++r) {
    ASSERT_EQ(b.Test(r), m[r]) << "record " << r;
    if (m[r]) ++count;
  }
  EXPECT_EQ(b.Count(), count);
  // Spare bits: everything past the last slot is zero.
  for (std::size_t bit = b.Slots(); bit < b.Bytes().size() * 8; ++bit) {
    ASSERT_EQ((b.Bytes()[bit / 8] >> (bit % 8)) & 1, 0) << "spare bit " << bit;
  }
  // Searches and partial counts against the model.
  std::uint32_t expect_next = 0, running = 0;
  for (std::uint32_t r = b.Slots(); r >= 1; --r) {
    ASSERT_EQ(b.NextSet(r), expect_next) << "after " << r;
    if (m[r]) expect_next = r;
  }
  ASSERT_EQ(b.NextSet(0), expect_next);
  std::uint32_t expect_prev = 0;
  for (std::uint32_t r = 1; r <= b.Slots() + 1; ++r) {
    ASSERT_EQ(b.PrevSet(r), expect_prev) << "before " << r;
    if (r <= b.Slots()) {
      if (m[r]) {
        expect_prev = r;
        ++running;
      }
      ASSERT_EQ(b.CountUpTo(r), running);
    }
  }
  EXPECT_EQ(b.PrevSet(b.Slots() + 100), expect_prev);
}

TEST(RecordBitmap, RandomOperationsMatchModel) {
  std::mt19937 rng(7);
  for (std::uint32_t slots : {0u, 1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 200u, 1000u}) {
    SCOPED_TRACE(slots);
    RecordBitmap a(slots), b(slots);
    Model ma(slots + 1, false), mb(slots + 1, false);
    for (int step = 0; step < 60; ++step) {
      const int op = static_cast<int>(rng() % 9);
      const std::uint32_t r = slots ? 1 + rng() % slots : 0;
      switch (op) {
        case 0:
          if (r) { a.Set(r); ma[r] = true; }
          break;
        case 1:
          if (r) { a.Clear(r); ma[r] = false; }
          break;
        case 2:
          a.Invert();
          for (std::uint32_t i = 1; i <= slots; ++i) ma[i] = !ma[i];
          break;
        case 3:
          a.SetAll();
          for (std::uint32_t i = 1; i <= slots; ++i) ma[i] = true;
          break;
        case 4:
          a.ClearAll();
          for (std::uint32_t i = 1; i <= slots; ++i) ma[i] = false;
          break;
        case 5:
          a.AndWith(b);
          for (std::uint32_t i = 1; i <= slots; ++i) ma[i] = ma[i] && mb[i];
          break;
        case 6:
          a.OrWith(b);
          for (std::uint32_t i = 1; i <= slots; ++i) ma[i] = ma[i] || mb[i];
          break;
        default:
          for (int k = 0; k < 5 && slots; ++k) {
            const std::uint32_t x = 1 + rng() % slots;
            b.Set(x);
            mb[x] = true;
          }
          b.Invert();
          for (std::uint32_t i = 1; i <= slots; ++i) mb[i] = !mb[i];
          break;
      }
      ExpectSame(a, ma);
      ExpectSame(b, mb);
    }
  }
}

// Growing keeps every bit and adds clear ones; shrinking drops the bits of
// records that are gone, so growing again does not bring them back.
TEST(RecordBitmap, ResizeKeepsBitsAndNeverResurrects) {
  RecordBitmap b(10);
  b.SetAll();
  b.Resize(20);
  Model m(21, false);
  for (int r = 1; r <= 10; ++r) m[r] = true;
  ExpectSame(b, m);
  b.Resize(3);
  b.Resize(16);
  Model m2(17, false);
  m2[1] = m2[2] = m2[3] = true;
  ExpectSame(b, m2);
}

// Raw bytes from a filter object may carry bits past the last record:
// Assign drops them.
TEST(RecordBitmap, AssignClearsSpareBits) {
  RecordBitmap b(9);
  const std::uint8_t raw[] = {0xFF, 0xFF};
  b.Assign(raw);
  EXPECT_EQ(b.Count(), 9u);
  EXPECT_EQ(b.NextSet(9), 0u);
  std::uint8_t out[3] = {0xAA, 0xAA, 0xAA};
  b.CopyTo(out);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0x01);
  EXPECT_EQ(out[2], 0x00);
}

}  // namespace
}  // namespace storage
