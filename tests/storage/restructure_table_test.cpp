// AlterDataTable on real tables: records of every field type carried over
// through adds, drops, renames, reorders and type changes, BLOBs byte for
// byte, index changes, data-lost and progress events, backups holding the
// old bytes, the independent checkers over the new files, and failures
// forced at each step leaving the old table whole.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "framework/sysutils.h"
#include "platform/file.h"
#include "storage/table_restructure.h"
#include "storage/table_swap.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using datatest::Index;

struct Row {
  std::int32_t id = 0;
  std::optional<std::string> name;
  std::optional<std::int32_t> born;  // day number
  std::vector<std::uint8_t> memo;
  std::optional<std::uint16_t> flag;
  std::optional<std::int16_t> small;
  std::optional<double> price;
  std::optional<std::int64_t> amount;
  std::optional<std::uint16_t> word;
  std::uint32_t record_id = 0;
};

struct LossLog {
  std::map<int, int> causes;
  int stop_after = -1;       // clear continue at this many events
  bool stop_asking = false;  // set stop-asking at the first event
  int events = 0;
};

class RestructureTest : public datatest::DataFileTestBase {
 protected:
  // 1 ID integer, 2 Name string[12], 3 Born date, 4 Memo BLOB, 5 Flag
  // boolean, 6 Small smallint, 7 Price float, 8 Amount currency, 9 W word;
  // primary on ID, "ByName" on Name.
  static DataTableDefinition OldDefinition() {
    DataTableDefinition def =
        Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 12),
                    Field(3, "Born", FieldType::kDate),
                    Field(4, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo),
                    Field(5, "Flag", FieldType::kBoolean), Field(6, "Small", FieldType::kSmallInt),
                    Field(7, "Price", FieldType::kFloat), Field(8, "Amount", FieldType::kCurrency),
                    Field(9, "W", FieldType::kWord)});
    def.secondary.push_back(Index("ByName", {2}));
    return def;
  }

  void MakeTable(int rows, std::uint32_t seed = 7) {
    Create(Path("t.dat"), OldDefinition());
    auto t = OpenTable(Path("t.dat"));
    std::mt19937 rng(seed);
    for (int i = 1; i <= rows; ++i) {
      Row row;
      row.id = i * 10;
      if (i % 5 != 0) row.name = "name" + std::string(static_cast<std::size_t>(i % 9), 'x');
      if (i % 4 != 0) row.born = 738000 + i;
      row.memo.resize(i % 3 == 0 ? 0 : rng() % 3000);
      for (auto& b : row.memo) b = static_cast<std::uint8_t>(rng());
      row.flag = static_cast<std::uint16_t>(i % 2);
      row.small = static_cast<std::int16_t>(i * (i % 2 ? -3 : 3));
      if (i % 6 != 0) row.price = i * 1.25;
      row.amount = static_cast<std::int64_t>(i) * 12345;
      row.word = static_cast<std::uint16_t>(60000 + i);
      Rec r(*t);
      r.Num<std::int32_t>(1, row.id).Str(2, row.name).Num<std::int32_t>(3, row.born);
      r.Num<std::uint16_t>(5, row.flag).Num<std::int16_t>(6, row.small).Num<double>(7, row.price);
      r.Num<std::int64_t>(8, row.amount).Num<std::uint16_t>(9, row.word);
      if (!row.memo.empty()) {
        ASSERT_EQ(t->OpenBlobField(false, 4, r.span()), 0);
        ASSERT_EQ(t->WriteBlobField(false, 4, row.memo.data(), 0,
                                    static_cast<std::int32_t>(row.memo.size()), r.span()),
                  0);
      }
      t->InsertRecord(r.span());
      t->FreeBlobBuffers();
      row.record_id = CurrentId(*t);
      if (i % 7 == 3) {
        t->DeleteRecord();  // a deleted slot the copy must skip
        continue;
      }
      model_[row.id] = row;
    }
    physical_ = t->Header().NextRecord() - 1;
    t->Close();
  }

  // Every active record of the closed table: record buffer copies.
  std::vector<std::vector<std::byte>> ActiveRecords(TDataFile& t) {
    std::vector<std::vector<std::byte>> out;
    for (std::uint32_t n = 1; n < t.Header().NextRecord(); ++n) {
      TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
      std::vector<std::byte> bytes(t.GetRecordBufferSize());
      std::memcpy(bytes.data(), r->Data().data(), std::min(bytes.size(), r->Data().size()));
      t.ReleaseRecordBuffer(r);
      if (std::to_integer<int>(bytes[0]) == 0) out.push_back(std::move(bytes));
    }
    return out;
  }

  static std::vector<std::uint8_t> BlobOf(TDataFile& t, int n, std::vector<std::byte>& rec) {
    bool blank = true;
    t.GetFieldValue(false, n, blank, nullptr, rec);
    if (blank) return {};
    EXPECT_EQ(t.OpenBlobField(false, n, rec), 0);
    std::int32_t size = 0;
    EXPECT_EQ(t.GetBlobFieldSize(false, n, size, rec), 0);
    std::vector<std::uint8_t> v(static_cast<std::size_t>(size));
    std::int32_t got = 0;
    if (size > 0) {
      EXPECT_EQ(t.ReadBlobField(false, n, got, 0, v.data(), size, rec), 0);
    }
    t.FreeBlobBuffers();
    return v;
  }

  std::map<std::string, std::vector<std::uint8_t>> Snapshot() {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      files[e.path().filename().string()] = ReadBytes(e.path().string());
    return files;
  }

  void Alter(const DataTableDefinition& def, LossLog* log = nullptr,
             std::vector<std::pair<int, int>>* progress = nullptr) {
    TDataFile t;
    t.SetFileName(Path("t.dat"));
    t.SetExclusive(true);
    if (log != nullptr) {
      t.SetOnDataLost([log](TDataFile&, std::uint8_t cause, bool& cont, bool& stop) {
        ++log->events;
        ++log->causes[cause];
        if (log->stop_asking) stop = true;
        if (log->events == log->stop_after) cont = false;
      });
    }
    if (progress != nullptr) {
      t.SetOnRestructureProgress([progress](TDataFile&, int r, std::uint16_t p) {
        progress->emplace_back(r, p);
      });
    }
    t.AlterDataTable(def);
    EXPECT_TRUE(t.IsOpen());  // ends open in every completed outcome
    t.Close();
  }

  void ExpectCheckersPass(bool with_blobs, TDataFile& t) {
    auto dat = datatest::RunTool("datcheck.py", Path("t.dat"));
    EXPECT_EQ(dat.status, 0) << dat.output;
    auto idx = datatest::RunTool("idxcheck.py", Path("t.IDX"));
    EXPECT_EQ(idx.status, 0) << idx.output;
    if (!with_blobs) return;
    // Every block of the new BLOB file belongs to exactly one live value.
    std::string cmd = std::string("python3 ") + TOLMID_TOOLS_DIR + "/blbcheck.py '" +
                      Path("t.BLB") + "' 512";
    for (std::uint32_t n = 1; n < t.Header().NextRecord(); ++n) {
      TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
      std::vector<std::byte> rec(r->Data().begin(), r->Data().end());
      t.ReleaseRecordBuffer(r);
      if (std::to_integer<int>(rec[0]) != 0) continue;
      for (int f = 1; f <= t.FieldCount(); ++f) {
        const TFieldDescriptor& d = t.GetFieldDescriptor(false, f);
        if (d.Type() != FieldType::kBlob || std::to_integer<int>(rec[d.Offset]) == 0) continue;
        std::uint32_t offset;
        std::memcpy(&offset, rec.data() + d.Offset + 1, 4);
        cmd += " " + std::to_string(offset) + ":" + std::to_string(n);
      }
    }
    cmd += " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    std::size_t k;
    while ((k = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, k);
    const int st = pclose(p);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << out;
  }

  std::map<std::int32_t, Row> model_;
  std::uint32_t physical_ = 0;
};

// The new layout: ID, Title string[6] (was Name), Memo (moved up), Small as
// integer, Price as text, Born as timestamp, a new field Extra with a
// default, W as string; Flag and Amount dropped. Indexes: "ByTitle" on
// the renamed field, a new "BySmall" on the converted one.
DataTableDefinition NewDefinition() {
  std::vector<TFieldDescriptor> f = {
      Field(1, "ID", FieldType::kInteger),     Field(2, "Title", FieldType::kString, 6),
      Field(4, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo),
      Field(6, "Small", FieldType::kInteger),  Field(7, "PriceText", FieldType::kString, 20),
      Field(3, "Born", FieldType::kTimestamp), Field(100, "Extra", FieldType::kInteger),
      Field(9, "W", FieldType::kString, 8)};
  f[6].DefaultValue.Assign("5");
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = f;
  def.primary = Index("", {1});
  def.secondary.push_back(Index("ByTitle", {2}));
  def.secondary.push_back(Index("BySmall", {6}));
  return def;
}

TEST_F(RestructureTest, CarriesEveryRecordThroughTypeChangesAndKeepsBackups) {
  MakeTable(40);
  const auto before = Snapshot();
  LossLog log;
  std::vector<std::pair<int, int>> progress;
  Alter(NewDefinition(), &log, &progress);

  // One progress event per physical record, deleted ones included.
  ASSERT_EQ(progress.size(), physical_);
  for (std::uint32_t r = 1; r <= physical_; ++r) {
    EXPECT_EQ(progress[r - 1].first, static_cast<int>(r));
    EXPECT_EQ(progress[r - 1].second,
              fw::Round(static_cast<double>(r) / static_cast<double>(physical_) * 100.0));
  }
  // Two dropped fields per active record; names cut to 6 characters.
  int cut = 0;
  for (const auto& [id, row] : model_) cut += row.name && row.name->size() > 6 ? 1 : 0;
  EXPECT_EQ(log.causes[3], 2 * static_cast<int>(model_.size()));
  EXPECT_EQ(log.causes[4], cut);
  EXPECT_EQ(log.causes.count(0) + log.causes.count(1) + log.causes.count(2), 0u);

  // The backups hold exactly the old bytes.
  const auto after = Snapshot();
  EXPECT_EQ(after.at("t.DBK"), before.at("t.dat"));
  EXPECT_EQ(after.at("t.IBK"), before.at("t.IDX"));
  EXPECT_EQ(after.at("t.BBK"), before.at("t.BLB"));
  for (const auto& [name, bytes] : after) EXPECT_EQ(name.find('~'), std::string::npos) << name;

  auto t = OpenTable(Path("t.dat"));
  ASSERT_EQ(t->FieldCount(), 8);
  EXPECT_EQ(t->GetFieldDescriptor(false, 2).Name.View(), "Title");
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(t->GetFieldDescriptor(false, n).FieldNumber, n);
  auto records = ActiveRecords(*t);
  ASSERT_EQ(records.size(), model_.size());
  for (auto& bytes : records) {
    Rec r(*t);
    r.bytes = bytes;
    const auto id = r.GetNum<std::int32_t>(1);
    ASSERT_TRUE(id.has_value());
    ASSERT_TRUE(model_.count(*id)) << *id;
    const Row& m = model_.at(*id);
    SCOPED_TRACE(*id);
    EXPECT_EQ(r.Id(), m.record_id);  // record IDs kept
    EXPECT_EQ(r.GetStr(2), m.name ? std::optional<std::string>(m.name->substr(0, 6)) : std::nullopt);
    EXPECT_EQ(BlobOf(*t, 3, bytes), m.memo);
    EXPECT_EQ(r.GetNum<std::int32_t>(4), std::optional<std::int32_t>(*m.small));
    EXPECT_EQ(r.GetStr(5), m.price ? std::optional<std::string>(fw::FloatToStr(*m.price))
                                   : std::nullopt);
    if (m.born) {
      EXPECT_EQ(r.GetNum<double>(6), *m.born * 86400000.0);
    } else {
      EXPECT_FALSE(r.GetNum<double>(6).has_value());
    }
    EXPECT_EQ(r.GetNum<std::int32_t>(7), 5);  // the new field's default
    EXPECT_EQ(r.GetStr(8), std::to_string(*m.word));
  }
  // The new indexes are in use: order by the converted field.
  t->SwitchToIndexByName("BySmall");
  ASSERT_EQ(t->MoveToBegin(), 0);
  std::vector<std::int32_t> smalls;
  std::vector<std::byte> buf(t->GetRecordBufferSize());
  while (t->ReadNextRecord(buf) == 0) {
    Rec r(*t);
    r.bytes = buf;
    smalls.push_back(*r.GetNum<std::int32_t>(4));
  }
  EXPECT_EQ(smalls.size(), model_.size());
  EXPECT_TRUE(std::is_sorted(smalls.begin(), smalls.end()));
  // A new record gets an ID past every carried one.
  std::uint32_t max_id = 0;
  for (const auto& [id, row] : model_) max_id = std::max(max_id, row.record_id);
  Rec fresh(*t);
  fresh.Num<std::int32_t>(1, 99999);
  t->InsertRecord(fresh.span());
  EXPECT_GT(CurrentId(*t), max_id);
  t->Close();
  t = OpenTable(Path("t.dat"));
  ExpectCheckersPass(true, *t);
}

TEST_F(RestructureTest, RenamesOnlyRewriteDefinitionsInPlace) {
  MakeTable(12);
  DataTableDefinition def = OldDefinition();
  def.fields[1].Name.Assign("FullName");
  def.fields[1].SecondText.Assign("the whole name");
  def.secondary[0].SetName("ByFullName");
  const auto before = Snapshot();
  LossLog log;
  std::vector<std::pair<int, int>> progress;
  Alter(def, &log, &progress);
  EXPECT_TRUE(progress.empty());  // no records copied
  EXPECT_EQ(log.events, 0);
  const auto after = Snapshot();
  EXPECT_EQ(after.count("t.DBK"), 0u);
  EXPECT_EQ(after.at("t.BLB"), before.at("t.BLB"));
  auto t = OpenTable(Path("t.dat"));
  EXPECT_EQ(t->GetFieldDescriptor(false, 2).Name.View(), "FullName");
  EXPECT_EQ(t->GetFieldDescriptor(false, 2).SecondText.View(), "the whole name");
  t->SwitchToIndexByName("ByFullName");
  EXPECT_EQ(t->RecordCount(), model_.size());
  t->Close();
  ExpectCheckersPass(false, *t);
}

TEST_F(RestructureTest, AddingARequiredCheckCopiesAndReportsBrokenRecords) {
  MakeTable(15);
  DataTableDefinition def = OldDefinition();
  def.fields[1].Required = 1;  // Name is null in every fifth record
  LossLog log;
  Alter(def, &log);
  int nulls = 0;
  for (const auto& [id, row] : model_) nulls += row.name ? 0 : 1;
  ASSERT_GT(nulls, 0);
  EXPECT_EQ(log.causes[2], nulls);
  auto t = OpenTable(Path("t.dat"));
  EXPECT_EQ(ActiveRecords(*t).size(), model_.size() - static_cast<std::size_t>(nulls));
  EXPECT_TRUE(std::filesystem::exists(Path("t.DBK")));
}

TEST_F(RestructureTest, NewUniqueIndexAndNewPrimaryLeaveDuplicatesOut) {
  MakeTable(20);
  // Flag holds only 0 and 1: a unique index on it keeps two records.
  DataTableDefinition def = OldDefinition();
  def.secondary.push_back(Index("ByFlag", {5}, true));
  LossLog log;
  Alter(def, &log);
  EXPECT_EQ(log.causes[1], static_cast<int>(model_.size()) - 2);
  {
    auto t = OpenTable(Path("t.dat"));
    EXPECT_EQ(ActiveRecords(*t).size(), 2u);
  }
  // The primary key moves to W (all distinct) and the secondary index is
  // dropped: nothing is lost.
  def = OldDefinition();
  def.primary = Index("", {9});
  def.secondary.clear();
  LossLog second;
  Alter(def, &second);
  EXPECT_EQ(second.events, 0);
  auto t = OpenTable(Path("t.dat"));
  EXPECT_EQ(t->SecondaryIndexCount(), 0);
  EXPECT_EQ(ActiveRecords(*t).size(), 2u);
  ExpectCheckersPass(true, *t);
}

TEST_F(RestructureTest, StopAskingSilencesAndClearedContinueKeepsTheOldTable) {
  MakeTable(10);
  DataTableDefinition def = NewDefinition();
  LossLog quiet;
  quiet.stop_asking = true;
  Alter(def, &quiet);
  EXPECT_EQ(quiet.events, 1);

  model_.clear();
  MakeTable(10);  // a fresh table over the restructured one
  const auto before = Snapshot();
  LossLog abort;
  abort.stop_after = 3;
  Alter(NewDefinition(), &abort);
  EXPECT_EQ(abort.events, 3);
  const auto after = Snapshot();
  EXPECT_EQ(after.at("t.dat"), before.at("t.dat"));
  EXPECT_EQ(after.at("t.IDX"), before.at("t.IDX"));
  EXPECT_EQ(after.at("t.BLB"), before.at("t.BLB"));
  for (const auto& [name, bytes] : after) EXPECT_EQ(name.find('~'), std::string::npos) << name;
}

TEST_F(RestructureTest, AFailureAtAnyStepLeavesTheOldTableWhole) {
  for (const char* step : {"copy record", "new files written", "new files synced", "asides deleted",
                           "intent written", "table closed", "old DAT aside", "old IDX aside",
                           "old BLB aside", "new DAT in place", "new IDX in place",
                           "new BLB in place"}) {
    SCOPED_TRACE(step);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    model_.clear();
    MakeTable(12);
    const auto before = Snapshot();
    SetTableStepHook([step](std::string_view s) {
      if (s == step) throw std::runtime_error("forced");
    });
    TDataFile t;
    t.SetFileName(Path("t.dat"));
    t.SetExclusive(true);
    EXPECT_THROW(t.AlterDataTable(NewDefinition()), std::runtime_error);
    SetTableStepHook(nullptr);
    EXPECT_TRUE(t.IsOpen());  // reopened unchanged
    EXPECT_EQ(t.FieldCount(), 9);
    t.Close();
    auto after = Snapshot();
    for (const char* ext : {"t.dat", "t.IDX", "t.BLB"}) EXPECT_EQ(after.at(ext), before.at(ext)) << ext;
    for (const auto& [name, bytes] : after) {
      EXPECT_EQ(name.find('~'), std::string::npos) << name;
      EXPECT_EQ(name.find(".SWP"), std::string::npos) << name;
    }
    auto reopened = OpenTable(Path("t.dat"));
    EXPECT_EQ(ActiveRecords(*reopened).size(), model_.size());
  }
}

TEST_F(RestructureTest, RefusalsBeforeAnythingChanges) {
  MakeTable(3);
  const auto before = Snapshot();
  TDataFile t;
  t.SetFileName(Path("t.dat"));
  EXPECT_EQ(CodeOf([&] { t.AlterDataTable(NewDefinition()); }), 10253);  // not exclusive
  t.SetExclusive(true);
  DataTableDefinition def = NewDefinition();
  def.secondary[0].FieldNumbers[0] = 55;  // no field carries 55
  EXPECT_EQ(CodeOf([&] { t.AlterDataTable(def); }), 9985);
  def = NewDefinition();
  def.fields[1].FieldNumber = 1;  // two fields take field 1
  EXPECT_NE(CodeOf([&] { t.AlterDataTable(def); }), 0);
  EXPECT_FALSE(t.IsOpen());
  t.Open();
  EXPECT_EQ(CodeOf([&] { t.AlterDataTable(NewDefinition()); }), 10031);
  t.Close();
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RestructureTest, BlobToNonBlobIsALossAndEncryptionChangeCopies) {
  MakeTable(9);
  DataTableDefinition def = OldDefinition();
  def.fields[3] = Field(4, "Memo", FieldType::kString, 10);
  def.encrypted = true;
  def.password = "secret";
  LossLog log;
  Alter(def, &log);
  int with_memo = 0;
  for (const auto& [id, row] : model_) with_memo += row.memo.empty() ? 0 : 1;
  EXPECT_EQ(log.causes[4], with_memo);
  // The new table is scrambled: its password opens it.
  CurrentSession()->AddPassword("secret");
  auto t = OpenTable(Path("t.dat"));
  EXPECT_TRUE(t->IsEncrypted());
  EXPECT_EQ(ActiveRecords(*t).size(), model_.size());
  EXPECT_FALSE(std::filesystem::exists(Path("t.BLB")));  // no BLOB field left
  EXPECT_TRUE(std::filesystem::exists(Path("t.BBK")));
}

}  // namespace
}  // namespace storage::rectest

namespace storage::rectest {
namespace {

TEST_F(RestructureTest, AProgramHoldingTheTableStopsTheSwapAndNothingChanges) {
  MakeTable(8);
  const auto before = Snapshot();
  // Another handle opens the old .DAT between the copy and the swap.
  platform::File other;
  SetTableStepHook([&](std::string_view s) {
    if (s == "table closed") {
      ASSERT_TRUE(other.Open(Path("t.dat"), platform::Access::Read, platform::Share::ReadWrite,
                             platform::Disposition::OpenExisting));
    }
  });
  TDataFile t;
  t.SetFileName(Path("t.dat"));
  t.SetExclusive(true);
  const int code = CodeOf([&] { t.AlterDataTable(NewDefinition()); });
  SetTableStepHook(nullptr);
  EXPECT_NE(code, 0);
  EXPECT_FALSE(t.IsOpen());  // the other handle keeps the exclusive reopen out
  other.Close();
  const auto after = Snapshot();
  for (const char* ext : {"t.dat", "t.IDX", "t.BLB"}) EXPECT_EQ(after.at(ext), before.at(ext)) << ext;
  for (const auto& [name, bytes] : after) EXPECT_EQ(name.find('~'), std::string::npos) << name;
  t.Open();
  EXPECT_EQ(ActiveRecords(t).size(), model_.size());
}

TEST_F(RestructureTest, ARefusedNewDefinitionLeavesNoTemporaryFiles) {
  MakeTable(4);
  const auto before = Snapshot();
  DataTableDefinition def = NewDefinition();
  def.blob_block_size = 7;  // refused when the new table is created
  TDataFile t;
  t.SetFileName(Path("t.dat"));
  t.SetExclusive(true);
  EXPECT_NE(CodeOf([&] { t.AlterDataTable(def); }), 0);
  t.Close();
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RestructureTest, InMemoryTable) {
  DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger),
                                        Field(2, "Code", FieldType::kString, 8)});
  const std::string name = Path("mem.dat");
  Create(name, def, true);
  {
    auto t = OpenTable(name, true, true);
    for (int i = 1; i <= 6; ++i) {
      Rec r(*t);
      r.Num<std::int32_t>(1, i).Str(2, i == 3 ? std::string("abc") : std::to_string(i * 111));
      t->InsertRecord(r.span());
    }
    t->Close();
  }
  DataTableDefinition changed = def;
  changed.fields[1] = Field(2, "Code", FieldType::kInteger);
  TDataFile t;
  t.SetInMemory(true);
  t.SetFileName(name);
  t.SetExclusive(true);
  int losses = 0;
  t.SetOnDataLost([&](TDataFile&, std::uint8_t cause, bool&, bool&) { losses += cause == 4; });
  t.AlterDataTable(changed);
  EXPECT_EQ(losses, 1);  // "abc" reads as no number
  std::map<std::int32_t, std::int32_t> got;
  for (auto& bytes : ActiveRecords(t)) {
    Rec r(t);
    r.bytes = bytes;
    got[*r.GetNum<std::int32_t>(1)] = *r.GetNum<std::int32_t>(2);
  }
  const std::map<std::int32_t, std::int32_t> want = {{1, 111}, {2, 222}, {3, 0},
                                                     {4, 444}, {5, 555}, {6, 666}};
  EXPECT_EQ(got, want);
  t.Close();
  EXPECT_TRUE(std::filesystem::is_empty(dir_));  // nothing on disk
}

}  // namespace
}  // namespace storage::rectest

namespace storage::rectest {
namespace {

// The same with the other handle in another process: the swap must see
// it (sharing is checked between programs, not only inside one).
TEST_F(RestructureTest, AnotherProcessHoldingTheTableStopsTheSwap) {
  MakeTable(6);
  const auto before = Snapshot();
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  pid_t child = -1;
  SetTableStepHook([&](std::string_view s) {
    if (s != "table closed") return;
    child = fork();
    if (child == 0) {
      platform::File f;
      const char ok = f.Open(Path("t.dat"), platform::Access::Read, platform::Share::ReadWrite,
                             platform::Disposition::OpenExisting)
                          ? 'y'
                          : 'n';
      (void)!write(to_parent[1], &ok, 1);
      char c;
      (void)!read(to_child[0], &c, 1);
      _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(to_parent[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
  });
  TDataFile t;
  t.SetFileName(Path("t.dat"));
  t.SetExclusive(true);
  const int code = CodeOf([&] { t.AlterDataTable(NewDefinition()); });
  SetTableStepHook(nullptr);
  ASSERT_GT(child, 0);
  (void)!write(to_child[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) close(fd);
  EXPECT_NE(code, 0);
  t.Close();
  const auto after = Snapshot();
  for (const char* ext : {"t.dat", "t.IDX", "t.BLB"}) EXPECT_EQ(after.at(ext), before.at(ext)) << ext;
  for (const auto& [name, bytes] : after) EXPECT_EQ(name.find('~'), std::string::npos) << name;
}

}  // namespace
}  // namespace storage::rectest

namespace storage::rectest {
namespace {

// A new password and description need no copy; they are written at once
// (a header change kept only in memory would be lost at close).
TEST_F(RestructureTest, NewPasswordOnAnEncryptedTableIsWrittenInPlace) {
  DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger),
                                        Field(2, "Name", FieldType::kString, 8)});
  def.encrypted = true;
  def.password = "first";
  Create(Path("e.dat"), def);
  CurrentSession()->AddPassword("first");
  {
    auto t = OpenTable(Path("e.dat"));
    for (int i = 1; i <= 3; ++i) {
      Rec r(*t);
      r.Num<std::int32_t>(1, i).Str(2, "n" + std::to_string(i));
      t->InsertRecord(r.span());
    }
  }
  def.password = "second";
  def.description = "renamed";
  {
    TDataFile t;
    t.SetFileName(Path("e.dat"));
    t.SetExclusive(true);
    int progress = 0;
    t.SetOnRestructureProgress([&](TDataFile&, int, std::uint16_t) { ++progress; });
    t.AlterDataTable(def);
    EXPECT_EQ(progress, 0);
    EXPECT_EQ(t.GetTablePassword(), "second");
  }
  EXPECT_FALSE(std::filesystem::exists(Path("e.DBK")));
  CurrentSession()->RemovePassword("first");
  CurrentSession()->AddPassword("second");
  auto t = OpenTable(Path("e.dat"));
  EXPECT_EQ(t->GetTablePassword(), "second");
  EXPECT_EQ(ActiveRecords(*t).size(), 3u);
}

}  // namespace
}  // namespace storage::rectest

namespace storage::rectest {
namespace {

// Auto-increment values are record IDs: they survive a restructure, a
// plain integer field taking them over keeps them, and the next record
// still gets a value none of the old ones had.
TEST_F(RestructureTest, AutoIncrementValuesSurviveAndContinue) {
  DataTableDefinition def =
      Definition({datatest::AutoInc(1, "Key"), Field(2, "Name", FieldType::kString, 8)});
  Create(Path("a.dat"), def);
  std::vector<std::int32_t> keys;
  {
    auto t = OpenTable(Path("a.dat"));
    for (int i = 1; i <= 6; ++i) {
      Rec r(*t);
      r.Str(2, "n" + std::to_string(i));
      t->InsertRecord(r.span());
      if (i == 6) {
        t->DeleteRecord();  // the highest ID goes, but must not come back
      } else {
        keys.push_back(static_cast<std::int32_t>(CurrentId(*t)));
      }
    }
  }
  auto keys_of = [&](TDataFile& t, int field) {
    std::vector<std::int32_t> out;
    for (auto& bytes : ActiveRecords(t)) {
      Rec r(t);
      r.bytes = bytes;
      out.push_back(*r.GetNum<std::int32_t>(field));
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  def.fields.push_back(Field(3, "Extra", FieldType::kString, 4));
  {
    TDataFile t;
    t.SetFileName(Path("a.dat"));
    t.SetExclusive(true);
    t.AlterDataTable(def);
    EXPECT_EQ(keys_of(t, 1), keys);
    Rec r(t);
    r.Str(2, "new");
    t.InsertRecord(r.span());
    EXPECT_EQ(CurrentId(t), 7u);
  }
  keys.push_back(7);
  // The key becomes a plain integer field (and the primary key moves).
  def.fields[0] = Field(1, "Key", FieldType::kInteger);
  TDataFile t;
  t.SetFileName(Path("a.dat"));
  t.SetExclusive(true);
  t.AlterDataTable(def);
  EXPECT_EQ(keys_of(t, 1), keys);
}

}  // namespace
}  // namespace storage::rectest

namespace storage::rectest {
namespace {

// No value of another type becomes a BLOB offset: bytes that read as one
// (512, the first block) would make every record share a chain, and
// deleting one record would free the others' values. Such values are lost
// with cause 4, and so are integers cut to a narrower type.
TEST_F(RestructureTest, RawValuesIntoBlobFieldsAreLostNotMadeOffsets) {
  DataTableDefinition def =
      Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Raw", FieldType::kBytes, 4),
                  Field(3, "Text", FieldType::kString, 10), Field(4, "Big", FieldType::kInteger)});
  Create(Path("r.dat"), def);
  {
    auto t = OpenTable(Path("r.dat"));
    for (int i = 1; i <= 6; ++i) {
      Rec r(*t);
      const std::uint8_t raw[4] = {0x00, 0x02, 0x00, 0x00};
      r.Num<std::int32_t>(1, i).Num<std::int32_t>(4, i * 20000);
      t->SetFieldValue(false, 2, false, raw, r.span());
      if (i % 2 == 1) r.Str(3, "text" + std::to_string(i));
      t->InsertRecord(r.span());
    }
    t->Close();
  }
  DataTableDefinition changed = def;
  changed.fields[1] = Field(2, "Raw", FieldType::kBlob, 0, FieldSubtype::kBinary);
  changed.fields[2] = Field(3, "Text", FieldType::kBlob, 0, FieldSubtype::kMemo);
  changed.fields[3] = Field(4, "Big", FieldType::kSmallInt);
  TDataFile t;
  t.SetFileName(Path("r.dat"));
  t.SetExclusive(true);
  int lost = 0;
  t.SetOnDataLost([&](TDataFile&, std::uint8_t cause, bool&, bool&) { lost += cause == 4 ? 1 : 100; });
  t.AlterDataTable(changed);
  // Six bytes values, three texts, five integers past 32767.
  EXPECT_EQ(lost, 6 + 3 + 5);
  std::map<std::int32_t, std::vector<std::byte>> rows;
  for (auto& bytes : ActiveRecords(t)) {
    Rec r(t);
    r.bytes = bytes;
    EXPECT_TRUE(BlobOf(t, 2, bytes).empty());
    EXPECT_TRUE(BlobOf(t, 3, bytes).empty());
    const std::int32_t id = *r.GetNum<std::int32_t>(1);
    EXPECT_EQ(r.GetNum<std::int16_t>(4), static_cast<std::int16_t>(id * 20000));
    rows[id] = bytes;
  }
  ASSERT_EQ(rows.size(), 6u);
  // A value written now, and another record deleted: the value stays.
  const std::vector<std::uint8_t> value(700, 0x5C);
  Rec key(t);
  key.Num<std::int32_t>(1, 1);
  ASSERT_TRUE(t.GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  Rec r(t);
  ASSERT_EQ(t.ReadCurrentRecord(r.span(), true), 0);
  ASSERT_EQ(t.OpenBlobField(false, 2, r.span()), 0);
  ASSERT_EQ(t.WriteBlobField(false, 2, value.data(), 0, 700, r.span()), 0);
  t.ModifyRecord(r.span(), true);
  t.FreeBlobBuffers();
  key.Num<std::int32_t>(1, 2);
  ASSERT_TRUE(t.GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  t.DeleteRecord();
  key.Num<std::int32_t>(1, 1);
  ASSERT_TRUE(t.GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  ASSERT_EQ(t.ReadCurrentRecord(r.span(), false), 0);
  EXPECT_EQ(BlobOf(t, 2, r.bytes), value);
  t.Close();
  const auto check = tooltest::RunTool("tablecheck.py", Path("r.dat"));
  EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
}  // namespace storage::rectest
