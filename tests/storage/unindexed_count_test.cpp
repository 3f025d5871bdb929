// A table with no index at all keeps its record count: the count lives in
// the index file's header, and with no index page ever dirty that header
// must still be written when only the count changed.
#include <gtest/gtest.h>

#include "datafilter_test_support.h"

namespace storage::filtertest {
namespace {

class UnindexedCount : public datatest::DataFileTestBase {};

std::uint32_t Walk(TDataFile& t) {
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  std::uint32_t n = 0;
  if (t.MoveToBegin() != 0) return 0;
  while (t.ReadNextRecord(rec) == 0) ++n;
  return n;
}

TEST_F(UnindexedCount, CountFollowsInsertsAndDeletesAndSurvivesReopen) {
  for (const bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    const std::string name = Path(exclusive ? "X.DAT" : "S.DAT");
    Create(name, FilterTableDefinition(/*indexed=*/false, /*primary=*/false));
    {
      auto t = OpenTable(name, exclusive);
      for (std::int32_t id = 1; id <= 25; ++id) {
        Row r;
        r.id = id;
        InsertRow(*t, r);
      }
      EXPECT_EQ(t->RecordCount(), 25u);
      EXPECT_EQ(Walk(*t), 25u);
      // A second cursor (another user) sees the same count.
      if (!exclusive) {
        auto other = OpenTable(name, false);
        EXPECT_EQ(other->RecordCount(), 25u);
      }
      ASSERT_EQ(t->MoveToBegin(), 0);
      std::vector<std::byte> rec(t->GetRecordBufferSize());
      ASSERT_EQ(t->ReadNextRecord(rec), 0);
      t->DeleteRecord();
      EXPECT_EQ(t->RecordCount(), 24u);
      EXPECT_EQ(Walk(*t), 24u);
    }
    auto again = OpenTable(name, exclusive);
    EXPECT_EQ(again->RecordCount(), 24u);
    EXPECT_EQ(Walk(*again), 24u);
  }
}

}  // namespace
}  // namespace storage::filtertest
