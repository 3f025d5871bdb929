// AlterDataTable on real tables: records of every field type carried over
// through adds, drops, renames, reorders and type changes, BLOBs byte for
// byte, index changes, data-lost and progress events, backups holding the
// old bytes, the independent checkers over the new files, and failures
// forced at each step (or another process holding the table) leaving the
// old table whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>

#include "framework/sysutils.h"
#include "platform/file.h"
#include "storage/table_restructure.h"
#include "storage/table_swap.h"
#include "tests/common/forked_peer.h"
#include "tests/storage/table_trial_support.h"

namespace storage::rectest {
namespace {

using trialtest::ActiveRecords;
using trialtest::ExclusiveTable;
using datatest::Field;
using datatest::Index;
using trialtest::Files;

struct Row {
  std::int32_t id = 0;
  std::optional<std::string> name;
  std::optional<std::int32_t> born;  // day number
  std::vector<std::uint8_t> memo;
  std::int16_t small = 0;
  std::optional<double> price;
  std::uint16_t word = 0;
  std::uint32_t record_id = 0;
};

struct LossLog {
  std::map<int, int> causes;
  int stop_after = -1;       // clear continue at this many events
  bool stop_asking = false;  // set stop-asking at the first event
  int events = 0;
};

// 1 ID integer, 2 Name string[12], 3 Born date, 4 Memo BLOB, 5 Flag
// boolean, 6 Small smallint, 7 Price float, 8 Amount currency, 9 W word;
// primary on ID, "ByName" on Name.
DataTableDefinition OldDefinition() {
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {Field(1, "ID", FieldType::kInteger),     Field(2, "Name", FieldType::kString, 12),
                Field(3, "Born", FieldType::kDate),      Field(4, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo),
                Field(5, "Flag", FieldType::kBoolean),   Field(6, "Small", FieldType::kSmallInt),
                Field(7, "Price", FieldType::kFloat),    Field(8, "Amount", FieldType::kCurrency),
                Field(9, "W", FieldType::kWord)};
  def.primary = Index("", {1});
  def.secondary.push_back(Index("ByName", {2}));
  return def;
}

// ID, Title string[6] (was Name), Memo (moved up), Small as integer, Price
// as text, Born as timestamp, a new field Extra with a default, W as
// string; Flag and Amount dropped. "ByTitle" on the renamed field, a new
// "BySmall" on the converted one.
DataTableDefinition NewDefinition() {
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {Field(1, "ID", FieldType::kInteger),     Field(2, "Title", FieldType::kString, 6),
                Field(4, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo),
                Field(6, "Small", FieldType::kInteger),  Field(7, "PriceText", FieldType::kString, 20),
                Field(3, "Born", FieldType::kTimestamp), Field(100, "Extra", FieldType::kInteger),
                Field(9, "W", FieldType::kString, 8)};
  def.fields[6].DefaultValue.Assign("5");
  def.primary = Index("", {1});
  def.secondary = {Index("ByTitle", {2}), Index("BySmall", {6})};
  return def;
}

class RestructureTest : public datatest::DataFileTestBase {
 protected:
  // A fresh folder holding the table of rows records.
  void MakeTable(int rows) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    model_.clear();
    Create(Path("t.dat"), OldDefinition());
    auto t = OpenTable(Path("t.dat"));
    std::mt19937 rng(7);
    for (int i = 1; i <= rows; ++i) {
      Row row;
      row.id = i * 10;
      if (i % 5 != 0) row.name = "name" + std::string(static_cast<std::size_t>(i % 9), 'x');
      if (i % 4 != 0) row.born = 738000 + i;
      row.memo.resize(i % 3 == 0 ? 0 : rng() % 3000);
      for (auto& b : row.memo) b = static_cast<std::uint8_t>(rng());
      row.small = static_cast<std::int16_t>(i * (i % 2 ? -3 : 3));
      if (i % 6 != 0) row.price = i * 1.25;
      row.word = static_cast<std::uint16_t>(60000 + i);
      Rec r(*t);
      r.Num<std::int32_t>(1, row.id).Str(2, row.name).Num<std::int32_t>(3, row.born);
      r.Num<std::uint16_t>(5, i % 2).Num<std::int16_t>(6, row.small).Num<double>(7, row.price);
      r.Num<std::int64_t>(8, i * 12345).Num<std::uint16_t>(9, row.word);
      if (!row.memo.empty()) {
        ASSERT_EQ(t->OpenBlobField(false, 4, r.span()), 0);
        const auto size = static_cast<std::int32_t>(row.memo.size());
        ASSERT_EQ(t->WriteBlobField(false, 4, row.memo.data(), 0, size, r.span()), 0);
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

  static std::vector<std::uint8_t> BlobOf(TDataFile& t, int n, std::vector<std::byte>& rec) {
    bool blank = true;
    t.GetFieldValue(false, n, blank, nullptr, rec);
    if (blank) return {};
    EXPECT_EQ(t.OpenBlobField(false, n, rec), 0);
    std::int32_t size = 0, got = 0;
    EXPECT_EQ(t.GetBlobFieldSize(false, n, size, rec), 0);
    std::vector<std::uint8_t> v(static_cast<std::size_t>(size));
    if (size > 0) {
      EXPECT_EQ(t.ReadBlobField(false, n, got, 0, v.data(), size, rec), 0);
    }
    t.FreeBlobBuffers();
    return v;
  }

  Files Snapshot() { return trialtest::FolderFiles(dir_); }
  // The old table's three files as they were, and no temporary file (nor
  // the swap's intent, unless the swap was stopped before its first move).
  void ExpectUnchanged(const Files& before, bool intent_may_stay = false) {
    const Files after = Snapshot();
    for (const char* f : {"t.dat", "t.IDX", "t.BLB"}) EXPECT_EQ(after.at(f), before.at(f)) << f;
    for (const auto& [name, bytes] : after)
      EXPECT_TRUE(name.find('~') == std::string::npos && (intent_may_stay || !name.ends_with(".SWP"))) << name;
  }

  void Alter(const DataTableDefinition& def, LossLog* log = nullptr,
             std::vector<std::pair<int, int>>* progress = nullptr) {
    ExclusiveTable t(Path("t.dat"));
    if (log != nullptr) {
      t.SetOnDataLost([log](TDataFile&, std::uint8_t cause, bool& cont, bool& stop) {
        ++log->events;
        ++log->causes[cause];
        if (log->stop_asking) stop = true;
        if (log->events == log->stop_after) cont = false;
      });
    }
    if (progress != nullptr)
      t.SetOnRestructureProgress([progress](TDataFile&, int r, std::uint16_t p) { progress->emplace_back(r, p); });
    t.AlterDataTable(def);
    EXPECT_TRUE(t.IsOpen());  // ends open in every completed outcome
  }

  void ExpectCheckersPass(const std::string& leaf = "t.dat") {
    const auto check = tooltest::RunTool("tablecheck.py", Path(leaf));
    EXPECT_EQ(check.status, 0) << check.output;
  }

  std::map<std::int32_t, Row> model_;
  std::uint32_t physical_ = 0;
};

TEST_F(RestructureTest, CarriesEveryRecordThroughTypeChangesAndKeepsBackups) {
  MakeTable(40);
  const Files before = Snapshot();
  LossLog log;
  std::vector<std::pair<int, int>> progress;
  Alter(NewDefinition(), &log, &progress);
  // One progress event per physical record, deleted ones included.
  ASSERT_EQ(progress.size(), physical_);
  for (std::uint32_t r = 1; r <= physical_; ++r)
    EXPECT_EQ(progress[r - 1], std::make_pair(static_cast<int>(r), static_cast<int>(fw::Round(r * 100.0 / physical_))));
  // Two dropped fields per active record; names cut to 6 characters.
  int cut = 0;
  for (const auto& [id, row] : model_) cut += row.name && row.name->size() > 6 ? 1 : 0;
  EXPECT_EQ(log.causes, (std::map<int, int>{{3, 2 * static_cast<int>(model_.size())}, {4, cut}}));
  // The backups hold exactly the old bytes.
  const Files after = Snapshot();
  EXPECT_EQ(after.at("t.DBK"), before.at("t.dat"));
  EXPECT_EQ(after.at("t.IBK"), before.at("t.IDX"));
  EXPECT_EQ(after.at("t.BBK"), before.at("t.BLB"));

  auto t = OpenTable(Path("t.dat"));
  ASSERT_EQ(t->FieldCount(), 8);
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(t->GetFieldDescriptor(false, n).FieldNumber, n);
  auto records = ActiveRecords(*t);
  ASSERT_EQ(records.size(), model_.size());
  for (Rec& r : records) {
    const Row& m = model_.at(*r.GetNum<std::int32_t>(1));
    SCOPED_TRACE(m.id);
    EXPECT_EQ(r.Id(), m.record_id);
    EXPECT_EQ(r.GetStr(2), m.name ? std::optional<std::string>(m.name->substr(0, 6)) : std::nullopt);
    EXPECT_EQ(BlobOf(*t, 3, r.bytes), m.memo);
    EXPECT_EQ(r.GetNum<std::int32_t>(4), m.small);
    EXPECT_EQ(r.GetStr(5), m.price ? std::optional<std::string>(fw::FloatToStr(*m.price)) : std::nullopt);
    EXPECT_EQ(r.GetNum<double>(6), m.born ? std::optional<double>(*m.born * 86400000.0) : std::nullopt);
    EXPECT_EQ(r.GetNum<std::int32_t>(7), 5);  // the new field's default
    EXPECT_EQ(r.GetStr(8), std::to_string(m.word));
  }
  // The new index orders by the converted field.
  t->SwitchToIndexByName("BySmall");
  std::vector<std::int32_t> smalls;
  ASSERT_EQ(t->MoveToBegin(), 0);
  for (Rec r(*t); t->ReadNextRecord(r.span()) == 0;) smalls.push_back(*r.GetNum<std::int32_t>(4));
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
  ExpectCheckersPass();
}

TEST_F(RestructureTest, RenamesOnlyRewriteDefinitionsInPlace) {
  MakeTable(12);
  DataTableDefinition def = OldDefinition();
  def.fields[1].Name.Assign("FullName");
  def.fields[1].SecondText.Assign("the whole name");
  def.secondary[0].SetName("ByFullName");
  const Files before = Snapshot();
  LossLog log;
  std::vector<std::pair<int, int>> progress;
  Alter(def, &log, &progress);
  EXPECT_TRUE(progress.empty());  // no records copied
  EXPECT_EQ(log.events, 0);
  EXPECT_EQ(Snapshot().count("t.DBK"), 0u);
  EXPECT_EQ(Snapshot().at("t.BLB"), before.at("t.BLB"));
  auto t = OpenTable(Path("t.dat"));
  EXPECT_EQ(t->GetFieldDescriptor(false, 2).SecondText.View(), "the whole name");
  t->SwitchToIndexByName("ByFullName");
  EXPECT_EQ(t->RecordCount(), model_.size());
  t->Close();
  ExpectCheckersPass();
}

// A new required check, a new unique index or a BLOB turned text lose
// records or values with their causes; stop-asking silences the events;
// a cleared continue keeps the old table.
TEST_F(RestructureTest, LossesAreReportedWithTheirCauses) {
  MakeTable(20);
  DataTableDefinition def = OldDefinition();
  def.fields[1].Required = 1;  // Name is null in every fifth record
  LossLog log;
  Alter(def, &log);
  int nulls = 0;
  for (const auto& [id, row] : model_) nulls += row.name ? 0 : 1;
  EXPECT_EQ(log.causes, (std::map<int, int>{{2, nulls}}));
  def.secondary.push_back(Index("ByFlag", {5}, true));  // Flag is 0 or 1: two records stay
  LossLog unique;
  Alter(def, &unique);
  EXPECT_EQ(unique.causes, (std::map<int, int>{{1, static_cast<int>(model_.size()) - nulls - 2}}));
  int with_memo = 0;
  {
    auto t = OpenTable(Path("t.dat"));
    auto records = ActiveRecords(*t);
    EXPECT_EQ(records.size(), 2u);
    for (Rec& r : records) with_memo += BlobOf(*t, 4, r.bytes).empty() ? 0 : 1;
  }
  // The primary key moves to W and the indexes go: nothing is lost. Then
  // the memo becomes text and the table is scrambled: a copy.
  def = OldDefinition();
  def.primary = Index("", {9});
  def.secondary.clear();
  LossLog none;
  Alter(def, &none);
  EXPECT_EQ(none.events, 0);
  ExpectCheckersPass();
  def.fields[3] = Field(4, "Memo", FieldType::kString, 10);
  def.encrypted = true;
  def.password = "secret";
  LossLog memo;
  Alter(def, &memo);
  EXPECT_EQ(memo.events, with_memo);
  EXPECT_EQ(memo.causes[4], with_memo);
  CurrentSession()->AddPassword("secret");
  auto t = OpenTable(Path("t.dat"));
  EXPECT_TRUE(t->IsEncrypted());
  EXPECT_EQ(ActiveRecords(*t).size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(Path("t.BLB")));  // no BLOB field left

  t.reset();
  MakeTable(10);
  LossLog quiet;
  quiet.stop_asking = true;
  Alter(NewDefinition(), &quiet);
  EXPECT_EQ(quiet.events, 1);
  MakeTable(10);
  const Files before = Snapshot();
  LossLog abort;
  abort.stop_after = 3;
  Alter(NewDefinition(), &abort);
  EXPECT_EQ(abort.events, 3);
  ExpectUnchanged(before);
}

TEST_F(RestructureTest, AFailureAtAnyStepLeavesTheOldTableWhole) {
  for (const char* step : {"copy record", "new files written", "new files synced", "asides deleted", "intent written",
                           "table closed", "old DAT aside", "old IDX aside", "old BLB aside", "new DAT in place",
                           "new IDX in place", "new BLB in place"}) {
    SCOPED_TRACE(step);
    MakeTable(12);
    const Files before = Snapshot();
    SetTableStepHook([step](std::string_view s) {
      if (s == step) throw std::runtime_error("forced");
    });
    ExclusiveTable t(Path("t.dat"));
    EXPECT_THROW(t.AlterDataTable(NewDefinition()), std::runtime_error);
    SetTableStepHook(nullptr);
    EXPECT_EQ(t.FieldCount(), 9);  // reopened unchanged
    EXPECT_EQ(ActiveRecords(t).size(), model_.size());
    t.Close();
    ExpectUnchanged(before);
  }
}

TEST_F(RestructureTest, RefusalsBeforeAnythingChanges) {
  MakeTable(3);
  const Files before = Snapshot();
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
  def = NewDefinition();
  def.blob_block_size = 7;  // refused when the new table is created
  EXPECT_NE(CodeOf([&] { t.AlterDataTable(def); }), 0);
  t.Close();
  t.Open();
  EXPECT_EQ(CodeOf([&] { t.AlterDataTable(NewDefinition()); }), 10031);  // open
  t.Close();
  EXPECT_EQ(Snapshot(), before);
}

// Sharing is checked between programs: another process holding the old
// .DAT between the copy and the swap stops the swap.
TEST_F(RestructureTest, AnotherProcessHoldingTheTableStopsTheSwap) {
  MakeTable(6);
  const Files before = Snapshot();
  std::optional<testsupport::ForkedPeer> holder;
  platform::File held;  // the other process's handle
  SetTableStepHook([&](std::string_view s) {
    if (s != "table closed") return;
    holder.emplace([&](const std::string&) {
      return held.Open(Path("t.dat"), platform::Access::Read, platform::Share::ReadWrite,
                       platform::Disposition::OpenExisting) ? "open" : "failed";
    });
    ASSERT_EQ(holder->Do("open"), "open");
  });
  ExclusiveTable t(Path("t.dat"));
  const int code = CodeOf([&] { t.AlterDataTable(NewDefinition()); });
  SetTableStepHook(nullptr);
  holder.reset();
  EXPECT_NE(code, 0);
  t.Close();
  ExpectUnchanged(before, true);
  t.Open();
  EXPECT_EQ(ActiveRecords(t).size(), model_.size());
}

TEST_F(RestructureTest, InMemoryTableAndPasswordChangeInPlace) {
  DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Code", FieldType::kString, 8)});
  Create(Path("mem.dat"), def, true);
  auto m = OpenTable(Path("mem.dat"), true, true);
  for (int i = 1; i <= 3; ++i) {
    Rec r(*m);
    r.Num<std::int32_t>(1, i).Str(2, i == 3 ? std::string("abc") : std::to_string(i * 111));
    m->InsertRecord(r.span());
  }
  m->Close();
  def.fields[1] = Field(2, "Code", FieldType::kInteger);
  int losses = 0;
  m->SetOnDataLost([&](TDataFile&, std::uint8_t cause, bool&, bool&) { losses += cause == 4; });
  m->AlterDataTable(def);
  EXPECT_EQ(losses, 1);  // "abc" reads as no number
  std::map<std::int32_t, std::int32_t> got;
  for (Rec& r : ActiveRecords(*m)) got[*r.GetNum<std::int32_t>(1)] = *r.GetNum<std::int32_t>(2);
  EXPECT_EQ(got, (std::map<std::int32_t, std::int32_t>{{1, 111}, {2, 222}, {3, 0}}));
  m->Close();
  EXPECT_TRUE(std::filesystem::is_empty(dir_));  // nothing on disk

  // A new password and description need no copy; they are written at once.
  def.encrypted = true;
  def.password = "first";
  Create(Path("e.dat"), def);
  CurrentSession()->AddPassword("first");
  def.password = "second";
  def.description = "renamed";
  ExclusiveTable e(Path("e.dat"));
  e.AlterDataTable(def);
  e.Close();
  EXPECT_FALSE(std::filesystem::exists(Path("e.DBK")));
  CurrentSession()->RemovePassword("first");
  CurrentSession()->AddPassword("second");
  EXPECT_EQ(OpenTable(Path("e.dat"))->GetTablePassword(), "second");
}

// Auto-increment values are record IDs: they survive a restructure, a
// plain integer field taking them over keeps them, and the next record
// still gets a value none of the old ones had.
TEST_F(RestructureTest, AutoIncrementValuesSurviveAndContinue) {
  DataTableDefinition def = Definition({datatest::AutoInc(1, "Key"), Field(2, "Name", FieldType::kString, 8)});
  Create(Path("t.dat"), def);
  std::vector<std::int32_t> keys;
  {
    auto t = OpenTable(Path("t.dat"));
    for (int i = 1; i <= 6; ++i) {
      Rec r(*t);
      r.Str(2, "n" + std::to_string(i));
      t->InsertRecord(r.span());
      if (i == 6) t->DeleteRecord();  // the highest ID goes, but must not come back
      if (i < 6) keys.push_back(static_cast<std::int32_t>(CurrentId(*t)));
    }
  }
  auto keys_of = [&](TDataFile& t) {
    std::vector<std::int32_t> out;
    for (Rec& r : ActiveRecords(t)) out.push_back(*r.GetNum<std::int32_t>(1));
    std::sort(out.begin(), out.end());
    return out;
  };
  def.fields.push_back(Field(3, "Extra", FieldType::kString, 4));
  ExclusiveTable t(Path("t.dat"));
  t.AlterDataTable(def);
  EXPECT_EQ(keys_of(t), keys);
  Rec r(t);
  r.Str(2, "new");
  t.InsertRecord(r.span());
  EXPECT_EQ(CurrentId(t), 7u);
  keys.push_back(7);
  t.Close();
  def.fields[0] = Field(1, "Key", FieldType::kInteger);  // a plain integer now
  t.AlterDataTable(def);
  EXPECT_EQ(keys_of(t), keys);
}

// No value of another type becomes a BLOB offset: bytes that read as one
// (512, the first block) would make every record share a chain, and
// deleting one record would free the others' values. Such values are lost
// with cause 4, and so are integers cut to a narrower type.
TEST_F(RestructureTest, RawValuesIntoBlobFieldsAreLostNotMadeOffsets) {
  DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger), Field(2, "Raw", FieldType::kBytes, 4),
                                        Field(3, "Text", FieldType::kString, 10),
                                        Field(4, "Big", FieldType::kInteger)});
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
  }
  def.fields[1] = Field(2, "Raw", FieldType::kBlob, 0, FieldSubtype::kBinary);
  def.fields[2] = Field(3, "Text", FieldType::kBlob, 0, FieldSubtype::kMemo);
  def.fields[3] = Field(4, "Big", FieldType::kSmallInt);
  ExclusiveTable t(Path("r.dat"));
  int lost = 0;
  t.SetOnDataLost([&](TDataFile&, std::uint8_t cause, bool&, bool&) { lost += cause == 4 ? 1 : 100; });
  t.AlterDataTable(def);
  EXPECT_EQ(lost, 6 + 3 + 5);  // six bytes values, three texts, five integers past 32767
  for (Rec& r : ActiveRecords(t)) {
    EXPECT_TRUE(BlobOf(t, 2, r.bytes).empty());
    EXPECT_TRUE(BlobOf(t, 3, r.bytes).empty());
    EXPECT_EQ(r.GetNum<std::int16_t>(4), static_cast<std::int16_t>(*r.GetNum<std::int32_t>(1) * 20000));
  }
  // A value written now, and another record deleted: the value stays.
  const std::vector<std::uint8_t> value(700, 0x5C);
  Rec key(t), r(t);
  key.Num<std::int32_t>(1, 1);
  ASSERT_TRUE(t.GotoKey(false, key.bytes.data(), 0, false, 0, {}));
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
  ExpectCheckersPass("r.dat");
}

}  // namespace
}  // namespace storage::rectest
