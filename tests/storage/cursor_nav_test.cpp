// The data-file cursor at its edges: empty tables, searches past the end,
// prefix and exact searches, bookmarks across indexes and in natural
// order, ranges, unknown index names, deleted records in natural order,
// and a cursor that finds its record again after another program's
// changes.
#include <gtest/gtest.h>

#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using datatest::Index;

class CursorNavTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary or none), Name string[16] with "ByName"
  // (case-insensitive, non-unique).
  std::unique_ptr<TDataFile> MakeTable(bool primary, bool exclusive = true) {
    DataTableDefinition def = primary
        ? Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 16)}, {1})
        : Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 16)}, {});
    auto by_name = Index("ByName", {2});
    by_name.CaseInsensitive = 1;
    def.secondary = {by_name};
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
    if (t.ReadCurrentRecord(r.span(), false) != 0) return -1;
    return *r.GetNum<std::int32_t>(1);
  }
};

TEST_F(CursorNavTest, EmptyTableEndsBothWaysWithBlankRecords) {
  for (bool primary : {true, false}) {
    auto t = MakeTable(primary);
    Rec r(*t);
    r.Num<std::int32_t>(1, 5);
    EXPECT_EQ(t->ReadNextRecord(r.span()), 8706);
    EXPECT_FALSE(r.GetNum<std::int32_t>(1).has_value());  // blank
    EXPECT_EQ(t->MoveToBegin(), 0);
    EXPECT_EQ(t->ReadPriorRecord(r.span()), 8705);
    EXPECT_EQ(t->RecordCount(), 0u);
    EXPECT_EQ(t->GetRecordPosition(), 0u);
    t.reset();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
}

TEST_F(CursorNavTest, SearchesLandWhereTheyShould) {
  auto t = MakeTable(true);
  const char* names[] = {"pear", "Apple", "apricot", "banana", "APPLE", "cherry"};
  for (int i = 0; i < 6; ++i) Add(*t, (i + 1) * 10, names[i]);
  Rec key(*t);
  // Nearest past the last key: the last record, not found.
  key.Num<std::int32_t>(1, 999);
  EXPECT_FALSE(t->GotoKey(false, key.bytes.data(), 0, true, 0, {}));
  EXPECT_EQ(CurrentKey(*t), 60);
  // Exact miss: the cursor stays.
  key.Num<std::int32_t>(1, 25);
  t->SetRecordPosition(2);
  EXPECT_FALSE(t->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  EXPECT_EQ(CurrentKey(*t), 20);
  // Nearest miss: the next key.
  EXPECT_FALSE(t->GotoKey(false, key.bytes.data(), 0, true, 0, {}));
  EXPECT_EQ(CurrentKey(*t), 30);
  t->SwitchToIndexByName("BYNAME");
  // Prefix "apr" (3 characters): apricot.
  Rec p(*t);
  p.Str(2, std::string("APR"));
  EXPECT_TRUE(t->GotoKey(false, p.bytes.data(), 0, false, 3, {}));
  EXPECT_EQ(CurrentKey(*t), 30);
  p.Str(2, std::string("cx"));
  EXPECT_FALSE(t->GotoKey(false, p.bytes.data(), 0, false, 2, {}));
  EXPECT_EQ(CurrentKey(*t), 10);  // the next name: pear
  // Exact search on a non-unique index: the first of equal names (by
  // record ID), whatever record ID the search record carries.
  Rec e(*t);
  e.Str(2, std::string("apple"));
  TDataFile::SetRecordID(999, e.bytes);
  EXPECT_TRUE(t->GotoExactKey(e.bytes, {}));
  EXPECT_EQ(CurrentKey(*t), 20);
  EXPECT_EQ(t->GetRecordPosition(), 1u);
  // Unknown index name.
  EXPECT_EQ(CodeOf([&] { t->SwitchToIndexByName("NoSuchIndex"); }), 10022);
}

TEST_F(CursorNavTest, BookmarksFollowTheIndexAndNaturalOrderComparesPositions) {
  auto t = MakeTable(true);
  for (int i = 1; i <= 5; ++i) Add(*t, i, std::string(1, static_cast<char>('f' - i)));
  t->SwitchToIndex(0);
  t->SetRecordPosition(2);
  std::vector<std::uint8_t> mark(t->GetBookmarkSize());
  t->GetBookmark(mark);
  t->SwitchToIndex(1);  // by name: e d c b a -> IDs 5 4 3 2 1
  EXPECT_EQ(t->MoveToBegin(), 0);
  t->GotoBookmark(mark);  // a primary key used on ByName: the nearest key
  EXPECT_GE(CurrentKey(*t), 1);
  t->SwitchToIndex(0);
  t->GotoBookmark(mark);
  EXPECT_EQ(CurrentKey(*t), 2);
  t.reset();

  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  auto n = MakeTable(false);
  for (int i = 1; i <= 4; ++i) Add(*n, i, "x");
  ASSERT_TRUE(n->InNaturalOrder());
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
  // Natural order skips deleted records; the count stays right.
  n->SetRecordPosition(2);
  n->DeleteRecord();
  EXPECT_EQ(CurrentKey(*n), 3);
  EXPECT_EQ(n->RecordCount(), 3u);
  std::vector<std::int32_t> seen;
  EXPECT_EQ(n->MoveToBegin(), 0);
  Rec r(*n);
  while (n->ReadNextRecord(r.span()) == 0) seen.push_back(*r.GetNum<std::int32_t>(1));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 3, 4}));
  seen.clear();
  EXPECT_EQ(n->MoveToEnd(), 0);
  while (n->ReadPriorRecord(r.span()) == 0) seen.push_back(*r.GetNum<std::int32_t>(1));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{4, 3, 1}));
}

TEST_F(CursorNavTest, RangesBoundTheViewAndAnInvertedRangeIsEmpty) {
  auto t = MakeTable(true);
  for (int i = 1; i <= 20; ++i) Add(*t, i, "n");
  Rec lo(*t), hi(*t);
  lo.Num<std::int32_t>(1, 5);
  hi.Num<std::int32_t>(1, 9);
  t->SetKeyRange(false, lo.bytes.data(), 0, hi.bytes.data(), 0);
  EXPECT_TRUE(t->IsRangeActive());
  EXPECT_EQ(t->RecordCount(), 5u);
  EXPECT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 5);
  EXPECT_EQ(t->GetRecordPosition(), 1u);
  EXPECT_EQ(t->MoveToEnd(), 0);
  ASSERT_EQ(t->ReadPriorRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 9);
  EXPECT_EQ(t->GetRecordPosition(), 5u);
  t->SetKeyRange(false, hi.bytes.data(), 0, lo.bytes.data(), 0);
  EXPECT_EQ(t->RecordCount(), 0u);
  EXPECT_EQ(t->MoveToBegin(), 0);
  EXPECT_EQ(t->ReadNextRecord(r.span()), 8706);
  t->ClearKeyRange();
  EXPECT_EQ(t->RecordCount(), 20u);
}

TEST_F(CursorNavTest, ACursorFindsItsRecordAgainAfterAnotherProgramsChanges) {
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
  // The first cursor goes on from its own record.
  Rec r(*a);
  ASSERT_EQ(a->ReadNextRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 35);
  EXPECT_EQ(a->GetRecordPosition(), 5u);  // 1 2 10 30 35
  EXPECT_EQ(a->RecordCount(), 8u);
  ASSERT_EQ(a->ReadPriorRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 30);
  // A record changed by the other cursor is read fresh.
  ASSERT_EQ(b->ReadCurrentRecord(r.span(), true), 0);
  r.Str(2, std::string("changed"));
  b->ModifyRecord(r.span(), true);
  key.Num<std::int32_t>(1, 30);
  ASSERT_TRUE(a->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  Rec c(*a);
  ASSERT_EQ(a->ReadCurrentRecord(c.span(), false), 0);
  EXPECT_EQ(c.GetNum<std::int32_t>(1), r.GetNum<std::int32_t>(1));
}

TEST_F(CursorNavTest, AClonedCursorStandsOnTheSameRecordInTheSameView) {
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
  // The clone conflicts with the record locks of its origin.
  Rec r(*t);
  ASSERT_EQ(t->ReadCurrentRecord(r.span(), true), 0);
  c->SetLockRetryCount(0);
  Rec e(*c);
  EXPECT_EQ(CodeOf([&] { CheckEngineResult(c->ReadCurrentRecord(e.span(), true)); }), 10258);
  t->UnlockRecord(0);
  c.reset();
  t.reset();
  auto x = OpenTable(Path("c.dat"), true);
  EXPECT_EQ(CodeOf([&] { (void)x->CloneCursor(); }), 11013);
}

TEST_F(CursorNavTest, BulkLoadKeepsTheCursorOnEachNewRecord) {
  auto t = MakeTable(true);
  for (int i = 0; i < 3000; ++i) {
    Add(*t, (i * 7919) % 3001, "n" + std::to_string(i % 97));
    ASSERT_EQ(CurrentKey(*t), (i * 7919) % 3001);
  }
  EXPECT_EQ(t->RecordCount(), 3000u);
  t->Close();
  auto rc = datatest::RunTool("idxcheck.py", Path("c.IDX"));
  EXPECT_EQ(rc.status, 0) << rc.output;
}

}  // namespace
}  // namespace storage::rectest
