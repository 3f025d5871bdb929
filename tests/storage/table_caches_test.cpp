// Dropping and unpinning a table's caches: ResetTableCaches makes a
// cursor see what another cursor of the same table wrote (records, index
// and BLOB headers) and trim frees the surplus pages; ReleaseAllPins also
// unpins the index pages, so that a flush may write them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/index_page.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;

class TableCachesTest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    Create(Path("c.dat"), Definition({Field(1, "Key", FieldType::kInteger),
                                      Field(2, "Name", FieldType::kString, 40),
                                      Field(3, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)}));
  }
  static void Insert(TDataFile& t, int key, const std::string& memo = {}) {
    Rec r(t);
    r.Num<std::int32_t>(1, key).Str(2, "name " + std::to_string(key));
    if (!memo.empty()) PutBlob(t, r, 3, std::vector<std::uint8_t>(memo.begin(), memo.end()));
    t.InsertRecord(r.span());
  }
};

TEST_F(TableCachesTest, ResetShowsAnotherCursorsWrites) {
  auto a = OpenTable(Path("c.dat"), false);
  auto b = OpenTable(Path("c.dat"), false);
  for (int k = 1; k <= 5; ++k) Insert(*b, k);
  ASSERT_EQ(a->MoveToBegin(), 0);
  Rec first(*a);
  ASSERT_EQ(a->ReadNextRecord(first.span()), 0);
  EXPECT_EQ(first.GetNum<std::int32_t>(1), 1);
  const std::uint32_t next_before = a->Header().NextRecord();
  const std::uint32_t count_before = a->IndexFile().RecordCount();
  ASSERT_EQ(count_before, 5u);

  // b writes records and a BLOB; a's cached headers know nothing of it.
  const std::string memo(3000, 'm');
  for (int k = 6; k <= 40; ++k) Insert(*b, k, k == 40 ? memo : std::string());
  EXPECT_EQ(a->Header().NextRecord(), next_before);
  EXPECT_EQ(a->IndexFile().RecordCount(), count_before);

  a->ResetTableCaches(false);
  EXPECT_EQ(a->Header().NextRecord(), b->Header().NextRecord());
  EXPECT_EQ(a->IndexFile().RecordCount(), 40u);
  EXPECT_EQ(a->CurrentRecord(), nullptr);
  EXPECT_EQ(a->Cache().Count() <= a->Cache().Capacity(), true);

  // The cursor still stands on its record and reads on from there.
  Rec r(*a);
  ASSERT_EQ(a->ReadCurrentRecord(r.span(), false), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 1);
  int seen = 1;
  Rec last(*a);
  while (a->ReadNextRecord(r.span()) == 0) {
    ++seen;
    last.bytes = r.bytes;
  }
  EXPECT_EQ(seen, 40);
  EXPECT_EQ(last.GetNum<std::int32_t>(1), 40);
  EXPECT_EQ(GetBlob(*a, last, 3), std::vector<std::uint8_t>(memo.begin(), memo.end()));
}

TEST_F(TableCachesTest, TrimFreesPagesAndKeepsTheCursor) {
  auto t = OpenTable(Path("c.dat"), true);
  for (int k = 1; k <= 3000; ++k) Insert(*t, k);
  // Everything on disk first: the reset drops what is not.
  t->ReleaseAllPins();
  t->FlushTable(false);
  ASSERT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
  const std::size_t pages = t->IndexFile().CachedPageCount();
  ASSERT_GT(pages, 20u);

  t->ResetTableCaches(false);  // the page objects are kept for reuse
  EXPECT_GE(t->IndexFile().CachedPageCount(), pages);
  t->ResetTableCaches(true);
  EXPECT_LT(t->IndexFile().CachedPageCount(), 10u);
  EXPECT_LE(t->Cache().Count(), t->Cache().Capacity());
  ASSERT_EQ(t->ReadCurrentRecord(r.span(), false), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 1500);
  ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
  EXPECT_EQ(r.GetNum<std::int32_t>(1), 1501);
}

TEST_F(TableCachesTest, ReleaseAllPinsUnpinsIndexPages) {
  auto t = OpenTable(Path("c.dat"), true);
  for (int k = 1; k <= 3000; ++k) Insert(*t, k);
  TIndexFile& ix = t->IndexFile();
  const std::uint32_t root = ix.RootPage();
  // Two holds that are never given back, as a failed operation could leave.
  TPage* page = ix.GetPage(root).release();
  ASSERT_NE(page, nullptr);
  ASSERT_FALSE(page->IsLeaf());  // not the cursor's own leaf
  ASSERT_NE(ix.GetPage(root).release(), nullptr);
  EXPECT_GE(page->Pins(), 2);
  t->ReleaseAllPins();
  EXPECT_EQ(page->Pins(), 0);
  // Everything still works and is written at close.
  ASSERT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
  t->FlushTable(true);
  t.reset();
  auto again = OpenTable(Path("c.dat"), true);
  EXPECT_EQ(again->RecordCount(), 3000u);
}

}  // namespace
}  // namespace storage::rectest
