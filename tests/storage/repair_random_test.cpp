// Table repair against random damage: bytes flipped in the index file, in
// the BLOB file and in the record prefixes, BLOB references and header of
// the data file. Whatever the damage, the repair either refuses with an
// engine error and leaves every file as it was, or leaves a table that the
// independent checkers pass, that opens, and whose record count matches a
// walk. It must never crash, read out of bounds (ASan) or hang.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "tests/storage/table_trial_support.h"

namespace storage::rectest {
namespace {

using trialtest::ExclusiveTable;
using datatest::Field;
using datatest::Index;

class RepairRandomTest : public datatest::DataFileTestBase {
 protected:
  void Build(std::mt19937& rng) {
    std::filesystem::remove_all(Path(""));
    std::filesystem::create_directory(Path(""));
    DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger),
                                          Field(2, "Name", FieldType::kString, 10),
                                          Field(3, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)});
    def.secondary.push_back(Index("ByName", {2}));
    Create(Path("r.dat"), def);
    auto t = OpenTable(Path("r.dat"));
    std::vector<std::uint8_t> memo;
    for (int i = 1; i <= 40; ++i) {
      Rec r(*t);
      r.Num<std::int32_t>(1, i);
      r.Str(2, "k" + std::to_string(i % 7));
      memo.assign(rng() % 2000, static_cast<std::uint8_t>(i));
      if (!memo.empty()) {
        ASSERT_EQ(t->OpenBlobField(false, 3, r.span()), 0);
        ASSERT_EQ(t->WriteBlobField(false, 3, memo.data(), 0, static_cast<std::int32_t>(memo.size()), r.span()), 0);
      }
      t->InsertRecord(r.span());
      t->FreeBlobBuffers();
    }
    // Some deleted records with chains of their own.
    for (int k = 0; k < 5; ++k) {
      t->SetRecordPosition(1 + rng() % 30);
      t->DeleteRecord();
    }
    record_size_ = t->RecordSize();
    memo_offset_ = t->GetFieldDescriptor(false, 3).Offset;
    t->Close();
  }

  void Damage(std::mt19937& rng) {
    auto idx = ReadBytes(Path("r.IDX"));
    auto blb = ReadBytes(Path("r.BLB"));
    auto dat = ReadBytes(Path("r.dat"));
    const std::size_t start = 127 + 3 * 768;
    const std::size_t records = (dat.size() - start) / record_size_;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) {
      const auto bit = static_cast<std::uint8_t>(1u << (rng() % 8));
      switch (rng() % 5) {
        case 0:  // index pages (the header rarely: its definitions are precious)
          if (idx.size() > 4096) idx[4096 + rng() % (idx.size() - 4096)] ^= bit;
          break;
        case 1:
          blb[rng() % blb.size()] ^= bit;
          break;
        case 2:  // a status byte
          dat[start + (rng() % records) * record_size_] ^= 1;
          break;
        case 3:  // a BLOB reference
          dat[start + (rng() % records) * record_size_ + memo_offset_ + 1 + rng() % 4] ^= bit;
          break;
        case 4: {  // the header's counts and links, the field count apart
          // (nothing in the file can tell a wrong field count from a right one)
          static constexpr std::size_t kHeaderBytes[] = {9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                                                         19, 20, 21, 22, 25, 26};
          dat[kHeaderBytes[rng() % std::size(kHeaderBytes)]] ^= bit;
          break;
        }
      }
    }
    if (rng() % 4 == 0) dat.resize(dat.size() - rng() % (2 * record_size_));
    if (rng() % 4 == 0) blb.resize(blb.size() - rng() % 700);
    if (rng() % 8 == 0) idx.resize(idx.size() - rng() % 5000);
    WriteBytes(Path("r.IDX"), idx);
    WriteBytes(Path("r.BLB"), blb);
    WriteBytes(Path("r.dat"), dat);
  }

  std::size_t record_size_ = 0;
  std::size_t memo_offset_ = 0;
};

TEST_F(RepairRandomTest, AnyDamageEndsInASoundTableOrAnUntouchedRefusal) {
  std::mt19937 rng(20261206);
  const int rounds = std::getenv("REPAIR_ROUNDS") ? std::atoi(std::getenv("REPAIR_ROUNDS")) : 12;
  int repaired = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Build(rng);
    Damage(rng);
    const auto dat = ReadBytes(Path("r.dat"));
    const auto idx = ReadBytes(Path("r.IDX"));
    const auto blb = ReadBytes(Path("r.BLB"));
    ExclusiveTable t(Path("r.dat"));
    std::vector<int> progress;
    t.SetOnRepairProgress([&](TDataFile&, int n, std::uint16_t) { progress.push_back(n); });
    t.SetOnRepairLog([](TDataFile&, std::string_view line) { EXPECT_LE(line.size(), 255u); });
    const int code = CodeOf([&] { t.RepairDataTable(); });
    if (code != 0) {
      EXPECT_EQ(ReadBytes(Path("r.dat")), dat);
      EXPECT_EQ(ReadBytes(Path("r.IDX")), idx);
      EXPECT_EQ(ReadBytes(Path("r.BLB")), blb);
      continue;
    }
    for (std::size_t i = 0; i < progress.size(); ++i) EXPECT_EQ(progress[i], static_cast<int>(i + 1));
    const auto check = tooltest::RunTool("tablecheck.py", Path("r.dat"));
    EXPECT_EQ(check.status, 0) << check.output;
    ++repaired;
    auto table = OpenTable(Path("r.dat"));
    Rec r(*table);
    std::uint32_t walked = 0;
    EXPECT_EQ(table->MoveToBegin(), 0);
    while (table->ReadNextRecord(r.span()) == 0) {
      ++walked;
      ASSERT_EQ(table->OpenBlobField(false, 3, r.span()), 0);
      std::int32_t size = 0;
      EXPECT_EQ(table->GetBlobFieldSize(false, 3, size, r.span()), 0);
      EXPECT_EQ(table->CloseBlobField(false, 3, r.span()), 0);
      ASSERT_LE(walked, 40u);
    }
    EXPECT_EQ(table->RecordCount(), walked);
    table->Close();
    // A second repair finds nothing more to mend.
    std::vector<std::string> again;
    ExclusiveTable t2(Path("r.dat"));
    t2.SetOnRepairLog([&](TDataFile&, std::string_view line) { again.emplace_back(line); });
    t2.RepairDataTable();
    EXPECT_TRUE(again.empty()) << again.front();
  }
  // Most damage is mendable; a run that refuses everything proves nothing.
  EXPECT_GE(repaired, rounds / 2);
}

}  // namespace
}  // namespace storage::rectest
