// Filter operations on real tables: the view and its count under a filter
// for every table size from 1 to 1,000 records (deleted slots, with and
// without indexes, a filter active while records are added, a key range
// and a callback filter on top); handles and limits; clones; the option
// byte and lent trees.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "datafilter_test_support.h"
#include "storage/data_file_scan.h"

namespace storage::filtertest {
namespace {

using Op = ExprOperator;
using datatest::CodeOf;

class FilterOps : public datatest::DataFileTestBase {};

std::uint32_t Walked(TDataFile& t) {
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  std::uint32_t n = 0;
  if (t.MoveToBegin() != 0) return 0;
  while (t.ReadNextRecord(rec) == 0) ++n;
  return n;
}

bool EvenId(void* client, std::span<const std::byte> record, std::uint32_t) {
  auto* t = static_cast<TDataFile*>(client);
  return GetFieldValue<std::int32_t>(record, t->GetFieldDescriptor(false, kId).Slot()) % 2 == 0;
}

bool IsSize(int n) {
  static const std::set<int> sizes = {1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  15,  16,
                                      17,  31,  32,  33,  63,  64,  65,  127, 128, 129, 255, 256,
                                      257, 511, 512, 513, 998, 999, 1000};
  return sizes.count(n) != 0;
}

// The view under a filter is the matching records: the spare bits of the
// last bitmap byte and deleted slots never show up. Without a primary key
// deleted slots stay deleted; with one they are reused by the next insert.
// RecordCount is the view's count (within the key range when one is set),
// the number the cursor reaches by walking.
TEST_F(FilterOps, CountUnderFilterForEveryTableSize) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE("variant " + std::to_string(variant));
    const bool indexed = variant != 1;
    const bool primary = variant != 2;
    const std::string name = Path("C" + std::to_string(variant) + ".DAT");
    Create(name, FilterTableDefinition(indexed, primary));
    auto t = OpenTable(name, variant != 0);
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
      ASSERT_EQ(t->RecordCount(), expect.size()) << added << " records";
      if (!primary || added % 2 == 0) continue;
      ASSERT_EQ(Walked(*t), expect.size());
      // A key range, then a callback filter on top (counted by walking).
      const std::int32_t lo = id / 3, hi = 2 * id / 3 + 1;
      std::uint32_t in_range = 0, even = 0;
      for (std::int32_t k : expect) {
        in_range += k >= lo && k <= hi;
        even += k >= lo && k <= hi && k % 2 == 0;
      }
      std::vector<std::byte> ka(t->GetRecordBufferSize()), kb(t->GetRecordBufferSize());
      PutFieldValue<std::int32_t>(ka, t->GetFieldDescriptor(false, kId).Slot(), lo);
      PutFieldValue<std::int32_t>(kb, t->GetFieldDescriptor(false, kId).Slot(), hi);
      t->SetKeyRange(false, ka.data(), 0, kb.data(), 0);
      EXPECT_EQ(t->RecordCount(), in_range);
      EXPECT_EQ(Walked(*t), in_range);
      std::int32_t cb = 0;
      ASSERT_EQ(t->AddCallbackFilter(&EvenId, t.get(), cb), ErrorCode::kNone);
      ASSERT_EQ(t->ActivateFilter(cb), ErrorCode::kNone);
      EXPECT_EQ(t->RecordCount(), even);
      EXPECT_EQ(Walked(*t), even);
      ASSERT_EQ(t->DropFilter(cb), ErrorCode::kNone);
      t->ClearKeyRange();
      EXPECT_EQ(t->RecordCount(), expect.size());
    }
  }
}

// 128 expression filters at most (callback filters not counted); handle 0
// means every filter; handles are never given out again.
TEST_F(FilterOps, HandlesLimitsAndErrors) {
  Create(Path("H.DAT"), FilterTableDefinition(true));
  auto t = OpenTable(Path("H.DAT"));
  for (int i = 1; i <= 20; ++i) InsertRow(*t, {.id = i, .n = i % 5});
  auto n_at_least = [&](int v) { return Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(v)); };
  std::int32_t cb = 0, more = 0;
  EXPECT_EQ(t->AddFilter(std::span<const std::byte>{}, false, more), ErrorCode::kInvalidFilterExpression);
  std::vector<std::int32_t> handles(128);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(t->AddFilter(n_at_least(i % 5), false, handles[i]), ErrorCode::kNone);
  ASSERT_EQ(t->AddCallbackFilter([](void*, std::span<const std::byte>, std::uint32_t) { return false; }, nullptr, cb),
            ErrorCode::kNone);
  EXPECT_EQ(CodeOf([&] { (void)t->AddFilter(n_at_least(1), false, more); }), 9482);
  EXPECT_EQ(t->ActivateFilter(123456), ErrorCode::kInvalidFilterHandle);
  EXPECT_EQ(t->UpdateFilter(n_at_least(1), handles[0]), ErrorCode::kInvalidFilterHandle);  // not active
  // Activating all builds every bitmap (N >= 4 the strongest); the callback
  // filter, which refuses everything, is asked record by record.
  ASSERT_EQ(t->ActivateFilter(0), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 4u);
  EXPECT_FALSE(t->FilterAccepts(4));
  ASSERT_EQ(t->DeactivateFilter(cb), ErrorCode::kNone);
  EXPECT_TRUE(t->FilterAccepts(4));
  EXPECT_FALSE(t->FilterAccepts(5));
  ASSERT_EQ(t->DeactivateFilter(0), ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(handles[1]), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 16u);  // N >= 1
  ASSERT_EQ(t->UpdateFilter(Binary(Op::kEqual, FieldRef(*t, "N"), NewIntegerConstant(0)), handles[1]),
            ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 4u);
  ASSERT_EQ(t->DropFilter(0), ErrorCode::kNone);
  EXPECT_FALSE(t->Filters().BitmapMode());
  EXPECT_EQ(t->DropFilter(cb), ErrorCode::kInvalidFilterHandle);
  ASSERT_EQ(t->AddFilter(n_at_least(1), false, more), ErrorCode::kNone);
  EXPECT_EQ(std::count(handles.begin(), handles.end(), more), 0);
  t->Close();  // closing drops the filters
  t->Open();
  EXPECT_EQ(t->Filters().Registry().FilterCount(), 0u);
  EXPECT_EQ(t->ActivateFilter(more), ErrorCode::kInvalidFilterHandle);
}

// A clone sees the same view: each expression filter copied (its own
// tree) and each callback filter, active where active in the original.
TEST_F(FilterOps, CloneCopiesTheFilters) {
  Create(Path("K.DAT"), FilterTableDefinition(true));
  auto t = OpenTable(Path("K.DAT"), false);
  for (std::int32_t id = 1; id <= 150; ++id) InsertRow(*t, {.id = id, .n = id % 5});
  auto at_least_3 = [&] { return Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(3)); };
  std::int32_t active = 0, inactive = 0, cb = 0;
  ASSERT_EQ(t->AddFilter(at_least_3(), false, active), ErrorCode::kNone);
  ASSERT_EQ(t->AddFilter(Binary(Op::kLess, FieldRef(*t, "N"), NewIntegerConstant(2)), false, inactive),
            ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(active), ErrorCode::kNone);
  auto c = t->CloneCursor();
  ASSERT_EQ(c->Filters().Registry().FilterCount(), 2u);
  EXPECT_FALSE(c->Filters().Registry().FilterAt(1).Active());
  EXPECT_EQ(c->RecordCount(), 60u);
  EXPECT_EQ(Walked(*c), 60u);
  ASSERT_EQ(t->DropFilter(0), ErrorCode::kNone);  // the clone's filters are its own
  EXPECT_EQ(t->RecordCount(), 150u);
  EXPECT_EQ(c->RecordCount(), 60u);
  c.reset();
  ASSERT_EQ(t->AddCallbackFilter(&EvenId, t.get(), cb), ErrorCode::kNone);
  ASSERT_EQ(t->AddFilter(at_least_3(), false, active), ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(0), ErrorCode::kNone);
  auto d = t->CloneCursor();
  EXPECT_EQ(d->RecordCount(), 30u);
  EXPECT_EQ(Walked(*d), 30u);
}

// The option byte: a filter added with it starts from the records the
// earlier active filters kept, so its scan reads only those; the view is
// the same either way. A lent tree (the SQL engine's) is replaced by
// UpdateFilter and never freed by the table.
TEST_F(FilterOps, OptionStartsFromEarlierFiltersAndLentTreesStayTheLenders) {
  Create(Path("O.DAT"), FilterTableDefinition(false));
  auto t = OpenTable(Path("O.DAT"));
  for (int i = 1; i <= 100; ++i) InsertRow(*t, {.id = i, .t = i % 2 ? "x" : "y", .n = i % 10});
  std::int32_t first = 0, second = 0;
  ASSERT_EQ(t->AddFilter(Binary(Op::kEqual, FieldRef(*t, "N"), NewIntegerConstant(3)), false, first),
            ErrorCode::kNone);
  ExpressionPtr lent = Binary(Op::kEqual, FieldRef(*t, "T"), NewStringConstant("x"));
  ASSERT_EQ(t->AddFilter(lent.get(), true, second), ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(first), ErrorCode::kNone);
  const auto before = t->Filters().RecordsScanned();
  ASSERT_EQ(t->ActivateFilter(second), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().RecordsScanned() - before, 10u);  // only N = 3
  EXPECT_EQ(t->Filters().ViewCount(), 10u);                 // N = 3 is odd: all "x"
  ExpressionPtr other = Binary(Op::kEqual, FieldRef(*t, "T"), NewStringConstant("y"));
  ASSERT_EQ(t->UpdateFilter(other.get(), second), ErrorCode::kNone);
  EXPECT_EQ(t->Filters().ViewCount(), 0u);
  EXPECT_EQ(lent->right->kind, NodeKind::kConstant);  // still the lender's
  ASSERT_EQ(t->DropFilter(0), ErrorCode::kNone);
  EXPECT_EQ(other->left->kind, NodeKind::kField);
}

}  // namespace
}  // namespace storage::filtertest

namespace storage::filtertest {
namespace {

// Places far into a filtered index view of a table just opened: the bitmap
// of the view's passing entries is made by walking leaves the page cache
// does not hold yet (their images read where the file lies), on an index
// with compressed leaves (S; N then S) and one without (N), shared and
// exclusive. Each place holds the record a sort of the passing rows puts
// there.
TEST_F(FilterOps, FarPlacesInAFilteredIndexViewOfATableJustOpened) {
  const std::string name = Path("FAR.DAT");
  Create(name, FilterTableDefinition(true));
  constexpr int kRows = 8000;
  std::vector<Row> rows;
  {
    auto w = OpenTable(name);
    std::mt19937 rng(20261207);
    std::vector<int> s_order(kRows), n_order(kRows);
    for (int i = 0; i < kRows; ++i) s_order[i] = n_order[i] = i;
    std::shuffle(s_order.begin(), s_order.end(), rng);
    std::shuffle(n_order.begin(), n_order.end(), rng);
    for (int i = 0; i < kRows; ++i) {
      char s[8];
      std::snprintf(s, sizeof s, "%05d", s_order[i]);
      Row r;
      r.id = i + 1;
      r.s = s;
      r.n = n_order[i];
      r.m = static_cast<std::int16_t>(rng() % 300);
      InsertRow(*w, r);
      rows.push_back(r);
    }
    w->Close();
  }
  // Index slot, and the order it puts rows in.
  const std::vector<std::pair<std::uint8_t, bool (*)(const Row&, const Row&)>> orders = {
      {1, [](const Row& a, const Row& b) { return *a.s < *b.s; }},
      {2, [](const Row& a, const Row& b) { return *a.n < *b.n; }},
      {6, [](const Row& a, const Row& b) { return *a.n < *b.n; }}};
  for (const auto& [index, before] : orders) {
    std::vector<Row> view;
    for (const Row& r : rows)
      if (*r.m < 100) view.push_back(r);
    std::sort(view.begin(), view.end(), before);
    const auto size = static_cast<std::uint32_t>(view.size());
    ASSERT_GT(size, 2 * IndexStore::kRankWalk);
    for (const bool exclusive : {true, false}) {
      SCOPED_TRACE("index " + std::to_string(index) + (exclusive ? " exclusive" : " shared"));
      auto t = OpenTable(name, exclusive);
      t->SwitchToIndex(index);
      std::int32_t h = 0;
      ASSERT_EQ(t->AddFilter(Binary(Op::kLess, FieldRef(*t, "M"), NewIntegerConstant(100)), false, h),
                ErrorCode::kNone);
      ASSERT_EQ(t->ActivateFilter(h), ErrorCode::kNone);
      for (const std::uint32_t k : {size - 3, IndexStore::kRankWalk + 100, size / 2 + 7, size}) {
        ASSERT_TRUE(t->SetViewPlace(k));
        const std::byte* p = t->CurrentRecordData();
        ASSERT_NE(p, nullptr) << "place " << k;
        EXPECT_EQ(GetFieldValue<std::int32_t>({p, t->GetRecordBufferSize()},
                                              t->GetFieldDescriptor(false, kId).Slot()),
                  view[k - 1].id)
            << "place " << k << " of " << size;
        EXPECT_EQ(t->ViewPlace(), k);
      }
      t->Close();
    }
  }
}

}  // namespace
}  // namespace storage::filtertest

namespace storage::filtertest {
namespace {

// A scan of the stored records ends where its visit says so, in the file's
// runs and among records the cache holds alike.
TEST_F(FilterOps, AScanEndsWhenItsVisitSaysSo) {
  const std::string name = Path("STOP.DAT");
  Create(name, FilterTableDefinition(false));
  auto t = OpenTable(name);
  for (int i = 1; i <= 300; ++i) InsertRow(*t, Row{.id = i});
  for (const bool cached : {false, true}) {
    if (cached) {
      for (std::uint32_t n = 1; n <= 300; ++n) (void)RecordId(*t, n);
    }
    std::vector<std::uint32_t> seen;
    ASSERT_TRUE(t->ScanStoredRecords(nullptr, 300, [&](std::uint32_t r, std::span<const std::byte>) {
      seen.push_back(r);
      return r < 7;
    }));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7})) << "cached " << cached;
  }
}

}  // namespace
}  // namespace storage::filtertest
