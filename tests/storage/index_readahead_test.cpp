// Read-ahead through an index: a walk in key order reads as many records
// per read as lie physically in sequence behind the cursor's entry, at
// most a block. Whatever the physical order, the walk returns the records
// in key order both ways, and records changed in the cache win over the
// block read around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "storage/data_file.h"
#include "tests/storage/record_test_support.h"

namespace storage {
namespace {

using datatest::Field;
using rectest::Rec;

// Counts the reads of the .DAT (the index and BLOB files are other handlers).
class CountingDataFile : public TDataFile {
 public:
  std::int32_t Read(void* buffer, std::int32_t n) override {
    ++reads;
    return TDataFile::Read(buffer, n);
  }
  int reads = 0;
};

class ReadAheadTest : public datatest::DataFileTestBase {};

TEST_F(ReadAheadTest, WalksFollowTheKeysAndTheCacheWins) {
  // ID integer (primary), Text string[250] ("ByText"), seven more
  // string[250]: records of 2,030 bytes, 16 to a block.
  std::vector<TFieldDescriptor> fields = {Field(1, "ID", FieldType::kInteger)};
  for (std::uint16_t i = 2; i <= 9; ++i) fields.push_back(Field(i, "S" + std::to_string(i), FieldType::kString, 250));
  DataTableDefinition def = Definition(fields);
  def.secondary = {datatest::Index("ByText", {2})};
  std::map<std::int32_t, std::string> model;
  std::vector<std::int32_t> ids(100);
  for (int i = 0; i < 100; ++i) ids[i] = i + 1;
  for (const bool shuffled : {false, true}) {
    const std::string name = Path(shuffled ? "rnd.dat" : "ord.dat");
    if (shuffled) std::shuffle(ids.begin(), ids.end(), std::mt19937(20261206));
    Create(name, def);
    auto w = OpenTable(name);
    for (std::int32_t id : ids) {
      Rec r(*w);
      r.Num<std::int32_t>(1, id).Str(2, "t" + std::to_string(100000 + id));
      w->InsertRecord(r.span());
      model[id] = "t" + std::to_string(100000 + id);
    }
    w->Close();
    for (const bool exclusive : {true, false}) {
      CountingDataFile t;
      t.SetFileName(name);
      t.SetExclusive(exclusive);
      t.Open();
      ASSERT_EQ(t.RecordsPerBlock(), 16);
      std::map<std::int32_t, std::string>& want = model;  // the changes stay
      if (exclusive) {
        // Records changed or deleted in the cache, read around by blocks.
        Rec r(t);
        for (std::int32_t id : {5, 17, 77}) {
          t.SetRecordPosition(static_cast<std::uint32_t>(id));
          ASSERT_EQ(t.ReadCurrentRecord(r.span(), true), 0);
          want[*r.GetNum<std::int32_t>(1)] = "changed" + std::to_string(id);
          r.Str(2, "changed" + std::to_string(id));
          t.ModifyRecord(r.span(), true);
        }
        t.SetRecordPosition(10);
        ASSERT_EQ(t.ReadCurrentRecord(r.span(), false), 0);
        want.erase(*r.GetNum<std::int32_t>(1));
        t.DeleteRecord();
      }
      for (int index : {0, 1}) {
        t.SwitchToIndex(static_cast<std::uint8_t>(index));
        std::vector<std::pair<std::int32_t, std::string>> forward, backward;
        const int before = t.reads;
        Rec r(t);
        ASSERT_EQ(t.MoveToBegin(), 0);
        while (t.ReadNextRecord(r.span()) == 0) forward.emplace_back(*r.GetNum<std::int32_t>(1), *r.GetStr(2));
        if (exclusive && !shuffled && index == 0) {
          EXPECT_LE(t.reads - before, 100 / 16 + 3);  // by blocks
        }
        ASSERT_EQ(t.MoveToEnd(), 0);
        while (t.ReadPriorRecord(r.span()) == 0)
          backward.emplace(backward.begin(), *r.GetNum<std::int32_t>(1), *r.GetStr(2));
        std::vector<std::pair<std::int32_t, std::string>> expected(want.begin(), want.end());
        if (index == 1)
          std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.second < b.second; });
        EXPECT_EQ(forward, expected) << name << " exclusive " << exclusive << " index " << index;
        EXPECT_EQ(backward, expected) << name << " exclusive " << exclusive << " index " << index;
      }
      t.Close();
    }
    model.clear();
    const auto check = tooltest::RunTool("tablecheck.py", name);
    EXPECT_EQ(check.status, 0) << check.output;
  }
}

}  // namespace
}  // namespace storage
