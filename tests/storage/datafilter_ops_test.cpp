// Filter operations on real tables: counts under a filter for every table
// size from 1 to 1,000 records (with deleted slots, with and without
// indexes, a filter active while records are added), handles and limits,
// several filters together, callback filters.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "datafilter_test_support.h"

namespace storage::filtertest {
namespace {

using Op = ExprOperator;
using datatest::CodeOf;

class FilterOps : public datatest::DataFileTestBase {};

bool IsSize(int n) {
  static const std::set<int> sizes = {1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  15,  16,
                                      17,  31,  32,  33,  63,  64,  65,  127, 128, 129, 255, 256,
                                      257, 511, 512, 513, 998, 999, 1000};
  return sizes.count(n) != 0;
}

// COUNT under a filter is the number of matching records: the spare bits
// of the last bitmap byte and deleted slots never show up as records.
// Without primary key deleted slots stay deleted; with one they are
// reused by the next insert.
TEST_F(FilterOps, CountUnderFilterForEveryTableSize) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE("variant " + std::to_string(variant));
    const bool indexed = variant != 1;
    const bool primary = variant != 2;
    const std::string name = Path("C" + std::to_string(variant) + ".DAT");
    Create(name, FilterTableDefinition(indexed, primary));
    auto t = OpenTable(name);
    std::mt19937 rng(variant + 11);
    std::map<std::int32_t, Row> live;

    // Kept active while records are added: N >= 0 (an index range, or a
    // scan) AND T <> 'ab' (always a scan).
    std::int32_t h = 0;
    ASSERT_EQ(t->AddFilter(Binary(Op::kAnd,
                                  Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(0)),
                                  Binary(Op::kNotEqual, FieldRef(*t, "T"), NewStringConstant("ab"))),
                           false, h),
              ErrorCode::kNone);
    ASSERT_EQ(t->ActivateFilter(h), ErrorCode::kNone);
    auto matches = [](const Row& r) { return r.n.value_or(0) >= 0 && r.t != std::optional<std::string>("ab"); };

    int added = 0;
    for (std::int32_t id = 1; added < 1000; ++id) {
      Row r;
      r.id = id;
      if (rng() % 4) r.n = static_cast<std::int32_t>(rng() % 7) - 3;
      if (rng() % 3) r.t = (rng() % 2) ? "ab" : "b";
      const std::uint32_t n = t->NextFreeRecordNo();
      InsertRow(*t, r);
      // The record just added is in the view when it matches, before any
      // rebuild.
      ASSERT_EQ(t->FilterAccepts(n), matches(r)) << "record " << n;
      if (rng() % 9 == 0 && t->CurrentRecord() != nullptr &&
          t->CurrentRecord()->RecordNumber() == n) {
        t->DeleteRecord();  // the cursor stands on the record just added
        ASSERT_FALSE(t->FilterAccepts(n));
        continue;
      }
      live[id] = r;
      ++added;
      if (!IsSize(added)) continue;
      t->Filters().BuildResultBitmap();
      std::set<std::int32_t> expect;
      for (const auto& [k, row] : live)
        if (matches(row)) expect.insert(k);
      std::set<std::int32_t> got;
      for (std::uint32_t rn : ViewRecords(*t)) got.insert(RecordId(*t, rn));
      ASSERT_EQ(got, expect) << added << " records";
      ASSERT_EQ(t->Filters().ViewCount(), expect.size()) << added << " records";
      // Every live record, from a filter built from scratch alone.
      ASSERT_EQ(t->DeactivateFilter(h), ErrorCode::kNone);
      ASSERT_EQ(FilteredIds(*t, Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(-100))),
                [&] {
                  std::set<std::int32_t> all;
                  for (const auto& kv : live) all.insert(kv.first);
                  return all;
                }())
          << added << " records";
      ASSERT_EQ(t->ActivateFilter(h), ErrorCode::kNone);
      ASSERT_EQ(t->Filters().ViewCount(), expect.size()) << added << " records";
    }
  }
}

TEST_F(FilterOps, HandlesLimitsAndErrors) {
  Create(Path("H.DAT"), FilterTableDefinition(true));
  auto t = OpenTable(Path("H.DAT"));
  for (int i = 1; i <= 20; ++i) {
    Row r;
    r.id = i;
    r.n = i % 5;
    InsertRow(*t, r);
  }
  std::int32_t none = 0;
  EXPECT_EQ(t->AddFilter(std::span<const std::byte>{}, false, none),
            ErrorCode::kInvalidFilterExpression);
  std::vector<std::int32_t> handles;
  for (int i = 0; i < 128; ++i) {
    std::int32_t h = 0;
    ASSERT_EQ(t->AddFilter(Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(i % 5)),
                           false, h),
              ErrorCode::kNone);
    EXPECT_GT(h, 0);
    handles.push_back(h);
  }
  auto never = [](void*, std::span<const std::byte>, std::uint32_t) { return false; };
  std::int32_t cb = 0;
  ASSERT_EQ(t->AddCallbackFilter(never, nullptr, cb), ErrorCode::kNone);  // not counted
  EXPECT_LT(cb, 0);
  std::int32_t h129 = 0;
  EXPECT_EQ(CodeOf([&] {
              (void)t->AddFilter(Binary(Op::kEqual, FieldRef(*t, "N"), NewIntegerConstant(1)), false,
                                 h129);
            }),
            9482);
  EXPECT_EQ(t->AddCallbackFilter(nullptr, nullptr, h129), ErrorCode::kInvalidFilterExpression);

  EXPECT_EQ(t->ActivateFilter(123456), ErrorCode::kInvalidFilterHandle);
  EXPECT_EQ(t->DropFilter(-99), ErrorCode::kInvalidFilterHandle);
  EXPECT_FALSE(t->Filters().BitmapMode());
  // Update needs an active expression filter.
  EXPECT_EQ(t->UpdateFilter(Binary(Op::kEqual, FieldRef(*t, "N"), NewIntegerConstant(1)), handles[0]),
            ErrorCode::kInvalidFilterHandle);

  // Activating all (handle 0) builds every bitmap: N >= 4 is the strongest.
  ASSERT_EQ(t->ActivateFilter(0), ErrorCode::kNone);
  // The bitmap holds the expression filters' records; the callback filter
  // (which says no to everything) is asked record by record.
  EXPECT_EQ(t->Filters().ViewCount(), 4u);
  EXPECT_FALSE(t->FilterAccepts(4));
  ASSERT_EQ(t->DeactivateFilter(cb), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 4u);  // N = 4: records 4, 9, 14, 19
  EXPECT_TRUE(t->FilterAccepts(4));
  EXPECT_FALSE(t->FilterAccepts(5));

  // Update of an active filter replaces its expression.
  ASSERT_EQ(t->DeactivateFilter(0), ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(handles[1]), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 16u);  // N >= 1
  ASSERT_EQ(t->UpdateFilter(Binary(Op::kEqual, FieldRef(*t, "N"), NewIntegerConstant(0)), handles[1]),
            ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 4u);

  // Dropping everything (handle 0) removes both kinds; old handles are
  // unknown afterwards.
  ASSERT_EQ(t->DropFilter(0), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().Registry().FilterCount(), 0u);
  EXPECT_EQ(t->Filters().Registry().CallbackFilterCount(), 0u);
  EXPECT_FALSE(t->Filters().BitmapMode());
  EXPECT_TRUE(t->FilterAccepts(5));
  EXPECT_EQ(t->ActivateFilter(handles[2]), ErrorCode::kInvalidFilterHandle);
  EXPECT_EQ(t->DropFilter(cb), ErrorCode::kInvalidFilterHandle);
  std::int32_t again = 0;
  ASSERT_EQ(t->AddFilter(Binary(Op::kEqual, FieldRef(*t, "N"), NewIntegerConstant(1)), false, again),
            ErrorCode::kNone);
  EXPECT_FALSE(std::count(handles.begin(), handles.end(), again));  // ids are not reused
}

// A callback filter is asked with a copy of the stored record and its
// number; it combines with the expression filters.
TEST_F(FilterOps, CallbackFiltersCombineWithExpressionFilters) {
  Create(Path("K.DAT"), FilterTableDefinition(false));
  auto t = OpenTable(Path("K.DAT"));
  for (int i = 1; i <= 30; ++i) {
    Row r;
    r.id = i;
    r.n = i;
    InsertRow(*t, r);
  }
  struct Seen {
    std::set<std::uint32_t> numbers;
    FieldSlot id_slot;
  } seen{{}, t->GetFieldDescriptor(false, kId).Slot()};
  auto even_ids = [](void* data, std::span<const std::byte> record, std::uint32_t n) {
    auto* s = static_cast<Seen*>(data);
    s->numbers.insert(n);
    return GetFieldValue<std::int32_t>(record, s->id_slot) % 2 == 0;
  };
  std::int32_t cb = 0, ex = 0;
  ASSERT_EQ(t->AddCallbackFilter(even_ids, &seen, cb), ErrorCode::kNone);
  ASSERT_EQ(t->AddFilter(Binary(Op::kGreater, FieldRef(*t, "N"), NewIntegerConstant(20)), false, ex),
            ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(cb), ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(ex), ErrorCode::kNone);
  std::set<std::uint32_t> passed;
  for (std::uint32_t n = 1; n <= 30; ++n)
    if (t->FilterAccepts(n)) passed.insert(n);
  EXPECT_EQ(passed, (std::set<std::uint32_t>{22, 24, 26, 28, 30}));
  EXPECT_TRUE(seen.numbers.count(22));
}

}  // namespace
}  // namespace storage::filtertest
