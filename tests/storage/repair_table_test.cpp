// Table repair against damaged files, in the manner of LevelDB's
// corruption_test: build a real table through the record operations,
// damage one of its files, repair, reopen, and check with the independent
// checkers (tests/tools) that the files are sound and that exactly the
// expected records survive, with their BLOB values. Log lines and progress
// events are compared exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "storage/blob_format.h"
#include "storage/table_swap.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::CheckResult;
using datatest::Field;
using datatest::Index;
using datatest::RunTool;

constexpr int kRecords = 8;

struct Row {
  std::int32_t id;
  std::string name;
  std::vector<std::uint8_t> memo;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
  *os << "{" << r.id << ", " << r.name << ", memo " << r.memo.size() << " bytes}";
}

std::vector<std::uint8_t> MemoFor(int i) {
  // Record 1 has no value; the others one to several 512-byte blocks.
  std::vector<std::uint8_t> v(static_cast<std::size_t>(i == 1 ? 0 : 300 * i));
  for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<std::uint8_t>(k * 7 + i);
  return v;
}

class RepairTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary key), Name string[10] (index "ByName", and the
  // unique index "UName"), Memo BLOB. Records i = 1..8: ID 10 i, Name
  // "n<i>", Memo MemoFor(i).
  // encrypted: password "pw" (added to the session); no_primary: natural
  // order only (deleted slots are never reused).
  void Build(bool encrypted = false, bool no_primary = false) {
    DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger),
                                          Field(2, "Name", FieldType::kString, 10),
                                          Field(3, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)});
    if (no_primary) {
      def.primary = TIndexDescriptor();
      def.allow_empty_primary = true;
    }
    if (encrypted) {
      def.encrypted = true;
      def.password = "pw";
      CurrentSession()->AddPassword("pw");
    }
    encrypted_ = encrypted;
    def.secondary.push_back(Index("ByName", {2}));
    def.secondary.push_back(Index("UName", {2}, true));
    Create(Path("t.dat"), def);
    auto t = OpenTable(Path("t.dat"));
    for (int i = 1; i <= kRecords; ++i) {
      Rec r(*t);
      r.Num<std::int32_t>(1, 10 * i);
      r.Str(2, "n" + std::to_string(i));
      const auto memo = MemoFor(i);
      if (!memo.empty()) {
        ASSERT_EQ(t->OpenBlobField(false, 3, r.span()), 0);
        ASSERT_EQ(t->WriteBlobField(false, 3, memo.data(), 0, static_cast<std::int32_t>(memo.size()), r.span()), 0);
      }
      t->InsertRecord(r.span());
      if (t->IsBlobFieldOpen(false, 3, r.span())) {
        ASSERT_EQ(t->CloseBlobField(false, 3, r.span()), 0);
      }
    }
    record_size_ = t->RecordSize();
    data_start_ = 127 + 768 * 3;
    name_offset_ = t->GetFieldDescriptor(false, 2).Offset;
    memo_offset_ = t->GetFieldDescriptor(false, 3).Offset;
    t->Close();
    all_.clear();
    for (int i = 1; i <= kRecords; ++i) all_.push_back(RowFor(i));
  }
  static Row RowFor(int i) { return Row{10 * i, "n" + std::to_string(i), MemoFor(i)}; }

  std::string Dat() const { return Path("t.dat"); }
  std::string Idx() const { return Path("t.IDX"); }
  std::string Blb() const { return Path("t.BLB"); }
  std::size_t RecordPos(int n) const {
    return data_start_ + static_cast<std::size_t>(n - 1) * record_size_;
  }

  // Runs the repair with events attached.
  void Repair() {
    log_.clear();
    progress_.clear();
    TDataFile t;
    t.SetFileName(Path("t.dat"));
    t.SetExclusive(true);
    t.SetOnRepairLog([&](TDataFile& sender, std::string_view line) {
      EXPECT_EQ(&sender, &t);
      log_.emplace_back(line);
    });
    t.SetOnRepairProgress([&](TDataFile& sender, int n, std::uint16_t p) {
      EXPECT_EQ(&sender, &t);
      progress_.emplace_back(n, p);
    });
    t.RepairDataTable();
    EXPECT_FALSE(t.IsOpen());
    EXPECT_FALSE(t.Repairing());
  }

  // Every record in natural order and through both secondary indexes; the
  // index walks must find the same records.
  std::vector<Row> Survivors() {
    auto t = OpenTable(Path("t.dat"));
    std::vector<Row> rows;
    Rec r(*t);
    EXPECT_EQ(t->MoveToBegin(), 0);
    while (t->ReadNextRecord(r.span()) == 0) {
      Row row{*r.GetNum<std::int32_t>(1), r.GetStr(2).value_or(""), {}};
      EXPECT_EQ(t->OpenBlobField(false, 3, r.span()), 0);
      std::int32_t size = 0;
      EXPECT_EQ(t->GetBlobFieldSize(false, 3, size, r.span()), 0);
      row.memo.resize(static_cast<std::size_t>(std::max(size, 0)));
      std::int32_t got = 0;
      if (size > 0) {
        EXPECT_EQ(t->ReadBlobField(false, 3, got, 0, row.memo.data(), size, r.span()), 0);
      }
      EXPECT_EQ(t->CloseBlobField(false, 3, r.span()), 0);
      rows.push_back(row);
    }
    EXPECT_EQ(t->RecordCount(), rows.size());
    for (const char* index : {"ByName", "UName"}) {
      t->SwitchToIndexByName(index);
      std::vector<std::int32_t> ids;
      EXPECT_EQ(t->MoveToBegin(), 0);
      while (t->ReadNextRecord(r.span()) == 0) ids.push_back(*r.GetNum<std::int32_t>(1));
      std::vector<std::int32_t> expected;
      for (const Row& row : rows) expected.push_back(row.id);
      std::sort(ids.begin(), ids.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(ids, expected) << index;
    }
    t->Close();
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.id < b.id; });
    return rows;
  }

  // The three checkers over the closed table; every active record's BLOB
  // chain is handed to blbcheck.
  void CheckFiles() {
    const CheckResult dat = RunTool("datcheck.py", Dat());
    EXPECT_EQ(dat.status, 0) << dat.output;
    const std::string tools = std::string("python3 ") + TOLMID_TOOLS_DIR;
    const CheckResult idx =
        Run(tools + "/idxcheck.py '" + Idx() + "'" + (encrypted_ ? " --scramble 0x6B 0xD2" : ""));
    EXPECT_EQ(idx.status, 0) << idx.output;
    auto bytes = ReadBytes(Dat());
    std::string cmd = tools + "/blbcheck.py '" + Blb() + "' 512" + (encrypted_ ? " --scramble 0x6B,0xD2" : "");
    for (int n = 1; RecordPos(n) + record_size_ <= bytes.size(); ++n) {
      std::uint8_t* rec = &bytes[RecordPos(n)];
      if (encrypted_) ScrambleTableContents(rec, record_size_);
      if (rec[0] != 0 || rec[memo_offset_] == 0) continue;
      std::uint32_t offset;
      std::memcpy(&offset, rec + memo_offset_ + 1, 4);
      if (offset != 0) cmd += " " + std::to_string(offset) + ":" + std::to_string(n);
    }
    const CheckResult blb = Run(cmd);
    EXPECT_EQ(blb.status, 0) << blb.output;
  }
  static CheckResult Run(const std::string& cmd) {
    CheckResult r;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t k;
    while ((k = fread(buf, 1, sizeof(buf), p)) > 0) r.output.append(buf, k);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }

  std::vector<Row> AllBut(std::initializer_list<int> gone) const {
    std::vector<Row> rows;
    for (int i = 1; i <= kRecords; ++i) {
      if (std::find(gone.begin(), gone.end(), i) == gone.end()) rows.push_back(RowFor(i));
    }
    return rows;
  }
  std::uint32_t MemoOffsetOf(int n) {
    const auto bytes = ReadBytes(Dat());
    std::uint32_t offset;
    std::memcpy(&offset, &bytes[RecordPos(n) + memo_offset_ + 1], 4);
    return offset;
  }
  void PatchDat(std::size_t pos, const std::vector<std::uint8_t>& patch) {
    auto bytes = ReadBytes(Dat());
    std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pos));
    WriteBytes(Dat(), bytes);
  }
  // Copies n bytes at offset of record from into record to.
  void CopyField(int from, int to, std::size_t offset, std::size_t n) {
    auto bytes = ReadBytes(Dat());
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(RecordPos(from) + offset), n,
                bytes.begin() + static_cast<std::ptrdiff_t>(RecordPos(to) + offset));
    WriteBytes(Dat(), bytes);
  }
  static std::vector<std::uint8_t> U32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  }
  static std::string Line(const std::string& what, int n, const std::string& tail) {
    return what + std::to_string(n) + ", " + tail;
  }

  bool encrypted_ = false;
  std::size_t record_size_ = 0;
  std::size_t data_start_ = 0;
  std::size_t name_offset_ = 0;
  std::size_t memo_offset_ = 0;
  std::vector<Row> all_;
  std::vector<std::string> log_;
  std::vector<std::pair<int, int>> progress_;
};

// Progress: once per record, Round(n / 8 x 100) with ties to even.
const std::vector<std::pair<int, int>> kProgress8 = {{1, 12}, {2, 25}, {3, 38}, {4, 50},
                                                     {5, 62}, {6, 75}, {7, 88}, {8, 100}};

TEST_F(RepairTest, UndamagedTableKeepsEveryRecordByteAndLogsNothing) {
  Build();
  const auto before = ReadBytes(Dat());
  Repair();
  EXPECT_TRUE(log_.empty()) << log_.front();
  EXPECT_EQ(progress_, kProgress8);
  const auto after = ReadBytes(Dat());
  ASSERT_EQ(after.size(), before.size());
  // The record area is untouched; the header has a new change counter.
  EXPECT_TRUE(std::equal(before.begin() + static_cast<std::ptrdiff_t>(data_start_), before.end(),
                         after.begin() + static_cast<std::ptrdiff_t>(data_start_)));
  EXPECT_TRUE(std::equal(before.begin() + 127, before.begin() + static_cast<std::ptrdiff_t>(data_start_),
                         after.begin() + 127));
  EXPECT_NE(std::memcmp(before.data(), after.data(), 4), 0);
  CheckFiles();
  EXPECT_EQ(Survivors(), all_);
  // No temporary file is left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(Path(""))) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 3);
}

// Damage confined to the index file: the trees are rebuilt from the
// records and nothing is lost.
TEST_F(RepairTest, DamagedIndexFileIsRebuilt) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"truncated after the first page", [](auto& b) { b.resize(4096 + 4096 + 100); }},
      {"cut back to the header", [](auto& b) { b.resize(4096); }},
      {"bytes flipped in every page",
       [](auto& b) {
         for (std::size_t p = 4096; p + 4096 <= b.size(); p += 4096)
           for (std::size_t k = 0; k < 40; ++k) b[p + k * 97 % 4096] ^= 0x5A;
       }},
      {"roots and free lists pointing outside the file",
       [](auto& b) {
         for (int slot = 0; slot < 33; ++slot) {
           const std::size_t d = 14 + 120 * static_cast<std::size_t>(slot);
           b[d + 86 + 3] = 0x7F;
           b[d + 90 + 2] = 0x33;
         }
         b[9 + 3] = 0x70;  // end offset
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(Path(""));
    std::filesystem::create_directory(Path(""));
    Build();
    auto idx = ReadBytes(Idx());
    c.damage(idx);
    WriteBytes(Idx(), idx);
    Repair();
    EXPECT_TRUE(log_.empty()) << log_.front();
    EXPECT_EQ(progress_, kProgress8);
    CheckFiles();
    EXPECT_EQ(Survivors(), all_);
  }
}

// The index definitions live only in the index header: without it the
// repair refuses and changes nothing.
TEST_F(RepairTest, ZeroedIndexHeaderIsRefusedAndNothingChanges) {
  Build();
  auto idx = ReadBytes(Idx());
  std::fill(idx.begin(), idx.begin() + 4096, 0);
  WriteBytes(Idx(), idx);
  const auto dat = ReadBytes(Dat());
  const auto blb = ReadBytes(Blb());
  EXPECT_EQ(CodeOf([&] { Repair(); }), 12035);
  EXPECT_EQ(ReadBytes(Dat()), dat);
  EXPECT_EQ(ReadBytes(Idx()), idx);
  EXPECT_EQ(ReadBytes(Blb()), blb);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(Path(""))) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 3);
  TDataFile t;
  t.SetFileName(Dat());
  t.SetExclusive(true);
  EXPECT_FALSE(t.Repairing());
}

TEST_F(RepairTest, DeletedRecordLosesItsKeysAndBlobChain) {
  Build();
  PatchDat(RecordPos(3), {1});  // status: deleted
  Repair();
  EXPECT_TRUE(log_.empty()) << log_.front();
  EXPECT_EQ(progress_, kProgress8);
  CheckFiles();  // record 3's blocks must be on the free list
  EXPECT_EQ(Survivors(), AllBut({3}));
  // The freed slot is reused by the next insert (the free list and "Sys
  // Deleted" agree).
  const std::size_t size = ReadBytes(Dat()).size();
  auto t = OpenTable(Path("t.dat"));
  Rec r(*t);
  r.Num<std::int32_t>(1, 999);
  r.Str(2, "new");
  t->InsertRecord(r.span());
  t->Close();
  const auto bytes = ReadBytes(Dat());
  EXPECT_EQ(bytes.size(), size);
  EXPECT_EQ(bytes[RecordPos(3)], 0);
  CheckFiles();
}

TEST_F(RepairTest, DataFileCutMidRecord) {
  Build();
  auto dat = ReadBytes(Dat());
  dat.resize(dat.size() - record_size_ / 2);
  WriteBytes(Dat(), dat);
  Repair();
  EXPECT_EQ(log_, (std::vector<std::string>{
                      "Physical records not aligned on even record size boundaries, error fixed",
                      "Physical record count not correct, error fixed"}));
  ASSERT_EQ(progress_.size(), 7u);
  EXPECT_EQ(progress_.back(), (std::pair<int, int>{7, 100}));
  EXPECT_EQ(progress_[0], (std::pair<int, int>{1, 14}));
  EXPECT_EQ(Survivors(), AllBut({8}));
  CheckFiles();
}

TEST_F(RepairTest, StrayBytesAfterTheLastRecord) {
  Build();
  auto dat = ReadBytes(Dat());
  dat.insert(dat.end(), 10, 0xEE);
  WriteBytes(Dat(), dat);
  Repair();
  EXPECT_EQ(log_, (std::vector<std::string>{
                      "Physical records not aligned on even record size boundaries, error fixed"}));
  EXPECT_EQ(progress_, kProgress8);
  EXPECT_EQ(ReadBytes(Dat()).size(), dat.size() - 10);
  EXPECT_EQ(Survivors(), all_);
  CheckFiles();
}

TEST_F(RepairTest, DuplicateKeyInUniqueIndexDeletesTheLaterRecord) {
  Build();
  // Record 5 gets record 2's name: "UName" is unique.
  CopyField(2, 5, name_offset_, 12);
  Repair();
  EXPECT_EQ(log_, (std::vector<std::string>{
                      Line("Error rebuilding index keys for physical record # ", 5,
                           "error fixed but physical record deleted")}));
  EXPECT_EQ(progress_, kProgress8);
  EXPECT_EQ(Survivors(), AllBut({5}));
  CheckFiles();  // record 5's chain went to the free list
}

TEST_F(RepairTest, DuplicatePrimaryKey) {
  Build();
  CopyField(2, 7, 9, 5);  // ID 20, as record 2
  Repair();
  EXPECT_EQ(log_, (std::vector<std::string>{
                      Line("Error rebuilding index keys for physical record # ", 7,
                           "error fixed but physical record deleted")}));
  EXPECT_EQ(Survivors(), AllBut({7}));
  CheckFiles();
}

TEST_F(RepairTest, BlobOffsetPastTheEndEmptiesTheValue) {
  Build();
  PatchDat(RecordPos(4) + memo_offset_ + 1, U32(0x00FFFE00));
  Repair();
  EXPECT_EQ(log_, (std::vector<std::string>{
                      Line("Invalid BLOB offset into BLOB file for physical record # ", 4, "error fixed")}));
  auto expected = all_;
  expected[3].memo.clear();
  EXPECT_EQ(Survivors(), expected);
  CheckFiles();  // record 4's old chain is reclaimed, not leaked
}

TEST_F(RepairTest, BrokenBlobChainIsCut) {
  Build();
  // Record 6's value spans four blocks; its first block's next pointer
  // goes nowhere.
  const std::uint32_t first = MemoOffsetOf(6);
  auto blb = ReadBytes(Blb());
  const auto bad = U32(0x00ABCDE0);
  std::copy(bad.begin(), bad.end(), blb.begin() + first + 4);
  WriteBytes(Blb(), blb);
  Repair();
  ASSERT_FALSE(log_.empty());
  for (const std::string& line : log_) {
    EXPECT_NE(line.find("physical record # 6, error fixed"), std::string::npos) << line;
  }
  EXPECT_EQ(log_.front(), Line("Invalid intra-block pointer in BLOB file for physical record # ", 6, "error fixed"));
  const auto rows = Survivors();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    if (i == 5) {
      // What is left is a prefix of the old value (or nothing).
      EXPECT_LE(rows[5].memo.size(), all_[5].memo.size());
      EXPECT_TRUE(std::equal(rows[5].memo.begin(), rows[5].memo.end(), all_[5].memo.begin()));
    } else {
      EXPECT_EQ(rows[static_cast<std::size_t>(i)], all_[static_cast<std::size_t>(i)]);
    }
  }
  CheckFiles();
}

TEST_F(RepairTest, RecordIdZeroGetsTheNextValue) {
  Build();
  PatchDat(RecordPos(4) + 5, U32(0));
  Repair();
  EXPECT_TRUE(log_.empty()) << log_.front();
  auto t = OpenTable(Path("t.dat"));
  EXPECT_EQ(t->Header().LastRecordId(), static_cast<std::uint32_t>(kRecords + 1));
  t->Close();
  const auto dat = ReadBytes(Dat());
  std::uint32_t id;
  std::memcpy(&id, &dat[RecordPos(4) + 5], 4);
  EXPECT_EQ(id, static_cast<std::uint32_t>(kRecords + 1));
  EXPECT_EQ(Survivors(), all_);
  CheckFiles();
}

// Header and descriptor faults that the repair recomputes, each with its line.
TEST_F(RepairTest, HeaderFaultsAreMendedWithTheirLines) {
  struct Case {
    const char* what;
    std::size_t pos;
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> log;
  };
  const std::size_t f2 = 127 + 768;  // descriptor of field 2
  const std::vector<Case> cases = {
      {"record size", 21, {0x40, 0x00}, {"Invalid physical record length in data file header, error fixed"}},
      {"next record number", 13, {0x99, 0x00, 0x00, 0x00}, {"Physical record count not correct, error fixed"}},
      {"BLOB count", 25, {0x00, 0x00}, {"Invalid BLOB field count in data file header, error fixed"}},
      {"last record ID", 17, {0x02, 0x00, 0x00, 0x00},
       {"Invalid next available record ID (auto-increment), error fixed"}},
      {"free-list head", 9, {0x05, 0x00, 0x00, 0x00}, {}},
      {"field offset", f2 + 90, {0x33, 0x00}, {"Invalid field offset for field Name in data file header, error fixed"}},
      {"field number", f2, {0x09, 0x00}, {"Invalid field number for field Name in data file header, error fixed"}},
      {"physical size", f2 + 88, {0x03}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(Path(""));
    std::filesystem::create_directory(Path(""));
    Build();
    PatchDat(c.pos, c.bytes);
    Repair();
    EXPECT_EQ(log_, c.log);
    EXPECT_EQ(progress_, kProgress8);
    EXPECT_EQ(Survivors(), all_);
    CheckFiles();
  }
}

// The same damage through the scrambling of an encrypted table, and in a
// table without a primary key (no "Sys Deleted" keys, no slot reuse).
TEST_F(RepairTest, EncryptedAndKeylessTables) {
  for (const auto& [encrypted, no_primary] : {std::pair{true, false}, std::pair{false, true},
                                              std::pair{true, true}}) {
    SCOPED_TRACE(std::string(encrypted ? "encrypted" : "plain") + (no_primary ? ", no primary key" : ""));
    std::filesystem::remove_all(Path(""));
    std::filesystem::create_directory(Path(""));
    Build(encrypted, no_primary);
    // Record 3 deleted (the status byte through the scrambling), 10 stray
    // bytes at the end, a wrong record count.
    auto dat = ReadBytes(Dat());
    dat[RecordPos(3)] ^= 1;
    dat.insert(dat.end(), 10, 0x11);
    dat[13] = 0x20;
    WriteBytes(Dat(), dat);
    Repair();
    EXPECT_EQ(log_, (std::vector<std::string>{
                        "Physical records not aligned on even record size boundaries, error fixed",
                        "Physical record count not correct, error fixed"}));
    EXPECT_EQ(progress_, kProgress8);
    CheckFiles();
    EXPECT_EQ(Survivors(), AllBut({3}));
  }
}

TEST_F(RepairTest, Preconditions) {
  Build();
  const auto dat = ReadBytes(Dat());
  {
    auto t = OpenTable(Path("t.dat"));
    EXPECT_EQ(CodeOf([&] { t->RepairDataTable(); }), 10031);
  }
  TDataFile shared;
  shared.SetFileName(Path("t.dat"));
  EXPECT_EQ(CodeOf([&] { shared.RepairDataTable(); }), 10253);
  TDataFile read_only;
  read_only.SetFileName(Path("t.dat"));
  read_only.SetExclusive(true);
  read_only.SetReadOnly(true);
  EXPECT_EQ(CodeOf([&] { read_only.RepairDataTable(); }), 11013);
  EXPECT_EQ(ReadBytes(Dat()), dat);
  // Hopeless data files are refused untouched.
  struct Case {
    const char* what;
    std::size_t pos;
    std::vector<std::uint8_t> bytes;
    int code;
  };
  for (const Case& c : std::vector<Case>{{"field count 0", 23, {0, 0}, 9221},
                                         {"unknown field type", 127 + 84, {99}, 9221},
                                         {"encrypted byte 7", 86, {7}, 9221}}) {
    SCOPED_TRACE(c.what);
    WriteBytes(Dat(), dat);
    PatchDat(c.pos, c.bytes);
    const auto damaged = ReadBytes(Dat());
    EXPECT_EQ(CodeOf([&] { Repair(); }), c.code);
    EXPECT_EQ(ReadBytes(Dat()), damaged);
  }
  WriteBytes(Dat(), std::vector<std::uint8_t>(dat.begin(), dat.begin() + 100));
  EXPECT_EQ(CodeOf([&] { Repair(); }), 9221);
}

TEST_F(RepairTest, EmptyTableFiresNoProgress) {
  DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger)});
  Create(Path("e.dat"), def);
  TDataFile t;
  t.SetFileName(Path("e.dat"));
  t.SetExclusive(true);
  int events = 0;
  t.SetOnRepairProgress([&](TDataFile&, int, std::uint16_t) { ++events; });
  t.SetOnRepairLog([&](TDataFile&, std::string_view) { ++events; });
  t.RepairDataTable();
  EXPECT_EQ(events, 0);
  EXPECT_EQ(RunTool("datcheck.py", Path("e.dat")).status, 0);
  EXPECT_EQ(RunTool("idxcheck.py", Path("e.IDX")).status, 0);
  // An in-memory table is left as it is.
  TDataFile m;
  m.SetInMemory(true);
  m.SetFileName("nowhere.dat");
  m.RepairDataTable();
}

}  // namespace
}  // namespace storage::rectest

namespace storage::rectest {
namespace {

// Only a record's own bytes may cost it: a failure of the engine in the
// middle of the record pass (here an index page error) ends the repair with
// that error, and the table is as it was, temporary files and all.
TEST_F(RepairTest, AnEngineFailureInThePassChangesNothing) {
  Build();
  PatchDat(RecordPos(2) + 13, {0x7F});  // something to mend
  std::map<std::string, std::vector<std::uint8_t>> before;
  for (const auto& e : std::filesystem::directory_iterator(Path("")))
    before[e.path().filename().string()] = ReadBytes(e.path().string());
  SetTableStepHook([](std::string_view point) {
    if (point == "repair record") EngineError(ErrorCode::kCorruptIndex, "t.dat");
  });
  const int code = CodeOf([&] { Repair(); });
  SetTableStepHook(nullptr);
  EXPECT_EQ(code, 8965);
  std::map<std::string, std::vector<std::uint8_t>> after;
  for (const auto& e : std::filesystem::directory_iterator(Path("")))
    after[e.path().filename().string()] = ReadBytes(e.path().string());
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace storage::rectest
