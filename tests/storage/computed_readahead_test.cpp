// Read-ahead through an index: a walk in key order reads as many records
// per read as lie physically in sequence behind the cursor's entry, so a
// table loaded in key order is read in blocks and one loaded in random key
// order one record at a time. What the walk returns is the same either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "tests/storage/data_file_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage {
namespace {

using datatest::Field;
using rectest::Rec;

// Counts the reads of the .DAT (the index and BLOB files are other
// handlers).
class CountingDataFile : public TDataFile {
 public:
  std::int32_t Read(void* buffer, std::int32_t n) override {
    ++reads;
    return TDataFile::Read(buffer, n);
  }
  int reads = 0;
};

constexpr int kRecords = 600;

class ReadAheadTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary), Text string[12]; a secondary index on Text.
  // Records are inserted in the order of ids.
  void Build(const std::string& name, const std::vector<std::int32_t>& ids) {
    DataTableDefinition def = Definition(
        {Field(1, "ID", FieldType::kInteger), Field(2, "Text", FieldType::kString, 12)});
    def.secondary = {datatest::Index("ByText", {2})};
    Create(Path(name), def);
    auto t = OpenTable(Path(name));
    for (std::int32_t id : ids) {
      Rec r(*t);
      r.Num<std::int32_t>(1, id).Str(2, Text(id));
      t->InsertRecord(r.span());
    }
    t->Close();
  }
  static std::string Text(std::int32_t id) { return "t" + std::to_string(100000 + id); }

  std::unique_ptr<CountingDataFile> Open(const std::string& name, bool exclusive) {
    auto t = std::make_unique<CountingDataFile>();
    t->SetFileName(Path(name));
    t->SetExclusive(exclusive);
    t->Open();
    return t;
  }

  // Walks the index forwards or backwards; each record's id and text. The
  // .DAT reads of the walk go to reads.
  static std::vector<std::pair<std::int32_t, std::string>> Walk(CountingDataFile& t, bool forward,
                                                                int& reads) {
    std::vector<std::pair<std::int32_t, std::string>> out;
    Rec r(t);
    const int before = t.reads;
    if (forward) {
      EXPECT_EQ(t.MoveToBegin(), 0);
      while (t.ReadNextRecord(r.span()) == 0) out.emplace_back(*r.GetNum<std::int32_t>(1), *r.GetStr(2));
    } else {
      EXPECT_EQ(t.MoveToEnd(), 0);
      while (t.ReadPriorRecord(r.span()) == 0) out.emplace_back(*r.GetNum<std::int32_t>(1), *r.GetStr(2));
    }
    reads = t.reads - before;
    return out;
  }
};

TEST_F(ReadAheadTest, KeyOrderAndRandomOrderBothReadInBlocks) {
  std::vector<std::int32_t> ordered(kRecords);
  for (int i = 0; i < kRecords; ++i) ordered[i] = i + 1;
  std::vector<std::int32_t> shuffled = ordered;
  std::mt19937 rng(20261206);
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  Build("ord.dat", ordered);
  Build("rnd.dat", shuffled);

  std::vector<std::pair<std::int32_t, std::string>> expected;
  for (std::int32_t id : ordered) expected.emplace_back(id, Text(id));
  std::vector<std::pair<std::int32_t, std::string>> reversed(expected.rbegin(), expected.rend());

  // A shared opening also checks the header before each move: count only
  // record reads by looking at both kinds of opening separately.
  for (bool exclusive : {true, false}) {
    for (int index : {0, 1}) {
      SCOPED_TRACE("exclusive " + std::to_string(exclusive) + " index " + std::to_string(index));
      for (bool forward : {true, false}) {
        auto ord = Open("ord.dat", exclusive);
        auto rnd = Open("rnd.dat", exclusive);
        ord->SwitchToIndex(static_cast<std::uint8_t>(index));
        rnd->SwitchToIndex(static_cast<std::uint8_t>(index));
        int ord_reads = 0;
        int rnd_reads = 0;
        EXPECT_EQ(Walk(*ord, forward, ord_reads), forward ? expected : reversed);
        EXPECT_EQ(Walk(*rnd, forward, rnd_reads), forward ? expected : reversed);
        // Header checks of a shared opening: one 4-byte read per move at
        // most, the same in both tables.
        const int checks = exclusive ? 0 : kRecords + 2;
        EXPECT_LE(ord_reads, checks + kRecords / 10) << "forward " << forward;
        // A random order: the file's blocks stay cached below the record
        // buffers, so it costs no more reads than the key order.
        EXPECT_LE(rnd_reads, checks + kRecords / 10) << "forward " << forward;
        ord->Close();
        rnd->Close();
      }
    }
  }
}

TEST_F(ReadAheadTest, CachedChangesWinOverTheBlockReadAroundThem) {
  std::vector<std::int32_t> ordered(kRecords);
  for (int i = 0; i < kRecords; ++i) ordered[i] = i + 1;
  Build("chg.dat", ordered);
  auto t = Open("chg.dat", true);
  // Change some records in the cache, delete others, then walk: cached
  // (modified) buffers win over the block read around them.
  Rec r(*t);
  for (std::int32_t id : {5, 77, 300}) {
    t->SetRecordPosition(static_cast<std::uint32_t>(id));
    ASSERT_EQ(t->ReadCurrentRecord(r.span(), true), 0);
    ASSERT_EQ(r.GetNum<std::int32_t>(1), id);
    r.Str(2, "changed" + std::to_string(id));
    t->ModifyRecord(r.span(), true);
  }
  t->SetRecordPosition(10);
  t->DeleteRecord();
  int reads = 0;
  auto got = Walk(*t, true, reads);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kRecords - 1));
  for (const auto& [id, text] : got) {
    EXPECT_NE(id, 10);
    if (id == 5 || id == 77 || id == 300) {
      EXPECT_EQ(text, "changed" + std::to_string(id));
    } else {
      EXPECT_EQ(text, Text(id));
    }
  }
  t->Close();
  auto dc = datatest::RunTool("datcheck.py", Path("chg.dat"));
  EXPECT_EQ(dc.status, 0) << dc.output;
}

TEST_F(ReadAheadTest, ARunIsCutAtTheRecordsPerBlock) {
  // Records of 2,030 bytes: 16 to a block.
  std::vector<TFieldDescriptor> fields = {Field(1, "ID", FieldType::kInteger)};
  for (std::uint16_t i = 2; i <= 9; ++i)
    fields.push_back(Field(i, "S" + std::to_string(i), FieldType::kString, 250));
  Create(Path("big.dat"), Definition(fields));
  constexpr int kBig = 100;
  {
    auto t = OpenTable(Path("big.dat"));
    for (int id = 1; id <= kBig; ++id) {
      Rec r(*t);
      r.Num<std::int32_t>(1, id).Str(2, "v" + std::to_string(id));
      t->InsertRecord(r.span());
    }
    t->Close();
  }
  auto t = Open("big.dat", true);
  ASSERT_EQ(t->RecordsPerBlock(), 32767 / t->RecordSize());
  const int per_block = t->RecordsPerBlock();
  ASSERT_EQ(per_block, 16);
  t->SwitchToIndex(0);
  for (bool forward : {true, false}) {
    int reads = 0;
    auto got = Walk(*t, forward, reads);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(kBig));
    for (int i = 0; i < kBig; ++i) {
      const std::int32_t id = forward ? i + 1 : kBig - i;
      EXPECT_EQ(got[static_cast<std::size_t>(i)].first, id);
      EXPECT_EQ(got[static_cast<std::size_t>(i)].second, "v" + std::to_string(id));
    }
    // Every run is at most a block; the first walk reads them all.
    if (forward) {
      EXPECT_GE(reads, (kBig + per_block - 1) / per_block);
      EXPECT_LE(reads, (kBig + per_block - 1) / per_block + 2);
    }
  }
  t->Close();
}

}  // namespace
}  // namespace storage
