// RecordCount under active filters is the number of records in the view:
// the records that match, within the key range when one is set; the same
// number the cursor reaches by walking.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "datafilter_test_support.h"

namespace storage::filtertest {
namespace {

using Op = ExprOperator;

class FilterCount : public datatest::DataFileTestBase {};

std::vector<std::byte> KeyRecord(TDataFile& t, std::int32_t id) {
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  PutFieldValue<std::int32_t>(rec, t.GetFieldDescriptor(false, kId).Slot(), id);
  return rec;
}

std::uint32_t Walked(TDataFile& t) {
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  std::uint32_t n = 0;
  if (t.MoveToBegin() != 0) return 0;
  while (t.ReadNextRecord(rec) == 0) ++n;
  return n;
}

bool CallbackEvenId(void* client, std::span<const std::byte> record, std::uint32_t /*r*/) {
  auto* t = static_cast<TDataFile*>(client);
  const auto id = GetFieldValue<std::int32_t>(record, t->GetFieldDescriptor(false, kId).Slot());
  return id % 2 == 0;
}

TEST_F(FilterCount, CountIsTheMatchingRecordsWithAndWithoutRange) {
  for (const bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "indexed" : "plain");
    const std::string name = Path(indexed ? "I.DAT" : "P.DAT");
    Create(name, FilterTableDefinition(indexed));
    auto t = OpenTable(name, false);
    std::mt19937 rng(indexed ? 5 : 6);
    std::map<std::int32_t, Row> rows;
    auto matches = [](const Row& r) {
      return r.n.value_or(0) >= 0 && r.t != std::optional<std::string>("ab");
    };
    for (std::int32_t id = 1; id <= 300; ++id) {
      Row r;
      r.id = id;
      if (rng() % 4) r.n = static_cast<std::int32_t>(rng() % 7) - 3;
      if (rng() % 3) r.t = (rng() % 2) ? "ab" : "b";
      InsertRow(*t, r);
      rows[id] = r;
      if (!(id <= 20 || id % 37 == 0 || id == 64 || id == 128 || id == 129 || id == 256 ||
            id == 300))
        continue;
      SCOPED_TRACE(std::to_string(id) + " records");
      const std::int32_t lo = id / 3, hi = 2 * id / 3 + 1;
      std::uint32_t all = 0, in_range = 0, even_in_range = 0;
      for (const auto& [k, row] : rows) {
        if (!matches(row)) continue;
        ++all;
        if (k >= lo && k <= hi) {
          ++in_range;
          if (k % 2 == 0) ++even_in_range;
        }
      }
      std::int32_t h = 0;
      ASSERT_EQ(t->AddFilter(Binary(Op::kAnd,
                                    Binary(Op::kGreaterEqual, FieldRef(*t, "N"),
                                           NewIntegerConstant(0)),
                                    Binary(Op::kNotEqual, FieldRef(*t, "T"),
                                           NewStringConstant("ab"))),
                             false, h),
                ErrorCode::kNone);
      ASSERT_EQ(t->ActivateFilter(h), ErrorCode::kNone);
      EXPECT_EQ(t->RecordCount(), all);
      EXPECT_EQ(Walked(*t), all);

      std::vector<std::byte> a = KeyRecord(*t, lo), b = KeyRecord(*t, hi);
      t->SetKeyRange(false, a.data(), 0, b.data(), 0);
      EXPECT_EQ(t->RecordCount(), in_range);
      EXPECT_EQ(Walked(*t), in_range);

      // A callback filter on top: counted by walking the range.
      std::int32_t cb = 0;
      ASSERT_EQ(t->AddCallbackFilter(&CallbackEvenId, t.get(), cb), ErrorCode::kNone);
      ASSERT_EQ(t->ActivateFilter(cb), ErrorCode::kNone);
      EXPECT_EQ(t->RecordCount(), even_in_range);
      EXPECT_EQ(Walked(*t), even_in_range);
      ASSERT_EQ(t->DropFilter(cb), ErrorCode::kNone);

      t->ClearKeyRange();
      EXPECT_EQ(t->RecordCount(), all);
      ASSERT_EQ(t->DropFilter(h), ErrorCode::kNone);
      EXPECT_EQ(t->RecordCount(), rows.size());
    }
  }
}

}  // namespace
}  // namespace storage::filtertest

namespace storage::filtertest {
namespace {

bool CallbackIdBelow100(void* /*client*/, std::span<const std::byte> record, std::uint32_t) {
  std::int32_t id;
  std::memcpy(&id, record.data() + 9 + 1, 4);  // Id: the first field, after its flag byte
  return id < 100;
}

// A clone sees the same view: each expression filter copied (its own
// tree) and each callback filter, active where active in the original.
TEST_F(FilterCount, CloneCopiesTheFilters) {
  const std::string name = Path("K.DAT");
  Create(name, FilterTableDefinition(true));
  auto t = OpenTable(name, false);
  std::uint32_t matching = 0, matching_below_100 = 0;
  for (std::int32_t id = 1; id <= 150; ++id) {
    Row r;
    r.id = id;
    r.n = id % 5;
    InsertRow(*t, r);
    if (id % 5 >= 3) {
      ++matching;
      if (id < 100) ++matching_below_100;
    }
  }
  std::int32_t active = 0, inactive = 0, cb = 0;
  ASSERT_EQ(t->AddFilter(Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(3)),
                         false, active),
            ErrorCode::kNone);
  ASSERT_EQ(t->AddFilter(Binary(Op::kLess, FieldRef(*t, "N"), NewIntegerConstant(2)), false,
                         inactive),
            ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(active), ErrorCode::kNone);
  ASSERT_EQ(t->RecordCount(), matching);

  auto c = t->CloneCursor();
  ASSERT_EQ(c->Filters().Registry().FilterCount(), 2u);
  EXPECT_TRUE(c->Filters().Registry().FilterAt(0).Active());
  EXPECT_FALSE(c->Filters().Registry().FilterAt(1).Active());
  ASSERT_NE(inactive, 0);
  EXPECT_EQ(c->RecordCount(), matching);
  EXPECT_EQ(Walked(*c), matching);

  // The clone's filters are its own: the original's go, the clone's stay.
  ASSERT_EQ(t->DropFilter(0), ErrorCode::kNone);
  EXPECT_EQ(t->RecordCount(), 150u);
  EXPECT_EQ(c->RecordCount(), matching);
  c.reset();

  // A callback filter is copied with its routine and client data.
  ASSERT_EQ(t->AddCallbackFilter(&CallbackIdBelow100, nullptr, cb), ErrorCode::kNone);
  ASSERT_EQ(t->AddFilter(Binary(Op::kGreaterEqual, FieldRef(*t, "N"), NewIntegerConstant(3)),
                         false, active),
            ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(cb), ErrorCode::kNone);
  ASSERT_EQ(t->ActivateFilter(active), ErrorCode::kNone);
  auto d = t->CloneCursor();
  EXPECT_EQ(d->RecordCount(), matching_below_100);
  EXPECT_EQ(Walked(*d), matching_below_100);
}

}  // namespace
}  // namespace storage::filtertest
