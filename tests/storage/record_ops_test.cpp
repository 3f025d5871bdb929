// Record operations and the cursor where the SQLite model test does not
// reach: field value rules, the auto-increment, calls without a current
// record, bookmarks, a cursor that finds its record again after another
// cursor's changes, and cloned cursors.
#include <gtest/gtest.h>

#include "storage/index_file.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::AutoInc;
using datatest::Field;
using datatest::Index;

class RecordOpsTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary or none), Name string[16] with "ByName"
  // (case-insensitive, non-unique), Flag boolean.
  std::unique_ptr<TDataFile> MakeTable(bool primary, bool exclusive = true) {
    DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 16),
                                          Field(3, "Flag", FieldType::kBoolean)},
                                         {});
    if (primary) def.primary = Index("", {1});
    def.allow_empty_primary = !primary;
    def.secondary = {Index("ByName", {2})};
    def.secondary[0].CaseInsensitive = 1;
    Create(Path("c.dat"), def);
    return OpenTable(Path("c.dat"), exclusive);
  }
  static void Add(TDataFile& t, std::int32_t id, const std::string& name) {
    Rec r(t);
    r.Num<std::int32_t>(1, id).Str(2, name);
    t.InsertRecord(r.span());
  }
  static std::int32_t CurrentKey(TDataFile& t) {
    Rec r(t);
    return t.ReadCurrentRecord(r.span(), false) != 0 ? -1 : *r.GetNum<std::int32_t>(1);
  }
};

// A Boolean 0xFFFF is stored as 1 (strings are the model test's). Without
// a current record the reads give blank records and 8706, the writes 8710.
TEST_F(RecordOpsTest, FieldRulesAndAnEmptyTable) {
  auto t = MakeTable(true);
  Rec r(*t);
  r.Num<std::uint16_t>(3, 0xFFFF);
  EXPECT_EQ(r.GetNum<std::uint16_t>(3), 1);
  r.Num<std::int32_t>(1, 5);
  EXPECT_EQ(t->ReadNextRecord(r.span()), 8706);
  EXPECT_FALSE(r.GetNum<std::int32_t>(1).has_value());  // blank
  EXPECT_EQ(CodeOf([&] { t->ModifyRecord(r.span(), true); }), 8710);
  EXPECT_EQ(CodeOf([&] { t->DeleteRecord(); }), 8710);
  EXPECT_EQ(CodeOf([&] { t->SwitchToIndexByName("NoSuchIndex"); }), 10022);
}

TEST_F(RecordOpsTest, AutoIncrementIsTheRecordIdAndNeverBlank) {
  Create(Path("a.dat"), Definition({AutoInc(1, "RecordNum"), Field(2, "Name", FieldType::kString, 10)}));
  auto t = OpenTable(Path("a.dat"));
  std::uint32_t last = 0;
  for (int i = 0; i < 5; ++i) {
    Rec r(*t);
    r.Str(2, "n" + std::to_string(i)).Num<std::int32_t>(1, std::nullopt);  // nil: nothing changes
    t->InsertRecord(r.span());
    EXPECT_GT(r.Id(), last);
    last = r.Id();
    Rec back(*t);
    ASSERT_EQ(t->ReadCurrentRecord(back.span(), false), 0);
    EXPECT_EQ(back.GetNum<std::uint32_t>(1), r.Id());
  }
}

TEST_F(RecordOpsTest, BookmarksFollowTheIndexAndNaturalOrderComparesPositions) {
  auto t = MakeTable(true);
  for (int i = 1; i <= 5; ++i) Add(*t, i, std::string(1, static_cast<char>('f' - i)));
  t->SetRecordPosition(2);
  std::vector<std::uint8_t> mark(t->GetBookmarkSize());
  t->GetBookmark(mark);
  t->SwitchToIndex(1);  // by name: e d c b a -> IDs 5 4 3 2 1
  t->GotoBookmark(mark);  // a primary key used on ByName: the nearest key
  EXPECT_GE(CurrentKey(*t), 1);
  t->SwitchToIndex(0);
  t->GotoBookmark(mark);
  EXPECT_EQ(CurrentKey(*t), 2);
  t.reset();
  auto n = MakeTable(false);
  for (int i = 1; i <= 4; ++i) Add(*n, i, "x");
  ASSERT_EQ(n->GetBookmarkSize(), 4u);
  std::vector<std::uint8_t> a(4), b(4);
  n->SetRecordPosition(1);
  n->GetBookmark(a);
  n->SetRecordPosition(3);
  n->GetBookmark(b);
  EXPECT_EQ(n->CompareBookmarks(a, b), -1);
  EXPECT_EQ(n->CompareBookmarks(b, a), 1);
  EXPECT_EQ(n->CompareBookmarks(a, a), 0);
  n->GotoBookmark(a);
  EXPECT_EQ(CurrentKey(*n), 1);
}

TEST_F(RecordOpsTest, ACursorFindsItsRecordAgainAfterAnotherCursorsChanges) {
  auto a = MakeTable(true, false);
  for (int i = 10; i <= 50; i += 10) Add(*a, i, "n");
  auto b = OpenTable(Path("c.dat"), false);
  Rec key(*a);
  key.Num<std::int32_t>(1, 30);
  ASSERT_TRUE(a->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  EXPECT_EQ(a->GetRecordPosition(), 3u);
  // The other cursor adds records before and after, and deletes 20.
  for (int id : {1, 2, 35, 60}) Add(*b, id, "m");
  key.Num<std::int32_t>(1, 20);
  ASSERT_TRUE(b->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  b->DeleteRecord();
  Rec r(*a);
  ASSERT_EQ(a->ReadNextRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 35);
  EXPECT_EQ(a->GetRecordPosition(), 5u);  // 1 2 10 30 35
  EXPECT_EQ(a->RecordCount(), 8u);
  ASSERT_EQ(a->ReadPriorRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 30);
  // A record changed by the other cursor is read fresh.
  EXPECT_FALSE(b->GotoKey(false, key.bytes.data(), 0, true, 0, {}));  // the nearest: 30
  ASSERT_EQ(b->ReadCurrentRecord(r.span(), true), 0);
  r.Str(2, std::string("changed"));
  b->ModifyRecord(r.span(), true);
  ASSERT_EQ(a->ReadCurrentRecord(r.span(), false), 0);
  EXPECT_EQ(r.GetStr(2), "changed");
}

// A natural walk whose record another cursor deleted: the locked read
// finds it lost (8710), and the next read, which may take the record from
// the caches without a read section, is a move like any other: it ends
// the lost state, so the delete that follows acts on the record it read.
// An edit on a lost record changes nothing.
TEST_F(RecordOpsTest, ANaturalWalkPastALostRecordActsOnTheRecordItReads) {
  auto a = MakeTable(true, false);
  for (int i = 1; i <= 6; ++i) Add(*a, i * 10, "n");
  a->SwitchToIndex(kNoIndex);
  auto b = OpenTable(Path("c.dat"), false);
  Rec r(*a);
  ASSERT_EQ(a->MoveToBegin(), 0);
  ASSERT_EQ(a->ReadNextRecord(r.span()), 0);
  ASSERT_EQ(a->ReadNextRecord(r.span()), 0);
  ASSERT_EQ(r.GetNum<std::int32_t>(1), 20);
  Rec key(*b);
  key.Num<std::int32_t>(1, 20);
  ASSERT_TRUE(b->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  b->DeleteRecord();
  EXPECT_EQ(CodeOf([&] { (void)a->ReadCurrentRecord(r.span(), true); }), 8710);
  EXPECT_EQ(CodeOf([&] { a->ModifyRecord(r.span(), false); }), 8710);
  ASSERT_EQ(a->ReadNextRecord(r.span()), 0);
  const std::int32_t read = *r.GetNum<std::int32_t>(1);
  EXPECT_GT(read, 20);
  EXPECT_EQ(CodeOf([&] { a->DeleteRecord(); }), 0);
  std::vector<std::int32_t> left;
  ASSERT_EQ(b->MoveToBegin(), 0);
  for (Rec s(*b); b->ReadNextRecord(s.span()) == 0;) left.push_back(*s.GetNum<std::int32_t>(1));
  std::vector<std::int32_t> want;
  for (int i = 1; i <= 6; ++i)
    if (i * 10 != 20 && i * 10 != read) want.push_back(i * 10);
  EXPECT_EQ(left, want);
}

// A range on a descending index runs from its start (the greater value)
// down to its end; the tail of a key that the range does not give (the
// record-ID suffix, a second field) must let every record of both end
// values in. A range whose start comes after its end in index order is
// empty.
TEST_F(RecordOpsTest, ARangeOnADescendingIndexHoldsBothEndValues) {
  DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 16)});
  def.secondary = {Index("Down", {2}), Index("DownPair", {2, 1}, true)};
  for (TIndexDescriptor& d : def.secondary) d.Descending = 1;
  Create(Path("d.dat"), def);
  auto t = OpenTable(Path("d.dat"));
  const char* names[] = {"a", "a", "b", "b", "b", "c", "c", "d"};
  for (int id = 1; id <= 8; ++id) Add(*t, id, names[id - 1]);
  const struct {
    const char* index;
    const char* start;
    const char* end;
    std::vector<std::int32_t> ids;
  } rows[] = {
      {"Down", "c", "b", {7, 6, 5, 4, 3}},
      {"Down", "d", "d", {8}},
      {"Down", "b", "c", {}},
      {"DownPair", "c", "a", {7, 6, 5, 4, 3, 2, 1}},
      {"DownPair", "b", "b", {5, 4, 3}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.index) + " " + row.start + ".." + row.end);
    t->SwitchToIndexByName(row.index);
    Rec lo(*t), hi(*t);
    lo.Str(2, std::string(row.start));
    hi.Str(2, std::string(row.end));
    t->SetKeyRange(false, lo.bytes.data(), 1, hi.bytes.data(), 1);
    std::vector<std::int32_t> ids;
    EXPECT_EQ(t->MoveToBegin(), 0);
    for (Rec r(*t); t->ReadNextRecord(r.span()) == 0;) ids.push_back(*r.GetNum<std::int32_t>(1));
    EXPECT_EQ(ids, row.ids);
    EXPECT_EQ(t->RecordCount(), row.ids.size());
    t->ClearKeyRange();
  }
}

// A clone stands on the same record in the same view and conflicts with
// its origin's record locks; an exclusive table has no clones.
TEST_F(RecordOpsTest, AClonedCursorStandsOnTheSameRecordInTheSameView) {
  auto t = MakeTable(true, false);
  for (int i = 1; i <= 10; ++i) Add(*t, i, std::string(1, static_cast<char>('a' + (i * 3) % 10)));
  t->SwitchToIndexByName("ByName");
  Rec lo(*t), hi(*t);
  lo.Str(2, std::string("c"));
  hi.Str(2, std::string("h"));
  t->SetKeyRange(false, lo.bytes.data(), 0, hi.bytes.data(), 0);
  t->SetRecordPosition(3);
  auto c = t->CloneCursor();
  EXPECT_EQ(c->GetCurrentIndexName(), "ByName");
  EXPECT_EQ(c->RecordCount(), t->RecordCount());
  EXPECT_EQ(CurrentKey(*c), CurrentKey(*t));
  EXPECT_EQ(c->GetRecordPosition(), 3u);
  Rec r(*t), e(*c);
  ASSERT_EQ(t->ReadCurrentRecord(r.span(), true), 0);
  c->SetLockRetryCount(0);
  EXPECT_EQ(CodeOf([&] { CheckEngineResult(c->ReadCurrentRecord(e.span(), true)); }), 10258);
  t->UnlockRecord(0);
  c.reset();
  t.reset();
  auto x = OpenTable(Path("c.dat"), true);
  EXPECT_EQ(CodeOf([&] { (void)x->CloneCursor(); }), 11013);
}

}  // namespace
}  // namespace storage::rectest
