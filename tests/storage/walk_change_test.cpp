// Walks of a shared table while another user (a second cursor in this
// process, or another process) deletes the record the walker stands on,
// gives it another key, or changes it so that the walker's filter leaves
// it out. The next forward read must give the first record of the view
// after that record's old place and the previous read the last one before
// it: no record nobody touched is skipped or read twice (a moved record
// may be met again at its new place). Natural order with and without a
// primary key, the primary index, a secondary and a descending secondary
// index, with and without a filter; the expected walks come from a model
// of the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "tests/storage/datafilter_test_support.h"
#include "tests/storage/lock_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using locktest::Peer;

enum FieldNo { kKey = 1, kVal = 2, kFlag = 3 };

class WalkChangeTest : public datatest::DataFileTestBase {
 protected:
  // Key (primary, or no primary key), Val with the non-unique "ByVal" and
  // the descending "ByValDown", Flag; Key = Val = 10, 20, ..., 100 in
  // slots 1 to 10, Flag 0.
  void MakeTable(const std::string& path, bool primary) {
    DataTableDefinition def = Definition({Field(kKey, "Key", FieldType::kInteger), Field(kVal, "Val", FieldType::kInteger),
                                          Field(kFlag, "Flag", FieldType::kInteger)},
                                         {});
    if (primary) def.primary = datatest::Index("", {kKey});
    def.allow_empty_primary = !primary;
    def.secondary = {datatest::Index("ByVal", {kVal}), datatest::Index("ByValDown", {kVal})};
    def.secondary[1].Descending = 1;
    Create(path, def);
    auto t = OpenTable(path, true);
    for (std::int32_t k = 10; k <= 100; k += 10) {
      Rec r(*t);
      r.Num(kKey, std::optional(k)).Num(kVal, std::optional(k)).Num(kFlag, std::optional<std::int32_t>(0));
      t->InsertRecord(r.span());
    }
  }
  // Stands t on the record whose Key is key, by walking its view.
  static void StandOn(TDataFile& t, std::int32_t key, Rec& r) {
    ASSERT_EQ(t.MoveToBegin(), 0);
    while (t.ReadNextRecord(r.span()) == 0)
      if (r.GetNum<std::int32_t>(kKey) == key) return;
    FAIL() << "no key " << key;
  }
};

enum class Change { kDelete, kMove, kFilterOut };

// Another user's change of the record with Key 40.
void ChangeForty(TDataFile& o, Change c) {
  Rec r(o);
  CheckEngineResult(o.MoveToBegin());
  while (o.ReadNextRecord(r.span()) == 0 && r.GetNum<std::int32_t>(kKey) != 40) {
  }
  if (r.GetNum<std::int32_t>(kKey) != 40) throw std::runtime_error("no key 40");
  CheckEngineResult(o.ReadCurrentRecord(r.span(), true));
  if (c == Change::kDelete) {
    o.DeleteRecord();
    return;
  }
  if (c == Change::kMove) {
    r.Num(kKey, std::optional<std::int32_t>(950)).Num(kVal, std::optional<std::int32_t>(950));
  } else {
    r.Num(kFlag, std::optional<std::int32_t>(1));
  }
  o.ModifyRecord(r.span(), true);
}

TEST_F(WalkChangeTest, AWalkGoesOnFromThePlaceOfARecordAnotherUserTookAway) {
  const struct {
    const char* name;
    bool primary;
    int index;
  } orders[] = {{"natural", true, kNoIndex}, {"no primary key", false, 0}, {"primary", true, 0},
                {"secondary", true, 1},      {"descending", true, 2}};
  int row = 0;
  for (const auto& order : orders)
    for (const bool filtered : {false, true})
      for (const Change change : {Change::kDelete, Change::kMove, Change::kFilterOut})
        for (const bool forked : {false, true}) {
          if (change == Change::kFilterOut && !filtered) continue;
          SCOPED_TRACE(testing::Message() << order.name << (filtered ? " filtered" : "") << " change "
                                          << static_cast<int>(change) << (forked ? " forked" : ""));
          const std::string path = Path("w" + std::to_string(++row) + ".dat");
          MakeTable(path, order.primary);
          // The model: slot, Key, Val, Flag (record IDs follow the slots).
          struct R {
            std::uint32_t slot;
            std::int32_t key, val, flag;
          };
          std::vector<R> model;
          for (std::uint32_t s = 1; s <= 10; ++s)
            model.push_back({s, static_cast<std::int32_t>(s * 10), static_cast<std::int32_t>(s * 10), 0});
          // A record's place in the walker's order.
          using Place = std::tuple<std::int64_t, std::int64_t>;
          auto place = [&](const R& r) -> Place {
            const std::int64_t key = r.key, val = r.val, slot = r.slot;
            switch (order.index) {
              case 0: return {order.primary ? key : slot, 0};
              case 1: return {val, slot};
              case 2: return {-val, -slot};
              default: return {slot, 0};
            }
          };
          const auto old_place = place(model[3]);
          // Two walkers stand on 40, one to read on forward, one backward.
          std::unique_ptr<TDataFile> walkers[2];
          for (auto& w : walkers) {
            w = OpenTable(path, false);
            w->SwitchToIndex(static_cast<std::uint8_t>(order.index));
            if (filtered) {
              std::int32_t h = 0;
              ASSERT_EQ(w->AddFilter(filtertest::Binary(ExprOperator::kEqual, filtertest::FieldRef(*w, "Flag"),
                                                        NewIntegerConstant(0)),
                                     false, h),
                        ErrorCode::kNone);
              ASSERT_EQ(w->ActivateFilter(h), ErrorCode::kNone);
            }
            Rec r(*w);
            StandOn(*w, 40, r);
          }
          if (forked) {
            Peer other([&](Peer&) {
              auto o = OpenTable(path, false);
              ChangeForty(*o, change);  // a throw ends the child with 99
              return 0;
            });
            ASSERT_EQ(other.Wait(), 0);
          } else {
            auto o = OpenTable(path, false);
            ChangeForty(*o, change);
          }
          if (change == Change::kDelete) model.erase(model.begin() + 3);
          if (change == Change::kMove) model[3].key = model[3].val = 950;
          if (change == Change::kFilterOut) model[3].flag = 1;
          std::vector<R> view;
          for (const R& r : model)
            if (!filtered || r.flag == 0) view.push_back(r);
          std::sort(view.begin(), view.end(), [&](const R& a, const R& b) { return place(a) < place(b); });
          std::vector<std::int32_t> after, before;
          for (const R& r : view) {
            if (place(r) > old_place) after.push_back(r.key);
            if (place(r) < old_place) before.insert(before.begin(), r.key);
          }
          // In natural order a new key moves nothing: the walk goes on
          // from the record itself.
          std::vector<std::int32_t> forward, backward;
          for (Rec r(*walkers[0]); walkers[0]->ReadNextRecord(r.span()) == 0;)
            forward.push_back(*r.GetNum<std::int32_t>(kKey));
          for (Rec r(*walkers[1]); walkers[1]->ReadPriorRecord(r.span()) == 0;)
            backward.push_back(*r.GetNum<std::int32_t>(kKey));
          EXPECT_EQ(forward, after);
          EXPECT_EQ(backward, before);
        }
}

}  // namespace
}  // namespace storage::rectest
